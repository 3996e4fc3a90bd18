# bash completion for OrvFlashPuc <comm_board> <BusID> <command> [arguments]
# Board names and keywords match without regard to case, as the tool reads them.

# The machine's CAN interfaces: network devices of type 280 (ARPHRD_CAN).
_orvflashpuc_can_interfaces() {
    local dir
    for dir in "${_orvflashpuc_net_dir:-/sys/class/net}"/*; do
        [ "$(cat "$dir/type" 2>/dev/null)" = 280 ] && printf '%s\n' "${dir##*/}"
    done
}

_orvflashpuc_boards() {
    local n iface
    for n in $(seq 0 15); do printf 'CCB%s\n' "$n"; done
    printf '%s\n' HPCRIGHT HPCLEFT NICAN USBLIGHT Ethernet2CAN:
    for iface in $(_orvflashpuc_can_interfaces); do printf 'SocketCAN:%s\n' "$iface"; done
}

# Adds the words from standard input that begin with $1, compared without regard to case.
_orvflashpuc_add_matching() {
    local word prefix=${1,,}
    while IFS= read -r word; do
        [[ ${word,,} == "$prefix"* ]] && COMPREPLY+=("$word")
    done
}

# Files whose names end in one of the given suffixes (any case), and directories.
_orvflashpuc_add_files() {
    local cur=$1 file
    shift
    while IFS= read -r file; do
        local suffix
        for suffix in "$@"; do
            if [ -d "$file" ] || [[ ${file,,} == *"$suffix" ]]; then
                COMPREPLY+=("$file")
                break
            fi
        done
    done < <(compgen -f -- "$cur")
}

_orvflashpuc() {
    # Words split on blanks only, so that a route such as Ethernet2CAN:host stays one word.
    local line=${COMP_LINE:0:COMP_POINT} words cur
    read -r -a words <<<"$line"
    [[ $line == *[[:space:]] ]] && words+=("")
    cur=${words[-1]}
    local position=$((${#words[@]} - 1))
    COMPREPLY=()
    case $position in
        1) _orvflashpuc_add_matching "$cur" < <(_orvflashpuc_boards) ;;
        2) _orvflashpuc_add_matching "$cur" <<<0 ;;
        3) _orvflashpuc_add_matching "$cur" < <(printf '%s\n' DnlPUC DnlHT DnlHTpdo VerPUC \
               ToBoot GetInfoPUC ToApp Scan SetIdPUC IDENTIFY) ;;
        5)
            case ${words[3],,} in
                dnlpuc | dnlht | verpuc) _orvflashpuc_add_files "$cur" .hex ;;
                dnlhtpdo | identify)
                    _orvflashpuc_add_files "$cur" .lst
                    [ ${#COMPREPLY[@]} -gt 0 ] || mapfile -t COMPREPLY < <(compgen -f -- "$cur")
                    ;;
            esac
            ;;
    esac
    # Bash splits words at colons too: hand back only what follows the last colon of the word.
    if [[ $cur == *:* && $COMP_WORDBREAKS == *:* ]]; then
        local i
        for i in "${!COMPREPLY[@]}"; do COMPREPLY[i]=${COMPREPLY[i]#"${cur%:*}":}; done
    fi
    [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *: ]] && compopt -o nospace 2>/dev/null
    return 0
}

complete -o filenames -F _orvflashpuc OrvFlashPuc
