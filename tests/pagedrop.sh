#!/bin/bash
# Drives pagedrop from outside, as its users do:
# pagedrop.sh GROUP BINARY [BUILD-DIR].
# Output is compared as files, since $(...) would drop the final line break
# that tells the size message from the type message.
set -u
group=$1 bin=$2 build=${3:-} fail=0
t=$(mktemp -d) || exit 1
trap 'rm -rf "$t"' EXIT
cd "$t" || exit 1
head -c 65536 /dev/urandom >data
head -c 1 /dev/urandom >-x
: >empty
: >'a%s b'
mkdir dir
ln -s data link
mkfifo fifo
run=("$bin")

bad() { printf 'FAIL: %s\n' "$*"; fail=1; }

# expect STATUS STDERR ARGS...: one traced run; stdout must stay empty.
expect() {
	local want=$1 fmt=$2 st
	shift 2
	timeout 10 strace -o trace "${opts[@]}" "${run[@]}" "$@" >out 2>err
	st=$?
	printf -- "$fmt" >want
	[ "$st" = "$want" ] && [ ! -s out ] && cmp -s err want ||
	    bad "pagedrop $*: status $st, stderr '$(cat -A err)'"
}

# Status, advice calls seen, stderr, a fault to inject on the file, arguments.
cli() {
	local st n err inj args
	local u="usage: $bin [-n <n>] <file> -- call fadvise(DONTNEED) <n> times on file\n"
	local enoent='open: No such file or directory\n' notreg=': S_ISREG: not a regular file'
	while IFS='|' read -r st n err inj args; do
		opts=(-e "trace=fadvise64${inj:+,${inj%%:*}}")
		[ -z "$inj" ] || opts+=(-P "$t/data" -e "inject=$inj")
		eval "set -- $args"
		expect "$st" "$err" "$@"
		[ "$(grep -c '^fadvise64([0-9]*, 0, 0, POSIX_FADV_DONTNEED)' trace)" = "$n" ] ||
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
	255|0|$enoent||-n
	255|0|$enoent||missing
	1|0|dir$notreg||dir
	1|0|dir$notreg||-n -1 dir
	1|0|fifo$notreg||fifo
	1|0|/dev/null$notreg||/dev/null
	1|0|empty: file size is 0!\n||empty
	1|0|./empty: file size is 0!\n||-n 0 ./empty
	1|0|a%%s b: file size is 0!\n||'a%s b'
	255|0|open: Input/output error\n|openat:error=EIO|$t/data
	255|0|fstat: Value too large for defined data type\n|newfstatat:error=EOVERFLOW|$t/data
	255|1|posix_fadvise: Illegal seek\n|fadvise64:error=ESPIPE|$t/data
	255|3|posix_fadvise: Bad file descriptor\n|fadvise64:error=EBADF:when=3|-n 5 $t/data
	EOF
	# Linux hands a program started with no arguments at all one empty name.
	perl -e 'exec {$ARGV[0]} ()' "$bin" >out 2>err
	[ $? = 1 ] && [ ! -s out ] && grep -qxE 'usage: (pagedrop)? \[-n <n>\] <file> -- .*' err ||
	    bad "empty argument vector: '$(cat -A err)'"
}

# Every call made on the file, and the file's bytes and times unchanged.
calls() {
	local was fd
	cp data orig
	was=$(stat -c '%s %x %y %z' data)
	strace -o trace -P "$t/data" "$bin" -n 2 "$t/data" || bad "status $?"
	fd=$(sed -En 's/^openat.* = ([0-9]+)$/\1/p' trace)
	sed -E "s/\{st_mode=[^}]*\}/{}/; s/ +=/ =/; s/\(${fd:-x}, /(FD, /; s/= $fd\$/= FD/" trace >got
	printf '%s\n' "openat(AT_FDCWD, \"$t/data\", O_RDONLY|O_NONBLOCK) = FD" \
	    'newfstatat(FD, "", {}, AT_EMPTY_PATH) = 0' \
	    'fadvise64(FD, 0, 0, POSIX_FADV_DONTNEED) = 0' \
	    'fadvise64(FD, 0, 0, POSIX_FADV_DONTNEED) = 0' '+++ exited with 0 +++' >want
	diff want got || bad "calls on the file differ"
	[ "$(stat -c '%s %x %y %z' data)" = "$was" ] && cmp -s data orig || bad "file changed"
}

resident() { echo $(($(fincore -nb -o RES "$1"))); }

# Pages made resident are gone after a run, by name and through a link.
cache() {
	[ "$(stat -f -c %T .)" != tmpfs ] || { echo "SKIP: tmpfs keeps its pages"; exit 77; }
	dd if=/dev/urandom of=big bs=1M count=16 conv=fsync status=none
	ln -s big biglink
	for f in big biglink; do
		cat big >/dev/null
		[ "$(resident big)" -gt 0 ] || bad "$f: nothing resident to drop"
		"$bin" "$f" || bad "$f: status $?"
		[ "$(resident big)" = 0 ] || bad "$f: $(resident big) bytes still resident"
	done
}

# Read access is all it needs; without it the open fails.
user() {
	chmod 755 "$t" && cp "$bin" pagedrop && chmod 000 empty
	[ "$(id -u)" != 0 ] || run=(setpriv --reuid=65534 --regid=65534 --clear-groups)
	run+=("$t/pagedrop")
	opts=()
	expect 0 '' data
	expect 255 'open: Permission denied\n' empty
}

# An installed tree holds a working binary and a page that renders cleanly.
installed() {
	cmake --install "$build" --prefix "$t/usr" >/dev/null || bad "cmake --install"
	run=("$t/usr/bin/pagedrop") opts=()
	expect 0 '' data
	groff -man -ww -z "$t/usr/share/man/man1/pagedrop.1" 2>err && [ ! -s err ] ||
	    bad "manual page: $(cat err)"
}

"$group"
exit $fail
