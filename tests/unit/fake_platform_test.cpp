/* SPDX-License-Identifier: BSD-2-Clause */
// The walk, the check and the report over a scripted platform: what real
// processes cannot show on demand (a process exiting at the wrong moment,
// kill failing for lack of permission, oversized paths and argument
// blocks, failing queries).

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
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
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "check.h"
#include "hints.h"
#include "inroot.h"
#include "kernel.h"
#include "kernel_image.h"
#include "layers.h"
#include "libdirs.h"
#include "lookup.h"
#include "mounts.h"
#include "procinfo.h"
#include "pidfile.h"
#include "rcscript.h"
#include "service.h"
#include "starttime.h"
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
	int exe_errno = 0;		// proc_exe_file's failure, 0: success
	uint64_t exe_dev = 0xdead, exe_ino = 7;	// and its answer
	std::string exe_name;		// empty: the kernel has none
	bool shares_root = true;	// what proc_shares_root says
	// The names that the probes find, one each, the last one staying:
	// a process that started other programs after it was listed (the
	// queries above answer for the program it runs now).  None: the
	// name listed.
	std::vector<std::string> probe_comms;
	pid_t sid = 50;			// its session
	std::string root;		// its root, when not jail_root
	time_t start = 0;		// when it started, 0: not known
};

std::vector<FakeProc> procs;
int list_errno;		// procstat_getprocs fails with this when set
const char *hidden;	// what proc_hidden says
std::string jail_root;	// the root of a process that names none
int open_errno;		// procstat_open_sysctl fails with this when set
bool jail_root_fails;	// or that the jail is not found
// What proc_library_dirs says, NULL-terminated lists, when one is set.
const char *libdirs[4], *libtrees[4], *libhints[4];
// The nullfs mounts that proc_mounts lists besides mounts: the device
// through a mount, the folder it shows.
std::vector<std::pair<uint64_t, std::string>> layers;
struct proc_limits limits;	// what proc_limits says
struct FakeMount {
	std::string path, fstype;
	uint64_t dev;
};
std::vector<FakeMount> mounts;	// what proc_mounts lists
int mounts_errno;		// proc_mounts fails with this when set
struct kernel_running fake_kernel;	// what kernel_running says
std::string kernel_root_path;	// its root

// What the walk asked of the platform.  The walk runs in a child, so the
// counts live in memory shared with it.
struct Counts {
	int path_queries, args_queries, map_queries, maps_freed, probes;
	int service_queries, root_queries;
	int exe_queries, shares_root_queries;
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

// A folder with the given files, as the root of a system: a file's
// text, "DIR" for a folder, "FIFO" for a named pipe, "LINK:" or "-> "
// and its text for a link.  Folders are 0755 whatever the umask, and a
// script ("#!") can be run.
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
		size_t link = f.second.compare(0, 5, "LINK:") == 0 ? 5 :
		    f.second.compare(0, 3, "-> ") == 0 ? 3 : 0;
		if (link != 0) {
			if (symlink(f.second.c_str() + link, path.c_str()) != 0)
				abort();
			continue;
		}
		FILE *out = fopen(path.c_str(), "w");
		fwrite(f.second.data(), 1, f.second.size(), out);
		fclose(out);
		chmod(path.c_str(), f.second.compare(0, 2, "#!") == 0 ? 0755 :
		    0644);
	}
	return root;
}

// A document of the report by service without the lists of files that
// are gone, for the tests of how services are named.
std::string without_files(const std::string &doc)
{
	static const std::regex json(", \"file\": \\[[^\\]]*\\]");
	static const std::regex xml("<file>(?:(?!</file>).)*</file>");
	return std::regex_replace(std::regex_replace(doc, json, ""), xml, "");
}

