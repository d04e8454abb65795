#!/bin/bash
# SPDX-License-Identifier: MIT
# buildroot.sh: the Debian 13 root that a release is built in, and a command
# run inside it, so that the release's bytes depend on the packages the root
# records and not on the machine that makes it.
#
# usage: buildroot.sh path                 the root's folder, made first if missing
#        buildroot.sh run SRC BUILD CMD... CMD in the root, SRC at /src (read-only)
#                                          and BUILD at /build
#        buildroot.sh host SRC BUILD CMD.. CMD in this machine's own system, SRC and
#                                          BUILD at /src and /build (a release's tests)
#        buildroot.sh packages             the packages that the root is made of
#        buildroot.sh buildinfo OUT VER    (in the root) the buildinfo of release VER in OUT
#
# The root holds Debian 13's essential packages and what packaging/release.sh
# calls: g++ and the cross g++ of each line of packaging/arches, CMake, dpkg,
# rpm, the archivers, gnupg, the repository tools (repo-add needs makepkg's
# scripts) and qemu-user-static. It is
# made by mmdebstrap (as root; as another user in a user namespace with the
# ranges of /etc/subuid and /etc/subgid) and kept in
# $PAGEDROP_BUILDROOT_CACHE: /var/cache/pagedrop-buildroot for root,
# ~/.cache/pagedrop-buildroot for a user, who also uses a root that root
# made. A root is named by a digest of what it is made of and never
# updated: remove it to take newer packages.
# PAGEDROP_BUILDINFO=FILE makes the root of exactly the packages and
# versions that FILE's Installed-Build-Depends names, or fails naming each
# that the archive lacks. The archive is PAGEDROP_BUILDROOT_MIRROR
# (http://deb.debian.org/debian) and its security archive
# PAGEDROP_BUILDROOT_SECURITY (http://deb.debian.org/debian-security).
# A command runs in a mount and process namespace of its own: as root, with
# chroot; as another user, in a user namespace too. The root is read-only
# there, /tmp is empty, and what the command leaves running ends with it.
# GNUPGHOME, or ~/.gnupg, is at /gnupg when PAGEDROP_SIGNING_KEY is set.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
suite=trixie
mirror=${PAGEDROP_BUILDROOT_MIRROR:-http://deb.debian.org/debian}
security=${PAGEDROP_BUILDROOT_SECURITY:-http://deb.debian.org/debian-security}
arch=$(dpkg --print-architecture)
die() { echo "buildroot: $*" >&2; exit 1; }
# shellcheck source=packaging/aptdir.sh
. "$here/aptdir.sh"

# requested: the packages asked for, one a line, sorted.
requested() {
	local deb triple
	{
		printf '%s\n' g++ cmake make git dpkg-dev file tar gzip xz-utils zstd \
		    libarchive-tools rpm gnupg apt-utils createrepo-c pacman-package-manager makepkg \
		    qemu-user-static
		while read -r deb triple _; do
			case $deb in '' | \#*) continue ;; "$arch") ;; *) echo "g++-${triple//_/-}" ;; esac
		done <"$here/arches"
	} | LC_ALL=C sort -u
}

# pinned: PAGEDROP_BUILDINFO's Installed-Build-Depends as NAME=VERSION lines.
pinned() {
	[ -r "$PAGEDROP_BUILDINFO" ] || die "PAGEDROP_BUILDINFO: cannot read $PAGEDROP_BUILDINFO"
	awk '/^Installed-Build-Depends:/ { p = 1; next } /^[^ ]/ { p = 0 }
	    p && match($0, /^ [^ ]+ \(= [^)]+\)/) {
		split(substr($0, 2, RLENGTH - 2), f, / \(= /); print f[1] "=" f[2] }' \
	    "$PAGEDROP_BUILDINFO" | LC_ALL=C sort -u
}

# wanted: what the root is made of: the buildinfo's packages, or those asked for.
wanted() {
	if [ -n "${PAGEDROP_BUILDINFO:-}" ]; then pinned; else requested; fi
}

# cachedirs: where roots are looked for, the user's own first.
cachedirs() {
	if [ -n "${PAGEDROP_BUILDROOT_CACHE:-}" ]; then
		echo "$PAGEDROP_BUILDROOT_CACHE"
	elif [ "$(id -u)" = 0 ]; then
		echo /var/cache/pagedrop-buildroot
	else
		echo "${XDG_CACHE_HOME:-$HOME/.cache}/pagedrop-buildroot"
		echo /var/cache/pagedrop-buildroot
	fi
}

# name: the folder name of a root of the packages on standard input: the
# suite, the architecture and a digest of what it is made of and how.
name() {
	echo "$suite-$arch-$({ echo 1 "$suite" "$arch"; cat; } | sha256sum | cut -c1-12)"
}

# installed ROOT: the packages that ROOT holds, as NAME=VERSION lines.
installed() {
	dpkg-query --admindir="$1/var/lib/dpkg" -W -f '${db:Status-Abbrev} ${Package}=${Version}\n' |
	    awk '$1 == "ii" { print $2 }' | LC_ALL=C sort -u
}

# missing DIR: of the pinned NAME=VERSION lines, those that the archive
# lacks, looked up by an apt of its own in DIR.
missing() {
	local a=$1 f
	aptdir "$a" "$arch"
	apt+=(-o Acquire::Check-Valid-Until=false -o Debug::NoLocking=true)
	{
		echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite $suite-updates main"
		echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $security $suite-security main"
	} >"$a/sources.list"
	apt-get "${apt[@]}" -qq update >"$a/update.log" 2>&1 ||
	    die "apt-get update from $mirror and $security failed: $(tail -n 3 "$a/update.log")"
	for f in "$a"/lists/*_Packages*; do
		/usr/lib/apt/apt-helper cat-file "$f"
	done | awk -v arch="$arch" '/^Package: / { p = $2 } /^Version: / { v = $2 }
	    /^Architecture: / { a = $2 } /^$/ { if (a == arch || a == "all") print p "=" v }
	    END { if (a == arch || a == "all") print p "=" v }' | LC_ALL=C sort -u >"$a/available"
	pinned | LC_ALL=C comm -23 - "$a/available"
}

# mkroot DIR: makes the root in DIR, owned by this user.
mkroot() {
	local dir=$1 t=$1.tmp variant=essential mode opts=() pkgs lacking
	rm -rf "$t" && mkdir -p "$t"
	if [ -n "${PAGEDROP_BUILDINFO:-}" ]; then
		lacking=$(missing "$t/apt")
		[ -z "$lacking" ] || {
			echo "buildroot: the archive ($mirror, $security) lacks these packages of $PAGEDROP_BUILDINFO:" >&2
			sed 's/^/    /; s/=/ (= /; s/$/)/' <<<"$lacking" >&2
			echo "buildroot: point PAGEDROP_BUILDROOT_MIRROR and PAGEDROP_BUILDROOT_SECURITY at an archive that has them, such as Debian's snapshots of the buildinfo's date" >&2
			rm -rf "$t"
			exit 1
		}
		variant=custom
		opts+=(--aptopt='Acquire::Check-Valid-Until "false"')
	fi
	pkgs=$(wanted | paste -sd ,)
	if [ "$(id -u)" = 0 ]; then
		mode=root
	elif grep -qs "^$(id -un):" /etc/subuid && grep -qs "^$(id -un):" /etc/subgid &&
	    command -v newuidmap >/dev/null; then
		mode=unshare
	else
		# mmdebstrap's fakechroot mode needs the root's C library to be
		# this machine's, which Debian 12's is not.
		die "$(id -un) has no ranges in /etc/subuid and /etc/subgid (or no newuidmap), which mmdebstrap needs to make the root without root. As root, either run 'usermod --add-subuids 100000-165535 --add-subgids 100000-165535 $(id -un)' and install uidmap, or make the root once with 'bash packaging/buildroot.sh path', which every user then takes"
	fi
	echo "buildroot: making the $suite root for $arch ($mode mode) in $dir" >&2
	# A user's root is made as a tarball and unpacked in a user namespace,
	# where its files, all this user's, are root's.
	local target=$t/root
	[ $mode = root ] || target=$t/root.tar
	mmdebstrap --mode=$mode --variant=$variant --include="$pkgs" "${opts[@]}" \
	    --customize-hook='mkdir -p "$1/src" "$1/build" "$1/gnupg"' \
	    "$suite" "$target" \
	    "deb $mirror $suite main" "deb $mirror $suite-updates main" \
	    "deb $security $suite-security main" >"$t/mmdebstrap.log" 2>&1 ||
	    { tail -n 30 "$t/mmdebstrap.log" >&2; die "mmdebstrap failed: the whole log is $t/mmdebstrap.log"; }
	if [ $mode != root ]; then
		mkdir "$t/root"
		unshare --map-root-user tar -C "$t/root" --no-same-owner -xpf "$t/root.tar" \
		    --exclude='./dev/*' || die "cannot unpack $t/root.tar"
	fi
	# The root holds exactly the packages it was asked for: apt took no
	# other version in silence.
	if [ -n "${PAGEDROP_BUILDINFO:-}" ]; then
		diff <(pinned) <(installed "$t/root") >&2 ||
		    die "the root made in $t is not the one that $PAGEDROP_BUILDINFO names"
	fi
	mv "$t/root" "$dir"
	rm -rf "$t"
	# A rebuild from the buildinfo of a release made in it finds it too.
	local as
	as=$(installed "$dir" | name)
	[ "$as" = "${dir##*/}" ] || ln -sfT "${dir##*/}" "${dir%/*}/$as"
}

# root: sets root, the folder of the root, made first if no cache has it.
root() {
	local n d mine
	n=$(wanted | name)
	for d in $(cachedirs); do
		[ -d "$d/$n" ] && { root=$d/$n; return; }
	done
	mine=$(cachedirs | head -n 1)
	mkdir -p "$mine"
	exec 8>"$mine/lock"
	flock 8
	root=$mine/$n
	[ -d "$root" ] || mkroot "$root"
	exec 8>&-
}

# ns: a command to run in a mount and process namespace of its own, in a
# user namespace too where this user is not root; or a clear refusal.
# In a chroot, whose / is no mount, mounts cannot be made private: there
# they are left as they are where no mount propagates to another.
ns() {
	local p=private
	if [ "$(id -u)" != 0 ]; then
		unshare --map-root-user true 2>/dev/null ||
		    die "the kernel refuses $(id -un) a user namespace, which chroot and bind mounts need without root: it refuses one to any process in a chroot, and where user.max_user_namespaces is 0, kernel.unprivileged_userns_clone is 0 or an AppArmor policy forbids it. Make the release as root, or outside the chroot, or allow unprivileged user namespaces"
		ns=(unshare --map-root-user)
	else
		ns=(unshare)
	fi
	if ! "${ns[@]}" --mount --propagation private true 2>/dev/null; then
		! grep -q ' shared:' /proc/self/mountinfo ||
		    die "/ is no mount here (a chroot?), so the build root's mounts cannot be made private, and some of this machine's mounts are shared, which would show them outside: make the release outside the chroot, or make its mounts private (mount --make-rprivate /) first"
		p=unchanged
	fi
	ns+=(--mount --pid --fork --propagation "$p")
}

# A command's environment: the build's own settings and the variables that
# the release reads, nothing else of this machine's.
keep=(SOURCE_DATE_EPOCH PAGEDROP_SIGNING_KEY PAGEDROP_ALLOW_DIRTY CFLAGS CXXFLAGS CPPFLAGS LDFLAGS)

# enter KIND ROOT SRC BUILD CMD...: CMD in ROOT, a folder that holds /src,
# /build and /gnupg, with SRC and BUILD there. KIND root: the build root,
# read-only, with a /tmp, /var/tmp, rpm database and /dev of its own; host: a view of this
# machine's system, whose /tmp and /dev it keeps for the tests.
enter() {
	local kind=$1 r=$2 src build env=(PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp LC_ALL=C.UTF-8 PAGEDROP_IN_BUILDROOT=1)
	src=$(realpath "$3") build=$(realpath "$4")
	shift 4
	[ "$kind" = root ] || env[0]=PATH=/qemu:/usr/sbin:/usr/bin:/sbin:/bin
	local v gitdir='' common='' gpg=''
	for v in "${keep[@]}"; do [ -z "${!v+x}" ] || env+=("$v=${!v}"); done
	case $build/ in "$src"/*) env+=("PAGEDROP_SRC_BUILD=/src/${build#"$src"/}") ;; esac
	# A worktree's .git names its git folder elsewhere, which is bound too.
	if [ "$kind" = root ] && [ -f "$src/.git" ]; then
		gitdir=$(sed -n 's/^gitdir: //p' "$src/.git")
		[[ $gitdir = /* ]] || gitdir=$src/$gitdir
		common=$gitdir
		[ ! -f "$gitdir/commondir" ] || common=$(cd "$gitdir" && realpath "$(cat commondir)")
		case $gitdir in
		"$common"/*) env+=(GIT_DIR="/tmp/git/${gitdir#"$common"/}" GIT_WORK_TREE=/src) ;;
		*) die "$src/.git names $gitdir, which is not in the git folder $common" ;;
		esac
	fi
	# The tree may be another user's, which git trusts only when told.
	env+=(GIT_CONFIG_COUNT=1 GIT_CONFIG_KEY_0=safe.directory GIT_CONFIG_VALUE_0='*')
	if [ -n "${PAGEDROP_SIGNING_KEY:-}" ]; then
		gpg=${GNUPGHOME:-$HOME/.gnupg}
		[ -d "$gpg" ] || die "PAGEDROP_SIGNING_KEY is set but there is no gpg folder $gpg"
		gpg=$(realpath "$gpg")
		env+=(GNUPGHOME=/gnupg)
	fi
	ns
	"${ns[@]}" bash -euc '
	kind=$1 r=$2 src=$3 build=$4 common=$5 gpg=$6
	shift 6
	# A user namespace may not clear the flags of a mount made outside it,
	# such as a FUSE mount'"'"'s nosuid: they are kept.
	ro() { mount -o "remount,bind,$(findmnt -no VFS-OPTIONS "$1" | sed "s/^rw/ro/")" "$1"; }
	mount --rbind "$r" "$r"
	mount -t proc proc "$r/proc"
	if [ "$kind" = root ]; then
		ro "$r"
		# What the tools write besides the build: rpm its database.
		mount -t tmpfs -o mode=1777 tmp "$r/tmp"
		mount -t tmpfs -o mode=1777 vartmp "$r/var/tmp"
		mount -t tmpfs -o mode=755 rpmdb "$r/var/lib/rpm"
		mount -t tmpfs -o mode=755 dev "$r/dev"
		for d in null zero full random urandom tty; do
			touch "$r/dev/$d" && mount --bind "/dev/$d" "$r/dev/$d"
		done
		ln -s /proc/self/fd "$r/dev/fd"
		for d in 0:stdin 1:stdout 2:stderr; do ln -s "/proc/self/fd/${d%%:*}" "$r/dev/${d#*:}"; done
		mkdir "$r/dev/shm" && mount -t tmpfs -o mode=1777 shm "$r/dev/shm"
	fi
	mount --bind "$src" "$r/src" && ro "$r/src"
	mount --bind "$build" "$r/build"
	[ -z "$common" ] || { mkdir "$r/tmp/git" && mount --bind "$common" "$r/tmp/git" && ro "$r/tmp/git"; }
	[ -z "$gpg" ] || mount --bind "$gpg" "$r/gnupg"
	# An agent that gpg starts in the root is stopped there.
	[ -z "$gpg" ] || ! chroot "$r" env -i PATH=/usr/bin:/bin GNUPGHOME=/gnupg \
	    gpg-connect-agent --no-autostart /bye >/dev/null 2>&1 || gpg=
	st=0
	chroot "$r" "$@" || st=$?
	[ -z "$gpg" ] || chroot "$r" env -i PATH=/usr/bin:/bin GNUPGHOME=/gnupg gpgconf --kill all || true
	exit $st
	' bash "$kind" "$r" "$src" "$build" "$common" "$gpg" \
	    env -i "${env[@]}" sh -c 'cd /build && exec "$@"' sh "$@"
}

# host SRC BUILD CMD...: CMD in a view of this machine's own system: a
# tmpfs that holds each top-level folder of / bound, and its links, with
# SRC and BUILD at /src and /build, and the build root's qemu-user (static
# programs, which run here) first in PATH, from /qemu.
host() {
	local v st=0
	root
	v=$(mktemp -d)
	ns
	"${ns[@]}" bash -euc '
	v=$1 root=$2 && shift 2
	mount -t tmpfs -o mode=755 view "$v"
	for e in /*; do
		n=${e#/}
		if [ -L "$e" ]; then cp -P "$e" "$v/$n"
		elif [ -d "$e" ] && [ "$n" != src ] && [ "$n" != build ] && [ "$n" != gnupg ]; then
			mkdir "$v/$n" && mount --rbind "$e" "$v/$n"
		fi
	done
	mkdir "$v/src" "$v/build" "$v/gnupg" "$v/buildroot" "$v/qemu"
	mount --bind "$root" "$v/buildroot"
	mount -o "remount,bind,$(findmnt -no VFS-OPTIONS "$v/buildroot" | sed "s/^rw/ro/")" "$v/buildroot"
	for q in "$root"/usr/bin/qemu-*-static; do
		ln -s "/buildroot/usr/bin/$(basename "$(readlink -f "$q")")" "$v/qemu/${q##*/}"
	done
	exec "$@"' bash "$v" "$root" bash "$here/buildroot.sh" enter host "$v" "$@" || st=$?
	rmdir "$v"
	return $st
}

# buildinfo OUT VERSION: the release in OUT described as dpkg describes a
# build: the files that signing leaves alone (a signed release's .rpm, .dsc
# and .changes differ; SHA256SUMS names them), the packages of the root and
# the environment that the release reads.
buildinfo() {
	local out=$1 version=$2 archs v f
	archs=$(awk '!/^#/ && NF { print $1 }' "$here/arches" | paste -sd ' ')
	echo "Format: 1.0"
	echo "Source: pagedrop"
	echo "Binary: pagedrop"
	echo "Architecture: source $archs"
	echo "Version: $version"
	echo "Checksums-Sha256:"
	for f in $(cd "$out" && ls -A | LC_ALL=C sort); do
		case $f in *.rpm | *.dsc | *.changes | *.buildinfo | SHA256SUMS*) continue ;; esac
		echo " $(sha256sum <"$out/$f" | cut -d' ' -f1) $(stat -c %s "$out/$f") $f"
	done
	echo "Build-Origin: $(sed -n 's/^Vendor: //p' /etc/dpkg/origins/default)"
	echo "Build-Architecture: $(dpkg --print-architecture)"
	echo "Build-Path: /build"
	echo "Installed-Build-Depends:"
	dpkg-query -W -f '${db:Status-Abbrev} ${Package} (= ${Version})\n' | awk '$1 == "ii" { $1 = ""; print }' |
	    LC_ALL=C sort | sed '$!s/$/,/'
	echo "Environment:"
	for v in LC_ALL TZ SOURCE_DATE_EPOCH CFLAGS CXXFLAGS CPPFLAGS LDFLAGS PAGEDROP_MAINTAINER PAGEDROP_URL; do
		[ -z "${!v+x}" ] || echo " $v=\"${!v}\""
	done
}

case ${1:-} in
path) root && echo "$root" ;;
run) [ $# -ge 4 ] || die "usage: buildroot.sh run SRC BUILD CMD..."; root && enter root "$root" "${@:2}" ;;
host) [ $# -ge 4 ] || die "usage: buildroot.sh host SRC BUILD CMD..."; host "${@:2}" ;;
enter) enter "${@:2}" ;;
packages) wanted ;;
buildinfo) [ $# = 3 ] || die "usage: buildroot.sh buildinfo OUT VERSION"; buildinfo "$2" "$3" ;;
*) die "usage: buildroot.sh path | run SRC BUILD CMD... | host SRC BUILD CMD... | packages | buildinfo OUT VERSION" ;;
esac
