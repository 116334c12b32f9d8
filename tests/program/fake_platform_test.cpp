/* SPDX-License-Identifier: BSD-2-Clause */
// The walk, the check and the report over a scripted platform: what real
// processes cannot show on demand (a process exiting at the wrong moment,
// kill failing for lack of permission, oversized paths and argument
// blocks, failing queries).

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kernel.h"
#include "kernel_image.h"
#include "procinfo.h"
#include "service.h"
#include "settings.h"
#include "text.h"
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
};

std::vector<FakeProc> procs;
int list_errno;		// procstat_getprocs fails with this when set
const char *hidden;	// what proc_hidden says
std::string jail_root;	// what proc_jail_root says
const char *libdirs[2];	// what proc_library_dirs says, when [0] is set
struct kernel_running fake_kernel;	// what kernel_running says
std::string kernel_root_path;	// its root

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
		memset(&fake_kernel, 0, sizeof(fake_kernel));
		kernel_root_path = "/nonexistent";
		libdirs[0] = nullptr;
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
	// An inode that neither file has (the two may come in any order).
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
		    "stalewatch: 1 process not examined: permission denied\n"},
		{"map busy in exec", {}, 0, EBUSY, nullptr,
		    "stalewatch: 1 process not examined: starting a program\n"},
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

// The text functions themselves, where a real process cannot put the
// boundary exactly: what safe_text writes, where a display may cut it,
// and where a text cut by the program ends.
TEST(Text, SafeTextUnitPrefixAndWholeCharacters)
{
	struct {
		const char *text;
		bool ascii;
		size_t size;
		const char *want;
	} safe[] = {
		{ "a\\b", false, 64, "a\\\\b" },
		{ "\\033", false, 64, "\\\\033" },
		{ "ab\\", false, 4, "ab" },		/* the pair does not fit */
		{ "ab\\", false, 5, "ab\\\\" },
		{ "x\xc2\xad\xc2\xa0", false, 64, "x\\302\\255\xc2\xa0" },
		{ "\xef\xbf\xbd\xe2\x80\x8b", false, 64, "\xef\xbf\xbd\\342\\200\\213" },
		{ "\xf3\xa0\x80\xa0", false, 64, "\\363\\240\\200\\240" },
		{ "\xc3\xa9\\", true, 64, "\\303\\251\\\\" },
		/* A column keeps whole characters, or it would be blank. */
		{ "\xf3\xa0\x81\x81", false, 13, "\\363\\240\\201" },
		{ "ab\xc3\xa9", true, 9, "ab" },
		{ "ab\xc3\xa9", false, 4, "ab" },	/* é as it is: whole */
		{ "abc\\", false, 5, "abc" },
	};
	char buf[64];
	for (const auto &c : safe)
		EXPECT_STREQ(safe_text(c.text, 64, c.ascii, buf, c.size),
		    c.want) << c.text;

	struct {
		const char *text;
		size_t max, want;
	} prefix[] = {
		{ "ab\\\\cd", 3, 2 },	/* never between the two backslashes */
		{ "ab\\\\cd", 4, 4 },
		{ "\\\\\\033", 5, 2 },	/* a pair, then a whole escape */
		{ "\\\\\\033", 6, 6 },
		{ "a\\033b", 4, 1 },
		{ "\xc3\xa9", 1, 0 },
		{ "a\\303\\251b", 8, 1 },	/* not inside one character's */
		{ "a\\303\\251b", 9, 9 },
		{ "\\303\\251b", 7, 4 },	/* unless it is the first */
		{ "\\342\\200\\213\\342", 11, 8 },
		{ "\\342\\200\\213\\342", 12, 12 },
		{ "\\200\\201", 5, 4 },	/* stray bytes: one by one */
	};
	for (const auto &c : prefix)
		EXPECT_EQ(unit_prefix(c.text, c.max), c.want) << c.text;

	struct {
		const char *text;
		size_t want;
	} whole[] = {
		{ "abc\xc3", 3 },		/* the tails of cut characters */
		{ "abc\xe6\x97", 3 },
		{ "abc\xf0\x9f\x98", 3 },
		{ "abc\xc3\xa9", 5 },	/* whole */
		{ "abc", 3 },
		{ "", 0 },
		{ "abc\xc0", 4 },		/* never the start of a character */
		{ "abc\xe0\x80", 5 },	/* overlong */
		{ "abc\xed\xa0", 5 },	/* surrogate */
		{ "abc\xf4\x90", 5 },	/* past U+10FFFF */
		{ "abc\x97", 4 },		/* a tail without its start */
		{ "\xf0\x9f\x98\x80\x80", 5 },
	};
	for (const auto &c : whole)
		EXPECT_EQ(whole_characters(c.text, strlen(c.text)), c.want) <<
		    c.text;
}

