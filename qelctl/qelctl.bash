# Bash completion of qelctl: its commands and options, the keys of set, and
# the values the running manager offers for each key (asked with
# `qelctl options --list KEY` on the port the command line names, for at
# most two seconds).
_qelctl()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]}
    local command= i word
    local -a port=()
    # The words before the cursor; "=" may stand as a word of its own.
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
            --port)
                if [[ ${COMP_WORDS[i + 1]} == = ]]; then
                    port=(--port "${COMP_WORDS[i + 2]}")
                    ((i += 2))
                else
                    port=(--port "${COMP_WORDS[i + 1]}")
                    ((i++))
                fi
                ;;
            --port=*) port=("$word") ;;
            --list | --timeout) ((i++)) ;;
            =) ((i++)) ;;
            -*) ;;
            *) [[ -z $command ]] && command=$word ;;
        esac
    done

    # KEY=VALUE of set and --list KEY: the key before "=" and the value after.
    local key= value= prefix=
    if [[ $prev == = && COMP_CWORD -ge 2 ]]; then
        key=${COMP_WORDS[COMP_CWORD - 2]}
        value=$cur
    elif [[ $cur == = ]]; then
        key=$prev
    elif [[ $cur == *=* ]]; then
        key=${cur%%=*}
        value=${cur#*=}
        prefix=$key=
    fi
    local keys="power audio rate bits latency channels interface asio-buffer asio-encoding asio-latency"
    if [[ $key == --list || $prev == --list ]]; then
        [[ $prev == --list ]] && value=$cur
        COMPREPLY=($(compgen -W "$keys" -- "$value"))
        return
    fi
    if [[ $key == --port || $key == --timeout || $prev == --port || $prev == --timeout ]]; then
        COMPREPLY=()
        return
    fi
    if [[ -n $key && $command == set ]]; then
        local values
        local -a limit=()
        command -v timeout >/dev/null && limit=(timeout 2)
        values=$("${limit[@]}" "$program" "${port[@]}" options --list "$key" 2>/dev/null)
        COMPREPLY=($(compgen -P "$prefix" -W "$values" -- "$value"))
        return
    fi

    if [[ $cur == -* ]]; then
        local options="--port -v --help --version"
        case $command in
            status | clear-error | watch) options+=" --json" ;;
            options) options+=" --json --list" ;;
            set) options+=" --dry-run --json" ;;
            wait) options+=" --running --timeout" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "status options set clear-error watch wait" -- "$cur"))
        return
    fi
    if [[ $command == set ]]; then
        COMPREPLY=($(compgen -S = -W "$keys" -- "$cur"))
        compopt -o nospace 2>/dev/null
    fi
} &&
    complete -F _qelctl qelctl
