/* SPDX-License-Identifier: BSD-2-Clause */
// The walk, the check and the report over a scripted platform: what real
// processes cannot show on demand (a process exiting at the wrong moment,
// kill failing for lack of permission, oversized paths and argument
// blocks, failing queries).

#include <errno.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lookup.h"
#include "mounts.h"
#include "procinfo.h"
#include "service.h"
#include "settings.h"
#include "walk.h"
#include "xo_c.h"

namespace {

struct FakeProc {
	pid_t pid = 100;
	pid_t ppid = 1;
	pid_t pgid = 100;
	uid_t uid = 0;
	int jid = 0;
	long flag = 0;
	std::string comm = "daemon";
	int path_errno = 0;		// the path query's failure, 0: success
	std::string path = "/usr/sbin/daemon";
	int probe_errno = 0;		// kill(pid, 0)'s failure, 0: alive
	int args_errno = 0;
	std::string args = std::string("daemon\0-f\0", 10);
	bool map_fails = false;
	int map_errno = EACCES;		// with map_fails
	std::vector<kinfo_vmentry> map;
	int service_kind = SERVICE_NONE;	// what proc_service says
	std::string service;
	// The names that the probes find, one each, the last one staying:
	// a process that started other programs after it was listed (the
	// queries above answer for the program it runs now).  None: the
	// name listed.
	std::vector<std::string> probe_comms;
};

std::vector<FakeProc> procs;
int list_errno;		// procstat_getprocs fails with this when set
const char *hidden;	// what proc_hidden says
std::string jail_root;	// what proc_jail_root says
const char *libdirs[2];	// what proc_library_dirs says, when [0] is set
struct FakeMount {
	std::string path, fstype;
	uint64_t dev;
};
std::vector<FakeMount> mounts;	// what proc_mounts lists
int mounts_errno;		// proc_mounts fails with this when set

// What the walk asked of the platform.  The walk runs in a child, so the
// counts live in memory shared with it.
struct Counts {
	int path_queries, args_queries, map_queries, maps_freed, probes;
	int service_queries, root_queries;
};
Counts *counts = static_cast<Counts *>(mmap(nullptr, sizeof(Counts),
    PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));

const FakeProc *find(pid_t pid)
{
	for (const FakeProc &p : procs)
		if (p.pid == pid)
			return &p;
	return nullptr;
}

// A mapping; a file's has valid attributes and an identity of its own
// unless one is given.
kinfo_vmentry vm(int type, int prot, const char *path, uint64_t dev = 0,
    uint64_t ino = 0, int status = KF_ATTR_VALID)
{
	static uint64_t next_ino = 1000000;
	kinfo_vmentry e;
	memset(&e, 0, sizeof(e));
	e.kve_type = type;
	e.kve_protection = prot;
	if (type == KVME_TYPE_VNODE) {
		e.kve_status = status;
		e.kve_vn_fsid = dev != 0 ? dev : 0xdead;
		e.kve_vn_fileid = ino != 0 ? ino : next_ino++;
	}
#ifdef __FreeBSD__
	snprintf(e.kve_path, sizeof(e.kve_path), "%s", path);
#else
	e.kve_path = path;		// the callers pass literals
#endif
	return e;
}

const int RX = KVME_PROT_READ | KVME_PROT_EXEC;

struct Result {
	int status;
	std::string out;
	std::string err;
};

// Runs the walk in a child, as the program would after start-up, with
// the given libxo options and operands; returns its exit status, standard
// output and standard error.
Result run_walk(std::vector<std::string> args, struct settings s = settings)
{
	int fds[2];
	FILE *errf = tmpfile();
	if (pipe(fds) != 0 || errf == nullptr)
		abort();
	fflush(stdout);
	pid_t child = fork();
	if (child == 0) {
		dup2(fds[1], 1);
		dup2(fileno(errf), 2);
		close(fds[0]);
		close(fds[1]);
		std::vector<char *> argv;
		argv.push_back(const_cast<char *>("stalewatch"));
		for (std::string &a : args)
			argv.push_back(&a[0]);
		argv.push_back(nullptr);
		settings = s;
		xo_set_flags(NULL, XOF_WARN | XOF_COLUMNS);
		int argc = xo_parse_args((int)argv.size() - 1, argv.data());
		int first = 1;
		// The operands follow the libxo options, which are gone now.
		_exit(walk_processes(argc, argv.data(), first));
	}
	close(fds[1]);
	std::string out;
	char buf[4096];
	ssize_t n;
	while ((n = read(fds[0], buf, sizeof(buf))) > 0)
		out.append(buf, (size_t)n);
	close(fds[0]);
	int status;
	waitpid(child, &status, 0);
	std::string err;
	rewind(errf);
	while ((n = (ssize_t)fread(buf, 1, sizeof(buf), errf)) > 0)
		err.append(buf, (size_t)n);
	fclose(errf);
	return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, err};
}

struct settings plain()
{
	struct settings s = settings;
	s.termwidth = 0;
	return s;
}

class FakePlatform : public ::testing::Test {
protected:
	void SetUp() override
	{
		procs.clear();
		list_errno = 0;
		hidden = nullptr;
		jail_root = "/nonexistent";
		libdirs[0] = nullptr;
		mounts.clear();
		mounts_errno = 0;
		memset(counts, 0, sizeof(*counts));
	}
};

const char *HEADER = "  PID   JID USER         COMMAND      WHY ARGUMENTS\n";

TEST_F(FakePlatform, DeletedExecutableGivesOneBinRowWithFirstArgument)
{
	FakeProc p;
	p.path_errno = ENOENT;
	p.map.push_back(vm(KVME_TYPE_VNODE, RX, ""));
	procs.push_back(p);
	Result r = run_walk({});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, std::string(HEADER) +
	    "  100     0 root         daemon       bin daemon\n");
	EXPECT_EQ(counts->map_queries, 0) << "libraries are not examined";
}

