#!/bin/bash
# SPDX-License-Identifier: MIT
# The shell completions, as bash (with bash-completion), zsh (compinit) and
# fish each load and run them, against a folder of known files:
#   completions.sh completions BINARY [BUILD-DIR]  the source tree's files,
#       then, given a build, those that cmake --install puts in a scratch
#       prefix (BINARY, which no completion runs, is tests/groups' due);
#   completions.sh --installed PREFIX  those installed in PREFIX.
# An installed tree must hold each file, the same as the source tree's, at
# its shell's own place: zsh's in a folder of zsh's own fpath under PREFIX
# (for a build, its PAGEDROP_ZSH_COMPLETIONS_DIR). Each shell
# finds the file by its own lookup: bash-completion's loader, zsh's fpath,
# fish's fish_complete_path. A missing shell skips (77), naming its package.
set -u
src=$(cd "$(dirname "$0")/.." && pwd) fail=0 missing=()
# shellcheck source=tests/lib.sh
. "$src/tests/lib.sh"
scratch

bad() { printf 'FAIL: %s\n' "$*"; fail=1; }

# The command line so far, then the candidates wanted, in C order; a folder
# is given without its slash.
cases=$(cat <<'EOF'
pagedrop |-n -n.dat alpha beta.bin dir
pagedrop -|-n -n.dat
pagedrop -n|-n -n.dat
pagedrop a|alpha
pagedrop -n |
pagedrop -n 2|
pagedrop -n 2 |-n.dat alpha beta.bin dir
pagedrop -n 2 b|beta.bin
pagedrop -n 2 -|-n.dat
pagedrop alpha |
pagedrop alpha b|
pagedrop -x 2 |
pagedrop -n 2 alpha |
pagedrop -n 2 alpha b|
EOF
)
mapfile -t lines < <(cut -d '|' -f 1 <<<"$cases")
mapfile -t wants < <(cut -d '|' -f 2 <<<"$cases")

mkdir "$t/files" "$t/home" && cd "$t/files" || exit 1
touch alpha beta.bin ./-n.dat
mkdir dir
mkdir "$t/bin" && printf '#!/bin/sh\n' >"$t/bin/pagedrop" && chmod 755 "$t/bin/pagedrop"
export HOME=$t/home XDG_CONFIG_HOME=$t/home/.config XDG_DATA_HOME=$t/home/.local/share

