#!/usr/bin/env bash
# Times downloading 2,000 images of 20 KB one after another over keep-alive
# from a local nginx against wget fetching the same list in the same run,
# best of three each, and the whole move job over a package of the same
# links against that bare download loop, best of nine each. Over HTTPS (TLS
# 1.3, a throw-away certificate authority) it times the same images against
# curl given the same list and authority in one process, next to the
# plain-HTTP time. Where network namespaces and netem are available it
# also compares both once on 100 images with 10 ms of delay added between
# client and server.
#   bench/fetch.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
bench=$build/bench/fetch_bench
. "$root/scripts/deps.sh"
. "$root/bench/memory_dir.sh"
. "$root/scripts/nginx.sh"
lumora_install "${LUMORA_BENCH_PACKAGES[@]}"

IMAGES=2000
DELAYED_IMAGES=100
RUN_LIMIT_SECONDS=120  # one tool's pass over the list, delay included
MEMORY_KIB=1048576  # room for the images and every run's copy of them
SERVER_NS=lumora-bench-server-$$
CLIENT_NS=lumora-bench-client-$$

work=$(memoryWorkDir "$MEMORY_KIB")  # the fetchers' figures, not the file system's
servers=()
netns=()
cleanup() {
    for pid in "${servers[@]}"; do stopProcess "$pid"; done
    for ns in "${netns[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# An awk function that prints a figure's line and whether it meets its target,
# so that a missed target cannot pass unnoticed in the figures.
VERDICT='function verdict(met, line) { printf "%s  %s\n", line, met ? "met" : "<<< TARGET MISSED" }'

writeLinks() {  # FILE BASE_URL COUNT: the links of the first COUNT images
    seq -f "$2/img%g.jpg" 1 "$3" >"$1"
}

# Starts nginx serving the images on LISTEN (address:port), run through the
# PREFIX command when given, and waits until CHECK_URL answers from the
# client's side (the client command is in the array client).
startServer() {  # NAME LISTEN CHECK_URL [PREFIX...]
    local dir=$work/$1 listen=$2 url=$3
    shift 3
    writeNginxConfig "$dir" "$listen" "$work/images"
    startNginx "$dir" "$@"
    servers+=("$nginxPid")
    awaitNginx "$dir" "$url" "${client[@]}"
}

lumoraOnce() {  # LIST DIR [download|move]: prints seconds and images done
    mkdir "$2"
    local figures seconds count
    # the job with one connection, to compare like with like (bench/parallel.sh times several)
    figures=$("${client[@]}" timeout "$RUN_LIMIT_SECONDS" "$bench" "${3:-download}" "$1" "$2" ${3:+1} || true)
    read -r _ _ _ count _ seconds <<<"$figures"
    echo "${seconds:-nan} ${count:-0}"
}

curlOnce() {  # LIST DIR: prints seconds and images done (the list's https links)
    mkdir "$2"
    local t0 t1
    sed 's/.*/url = "&"/' "$1" >"$2.curlrc"
    t0=$(date +%s.%N)
    "${client[@]}" timeout "$RUN_LIMIT_SECONDS" curl -s --cacert "$work/tls/ca.pem" --tlsv1.3 --max-time 10 \
        --remote-name-all --output-dir "$2" -K "$2.curlrc" || true
    t1=$(date +%s.%N)
    echo "$(echo "$t1 - $t0" | bc) $(find "$2" -name '*.jpg' | wc -l)"
}

wgetOnce() {  # LIST DIR: prints seconds and images done
    mkdir "$2"
    local t0 t1
    t0=$(date +%s.%N)
    "${client[@]}" timeout "$RUN_LIMIT_SECONDS" wget --input-file="$1" -q --timeout=10 --tries=2 -P "$2" || true
    t1=$(date +%s.%N)
    echo "$(echo "$t1 - $t0" | bc) $(find "$2" -name '*.jpg' | wc -l)"
}

# Runs both tools ROUNDS times, alternating, and sets lumoraFigures and
# wgetFigures to "BEST_SECONDS FEWEST_DONE". Every run writes into a new
# folder, none removed before the end, for the reason given above.
compare() {  # LIST ROUNDS NAME
    local runs=() round
    for ((round = 0; round < $2; round++)); do
        runs+=("lumora $(lumoraOnce "$1" "$work/$3-lumora$round")" "wget $(wgetOnce "$1" "$work/$3-wget$round")")
    done
    lumoraFigures=$(printf '%s\n' "${runs[@]}" | awk '$1 == "lumora"' | bestOf)
    wgetFigures=$(printf '%s\n' "${runs[@]}" | awk '$1 == "wget"' | bestOf)
}

bestOf() {  # reads "TOOL SECONDS DONE" lines
    awk 'NR == 1 || $2 < best { best = $2 } NR == 1 || $3 < done { done = $3 } END { print best, done }'
}

# Two network namespaces joined by a veth pair, the server's side delaying
# what it sends by 10 ms; fails when the system cannot make them.
delayedNetwork() {
    ip netns add "$SERVER_NS" 2>/dev/null && netns+=("$SERVER_NS") &&
        ip netns add "$CLIENT_NS" 2>/dev/null && netns+=("$CLIENT_NS") &&
        ip link add lumora0 netns "$SERVER_NS" type veth peer name lumora0 netns "$CLIENT_NS" 2>/dev/null &&
        ip -n "$SERVER_NS" addr add 10.200.0.1/24 dev lumora0 &&
        ip -n "$CLIENT_NS" addr add 10.200.0.2/24 dev lumora0 &&
        ip -n "$SERVER_NS" link set lumora0 up &&
        ip -n "$CLIENT_NS" link set lumora0 up &&
        ip netns exec "$SERVER_NS" tc qdisc add dev lumora0 root netem delay 10ms 2>/dev/null
}

mkdir -p "$work/images"
"$bench" generate "$work/images" "$IMAGES"
port=$("$bench" port)
client=()
base=http://127.0.0.1:$port
startServer loopback "127.0.0.1:$port" "$base/img1.jpg"
writeLinks "$work/links" "$base" "$IMAGES"
compare "$work/links" 3 loopback

awk -v n="$IMAGES" -v lumora="$lumoraFigures" -v wget="$wgetFigures" "$VERDICT"'BEGIN {
    split(lumora, l, " "); split(wget, w, " ")
    printf "images           %d x 20 KB from nginx on 127.0.0.1, one keep-alive connection, best of 3\n", n
    printf "lumora           %.3f s  (%.0f us per image, %d of %d done)\n", l[1], l[1] * 1e6 / n, l[2], n
    printf "wget baseline    %.3f s  (%.0f us per image, %d of %d done; wget --input-file, same list)\n", w[1], w[1] * 1e6 / n, w[2], n
    verdict(l[1] / w[1] <= 1.0, sprintf("lumora / wget    %.2f  (target at most 1.0)", l[1] / w[1]))
}'

