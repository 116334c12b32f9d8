# SPDX-License-Identifier: BSD-2-Clause
"""Shared helpers for the tests that run the real stalewatch binary
against real processes."""

import atexit
import contextlib
import ctypes
import ctypes.util
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

STALEWATCH = os.environ.get("STALEWATCH", "stalewatch")
SLEEPER = os.environ.get("SLEEPER", "sleeper")
TESTLIB = os.environ.get("TESTLIB", "libsw_testlib.so")
EXECSHIM = os.environ.get("EXECSHIM", "libsw_execshim.so")

USAGE = ("usage: stalewatch [--libxo] [-bHksw] [-j jail] [-u [user]] "
         "[proc ...]\n")

# The warning after a report that could not examine every process, with
# the ids of the first few ("pid 7", "pids 7, 9 and 12").
DENIED = "stalewatch: %s not examined: permission denied (%s)\n"

# What a run over processes that a test did not start may add, on a busy
# machine: some of them cannot be examined by this user, or by anybody.
UNEXAMINED = re.compile(r"stalewatch: (\d+ process(es)? not examined: "
                        r"(permission denied|starting a program) "
                        r"\(pids? \d+((, \d+)* and \d+( more)?)?\)|other "
                        r"users' processes not examined: .*)\n")


def quiet(err):
    """err without the warnings about processes not examined."""
    return UNEXAMINED.sub("", err)


def unvis(text):
    """The bytes that text stands for, read as unvis(3) reads the escapes
    that the program writes: a backslash and three octal digits for a
    byte, two backslashes for one.  Strict: ValueError for a backslash
    that begins anything else, such as an escape cut short."""
    raw = text.encode("utf-8", "surrogateescape")
    out = bytearray()
    i = 0
    while i < len(raw):
        if raw[i] != 0x5c:
            out.append(raw[i])
            i += 1
        elif raw[i + 1:i + 2] == b"\\":
            out.append(0x5c)
            i += 2
        elif re.fullmatch(rb"[0-3][0-7][0-7]", raw[i + 1:i + 4]):
            out.append(int(raw[i + 1:i + 4], 8))
            i += 4
        else:
            raise ValueError("not an escape at %d: %r" % (i, text))
    return bytes(out)


_libbsd = ctypes.util.find_library("bsd")
_libbsd = ctypes.CDLL(_libbsd) if _libbsd else None


def strunvis(text):
    """The bytes that libbsd's strunvis(3) makes of text, or None where
    libbsd is not installed."""
    if _libbsd is None:
        return None
    raw = text.encode("utf-8", "surrogateescape")
    dst = ctypes.create_string_buffer(len(raw) + 1)
    n = _libbsd.strunvis(dst, raw)
    if n < 0:
        raise ValueError("strunvis refuses %r" % text)
    return dst.raw[:n]


_locale_dir = None


def euc_jp_locale():
    """An environment whose locale has the character set EUC-JP, made
    with localedef in a private folder; None where that cannot be done."""
    global _locale_dir
    import subprocess
    if _locale_dir is None:
        _locale_dir = tempfile.mkdtemp(prefix="swlocale.")
        os.chmod(_locale_dir, 0o755)
        atexit.register(shutil.rmtree, _locale_dir, True)
        try:
            subprocess.run(["localedef", "-i", "ja_JP", "-f", "EUC-JP",
                            os.path.join(_locale_dir, "ja_JP.EUC-JP")],
                           stdin=subprocess.DEVNULL, capture_output=True)
        except FileNotFoundError:
            pass
    env = dict(os.environ, LOCPATH=_locale_dir, LC_ALL="ja_JP.EUC-JP")
    try:
        p = subprocess.run(["locale", "charmap"], env=env,
                           stdin=subprocess.DEVNULL, capture_output=True)
    except FileNotFoundError:
        return None
    return env if p.stdout == b"EUC-JP\n" and not p.stderr else None


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


