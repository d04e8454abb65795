# SPDX-License-Identifier: MIT
# bash completion for pagedrop(1): pagedrop FILE, or pagedrop -n COUNT FILE.
# -n counts only as the first of three arguments; a count is not completed.
_pagedrop()
{
    local cur prev words cword
    _init_completion || return

    case $cword in
        1)
            COMPREPLY=($(compgen -W '-n' -- "$cur"))
            _filedir
            ;;
        3)
            [[ ${words[1]} == -n ]] && _filedir
            ;;
    esac
} &&
    complete -F _pagedrop pagedrop