# The same images over HTTPS: a throw-away authority and a certificate for
# 127.0.0.1, trusted by Lumora through SSL_CERT_FILE and by curl through
# --cacert; nginx speaks TLS 1.3 only. Lumora over plain HTTP runs in the
# same rounds, so that the cost of TLS shows against a figure of the moment.
mkdir -p "$work/tls"
(
    cd "$work/tls"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Lumora Bench Authority" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=127.0.0.1" 2>/dev/null
    printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile server.ext \
        -out server.pem 2>/dev/null
    printf 'ca_certificate = %s\n' "$work/tls/ca.pem" >wgetrc
)
tlsPort=$("$bench" port)
tlsBase=https://127.0.0.1:$tlsPort
writeNginxConfig "$work/https" "127.0.0.1:$tlsPort" "$work/images" "$work/tls/server.pem" "$work/tls/server.key"
startNginx "$work/https"
servers+=("$nginxPid")
awaitNginx "$work/https" "$tlsBase/img1.jpg" env WGETRC="$work/tls/wgetrc"
writeLinks "$work/tls-links" "$tlsBase" "$IMAGES"
tlsRuns=()
for round in 1 2 3; do
    client=(env SSL_CERT_FILE="$work/tls/ca.pem")
    tlsRuns+=("lumora $(lumoraOnce "$work/tls-links" "$work/https-lumora$round")")
    tlsRuns+=("curl $(curlOnce "$work/tls-links" "$work/https-curl$round")")
    client=()
    tlsRuns+=("plain $(lumoraOnce "$work/links" "$work/https-plain$round")")