// The bytes that escaped text stands for, read strictly: a backslash is
// followed by another or by three octal digits, as unvis(3) reads them.
bool strict_unvis(const std::string &text, std::string *out)
{
	out->clear();
	for (size_t i = 0; i < text.size(); i++) {
		if (text[i] != '\\') {
			out->push_back(text[i]);
			continue;
		}
		if (i + 1 < text.size() && text[i + 1] == '\\') {
			out->push_back('\\');
			i++;
			continue;
		}
		if (i + 3 >= text.size())
			return false;
		int v = 0;
		for (size_t k = 1; k <= 3; k++) {
			if (text[i + k] < '0' || text[i + k] > '7')
				return false;
			v = v * 8 + (text[i + k] - '0');
		}
		if (v > 0377)
			return false;
		out->push_back((char)v);
		i += 3;
	}
	return true;
}

// Random texts of the bytes that matter: whatever safe_text writes reads
// back as the text, holds no control byte, and every cut that unit_prefix
// allows reads back as a beginning of the text; a text cut anywhere and
// given back by whole_characters loses at most the start of a character.
TEST(Text, RandomTextsReadBack)
{
	static const unsigned char pick[] = {
		'a', ' ', '\\', '0', '7', 0x01, 0x1b, 0x7f, 0x80, 0x8f, 0x9f,
		0xa0, 0xad, 0xbf, 0xc0, 0xc2, 0xc3, 0xdf, 0xe0, 0xe2, 0xed, 0xef,
		0xf0, 0xf3, 0xf4, 0xf5, 0xff,
	};
	std::mt19937 rng(20241210);
	char buf[4 * 24 + 1];
	std::string text, shown, back, part;

	for (int round = 0; round < 20000; round++) {
		text.assign(rng() % 24, 'x');
		for (char &c : text)
			c = (char)pick[rng() % sizeof(pick)];
		bool ascii = rng() % 2 == 0;
		shown = safe_text(text.c_str(), text.size(), ascii, buf,
		    sizeof(buf));
		ASSERT_TRUE(strict_unvis(shown, &back)) << shown;
		ASSERT_EQ(back, text) << shown;
		for (unsigned char c : shown)
			ASSERT_TRUE(c >= 0x20 && c != 0x7f &&
			    (!ascii || c < 0x80)) << shown;
		size_t max = rng() % (shown.size() + 1);
		size_t n = unit_prefix(shown.c_str(), max);
		ASSERT_LE(n, max);
		ASSERT_TRUE(strict_unvis(shown.substr(0, n), &part)) << shown <<
		    " cut at " << n;
		ASSERT_EQ(text.compare(0, part.size(), part), 0);
		// Cut at n by a smaller buffer, safe_text ends in the same place.
		ASSERT_EQ(std::string(safe_text(text.c_str(), text.size(),
		    ascii, buf, n + 1)), shown.substr(0, n)) << shown;
		size_t cut = rng() % (text.size() + 1);
		size_t whole = whole_characters(text.c_str(), cut);
		ASSERT_LE(whole, cut);
		ASSERT_GE(whole + 3, cut);
	}
}

// The kernel's status (-k): the parsers over buffers that no real file
// could be made to hold on demand, then each status through the scripted
// platform, whose running kernel is fake_kernel and whose /boot is in a
// folder made for the test.

// The start of an x86 Linux image: its boot header, pointing at the
// version text written at offset at.
std::string boot_image(const std::string &text, unsigned int at = 0x3000,
    unsigned int protocol = 0x020f, const char *magic = "HdrS")
{
	std::string b(std::max<size_t>(at + text.size() + 1, 0x400), '\0');
	memcpy(&b[0x202], magic, 4);
	b[0x206] = (char)(protocol & 0xff);
	b[0x207] = (char)(protocol >> 8);
	b[0x20e] = (char)((at - 0x200) & 0xff);
	b[0x20f] = (char)((at - 0x200) >> 8);
	b.replace(at, text.size(), text);
	return b;
}

std::string header_text(const std::string &image,
    size_t size = KERNEL_TEXT_SIZE)
{
	char text[KERNEL_TEXT_SIZE];
	if (!boot_header_text((const unsigned char *)image.data(),
	    image.size(), text, size))
		return text[0] == '\0' ? "(none)" : "(none, but text left)";
	return text;
}

const std::string DEB_RELEASE = "6.1.0-18-amd64";
const std::string DEB_BUILD = "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 "
    "(2024-02-01)";

// A Debian image of the given release and build.
std::string deb_image(const std::string &release, const std::string &build)
{
	return boot_image(release + " (debian-kernel@lists.debian.org) " +
	    build);
}