TEST_F(FakePlatform, ProcessThatExitedBeforeTheCheckGivesNoRow)
{
	FakeProc p;
	p.path_errno = ENOENT;
	p.probe_errno = ESRCH;
	procs.push_back(p);
	Result r = run_walk({});
	EXPECT_EQ(r.status, 0) << "it was still selected";
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(counts->args_queries, 0);
}

TEST_F(FakePlatform, KillWithoutPermissionStillReports)
{
	FakeProc p;
	p.path_errno = ENOENT;
	p.probe_errno = EPERM;
	p.uid = 4294967294u;		// no user entry, shown as its number
	procs.push_back(p);
	Result r = run_walk({"--libxo=json"});
	EXPECT_EQ(r.out, "{\"__version\": \"2\", \"stalewatch\": {\"process\": "
	    "[{\"pid\":100,\"jid\":0,\"uid\":4294967294,\"user\":\"4294967294\",\"command\":"
	    "\"daemon\",\"why\":\"bin\",\"arguments\":\"daemon\"}]}}\n");
}

TEST_F(FakePlatform, UserIdsWithoutNamesAreShownWhole)
{
	FakeProc p;
	p.path_errno = ENOENT;
	p.uid = 3000000000u;		// past 2^31: still unsigned
	procs.push_back(p);
	struct settings s = plain();
	s.no_header = true;
	Result r = run_walk({}, s);
	EXPECT_EQ(r.out, "  100     0 3000000000   daemon       bin daemon\n");
	r = run_walk({"--libxo=json"}, s);
	EXPECT_NE(r.out.find("\"uid\":3000000000,\"user\":\"3000000000\""),
	    std::string::npos) << r.out;
}

TEST_F(FakePlatform, QueryErrorsGiveNoRowAndRefusalsOneWarning)
{
	// A refused query is counted and named after the report, so that an
	// unprivileged run is not read as an all-clear; other errors are
	// silent.  The exit status does not change.
	const char *one = "stalewatch: 1 process not examined: "
	    "permission denied\n";
	struct {
		int path_errno;
		bool map_fails;		// with EACCES
		const char *err;
	} cases[] = {
		{EACCES, false, one},
		{EPERM, false, one},
		{ESRCH, false, ""},
		{EINVAL, false, ""},
		{0, true, one},
	};
	for (const auto &c : cases) {
		procs.clear();
		FakeProc p;
		p.path_errno = c.path_errno;
		p.map_fails = c.map_fails;
		p.map.push_back(vm(KVME_TYPE_VNODE, RX, ""));
		procs.push_back(p);
		for (const char *style : {"--libxo=text", "--libxo=json"}) {
			Result r = run_walk({style});
			EXPECT_EQ(r.status, 0);
			EXPECT_EQ(r.out.find("daemon"), std::string::npos)
			    << strerror(c.path_errno) << r.out;
			EXPECT_EQ(r.err, c.err) << strerror(c.path_errno);
		}
	}
	procs.clear();
	for (pid_t pid : {100, 101, 102}) {
		FakeProc p;
		p.pid = pid;
		p.path_errno = pid == 101 ? 0 : EACCES;
		procs.push_back(p);
	}
	EXPECT_EQ(run_walk({}).err, "stalewatch: 2 processes not examined: "
	    "permission denied\n");
}

TEST_F(FakePlatform, ArgumentQueryFailureGivesEmptyArguments)
{
	FakeProc p;
	p.path_errno = ENOENT;
	p.args_errno = EACCES;
	procs.push_back(p);
	Result r = run_walk({"--libxo=xml"});
	EXPECT_EQ(r.out, "<stalewatch version=\"2\"><process><pid>100</pid>"
	    "<jid>0</jid><uid>0</uid><user>root</user><command>daemon</command>"
	    "<why>bin</why><arguments></arguments></process></stalewatch>");
}

TEST_F(FakePlatform, OversizedArgumentsAndPathAreCutInsideTheBuffer)
{
	FakeProc a;
	a.pid = 101;
	a.path_errno = ENOENT;
	a.args = std::string(3000, 'A');	// no NUL anywhere
	FakeProc b;
	b.pid = 102;
	b.path = "/" + std::string(2000, 'p');
	b.map.push_back(vm(KVME_TYPE_VNODE, RX, ""));
	// The cut falls inside a character: back to the one before.
	std::string e_acute = "\xc3\xa9", many;
	for (int i = 0; i < 1500; i++)
		many += e_acute;
	FakeProc c = a;
	c.pid = 103;
	c.args = many;
	FakeProc d = b;
	d.pid = 104;
	d.path = "/p" + many;
	// A first string of exactly the bytes kept, with more after it: not
	// cut, so its own incomplete end is escaped.
	FakeProc e = a;
	e.pid = 105;
	e.args = std::string(1021, 'a') + "\xe6\x97" + std::string(1, '\0') +
	    std::string(100, 'b');
	// A result that fits is no cut, with or without its NUL.
	FakeProc f = a;
	f.pid = 106;
	f.args = "short\xe6";
	procs = {a, b, c, d, e, f};
	Result r = run_walk({}, plain());
	EXPECT_EQ(r.out, std::string(HEADER) +
	    "  101     0 root         daemon       bin " +
	    std::string(1023, 'A') + "\n" +
	    "  102     0 root         daemon       .so " +
	    b.path.substr(0, 1023) + "\n" +
	    "  103     0 root         daemon       bin " +
	    many.substr(0, 1022) + "\n" +
	    "  104     0 root         daemon       .so " +
	    d.path.substr(0, 1022) + "\n" +
	    "  105     0 root         daemon       bin " +
	    std::string(1021, 'a') + "\\346\\227\n" +
	    "  106     0 root         daemon       bin short\\346\n");
}

