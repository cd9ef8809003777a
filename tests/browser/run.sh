#!/bin/sh
# Runs one browser test of the page in a node process and a Chromium of its own:
#   run.sh --list    prints the full name of every test, one a line
#   run.sh NAME      runs the test of that full name (QUILTVIEW names the binary)
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
[ -n "$1" ] || { echo "usage: run.sh --list | run.sh NAME" >&2; exit 2; }
[ -x /usr/bin/chromium ] || cannot "/usr/bin/chromium is not installed"
[ -d "$root/node_modules/playwright-core" ] || cannot "playwright-core is not installed in $root/node_modules"
[ -n "$QUILTVIEW" ] || { echo "QUILTVIEW must name the quiltview binary" >&2; exit 2; }
QUILTVIEW_BROWSER_TEST="$1" exec node --test "$here/page_test.mjs"
