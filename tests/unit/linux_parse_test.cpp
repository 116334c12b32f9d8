/* SPDX-License-Identifier: BSD-2-Clause */
// The Linux backend: parsing of /proc text on fixtures, and the queries on
// this very process where the kernel's answers are known.

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sched.h>
#include <time.h>
#include <sys/mman.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include "cgroup.h"
#include "backend.h"
#include "parse.h"
#include "procinfo.h"

namespace {

std::string fixture(const char *name)
{
	std::ifstream f(std::string(FIXTURES) + "/" + name);
	std::stringstream ss;
	ss << f.rdbuf();
	return ss.str();
}

TEST(ParseStat, CommandNameWithParenthesesAndBlanks)
{
	std::string s = fixture("stat.txt");
	stat_line sl;
	ASSERT_TRUE(parse_stat(s.data(), s.size(), &sl));
	EXPECT_EQ(std::string(sl.comm, sl.commlen), "a) b) (c");
	EXPECT_EQ(sl.ppid, 77);
	EXPECT_EQ(sl.pgid, 1234);
	EXPECT_EQ(sl.sid, 1234);
	EXPECT_EQ(sl.flags, 4194560u);
	EXPECT_EQ(sl.flags & PF_KTHREAD, 0u);
	EXPECT_EQ(sl.starttime, 1u);
	// The session is the field after the process group.
	const char *line = "9 (sh) S 5 6 7 34816 6 4194304 0 0 0 0 0 0 0 0 20 "
	    "0 1 0 42 1 1\n";
	ASSERT_TRUE(parse_stat(line, strlen(line), &sl));
	EXPECT_EQ(sl.pgid, 6);
	EXPECT_EQ(sl.sid, 7);
	EXPECT_EQ(sl.starttime, 42u);
}

TEST(ParseStat, Malformed)
{
	stat_line sl;
	for (const char *bad : {"", "1 (x", "1 (x) S", "1 (x) S 5", "1 (x) S a 5",
	    "1 (x)", "1 (x) S  ", "1 (x) S 5 6", "1 x) S 5 6",
	    "1 (x) S 5 6 0 0", "1 (x) S 5 6 0 0 0 x"})
		EXPECT_FALSE(parse_stat(bad, strlen(bad), &sl)) << bad;
	// A length that stops before the start time must be honoured.
	const char *s = "2 (kthreadd) S 0 0 0 0 -1 2129984 0 0 0 0 0 0 0 0 20 0 "
	    "1 0 42 0 0";
	EXPECT_FALSE(parse_stat(s, strlen(s) - 7, &sl));
	ASSERT_TRUE(parse_stat(s, strlen(s), &sl));
	EXPECT_EQ(sl.ppid, 0);
	EXPECT_EQ(sl.flags & PF_KTHREAD, PF_KTHREAD);
	ASSERT_TRUE(parse_stat(s, strlen(s) - 4, &sl)) << "cut after it";
	EXPECT_EQ(sl.flags, 2129984u);
	EXPECT_EQ(sl.starttime, 42u);
}

struct Mapping {
	int prot;
	bool file;
	bool deleted_suffix;
	std::string path;
};

std::vector<Mapping> parse_fixture_maps()
{
	std::string s = fixture("maps.txt");
	std::vector<Mapping> out;
	std::istringstream in(s);
	std::string line;
	while (std::getline(in, line)) {
		maps_line ml;
		EXPECT_TRUE(parse_maps_line(line.data(), line.size(), &ml)) << line;
		out.push_back({ml.protection, maps_is_file(&ml),
		    has_deleted_suffix(ml.path, ml.pathlen),
		    std::string(ml.path, ml.pathlen)});
	}
	return out;
}

TEST(ParseMaps, FilesAndMemory)
{
	std::vector<Mapping> m = parse_fixture_maps();
	ASSERT_EQ(m.size(), 14u);
	const int R = KVME_PROT_READ, W = KVME_PROT_WRITE, X = KVME_PROT_EXEC;
	// Files on disk.
	EXPECT_EQ(m[0].prot, R);
	EXPECT_TRUE(m[0].file);
	EXPECT_EQ(m[0].path, "/usr/bin/sleep");
	EXPECT_EQ(m[1].prot, R | X);
	EXPECT_TRUE(m[4].file);
	EXPECT_TRUE(m[4].deleted_suffix);
	EXPECT_EQ(m[9].path, "/opt/my app/lib with spaces.so");
	EXPECT_TRUE(m[9].file);
	EXPECT_FALSE(m[9].deleted_suffix);
	EXPECT_TRUE(m[10].file);		// deleted, but not executable
	EXPECT_EQ(m[10].prot, R);
	EXPECT_TRUE(m[13].file);		// a real file on a tmpfs
	// Memory that the kernel names like a deleted file, and the rest.
	EXPECT_EQ(m[2].prot, R | W);
	for (int i : {2, 3, 5, 6, 7, 8, 11, 12})
		EXPECT_FALSE(m[i].file) << m[i].path;
	EXPECT_EQ(m[3].path, "");
	EXPECT_EQ(m[12].prot, X);
}

TEST(ParseMaps, Malformed)
{
	maps_line ml;
	for (const char *bad : {"", "7f-8f", "7f-8f r-", "7f-8f r-xp 0 fd:01",
	    "7f-8f r-xp 0 fd:01 12x /lib", "7f-8f r-xp 0 fd:01 -1 /lib",
	    "7f-8f r-xp 0 FD:01 12 /lib"})
		EXPECT_FALSE(parse_maps_line(bad, strlen(bad), &ml)) << bad;
	const char *ok = "7f-8f r-xp 0 fd:01 12";
	ASSERT_TRUE(parse_maps_line(ok, strlen(ok), &ml));
	EXPECT_EQ(ml.inode, 12u);
	EXPECT_EQ(ml.pathlen, 0u);
	EXPECT_FALSE(maps_is_file(&ml));
}

TEST(ParseMountinfo, MountPointTypeSourceAndDevice)
{
	struct {
		const char *line;
		bool ok;
		const char *path, *fstype, *from;
		unsigned int major, minor;
	} cases[] = {
		{ "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw",
		  true, "/mnt2", "ext3", "/dev/root", 98, 0 },
		// No optional field; the kernel's escapes of blank, tab,
		// newline and backslash in the mount point and the source.
		{ "80 25 0:52 / /home/u/a\\040b\\011c\\012d\\134e rw,nosuid - "
		  "fuse.sshfs u@h:/a\\040b rw,user_id=1000",
		  true, "/home/u/a b\tc\nd\\e", "fuse.sshfs", "u@h:/a b", 0, 52 },
		{ "81 25 0:53 / /run/x rw shared:9 master:2 - nfs4 h:/ rw",
		  true, "/run/x", "nfs4", "h:/", 0, 53 },
		// A type without a source.
		{ "82 25 0:54 / /y rw - tmpfs", true, "/y", "tmpfs", "", 0, 54 },
		{ "1 2 0:1 / /x rw", false, "", "", "", 0, 0 },	// no separator
		{ "1 2 0:1 / /x rw -", false, "", "", "", 0, 0 },	// no type
		{ "1 2 x / /x rw - ext4 s rw", false, "", "", "", 0, 0 },
		{ "", false, "", "", "", 0, 0 },
	};
	for (const auto &c : cases) {
		mount_line ml;
		ASSERT_EQ(parse_mountinfo_line(c.line, strlen(c.line), &ml),
		    c.ok) << c.line;
		if (!c.ok)
			continue;
		EXPECT_EQ(std::string(ml.path), c.path);
		EXPECT_EQ(std::string(ml.fstype), c.fstype);
		EXPECT_EQ(std::string(ml.from), c.from);
		EXPECT_EQ(ml.dev, (uint64_t)makedev(c.major, c.minor));
	}
}

TEST(HexDigit, LowercaseAlwaysUppercaseWhenAsked)
{
	const char *digits = "0123456789abcdef", *upper = "ABCDEF";
	for (int i = 0; i < 16; i++) {
		EXPECT_EQ(hex_digit(digits[i], false), i) << digits[i];
		EXPECT_EQ(hex_digit(digits[i], true), i) << digits[i];
	}
	for (int i = 0; i < 6; i++) {
		EXPECT_EQ(hex_digit(upper[i], false), -1) << upper[i];
		EXPECT_EQ(hex_digit(upper[i], true), 10 + i) << upper[i];
	}
	for (char c : {'/', ':', '@', '`', 'g', 'G', 'x', ' ', '\0', '\xff'}) {
		EXPECT_EQ(hex_digit(c, false), -1) << (int)c;
		EXPECT_EQ(hex_digit(c, true), -1) << (int)c;
	}
}

TEST(DeletedSuffix, OnlyAtTheEnd)
{
	EXPECT_TRUE(has_deleted_suffix("/x (deleted)", 12));
	EXPECT_FALSE(has_deleted_suffix("/x (deleted)/y", 14));
	EXPECT_FALSE(has_deleted_suffix("(deleted)", 9));
	EXPECT_FALSE(has_deleted_suffix("/x (deleted)", 11));
}

// Queries on this process.

std::string own_exe()
{
	char buf[4096];
	ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf));
	return std::string(buf, n > 0 ? (size_t)n : 0);
}

