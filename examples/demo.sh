#!/bin/sh
# The demo behind `make demo`: dravfeed serves the bundled weather readings
# over a named pipe and dravrun reads them, first the opening cases as a
# table, then a summary of every reading.
#
#   sh examples/demo.sh [BUILD_DIR]        (default: build)
set -u
bin=${1:-build}/bin
examples=$(cd "$(dirname "$0")" && pwd)
for tool in dravrun dravfeed; do
  if [ ! -x "$bin/$tool" ]; then
    echo "demo: $bin/$tool is missing; build first (make build)" >&2
    exit 2
  fi
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/dravstream-demo.XXXXXX") || exit 2
feeder=
stop_feeder() {
  if [ -n "$feeder" ]; then
    kill "$feeder" 2>/dev/null
    wait "$feeder" 2>/dev/null
    feeder=
  fi
}
trap 'stop_feeder; rm -rf "$tmp"' EXIT
trap 'exit 130' INT TERM

# The command names /tmp/weather.pipe; the demo uses a private folder.
sed "s|/tmp/weather.pipe|$tmp/weather.pipe|" "$examples/weather.cmd" > "$tmp/weather.cmd"
# dravfeed takes the same variable list as the command.
variables=$(tr '\n' ' ' < "$examples/weather.cmd" | sed 's/.*\/VARIABLES *= *//; s/ *\. *$//')

# One feeder for each run of dravrun; every step has a time limit.
read_stream() {
  timeout 60 "$bin/dravfeed" --pipe "$tmp/weather.pipe" --variables "$variables" \
    --csv "$examples/weather.csv" --header &
  feeder=$!
  timeout 60 "$bin/dravrun" --no-progress -f "$tmp/weather.cmd" "$@"
  status=$?
  stop_feeder
  if [ "$status" -ne 0 ]; then
    echo "demo: dravrun $* ended with status $status" >&2
    exit 1
  fi
}

echo "The first 20 of the bundled weather readings ($examples/weather.csv):"
echo
read_stream --output table --limit 20
echo
echo "Summary of all readings:"
echo
read_stream --output none --summary
