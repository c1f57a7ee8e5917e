#!/usr/bin/env bash
# A local nginx for the demo and the benchmarks: a configuration of its own
# in a folder of its own, serving one folder of files with keep-alive and
# without logging requests. Sourced by the scripts that start one.

# Writes DIR/nginx.conf for a server on LISTEN (address:port) serving ROOT.
writeNginxConfig() {  # DIR LISTEN ROOT
    mkdir -p "$1"
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
        listen $2;
        root $3;
    }
}
EOF_CONF
}