// The record of pid in a fresh list, as the walk would hand it on; only
// the id is set when the process is not listed.
kinfo_proc listed(struct procstat *ps, pid_t pid)
{
	kinfo_proc r;
	memset(&r, 0, sizeof(r));
	r.ki_pid = pid;
	unsigned int n = 0;
	kinfo_proc *l = procstat_getprocs(ps, KERN_PROC_PROC, 0, &n);
	for (unsigned int i = 0; l != nullptr && i < n; i++)
		if (l[i].ki_pid == pid)
			r = l[i];
	procstat_freeprocs(ps, l);
	return r;
}

// Holds a forked child until the parent has listed it.
struct pipe_pair {
	int fd[2];
	pipe_pair() { EXPECT_EQ(pipe(fd), 0); }
	~pipe_pair() { close(fd[0]); close(fd[1]); }
	void wait_for_parent() { char c; close(fd[1]); (void)!read(fd[0], &c, 1); }
	void release() { close(fd[1]); fd[1] = -1; }
};

class LinuxBackend : public ::testing::Test {
protected:
	void SetUp() override
	{
		ps = procstat_open_sysctl();
		ASSERT_NE(ps, nullptr);
	}
	void TearDown() override
	{
		procstat_close(ps);
	}
	struct procstat *ps = nullptr;
};

TEST_F(LinuxBackend, PathQueryStoresAsMuchAsFits)
{
	std::string exe = own_exe();
	kinfo_proc self = listed(ps, getpid());
	std::vector<char> buf(exe.size() + 1, 'x');
	size_t len = buf.size();
	ASSERT_EQ(proc_query(ps, KERN_PROC_PATHNAME, &self, buf.data(), &len),
	    0);
	EXPECT_EQ(len, exe.size() + 1);
	EXPECT_STREQ(buf.data(), exe.c_str());

	len = exe.size();		// one byte short: no room for the NUL
	std::fill(buf.begin(), buf.end(), 'x');
	errno = 0;
	EXPECT_EQ(proc_query(ps, KERN_PROC_PATHNAME, &self, buf.data(), &len),
	    -1);
	EXPECT_EQ(errno, ENOMEM);
	EXPECT_EQ(len, exe.size());
	EXPECT_EQ(std::string(buf.data(), len), exe);
	EXPECT_EQ(buf[len], 'x') << "nothing stored past the offered length";
}

