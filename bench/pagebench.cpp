// SPDX-License-Identifier: MIT
// Measures whole-process runs of pagedrop beside the C yardstick and the
// peers that are installed: system calls, median wall time, peak memory,
// and how the time grows with -n and with the size of a resident file.
// With -e, only the last, to compare file systems.
//
// usage: pagebench [-e] PAGEDROP YARDSTICK DIR [RUNS]
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <err.h>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <unistd.h>
#include <vector>

static const off_t mib = off_t{1} << 20;

static double
now()
{
	struct timespec ts = {};

	if (clock_gettime(CLOCK_MONOTONIC, &ts) == -1)
		err(1, "clock_gettime");
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Runs argv with its standard streams on /dev/null; returns the wall time
// from spawn to reaped exit, and fails the benchmark if it did not exit 0.
static double
timerun(const std::vector<const char *> &argv)
{
	posix_spawn_file_actions_t fa;
	double t0;
	pid_t pid;
	int st, e;

	if (posix_spawn_file_actions_init(&fa) != 0)
		errx(1, "posix_spawn_file_actions_init");
	for (int fd = 0; fd < 3; fd++)
		if (posix_spawn_file_actions_addopen(&fa, fd, "/dev/null", O_RDWR, 0) != 0)
			errx(1, "posix_spawn_file_actions_addopen");
	t0 = now();
	e = posix_spawnp(&pid, argv[0], &fa, nullptr,
	    const_cast<char *const *>(argv.data()), environ);
	if (e != 0) {
		errno = e;
		err(1, "%s", argv[0]);
	}
	if (waitpid(pid, &st, 0) == -1)
		err(1, "waitpid");
	t0 = now() - t0;
	posix_spawn_file_actions_destroy(&fa);
	if (!WIFEXITED(st) || WEXITSTATUS(st) != 0)
		errx(1, "%s: exit status %d", argv[0], st);
	return t0;
}

// System calls of one run as strace sees them, execve included.
static long
countcalls(std::vector<const char *> argv, const std::string &log)
{
	char line[8192];
	FILE *fp;
	long n = 0;

	argv.insert(argv.begin(), {"strace", "-f", "-qq", "-o", log.c_str()});
	timerun(argv);
	if ((fp = fopen(log.c_str(), "r")) == nullptr)
		err(1, "%s", log.c_str());
	while (fgets(line, sizeof(line), fp) != nullptr) {
		const char *p = line + strspn(line, "0123456789 ");

		if (*p >= 'a' && *p <= 'z' && strstr(p, "resumed>") == nullptr)
			n++;
	}
	fclose(fp);
	unlink(log.c_str());
	return n;
}

static long
readhwm(pid_t pid)
{
	char path[64], buf[4096];
	const char *p;
	ssize_t n;
	int fd;

	snprintf(path, sizeof(path), "/proc/%d/status", pid);
	if ((fd = open(path, O_RDONLY)) == -1)
		err(1, "%s", path);
	if ((n = read(fd, buf, sizeof(buf) - 1)) == -1)
		err(1, "%s", path);
	close(fd);
	buf[n] = '\0';
	return (p = strstr(buf, "VmHWM:")) != nullptr ? strtol(p + 6, nullptr, 10) : -1;
}

// Peak resident memory of the program itself, in KiB: VmHWM read while it
// is stopped at its exit. The rusage of a child would count the parent's
// memory too, since the child's image before exec is a copy of the parent.
static long
peakkib(const std::vector<const char *> &argv)
{
	long kib = -1;
	pid_t pid;
	int st, sig = 0;

	if ((pid = fork()) == -1)
		err(1, "fork");
	if (pid == 0) {
		int fd;

		if ((fd = open("/dev/null", O_RDWR)) == -1 || dup2(fd, 0) == -1 ||
		    dup2(fd, 1) == -1 || dup2(fd, 2) == -1 ||
		    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == -1)
			_exit(126);
		execvp(argv[0], const_cast<char *const *>(argv.data()));
		_exit(127);
	}
	if (waitpid(pid, &st, 0) == -1 || !WIFSTOPPED(st))
		errx(1, "%s: did not start", argv[0]);
	if (ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL) == -1)
		err(1, "ptrace");
	for (;;) {
		if (ptrace(PTRACE_CONT, pid, nullptr, sig) == -1)
			err(1, "ptrace");
		if (waitpid(pid, &st, 0) == -1)
			err(1, "waitpid");
		if (!WIFSTOPPED(st))
			break;
		sig = WSTOPSIG(st) == SIGTRAP ? 0 : WSTOPSIG(st);
		if (st >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8)))
			kib = readhwm(pid);
	}
	if (!WIFEXITED(st) || WEXITSTATUS(st) != 0)
		errx(1, "%s: exit status %d", argv[0], st);
	return kib;
}

