#!/bin/bash
# SPDX-License-Identifier: MIT
# What a run does where data is shared: a folder that this machine serves
# and mounts back over loopback (NFS, SMB, sshfs), the 9p share that qemu
# gives a guest, the page cache that a memory cgroup is charged for, and a
# running container's, dropped from outside it.
# shares.sh GROUP BINARY [BUILD-DIR [EMULATOR...]]; shares.sh ninephost
# BINARY FILE checks the host's copy of a guest's 9p file once the guest
# is done. PAGEDROP_IMAGE names an OCI archive for the container group's
# tool.
# Each case prints one line (the pages of a file just read through the
# mount, the run's status, the pages left, the bytes read back, the
# server's own copy before and after a run on it) and asserts what this
# kernel does. A group that cannot run skips with status 77, and with
# "SKIP: this kernel has no" where a module is missing.
set -u
group=$1 bin=$2 fail=0
emu=("${@:4}")
run=("${emu[@]}" "$bin")
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
scratch

bad() { printf 'FAIL: %s\n' "$*"; fail=1; }
skip() { printf 'SKIP: %s\n' "$*"; exit 77; }
# A server that stays in the foreground, stopped at exit.
daemon() {
	"$@" >>"$t/daemons.log" 2>&1 &
	later eval "kill $!; wait $!"
}
need() {
	[ "$(id -u)" = 0 ] || skip "serving and mounting shares needs root"
	[ "$(stat -f -c %T "$t")" != tmpfs ] || skip "$t is on tmpfs, which keeps a server's pages"
	canmount "$t"
}
have() {
	modprobe -q "$1" 2>/dev/null
	grep -qw "$1" /proc/filesystems || skip "this kernel has no $1${2:+ ($2)}: not in /proc/filesystems, and modprobe $1 cannot load it"
}
# serve NAME...: files of 4 MiB in $t/srv, written back and dropped, so
# that what the server caches comes from serving them.
serve() {
	local f
	mkdir -p "$t/srv"
	for f; do
		head -c 4M /dev/urandom >"$t/srv/$f" && sync "$t/srv/$f" && "${run[@]}" "$t/srv/$f"
	done
}

# look WHAT FILE WANT [SERVED]: FILE was just read through a mount; WANT is
# "dropped" (resident, none after a run) or "none" (none resident before or
# after). SERVED, the server's own file, holds its pages until a run on it
# drops them. The bytes read back must not change. Resident is at least
# half: a busy machine's reclaim may take a few of the pages meanwhile
# (seen: 4092 KiB of 4096), where a fault leaves none.
look() {
	local what=$1 f=$2 want=$3 s=${4:-} size b a st sb sa sst same=same line
	size=$(($(stat -c %s "$f") / 1024))
	cat "$f" >"$t/got" || { bad "$what: cannot read $f"; return; }
	b=$(kib "$f")
	"${run[@]}" "$f" >"$t/out" 2>&1
	st=$?
	a=$(kib "$f")
	line="$what: $b of $size KiB resident after a read, status $st, $a KiB after the run"
	if [ -n "$s" ]; then
		sb=$(kib "$s")
		"${run[@]}" "$s"
		sst=$?
		sa=$(kib "$s")
		line+="; server's copy $sb KiB, $sa KiB after a run on it (status $sst)"
	fi
	cmp -s "$f" "$t/got" && { [ -z "$s" ] || cmp -s "$s" "$t/got"; } || same=changed
	echo "$line; bytes $same"
	[ "$st" = 0 ] && [ ! -s "$t/out" ] || bad "$what: status $st, output '$(cat "$t/out")'"
	case $want in
	dropped) [ "$b" -ge $((size / 2)) ] && [ "$a" = 0 ] ;;
	none) [ "$b" = 0 ] && [ "$a" = 0 ] ;;
	esac || bad "$what: want $want, saw $b KiB before the run and $a KiB after"
	[ -z "$s" ] || { [ "$sb" -ge $((size / 2)) ] && [ "$sa" = 0 ] && [ "$sst" = 0 ]; } ||
	    bad "$what: the server's copy: want it resident, then none"
	[ "$same" = same ] || bad "$what: the bytes read back changed"
}

