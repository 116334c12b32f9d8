# SPDX-License-Identifier: BSD-2-Clause
"""The daily periodic(8) script and the apt hook, run with the real binary
(or a stand-in where the test needs a failure) against real processes."""

import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from swtest import STALEWATCH, RealProcessTest, rows_for, run

PERIODIC_SCRIPT = os.environ.get("PERIODIC_SCRIPT", "491.status-stalewatch")
APT_HOOK = os.environ.get("APT_HOOK", "80stalewatch")
SYSTEM_PATH = "/usr/bin:/bin"
HEADING = "Checking for processes that run deleted or replaced code:"
# What stand-ins for the program say of the kernel.
REBOOT = ("kernel 14.1-RELEASE-p5 is running, 14.1-RELEASE-p6 is "
          "installed: reboot")
CURRENT = "kernel 14.1-RELEASE-p6 is running and installed"


def kernel_line():
    """The kernel's line of this machine, as the program writes it."""
    rc, out, _ = run(["-k", "-H", "nosuchcmd"])
    assert rc == 1 and out.startswith("kernel") and out.count("\n") == 1, out
    return out[:-1]


class Hook(RealProcessTest):
    """A folder for the program that the hook finds on PATH."""

    def setUp(self):
        super().setUp()
        self.bin = os.path.join(self.work, "bin")
        os.mkdir(self.bin)

    def real_program(self):
        os.symlink(os.path.abspath(STALEWATCH),
                   os.path.join(self.bin, "stalewatch"))

    def stand_in(self, script):
        path = os.path.join(self.bin, "stalewatch")
        with open(path, "w") as f:
            f.write("#!/bin/sh\n" + script)
        os.chmod(path, 0o755)

    def stale_subject(self, name):
        s = self.subject(name=name)
        os.unlink(s.exe)
        return s

    def run_sh(self, argv, env):
        p = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=60)
        return p.returncode, p.stdout.decode("utf-8", "surrogateescape")


class Periodic(Hook):
    """Settings come from a stand-in for FreeBSD's defaults file, whose
    source_periodic_confs reads a local periodic.conf, as the real one
    does with /etc/periodic.conf."""

    def periodic(self, local=None):
        defaults = os.path.join(self.work, "defaults.conf")
        conf = os.path.join(self.work, "periodic.conf")
        with open(defaults, "w") as f:
            f.write("daily_show_success=YES\n"
                    "source_periodic_confs() {\n"
                    "\t[ -r %s ] && . %s\n}\n" % (conf, conf))
        if local is not None:
            with open(conf, "w") as f:
                f.write(local)
        env = {"PATH": self.bin + ":" + SYSTEM_PATH,
               "STALEWATCH_PERIODIC_DEFAULTS": defaults}
        return self.run_sh(["/bin/sh", PERIODIC_SCRIPT], env)

    def enabled(self, flags):
        return self.periodic('daily_stalewatch_enable="YES"\n'
                             'daily_stalewatch_flags="%s"\n' % flags)

    def test_off_unless_enabled(self):
        self.real_program()
        s = self.stale_subject("swpoff")
        for local in (None, 'daily_stalewatch_enable="NO"\n'
                      'daily_stalewatch_flags="%d"\n' % s.pid):
            with self.subTest(local=local):
                self.assertEqual(self.periodic(local), (0, ""))

    def test_stale_process_is_reported(self):
        self.real_program()
        s = self.stale_subject("swpstale")
        # Any case of "yes" turns it on.
        rc, out = self.periodic('daily_stalewatch_enable="yEs"\n'
                                'daily_stalewatch_flags="-w %d"\n' % s.pid)
        self.assertEqual(rc, 1, out)
        lines = out.splitlines()
        self.assertEqual(lines[:3], ["", HEADING, kernel_line()])
        self.assertEqual(len(lines), 4, "no column header: %r" % out)
        self.assertEqual([r[3:] for r in rows_for(out, s.pid)],
                         [["swpstale", "bin", s.exe]])

    def test_escapes_are_kept(self):
        # The row carries backslash escapes; the script must not expand them.
        self.real_program()
        s = self.stale_subject("swp\ttab")
        rc, out = self.enabled("-w %d" % s.pid)
        self.assertEqual(rc, 1, out)
        self.assertIn("swp\\011tab", out)
        self.assertNotIn("\t", out)

    def test_clean_processes(self):
        # The kernel's line comes first, and a reboot is news as well.
        self.real_program()
        s = self.subject(name="swpclean")
        kernel = kernel_line()
        self.assertEqual(self.enabled(str(s.pid)),
                         (1 if kernel.endswith(": reboot") else 0,
                          "\n%s\n%s\nnone\n" % (HEADING, kernel)))

    def test_kernel_that_needs_a_reboot(self):
        # The script asks for the kernel's line and tells it from the rows.
        for line, rows, rc in ((REBOOT, "", 1), (CURRENT, "", 0),
                               (REBOOT, "   12     0 root         x"
                                "            bin x\n", 1),
                               ("kernel: installed version unknown (no "
                                "readable image in /boot)", "", 0)):
            with self.subTest(line=line, rows=rows):
                self.stand_in('[ "$1 $2" = "-H -k" ] || exit 9\n'
                              "printf '%%s\\n%%s' '%s' '%s'\n"
                              % (line, rows))
                self.assertEqual(self.enabled(""), (rc, "\n%s\n%s\n%s\n" % (
                    HEADING, line, rows.rstrip("\n") or "none")))

    def test_warnings_are_shown(self):
        self.stand_in("echo '    7     0 root         x            bin x'\n"
                      "echo 'stalewatch: 1 process not examined: "
                      "permission denied (pid 1)' >&2\n")
        self.assertEqual(self.enabled(""), (1, "\n%s\n    7     0 root"
                                               "         x            bin "
                                               "x\nstalewatch: 1 process "
                                               "not examined: permission "
                                               "denied (pid 1)\n" % HEADING))

    def test_failure(self):
        self.real_program()
        rc, out = self.enabled("-j nosuchjail")
        self.assertEqual(rc, 3, out)
        self.assertEqual(out, '\n%s\nstalewatch: jail "nosuchjail" not found\n'
                         "stalewatch failed (exit status 1)\n" % HEADING)

    def test_program_that_never_returns(self):
        # Stopped after the time limit, also when it ignores SIGTERM.
        for script in ("exec sleep 1000\n", "trap '' TERM\nexec sleep 1000\n"):
            with self.subTest(script=script):
                self.stand_in("echo partial\n" + script)
                rc, out = self.periodic('daily_stalewatch_enable="YES"\n'
                                        'daily_stalewatch_timeout="2"\n')
                self.assertEqual(rc, 3, out)
                self.assertEqual(out, "\n%s\npartial\nstalewatch gave up "
                                 "after 2 seconds\n" % HEADING)

    def test_program_missing(self):
        # The script also looks where the program would be installed.
        with open(PERIODIC_SCRIPT) as f:
            installed = re.search(r"^PATH=\$PATH:(.*)$", f.read(), re.M)
        self.assertIsNotNone(installed)
        if shutil.which("stalewatch", path=SYSTEM_PATH + ":" +
                        installed.group(1)):
            self.skipTest("stalewatch is installed on this machine")
        rc, out = self.enabled("")
        self.assertEqual(rc, 2, out)
        self.assertIn("stalewatch is not installed", out)


