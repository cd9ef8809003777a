#!/usr/bin/env bash
# Benchmarks the whole run on generated documents, side by side with two tools a
# user would otherwise reach for, and prints one table.
#
#   bench/run.sh [RUNS]        (RUNS: timed runs per tool and document, default 3)
#
# Documents are generated once into bench/data/ and reused. quiltview writes its
# drawing to /dev/null and its page to a scratch file; the peers are
# "xmllint --noout" (a full DOM parse) and "xmlstarlet el" (element listing),
# installed with apt-get when absent. Wall time is the median of RUNS runs;
# memory is the largest peak resident set seen.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
build=$root/build-bench
data=$root/bench/data
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

missing=()
command -v xmllint >/dev/null || missing+=(libxml2-utils)
command -v xmlstarlet >/dev/null || missing+=(xmlstarlet)
[ -x /usr/bin/time ] || missing+=(time)
if ((${#missing[@]})); then
  apt-get update >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILTVIEW_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target quiltview quiltview_gen quiltview_nodes >/dev/null
qv=$build/quiltview

mkdir -p "$data"
docs=(catalog-10MB catalog-100MB wide-1M deep-10k soup-10MB)
declare -A recipe=(
  [catalog-10MB]="catalog 10000000 1"
  [catalog-100MB]="catalog 100000000 1"
  [wide-1M]="wide 8000000 1"
  [deep-10k]="deep 70000 1"
  [soup-10MB]="soup 10000000 7"
)
for d in "${docs[@]}"; do
  [ -s "$data/$d.xml" ] || "$build/bench/quiltview_gen" ${recipe[$d]} >"$data/$d.xml"
done

# Runs a command RUNS times; prints "median-seconds peak-KB".
measure() {
  local stack=$1
  shift
  local times=() peak=0
  for ((i = 0; i < runs; i++)); do
    (ulimit -s "$stack"; /usr/bin/time -f '%e %M' -o "$scratch/time" "$@" >/dev/null 2>"$scratch/err") || true
    # A failing peer makes time(1) write a line of its own first.
    read -r t m < <(tail -n 1 "$scratch/time")
    times+=("$t")
    ((m > peak)) && peak=$m
  done
  printf '%s %s\n' "$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')" "$peak"
}

mb() { awk -v b="$1" 'BEGIN {printf "%.1f", b / 1e6}'; }

printf '%-14s %8s %9s %9s %9s %8s %8s %8s | %8s %8s %8s | %8s %8s %8s\n' \
  document "in MB" nodes "draw MB" "page MB" "wall s" "MB/s" "peak MB" \
  "lint s" "lint MB" "qv/lint" "el s" "el MB" "qv/el"
for d in "${docs[@]}"; do
  f=$data/$d.xml
  bytes=$(stat -c %s "$f")
  stack=8192
  [ "$d" = deep-10k ] && stack=256
  nodes=$("$build/bench/quiltview_nodes" "$f")
  drawn=$( (ulimit -s "$stack"; "$qv" -o "$scratch/page.html" "$f") | wc -c)
  page=$(stat -c %s "$scratch/page.html")
  read -r qt qm < <(measure "$stack" "$qv" -o "$scratch/page.html" "$f")
  read -r lt lm < <(measure 8192 xmllint --noout --huge "$f")
  read -r et em < <(measure 8192 xmlstarlet el "$f")
  awk -v d="$d" -v b="$bytes" -v n="$nodes" -v dr="$drawn" -v p="$page" -v qt="$qt" -v qm="$qm" \
    -v lt="$lt" -v lm="$lm" -v et="$et" -v em="$em" 'BEGIN {
      printf "%-14s %8.1f %9d %9.1f %9.1f %8.2f %8.0f %8.0f | %8.2f %8.0f %8.2f | %8.2f %8.0f %8.2f\n",
        d, b / 1e6, n, dr / 1e6, p / 1e6, qt, (qt > 0 ? b / 1e6 / qt : 0), qm / 1024,
        lt, lm / 1024, (lt > 0 ? qt / lt : 0), et, em / 1024, (et > 0 ? qt / et : 0)
    }'
done
echo "(medians of $runs runs; deep-10k runs quiltview with the stack limited to 256 KB)"
