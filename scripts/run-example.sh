#!/usr/bin/env bash
# Builds the gateway and runs it on the bundled example: the station
# simulator kpsim with the stations of examples/iec104.cfg, and fieldgate on
# a copy of examples/ in a temporary FIELDGATE_HOME. Ctrl-C stops both.
#
# fieldgate detaches and watches itself, so it is stopped by the ids of the
# processes that run its copy in that directory, and by nothing broader. The
# copy has a name of its own, so its watcher counts only its own instances,
# and FIELDGATE_TEST_NO_REBOOT=1 keeps the watcher from rebooting this
# machine should it ever count too many.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target fieldgate kpsim tagserve >/dev/null

# shellcheck source=run-kpsim-example.sh
source scripts/run-kpsim-example.sh

home=$(mktemp -d "${TMPDIR:-/tmp}/fieldgate-example.XXXXXX")
name="fgex$$"
program="$home/$name"
cp -r examples/. "$home/"
cp build/default/fieldgate "$program"
# The OPC UA library the service loads from its own directory.
cp build/default/libtagserve.so "$home/"

fieldgate_pids() {
    local pid
    for pid in $(pgrep -x "$name" || true); do
        [ "$(readlink "/proc/$pid/exe" 2>/dev/null || true)" = "$program" ] && echo "$pid"
    done
    return 0
}

stop_all() {
    trap - EXIT INT TERM
    local round pids
    # A few rounds: a watcher may be launching its successor just now.
    for round in 1 2 3 4 5 6 7 8 9 10; do
        pids=$(fieldgate_pids)
        [ -z "$pids" ] && break
        # shellcheck disable=SC2086
        kill $pids 2>/dev/null || true
        sleep 0.3
    done
    stop_kpsim_example
    echo "stopped; logs and files stay in $home"
}
trap stop_all EXIT
trap 'exit 0' INT TERM

start_kpsim_example "$here/build/default/kpsim" "$home/kpsim.log"
FIELDGATE_HOME="$home" FIELDGATE_TEST_NO_REBOOT=1 "$program"

port=$(sed -n 's/^Port_WebServ=\([0-9]*\).*/\1/p' "$home/cnf.ini" | tr -d '\r')
echo "fieldgate runs in $home (kpsim output in kpsim.log)"
echo "web page: http://localhost:${port:-80}/"
echo "OPC UA: opc.tcp://localhost:16670"
echo "Ctrl-C stops fieldgate and kpsim"
while true; do
    sleep 1
done
