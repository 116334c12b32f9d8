/* SPDX-License-Identifier: BSD-2-Clause */
// The walk, the check and the report over a scripted platform: what real
// processes cannot show on demand (a process exiting at the wrong moment,
// kill failing for lack of permission, oversized paths and argument
// blocks, failing queries).

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/sysmacros.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mounts.h"
#include "procinfo.h"
#include "pidfile.h"
#include "rcscript.h"
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
	pid_t sid = 50;			// its session
	std::string root;		// its root, when not jail_root
	time_t start = 0;		// when it started, 0: not known
};

std::vector<FakeProc> procs;
int list_errno;		// procstat_getprocs fails with this when set
const char *hidden;	// what proc_hidden says
std::string jail_root;	// the root of a process that names none
int open_errno;		// procstat_open_sysctl fails with this when set
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
		open_errno = 0;
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
	    "permission denied (pid 100)\n";
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
	    "permission denied (pids 100 and 102)\n");
	// The first three are named, in the order of the list.
	for (pid_t pid : {103, 104, 105, 106}) {
		FakeProc p;
		p.pid = pid;
		p.path_errno = EPERM;
		procs.push_back(p);
	}
	EXPECT_EQ(run_walk({}).err, "stalewatch: 6 processes not examined: "
	    "permission denied (pids 100, 102, 103 and 3 more)\n");
	procs.resize(4);
	EXPECT_EQ(run_walk({}).err, "stalewatch: 3 processes not examined: "
	    "permission denied (pids 100, 102 and 103)\n");
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
	// An inode of neither file, however the file system numbers them.
	const uint64_t gone = std::max(xino, lino) + 1;
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
		    vm(KVME_TYPE_VNODE, RX, "", ldev, gone)}, 0, 0, ".so", ""},
		{"attributes not valid",
		    {vm(KVME_TYPE_VNODE, RX, "", ldev, gone, 0)}, 0, 0, nullptr, ""},
		{"map refused", {}, 0, EPERM, nullptr,
		    "stalewatch: 1 process not examined: permission denied "
		    "(pid 100)\n"},
		{"map busy in exec", {}, 0, EBUSY, nullptr,
		    "stalewatch: 1 process not examined: starting a program "
		    "(pid 100)\n"},
		{"path cut", {vm(KVME_TYPE_VNODE, RX, "", ldev, gone)}, ENOMEM, 0,
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
		    "permission denied (pid 100)\nstalewatch: other users' processes "
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
	    "</kind><jid>0</jid><why>bin</why><root>/</root><pid>12</pid>"
	    "</service>"
	    "<service><name>web.service</name><kind>unit</kind><jid>0</jid>"
	    "<why>bin,.so</why><root>/</root><pid>20</pid><pid>30</pid>"
	    "</service></stalewatch>");
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
	// Widths are display columns: a wide character takes two, an
	// accented letter one, whatever its bytes.
	procs = {stale(20, SERVICE_UNIT, "caf\xc3\xa9.service"),
	    stale(21, SERVICE_UNIT, "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"
	    ".service"), stale(22, SERVICE_UNIT, "x.service")};
	s.termwidth = 0;
	r = run_walk({}, s);
	EXPECT_EQ(r.out, "SERVICE          JID PROCS WHY\n"
	    "caf\xc3\xa9.service       0     1 bin\n"
	    "x.service          0     1 bin\n"
	    "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.service     0     1 bin\n");
	s.termwidth = 32;
	r = run_walk({}, s);
	EXPECT_EQ(r.out, "SERVICE        JID PROCS WHY\n"
	    "caf\xc3\xa9.service     0     1 bin\n"
	    "x.service        0     1 bin\n"
	    "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.servi     0     1 bin\n");
}

