#!/usr/bin/env bash
# A local nginx for the demo and the benchmarks: a configuration of its own
# in a folder of its own, serving one folder of files with keep-alive and
# without logging requests. Sourced by the scripts that start one.

# Writes DIR/nginx.conf for a server on LISTEN (address:port) serving ROOT;
# over TLS 1.3 with the certificate CERT and its key KEY when they are given.
writeNginxConfig() {  # DIR LISTEN ROOT [CERT KEY]
    mkdir -p "$1"
    local tls=
    [ $# -ge 5 ] && tls="ssl_certificate $4; ssl_certificate_key $5; ssl_protocols TLSv1.3;"
    cat >"$1/nginx.conf" <<EOF_CONF
daemon off;
user root;
worker_processes 1;
pid $1/nginx.pid;
error_log $1/error.log;
events { worker_connections 64; }
http {
    access_log off;
    default_type image/jpeg;
    sendfile on;
    keepalive_timeout 60s;
    keepalive_requests 10000;
    client_body_temp_path $1/body;
    proxy_temp_path $1/proxy;
    fastcgi_temp_path $1/fastcgi;
    uwsgi_temp_path $1/uwsgi;
    scgi_temp_path $1/scgi;
    server {
        listen $2${tls:+ ssl};
        root $3;
        $tls
    }
}
EOF_CONF
}

# Starts nginx with DIR's configuration in the background, through the
# PREFIX command when one is given (a network namespace, say); its process
# id is left in nginxPid.
startNginx() {  # DIR [PREFIX...]
    local dir=$1
    shift
    "$@" nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" &
    nginxPid=$!
}

# Waits up to five seconds for nginx to answer URL, asked through the CLIENT
# command when one is given; any HTTP answer will do. Shows the server's log
# when it does not answer.
awaitNginx() {  # DIR URL [CLIENT...]
    local dir=$1 url=$2 status
    shift 2
    for _ in $(seq 50); do
        status=0
        "$@" wget -q -O /dev/null --tries=1 --timeout=1 "$url" || status=$?
        [ "$status" -eq 0 ] || [ "$status" -eq 8 ] && return 0  # 8: the server answered with an error
        kill -0 "$nginxPid" 2>/dev/null || break
        sleep 0.1
    done
    echo "nginx did not answer $url; its log:" >&2
    cat "$dir/error.log" >&2 || true
    return 1
}

# Asks a process to end, waits up to five seconds, then kills it.
stopProcess() {  # PID
    kill "$1" 2>/dev/null || return 0
    for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
    kill -9 "$1" 2>/dev/null || true
}
