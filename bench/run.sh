#!/usr/bin/env bash
# Benchmarks the whole run on generated documents, side by side with what the
# file system costs and with two tools a user would otherwise reach for, and
# prints one table.
#
#   bench/run.sh [RUNS]        (RUNS: timed runs per tool and document, default 3)
#
# Documents are generated once into bench/data/ and reused. quiltview writes its
# drawing to /dev/null and its page to a new file in bench/data/scratch (on the
# checkout's file system); "dd" writes as many zero bytes there, what taking the
# page in costs at the least. The peers are "xmllint --noout" (a DOM parse) and
# "xmlstarlet el" (a streaming lister), installed with apt-get when absent; one
# that exits with an error is shown as rejecting the document, one killed by a
# signal as failing. Before every run the files written are removed and synced.
#
# The tools take turns, RUNS rounds of one run each. Time and CPU (user + system)
# are medians, memory the largest peak resident set, also over the input ("MB/in").
# quiltview's CPU is that of a run with its page to /dev/null (made in full all the
# same), so that the file system's own work is not counted; "qv/el" divides it by el's. The 100 MB catalog is run once more on one
# CPU, then twice more after "sync; sleep 1": into a new file, and over the page an
# untimed run wrote just before (what rerunning costs).
#
#   bench/run.sh RUNS replace   only the last comparison
#   bench/run.sh RUNS DOCUMENT  only that document's row (catalog-100MB, say)
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
# QUILTVIEW=path runs another build of the tool (an older one, to compare).
qv=${QUILTVIEW:-$build/quiltview}

docs=(catalog-10MB catalog-100MB catalog-300MB wide-1M deep-10k soup-10MB)
[ "$only" = replace ] && docs=(catalog-100MB)
[ -n "$only" ] && [ "$only" != replace ] && docs=("$only")
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

# Runs a command once with the given stack limit (KB) and CPU list; prints
# "seconds cpu-seconds peak-KB outcome", cpu being user + system time and outcome
# ok, rejects or fails.
measure() {
  local stack=$1 cpus=$2
  shift 2
  local outcome=ok status=0
  rm -f "$scratch"/*
  sync
  (ulimit -s "$stack"; taskset -c "$cpus" /usr/bin/time -f '%e %U %S %M' -o "$scratch/time" "$@" \
    >/dev/null 2>"$scratch/err") || status=$?
  # time(1) writes a line of its own first when the command fails.
  read -r t u s m < <(tail -n 1 "$scratch/time")
  if ((status != 0)); then
    grep -q "Command terminated by signal" "$scratch/time" && outcome=fails || outcome=rejects
  fi
  printf '%s %s %s %s\n' "$t" "$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')" "$m" "$outcome"
}
# The median of the numbers on standard input.
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# Of measure's lines: the median time and CPU, the largest peak, and ok or the
# outcome of a run that was not.
summary() {
  local t c
  t=$(printf '%s\n' "$@" | awk '{print $1}' | median)
  c=$(printf '%s\n' "$@" | awk '{print $2}' | median)
  printf '%s %s %s %s\n' "$t" "$c" "$(printf '%s\n' "$@" | awk '$3 > m {m = $3} END {print m}')" \
    "$(printf '%s\n' "$@" | awk '$4 != "ok" {o = $4} END {print o == "" ? "ok" : o}')"
}

all=$(seq -s, 0 $(($(nproc) - 1)))
[ "$only" = replace ] || printf '%-20s %7s %9s %8s %8s | %6s %6s %6s %6s %6s | %6s %6s | %6s %6s | %6s %6s %6s\n' \
  document "in MB" nodes "draw MB" "page MB" "qv s" "cpu s" "MB" "MB/in" "MB/s" "dd s" "qv/dd" \
  "lint s" "qv/lint" "el s" "cpu s" "qv/el"
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
  # Each tool in turn, RUNS times over: what the machine does meanwhile falls on all.
  local q=() qn=() dd=() lint=() el=()
  for ((i = 0; i < runs; i++)); do
    q+=("$(measure "$stack" "$cpus" "$qv" -o "$scratch/page.html" "$f")")
    qn+=("$(measure "$stack" "$cpus" "$qv" -o /dev/null "$f")")
    dd+=("$(measure 8192 "$cpus" dd if=/dev/zero of="$scratch/dd.bin" bs=1M count="$page" iflag=count_bytes)")
    lint+=("$(measure 8192 "$cpus" xmllint --noout --huge "$f")")
    el+=("$(measure 8192 "$cpus" xmlstarlet el "$f")")
  done
  read -r qt _ qm qo < <(summary "${q[@]}")
  read -r _ qc _ _ < <(summary "${qn[@]}")
  read -r dt _ _ _ < <(summary "${dd[@]}")
  read -r lt _ _ lo < <(summary "${lint[@]}")
  read -r et ec _ eo < <(summary "${el[@]}")
  [ "$qo" = ok ] || { echo "quiltview $qo on $d" >&2; exit 1; }
  awk -v d="$label" -v b="$bytes" -v n="$nodes" -v dr="$drawn" -v p="$page" -v qt="$qt" -v qc="$qc" \
    -v qm="$qm" -v dt="$dt" -v lt="$lt" -v lo="$lo" -v et="$et" -v ec="$ec" -v eo="$eo" '
    BEGIN {
      lint = lo == "ok" ? sprintf("%6.2f %6.2f", lt, qt / lt) : sprintf("%13s", lo)
      el = eo == "ok" ? sprintf("%6.2f %6.2f %6.2f", et, ec, ec > 0 ? qc / ec : 0) : sprintf("%20s", eo)
      printf "%-20s %7.1f %9d %8.1f %8.1f | %6.2f %6.2f %6.0f %6.2f %6.0f | %6.2f %6.2f | %s | %s\n",
        d, b / 1e6, n, dr / 1e6, p / 1e6, qt, qc, qm / 1024, qm * 1024 / b, b / 1e6 / qt, dt, qt / dt,
        lint, el
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
  printf '%s %s\n' "$(printf '%s\n' "${times[@]}" | median)" "$peak"
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
[ -n "$only" ] && exit 0
row catalog-100MB 0 "catalog-100MB, 1 CPU"
replace_row
echo "(medians of $runs interleaved runs; deep-10k runs quiltview with the stack limited to 256 KB)"
