#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs each for SECONDS (default 60) from a copy
# of the seed corpus in fuzz/corpus. Any crash, sanitizer report, leak, time-out
# or failed check ends the run with a non-zero status.
#   fuzz/run.sh [SECONDS [TARGET...]]   targets: fuzz_reader fuzz_page (default: both)
#   build directory: $QUILTVIEW_FUZZ_BUILD or ./build-fuzz
set -euo pipefail
seconds="${1:-60}"
shift || true
targets=("$@")
((${#targets[@]})) || targets=(fuzz_reader fuzz_page)
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILTVIEW_FUZZ_BUILD:-$root/build-fuzz}"

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
  -DQUILTVIEW_FUZZ=ON -DQUILTVIEW_SANITIZE=ON -DQUILTVIEW_BENCH=OFF -DBUILD_TESTING=OFF
cmake --build "$build" --target "${targets[@]}" -j2

for target in "${targets[@]}"; do
  # The fuzzer adds what it finds to its corpus: work on a copy.
  work="$build/corpus-$target"
  rm -rf "$work"
  mkdir -p "$work"
  cp "$root"/fuzz/corpus/* "$work"/
  "$build/fuzz/$target" "$work" \
    -artifact_prefix="$build/$target-" -dict="$root/fuzz/xml.dict" \
    -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=4096 \
    -print_final_stats=1
  echo "$target: ran ${seconds}s without a failure"
done
