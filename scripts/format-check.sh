#!/usr/bin/env bash
# Counts, per file, the lines that clang-format 14 would change in the tracked C and C++ sources and fails when
# there are any; with --fix, formats them in place instead. The generated kernel bytecode is left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh clang-format-14
files=$(git ls-files '*.c' '*.cpp' '*.h' | grep -v '^diff/kernels/kernel_bytecode\.cpp$')
if [ "${1:-}" = --fix ]; then
  clang-format-14 -i $files
  exit 0
fi
total=0
for f in $files; do
  n=$(clang-format-14 "$f" | diff "$f" - | grep -c '^<' || true)
  if [ "$n" -gt 0 ]; then
    echo "$f: $n lines"
    total=$((total + n))
  fi
done
echo "clang-format would change $total lines"
[ "$total" -eq 0 ]