static double
median(std::vector<double> v)
{
	std::sort(v.begin(), v.end());
	return v[v.size() / 2];
}

static void
makefile(const std::string &path, off_t size)
{
	std::vector<char> buf(static_cast<size_t>(mib));
	int fd;

	for (size_t i = 0; i < buf.size(); i++)
		buf[i] = static_cast<char>(i * 2654435761U >> 24);
	if ((fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)) == -1)
		err(1, "%s", path.c_str());
	for (off_t done = 0; done < size; done += mib)
		if (write(fd, buf.data(), buf.size()) != static_cast<ssize_t>(buf.size()))
			err(1, "write %s", path.c_str());
	if (fsync(fd) == -1 || close(fd) == -1)
		err(1, "%s", path.c_str());
}

// Reads the whole file, so that its pages are in the page cache.
static void
readall(const std::string &path)
{
	static char buf[1 << 20];
	ssize_t n;
	int fd;

	if ((fd = open(path.c_str(), O_RDONLY)) == -1)
		err(1, "%s", path.c_str());
	while ((n = read(fd, buf, sizeof(buf))) > 0)
		;
	if (n == -1)
		err(1, "read %s", path.c_str());
	close(fd);
}

// Pages of the file in the page cache, by mincore on a mapping that is
// never touched.
static size_t
resident(const std::string &path, off_t size)
{
	size_t len = static_cast<size_t>(size), pg = static_cast<size_t>(sysconf(_SC_PAGESIZE));
	std::vector<unsigned char> vec((len + pg - 1) / pg);
	void *p;
	int fd;

	if ((fd = open(path.c_str(), O_RDONLY)) == -1)
		err(1, "%s", path.c_str());
	if ((p = mmap(nullptr, len, PROT_READ, MAP_SHARED, fd, 0)) == MAP_FAILED)
		err(1, "mmap");
	if (mincore(p, len, vec.data()) == -1)
		err(1, "mincore");
	munmap(p, len);
	close(fd);
	return static_cast<size_t>(std::count_if(vec.begin(), vec.end(),
	    [](unsigned char c) { return (c & 1) != 0; }));
}

static bool
installed(const char *name)
{
	const char *path = getenv("PATH");
	std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
	size_t i = 0, j;

	do {
		j = dirs.find(':', i);
		std::string f = dirs.substr(i, j - i) + "/" + name;
		if (access(f.c_str(), X_OK) == 0)
			return true;
		i = j + 1;
	} while (j != std::string::npos);
	return false;
}

struct cmd {
	const char *label;
	std::vector<const char *> argv;
	std::vector<double> times;
};

// Start-up: every command on the same non-resident file, interleaved.
static void
startup(std::vector<cmd> &cmds, const std::string &dir, int runs)
{
	for (int i = 0; i < 20; i++)
		for (const auto &c : cmds)
			timerun(c.argv);
	// Each round starts with the next command, so that no command always
	// runs just after the same one.
	for (int i = 0; i < runs; i++)
		for (size_t j = 0; j < cmds.size(); j++) {
			cmd &c = cmds[(static_cast<size_t>(i) + j) % cmds.size()];
			c.times.push_back(timerun(c.argv));
		}

	double floor = median(cmds[1].times), fastest = 0;
	const char *peer = nullptr;
	for (size_t i = 2; i < cmds.size(); i++)
		if (peer == nullptr || median(cmds[i].times) < fastest) {
			fastest = median(cmds[i].times);
			peer = cmds[i].label;
		}
	printf("Start-up on a 1 MiB file that is not resident: median of %d "
	    "interleaved whole-process runs each\n\n", runs);
	printf("%-30s %9s %11s %12s %9s\n", "command", "syscalls", "median us",
	    "x yardstick", "peak KiB");
	for (const auto &c : cmds)
		printf("%-30s %9ld %11.1f %12.3f %9ld\n", c.label,
		    countcalls(c.argv, dir + "/strace.log"), median(c.times) * 1e6,
		    median(c.times) / floor, peakkib(c.argv));
	if (peer != nullptr)
		printf("\npagedrop / fastest peer (%s): %.3f\n", peer,
		    median(cmds[0].times) / fastest);
}

