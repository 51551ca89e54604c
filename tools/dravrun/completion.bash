# bash completion for dravrun. The option names come from `dravrun --help`,
# so they follow the program; only the values of options are listed here.
_dravrun() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    -f|--file|--plugin|--dictionary-file) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --catalogs) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --output) COMPREPLY=($(compgen -W "csv tsv jsonl table markdown raw none" -- "$cur")); return ;;
    --dictionary) COMPREPLY=($(compgen -W "text json" -- "$cur")); return ;;
    --passes|--seek|--limit|--summary-every|--columns|--na) COMPREPLY=(); return ;;
  esac
  if [[ $cur == -* ]]; then
    local options
    options=$("$1" --help 2>/dev/null | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u)
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _dravrun dravrun
