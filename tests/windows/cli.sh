#!/usr/bin/env bash
# End-to-end tests of the Windows build, run under Wine: what only Windows does
# with files (CR LF line ends, wide names, drive letters and backslashes, NUL, a
# replaced, read-only or held page, a killed or stopped run), with the console and
# with pipes, and what the executable carries (its manifest and version block).
#
#   QUILTVIEW_EMULATOR="sh cmake/wine-run.sh PREFIX" QUILTVIEW_HOLD=quiltview_hold.exe \
#     bash tests/windows/cli.sh QUILTVIEW.exe CASE
#   bash tests/windows/cli.sh --list
#
# The resources case reads the executable with QUILTVIEW_OBJCOPY (the toolchain's
# objcopy) and expects QUILTVIEW_VERSION, the project's version.
#
# Each case is one CTest entry. Exit status 0: passed, 77: cannot run here, else failed.
set -euo pipefail
cases=(binary-input replaces-existing-page refuses-read-only-page unicode-names
  drive-letters-and-backslashes nul-output failure-removes-new-file threaded-page
  held-page-is-busy page-held-at-the-commit new-page-that-cannot-take-the-old-ones-place
  killed-run-leaves-nothing stop-ends-the-run stop-cuts-a-page-written-in-place
  in-place-page-that-does-not-fit utf8-console utf8-console-long-line console-controls
  closed-pipe resources)
if [ "${1:-}" = --list ]; then
  printf '%s\n' "${cases[@]}"
  exit 0
fi
qv=$(realpath "$1")
case_name=$2
read -r -a emulator <<<"${QUILTVIEW_EMULATOR:-}"
hold_exe=${QUILTVIEW_HOLD:+$(realpath "$QUILTVIEW_HOLD")}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quiltview-windows.XXXXXX")
mounted=""
immutable=""
cleanup() {
  [ -z "$immutable" ] || chattr -i "$immutable"
  [ -z "$mounted" ] || umount "$mounted"
  rm -rf "$scratch"
}
trap cleanup EXIT
cd "$scratch"
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Runs the program; its streams go to stdout.txt and stderr.txt with each CR LF
# read as LF, its exit status to $status. start_run starts it in the background
# ($run_pid), finish_run waits for it.
run() {
  start_run "$@"
  finish_run
}

start_run() {
  "${emulator[@]}" "$qv" "$@" >stdout.raw 2>stderr.raw &
  run_pid=$!
}

finish_run() {
  status=0
  wait "$run_pid" || status=$?
  perl -0777 -pe 's/\r\n/\n/g' stdout.raw >stdout.txt
  perl -0777 -pe 's/\r\n/\n/g' stderr.raw >stderr.txt
}

