#!/bin/sh
# bench/bench_mounts.sh BIN_DIR [FILES] [ROUNDS]
# What mounts beside a share cost the server: BIN_DIR/vennard shares a
# folder of FILES small WAV files (default 5000, in folders of 100), and
# once its first scan is over a tmpfs is mounted on a folder beside the
# share and unmounted again ROUNDS times (default 10).  Prints the
# server's CPU ticks (utime + stime from /proc/PID/stat) over the rounds,
# then, in a second set of rounds under strace, its stat calls.  Runs in a
# mount namespace of its own (unshare -m as root, else in a user
# namespace), so nothing is mounted on the machine.
set -eu
[ $# -ge 1 ] || { echo "usage: $0 BIN_DIR [FILES] [ROUNDS]" >&2; exit 2; }
if [ "${BENCH_MOUNTS_INSIDE:-}" != 1 ]; then
  flags=-m
  [ "$(id -u)" -eq 0 ] || flags="-r -m"
  BENCH_MOUNTS_INSIDE=1 exec unshare $flags --propagation private "$0" "$@"
fi
bin=$(cd "$1" && pwd)
files=${2:-5000}
rounds=${3:-10}
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/bench-mounts-XXXXXX)
pid=
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

share=$work/media
mkdir -p "$share" "$work/beside" "$work/service"
ffmpeg -nostdin -loglevel error -f lavfi -i "sine=duration=0.1" "$work/one.wav"
i=0
while [ $i -lt "$files" ]; do
  d=$share/$(printf %04d $((i / 100)))
  mkdir -p "$d"
  cp "$work/one.wav" "$d/t$i.wav"
  i=$((i + 1))
done
"$top/scripts/layout-data" "$work/data" 31390 31391 31392
echo "Tarvo Media Server" >"$work/service/service_name"
echo "$work/data" >"$work/service/data_home"
: >"$work/data/conf/auto_run"
TARVO_SERVICE_DIR=$work/service "$bin/vennard" >"$work/log" 2>&1 &
pid=$!
echo "$share" >"$work/data/conf/sync/share/list"

ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
# Settled: no CPU tick in two seconds (the first scan and its save done).
settle() {
  last=-1
  while [ "$(ticks)" != "$last" ]; do
    last=$(ticks)
    sleep 2
  done
}
mounts() {
  r=0
  while [ $r -lt "$rounds" ]; do
    mount -t tmpfs bench "$work/beside"
    sleep 0.2
    umount "$work/beside"
    sleep 0.2
    r=$((r + 1))
  done
}

settle
before=$(ticks)
mounts
settle
echo "cpu ticks over $rounds mounts and unmounts beside $files files: $(($(ticks) - before))"

# (A syscall filter given to strace here loses calls of some threads.)
strace -f -c -p $pid -o "$work/strace" 2>/dev/null &
tracer=$!
sleep 1
mounts
settle
kill -TERM $tracer
wait $tracer 2>/dev/null || true

calls=$(awk '$NF ~ /^(stat|lstat|fstat|newfstatat|statx)$/ {n += ($(NF-1) ~ /^[0-9]+$/ && NF == 6) ? $(NF-2) : $(NF-1)} END {print n + 0}' "$work/strace")
echo "stat calls over $rounds mounts and unmounts beside $files files: ${calls:-0}"
