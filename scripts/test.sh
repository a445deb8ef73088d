#!/usr/bin/env bash
# Sets up, builds and runs every test: the default build, then AddressSanitizer
# and ThreadSanitizer builds of the same tests, then the aarch64 cross build
# with its tests under qemu-user.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

presets=(default asan tsan aarch64)
[ $# -gt 0 ] && presets=("$@")

bash scripts/setup.sh "${presets[@]}"

for preset in "${presets[@]}"; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" 2>&1 | grep -E 'error|warning|FAILED' || true
  cmake --build --preset "$preset" >/dev/null
  echo "== $preset: test"
  ctest --preset "$preset"
done

# A short libFuzzer run of the OPC UA library's request decoders, when clang
# with libFuzzer is installed (it is optional: the presets above build with GCC).
if [ $# -eq 0 ] && command -v clang++ >/dev/null &&
   echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
     clang++ -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
  echo "== fuzz: tagserve request decoders"
  cmake -S . -B build/fuzz -DGATEWAY_FUZZ=ON -DGATEWAY_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build build/fuzz --target tagserve_chunk_fuzz -j8 >/dev/null
  # Seeded with the requests of the captured client exchanges (fuzz/corpus).
  corpus=$(mktemp -d)
  cp fuzz/corpus/* "$corpus"/
  build/fuzz/fuzz/tagserve_chunk_fuzz -runs=20000 -max_total_time=60 "$corpus" 2>&1 | tail -1
  rm -rf "$corpus"
fi
