#!/bin/bash
# SPDX-License-Identifier: MIT
# The first process of a guest that tests/kernels.sh boots: shows which
# kernel this is and that no emulator is registered to run foreign binaries,
# runs every group of tests/pagedrop.sh (or, for --bench, bench/dirty.sh)
# against each release binary that the job names, writes each one's output
# and status to the disk whose serial is "out" as a tar archive, and powers
# off. Its folder holds settings (groups, share groups, bench trials), job
# (a line per binary: architecture, binary, build tree) and the scripts
# they name. tests/shares.sh's groups run after the suite's, with the first
# binary, on the share that kernels.sh gives the guest; tests/groups says
# which script holds each group.
set -u
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C HOME=/root
cd "$(dirname "$0")/.." || exit 1
# kernels.sh writes settings for each guest, which shellcheck cannot follow.
# shellcheck source=/dev/null
. ./settings
# Without one of them the guest stops here, and says which.
: "${groups?}" "${shares?}" "${trials?}"
o=$PWD/out
mkdir -p "$o"
# What udev would make: bash's process substitution needs /dev/fd.
ln -sfn /proc/self/fd /dev/fd
uname -r >"$o/uname"
uname -m >"$o/machine"
cat /proc/version >"$o/version"
# The file system group asks for free loop devices, which exist only once
# the module is in: no udev here loads it on demand.
modprobe loop
# binfmt_misc is where an emulator would be registered to run a foreign
# binary; "none" when it holds no handler, or this kernel has none at all.
b=/proc/sys/fs/binfmt_misc
modprobe binfmt_misc 2>/dev/null
mount -t binfmt_misc binfmt_misc "$b" 2>/dev/null
h=''
for e in "$b"/*; do
	case ${e##*/} in register | status | '*') ;; *) h+=${h:+ }${e##*/} ;; esac
done
echo "${h:-none}" >"$o/binfmt"
# The share groups serve over loopback, as users that the servers'
# packages would have made, and put readers in memory cgroups; podman
# keeps its locks in /dev/shm.
if [ -n "$shares" ]; then
	busybox ip link set lo up
	mount -t cgroup2 cgroup2 /sys/fs/cgroup
	mkdir -p /dev/shm && mount -t tmpfs tmpfs /dev/shm
	printf '%s\n' _rpc:x:100:65534::/run/rpcbind:/usr/sbin/nologin \
	    sshd:x:101:65534::/run/sshd:/usr/sbin/nologin >>/etc/passwd
fi
# The container group's tool comes from the release's OCI archive, where
# the payload holds it.
for f in pagedrop-*-oci.tar; do [ ! -e "$f" ] || export PAGEDROP_IMAGE=$PWD/$f; done
head -c 65536 /dev/urandom >/tmp/probe
while read -r arch bin build; do
	mkdir -p "$o/$arch"
	# The ELF machine that the kernel's loader checks, and one traced run.
	m=$(od -An -tu2 -j18 -N2 "$bin" | tr -d ' ')
	strace -f -o "$o/$arch/exec.trace" "$PWD/$bin" /tmp/probe >/dev/null 2>&1
	echo "${m:-none} $?" >"$o/$arch/exec"
	# The calls that a 64-bit kernel took through its 32-bit compat entry.
	strace -f -e trace=all@32 -o "$o/$arch/compat.trace" "$PWD/$bin" /tmp/probe >/dev/null 2>&1
	if [ "$trials" = 0 ]; then
		for g in $groups $shares; do
			s=$(date +%s)
			# This root is unpacked, not installed: no awk, which mawk's
			# scripts would have linked.
			f=$(while read -r n f _; do [ "$n" != "$g" ] || echo "$f"; done <tests/groups)
			bash "tests/$f" "$g" "$PWD/$bin" "$build" >"$o/$arch/$g.out" 2>&1
			echo "$? $(($(date +%s) - s))" >"$o/$arch/$g.rc"
		done
		shares=
	fi
done <job
if [ "$trials" != 0 ]; then
	read -r _ bin _ <job
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