// A folder with the given files, as the root of a system.
std::string make_root(const std::vector<std::pair<std::string,
    std::string>> &files)
{
	char tmpl[] = "/tmp/swroot.XXXXXX";
	std::string root = mkdtemp(tmpl);
	chmod(root.c_str(), 0755);
	for (const auto &f : files) {
		std::string path = root + f.first;
		for (size_t i = root.size() + 1; i < path.size(); i++)
			if (path[i] == '/' && mkdir(path.substr(0, i).c_str(),
			    0755) == 0)
				chmod(path.substr(0, i).c_str(), 0755);
		if (f.second == "DIR") {
			mkdir(path.c_str(), 0755);
			chmod(path.c_str(), 0755);
			continue;
		}
		if (f.second == "FIFO") {
			mkfifo(path.c_str(), 0644);
			continue;
		}
		if (f.second.compare(0, 3, "-> ") == 0) {
			if (symlink(f.second.c_str() + 3, path.c_str()) != 0)
				abort();
			continue;
		}
		FILE *out = fopen(path.c_str(), "w");
		fputs(f.second.c_str(), out);
		fclose(out);
		// A script can be run.
		chmod(path.c_str(), f.second.compare(0, 2, "#!") == 0 ? 0755 :
		    0644);
	}
	return root;
}

void remove_tree(const std::string &path)
{
	std::string rm = "rm -rf '" + path + "'";
	if (system(rm.c_str()) != 0)
		abort();
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
	std::string root = "<root>" + jail_root + "</root>";
	EXPECT_EQ(r.out, "<stalewatch version=\"2\"><service><name>-</name>"
	    "<kind>none</kind><jid>0</jid><why>bin</why>" + root +
	    "<pid>400</pid></service><service><name>pgsql</name><kind>rc"
	    "</kind><jid>0</jid><why>bin</why>" + root + "<pid>301</pid>"
	    "</service><service><name>webd</name><kind>rc</kind><jid>0</jid>"
	    "<why>bin</why>" + root + "<pid>201</pid><pid>202</pid>"
	    "</service></stalewatch>");
	remove_tree(jail_root);
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
	EXPECT_EQ(r.err, "stalewatch: 1 process not reported: the report holds "
	    "at most 1024 services and 65536 processes (pid 1124)\n");
}

