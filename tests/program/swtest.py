# SPDX-License-Identifier: BSD-2-Clause
"""Shared helpers for the tests that run the real stalewatch binary
against real processes."""

import atexit
import contextlib
import os
import pwd
import re
import shutil
import subprocess
import tempfile
import unittest

STALEWATCH = os.environ.get("STALEWATCH", "stalewatch")
SLEEPER = os.environ.get("SLEEPER", "sleeper")
TESTLIB = os.environ.get("TESTLIB", "libsw_testlib.so")

USAGE = ("usage: stalewatch [--libxo] [-bHw] [-j jail] [-u [user]] "
         "[proc ...]\n")

# The warning after a report that could not examine every process.
DENIED = "stalewatch: %s not examined: permission denied\n"

# What a run over processes that a test did not start may add, on a busy
# machine: some of them cannot be examined by this user, or by anybody.
UNEXAMINED = re.compile(r"stalewatch: (\d+ process(es)? not examined: "
                        r"(permission denied|starting a program)|other "
                        r"users' processes not examined: .*)\n")


def quiet(err):
    """err without the warnings about processes not examined."""
    return UNEXAMINED.sub("", err)


IS_ROOT = os.geteuid() == 0
try:
    NOBODY = pwd.getpwnam("nobody")
except KeyError:
    NOBODY = None


def as_user(uid, gid):
    def become():
        os.setgroups([])
        os.setgid(gid)
        os.setuid(uid)
    return become


_public_copy = None


def public_binary():
    """A copy of stalewatch that any user can run: the build tree may sit
    below a folder that other users cannot enter."""
    global _public_copy
    if _public_copy is None:
        d = tempfile.mkdtemp(prefix="swbin.")
        os.chmod(d, 0o755)
        atexit.register(shutil.rmtree, d, True)
        _public_copy = os.path.join(d, "stalewatch")
        shutil.copy(STALEWATCH, _public_copy)
        os.chmod(_public_copy, 0o755)
    return _public_copy


def run(args, env=None, user=None, stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, columns=None):
    """Runs stalewatch, as user if given; returns (status, stdout, stderr)
    as text.  COLUMNS is removed from the environment unless given."""
    e = dict(os.environ if env is None else env)
    e.pop("COLUMNS", None)
    if columns is not None:
        e["COLUMNS"] = columns
    pre = as_user(user.pw_uid, user.pw_gid) if user is not None else None
    exe = public_binary() if user is not None else STALEWATCH
    p = subprocess.run([STALEWATCH] + list(args), executable=exe, env=e,
                       stdin=stdin, stdout=stdout, stderr=stderr,
                       preexec_fn=pre)
    dec = lambda b: b.decode("utf-8", "surrogateescape") if b else ""
    return p.returncode, dec(p.stdout), dec(p.stderr)


ROW = re.compile(r"^ *(\d+) +(\d+) (.{12}) (.{12}) (.{3}) (.*)$")


def rows(text):
    """Splits text output into rows of six columns, header removed; the
    user and command columns are 12 wide and may hold blanks."""
    out = []
    for line in text.splitlines():
        if line.split()[:2] == ["PID", "JID"]:
            continue
        m = ROW.match(line)
        if m is None:
            raise AssertionError("not a report row: %r" % line)
        out.append([f.rstrip() for f in m.groups()[:5]] + [m.group(6)])
    return out


def rows_for(text, pid):
    """The rows of one process.  Only its own lines are parsed: other
    processes on the machine may have names of any width or content, but
    every row is one line that starts with its pid."""
    mine = [l for l in text.splitlines() if l.split()[:1] == [str(pid)]]
    return rows("\n".join(mine))


class Subject:
    """A test process: a copy of the sleeper in a private folder, so that
    the test may delete or replace its executable and libraries."""

    def __init__(self, work, name="subject", argv0=None, args=(),
                 env=None, user=None, copy=True, new_group=False):
        self.work = work
        self.exe = os.path.join(work, name) if copy else SLEEPER
        if copy:
            shutil.copy(SLEEPER, self.exe)
            os.chmod(self.exe, 0o755)
        pre = None
        if user is not None:
            pre = as_user(user.pw_uid, user.pw_gid)
        argv = [argv0 if argv0 is not None else self.exe] + list(args)
        self.proc = subprocess.Popen(
            argv, executable=self.exe, stdout=subprocess.PIPE,
            stdin=subprocess.DEVNULL, env=env, preexec_fn=pre,
            process_group=0 if new_group else None)
        line = self.proc.stdout.readline()
        if line != b"ready\n":
            self.stop()
            raise RuntimeError("subject did not start: %r" % line)
        self.pid = self.proc.pid

    def replace_exe(self):
        """Installs a new copy under the old name, as package managers do."""
        new = self.exe + ".new"
        shutil.copy(SLEEPER, new)
        os.rename(new, self.exe)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        self.proc.stdout.close()


class RealProcessTest(unittest.TestCase):
    """Gives each test a private folder, readable by everybody, and stops
    its subjects at the end."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="swtest.")
        os.chmod(self.work, 0o755)
        self.subjects = []

    def tearDown(self):
        for s in self.subjects:
            s.stop()
        shutil.rmtree(self.work, ignore_errors=True)

    def subject(self, *args, **kw):
        s = Subject(self.work, *args, **kw)
        self.subjects.append(s)
        return s

    def library(self, name="libsw.so"):
        path = os.path.join(self.work, name)
        shutil.copy(TESTLIB, path)
        return path

    def replace(self, path):
        shutil.copy(TESTLIB, path + ".new")
        os.rename(path + ".new", path)


@contextlib.contextmanager
def pty_of_size(cols, rows_=24):
    import fcntl
    import pty
    import struct
    import termios
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ,
                struct.pack("HHHH", rows_, cols, 0, 0))
    fds = [master, slave]
    try:
        yield fds
    finally:
        for fd in fds:
            if fd is not None:
                os.close(fd)


def read_all(fd):
    chunks = []
    while True:
        try:
            b = os.read(fd, 65536)
        except OSError:
            break
        if not b:
            break
        chunks.append(b)
    return b"".join(chunks).decode("utf-8", "surrogateescape")
