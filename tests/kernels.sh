#!/bin/bash
# SPDX-License-Identifier: MIT
# Proves the whole test suite on the kernels users run: boots Debian's own
# kernels, as packaged in its archive, under qemu-system, and runs every
# group of tests/pagedrop.sh in each against the release's static binary
# for that architecture; a group that fails or skips fails the check with
# the kernel's name and the group's output. The groups of tests/shares.sh
# run there too, with a 9p share from this machine; they may skip where the
# kernel lacks a module, and their lines and skips are printed.
#
# usage: kernels.sh [--bench TRIALS] RELEASE-DIR [NAME...]
# RELEASE-DIR is build/release, beside build/arch/ARCH; NAME picks kernels
# from the table below. --bench runs bench/dirty.sh instead of the suite
# and prints what it measured. Packages, roots, images and initrds are kept
# in $PAGEDROP_KERNELS_CACHE (/var/cache/pagedrop-kernels); up to
# $PAGEDROP_KERNELS_JOBS guests (2) run at once; $PAGEDROP_KERNELS_SHARES,
# when set, names the share groups to run. Needs root, debootstrap,
# qemu-system-x86, qemu-system-arm, kmod and cpio; mounts nothing here.
set -euo pipefail
trials=0
if [ "${1:-}" = --bench ]; then trials=$2 && shift 2; fi
rel=$(realpath "$1")
shift
top=$(cd "$(dirname "$0")/.." && pwd)
cache=${PAGEDROP_KERNELS_CACHE:-/var/cache/pagedrop-kernels}
jobs=${PAGEDROP_KERNELS_JOBS:-2}
SECONDS=0
start=$SECONDS

