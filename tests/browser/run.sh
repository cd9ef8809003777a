#!/bin/sh
# Runs one browser test of the page in a node process and a browser of its own:
#   run.sh --list          prints "ENGINE FULL NAME" for every engine and test
#   run.sh ENGINE NAME     runs the test of that full name in that engine
#                          (chromium, firefox or webkit; QUILTVIEW names the binary)
# A tool that is missing fails the test with one line that names it: a test that
# cannot run is never counted as passed.
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
cannot() {
  echo "browser test cannot run: $* (sh tools/install-deps.sh test installs it)"
  exit 1
}
command -v node >/dev/null 2>&1 || cannot "node is not installed"
if [ "$1" = --list ]; then
  QUILTVIEW_BROWSER_LIST=1 exec node "$here/page_test.mjs"
fi
[ -n "$2" ] || { echo "usage: run.sh --list | run.sh ENGINE NAME" >&2; exit 2; }
case "$1" in
  chromium)
    [ -x /usr/bin/chromium ] || cannot "/usr/bin/chromium (package chromium) is not installed"
    [ -d "$root/node_modules/playwright-core" ] || cannot "playwright-core is not installed in $root/node_modules"
    ;;
  firefox)
    [ -x /usr/bin/firefox-esr ] || cannot "/usr/bin/firefox-esr (package firefox-esr) is not installed"
    [ -d "$root/node_modules/puppeteer-core" ] || cannot "puppeteer-core is not installed in $root/node_modules"
    ;;
  webkit)
    [ -x /usr/bin/WebKitWebDriver ] || cannot "/usr/bin/WebKitWebDriver (package webkit2gtk-driver) is not installed"
    [ -x /usr/bin/Xvfb ] || cannot "/usr/bin/Xvfb (package xvfb) is not installed"
    ;;
  *) echo "run.sh: no engine named $1" >&2; exit 2 ;;
esac
[ -n "$QUILTVIEW" ] || { echo "QUILTVIEW must name the quiltview binary" >&2; exit 2; }
QUILTVIEW_BROWSER_ENGINE="$1" QUILTVIEW_BROWSER_TEST="$2" exec node --test "$here/page_test.mjs"