// The pidfiles that scripts name, as the shell would read their words.
TEST(Scripts, PidfilesTheyName)
{
	auto named = [](const std::string &text) {
		std::vector<std::string> got;
		script_pidfiles(text.data(), text.size(),
		    [](void *ctx, const char *path) {
			    auto *v = static_cast<std::vector<std::string> *>(ctx);
			    if (std::find(v->begin(), v->end(), path) == v->end())
				    v->push_back(path);
		    }, &got);
		return got;
	};
	auto fixture = [](const char *name) {
		std::ifstream f(std::string(FIXTURES) + "/init.d/" + name);
		std::stringstream ss;
		ss << f.rdbuf();
		return ss.str();
	};
	using V = std::vector<std::string>;
	// Debian's own init scripts.
	EXPECT_EQ(named(fixture("ssh")), V{"/run/sshd.pid"});
	EXPECT_EQ(named(fixture("cron")), V{"/var/run/crond.pid"});
	struct {
		const char *text;
		V paths;
	} cases[] = {
		// FreeBSD's rc.subr scripts.
		{"name=\"syslogd\"\nrcvar=\"syslogd_enable\"\n"
		    "pidfile=\"/var/run/syslog.pid\"\n", {"/var/run/syslog.pid"}},
		{"name=\"sshd\"\ncommand=\"/usr/sbin/${name}\"\n"
		    "pidfile=\"/var/run/${name}.pid\"\n", {"/var/run/sshd.pid"}},
		{"pidfile=${bar_pidfile:-\"/var/run/bar.pid\"}\n",
		    {"/var/run/bar.pid"}},
		{": ${foo_pidfile:=/var/run/foo.pid}\npidfile=$foo_pidfile\n",
		    {"/var/run/foo.pid"}},
		{"foo_pidfile=/a.pid\npidfile=${foo_pidfile-/b.pid}\n",
		    {"/a.pid"}},
		{"foo_pidfile=\npidfile=${foo_pidfile:-/b.pid}\n", {"/b.pid"}},
		// Debian's and other sysv scripts.
		{"NAME=rsyslogd\nPIDFILE=\"/run/$NAME.pid\"\n",
		    {"/run/rsyslogd.pid"}},
		{"\tstart-stop-daemon --start --pidfile=/run/x.pid --exec /x\n",
		    {"/run/x.pid"}},
		{"PIDFILE=/run/q.pid\nstart_daemon --pidfile \"$PIDFILE\" q\n",
		    {"/run/q.pid"}},
		{"d=/run/d; export PIDFILE=$d/d.pid; x --pidfile $d/e.pid\n",
		    {"/run/d/d.pid", "/run/d/e.pid"}},
		{"PIDFILE='/run/$literal.pid'\n", {"/run/$literal.pid"}},
		{"PIDFILE=/run/a\\ b.pid\n", {"/run/a b.pid"}},
		{"case $1 in start) PIDFILE=/run/c.pid;; esac\n",
		    {"/run/c.pid"}},
		// What names none.
		{"# PIDFILE=/run/no.pid\n", {}},
		{"echo x # --pidfile /run/no.pid\n", {}},
		{"PIDFILE=$RUNDIR/y.pid\n", {}},
		{"PIDFILE=$(cat /etc/x)\n", {}},
		{"PIDFILE=`cat /etc/x`\n", {}},
		{"PIDFILE=/run/$1.pid\n", {}},
		{"PIDFILE=run/z.pid\n", {}},
		{"PIDFILE=\"/run/a.pid\n", {}},
		{"pidfile=${x#/run}\n", {}},
		{"MYPIDFILE=/run/m.pid\npidfile_x=/run/n.pid\n", {}},
		{"echo --pidfiles /run/p.pid\n", {}},
		// A variable set from what is not known is not known.
		{"d=/run\nd=$(pwd)\nPIDFILE=$d/w.pid\n", {}},
		{"", {}},
	};
	for (const auto &c : cases)
		EXPECT_EQ(named(c.text), c.paths) << c.text;
}

// The pidfiles' root, as the fake platform gives it, to compare with rows.
std::string in_xml_root(const std::string &root)
{
	return "<root>" + root + "</root>";
}

// Which of the files given are opened while the walk runs (Linux: by
// inotify, which the opens of the walk's child report too).
struct OpenWatch {
	int fd = -1;
	explicit OpenWatch(const std::vector<std::string> &paths)
	{
#ifdef __linux__
		fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
		for (const std::string &p : paths)
			if (inotify_add_watch(fd, p.c_str(), IN_OPEN |
			    IN_DONT_FOLLOW) == -1)
				ADD_FAILURE() << "cannot watch " << p;
#else
		(void)paths;
#endif
	}
	// The number of opens since the last call.
	int opens()
	{
		alignas(struct inotify_event) char buf[4096];
		int n = 0;
		ssize_t len;
		while (fd != -1 && (len = read(fd, buf, sizeof(buf))) > 0)
			for (ssize_t i = 0; i < len; i += (ssize_t)(sizeof(
			    struct inotify_event) + ((struct inotify_event *)
			    (buf + i))->len))
				n++;
		return n;
	}
	bool opened()
	{
		return opens() > 0;
	}
	~OpenWatch()
	{
		if (fd != -1)
			close(fd);
	}
};

// Only on a system whose daemons leave their pidfiles in /run, with
// /var/run a link to it, as Linux has it.
#define NEEDS_RUN_FOLDER()						\
	do {								\
		static const char *const dirs[] = { PIDFILE_DIRS };	\
		if (std::string(dirs[0]) != "/run")			\
			GTEST_SKIP() << "pidfiles are not in /run here";\
	} while (0)

