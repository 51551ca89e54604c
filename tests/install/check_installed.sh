#!/bin/sh
# Checks an installation of dravstream as a user meets it:
#
#   check_installed.sh PREFIX CONSUMER_SOURCE [COMPILER_FLAGS]
#
# The tools run from PREFIX with no option and no configuration: dravrun
# loads the installed plug-in and reads a pipe stream from dravfeed; a
# refused command gets its text from the installed catalog, which
# DRAVSTREAM_CATALOGS can replace; --help, the man pages and the bash
# completions work. The Python package dravfeed serves a DataFrame from
# its installed folder. The feeder library is a shared library with a SONAME
# that needs nothing of the server's runtime, and a program built against it
# with find_package and again with pkg-config serves cases to dravrun.
# COMPILER_FLAGS go to those builds (the sanitizer flags of the tree tested).
#
# The callers hide the source and build trees first, so that nothing can be
# found there. Prints what failed; exits non-zero on the first failure.
set -eu
prefix=$1
consumer_source=$2
flags=${3:-}
export PATH="$prefix/bin:$PATH"
work=$(mktemp -d "${TMPDIR:-/tmp}/dravstream-check.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "check_installed: $*" >&2; exit 1; }
contains() { grep -qF -- "$2" "$1" || fail "$1 lacks \"$2\":$(printf '\n'; cat "$1")"; }
one_path() {  # the path under $prefix matching a find expression
  # (/usr/local is another installation's, when the prefix is /usr)
  found=$(find "$prefix" -path "$prefix/local" -prune -o \( "$@" \) -print | head -n 1)
  [ -n "$found" ] || fail "nothing under $prefix matches $*"
  echo "$found"
}

# ---- The tools' documentation ----------------------------------------------
for tool in dravrun dravfeed; do
  "$prefix/bin/$tool" --help > "$work/help" || fail "$tool --help failed"
  contains "$work/help" "Usage: $tool"
  MANPAGER=cat MANWIDTH=80 man -l "$(one_path -path "*/man1/$tool.1*")" > "$work/man" 2>&1 ||
    fail "man -l $tool.1 failed: $(cat "$work/man")"
  contains "$work/man" "$tool - "
  contains "$work/man" "--version"
  # EXAMPLES: one command a line, so that a line copied runs as it stands,
  # and only files the installation has.
  MANPAGER=cat MANWIDTH=1000 man -l "$(one_path -path "*/man1/$tool.1*")" 2> /dev/null |
    awk '/^[A-Z]/ { inside = /^EXAMPLES/; next } inside' > "$work/examples"
  grep -q "$tool " "$work/examples" || fail "the man page of $tool shows no example"
  if grep -E '\\$|(^|[ &;|]) *drav(run|feed) .*[&;|] *drav(run|feed) ' "$work/examples"; then
    fail "the man page of $tool runs commands together:$(printf '\n'; cat "$work/examples")"
  fi
  for cited in $(grep -oE '[^ ]*examples/[^ ]*' "$work/examples" | sort -u); do
    case $cited in
      */dravstream/examples/*) one_path -path "*/dravstream/examples/${cited##*/}" > /dev/null ;;
      *) fail "the man page of $tool cites $cited, which no installation has" ;;
    esac
  done
done
# Completions: option names (taken from --help) and the values of an option.
completions="$(one_path -path '*/bash-completion/completions/dravrun' -o -path '*/bash-completion/completions/dravfeed' | xargs dirname)"
bash -c '
  . "$1/dravrun"; . "$1/dravfeed"
  COMP_WORDS=(dravrun --outp); COMP_CWORD=1; _dravrun dravrun --outp dravrun; echo "${COMPREPLY[*]}"
  COMP_WORDS=(dravrun --output t); COMP_CWORD=2; _dravrun dravrun t --output; echo "${COMPREPLY[*]}"
  COMP_WORDS=(dravfeed --rew); COMP_CWORD=1; _dravfeed dravfeed --rew dravfeed; echo "${COMPREPLY[*]}"
' completion "$completions" > "$work/completions" 2>&1
[ "$(cat "$work/completions")" = "--output
tsv table
--rewind-pipe" ] || fail "completions gave: $(cat "$work/completions")"

# ---- dravrun with dravfeed over a pipe -----------------------------------------
# Starts `$@` (a feeder that creates $work/cases) in the background and waits
# for its pipe.
start_feeder() {
  rm -f "$work/cases"
  timeout 60 "$@" &
  feeder=$!
  tries=0
  until [ -p "$work/cases" ]; do
    tries=$((tries + 1))
    [ "$tries" -lt 600 ] || fail "no pipe from $*"
    kill -0 "$feeder" 2>/dev/null || fail "$* ended before making its pipe"
    sleep 0.05
  done
}
end_feeder() {
  wait "$feeder" || fail "the feeder $1 ended with status $?"
}
command="GET DATA /TYPE = STREAM /PIPE = '$work/cases' /VARIABLES = id F8 name A6."

start_feeder dravfeed --pipe "$work/cases" --variables "id F8 name A6" --generate 3
timeout 60 dravrun --no-progress "$command" > "$work/out" 2> "$work/err" ||
  fail "dravrun failed: $(cat "$work/err")"
end_feeder dravfeed
[ "$(cat "$work/out")" = "id,name
0,c0
1,c1
2,c2" ] || fail "dravrun printed: $(cat "$work/out")"
contains "$work/err" "3 cases"

# ---- The Python package, fed a DataFrame as the README shows -------------------
python_dir=$(dirname "$(dirname "$(one_path -path '*/dravfeed/__init__.py')")")
cat > "$work/feed.py" <<'EOF'
import sys
import pandas as pd
import dravfeed
frame = pd.DataFrame({"id": [1, 2], "name": ["first", "second"]})
assert dravfeed.__file__.startswith(sys.argv[2]), dravfeed.__file__
dravfeed.serve_pipe(frame, dravfeed.variables_for(frame), sys.argv[1])
EOF
start_feeder env PYTHONPATH="$python_dir" PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 \
  "$work/feed.py" "$work/cases" "$python_dir"
timeout 60 dravrun --no-progress \
  "GET DATA /TYPE = STREAM /PIPE = '$work/cases' /VARIABLES = id F12 name A6." > "$work/out" 2> "$work/err" ||
  fail "dravrun reading the Python feeder failed: $(cat "$work/err")"
end_feeder "the Python feeder"
[ "$(cat "$work/out")" = "id,name
1,first
2,second" ] || fail "dravrun printed from the Python feeder: $(cat "$work/out")"

# ---- Message texts from the installed catalogs --------------------------------
catalog=$(one_path -path '*/dravstream/catalogs/korvel.err')
text=$(sed -n 's/^2278	//p' "$catalog")
[ -n "$text" ] || fail "$catalog has no text for 2278"
refused="GET DATA /TYPE = STREAM /PIPE = '$work/cases' /VARIABLES = 1d F8."
status=0
dravrun "$refused" > /dev/null 2> "$work/err" || status=$?
[ "$status" -eq 1 ] || fail "a refused command exited $status: $(cat "$work/err")"
[ "$(cat "$work/err")" = "error: [2278] $text 1d" ] || fail "the refusal read: $(cat "$work/err")"
# The feeders refuse the same list with the same message: the feeder library
# with the texts it was built with, the Python package from these catalogs.
dravfeed --socket 0 --generate 1 --variables "1d F8" > /dev/null 2> "$work/err" || true
contains "$work/err" "dravfeed: [2278] "
env PYTHONPATH="$python_dir" /usr/bin/python3 -c 'import dravfeed; dravfeed.Variables("1d F8")' 2> "$work/err" || true
contains "$work/err" "[2278] $text 1d"
# DRAVSTREAM_CATALOGS replaces the installed folder; a folder without the
# catalog still gives a message that says where it looked.
mkdir "$work/catalogs"
printf '2278\tOur own text for a bad name:\n' > "$work/catalogs/korvel.err"
DRAVSTREAM_CATALOGS="$work/catalogs" dravrun "$refused" > /dev/null 2> "$work/err" || true
[ "$(cat "$work/err")" = "error: [2278] Our own text for a bad name: 1d" ] ||
  fail "with DRAVSTREAM_CATALOGS the refusal read: $(cat "$work/err")"
DRAVSTREAM_CATALOGS="$work/none" dravrun "$refused" > /dev/null 2> "$work/err" || true
contains "$work/err" "The message catalog korvel.err could not be read from $work/none"

# ---- The feeder library ----------------------------------------------------------
library=$(one_path -name 'libdravfeed.so.*.*')
readelf -d "$library" > "$work/dynamic"
contains "$work/dynamic" "Library soname: [libdravfeed.so.0]"
if grep -q dravhost "$work/dynamic"; then fail "libdravfeed needs the host runtime: $(cat "$work/dynamic")"; fi
plugin=$(one_path -path '*/dravstream/libdravstream.so')
readelf -d "$plugin" > "$work/dynamic"
if grep -q SONAME "$work/dynamic"; then fail "the plug-in has a SONAME"; fi

consumer_run() {  # serves the consumer's cases to dravrun
  start_feeder "$1" "$work/cases"
  timeout 60 dravrun --no-progress "$command" > "$work/out" 2> "$work/err" ||
    fail "dravrun reading $1 failed: $(cat "$work/err")"
  end_feeder "$1"
  [ "$(cat "$work/out")" = "id,name
1,first
2,second
,third-" ] || fail "dravrun printed from $1: $(cat "$work/out")"
}

cmake -S "$consumer_source" -B "$work/find-package" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="$flags" > "$work/log" 2>&1 || fail "find_package(dravfeed) failed: $(cat "$work/log")"
cmake --build "$work/find-package" > "$work/log" 2>&1 || fail "the consumer did not build: $(cat "$work/log")"
consumer_run "$work/find-package/serve_cases"
# The version file refuses a newer major version than the one installed.
if cmake -S "$consumer_source" -B "$work/too-new" -DCMAKE_PREFIX_PATH="$prefix" \
     -DDRAVFEED_VERSION=1.0 > "$work/log" 2>&1; then
  fail "find_package(dravfeed 1.0) accepted version 0"
fi

PKG_CONFIG_PATH=$(dirname "$(one_path -name dravfeed.pc)")
export PKG_CONFIG_PATH
libdir=$(pkg-config --variable=libdir dravfeed)
# shellcheck disable=SC2046,SC2086
c++ -std=c++17 $flags -o "$work/serve_cases" "$consumer_source/serve_cases.cpp" \
  $(pkg-config --cflags --libs dravfeed) -Wl,-rpath,"$libdir" > "$work/log" 2>&1 ||
  fail "the consumer did not build with pkg-config: $(cat "$work/log")"
consumer_run "$work/serve_cases"
echo "check_installed: $prefix works"