// Advice passes: one fadvise64 per pass on the same non-resident file.
static void
passes(const char *pagedrop, const std::string &file, const std::string &dir)
{
	printf("\npagedrop -n N on the same file\n\n%-10s %9s %11s\n", "N",
	    "syscalls", "median us");
	for (const char *n : {"1", "1000", "100000"}) {
		std::vector<const char *> argv = {pagedrop, "-n", n, file.c_str(), nullptr};
		std::vector<double> t;
		int runs = strlen(n) > 4 ? 15 : 200;

		t.reserve(static_cast<size_t>(runs));
		for (int i = 0; i < runs; i++)
			t.push_back(timerun(argv));
		printf("%-10s %9ld %11.1f\n", n, countcalls(argv, dir + "/strace.log"),
		    median(t) * 1e6);
	}
}

// Eviction: the file is read in before every run; pagedrop and the
// yardstick alternate, so the difference is pagedrop's own overhead.
static void
eviction(const char *pagedrop, const char *yardstick, const std::string &dir)
{
	printf("\nA file made resident before each run: median wall time\n\n"
	    "%-8s %5s %13s %13s %9s %15s\n", "size", "runs", "pagedrop ms",
	    "yardstick ms", "diff ms", "resident after");
	for (off_t size : {mib, 64 * mib, 1024 * mib}) {
		std::string f = dir + "/resident.dat";
		std::vector<const char *> a = {pagedrop, f.c_str(), nullptr};
		std::vector<const char *> b = {yardstick, f.c_str(), nullptr};
		std::vector<double> ta, tb;
		int runs = size > 64 * mib ? 7 : size > mib ? 25 : 200;
		size_t left = 0;

		makefile(f, size);
		for (int i = 0; i < runs; i++) {
			readall(f);
			ta.push_back(timerun(a));
			left = std::max(left, resident(f, size));
			readall(f);
			tb.push_back(timerun(b));
		}
		unlink(f.c_str());
		printf("%-4ld MiB %5d %13.3f %13.3f %9.3f %9zu pages\n",
		    static_cast<long>(size / mib), runs, median(ta) * 1e3,
		    median(tb) * 1e3, (median(ta) - median(tb)) * 1e3, left);
	}
}

int
main(int argc, char *argv[])
{
	bool evictonly = argc > 1 && strcmp(argv[1], "-e") == 0;

	argc -= evictonly;
	argv += evictonly;
	if (argc < 4 || argc > 5)
		errx(1, "usage: pagebench [-e] PAGEDROP YARDSTICK DIR [RUNS]");
	if (evictonly) {
		eviction(argv[1], argv[2], argv[3]);
		return 0;
	}
	std::string dir = argv[3], file = dir + "/bench-1m.dat";
	std::string ddif = "if=" + file;
	int runs = argc == 5 ? static_cast<int>(strtol(argv[4], nullptr, 10)) : 1500;

	makefile(file, mib);
	std::vector<cmd> cmds = {
		{"pagedrop FILE", {argv[1], file.c_str(), nullptr}, {}},
		{"yardstick (static C)", {argv[2], file.c_str(), nullptr}, {}},
	};
	if (installed("vmtouch"))
		cmds.push_back({"vmtouch -q -e FILE", {"vmtouch", "-q", "-e", file.c_str(), nullptr}, {}});
	else
		printf("vmtouch is not installed: apt-get install vmtouch\n");
	cmds.push_back({"dd iflag=nocache count=0", {"dd", ddif.c_str(),
	    "iflag=nocache", "count=0", "status=none", nullptr}, {}});
	startup(cmds, dir, runs);
	passes(argv[1], file, dir);
	eviction(argv[1], argv[2], dir);
	unlink(file.c_str());
	return 0;
}
