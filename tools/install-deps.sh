#!/bin/sh
# Installs what quiltview needs and this machine lacks, with apt-get (Debian, Ubuntu):
#   sh tools/install-deps.sh build   a C++20 compiler, CMake and Ninja: enough for the tool
#   sh tools/install-deps.sh package that, and what cpack -G DEB needs besides CMake:
#                                    dpkg-shlibdeps (dpkg-dev) and file (-G TGZ needs
#                                    nothing more)
#   sh tools/install-deps.sh test    that, GoogleTest, node, npm and Chromium, then the npm
#                                    packages of package-lock.json (npm ci): every test
#   sh tools/install-deps.sh ci      that, and what .ci/run adds: clang with its fuzzer
#                                    runtime, Google Benchmark, clang-format, the
#                                    Debian packaging tools and git (for .ci/format)
#   sh tools/install-deps.sh windows CMake, Ninja, the MinGW-w64 cross compiler, Wine
#                                    and GoogleTest's sources: the Windows build and
#                                    its tests under Wine
# Nothing is installed when nothing is missing. apt-get runs through sudo when the
# caller is not root; npm ci runs as the caller, in the checkout.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-}

case "$mode" in
  build) packages="g++ cmake ninja-build" ;;
  package) packages="g++ cmake ninja-build dpkg-dev file" ;;
  test) packages="g++ cmake ninja-build libgtest-dev ca-certificates" ;;
  ci) packages="g++ cmake ninja-build libgtest-dev ca-certificates clang libclang-rt-dev
                libbenchmark-dev clang-format dpkg-dev file git" ;;
  windows) packages="cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 googletest perl" ;;
  *)
    echo "usage: sh tools/install-deps.sh build|package|test|ci|windows" >&2
    exit 2
    ;;
esac

missing=""
if command -v dpkg-query >/dev/null 2>&1; then
  for p in $packages; do
    dpkg-query -W -f '${Status}' "$p" 2>/dev/null | grep -q ' installed$' || missing="$missing $p"
  done
fi
if [ "$mode" = test ] || [ "$mode" = ci ]; then
  # node may come from elsewhere than Debian's package (its npm with it), and
  # Debian's npm would then conflict with it: these three are looked up by command.
  command -v node >/dev/null 2>&1 || missing="$missing nodejs"
  command -v npm >/dev/null 2>&1 || missing="$missing npm"
  [ -x /usr/bin/chromium ] || missing="$missing chromium"
fi

if [ -n "$missing" ]; then
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "install-deps: no apt-get here; install the packages the README lists for other systems" >&2
    exit 1
  fi
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "install-deps: installing$missing"
  $sudo apt-get update
  # shellcheck disable=SC2086 # one word per package
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
fi

if [ "$mode" = test ] || [ "$mode" = ci ]; then
  cd "$root"
  # npm ci empties node_modules and fetches everything again: only when a package
  # of the lock file is absent or at another version.
  if ! node -e '
      const fs = require("fs");
      const lock = JSON.parse(fs.readFileSync("package-lock.json", "utf8"));
      for (const [path, entry] of Object.entries(lock.packages)) {
        if (path && JSON.parse(fs.readFileSync(path + "/package.json", "utf8")).version !== entry.version)
          process.exit(1);
      }' 2>/dev/null; then
    npm ci --no-audit --no-fund
  fi
fi
