#!/usr/bin/env bash
# Builds the gateway and runs it on the bundled example with the station simulator.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
if [ ! -x build/default/fieldgate ]; then
  echo "fieldgate is not built yet: the service program is still to come."
  exit 0
fi
