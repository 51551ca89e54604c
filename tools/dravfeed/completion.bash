# bash completion for dravfeed. The option names come from `dravfeed --help`,
# so they follow the program; only the values of options are listed here.
_dravfeed() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    --pipe|--rewind-pipe|--csv|--capture|--replay) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --byte-order) COMPREPLY=($(compgen -W "native swapped" -- "$cur")); return ;;
    --nats-nkey|--nats-creds|--nats-ca|--nats-cert|--nats-key) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --storage) COMPREPLY=($(compgen -W "file memory" -- "$cur")); return ;;
    --start) COMPREPLY=($(compgen -W "end" -- "$cur")); return ;;
    --replicas|--max-age|--max-bytes) COMPREPLY=(); return ;;
    --socket|--bind|--variables|--generate|--linger|--rate|--memory) COMPREPLY=(); return ;;
    --from|--publish|--info) COMPREPLY=($(compgen -W "nats:// tls://" -- "$cur")); return ;;
    --delimiter|--comment|--skip|--null|--infer-rows) COMPREPLY=(); return ;;
    --date-format) COMPREPLY=($(compgen -W "%Y-%m-%d %d-%b-%y %d/%m/%Y %m/%d/%Y" -- "$cur")); return ;;
  esac
  local options
  options=$("$1" --help 2>/dev/null | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u)
  COMPREPLY=($(compgen -W "$options" -- "$cur"))
}
complete -F _dravfeed dravfeed