TEST(KernelImage, BootHeaderOfSyntheticImages)
{
	const std::string text = DEB_RELEASE +
	    " (debian-kernel@lists.debian.org) " + DEB_BUILD;
	const std::string good = boot_image(text);
	std::string past = boot_image("x", 0x400);
	past[0x20e] = past[0x20f] = (char)0xff;
	std::string endless = boot_image("", 0x3000);
	std::fill(endless.begin() + 0x3000, endless.end(), 'A');
	std::string arm(0x10000, '\0');		// an arm64 Image: no HdrS
	memcpy(&arm[0x38], "ARM\x64", 4);
	struct {
		const char *what;
		std::string image;
		size_t size;
		std::string want;
	} cases[] = {
		{ "valid", good, KERNEL_TEXT_SIZE, text },
		{ "cut in the header", good.substr(0, 0x20f), KERNEL_TEXT_SIZE,
		    "(none)" },
		{ "cut in the text", good.substr(0, 0x3000 + 10),
		    KERNEL_TEXT_SIZE, "(none)" },
		{ "cut after the text", good.substr(0, 0x3000 + text.size() +
		    1), KERNEL_TEXT_SIZE, text },
		{ "empty", "", KERNEL_TEXT_SIZE, "(none)" },
		{ "no magic", boot_image(text, 0x3000, 0x020f, "HdrX"),
		    KERNEL_TEXT_SIZE, "(none)" },
		{ "protocol 1.ff", boot_image(text, 0x3000, 0x01ff),
		    KERNEL_TEXT_SIZE, "(none)" },
		{ "protocol 2.00", boot_image(text, 0x3000, 0x0200),
		    KERNEL_TEXT_SIZE, text },
		{ "no text", boot_image(text, 0x200), KERNEL_TEXT_SIZE,
		    "(none)" },
		{ "empty text", boot_image("", 0x3000), KERNEL_TEXT_SIZE,
		    "(none)" },
		{ "the farthest offset", boot_image("far", 0x200 + 0xffff),
		    KERNEL_TEXT_SIZE, "far" },
		{ "an offset past the end", past, KERNEL_TEXT_SIZE, "(none)" },
		{ "a text never ended", endless, KERNEL_TEXT_SIZE, "(none)" },
		{ "a text too long", good, 10, "(none)" },
		{ "a text that just fits", boot_image("123456789"), 10,
		    "123456789" },
		{ "not x86", arm, KERNEL_TEXT_SIZE, "(none)" },
	};
	for (const auto &c : cases)
		EXPECT_EQ(header_text(c.image, c.size), c.want) << c.what;
	EXPECT_LE(boot_image("far", 0x200 + 0xffff).size(),
	    (size_t)BOOT_HEADER_READ) << "the farthest text is read";
	// Random offsets and NULs: never a read outside the buffer (the
	// sanitizers watch), only texts that were in it.
	std::mt19937 rng(7);
	int texts = 0;
	for (int round = 0; round < 2000; round++) {
		std::string img(0x210 + rng() % 0x10400, (char)('a' + round % 26));
		memcpy(&img[0x202], "HdrS", 4);
		img[0x207] = (char)(2 + rng() % 3);
		unsigned int off = rng() % 0x10000;
		img[0x20e] = (char)(off & 0xff);
		img[0x20f] = (char)(off >> 8);
		size_t end = 0x200 + off + rng() % 600;
		if (end < img.size())
			img[end] = '\0';
		std::string t = header_text(img, 1 + rng() % KERNEL_TEXT_SIZE);
		ASSERT_TRUE(t == "(none)" || img.find(t + '\0') ==
		    0x200 + off) << t;
		texts += t != "(none)";
	}
	EXPECT_GT(texts, 100) << "some had a text";
}

TEST(KernelImage, VersionTextsAndReleases)
{
	const std::string text = DEB_RELEASE + " (debian-kernel@lists.debian."
	    "org) " + DEB_BUILD;
	char release[KERNEL_RELEASE_SIZE];
	EXPECT_TRUE(kernel_text_release(text.c_str(), release,
	    sizeof(release)));
	EXPECT_EQ(release, DEB_RELEASE);
	for (const char *bad : {"6.1.0 #1 SMP", " (x) y", "6.1.0 (builder",
	    "6.1.0(x) y", ""})
		EXPECT_FALSE(kernel_text_release(bad, release, sizeof(release)))
		    << bad;
	EXPECT_FALSE(kernel_text_release(text.c_str(), release, 14));
	EXPECT_TRUE(kernel_text_has_build(text.c_str(), DEB_RELEASE.c_str(),
	    DEB_BUILD.c_str()));
	for (const char *other : {"#1 SMP PREEMPT_DYNAMIC Debian 6.1.85-1 "
	    "(2024-04-11)", "6.1.76-1 (2024-02-01)", ""})
		EXPECT_FALSE(kernel_text_has_build(text.c_str(),
		    DEB_RELEASE.c_str(), other)) << other;
	EXPECT_FALSE(kernel_text_has_build("R (b", "R", "(b")) << "apart";

	// Each later than the one before, as sort -V orders them.
	const char *order[] = {
		"5.10.0-28-amd64", "6.1.0~rc7", "6.1.0", "6.1.0-9-amd64",
		"6.1.0-18-amd64", "6.1.0-18-amd64.old", "6.1.0-21-amd64",
		"6.1.0-rc7", "6.8.4-300.fc40.x86_64", "6.8.5-301.fc40.x86_64",
		"6.9.12", "6.10.1", "14.1-RELEASE", "14.1-RELEASE-p1",
		"14.1-RELEASE-p6", "14.2-RC1", "14.2-RELEASE", "14.3-STABLE",
		"15.0-CURRENT",
	};
	for (size_t i = 0; i + 1 < sizeof(order) / sizeof(order[0]); i++) {
		EXPECT_LT(release_compare(order[i], order[i + 1]), 0) << order[i];
		EXPECT_GT(release_compare(order[i + 1], order[i]), 0) << order[i];
		EXPECT_EQ(release_compare(order[i], order[i]), 0) << order[i];
	}
	EXPECT_EQ(release_compare("6.1.0-018-amd64", "6.1.0-18-amd64"), 0);
	EXPECT_LT(release_compare("", "1"), 0);
}

