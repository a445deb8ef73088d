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
  procps
  clang libclang-rt-14-dev # libFuzzer for the short fuzz runs
)
# Node.js may come from elsewhere than Debian (with its own npm): ask for the commands.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # tshark asks whether ordinary users may capture; the answer does not matter here.
  echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# npm packages used by the tests (OPC UA client), pinned in tests/npm/package.json.
if [ -f "$here/tests/npm/package.json" ] && [ ! -d "$here/tests/npm/node_modules" ]; then
  echo "setup: installing npm packages for the tests"
  (cd "$here/tests/npm" && npm install --no-audit --no-fund --silent)
fi

for preset in "$@"; do
  if [ "$preset" = aarch64 ]; then bash "$here/scripts/setup-aarch64.sh"; fi
done
