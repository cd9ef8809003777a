#!/usr/bin/env bash
# Each browser engine's limits on quiltview's pages: makes the pages of the
# catalog at 0.25, 1, 2.4, 10, 25 and 50 MB of input (or of the sizes given, in bytes)
# with a Release build and prints, per engine, the time until each page is
# shown, the time of one click on the root label and the peak memory of the
# browser's processes, and the largest page each engine shows within a minute
# (bench/browsers.mjs says how each is measured).
#
#   bench/browsers.sh [BYTES...]
#
# Needs what the browser tests need (sh tools/install-deps.sh test). Documents
# are generated once into bench/data/ and reused; their pages are made anew there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
data=$root/bench/data
mkdir -p "$data"
sizes=("$@")
((${#sizes[@]})) || sizes=(250000 1000000 2400000 10000000 25000000 50000000)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILTVIEW_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target quiltview quiltview_gen >/dev/null

pages=()
for bytes in "${sizes[@]}"; do
  name=catalog-$bytes
  [ -s "$data/$name.xml" ] || "$build/bench/quiltview_gen" catalog "$bytes" 1 >"$data/$name.xml"
  # From the data folder, so that the root label is the bare file name.
  (cd "$data" && "$build/quiltview" -o "$name.html" "$name.xml" >/dev/null)
  pages+=("$data/$name.html")
done
node "$root/bench/browsers.mjs" "${pages[@]}"
