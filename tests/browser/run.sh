#!/bin/sh
# Runs the browser test of the page. Exits 77, which CTest reports as skipped,
# when a tool it needs is not on this machine; .ci/run installs all of them.
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
if ! command -v node >/dev/null 2>&1; then
  echo "browser test skipped: node is not installed"
  exit 77
fi
if [ ! -x /usr/bin/chromium ]; then
  echo "browser test skipped: /usr/bin/chromium is not installed"
  exit 77
fi
if [ ! -d "$root/node_modules/playwright-core" ]; then
  echo "browser test skipped: playwright-core is not installed (run npm ci in $root)"
  exit 77
fi
if [ -z "$QUILTVIEW" ]; then
  echo "QUILTVIEW must name the quiltview binary" >&2
  exit 2
fi
exec node --test "$here/page_test.mjs"