# Tries the command every tenth of a second until it succeeds, a minute at most.
wait_until() {
  local i
  for ((i = 0; i < 600; i++)); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# Holds the file open as another program may, sharing nothing, until let_go;
# fails when it cannot be opened.
hold() {
  [ -n "$hold_exe" ] || { echo "QUILTVIEW_HOLD names no helper" >&2; exit 2; }
  rm -rf hold && mkdir hold
  "${emulator[@]}" "$hold_exe" "$1" hold/held hold/release &
  hold_pid=$!
  wait_until test -e hold/held || { let_go; return 1; }
}

let_go() {
  touch hold/release
  wait "$hold_pid" || true
}

# A chain of 6000 nested tags: a page of 434 MB, which takes seconds to write.
deep_chain() {  # [depth]: 6000 makes a page of 434 MB, 10000 one of 1.2 GB
  perl -e "print '<d>' x ${1:-6000}" >deep.xml
}

# The hidden new file beside out/page.html, in $new_file, once it holds more
# than a megabyte.
new_file_growing() {
  new_file=$(find out -maxdepth 1 -name '.page.html.*' -size +1M | head -n 1)
  [ -n "$new_file" ]
}

# The attributes Windows shows for a file: A for archive, H for hidden, ...
attributes_of() {
  "${emulator[@]}" attrib.exe "$1" | tr -d '\r' | sed 's/ *[A-Z]:\\.*//; s/ //g'
}

expect_no_written() {
  ! grep -q '^Written:' stdout.txt || fail "Written: before the failure"
}

# A folder that takes no new file. Wine runs as root here, which no folder's
# permissions stop; an immutable folder stops root too, and its files stay writable.
immutable_folder() {  # folder
  if [ "$(id -u)" != 0 ] || ! chattr +i "$1" 2>/dev/null; then
    echo "an immutable folder needs root and a file system that has them"
    exit 77
  fi
  immutable=$scratch/$1
}

expect_status() {
  [ "$status" = "$1" ] || fail "exit status $status, expected $1: $(cat stderr.txt)"
}

expect_file() {  # path, expected bytes
  if [ ! -f "$1" ]; then
    fail "$1 is missing"
  elif [ "$(cat "$1"; echo .)" != "$2." ]; then
    fail "$1 holds $(head -c 100 "$1" | od -c | head -3)"
  fi
}

expect_listing() {  # folder, names
  local actual
  actual=$(cd "$1" && ls -A | tr '\n' ' ')
  [ "$actual" = "$2 " ] || fail "$1 holds: $actual, expected: $2"
}

# The page the Linux build writes for <a/> named a.xml, each LF as CR LF.
page_that_does_not_fit() {  # [in-place]: the folder cannot take a new file
  if [ "$(id -u)" != 0 ]; then
    echo "mounting a small tmpfs needs root"
    exit 77
  fi
  mkdir tm
  mount -t tmpfs -o size=1m tmpfs tm
  mounted=$scratch/tm
  printf 'old page' >tm/page.html
  [ -z "${1:-}" ] || immutable_folder tm
  { printf '<r>'; for ((i = 0; i < 60000; i++)); do printf '<x>hello world</x>'; done; } >wide.xml
  run -o tm/page.html wide.xml
  expect_status 1
  expect_file stderr.txt "quiltview.exe: tm/page.html: writeFile: resource exhausted (No space left on device)
"
  expect_file tm/page.html "old page"
  expect_listing tm "page.html"
}
page_of_a() {
  printf '<a/>' >a.xml
  run -o reference.html a.xml
  expect_status 0
  perl -0777 -ne 'exit(/(?<!\r)\n/ ? 1 : 0)' reference.html || fail "a line feed of the page without CR"
}

case $case_name in
  binary-input)
    # The input is read in binary mode: text mode would stop at the Ctrl-Z byte
    # and make one line end of CR CR LF.
    printf '<a>x\032y</a><t>1\r\r\n2</t><b/>' >z.xml
    run -o z.html z.xml
    expect_status 0
    printf '[Output "z.html"]\n["z.xml"]\nz.xml\n|\n+- <a />\n|  |\n|  `- x\032y\n|\n+- <t />\n|  |\n|  `- 1\n\n2\n|\n`- <b />\n\nWritten: z.html\n' >expected.txt
    cmp -s stdout.txt expected.txt || fail "the drawing is not Linux's: $(od -c stdout.txt | head -5)"
    ;;
  replaces-existing-page)
    page_of_a
    mkdir sub
    printf 'old page' >sub/page.html
    run -o sub/page.html a.xml
    expect_status 0
    cmp -s sub/page.html reference.html || fail "the old page was not replaced by the new one"
    expect_listing sub "page.html"
    # The page has a page's attributes, not those of the file it was while written
    # (hidden, temporary); a hidden old page's new one is hidden too.
    [ "$(attributes_of 'sub\page.html')" = A ] || fail "sub/page.html is $(attributes_of 'sub\page.html')"
    "${emulator[@]}" attrib.exe +h 'sub\page.html'
    run -o sub/page.html a.xml
    expect_status 0
    [ "$(attributes_of 'sub\page.html')" = AH ] || fail "sub/page.html is $(attributes_of 'sub\page.html')"
    ;;
  refuses-read-only-page)
    page_of_a
    printf 'old page' >locked.html
    chmod 444 locked.html  # Wine's read-only attribute
    run -o locked.html a.xml
    expect_status 1
    expect_file stderr.txt "quiltview.exe: locked.html: openFile: permission denied (Permission denied)