void remove_tree(const std::string &root)
{
	std::string rm = "rm -rf " + root;
	if (system(rm.c_str()) != 0)
		abort();
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
		jail_root_fails = false;
		libdirs[0] = libtrees[0] = libhints[0] = nullptr;
		layers.clear();
		limits = {true, -1, true, true, false};
		mounts.clear();
		mounts_errno = 0;
		memset(&fake_kernel, 0, sizeof(fake_kernel));
		kernel_root_path = "/nonexistent";
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
	    "\"daemon\",\"why\":\"bin\",\"arguments\":\"daemon\", \"file\": "
	    "[{\"device\":57005,\"inode\":7,\"state\":\"unknown\"}]}]}}\n");
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
	// silent.  The exit status does not change.  A refusal is named by
	// the setting that made it, where one did: init's map at a raised
	// securelevel (even to root), any map for a user while
	// unprivileged_proc_debug is 0 (the path query is no debugging).
	const char *one = "stalewatch: 1 process not examined: "
	    "permission denied\n";
	const struct proc_limits none = {true, -1, true, true, false};
	const struct proc_limits level1 = {true, 1, true, true, false};
	const struct proc_limits level2 = {true, 2, true, true, false};
	const struct proc_limits user_level1 = {false, 1, true, true, false};
	const struct proc_limits no_debug = {false, -1, false, true, false};
	const struct proc_limits root_no_debug = {true, 1, false, true, false};
	struct {
		pid_t pid;
		int path_errno;
		int map_errno;		// 0: the map is read
		struct proc_limits limits;
		const char *err;
	} cases[] = {
		{100, EACCES, 0, none, one},
		{100, EPERM, 0, none, one},
		{100, ESRCH, 0, none, ""},
		{100, EINVAL, 0, none, ""},
		{100, 0, EACCES, none, one},
		{100, 0, ESRCH, none, ""},
		{1, 0, EPERM, level1, "stalewatch: 1 process not examined: "
		    "kern.securelevel is 1\n"},
		{1, 0, EPERM, level2, "stalewatch: 1 process not examined: "
		    "kern.securelevel is 2\n"},
		{1, 0, EPERM, none, one},
		{100, 0, EPERM, level1, one},
		{1, 0, EPERM, user_level1, one},
		{1, EPERM, 0, level1, one},
		{100, 0, EPERM, no_debug, "stalewatch: 1 process not examined: "
		    "security.bsd.unprivileged_proc_debug is 0\n"},
		{1, 0, EPERM, no_debug, "stalewatch: 1 process not examined: "
		    "security.bsd.unprivileged_proc_debug is 0\n"},
		{100, EPERM, 0, no_debug, one},
		{100, 0, EACCES, no_debug, one},
		{1, 0, EPERM, root_no_debug, "stalewatch: 1 process not examined: "
		    "kern.securelevel is 1\n"},
		{100, 0, ENOMEM, none, "stalewatch: 1 process not examined: "
		    "no room for the memory map\n"},
		{1, 0, EBUSY, level1, "stalewatch: 1 process not examined: "
		    "starting a program\n"},
	};
	for (const auto &c : cases) {
		procs.clear();
		limits = c.limits;
		FakeProc p;
		p.pid = c.pid;
		p.path_errno = c.path_errno;
		p.map_fails = c.map_errno != 0;
		p.map_errno = c.map_errno;
		p.map.push_back(vm(KVME_TYPE_VNODE, RX, ""));
		procs.push_back(p);
		for (const char *style : {"--libxo=text", "--libxo=json"}) {
			Result r = run_walk({style});
			EXPECT_EQ(r.status, 0);
			EXPECT_EQ(r.out.find("daemon"), std::string::npos)
			    << strerror(c.path_errno) << r.out;
			// The process is named after the cause.
			std::string want = c.err;
			if (!want.empty())
				want.insert(want.size() - 1, " (pid " +
				    std::to_string(c.pid) + ")");
			EXPECT_EQ(r.err, want) << c.pid << " " <<
			    strerror(c.path_errno) << " " << strerror(c.map_errno);
		}
	}
	procs.clear();
	limits = level1;
	for (pid_t pid : {1, 100, 101, 102}) {
		FakeProc p;
		p.pid = pid;
		p.path_errno = pid == 101 || pid == 1 ? 0 : EACCES;
		p.map_fails = pid == 1;
		p.map_errno = EPERM;
		procs.push_back(p);
	}
	EXPECT_EQ(run_walk({}).err, "stalewatch: 2 processes not examined: "
	    "permission denied (pids 100 and 102)\nstalewatch: 1 process not "
	    "examined: kern.securelevel is 1 (pid 1)\n");
	// The first three are named, in the order of the list.
	limits = {true, -1, true, true, false};
	procs.erase(procs.begin());
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
	    "<why>bin</why><arguments></arguments><file><device>57005</device>"
	    "<inode>7</inode><state>unknown</state></file></process>"
	    "</stalewatch>");
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

// A hints file as ldconfig writes it: the header, then a string table
// that holds the folder list (with its NUL unless cut is set).
std::string hints_file(const std::string &list, uint32_t version = 1,
    bool cut = false)
{
	uint32_t head[32] = {};
	head[0] = 0x746e6845;		// magic
	head[1] = version;
	head[2] = sizeof(head);		// the string table
	head[3] = (uint32_t)list.size() + 1;
	head[4] = 0;			// the list, in the string table
	head[5] = (uint32_t)list.size();
	std::string file(reinterpret_cast<const char *>(head), sizeof(head));
	file += list;
	if (!cut)
		file += std::string(1, '\0');
	return file;
}

struct file_id_t {
	uint64_t dev, ino;
};

file_id_t id_of(const std::string &path)
{
	struct stat st;
	if (stat(path.c_str(), &st) != 0)
		abort();
	return {(uint64_t)st.st_dev, (uint64_t)st.st_ino};
}