class AptHook(Hook):
    """apt runs each DPkg::Post-Invoke command with sh -c."""

    @classmethod
    def setUpClass(cls):
        with open(APT_HOOK) as f:
            text = f.read()
        found = re.findall(r'^DPkg::Post-Invoke\s*\{\s*"([^"]*)";\s*\};',
                           re.sub(r"//[^\n]*", "", text), re.M)
        if len(found) != 1:
            raise AssertionError("no single DPkg::Post-Invoke command in "
                                 + APT_HOOK)
        cls.command = found[0]
        # apt's own parser reads the file the same way.
        if shutil.which("apt-config"):
            dump = subprocess.run(["apt-config", "-c", APT_HOOK, "dump"],
                                  stdout=subprocess.PIPE, check=True).stdout
            if ('DPkg::Post-Invoke:: "%s";' % cls.command).encode() \
                    not in dump:
                raise AssertionError("apt-config reads another command")

    def hook(self):
        return self.run_sh(["/bin/sh", "-c", self.command],
                           {"PATH": self.bin + ":" + SYSTEM_PATH})

    def test_program_missing(self):
        # Removed with its package, the tool leaves the hook silent.
        if shutil.which("stalewatch", path=SYSTEM_PATH):
            self.skipTest("stalewatch is installed on this machine")
        self.assertEqual(self.hook(), (0, ""))

    def test_stale_process_is_listed(self):
        self.real_program()
        s = self.stale_subject("swapt")
        rc, out = self.hook()
        self.assertEqual(rc, 0)
        self.assertEqual(out.split("\n")[0], kernel_line())
        self.assertEqual([r[3:5] for r in rows_for(out, s.pid)],
                         [["swapt", "bin"]])

    def test_kernel_is_told(self):
        self.stand_in('[ "$1" = -k ] || exit 9\necho "%s"\n' % REBOOT)
        self.assertEqual(self.hook(), (0, REBOOT + "\n"))

    def test_nothing_to_list(self):
        self.stand_in("exit 0\n")
        self.assertEqual(self.hook(), (0, ""))

    def test_warnings_are_passed_on(self):
        self.stand_in("echo '  PID   JID USER         COMMAND      WHY "
                      "ARGUMENTS'\necho '    7     0 root         x   "
                      "         bin x'\necho 'stalewatch: 1 process not "
                      "examined: permission denied (pid 1)' >&2\n")
        self.assertEqual(self.hook(), (0, "  PID   JID USER         COMMAND"
                                          "      WHY ARGUMENTS\n    7     0 "
                                          "root         x            bin x\n"
                                          "stalewatch: 1 process not "
                                          "examined: permission denied "
                                          "(pid 1)\n"))

    def test_failure_says_why(self):
        self.stand_in("echo 'stalewatch: cannot read the process list' >&2\n"
                      "echo 'more detail' >&2\nexit 1\n")
        self.assertEqual(self.hook(), (0, "stalewatch: cannot read the "
                                          "process list\nmore detail\n"
                                          "stalewatch: could not list the "
                                          "processes to restart (exit "
                                          "status 1)\n"))

    def test_program_that_never_returns(self):
        # The limit is an apt setting, 60 seconds in the file itself; a
        # program that does not finish in time is stopped, then killed
        # when it ignores that.  The upgrade goes on.
        if not shutil.which("apt-config"):
            self.skipTest("apt-config is not installed")
        dump = subprocess.run(["apt-config", "-c", APT_HOOK, "shell", "t",
                               "Stalewatch::Timeout"], stdout=subprocess.PIPE,
                              check=True).stdout
        self.assertEqual(dump, b"t='60'\n")
        # The test's setting alone: no other file of the system is read.
        conf, parts = [os.path.join(self.work, n) for n in ("apt.conf",
                                                             "apt.conf.d")]
        os.mkdir(parts)
        with open(conf, "w") as f:
            f.write('Dir::Etc::Parts "%s";\nDir::Etc::Main "/dev/null";\n'
                    'Stalewatch::Timeout "2";\n' % parts)
        env = {"PATH": self.bin + ":" + SYSTEM_PATH, "APT_CONFIG": conf}
        for script in ("exec sleep 1000\n", "trap '' TERM\nexec sleep 1000\n"):
            with self.subTest(script=script):
                self.stand_in("echo partial\n" + script)
                rc, out = self.run_sh(["/bin/sh", "-c", self.command], env)
                self.assertEqual(rc, 0)
                self.assertEqual(out, "partial\nstalewatch: gave up after 2 "
                                 "seconds, no list of processes to restart\n")

    def test_crash_is_one_line(self):
        self.stand_in("kill -SEGV $$\n")
        rc, out = self.hook()
        self.assertEqual(rc, 0)
        # After the shell's own word of the signal, if it says one.
        self.assertRegex(out, r"^([^\n]*\n)?stalewatch: could not list the "
                         r"processes to restart \(exit status \d+\)\n$")

    def under_stale_apt(self):
        """Runs the hook as apt does, with sh -c, below a stale stand-in
        for apt-get (a copy of sh whose file is deleted, as an upgrade of
        apt replaces it): the apt-get's pid and the hook's output."""
        apt = os.path.join(self.work, "apt-get")
        shutil.copy("/bin/sh", apt)
        p = subprocess.Popen(
            [apt, "-c", 'echo $$; read go; /bin/sh -c "$1"', "apt-get",
             self.command], env={"PATH": self.bin + ":" + SYSTEM_PATH},
            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT)
        pid = int(p.stdout.readline())
        os.unlink(apt)
        out, _ = p.communicate(b"go\n", timeout=60)
        self.assertEqual(p.returncode, 0)
        return pid, out.decode("utf-8", "surrogateescape")

    def test_processes_that_run_the_upgrade_are_left_out(self):
        self.real_program()
        pid, out = self.under_stale_apt()
        self.assertEqual(rows_for(out, pid), [])
        # A header only above rows (other processes may be stale too).
        if re.search(r"^ +PID +JID ", out, re.M):
            self.assertRegex(out, re.compile(r"^ *\d+ ", re.M))
        # The others are listed still.
        s = self.stale_subject("swapt")
        pid, out = self.under_stale_apt()
        self.assertEqual(rows_for(out, pid), [])
        self.assertEqual([r[3:5] for r in rows_for(out, s.pid)],
                         [["swapt", "bin"]])
        # The kernel's line first, then the header.
        lines = out.splitlines()
        self.assertTrue(lines[0].startswith("kernel"), lines[0])
        self.assertEqual(lines[1].split()[:2], ["PID", "JID"])


if __name__ == "__main__":
    unittest.main()