TEST_F(FakePlatform, MapScan)
{
	struct Case {
		const char *what;
		std::vector<kinfo_vmentry> map;
		bool map_fails;
		bool reported;
	} cases[] = {
		{"intact", {vm(KVME_TYPE_VNODE, RX, "/lib/libc.so.7")}, false, false},
		{"deleted, not executable",
		    {vm(KVME_TYPE_VNODE, KVME_PROT_READ, "")}, false, false},
		{"anonymous executable", {vm(KVME_TYPE_DEFAULT, RX, "")}, false,
		    false},
		{"shared memory", {vm(KVME_TYPE_SWAP, RX, "")}, false, false},
		{"deleted library",
		    {vm(KVME_TYPE_VNODE, RX, "/lib/a.so"), vm(KVME_TYPE_VNODE, RX, "")},
		    false, true},
		{"several deleted",
		    {vm(KVME_TYPE_VNODE, RX, ""), vm(KVME_TYPE_VNODE, RX, ""),
		    vm(KVME_TYPE_VNODE, KVME_PROT_EXEC, "")}, false, true},
		{"map query fails", {}, true, false},
		{"empty map", {}, false, false},
	};
	for (const Case &c : cases) {
		SetUp();
		FakeProc p;
		p.map = c.map;
		p.map_fails = c.map_fails;
		procs.push_back(p);
		struct settings s = plain();
		s.no_header = true;
		Result r = run_walk({}, s);
		EXPECT_EQ(r.out, c.reported ?
		    "  100     0 root         daemon       .so /usr/sbin/daemon\n" :
		    "") << c.what;
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(counts->maps_freed, c.map_fails ? 0 : 1) << c.what;
	}
}

TEST_F(FakePlatform, NamesLostByTheKernelCacheAreConfirmed)
{
	// Where the kernel names mapped files from a cache, a nameless one
	// may still exist: the executable itself, or a library still in a
	// library directory.  Only a file found nowhere gives a row, and a
	// failing query gives none.
	char dir[] = "/tmp/swlibdirXXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	std::string exe = std::string(dir) + "/daemon";
	std::string lib = std::string(dir) + "/libpresent.so.1";
	for (const std::string &f : {exe, lib})
		fclose(fopen(f.c_str(), "w"));
	struct stat xs, ls;
	ASSERT_EQ(stat(exe.c_str(), &xs), 0);
	ASSERT_EQ(stat(lib.c_str(), &ls), 0);
	const uint64_t xdev = xs.st_dev, xino = xs.st_ino;
	const uint64_t ldev = ls.st_dev, lino = ls.st_ino;
	struct Case {
		const char *what;
		std::vector<kinfo_vmentry> map;
		int path_errno, map_errno;
		const char *row, *err;
	} cases[] = {
		{"the executable's own text", {vm(KVME_TYPE_VNODE, RX, "", xdev, xino)},
		    0, 0, nullptr, ""},
		{"a library still in a library directory",
		    {vm(KVME_TYPE_VNODE, RX, "", ldev, lino)}, 0, 0, nullptr, ""},
		{"a library found nowhere", {vm(KVME_TYPE_VNODE, RX, "", ldev, lino),
		    vm(KVME_TYPE_VNODE, RX, "", ldev, lino + 1)}, 0, 0, ".so", ""},
		{"attributes not valid",
		    {vm(KVME_TYPE_VNODE, RX, "", ldev, lino + 1, 0)}, 0, 0, nullptr, ""},
		{"map refused", {}, 0, EPERM, nullptr,
		    "stalewatch: 1 process not examined: permission denied\n"},
		{"map busy in exec", {}, 0, EBUSY, nullptr,
		    "stalewatch: 1 process not examined: starting a program\n"},
		{"path cut", {vm(KVME_TYPE_VNODE, RX, "", ldev, lino + 1)}, ENOMEM, 0,
		    ".so", ""},
		{"forced unmount", {vm(KVME_TYPE_VNODE, RX, "")}, EBADF, 0, nullptr, ""},
	};
	for (const Case &c : cases) {
		SetUp();
		libdirs[0] = dir;
		FakeProc p;
		p.path = exe;
		p.path_errno = c.path_errno;
		p.map = c.map;
		p.map_fails = c.map_errno != 0;
		p.map_errno = c.map_errno;
		procs.push_back(p);
		struct settings s = plain();
		s.no_header = true;
		Result r = run_walk({}, s);
		EXPECT_EQ(r.out, c.row == nullptr ? "" :
		    "  100     0 root         daemon       .so " +
		    exe.substr(0, c.path_errno == ENOMEM ? 10 : exe.size()) + "\n")
		    << c.what;
		EXPECT_EQ(r.err, c.err) << c.what;
	}
	unlink(exe.c_str());
	unlink(lib.c_str());
	rmdir(dir);
}

TEST_F(FakePlatform, MapIsReleasedAndSkippedWithOnlyBinaries)
{
	FakeProc p;
	p.map.push_back(vm(KVME_TYPE_VNODE, RX, ""));
	procs = {p, p};
	procs[1].pid = 101;
	struct settings s = plain();
	s.no_header = true;
	Result r = run_walk({}, s);
	EXPECT_EQ(r.out, "  100     0 root         daemon       .so /usr/sbin/daemon\n"
	    "  101     0 root         daemon       .so /usr/sbin/daemon\n");
	EXPECT_EQ(counts->map_queries, 2);
	EXPECT_EQ(counts->maps_freed, 2);
	memset(counts, 0, sizeof(*counts));
	s.only_binaries = true;
	r = run_walk({}, s);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(counts->path_queries, 2);
	EXPECT_EQ(counts->map_queries, 0);
}