# The kernel's NFS server, exported to 127.0.0.1 and mounted with NFS 3
# and 4.2.
nfs() {
	local name opts
	need
	have nfsd "the NFS server"
	have nfs "the NFS client"
	tools "nfs-kernel-server:rpcbind rpcinfo rpc.nfsd rpc.mountd exportfs mount.nfs"
	mountpoint -q /proc/fs/nfsd || { mount -t nfsd nfsd /proc/fs/nfsd && later umount /proc/fs/nfsd; } ||
	    { bad "cannot mount /proc/fs/nfsd"; return; }
	[ "$(cat /proc/fs/nfsd/threads)" = 0 ] || skip "an NFS server runs here already; this group runs its own"
	if ! rpcinfo -p 127.0.0.1 >/dev/null 2>&1; then
		mkdir -p /run/rpcbind
		daemon rpcbind -f
		for _ in $(seq 50); do rpcinfo -p 127.0.0.1 >/dev/null 2>&1 && break; sleep 0.2; done
	fi
	serve v3 v42
	mkdir -p /var/lib/nfs
	# exportfs reads /etc/exports, which the package's scripts would have made.
	[ -e /etc/exports ] || { : >/etc/exports && later rm /etc/exports; }
	exportfs -o rw,no_root_squash,no_subtree_check,insecure "127.0.0.1:$t/srv" ||
	    { bad "exportfs failed"; return; }
	later exportfs -u "127.0.0.1:$t/srv"
	daemon rpc.mountd -F
	rpc.nfsd 2 || { bad "rpc.nfsd failed: $(cat "$t/daemons.log")"; return; }
	later rpc.nfsd 0
	# A new server holds NFS 4 opens back for its grace period, 90 s, in
	# which clients that it has forgotten may reclaim their state: there
	# are none.
	echo Y >/proc/fs/nfsd/v4_end_grace
	while read -r name opts; do
		mkdir "$t/$name"
		mnt -t nfs -o "$opts" "127.0.0.1:$t/srv" "$t/$name" || { bad "nfs $opts: cannot mount"; continue; }
		look "nfs, $opts" "$t/$name/$name" dropped "$t/srv/$name"
	done <<-EOF
	v3 vers=3,nolock
	v42 vers=4.2
	EOF
}

# SMB 3 from Samba, mounted with the kernel's cifs client in its default
# cache mode and with cache=none, which reads past the page cache. Not
# from the kernel's ksmbd: Debian's 6.1 kernels (6.1.176, amd64 and arm64)
# oops in its smb2_open at a client's first open, and the mount hangs.
smb() {
	local name opts want
	need
	have cifs "the SMB client"
	tools cifs-utils:mount.cifs "samba:smbd smbpasswd"
	! listening 445 1 || skip "an SMB server runs here already; this group runs its own"
	serve default cache=none
	mkdir "$t/samba"
	cat >"$t/smb.conf" <<-EOF
	[global]
	lock directory = $t/samba
	state directory = $t/samba
	cache directory = $t/samba
	private dir = $t/samba
	pid directory = $t/samba
	ncalrpc dir = $t/samba/rpc
	binddns dir = $t/samba
	log file = $t/samba/log
	interfaces = lo
	bind interfaces only = yes
	load printers = no
	disable spoolss = yes
	[pagedrop]
	path = $t/srv
	read only = no
	EOF
	printf 'pagedrop\npagedrop\n' | smbpasswd -c "$t/smb.conf" -s -a root >>"$t/daemons.log" 2>&1 ||
	    { bad "smbpasswd failed: $(cat "$t/daemons.log")"; return; }
	daemon smbd --foreground -s "$t/smb.conf"
	listening 445 || { bad "smbd does not listen: $(cat "$t/daemons.log")"; return; }
	while read -r name opts want; do
		mkdir "$t/$name"
		mnt -t cifs -o "username=root,password=pagedrop,$opts" //127.0.0.1/pagedrop "$t/$name" ||
		    { bad "cifs $opts: cannot mount"; continue; }
		# In its default mode (cache=strict) the client drops a file's
		# pages at the next open after its last close; a client that
		# defers closes by closetimeo keeps them that long.
		if [ "$want" = strict ]; then
			want=none
			[[ $(grep -F " $t/$name " /proc/self/mounts) != *closetimeo=* ]] || want=dropped
		fi
		look "cifs, $name" "$t/$name/$name" "$want" "$t/srv/$name"
	done <<-EOF
	default vers=3.0 strict
	cache=none vers=3.0,cache=none none
	EOF
}