TEST_F(FakePlatform, ScriptsNameTheServiceOfAPidfile)
{
	NEEDS_RUN_FOLDER();
	auto fixture = [](const char *name) {
		std::ifstream f(std::string(FIXTURES) + "/init.d/" + name);
		std::stringstream ss;
		ss << f.rdbuf();
		return ss.str();
	};
	jail_root = make_root({
	    {"/etc/init.d/ssh", fixture("ssh")},
	    {"/etc/init.d/cron", fixture("cron")},
	    // The service of a script that sets the name it puts in.
	    {"/etc/init.d/bind9", "#!/bin/sh\nname=named\n"
		"pidfile=\"/var/run/${name}.pid\"\n"},
	    // Two scripts of one pidfile: the first name.
	    {"/etc/init.d/b-dup", "#!/bin/sh\nPIDFILE=/run/dup.pid\n"},
	    {"/etc/init.d/a-dup", "#!/bin/sh\nPIDFILE=/run/dup.pid\n"},
	    // A file that cannot be run is no script.
	    {"/etc/init.d/README", "PIDFILE=/run/readme.pid\n"},
	    {"/run/sshd.pid", "500\n"},
	    {"/run/crond.pid", "600\n"},
	    {"/run/named.pid", "610\n"},
	    {"/run/dup.pid", "620\n"},
	    {"/run/readme.pid", "630\n"},
	    // No script names it: the pidfile's own name.
	    {"/run/rsyslogd.pid", "700\n"},
	    {"/var", "DIR"},
	    {"/var/run", "-> /run"}});
	procs = {stale(500, SERVICE_NONE, ""), stale(600, SERVICE_NONE, ""),
	    stale(610, SERVICE_NONE, ""), stale(620, SERVICE_NONE, ""),
	    stale(630, SERVICE_NONE, ""), stale(700, SERVICE_NONE, "")};
	struct settings s = by_service();
	s.no_header = true;
	OpenWatch watch({jail_root + "/etc/init.d/ssh",
	    jail_root + "/run/sshd.pid"});
	Result r = run_walk({}, s);
#ifdef __linux__
	EXPECT_EQ(watch.opens(), 2) << "each file is read once a run";
#endif
	std::string root = jail_root;
	EXPECT_EQ(r.out,
	    "a-dup        0     1 bin     " + root + "\n"
	    "bind9        0     1 bin     " + root + "\n"
	    "cron         0     1 bin     " + root + "\n"
	    "readme       0     1 bin     " + root + "\n"
	    "rsyslogd     0     1 bin     " + root + "\n"
	    "ssh          0     1 bin     " + root + "\n");
	EXPECT_EQ(r.err, "");
	remove_tree(jail_root);
}