TEST_F(LinuxBackend, ArgumentQuery)
{
	std::string cmdline;
	{
		std::ifstream f("/proc/self/cmdline");
		std::stringstream ss;
		ss << f.rdbuf();
		cmdline = ss.str();
	}
	char buf[1024];
	size_t len = sizeof(buf);
	kinfo_proc self = listed(ps, getpid());
	ASSERT_EQ(proc_query(ps, KERN_PROC_ARGS, &self, buf, &len), 0);
	EXPECT_EQ(std::string(buf, len), cmdline.substr(0, sizeof(buf)));

	len = 3;
	EXPECT_EQ(proc_query(ps, KERN_PROC_ARGS, &self, buf, &len), -1);
	EXPECT_EQ(errno, ENOMEM);
	EXPECT_EQ(len, 3u);
	EXPECT_EQ(std::string(buf, 3), cmdline.substr(0, 3));
	len = cmdline.size();		// exactly full
	ASSERT_EQ(proc_query(ps, KERN_PROC_ARGS, &self, buf, &len), 0);
	EXPECT_EQ(len, cmdline.size());
}

// Each way of reading a file of ten bytes, into a buffer of size bytes
// followed by a guard: what comes back, and that nothing is stored past
// the buffer.
TEST_F(LinuxBackend, ReadProcFileBounds)
{
	char dir[] = "/tmp/swreadXXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	int dfd = open(dir, O_RDONLY | O_DIRECTORY);
	ASSERT_GE(dfd, 0);
	int fd = openat(dfd, "ten", O_WRONLY | O_CREAT, 0600);
	ASSERT_EQ(write(fd, "0123456789", 10), 10);
	close(fd);
	struct {
		int how;
		size_t size;
		ssize_t got;
	} cases[] = {
		{READ_ONCE, 16, 10}, {READ_ONCE, 4, 4},
		{READ_TO_END, 16, 10}, {READ_TO_END, 10, 10},
		{READ_TO_END, 4, 4}, {READ_ONE_MORE, 16, 10},
		{READ_ONE_MORE, 10, 10}, {READ_ONE_MORE, 9, 10},
		{READ_ONE_MORE, 4, 5}, {READ_ONCE | READ_CLOSE_SOON, 16, 10},
		{READ_TO_END, 0, 0},
	};
	for (const auto &c : cases) {
		char buf[17];
		memset(buf, 'x', sizeof(buf));
		EXPECT_EQ(read_proc_file(ps, dfd, "ten", buf, c.size, c.how),
		    c.got) << c.how << " " << c.size;
		size_t stored = c.size < 10 ? c.size : 10;
		EXPECT_EQ(std::string(buf, stored),
		    std::string("0123456789", stored)) << c.how << " " << c.size;
		EXPECT_EQ(buf[c.size], 'x') << c.how << " " << c.size;
	}
	errno = 0;
	char buf[4];
	EXPECT_EQ(read_proc_file(ps, dfd, "none", buf, sizeof(buf), READ_ONCE),
	    -1);
	EXPECT_EQ(errno, ENOENT) << "the caller says what a missing file means";
	unlinkat(dfd, "ten", 0);
	close(dfd);
	rmdir(dir);

	errno = ENOENT;
	EXPECT_EQ(gone_if_missing(), -1);
	EXPECT_EQ(errno, ESRCH);
	errno = EACCES;
	EXPECT_EQ(gone_if_missing(), -1);
	EXPECT_EQ(errno, EACCES);
}

// A file that comes in two reads (a FIFO whose writer gives "abc", waits
// until it is read, then gives "def" and ends): one read has the first
// part, a read to the end both.
TEST_F(LinuxBackend, ReadProcFileOnceOrToTheEnd)
{
	char dir[] = "/tmp/swfifoXXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	std::string fifo = std::string(dir) + "/fifo";
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	int dfd = open(dir, O_RDONLY | O_DIRECTORY);
	ASSERT_GE(dfd, 0);
	for (int how : {READ_ONCE, READ_TO_END}) {
		// Kept open, so that the writer always has a reader.
		int keep = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
		ASSERT_GE(keep, 0);
		pid_t writer = fork();
		if (writer == 0) {
			int fd = open(fifo.c_str(), O_WRONLY);
			int left = 1;
			if (fd == -1 || write(fd, "abc", 3) != 3)
				_exit(1);
			while (ioctl(fd, FIONREAD, &left) == 0 && left > 0)
				sched_yield();
			_exit(left == 0 && write(fd, "def", 3) == 3 ? 0 : 1);
		}
		ASSERT_GT(writer, 0);
		char buf[16];
		ssize_t n = read_proc_file(ps, dfd, "fifo", buf, sizeof(buf), how);
		int st;
		ASSERT_EQ(waitpid(writer, &st, 0), writer);
		EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
		EXPECT_EQ(std::string(buf, n > 0 ? (size_t)n : 0),
		    how == READ_ONCE ? "abc" : "abcdef");
		char rest[8];
		EXPECT_EQ(read(keep, rest, sizeof(rest)), how == READ_ONCE ? 3 : 0);
		close(keep);
	}
	close(dfd);
	unlink(fifo.c_str());
	rmdir(dir);
}