TEST_F(FakePlatform, NamesLostByTheKernelCacheAreConfirmed)
{
	// Where the kernel names mapped files from a cache, a nameless one
	// may still exist: the executable itself, or a library still in a
	// library folder below the process's root (a jailed process: its
	// jail's, read without following a link out of it).  Only a file
	// found nowhere gives a row, and a failing query gives none.
	char dir[] = "/tmp/swlibdirXXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	std::string exe = std::string(dir) + "/daemon";
	std::string lib = std::string(dir) + "/libpresent.so.1";
	for (const std::string &f : {exe, lib})
		fclose(fopen(f.c_str(), "w"));
	const file_id_t x = id_of(exe), l = id_of(lib);
	const uint64_t xdev = x.dev, xino = x.ino, ldev = l.dev, lino = l.ino;
	// An inode that neither file has (the two may come in any order).
	const uint64_t gone = std::max(xino, lino) + 1;
	// A jail: its executable, a library in a folder the runtime linker
	// searches, one in a folder its hints name, a plugin in a tree, one
	// reached by an absolute link that stays in the jail, and links that
	// would lead out of it, to the host's library.
	std::string root = make_root({{"/usr/sbin/daemon", "exe"},
	    {"/lib/libc.so.7", "c"},
	    {"/opt/lib/libhinted.so.1", "h"},
	    {"/usr/local/lib/php/20220829/opcache.so", "o"},
	    {"/opt/real/abs-1.0", "a"},
	    {"/lib/libabs.so.1", "LINK:/opt/real/abs-1.0"},
	    {"/lib/libout.so.1", "LINK:" + lib},
	    {"/lib/libup.so.1", "LINK:../../../../../../../../.." + lib},
	    {"/var/run/host.hints", "LINK:" + std::string(dir) + "/hints"}});
	const std::string jexe = root + "/usr/sbin/daemon";
	const file_id_t jx = id_of(jexe), jc = id_of(root + "/lib/libc.so.7"),
	    jh = id_of(root + "/opt/lib/libhinted.so.1"),
	    jo = id_of(root + "/usr/local/lib/php/20220829/opcache.so"),
	    ja = id_of(root + "/opt/real/abs-1.0");
	// A nullfs mount over the jail: the map gives the device below.
	const uint64_t below = id_of("/proc").dev;
	ASSERT_NE(below, jc.dev);
	const std::string good = hints_file("/nonexistent:/opt/lib");
	struct Case {
		const char *what;
		int jid;
		std::vector<kinfo_vmentry> map;
		int path_errno, map_errno;
		const char *row, *err;
		std::string hints;	// the jail's hints file, "" for none
		int nullfs;		// the jail's files are seen through nullfs;
					// 2: the folder it shows lies on a file
					// system that may never answer
	} cases[] = {
		{"the executable's own text", 0, {vm(KVME_TYPE_VNODE, RX, "", xdev, xino)},
		    0, 0, nullptr, "", good, false},
		{"a library still in a library directory", 0,
		    {vm(KVME_TYPE_VNODE, RX, "", ldev, lino)}, 0, 0, nullptr, "", good,
		    false},
		{"a library found nowhere", 0, {vm(KVME_TYPE_VNODE, RX, "", ldev, lino),
		    vm(KVME_TYPE_VNODE, RX, "", ldev, gone)}, 0, 0, ".so", "", good,
		    false},
		{"attributes not valid", 0,
		    {vm(KVME_TYPE_VNODE, RX, "", ldev, gone, 0)}, 0, 0, nullptr, "",
		    good, false},
		{"map refused", 0, {}, 0, EPERM, nullptr,
		    "stalewatch: 1 process not examined: permission denied "
		    "(pid 100)\n", good,
		    false},
		{"map busy in exec", 0, {}, 0, EBUSY, nullptr,
		    "stalewatch: 1 process not examined: starting a program "
		    "(pid 100)\n", good,
		    false},
		{"path cut", 0, {vm(KVME_TYPE_VNODE, RX, "", ldev, gone)}, ENOMEM,
		    0, ".so", "", good, false},
		{"forced unmount", 0, {vm(KVME_TYPE_VNODE, RX, "")}, EBADF, 0, nullptr,
		    "", good, false},
		{"jailed: its own text", 3, {vm(KVME_TYPE_VNODE, RX, "", jx.dev, jx.ino)},
		    0, 0, nullptr, "", good, false},
		{"jailed: its jail's library, a plugin, one its hints name, one "
		    "behind an absolute link", 3,
		    {vm(KVME_TYPE_VNODE, RX, "", jc.dev, jc.ino),
		    vm(KVME_TYPE_VNODE, RX, "", jo.dev, jo.ino),
		    vm(KVME_TYPE_VNODE, RX, "", jh.dev, jh.ino),
		    vm(KVME_TYPE_VNODE, RX, "", ja.dev, ja.ino)}, 0, 0, nullptr, "",
		    good, false},
		{"jailed: the host's library, which links in the jail name", 3,
		    {vm(KVME_TYPE_VNODE, RX, "", ldev, lino)}, 0, 0, ".so", "", good,
		    false},
		{"jailed: hints of another version", 3,
		    {vm(KVME_TYPE_VNODE, RX, "", jh.dev, jh.ino)}, 0, 0, ".so", "",
		    hints_file("/opt/lib", 2), false},
		{"jailed: hints whose list has no NUL", 3,
		    {vm(KVME_TYPE_VNODE, RX, "", jh.dev, jh.ino)}, 0, 0, ".so", "",
		    hints_file("/opt/lib", 1, true), false},
		{"jailed: hints cut short in the header", 3,
		    {vm(KVME_TYPE_VNODE, RX, "", jh.dev, jh.ino)}, 0, 0, ".so", "",
		    good.substr(0, 20), false},
		{"jailed: hints a link out of the jail", 3,
		    {vm(KVME_TYPE_VNODE, RX, "", jh.dev, jh.ino)}, 0, 0, ".so", "",
		    "LINK:/var/run/host.hints", false},
		{"jailed on nullfs: its own text", 3,
		    {vm(KVME_TYPE_VNODE, RX, "", below, jx.ino)}, 0, 0, nullptr, "",
		    good, true},
		{"jailed on nullfs: its jail's library", 3,
		    {vm(KVME_TYPE_VNODE, RX, "", below, jc.ino),
		    vm(KVME_TYPE_VNODE, RX, "", below, jo.ino)}, 0, 0, nullptr, "",
		    good, true},
		{"jailed on nullfs, the mount not known", 3,
		    {vm(KVME_TYPE_VNODE, RX, "", below, jc.ino)}, 0, 0, ".so", "",
		    good, false},
		{"jailed on nullfs, the folder below never answers", 3,
		    {vm(KVME_TYPE_VNODE, RX, "", below, jc.ino)}, 0, 0, ".so",
		    "stalewatch: 1 file not examined: on a file system that may "
		    "never answer (/proc)\n", good, 2},
	};
	// The host's hints, which the jail's link would reach, name the
	// jail's folder: followed, it would hide the row.
	FILE *h = fopen((std::string(dir) + "/hints").c_str(), "w");
	fwrite(good.data(), 1, good.size(), h);
	fclose(h);
	for (const Case &c : cases) {
		SetUp();
		jail_root = root;
		// The host's folders for the host, the jail's for the jail: a
		// host process is never compared with the files of the machine
		// that runs the test.
		libdirs[0] = c.jid == 0 ? dir : "/lib";
		libdirs[1] = nullptr;
		libtrees[0] = c.jid == 0 ? nullptr : "/usr/local/lib";
		libhints[0] = "/var/run/ld-elf.so.hints";
		std::string hpath = root + libhints[0];
		unlink(hpath.c_str());
		if (c.hints.compare(0, 5, "LINK:") == 0)
			ASSERT_EQ(symlink(c.hints.c_str() + 5, hpath.c_str()), 0);
		else if (!c.hints.empty()) {
			FILE *out = fopen(hpath.c_str(), "w");
			fwrite(c.hints.data(), 1, c.hints.size(), out);
			fclose(out);
		}
		if (c.nullfs)
			layers.push_back({jc.dev, "/proc"});
		if (c.nullfs == 2)
			mounts.push_back({"/proc", "fuse.silent", 0});
		FakeProc p;
		p.jid = c.jid;
		p.path = c.jid == 0 ? exe : jexe;
		p.path_errno = c.path_errno;
		p.map = c.map;
		p.map_fails = c.map_errno != 0;
		p.map_errno = c.map_errno;
		procs.push_back(p);
		struct settings s = plain();
		s.no_header = true;
		Result r = run_walk({}, s);
		char head[64];
		snprintf(head, sizeof(head), "  100 %5d root         daemon       .so ",
		    c.jid);
		EXPECT_EQ(r.out, c.row == nullptr ? "" : head +
		    p.path.substr(0, c.path_errno == ENOMEM ? 10 : p.path.size()) +
		    "\n") << c.what;
		EXPECT_EQ(r.err, c.err) << c.what;
	}
	unlink((std::string(dir) + "/hints").c_str());
	unlink(exe.c_str());
	unlink(lib.c_str());
	rmdir(dir);
	remove_tree(root);
}