TEST_F(FakePlatform, PidfilesOnlyWhereNoOtherUserCouldWrite)
{
	NEEDS_RUN_FOLDER();
	char outside_tmpl[] = "/tmp/swoutside.XXXXXX";
	std::string outside = mkdtemp(outside_tmpl);
	std::string leak = outside + "/leak.pid";
	FILE *f = fopen(leak.c_str(), "w");
	fputs("803\n", f);
	fclose(f);
	std::vector<std::pair<std::string, std::string>> files = {
	    {"/run/lock/x;reboot.pid", "800\n"},
	    {"/run/gw.pid", "801\n"},
	    {"/run/svc/svc.pid", "802\n"},
	    {"/run/fifo.pid", "FIFO"},
	    {"/run/link.pid", "-> " + leak},
	    {"/run/good.pid", "806\n"},
	    {"/run/svcA.pid", "807\n"}};
	// Planted where anybody may write: they take no room in the table.
	for (int i = 0; i < PIDFILE_MAX + 76; i++)
		files.push_back({"/run/lock/p" + std::to_string(i) + ".pid",
		    "807\n"});
	jail_root = make_root(files);
	chmod((jail_root + "/run/lock").c_str(), 01777);
	chmod((jail_root + "/run/gw.pid").c_str(), 0664);
	chmod((jail_root + "/run/svc").c_str(), 0777);
	procs = {stale(800, SERVICE_NONE, ""), stale(801, SERVICE_NONE, ""),
	    stale(802, SERVICE_NONE, ""), stale(803, SERVICE_NONE, ""),
	    stale(806, SERVICE_NONE, ""), stale(807, SERVICE_NONE, "")};
	if (geteuid() == 0) {
		// A device: looked at, never opened.
		if (mknod((jail_root + "/run/null.pid").c_str(), S_IFCHR | 0644,
		    makedev(1, 3)) != 0)
			FAIL() << "mknod";
		// Files and folders of another user than the root's owner.
		std::string other = make_root({{"/run/nobody.pid", "804\n"},
		    {"/run/pg/pg.pid", "805\n"}});
		if (chown((other + "/run/nobody.pid").c_str(), 65534, 65534) !=
		    0 || chown((other + "/run/pg").c_str(), 65534, 65534) != 0)
			FAIL() << "chown";
		FakeProc p = stale(804, SERVICE_NONE, "");
		p.root = other;
		procs.push_back(p);
		p.pid = 805;
		procs.push_back(p);
	}
	std::vector<std::string> watched = {jail_root + "/run/fifo.pid", leak};
	if (geteuid() == 0)
		watched.push_back(jail_root + "/run/null.pid");
	OpenWatch watch(watched);
	struct settings s = by_service();
	s.no_header = true;
	Result r = run_walk({"--libxo=json"}, s);
	EXPECT_FALSE(watch.opened()) << "a FIFO, device or link was opened";
	std::string root = "\"root\":\"" + jail_root + "\"";
	std::string none = "{\"name\":\"-\",\"kind\":\"none\",\"jid\":0,"
	    "\"why\":\"bin\"," + root + ", \"pid\": [800,801,802,803]}, ";
	if (geteuid() == 0) {
		// Rows of one name in the order of their roots.
		std::string more = "{\"name\":\"-\",\"kind\":\"none\","
		    "\"jid\":0,\"why\":\"bin\",\"root\":\"" +
		    procs.back().root + "\", \"pid\": [804,805]}, ";
		none = procs.back().root < jail_root ? more + none :
		    none + more;
	}
	std::string expect = "{\"__version\": \"2\", \"stalewatch\": "
	    "{\"service\": [" + none;
	expect += "{\"name\":\"good\",\"kind\":\"rc\",\"jid\":0,\"why\":\"bin\","
	    + root + ", \"pid\": [806]}, {\"name\":\"svcA\",\"kind\":\"rc\","
	    "\"jid\":0,\"why\":\"bin\"," + root + ", \"pid\": [807]}]}}\n";
	EXPECT_EQ(r.out, expect);
	EXPECT_EQ(r.err, "") << "the planted files filled no table";
	if (geteuid() == 0)
		remove_tree(procs.back().root);
	remove_tree(jail_root);
	remove_tree(outside);
}

TEST_F(FakePlatform, EachRootHasATableOfItsOwn)
{
	NEEDS_RUN_FOLDER();
	static const char *const rc[] = { RC_SCRIPT_DIRS };
	std::vector<std::pair<std::string, std::string>> files;
	for (int i = 0; i < PIDFILE_MAX + 3; i++)
		files.push_back({"/run/f" + std::to_string(i) + ".pid",
		    std::to_string(5000 + i) + "\n"});
	for (int i = 0; i < SCRIPT_MAX + 2; i++)
		files.push_back({std::string(rc[0]) + "/s" + std::to_string(i),
		    "#!/bin/sh\n"});
	std::string full = make_root(files);
	jail_root = make_root({{"/run/svcB.pid", "901\n"}});
	FakeProc a = stale(900, SERVICE_NONE, "");
	a.root = full;
	procs = {a, stale(901, SERVICE_NONE, "")};
	Result r = run_walk({}, by_service());
	EXPECT_EQ(r.out, "SERVICE   JID PROCS WHY     ROOT\n"
	    "-           0     1 bin     " + full + "\n"
	    "svcB        0     1 bin     " + jail_root + "\n");
	EXPECT_EQ(r.err, "stalewatch: " + full + ": 3 pidfiles not read: at "
	    "most 1024 are read below a root, and 8192 in all\n"
	    "stalewatch: " + full + ": 2 rc scripts not read: at most 1024 "
	    "are read below a root\n");
	remove_tree(full);
	remove_tree(jail_root);
}

