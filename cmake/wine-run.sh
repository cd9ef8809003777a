#!/bin/sh
# Runs a Windows program under Wine: the emulator CTest starts the tests of a
# cross build through.
#   sh cmake/wine-run.sh PREFIX PROGRAM.exe ARGS...
# PREFIX is the Wine prefix (made on first use), with no debugging messages and
# no display.
set -e
WINEPREFIX=$1
shift
export WINEPREFIX WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
# The first program of a prefix starts the Wine server and Wine's own services,
# which inherit that program's standard streams and keep them open long after it
# ends: CTest would wait for them. Started here, detached from every stream, they
# serve every program, and stay a minute after the last one.
if wineserver -p60 </dev/null >/dev/null 2>&1; then
  wine cmd.exe /c rem </dev/null >/dev/null 2>&1 || true
fi
exec wine "$@"