# bashcomp DIR LINE...: for each LINE, the candidates of the function that
# bash-completion's loader finds for pagedrop, with DIR its user folder, as
# bash calls it: with COMP_WORDS, COMP_CWORD, COMP_LINE and COMP_POINT.
bashcomp() {
	bash --norc --noprofile -c '
	. /usr/share/bash-completion/bash_completion
	_completion_loader pagedrop
	def=$(complete -p pagedrop) || exit 1
	f=${def#*-F } f=${f%% *}
	for COMP_LINE; do
		read -ra COMP_WORDS <<<"$COMP_LINE"
		[[ $COMP_LINE != *" " ]] || COMP_WORDS+=("")
		COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_POINT=${#COMP_LINE} COMPREPLY=()
		"$f" pagedrop "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
		printf ">"
		printf "%s " "${COMPREPLY[@]}"
		echo
	done' bash "$@"
}

# zshcomp FPATH-DIR LINE...: for each LINE, typed into an interactive zsh
# on a pseudo-terminal (zsh/zpty) and completed with a tab by compinit's own
# widget, the words that the completion system added; compadd is wrapped to
# write down what it adds. Last, where _pagedrop was loaded from.
zshcomp() {
	local z=$t/zdot
	mkdir -p "$z"
	cat >"$z/.zshrc" <<-EOF
	fpath=(${1@Q} \$fpath)
	autoload -Uz compinit && compinit -u -D
	bindkey -e
	LISTMAX=1000
	PS1='> '
	compadd() {
		if [[ \${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then
			builtin compadd "\$@"
			return
		fi
		local -a hits
		builtin compadd -A hits "\$@"
		(( \$#hits == 0 )) || print -rl -- \$hits >>${z@Q}/out
		builtin compadd "\$@"
	}
	print PDREADY
	EOF
	shift
	ZDOTDIR=$z timeout 60 zsh -f -c '
	zmodload zsh/zpty || exit 1
	z=$1 && shift
	zpty pd zsh -d -i || exit 77
	zpty -r pd x "*PDREADY*" || exit 1
	n=0
	for line; do
		(( n++ ))
		: >| $z/out
		zpty -w -n pd "$line"$'\''\t\x01\x0b'\''"print PD\"\"MARK${n}END"$'\''\n'\''
		zpty -r pd x "*PDMARK${n}END*" || exit 1
		print -r -- ">${(j: :)${(@f)"$(<$z/out)"}}"
	done
	zpty -w pd "whence -v _pagedrop; print PD\"\"MARK0END"
	zpty -r pd x "*PDMARK0END*" || exit 1
	print -r -- ${${(M)${(f)x}:#_pagedrop is *}%$'\''\r'\''}
	zpty -d pd' zsh "$z" "$@"
}

# fishcomp DIR LINE...: for each LINE, what complete -C prints, with DIR
# first in fish_complete_path (none: fish's own, from XDG_DATA_DIRS). fish
# loads a command's completions only once it finds the command.
fishcomp() {
	PATH=$t/bin:$PATH fish -c 'if test -n "$argv[1]"; set -p fish_complete_path $argv[1]; end
	for l in $argv[2..-1]
		set -l c (complete -C $l | string replace -r "\t.*" "")
		printf ">%s\n" "$c"
	end' "$@"
}

# check SHELL OUTPUT: each case's candidates, in order, against the table.
check() {
	local sh=$1 i got
	local -a out
	mapfile -t out < <(sed -n 's/^>//p' <<<"$2")
	[ ${#out[@]} = ${#lines[@]} ] || bad "$sh: ${#out[@]} lines of candidates for ${#lines[@]} cases"
	for i in "${!lines[@]}"; do
		got=$(tr ' ' '\n' <<<"${out[i]:-}" | sed 's|/$||' | grep . | LC_ALL=C sort | paste -sd ' ')
		printf '%s: %-24s -> %s\n' "$sh" "'${lines[i]}'" "$got"
		[ "$got" = "${wants[i]}" ] || bad "$sh: '${lines[i]}': want '${wants[i]}'"
	done
}

# shells BASH-USER-DIR ZSH-DIR FISH-DIR XDG-DATA-DIRS: the table in each
# shell that is here.
shells() {
	local out st
	if [ -f /usr/share/bash-completion/bash_completion ]; then
		out=$(BASH_COMPLETION_USER_DIR=$1 XDG_DATA_DIRS=$4 bashcomp "${lines[@]}") ||
		    bad "bash: no completion for pagedrop"
		check bash "$out"
	else
		missing+=("bash-completion: not installed")
	fi
	if ! command -v zsh >/dev/null; then
		missing+=("zsh: not installed")
	elif out=$(zshcomp "$2" "${lines[@]}"); st=$?; [ $st = 77 ]; then
		missing+=("zsh: no pseudo-terminal to run it on")
	else
		[ $st = 0 ] || bad "zsh: the terminal session failed: status $st"
		grep -qxF "_pagedrop is a shell function from $2/_pagedrop" <<<"$out" ||
		    bad "zsh: _pagedrop not loaded from $2: $(tail -n 1 <<<"$out")"
		echo "zsh: $(tail -n 1 <<<"$out")"
		check zsh "$out"
	fi
	if command -v fish >/dev/null; then
		out=$(XDG_DATA_DIRS=$4 fishcomp "$3" "${lines[@]}") || bad "fish: complete -C failed"
		check fish "$out"
	else
		missing+=("fish: not installed")
	fi
}

# installed PREFIX ZSH-DIR: the three files at their places, as in the
# source tree, and the table with each shell finding them there.
installed() {
	local p=$1 f
	for f in share/bash-completion/completions/pagedrop:pagedrop.bash \
	    "$2/_pagedrop:_pagedrop" share/fish/vendor_completions.d/pagedrop.fish:pagedrop.fish; do
		cmp -s "$p/${f%%:*}" "$src/packaging/completions/${f#*:}" ||
		    bad "$p/${f%%:*}: missing or not packaging/completions/${f#*:}"
	done
	echo "installed in $p:"
	shells "$t/none" "$p/$2" "" "$p/share"
}

if [ "${1:-}" = --installed ]; then
	zshdir=$(cd "$2" && find share/zsh -mindepth 2 -maxdepth 2 -name _pagedrop -printf '%h\n' 2>/dev/null | head -n 1)
	[ -n "$zshdir" ] || bad "no share/zsh/*/_pagedrop under $2"
	if command -v zsh >/dev/null; then
		zsh -fc 'print -rl -- $fpath' | grep -qxF "$2/$zshdir" ||
		    bad "$2/$zshdir: not in this zsh's own fpath"
	fi
	installed "$2" "${zshdir:-share/zsh/none}"
else
	echo "source tree:"
	shells "$src/packaging" "$src/packaging/completions" "$src/packaging/completions" "$t/none"
	if [ -n "${3:-}" ]; then
		zshdir=$(sed -n 's/^PAGEDROP_ZSH_COMPLETIONS_DIR:[A-Z]*=//p' "$3/CMakeCache.txt")
		cmake --install "$3" --prefix "$t/usr" >/dev/null || bad "cmake --install $3"
		installed "$t/usr" "$zshdir"
	fi
fi
[ $fail = 0 ] || exit 1
if [ ${#missing[@]} -gt 0 ]; then
	printf 'SKIP: %s\n' "${missing[@]}" | sort -u
	exit 77
fi
exit 0
