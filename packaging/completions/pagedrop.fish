# SPDX-License-Identifier: MIT
# fish completion for pagedrop(1): pagedrop FILE, or pagedrop -n COUNT FILE.
# -n counts only as the first of three arguments; a count is not completed.

function __pagedrop_wants_file
    set -l t (commandline -opc)
    test (count $t) -eq 1; or test (count $t) -eq 3 -a "x$t[2]" = x-n
end

complete -c pagedrop -f
# Given as a word, -n shows before a dash is typed.
complete -c pagedrop -n 'test (count (commandline -opc)) -eq 1' -a -n -d 'Give the advice COUNT times'
complete -c pagedrop -n __pagedrop_wants_file -F
