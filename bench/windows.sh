#!/usr/bin/env bash
# The Windows build under Wine against the Linux build, on the same machine and
# the same large input: prints the median wall, user and system time of each and
# the Wine/Linux ratio of the wall times. It builds nothing.
#
#   bench/windows.sh LINUX_QUILTVIEW WINDOWS_QUILTVIEW.EXE [BYTES] [RUNS]
#
# BYTES (default 45600000: 1.3 million nodes) is the size of the catalog
# document made by the generator of the Linux build's folder (bench/quiltview_gen,
# built with -DQUILTVIEW_BENCH=ON; QUILTVIEW_GEN names another). The runs
# (default 5 of each, interleaved) write the drawing and the page to a memory file
# system (TMPFS, default /dev/shm), so that neither build waits for a disk. Wine
# runs in WINEPREFIX (default: the folder "wine" beside the .exe, where the
# Windows build's tests keep theirs), its server started once before the first
# timed run, so that its start-up is not counted; the start-up of a process is
# shown apart, as the time of a run on a one-element document.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 2 ]; then
  echo "usage: $0 LINUX_QUILTVIEW WINDOWS_QUILTVIEW.EXE [BYTES] [RUNS]" >&2
  exit 2
fi
linux=$(realpath "$1")
windows=$(realpath "$2")
bytes=${3:-45600000}
runs=${4:-5}
gen=$(realpath -m "${QUILTVIEW_GEN:-$(dirname "$linux")/bench/quiltview_gen}")
prefix=$(realpath -m "${WINEPREFIX:-$(dirname "$windows")/wine}")
tmpfs=${TMPFS:-/dev/shm}
for tool in "$linux" "$windows" "$gen" /usr/bin/time; do
  [ -x "$tool" ] || { echo "$tool: not found (see the usage at the top of $0)" >&2; exit 2; }
done
[ "$(stat -f -c %T "$tmpfs")" = tmpfs ] || { echo "$tmpfs is not a tmpfs" >&2; exit 2; }

work=$(mktemp -d "$tmpfs/quiltview-windows-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
"$gen" catalog "$bytes" 1 >in.xml
printf '<a/>' >tiny.xml
wine=(sh "$root/cmake/wine-run.sh" "$prefix")

# Runs a command with the drawing to drawing.txt, the page to page.html; appends
# "wall user system" to the file named first.
timed() {
  local into=$1
  shift
  rm -f page.html drawing.txt
  /usr/bin/time -f '%e %U %S' -o time.txt "$@" -o page.html in.xml >drawing.txt
  cat time.txt >>"$into"
}

# Warms up: the Wine server and its services, and the input in the page cache.
"${wine[@]}" "$windows" -o NUL tiny.xml >/dev/null
"$linux" -o /dev/null tiny.xml >/dev/null
# The same bytes once each line feed of the Windows build is counted as one byte.
timed /dev/null "$linux"
linux_page=$(wc -c <page.html)
linux_lines=$(tr -cd '\n' <page.html | wc -c)
timed /dev/null "${wine[@]}" "$windows"
windows_page=$(wc -c <page.html)
if [ "$windows_page" != $((linux_page + linux_lines)) ]; then
  echo "the Windows page has $windows_page bytes, expected $((linux_page + linux_lines))" >&2
  exit 1
fi

: >linux.times
: >windows.times
: >startup.times
for ((i = 0; i < runs; i++)); do
  timed linux.times "$linux"
  timed windows.times "${wine[@]}" "$windows"
  /usr/bin/time -f '%e %U %S' -o time.txt "${wine[@]}" "$windows" -o NUL tiny.xml >/dev/null
  cat time.txt >>startup.times
done

# The median of column $2 of file $1.
median() {
  cut -d' ' -f"$2" "$1" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
nodes=$(grep -c '' drawing.txt || true)
printf 'input: catalog of %s bytes; page %s bytes (Linux), %s (Windows); drawing %s lines; %s runs each\n' \
  "$(wc -c <in.xml)" "$linux_page" "$windows_page" "$nodes" "$runs"
printf '%-22s %8s %8s %8s\n' build wall user system
for build in linux windows startup; do
  case $build in
    linux) label="Linux" ;;
    windows) label="Windows under Wine" ;;
    startup) label="Wine start-up (tiny)" ;;
  esac
  printf '%-22s %7ss %7ss %7ss\n' "$label" "$(median $build.times 1)" "$(median $build.times 2)" \
    "$(median $build.times 3)"
done
awk -v w="$(median windows.times 1)" -v l="$(median linux.times 1)" \
  'BEGIN { printf "Wine/Linux wall-time ratio: %.2f\n", w / l }'
