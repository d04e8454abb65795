/* SPDX-License-Identifier: MIT */
/* The floor for a run: open, fstat and the advice, and nothing else. */
#include <fcntl.h>
#include <sys/stat.h>

int
main(int argc, char *argv[])
{
	struct stat st;
	int fd;

	if (argc != 2 || (fd = open(argv[1], O_RDONLY)) == -1 ||
	    fstat(fd, &st) == -1)
		return 255;
	return posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) ? 255 : 0;
}
