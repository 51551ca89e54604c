#!/bin/sh
# Runs one step of `make demo` or `make test` with its output in a log: one
# line when it works; when it fails, the end of the log, where compilers and
# tools put the error, and where the whole log is.
#
#   quietly.sh LOG WHAT COMMAND [ARGUMENT...]
set -u
log=$1
what=$2
shift 2
mkdir -p "$(dirname "$log")"
if "$@" > "$log" 2>&1; then
  echo "$what: done"
  exit 0
else
  status=$?
  tail -n 60 "$log"
  echo "$what: FAILED (status $status); the whole output is in $log"
  exit "$status"
fi
