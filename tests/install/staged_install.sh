#!/bin/sh
# The install test: installs a build tree into a staging prefix, hides the
# build and source trees, and checks the installation there.
#
#   staged_install.sh BUILD_DIR SOURCE_DIR [COMPILER_FLAGS]
#
# The trees are hidden with hide_trees.sh; where that is not possible the
# test is skipped (77).
set -eu
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
flags=${3:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/dravstream-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
case "$work/" in
  "$build"/* | "$source"/*) echo "staged_install: TMPDIR lies inside the trees" >&2; exit 1 ;;
esac

cmake --install "$build" --prefix "$work/stage" > "$work/install.log" ||
  { cat "$work/install.log" >&2; exit 1; }
# Installed for one user (make install PREFIX=~/.local), the Python package
# is found by Debian's python3 with no PYTHONPATH.
cmake --install "$build" --component python --prefix "$work/home/.local" > "$work/install.log" ||
  { cat "$work/install.log" >&2; exit 1; }
found=$(cd / && env -u PYTHONPATH -u PYTHONNOUSERSITE HOME="$work/home" PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 -c 'import dravfeed; print(dravfeed.__file__)' 2>&1) || true
case $found in
  "$work/home/.local/"*) ;;
  *) echo "staged_install: installed in ~/.local, dravfeed is not what python3 imports: $found" >&2; exit 1 ;;
esac
# What the check needs from the source tree goes beside the staging prefix.
cp -R "$source/tests/consumer" "$work/consumer"
cp "$source/tests/install/check_installed.sh" "$work/"
# The installed catalog gets a text of its own, so that a message from any
# other catalog shows.
catalog="$work/stage/share/dravstream/catalogs/korvel.err"
sed 's/^2278	.*/2278	The installed catalog refuses this name:/' "$catalog" > "$work/korvel.err"
cp "$work/korvel.err" "$catalog"

sh "$source/tests/install/hide_trees.sh" "$build" "$source" \
  sh "$work/check_installed.sh" "$work/stage" "$work/consumer" "$flags"