# The share that tests/kernels.sh gives its guests, tagged pagedrop: its
# host's copy is outside this kernel, and ninephost checks it.
ninep() {
	local tag name opts want
	need
	have 9p "the 9p client"
	modprobe -q 9pnet_virtio 2>/dev/null
	for tag in /sys/bus/virtio/drivers/9pnet_virtio/*/mount_tag; do
		[ "$(tr -d '\0' <"$tag" 2>/dev/null)" = pagedrop ] && break
		tag=
	done
	[ -n "$tag" ] || skip "no 9p share tagged pagedrop: this is not a qemu guest that tests/kernels.sh started"
	while read -r name opts want; do
		mkdir "$t/$name"
		mnt -t 9p -o "trans=virtio,version=9p2000.L${opts#-}" pagedrop "$t/$name" ||
		    { bad "9p $name: cannot mount"; continue; }
		look "9p, $name" "$t/$name/data" "$want"
		# A tag is mounted once at a time.
		umount "$t/$name"
	done <<-EOF
	cache=loose ,cache=loose dropped
	default - none
	EOF
}

# What a guest's 9p reads left in the host's cache, and a run on the host's
# file.
ninephost() {
	local f=$1 b a st
	b=$(kib "$f")
	"$bin" "$f"
	st=$?
	a=$(kib "$f")
	echo "9p host's copy: $b KiB resident after the guest's reads and runs, status $st, $a KiB after a run on it"
	[ "$b" -gt 0 ] && [ "$st" = 0 ] && [ "$a" = 0 ] || bad "9p host's copy: want resident, then none"
}

# sshfs, a FUSE file system that users mount by hand, from an sshd of its
# own on 127.0.0.1. FUSE drops a file's cache at every open unless the
# file system asks to keep it, as sshfs's kernel_cache does.
fuse() {
	local p name opts want
	need
	have fuse
	tools sshfs:sshfs "openssh-server:ssh-keygen /usr/sbin/sshd"
	getent passwd sshd >/dev/null || skip "no sshd user, which sshd runs its network side as"
	for p in $(shuf -i 20000-60000 -n 20); do ! listening "$p" 1 && break; done
	ssh-keygen -q -t ed25519 -N '' -f "$t/hostkey" && ssh-keygen -q -t ed25519 -N '' -f "$t/key" ||
	    { bad "ssh-keygen failed"; return; }
	cat >"$t/sshd_config" <<-EOF
	ListenAddress 127.0.0.1:$p
	HostKey $t/hostkey
	AuthorizedKeysFile $t/key.pub
	PidFile none
	StrictModes no
	UsePAM no
	PasswordAuthentication no
	KbdInteractiveAuthentication no
	PermitRootLogin prohibit-password
	Subsystem sftp internal-sftp
	EOF
	mkdir -p /run/sshd
	daemon /usr/sbin/sshd -D -e -f "$t/sshd_config"
	listening "$p" || { bad "sshd does not listen: $(cat "$t/daemons.log")"; return; }
	serve default kernel_cache
	while read -r name opts want; do
		mkdir "$t/$name"
		sshmount "$name" "${opts#-}" || { bad "sshfs $name: cannot mount: $(cat "$t/daemons.log")"; continue; }
		look "sshfs, $name" "$t/$name/$name" "$want" "$t/srv/$name"
	done <<-EOF
	default - none
	kernel_cache ,kernel_cache dropped
	EOF
}
sshmount() {
	sshfs -F /dev/null -p "$p" -o "IdentityFile=$t/key,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes$2" \
	    "root@127.0.0.1:$t/srv" "$t/$1" 2>>"$t/daemons.log" || return
	later unmount "$t/$1"
}

# A file read by a process in one memory cgroup is charged to it; a run
# from another cgroup, and from inside that one, uncharges what it drops.
# cgroup v2 where the memory controller is there, else v1, where the page
# cache is "cache" in memory.stat and the charge is memory.usage_in_bytes.
memcg() {
	local root v cur key a b st size x now file n0 f0
	[ "$(id -u)" = 0 ] || skip "moving processes between memory cgroups needs root"
	[ "$(stat -f -c %T "$t")" != tmpfs ] || skip "$t is on tmpfs, which keeps its pages"
	root=$(cgmount cgroup2)
	if [ -n "$root" ] && grep -qw memory "$root/cgroup.controllers"; then
		v=2 cur=memory.current key=file
	else
		root=$(cgmount cgroup memory)
		[ -n "$root" ] || skip "this kernel has no memory cgroup controller mounted, v2 or v1"
		v=1 cur=memory.usage_in_bytes key=cache
	fi
	cancgroup "$root"
	[ "$v" = 1 ] || grep -qw memory "$root/cgroup.subtree_control" ||
	    { echo +memory >"$root/cgroup.subtree_control" && later eval "echo -memory >$root/cgroup.subtree_control"; }
	a=$root/pagedrop-$$-a b=$root/pagedrop-$$-b
	mkdir "$a" "$b" || { bad "cannot make cgroups under $root"; return; }
	later rmdir "$a" "$b"
	head -c 4M /dev/urandom >"$t/data" && sync "$t/data" && "${run[@]}" "$t/data"
	size=$(($(stat -c %s "$t/data") / 1024))
	for x in "another cgroup:$b" "the reader's own cgroup:$a"; do
		incg "$a" cat "$t/data" >/dev/null
		charge "$a"
		n0=$now f0=$file
		incg "${x#*:}" "${run[@]}" "$t/data"
		st=$?
		charge "$a"
		echo "memcg v$v: read in one cgroup: $cur $n0 KiB, $key $f0 KiB; a run from ${x%:*}: status $st, $cur $now KiB, $key $file KiB, $(kib "$t/data") KiB resident"
		[ "$st" = 0 ] && [ "$f0" -ge $((size - 64)) ] && [ "$file" -le 64 ] && [ "$(kib "$t/data")" = 0 ] ||
		    bad "memcg v$v, a run from ${x%:*}: want the file's $size KiB charged, then uncharged"
	done
}
incg() { bash -c 'echo 0 >"$0/cgroup.procs" && exec "$@"' "$@"; }
# charge CGROUP: sets now and file, its charge and its page cache in KiB.
charge() {
	now=$(($(cat "$1/$cur") / 1024))
	file=$(($(sed -n "s/^$key //p" "$1/memory.stat") / 1024))
}
# A running container's pages, dropped from outside it, with nothing in its
# image but busybox and a file: read inside the container, the file is
# charged to the container's memory cgroup; a run from this machine on
# /proc/PID/root/FILE, and one from another container that shares its
# process namespace (podman run --pid container:NAME, as kubectl debug
# --target does) on /proc/1/root/FILE, drop its pages and the charge with
# them, and one from a container of its own finds no such file. The other
# container's image is $PAGEDROP_IMAGE (an OCI archive such as the
# release's, loaded with podman load) or else BINARY, with what it links,
# alone. Podman's storage and settings are the group's own.
container() {
	local c=pagedrop-$$ img pid cg f cur key now file line how st size b a base f0 f1 x dev
	[ "$(id -u)" = 0 ] || skip "running containers with podman needs root"
	mountpoint -q / || skip "/ is not a mount point (a chroot): podman cannot unpack an image there"
	tools podman:podman runc:runc
	[ -n "$(cgmount cgroup2)$(cgmount cgroup memory)" ] ||
	    skip "no cgroup file system is mounted here (a chroot?), which podman puts containers in"
	[ -x /bin/busybox ] || skip "no /bin/busybox here: install busybox-static"
	x=$(ldd /bin/busybox 2>&1)
	[[ $x = *'not a dynamic'* || $x = *'statically linked'* ]] ||
	    skip "/bin/busybox is linked dynamically: install busybox-static"
	[ "$(stat -f -c %T "$t")" != tmpfs ] || skip "$t is on tmpfs, which keeps its pages"
	podmanown "$t"
	mkdir -p "$t/target/bin" "$t/tool"
	cp /bin/busybox "$t/target/bin/"
	head -c 4M /dev/urandom >"$t/target/data"
	# Absolute links out of the container: to a file that this machine has
	# and the container has not, and to a device node of this machine's
	# that no container is given.
	head -c 4M /dev/urandom >"$t/hostonly" && sync "$t/hostonly"
	dev=$(find /dev -maxdepth 1 -type b -print -quit 2>/dev/null)
	[ -n "$dev" ] || [ ! -c /dev/kmsg ] || dev=/dev/kmsg
	ln -s "$t/hostonly" "$t/target/hostlink"
	[ -z "$dev" ] || ln -s "$dev" "$t/target/devlink"
	tar -C "$t/target" -cf "$t/target.tar" . &&
	    podman import -q "$t/target.tar" "localhost/pagedrop-target:$$" >"$t/podman.log" 2>&1 ||
	    { bad "podman import of the target: $(cat "$t/podman.log")"; return; }
	if [ -n "${PAGEDROP_IMAGE:-}" ]; then
		podman load -i "$PAGEDROP_IMAGE" >"$t/podman.log" 2>&1 ||
		    { bad "podman load -i $PAGEDROP_IMAGE: $(cat "$t/podman.log")"; return; }
		img=$(sed -n 's/^Loaded image: //p' "$t/podman.log" | head -n 1)
	else
		cp "$bin" "$t/tool/pagedrop"
		for x in $(ldd "$bin" 2>/dev/null | grep -o '/[^ ]*'); do cp -L --parents "$x" "$t/tool/"; done
		img=localhost/pagedrop-tool:$$
		tar -C "$t/tool" -cf "$t/tool.tar" . &&
		    podman import -q --change 'ENTRYPOINT ["/pagedrop"]' "$t/tool.tar" "$img" >"$t/podman.log" 2>&1 ||
		    { bad "podman import of the tool: $(cat "$t/podman.log")"; return; }
	fi
	# The container's own process reads the file each time that /go
	# appears, and says so with /done: podman exec, where / is a chroot's
	# bind mount (.ci/image's in a chroot), starts outside the container.
	podman run -d --name "$c" --network none "localhost/pagedrop-target:$$" /bin/busybox sh -c \
	    'while :; do if [ -e /go ]; then /bin/busybox rm /go; /bin/busybox cat /data >/dev/null; : >/done; fi; /bin/busybox sleep 0.1; done' \
	    >"$t/podman.log" 2>&1 || { bad "podman run of the target: $(cat "$t/podman.log")"; return; }
	later podman rm -f -t 0 "$c"
	pid=$(podman inspect -f '{{.State.Pid}}' "$c")
	f=/proc/$pid/root/data
	# The memory controller's cgroup of the container: v1's where it is
	# mounted, else v2's.
	if cg=$(sed -n 's/^[0-9]*:memory://p' "/proc/$pid/cgroup") && [ -n "$cg" ]; then
		cg=$(cgmount cgroup memory)$cg cur=memory.usage_in_bytes key=cache
	else
		cg=$(cgmount cgroup2)$(sed -n 's/^0:://p' "/proc/$pid/cgroup") cur=memory.current key=file
	fi
	[ -e "$cg/memory.stat" ] || skip "the container's cgroup $cg has no memory controller"
	size=$(($(stat -c %s "$f") / 1024))
	echo "container: $c, process $pid, memory cgroup $cg; the other image $img"
	# Written by podman import, the file is written back (overlayfs syncs
	# none of a lower layer's files alone), and dropped before each read,
	# so that the read charges it to the container.
	sync -f "$f"
	while read -r how st line; do
		"${run[@]}" "$f"
		charge "$cg"
		base=$file
		rm -f "/proc/$pid/root/done" && : >"/proc/$pid/root/go"
		for x in $(seq 100); do [ -e "/proc/$pid/root/done" ] && break; sleep 0.1; done
		charge "$cg"
		b=$(kib "$f") f0=$file
		case $how in
		host) "${run[@]}" "$f" >"$t/out" 2>&1 ;;
		debug) podman run --rm --network none --pid "container:$c" "$img" /proc/1/root/data >"$t/out" 2>&1 ;;
		apart) podman run --rm --network none "$img" /proc/1/root/data >"$t/out" 2>&1 ;;
		esac
		x=$?
		charge "$cg"
		a=$(kib "$f") f1=$file
		echo "container, a run from $line: $b of $size KiB resident after a read inside, $key $base KiB before it and $f0 KiB after; status $x, $a KiB resident, $key $f1 KiB"
		# memory.stat may lag a batch of pages behind (132 KiB on 5.10, one
		# CPU), and reclaim may take a few pages (16 KiB kept, and 68 KiB
		# just read, seen once each).
		if [ "$st" = 0 ]; then
			[ "$x" = 0 ] && [ ! -s "$t/out" ] && [ "$b" -ge $((size - 128)) ] && [ "$a" = 0 ] &&
			    [ $((f0 - base)) -ge $((size - 256)) ] && [ $((f0 - f1)) -ge $((size - 256)) ]
		else
			[ "$x" = "$st" ] && grep -q '^open: No such file or directory$' "$t/out" &&
			    [ "$b" -ge $((size - 128)) ] && [ "$a" -ge $((b - 64)) ] && [ $((f1 - base)) -ge $((size - 256)) ] &&
			    [ $((f0 - f1)) -le 256 ]
		fi || bad "container, a run from $line: want status $st and the file's $size KiB $([ "$st" = 0 ] && echo dropped and uncharged || echo kept and charged); output '$(cat "$t/out")'"
	done <<-EOF
	host 0 this machine on /proc/$pid/root/data
	debug 0 a container sharing its process namespace on /proc/1/root/data
	apart 255 a container of its own on /proc/1/root/data
	EOF
	links
	layer
}

# The container's links, from each route: from this machine an absolute
# link resolves against this machine's root, so the container steers the
# run to a file of this machine's (whose pages it drops) or to a device
# node (turned away from its handle, never opened); from a container that
# shares its processes, against that container's own root, which has
# neither.
links() {
	local link how want x b a msg f fds
	while read -r link how want; do
		[ -e "$t/target/$link" ] || [ -L "$t/target/$link" ] ||
		    { echo "note: no /$link row: no block device or /dev/kmsg here"; continue; }
		cat "$t/hostonly" >/dev/null
		b=$(kib "$t/hostonly")
		case $how in
		host)
			f=/proc/$pid/root/$link
			mapfile -t fds < <(printf -- '-P\n/proc/self/fd/%s\n' 3 4 5 6 7 8 9)
			strace -o "$t/trace" -P "$f" "${fds[@]}" \
			    sh -c 'exec "$@" 2>&3 3>&-' sh "${run[@]}" "$f" >"$t/out" 2>"$t/tracer" 3>&1 ;;
		debug)
			f=/proc/1/root/$link
			podman run --rm --network none --pid "container:$c" "$img" "$f" >"$t/out" 2>&1 ;;
		esac
		x=$?
		a=$(kib "$t/hostonly")
		msg=$(cat "$t/out")
		echo "container, the link /$link to $(readlink "$t/target/$link"), from $([ "$how" = host ] && echo this machine || echo a container sharing its processes) on $f: status $x, '$msg'; this machine's $t/hostonly: $b KiB resident before, $a KiB after"
		case $want in
		dropped) [ "$x" = 0 ] && [ -z "$msg" ] && [ "$b" -gt 0 ] && [ "$a" = 0 ] ;;
		notreg) [ "$x" = 1 ] && [ "$msg" = "$f: S_ISREG: not a regular file" ] && [ "$a" -ge $((b - 64)) ] &&
		    ! grep -E '^[a-z0-9_]*open[a-z0-9_]*\(' "$t/trace" | grep -v O_PATH | grep -q . ;;
		missing) [ "$x" = 255 ] && [ "$msg" = 'open: No such file or directory' ] && [ "$a" -ge $((b - 64)) ] ;;
		esac || bad "container, /$link from $how: want $want: status $x, '$msg', $b then $a KiB; $(cat "$t/trace" 2>/dev/null)"
		rm -f "$t/trace"
	done <<-EOF
	hostlink host dropped
	hostlink debug missing
	devlink host notreg
	devlink debug missing
	EOF
}

# A file of the image's layer is one file wherever it is seen: read in one
# container, it is resident in a second container of the same image and in
# the layer on this machine, and a run from the first's side drops it from
# all three.
layer() {
	local c2=pagedrop-$$-b pid2 lower x line
	podman run -d --name "$c2" --network none "localhost/pagedrop-target:$$" /bin/busybox sleep 600 \
	    >"$t/podman.log" 2>&1 || { bad "podman run of a second target: $(cat "$t/podman.log")"; return; }
	later podman rm -f -t 0 "$c2"
	pid2=$(podman inspect -f '{{.State.Pid}}' "$c2")
	lower=$(find "$t/storage/overlay" -path '*/diff/data' -type f -print -quit)
	[ -n "$lower" ] || { bad "no layer file of /data under $t/storage/overlay"; return; }
	"${run[@]}" "/proc/$pid/root/data"
	rm -f "/proc/$pid/root/done" && : >"/proc/$pid/root/go"
	for x in $(seq 100); do [ -e "/proc/$pid/root/done" ] && break; sleep 0.1; done
	line="read in the first: the first's view $(kib "/proc/$pid/root/data") KiB, the second's $(kib "/proc/$pid2/root/data") KiB, the layer's $(kib "$lower") KiB"
	b=$(kib "/proc/$pid2/root/data")
	podman run --rm --network none --pid "container:$c" "$img" /proc/1/root/data >"$t/out" 2>&1
	x=$?
	a="$(kib "/proc/$pid/root/data") $(kib "/proc/$pid2/root/data") $(kib "$lower")"
	echo "container, two of one image: $line; a run from the first's side: status $x, then $a KiB"
	[ "$x" = 0 ] && [ "$b" -ge $((size - 128)) ] && [ "$a" = "0 0 0" ] ||
	    bad "container, two of one image: want the layer's file resident in both, then in neither: $line; $a"
}

# cgmount TYPE [OPTION]: where a cgroup file system of TYPE is mounted.
cgmount() {
	local dir type opts
	while read -r _ dir type opts _; do
		[ "$type" = "$1" ] && [[ -z ${2:-} || ,$opts, = *,$2,* ]] && echo "$dir" && return
	done </proc/self/mounts
}

case $group in
nfs | smb | ninep | fuse | memcg | container) "$group" ;;
ninephost) ninephost "$3" ;;
*) echo "shares.sh: no group $group" >&2; exit 2 ;;
esac
exit $fail
