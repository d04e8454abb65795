#!/bin/bash
# SPDX-License-Identifier: MIT
# release.sh SOURCE-DIR BUILD-DIR VERSION MAINTAINER: makes BUILD-DIR/release,
# the source tarball and, for each architecture in packaging/arches, a
# Debian package, a static binary tarball and, where the line names an RPM
# architecture, an RPM, each built in BUILD-DIR/arch/NAME; then SHA256SUMS
# over all of them. With PAGEDROP_SIGNING_KEY set to the fingerprint of a
# key that gpg holds, the RPMs are signed, and SHA256SUMS.asc, the public
# key, an APT repository and an RPM repository for each RPM architecture
# are written too. Every time stamp is SOURCE_DATE_EPOCH, by default the
# date of the first changelog entry, so that a clone and the unpacked source
# tarball of one commit give the same bytes wherever they are built.
set -euo pipefail
src=$(realpath "$1") build=$(realpath "$2") version=$3 maintainer=$4
out=$build/release
export LC_ALL=C TZ=UTC
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
	SOURCE_DATE_EPOCH=$(date -d "$(sed -n 's/^ -- .*>  //p' "$src/doc/changelog" | head -n 1)" +%s)
fi
export SOURCE_DATE_EPOCH
# Signing's tools and key are looked for before anything is built.
key=${PAGEDROP_SIGNING_KEY:-}
if [ -n "$key" ]; then
	for c in gpg rpmsign apt-ftparchive createrepo_c; do
		command -v "$c" >/dev/null ||
		    { echo "release: signing needs $c (Debian: gnupg, rpm, apt-utils, createrepo-c)" >&2; exit 1; }
	done
	gpg --batch --list-secret-keys "$key" >/dev/null 2>&1 ||
	    { echo "release: gpg finds no secret key $key" >&2; exit 1; }
fi
echo "release: pagedrop $version, dated $(date -d "@$SOURCE_DATE_EPOCH" -R)"

rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack --config CPackSourceConfig.cmake >/dev/null)
mv "$build/pagedrop-$version.tar.gz" "$out/"

host=$(dpkg --print-architecture)
while read -r deb triple qemu rpm; do
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
done <"$src/packaging/arches"

if [ -n "$key" ]; then
	sign=(gpg --batch --yes --local-user "$key" --digest-algo SHA256)
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
r=APT::FTPArchive::Release
(cd "$dist" && apt-ftparchive -o "$r::Origin=pagedrop" -o "$r::Label=pagedrop" \
    -o "$r::Suite=stable" -o "$r::Codename=stable" -o "$r::Components=main" \
    -o "$r::Architectures=$arches" release .) >"$build/Release"
mv "$build/Release" "$dist/Release"
"${sign[@]}" --clearsign -o "$dist/InRelease" "$dist/Release"
"${sign[@]}" --armor --detach-sign -o "$dist/Release.gpg" "$dist/Release"

# An RPM repository for each RPM architecture: baseurl=URL/rpm/$basearch.
for f in "$out"/*.rpm; do
	d=$out/rpm/$(rpm -qp --nosignature --qf '%{ARCH}' "$f")
	mkdir -p "$d"
	cp "$f" "$d/"
	createrepo_c --quiet --revision "$SOURCE_DATE_EPOCH" --set-timestamp-to-revision "$d"
	"${sign[@]}" --armor --detach-sign -o "$d/repodata/repomd.xml.asc" "$d/repodata/repomd.xml"
done
echo "release: signed by $key: $(find "$out" -type f | wc -l) files in $out"
