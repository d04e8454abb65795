#!/bin/bash
# SPDX-License-Identifier: MIT
# Proves the whole test suite on the kernels users run: boots Debian's own
# kernels, as packaged in its archive, under qemu-system, those that
# tests/kernels lists, and runs every group of tests/groups in each against
# the release's static binaries that the list names for it; a group that
# fails or skips fails the check with the kernel's name, the binary's
# architecture and the group's output. Each guest shows that the kernel
# itself executed each binary: no binfmt_misc handler is registered there to
# hand it to an emulator. The share groups run in the guests that the list
# marks, with a 9p share from this machine; they may skip where the kernel
# lacks a module, and their lines and skips are printed.
#
# usage: kernels.sh [--bench TRIALS | --groups "GROUP..."] RELEASE-DIR [NAME...]
#        kernels.sh --prepare [NAME...]
# RELEASE-DIR is build/release, beside build/arch/ARCH; NAME picks kernels
# from tests/kernels. --bench runs bench/dirty.sh instead of the suite
# and prints what it measured; --groups runs those groups alone, of the
# suite's and the shares'; --prepare only fetches and makes what the
# guests boot, which is most of a first run's time, and needs no release.
# Packages, roots, images and initrds are kept in $PAGEDROP_KERNELS_CACHE
# (/var/cache/pagedrop-kernels); up to $PAGEDROP_KERNELS_JOBS guests (2) run
# at once. Needs root, debootstrap, qemu-system-x86, qemu-system-arm,
# qemu-system-mips, qemu-system-ppc, qemu-system-misc, kmod and cpio;
# mounts nothing here: loong64's qemu, Debian 13's, runs from a root in
# the cache, in a mount namespace of its own whose mounts end with it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tests/lib.sh
. "$top/tests/lib.sh"
# shellcheck source=packaging/aptdir.sh
. "$top/packaging/aptdir.sh"
trials=0
groups=$(awk '!/^#/ && $3 == "every" { print $1 }' "$top/tests/groups" | paste -sd ' ')
shares=$(awk '!/^#/ && $3 == "shares" { print $1 }' "$top/tests/groups" | paste -sd ' ')
[ -n "$groups" ] && [ -n "$shares" ] || { echo "kernels: no groups in $top/tests/groups" >&2; exit 2; }
case ${1:-} in
--bench) trials=$2 && shift 2 ;;
--groups)
	groups=$(tr ' ' '\n' <<<"$groups" | grep -xF "$(tr ' ' '\n' <<<"$2")" | paste -sd ' ') || true
	shares=$(tr ' ' '\n' <<<"$shares" | grep -xF "$(tr ' ' '\n' <<<"$2")" | paste -sd ' ') || true
	shift 2 ;;
esac
prepare=
if [ "${1:-}" = --prepare ]; then prepare=1 && shift; else rel=$(realpath "$1") && shift; fi
cache=${PAGEDROP_KERNELS_CACHE:-/var/cache/pagedrop-kernels}
jobs=${PAGEDROP_KERNELS_JOBS:-2}
SECONDS=0
start=$SECONDS