"
    expect_file locked.html "old page"
    expect_listing . "a.xml locked.html reference.html stderr.raw stderr.txt stdout.raw stdout.txt"
    ;;
  unicode-names)
    # Names reach the program through the wide command line, and are shown and
    # opened as UTF-8 names, as on Linux.
    page_of_a
    cp a.xml café.xml
    LANG=C.UTF-8 run -o α.html café.xml
    expect_status 0
    expect_file stdout.txt '[Output "\206\177.html"]
["caf\195\169.xml"]
café.xml
|
`- <a />

Written: α.html
'
    # The page is that of a.xml but for the root label.
    [ -f α.html ] && cmp -s <(sed 's/café\.xml/a.xml/' α.html) reference.html ||
      fail "α.html is not the page of café.xml"
    LANG=C.UTF-8 run -o α.html nowhere-é.xml
    expect_status 1
    expect_file stderr.txt "quiltview.exe: nowhere-é.xml: openFile: does not exist (No such file or directory)
"
    ;;
  drive-letters-and-backslashes)
    # Wine's drive Z: is the root of the Linux file system.
    page_of_a
    mkdir -p sub/deeper
    printf 'old' >sub/deeper/page.html
    windows_path="Z:${scratch//\//\\}\\sub\\deeper\\page.html"
    run -o "$windows_path" a.xml
    expect_status 0
    cmp -s sub/deeper/page.html reference.html || fail "$windows_path was not replaced"
    expect_listing sub/deeper "page.html"
    run -o 'sub\relative.html' a.xml
    expect_status 0
    cmp -s sub/relative.html reference.html || fail 'sub\relative.html was not written'
    expect_listing sub "deeper relative.html"
    run -o 'missing\x.html' a.xml
    expect_status 1
    expect_file stderr.txt 'quiltview.exe: missing\x.html: openFile: does not exist (No such file or directory)
'
    ;;
  nul-output)
    printf '<a/>' >a.xml
    run -o NUL a.xml
    expect_status 0
    expect_file stdout.txt '[Output "NUL"]
["a.xml"]
a.xml
|
`- <a />

Written: NUL
'
    expect_listing . "a.xml stderr.raw stderr.txt stdout.raw stdout.txt"
    ;;
  failure-removes-new-file)
    # A page that does not fit on a file system of 1 MB is refused after the new
    # file beside the old page was made: the new file goes, the old page stays.
    page_that_does_not_fit
    ;;
  threaded-page)
    # 1.1 million boxes: the page is measured and written on several threads, in
    # pieces cut where the size pass says, line feeds counted as CR LF. The
    # digests are those of the Linux build's drawing and page.
    perl -e 'print "<w>", "<c/>" x 1100000' >wide.xml
    run -o wide.html wide.xml
    expect_status 0
    perl -0777 -ne 'exit(/(?<!\r)\n/ ? 1 : 0)' wide.html || fail "a line feed of the page without CR"
    perl -0777 -pi -e 's/\r\n/\n/g' wide.html
    sha256sum stdout.txt wide.html >digests
    printf '%s  %s\n' 614adfdec2512af7f6888cf877a4dee9b6eda194df7e3accd4dbb7f8884f9274 stdout.txt \
      0fd638afc099b7527837ee13dfca851550937b9cbffea39b4a23abde1d6e9b57 wide.html | cmp -s - digests ||
      fail "the drawing or the page is not Linux's: $(cat digests)"
    ;;
  held-page-is-busy)
    # A page another program holds open without sharing it is waited for, about two
    # seconds, and then reported as busy before anything is written. Let go of
    # meanwhile, it is replaced.
    page_of_a
    mkdir out
    printf 'old page' >out/page.html
    hold out/page.html || fail "out/page.html could not be held"
    start_run -o out/page.html a.xml
    # Once the drawing is out, the page is opened.
    wait_until grep -q '<a />' stdout.raw || fail "no drawing"
    sleep 0.5
    let_go
    finish_run
    expect_status 0
    cmp -s out/page.html reference.html || fail "the page let go of was not replaced"
    printf 'old page' >out/page.html
    hold out/page.html || fail "out/page.html could not be held"
    run -o out/page.html a.xml
    let_go
    expect_status 1
    expect_file stderr.txt "quiltview.exe: out/page.html: openFile: resource busy (Device or resource busy)
