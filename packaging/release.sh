#!/bin/bash
# SPDX-License-Identifier: MIT
# release.sh SOURCE-DIR BUILD-DIR VERSION DATE MAINTAINER URL [STEP...]: makes
# BUILD-DIR/release, step by step, every step by default:
#   check     refuses a checkout whose tracked files differ from its commit
#             (unless PAGEDROP_ALLOW_DIRTY=1), a missing tool, a weak key;
#   srctar    the source tarball;
#   pkgbuild  the PKGBUILD that builds it for Arch Linux from URL, the
#             address of the release folder, and its .SRCINFO;
#   debsrc    the Debian source package made from the tarball;
#   rpmsrc    pagedrop.spec and the source RPM made from the tarball;
#   binaries  for each architecture in packaging/arches, built in
#             BUILD-DIR/arch/NAME: a Debian package, a static binary
#             tarball and, where the line names one, an RPM and a pacman
#             package;
#   image     an OCI image of the static binaries, and the file that holds
#             the digest of its index (packaging/image.sh);
#   buildinfo pagedrop-VERSION.buildinfo: the build root's packages and
#             the release's sums;
#   sums      SHA256SUMS over all of them;
#   sign      with PAGEDROP_SIGNING_KEY set to the fingerprint of a key
#             that gpg holds: the RPMs, the .dsc and the .changes signed,
#             SHA256SUMS anew and SHA256SUMS.asc, the public key, a
#             signature beside each pacman package, and an APT, an RPM and
#             a pacman repository. It runs on a release made before, too.
# The key must be RSA of 3072 bits or more, or Ed25519. Every time stamp is
# SOURCE_DATE_EPOCH, by default DATE (seconds), the date of the first
# changelog entry, so that a clone and the unpacked source tarball of one
# commit give the same bytes wherever they are built.
set -euo pipefail
src=$(realpath "$1") build=$(realpath "$2") version=$3 date=$4 maintainer=$5 url=$6
shift 6
# Every file is made inside the Debian 13 root that buildroot.sh makes and
# records, with this tree at /src and the build folder at /build: the
# script runs again there.
if [ -z "${PAGEDROP_IN_BUILDROOT:-}" ]; then
	exec bash "$src/packaging/buildroot.sh" run "$src" "$build" \
	    bash /src/packaging/release.sh /src /build "$version" "$date" "$maintainer" "$url" "$@"
fi
out=$build/release
export LC_ALL=C TZ=UTC
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$date}
key=${PAGEDROP_SIGNING_KEY:-}
gpgsign=(gpg --batch --yes --local-user "$key" --digest-algo SHA256)
dv=$version-1 ds=$build/debsrc
# The maintainer and the address, escaped for sed's s|||.
m=$(sed 's/[&|\\]/\\&/g' <<<"$maintainer") u=$(sed 's/[&|\\]/\\&/g' <<<"$url")
# The summary, capitalised as RPM and pacman write it, and the description,
# from debian/control, where they are written once.
summary=$(sed -n 's/^Description: //p' "$src/packaging/debian/control") summary=${summary^}
description=$(sed -n '/^Description: /,/^[^ ]/s/^ //p' "$src/packaging/debian/control" | sed 's/^\.$//')

need() {
	local what=$1 debs=$2 c
	shift 2
	for c; do
		command -v "$c" >/dev/null || { echo "release: $what needs $c (Debian: $debs)" >&2; exit 1; }
	done
}