TEST(KernelImage, WhatStringsAndLoaderConfLines)
{
	using namespace std::string_literals;
	struct {
		std::string data;
		const char *word;
	} what[] = {
		{ "\x7f" "ELF\0@(#)FreeBSD 14.1-RELEASE-p6 GENERIC\0x"s,
		    "14.1-RELEASE-p6" },
		{ "@(#)Copyright\0@@(#)FreeBSD 13.4-RELEASE\n"s, "13.4-RELEASE" },
		{ "@(@(#)FreeBSD 14.0-RELEASE>"s, "14.0-RELEASE" },
		{ "@(#)FreeBSD 14.0-RELEASE\"x@(#)FreeBSD 1\\"s, "14.0-RELEASE" },
		{ "@(#)FreeBSD 15.0-CURRENT #0 main-n1234: Mon\0"s,
		    "15.0-CURRENT" },
		{ "@(#)FreeBSD \0@(#)FreeBSDX 14\0@(#) FreeBSD 14\0"s, "(none)" },
		{ "@(#)FreeBSD 14.0_RELEASE\0FreeBSD 14.0-RELEASE\0"s, "(none)" },
		{ "@(#)FreeBSD 14.0-RELEASE"s, "(none)" },	/* never ended */
		{ "@(#)FreeBSD " + std::string(200, '1') + "\0"s, "(none)" },
		{ "@(#)FreeBSD 14.1-RELEASE " + std::string(300, 'x') + "\0"s,
		    "14.1-RELEASE" },
		{ "@(#)x @(#)FreeBSD 1\0"s, "(none)" },	/* inside a string */
	};
	for (const auto &c : what)
		for (size_t cut = 0; cut <= c.data.size(); cut++) {
			// Fed in two pieces: the scan goes on across them.
			struct what_scan ws;
			what_scan_start(&ws);
			const unsigned char *d = (const unsigned char *)c.data.data();
			bool found = what_scan_feed(&ws, d, cut) ||
			    what_scan_feed(&ws, d + cut, c.data.size() - cut);
			ASSERT_EQ(found ? ws.word : "(none)", std::string(c.word))
			    << c.data << " cut at " << cut;
		}

	struct {
		const char *line;
		const char *name, *value;	/* name NULL: no assignment */
	} conf[] = {
		{ "kernel=\"kernel.old\"", "kernel", "kernel.old" },
		{ "  bootfile = kernel  # the file", "bootfile", "kernel" },
		{ "\tkernel=\"a/b_c-1\"", "kernel", "a/b_c-1" },
		{ "kernel=abc;xyz", "kernel", "abc" },
		{ "_x1=\"../../etc\"", "_x1", "../../etc" },
		{ "# kernel=\"x\"", nullptr, nullptr },
		{ "kernel=\"\"", nullptr, nullptr },
		{ "kernel=\"a b\"", nullptr, nullptr },
		{ "kernel=\"abc", nullptr, nullptr },
		{ "kernel=", nullptr, nullptr },
		{ "=x", nullptr, nullptr },
		{ "1kernel=x", nullptr, nullptr },
		{ "ker nel=x", nullptr, nullptr },
		{ "kernel=$x", nullptr, nullptr },
		{ "kernel=0123456789abcdef", nullptr, nullptr },	/* too long */
	};
	char name[16], value[16];
	for (const auto &c : conf) {
		bool ok = loader_conf_assignment(c.line, strlen(c.line), name,
		    sizeof(name), value, sizeof(value));
		EXPECT_EQ(ok, c.name != nullptr) << c.line;
		if (ok && c.name != nullptr) {
			EXPECT_EQ(std::string(name) + "=" + value,
			    std::string(c.name) + "=" + c.value) << c.line;
		}
	}
	EXPECT_TRUE(loader_conf_assignment("kernel=ab\ncd", 9, name,
	    sizeof(name), value, sizeof(value)));
	EXPECT_STREQ(value, "ab") << "only len bytes are read";
}

std::string read_file(const std::string &path)
{
	std::string text;
	FILE *f = fopen(path.c_str(), "rb");
	char buf[4096];
	size_t n;
	while (f != nullptr && (n = fread(buf, 1, sizeof(buf), f)) > 0)
		text.append(buf, n);
	if (f != nullptr)
		fclose(f);
	return text;
}