"
    expect_no_written
    expect_file out/page.html "old page"
    expect_listing out "page.html"
    ;;
  page-held-at-the-commit)
    # Another program takes hold of the old page while the new one is written: the
    # commit is tried again for about two seconds, then reported as busy. The old
    # page stays, the new file goes. The page is large enough to be held before it is
    # written: the program that holds it takes a while to start under Wine.
    deep_chain 10000
    mkdir out
    printf 'old page' >out/page.html
    start_run -o out/page.html deep.xml
    wait_until new_file_growing || fail "no new file beside out/page.html"
    if ! hold out/page.html || [ ! -e "$new_file" ]; then
      # Put in place before it could be held.
      let_go
      finish_run
      echo "the page was in place before it could be held"
      exit 77
    fi
    finish_run
    let_go
    expect_status 1
    expect_file stderr.txt "quiltview.exe: out/page.html: writeFile: resource busy (Device or resource busy)
"
    [ "$(tail -n 1 stdout.txt)" = "Written: out/page.html" ] || fail "no Written: line"
    expect_file out/page.html "old page"
    expect_listing out "page.html"
    ;;
  new-page-that-cannot-take-the-old-ones-place)
    # Wine finds a name whatever its case, where Linux keeps page.html and PAGE.HTML
    # apart: ReplaceFileW moves the old page aside, then finds page.html taken and
    # cannot move the new page there, nor can the old one go back. Neither is
    # deleted, and the report says where both are.
    page_of_a
    mkdir out
    printf 'old page' >out/page.html
    printf 'another file' >out/PAGE.HTML
    run -o out/page.html a.xml
    expect_status 1
    hidden='out/\.page\.html\.[0-9]+\.[0-9a-f]{8}'
    report="^quiltview\.exe: out/page\.html \(old page now in ($hidden\.old), new page in ($hidden)\): writeFile: already exists \(File exists\)$"
    if [[ "$(cat stderr.txt)" =~ $report ]]; then
      expect_file "${BASH_REMATCH[1]}" "old page"
      cmp -s "${BASH_REMATCH[2]}" reference.html || fail "${BASH_REMATCH[2]} is not the new page"
    else
      fail "the report does not say where both pages are: $(cat stderr.txt)"
    fi
    expect_file out/PAGE.HTML "another file"
    [ "$(ls -A out | wc -l)" = 3 ] || fail "out holds $(ls -A out | tr '\n' ' ')"
    ;;
  killed-run-leaves-nothing)
    # Killed during the write of a page of 770 MB: the new file is marked for
    # deletion on its last close, which the end of the process is. The kill is the
    # system's own, at once: taskkill /F, a Wine program of its own, starts slower
    # than the page is written. (taskkill /F and wineserver -k were tried by hand.)
    perl -e 'print "<d>" x 8000' >killed-deep.xml
    mkdir out
    printf 'old page' >out/page.html
    start_run -o out/page.html killed-deep.xml
    wait_until new_file_growing || fail "no new file beside out/page.html"
    # The Windows process is the one whose command line is the program's own.
    pkill -KILL -f '^[^ ]*quiltview.exe -o out/page.html killed-deep.xml' ||
      fail "no run to kill: the page was written before the kill"
    finish_run
    expect_file out/page.html "old page"
    expect_listing out "page.html"
    ;;
  stop-ends-the-run)
    # Ctrl-C, which Wine hands to the console's handlers as SIGINT, ends the run with
    # STATUS_CONTROL_C_EXIT (0xC000013A; 58, its low byte, as Wine's exit status).
    # During the write of the page, the folder is left as it was.
    deep_chain
    mkdir out
    printf 'old page' >out/page.html
    start_run -o out/page.html deep.xml
    wait_until new_file_growing || fail "no new file beside out/page.html"
    kill -INT "$run_pid"
    finish_run
    expect_status 58
    expect_file out/page.html "old page"
    expect_listing out "page.html"
    # Before the page is opened: the drawing waits on a pipe nobody reads.
    mkfifo drawing
    "${emulator[@]}" "$qv" -o out/page.html deep.xml >drawing 2>stderr.raw &
    run_pid=$!
    exec 3<drawing
    head -c 1 <&3 >/dev/null
    kill -INT "$run_pid"
    status=0
    wait "$run_pid" || status=$?
    exec 3<&-
    expect_status 58
    expect_file out/page.html "old page"
    expect_listing out "page.html"
    ;;
  stop-cuts-a-page-written-in-place)
    # In a folder that takes no new file the page is written over the old one; Ctrl-C
    # after its first byte cuts the file where the new bytes end: no byte of the old
    # page stays after them. The old page is sparse: NUL bytes, which no page holds.
    page_of_a
    deep_chain
    mkdir ro
    truncate -s 1G ro/page.html
    immutable_folder ro
    start_run -o ro/page.html deep.xml
    wait_until eval 'head -c 1 ro/page.html | grep -q "<"' || fail "the page was not written"
    kill -INT "$run_pid"
    finish_run
    expect_status 58
    size=$(stat -c %s ro/page.html)
    ((size > 0 && size < 1 << 30)) || fail "ro/page.html holds $size bytes"
    [ "$(tr -d '\000' <ro/page.html | wc -c)" = "$size" ] ||
      fail "bytes of the old page stay after the new ones"
    cmp -s -n 100 ro/page.html reference.html || fail "ro/page.html does not begin as a page"
    expect_listing ro "page.html"
    ;;
  in-place-page-that-does-not-fit)
    # Written in place, a page larger than the free space is refused before its
    # first byte: the old page stays whole.
    page_that_does_not_fit in-place
    ;;
  utf8-console)
    # In a console (Wine's, on a pseudo-terminal) the names show as typed while the
    # program runs, and the console's code page is the one it had afterwards, after
    # a failed run too: "type" writes the UTF-8 bytes of name.txt as it is, which
    # code page 850 shows as "caf├®", UTF-8 as "café".
    command -v script >/dev/null || { echo "no script(1) to give Wine a terminal"; exit 77; }
    printf '<a/>' >café.xml
    printf 'caf\303\251\r\n' >name.txt
    cp "$qv" quiltview.exe
    steps='chcp 850 >NUL & type name.txt & quiltview.exe -o α.html café.xml & type name.txt'
    steps+=' & quiltview.exe missing.xml & type name.txt'
    LANG=C.UTF-8 script -qec "${emulator[*]} cmd /c \"$steps\"" /dev/null </dev/null >console.raw ||
      fail "the console's commands failed: $(od -c console.raw | head -5)"
    # What the terminal shows, without the console's cursor controls and CRs.
    perl -pe 's/\e\[[0-9;?]*[A-Za-z]//g; s/\r//g' console.raw >console.txt
    expect_file console.txt 'caf├®
