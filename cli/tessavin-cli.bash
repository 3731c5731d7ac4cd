# Bash completion of tessavin-cli. The commands and options come from the
# program's own --help, so that completion knows every command it has.
_tessavin_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} prog=${COMP_WORDS[0]}
    local help words=() w i
    help=$("$prog" --help 2>/dev/null) || return 0
    # An option that takes a value, as the help lists it: "--port PORT", "-o, --output FILE".
    _tessavin_cli_valued() { grep -qE -- "(^|[ ,])$1( |, --[a-z0-9-]+ )[A-Z]" <<<"$help"; }
    for ((i = 1; i < COMP_CWORD; i++)); do
        w=${COMP_WORDS[i]}
        if [[ $w == -* ]]; then
            [[ $w != *=* ]] && _tessavin_cli_valued "$w" && ((i++))
        elif [[ ${help%%$'\n'*} == *"<command>"* ]]; then
            # A level that lists commands: the word picks one.
            words+=("$w")
            help=$("$prog" "${words[@]}" --help 2>/dev/null) || return 0
        fi
    done
    if [[ $prev == -* ]] && _tessavin_cli_valued "$prev"; then
        if grep -qE -- "(^|[ ,])$prev( |, --[a-z0-9-]+ )FILE" <<<"$help"; then
            COMPREPLY=($(compgen -f -- "$cur"))
        elif [[ $prev == --format ]]; then
            COMPREPLY=($(compgen -W "text jsonl csv" -- "$cur"))
        fi
        return 0
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(grep -oE -- '--[a-z0-9-]+' <<<"$help" | sort -u)" -- "$cur"))
    elif [[ ${help%%$'\n'*} == *"<command>"* ]]; then
        # The command lines under "Commands:" ("  log read  ..."): the next word of each.
        local n=$((${#words[@]} + 1))
        COMPREPLY=($(compgen -W "$(sed -n '/^Commands:/,/^$/p' <<<"$help" |
            awk -v n="$n" '/^  [^ ]/ && NF >= n { print $n }' | sort -u)" -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
    return 0
}
complete -F _tessavin_cli tessavin-cli