done
figures() { printf '%s\n' "${tlsRuns[@]}" | awk -v tool="$1" '$1 == tool' | bestOf; }
awk -v n="$IMAGES" -v lumora="$(figures lumora)" -v curl="$(figures curl)" -v plain="$(figures plain)" 'BEGIN {
    split(lumora, l, " "); split(curl, c, " "); split(plain, p, " ")
    printf "https            %d x 20 KB from nginx over TLS 1.3, one keep-alive connection, best of 3\n", n
    printf "lumora https     %.3f s  (%.0f us per image, %d of %d done)\n", l[1], l[1] * 1e6 / n, l[2], n
    printf "curl baseline    %.3f s  (%.0f us per image, %d of %d done; curl -K, same list and authority)\n", c[1], c[1] * 1e6 / n, c[2], n
    printf "lumora / curl    %.2f  (target at most 1.0)\n", l[1] / c[1]
    printf "lumora http      %.3f s  (plain HTTP in the same rounds; TLS adds %.0f %%)\n", p[1], (l[1] / p[1] - 1) * 100
}'

jobRuns=()
# the two differ by little and runs on a shared machine vary by much more, so
# each side's fastest of many runs stands for its cost
for round in 1 2 3 4 5 6 7 8 9; do
    jobRuns+=("loop $(lumoraOnce "$work/links" "$work/loop$round")" "job $(lumoraOnce "$work/links" "$work/job$round" move)")
done
loopFigures=$(printf '%s\n' "${jobRuns[@]}" | awk '$1 == "loop"' | bestOf)
jobFigures=$(printf '%s\n' "${jobRuns[@]}" | awk '$1 == "job"' | bestOf)
awk -v n="$IMAGES" -v loop="$loopFigures" -v job="$jobFigures" "$VERDICT"'BEGIN {
    split(loop, l, " "); split(job, j, " ")
    printf "move job         %.3f s  (%.0f us per image, %d of %d moved; backup, names, rewrite and write-back included)\n", j[1], j[1] * 1e6 / n, j[2], n
    printf "download loop    %.3f s  (%.0f us per image, the same links)\n", l[1], l[1] * 1e6 / n
    overhead = (j[1] / l[1] - 1) * 100
    verdict(overhead < 10, sprintf("job overhead     %.1f %%  (target under 10 %%)", overhead))
}'

if command -v tc >/dev/null && delayedNetwork; then
    client=(ip netns exec "$CLIENT_NS")
    base=http://10.200.0.1:$port
    startServer delayed "10.200.0.1:$port" "$base/img1.jpg" ip netns exec "$SERVER_NS"
    writeLinks "$work/delayed-links" "$base" "$DELAYED_IMAGES"
    compare "$work/delayed-links" 1 delayed
    awk -v n="$DELAYED_IMAGES" -v lumora="$lumoraFigures" -v wget="$wgetFigures" 'BEGIN {
        split(lumora, l, " "); split(wget, w, " ")
        printf "delay 10 ms      lumora %.1f ms, wget %.1f ms per image  (%d images, %d and %d done; ratio %.2f)\n",
               l[1] * 1e3 / n, w[1] * 1e3 / n, n, l[2], w[2], l[1] / w[1]
    }'
else
    echo "delay 10 ms      skipped (network namespaces or netem unavailable here)"
fi
