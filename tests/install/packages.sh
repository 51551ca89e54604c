#!/bin/sh
# The package test: the Debian packages of `make package` pass lintian, and
# installed with dpkg they work on a machine where the source and build
# trees cannot be reached; purged, they leave nothing behind.
#
#   packages.sh PACKAGE_BUILD_DIR
#
# Installing needs root; otherwise the packages are unpacked with dpkg -x
# into a private root and checked there.
set -eu
source=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/dravstream-packages.XXXXXX")
trap 'rm -rf "$work"' EXIT
debs="$build/dravstream_*.deb $build/libdravfeed0_*.deb $build/libdravfeed-dev_*.deb $build/python3-dravfeed_*.deb"
for deb in $debs; do
  [ -f "$deb" ] || { echo "packages: $deb is missing (make package)" >&2; exit 1; }
done

# shellcheck disable=SC2086
lintian --fail-on error $debs

cp -R "$source/tests/consumer" "$work/consumer"
cp "$source/tests/install/check_installed.sh" "$work/"
hidden_check() {  # check_installed.sh PREFIX, with both trees out of reach if possible
  status=0
  sh "$source/tests/install/hide_trees.sh" "$build" "$source" \
    sh "$work/check_installed.sh" "$1" "$work/consumer" || status=$?
  if [ "$status" -eq 77 ]; then
    echo "packages: checking with the trees in reach" >&2
    sh "$work/check_installed.sh" "$1" "$work/consumer"
  elif [ "$status" -ne 0 ]; then
    exit "$status"
  fi
}

if [ "$(id -u)" != 0 ]; then
  for deb in $debs; do dpkg -x "$deb" "$work/root"; done
  hidden_check "$work/root/usr"
  exit 0
fi

# Every file the packages hold, to check that purging removes them.
for deb in $debs; do dpkg-deb --fsys-tarfile "$deb" | tar -t; done |
  sed 's|^\./|/|' | grep -v '/$' > "$work/files"
for package in dravstream libdravfeed0 libdravfeed-dev python3-dravfeed; do
  if dpkg -s "$package" > /dev/null 2>&1; then
    echo "packages: $package is installed already; not touching it" >&2
    exit 1
  fi
done
purge() { dpkg --purge python3-dravfeed libdravfeed-dev dravstream libdravfeed0 > /dev/null; }
trap 'purge 2> /dev/null || true; rm -rf "$work"' EXIT
# shellcheck disable=SC2086
dpkg -i $debs > "$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; exit 1; }
hidden_check /usr
purge
left=$(while read -r file; do [ ! -e "$file" ] && [ ! -L "$file" ] || echo "$file"; done < "$work/files")
for dir in /usr/lib/*/dravstream /usr/share/dravstream /usr/include/dravfeed /usr/lib/*/cmake/dravfeed \
           /usr/lib/python3/dist-packages/dravfeed; do
  [ ! -e "$dir" ] || left="$left $dir"
done
[ -z "$left" ] || { echo "packages: left behind after purging: $left" >&2; exit 1; }
echo "packages: installed, checked and purged"
