#!/bin/bash
# The bash completions against the tools' own --help:
#
#   completions.sh BIN_DIR SOURCE_DIR
#
# Every option --help lists is offered; every option that takes a value has
# its own branch in the completion (a file, a folder, a choice, or nothing
# to offer), so its value is never completed as an option name; and an
# option whose bad value is refused with a list of choices ("expects csv,
# tsv or none", "takes native or swapped") completes exactly those choices.
# Prints each mismatch; exits non-zero if there is one.
set -u
bin=$1
source=$2
failed=0
fail() { echo "completions: $*" >&2; failed=1; }

# The completion of the last of the words after the tool's name, one a line.
complete_last() {
  local tool=$1
  shift
  COMP_WORDS=("$tool" "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  "_$tool" "$bin/$tool" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
  [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort -u
}

for tool in dravrun dravfeed; do
  script="$source/tools/$tool/completion.bash"
  # shellcheck disable=SC1090
  . "$script"
  help=$("$bin/$tool" --help) || { fail "$tool --help failed"; continue; }
  # Option lines: two blanks, the option (after a short form), and for a
  # valued option one blank and its value's name.
  options=$(sed -nE 's/^  (-[a-z], )?(--[a-z][a-z-]*).*/\2/p' <<< "$help" | sort -u)
  valued=$(sed -nE 's/^  (-[a-z], )?(--[a-z][a-z-]*) [^ ].*/\2/p' <<< "$help" | sort -u)
  [ -n "$valued" ] || fail "$tool --help lists no option with a value"
  offered=$(complete_last "$tool" --)
  for option in $options; do
    grep -qx -- "$option" <<< "$offered" || fail "$tool: $option is not offered"
  done
  # The options the completion's case branches name.
  branches=$(sed -nE 's/^ *([-|a-z]+)\).*/\1/p' "$script" | tr '|' '\n')
  for option in $valued; do
    grep -qx -- "$option" <<< "$branches" || { fail "$tool: the value of $option has no branch"; continue; }
    message=$("$bin/$tool" "$option" '@bad@' 2>&1 < /dev/null)
    choices=$(sed -nE 's/.*(expects|takes) ([a-z]+(, [a-z]+)* or [a-z]+)(,| not).*/\2/p' <<< "$message" |
              sed 's/,* or /, /' | tr -d ',' | tr ' ' '\n' | sort -u)
    [ -n "$choices" ] || continue
    completed=$(complete_last "$tool" "$option" '')
    [ "$completed" = "$choices" ] ||
      fail "$tool $option completes [$(echo $completed)], --help's program takes [$(echo $choices)]"
  done
done
exit $failed
