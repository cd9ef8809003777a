#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs each for SECONDS (default 60) from a copy
# of the seed corpus in fuzz/corpus. Any crash, sanitizer report, leak, time-out
# or failed check ends the run with a non-zero status. A fuzzer keeps one core
# busy: the targets run side by side, as many at a time as there are cores, each
# into its own log, printed when it ends.
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

fuzz() {
  local target=$1
  # The fuzzer adds what it finds to its corpus: work on a copy.
  local work="$build/corpus-$target"
  rm -rf "$work"
  mkdir -p "$work"
  cp "$root"/fuzz/corpus/* "$work"/
  "$build/fuzz/$target" "$work" \
    -artifact_prefix="$build/$target-" -dict="$root/fuzz/xml.dict" \
    -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=4096 \
    -print_final_stats=1
}

cores=$(nproc)
failed=()
running=()
# A stopped run leaves no fuzzer behind.
stop_fuzzers() {
  local r
  for r in "${running[@]}"; do kill "${r#*:}" 2>/dev/null || true; done
}
trap stop_fuzzers EXIT
# Waits for the oldest running fuzzer and prints its log.
finish_oldest() {
  local target=${running[0]%%:*} pid=${running[0]#*:}
  running=("${running[@]:1}")
  if wait "$pid"; then
    cat "$build/$target.log"
    echo "$target: ran ${seconds}s without a failure"
  else
    cat "$build/$target.log"
    echo "$target: FAILED (artifacts: $build/$target-*)"
    failed+=("$target")
  fi
}
for target in "${targets[@]}"; do
  ((${#running[@]} < cores)) || finish_oldest
  fuzz "$target" >"$build/$target.log" 2>&1 &
  running+=("$target:$!")
done
while ((${#running[@]})); do finish_oldest; done
((${#failed[@]} == 0)) || { echo "fuzzing failed: ${failed[*]}"; exit 1; }