# name, Debian architecture, suite, the package that names its kernel.
kernels=$(cat <<-'EOF'
	bookworm-arm64   arm64  bookworm            linux-image-arm64
	bullseye-amd64   amd64  bullseye            linux-image-amd64
	bookworm-amd64   amd64  bookworm            linux-image-amd64
	backports-amd64  amd64  bookworm-backports  linux-image-amd64
	EOF
)
if [ $# -gt 0 ]; then kernels=$(grep -wF "$(printf '%s\n' "$@")" <<<"$kernels"); fi
[ -n "$kernels" ] || { echo "kernels: none of $* in the table" >&2; exit 2; }
groups=$(sed -nE 's/^\tforeach\(group (.*)\)$/\1/p' "$top/CMakeLists.txt")
shares=${PAGEDROP_KERNELS_SHARES-$(sed -nE 's/^\t+foreach\(share (.*)\)$/\1/p' "$top/CMakeLists.txt")}
version=$(sed -nE 's/^project\(pagedrop VERSION ([^ ]+) .*/\1/p' "$top/CMakeLists.txt")

mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
w=$(mktemp -d)
cleanup() {
	local p
	for p in "$w"/*.pid; do [ -s "$p" ] && kill "$(cat "$p")" 2>/dev/null; done
	[ -n "${PAGEDROP_KERNELS_KEEP:-}" ] || rm -rf "$w"; rm -rf "$cache/stage"
}
trap cleanup EXIT

# The Debian mirror that this machine's apt uses.
mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk '/^URIs:/ && !/security/ { print $2; exit }' || true)
[ -n "$mirror" ] ||
    mirror=$(awk '$1 == "deb" && !/security/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
mirror=${mirror:-http://deb.debian.org/debian}

# An apt of its own, for the kernels' packages; the machine's is not touched.
a=$cache/apt
mkdir -p "$a/lists/partial" "$a/archives/partial" "$a/none" "$cache/debs"
for s in bullseye bookworm bookworm-backports; do
	echo "deb [arch=amd64,arm64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $s main"
done >"$a/sources.list"
touch "$a/status"
apt=(-o Dir::Etc::sourcelist="$a/sources.list" -o Dir::Etc::sourceparts="$a/none"
    -o Dir::Etc::preferencesparts="$a/none" -o Dir::State="$a" -o Dir::State::status="$a/status"
    -o Dir::Cache="$a" -o APT::Architecture=amd64 -o APT::Architectures::=amd64
    -o APT::Architectures::=arm64 -o APT::Sandbox::User=root)
apt-get "${apt[@]}" -qq update

# The guest's userland: Debian 12's packages that the tests call, unpacked
# for the architecture without running their scripts, which would need
# that architecture's CPU; the tests need their files only.
include=mount,e2fsprogs,xfsprogs,btrfs-progs,squashfs-tools,erofs-utils,strace,kmod,cmake,groff-base,busybox-static
include+=,nfs-kernel-server,cifs-utils,samba,sshfs,openssh-server
rootkey=$(echo "1 bookworm $include" | sha256sum | cut -c1-12)
mkroot() {
	local r=$cache/root-$1-$rootkey d
	[ -d "$r" ] && return
	rm -rf "$r.new"
	debootstrap --foreign --arch="$1" --variant=minbase --include="$include" \
	    bookworm "$r.new" "$mirror" >"$w/debootstrap-$1.log" 2>&1 ||
	    { tail -n 20 "$w/debootstrap-$1.log"; exit 1; }
	for d in "$r.new"/var/cache/apt/archives/*.deb; do
		dpkg-deb --fsys-tarfile "$d" | tar -x --keep-directory-symlink -C "$r.new"
	done
	rm -rf "$r.new/debootstrap" "$r.new"/var/cache/apt/archives/*.deb "$r.new/proc"
	mkdir "$r.new/proc"
	cp "$r.new/usr/share/base-passwd/passwd.master" "$r.new/etc/passwd"
	cp "$r.new/usr/share/base-passwd/group.master" "$r.new/etc/group"
	ln -sf ../proc/self/mounts "$r.new/etc/mtab"
	mv "$r.new" "$r"
}

# kernel NAME ARCH SUITE META: fetches the kernel package that META names
# in SUITE, and makes a disk image of the root with its modules and an
# initrd that loads what mounts it; sets img, vmlinuz, initrd, kver.
kernel() {
	local name=$1 arch=$2 suite=$3 meta=$4 pkg= ver= deb k s m i
	read -r pkg ver < <(apt-cache "${apt[@]}" show "$meta:$arch/$suite" |
	    sed -nE 's/^Depends: (linux-image-[^ ,]+) \(= ([^)]+)\).*/\1 \2/p' | head -n 1) || true
	[ -n "$pkg" ] || { echo "kernels: $name: no $meta in $suite" >&2; exit 1; }
	deb=$cache/debs/${pkg}_${ver}_$arch.deb
	[ -s "$deb" ] || (cd "$cache/debs" && apt-get "${apt[@]}" -qq download "$pkg:$arch=$ver")
	k=$cache/kernel/${deb##*/}
	k=${k%.deb}
	if [ ! -d "$k" ]; then
		rm -rf "$k.new" && mkdir -p "$k.new"
		dpkg-deb -x "$deb" "$k.new"
		mv "$k.new" "$k"
	fi
	kver=$(ls "$k/lib/modules")
	vmlinuz=$k/boot/vmlinuz-$kver
	mkroot "$arch"
	img=$cache/img/${k##*/}-$rootkey.img
	if [ ! -s "$img" ]; then
		s=$cache/stage
		rm -rf "$s" && mkdir -p "$cache/img"
		cp -al "$cache/root-$arch-$rootkey" "$s"
		cp -a "$k/lib/modules" "$s/usr/lib/"
		depmod -b "$s" "$kver"
		truncate -s 4G "$img.new"
		mkfs.ext4 -q -F -L root -d "$s" "$img.new"
		mv "$img.new" "$img"
		rm -rf "$s"
	fi
	# The initrd: busybox and the modules, dependencies first, that reach
	# the root on a virtio disk, decompressed for busybox's insmod.
	initrd=$cache/initrd/${k##*/}-$rootkey-$(sha256sum <"$top/tests/kernels.sh" | cut -c1-12).cpio.gz
	[ -s "$initrd" ] && return
	s=$w/initrd-$name
	mkdir -p "$s"/{bin,sbin,usr/bin,usr/sbin,dev,proc,sys,root,mod} "$cache/initrd"
	depmod -b "$k" "$kver"
	for m in virtio_pci virtio_blk ext4 crc32c_generic; do
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
	cp "$cache/root-$arch-$rootkey/usr/bin/busybox" "$s/bin/busybox"
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

# boot NAME ARCH: boots the guest with the job that the initrd's payload
# holds; its outputs land in $w/NAME.out, its console in $w/NAME.console.
boot() {
	local name=$1 arch=$2 s=$SECONDS q c
	case $arch in
	amd64) q=(qemu-system-x86_64 -M pc -cpu max) c=ttyS0 ;;
	arm64) q=(qemu-system-aarch64 -M virt -cpu max,pauth-impdef=on) c=ttyAMA0 ;;
	esac
	truncate -s 64M "$w/$name.res"
	timeout 2400 "${q[@]}" -m 2048 -smp 1 -nodefaults -display none -no-reboot \
	    -serial "file:$w/$name.console" -pidfile "$w/$name.pid" \
	    -kernel "$w/$name.vmlinuz" -initrd "$w/$name.initrd" \
	    -append "console=$c panic=-1 rdinit=/init" \
	    -drive "if=none,id=root,file=$w/$name.img,format=raw,snapshot=on" \
	    -device virtio-blk-pci,drive=root,serial=root \
	    -drive "if=none,id=out,file=$w/$name.res,format=raw" \
	    -device virtio-blk-pci,drive=out,serial=out \
	    -virtfs "local,path=$w/$name.9p,mount_tag=pagedrop,security_model=none,readonly=on" \
	    >"$w/$name.qemu" 2>&1 || true
	mkdir -p "$w/$name.out"
	tar -xf "$w/$name.res" -C "$w/$name.out" 2>/dev/null || true
	echo $((SECONDS - s)) >"$w/$name.took"
}

# Each guest's payload: the release's binary, the tests, the job, and the
# architecture's build tree where cmake --install looks for it, with the
# source files that its install names.
while read -r name arch suite meta; do
	kernel "$name" "$arch" "$suite" "$meta"
	echo "$kver" >"$w/$name.kver"
	ln -s "$vmlinuz" "$w/$name.vmlinuz"
	ln -s "$img" "$w/$name.img"
	p=$w/payload-$name/payload/pagedrop-kernels
	mkdir -p "$p/tests" "$p/bench"
	tar -xzf "$rel/pagedrop-$version-linux-$arch.tar.gz" -C "$p"
	cp "$top/tests/pagedrop.sh" "$top/tests/shares.sh" "$top/tests/guest.sh" "$p/tests/"
	cp "$top/bench/dirty.sh" "$p/bench/"
	b=$(realpath "$rel/../arch/$arch")
	src=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$b/CMakeCache.txt")
	tar -C / -cf - "${b#/}" "${src#/}/doc" "${src#/}/LICENSE" | tar -C "$w/payload-$name/payload" -xf -
	printf 'groups="%s"\nshares="%s"\nbin=%s\nbuild=%s\ntrials=%s\n' "$groups" "$shares" \
	    "pagedrop-$version-linux-$arch/pagedrop" "$b" "$trials" >"$p/job"
	mkdir -p "$w/$name.9p" && head -c 4M /dev/urandom >"$w/$name.9p/data"
	(cd "$w/payload-$name" && find . | sort | cpio -o -H newc --quiet -R 0:0) >"$w/payload-$name.cpio"
	# The kernel finds a second archive only on a 4-byte boundary; it skips zeros.
	cp "$initrd" "$w/$name.initrd"
	truncate -s %512 "$w/$name.initrd"
	cat "$w/payload-$name.cpio" >>"$w/$name.initrd"
done <<<"$kernels"
tar -xzf "$rel/pagedrop-$version-linux-$(dpkg --print-architecture).tar.gz" -C "$w"
hostbin=$w/pagedrop-$version-linux-$(dpkg --print-architecture)/pagedrop
echo "kernels: packages, roots, images and initrds ready after $((SECONDS - start)) s"

# Guests run $jobs at a time, the slowest (arm64) first.
running=0
while read -r name arch _; do
	if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
	boot "$name" "$arch" &
	running=$((running + 1))
done <<<"$kernels"
wait

fail=0
while read -r name arch _; do
	o=$w/$name.out
	printf 'kernels: %s took %s s\n' "$name" "$(cat "$w/$name.took")"
	if [ ! -s "$o/uname" ]; then
		echo "FAIL: $name: no results; the console's last lines:"
		tail -n 40 "$w/$name.console" "$w/$name.qemu"
		fail=1
		continue
	fi
	printf '  %s\n' "$(cat "$o/version")"
	[ "$(cat "$o/uname")" = "$(cat "$w/$name.kver")" ] ||
	    { echo "FAIL: $name: booted $(cat "$o/uname"), not $(cat "$w/$name.kver")"; fail=1; }
	if [ "$trials" != 0 ]; then
		cat "$o/bench.out"
		read -r st _ <"$o/bench.rc"
		[ "$st" = 0 ] || { echo "FAIL: $name: bench/dirty.sh: status $st"; fail=1; }
		continue
	fi
	for g in $groups; do
		if [ ! -s "$o/$g.rc" ]; then
			echo "FAIL: $name: $g: did not run"
			fail=1
			continue
		fi
		read -r st secs <"$o/$g.rc"
		if [ "$st" = 0 ]; then
			printf '  %-12s ok (%s s)\n' "$g" "$secs"
		else
			# A skip is a failure too: as root in the guest, every group can run.
			echo "FAIL: $name ($(cat "$o/uname")): $g: status $st; its output:"
			sed 's/^/    /' "$o/$g.out"
			fail=1
		fi
	done
	# A share group may skip only where this kernel lacks a module.
	for g in $shares; do
		read -r st secs <"$o/$g.rc" 2>/dev/null || st=none
		case $st in
		0) printf '  %-12s ok (%s s)\n' "$g" "$secs" ;;
		77) if grep -q '^SKIP: this kernel has no ' "$o/$g.out"; then
			printf '  %-12s skipped (%s s)\n' "$g" "$secs"
		else
			echo "FAIL: $name ($(cat "$o/uname")): $g: skipped, not for want of a module"
			fail=1
		fi ;;
		*) echo "FAIL: $name ($(cat "$o/uname")): $g: status $st"; fail=1 ;;
		esac
		sed 's/^/    /' "$o/$g.out" 2>/dev/null || true
	done
	[[ " $shares " = *" ninep "* ]] || continue
	bash "$top/tests/shares.sh" ninephost "$hostbin" "$w/$name.9p/data" | sed 's/^/    /' ||
	    { echo "FAIL: $name: the 9p host's copy"; fail=1; }
done <<<"$kernels"
echo "kernels: $(wc -l <<<"$kernels") kernels in $((SECONDS - start)) s"
exit $fail
