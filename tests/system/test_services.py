# SPDX-License-Identifier: BSD-2-Clause
"""The report by service (-s) on real processes in real control groups
and below a real pidfile in /var/run.  Needs root; the cgroup tests skip
where no cgroup can be made."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(__file__))
from swtest import (IS_ROOT, NOBODY, SLEEPER, STALEWATCH, RealProcessTest,
                    euc_jp_locale, run, silent_fuse_run)

CONTAINER_ID = ("4b825dc642cb6eb9a060e54bf8d69288"
                "fbee4904c4e1a0c3e6d8b0e9f5c2a1d7")


def cgroup_mounts():
    """The mount points of the cgroup v2 hierarchy and of the v1 one named
    systemd, where mounted (None otherwise)."""
    v2 = v1 = None
    with open("/proc/self/mountinfo") as f:
        for line in f:
            left, right = line.split(" - ")
            point = left.split()[4].replace("\\040", " ")
            fstype, _, opts = right.split()[:3]
            if fstype == "cgroup2" and v2 is None:
                v2 = point
            elif fstype == "cgroup" and "name=systemd" in opts.split(","):
                v1 = point
    return v2, v1


class Cgroups:
    """Control groups made by a test, below one folder of its own in each
    hierarchy, removed with their processes at the end."""

    def __init__(self):
        self.tops = []
        self.hierarchies = [m for m in cgroup_mounts() if m is not None]
        self.top = "swtest-%d.slice" % os.getpid()

    def make(self, mount, path):
        """The folder of cgroup path below this test's own, made; None
        when it cannot be made."""
        top = os.path.join(mount, self.top)
        full = os.path.join(top, path)
        try:
            os.makedirs(full, exist_ok=True)
        except OSError:
            return None
        if top not in self.tops:
            self.tops.append(top)
        return full

    def move(self, pid, folder):
        with open(os.path.join(folder, "cgroup.procs"), "w") as f:
            f.write("%d\n" % pid)

    def remove(self):
        for top in self.tops:
            for _ in range(50):
                dirs = [d for d, _, _ in os.walk(top, topdown=False)]
                try:
                    for d in dirs:
                        os.rmdir(d)
                    break
                except OSError:
                    time.sleep(0.1)	# exited processes are let go
        self.tops = []


class ServiceTest(RealProcessTest):
    def setUp(self):
        super().setUp()
        self.orphans = []
        self.cg = Cgroups()

    def tearDown(self):
        for pid in self.orphans:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        super().tearDown()
        self.cg.remove()

    def started(self, sh):
        """The pid of the sleeper that the shell sh started in the
        background, once the sleeper is ready: the shell writes the pid,
        the sleeper "ready", in either order."""
        lines = [sh.stdout.readline(), sh.stdout.readline()]
        pids = [int(l) for l in lines if l.strip().isdigit()]
        self.orphans.extend(pids)
        self.assertEqual(sorted(lines)[1:], [b"ready\n"])
        self.assertEqual(len(pids), 1)
        return pids[0]

    def orphan(self, name):
        """A stale test process whose parent has exited, so that none of
        its ancestors but process 1 (or a subreaper) holds it."""
        exe = os.path.join(self.work, name)
        shutil.copy(SLEEPER, exe)
        sh = subprocess.Popen(["/bin/sh", "-c", '"$0" & echo $!', exe],
                              stdout=subprocess.PIPE,
                              stdin=subprocess.DEVNULL)
        pid = self.started(sh)
        sh.wait()
        sh.stdout.close()
        os.unlink(exe)
        return pid

    def place(self, pid, path, hierarchies=None):
        """Moves pid into cgroup path of each hierarchy given (all by
        default); skips the test where that cannot be done."""
        for mount in hierarchies or self.cg.hierarchies:
            folder = self.cg.make(mount, path)
            if folder is None:
                self.skipTest("cannot make cgroups below %s" % mount)
            try:
                self.cg.move(pid, folder)
            except OSError as e:
                self.skipTest("cannot move a process into %s: %s"
                              % (folder, e))

    def no_service(self, pid):
        """Moves pid where no cgroup names a service, if it is not there."""
        self.place(pid, "swtest-none")

    def pidfile_worker(self, prefix="swtest"):
        """A test process below a shell whose pid a pidfile in /var/run
        holds: the pidfile's name, the worker's pid and its executable,
        intact as yet."""
        exe = os.path.join(self.work, "swworker")
        shutil.copy(SLEEPER, exe)
        master = subprocess.Popen(["/bin/sh", "-c", '"$0" & echo $!; wait',
                                   exe], stdout=subprocess.PIPE,
                                  stdin=subprocess.DEVNULL)
        self.addCleanup(master.stdout.close)
        self.addCleanup(master.wait)
        worker = self.started(master)
        if self.cg.hierarchies:
            self.no_service(worker)
        else:
            with open("/proc/%d/cgroup" % worker) as f:
                if any(not l.endswith(":/\n") for l in f):
                    self.skipTest("its cgroup may name a service")
        name = "%s-%d" % (prefix, master.pid)
        pidfile = "/var/run/%s.pid" % name
        with open(pidfile, "w") as f:
            f.write("%d\n" % master.pid)
        self.addCleanup(os.unlink, pidfile)
        return name, worker, exe

    def stale_subjects(self):
        """Returns {what: [pids]} of stale processes for each service."""
        lib = self.library()
        a = self.subject(name="swunit-a")
        b = self.subject(name="swunit-b", args=["-l", lib])
        c = self.subject(name="swcontainer", args=["-l", lib])
        # In a session of its own: no ancestor's pidfile can claim it.
        s = self.subject(name="swsession", new_session=True)
        for x in (a, s):
            os.unlink(x.exe)
        os.unlink(lib)
        return a, b, c, s


@unittest.skipUnless(IS_ROOT, "needs root to make cgroups")
class ControlGroups(ServiceTest):
    def check_report(self, expect, pids):
        """The text, XML and JSON reports of pids are expect: (name,
        kind, why, [pids]) in the order of the rows, with a user's unit
        shown as "user@UID.service/UNIT" and encoded as UNIT, with its
        uid.  Every row runs below the system's root."""
        args = ["-s", "-w"] + [str(p) for p in pids]
        rc, out, err = run(args)
        self.assertEqual((rc, err), (0, ""))
        width = max(len("SERVICE"), *(len(e[0]) for e in expect))
        lines = ["%-*s %5s %5s %s" % (width, "SERVICE", "JID", "PROCS",
                                      "WHY")]
        lines += ["%-*s %5d %5d %s" % (width, e[0], 0, len(e[3]), e[2])
                  for e in expect]
        self.assertEqual(out, "\n".join(lines) + "\n")

        def encoded(e):
            m = re.fullmatch(r"user@(\d+)\.service/(.*)", e[0])
            if e[1] == "user_unit" and m:
                return m.group(2), e[1], e[2], int(m.group(1))
            return e[0], e[1], e[2], None

        rc, out, _ = run(args + ["--libxo=xml"])
        got = [(s.findtext("name"), s.findtext("kind"), s.findtext("why"),
                int(s.findtext("uid")) if s.find("uid") is not None
                else None, [int(p.text) for p in s.findall("pid")],
                s.findtext("jid"), s.findtext("root"))
               for s in ET.fromstring(out).findall("service")]
        self.assertEqual(got, [encoded(e) + (sorted(e[3]), "0", "/")
                               for e in expect])

        rc, out, _ = run(args + ["--libxo=json"])
        doc = json.loads(out)
        self.assertEqual(list(doc), ["__version", "stalewatch"])
        rows = doc["stalewatch"]["service"]
        # The keys of every row, the uid of a user's unit, and the files
        # of its processes that are gone.
        self.assertEqual([list(r) for r in rows],
                         [["name", "kind"] + (["uid"] if e[1] == "user_unit"
                                              else []) +
                          ["jid", "why", "root", "pid", "file"]
                          for e in expect])
        if re.search(r'"pid":\d', out):
            self.skipTest("this libxo writes no leaf lists: the pids are "
                          "repeated members")
        self.assertEqual([(r["name"], r["kind"], r["why"], r.get("uid"),
                           r["pid"], r["jid"], r["root"]) for r in rows],
                         [encoded(e) + (sorted(e[3]), 0, "/")
                          for e in expect])

    def test_units_containers_and_sessions(self):
        v2, v1 = cgroup_mounts()
        if v2 is None:
            self.skipTest("no cgroup v2 hierarchy")
        a, b, c, s = self.stale_subjects()
        none = self.orphan("swnone")
        conmon = self.orphan("swconmon")
        # A unit of the system and one of a user's manager, of one name.
        system_dbus = self.orphan("swsysdbus")
        user_dbus = self.orphan("swuserdbus")
        rc_name, worker, exe = self.pidfile_worker()
        os.unlink(exe)
        unit = "swtest.slice/swtest-unit.service"
        session = "user.slice/user-0.slice/session-4242.scope"
        for pid, path in ((a.pid, unit), (b.pid, unit),
                          (c.pid, "docker-%s.scope" % CONTAINER_ID),
                          (s.pid, session),
                          (conmon, "machine.slice/libpod-conmon-%s.scope"
                           % CONTAINER_ID),
                          (system_dbus, "system.slice/swtest-dbus.service"),
                          (user_dbus, "user.slice/user-1000.slice/"
                           "user@1000.service/app.slice/"
                           "swtest-dbus.service")):
            self.place(pid, path, [v2])
        self.no_service(none)
        if v1 is not None:
            self.place(conmon, "swtest-none", [v1])
        pids = [a.pid, b.pid, c.pid, s.pid, none, conmon, worker,
                system_dbus, user_dbus]
        self.check_report([
            ("-", "none", "bin", [none, conmon]),
            (CONTAINER_ID[:12], "container", ".so", [c.pid]),
            ("session-4242.scope", "session", "bin", [s.pid]),
            (rc_name, "rc", "bin", [worker]),
            ("swtest-dbus.service", "unit", "bin", [system_dbus]),
            ("swtest-unit.service", "unit", "bin,.so", [a.pid, b.pid]),
            ("user@1000.service/swtest-dbus.service", "user_unit", "bin",
             [user_dbus]),
        ], pids)
        # Without -s, the report of the same processes is by process.
        rc, out, _ = run(["-w"] + [str(p) for p in pids])
        self.assertEqual(out.splitlines()[0].split(),
                         ["PID", "JID", "USER", "COMMAND", "WHY",
                          "ARGUMENTS"])
        self.assertEqual(len(out.splitlines()), 1 + len(pids))

    def test_systemd_hierarchy_of_cgroup_v1(self):
        v2, v1 = cgroup_mounts()
        if v1 is None:
            self.skipTest("no cgroup v1 hierarchy named systemd")
        a = self.subject(name="swv1")
        os.unlink(a.exe)
        self.place(a.pid, "system.slice/swtest-v1.service", [v1])
        if v2 is not None:
            self.place(a.pid, "swtest-none", [v2])
        self.check_report([("swtest-v1.service", "unit", "bin", [a.pid])],
                          [a.pid])