// A real distribution kernel: the image of Debian's cloud kernel
// package, fetched with apt into the build tree once and kept there; its
// path, and the package's version into *version.  Empty, with the reason
// in *why, where apt cannot fetch it.
std::string debian_image(std::string *version, std::string *why)
{
	const std::string dir = KERNEL_CACHE;
	const std::string script = "cd '" + dir + "' || exit 1\n"
	    "ls boot/vmlinuz-* >/dev/null 2>&1 && exit 0\n"
	    "rm -f why; command -v apt-get >/dev/null 2>&1 ||\n"
	    "    { echo 'no apt-get here' >why; exit 1; }\n"
	    "pkg=$(apt-cache depends linux-image-cloud-amd64 2>/dev/null |\n"
	    "    sed -n 's/^ *Depends: \\(linux-image-[0-9][^ ]*\\)$/\\1/p' |\n"
	    "    head -n 1)\n"
	    "[ -n \"$pkg\" ] || { echo 'apt knows no linux-image-cloud-amd64"
	    " (apt-get update first)' >why; exit 1; }\n"
	    "apt-get download -q \"$pkg\" >log 2>&1 ||\n"
	    "    { echo \"apt-get download $pkg failed\" >why; exit 1; }\n"
	    "dpkg-deb -f \"$pkg\"_*.deb Version >version &&\n"
	    "    dpkg-deb --fsys-tarfile \"$pkg\"_*.deb |\n"
	    "    tar -x --wildcards './boot/vmlinuz-*' ||\n"
	    "    { echo \"cannot unpack $pkg\" >why; exit 1; }\n"
	    "rm -f \"$pkg\"_*.deb\n";
	mkdir(dir.c_str(), 0755);
	FILE *out = fopen((dir + "/fetch.sh").c_str(), "w");
	if (out == nullptr) {
		*why = "cannot write " + dir;
		return "";
	}
	fputs(script.c_str(), out);
	fclose(out);
	if (system(("sh '" + dir + "/fetch.sh'").c_str()) != 0) {
		*why = read_file(dir + "/why");
		return "";
	}
	*version = read_file(dir + "/version");
	version->erase(version->find_last_not_of('\n') + 1);
	std::string image;
	DIR *d = opendir((dir + "/boot").c_str());
	for (struct dirent *de; d != nullptr && (de = readdir(d)) != nullptr;)
		if (strncmp(de->d_name, "vmlinuz-", 8) == 0)
			image = dir + "/boot/" + de->d_name;
	if (d != nullptr)
		closedir(d);
	return image;
}

// A system root for the kernel's tests: a value "DIR" makes a folder,
// "FIFO" a FIFO, "LINK:target" a symbolic link; others are a file's bytes.
std::string kernel_root(const std::vector<std::pair<std::string,
    std::string>> &files)
{
	std::string root = make_root({});
	for (const auto &f : files) {
		std::string path = root + f.first;
		for (size_t i = root.size() + 1; i < path.size(); i++)
			if (path[i] == '/')
				mkdir(path.substr(0, i).c_str(), 0755);
		if (f.second == "DIR")
			mkdir(path.c_str(), 0755);
		else if (f.second == "FIFO")
			mkfifo(path.c_str(), 0644);
		else if (f.second.compare(0, 5, "LINK:") == 0)
			EXPECT_EQ(symlink(f.second.c_str() + 5, path.c_str()), 0);
		else {
			FILE *out = fopen(path.c_str(), "wb");
			fwrite(f.second.data(), 1, f.second.size(), out);
			fclose(out);
		}
	}
	kernel_root_path = root;
	return root;
}

void remove_root(const std::string &root)
{
	EXPECT_EQ(system(("rm -rf " + root).c_str()), 0);
}

// The platform's running kernel.
void running_kernel(int method, const std::string &release,
    const std::string &build, bool modular = true,
    const char *unknowable = nullptr)
{
	memset(&fake_kernel, 0, sizeof(fake_kernel));
	fake_kernel.method = method;
	snprintf(fake_kernel.release, sizeof(fake_kernel.release), "%s",
	    release.c_str());
	snprintf(fake_kernel.build, sizeof(fake_kernel.build), "%s",
	    build.c_str());
	fake_kernel.modular = modular;
	fake_kernel.unknowable = unknowable;
}

// The report of a walk over no process, with -k.
Result kernel_walk(std::vector<std::string> args = {})
{
	struct settings s = plain();
	s.kernel = true;
	return run_walk(args, s);
}

TEST_F(FakePlatform, KernelOfADistribution)
{
	std::string version, why;
	std::string image = debian_image(&version, &why);
	if (image.empty())
		GTEST_SKIP() << "no Debian kernel image: " << why;
	std::string data = read_file(image);
	std::string text = header_text(data.substr(0, BOOT_HEADER_READ));
	std::string release = image.substr(image.rfind("/vmlinuz-") + 9);
	char own[KERNEL_RELEASE_SIZE];
	ASSERT_TRUE(kernel_text_release(text.c_str(), own, sizeof(own))) <<
	    text;
	EXPECT_EQ(own, release);
	// As uname -v says it: "#1 SMP PREEMPT_DYNAMIC Debian VERSION (DATE)".
	std::string build = text.substr(text.find(") ") + 2);
	EXPECT_NE(build.find("Debian " + version + " ("), std::string::npos) <<
	    text;
	std::string root = kernel_root({{"/boot/vmlinuz-" + release, data},
	    {"/lib/modules/" + release, "DIR"}});
	running_kernel(KERNEL_BY_VMLINUZ, release, build);
	EXPECT_EQ(kernel_walk().out, "kernel " + release +
	    " is running and installed\n");
	running_kernel(KERNEL_BY_VMLINUZ, release, "#1 SMP Debian 6.1.0-1");
	EXPECT_EQ(kernel_walk().out, "kernel " + release +
	    " is running, another build of it is installed: reboot\n");
	remove_root(root);
}

