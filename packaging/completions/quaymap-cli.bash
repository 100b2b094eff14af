# bash completion for quaymap-cli: the commands, options and protocols of its usage text.
_quaymap_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} i words=()
    case ${COMP_WORDS[COMP_CWORD - 1]} in
    --router | --lease) return ;; # a URL, an address or a number of seconds
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '--json --router --verbose --lease --keep --check --help --version' -- "$cur")
        return
    fi
    # The words before this one that are neither options nor their values: the command first.
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        --router | --lease) ((i++)) ;;
        -*) ;;
        *) words+=("${COMP_WORDS[i]}") ;;
        esac
    done
    case ${#words[@]}:${words[0]-} in
    0:) mapfile -t COMPREPLY < <(compgen -W 'status list add delete keep forget' -- "$cur") ;;
    1:keep) mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;; # the keep file
    3:add | 2:delete | 2:forget) mapfile -t COMPREPLY < <(compgen -W 'tcp udp both' -- "$cur") ;;
    esac
}
complete -F _quaymap_cli quaymap-cli