TEST_F(FakePlatform, FiltersRunBeforeAnyQuery)
{
	// Process 1 is a real program like any other; the kernel's own
	// processes are left out by their flag, not by their parent.
	FakeProc init;
	init.pid = 1;
	init.ppid = 0;
	init.path_errno = ENOENT;
	FakeProc kernel = init;
	kernel.pid = 2;
	kernel.flag = P_KPROC;
	FakeProc jailed;
	jailed.pid = 200;
	jailed.jid = 3;
	jailed.path_errno = ENOENT;
	FakeProc other;
	other.pid = 300;
	other.uid = 1001;
	other.path_errno = ENOENT;
	procs = {init, kernel, jailed, other};
	struct settings s = plain();
	s.no_header = true;
	Result r = run_walk({}, s);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(counts->path_queries, 3) << "none for the kernel's own";
	EXPECT_EQ(r.out, "    1     0 root         daemon       bin daemon\n"
	    "  200     3 root         daemon       bin daemon\n"
	    "  300     0 1001         daemon       bin daemon\n");
	s.filter_jail = true;
	s.filter_jid = 3;
	r = run_walk({}, s);
	EXPECT_EQ(r.out, "  200     3 root         daemon       bin daemon\n");
	s.filter_jail = false;
	s.filter_user = true;
	s.filter_uid = 1001;
	r = run_walk({}, s);
	EXPECT_EQ(r.out, "  300     0 1001         daemon       bin daemon\n");
	s.filter_uid = 7;
	r = run_walk({}, s);
	EXPECT_EQ(r.status, 0) << "filtered processes still count as selected";
	EXPECT_EQ(r.out, "");
}

TEST_F(FakePlatform, RowOnlyForTheProcessListed)
{
	// The id was taken by another process after the listing: its files
	// say stale, but the probe says the listed one is gone.
	FakeProc bin;
	bin.path_errno = ENOENT;
	bin.probe_errno = ESRCH;
	FakeProc so;
	so.pid = 101;
	so.map.push_back(vm(KVME_TYPE_VNODE, RX, ""));
	so.probe_errno = ESRCH;
	procs = {bin, so};
	Result r = run_walk({"--libxo=json"});
	EXPECT_EQ(r.out.find("\"pid\""), std::string::npos) << r.out;
	EXPECT_EQ(counts->probes, 2);
	EXPECT_EQ(counts->args_queries, 0);
	procs[0].probe_errno = procs[1].probe_errno = EPERM;
	r = run_walk({"--libxo=json"});
	EXPECT_NE(r.out.find("\"pid\":100"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("\"pid\":101"), std::string::npos) << r.out;
}

TEST_F(FakePlatform, RowDescribesTheProgramRunningNow)
{
	// Listed as "python3", the process has started xsleep since, whose
	// executable is gone (or, for a library row, whose library is): the
	// probe finds the new name, and the process is examined again as the
	// program it runs now.  A program started after the argument query
	// is found by the probe that confirms it.  One that keeps starting
	// programs gives no row.
	struct Case {
		const char *what;
		int path_errno;
		std::vector<std::string> probe_comms;
		const char *row;	// nullptr: none
		int path_queries, probes;
	} cases[] = {
		{"exec before the check", ENOENT, {"xsleep"},
		    "xsleep       bin xsleep", 2, 3},
		{"exec after the argument query", ENOENT, {"python3", "xsleep"},
		    "xsleep       bin xsleep", 2, 4},
		{"exec before the library check", 0, {"xsleep"},
		    "xsleep       .so /usr/local/bin/xsleep", 2, 2},
		{"exec after exec", ENOENT, {"a", "b", "c", "d", "e", "f"},
		    nullptr, 3, 3},
		{"no exec", ENOENT, {}, "python3      bin xsleep", 1, 2},
	};
	for (const Case &c : cases) {
		SetUp();
		FakeProc p;
		p.comm = "python3";
		p.path_errno = c.path_errno;
		p.path = "/usr/local/bin/xsleep";
		p.args = std::string("xsleep\0", 7);
		if (c.path_errno == 0)
			p.map.push_back(vm(KVME_TYPE_VNODE, RX, ""));
		p.probe_comms = c.probe_comms;
		procs = {p};
		struct settings s = plain();
		s.no_header = true;
		Result r = run_walk({}, s);
		EXPECT_EQ(r.out, c.row == nullptr ? "" :
		    std::string("  100     0 root         ") + c.row + "\n")
		    << c.what;
		EXPECT_EQ(counts->path_queries, c.path_queries) << c.what;
		EXPECT_EQ(counts->probes, c.probes) << c.what;
		// Selected by the name it had: not the program it runs now.
		r = run_walk({"python3"}, s);
		EXPECT_EQ(r.status, 0) << c.what;
		EXPECT_EQ(r.out, c.row == nullptr || c.probe_comms.empty() ?
		    r.out : "") << c.what;
		r = run_walk({"100"}, s);
		EXPECT_EQ(r.out, c.row == nullptr ? "" :
		    std::string("  100     0 root         ") + c.row + "\n")
		    << c.what;
	}
}

TEST_F(FakePlatform, FilesThatMayNeverAnswerAreTakenAtTheKernelsWord)
{
	// The executable's path and the library directories lie on a file
	// system that may never answer: neither is looked up, so a mapping
	// without a name (here of the executable itself) cannot be confirmed
	// and counts as gone, as the kernel says; the warning names both.
	char dir[] = "/tmp/swhangXXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	std::string exe = std::string(dir) + "/daemon";
	fclose(fopen(exe.c_str(), "w"));
	struct stat xs;
	ASSERT_EQ(stat(exe.c_str(), &xs), 0);
	const std::string files = "(" + exe + ", " + dir + ")\n";
	struct Case {
		const char *what;
		std::vector<FakeMount> table;
		int err;
		bool row;
		std::string warnings;
	} cases[] = {
		{"nothing that may hang", {{"/", "ext4", 1}}, 0, false, ""},
		{"a FUSE mount", {{"/", "ext4", 1}, {dir, "fuse", 77}}, 0, true,
		    "stalewatch: 2 files not examined: on a file system that "
		    "may never answer " + files},
		{"NFS below", {{"/", "ext4", 1}, {"/tmp", "nfs4", 78}}, 0, true,
		    "stalewatch: 2 files not examined: on a file system that "
		    "may never answer " + files},
		{"no mount table", {}, EACCES, true,
		    "stalewatch: 2 files not examined: on a file system that "
		    "may never answer " + files + "stalewatch: files named by "
		    "processes were not looked up: the mount table cannot be "
		    "read: Permission denied\n"},
	};
	for (const Case &c : cases) {
		SetUp();
		libdirs[0] = dir;
		mounts = c.table;
		mounts_errno = c.err;
		FakeProc p;
		p.path = exe;
		p.map = {vm(KVME_TYPE_VNODE, RX, "", xs.st_dev, xs.st_ino)};
		procs = {p, p};		// noted once, for both
		procs[1].pid = 101;
		struct settings s = plain();
		s.no_header = true;
		Result r = run_walk({}, s);
		EXPECT_EQ(r.out, c.row ? "  100     0 root         daemon       "
		    ".so " + exe + "\n  101     0 root         daemon       "
		    ".so " + exe + "\n" : "") << c.what;
		EXPECT_EQ(r.err, c.warnings) << c.what;
	}
	unlink(exe.c_str());
	rmdir(dir);
}

TEST_F(FakePlatform, HiddenProcessesAreNamedAfterTheReport)
{
	FakeProc p;
	p.path_errno = EACCES;
	procs.push_back(p);
	hidden = "/proc is mounted with hidepid=2";
	for (const char *style : {"--libxo=text", "--libxo=json"}) {
		Result r = run_walk({style});
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, "stalewatch: 1 process not examined: "
		    "permission denied\nstalewatch: other users' processes "
		    "not examined: /proc is mounted with hidepid=2\n") << style;
	}
}

