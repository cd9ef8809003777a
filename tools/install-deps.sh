#!/bin/sh
# Installs with apt-get (Debian, Ubuntu) what quiltview needs and this machine lacks,
# for each mode given (several at once take one apt-get run):
#   build    a C++20 compiler, CMake and Ninja: enough for the tool
#   package  that, with dpkg-dev and file for cpack -G DEB
#   test     that, GoogleTest, node, npm, Chromium, Firefox, WebKit, Xvfb, npm ci: all tests
#   ci       that, clang with its fuzzer runtime, Google Benchmark, clang-format, git
#   windows  the MinGW-w64 cross compiler, Wine and GoogleTest's sources
#   cross    the aarch64, s390x and i686 cross compilers, qemu-user, clang with libc++
# Nothing is installed when nothing is missing. apt-get runs through sudo when the
# caller is not root and may use it; otherwise the script names the missing packages
# and the command that installs them, and fails. npm ci keeps the checkout's owner.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: sh tools/install-deps.sh build|package|test|ci|windows|cross..."
[ $# -gt 0 ] || { echo "$usage" >&2; exit 2; }

packages=""
npm=false
for mode in "$@"; do
  case "$mode" in
    build) packages="$packages g++ cmake ninja-build" ;;
    package) packages="$packages g++ cmake ninja-build dpkg-dev file" ;;
    test) packages="$packages g++ cmake ninja-build libgtest-dev ca-certificates" npm=true ;;
    ci) packages="$packages g++ cmake ninja-build libgtest-dev ca-certificates clang libclang-rt-dev
                  libbenchmark-dev clang-format dpkg-dev file git" npm=true ;;
    windows) packages="$packages cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 googletest perl" ;;
    cross) packages="$packages cmake ninja-build g++-aarch64-linux-gnu g++-s390x-linux-gnu
                     g++-i686-linux-gnu qemu-user googletest clang libc++-dev libc++abi-dev file" ;;
    *)
      echo "$usage" >&2
      exit 2
      ;;
  esac
done
# Each package once, in the order first named.
# shellcheck disable=SC2086 # one word per package
packages=$(printf '%s\n' $packages | awk '!seen[$0]++' | tr '\n' ' ')

missing=""
if command -v dpkg-query >/dev/null 2>&1; then
  for p in $packages; do
    dpkg-query -W -f '${Status}' "$p" 2>/dev/null | grep -q ' installed$' || missing="$missing $p"
  done
fi
if $npm; then
  # node may come from elsewhere than Debian's package (its npm with it), and
  # Debian's npm would then conflict with it: these three are looked up by command.
  command -v node >/dev/null 2>&1 || missing="$missing nodejs"
  command -v npm >/dev/null 2>&1 || missing="$missing npm"
  [ -x /usr/bin/chromium ] || missing="$missing chromium"
  [ -x /usr/bin/firefox-esr ] || missing="$missing firefox-esr"
  [ -x /usr/bin/WebKitWebDriver ] || missing="$missing webkit2gtk-driver"
  [ -x /usr/bin/Xvfb ] || missing="$missing xvfb"
fi

if [ -n "$missing" ]; then
  # shellcheck disable=SC2086 # one word per package
  set -- $missing
  # What runs, and what a user who cannot run it is told to run as root: the same words.
  install="env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $*"
  command_line="apt-get update && $install"
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "install-deps: missing:$missing; no apt-get here: install them (or what the README lists for other systems) and run this again" >&2
    exit 1
  fi
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    # sudo only where it can ask for a password (a terminal) or needs none.
    if command -v sudo >/dev/null 2>&1 && { [ -t 0 ] || sudo -n true 2>/dev/null; }; then
      sudo=sudo
    else
      echo "install-deps: missing:$missing" >&2
      echo "install-deps: this user cannot install them; as root, run: $command_line" >&2
      exit 1
    fi
  fi
  echo "install-deps: installing$missing"
  # shellcheck disable=SC2086 # one word per package
  if ! { $sudo apt-get update && $sudo $install; }; then
    echo "install-deps: could not install$missing; as root, run: $command_line" >&2
    exit 1
  fi
fi

if $npm; then
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
    # Run by root in another user's checkout (sudo sh tools/install-deps.sh test),
    # the packages must stay the checkout owner's, or their next npm ci fails.
    owner=$(stat -c %u:%g package.json)
    if [ "$(id -u)" -eq 0 ] && [ "$owner" != 0:0 ]; then
      chown -R "$owner" node_modules
    fi
  fi
fi
