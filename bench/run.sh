#!/usr/bin/env bash
# Benchmarks the whole run on generated documents, side by side with what the
# file system costs and with two tools a user would otherwise reach for, and
# prints one table.
#
#   bench/run.sh [RUNS]        (RUNS: timed runs per tool and document, default 3)
#
# Documents are generated once into bench/data/ and reused. quiltview writes its
# drawing to /dev/null and its page to a new file in bench/data/scratch (on the
# file system of the checkout, not a memory file system); "dd" writes as many
# zero bytes as the page has to a new file there, which is what taking the page
# into the file system costs at the least. The peers are "xmllint --noout" (a
# full DOM parse) and "xmlstarlet el" (a streaming element lister), installed
# with apt-get when absent; a peer that exits with an error is shown as
# rejecting the document, one killed by a signal as failing. Before every timed
# run the written files are removed and the dirty pages synced, so that no run
# pays for the write-back of another. Wall time is the median of RUNS runs;
# memory is the largest peak resident set seen. The 100 MB catalog is run once
# more on one CPU (taskset), where the page is written by one thread, and then
# twice more, each run after "sync; sleep 1": writing its page into a new file,
# and replacing the page an untimed run wrote just before (what rerunning costs).
#
#   bench/run.sh RUNS replace   only the last comparison
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
only=${2:-}
build=$root/build-bench
data=$root/bench/data
scratch=$data/scratch
mkdir -p "$data" "$scratch"
trap 'rm -rf "$scratch"' EXIT

missing=()
if [ "$only" != replace ]; then
  command -v xmllint >/dev/null || missing+=(libxml2-utils)
  command -v xmlstarlet >/dev/null || missing+=(xmlstarlet)
fi
[ -x /usr/bin/time ] || missing+=(time)
if ((${#missing[@]})); then
  apt-get update >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILTVIEW_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target quiltview quiltview_gen quiltview_nodes >/dev/null
qv=$build/quiltview

docs=(catalog-10MB catalog-100MB catalog-300MB wide-1M deep-10k soup-10MB)
[ "$only" = replace ] && docs=(catalog-100MB)
declare -A recipe=(
  [catalog-10MB]="catalog 10000000 1"
  [catalog-100MB]="catalog 100000000 1"
  [catalog-300MB]="catalog 300000000 1"
  [wide-1M]="wide 8000000 1"
  [deep-10k]="deep 70000 1"
  [soup-10MB]="soup 10000000 7"
)
for d in "${docs[@]}"; do
  [ -s "$data/$d.xml" ] || "$build/bench/quiltview_gen" ${recipe[$d]} >"$data/$d.xml"
done

# Runs a command RUNS times with the given stack limit (KB) and CPU list;
# prints "median-seconds peak-KB outcome", outcome being ok, rejects or fails.
measure() {
  local stack=$1 cpus=$2
  shift 2
  local times=() peak=0 outcome=ok status
  for ((i = 0; i < runs; i++)); do
    rm -f "$scratch"/*
    sync
    status=0
    (ulimit -s "$stack"; taskset -c "$cpus" /usr/bin/time -f '%e %M %x' -o "$scratch/time" "$@" \
      >/dev/null 2>"$scratch/err") || status=$?
    # time(1) writes a line of its own first when the command fails.
    read -r t m x < <(tail -n 1 "$scratch/time")
    times+=("$t")
    ((m > peak)) && peak=$m
    if ((status != 0)); then
      grep -q "Command terminated by signal" "$scratch/time" && outcome=fails || outcome=rejects
    fi
  done
  printf '%s %s %s\n' "$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')" \
    "$peak" "$outcome"
}

all=$(seq -s, 0 $(($(nproc) - 1)))
[ "$only" = replace ] || printf '%-20s %7s %9s %8s %8s | %7s %7s %7s | %6s %6s | %7s %6s | %7s %6s\n' \
  document "in MB" nodes "draw MB" "page MB" "qv s" "qv MB" "MB/s" "dd s" "qv/dd" \
  "lint s" "qv/lint" "el s" "qv/el"
row() {
  local d=$1 cpus=$2 label=$3
  local f=$data/$d.xml
  local bytes nodes drawn page stack=8192
  [ "$d" = deep-10k ] && stack=256
  bytes=$(stat -c %s "$f")
  nodes=$("$build/bench/quiltview_nodes" "$f")
  rm -f "$scratch"/*
  drawn=$( (ulimit -s "$stack"; "$qv" -o "$scratch/page.html" "$f") | wc -c)
  page=$(stat -c %s "$scratch/page.html")
  read -r qt qm qo < <(measure "$stack" "$cpus" "$qv" -o "$scratch/page.html" "$f")
  read -r dt _ _ < <(measure 8192 "$cpus" dd if=/dev/zero of="$scratch/dd.bin" bs=1M \
    count="$page" iflag=count_bytes)
  read -r lt lm lo < <(measure 8192 "$cpus" xmllint --noout --huge "$f")
  read -r et em eo < <(measure 8192 "$cpus" xmlstarlet el "$f")
  [ "$qo" = ok ] || { echo "quiltview $qo on $d" >&2; exit 1; }
  awk -v d="$label" -v b="$bytes" -v n="$nodes" -v dr="$drawn" -v p="$page" -v qt="$qt" \
    -v qm="$qm" -v dt="$dt" -v lt="$lt" -v lo="$lo" -v et="$et" -v eo="$eo" '
    function peer(t, o) { return o == "ok" ? sprintf("%7.2f %6.2f", t, qt / t) : sprintf("%14s", o) }
    BEGIN {
      printf "%-20s %7.1f %9d %8.1f %8.1f | %7.2f %7.0f %7.0f | %6.2f %6.2f | %s | %s\n",
        d, b / 1e6, n, dr / 1e6, p / 1e6, qt, qm / 1024, b / 1e6 / qt, dt, qt / dt,
        peer(lt, lo), peer(et, eo)
    }'
}
# Times quiltview writing the page of $2 RUNS times, each after sync and a second's
# rest, into a new file (fresh) or over the page a run just wrote (replace);
# prints "median-seconds peak-KB".
page_runs() {
  local how=$1 f=$2 times=() peak=0
  for ((i = 0; i < runs; i++)); do
    rm -f "$scratch"/*
    [ "$how" = replace ] && "$qv" -o "$scratch/page.html" "$f" >/dev/null
    sync
    sleep 1
    /usr/bin/time -f '%e %M' -o "$scratch/time" "$qv" -o "$scratch/page.html" "$f" >/dev/null
    read -r t m <"$scratch/time"
    times+=("$t")
    ((m > peak)) && peak=$m
  done
  printf '%s %s\n' "$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')" \
    "$peak"
}
replace_row() {
  local f=$data/catalog-100MB.xml
  read -r ft fm < <(page_runs fresh "$f")
  read -r rt rm_ < <(page_runs replace "$f")
  awk -v ft="$ft" -v fm="$fm" -v rt="$rt" -v rm="$rm_" 'BEGIN {
    printf "catalog-100MB after sync; sleep 1: new file %.2f s (%.0f MB), replacing %.2f s (%.0f MB), %.2fx\n",
      ft, fm / 1024, rt, rm / 1024, rt / ft }'
}
if [ "$only" = replace ]; then
  replace_row
  exit 0
fi
for d in "${docs[@]}"; do row "$d" "$all" "$d"; done
row catalog-100MB 0 "catalog-100MB, 1 CPU"
replace_row
echo "(medians of $runs runs; deep-10k runs quiltview with the stack limited to 256 KB)"