TEST_F(FakePlatform, OperandZeroIsALateUsageError)
{
	FakeProc a;
	a.pid = 10;
	a.path_errno = ENOENT;
	FakeProc b;
	b.pid = 20;
	b.path_errno = ENOENT;
	procs = {a, b};
	struct settings s = plain();
	s.no_header = true;
	Result r = run_walk({"10", "0"}, s);
	EXPECT_EQ(r.status, 1);
	// The row for process 10 was written before the walk reached the 0.
	EXPECT_EQ(r.out, "   10     0 root         daemon       bin daemon\n");
	r = run_walk({"10", "20", "0"}, s);
	EXPECT_EQ(r.status, 0) << "every record matched an earlier operand";
	procs.clear();
	r = run_walk({"0"}, s);
	EXPECT_EQ(r.status, 1) << "nothing selected, the 0 never examined";
	EXPECT_EQ(r.out, "");
}

TEST_F(FakePlatform, OperandZeroInJsonStillGivesAValidDocumentPrefix)
{
	FakeProc a;
	a.pid = 10;
	a.path_errno = ENOENT;
	procs = {a, a};
	procs[1].pid = 20;
	Result r = run_walk({"--libxo=json", "10", "0"}, plain());
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.out.find("\"pid\":10"), std::string::npos);
	EXPECT_NE(r.out.find("usage: "), std::string::npos);
}

TEST_F(FakePlatform, ProcessListFailure)
{
	list_errno = EACCES;
	Result r = run_walk({"--libxo=json"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out.find("process"), std::string::npos)
	    << "no document is opened";
}

TEST_F(FakePlatform, EmptyProcessList)
{
	Result r = run_walk({});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
}

// The report by service.

struct settings by_service()
{
	struct settings s = plain();
	s.services = true;
	return s;
}

FakeProc stale(pid_t pid, int kind, const char *service)
{
	FakeProc p;
	p.pid = pid;
	p.pgid = pid;
	p.path_errno = ENOENT;
	p.service_kind = kind;
	p.service = service;
	return p;
}

TEST_F(FakePlatform, ServicesGroupTheirStaleProcessesSortedByName)
{
	procs = {stale(30, SERVICE_UNIT, "web.service"),
	    stale(12, SERVICE_CONTAINER, "0123456789ab"),
	    stale(20, SERVICE_UNIT, "web.service"),
	    stale(40, SERVICE_NONE, ""),
	    stale(50, SERVICE_UNIT, "intact.service")};
	// Its library is gone: the row says both reasons.
	procs[2].path_errno = 0;
	procs[2].map.push_back(vm(KVME_TYPE_VNODE, RX, ""));
	procs[4].path_errno = 0;
	Result r = run_walk({}, by_service());
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out,
	    "SERVICE        JID PROCS WHY\n"
	    "-                0     1 bin\n"
	    "0123456789ab     0     1 bin\n"
	    "web.service      0     2 bin,.so\n");
	EXPECT_EQ(counts->service_queries, 4) << "only stale processes";
	r = run_walk({"--libxo=xml"}, by_service());
	EXPECT_EQ(r.out, "<stalewatch version=\"2\"><service><name>-</name>"
	    "<kind>none</kind><jid>0</jid><why>bin</why><pid>40</pid>"
	    "</service><service><name>0123456789ab</name><kind>container"
	    "</kind><jid>0</jid><why>bin</why><pid>12</pid></service>"
	    "<service><name>web.service</name><kind>unit</kind><jid>0</jid>"
	    "<why>bin,.so</why><pid>20</pid><pid>30</pid></service>"
	    "</stalewatch>");
	struct settings s = by_service();
	s.no_header = true;
	r = run_walk({"30", "40"}, s);
	EXPECT_EQ(r.out, "-               0     1 bin\n"
	    "web.service     0     1 bin\n") << "operands select first";
	procs[4].path_errno = ENOENT;
	r = run_walk({"--libxo=json", "50"}, plain());
	EXPECT_EQ(r.out.find("service"), std::string::npos)
	    << "without -s, the process report";
}

