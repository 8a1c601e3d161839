# SPDX-License-Identifier: GPL-3.0-or-later
# bash completion for qx77zt
_qx77zt() {
    local cur prev words cword
    _init_completion || return
    local commands="list status get set save load defaults update reset label diag events monitor help"
    local keys="preset= mute= sum= dif= dim= gain.left= gain.right= source.left= source.right=
        ballistics= brightness= peakhold= scale="
    local command="" w
    for w in "${words[@]:1:cword-1}"; do
        case $w in
        list | status | get | set | save | load | defaults | update | reset | label | diag | events | monitor | help)
            command=$w
            break
            ;;
        esac
    done
    if [[ $prev == --serial || $prev == --unit || $prev == --since || $prev == --until ]]; then
        return
    fi
    if [[ $prev == --kind ]]; then
        COMPREPLY=($(compgen -W "alarm-raised alarm-cleared connected disconnected boot-loader
            update-start update-end setting over over-ack summary program" -- "$cur"))
        return
    fi
    if [[ $cur == -* ]]; then
        local options="--json --serial --help"
        case $command in
        "") options+=" --demo --version" ;;
        list) ;;
        label) options+=" --clear --profile --no-profile" ;;
        diag | monitor) options="--help" ;;
        events) options="--json --unit --kind --since --until --demo --help" ;;
        *) options+=" --demo" ;;
        esac
        [[ $command == status ]] && options+=" --watch"
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case $command in
    "")
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        ;;
    set)
        if [[ $cur == *=* ]]; then
            local key=${cur%%=*} values=""
            case $key in
            preset) values="1 2 3 4" ;;
            mute | sum | dif) values="on off" ;;
            dim) values="off -20dB +20dB" ;;
            ballistics) values="VU PPM" ;;
            brightness) values="10% 30% 50% 100%" ;;
            peakhold) values="OFF Peak TruePeak" ;;
            scale) values="dB dBFS" ;;
            source.left | source.right)
                values="SDI#1 SDI#2 SDI#3 SDI#4 SDI#5 SDI#6 SDI#7 SDI#8 SDI#9 SDI#10 SDI#11
                    SDI#12 SDI#13 SDI#14 SDI#15 SDI#16 ANALOGL ANALOGR"
                ;;
            esac
            COMPREPLY=($(compgen -P "$key=" -W "$values" -- "${cur#*=}"))
        else
            compopt -o nospace
            COMPREPLY=($(compgen -W "$keys" -- "$cur"))
        fi
        ;;
    save | load)
        _filedir cfg
        ;;
    label)
        [[ $prev == --profile ]] && _filedir cfg
        ;;
    update)
        _filedir orbu
        ;;
    help)
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        ;;
    esac
} &&
    complete -F _qx77zt qx77zt