TEST_F(LinuxBackend, GoneAndThreadlessProcesses)
{
	char buf[1024];
	size_t len = sizeof(buf);
	size_t argslen = sizeof(buf);
	kinfo_proc self = listed(ps, getpid());
	EXPECT_EQ(proc_probe(ps, &self, buf, &argslen), 0);
	EXPECT_GT(argslen, 0u) << "the probe hands over the arguments it read";
	pipe_pair sync;
	pid_t child = fork();
	if (child == 0) {
		sync.wait_for_parent();
		_exit(0);
	}
	ASSERT_GT(child, 0);
	kinfo_proc kid = listed(ps, child);
	sync.release();
	// A zombie has no executable any more: that is not a deleted file.
	for (int i = 0; i < 200; i++) {
		char state[64];
		snprintf(state, sizeof(state), "/proc/%d/stat", (int)child);
		std::ifstream f(state);
		std::string s;
		std::getline(f, s);
		if (s.find(") Z") != std::string::npos)
			break;
		usleep(10000);
	}
	errno = 0;
	EXPECT_EQ(proc_query(ps, KERN_PROC_PATHNAME, &kid, buf, &len), -1);
	EXPECT_NE(errno, ENOENT);
	// kill() would still find it; it has exited all the same.
	ASSERT_EQ(kill(child, 0), 0);
	errno = 0;
	EXPECT_EQ(proc_probe(ps, &kid, nullptr, &argslen), -1);
	EXPECT_EQ(errno, ESRCH);
	waitpid(child, nullptr, 0);
	len = sizeof(buf);
	EXPECT_EQ(proc_query(ps, KERN_PROC_PATHNAME, &kid, buf, &len), -1);
	EXPECT_NE(errno, ENOENT) << "a vanished process is not stale";
	EXPECT_EQ(proc_query(ps, KERN_PROC_ARGS, &kid, buf, &len), -1);
	EXPECT_EQ(proc_probe(ps, &kid, nullptr, &argslen), -1);
	EXPECT_EQ(errno, ESRCH);
	EXPECT_EQ(jail_getid("anything"), -1);
}

TEST_F(LinuxBackend, ProbeFindsTheProgramStartedSince)
{
	// Listed while it runs this program, the child then starts another:
	// the probe says so, once, and the record gets the new name, with
	// the arguments of the program it names.
	if (access("/bin/sleep", X_OK) != 0)
		GTEST_SKIP() << "no /bin/sleep to start";
	pipe_pair sync;
	pid_t child = fork();
	if (child == 0) {
		sync.wait_for_parent();
		execl("/bin/sleep", "sleep", "60", (char *)nullptr);
		_exit(127);
	}
	ASSERT_GT(child, 0);
	kinfo_proc kid = listed(ps, child);
	const std::string before = kid.ki_comm;
	ASSERT_NE(before, "sleep");
	char buf[1024];
	size_t len = sizeof(buf);
	EXPECT_EQ(proc_probe(ps, &kid, buf, &len), 0) << "still " << before;
	EXPECT_EQ(kid.ki_comm, before);
	sync.release();
	char comm[64] = "";
	for (int i = 0; i < 500 && strcmp(comm, "sleep\n") != 0; i++) {
		usleep(10000);
		std::string path = "/proc/" + std::to_string(child) + "/comm";
		std::ifstream f(path);
		f.getline(comm, sizeof(comm) - 1);
		strcat(comm, "\n");
	}
	ASSERT_STREQ(comm, "sleep\n");
	len = sizeof(buf);
	EXPECT_EQ(proc_probe(ps, &kid, buf, &len), PROBE_NEW_PROGRAM);
	EXPECT_STREQ(kid.ki_comm, "sleep");
	EXPECT_EQ(std::string(buf, len), std::string("sleep\0" "60\0", 9));
	len = sizeof(buf);
	EXPECT_EQ(proc_probe(ps, &kid, nullptr, &len), 0) << "told once";
	kill(child, SIGKILL);
	waitpid(child, nullptr, 0);
	EXPECT_EQ(proc_probe(ps, &kid, nullptr, &len), -1);
	EXPECT_EQ(errno, ESRCH);
}

// In a PID namespace of its own, process 1 lists process 2, which exits;
// another process is then made to take id 2.  The record of the first
// must not describe the second.  Returns 0 when it does not, 77 when the
// id could not be had, else the number of the step that failed.
int reuse_an_id()
{
	if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
	    mount("proc", "/proc", "proc", 0, nullptr) != 0)
		return 77;
	pid_t a = fork();
	if (a == 0)
		for (;;)
			pause();
	struct procstat *ps = procstat_open_sysctl();
	if (ps == nullptr)
		return 1;
	kinfo_proc ka = listed(ps, a);
	char buf[256];
	size_t len;
	if (ka.ki_starttime == 0)
		return 2;
	kill(a, SIGKILL);
	waitpid(a, nullptr, 0);
	usleep(30000);		// the start time counts in clock ticks
	FILE *f = fopen("/proc/sys/kernel/ns_last_pid", "w");
	if (f == nullptr || fprintf(f, "%d", (int)a - 1) < 0 || fclose(f) != 0)
		return 77;
	pid_t b = fork();
	if (b == 0)
		for (;;)
			pause();
	int rc = 0;
	len = sizeof(buf);
	if (b != a)
		rc = 77;
	else if (proc_probe(ps, &ka, buf, &len) != -1 || errno != ESRCH)
		rc = 3;
	else if (len != 0)
		rc = 4;
	kinfo_proc kb = listed(ps, b);
	len = sizeof(buf);
	if (rc == 0 && proc_probe(ps, &kb, buf, &len) != 0)
		rc = 5;
	kill(b, SIGKILL);
	procstat_close(ps);
	return rc;
}

TEST_F(LinuxBackend, ReusedIdIsNotTheProcessListed)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root for a PID namespace";
	pid_t child = fork();
	if (child == 0) {
		if (unshare(CLONE_NEWPID | CLONE_NEWNS) != 0)
			_exit(77);
		pid_t init = fork();
		if (init == 0)
			_exit(reuse_an_id());
		int st;
		waitpid(init, &st, 0);
		_exit(WIFEXITED(st) ? WEXITSTATUS(st) : 99);
	}
	int st;
	ASSERT_EQ(waitpid(child, &st, 0), child);
	ASSERT_TRUE(WIFEXITED(st));
	if (WEXITSTATUS(st) == 77)
		GTEST_SKIP() << "no PID namespace or ns_last_pid to be had";
	EXPECT_EQ(WEXITSTATUS(st), 0) << "the step that failed";
}

