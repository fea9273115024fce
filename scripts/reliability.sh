#!/usr/bin/env bash
# The reliability lanes: every test under AddressSanitizer and UndefinedBehaviorSanitizer, the logging,
# multi-session and compute-engine thread tests under ThreadSanitizer, and each fuzz target for a bounded time
# (CORVO_FUZZ_SECONDS).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
fuzz_seconds=${CORVO_FUZZ_SECONDS:-30}

cmake --preset asan
cmake --build --preset asan
ctest --preset asan -j2

cmake --preset tsan
cmake --build --preset tsan --target unit_tests thread_tests kernel_tests
ctest --preset tsan

cmake --preset fuzz
cmake --build --preset fuzz --target extract_rects_fuzz log_sink_fuzz
ctest --preset fuzz
mkdir -p build/fuzz/artifacts
for target in extract_rects log_sink; do
  # New inputs go to a scratch corpus outside the tree; a crashing input is left in build/fuzz/artifacts, to
  # be added to tests/fuzz/regressions/ with its fix.
  mkdir -p "build/fuzz/corpus/$target"
  "build/fuzz/tests/fuzz/${target}_fuzz" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
    -artifact_prefix="build/fuzz/artifacts/$target-" "build/fuzz/corpus/$target" \
    "tests/fuzz/corpus/$target" "tests/fuzz/regressions/$target"
done