TEST_F(FakePlatform, LinksOutOfTheRootAreNotFollowed)
{
	NEEDS_RUN_FOLDER();
	std::string outside = make_root({
	    {"/init.d/outside", "#!/bin/sh\nPIDFILE=/run/planted.pid\n"},
	    {"/evil", "#!/bin/sh\nPIDFILE=/run/evil-target.pid\n"},
	    {"/run/x.pid", "1001\n"},
	    {"/sub/y.pid", "1002\n"}});
	jail_root = make_root({
	    {"/etc/init.d", "-> " + outside + "/init.d"},
	    {"/run/planted.pid", "1000\n"},
	    {"/run/sub", "-> " + outside + "/sub"}});
	std::string other = make_root({
	    {"/etc/init.d/evil", "-> " + outside + "/evil"},
	    {"/run/evil-target.pid", "1003\n"},
	    {"/var/run", "-> " + outside + "/run"}});
	procs = {stale(1000, SERVICE_NONE, ""), stale(1001, SERVICE_NONE, ""),
	    stale(1002, SERVICE_NONE, ""), stale(1003, SERVICE_NONE, "")};
	procs[1].root = procs[3].root = other;
	OpenWatch watch({outside + "/init.d/outside", outside + "/evil",
	    outside + "/run/x.pid", outside + "/sub/y.pid"});
	struct settings s = by_service();
	s.no_header = true;
	Result r = run_walk({}, s);
	EXPECT_FALSE(watch.opened());
	std::string a = "-               0     1 bin     " + jail_root + "\n";
	std::string b = "-               0     1 bin     " + other + "\n";
	EXPECT_EQ(r.out, (jail_root < other ? a + b : b + a) +
	    "evil-target     0     1 bin     " + other + "\n"
	    "planted         0     1 bin     " + jail_root + "\n");
	remove_tree(outside);
	remove_tree(jail_root);
	remove_tree(other);
}

TEST_F(FakePlatform, NoPidfileIsReadWhereItsFileSystemMayNeverAnswer)
{
	NEEDS_RUN_FOLDER();
	jail_root = make_root({{"/run/svc.pid", "1300\n"},
	    {"/run/nfs/svc.pid", "1301\n"}});
	procs = {stale(1300, SERVICE_NONE, ""), stale(1301, SERVICE_NONE, "")};
	struct settings s = by_service();
	s.no_header = true;
	const std::string root = jail_root;
	struct {
		const char *where;	// below the root
		std::string out;
		int opens;		// of the two pidfiles
	} cases[] = {
		// The root itself: not even opened, so not known.
		{"", "-           0     2 bin\n", 0},
		{"/run/nfs", "-           0     1 bin     " + root + "\n"
		    "svc         0     1 bin     " + root + "\n", 1},
		{"/run/svc.pid", "-           0     1 bin     " + root + "\n"
		    "svc         0     1 bin     " + root + "\n", 1},
	};
	for (const auto &c : cases) {
		mounts = {{"/", "ext4", 1}, {root + c.where, "nfs4", 99}};
		OpenWatch watch({root + "/run/svc.pid",
		    root + "/run/nfs/svc.pid"});
		Result r = run_walk({"1300", "1301"}, s);
		EXPECT_EQ(r.out, c.out) << c.where;
#ifdef __linux__
		EXPECT_EQ(watch.opens(), c.opens) << c.where;
#endif
	}
	mounts.clear();
	remove_tree(jail_root);
}

