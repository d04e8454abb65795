#!/bin/bash
# SPDX-License-Identifier: MIT
# release.sh SOURCE-DIR BUILD-DIR VERSION MAINTAINER URL: makes
# BUILD-DIR/release, the source tarball, the PKGBUILD that builds it for
# Arch Linux from URL, the address of the release folder, a Debian source
# package and an RPM spec and source RPM made from that tarball, and, for each
# architecture in packaging/arches, a Debian package, a static binary
# tarball and, where the line names an RPM or an Arch Linux architecture,
# an RPM and a pacman package, each built in BUILD-DIR/arch/NAME; an OCI
# image of the static binaries (packaging/image.sh) and the digest of its
# index; then SHA256SUMS over all of them. With PAGEDROP_SIGNING_KEY set to the
# fingerprint of a key that gpg holds, the RPMs are signed, and
# SHA256SUMS.asc, the public key, a detached signature of each pacman
# package, an APT repository (with the Debian source package, which is
# signed too), an RPM repository for each RPM architecture and one for the
# source RPM, and a pacman repository for each Arch Linux one are written
# too. The key must be RSA of 3072 bits or more, or Ed25519. A checkout
# whose tracked files differ from its commit is refused, unless
# PAGEDROP_ALLOW_DIRTY=1 asks for them. Every
# time stamp is SOURCE_DATE_EPOCH, by default the date of the first
# changelog entry, so that a clone and the unpacked source tarball of one
# commit give the same bytes wherever they are built.
set -euo pipefail
src=$(realpath "$1") build=$(realpath "$2") version=$3 maintainer=$4 url=$5
out=$build/release
export LC_ALL=C TZ=UTC
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
	SOURCE_DATE_EPOCH=$(date -d "$(sed -n 's/^ -- .*>  //p' "$src/doc/changelog" | head -n 1)" +%s)
