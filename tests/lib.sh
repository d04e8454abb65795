# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced by the tests, the benchmarks and CI (.ci/common): what a script
# must undo when it exits, however it exits, what root may do here, and
# the Debian mirror that this machine's apt uses.

# later CMD [ARG...]: CMD is run when the script exits, or at undoto, the
# last one asked for first.
undo=()
later() { undo+=("$(printf '%q ' "$@")"); }
# undoto N: runs what later asked for since the stack held N commands.
undoto() {
	while [ ${#undo[@]} -gt "$1" ]; do
		eval "${undo[-1]}" >/dev/null 2>&1 || true
		unset 'undo[-1]'
	done
}
trap 'undoto 0' EXIT

# unmount DIR: unmounted, lazily if it is busy.
unmount() { umount "$1" 2>/dev/null || umount -l "$1"; }
# mnt MOUNT-ARGS... DIR: mounted, and unmounted at exit.
mnt() {
	mount "$@" || return
	later unmount "${*: -1}"
}
# fsimage FS SIZE DIR: an empty FS (ext4, xfs or btrfs) of SIZE made in
# DIR.img and mounted on DIR through a loop device, released at exit.
fsimage() {
	truncate -s "$2" "$3.img" || return
	case $1 in
	ext4) mkfs.ext4 -q -F "$3.img" ;;
	*) "mkfs.$1" -q -f "$3.img" ;;
	esac >/dev/null || return
	mkdir -p "$3" && mnt -o loop "$3.img" "$3"
}
# scratch [TEMPLATE]: sets t to a new folder, removed at exit.
scratch() {
	t=$(mktemp -d ${1:+"$1"}) || exit 1
	later rm -rf --one-file-system "$t"
}

# tools 'PACKAGE:COMMAND...'...: the group skips (the caller's skip),
# naming every COMMAND that is missing and the PACKAGEs that bring them.
tools() {
	local p c miss=() pkgs=()
	for p; do
		for c in ${p#*:}; do
			command -v "$c" >/dev/null && continue
			miss+=("$c")
			[[ " ${pkgs[*]} " = *" ${p%%:*} "* ]] || pkgs+=("${p%%:*}")
		done
	done
	[ ${#miss[@]} = 0 ] || skip "no ${miss[*]} here: install ${pkgs[*]}"
}

# canloop DIR, canmount DIR, cancgroup DIR: the group skips (the caller's
# skip), saying why, where root cannot attach a loop device (a file of DIR's,
# detached at once), mount a tmpfs (on a folder of DIR's, unmounted at once)
# or make a cgroup under DIR, as in a container without the loop devices,
# CAP_SYS_ADMIN or a writable cgroup tree.
canloop() {
	local f=$1/loop-probe dev
	truncate -s 1M "$f" || exit 1
	dev=$(losetup -f --show "$f" 2>&1) ||
	    { rm -f "$f"; skip "root cannot attach a loop device here: losetup -f --show: ${dev%%$'\n'*}"; }
	losetup -d "$dev"
	rm -f "$f"
}
canmount() {
	local d=$1/mount-probe e
	mkdir "$d" || exit 1
	e=$(mount -t tmpfs -o size=1M pagedrop-probe "$d" 2>&1) ||
	    { rmdir "$d"; skip "root cannot mount here: mount -t tmpfs: ${e%%$'\n'*}"; }
	umount "$d"
	rmdir "$d"
}
cancgroup() {
	local d=$1/pagedrop-probe-$$ e
	e=$(mkdir "$d" 2>&1) || skip "root cannot make a cgroup under $1 here: $e"
	rmdir "$d"
}

# kib FILE: how much of FILE is resident, in KiB, as fincore counts it.
kib() { echo $(($(fincore -nb -o RES "$1") / 1024)); }
# listening PORT [TRIES]: something takes connections on 127.0.0.1:PORT,
# tried every 0.2 s (50 times by default).
listening() {
	local i
	for ((i = 0; i < ${2:-50}; i++)); do
		(exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return
		sleep 0.2
	done
	return 1
}

# podmanown DIR: podman's settings and storage in DIR, this script's own,
# and what it made removed at exit. Debian 12's podman asks for more open
# files and processes than a root without CAP_SYS_RESOURCE may give, and
# its crun cannot run with cgroup v1 and v2 both mounted.
podmanown() {
	printf '[containers]\ndefault_ulimits = ["nofile=1024:1024", "nproc=1024:1024"]\n[engine]\nruntime = "runc"\n' \
	    >"$1/containers.conf"
	printf '[storage]\ndriver = "overlay"\ngraphroot = "%s"\nrunroot = "%s"\n' "$1/storage" "$1/run" >"$1/storage.conf"
	export CONTAINERS_CONF=$1/containers.conf CONTAINERS_STORAGE_CONF=$1/storage.conf
	later unmount "$1/storage/overlay"
	later podman rmi -af
	later podman rm -af -t 0
}

# mirror [security]: the Debian archive that this machine's apt uses, or
# its security archive.
mirror() {
	local m
	m=$({ cat /etc/apt/sources.list.d/*.sources 2>/dev/null || true; } |
	    awk -v sec="${1:-}" '/^URIs:/ && (sec != "") == /security/ { print $2; exit }')
	[ -n "$m" ] || m=$(awk -v sec="${1:-}" '$1 == "deb" && (sec != "") == /security/ { print $2; exit }' \
	    /etc/apt/sources.list 2>/dev/null || true)
	echo "${m:-http://deb.debian.org/debian${1:+-security}}"
}

# version [TOP]: pagedrop's version, the first entry of doc/changelog.
version() { sed -nE '1s/^pagedrop \(([^)]+)\).*/\1/p' "${1:-.}/doc/changelog"; }
