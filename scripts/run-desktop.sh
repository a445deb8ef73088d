#!/usr/bin/env bash
# Builds opcstation and runs it on a copy of examples/ with the station
# simulator kpsim (the stations of examples/iec104.cfg), in a temporary
# program folder (--dir). Closing the window stops both. Extra arguments go
# to opcstation (for instance --configurator). Without a display it runs on
# Qt's offscreen platform; QT_QPA_PLATFORM chooses another.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target opcstation kpsim tagserve >/dev/null

# shellcheck source=run-kpsim-example.sh
source scripts/run-kpsim-example.sh

dir=$(mktemp -d "${TMPDIR:-/tmp}/opcstation-example.XXXXXX")
cp -r examples/. "$dir/"
# The OPC UA library the service loads from the program folder.
cp build/default/libtagserve.so "$dir/"

stop_all() {
    trap - EXIT INT TERM
    stop_kpsim_example
    echo "stopped; logs and files stay in $dir"
}
trap stop_all EXIT
trap 'exit 0' INT TERM

if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    echo "no display: opcstation runs offscreen (Ctrl-C ends it)"
fi
start_kpsim_example "$here/build/default/kpsim" "$dir/kpsim.log"
echo "opcstation runs in $dir (kpsim output in kpsim.log)"
echo "OPC UA: opc.tcp://localhost:16670"
build/default/opcstation --dir "$dir" "$@"
