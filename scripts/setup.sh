#!/usr/bin/env bash
# Installs every build and test dependency from Debian's packages and npm.
# Idempotent and quiet when everything is already there. Given preset names
# (as scripts/test.sh passes them), it also sets up the aarch64 cross build
# when that preset is among them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libpoco-dev
  qt6-base-dev # opcstation, the desktop program
  tshark
  curl
  tzdata # zones with summer time for the UTC conversion tests
  procps
  clang libclang-rt-14-dev # libFuzzer for the short fuzz runs
  clang-format # the test that every source is formatted
)
# Node.js may come from elsewhere than Debian (with its own npm): ask for the commands.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)

source "$here/scripts/debian-packages.sh"
install_missing "${packages[@]}"

# npm packages used by the tests (OPC UA client), pinned in tests/npm/package.json.
if [ -f "$here/tests/npm/package.json" ] && [ ! -d "$here/tests/npm/node_modules" ]; then
  echo "setup: installing npm packages for the tests"
  (cd "$here/tests/npm" && npm install --no-audit --no-fund --silent)
fi

for preset in "$@"; do
  if [ "$preset" = aarch64 ]; then bash "$here/scripts/setup-aarch64.sh"; fi
done