TEST_F(FakePlatform, ServiceNamesAreSafeAndCutToTheWidth)
{
	procs = {stale(10, SERVICE_UNIT, "a\nb.service"),
	    stale(11, SERVICE_MACHINE, "machine-with-a-long-name")};
	struct settings s = by_service();
	s.termwidth = 32;	// leaves 12 for the name
	Result r = run_walk({}, s);
	EXPECT_EQ(r.out, "SERVICE        JID PROCS WHY\n"
	    "a\\012b.servi     0     1 bin\n"
	    "machine-with     0     1 bin\n");
	r = run_walk({"--libxo=xml"}, s);
	EXPECT_NE(r.out.find("<name>a\\012b.service</name>"),
	    std::string::npos) << r.out;
	EXPECT_NE(r.out.find("<name>machine-with-a-long-name</name>"),
	    std::string::npos) << "only the text style cuts";
}

// A folder with the given files, as the root of a system.
std::string make_root(const std::vector<std::pair<std::string,
    std::string>> &files)
{
	char tmpl[] = "/tmp/swroot.XXXXXX";
	std::string root = mkdtemp(tmpl);
	for (const auto &f : files) {
		std::string path = root + f.first;
		for (size_t i = root.size() + 1; i < path.size(); i++)
			if (path[i] == '/')
				mkdir(path.substr(0, i).c_str(), 0755);
		if (f.second == "FIFO") {
			mkfifo(path.c_str(), 0644);
			continue;
		}
		FILE *out = fopen(path.c_str(), "w");
		fputs(f.second.c_str(), out);
		fclose(out);
	}
	return root;
}

TEST_F(FakePlatform, PidfilesNameTheServiceOfTheNearestAncestor)
{
	static const char *const rc_dirs[] = { RC_SCRIPT_DIRS };
	std::string rc = rc_dirs[0];
	jail_root = make_root({{"/var/run/webd.pid", "200\n"},
	    {"/var/run/pgsql/main.pid", "300"},
	    {rc + "/pgsql", "#!/bin/sh\n"},
	    {"/var/run/junk.pid", "201x\n"},
	    {"/var/run/fifo.pid", "FIFO"},
	    {"/var/run/a/b/deep.pid", "400\n"}});
	FakeProc master = stale(200, SERVICE_NONE, "");
	master.path_errno = 0;	// intact itself
	FakeProc worker = stale(201, SERVICE_NONE, "");
	worker.ppid = 200;
	FakeProc grandchild = stale(202, SERVICE_NONE, "");
	grandchild.ppid = 201;
	FakeProc db = stale(301, SERVICE_NONE, "");
	db.ppid = 300;
	FakeProc dbmaster = stale(300, SERVICE_NONE, "");
	dbmaster.path_errno = 0;
	FakeProc deep = stale(400, SERVICE_NONE, "");
	procs = {worker, master, grandchild, dbmaster, db, deep};
	Result r = run_walk({"--libxo=xml"}, by_service());
	EXPECT_EQ(r.out, "<stalewatch version=\"2\"><service><name>-</name>"
	    "<kind>none</kind><jid>0</jid><why>bin</why><pid>400</pid>"
	    "</service><service><name>pgsql</name><kind>rc</kind><jid>0</jid>"
	    "<why>bin</why><pid>301</pid></service><service><name>webd"
	    "</name><kind>rc</kind><jid>0</jid><why>bin</why><pid>201</pid>"
	    "<pid>202</pid></service></stalewatch>");
	EXPECT_EQ(counts->root_queries, 1) << "the pidfiles are read once";
	std::string rm = "rm -rf " + jail_root;
	EXPECT_EQ(system(rm.c_str()), 0);
}

TEST_F(FakePlatform, FullServiceTableLeavesProcessesOutWithAWarning)
{
	std::vector<std::string> names;
	for (int i = 0; i <= SERVICE_TABLE_MAX; i++)
		names.push_back("unit" + std::to_string(i) + ".service");
	for (int i = 0; i <= SERVICE_TABLE_MAX; i++)
		procs.push_back(stale(100 + i, SERVICE_UNIT, names[i].c_str()));
	struct settings s = by_service();
	s.no_header = true;
	Result r = run_walk({}, s);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'),
	    SERVICE_TABLE_MAX);
	EXPECT_EQ(r.out.find("unit1024.service"), std::string::npos);
	EXPECT_NE(r.err.find("1 process not reported"), std::string::npos)
	    << r.err;
}

