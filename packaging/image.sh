#!/bin/bash
# SPDX-License-Identifier: MIT
# image.sh RELEASE-DIR VERSION OUT-FILE: an OCI image of the static binary
# of each architecture whose tarball RELEASE-DIR holds
# (pagedrop-VERSION-linux-ARCH.tar.gz): /pagedrop, its entry point, and
# /LICENSE, nothing else, as FROM scratch would make it; and one image
# index over them, each platform named as OCI names it. OUT-FILE is an OCI
# archive (a tar of an OCI image layout, as skopeo copy oci-archive: and
# podman load read it) whose index.json names the index VERSION; beside it,
# OUT-FILE less .tar, with .digest, holds the index's digest, which a pull
# by digest checks, so that SHA256SUMS and its signature vouch for what a
# registry serves. Prints the digest and the platforms. Reproducible: every
# time stamp is SOURCE_DATE_EPOCH (from the environment), the layers and the
# archive are sorted tars with fixed owners and modes, gzip stores no name or
# time, and the JSON is written with its keys in a fixed order.
set -euo pipefail
rel=$1 version=$2 out=$3
export LC_ALL=C TZ=UTC
[ -n "${SOURCE_DATE_EPOCH:-}" ] || { echo "image: SOURCE_DATE_EPOCH is not set" >&2; exit 1; }
created=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%dT%H:%M:%SZ)

# The Debian architecture, and the OCI architecture and variant (- for
# none) that registries and clients name it by; the index lists them in
# this order.
platforms=$(cat <<-'EOF'
	amd64     amd64     -
	arm64     arm64     v8
	armhf     arm       v7
	armel     arm       v5
	i386      386       -
	mips64el  mips64le  -
	ppc64el   ppc64le   -
	s390x     s390x     -
	riscv64   riscv64   -
	loong64   loong64   -
	EOF
)
for f in "$rel/pagedrop-$version-linux-"*.tar.gz; do
	[ -e "$f" ] || { echo "image: no pagedrop-$version-linux-*.tar.gz in $rel" >&2; exit 1; }
	a=${f##*-linux-} a=${a%.tar.gz}
	awk -v a="$a" '$1 == a { f = 1 } END { exit !f }' <<<"$platforms" ||
	    { echo "image: no OCI platform for ${f##*/}'s architecture $a" >&2; exit 1; }
done

w=$(mktemp -d)
trap 'rm -rf "$w"' EXIT
b=$w/layout/blobs/sha256
mkdir -p "$b"
tarred=(tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner
    "--mode=u=rwX,go=rX" --format=ustar)
# blob FILE: FILE moved into the layout under its digest, which it sets
# with its size.
blob() {
	digest=$(sha256sum "$1") digest=sha256:${digest%% *}
	size=$(stat -c %s "$1")
	mv "$1" "$b/${digest#sha256:}"
}
desc() { printf '{"mediaType":"%s","digest":"%s","size":%s' "$1" "$digest" "$size"; }

manifests=() names=()
while read -r deb arch variant; do
	t=pagedrop-$version-linux-$deb
	[ -e "$rel/$t.tar.gz" ] || continue
	mkdir "$w/$deb"
	tar -xzf "$rel/$t.tar.gz" -C "$w/$deb"
	"${tarred[@]}" -C "$w/$deb/$t" -cf "$w/layer" LICENSE pagedrop
	diffid=$(sha256sum "$w/layer") diffid=sha256:${diffid%% *}
	gzip -9n "$w/layer"
	blob "$w/layer.gz"
	layer="$(desc application/vnd.oci.image.layer.v1.tar+gzip)}"
	v='' plat=linux/$arch
	[ "$variant" = - ] || v=",\"variant\":\"$variant\"" plat+=/$variant
	printf '{"architecture":"%s","config":{"Entrypoint":["/pagedrop"],"Labels":{%s}},"created":"%s","history":[{"created":"%s","created_by":"pagedrop %s: /pagedrop and /LICENSE"}],"os":"linux","rootfs":{"type":"layers","diff_ids":["%s"]}%s}' \
	    "$arch" "\"org.opencontainers.image.licenses\":\"MIT\",\"org.opencontainers.image.title\":\"pagedrop\",\"org.opencontainers.image.version\":\"$version\"" \
	    "$created" "$created" "$version" "$diffid" "$v" >"$w/config"
	blob "$w/config"
	config="$(desc application/vnd.oci.image.config.v1+json)}"
	printf '{"schemaVersion":2,"mediaType":"application/vnd.oci.image.manifest.v1+json","config":%s,"layers":[%s]}' \
	    "$config" "$layer" >"$w/manifest"
	blob "$w/manifest"
	manifests+=("$(desc application/vnd.oci.image.manifest.v1+json),\"platform\":{\"architecture\":\"$arch\",\"os\":\"linux\"$v}}")
	names+=("$plat")
done <<<"$platforms"

(IFS=, && printf '{"schemaVersion":2,"mediaType":"application/vnd.oci.image.index.v1+json","manifests":[%s]}' \
    "${manifests[*]}") >"$w/index"
blob "$w/index"
printf '{"schemaVersion":2,"manifests":[%s,"annotations":{"org.opencontainers.image.ref.name":"pagedrop:%s"}}]}' \
    "$(desc application/vnd.oci.image.index.v1+json)" "$version" >"$w/layout/index.json"
printf '{"imageLayoutVersion":"1.0.0"}' >"$w/layout/oci-layout"
"${tarred[@]}" -C "$w/layout" -cf "$w/oci.tar" blobs index.json oci-layout
mv "$w/oci.tar" "$out"
echo "$digest" >"${out%.tar}.digest"
echo "image: ${out##*/}, index $digest: ${names[*]}"