TEST_F(FakePlatform, KernelStatusOfLinuxImages)
{
	const std::string R = DEB_RELEASE, OWN = "/boot/vmlinuz-" + R;
	const std::pair<std::string, std::string> modules = {
	    "/lib/modules/" + R, "DIR"};
	const std::string rebuilt = deb_image(R, "#1 SMP PREEMPT_DYNAMIC "
	    "Debian 6.1.85-1 (2024-04-11)");
	const std::pair<std::string, std::string> older[] = {
		{"/boot/vmlinuz-5.10.0-28-amd64",
		    deb_image("5.10.0-28-amd64", "#1 SMP Debian 5.10.209-2")},
		/* Before 18 by number, after it by the bytes. */
		{"/boot/vmlinuz-6.1.0-9-amd64",
		    deb_image("6.1.0-9-amd64", "#1 SMP Debian 6.1.27-1")},
	};
	const std::pair<std::string, std::string> newer = {
	    "/boot/vmlinuz-6.1.0-21-amd64",
	    deb_image("6.1.0-21-amd64", "#1 SMP Debian 6.1.90-1")};
	const std::string good = deb_image(R, DEB_BUILD);
	std::string hostile = boot_image("x", 0x400);
	hostile[0x20e] = hostile[0x20f] = (char)0xff;
	std::string arm(0x10000, '\0');
	memcpy(&arm[0x38], "ARM\x64", 4);
	const std::string running = "kernel " + R + " is running";
	const std::string current = running + " and installed\n";
	const std::string another = running + ", another build of it is "
	    "installed: reboot\n";
	const std::string none = "kernel: installed version unknown (no "
	    "readable image in /boot)\n";
	const std::string none_own = "kernel: installed version unknown (no "
	    "readable image of " + R + " in /boot)\n";
	struct {
		const char *what;
		std::vector<std::pair<std::string, std::string>> files;
		bool modular;
		std::string line;
	} cases[] = {
		{ "current", {{OWN, good}, modules, older[0], older[1],
		    {"/boot/config-" + R, "CONFIG_X=y\n"}}, true, current },
		{ "rebuilt", {{OWN, rebuilt}, modules, older[0]}, true,
		    another },
		{ "newer", {{OWN, good}, modules, older[1], newer}, true,
		    running + ", 6.1.0-21-amd64 is installed: reboot\n" },
		{ "newer, own image gone", {modules, newer}, true,
		    running + ", 6.1.0-21-amd64 is installed: reboot\n" },
		{ "removed", {{OWN, good}, newer}, true, running + " without "
		    "its modules, 6.1.0-21-amd64 is installed: reboot\n" },
		{ "removed, nothing newer", {{OWN, good}}, true, running +
		    " without its modules, " + R + " is installed: reboot\n" },
		{ "no modules to remove", {{OWN, good}}, false, current },
		{ "no image", {{"/boot", "DIR"}}, true, none },
		{ "no /boot", {}, true, none },
		{ "truncated", {{OWN, good.substr(0, 0x3005)}, modules}, true,
		    none },
		{ "hostile offset", {{OWN, hostile}, modules}, true, none },
		{ "not x86", {{OWN, arm}, modules}, true, none },
		{ "a FIFO", {{OWN, "FIFO"}, modules}, true, none },
		{ "a link", {{"/boot/image", good}, {OWN, "LINK:image"},
		    modules}, true, none },
		{ "truncated, an older one", {{OWN, good.substr(0, 0x3005)},
		    modules, older[0]}, true, none_own },
		{ "under another name", {{"/boot/vmlinuz-linux", good},
		    modules}, true, current },
		{ "a name is no release", {{"/boot/vmlinuz-9.9", good},
		    modules}, true, current },
		{ "its own name wins", {{OWN, rebuilt}, {OWN + ".bak", good},
		    modules}, true, another },
		{ "or any copy of the build", {{"/boot/vmlinuz-linux",
		    rebuilt}, {"/boot/vmlinuz-linux-copy", good}, modules},
		    true, current },
		{ "texts made safe", {{OWN, good}, modules, {"/boot/vmlinuz-7",
		    boot_image("7.0\x1b[31m\\ (x) #1")}}, true,
		    running + ", 7.0\\033[31m\\\\ is installed: reboot\n" },
	};
	for (const auto &c : cases) {
		std::string root = kernel_root(c.files);
		running_kernel(KERNEL_BY_VMLINUZ, R, DEB_BUILD, c.modular);
		Result r = kernel_walk();
		EXPECT_EQ(r.out, c.line) << c.what;
		EXPECT_EQ(r.status, 1) << c.what << ": no process selected";
		remove_root(root);
	}

	// A huge image: only its start is read.  Then the documents.
	std::string root = kernel_root({{OWN, good}, modules});
	ASSERT_EQ(truncate((root + OWN).c_str(), 8LL << 30), 0);
	running_kernel(KERNEL_BY_VMLINUZ, R, DEB_BUILD);
	EXPECT_EQ(kernel_walk().out, current);
	EXPECT_EQ(kernel_walk({"--libxo=json"}).out, "{\"__version\": \"2\", "
	    "\"stalewatch\": {\"kernel\": {\"running\":\"" + R + "\","
	    "\"installed\":\"" + R + "\",\"status\":\"current\"}, "
	    "\"process\": []}}\n");
	remove_root(root);
	kernel_root_path = "/nonexistent";
	EXPECT_EQ(kernel_walk({"--libxo=xml"}).out, "<stalewatch version=\"2\">"
	    "<kernel><running>" + R + "</running><status>unknown</status>"
	    "<reason>no readable image in /boot</reason></kernel>"
	    "</stalewatch>");
	// What the platform could not say.
	running_kernel(KERNEL_BY_VMLINUZ, R, "");
	EXPECT_EQ(kernel_walk().out, "kernel: installed version unknown (the "
	    "running kernel's build is unknown)\n");
	for (const char *bad : {"", "..", "6.1/../../x"}) {
		running_kernel(KERNEL_BY_VMLINUZ, bad, DEB_BUILD);
		EXPECT_EQ(kernel_walk({"--libxo=json"}).out, "{\"__version\": "
		    "\"2\", \"stalewatch\": {\"kernel\": {\"status\":\"unknown\","
		    "\"reason\":\"the running kernel's release is unknown\"}, "
		    "\"process\": []}}\n") << bad;
	}
}

