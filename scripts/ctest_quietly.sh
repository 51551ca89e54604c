#!/bin/sh
# Runs the tests of one build folder with CTest and prints one line per test
# program (CTest's time summary by label: each program's tests carry its
# name as their label), then CTest's closing lines. A failing test's output
# is printed in full, with every line CTest printed about it; the status is
# CTest's.
#
#   ctest_quietly.sh BUILD_DIR JOBS
set -u
build=$1
jobs=$2
log=$build/ctest.log
cd "$build" || exit 2
ctest --output-on-failure -j "$jobs" > ctest.log 2>&1
status=$?
if [ "$status" -ne 0 ]; then
  # Everything but the lines of tests that started and passed.
  grep -Ev '^ *Start +[0-9]+: |Test +#[0-9]+: .* +Passed +[0-9.]+ sec$' ctest.log
  echo "$build: tests FAILED; the whole CTest output is in $log"
  exit "$status"
fi
echo "$build:"
sed -n '/^Label Time Summary:/,/^$/p' ctest.log | sed '1d;/^$/d;s/^/  /'
grep -E '^[0-9]+% tests passed|^Total Test time' ctest.log
