#!/usr/bin/env bash
# Runs the station simulator kpsim with the stations of examples/iec104.cfg
# (examples/kpsim.conf): two stations the gateway connects to (127.0.0.1
# ports 24041 and 24042) and one passive station that connects to the
# gateway's port 24043.
#
#   bash scripts/run-kpsim-example.sh          build kpsim and run it here;
#                                              control lines on standard input
#                                              (see kpsim --help), Ctrl-C ends it
#   source scripts/run-kpsim-example.sh        only define the functions:
#   start_kpsim_example [KPSIM] [LOG]          start it in the background, sets
#                                              KPSIM_EXAMPLE_PID; output to LOG
#   stop_kpsim_example                         stop what start_kpsim_example started

kpsim_example_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

start_kpsim_example() {
    local program=${1:-$kpsim_example_root/build/default/kpsim}
    local log=${2:-/dev/null}
    # Without --exit-on-eof kpsim runs on after its input ends, until it is
    # stopped by its process id.
    "$program" --config "$kpsim_example_root/examples/kpsim.conf" < /dev/null > "$log" 2>&1 &
    KPSIM_EXAMPLE_PID=$!
}

stop_kpsim_example() {
    if [ -n "${KPSIM_EXAMPLE_PID:-}" ]; then
        kill "$KPSIM_EXAMPLE_PID" 2>/dev/null || true
        wait "$KPSIM_EXAMPLE_PID" 2>/dev/null || true
        KPSIM_EXAMPLE_PID=
    fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    cd "$kpsim_example_root"
    bash scripts/setup.sh
    cmake --preset default >/dev/null
    cmake --build --preset default --target kpsim >/dev/null
    exec build/default/kpsim --config examples/kpsim.conf
fi
