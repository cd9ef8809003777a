#!/usr/bin/env bash
# Pins the program's output byte for byte.
#
#   tests/golden/run.sh QUILTVIEW CORPUS_GENERATOR               check
#   tests/golden/run.sh QUILTVIEW CORPUS_GENERATOR --regenerate  rewrite the digests
#
# 1. Worked examples (tests/golden/examples/NAME/): the files of in/ are copied
#    into a scratch folder, the program runs there with the arguments of `args`
#    (one per line), and afterwards the folder must equal out/, the standard
#    output `stdout`, the standard error `stderr` (empty when absent) and the exit
#    status `status` (0 when absent).
# 2. A corpus of a few hundred documents (the generator's, the fuzzer's seeds and
#    the sample documents): the SHA-256 digests of each run's standard output and
#    page must equal those recorded in tests/golden/corpus.sha256.
#
# --regenerate rewrites corpus.sha256 from the binary given. Do that only when a
# change of the output is intended, and say so in the commit: the digests are
# the record of what every earlier version wrote.
set -euo pipefail
qv=$(realpath "$1")
generator=$(realpath "$2")
mode=${3:-check}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
digests=$here/corpus.sha256
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quiltview-golden.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

if [ "$mode" = check ]; then
  for example in "$here"/examples/*/; do
    name=$(basename "$example")
    run=$scratch/examples/$name
    mkdir -p "$run"
    [ ! -d "$example/in" ] || cp -R "$example/in/." "$run/"
    args=()
    [ -s "$example/args" ] && mapfile -t args <"$example/args"
    status=0
    (cd "$run" && "$qv" "${args[@]}" >"$scratch/stdout" 2>"$scratch/stderr") || status=$?
    expected_status=$(cat "$example/status" 2>/dev/null || echo 0)
    [ "$status" = "$expected_status" ] || fail "$name: exit status $status, expected $expected_status"
    cmp -s "$scratch/stdout" "$example/stdout" || fail "$name: standard output differs"
    if [ -e "$example/stderr" ]; then
      cmp -s "$scratch/stderr" "$example/stderr" || fail "$name: standard error differs"
    else
      [ ! -s "$scratch/stderr" ] || fail "$name: unexpected standard error: $(head -c 200 "$scratch/stderr")"
    fi
    expected_files=$example/out
    [ -d "$expected_files" ] || expected_files=$scratch/nothing
    mkdir -p "$scratch/nothing"
    diff -r "$run" "$expected_files" >/dev/null || fail "$name: the files left differ from out/"
  done
fi

corpus=$scratch/corpus
mkdir -p "$corpus"
"$generator" "$corpus"
for f in "$root"/fuzz/corpus/*; do cp "$f" "$corpus/fuzz-$(basename "$f")"; done
cp "$root/examples/catalog.xml" "$corpus/example-catalog.xml"
for f in "$root"/tests/browser/*.xml; do cp "$f" "$corpus/browser-$(basename "$f")"; done
cd "$corpus"
documents=(*)
for doc in "${documents[@]}"; do
  if ! "$qv" -o "$doc.html" "$doc" >"$doc.out" 2>"$scratch/stderr"; then
    fail "$doc: exit status $?: $(head -c 200 "$scratch/stderr")"
  fi
done

if [ "$mode" = --regenerate ]; then
  sha256sum -- *.out *.html | LC_ALL=C sort -k 2 >"$digests"
  echo "Rewrote $digests from $qv: $(wc -l <"$digests") digests of ${#documents[@]} documents."
  echo "Commit it only if every changed byte of the output is intended."
  exit 0
fi

LC_ALL=C sort -k 2 <(sha256sum -- *.out *.html) >"$scratch/actual"
if ! cmp -s "$scratch/actual" "$digests"; then
  # Name the documents whose output changed, and those present on one side only.
  diff <(awk '{print $2, $1}' "$digests") <(awk '{print $2, $1}' "$scratch/actual") |
    sed -n 's/^[<>] //p' | awk '{print $1}' | sort -u | head -n 20 |
    while read -r file; do echo "FAIL: $file: digest differs from the recorded one" >&2; done || true
  failures=$((failures + 1))
fi

if ((failures > 0)); then
  echo "golden: $failures failure(s)" >&2
  exit 1
fi
echo "golden: $(ls "$here"/examples | wc -l) worked examples and ${#documents[@]} corpus documents match"