// The start of a FreeBSD kernel of the given version.
std::string bsd_kernel(const std::string &word)
{
	using namespace std::string_literals;
	return "\x7f" "ELF"s + std::string(100, '\0') + "@(#)$FreeBSD$\0"s +
	    "@(#)FreeBSD " + word + " GENERIC amd64\0more"s;
}

TEST_F(FakePlatform, KernelStatusOfFreeBSDsLoaderConf)
{
	const std::string DEFAULTS = "# the defaults\nkernel=\"kernel\"\t"
	    "# /boot/kernel\nbootfile=\"kernel\"\nverbose_loading=\"NO\"\n";
	const std::string P5 = bsd_kernel("14.1-RELEASE-p5");
	const std::string P6 = bsd_kernel("14.1-RELEASE-p6");
	const std::string running = "kernel 14.1-RELEASE-p5 is running";
	const std::string current = running + " and installed\n";
	const std::string to_p6 = running + ", 14.1-RELEASE-p6 is installed: "
	    "reboot\n";
	const std::string unknown = "kernel: installed version unknown (";
	const std::string unread = unknown + "no readable image in /boot: "
	    "/boot/kernel/kernel)\n";
	const std::pair<std::string, std::string> defaults = {
	    "/boot/defaults/loader.conf", DEFAULTS};
	std::string at_seam = std::string(65536 - 9, 'x') + P6;
	struct {
		const char *what;
		std::vector<std::pair<std::string, std::string>> files;
		std::string line;
	} cases[] = {
		{ "current", {defaults, {"/boot/kernel/kernel", P5}}, current },
		{ "newer", {defaults, {"/boot/kernel/kernel", P6}}, to_p6 },
		{ "older", {defaults, {"/boot/kernel/kernel",
		    bsd_kernel("14.1-RELEASE-p4")}}, running +
		    ", 14.1-RELEASE-p4 is installed: reboot\n" },
		{ "no loader.conf", {{"/boot/kernel/kernel", P5}}, current },
		{ "loader.conf names another", {defaults, {"/boot/loader.conf",
		    "kernel=\"kernel.new\"\n"}, {"/boot/kernel/kernel", P5},
		    {"/boot/kernel.new/kernel", P6}}, to_p6 },
		{ "loader.conf.local wins", {defaults, {"/boot/loader.conf",
		    "kernel=\"kernel.new\"\n"}, {"/boot/loader.conf.local",
		    "  kernel = kernel.old # back\n"}, {"/boot/kernel.new/kernel",
		    P6}, {"/boot/kernel.old/kernel", P5}}, current },
		{ "the later line wins", {{"/boot/loader.conf",
		    "kernel=\"kernel.old\"\nkernel=\"kernel.new\""},
		    {"/boot/kernel.old/kernel", P5},
		    {"/boot/kernel.new/kernel", P6}}, to_p6 },
		{ "not assignments", {{"/boot/loader.conf", "#kernel=\"kernel."
		    "new\"\nkernel_options=\"x\"\nkernel=\"kernel new\"\n"},
		    {"/boot/kernel/kernel", P5}, {"/boot/kernel.new/kernel", P6}},
		    current },
		{ "bootfile", {defaults, {"/boot/loader.conf",
		    "bootfile=kernel.bin\n"}, {"/boot/kernel/kernel", P5},
		    {"/boot/kernel/kernel.bin", P6}}, to_p6 },
		{ "across a chunk", {{"/boot/kernel/kernel", at_seam}}, to_p6 },
		{ "missing", {{"/boot/loader.conf", "kernel=\"kernel.new\"\n"},
		    {"/boot/kernel/kernel", P5}}, unknown + "no readable image "
		    "in /boot: /boot/kernel.new/kernel)\n" },
		{ "a link", {{"/boot/kernel/real", P5},
		    {"/boot/kernel/kernel", "LINK:real"}}, unread },
		{ "a FIFO", {{"/boot/kernel/kernel", "FIFO"}}, unread },
		{ "no version", {{"/boot/kernel/kernel", "\x7f" "ELF @(#)"
		    "$FreeBSD$ FreeBSD 14.1-RELEASE"}}, unknown + "no version "
		    "string in /boot/kernel/kernel)\n" },
		{ "outside /boot", {{"/boot/loader.conf", "kernel=\"../../etc\""
		    "\n"}, {"/boot/kernel/kernel", P5}}, unknown + "loader.conf "
		    "names a kernel outside /boot)\n" },
		{ "too large", {{"/boot/loader.conf", std::string(5 << 20, '#')},
		    {"/boot/kernel/kernel", P5}}, unknown + "loader.conf cannot "
		    "be read)\n" },
	};
	for (const auto &c : cases) {
		std::string root = kernel_root(c.files);
		running_kernel(KERNEL_BY_LOADER, "14.1-RELEASE-p5", "");
		EXPECT_EQ(kernel_walk().out, c.line) << c.what;
		remove_root(root);
	}

	// The version past the bound is not seen: a kernel is read in part.
	std::string root = kernel_root({{"/boot/kernel/kernel", ""}});
	FILE *out = fopen((root + "/boot/kernel/kernel").c_str(), "wb");
	fseeko(out, (off_t)KERNEL_SCAN_MAX + 16, SEEK_SET);
	fwrite(P6.data(), 1, P6.size(), out);
	fclose(out);
	running_kernel(KERNEL_BY_LOADER, "14.1-RELEASE-p5", "");
	EXPECT_EQ(kernel_walk({"--libxo=json"}).out, "{\"__version\": \"2\", "
	    "\"stalewatch\": {\"kernel\": {\"running\":\"14.1-RELEASE-p5\","
	    "\"status\":\"unknown\",\"reason\":\"no version string in "
	    "/boot/kernel/kernel\"}, \"process\": []}}\n");
	// Inside a jail: the host's kernel, whatever the jail's /boot holds.
	running_kernel(KERNEL_BY_LOADER, "14.1-RELEASE-p5", "", false,
	    "a jail runs the host's kernel");
	EXPECT_EQ(kernel_walk().out, unknown + "a jail runs the host's "
	    "kernel)\n");
	remove_root(root);
}

