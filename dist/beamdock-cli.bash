# bash completion for beamdock-cli
_beamdock_cli() {
  local cur prev words cword
  _init_completion || return

  case $prev in
    --dir) _filedir -d; return ;;
    --port) COMPREPLY=($(compgen -f -- "${cur:-/dev/tty}")); return ;;
    -o) _filedir '@(cfg|csv)'; return ;;
    --csv) _filedir csv; return ;;
    --span|--interval|--count) return ;;
  esac

  # The command is the first word that is neither an option nor an option's value.
  local i command=""
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      --dir|--port) ((i++)) ;;
      -*) ;;
      *) command=${words[i]}; break ;;
    esac
  done

  if [[ -z $command ]]; then
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W '--dir --port --trace --yes --help' -- "$cur"))
    else
      COMPREPLY=($(compgen -W 'identify read write hibernate log firmware calibrate readings eeprom test
        clear-peak bump zero-span power-off factory-reset ports doctor' -- "$cur"))
    fi
    return
  fi

  case $command in
    read) COMPREPLY=($(compgen -W '--json -o' -- "$cur")) ;;
    write) _filedir cfg ;;
    log) [[ $prev == log ]] && COMPREPLY=($(compgen -W 'export reset' -- "$cur")) || COMPREPLY=($(compgen -W '-o' -- "$cur")) ;;
    firmware) _filedir img ;;
    calibrate) COMPREPLY=($(compgen -W '--span' -- "$cur")) ;;
    readings) COMPREPLY=($(compgen -W '--interval --count --csv' -- "$cur")) ;;
    eeprom) COMPREPLY=($(compgen -W '-o --log' -- "$cur")) ;;
    test) COMPREPLY=($(compgen -W 'beep rled lled vibrator' -- "$cur")) ;;
    bump) COMPREPLY=($(compgen -W 'pass fail' -- "$cur")) ;;
  esac
}
complete -F _beamdock_cli beamdock-cli
