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
from swtest import IS_ROOT, SLEEPER, RealProcessTest, euc_jp_locale, run

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
        s = self.subject(name="swsession")
        for x in (a, s):
            os.unlink(x.exe)
        os.unlink(lib)
        return a, b, c, s


@unittest.skipUnless(IS_ROOT, "needs root to make cgroups")
class ControlGroups(ServiceTest):
    def check_report(self, expect, pids):
        """The text, XML and JSON reports of pids are expect: (name,
        kind, why, [pids]) in the order of the rows."""
        args = ["-s", "-w"] + [str(p) for p in pids]
        rc, out, err = run(args)
        self.assertEqual((rc, err), (0, ""))
        width = max(len("SERVICE"), *(len(e[0]) for e in expect))
        lines = ["%-*s %5s %5s %s" % (width, "SERVICE", "JID", "PROCS",
                                      "WHY")]
        lines += ["%-*s %5d %5d %s" % (width, e[0], 0, len(e[3]), e[2])
                  for e in expect]
        self.assertEqual(out, "\n".join(lines) + "\n")

        rc, out, _ = run(args + ["--libxo=xml"])
        got = [(s.findtext("name"), s.findtext("kind"), s.findtext("why"),
                [int(p.text) for p in s.findall("pid")], s.findtext("jid"))
               for s in ET.fromstring(out).findall("service")]
        self.assertEqual(got, [e[:3] + (sorted(e[3]), "0") for e in expect])

        rc, out, _ = run(args + ["--libxo=json"])
        doc = json.loads(out)
        self.assertEqual(list(doc), ["__version", "stalewatch"])
        rows = doc["stalewatch"]["service"]
        # And the files of its processes that are gone.
        self.assertEqual([list(r) for r in rows],
                         [["name", "kind", "jid", "why", "pid", "file"]] *
                         len(rows))
        if re.search(r'"pid":\d', out):
            self.skipTest("this libxo writes no leaf lists: the pids are "
                          "repeated members")
        self.assertEqual([(r["name"], r["kind"], r["why"], r["pid"],
                           r["jid"]) for r in rows],
                         [e[:3] + (sorted(e[3]), 0) for e in expect])

    def test_units_containers_and_sessions(self):
        v2, v1 = cgroup_mounts()
        if v2 is None:
            self.skipTest("no cgroup v2 hierarchy")
        a, b, c, s = self.stale_subjects()
        none = self.orphan("swnone")
        conmon = self.orphan("swconmon")
        rc_name, worker, exe = self.pidfile_worker()
        os.unlink(exe)
        unit = "swtest.slice/swtest-unit.service"
        session = "user.slice/user-0.slice/session-4242.scope"
        for pid, path in ((a.pid, unit), (b.pid, unit),
                          (c.pid, "docker-%s.scope" % CONTAINER_ID),
                          (s.pid, session),
                          (conmon, "machine.slice/libpod-conmon-%s.scope"
                           % CONTAINER_ID)):
            self.place(pid, path, [v2])
        self.no_service(none)
        if v1 is not None:
            self.place(conmon, "swtest-none", [v1])
        pids = [a.pid, b.pid, c.pid, s.pid, none, conmon, worker]
        self.check_report([
            ("-", "none", "bin", [none, conmon]),
            (CONTAINER_ID[:12], "container", ".so", [c.pid]),
            ("session-4242.scope", "session", "bin", [s.pid]),
            (rc_name, "rc", "bin", [worker]),
            ("swtest-unit.service", "unit", "bin,.so", [a.pid, b.pid]),
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
                         "<why>bin</why><pid>%d</pid><file><path>%s</path>"
                         "<device>%d</device><inode>%d</inode><state>deleted"
                         "</state></file></service></stalewatch>"
                         % (name, worker, exe, st.st_dev, st.st_ino))

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
        if euc_jp is None:
            self.skipTest("no EUC-JP locale to be had (localedef, ja_JP)")


if __name__ == "__main__":
    unittest.main()