@contextlib.contextmanager
def memfd_sleeper(name, args):
    """A sleeper run from a memfd (never a file on disk) under name, with
    args; yields its Popen once it is ready, and stops it after."""
    with open(SLEEPER, "rb") as f:
        code = f.read()
    fd = os.memfd_create(name)
    try:
        os.write(fd, code)
        p = subprocess.Popen([name] + args, executable="/proc/self/fd/%d" % fd,
                             pass_fds=[fd], stdout=subprocess.PIPE)
        try:
            if p.stdout.readline() != b"ready\n":
                raise RuntimeError("the memfd sleeper did not start")
            yield p
        finally:
            p.kill()
            p.wait()
            p.stdout.close()
    finally:
        os.close(fd)


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
                 env=None, user=None, copy=True, new_group=False,
                 new_session=False):
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
            process_group=0 if new_group else None,
            start_new_session=new_session)
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


def silent_fuse_run(folder, argv, timeout=20, setup=None):
    """Runs argv (with a time limit) in a mount namespace of its own in
    which a FUSE file system whose server never answers covers folder:
    any lookup there waits until the run is killed.  The shell command
    setup, if any, runs there first.  Nothing of this process touches
    the mount, and it goes with the namespace.  Returns
    (status, stdout, stderr), the status 124 when the time ran out; or a
    string, the reason it cannot be had (not root, no /dev/fuse, no
    namespaces)."""
    if not IS_ROOT:
        return "needs root to mount a FUSE file system"
    if not os.path.exists("/dev/fuse"):
        return "no /dev/fuse"
    p = subprocess.run([sys.executable, os.path.abspath(__file__),
                        "--silent-fuse", folder, str(timeout), setup or "",
                        "--"] + argv,
                       stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=timeout + 30)
    dec = lambda b: b.decode("utf-8", "surrogateescape")
    if p.returncode == 77:
        return dec(p.stderr).strip()
    return p.returncode, dec(p.stdout), dec(p.stderr)


def _silent_fuse_main(folder, timeout, setup, argv):
    """The part of silent_fuse_run() inside the namespace."""
    libc = ctypes.CDLL(None, use_errno=True)
    CLONE_NEWNS, MS_NOSUID, MS_NODEV = 0x20000, 2, 4
    MS_REC, MS_PRIVATE = 0x4000, 1 << 18

    def fail(what):
        sys.stderr.write("%s: %s\n" % (what, os.strerror(ctypes.get_errno())))
        sys.exit(77)
    if libc.unshare(CLONE_NEWNS) != 0:
        fail("unshare")
    if libc.mount(None, b"/", None, MS_REC | MS_PRIVATE, None) != 0:
        fail("mount --make-rprivate /")
    # Opened, never read: the server's INIT is never answered, and every
    # request waits for it.  Closed when this process ends, which ends
    # the connection.
    fd = os.open("/dev/fuse", os.O_RDWR)
    opts = "fd=%d,rootmode=40000,user_id=0,group_id=0" % fd
    if libc.mount(b"swsilent", folder.encode(), b"fuse",
                  MS_NOSUID | MS_NODEV, opts.encode()) != 0:
        fail("mount -t fuse")
    if setup and subprocess.run(["sh", "-c", setup], timeout=timeout,
                                stdin=subprocess.DEVNULL).returncode != 0:
        sys.stderr.write("setup failed: %s\n" % setup)
        sys.exit(77)
    try:
        p = subprocess.run(argv, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired as e:
        sys.stdout.buffer.write(e.stdout or b"")
        sys.stderr.buffer.write((e.stderr or b"") + b"timed out\n")
        sys.exit(124)
    sys.stdout.buffer.write(p.stdout)
    sys.stderr.buffer.write(p.stderr)
    sys.exit(p.returncode if p.returncode >= 0 else 128 - p.returncode)


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


if __name__ == "__main__" and sys.argv[1:2] == ["--silent-fuse"]:
    _silent_fuse_main(sys.argv[2], float(sys.argv[3]), sys.argv[4],
                      sys.argv[6:])