// The root and the start of processes: this one, a chroot's and one of
// another PID namespace.
TEST_F(LinuxBackend, RootAndStartOfAProcess)
{
	kinfo_proc self = listed(ps, getpid());
	char path[4096];
	ASSERT_EQ(proc_root_path(ps, &self, path, sizeof(path)), 0);
	EXPECT_STREQ(path, "/");
	int fd = proc_open_root(ps, &self);
	ASSERT_NE(fd, -1);
	struct stat a, b;
	ASSERT_EQ(fstat(fd, &a), 0);
	ASSERT_EQ(stat("/", &b), 0);
	EXPECT_EQ(a.st_ino, b.st_ino);
	close(fd);

	// A child started after this moment, by the clock.
	struct timespec before, start, after;
	clock_gettime(CLOCK_REALTIME, &before);
	pipe_pair hold;
	pid_t child = fork();
	if (child == 0) {
		hold.wait_for_parent();
		_exit(0);
	}
	kinfo_proc kid = listed(ps, child);
	ASSERT_EQ(proc_start_time(ps, &kid, &start), 0);
	clock_gettime(CLOCK_REALTIME, &after);
	// Start times count clock ticks (1/100 s): it may seem that early.
	EXPECT_GE(start.tv_sec * 100 + start.tv_nsec / 10000000,
	    before.tv_sec * 100 + before.tv_nsec / 10000000 - 1);
	EXPECT_LE(start.tv_sec, after.tv_sec);
	hold.release();
	waitpid(child, nullptr, 0);

	if (geteuid() != 0)
		GTEST_SKIP() << "needs root for chroot and a PID namespace";
	char dir[] = "/tmp/swchrootXXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	pipe_pair chrooted, ready;
	child = fork();
	if (child == 0) {
		char c = chroot(dir) == 0 ? 'y' : 'n';
		(void)!write(ready.fd[1], &c, 1);
		chrooted.wait_for_parent();
		_exit(0);
	}
	char c = 0;
	ASSERT_EQ(read(ready.fd[0], &c, 1), 1);
	ASSERT_EQ(c, 'y');
	kinfo_proc in = listed(ps, child);
	ASSERT_EQ(proc_root_path(ps, &in, path, sizeof(path)), 0);
	EXPECT_STREQ(path, dir);
	fd = proc_open_root(ps, &in);
	ASSERT_NE(fd, -1);
	ASSERT_EQ(fstat(fd, &a), 0);
	ASSERT_EQ(stat(dir, &b), 0);
	EXPECT_EQ(a.st_ino, b.st_ino);
	close(fd);
	chrooted.release();
	waitpid(child, nullptr, 0);
	rmdir(dir);

	// Another PID namespace: the ids of its files are not the list's.
	int ids[2];
	ASSERT_EQ(pipe(ids), 0);
	pipe_pair nested;
	child = fork();
	if (child == 0) {
		if (unshare(CLONE_NEWPID) != 0)
			_exit(77);
		pid_t init = fork();
		if (init == 0) {
			nested.wait_for_parent();
			_exit(0);
		}
		(void)!write(ids[1], &init, sizeof(init));
		nested.release();
		waitpid(init, nullptr, 0);
		_exit(0);
	}
	close(ids[1]);
	pid_t init = 0;
	if (read(ids[0], &init, sizeof(init)) != sizeof(init)) {
		waitpid(child, nullptr, 0);
		GTEST_SKIP() << "no PID namespace to be had";
	}
	close(ids[0]);
	kinfo_proc other = listed(ps, init);
	errno = 0;
	EXPECT_EQ(proc_open_root(ps, &other), -1);
	EXPECT_EQ(errno, EXDEV);
	nested.release();
	waitpid(child, nullptr, 0);
}

TEST_F(LinuxBackend, ListAndMapOfThisProcess)
{
	unsigned int count = 0;
	struct kinfo_proc *procs = procstat_getprocs(ps, KERN_PROC_PROC, 0,
	    &count);
	ASSERT_NE(procs, nullptr);
	struct kinfo_proc *me = nullptr;
	for (unsigned int i = 0; i < count; i++)
		if (procs[i].ki_pid == getpid())
			me = &procs[i];
	ASSERT_NE(me, nullptr);
	EXPECT_EQ(me->ki_ppid, getppid());
	EXPECT_EQ(me->ki_pgid, getpgrp());
	EXPECT_EQ(me->ki_uid, geteuid());
	EXPECT_EQ(me->ki_jid, 0);
	std::string exe = own_exe();
	EXPECT_EQ(exe.substr(exe.rfind('/') + 1).substr(0, 15),
	    std::string(me->ki_comm));

	// An executable mapping of a file that is then deleted, and one of
	// a memfd, which never had a name.
	char tmpl[] = "/tmp/swmapXXXXXX";
	int fd = mkstemp(tmpl);
	ASSERT_GE(fd, 0);
	ASSERT_EQ(ftruncate(fd, 4096), 0);
	void *file = mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE, fd, 0);
	ASSERT_NE(file, MAP_FAILED);
	close(fd);
	unlink(tmpl);
	int mfd = memfd_create("swtest", 0);
	ASSERT_GE(mfd, 0);
	ASSERT_EQ(ftruncate(mfd, 4096), 0);
	void *mem = mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_SHARED, mfd, 0);
	ASSERT_NE(mem, MAP_FAILED);
	close(mfd);

	unsigned int n = 0;
	struct kinfo_vmentry *map = procstat_getvmmap(ps, me, &n);
	ASSERT_NE(map, nullptr);
	int own = 0, nameless = 0;
	for (unsigned int i = 0; i < n; i++) {
		if ((map[i].kve_protection & KVME_PROT_EXEC) == 0)
			continue;
		if (map[i].kve_type == KVME_TYPE_VNODE && exe == map[i].kve_path)
			own++;
		if (map[i].kve_type == KVME_TYPE_VNODE && map[i].kve_path[0] == '\0')
			nameless++;
	}
	EXPECT_GE(own, 1);
	EXPECT_EQ(nameless, 1) << "only the deleted file, not the memfd";
	procstat_freevmmap(ps, map);
	munmap(file, 4096);
	munmap(mem, 4096);
	procstat_freeprocs(ps, procs);
}