TEST_F(FakePlatform, APidfileOlderThanItsProcessNamesNothing)
{
	NEEDS_RUN_FOLDER();
	jail_root = make_root({{"/run/old.pid", "1100\n"},
	    {"/run/parent.pid", "1102\n"},
	    {"/run/child-old.pid", "1101\n"},
	    {"/run/unknown-start.pid", "1103\n"}});
	struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
	for (const char *f : {"/run/old.pid", "/run/child-old.pid",
	    "/run/unknown-start.pid"})
		utimensat(AT_FDCWD, (jail_root + f).c_str(), times, 0);
	time_t now = time(nullptr);
	FakeProc old = stale(1100, SERVICE_NONE, "");
	old.start = now;
	FakeProc parent = stale(1102, SERVICE_NONE, "");
	parent.path_errno = 0;
	parent.start = now - 10;
	FakeProc child = stale(1101, SERVICE_NONE, "");
	child.ppid = 1102;
	child.start = now;
	// Written the second it started, by a coarser clock: its own.
	FakeProc unknown = stale(1103, SERVICE_NONE, "");
	procs = {old, child, parent, unknown};
	struct settings s = by_service();
	s.no_header = true;
	Result r = run_walk({"--libxo=xml"}, s);
	std::string root = in_xml_root(jail_root);
	EXPECT_EQ(r.out, "<stalewatch version=\"2\"><service><name>-</name>"
	    "<kind>none</kind><jid>0</jid><why>bin</why>" + root +
	    "<pid>1100</pid></service><service><name>parent</name><kind>rc"
	    "</kind><jid>0</jid><why>bin</why>" + root + "<pid>1101</pid>"
	    "</service><service><name>unknown-start</name><kind>rc</kind>"
	    "<jid>0</jid><why>bin</why>" + root + "<pid>1103</pid>"
	    "</service></stalewatch>");
	remove_tree(jail_root);
}

TEST_F(FakePlatform, ADaemonOwnsOnlyTheProcessesOfItsSession)
{
	NEEDS_RUN_FOLDER();
	jail_root = make_root({{"/run/sshd.pid", "1200\n"}});
	FakeProc master = stale(1200, SERVICE_NONE, "");
	master.path_errno = 0;
	master.sid = 1200;
	FakeProc worker = stale(1201, SERVICE_NONE, "");
	worker.ppid = 1200;
	worker.sid = 1200;
	FakeProc shell = stale(1202, SERVICE_NONE, "");
	shell.path_errno = 0;
	shell.ppid = 1200;
	shell.sid = 1202;
	FakeProc editor = stale(1203, SERVICE_NONE, "");
	editor.ppid = 1202;
	editor.sid = 1202;
	FakeProc cronjob = editor;
	cronjob.pid = 1204;
	procs = {master, worker, shell, editor, cronjob};
	struct settings s = by_service();
	s.no_header = true;
	Result r = run_walk({}, s);
	std::string root = jail_root;
	EXPECT_EQ(r.out, "-           0     2 bin     " + root + "\n"
	    "sshd        0     1 bin     " + root + "\n");
	// A login session names its own processes; a daemon started by
	// hand from one is still named by its pidfile.
	procs[1].service_kind = procs[3].service_kind = SERVICE_SESSION;
	procs[1].service = procs[3].service = "session-3.scope";
	r = run_walk({}, s);
	EXPECT_EQ(r.out, "-                   0     1 bin     " + root + "\n"
	    "session-3.scope     0     1 bin     /\n"
	    "sshd                0     1 bin     " + root + "\n");
	remove_tree(jail_root);
}

