# Bash completion of tessavin-cli. The commands, options and formats come from
# the program's own --help, so that completion knows every command it has and
# offers each command only its own options; the ports come from 'ports'.
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
        elif [[ $i == 1 && $w == help ]]; then
            # "help COMMAND": the words after it are a command, as without it.
            continue
        elif [[ ${help%%$'\n'*} == *"<command>"* ]]; then
            # A level that lists commands: the word picks one.
            words+=("$w")
            help=$("$prog" "${words[@]}" --help 2>/dev/null) || return 0
        fi
    done
    if [[ $prev == -* ]] && _tessavin_cli_valued "$prev"; then
        if [[ $prev == --port ]]; then
            # The paths of the ports the system lists.
            COMPREPLY=($(compgen -W "$("$prog" ports --format jsonl 2>/dev/null |
                sed -nE 's/.*"path":"([^"]*)".*/\1/p')" -- "$cur"))
        elif [[ $prev == --format ]]; then
            # The command's own formats ("Formats: text, jsonl."); all three before a command.
            local formats
            formats=$(sed -nE 's/^Formats: (.*)\.$/\1/p' <<<"$help" | tr -d ',')
            COMPREPLY=($(compgen -W "${formats:-text jsonl csv}" -- "$cur"))
        elif grep -qE -- "(^|[ ,])$prev( |, --[a-z0-9-]+ )FILE" <<<"$help"; then
            COMPREPLY=($(compgen -f -- "$cur"))
        fi
        return 0
    fi
    if [[ $cur == -* ]]; then
        # The option rows of the help ("  -o, --output FILE", "      --port PORT"),
        # not options its texts mention.
        COMPREPLY=($(compgen -W "$(grep -oE -- '^  (-[a-zA-Z], |    )--[a-z0-9-]+' <<<"$help" |
            grep -oE -- '--[a-z0-9-]+' | sort -u)" -- "$cur"))
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
