// SPDX-License-Identifier: MIT
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>

#include "dropcache.h"

void
exiterr(const char *name)
{
	perror(name);
	exit(-1);
}

int
dropfilecache(const char *path, int count)
{
	struct stat st = {};
	int fd;

	// O_NONBLOCK lets a FIFO with no writer open at once, to be turned
	// away by the type check instead of hanging; regular files ignore it.
	fd = open(path, O_RDONLY | O_NONBLOCK);
	// A file under a lease refuses a non-blocking open once its holder has
	// been asked to let go; open it again and wait, as any reader does.
	if (fd == -1 && errno == EWOULDBLOCK)
		fd = open(path, O_RDONLY);
	if (fd == -1)
		exiterr("open");
	if (fstat(fd, &st) == -1)
		exiterr("fstat");
	if (!S_ISREG(st.st_mode)) {
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
