#!/bin/bash
# SPDX-License-Identifier: MIT
# What a run costs and what it leaves behind on ext4, xfs and btrfs, each
# made on a loop-device image: what stays of 64 MiB written just before the
# run without a sync, run by run (dirty.sh), and the time to drop a
# resident file of up to 1 GiB. Needs root.
#
# usage: filesystems.sh PAGEBENCH PAGEDROP YARDSTICK [TRIALS]
set -eu
bench=$1 bin=$2 yardstick=$3 trials=${4:-5}
[ "$(id -u)" = 0 ] || { echo "filesystems.sh: needs root to mount images" >&2; exit 1; }
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/../tests/lib.sh"
scratch
d=$t

bash "$(dirname "$0")/dirty.sh" "$bin" "$trials"
for fs in ext4 xfs btrfs; do
	fsimage "$fs" 3G "$d/$fs"

	printf '\n== %s, kernel %s\n\n' "$fs" "$(uname -r)"
	"$bench" -e "$bin" "$yardstick" "$d/$fs"
done