// Lines of /proc/PID/cgroup as real systems write them.
TEST(CgroupService, RealWorldLines)
{
	const std::string id = "4b825dc642cb6eb9a060e54bf8d69288"
	    "fbee4904c4e1a0c3e6d8b0e9f5c2a1d7";
	struct {
		std::string text;
		int kind;
		const char *name;
	} cases[] = {
		{"0::/system.slice/nginx.service\n", SERVICE_UNIT,
		    "nginx.service"},
		{"0::/system.slice/system-postfix.slice/postfix@-.service\n",
		    SERVICE_UNIT, "postfix@-.service"},
		{"0::/system.slice/sshd.service/extra\n", SERVICE_UNIT,
		    "sshd.service"},
		{"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
		    "pipewire.service\n", SERVICE_USER_UNIT,
		    "user@1000.service/pipewire.service"},
		{"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
		    "dbus.service\n", SERVICE_USER_UNIT,
		    "user@1000.service/dbus.service"},
		{"0::/system.slice/dbus.service\n", SERVICE_UNIT,
		    "dbus.service"},
		// Only user@UID.service is a user's manager.
		{"0::/system.slice/user@x.service/a.service\n", SERVICE_UNIT,
		    "a.service"},
		{"0::/user.slice/user@.service/a.service\n", SERVICE_UNIT,
		    "a.service"},
		{"0::/user.slice/user-0.slice/user@0.service/session.slice/"
		    "a@b.service\n", SERVICE_USER_UNIT, "user@0.service/a@b.service"},
		{"0::/user.slice/user-1000.slice/user@1000.service/init.scope\n",
		    SERVICE_UNIT, "user@1000.service"},
		{"0::/user.slice/user-1000.slice/session-3.scope\n",
		    SERVICE_SESSION, "session-3.scope"},
		{"0::/system.slice/docker-" + id + ".scope\n",
		    SERVICE_CONTAINER, "4b825dc642cb"},
		{"0::/machine.slice/libpod-" + id + ".scope/container\n",
		    SERVICE_CONTAINER, "4b825dc642cb"},
		{"0::/machine.slice/libpod-conmon-" + id + ".scope\n",
		    SERVICE_NONE, ""},
		{"0::/kubepods.slice/kubepods-burstable.slice/kubepods-"
		    "burstable-pod1f2e.slice/cri-containerd-" + id + ".scope\n",
		    SERVICE_CONTAINER, "4b825dc642cb"},
		{"0::/kubepods.slice/kubepods-pod9.slice/crio-" + id +
		    ".scope\n", SERVICE_CONTAINER, "4b825dc642cb"},
		{"0::/kubepods/besteffort/pod7/" + id + "\n",
		    SERVICE_CONTAINER, "4b825dc642cb"},
		{"0::/docker/" + id + "\n", SERVICE_CONTAINER, "4b825dc642cb"},
		{"0::/docker-" + id.substr(1) + ".scope\n", SERVICE_NONE, ""},
		{"0::/lxc.payload.web/init.scope\n", SERVICE_CONTAINER, "web"},
		{"0::/machine.slice/machine-db\\x2d1.scope/payload\n",
		    SERVICE_MACHINE, "db-1"},
		{"0::/machine.slice/machine-db\\x2D1.scope\n", SERVICE_MACHINE,
		    "db-1"},
		{"0::/machine.slice/systemd-nspawn@web.service/payload/"
		    "system.slice/nginx.service\n", SERVICE_MACHINE, "web"},
		{"0::/\n", SERVICE_NONE, ""},
		{"0::/init.scope\n", SERVICE_NONE, ""},
		{"0::/system.slice\n", SERVICE_NONE, ""},
		{"0::/.service\n", SERVICE_NONE, ""},
		// Hybrid: the v2 line names nothing, the name=systemd line does.
		{"12:pids:/system.slice/cron.service\n"
		    "1:name=systemd:/system.slice/cron.service\n0::/\n",
		    SERVICE_UNIT, "cron.service"},
		{"9:name=systemd:/system.slice/cron.service\n8:pids:/\n"
		    "4:memory:/x/y.service\n0::/\n", SERVICE_UNIT, "cron.service"},
		// Only the name=systemd hierarchy counts of the v1 lines.
		{"4:memory:/system.slice/cron.service\n", SERVICE_NONE, ""},
		{"3:cpu,name=systemd:/a.service\n", SERVICE_UNIT, "a.service"},
		{"0::/system.slice/a.service\n1:name=systemd:/b.service\n",
		    SERVICE_UNIT, "a.service"},
		{"0::/system.slice/a:b.service", SERVICE_UNIT, "a:b.service"},
		{"", SERVICE_NONE, ""},
		{"garbage\n0:/x.service\n::\n", SERVICE_NONE, ""},
	};
	for (const auto &c : cases) {
		char buf[64] = "junk";
		EXPECT_EQ(cgroup_service(c.text.data(), c.text.size(), buf,
		    sizeof(buf)), c.kind) << c.text;
		EXPECT_STREQ(buf, c.name) << c.text;
	}
}

