#!/bin/bash
# SPDX-License-Identifier: MIT
# startup.sh PAGEDROP YARDSTICK [LIMIT]: what a run of each costs before and
# around its calls on the file: the system calls that strace sees (execve
# included), the page faults (minor, the fewest of 20 runs) and the
# user-space instructions that callgrind counts. Fails where pagedrop's
# faults or instructions pass the yardstick's by more than LIMIT percent
# (40). Needs strace, valgrind and GNU time.
set -euo pipefail
pd=$(realpath "$1") ys=$(realpath "$2") limit=${3:-40}
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/../tests/lib.sh"
scratch
head -c 65536 /dev/urandom >"$t/data"

# calls BIN: as the bench target counts them: a call's resumed half is
# not another call.
calls() {
	strace -f -qq -o "$t/trace" "$1" "$t/data"
	grep -E '^[0-9 ]*[a-z]' "$t/trace" | grep -vc 'resumed>'
}
faults() {
	local i
	for i in $(seq 20); do /usr/bin/time -f %R "$1" "$t/data" 2>&1 >/dev/null; done | sort -n | head -n 1
}
instructions() {
	valgrind --tool=callgrind --callgrind-out-file="$t/cg" "$1" "$t/data" 2>/dev/null
	sed -n 's/^summary: //p' "$t/cg"
}
printf '%-10s %8s %8s %14s\n' binary calls faults instructions
declare -A f i
for b in pagedrop:"$pd" yardstick:"$ys"; do
	n=${b%%:*} p=${b#*:}
	f[$n]=$(faults "$p") i[$n]=$(instructions "$p")
	printf '%-10s %8s %8s %14s\n' "$n" "$(calls "$p")" "${f[$n]}" "${i[$n]}"
done
bad=0
# within WHAT P Y: pagedrop's count P is at most limit percent above the
# yardstick's count Y, or the run fails and says so.
within() {
	[ $(($2 * 100)) -le $(($3 * (100 + limit))) ] ||
	    { echo "startup: pagedrop's $1 pass the yardstick's by more than $limit%"; bad=1; }
}
within faults "${f[pagedrop]}" "${f[yardstick]}"
within instructions "${i[pagedrop]}" "${i[yardstick]}"
exit $bad