[Output "\206\177.html"]
["caf\195\169.xml"]
café.xml
|
`- <a />

Written: α.html
caf├®
[]
["missing.xml"]
quiltview.exe: missing.xml: openFile: does not exist (No such file or directory)
caf├®
'
    ;;
  utf8-console-long-line)
    # A console takes its output in small writes, each cut before a whole UTF-8
    # character: a line of 24 KB of "é" reaches the terminal whole, where a cut in
    # the middle of one shows replacement characters instead.
    command -v script >/dev/null || { echo "no script(1) to give Wine a terminal"; exit 77; }
    perl -CS -e 'print "<a>xy", "\x{e9}" x 12000, "</a>"' >long.xml
    cp "$qv" quiltview.exe
    LANG=C.UTF-8 script -qec "${emulator[*]} cmd /c \"quiltview.exe -o NUL long.xml\"" /dev/null \
      </dev/null >console.raw || fail "the console's command failed: $(od -c console.raw | head -5)"
    perl -CSD -ne '$e += () = /\x{e9}/g; $r += () = /\x{fffd}/g;
      END { print $e + 0, " ", $r + 0, "\n" }' console.raw >counts.txt
    read -r accents replaced <counts.txt
    ((replaced == 0)) || fail "the console shows $replaced replacement characters"
    ((accents >= 12000)) || fail "the console shows $accents of the 12000 accented letters"
    ;;
  console-controls)
    # A document's escape sequences do not reach the console: its control characters
    # show in caret notation there, while a file gets every byte.
    command -v script >/dev/null || { echo "no script(1) to give Wine a terminal"; exit 77; }
    printf '<r>t\033]0;x\007y\000z\177\302\233</r>' >ctl.xml
    cp "$qv" quiltview.exe
    LANG=C.UTF-8 script -qec "${emulator[*]} cmd /c \"quiltview.exe -o NUL ctl.xml\"" /dev/null \
      </dev/null >console.raw || fail "the console's command failed: $(od -c console.raw | head -5)"
    grep -a -F 't^[]0;x^Gy^@z^?<U+009B>' console.raw >/dev/null ||
      fail "the console shows $(grep -a -F -e '`-' console.raw | od -c | head -5)"
    perl -ne 'exit 1 if /\e\]|\x07|\x00|\x7f|\xc2\x9b/' console.raw ||
      fail "a control character of the document reached the console"
    run -o NUL ctl.xml
    [ "$status" -eq 0 ] || fail "exit status $status"
    perl -0777 -ne 'exit(index($_, "t\e]0;x\ay\0z\x7f\xc2\x9b") >= 0 ? 0 : 1)' stdout.txt ||
      fail "the drawing in a file lost the document's bytes"
    ;;
  closed-pipe)
    # The standard output is a pipe that no process reads any more: reported as on
    # Linux, and the old page stays. The FIFO's last reader is closed before the
    # program starts, so its first write fails.
    printf '<a/>' >a.xml
    printf 'old page' >page.html
    mkfifo fifo
    exec 3<>fifo 4>fifo 3<&-
    status=0
    "${emulator[@]}" "$qv" -o page.html a.xml 2>stderr.raw >&4 || status=$?
    exec 4>&-
    rm fifo
    perl -0777 -pe 's/\r\n/\n/g' stderr.raw >stderr.txt
    expect_status 1
    expect_file stderr.txt 'quiltview.exe: <stdout>: writeFile: failed (Broken pipe)
