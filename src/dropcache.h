// SPDX-License-Identifier: MIT
#ifndef DROPCACHE_H
#define DROPCACHE_H

[[noreturn]] void exiterr(const char *name);
int dropfilecache(const char *path, int count);

#endif
