#!/bin/bash
# SPDX-License-Identifier: MIT
# Drives pagedrop from outside, as its users do:
# pagedrop.sh GROUP BINARY [BUILD-DIR [EMULATOR...]].
# An emulator such as qemu-arm-static runs a binary built for another
# architecture; strace then sees the host calls that carry out its calls.
# Output is compared as files, since $(...) would drop the final line break
# that tells the size message from the type message.
set -u
group=$1 bin=$2 build=${3:-} fail=0
emu=("${@:4}")
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
# What ctest or a caller left open would shift the descriptors that the
# traces name.
for fd in $(seq 3 20); do eval "exec $fd>&-"; done
scratch
cd "$t" || exit 1
head -c 65536 /dev/urandom >data
head -c 1 /dev/urandom >-x
: >empty
: >'a%s b'
mkdir dir
ln -s data link
mkfifo fifo
ln -s fifo fifolink
ln -s dir dirlink
ln -s /dev/ptmx ptmxlink
perl -MSocket -e 'socket(S, PF_UNIX, SOCK_STREAM, 0) && bind(S, pack_sockaddr_un("sock")) or die "sock: $!\n"'
# Sizes and times that 32-bit off_t and time_t cannot hold.
truncate -s 3G big3g
truncate -s 5G big5g
echo x >future && touch -d 2100-01-01 future
run=("${emu[@]}" "$bin")
# qemu-user 8 and later resolve each path a program opens (realpath, to
# tell /proc/self/exe): readlinks on the file that are the emulator's.
hide=()
[ ${#emu[@]} = 0 ] || hide=(-e 'trace=!readlink,readlinkat')

bad() { printf 'FAIL: %s\n' "$*"; fail=1; }
skip() { printf 'SKIP: %s\n' "$*"; exit 77; }

# The calls' names follow the architecture and the C library (fadvise64 or
# arm_fadvise64_64, newfstatat or statx, statfs or statfs64, ...): learn them
# from plain runs: the handle's open, its fstat, the statfs of /proc, the
# read open and the advice. The first finds the handle's descriptor, whose
# number an emulator's own open files may push up, and so the paths that
# strace -P needs for the last two (it resolves each in its own process as
# well, and says so on its standard error).
declare -A sys
learn() {
	local names h
	strace -o trace "${hide[@]}" -P "$t/data" "${run[@]}" "$t/data" || bad "plain run: status $?"
	h=$(sed -En '1s/.* = ([0-9]+)$/\1/p' trace)
	[ -n "$h" ] || { bad "no handle: $(cat trace)"; exit 1; }
	paths=(-P "$t/data" -P /proc/self/fd -P "/proc/self/fd/$h")
	strace -o trace "${hide[@]}" "${paths[@]}" "${run[@]}" "$t/data" 2>tracer || bad "plain run: status $?"
	mapfile -t names < <(sed -En 's/^([a-z0-9_]+)\(.*/\1/p' trace)
	[ ${#names[@]} = 5 ] || { bad "want 5 calls on the file, saw: ${names[*]}"; exit 1; }
	sys=([open]=${names[0]} [stat]=${names[1]} [fs]=${names[2]} [advice]=${names[4]})
}

# expect STATUS STDERR ARGS...: one traced run; stdout must stay empty.
# The tracer's own words, such as a 64-bit strace's warning that it cannot
# decode a 32-bit program's structures, go to a file of their own: sh hands
# the program the standard error that is compared.
expect() {
	local want=$1 fmt=$2 st
	shift 2
	timeout 10 strace -o trace "${opts[@]}" sh -c 'exec "$@" 2>&3 3>&-' sh \
	    "${run[@]}" "$@" >out 2>tracer 3>err
	st=$?
	printf -- "$fmt" >want
	[ "$st" = "$want" ] && [ ! -s out ] && cmp -s err want ||
	    bad "pagedrop $*: status $st, stderr '$(cat -A err)', strace '$(cat tracer)'"
}

# Status, advice calls seen, stderr, a fault to inject on the file (open,
# stat or advice, then strace's inject options), arguments.
cli() {
	local st n err inj args c
	local u="usage: $bin [-n <n>] <file> -- call fadvise(DONTNEED) <n> times on file\n"
	local enoent='open: No such file or directory\n' notreg=': S_ISREG: not a regular file'
	# A block device of this machine's; only root may open one.
	local blk=
	[ "$(id -u)" != 0 ] || blk=$(find /dev -maxdepth 1 -type b -print -quit 2>/dev/null)
	learn
	while IFS='|' read -r st n err inj args; do
		if [[ $args = *@blk@* ]]; then
			[ -n "$blk" ] || { echo "note: no block device row: not root or none in /dev"; continue; }
			err=${err//@blk@/$blk} args=${args//@blk@/$blk}
		fi
		c=${inj:+${sys[${inj%%:*}]}}
		opts=(-e "trace=${sys[advice]}${c:+,$c}")
		[ -z "$inj" ] || opts+=("${paths[@]}" -e "inject=$c:${inj#*:}")
		eval "set -- $args"
		expect "$st" "$err" "$@"
		[ "$(grep -c "^${sys[advice]}(" trace)" = "$n" ] ||
		    bad "pagedrop $args: want $n advice calls"
	done <<-EOF
	1|0|$u||
	1|0|$u||data -n 3
	1|0|$u||-n 2 data data
	1|0|$u||-N 2 data
	1|0|$u||-nn 2 data
	1|0|$u||-- data
	1|0|$u||-n 2 -- data
	0|1|||data
	0|1|||link
	0|1|||-x
	0|1|||big3g
	0|2|||-n 2 big5g
	0|1|||future
	0|3|||-n 3 data
	0|0|||-n 0 data
	0|0|||-n -5 data
	0|0|||-n abc data
	0|7|||-n ' 7' data
	0|3|||-n 3x data
	0|10|||-n 010 data
	0|0|||-n 0x10 data
	0|2|||-n +2 data
	0|0|||-n -4294967295 data
	0|0|||-n -2147483649 data
	255|0|$enoent||-n
	255|0|$enoent||missing
	1|0|dir$notreg||dir
	1|0|dir$notreg||-n -1 dir
	1|0|fifo$notreg||fifo
	1|0|fifolink$notreg||fifolink
	1|0|dirlink$notreg||dirlink
	1|0|/dev/null$notreg||/dev/null
	1|0|/dev/ptmx$notreg||/dev/ptmx
	1|0|ptmxlink$notreg||ptmxlink
	255|0|open: No such device or address\n||sock
	1|0|@blk@$notreg||@blk@
	1|0|empty: file size is 0!\n||empty
	1|0|./empty: file size is 0!\n||-n 0 ./empty
	1|0|a%%s b: file size is 0!\n||'a%s b'
	255|0|open: Input/output error\n|open:error=EIO|$t/data
	255|0|$enoent|open:error=ENOENT:when=1|$t/data
	255|0|open: Interrupted system call\n|open:error=EINTR:when=1|$t/data
	0|1||open:error=EAGAIN:when=2|$t/data
	255|0|open: Resource temporarily unavailable\n|open:error=EAGAIN|$t/data
	255|0|open: Permission denied\n|open:error=EACCES:when=2|$t/data
	255|0|fstat: Value too large for defined data type\n|stat:error=EOVERFLOW|$t/data
	0|1||fs:error=ENOENT|$t/data
	1|0|dir$notreg|fs:error=ENOENT|dir
	255|1|posix_fadvise: Illegal seek\n|advice:error=ESPIPE|$t/data
	255|3|posix_fadvise: Bad file descriptor\n|advice:error=EBADF:when=3|-n 5 $t/data
	255|3|posix_fadvise: Bad file descriptor\n|advice:error=EBADF:when=3|-n 2147483648 $t/data
	255|3|posix_fadvise: Bad file descriptor\n|advice:error=EBADF:when=3|-n 4294967297 $t/data
	255|3|posix_fadvise: Bad file descriptor\n|advice:error=EBADF:when=3|-n 99999999999999999999 $t/data
	EOF
	# Linux hands a program started with no arguments at all one empty name;
	# qemu's -0 gives the emulated program the same.
	if [ ${#emu[@]} = 0 ]; then
		perl -e 'exec {$ARGV[0]} ()' "$bin"
	else
		"${emu[@]}" -0 '' "$bin"
	fi >out 2>err
	[ $? = 1 ] && [ ! -s out ] && grep -qxE 'usage: (pagedrop)? \[-n <n>\] <file> -- .*' err ||
	    bad "empty argument vector: '$(cat -A err)'"
}

# follow INJECT PATTERNS...: one run of -n 2 on the file, with INJECT (a
# call of sys, a colon and strace's inject options) or none, must trace
# exactly PATTERNS, line by line; @fd@ stands for the descriptor that the
# last open returned.
follow() {
	local inj=$1 fd=none i p
	shift
	strace -o trace "${hide[@]}" "${paths[@]}" ${inj:+-e "inject=${sys[${inj%%:*}]}:${inj#*:}"} \
	    "${run[@]}" -n 2 "$t/data" >out 2>&1
	# strace notices such as "[ Process PID=N runs in 32 bit mode. ]" are not calls.
	mapfile -t got < <(grep -v "^\[ " trace)
	[ ${#got[@]} = $# ] || bad "${inj:-plain}: want $# lines of trace, got ${#got[@]}: ${got[*]}"
	for ((i = 0; i < $#; i++)); do
		p=${*:i+1:1} p=${p//@fd@/$fd}
		[[ ${got[i]-} =~ ^$p$ ]] || bad "${inj:-plain}: call $((i + 1)): ${got[i]-}"
		[[ ${got[i]-} =~ ^${sys[open]}\(.*\)\ =\ ([0-9]+)$ ]] && fd=${BASH_REMATCH[1]}
	done
}

# Every call made on the file, and the file's bytes and times unchanged:
# the handle, its type, /proc's, then the read open through /proc. A
# non-blocking read open that a lease refuses is followed by one that waits;
# any other failed open is not tried again. Where /proc is no procfs, the
# path is opened again and its type read again.
calls() {
	local was open stat fs reopen advice e lf
	learn
	cp data orig
	was=$(stat -c '%s %x %y %z' data)
	# strace pads a short line's result; a 32-bit program's opens carry
	# O_LARGEFILE, after O_NONBLOCK where both are given.
	lf='(\|O_LARGEFILE)?'
	open="${sys[open]}\((AT_FDCWD, )?\"$t/data\", O_RDONLY$lf"
	stat="${sys[stat]}\(@fd@, .*\) += 0"
	fs="${sys[fs]}\(\"/proc/self/fd\", .*\) +="
	reopen="${sys[open]}\((AT_FDCWD, )?\"/proc/self/fd/@fd@\", O_RDONLY$lf"
	advice="${sys[advice]}\(@fd@, (0, 0, POSIX_FADV_DONTNEED|POSIX_FADV_DONTNEED, 0, 0)\) += 0"
	follow '' "$open\|O_PATH$lf\) += [0-9]+" "$stat" "$fs 0" "$reopen\|O_NONBLOCK$lf\) += [0-9]+" \
	    "$advice" "$advice" '\+\+\+ exited with 0 \+\+\+'
	follow open:error=EAGAIN:when=2 "$open\|O_PATH$lf\) += [0-9]+" "$stat" "$fs 0" \
	    "$reopen\|O_NONBLOCK$lf\) += -1 EAGAIN .*\(INJECTED\)" "$reopen\) += [0-9]+" \
	    "$advice" "$advice" '\+\+\+ exited with 0 \+\+\+'
	for e in EIO ENOENT EINTR; do
		follow "open:error=$e:when=1" "$open\|O_PATH$lf\) += -1 $e .*\(INJECTED\)" \
		    '\+\+\+ exited with 255 \+\+\+'
		follow "open:error=$e:when=2" "$open\|O_PATH$lf\) += [0-9]+" "$stat" "$fs 0" \
		    "$reopen\|O_NONBLOCK$lf\) += -1 $e .*\(INJECTED\)" '\+\+\+ exited with 255 \+\+\+'
	done
	follow fs:error=ENOENT "$open\|O_PATH$lf\) += [0-9]+" "$stat" "$fs -1 ENOENT .*\(INJECTED\)" \
	    "$open\|O_NONBLOCK$lf\) += [0-9]+" "$stat" "$advice" "$advice" '\+\+\+ exited with 0 \+\+\+'
	[ "$(stat -c '%s %x %y %z' data)" = "$was" ] && cmp -s data orig || bad "file changed"
	opens
}

# blockdev: sets blk to a block device that root may open: a loop device
# of a file of its own where it can attach one, else one of /dev's; empty
# where there is none, or this is no root.
blockdev() {
	blk=
	[ "$(id -u)" = 0 ] || return 0
	truncate -s 1M loop.img
	if blk=$(losetup -f --show loop.img 2>/dev/null); then
		later losetup -d "$blk"
	else
		blk=$(find /dev -maxdepth 1 -type b -print -quit 2>/dev/null)
	fi
}

# Each kind of file, and a link to each, traced: the only open for reading
# that a run makes is the regular file's, through /proc; all else is turned
# away from its handle, with the messages and statuses of before. A FIFO
# that has a writer, as one without, is never opened.
opens() {
	local f want st n reads blk
	blockdev
	[ -z "$blk" ] || ln -s "$blk" blklink
	mkfifo held
	sleep 30 <>held &
	later kill $!
	while read -r f want; do
		case $f in @blk@ | blklink) [ -n "$blk" ] || { echo "note: no block device rows: not root, or none here"; continue; } ;; esac
		f=${f//@blk@/$blk}
		strace -o trace "${hide[@]}" -P "$f" "${paths[@]:2}" sh -c 'exec "$@" 2>&3 3>&-' sh \
		    "${run[@]}" "$f" >out 2>tracer 3>err
		st=$?
		n=$(grep -cE '^[a-z0-9_]*open[a-z0-9_]*\(' trace)
		reads=$(grep -E '^[a-z0-9_]*open[a-z0-9_]*\(' trace | grep -v 'O_PATH' | grep -vc '= -1 ')
		echo "opens: $f: status $st; $n opens, $reads for reading: $(grep -oE '^[a-z0-9_]*open[a-z0-9_]*\([^)]*\) = [-0-9]+' trace | sed -E 's/^[a-z0-9_]+\((AT_FDCWD, )?//; s/\) = / = /' | paste -sd ';' | sed 's/;/; /g')"
		case $want in
		read) [ "$st" = 0 ] && [ "$reads" = 1 ] && grep -qE '"/proc/self/fd/[0-9]+", O_RDONLY' trace ;;
		sock) [ "$st" = 255 ] && [ "$reads" = 0 ] && [ "$(cat err)" = 'open: No such device or address' ] ;;
		*) [ "$st" = 1 ] && [ "$reads" = 0 ] && [ "$(cat err)" = "$f: S_ISREG: not a regular file" ] ;;
		esac || bad "$f: status $st, '$(cat err)', want $want: $(cat trace)"
	done <<-EOF
	data read
	link read
	dir none
	dirlink none
	fifo none
	fifolink none
	held none
	/dev/ptmx none
	ptmxlink none
	/dev/null none
	@blk@ none
	blklink none
	sock sock
	EOF
}

# A run on a file under a lease waits for its holder to let go, as any
# reader does, and then succeeds. The holder lets go a second after it is
# asked to (F_SETLEASE is 1024, F_WRLCK 1 and F_UNLCK 2 on Linux).
lease() {
	local line st ms
	learn
	head -c 1M /dev/urandom >leased
	exec 3< <(perl -e '
		my $asked = 0;
		$SIG{IO} = sub { $asked = 1 };
		open(my $fh, "+<", $ARGV[0]) or die "open: $!\n";
		fcntl($fh, 1024, 1) or die "F_SETLEASE: $!\n";
		$| = 1;
		print "held\n";
		for (1 .. 200) { last if $asked; select(undef, undef, undef, 0.05) }
		$asked or die "never asked to let go\n";
		print "asked\n";
		sleep 1;
		fcntl($fh, 1024, 2) or die "F_UNLCK: $!\n";
		print "released\n";' "$t/leased" 2>&1)
	read -r -t 10 line <&3
	[ "$line" = held ] || { bad "no lease taken: $line"; return; }
	ms=$(date +%s%N)
	strace -o trace "${hide[@]}" -P "$t/leased" "${paths[@]:2}" "${run[@]}" leased >out 2>err 3<&-
	st=$? ms=$((($(date +%s%N) - ms) / 1000000))
	grep -q '^strace: ' err && sed -i '/^strace: /d' err
	[ $st = 0 ] && [ ! -s out ] && [ ! -s err ] || bad "leased: status $st, output '$(cat out err)'"
	[ "$ms" -ge 900 ] || bad "leased: returned after $ms ms, before the holder let go"
	# Its handle broke no lease: the non-blocking read open asked the holder.
	grep -qE '"/proc/self/fd/[0-9]+", O_RDONLY(\|O_LARGEFILE)?\|O_NONBLOCK(\|O_LARGEFILE)?\) += -1 EAGAIN' trace &&
	    grep -qE '"/proc/self/fd/[0-9]+", O_RDONLY(\|O_LARGEFILE)?\) += [0-9]+$' trace ||
	    bad "leased: want a refused non-blocking read open, then one that waits: $(cat trace)"
	line=$(timeout 10 cat <&3)
	[ "$line" = $'asked\nreleased' ] || bad "lease holder: $line"
	exec 3<&-
}

resident() { echo $(($(fincore -nb -o RES "$1"))); }

# Pages made resident are gone after a run, by name and through a link.
cache() {
	[ "$(stat -f -c %T .)" != tmpfs ] || skip "tmpfs keeps its pages"
	dd if=/dev/urandom of=big bs=1M count=16 conv=fsync status=none
	ln -s big biglink
	for f in big biglink; do
		cat big >/dev/null
		[ "$(resident big)" -gt 0 ] || bad "$f: nothing resident to drop"
		"${run[@]}" "$f" || bad "$f: status $?"
		[ "$(resident big)" = 0 ] || bad "$f: $(resident big) bytes still resident"
	done
}

# Read access is all it needs; without it the open fails, before any type
# or size is told, and nothing is opened for reading.
user() {
	local f
	learn
	chmod 755 "$t" && cp "$bin" pagedrop && chmod 000 empty
	mkdir noread && mkfifo nofifo && chmod 000 noread nofifo
	run=()
	[ "$(id -u)" != 0 ] || run=(setpriv --reuid=65534 --regid=65534 --clear-groups)
	run+=("${emu[@]}" "$t/pagedrop")
	opts=()
	expect 0 '' data
	for f in empty noread nofifo; do
		opts=(-P "$t/$f" "${paths[@]:2}")
		expect 255 'open: Permission denied\n' "$f"
		! grep -E '^[a-z0-9_]*open[a-z0-9_]*\(' trace | grep -v O_PATH | grep -qv '= -1 ' ||
		    bad "$f: opened for reading: $(cat trace)"
	done
}

# An installed tree holds a working binary and a page that renders cleanly.
installed() {
	cmake --install "$build" --prefix "$t/usr" >/dev/null || bad "cmake --install"
	run=("${emu[@]}" "$t/usr/bin/pagedrop") opts=()
	expect 0 '' data
	# -mandoc picks man or mdoc by the page: groff 1.23's -man no longer
	# loads mdoc's macros as 1.22's did.
	groff -mandoc -ww -z "$t/usr/share/man/man1/pagedrop.1" 2>err && [ ! -s err ] ||
	    bad "manual page: $(cat err)"
}

# check FILE [KEPT [PAGES]]: a run after the file is read prints nothing and
# returns 0; afterwards none of the pages of PAGES (FILE itself by default)
# are resident, or, with KEPT, all still are.
check() {
	local f=$1 p=${3:-$1} was now want=0 st
	cat "$f" >/dev/null
	was=$(resident "$p")
	[ "$was" -gt 0 ] || bad "$f: nothing resident to drop"
	[ -z "${2:-}" ] || want=$was
	"${run[@]}" "$f" >out 2>err
	st=$?
	[ $st = 0 ] && [ ! -s out ] && [ ! -s err ] || bad "$f: status $st, output '$(cat out err)'"
	now=$(resident "$p")
	[ "$now" = "$want" ] || bad "$f: $now of $was bytes resident after the run"
}

mkimage() {
	case $1 in
	ext4) truncate -s 64M ext4.img && mkfs.ext4 -q -F ext4.img ;;
	xfs) truncate -s 320M xfs.img && mkfs.xfs -q -f xfs.img ;;
	btrfs) truncate -s 256M btrfs.img && mkfs.btrfs -q -f btrfs.img ;;
	squashfs) mksquashfs src squashfs.img -quiet -noappend ;;
	erofs) mkfs.erofs erofs.img src ;;
	esac >/dev/null
}

# The page-cache effect on each file system that users keep data on, made
# on loop devices; on tmpfs and ramfs the pages are the file's only copy
# and stay.
filesystems() {
	local fs img mark=${#undo[@]}
	[ "$(id -u)" = 0 ] || skip "making and mounting file systems needs root"
	tools util-linux:losetup e2fsprogs:mkfs.ext4 xfsprogs:mkfs.xfs btrfs-progs:mkfs.btrfs \
	    squashfs-tools:mksquashfs erofs-utils:mkfs.erofs
	canloop "$t"
	canmount "$t"
	mkdir src && head -c 16M /dev/urandom >src/data
	for fs in ext4 xfs btrfs squashfs erofs; do
		mkdir "$fs"
		mkimage "$fs" || { bad "$fs: cannot make the image"; continue; }
		mnt -t "$fs" -o loop "$fs.img" "$fs" || { bad "$fs: cannot mount"; continue; }
		[ -e "$fs/data" ] || { cp src/data "$fs/data" && sync "$fs/data"; }
		check "$fs/data"
	done
	# A file only in the lower layer is dropped there and not copied up. Its
	# pages are the lower file's: util-linux 2.41's fincore asks cachestat(2)
	# of the overlay file, which has none, where 2.38's mincore(2) of a
	# mapping saw the lower file's; counting the lower file's suits both.
	mkdir ext4/lower ext4/upper ext4/work overlay tmpfs ramfs
	cp src/data ext4/lower/data && sync ext4/lower/data
	if mnt -t overlay overlay -o lowerdir=ext4/lower,upperdir=ext4/upper,workdir=ext4/work overlay; then
		check overlay/data '' ext4/lower/data
		[ ! -e ext4/upper/data ] || bad "overlay: the file was copied up"
	else
		bad "overlay: cannot mount"
	fi
	for fs in tmpfs ramfs; do
		if mnt -t "$fs" -o size=32M "$fs" "$fs"; then
			cp src/data "$fs/data" && check "$fs/data" kept
		else
			bad "$fs: cannot mount"
		fi
	done
	undoto "$mark"
	# A loop device set up by mount -o loop is let go when it is unmounted.
	for img in *.img; do
		for _ in $(seq 25); do [ -z "$(losetup -j "$img")" ] && continue 2; sleep 0.2; done
		bad "$img: loop device left behind: $(losetup -j "$img")"
	done
}

"$group"
exit $fail