TEST_F(FakePlatform, AUsersUnitsAreRowsOfTheirOwn)
{
	procs = {stale(10, SERVICE_UNIT, "dbus.service"),
	    stale(11, SERVICE_USER_UNIT, "user@1000.service/dbus.service"),
	    stale(12, SERVICE_USER_UNIT, "user@1000.service/dbus.service"),
	    stale(13, SERVICE_USER_UNIT, "user@1001.service/dbus.service")};
	Result r = run_walk({}, by_service());
	EXPECT_EQ(r.out, "SERVICE                          JID PROCS WHY\n"
	    "dbus.service                       0     1 bin\n"
	    "user@1000.service/dbus.service     0     2 bin\n"
	    "user@1001.service/dbus.service     0     1 bin\n");
	EXPECT_EQ(r.err, "");
	r = run_walk({"--libxo=json"}, by_service());
	EXPECT_EQ(r.out, "{\"__version\": \"2\", \"stalewatch\": {\"service\": "
	    "[{\"name\":\"dbus.service\",\"kind\":\"unit\",\"jid\":0,"
	    "\"why\":\"bin\",\"root\":\"/\", \"pid\": [10]}, "
	    "{\"name\":\"dbus.service\",\"kind\":\"user_unit\",\"uid\":1000,"
	    "\"jid\":0,\"why\":\"bin\",\"root\":\"/\", \"pid\": [11,12]}, "
	    "{\"name\":\"dbus.service\",\"kind\":\"user_unit\",\"uid\":1001,"
	    "\"jid\":0,\"why\":\"bin\",\"root\":\"/\", \"pid\": [13]}]}}\n");
	EXPECT_EQ(r.err, "");
	// HTML shows what the text shows.
	r = run_walk({"--libxo=html", "11"}, by_service());
	EXPECT_NE(r.out.find("data-tag=\"name\">user@1000.service/dbus.service"),
	    std::string::npos) << r.out;
	EXPECT_EQ(r.err, "");
}

TEST_F(FakePlatform, NoProcessFileSystem)
{
	// Linux says it as a Linux user knows it; the status is the same.
	FakeProc p;
	p.path_errno = ENOENT;
	procs.push_back(p);
	open_errno = ENOENT;
	Result r = run_walk({});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "stalewatch: /proc is not mounted\n");
	open_errno = EACCES;
	r = run_walk({});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "stalewatch: procstat_open(): Permission denied\n");
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

}  // namespace

// The fake platform layer.

struct procstat {
	int unused;
};

static struct procstat the_handle;

struct procstat *procstat_open_sysctl(void)
{
	if (open_errno != 0) {
		errno = open_errno;
		return nullptr;
	}
	return &the_handle;
}

const char *proc_open_error(int err)
{
	return err == ENOENT ? "/proc is not mounted" : nullptr;
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
		list[i].ki_sid = procs[i].sid;
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
	snprintf(buf, size, "%s", jail_root.c_str());
	return 0;
}

// The root of a process: its own, or the one all share.
static const std::string &root_of(const struct kinfo_proc *kp)
{
	const FakeProc *p = find(kp->ki_pid);
	return p != nullptr && !p->root.empty() ? p->root : jail_root;
}

int proc_root_path(struct procstat *, const struct kinfo_proc *kp,
    char *buf, size_t size)
{
	counts->root_queries++;
	snprintf(buf, size, "%s", root_of(kp).c_str());
	return 0;
}

int proc_open_root(struct procstat *, const struct kinfo_proc *kp)
{
	return open(root_of(kp).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int proc_start_time(struct procstat *, const struct kinfo_proc *kp,
    struct timespec *ts)
{
	const FakeProc *p = find(kp->ki_pid);
	if (p == nullptr || p->start == 0)
		return -1;
	ts->tv_sec = p->start;
	ts->tv_nsec = 0;
	return 0;
}

int proc_probe(struct procstat *, const struct kinfo_proc *kp, char *,
    size_t *argslen)
{
	const FakeProc *p = find(kp->ki_pid);
	counts->probes++;
	*argslen = 0;
	if (p == nullptr || p->probe_errno != 0) {
		errno = p == nullptr ? ESRCH : p->probe_errno;
		return -1;
	}
	return 0;
}