kernels=$(grep -v '^#' "$top/tests/kernels" | grep .)
if [ $# -gt 0 ]; then kernels=$(grep -wF "$(printf '%s\n' "$@")" <<<"$kernels"); fi
[ -n "$kernels" ] || { echo "kernels: none of $* in the table" >&2; exit 2; }
version=$(version "$top")
host=$(dpkg --print-architecture)

mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
w=$(mktemp -d)
[ -n "${PAGEDROP_KERNELS_KEEP:-}" ] || later rm -rf "$w"
later rm -rf "$cache/stage"
# The guests still running.
later eval 'for p in "$w"/*.pid; do [ -s "$p" ] && kill "$(cat "$p")"; done'
mirror=$(mirror)

# An apt of its own, for the kernels' packages; the machine's is not touched.
# It keeps its cache of the lists, which some machines' apt is set to drop:
# without it, each lookup in eight architectures' lists takes 12 s.
a=$cache/apt
aptdir "$a" amd64
apt+=(-o Dir::Cache::pkgcache=pkgcache.bin -o Dir::Cache::srcpkgcache=srcpkgcache.bin)
mkdir -p "$cache/debs"
arches=$(awk '{ print $2 }' <<<"$kernels" | sort -u | paste -sd ,)
# Each suite's lists are those of its kernels' architectures alone: forky's
# for all nine would add 141 MB and 14 s to an update, loong64's 21 MB.
for s in $(awk '{ print $3 }' <<<"$kernels" | sort -u); do
	d=$(awk -v s="$s" '$3 == s { print $2 }' <<<"$kernels" | sort -u | paste -sd ,)
	echo "deb [arch=$d signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $s main"
done >"$a/sources.list"
for d in ${arches//,/ }; do apt+=(-o APT::Architectures::="$d"); done
apt-get "${apt[@]}" -qq update

# The guest's userland: the packages that the tests call, unpacked for the
# architecture without running their scripts, which would need that
# architecture's CPU; the tests need their files only.
# Where the share groups run, the servers and clients they use too.
include=mount,util-linux-extra,e2fsprogs,xfsprogs,btrfs-progs,squashfs-tools,erofs-utils,strace,kmod,cmake,groff-base,busybox-static
sharing=nfs-kernel-server,cifs-utils,samba,sshfs,openssh-server,podman,runc
# mkroot ARCH SUITE SHARES [PKGS]: sets root, that suite's userland for
# that architecture (or PKGS instead), with the share groups' packages
# unless SHARES is -; its name holds a digest of what it holds.
mkroot() {
	local d list=${4:-$include} script=''
	# This debootstrap may predate the suite, whose script is sid's.
	[ -e "/usr/share/debootstrap/scripts/$2" ] || script=sid
	[ "$3" = - ] || list+=,$sharing
	root=$cache/root-$2-$1-$(echo "1 $list" | sha256sum | cut -c1-12)
	[ -d "$root" ] && return
	rm -rf "$root.new"
	debootstrap --foreign --arch="$1" --variant=minbase --include="$list" \
	    "$2" "$root.new" "$mirror" $script >"$w/debootstrap-$2-$1.log" 2>&1 ||
	    { tail -n 20 "$w/debootstrap-$2-$1.log"; exit 1; }
	for d in "$root.new"/var/cache/apt/archives/*.deb; do
		dpkg-deb --fsys-tarfile "$d" | tar -x --keep-directory-symlink -C "$root.new"
	done
	rm -rf "$root.new/debootstrap" "$root.new"/var/cache/apt/archives/*.deb "$root.new/proc"
	mkdir "$root.new/proc"
	cp "$root.new/usr/share/base-passwd/passwd.master" "$root.new/etc/passwd"
	cp "$root.new/usr/share/base-passwd/group.master" "$root.new/etc/group"
	ln -sf ../proc/self/mounts "$root.new/etc/mtab"
	mv "$root.new" "$root"
}

# machine ARCH: how qemu-system models a machine of that architecture that
# Debian's kernel runs on: sets q (qemu's command: the qemu-system program
# that packaging/arches names, and its flags here), con (the kernel's
# console), disk (the qemu device of a virtio disk), mods (the modules
# that reach it, in load order; those built in are skipped), and qsuite
# and qpkgs, the suite and packages of a root of this host's architecture
# that q runs from, where the host's own qemu cannot boot that kernel
# (qsuite is empty where it can).
machine() {
	local sys
	disk=virtio-blk-pci mods="virtio_pci virtio_blk" qsuite='' qpkgs=''
	sys=$(awk -v a="$1" '!/^#/ && $1 == a && $6 != "-" { print $6 }' "$top/packaging/arches")
	case $1 in
	amd64 | i386) q=(-M pc -cpu max) con=ttyS0 ;;
	# -cpu max is far slower under TCG, for its pointer authentication.
	arm64) q=(-M virt -cpu 'max,pauth-impdef=on') con=ttyAMA0 ;;
	armhf) q=(-M virt -cpu cortex-a15) con=ttyAMA0 ;;
	mips64el) q=(-M malta -cpu 5KEc) con=ttyS0 ;;
	# The spectre capabilities that TCG cannot give are declared broken;
	# x-vof boots without the firmware's own seconds of set-up.
	ppc64el)
		q=(-M 'pseries,cap-cfpc=broken,cap-sbbc=broken,cap-ibs=broken,cap-ccf-assist=off,x-vof=on')
		con=hvc0 ;;
	s390x) q=(-M s390-ccw-virtio) con=ttysclp0 disk=virtio-blk-ccw mods=virtio_blk ;;
	riscv64) q=(-M virt) con=ttyS0 ;;
	# Debian 12's qemu cannot boot this EFI image, nor can Debian 13's
	# without the UEFI firmware, which loads it from -kernel.
	loong64)
		q=(-M virt -cpu la464
		    -drive 'if=pflash,format=raw,readonly=on,file=/usr/share/qemu-efi-loongarch64/QEMU_EFI.fd')
		con=ttyS0 qsuite=trixie qpkgs=qemu-system-misc,qemu-efi-loongarch64 ;;
	*) sys='' ;;
	esac
	[ -n "$sys" ] || { echo "kernels: no machine for $1 (packaging/arches names no qemu-system for it, or this script no flags)" >&2; exit 2; }
	q=("$sys" "${q[@]}")
}

# debof NAME ARCH SUITE META: sets debs, the files of the kernel package
# that META names in SUITE and of the parts of it that it depends on, and
# pkgs, what apt-get download fetches them as. Debian 14's kernel package
# is split: its base, binary and modules are packages of their own.
debof() {
	local ver='' img p
	read -r img ver < <(apt-cache "${apt[@]}" show "$4:$2/$3" |
	    sed -nE 's/^Depends: (.*, )?(linux-image-[^ ,]+) \(= ([^)]+)\).*/\2 \3/p' | head -n 1) || true
	[ -n "$ver" ] || { echo "kernels: $1: no $4 in $3" >&2; exit 1; }
	debs=() pkgs=()
	for p in "$img" $(apt-cache "${apt[@]}" show "$img:$2=$ver" | awk -v abi="-${img#linux-image-}" -v v="(= $ver)" '
	    /^Depends: / { n = split(substr($0, 10), d, ", ")
		for (i = 1; i <= n; i++) { split(d[i], f, " ")
			if (f[1] ~ /^linux-[a-z]+-/ && substr(f[1], length(f[1]) - length(abi) + 1) == abi &&
			    f[2] " " f[3] == v && !seen[f[1]]++) print f[1] } }'); do
		debs+=("$cache/debs/${p}_${ver}_$2.deb") pkgs+=("$p:$2=$ver")
	done
}

# download PKG FILE: apt-get download, into FILE once whole.
download() {
	local d
	d=$(mktemp -d "$cache/debs/new.XXXXXX")
	(cd "$d" && apt-get "${apt[@]}" -qq download "$1") && mv "$d/${2##*/}" "$2"
	rm -rf "$d"
}

# kernel NAME ARCH SUITE META USERLAND SHARES: fetches the kernel package
# that META names in SUITE, and makes a disk image of USERLAND's root (with
# the share groups' packages unless SHARES is -) with its modules and an
# initrd that loads what mounts it; sets img, vmlinuz, initrd, kver.
kernel() {
	local name=$1 arch=$2 suite=$3 meta=$4 debs pkgs k s m i
	debof "$name" "$arch" "$suite" "$meta"
	for i in "${!debs[@]}"; do [ -s "${debs[i]}" ] || download "${pkgs[i]}" "${debs[i]}"; done
	k=$cache/kernel/${debs[0]##*/}
	k=${k%.deb}
	if [ ! -d "$k" ]; then
		rm -rf "$k.new" && mkdir -p "$k.new"
		for i in "${debs[@]}"; do dpkg-deb -x "$i" "$k.new"; done
		# Debian 13's kernels keep their modules in /usr/lib alone.
		[ -e "$k.new/lib" ] || ln -s usr/lib "$k.new/lib"
		mv "$k.new" "$k"
	fi
	kver=$(ls "$k/lib/modules")
	# Some architectures' packages hold the kernel as an ELF file, vmlinux;
	# Debian 14's hold it beside the modules.
	for vmlinuz in "$k/boot/vmlinuz-$kver" "$k/boot/vmlinux-$kver" "$k/lib/modules/$kver/vmlinuz"; do
		[ ! -e "$vmlinuz" ] || break
	done
	mkroot "$arch" "$5" "$6"
	img=$cache/img/${k##*/}-${root##*/root-}.img
	if [ ! -s "$img" ]; then
		s=$cache/stage
		rm -rf "$s" && mkdir -p "$cache/img"
		cp -al "$root" "$s"
		cp -a "$k/lib/modules" "$s/usr/lib/"
		depmod -b "$s" "$kver"
		truncate -s 4G "$img.new"
		mkfs.ext4 -q -F -L root -d "$s" "$img.new"
		mv "$img.new" "$img"
		rm -rf "$s"
	fi
	# The initrd: busybox and the modules, dependencies first, that reach
	# the root on a virtio disk, decompressed for busybox's insmod.
	machine "$arch"
	initrd=$cache/initrd/${k##*/}-${root##*/root-}-$(sha256sum <"$top/tests/kernels.sh" | cut -c1-12).cpio.gz
	[ -s "$initrd" ] && return
	s=$w/initrd-$name
	mkdir -p "$s"/{bin,sbin,usr/bin,usr/sbin,dev,proc,sys,root,mod} "$cache/initrd"
	depmod -b "$k" "$kver"
	for m in $mods ext4 crc32c_generic; do
		# Linux 6.15 and later have none: ext4 needs the one it depends on.
		[ "$m" != crc32c_generic ] || [ -n "$(find "$k/lib/modules/$kver" -name "$m.ko*")" ] || continue
		modprobe -d "$k" -S "$kver" --show-depends "$m"
	done | awk '$1 == "insmod" && !seen[$2]++ { print $2 }' >"$w/mods-$name"
	i=0
	while read -r m; do
		case $m in
		*.xz) xz -dc "$m" ;;
		*.zst) zstd -dcq "$m" ;;
		*) cat "$m" ;;
		esac >"$s/mod/$(printf %02d $i)"
		basename "$m" >>"$s/mod/order"
		i=$((i + 1))
	done <"$w/mods-$name"
	cp "$root/usr/bin/busybox" "$s/bin/busybox"
	cat >"$s/init" <<-'EOF'
	#!/bin/busybox sh
	/bin/busybox --install -s
	export PATH=/bin:/sbin:/usr/bin:/usr/sbin
	die() { echo "initrd: $*"; echo o >/proc/sysrq-trigger; sleep 60; }
	mount -t devtmpfs dev /dev && mount -t proc proc /proc && mount -t sysfs sys /sys
	i=0
	while read -r m; do
		insmod "/mod/$(printf %02d $i)" || echo "initrd: insmod $m failed"
		i=$((i + 1))
	done </mod/order
	for t in $(seq 100); do
		for b in /sys/block/vd*; do
			[ "$(cat "$b/serial" 2>/dev/null)" = root ] && root=/dev/${b##*/}
		done
		[ -n "${root:-}" ] && break
		sleep 0.1
	done
	[ -n "${root:-}" ] || die "no disk with serial root"
	mount -t ext4 "$root" /root || die "cannot mount $root"
	cp -a /payload/. /root/
	for d in dev proc sys; do mount --move "/$d" "/root/$d"; done
	exec switch_root /root /bin/bash /pagedrop-kernels/tests/guest.sh
	EOF
	chmod 755 "$s/init"
	(cd "$s" && find . | sort | cpio -o -H newc --quiet -R 0:0) | gzip -1 >"$initrd.new"
	mv "$initrd.new" "$initrd"
}

# A chroot's / is no mount, and cannot be made private: there the mounts of
# a qemu that runs in a root of its own stay where they are made, unless
# the mount that they are made on passes them on.
prop=private
if ! mountpoint -q /; then
	[ "$(findmnt -no PROPAGATION -T "$cache" 2>/dev/null)" != shared ] ||
	    { echo "kernels: $cache is on a shared mount, and / is no mount (a chroot?)" >&2; exit 2; }
	prop=unchanged
fi

# boot NAME ARCH: boots the guest with the job that the initrd's payload
# holds, and the 9p share $w/NAME.9p where there is one; its outputs land
# in $w/NAME.out, its console in $w/NAME.console.
boot() {
	local name=$1 arch=$2 s=$SECONDS q con disk mods qsuite qpkgs root
	machine "$arch"
	if [ -n "$qsuite" ]; then
		# qemu runs in that root, in a mount namespace of its own, which
		# sees the cache and the work folder where they are here; its
		# mounts end with it.
		mkroot "$host" "$qsuite" - "$qpkgs"
		q=(unshare --mount --propagation "$prop" -- sh -c '
		    r=$1 && shift && mount --rbind /dev "$r/dev" && mount -t proc proc "$r/proc" &&
		    for d in "$1" "$2"; do mkdir -p "$r$d" && mount --bind "$d" "$r$d" || exit; done &&
		    shift 2 && exec chroot "$r" "$@"' sh "$root" "$cache" "$w" "${q[@]}")
	fi
	[ ! -d "$w/$name.9p" ] ||
	    q+=(-virtfs "local,path=$w/$name.9p,mount_tag=pagedrop,security_model=none,readonly=on")
	truncate -s 64M "$w/$name.res"
	timeout 2400 "${q[@]}" -m 2048 -smp 1 -nodefaults -display none -no-reboot \
	    -serial "file:$w/$name.console" -pidfile "$w/$name.pid" \
	    -kernel "$w/$name.vmlinuz" -initrd "$w/$name.initrd" \
	    -append "console=$con panic=-1 rdinit=/init" \
	    -drive "if=none,id=root,file=$w/$name.img,format=raw,snapshot=on" \
	    -device "$disk,drive=root,serial=root" \
	    -drive "if=none,id=out,file=$w/$name.res,format=raw" \
	    -device "$disk,drive=out,serial=out" >"$w/$name.qemu" 2>&1 || true
	mkdir -p "$w/$name.out"
	tar -xf "$w/$name.res" -C "$w/$name.out" 2>/dev/null || true
	echo $((SECONDS - s)) >"$w/$name.took"
}

# The kernels and the roots' packages are fetched four at a time, and the
# roots unpacked meanwhile.
running=0
spawn() {
	if [ "$running" -ge 4 ]; then wait -n; running=$((running - 1)); fi
	"$@" &
	running=$((running + 1))
}
while read -r name arch suite meta _; do
	debof "$name" "$arch" "$suite" "$meta"
	for i in "${!debs[@]}"; do [ -s "${debs[i]}" ] || spawn download "${pkgs[i]}" "${debs[i]}"; done
done <<<"$kernels"
while read -r arch userland sh; do spawn mkroot "$arch" "$userland" "$sh"; done < <(awk '{ print $2, $5, $7 }' <<<"$kernels" | sort -u)
# The roots that some machines' qemu runs from.
for arch in $(awk '{ print $2 }' <<<"$kernels" | sort -u); do
	machine "$arch"
	[ -z "$qsuite" ] || spawn mkroot "$host" "$qsuite" - "$qpkgs"
done
while [ "$running" -gt 0 ]; do wait -n; running=$((running - 1)); done

# Each guest's payload: the release's binaries, the tests, the job, and
# each binary's build tree at the path it was made at (the build root's
# /build), with the source files that its install names at the tree's
# (/src there), taken from this checkout, which is the release's commit.
while read -r name arch suite meta userland bins sh; do
	kernel "$name" "$arch" "$suite" "$meta" "$userland" "$sh"
	[ -z "$prepare" ] || continue
	echo "$kver" >"$w/$name.kver"
	ln -s "$vmlinuz" "$w/$name.vmlinuz"
	ln -s "$img" "$w/$name.img"
	p=$w/payload-$name/payload/pagedrop-kernels
	mkdir -p "$p/tests" "$p/bench"
	cp "$top"/tests/{pagedrop.sh,shares.sh,guest.sh,lib.sh,groups} "$p/tests/"
	cp "$top/bench/dirty.sh" "$p/bench/"
	: >"$p/job"
	for b in ${bins//,/ }; do
		tar -xzf "$rel/pagedrop-$version-linux-$b.tar.gz" -C "$p"
		d=$(realpath "$rel/../arch/$b")
		bd=$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' "$d/CMakeCache.txt")
		src=$w/payload-$name/payload$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$d/CMakeCache.txt")
		mkdir -p "$w/payload-$name/payload$bd" "$src/packaging"
		cp -a "$d/." "$w/payload-$name/payload$bd/"
		cp -a "$top/doc" "$top/LICENSE" "$src/"
		cp -a "$top/packaging/completions" "$src/packaging/"
		printf '%s %s %s\n' "$b" "pagedrop-$version-linux-$b/pagedrop" "$bd" >>"$p/job"
	done
	if [ "$sh" = - ] || [ "$trials" != 0 ]; then
		printf 'groups="%s"\nshares=\ntrials=%s\n' "$groups" "$trials" >"$p/settings"
	else
		printf 'groups="%s"\nshares="%s"\ntrials=0\n' "$groups" "$shares" >"$p/settings"
		mkdir -p "$w/$name.9p" && head -c 4M /dev/urandom >"$w/$name.9p/data"
		[ ! -e "$rel/pagedrop-$version-oci.tar" ] || cp "$rel/pagedrop-$version-oci.tar" "$p/"
	fi
	(cd "$w/payload-$name" && find . | sort | cpio -o -H newc --quiet -R 0:0) >"$w/payload-$name.cpio"
	# The kernel finds a second archive only on a 4-byte boundary; it skips zeros.
	cp "$initrd" "$w/$name.initrd"
	truncate -s %512 "$w/$name.initrd"
	cat "$w/payload-$name.cpio" >>"$w/$name.initrd"
done <<<"$kernels"
if [ -n "$prepare" ]; then
	echo "kernels: packages, roots, images and initrds ready after $((SECONDS - start)) s"
	exit 0
fi
tar -xzf "$rel/pagedrop-$version-linux-$host.tar.gz" -C "$w"
hostbin=$w/pagedrop-$version-linux-$host/pagedrop
echo "kernels: packages, roots, images and initrds ready after $((SECONDS - start)) s"

# Guests run $jobs at a time, in the table's order.
running=0
while read -r name arch _; do
	if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
	boot "$name" "$arch" &
	running=$((running + 1))
done <<<"$kernels"
wait

# The ELF machine that each architecture's binaries carry, as the kernel's
# loader checks it (packaging/arches' elf column), and the architectures
# whose programs are 32-bit.
declare -A elf
while read -r deb _ _ e _; do
	case $deb in '' | \#*) continue ;; esac
	elf[$deb]=$e
done <"$top/packaging/arches"
declare -A bits32=([i386]=1 [armhf]=1 [armel]=1)
fail=0
while read -r name arch _ _ _ bins sh; do
	o=$w/$name.out
	printf 'kernels: %s took %s s\n' "$name" "$(cat "$w/$name.took")"
	if [ ! -s "$o/uname" ]; then
		echo "FAIL: $name: no results; the console's last lines:"
		tail -n 40 "$w/$name.console" "$w/$name.qemu"
		fail=1
		continue
	fi
	printf '  %s\n  uname -m: %s\n' "$(cat "$o/version")" "$(cat "$o/machine")"
	[ "$(cat "$o/uname")" = "$(cat "$w/$name.kver")" ] ||
	    { echo "FAIL: $name: booted $(cat "$o/uname"), not $(cat "$w/$name.kver")"; fail=1; }
	# Nothing but the kernel's own ELF loader can have run a binary where
	# binfmt_misc holds no handler.
	[ "$(cat "$o/binfmt")" = none ] ||
	    { echo "FAIL: $name: binfmt_misc handlers: $(cat "$o/binfmt")"; fail=1; }
	for b in ${bins//,/ }; do
		# A 32-bit program on a 64-bit kernel makes its calls through the
		# compat entry, which strace's 32-bit personality shows; one of the
		# kernel's own word size makes none there.
		read -r m st <"$o/$b/exec"
		compat='' n=0
		if [ -z "${bits32[$arch]:-}" ]; then
			[ -z "${bits32[$b]:-}" ] || compat=1
			n=$(cat "$o/$b/compat.trace" 2>/dev/null | grep -cE '^[0-9]+ +[a-z0-9_]+\(' || true)
		fi
		mode=native
		[ "$n" = 0 ] || mode="compat entry, $n calls"
		printf '  %s binary: ELF machine %s, status %s, %s: %s\n' "$b" "$m" "$st" "$mode" \
		    "$(grep -Eo '[a-z0-9_]*fadvise[a-z0-9_]*\(.*' "$o/$b/exec.trace" | head -n 1)"
		if [ "$m" != "${elf[$b]}" ] || [ "$st" != 0 ] || [ "${compat:+y}" != "$([ "$n" = 0 ] || echo y)" ]; then
			echo "FAIL: $name: $b: not run as this kernel's ${compat:+compat }program (ELF machine ${m:-none}, status ${st:-none}, want ${elf[$b]} and 0)"
			fail=1
		fi
		[ "$trials" = 0 ] || continue
		for g in $groups; do
			if [ ! -s "$o/$b/$g.rc" ]; then
				echo "FAIL: $name: $b: $g: did not run"
				fail=1
				continue
			fi
			read -r st secs <"$o/$b/$g.rc"
			if [ "$st" = 0 ]; then
				printf '    %-12s ok (%s s)\n' "$g" "$secs"
			else
				# A skip is a failure too: as root in the guest, every group can run.
				echo "FAIL: $name ($(cat "$o/uname")): $b: $g: status $st; its output:"
				sed 's/^/    /' "$o/$b/$g.out"
				fail=1
			fi
		done
	done
	# A share group may skip only where this kernel lacks a module.
	b=${bins%%,*}
	[ "$sh" = - ] || [ "$trials" != 0 ] || [ -z "$shares" ] || echo "  shares, with the $b binary:"
	for g in $([ "$sh" = - ] || [ "$trials" != 0 ] || echo "$shares"); do
		read -r st secs <"$o/$b/$g.rc" 2>/dev/null || st=none
		case $st in
		0) printf '    %-12s ok (%s s)\n' "$g" "$secs" ;;
		77) if grep -q '^SKIP: this kernel has no ' "$o/$b/$g.out"; then
			printf '    %-12s skipped (%s s)\n' "$g" "$secs"
		else
			echo "FAIL: $name ($(cat "$o/uname")): $b: $g: skipped, not for want of a module"
			fail=1
		fi ;;
		*) echo "FAIL: $name ($(cat "$o/uname")): $b: $g: status $st"; fail=1 ;;
		esac
		sed 's/^/      /' "$o/$b/$g.out" 2>/dev/null || true
	done
	if [ -d "$w/$name.9p" ] && [[ " $shares " = *" ninep "* ]]; then
		bash "$top/tests/shares.sh" ninephost "$hostbin" "$w/$name.9p/data" | sed 's/^/      /' ||
		    { echo "FAIL: $name: the 9p host's copy"; fail=1; }
	fi
	if [ "$trials" != 0 ]; then
		cat "$o/bench.out"
		read -r st _ <"$o/bench.rc"
		[ "$st" = 0 ] || { echo "FAIL: $name: bench/dirty.sh: status $st"; fail=1; }
	fi
done <<<"$kernels"
echo "kernels: $(wc -l <<<"$kernels") kernels in $((SECONDS - start)) s"
exit $fail
