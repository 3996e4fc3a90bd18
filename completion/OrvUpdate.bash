# bash completion for OrvUpdate plan|run RELEASE [options]

_orvupdate() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    if [ "$COMP_CWORD" -eq 1 ]; then
        mapfile -t COMPREPLY < <(compgen -W "plan run --help" -- "$cur")
        return 0
    fi
    case $prev in
        --jobs | --retries) return 0 ;;
        --tool | --report) mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return 0 ;;
        --log-dir) mapfile -t COMPREPLY < <(compgen -d -- "$cur"); return 0 ;;
    esac
    if [[ $cur == -* ]]; then
        local options="--tool --log-dir --jobs --help"
        case ${COMP_WORDS[1]} in
            plan) options+=" --probe" ;;
            run) options+=" --report --force --verify --retries" ;;
        esac
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return 0
    fi
    # The release file: TOML files and directories.
    mapfile -t COMPREPLY < <(compgen -f -X '!*.toml' -- "$cur"; compgen -d -- "$cur")
    return 0
}

complete -o filenames -F _orvupdate OrvUpdate
