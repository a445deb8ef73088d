#!/usr/bin/env bash
# Runs the end-to-end tests of libtagserve.so with node-opcua-client.
#   run.sh <tagserve_host> <libtagserve.so>
# Exits 77 (skipped) when node or the npm packages are not installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
command -v node >/dev/null || { echo "node is not installed: skipped"; exit 77; }
[ -d "$here/node_modules/node-opcua-client" ] || { echo "npm packages missing (scripts/setup.sh): skipped"; exit 77; }
# The client keeps its certificate store under XDG_CONFIG_HOME: never in the real home.
XDG_CONFIG_HOME=$(mktemp -d)
export XDG_CONFIG_HOME
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
# A client the server displaced at its connection limit may keep a reconnect
# timer of node-opcua's: the run ends when the tests have, not when it fires.
# The runner gives a test no time limit of its own: one that hangs fails by
# name, after longer than the longest wait inside a test on a loaded machine.
TAGSERVE_HOST="$1" TAGSERVE_LIBRARY="$2" node --test --test-force-exit --test-concurrency=1 --test-timeout=90000 \
  "$here/e2e.test.js"
