#!/bin/bash
# SPDX-License-Identifier: MIT
# What stays of 64 MiB written without a sync just before a run, on ext4,
# xfs and btrfs images on loop devices, run by run: the figures that vary
# by kernel. tests/kernels.sh --bench runs it in each of Debian's kernels;
# as root it runs on this machine's own. Needs root.
#
# usage: dirty.sh PAGEDROP [TRIALS]
set -eu
bin=$1 trials=${2:-5}
[ "$(id -u)" = 0 ] || { echo "dirty.sh: needs root to mount images" >&2; exit 1; }
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/../tests/lib.sh"
scratch
d=$t

mib() { echo $(($(fincore -nb -o RES "$1") / 1048576)); }

pagedrop() { "$bin" "$@"; }

printf 'kernel %s, %s MiB of memory, %s CPUs\n' "$(uname -r)" \
    $(($(sed -n 's/^MemTotal: *\([0-9]*\) kB/\1/p' /proc/meminfo) / 1024)) "$(nproc)"
for fs in ext4 xfs btrfs; do
	fsimage "$fs" 1G "$d/$fs"
	printf '%s: MiB of 64 written without a sync still resident, %d trials:\n' "$fs" "$trials"
	for how in 'pagedrop F' 'pagedrop -n 2 F' 'pagedrop -n 100 F' \
	    'pagedrop F; sleep 1; pagedrop F' 'sync F; pagedrop F'; do
		printf '  %-34s' "$how"
		for ((i = 0; i < trials; i++)); do
			f=$d/$fs/dirty
			dd if=/dev/urandom of="$f" bs=1M count=64 status=none
			eval "${how//F/\"\$f\"}"
			printf ' %3d' "$(mib "$f")"
			rm -f "$f" && sync -f "$d/$fs"
		done
		echo
	done
done