// Which lookups could wait on a file system that may never answer, as
// the mount table says, read once; a table that cannot be read, or holds
// too many of them, makes every lookup one.  Each case runs in a child of
// its own, where the table is read afresh.
TEST(Mounts, LookupsThatMayHang)
{
	EXPECT_TRUE(fstype_may_hang("fuse"));
	EXPECT_TRUE(fstype_may_hang("fuse.sshfs"));
	EXPECT_TRUE(fstype_may_hang("fuseblk"));
	EXPECT_TRUE(fstype_may_hang("nfs4"));
	EXPECT_TRUE(fstype_may_hang("fusefs"));
	EXPECT_FALSE(fstype_may_hang("ext4"));
	EXPECT_FALSE(fstype_may_hang("fusectl"));
	EXPECT_FALSE(fstype_may_hang("tmpfs"));

	struct {
		std::vector<FakeMount> table;
		int err;
		const char *path;
		uint64_t dev;
		bool hangs;
		const char *warning;	// in the warnings, "" for none
	} cases[] = {
		{ {{"/", "ext4", 1}, {"/home/u/f", "fuse.x", 52}}, 0,
		  "/home/u/f/lib.so", 0, true, "" },
		{ {{"/", "ext4", 1}, {"/home/u/f", "fuse.x", 52}}, 0,
		  "/home/u/f", 0, true, "" },
		{ {{"/", "ext4", 1}, {"/home/u/f", "fuse.x", 52}}, 0,
		  "/home/u/fx/lib.so", 0, false, "" },
		{ {{"/", "ext4", 1}, {"/home/u/f", "fuse.x", 52}}, 0,
		  nullptr, 52, true, "" },
		{ {{"/", "ext4", 1}, {"/home/u/f", "fuse.x", 52}}, 0,
		  "/usr/lib/x.so", 1, false, "" },
		{ {{"/", "fuse", 7}}, 0, "/usr/lib/x.so", 1, true, "" },
		{ {}, EACCES, "/usr/lib/x.so", 1, true,
		  "the mount table cannot be read: Permission denied" },
		{ {}, 0, "/usr/lib/x.so", 1, false, "" },
	};
	for (const auto &c : cases) {
		mounts = c.table;
		mounts_errno = c.err;
		FILE *errf = tmpfile();
		ASSERT_NE(errf, nullptr);
		pid_t child = fork();
		if (child == 0) {
			dup2(fileno(errf), 2);
			bool hangs = lookup_may_hang(nullptr, c.path, c.dev);
			// Asked twice: the table is not read again.
			mounts_errno = 0;
			mounts.clear();
			if (lookup_may_hang(nullptr, c.path, c.dev) != hangs)
				_exit(3);
			mounts_warn();
			_exit(hangs ? 1 : 0);
		}
		int status;
		waitpid(child, &status, 0);
		std::string err(4096, '\0');
		rewind(errf);
		err.resize(fread(&err[0], 1, err.size(), errf));
		fclose(errf);
		ASSERT_TRUE(WIFEXITED(status));
		EXPECT_EQ(WEXITSTATUS(status), c.hangs ? 1 : 0)
		    << (c.path ? c.path : "(dev)");
		if (c.warning[0] != '\0')
			EXPECT_NE(err.find(c.warning), std::string::npos) << err;
		else
			EXPECT_EQ(err, "");
	}
	// More of them than are remembered: all may hang.
	mounts.clear();
	for (int i = 0; i <= HANGING_MOUNTS_MAX; i++)
		mounts.push_back({"/m/" + std::to_string(i), "fuse", 0});
	mounts_errno = 0;
	pid_t child = fork();
	if (child == 0)
		_exit(lookup_may_hang(nullptr, "/usr/lib/x.so", 1) ? 1 : 0);
	int status;
	waitpid(child, &status, 0);
	EXPECT_EQ(WEXITSTATUS(status), 1);
	mounts.clear();
}

// A file that a process names is looked up one folder at a time, none of
// them a symbolic link, which could lead anywhere whatever the path says.
TEST(Lookups, FollowNoLink)
{
	char dir[] = "/tmp/swlinksXXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	std::string d = dir;
	ASSERT_EQ(mkdir((d + "/real").c_str(), 0755), 0);
	fclose(fopen((d + "/real/lib.so").c_str(), "w"));
	ASSERT_EQ(symlink("real", (d + "/link").c_str()), 0);
	ASSERT_EQ(symlink("lib.so", (d + "/real/last").c_str()), 0);
	struct stat want, st;
	ASSERT_EQ(stat((d + "/real/lib.so").c_str(), &want), 0);
	mounts.clear();
	mounts_errno = 0;
	EXPECT_EQ(lookup_stat(nullptr, (d + "/real/lib.so").c_str(), 0, &st),
	    LOOKUP_DONE);
	EXPECT_EQ(st.st_ino, want.st_ino);
	EXPECT_EQ(lookup_stat(nullptr, (d + "//real///lib.so").c_str(), 0,
	    &st), LOOKUP_DONE);
	EXPECT_EQ(st.st_ino, want.st_ino);
	EXPECT_EQ(lookup_stat(nullptr, (d + "/link/lib.so").c_str(), 0, &st),
	    LOOKUP_FAILED);
	EXPECT_EQ(lookup_stat(nullptr, (d + "/real/../real/lib.so").c_str(),
	    0, &st), LOOKUP_FAILED);
	EXPECT_EQ(lookup_stat(nullptr, "real/lib.so", 0, &st), LOOKUP_FAILED);
	// The last one is not followed either: the link's own attributes.
	ASSERT_EQ(lookup_stat(nullptr, (d + "/real/last").c_str(), 0, &st),
	    LOOKUP_DONE);
	EXPECT_TRUE(S_ISLNK(st.st_mode));
	EXPECT_EQ(lookup_stat(nullptr, "/", 0, &st), LOOKUP_DONE);
	EXPECT_TRUE(S_ISDIR(st.st_mode));
	std::string rm = "rm -rf " + d;
	EXPECT_EQ(system(rm.c_str()), 0);
}

// The warning names the first few files not examined, each once, made
// safe to show.  Each case notes its files in a child of its own.
TEST(Lookups, WarningNamesTheFirstFiles)
{
	std::vector<std::string> many;
	for (int i = 0; i <= LOOKUP_NOTED_MAX; i++)
		many.push_back("/m/" + std::to_string(i));
	const std::string what = "not examined: on a file system that may "
	    "never answer (";
	struct {
		std::vector<std::string> noted;
		std::string warning;
	} cases[] = {
		{{}, ""},
		{{"/f/a.so"}, "stalewatch: 1 file " + what + "/f/a.so)\n"},
		{{"/f/a.so", "/f/b\033.so", "/f/a.so"}, "stalewatch: 2 files " +
		    what + "/f/a.so, /f/b\\033.so)\n"},
		{{"/a", "/b", "/c", "/d", "/a"}, "stalewatch: 4 files " + what +
		    "/a, /b, /c, ...)\n"},
		{many, "stalewatch: more than " +
		    std::to_string(LOOKUP_NOTED_MAX) + " files " + what +
		    "/m/0, /m/1, /m/2, ...)\n"},
	};
	for (const auto &c : cases) {
		FILE *errf = tmpfile();
		ASSERT_NE(errf, nullptr);
		pid_t child = fork();
		if (child == 0) {
			dup2(fileno(errf), 2);
			xo_set_program("stalewatch");
			for (const std::string &n : c.noted)
				lookup_note(n.c_str());
			lookup_warn();
			_exit(0);
		}
		waitpid(child, nullptr, 0);
		std::string err(4096, '\0');
		rewind(errf);
		err.resize(fread(&err[0], 1, err.size(), errf));
		fclose(errf);
		EXPECT_EQ(err, c.warning);
	}
}

}  // namespace

