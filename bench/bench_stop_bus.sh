#!/bin/sh
# bench/bench_stop_bus.sh BIN_DIR [ROUNDS]
# How long BIN_DIR/vennard takes to stop on SIGTERM once it serves, with
# the system bus address pointed at a socket that takes connections and
# never answers, and for comparison at a socket that is not there.  Each
# of ROUNDS rounds (default 3) starts the server on a fresh data folder,
# waits for the management port to say it is active, then times the
# SIGTERM to the exit, and prints the time, the exit status and whether
# data.xml was there after it.  Runs in a network namespace of its own
# (unshare -n as root, else in a user namespace), with only loopback.
set -eu
[ $# -ge 1 ] || { echo "usage: $0 BIN_DIR [ROUNDS]" >&2; exit 2; }
if [ "${BENCH_STOP_INSIDE:-}" != 1 ]; then
  flags=-n
  [ "$(id -u)" -eq 0 ] || flags="-r -n"
  BENCH_STOP_INSIDE=1 exec unshare $flags "$0" "$@"
fi
ip link set lo up
bin=$(cd "$1" && pwd)
rounds=${2:-3}
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/bench-stop-bus-XXXXXX)
pid= bus=
trap '[ -n "$pid" ] && kill -KILL $pid 2>/dev/null; [ -n "$bus" ] && kill $bus 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

# The silent bus: every connection taken and held, nothing ever sent.
python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1])
s.listen(64)
held = []
while True:
    held.append(s.accept()[0])
' "$work/bus" &
bus=$!
while [ ! -S "$work/bus" ]; do sleep 0.05; done

ms() { echo $(($(date +%s%N) / 1000000)); }

# stop_once ADDRESS: one start and stop; prints "<ms> <status> <saved>".
stop_once() {
  rm -rf "$work/data" "$work/service"
  "$top/scripts/layout-data" "$work/data" 31380 31381 31382 >/dev/null
  mkdir -p "$work/service"
  echo "Tarvo Media Server" >"$work/service/service_name"
  echo "$work/data" >"$work/service/data_home"
  : >"$work/data/conf/auto_run"
  DBUS_SYSTEM_BUS_ADDRESS=$1 TARVO_SERVICE_DIR=$work/service "$bin/vennard" >"$work/log" 2>&1 &
  pid=$!
  until curl -s -i --max-time 5 http://127.0.0.1:31382/get_server_state 2>/dev/null |
    grep -q 'X-DUV-STATE: active'; do
    sleep 0.1
  done
  t0=$(ms)
  kill -TERM $pid
  status=0
  wait $pid || status=$?
  t1=$(ms)
  pid=
  saved=no
  [ -s "$work/data/conf/data.xml" ] && saved=yes
  echo "$((t1 - t0)) $status $saved"
}

for what in silent missing; do
  address=unix:path=$work/bus
  [ $what = missing ] && address=unix:path=$work/no-bus
  r=0
  while [ $r -lt "$rounds" ]; do
    set -- $(stop_once "$address")
    echo "stop on a $what bus: $1 ms (exit status $2, data.xml saved: $3)"
    r=$((r + 1))
  done
done