'
    expect_file page.html "old page"
    expect_listing . "a.xml page.html stderr.raw stderr.txt"
    ;;
  resources)
    # The application manifest and the version block, read from the executable's
    # resource section as Windows reads them.
    "${QUILTVIEW_OBJCOPY:?}" -O binary --only-section=.rsrc "$qv" rsrc.bin ||
      fail "no resource section"
    perl -0777 -ne 'print $1 if /(<\?xml.*?<\/assembly>)/s' rsrc.bin >manifest.xml
    for wanted in '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' \
      '<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>' \
      '<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage>' \
      '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>' \
      '<supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>' \
      '<supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>' \
      '<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>' \
      "<assemblyIdentity type=\"win32\" name=\"quiltview\" version=\"${QUILTVIEW_VERSION:?}.0\""; do
      grep -qF "$wanted" manifest.xml || fail "the manifest lacks $wanted"
    done
    # The fixed part of the version block (after its signature 0xFEEF04BD): file and
    # product version as major.minor.patch.0; then the version as text.
    fixed=$(perl -0777 -ne '/\xBD\x04\xEF\xFE.{4}(.{16})/s and
      printf "%d.%d.%d.%d %d.%d.%d.%d", map { ($_ >> 16, $_ & 0xFFFF) } unpack("V4", $1)' rsrc.bin)
    [ "$fixed" = "$QUILTVIEW_VERSION.0 $QUILTVIEW_VERSION.0" ] ||
      fail "the version block says $fixed, the project $QUILTVIEW_VERSION"
    # A string is its UTF-16 name, a terminating NUL and padding, then its value.
    for name in FileVersion ProductVersion; do
      perl -0777 -MEncode -e '$_ = <STDIN>; my ($k, $v) = map { encode("UTF-16LE", $_) } @ARGV;
        exit(/\Q$k\E(?:\0\0)+\Q$v\E\0\0/ ? 0 : 1)' "$name" "$QUILTVIEW_VERSION" <rsrc.bin ||
        fail "no $name $QUILTVIEW_VERSION in the version block"
    done
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac

if ((failures > 0)); then
  echo "$case_name: $failures failure(s)" >&2
  exit 1
fi
echo "$case_name: passed"
