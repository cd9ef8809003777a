#!/bin/sh
# Run by ctest after the tests (CTestCustom.cmake in the build folder): names every
# test that skipped and why, which ctest's own summary leaves out. $1 is the build
# folder; GoogleTest writes a skip's reason between "Skipped" and "[  SKIPPED ]".
# While ctest runs, the log of this run is still LastTest.log.tmp.
log=$1/Testing/Temporary/LastTest.log.tmp
[ -r "$log" ] || log=$1/Testing/Temporary/LastTest.log
[ -r "$log" ] || exit 0
awk '
  /^[0-9]+\/[0-9]+ Testing: / { name = substr($0, index($0, ": ") + 2); skipping = 0 }
  /: Skipped$/ { skipping = 1; reason = ""; next }
  skipping && /^\[  SKIPPED \]/ { print "skipped: " name ": " reason; skipping = 0; next }
  skipping { reason = reason (reason == "" ? "" : " ") $0 }
' "$log"
