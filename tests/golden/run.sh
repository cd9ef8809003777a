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
#    page must equal those recorded in tests/golden/corpus.sha256. The documents
#    run side by side, one per core (QUILTVIEW_GOLDEN_JOBS=N: N at a time).
#
# --regenerate rewrites corpus.sha256 from the binary given. Do that only when a
# change of the output is intended, and say so in the commit: the digests are
# the record of what every earlier version wrote.
#
# A Windows build (QUILTVIEW ending in .exe) is checked against the same data,
# run through the command prefix QUILTVIEW_EMULATOR (Wine) when one is set: every
# line feed of its standard output, standard error and page must come as carriage
# return and line feed, and with each of those read as a line feed the bytes must
# be the recorded ones. Its program name in reports is quiltview.exe. Examples
# with a file `posix-only` only mean something on POSIX and are not run there;
# /dev/null in the arguments and the standard output stands for NUL.
set -euo pipefail
qv=$(realpath "$1")
generator=$(realpath "$2")
mode=${3:-check}
windows=false
[[ $qv != *.exe ]] || windows=true
read -r -a emulator <<<"${QUILTVIEW_EMULATOR:-}"
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

# On Windows: checks that every line feed of file $1 (named $2 in reports) comes
# after a carriage return, then reads each CR LF as LF, in place.
text_mode_lf() {
  $windows || return 0
  perl -0777 -ne 'exit(/(?<!\r)\n/ ? 1 : 0)' "$1" || fail "$2: a line feed without a carriage return"
  perl -0777 -pi -e 's/\r\n/\n/g' "$1"
}

skipped=0
if [ "$mode" = check ]; then
  for example in "$here"/examples/*/; do
    name=$(basename "$example")
    if $windows && [ -e "$example/posix-only" ]; then
      skipped=$((skipped + 1))
      continue
    fi
    run=$scratch/examples/$name
    mkdir -p "$run"
    [ ! -d "$example/in" ] || cp -R "$example/in/." "$run/"
    args=()
    [ -s "$example/args" ] && mapfile -t args <"$example/args"
    cp "$example/stdout" "$scratch/expected"
    if $windows; then
      args=("${args[@]//\/dev\/null/NUL}")
      sed -i 's#/dev/null#NUL#g' "$scratch/expected"
    fi
    status=0
    (cd "$run" && "${emulator[@]}" "$qv" "${args[@]}" >"$scratch/stdout" 2>"$scratch/stderr") ||
      status=$?
    expected_status=$(cat "$example/status" 2>/dev/null || echo 0)
    [ "$status" = "$expected_status" ] || fail "$name: exit status $status, expected $expected_status"
    text_mode_lf "$scratch/stdout" "$name: standard output"
    text_mode_lf "$scratch/stderr" "$name: standard error"
    ! $windows || sed -i '1s/^quiltview\.exe: /quiltview: /' "$scratch/stderr"
    cmp -s "$scratch/stdout" "$scratch/expected" || fail "$name: standard output differs"
    if [ -e "$example/stderr" ]; then
      cmp -s "$scratch/stderr" "$example/stderr" || fail "$name: standard error differs"
    else
      [ ! -s "$scratch/stderr" ] || fail "$name: unexpected standard error: $(head -c 200 "$scratch/stderr")"
    fi
    # The files the run wrote: those that are not the inputs as they were.
    while IFS= read -r -d '' file; do
      relative=${file#"$run"/}
      cmp -s "$file" "$example/in/$relative" 2>/dev/null || text_mode_lf "$file" "$name: $relative"
    done < <(find "$run" -type f -print0)
    expected_files=$example/out
    [ -d "$expected_files" ] || expected_files=$scratch/nothing
    mkdir -p "$scratch/nothing"
    diff -r "$run" "$expected_files" >/dev/null || fail "$name: the files left differ from out/"
  done
fi

corpus=$scratch/corpus
mkdir -p "$corpus"
(cd "$corpus" && "${emulator[@]}" "$generator" .)
for f in "$root"/fuzz/corpus/*; do cp "$f" "$corpus/fuzz-$(basename "$f")"; done
cp "$root/examples/catalog.xml" "$corpus/example-catalog.xml"
for f in "$root"/tests/browser/*.xml; do cp "$f" "$corpus/browser-$(basename "$f")"; done
cd "$corpus"
documents=(*)
# Hundreds of short runs, each on one core: the documents are shared out among as
# many runners as there are cores (QUILTVIEW_GOLDEN_JOBS runners if set), the k-th
# taking every documents[k + jobs * n]. Each returns its count of failures.
jobs=${QUILTVIEW_GOLDEN_JOBS:-$(nproc)}
run_share() {
  local i doc
  for ((i = $1; i < ${#documents[@]}; i += jobs)); do
    doc=${documents[i]}
    "${emulator[@]}" "$qv" -o "$doc.html" "$doc" >"$doc.out" 2>"$scratch/stderr.$1" ||
      fail "$doc: exit status $?: $(head -c 200 "$scratch/stderr.$1")"
    text_mode_lf "$doc.out" "$doc: standard output"
    text_mode_lf "$doc.html" "$doc: page"
  done
  return $((failures > 100 ? 100 : failures))
}
runners=()
for ((k = 0; k < jobs; k++)); do
  run_share "$k" &
  runners+=($!)
done
for runner in "${runners[@]}"; do
  wait "$runner" || failures=$((failures + $?))
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
examples=$(($(ls "$here"/examples | wc -l) - skipped))
summary="golden: $examples worked examples and ${#documents[@]} corpus documents match"
$windows && summary+=" with each CR LF read as LF ($skipped examples only for POSIX)"
echo "$summary"