// The fake platform layer.

struct procstat {
	int unused;
};

static struct procstat the_handle;

struct procstat *procstat_open_sysctl(void)
{
	return &the_handle;
}

struct kinfo_proc *procstat_getprocs(struct procstat *, int what, int,
    unsigned int *count)
{
	if (list_errno != 0 || what != KERN_PROC_PROC) {
		errno = list_errno;
		return nullptr;
	}
	kinfo_proc *list = new kinfo_proc[procs.size() + 1];
	for (size_t i = 0; i < procs.size(); i++) {
		memset(&list[i], 0, sizeof(list[i]));
		list[i].ki_pid = procs[i].pid;
		list[i].ki_ppid = procs[i].ppid;
		list[i].ki_pgid = procs[i].pgid;
		list[i].ki_uid = procs[i].uid;
		list[i].ki_jid = procs[i].jid;
		list[i].ki_flag = procs[i].flag;
		snprintf(list[i].ki_comm, sizeof(list[i].ki_comm), "%s",
		    procs[i].comm.c_str());
	}
	*count = (unsigned int)procs.size();
	return list;
}

void procstat_freeprocs(struct procstat *, struct kinfo_proc *p)
{
	delete[] p;
}

struct kinfo_vmentry *procstat_getvmmap(struct procstat *,
    struct kinfo_proc *kp, unsigned int *count)
{
	counts->map_queries++;
	const FakeProc *p = find(kp->ki_pid);
	if (p == nullptr || p->map_fails) {
		errno = p == nullptr ? ESRCH : p->map_errno;
		return nullptr;
	}
	kinfo_vmentry *m = new kinfo_vmentry[p->map.size() + 1];
	std::copy(p->map.begin(), p->map.end(), m);
	*count = (unsigned int)p->map.size();
	return m;
}

void procstat_freevmmap(struct procstat *, struct kinfo_vmentry *m)
{
	counts->maps_freed++;
	delete[] m;
}

void procstat_close(struct procstat *)
{
}

int jail_getid(const char *)
{
	return -1;
}

int proc_mounts(struct procstat *, mount_fn fn, void *ctx)
{
	if (mounts_errno != 0) {
		errno = mounts_errno;
		return -1;
	}
	for (const FakeMount &m : mounts)
		fn(ctx, m.path.c_str(), m.fstype.c_str(), m.dev);
	return 0;
}

const char *proc_hidden(struct procstat *)
{
	return hidden;
}

const char *const *proc_library_dirs(struct procstat *)
{
	return libdirs[0] != nullptr ? libdirs : nullptr;
}

#if !defined(__FreeBSD__) && !defined(__APPLE__)
const char *getprogname(void)
{
	return "stalewatch";
}
#endif

// Stores text as the kernel's sysctl would: ENOMEM, with the length
// word saying how much was stored, when it does not fit.
static int store(const std::string &text, bool with_nul, char *buf,
    size_t *len)
{
	size_t need = text.size() + (with_nul ? 1 : 0);
	if (need > *len) {
		memcpy(buf, text.data(), *len);
		errno = ENOMEM;
		return -1;
	}
	memcpy(buf, text.data(), text.size());
	if (with_nul)
		buf[text.size()] = '\0';
	*len = need;
	return 0;
}

int proc_query(struct procstat *, int what, const struct kinfo_proc *kp,
    char *buf, size_t *len)
{
	const FakeProc *p = find(kp->ki_pid);
	if (p == nullptr) {
		errno = ESRCH;
		return -1;
	}
	if (what == KERN_PROC_PATHNAME) {
		counts->path_queries++;
		if (p->path_errno == ENOMEM) {
			// A path too long for the buffer: as much as was room for.
			*len = std::min<size_t>(*len, 10);
			memcpy(buf, p->path.data(), *len);
			errno = ENOMEM;
			return -1;
		}
		if (p->path_errno != 0) {
			errno = p->path_errno;
			return -1;
		}
		return store(p->path, true, buf, len);
	}
	counts->args_queries++;
	if (p->args_errno != 0) {
		// A failing query may leave junk behind.
		memset(buf, 'J', *len);
		errno = p->args_errno;
		return -1;
	}
	return store(p->args, false, buf, len);
}

int proc_service(struct procstat *, const struct kinfo_proc *kp, char *buf,
    size_t size)
{
	const FakeProc *p = find(kp->ki_pid);
	counts->service_queries++;
	snprintf(buf, size, "%s", p != nullptr ? p->service.c_str() : "");
	return p != nullptr ? p->service_kind : SERVICE_NONE;
}

int proc_jail_root(struct procstat *, const struct kinfo_proc *, char *buf,
    size_t size)
{
	counts->root_queries++;
	snprintf(buf, size, "%s", jail_root.c_str());
	return 0;
}

int proc_probe(struct procstat *, struct kinfo_proc *kp, char *,
    size_t *argslen)
{
	// The probes of each process so far, in the child that walks.
	static std::vector<std::pair<pid_t, size_t>> probed;
	const FakeProc *p = find(kp->ki_pid);
	counts->probes++;
	*argslen = 0;
	if (p == nullptr || p->probe_errno != 0) {
		errno = p == nullptr ? ESRCH : p->probe_errno;
		return -1;
	}
	if (p->probe_comms.empty())
		return 0;
	auto it = std::find_if(probed.begin(), probed.end(),
	    [kp](const std::pair<pid_t, size_t> &pr) {
		return pr.first == kp->ki_pid;
	    });
	if (it == probed.end())
		it = probed.insert(probed.end(), {kp->ki_pid, 0});
	size_t n = it->second++;
	const std::string &now = p->probe_comms[std::min(n,
	    p->probe_comms.size() - 1)];
	if (now == kp->ki_comm)
		return 0;
	snprintf(kp->ki_comm, sizeof(kp->ki_comm), "%s", now.c_str());
	return PROBE_NEW_PROGRAM;
}
