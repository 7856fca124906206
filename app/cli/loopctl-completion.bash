# bash completion for loopctl: its commands, options, and the COM numbers
# that have a device (from `loopctl ports`).
_loopctl() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --port)
            local ports
            ports=$("${COMP_WORDS[0]}" ports 2>/dev/null | awk '{ sub("COM", "", $1); print $1 }')
            COMPREPLY=($(compgen -W "$ports" -- "$cur"))
            return ;;
        --device)
            COMPREPLY=($(compgen -f -- "${cur:-/dev/tty}"))
            return ;;
        --settings|--from|config-diff|--record|--report)
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --tcp|--timeout|--retries|--interval|--count|--points|--tolerance|--tag|--operator|--reference|--source-cmd|--steady)
            return ;;
        --channel)
            COMPREPLY=($(compgen -W "1 2" -- "$cur"))
            return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--port --device --tcp --timeout --retries --verify --json --settings --from --interval --count --csv --no-derived --channel --points --tolerance --adjust --record --report --tag --operator --reference --source-cmd --steady --help" -- "$cur"))
        return
    fi
    local word
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        case $word in adc|config-read|config-write|ports|watch|config-diff|calibrate) return ;; esac
    done
    COMPREPLY=($(compgen -W "adc config-read config-write ports watch config-diff calibrate" -- "$cur"))
}
complete -F _loopctl loopctl
