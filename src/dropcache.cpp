// SPDX-License-Identifier: MIT
#include <sys/stat.h>
#include <sys/statfs.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/magic.h>
#include <unistd.h>

#include "dropcache.h"

void
exiterr(const char *name)
{
	perror(name);
	exit(-1);
}

// A file under a lease refuses a non-blocking open once its holder has been
// asked to let go; open it again and wait, as any reader does.
static int
openread(const char *name)
{
	int fd = open(name, O_RDONLY | O_NONBLOCK);

	if (fd == -1 && errno == EWOULDBLOCK)
		fd = open(name, O_RDONLY);
	if (fd == -1)
		exiterr("open");
	return fd;
}

// Writes /proc/self/fd/FD into self, by hand: a run that succeeds never
// reaches stdio's formatting, nor the pages that hold it.
static void
selfpath(char (&self)[32], int fd)
{
	static const char dir[] = "/proc/self/fd/";
	char digits[12];
	size_t n = 0, i = 0;

	do {
		digits[n++] = static_cast<char>('0' + fd % 10);
		fd /= 10;
	} while (fd > 0);
	for (char c : dir)
		if (c != '\0')
			self[i++] = c;
	while (n > 0)
		self[i++] = digits[--n];
	self[i] = '\0';
}

// Opens path for reading where it is a regular file, and fills st; returns
// -1, having opened nothing for reading, where it is not. The type comes
// from an O_PATH handle, whose open reaches no device's driver, waits for
// no FIFO's writer and breaks no lease.
static int
openfile(const char *path, struct stat *st)
{
	char self[32];
	const char *name = path;
	struct statfs fs;
	int fd;

	fd = open(path, O_PATH);
	if (fd == -1)
		exiterr("open");
	if (fstat(fd, st) == -1)
		exiterr("fstat");
	// Through /proc the read open reaches the file just checked, whatever
	// the path leads to by then. Where /proc shows no procfs of this
	// process (a bare chroot, another PID namespace's /proc) the path is
	// opened again, and the type checked again.
	if (statfs("/proc/self/fd", &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC) {
		selfpath(self, fd);
		name = self;
	}
	if (!S_ISREG(st->st_mode)) {
		// An open would refuse an unreadable file first, then a socket.
		if (access(name, R_OK) == -1)
			exiterr("open");
		if (S_ISSOCK(st->st_mode)) {
			errno = ENXIO;
			exiterr("open");
		}
		return -1;
	}
	fd = openread(name);
	if (name == path && fstat(fd, st) == -1)
		exiterr("fstat");
	return S_ISREG(st->st_mode) ? fd : -1;
}

int
dropfilecache(const char *path, int count)
{
	struct stat st = {};
	int fd;

	fd = openfile(path, &st);
	if (fd == -1) {
		fprintf(stderr, "%s: S_ISREG: not a regular file", path);
		return 1;
	}
	if (st.st_size == 0) {
		fprintf(stderr, "%s: file size is 0!\n", path);
		return 1;
	}
	for (int i = 0; i < count; i++) {
		// posix_fadvise returns its error number and leaves errno alone.
		int rc = posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);

		if (rc != 0) {
			errno = rc;
			exiterr("posix_fadvise");
		}
	}
	return 0;
}