TEST_F(FakePlatform, KernelPartComesFirstAndChangesNothingElse)
{
	const std::string R = DEB_RELEASE;
	std::string root = kernel_root({{"/boot/vmlinuz-" + R,
	    deb_image(R, DEB_BUILD)}, {"/lib/modules/" + R, "DIR"}});
	running_kernel(KERNEL_BY_VMLINUZ, R, DEB_BUILD);
	procs = {stale(20, SERVICE_UNIT, "web.service"),
	    stale(30, SERVICE_NONE, "")};
	// What -k adds in each style, and where.
	struct {
		std::vector<std::string> args;
		const char *after;
		std::string part;
	} styles[] = {
		{ {}, "", "kernel " + R + " is running and installed\n" },
		{ {"--libxo=json"}, "\"stalewatch\": {", "\"kernel\": "
		    "{\"running\":\"" + R + "\",\"installed\":\"" + R + "\","
		    "\"status\":\"current\"}, " },
		{ {"--libxo=xml"}, "<stalewatch version=\"2\">", "<kernel>"
		    "<running>" + R + "</running><installed>" + R +
		    "</installed><status>current</status></kernel>" },
		{ {"--libxo=html"}, "", "<div class=\"line\"><div class=\"text\">"
		    "kernel </div><div class=\"data\" data-tag=\"running\">" + R +
		    "</div><div class=\"text\"> is running and installed</div>"
		    "</div>" },
	};
	// By process and by service, with and without header, all or one.
	for (int mode = 0; mode < 4; mode++) {
		struct settings s = mode % 2 == 0 ? plain() : by_service();
		s.no_header = mode >= 2;
		for (const auto &st : styles) {
			std::vector<std::string> args = st.args;
			if (mode == 3)
				args.push_back("30");
			Result without = run_walk(args, s);
			struct settings k = s;
			k.kernel = true;
			Result with = run_walk(args, k);
			std::string want = without.out;
			size_t at = want.find(st.after);
			ASSERT_NE(at, std::string::npos) << want;
			want.insert(at + strlen(st.after), st.part);
			EXPECT_EQ(with.out, want) << "mode " << mode;
			EXPECT_EQ(with.status, without.status);
			EXPECT_EQ(with.err, without.err);
		}
	}
	EXPECT_EQ(kernel_walk({"99"}).status, 1) << "the status is the walk's";
	remove_root(root);
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

void kernel_running(struct kernel_running *kr)
{
	*kr = fake_kernel;
	kr->root = kernel_root_path.c_str();
}
