// SPDX-License-Identifier: MIT
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dropcache.h"

// Reads the count as atoi does, but saturates past int's range where
// atoi's result is undefined.
static int
parsecount(const char *s)
{
	long n = strtol(s, nullptr, 10);

	if (n > INT_MAX)
		return INT_MAX;
	if (n < INT_MIN)
		return INT_MIN;
	return static_cast<int>(n);
}

int
main(int argc, char *argv[])
{
	if (argc == 4 && strcmp(argv[1], "-n") == 0)
		return dropfilecache(argv[3], parsecount(argv[2]));
	if (argc == 2)
		return dropfilecache(argv[1], 1);
	fprintf(stderr, "usage: %s [-n <n>] <file> -- call fadvise(DONTNEED) "
	    "<n> times on file\n", argc > 0 ? argv[0] : "pagedrop");
	return 1;
}
