#!/bin/bash
# SPDX-License-Identifier: MIT
# The first process of a guest that tests/kernels.sh boots: runs every group
# of tests/pagedrop.sh (or, for --bench, bench/dirty.sh) against the
# release's binary on this kernel, writes each one's output and status to
# the disk whose serial is "out" as a tar archive, and powers off.
# Its folder holds job (groups, binary, build tree, bench trials), the
# tests and bench scripts it names. tests/shares.sh's groups run after
# the suite's, on the share that kernels.sh gives the guest.
set -u
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C HOME=/root
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=/dev/null
. ./job
o=$PWD/out
mkdir -p "$o"
# What udev would make: bash's process substitution needs /dev/fd.
ln -sfn /proc/self/fd /dev/fd
uname -r >"$o/uname"
cat /proc/version >"$o/version"
# The file system group asks for free loop devices, which exist only once
# the module is in: no udev here loads it on demand.
modprobe loop
# The share groups serve over loopback, as users that the servers'
# packages would have made, and put readers in memory cgroups.
busybox ip link set lo up
mount -t cgroup2 cgroup2 /sys/fs/cgroup
printf '%s\n' _rpc:x:100:65534::/run/rpcbind:/usr/sbin/nologin \
    sshd:x:101:65534::/run/sshd:/usr/sbin/nologin >>/etc/passwd
if [ "$trials" = 0 ]; then
	for g in $groups; do
		s=$(date +%s)
		bash tests/pagedrop.sh "$g" "$PWD/$bin" "$build" >"$o/$g.out" 2>&1
		echo "$? $(($(date +%s) - s))" >"$o/$g.rc"
	done
	for g in $shares; do
		s=$(date +%s)
		bash tests/shares.sh "$g" "$PWD/$bin" >"$o/$g.out" 2>&1
		echo "$? $(($(date +%s) - s))" >"$o/$g.rc"
	done
else
	bash bench/dirty.sh "$PWD/$bin" "$trials" >"$o/bench.out" 2>&1
	echo "$? 0" >"$o/bench.rc"
fi
for b in /sys/block/vd*; do
	[ "$(cat "$b/serial" 2>/dev/null)" = out ] || continue
	tar -C "$o" -cf - . | dd of="/dev/${b##*/}" bs=1M conv=fsync status=none
done
sync
echo o >/proc/sysrq-trigger
sleep 60
