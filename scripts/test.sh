#!/usr/bin/env bash
# Sets up, builds and runs every test: the default build, then AddressSanitizer
# and ThreadSanitizer builds of the same tests.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

bash scripts/setup.sh

presets=(default asan tsan)
[ $# -gt 0 ] && presets=("$@")

for preset in "${presets[@]}"; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" 2>&1 | grep -E 'error|warning|FAILED' || true
  cmake --build --preset "$preset" >/dev/null
  echo "== $preset: test"
  ctest --preset "$preset"
done
