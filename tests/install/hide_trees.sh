#!/bin/sh
# Runs a command with the given folders out of reach:
#
#   hide_trees.sh BUILD_DIR SOURCE_DIR COMMAND [ARG...]
#
# An empty folder is mounted over each, in a mount namespace of the command
# alone (unshare), so a path compiled in from either tree finds nothing.
# Exits 77 when no mount namespace can be made (no root, no user
# namespaces), without running the command.
set -eu
hide='mount -t tmpfs none "$1" && mount -t tmpfs none "$2" && shift 2 && exec "$@"'
if unshare --mount true 2> /dev/null; then
  exec unshare --mount sh -c "$hide" hide "$@"
elif unshare --map-root-user --mount true 2> /dev/null; then
  exec unshare --map-root-user --mount sh -c "$hide" hide "$@"
fi
echo "hide_trees: no mount namespace (unshare) to hide $1 and $2 in" >&2
exit 77