fi
export SOURCE_DATE_EPOCH
# The address goes into the PKGBUILD between quotes.
[[ $url =~ ^https?://[A-Za-z0-9._~%/:@+-]+$ ]] ||
    { echo "release: PAGEDROP_URL is no http(s) address: $url" >&2; exit 1; }
for c in bsdtar zstd; do
	command -v "$c" >/dev/null ||
	    { echo "release: the pacman packages need $c (Debian: libarchive-tools, zstd)" >&2; exit 1; }
done
for c in dpkg-source dpkg-genchanges rpmbuild; do
	command -v "$c" >/dev/null ||
	    { echo "release: the source packages need $c (Debian: dpkg-dev, rpm)" >&2; exit 1; }
done
# A release is what its commit holds: the source tarball packs the files
# that git tracks as the tree has them, under the commit's version. A tree
# whose tracked files differ from the commit (changed, staged or deleted) is
# refused, unless PAGEDROP_ALLOW_DIRTY=1 asks for it by name.
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
# Signing's tools and key are looked for before anything is built.
key=${PAGEDROP_SIGNING_KEY:-}
if [ -n "$key" ]; then
	for c in gpg rpmsign apt-ftparchive createrepo_c repo-add; do
		command -v "$c" >/dev/null ||
		    { echo "release: signing needs $c (Debian: gnupg, rpm, apt-utils, createrepo-c, pacman-package-manager)" >&2; exit 1; }
	done
	gpg --batch --list-secret-keys "$key" >/dev/null 2>&1 ||
	    { echo "release: gpg finds no secret key $key" >&2; exit 1; }
	# Debian 13's apt verifies with sqv, which refuses DSA keys and SHA-1
	# and will refuse RSA under 3072 bits from 2030: the primary key and
	# every signing subkey that is not expired or revoked must be RSA of
	# 3072 bits or more, or Ed25519.
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
	sign=(gpg --batch --yes --local-user "$key" --digest-algo SHA256)
fi
echo "release: pagedrop $version, dated $(date -d "@$SOURCE_DATE_EPOCH" -R)"

rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack --config CPackSourceConfig.cmake >/dev/null)
mv "$build/pagedrop-$version.tar.gz" "$out/"

# The PKGBUILD of an AUR package: packaging/PKGBUILD with this release's
# maintainer, version, address and source tarball's sum, less the lines
# that tell why the copy in the tree has no sum.
sum=$(sha256sum "$out/pagedrop-$version.tar.gz") sum=${sum%% *}
sed -e '/^# The release target writes/,/own sum\.$/d' \
    -e "s|^# Maintainer: .*|# Maintainer: $(sed 's/[&|\\]/\\&/g' <<<"$maintainer")|" \
    -e "s|^pkgver=.*|pkgver=$version|" -e "s|^url=.*|url='$url'|" \
    -e "s|^sha256sums=.*|sha256sums=('$sum')|" "$src/packaging/PKGBUILD" >"$out/PKGBUILD"
IFS=$'\t' read -r pkgrel pkgdesc license < <(set +u && source "$out/PKGBUILD" &&
    printf '%s\t%s\t%s\n' "$pkgrel" "$pkgdesc" "${license[*]}")
[ "$url" != https://pagedrop.invalid ] ||
    echo "release: the PKGBUILD's source is at the placeholder $url: PAGEDROP_URL names no address"

# The Debian source package: the source tarball as its .orig.tar.gz, and
# the tarball's packaging/debian as its debian/ folder, given the
# maintainer, the address, and a changelog that is doc/changelog with each
# version the Debian revision 1 of it. With a key, the .dsc and the
# .changes are signed as debsign signs them.
dv=$version-1
ds=$build/debsrc top=$build/debsrc/pagedrop-$version
rm -rf "$ds"
mkdir -p "$ds"
cp "$out/pagedrop-$version.tar.gz" "$ds/pagedrop_$version.orig.tar.gz"
tar -xzf "$ds/pagedrop_$version.orig.tar.gz" -C "$ds"
cp -r "$top/packaging/debian" "$top/debian"
m=$(sed 's/[&|\\]/\\&/g' <<<"$maintainer") u=$(sed 's/[&|\\]/\\&/g' <<<"$url")
sed -i "s|^Maintainer: .*|Maintainer: $m|" "$top/debian/control"
sed -i "s|^Source: .*|Source: $u|" "$top/debian/copyright"
sed -i "s|^https://pagedrop\.invalid/ |$u/ |" "$top/debian/watch"
sed -E -e 's/^pagedrop \(([^)]+)\)/pagedrop (\1-1)/' -e "s|^ -- .*>  | -- $m  |" \
    "$top/doc/changelog" >"$top/debian/changelog"
chmod -R u=rwX,go=rX "$top"
(cd "$top" && dpkg-source -b . >/dev/null)
[ -z "$key" ] || "${sign[@]}" --clearsign -o "$ds/signed.dsc" "$ds/pagedrop_$dv.dsc"
[ -z "$key" ] || mv "$ds/signed.dsc" "$ds/pagedrop_$dv.dsc"
(cd "$top" && dpkg-genchanges -S -O"$ds/pagedrop_${dv}_source.changes" 2>/dev/null)
[ -z "$key" ] || "${sign[@]}" --clearsign -o "$ds/signed.changes" "$ds/pagedrop_${dv}_source.changes"
[ -z "$key" ] || mv "$ds/signed.changes" "$ds/pagedrop_${dv}_source.changes"
chmod 644 "$ds"/pagedrop_*
mv "$ds/pagedrop_$dv.dsc" "$ds/pagedrop_$version.orig.tar.gz" "$ds/pagedrop_$dv.debian.tar.xz" \
    "$ds/pagedrop_${dv}_source.changes" "$out/"

# rpmchangelog: doc/changelog as a spec's %changelog, each version the
# release 1 of it and packaged by the maintainer.
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
# The RPM spec, with this release's version and address and a %changelog
# made from doc/changelog, and the source RPM that rpmbuild -bs makes of it
# and the source tarball: its files owned by root, the maintainer its
# packager, dated SOURCE_DATE_EPOCH. The source RPM also holds the spec as
# rpmbuild expands it, with rpmbuild's folders and the number of CPUs:
# those are given relative to the build folder, and as one CPU.
{
	sed -e "s|^Version: .*|Version:        $version|" -e "s|^URL: .*|URL:            $u|" \
	    -e '/^%changelog$/q' "$src/packaging/pagedrop.spec"
	rpmchangelog
} >"$out/pagedrop.spec"
sp=$build/srpm
rm -rf "$sp"
mkdir -p "$sp/sources"
cp "$out/pagedrop.spec" "$out/pagedrop-$version.tar.gz" "$sp/sources/"
chmod 644 "$sp/sources"/* "$out/pagedrop.spec"
(cd "$build" && rpmbuild -bs --nodeps --define "_topdir srpm" --define "_sourcedir srpm/sources" \
    --define "_srcrpmdir srpm" --define "_smp_build_ncpus 1" --define "_srcdefattr (-,root,root)" \
    --define "_buildhost reproducible" --define "packager $maintainer" \
    --define "use_source_date_epoch_as_buildtime 1" --define "clamp_mtime_to_source_date_epoch 1" \
    srpm/sources/pagedrop.spec >/dev/null)
mv "$sp/pagedrop-$version-1.src.rpm" "$out/"

# pacpkg DIR ARCH: a pacman package of the files in DIR's tarball folder, as
# makepkg lays one out: .BUILDINFO, .MTREE and .PKGINFO, then the files in
# C order, all owned by root and dated SOURCE_DATE_EPOCH.
pacpkg() {
	local dir=$1 arch=$2 p=$1/pacman size full=$version-$pkgrel
	rm -rf "${p:?}"
	install -D -m 755 "$dir/$name/pagedrop" "$p/usr/bin/pagedrop"
	mkdir -p "$p/usr/share/man/man1" "$p/usr/share/licenses/pagedrop" "$p/usr/share/doc/pagedrop"
	gzip -9n <"$dir/pagedrop.1" >"$p/usr/share/man/man1/pagedrop.1.gz"
	cp "$src/LICENSE" "$p/usr/share/licenses/pagedrop/"
	cp "$src/doc/copyright" "$src/doc/changelog" "$p/usr/share/doc/pagedrop/"
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
	local tar=(bsdtar --uid 0 --gid 0 --uname root --gname root -cnf - --null --files-from -)
	files() { (cd "$p" && find . -mindepth 1 ! -name .MTREE -printf '%P\0' | LC_ALL=C sort -z); }
	files | (cd "$p" && "${tar[@]}" --format=mtree \
	    --options='!all,use-set,type,uid,gid,mode,time,size,md5,sha256,link') | gzip -9n >"$p/.MTREE"
	chmod 644 "$p/.MTREE" && touch -d "@$SOURCE_DATE_EPOCH" "$p/.MTREE"
	{ printf '.MTREE\0'; files; } | LC_ALL=C sort -z | (cd "$p" && "${tar[@]}" --no-fflags) |
	    zstd -q -19 --single-thread -c >"$out/pagedrop-$full-$arch.pkg.tar.zst"
}

host=$(dpkg --print-architecture)
while read -r deb triple qemu rpm pac; do
	case $deb in '' | \#*) continue ;; esac
	echo "release: $deb"
	dir=$build/arch/$deb name=pagedrop-$version-linux-$deb
	opts=(-DCMAKE_C_COMPILER="$triple-gcc" -DCMAKE_CXX_COMPILER="$triple-g++"
	    -DCMAKE_BUILD_TYPE=Release -DPAGEDROP_MAINTAINER="$maintainer")
	[ "$deb" = "$host" ] ||
	    opts+=(-DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR="${triple%%-*}"
	        -DCMAKE_CROSSCOMPILING_EMULATOR="qemu-$qemu-static")
	cmake -S "$src" -B "$dir" "${opts[@]}" >/dev/null
	cmake --build "$dir" >/dev/null
	(cd "$dir" && cpack -G DEB >/dev/null && { [ "$rpm" = - ] || cpack -G RPM >/dev/null; })
	mv "$dir/pagedrop_${version}_$deb.deb" "$out/"
	[ "$rpm" = - ] || mv "$dir/pagedrop-$version-1.$rpm.rpm" "$out/"

	# The tarball holds the packaged, stripped binary, the manual page and
	# the license in one folder named as the file is.
	rm -rf "${dir:?}/$name"
	mkdir "$dir/$name"
	dpkg-deb --fsys-tarfile "$out/pagedrop_${version}_$deb.deb" |
	    tar -xOf - ./usr/bin/pagedrop >"$dir/$name/pagedrop"
	cp "$dir/pagedrop.1" "$src/LICENSE" "$dir/$name/"
	chmod 755 "$dir/$name" "$dir/$name/pagedrop"
	chmod 644 "$dir/$name/pagedrop.1" "$dir/$name/LICENSE"
	tar -C "$dir" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 \
	    --numeric-owner --format=gnu -cf - "$name" | gzip -9n >"$out/$name.tar.gz"
	[ "$pac" = - ] || pacpkg "$dir" "$pac"
done <"$src/packaging/arches"

# The OCI image of the static binaries, and the file that names its index.
bash "$src/packaging/image.sh" "$out" "$version" "$out/pagedrop-$version-oci.tar"

if [ -n "$key" ]; then
	# An RSA/SHA256 header signature, which rpm checks back to RHEL 8's.
	for f in "$out"/*.rpm; do
		log=$(rpmsign --define "__gpg $(command -v gpg)" --define "_gpg_name $key" \
		    --define "_gpg_digest_algo sha256" --addsign "$f" </dev/null 2>&1) ||
		    { echo "$log" >&2; exit 1; }
	done
fi

(cd "$out" && sha256sum -- *) >"$build/SHA256SUMS"
mv "$build/SHA256SUMS" "$out/"
if [ -z "$key" ]; then
	echo "release: unsigned: PAGEDROP_SIGNING_KEY names no key"
	echo "release: $(ls "$out" | wc -l) files in $out"
	exit 0
fi

"${sign[@]}" --armor --detach-sign -o "$out/SHA256SUMS.asc" "$out/SHA256SUMS"
gpg --batch --armor --export "$key" >"$out/pagedrop-release-key.asc"
gpg --batch --export "$key" >"$out/pagedrop-archive-keyring.gpg"

# An APT repository: deb [signed-by=KEYRING] URL/apt stable main.
apt=$out/apt dist=$out/apt/dists/stable
mkdir -p "$apt/pool/main"
cp "$out"/*.deb "$apt/pool/main/"
arches=$(cd "$apt/pool/main" && ls -- *.deb | sed -E 's/.*_([^_]+)\.deb$/\1/' | paste -sd ' ')
for a in $arches; do
	mkdir -p "$dist/main/binary-$a"
	(cd "$apt" && apt-ftparchive --arch "$a" packages pool/main) >"$dist/main/binary-$a/Packages"
	gzip -9nk "$dist/main/binary-$a/Packages"
done
# The Debian source package: deb-src [signed-by=KEYRING] URL/apt stable main.
cp "$out/pagedrop_$dv.dsc" "$out/pagedrop_$version.orig.tar.gz" "$out/pagedrop_$dv.debian.tar.xz" \
    "$apt/pool/main/"
mkdir -p "$dist/main/source"
(cd "$apt" && apt-ftparchive sources pool/main 2>/dev/null) >"$dist/main/source/Sources"
gzip -9nk "$dist/main/source/Sources"
r=APT::FTPArchive::Release
(cd "$dist" && apt-ftparchive -o "$r::Origin=pagedrop" -o "$r::Label=pagedrop" \
    -o "$r::Suite=stable" -o "$r::Codename=stable" -o "$r::Components=main" \
    -o "$r::Architectures=$arches" release .) >"$build/Release"
mv "$build/Release" "$dist/Release"
"${sign[@]}" --clearsign -o "$dist/InRelease" "$dist/Release"
"${sign[@]}" --armor --detach-sign -o "$dist/Release.gpg" "$dist/Release"

# An RPM repository for each RPM architecture, baseurl=URL/rpm/$basearch,
# and one for the source RPM, baseurl=URL/rpm/SRPMS.
for f in "$out"/*.rpm; do
	d=$out/rpm/$(rpm -qp --nosignature --qf '%{ARCH}' "$f")
	[[ $f != *.src.rpm ]] || d=$out/rpm/SRPMS
	mkdir -p "$d"
	cp "$f" "$d/"
	createrepo_c --quiet --revision "$SOURCE_DATE_EPOCH" --set-timestamp-to-revision "$d"
	"${sign[@]}" --armor --detach-sign -o "$d/repodata/repomd.xml.asc" "$d/repodata/repomd.xml"
done

# A signature beside each pacman package, and a pacman repository for each
# Arch Linux architecture: Server = URL/pacman/$arch.
for f in "$out"/*.pkg.tar.zst; do
	"${sign[@]}" --detach-sign -o "$f.sig" "$f"
	a=${f%.pkg.tar.zst} a=${a##*-} d=$out/pacman/$a
	mkdir -p "$d"
	cp "$f" "$f.sig" "$d/"
	log=$(repo-add --sign --key "$key" --verify "$d/pagedrop.db.tar.gz" "$d/${f##*/}" 2>&1) ||
	    { echo "$log" >&2; exit 1; }
	# Files where repo-add makes links, for a server that follows none.
	for l in "$d"/*; do [ ! -L "$l" ] || cp --remove-destination "$(readlink -f "$l")" "$l"; done
done
echo "release: signed by $key: $(find "$out" -type f | wc -l) files in $out"
