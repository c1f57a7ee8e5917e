#!/usr/bin/env bash
# Sourced by the benchmarks that write many files.

# Makes a temporary folder in memory when /dev/shm has KIB free, else under
# TMPDIR, and prints its path: on a disk, creating files soon after
# thousands were deleted (by an earlier run, say) can take longer than
# downloading them, as ext4 without a journal passes over inodes freed in the
# last half minute, so the figures would be the file system's.
memoryWorkDir() {  # KIB
    local tmp=${TMPDIR:-/tmp}
    if [ -d /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR == 2 { print $4 }')" -gt "$1" ]; then
        tmp=/dev/shm
    fi
    mktemp -d -p "$tmp"
}