check() {
	# The address goes into the PKGBUILD between quotes.
	[[ $url =~ ^https?://[A-Za-z0-9._~%/:@+-]+$ ]] ||
	    { echo "release: PAGEDROP_URL is no http(s) address: $url" >&2; exit 1; }
	need "the pacman packages" "libarchive-tools, zstd" bsdtar zstd
	need "the source packages" "dpkg-dev, rpm" dpkg-source dpkg-genchanges rpmbuild
	# A release is what its commit holds: the source tarball packs the
	# files that git tracks as the tree has them, under the commit's
	# version.
	local dirty
	if [ -e "$src/.git" ]; then
		dirty=$(git -C "$src" status --porcelain=v1 --untracked-files=no 2>&1) ||
		    { echo "release: git cannot read the checkout $src: $dirty" >&2; exit 1; }
		if [ -n "$dirty" ] && [ "${PAGEDROP_ALLOW_DIRTY:-}" = 1 ]; then
			echo "release: PAGEDROP_ALLOW_DIRTY=1: releasing tracked files that differ from commit $(git -C "$src" rev-parse --short HEAD):"
			sed 's/^/    /' <<<"$dirty"
		elif [ -n "$dirty" ]; then
			{
				echo "release: tracked files differ from commit $(git -C "$src" rev-parse --short HEAD), whose version they would be released as:"
				sed 's/^/    /' <<<"$dirty"
				echo "release: commit or stash them, or set PAGEDROP_ALLOW_DIRTY=1 to release them as they are"
			} >&2
			exit 1
		fi
	fi
	[ -z "$key" ] || checkkey
	echo "release: pagedrop $version, dated $(date -d "@$SOURCE_DATE_EPOCH" -R)"
}

# Signing's tools and key are looked for before anything is built. Debian
# 13's apt verifies with sqv, which refuses DSA keys and SHA-1 and will
# refuse RSA under 3072 bits from 2030: the primary key and every signing
# subkey that is not expired or revoked must be RSA of 3072 bits or more,
# or Ed25519.
checkkey() {
	local weak
	need signing "gnupg, rpm, apt-utils, createrepo-c, pacman-package-manager" \
	    gpg rpmsign apt-ftparchive createrepo_c repo-add
	gpg --batch --list-secret-keys "$key" >/dev/null 2>&1 ||
	    { echo "release: gpg finds no secret key $key" >&2; exit 1; }
	weak=$(gpg --batch --with-colons --list-keys -- "$key" | awk -F: '
	    ($1 == "pub" || ($1 == "sub" && $12 ~ /s/)) && $2 !~ /[erd]/ &&
	    !(($4 == 1 && $3 >= 3072) || ($4 == 22 && $17 == "ed25519")) {
		a = $4 == 1 ? "RSA" : $4 == 17 ? "DSA" : $4 == 22 ? "EdDSA " $17 : $4 == 19 ? "ECDSA " $17 : "algorithm " $4
		print $1 " " $5 ": " a ", " $3 " bits" }')
	[ -z "$weak" ] || {
		echo "release: the key $key is too weak for a release: it needs RSA of 3072 bits or more, or Ed25519;" >&2
		echo "release: Debian 13's apt refuses DSA and, from 2030, RSA under 3072 bits. It has:" >&2
		sed 's/^/    /' <<<"$weak" >&2
		exit 1
	}
}

# The source tarball, by CPack settings made in the root: the build
# folder's name this machine's folders.
srctar() {
	rm -rf "$out"
	mkdir -p "$out"
	cmake -S "$src" -B "$build/source" -DPAGEDROP_RELEASE_BUILD="${PAGEDROP_SRC_BUILD:-}" >/dev/null
	(cd "$build/source" && cpack --config CPackSourceConfig.cmake >/dev/null)
	mv "$build/source/pagedrop-$version.tar.gz" "$out/"
}

# The PKGBUILD of an AUR package: packaging/PKGBUILD with this release's
# maintainer, version, address and source tarball's sum, and the .SRCINFO
# that makepkg --printsrcinfo would print of it (which refuses to run as
# root): the AUR takes the two together.
pkgbuild() {
	local sum
	sum=$(sha256sum "$out/pagedrop-$version.tar.gz") sum=${sum%% *}
	sed -e '/^# The release writes/,/cannot hold\.$/d' -e "s|^# Maintainer: .*|# Maintainer: $m|" -e "s|@VERSION@|$version|" \
	    -e "s|@URL@|$u|" -e "s|@SHA256@|$sum|" "$src/packaging/PKGBUILD" |
	    while IFS= read -r l; do printf '%s\n' "${l//@SUMMARY@/$summary}"; done >"$out/PKGBUILD"
	# The PKGBUILD sets the names printed here. Shellcheck is not to follow it:
	# its arrays (arch, license) would clash with this script's strings.
	# shellcheck source=/dev/null disable=SC2154
	(set +u && . "$out/PKGBUILD" && {
		printf 'pkgbase = %s\n' "$pkgname"
		printf '\tpkgdesc = %s\n\tpkgver = %s\n\tpkgrel = %s\n\turl = %s\n' "$pkgdesc" "$pkgver" "$pkgrel" "$url"
		printf '\tarch = %s\n' "${arch[@]}"
		printf '\tlicense = %s\n' "${license[@]}"
		printf '\tcheckdepends = %s\n' "${checkdepends[@]}"
		printf '\tmakedepends = %s\n' "${makedepends[@]}"
		printf '\tsource = %s\n' "${source[@]}"
		printf '\tsha256sums = %s\n' "${sha256sums[@]}"
		printf '\npkgname = %s\n' "$pkgname"
	}) >"$out/.SRCINFO"
	[ "$url" != https://pagedrop.invalid ] ||
	    echo "release: the PKGBUILD's source is at the placeholder $url: PAGEDROP_URL names no address"
}

# The Debian source package: the source tarball as its .orig.tar.gz, and
# the tarball's packaging/debian as its debian/ folder, given the
# maintainer, the address, and a changelog that is doc/changelog with each
# version the Debian revision 1 of it. Its files stay in BUILD-DIR/debsrc,
# where sign makes the .changes again over the signed .dsc.
debsrc() {
	local top=$ds/pagedrop-$version
	rm -rf "$ds"
	mkdir -p "$ds"
	cp "$out/pagedrop-$version.tar.gz" "$ds/pagedrop_$version.orig.tar.gz"
	tar -xzf "$ds/pagedrop_$version.orig.tar.gz" -C "$ds"
	cp -r "$top/packaging/debian" "$top/debian"
	sed -i "s|^Maintainer: .*|Maintainer: $m|" "$top/debian/control"
	sed -i "s|^Source: .*|Source: $u|" "$top/debian/copyright"
	sed -i "s|^https://pagedrop\.invalid/ |$u/ |" "$top/debian/watch"
	sed -E -e 's/^pagedrop \(([^)]+)\)/pagedrop (\1-1)/' -e "s|^ -- .*>  | -- $m  |" \
	    "$top/doc/changelog" >"$top/debian/changelog"
	chmod -R u=rwX,go=rX "$top"
	(cd "$top" && dpkg-source -b . >/dev/null)
	changes
	cp "$ds/pagedrop_$dv.dsc" "$ds/pagedrop_$version.orig.tar.gz" "$ds/pagedrop_$dv.debian.tar.xz" "$out/"
}
# changes: the source-only upload's .changes, over the .dsc beside it.
changes() {
	(cd "$ds/pagedrop-$version" && dpkg-genchanges -S -O"$ds/pagedrop_${dv}_source.changes" 2>/dev/null)
	chmod 644 "$ds"/pagedrop_*
	cp "$ds/pagedrop_${dv}_source.changes" "$out/"
}

# rpmchangelog: doc/changelog as pagedrop.spec's %changelog, each version
# the release 1 of it and packaged by the maintainer.
rpmchangelog() {
	awk -v packager="$maintainer" '
	/^pagedrop \(/ { v = $2; gsub(/[()]/, "", v); n = 0; next }
	/^  \* / { sub(/^  \* /, "- "); item[++n] = $0; next }
	/^    / { sub(/^    /, "  "); item[++n] = $0; next }
	/^ -- / {
		d = $0; sub(/^ -- .*>  /, "", d)
		cmd = "date -u -d \"" d "\" \"+%a %b %d %Y\""; cmd | getline d; close(cmd)
		if (k++) print ""
		print "* " d " " packager " - " v "-1"
		for (i = 1; i <= n; i++) print item[i]
	}' "$src/doc/changelog"
}
# The RPM spec, packaging/pagedrop.spec with this release's version,
# address, summary and description and a %changelog made from doc/changelog,
# and the source RPM that rpmbuild -bs makes of it and the source tarball:
# its files owned by root, the maintainer its packager, dated
# SOURCE_DATE_EPOCH. The source RPM also holds pagedrop.spec as rpmbuild
# expands it, with rpmbuild's folders and the number of CPUs: those are
# given relative to the build folder, and as one CPU.
rpmsrc() {
	local sp=$build/srpm
	{
		sed -e "s|@VERSION@|$version|" -e "s|@URL@|$u|" "$src/packaging/pagedrop.spec" |
		    while IFS= read -r l; do
			l=${l//@SUMMARY@/$summary}
			printf '%s\n' "${l//@DESCRIPTION@/$description}"
		    done
		rpmchangelog
	} >"$out/pagedrop.spec"
	rm -rf "$sp"
	mkdir -p "$sp/sources"
	cp "$out/pagedrop.spec" "$out/pagedrop-$version.tar.gz" "$sp/sources/"
	chmod 644 "$sp/sources"/* "$out/pagedrop.spec"
	(cd "$build" && rpmbuild -bs --nodeps --define "_topdir srpm" --define "_sourcedir srpm/sources" \
	    --define "_srcrpmdir srpm" --define "_smp_build_ncpus 1" --define "_srcdefattr (-,root,root)" \
	    --define "_buildhost reproducible" --define "packager $maintainer" \
	    --define "use_source_date_epoch_as_buildtime 1" --define "build_mtime_policy clamp_to_source_date_epoch" \
	    srpm/sources/pagedrop.spec >/dev/null)
	mv "$sp/pagedrop-$version-1.src.rpm" "$out/"
}

# pacpkg DIR ARCH: a pacman package of the files in DIR's tarball folder, as
# makepkg lays one out: .BUILDINFO, .MTREE and .PKGINFO, then the files in
# C order, all owned by root and dated SOURCE_DATE_EPOCH.
pacpkg() {
	local dir=$1 arch=$2 p=$1/pacman size full pkgrel pkgdesc license tar
	IFS=$'\t' read -r pkgrel pkgdesc license < <(set +u && . "$out/PKGBUILD" &&
	    printf '%s\t%s\t%s\n' "$pkgrel" "$pkgdesc" "${license[*]}")
	full=$version-$pkgrel
	rm -rf "${p:?}"
	# The files where the build installs them, as the PKGBUILD's package()
	# has them, and the binary stripped, as the other packages hold it.
	DESTDIR=$p cmake --install "$dir" --prefix /usr >/dev/null
	cp "$dir/$name/pagedrop" "$p/usr/bin/pagedrop"
	gzip -9n "$p/usr/share/man/man1/pagedrop.1"
	install -D -m 644 -t "$p/usr/share/licenses/pagedrop" "$src/LICENSE"
	size=$(find "$p" -type f -exec cat {} + | wc -c)
	printf '%s\n' '# Generated by pagedrop'"'"'s release script' "pkgname = pagedrop" \
	    "pkgbase = pagedrop" "pkgver = $full" "pkgdesc = $pkgdesc" "url = $url" \
	    "builddate = $SOURCE_DATE_EPOCH" "packager = $maintainer" "size = $size" \
	    "arch = $arch" "license = $license" >"$p/.PKGINFO"
	printf '%s\n' "format = 2" "pkgname = pagedrop" "pkgbase = pagedrop" "pkgver = $full" \
	    "pkgarch = $arch" "packager = $maintainer" "builddate = $SOURCE_DATE_EPOCH" \
	    "buildtool = pagedrop-release" "buildtoolver = $version" >"$p/.BUILDINFO"
	find "$p" -type d -exec chmod 755 {} +
	find "$p" -type f ! -path '*/bin/*' -exec chmod 644 {} +
	find "$p" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
	tar=(bsdtar --uid 0 --gid 0 --uname root --gname root -cnf - --null --files-from -)
	files() { (cd "$p" && find . -mindepth 1 ! -name .MTREE -printf '%P\0' | LC_ALL=C sort -z); }
	files | (cd "$p" && "${tar[@]}" --format=mtree \
	    --options='!all,use-set,type,uid,gid,mode,time,size,md5,sha256,link') | gzip -9n >"$p/.MTREE"
	chmod 644 "$p/.MTREE" && touch -d "@$SOURCE_DATE_EPOCH" "$p/.MTREE"
	{ printf '.MTREE\0'; files; } | LC_ALL=C sort -z | (cd "$p" && "${tar[@]}" --no-fflags) |
	    zstd -q -19 --single-thread -c >"$out/pagedrop-$full-$arch.pkg.tar.zst"
}

# binary DEB TRIPLE QEMU RPM PAC: one architecture's build in
# BUILD-DIR/arch/DEB, its Debian package, RPM, tarball and pacman package.
binary() {
	local deb=$1 triple=$2 qemu=$3 rpm=$4 pac=$5 dir=$build/arch/$1 name=pagedrop-$version-linux-$1 opts
	echo "release: $deb"
	opts=(-DCMAKE_C_COMPILER="$triple-gcc" -DCMAKE_CXX_COMPILER="$triple-g++"
	    -DCMAKE_BUILD_TYPE=Release -DPAGEDROP_MAINTAINER="$maintainer")
	[ "$deb" = "$(dpkg --print-architecture)" ] ||
	    opts+=(-DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR="${triple%%-*}"
	        -DCMAKE_CROSSCOMPILING_EMULATOR="qemu-$qemu-static")
	cmake -S "$src" -B "$dir" "${opts[@]}" >/dev/null
	cmake --build "$dir" >/dev/null
	(cd "$dir" && cpack -G DEB >/dev/null && { [ "$rpm" = - ] || cpack -G RPM >/dev/null; })
	mv "$dir/pagedrop_${version}_$deb.deb" "$out/"
	[ "$rpm" = - ] || mv "$dir/pagedrop-$version-1.$rpm.rpm" "$out/"

	# The tarball holds the packaged, stripped binary, the manual page, the
	# license and the shells' completions in one folder named as the file is.
	rm -rf "${dir:?}/$name"
	mkdir "$dir/$name"
	dpkg-deb --fsys-tarfile "$out/pagedrop_${version}_$deb.deb" |
	    tar -xOf - ./usr/bin/pagedrop >"$dir/$name/pagedrop"
	cp "$dir/pagedrop.1" "$src/LICENSE" "$dir/$name/"
	mkdir "$dir/$name/completions"
	cp "$src/packaging/completions"/{pagedrop.bash,_pagedrop,pagedrop.fish} "$dir/$name/completions/"
	chmod 755 "$dir/$name" "$dir/$name/pagedrop" "$dir/$name/completions"
	chmod 644 "$dir/$name/pagedrop.1" "$dir/$name/LICENSE" "$dir/$name/completions"/*
	tar -C "$dir" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 \
	    --numeric-owner --format=gnu -cf - "$name" | gzip -9n >"$out/$name.tar.gz"
	[ "$pac" = - ] || pacpkg "$dir" "$pac"
}
binaries() {
	local deb triple qemu rpm pac
	while read -r deb triple _ _ qemu _ rpm pac; do
		case $deb in '' | \#*) continue ;; esac
		binary "$deb" "$triple" "$qemu" "$rpm" "$pac"
	done <"$src/packaging/arches"
}

image() { bash "$src/packaging/image.sh" "$out" "$version" "$out/pagedrop-$version-oci.tar"; }

buildinfo() {
	PAGEDROP_MAINTAINER=$maintainer PAGEDROP_URL=$url \
	    bash "$src/packaging/buildroot.sh" buildinfo "$out" "$version" >"$out/pagedrop-$version.buildinfo"
}

# What signing adds, and what the sums cover: everything else.
signed=(SHA256SUMS.asc pagedrop-release-key.asc pagedrop-archive-keyring.gpg apt rpm pacman)
sums() {
	local ign=(-I SHA256SUMS -I '*.sig') s
	for s in "${signed[@]}"; do ign+=(-I "$s"); done
	(cd "$out" && mapfile -t f < <(ls -A "${ign[@]}") && sha256sum -- "${f[@]}") >"$build/SHA256SUMS"
	mv "$build/SHA256SUMS" "$out/"
	[ -n "$key" ] || {
		echo "release: unsigned: PAGEDROP_SIGNING_KEY names no key"
		echo "release: $(ls "$out" | wc -l) files in $out"
	}
}

sign() {
	[ -n "$key" ] || { echo "release: sign: PAGEDROP_SIGNING_KEY names no key" >&2; exit 1; }
	(cd "$out" && rm -rf -- "${signed[@]}" *.sig)
	# An RSA/SHA256 header signature, which rpm checks back to RHEL 8's.
	local f log
	for f in "$out"/*.rpm; do
		log=$(rpmsign --define "__gpg $(command -v gpg)" --define "_gpg_name $key" \
		    --define "_gpg_digest_algo sha256" --addsign "$f" </dev/null 2>&1) ||
		    { echo "$log" >&2; exit 1; }
	done
	# The .dsc and the .changes clearsigned, as debsign signs them: the
	# .changes names the signed .dsc's sums.
	"${gpgsign[@]}" --clearsign -o "$out/pagedrop_$dv.dsc" "$ds/pagedrop_$dv.dsc"
	mv "$ds/pagedrop_$dv.dsc" "$ds/unsigned.dsc"
	cp "$out/pagedrop_$dv.dsc" "$ds/"
	changes
	mv "$ds/unsigned.dsc" "$ds/pagedrop_$dv.dsc"
	"${gpgsign[@]}" --clearsign -o "$out/pagedrop_${dv}_source.changes" "$ds/pagedrop_${dv}_source.changes"
	sums
	"${gpgsign[@]}" --armor --detach-sign -o "$out/SHA256SUMS.asc" "$out/SHA256SUMS"
	gpg --batch --armor --export "$key" >"$out/pagedrop-release-key.asc"
	gpg --batch --export "$key" >"$out/pagedrop-archive-keyring.gpg"
	aptrepo
	rpmrepo
	pacrepo
	echo "release: signed by $key: $(find "$out" -type f | wc -l) files in $out"
}

# An APT repository: deb [signed-by=KEYRING] URL/apt stable main, and the
# Debian source package: deb-src [signed-by=KEYRING] URL/apt stable main.
aptrepo() {
	local apt=$out/apt dist=$out/apt/dists/stable arches a r=APT::FTPArchive::Release
	mkdir -p "$apt/pool/main"
	cp "$out"/*.deb "$apt/pool/main/"
	arches=$(cd "$apt/pool/main" && ls -- *.deb | sed -E 's/.*_([^_]+)\.deb$/\1/' | paste -sd ' ')
	for a in $arches; do
		mkdir -p "$dist/main/binary-$a"
		(cd "$apt" && apt-ftparchive --arch "$a" packages pool/main) >"$dist/main/binary-$a/Packages"
		gzip -9nk "$dist/main/binary-$a/Packages"
	done
	cp "$out/pagedrop_$dv.dsc" "$out/pagedrop_$version.orig.tar.gz" "$out/pagedrop_$dv.debian.tar.xz" \
	    "$apt/pool/main/"
	mkdir -p "$dist/main/source"
	(cd "$apt" && apt-ftparchive sources pool/main 2>/dev/null) >"$dist/main/source/Sources"
	gzip -9nk "$dist/main/source/Sources"
	(cd "$dist" && apt-ftparchive -o "$r::Origin=pagedrop" -o "$r::Label=pagedrop" \
	    -o "$r::Suite=stable" -o "$r::Codename=stable" -o "$r::Components=main" \
	    -o "$r::Architectures=$arches" release .) >"$build/Release"
	mv "$build/Release" "$dist/Release"
	"${gpgsign[@]}" --clearsign -o "$dist/InRelease" "$dist/Release"
	"${gpgsign[@]}" --armor --detach-sign -o "$dist/Release.gpg" "$dist/Release"
}

# An RPM repository for each RPM architecture, baseurl=URL/rpm/$basearch,
# and one for the source RPM, baseurl=URL/rpm/SRPMS.
rpmrepo() {
	local f d
	for f in "$out"/*.rpm; do
		d=$out/rpm/$(rpm -qp --nosignature --qf '%{ARCH}' "$f")
		[[ $f != *.src.rpm ]] || d=$out/rpm/SRPMS
		mkdir -p "$d"
		cp "$f" "$d/"
		createrepo_c --quiet --revision "$SOURCE_DATE_EPOCH" --set-timestamp-to-revision "$d"
		"${gpgsign[@]}" --armor --detach-sign -o "$d/repodata/repomd.xml.asc" "$d/repodata/repomd.xml"
	done
}

# A signature beside each pacman package, and a pacman repository for each
# Arch Linux architecture: Server = URL/pacman/$arch.
pacrepo() {
	local f a d log l
	for f in "$out"/*.pkg.tar.zst; do
		"${gpgsign[@]}" --detach-sign -o "$f.sig" "$f"
		a=${f%.pkg.tar.zst} a=${a##*-} d=$out/pacman/$a
		mkdir -p "$d"
		cp "$f" "$f.sig" "$d/"
		log=$(repo-add --sign --key "$key" --verify "$d/pagedrop.db.tar.gz" "$d/${f##*/}" 2>&1) ||
		    { echo "$log" >&2; exit 1; }
		# Files where repo-add makes links, for a server that follows none.
		for l in "$d"/*; do [ ! -L "$l" ] || cp --remove-destination "$(readlink -f "$l")" "$l"; done
	done
}

steps=("$@")
if [ ${#steps[@]} = 0 ]; then
	steps=(check srctar pkgbuild debsrc rpmsrc binaries image buildinfo sums)
	[ -z "$key" ] || steps+=(sign)
fi
for s in "${steps[@]}"; do
	case $s in
	check | srctar | pkgbuild | debsrc | rpmsrc | binaries | image | buildinfo | sums | sign) "$s" ;;
	*) echo "release: no step $s" >&2; exit 2 ;;
	esac
done
