#!/usr/bin/env bash
# Fails, naming the files, when a C or C++ source is not as .clang-format
# writes it. Usage: check-format.sh [CLANG_FORMAT]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
format=${1:-clang-format}
cd "$here"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')
else
  mapfile -t files < <(find . -path ./build -prune -o -path '*/node_modules' -prune -o \
    \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print)
fi
# One run over all of them; its complaints name file and line.
if ! out=$("$format" --dry-run -Werror "${files[@]}" 2>&1); then
  echo "not formatted (clang-format -i FILE):"
  printf '%s\n' "$out" | grep -o '^[^: ]*:[0-9]*:[0-9]*: error' | cut -d: -f1 | sort -u
  exit 1
fi
echo "${#files[@]} sources formatted"
