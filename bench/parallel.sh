#!/usr/bin/env bash
# Times the move job with one connection and with its default against
# aria2c with as many connections as the job can use (its default, or four
# to each host where the hosts are fewer; aria2c limits connections per
# download, not per host) on the same links, from a delaying loopback server
# that adds D ms to every new connection and every response: 2,000 images
# of 20 KB spread over 2 and over 20 hosts (loopback ports), for D = 10 and
# 50. One connection moves the images one after another, so its time grows
# with the count alone: it is timed on the first ONE_AT_A_TIME_IMAGES links
# and scaled to the whole list, which keeps the run to about two minutes.
# Last, at 50 ms over 20 hosts, where there is room for more connections
# than 8, the default against 8 connections and against aria2c with the
# default's count (-x4) in the same run. Then one host at 50 ms, with and
# without a 429 to the first request: a host that asked to wait once is
# to be back at its pace soon after.
#   bench/parallel.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
bench=$build/bench/fetch_bench
server=$build/bench/delay_server
. "$root/scripts/deps.sh"
. "$root/bench/memory_dir.sh"
. "$root/scripts/nginx.sh"  # stopProcess
lumora_install "${LUMORA_BENCH_PACKAGES[@]}"

IMAGES=2000
ONE_AT_A_TIME_IMAGES=${ONE_AT_A_TIME_IMAGES:-400}
RUN_LIMIT_SECONDS=150  # one tool's pass over the list
MEMORY_KIB=524288
DEFAULT=$(sed -n 's/.*MOVE_CONNECTIONS = \([0-9]*\).*/\1/p' "$root/move/move_job.h")  # the job's default
PER_HOST=$(sed -n 's/.*CONNECTIONS_PER_HOST = \([0-9]*\).*/\1/p' "$root/fetch/host_slots.h")
FEWER=8  # the default before hosts could ask for less

work=$(memoryWorkDir "$MEMORY_KIB")  # the fetchers' figures, not the file system's
serverPid=
cleanup() {
    [ -z "$serverPid" ] || stopProcess "$serverPid"
    rm -rf "$work"
}
trap cleanup EXIT

seconds() {  # COMMAND...: runs it, prints the wall time in seconds
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    echo "$t1 - $t0" | bc
}

lumoraSeconds() {  # LIST CONNECTIONS: prints the job's own time
    local dir figures
    dir=$(mktemp -d -p "$work")
    figures=$(timeout "$RUN_LIMIT_SECONDS" "$bench" move "$1" "$dir" "$2" || true)
    rm -rf "$dir"
    read -r _ _ _ done _ secs <<<"$figures"
    [ "${done:-0}" -eq "$(wc -l <"$1")" ] || echo "lumora moved ${done:-0} of $(wc -l <"$1")" >&2
    echo "${secs:-nan}"
}

aria2Seconds() {  # LIST CONNECTIONS
    local dir secs
    dir=$(mktemp -d -p "$work")
    secs=$(seconds timeout "$RUN_LIMIT_SECONDS" aria2c -j"$2" -x"$PER_HOST" -i "$1" -d "$dir" --quiet=true \
        --file-allocation=none --auto-file-renaming=false --allow-overwrite=true)
    [ "$(find "$dir" -name '*.jpg' | wc -l)" -eq "$(wc -l <"$1")" ] || echo "aria2c missed some images" >&2
    rm -rf "$dir"
    echo "$secs"
}

startHosts() {  # DELAY HOSTS [TOO_MANY]: the server, and IMAGES links over its hosts in $work/links
    "$server" "$1" "$2" "$work/ports" ${3:+"$3"} &
    serverPid=$!
    for _ in $(seq 50); do [ -f "$work/ports" ] && [ "$(wc -l <"$work/ports")" -eq "$2" ] && break; sleep 0.1; done
    mapfile -t ports <"$work/ports"
    for ((i = 1; i <= IMAGES; i++)); do
        echo "http://127.0.0.1:${ports[i % $2]}/img$i.jpg"
    done >"$work/links"
}

stopHosts() {
    stopProcess "$serverPid"
    serverPid=
    rm -f "$work/ports"
}

printf '%-22s %12s %12s %12s %10s %10s\n' "delay, hosts" "lumora N=1" "default" "aria2c" "N=1/dflt" "dflt/aria"
for delay in 10 50; do
    for hosts in 2 20; do
        startHosts "$delay" "$hosts"
        head -n "$ONE_AT_A_TIME_IMAGES" "$work/links" >"$work/first-links"
        one=$(lumoraSeconds "$work/first-links" 1)
        one=$(echo "$one * $IMAGES / $ONE_AT_A_TIME_IMAGES" | bc -l)
        default=$(lumoraSeconds "$work/links" 0)
        aria=$(aria2Seconds "$work/links" $((hosts * PER_HOST < DEFAULT ? hosts * PER_HOST : DEFAULT)))
        awk -v d="$delay" -v h="$hosts" -v one="$one" -v dflt="$default" -v aria="$aria" 'BEGIN {
            printf "%-22s %10.2f s %10.2f s %10.2f s %10.2f %10.2f\n", d " ms, " h " hosts", one, dflt, aria, one / dflt, dflt / aria
        }'
        stopHosts
    done
done
echo "default N=$DEFAULT, aria2c -x$PER_HOST and -j as many as the job can use; N=1 timed on the first $ONE_AT_A_TIME_IMAGES of $IMAGES links and scaled;"
echo "targets: N=1/dflt at least 4 at 50 ms, dflt/aria at most 1.2"

echo
printf '%-22s %12s %12s %12s %10s %10s\n' "delay, hosts" "N=$FEWER" "default" "aria2c" "N=$FEWER/dflt" "dflt/aria"
startHosts 50 20
fewer=$(lumoraSeconds "$work/links" "$FEWER")
default=$(lumoraSeconds "$work/links" 0)
aria=$(aria2Seconds "$work/links" "$DEFAULT")
awk -v fewer="$fewer" -v dflt="$default" -v aria="$aria" 'BEGIN {
    printf "%-22s %10.2f s %10.2f s %10.2f s %10.2f %10.2f\n", "50 ms, 20 hosts", fewer, dflt, aria, fewer / dflt, dflt / aria
}'
stopHosts
echo "targets: N=$FEWER/dflt at least 1.8, dflt/aria at most 1.2"

echo
printf '%-22s %12s %12s %10s\n' "delay, hosts" "default" "one 429" "429/plain"
startHosts 50 1
plain=$(lumoraSeconds "$work/links" 0)
stopHosts
startHosts 50 1 1
limited=$(lumoraSeconds "$work/links" 0)
stopHosts
awk -v plain="$plain" -v limited="$limited" 'BEGIN {
    printf "%-22s %10.2f s %10.2f s %10.2f\n", "50 ms, 1 host", plain, limited, limited / plain
}'
echo "target: 429/plain at most 1.2"