@unittest.skipUnless(IS_ROOT, "needs root to write in /var/run")
class Pidfiles(ServiceTest):
    def test_worker_below_the_process_of_a_pidfile(self):
        name, worker, exe = self.pidfile_worker()
        rc, out, _ = run(["-s", str(worker)])
        self.assertEqual((rc, out), (0, ""), "intact: no row")
        st = os.stat(exe)
        os.unlink(exe)
        rc, out, err = run(["-s", "-H", "-w", str(worker)])
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(out, "%s     0     1 bin\n" % name)
        rc, out, _ = run(["-s", "--libxo=xml", str(worker)])
        self.assertEqual(out, "<stalewatch version=\"2\"><service>"
                         "<name>%s</name><kind>rc</kind><jid>0</jid>"
                         "<why>bin</why><root>/</root><pid>%d</pid><file>"
                         "<path>%s</path><device>%d</device><inode>%d</inode>"
                         "<state>deleted</state></file></service>"
                         "</stalewatch>"
                         % (name, worker, exe, st.st_dev, st.st_ino))

    def test_folder_of_pidfiles_that_never_answers(self):
        # A FUSE file system whose server never answers covers a folder of
        # /var/run: it is not read, and the run returns with the rows of
        # the other pidfiles.
        name, worker, exe = self.pidfile_worker()
        os.unlink(exe)
        folder = "/var/run/swsilent-%d" % worker
        os.mkdir(folder, 0o755)
        self.addCleanup(os.rmdir, folder)
        r = silent_fuse_run(folder, [STALEWATCH, "-s", "-H", "-w",
                                     str(worker)])
        if isinstance(r, str):
            self.skipTest(r)
        rc, out, err = r
        self.assertEqual(rc, 0, err)
        self.assertEqual(out, "%s     0     1 bin\n" % name)

    def master_pid(self, name):
        return int(name.rsplit("-", 1)[1])

    def services_of(self, pids):
        """The JSON rows of the report by service of pids, as (name, kind,
        root, [pids]), with no warning."""
        rc, out, err = run(["-s", "--libxo=json"] + [str(p) for p in pids])
        self.assertEqual((rc, err), (0, ""))
        return [(r["name"], r["kind"], r.get("root"), r["pid"])
                for r in json.loads(out)["stalewatch"]["service"]]

    def test_pidfiles_that_others_could_write_name_nothing(self):
        name, worker, exe = self.pidfile_worker()
        os.unlink(exe)
        pidfile = "/var/run/%s.pid" % name
        master = self.master_pid(name)
        lock = "/var/run/lock"
        planted = None
        st = os.stat(lock) if os.path.isdir(lock) else None
        if st is not None and st.st_mode & 0o1002 == 0o1002:
            # A folder where anybody may write: its file names nothing.
            planted = os.path.join(lock, "x;reboot-%d.pid" % master)
            with open(planted, "w") as f:
                f.write("%d\n" % master)
            self.addCleanup(os.unlink, planted)
            if NOBODY is not None:
                os.chown(planted, NOBODY.pw_uid, NOBODY.pw_gid)
        os.chmod(pidfile, 0o664)
        self.assertEqual(self.services_of([worker]),
                         [("-", "none", "/", [worker])])
        os.chmod(pidfile, 0o644)
        self.assertEqual(self.services_of([worker]),
                         [(name, "rc", "/", [worker])])
        if NOBODY is not None:
            os.chown(pidfile, NOBODY.pw_uid, NOBODY.pw_gid)
            self.assertEqual(self.services_of([worker]),
                             [("-", "none", "/", [worker])])
        if planted is None:
            self.skipTest("no /var/run/lock that anybody may write")

    def test_a_login_below_a_daemon_is_not_the_daemons(self):
        if shutil.which("setsid") is None:
            self.skipTest("setsid is not installed")
        same = os.path.join(self.work, "swsame")
        login = os.path.join(self.work, "swlogin")
        for exe in (same, login):
            shutil.copy(SLEEPER, exe)
        master = subprocess.Popen(
            ["/bin/sh", "-c", '"$0" & echo $!; setsid "$1" & echo $!; wait',
             same, login], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self.addCleanup(master.stdout.close)
        self.addCleanup(master.wait)
        lines = [master.stdout.readline() for _ in range(4)]
        pids = [int(l) for l in lines if l.strip().isdigit()]
        self.orphans.extend(pids)
        self.assertEqual(sorted(lines)[2:], [b"ready\n"] * 2)
        worker, session = pids
        for pid in pids:
            if self.cg.hierarchies:
                self.no_service(pid)
        name = "swtest-sess-%d" % master.pid
        with open("/var/run/%s.pid" % name, "w") as f:
            f.write("%d\n" % master.pid)
        self.addCleanup(os.unlink, "/var/run/%s.pid" % name)
        for exe in (same, login):
            os.unlink(exe)
        with open("/proc/%d/cgroup" % worker) as f:
            if not self.cg.hierarchies and any(
                    not l.endswith(":/\n") for l in f):
                self.skipTest("its cgroup may name a service")
        self.assertEqual(self.services_of([worker, session]),
                         [("-", "none", "/", [session]),
                          (name, "rc", "/", [worker])])

    def chroot_tree(self):
        """A root for a chroot with the sleeper and the libraries it needs
        (as ldd names them), /run and a /var/run that links to it, as
        Debian has them."""
        root = os.path.join(self.work, "chroot")
        libs = re.findall(r"(/\S+) \(0x", subprocess.run(
            ["ldd", SLEEPER], stdout=subprocess.PIPE, check=True,
            text=True).stdout)
        for path in libs:
            os.makedirs(os.path.dirname(root + path), exist_ok=True)
            shutil.copy(path, root + path)
        for d in ("run", "var", "usr/sbin", "etc/init.d"):
            os.makedirs(os.path.join(root, d), exist_ok=True)
        os.symlink("/run", os.path.join(root, "var/run"))
        for d, _, _ in os.walk(root):
            os.chmod(d, 0o755)
        return root

    def chrooted(self, root, name):
        """A sleeper started in the chroot root as /usr/sbin/name."""
        exe = os.path.join(root, "usr/sbin", name)
        shutil.copy(SLEEPER, exe)

        def enter():
            os.chroot(root)
            os.chdir("/")
        p = subprocess.Popen(["/usr/sbin/" + name], stdout=subprocess.PIPE,
                             stdin=subprocess.DEVNULL, preexec_fn=enter)
        self.addCleanup(p.wait)
        self.addCleanup(p.stdout.close)
        self.orphans.append(p.pid)
        self.assertEqual(p.stdout.readline(), b"ready\n")
        if self.cg.hierarchies:
            self.no_service(p.pid)
        return p.pid, exe

    def test_a_daemon_in_a_chroot_seen_from_outside(self):
        root = self.chroot_tree()
        # Debian's own script names the pidfile of sshd.
        here = os.path.dirname(os.path.abspath(__file__))
        script = os.path.join(root, "etc/init.d/ssh")
        shutil.copy(os.path.join(here, "../unit/fixtures/init.d/ssh"),
                    script)
        os.chmod(script, 0o755)
        # A script outside the root, linked from inside: not read.
        outside = os.path.join(self.work, "outside")
        with open(outside, "w") as f:
            f.write("#!/bin/sh\nPIDFILE=/run/planted.pid\n")
        os.chmod(outside, 0o755)
        os.symlink(outside, os.path.join(root, "etc/init.d/outside"))
        daemons = {}
        for name, pidfile in (("swsshd", "sshd.pid"),
                              ("swplanted", "planted.pid")):
            pid, exe = self.chrooted(root, name)
            with open(os.path.join(root, "run", pidfile), "w") as f:
                f.write("%d\n" % pid)
            os.unlink(exe)
            daemons[name] = pid
        with open("/proc/%d/cgroup" % daemons["swsshd"]) as f:
            if not self.cg.hierarchies and any(
                    not l.endswith(":/\n") for l in f):
                self.skipTest("its cgroup may name a service")
        pids = [daemons["swsshd"], daemons["swplanted"]]
        self.assertEqual(self.services_of(pids), [
            ("planted", "rc", root, [daemons["swplanted"]]),
            ("ssh", "rc", root, [daemons["swsshd"]])])
        # The text says which root, as it says which jail.
        rc, out, err = run(["-s", "-w"] + [str(p) for p in pids])
        self.assertEqual(out, "SERVICE   JID PROCS WHY     ROOT\n"
                         "planted     0     1 bin     %s\n"
                         "ssh         0     1 bin     %s\n" % (root, root))

    def test_name_in_a_locale_of_another_character_set(self):
        # A service's name is shown as the process rows show text: where
        # the locale's character set is not UTF-8, every byte outside
        # ASCII is escaped.
        name, worker, exe = self.pidfile_worker("swtest-caf\u00e9")
        os.unlink(exe)
        shown = name.replace("\u00e9", "\\303\\251")
        locales = [("C", dict(os.environ, LC_ALL="C"))]
        euc_jp = euc_jp_locale()
        if euc_jp is not None:
            locales.append(("EUC-JP", euc_jp))
        for label, env in locales:
            rc, out, err = run(["-s", "-H", "-w", str(worker)], env=env)
            self.assertEqual((rc, err), (0, ""), label)
            self.assertEqual(out, "%s     0     1 bin\n" % shown, label)
        # In UTF-8 the name is written as it is, and the column is as
        # wide as its characters, not its bytes: the same as a name of
        # ASCII letters only.
        ascii_name, ascii_worker, ascii_exe = self.pidfile_worker(
            "swtest-cafe")
        os.unlink(ascii_exe)
        rc, out, err = run(["-s", "-w", str(worker), str(ascii_worker)],
                           env=dict(os.environ, LC_ALL="C.UTF-8"))
        self.assertEqual((rc, err), (0, ""))
        width = max(len(name), len(ascii_name))
        self.assertEqual(out, "".join(
            "%-*s %5s %5s %s\n" % (width, *row) for row in
            [("SERVICE", "JID", "PROCS", "WHY")] +
            sorted([(n, 0, 1, "bin") for n in (name, ascii_name)])))
        if euc_jp is None:
            self.skipTest("no EUC-JP locale to be had (localedef, ja_JP)")


if __name__ == "__main__":
    unittest.main()