TEST(CgroupService, NamesAreCutToTheBuffer)
{
	const char *line = "0::/system.slice/a-very-long-name.service\n";
	char buf[8];
	EXPECT_EQ(cgroup_service(line, strlen(line), buf, sizeof(buf)),
	    SERVICE_UNIT);
	EXPECT_STREQ(buf, "a-very-");
	// An escape that is cut is not undone, and no NUL is made.
	const char *esc = "0::/machine-a\\x00b\\x2.scope\n";
	char big[32];
	EXPECT_EQ(cgroup_service(esc, strlen(esc), big, sizeof(big)),
	    SERVICE_MACHINE);
	EXPECT_STREQ(big, "a\\x00b\\x2");
}

TEST(CgroupService, ThisProcess)
{
	// The query reads the file of the process listed; whatever this
	// machine's cgroups, it agrees with the parser on the same text.
	struct procstat *ps = procstat_open_sysctl();
	ASSERT_NE(ps, nullptr);
	kinfo_proc self = listed(ps, getpid());
	ASSERT_NE(self.ki_starttime, 0u);
	const kinfo_proc *me = &self;
	std::ifstream f("/proc/self/cgroup");
	std::stringstream ss;
	ss << f.rdbuf();
	std::string text = ss.str();
	char want[256], got[256];
	int kind = cgroup_service(text.data(), text.size(), want, sizeof(want));
	EXPECT_EQ(proc_service(ps, me, got, sizeof(got)), kind);
	EXPECT_STREQ(got, want);
	char root[16] = "x";
	EXPECT_EQ(proc_jail_root(ps, me, root, sizeof(root)), 0);
	EXPECT_STREQ(root, "");
	procstat_close(ps);
}

// The memory map, asked of the kernel and read from the text.

// Whether the kernel answers PROCMAP_QUERY (Linux 6.11 and later).
bool kernel_has_query()
{
	uint64_t q[13] = {sizeof(q), 0x10};	// size, covering or next
	int fd = open("/proc/self/maps", O_RDONLY);
	int r = ioctl(fd, _IOC(_IOC_READ | _IOC_WRITE, 'f', 17, sizeof(q)), q);
	int err = errno;
	close(fd);
	return r == 0 || (err != ENOTTY && err != EINVAL);
}

// The executable file entries of a map, one text each, in order.
std::vector<std::string> exec_files(struct procstat *ps, kinfo_proc *kp)
{
	std::vector<std::string> out;
	unsigned int n = 0;
	kinfo_vmentry *map = procstat_getvmmap(ps, kp, &n);
	EXPECT_NE(map, nullptr);
	for (unsigned int i = 0; map != nullptr && i < n; i++) {
		if ((map[i].kve_protection & KVME_PROT_EXEC) == 0 ||
		    map[i].kve_type != KVME_TYPE_VNODE)
			continue;
		char head[128];
		snprintf(head, sizeof(head), "%d %d %llx %llu ",
		    map[i].kve_protection, map[i].kve_status,
		    (unsigned long long)map[i].kve_vn_fsid,
		    (unsigned long long)map[i].kve_vn_fileid);
		out.push_back(head + std::string(map[i].kve_path));
	}
	procstat_freevmmap(ps, map);
	return out;
}

bool count_mapping(struct procstat *, void *ctx, const maps_line *)
{
	++*(size_t *)ctx;
	return true;
}

// The answer of the query on the process of kp, and the mappings seen.
int query_count(struct procstat *ps, kinfo_proc *kp, size_t *n)
{
	*n = 0;
	EXPECT_EQ(select_process(ps, kp), 0);
	return query_exec_mappings(ps, count_mapping, n);
}

// A file of 4096 bytes, mapped executable; its inode.
unsigned long long map_file(const std::string &path, void **at)
{
	int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0700);
	EXPECT_GE(fd, 0) << path;
	EXPECT_EQ(ftruncate(fd, 4096), 0);
	struct stat st;
	EXPECT_EQ(fstat(fd, &st), 0);
	*at = mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE, fd, 0);
	EXPECT_NE(*at, MAP_FAILED);
	close(fd);
	return st.st_ino;
}

TEST_F(LinuxBackend, QueryAndTextGiveTheSameMap)
{
	char tmpl[] = "/tmp/swmapsXXXXXX";
	ASSERT_NE(mkdtemp(tmpl), nullptr);
	std::string dir = tmpl;
	struct { const char *name; bool remove, named; } files[] = {
		{"gone", true, false},
		{"looks (deleted)", false, true},
		{"new\nline", true, false},
		{"new\nline2 (deleted)", false, true},
		{"back\\012slash (deleted)", false, true},
		{"replaced", false, false},
	};
	std::vector<void *> maps;
	std::vector<unsigned long long> inodes;
	for (auto &f : files) {
		void *at;
		inodes.push_back(map_file(dir + "/" + f.name, &at));
		maps.push_back(at);
		if (f.remove) {
			EXPECT_EQ(unlink((dir + "/" + f.name).c_str()), 0);
		}
	}
	void *at;
	map_file(dir + "/replacement", &at);
	maps.push_back(at);
	EXPECT_EQ(rename((dir + "/replacement").c_str(),
	    (dir + "/replaced").c_str()), 0);
	int mfd = memfd_create("swtest", 0);
	ASSERT_EQ(ftruncate(mfd, 4096), 0);
	maps.push_back(mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_SHARED,
	    mfd, 0));
	close(mfd);

	kinfo_proc self = listed(ps, getpid());
	size_t n;
	int answer = query_count(ps, &self, &n);
	if (kernel_has_query()) {
		EXPECT_EQ(answer, QUERY_DONE) << "the query path is taken";
		EXPECT_GE(n, 8u);
	} else
		EXPECT_EQ(answer, QUERY_USE_TEXT);
	EXPECT_EQ(ps->maps_text, !kernel_has_query());
	std::vector<std::string> queried = exec_files(ps, &self);
	struct procstat *text = procstat_open_sysctl();
	ASSERT_NE(text, nullptr);
	text->maps_text = true;
	std::vector<std::string> read = exec_files(text, &self);
	procstat_close(text);
	EXPECT_EQ(queried, read);

	// What each file comes to: named as the maps text writes it, or not.
	for (size_t i = 0; i < inodes.size(); i++) {
		std::string want = files[i].named ? dir + "/" + files[i].name : "";
		size_t nl = want.find('\n');
		if (nl != std::string::npos)
			want.replace(nl, 1, "\\012");
		int seen = 0;
		for (const std::string &e : queried) {
			std::string ino = " " + std::to_string(inodes[i]) + " ";
			size_t at = e.find(ino);
			if (at == std::string::npos || e.find(' ') >= at)
				continue;
			seen++;
			EXPECT_EQ(e.substr(at + ino.size()), want) << files[i].name;
		}
		EXPECT_EQ(seen, 1) << files[i].name;
	}
	for (void *m : maps)
		munmap(m, 4096);
	for (auto &f : files)
		unlink((dir + "/" + f.name).c_str());
	rmdir(dir.c_str());
}