TEST_F(FakePlatform, LibraryTablesSayWhenTheyAreNotComplete)
{
	// A tree is read LIBDEPTH_MAX folders deep, at most LAYERS_MAX
	// nullfs mounts are known, and a jail's root is opened only along
	// names that are no links: past a bound, or without its root, a
	// library may not be found, and a warning says so.
	std::string deep = "/usr/local/lib";
	for (int i = 1; i < LIBDEPTH_MAX; i++)
		deep += "/d" + std::to_string(i);
	std::string deeper = deep + "/d" + std::to_string(LIBDEPTH_MAX);
	std::string root = make_root({{deeper + "/libin.so.1", "i"},
	    {deeper + "/d/libout.so.1", "o"},
	    {"/opt/lib/libhinted.so.1", "h"},
	    {"/linked", "LINK:" + std::string("/tmp")}});
	const file_id_t in = id_of(root + deeper + "/libin.so.1");
	const file_id_t out = id_of(root + deeper + "/d/libout.so.1");
	const file_id_t hinted = id_of(root + "/opt/lib/libhinted.so.1");
	// Hints whose folder list is as long as is read, and longer: the
	// folders that fit whole are read.
	std::string list = "/opt/lib:/" + std::string(HINTS_LIST_MAX - 10, 'x');
	const std::string fits = hints_file(list);
	const std::string longer = hints_file(list + "y");
	const std::string folders = "stalewatch: library folders not read in "
	    "full: at most " + std::to_string(LIBFILES_MAX) + " files, " +
	    std::to_string(LIBFOLDERS_MAX) + " folders " +
	    std::to_string(LIBDEPTH_MAX) + " deep and " +
	    std::to_string(LIBROOTS_MAX) + " roots are read, so a \".so\" "
	    "row may be of a library still there\n";
	const std::string mounts = "stalewatch: 1 mount of a folder at another "
	    "place not known (at most " + std::to_string(LAYERS_MAX) + " are): "
	    "a \".so\" row may be of a library still there\n";
	const std::string unopened = "stalewatch: the root of 1 jail could "
	    "not be found or opened: a \".so\" row of its processes may be of "
	    "a library still there\n";
	const char *row = "  100     3 root         daemon       .so "
	    "/usr/sbin/daemon\n";
	struct {
		const char *what;
		file_id_t lib;
		const char *root;	// below the test's root; NULL: not found
		unsigned int layers;
		const char *row;
		std::string err;
		std::string hints;	// its hints file, "": none and the tree
	} cases[] = {
		{"as deep as read", in, "", 0, nullptr, folders, ""},
		{"deeper", out, "", 0, row, folders, ""},
		{"as many mounts as known", in, "", LAYERS_MAX, nullptr, folders, ""},
		{"more", in, "", LAYERS_MAX + 1, nullptr, folders + mounts, ""},
		{"a root along a link", in, "/linked", 0, row, unopened, ""},
		{"a jail not found", in, nullptr, 0, row, unopened, ""},
		{"hints as long as read", hinted, "", 0, nullptr, "", fits},
		{"hints longer", hinted, "", 0, nullptr, folders, longer},
	};
	for (const auto &c : cases) {
		SetUp();
		jail_root = root + (c.root != nullptr ? c.root : "");
		jail_root_fails = c.root == nullptr;
		libtrees[0] = c.hints.empty() ? "/usr/local/lib" : nullptr;
		libtrees[1] = nullptr;
		libhints[0] = "/var/run/ld-elf.so.hints";
		libhints[1] = nullptr;
		mkdir((root + "/var").c_str(), 0755);
		mkdir((root + "/var/run").c_str(), 0755);
		FILE *h = fopen((root + libhints[0]).c_str(), "w");
		fwrite(c.hints.data(), 1, c.hints.size(), h);
		fclose(h);
		// Devices no file has.
		for (unsigned int i = 0; i < c.layers; i++)
			layers.push_back({(1ull << 40) + i, "/"});
		FakeProc p;
		p.jid = 3;
		p.map.push_back(vm(KVME_TYPE_VNODE, RX, "", c.lib.dev, c.lib.ino));
		procs.push_back(p);
		struct settings s = plain();
		s.no_header = true;
		Result r = run_walk({}, s);
		EXPECT_EQ(r.out, c.row != nullptr ? c.row : "") << c.what;
		EXPECT_EQ(r.err, c.err) << c.what;
	}
	remove_tree(root);
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
	// programs gives no row, and is named as not examined.
	struct Case {
		const char *what;
		int path_errno;
		std::vector<std::string> probe_comms;
		const char *row;	// nullptr: none
		int path_queries, probes;
		const char *err;
	} cases[] = {
		{"exec before the check", ENOENT, {"xsleep"},
		    "xsleep       bin xsleep", 2, 3, ""},
		{"exec after the argument query", ENOENT, {"python3", "xsleep"},
		    "xsleep       bin xsleep", 2, 4, ""},
		{"exec before the library check", 0, {"xsleep"},
		    "xsleep       .so /usr/local/bin/xsleep", 2, 2, ""},
		{"exec after exec", ENOENT, {"a", "b", "c", "d", "e", "f"},
		    nullptr, 3, 3, "stalewatch: 1 process not examined: "
		    "starting a program (pid 100)\n"},
		{"no exec", ENOENT, {}, "python3      bin xsleep", 1, 2, ""},
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
		EXPECT_EQ(r.err, c.err) << c.what;
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
		    "permission denied (pid 100)\nstalewatch: other users' processes "
		    "not examined: /proc is mounted with hidepid=2\n") << style;
	}
	// A user does not see its own processes in jails below its own
	// while security.bsd.see_jail_proc is 0: said when there are jails.
	const char *jails = "stalewatch: processes in jails not examined: "
	    "security.bsd.see_jail_proc is 0\n";
	hidden = "security.bsd.see_other_uids is 0";
	struct {
		struct proc_limits limits;
		const char *err;
	} cases[] = {
		{{false, -1, true, false, true}, jails},
		{{false, -1, true, false, false}, ""},
		{{true, -1, true, false, true}, ""},
		{{false, -1, true, true, true}, ""},
	};
	procs.clear();
	for (const auto &c : cases) {
		limits = c.limits;
		Result r = run_walk({});
		EXPECT_EQ(r.err, std::string("stalewatch: other users' processes "
		    "not examined: security.bsd.see_other_uids is 0\n") + c.err);
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
	// Each lists the files of its processes, each file once.
	const std::string exe = "<file><device>57005</device><inode>7</inode>"
	    "<state>unknown</state></file>";
	EXPECT_EQ(r.out, "<stalewatch version=\"2\"><service><name>-</name>"
	    "<kind>none</kind><jid>0</jid><why>bin</why><pid>40</pid>" + exe +
	    "</service><service><name>0123456789ab</name><kind>container"
	    "</kind><jid>0</jid><why>bin</why><root>/</root><pid>12</pid>" +
	    exe + "</service><service><name>web.service</name><kind>unit"
	    "</kind><jid>0</jid><why>bin,.so</why><root>/</root><pid>20</pid>"
	    "<pid>30</pid>" + exe +
	    "<file><device>57005</device><inode>1000000</inode><state>unknown"
	    "</state></file></service></stalewatch>");
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
	const std::pair<int32_t, const char *> widths[] = {
		{0, "SERVICE          JID PROCS WHY\n"
		    "caf\xc3\xa9.service       0     1 bin\n"
		    "x.service          0     1 bin\n"
		    "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.service     0     1 bin\n"},
		{32, "SERVICE        JID PROCS WHY\n"
		    "caf\xc3\xa9.service     0     1 bin\n"
		    "x.service        0     1 bin\n"
		    "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.servi     0     1 bin\n"},
	};
	for (const auto &w : widths) {
		s.termwidth = w.first;
		EXPECT_EQ(run_walk({}, s).out, w.second) << w.first;
	}
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
	const std::string exe = "<file><device>57005</device><inode>7</inode>"
	    "<state>unknown</state></file>";
	std::string root = "<root>" + jail_root + "</root>";
	EXPECT_EQ(r.out, "<stalewatch version=\"2\"><service><name>-</name>"
	    "<kind>none</kind><jid>0</jid><why>bin</why>" + root +
	    "<pid>400</pid>" + exe + "</service><service><name>pgsql</name>"
	    "<kind>rc</kind><jid>0</jid><why>bin</why>" + root + "<pid>301</pid>"
	    + exe + "</service><service><name>webd</name><kind>rc</kind><jid>0"
	    "</jid><why>bin</why>" + root + "<pid>201</pid><pid>202</pid>" + exe +
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
	EXPECT_EQ(without_files(r.out), expect);
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
	EXPECT_EQ(without_files(r.out),
	    "<stalewatch version=\"2\"><service><name>-</name>"
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
	EXPECT_EQ(without_files(r.out),
	    "{\"__version\": \"2\", \"stalewatch\": {\"service\": "
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


// The hints file's header as the runtime linker checks it: the whole
// header read, its magic and version, and a folder list (with its NUL)
// that lies in the file, in 32-bit offsets.
TEST(Hints, HeaderAndFolders)
{
	struct {
		const char *what;
		size_t n;		// bytes read of the header
		uint32_t magic, version, strtab, dirlist, dirlistlen;
		uint64_t filesize;
		int rc;
		uint64_t offset;
	} cases[] = {
		{"as ldconfig writes it", 128, 0x746e6845, 1, 128, 0, 20, 149, 0, 128},
		{"the list inside the table", 128, 0x746e6845, 1, 128, 7, 20, 156, 0,
		    135},
		{"no room for the NUL", 128, 0x746e6845, 1, 128, 0, 20, 148, -1, 0},
		{"a short read", 127, 0x746e6845, 1, 128, 0, 20, 149, -1, 0},
		{"the words read, not the rest", 24, 0x746e6845, 1, 128, 0, 20, 149,
		    -1, 0},
		{"nothing read", 0, 0x746e6845, 1, 128, 0, 20, 149, -1, 0},
		{"another byte order", 128, 0x45686e74, 1, 128, 0, 20, 149, -1, 0},
		{"version 0", 128, 0x746e6845, 0, 128, 0, 20, 149, -1, 0},
		{"version 2", 128, 0x746e6845, 2, 128, 0, 20, 149, -1, 0},
		{"a list past half the range", 128, 0x746e6845, 1, 128, 0,
		    0x80000000u, 1ull << 40, -1, 0},
		{"offsets past 32 bits", 128, 0x746e6845, 1, 0xffffff00u, 0x200, 4,
		    1ull << 40, -1, 0},
		{"an end past 32 bits", 128, 0x746e6845, 1, 0x7fffffff, 0x7fffffff,
		    0x7fffffff, 1ull << 40, -1, 0},
	};
	for (const auto &c : cases) {
		uint32_t head[32] = {c.magic, c.version, c.strtab, 999, c.dirlist,
		    c.dirlistlen};
		uint64_t offset = 0;
		uint32_t len = 0;
		EXPECT_EQ(hints_header(reinterpret_cast<unsigned char *>(head), c.n,
		    c.filesize, &offset, &len), c.rc) << c.what;
		if (c.rc == 0) {
			EXPECT_EQ(offset, c.offset) << c.what;
			EXPECT_EQ(len, c.dirlistlen) << c.what;
		}
	}
	struct {
		std::string list;
		std::vector<std::string> folders;
	} lists[] = {
		{"/lib:/usr/lib:/usr/local/lib", {"/lib", "/usr/lib", "/usr/local/lib"}},
		{"/a::relative:/b:", {"/a", "/b"}},
		{std::string("/a\0/b", 5), {"/a"}},
		{"", {}},
		{"/" + std::string(PATH_MAX, 'x') + ":/c", {"/c"}},
	};
	for (const auto &l : lists) {
		std::vector<std::string> got;
		hints_folders(l.list.data(), l.list.size(), [](void *ctx,
		    const char *f) {
			static_cast<std::vector<std::string> *>(ctx)->push_back(f);
		}, &got);
		EXPECT_EQ(got, l.folders) << l.list;
	}
}

// Start dates, which a step of the clock moves with the boot time, are
// compared as times since boot; a record that is not there (ESRCH) is a
// process that has gone, one the caller may not read is no answer.
TEST(StartTime, ComparedSinceTheBoot)
{
	const struct timeval boot[2] = {{100, 0}, {100, 0}};
	const struct timeval stepped[2] = {{100, 0}, {160, 0}};
	const struct timeval b100 = {100, 0}, b160 = {160, 0},
	    b159 = {159, 999999};
	struct {
		const char *what;
		struct timeval listed;
		const struct timeval *listed_boot;
		int kill_errno, record_errno;
		struct timeval now;
		const struct timeval *now_boot;
		int rc;
	} cases[] = {
		{"the same", {1000, 500000}, boot, 0, 0, {1000, 500000}, &b100, 0},
		{"gone", {1000, 500000}, boot, ESRCH, 0, {0, 0}, nullptr, -1},
		{"no record", {1000, 500000}, boot, EPERM, ESRCH, {0, 0}, nullptr, -1},
		{"a record not readable", {1000, 500000}, boot, 0, EPERM, {0, 0},
		    nullptr, 0},
		{"the clock stepped", {1000, 500000}, boot, 0, 0, {1060, 500000},
		    &b160, 0},
		{"stepped by a fraction", {1000, 500000}, boot, 0, 0,
		    {1060, 499999}, &b159, 0},
		{"another process", {1000, 500000}, boot, 0, 0, {1001, 0}, &b100, -1},
		{"another, the boot not known now", {1000, 500000}, boot, 0, 0,
		    {1060, 500000}, nullptr, -1},
		{"another, the listing's boot not known", {1000, 500000}, nullptr,
		    0, 0, {1060, 500000}, &b160, -1},
		{"listed before a step during the listing", {1000, 500000},
		    stepped, 0, 0, {1060, 500000}, &b160, 0},
		{"listed after it", {1060, 500000}, stepped, 0, 0, {1060, 500000},
		    &b160, 0},
		{"listed after it, stepped back since", {1060, 500000}, stepped, 0,
		    0, {1000, 500000}, &b100, 0},
		{"listed during it, another", {1030, 0}, stepped, 0, 0,
		    {1060, 500000}, &b160, -1},
	};
	for (const auto &c : cases) {
		struct sighting now = {c.kill_errno, c.record_errno, c.now,
		    c.now_boot};
		errno = 0;
		EXPECT_EQ(still_listed(&c.listed, c.listed_boot, &now), c.rc) <<
		    c.what;
		if (c.rc == -1) {
			EXPECT_EQ(errno, ESRCH) << c.what;
		}
	}
}

// Lookups below a root: links followed as the root's own processes would
// follow them (an absolute one from the root, ".." never above it),
// never out of it.
TEST(InRoot, LinksStayBelowTheRoot)
{
	std::string root = make_root({{"/a/b/file", "f"}, {"/etc/passwd", "p"},
	    {"/a/up", "LINK:../../../../../../etc"}, {"/abs", "LINK:/a/b"},
	    {"/loop", "LINK:loop"}, {"/a/b/self", "LINK:."}});
	ASSERT_EQ(symlink(root.c_str(), (root + "/a/back").c_str()), 0);
	int rootfd = root_open(root.c_str());
	ASSERT_NE(rootfd, -1);
	const file_id_t file = id_of(root + "/a/b/file");
	const file_id_t passwd = id_of(root + "/etc/passwd");
	struct {
		const char *path;
		int err;		// 0: found
		file_id_t id;
	} cases[] = {
		{"/a/b/file", 0, file},
		{"a/b/file", 0, file},
		{"/abs/file", 0, file},
		{"/a/b/self/self/file", 0, file},
		{"/a/b/../../a/./b/file", 0, file},
		{"/../../../a/b/file", 0, file},
		{"/a/up/passwd", 0, passwd},
		{"/a/b/../../../etc/passwd", 0, passwd},
		{"/a/back/a/b/file", ENOENT, {}},	// the host's path, in the root
		{"/loop", ELOOP, {}},
		{"/a/b/file/x", ENOTDIR, {}},
		{"/none", ENOENT, {}},
	};
	for (const auto &c : cases) {
		struct stat st;
		errno = 0;
		int rc = inroot_stat(rootfd, c.path, &st);
		EXPECT_EQ(rc, c.err == 0 ? 0 : -1) << c.path;
		EXPECT_EQ(errno, c.err) << c.path;
		if (rc == 0) {
			EXPECT_EQ((uint64_t)st.st_ino, c.id.ino) << c.path;
			EXPECT_EQ((uint64_t)st.st_dev, c.id.dev) << c.path;
		}
		int fd = inroot_open(rootfd, c.path, O_RDONLY);
		EXPECT_EQ(fd != -1, c.err == 0) << c.path;
		if (fd != -1)
			close(fd);
	}
	struct stat a, b;
	int fd = inroot_open(rootfd, "/", O_RDONLY | O_DIRECTORY);
	ASSERT_NE(fd, -1);
	ASSERT_EQ(fstat(fd, &a), 0);
	ASSERT_EQ(fstat(rootfd, &b), 0);
	EXPECT_EQ(a.st_ino, b.st_ino) << "the root itself";
	close(fd);
	close(rootfd);
	EXPECT_EQ(root_open((root + "/a/back").c_str()), -1);
	EXPECT_EQ(root_open((root + "/a/b/../b").c_str()), -1);
	errno = 0;
	EXPECT_EQ(root_open("relative"), -1);
	EXPECT_EQ(errno, EINVAL);
	remove_tree(root);
}

// A mapping of a file that is gone, with the name the kernel last gave
// it, as the Linux backend has it (FreeBSD's kernel keeps none).
kinfo_vmentry gone_vm(const char *name, uint64_t dev, uint64_t ino)
{
	kinfo_vmentry e = vm(KVME_TYPE_VNODE, RX, "", dev, ino);
#ifndef __FreeBSD__
	e.kve_gone_path = name;
#endif
	return e;
}

// The list of files of the JSON row, "" when the row has none.
std::string json_files(const std::string &out)
{
	size_t at = out.find(", \"file\": [");
	if (at == std::string::npos)
		return "";
	return out.substr(at + 10, out.find("]}", at) + 1 - at - 10);
}

TEST_F(FakePlatform, GoneFilesAreListedInTheEncodedStylesAlone)
{
	// As on FreeBSD: nameless mappings, known by their identity alone.
	FakeProc p;
	p.map = {vm(KVME_TYPE_VNODE, RX, "/lib/libc.so.7"),
	    vm(KVME_TYPE_VNODE, RX, "", 91, 11),
	    vm(KVME_TYPE_DEFAULT, RX, ""),
	    vm(KVME_TYPE_VNODE, RX, "", 91, 11),	// again: listed once
	    vm(KVME_TYPE_VNODE, KVME_PROT_READ, "", 91, 13),
	    vm(KVME_TYPE_VNODE, RX, "", 92, 12)};
	procs.push_back(p);
	Result r = run_walk({"--libxo=json"});
	EXPECT_EQ(json_files(r.out), "[{\"device\":91,\"inode\":11,\"state\":"
	    "\"unknown\"}, {\"device\":92,\"inode\":12,\"state\":\"unknown\"}]")
	    << r.out;
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(counts->shares_root_queries, 0) << "no path, no lookup";
	r = run_walk({"--libxo=xml"});
	EXPECT_NE(r.out.find("<arguments>/usr/sbin/daemon</arguments><file>"
	    "<device>91</device><inode>11</inode><state>unknown</state></file>"
	    "<file><device>92</device><inode>12</inode><state>unknown</state>"
	    "</file></process>"), std::string::npos) << r.out;
	// Text and HTML: the row as ever, and no query of the executable.
	r = run_walk({}, plain());
	EXPECT_EQ(r.out, std::string(HEADER) +
	    "  100     0 root         daemon       .so /usr/sbin/daemon\n");
	r = run_walk({"--libxo=html"}, plain());
	EXPECT_EQ(r.out.find("91"), std::string::npos) << r.out;
	EXPECT_EQ(counts->exe_queries, 0);
}

TEST_F(FakePlatform, BinaryRowListsTheExecutableFirst)
{
	FakeProc p;
	p.path_errno = ENOENT;
	p.exe_dev = 91;
	p.exe_ino = 7;
	p.map = {vm(KVME_TYPE_VNODE, RX, "", 91, 20),
	    vm(KVME_TYPE_VNODE, RX, "", 91, 7),		// the executable
	    vm(KVME_TYPE_VNODE, RX, "", 91, 21)};
	procs.push_back(p);
	const char *exe = "{\"device\":91,\"inode\":7,\"state\":\"unknown\"}";
	const char *rest = "{\"device\":91,\"inode\":20,\"state\":\"unknown\"}, "
	    "{\"device\":91,\"inode\":21,\"state\":\"unknown\"}";
	Result r = run_walk({"--libxo=json"});
	EXPECT_EQ(json_files(r.out), std::string("[") + exe + ", " + rest + "]");
	// -b: the executable alone; without its identity, the map alone.
	struct settings s = plain();
	s.only_binaries = true;
	memset(counts, 0, sizeof(*counts));
	r = run_walk({"--libxo=json"}, s);
	EXPECT_EQ(json_files(r.out), std::string("[") + exe + "]");
	EXPECT_EQ(counts->map_queries, 0);
	procs[0].exe_errno = ESRCH;
	r = run_walk({"--libxo=json"});
	EXPECT_EQ(json_files(r.out), "[{\"device\":91,\"inode\":20,\"state\":"
	    "\"unknown\"}, " + std::string(exe) + ", {\"device\":91,\"inode\":"
	    "21,\"state\":\"unknown\"}]");
	// Neither is asked for in the text style.
	memset(counts, 0, sizeof(*counts));
	r = run_walk({}, plain());
	EXPECT_EQ(counts->exe_queries + counts->map_queries, 0);
}

TEST_F(FakePlatform, StateOfTheGonePath)
{
	char dir[] = "/tmp/swgoneXXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	std::string d = dir;
	std::string now = d + "/libnew.so.1";
	fclose(fopen(now.c_str(), "w"));
	struct stat st;
	ASSERT_EQ(stat(now.c_str(), &st), 0);
	std::string missing = d + "/libgone.so.1";
	std::string below_file = now + "/libx.so";		// ENOTDIR
	std::string fuse = d + "/fuse/libf.so";
	std::string odd = d + "/a\nb\\c.so";
	std::string longer = d;
	for (int i = 0; i < 1100; i++)
		longer += i % 100 == 0 ? "/" : "\xc3\xa9";
	mounts = {{"/", "ext4", 1}, {d + "/fuse", "fuse.sshfs", 52}};
	FakeProc p;
	p.map = {gone_vm(now.c_str(), 91, 1), gone_vm(missing.c_str(), 91, 2),
	    gone_vm(below_file.c_str(), 91, 3), gone_vm(fuse.c_str(), 91, 4),
	    gone_vm(now.c_str(), st.st_dev, st.st_ino),	// there after all
	    gone_vm(odd.c_str(), 91, 6), gone_vm(longer.c_str(), 91, 7),
	    gone_vm("", 91, 8)};
	procs.push_back(p);
	Result r = run_walk({"--libxo=json"});
	auto file = [](const std::string &path, uint64_t dev, uint64_t ino,
	    const char *state) {
		return (path.empty() ? "{" : "{\"path\":\"" + path + "\",") +
		    "\"device\":" + std::to_string(dev) + ",\"inode\":" +
		    std::to_string(ino) + ",\"state\":\"" + state + "\"}";
	};
	// Cut to the 1023 bytes kept, back to the end of a character.
	std::string kept = longer.substr(0, 1023);
	if ((unsigned char)kept.back() == 0xc3)
		kept.pop_back();
	std::string want = "[" + file(now, 91, 1, "replaced") + ", " +
	    file(missing, 91, 2, "deleted") + ", " +
	    file(below_file, 91, 3, "deleted") + ", " +
	    file(fuse, 91, 4, "unknown") + ", " +
	    file(now, st.st_dev, st.st_ino, "unknown") + ", " +
	    file(d + "/a\\\\012b\\\\\\\\c.so", 91, 6, "deleted") + ", " +
	    file(kept, 91, 7, "deleted") + ", " +
	    file("", 91, 8, "unknown") + "]";
	EXPECT_EQ(json_files(r.out), want);
	EXPECT_EQ(counts->shares_root_queries, 1) << "asked once a process";
	// A process with a root of its own: its names are not looked up.
	procs[0].shares_root = false;
	r = run_walk({"--libxo=json"});
	EXPECT_EQ(json_files(r.out).find("\"replaced\""), std::string::npos);
	EXPECT_EQ(json_files(r.out).find("\"deleted\""), std::string::npos);
	unlink(now.c_str());
	rmdir(dir);
}

TEST_F(FakePlatform, ListsOfFilesAreBounded)
{
	FakeProc p;
	for (uint64_t i = 0; i < GONE_FILES_MAX + 4; i++)
		p.map.push_back(vm(KVME_TYPE_VNODE, RX, "", 91, 100 + i));
	procs = {p, p};
	procs[1].pid = 101;
	Result r = run_walk({"--libxo=json"});
	std::string files = json_files(r.out);
	EXPECT_EQ(std::count(files.begin(), files.end(), '{'), GONE_FILES_MAX);
	EXPECT_NE(files.find("\"inode\":115,"), std::string::npos);
	EXPECT_EQ(files.find("\"inode\":116,"), std::string::npos);
	EXPECT_EQ(r.err, "stalewatch: 2 processes list only the first 16 "
	    "files that are gone\n");
	EXPECT_EQ(run_walk({}).err, "") << "the text lists none";
	// A service lists the union of its processes' files, each once.
	procs = {stale(30, SERVICE_UNIT, "web.service"),
	    stale(31, SERVICE_UNIT, "web.service"),
	    stale(32, SERVICE_UNIT, "web.service")};
	procs[0].map = {vm(KVME_TYPE_VNODE, RX, "", 91, 50)};
	procs[1].path_errno = 0;
	procs[1].map = {vm(KVME_TYPE_VNODE, RX, "", 91, 51),
	    vm(KVME_TYPE_VNODE, RX, "", 91, 50)};
	procs[2].exe_ino = 52;
	r = run_walk({"--libxo=json"}, by_service());
	EXPECT_NE(r.out.find("\"pid\": [30,31,32], \"file\": ["
	    "{\"device\":57005,\"inode\":7,\"state\":\"unknown\"}, "
	    "{\"device\":91,\"inode\":50,\"state\":\"unknown\"}, "
	    "{\"device\":91,\"inode\":51,\"state\":\"unknown\"}, "
	    "{\"device\":57005,\"inode\":52,\"state\":\"unknown\"}]}"),
	    std::string::npos) << r.out;
	EXPECT_EQ(r.err, "");
	for (uint64_t i = 0; i < GONE_FILES_MAX; i++)
		procs[2].map.push_back(vm(KVME_TYPE_VNODE, RX, "", 91, 60 + i));
	r = run_walk({"--libxo=json"}, by_service());
	EXPECT_EQ(r.err, "stalewatch: 1 service lists only part of its files "
	    "that are gone\n");
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
		fn(ctx, m.path.c_str(), m.fstype.c_str(), "", m.dev);
	for (const auto &l : layers)
		fn(ctx, "/jail", "nullfs", l.second.c_str(), l.first);
	return 0;
}

const char *proc_hidden(struct procstat *)
{
	return hidden;
}

const struct library_dirs *proc_library_dirs(struct procstat *)
{
	static struct library_dirs dirs = {libdirs, libtrees, libhints};
	return libdirs[0] != nullptr || libtrees[0] != nullptr ||
	    libhints[0] != nullptr ? &dirs : nullptr;
}

void proc_limits(struct procstat *, struct proc_limits *l)
{
	*l = limits;
}

struct kinfo_proc *proc_list(struct procstat *ps, unsigned int *count)
{
	return procstat_getprocs(ps, KERN_PROC_PROC, 0, count);
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
	snprintf(buf, size, "%s", jail_root_fails ? "" : jail_root.c_str());
	return jail_root_fails ? -1 : 0;
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

int proc_exe_file(struct procstat *, struct kinfo_proc *kp, uint64_t *dev,
    uint64_t *ino, char *buf, size_t size)
{
	const FakeProc *p = find(kp->ki_pid);
	counts->exe_queries++;
	buf[0] = '\0';
	if (p == nullptr || p->exe_errno != 0) {
		errno = p == nullptr ? ESRCH : p->exe_errno;
		return -1;
	}
	*dev = p->exe_dev;
	*ino = p->exe_ino;
	snprintf(buf, size, "%s", p->exe_name.c_str());
	return 0;
}

bool proc_shares_root(struct procstat *, struct kinfo_proc *kp)
{
	const FakeProc *p = find(kp->ki_pid);
	counts->shares_root_queries++;
	return p != nullptr && p->shares_root;
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

void kernel_running(struct kernel_running *kr)
{
	*kr = fake_kernel;
	kr->root = kernel_root_path.c_str();
}