// count pages of fd mapped executable in a region reserved for them:
// packed one against the next, or each after a page of other memory.
struct exec_pages {
	char *base;
	size_t size;
	exec_pages(int fd, size_t count, bool packed)
	{
		size_t step = packed ? 4096 : 2 * 4096;
		size = count * step;
		base = (char *)mmap(nullptr, size, PROT_NONE,
		    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
		EXPECT_NE(base, MAP_FAILED);
		for (size_t i = 0; i < count; i++)
			EXPECT_NE(mmap(base + i * step, 4096, PROT_READ | PROT_EXEC,
			    MAP_PRIVATE | MAP_FIXED, fd, 0), MAP_FAILED);
	}
	~exec_pages() { munmap(base, size); }
};

// The executable entries of a map that have no name, of the given inode.
size_t nameless_of(struct procstat *ps, kinfo_proc *kp, unsigned long long ino)
{
	size_t n = 0;
	std::string tail = " " + std::to_string(ino) + " ";
	for (const std::string &e : exec_files(ps, kp))
		n += e.size() >= tail.size() &&
		    e.compare(e.size() - tail.size(), tail.size(), tail) == 0;
	return n;
}

TEST_F(LinuxBackend, ManyExecutableMappingsAreReadFromTheText)
{
	if (!kernel_has_query())
		GTEST_SKIP() << "the kernel has no PROCMAP_QUERY";
	kinfo_proc self = listed(ps, getpid());
	size_t n0, n;
	ASSERT_EQ(query_count(ps, &self, &n0), QUERY_DONE);
	ASSERT_LT(n0, (size_t)PACKED_MAX);
	char tmpl[] = "/tmp/swmanyXXXXXX";
	int fd = mkstemp(tmpl);
	ASSERT_GE(fd, 0);
	ASSERT_EQ(ftruncate(fd, 4096), 0);
	struct stat st;
	ASSERT_EQ(fstat(fd, &st), 0);
	unlink(tmpl);
	{
		// Exactly as many as are asked about one by one, then one more.
		exec_pages spread(fd, QUERIED_MAX - n0, false);
		EXPECT_EQ(query_count(ps, &self, &n), QUERY_DONE);
		EXPECT_EQ(n, (size_t)QUERIED_MAX);
		EXPECT_EQ(nameless_of(ps, &self, st.st_ino), QUERIED_MAX - n0);
		exec_pages one(fd, 1, false);
		EXPECT_EQ(query_count(ps, &self, &n), QUERY_USE_TEXT);
		EXPECT_FALSE(ps->maps_text) << "for this process only";
		EXPECT_EQ(nameless_of(ps, &self, st.st_ino),
		    QUERIED_MAX - n0 + 1) << "every mapping, from the text";
	}
	{
		// Packed: the first follows no other, the next PACKED_MAX do.
		exec_pages packed(fd, PACKED_MAX + 1, true);
		EXPECT_EQ(query_count(ps, &self, &n), QUERY_DONE);
		EXPECT_EQ(nameless_of(ps, &self, st.st_ino), PACKED_MAX + 1u);
		exec_pages more(fd, PACKED_MAX + 2, true);
		EXPECT_EQ(query_count(ps, &self, &n), QUERY_USE_TEXT);
		EXPECT_EQ(nameless_of(ps, &self, st.st_ino),
		    2 * PACKED_MAX + 3u);
	}
	close(fd);
}

TEST_F(LinuxBackend, KernelWithoutTheQuery)
{
	// A folder whose "maps" is a plain file, which knows no ioctl: the
	// handle reads the text, from then on.
	char tmpl[] = "/tmp/swnoqXXXXXX";
	ASSERT_NE(mkdtemp(tmpl), nullptr);
	std::string maps = std::string(tmpl) + "/maps";
	{
		std::ofstream f(maps);
		f << fixture("maps.txt");
	}
	int dir = open(tmpl, O_PATH | O_DIRECTORY | O_CLOEXEC);
	ASSERT_GE(dir, 0);
	kinfo_proc kp;
	memset(&kp, 0, sizeof(kp));
	kp.ki_pid = 1 << 30;
	kp.ki_starttime = 1;
	ps->pid = kp.ki_pid;
	ps->starttime = kp.ki_starttime;
	ps->piddir = ps->filedir = dir;
	std::vector<std::string> got = exec_files(ps, &kp);
	EXPECT_TRUE(ps->maps_text);
	EXPECT_EQ(got, (std::vector<std::string>{
	    "5 1 fd01 1311830 /usr/bin/sleep",
	    "5 1 fd01 1320087 ",
	    "5 1 fd01 1400001 /opt/my app/lib with spaces.so",
	    "5 1 2a 77 "}));
	unlink(maps.c_str());
	rmdir(tmpl);
}

}  // namespace
