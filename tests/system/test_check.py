# SPDX-License-Identifier: BSD-2-Clause
"""The stale-image check and the report, on real processes."""

import html.parser
import json
import os
import pwd
import re
import shutil
import sys
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(__file__))
from swtest import (EXECSHIM, IS_ROOT, NOBODY, SLEEPER, STALEWATCH, TESTLIB,
                    RealProcessTest, Subject, euc_jp_locale, memfd_sleeper,
                    quiet, rows, rows_for, run, silent_fuse_run, strunvis, unvis)

ME = pwd.getpwuid(os.geteuid()).pw_name


class Executable(RealProcessTest):
    def test_deleted_executable(self):
        s = self.subject(name="swdel", args=["first-arg", "second"])
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual((rc, out), (0, ""), "intact: no row")
        os.unlink(s.exe)
        rc, out, err = run(["-w", str(s.pid)])
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(rows(out), [[str(s.pid), "0", ME, "swdel", "bin",
                                      s.exe]])

    def test_replaced_executable(self):
        s = self.subject(name="swrep", argv0="argv-zero")
        s.replace_exe()
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual(rows(out), [[str(s.pid), "0", ME, "swrep", "bin",
                                      "argv-zero"]])

    def test_deleted_executable_libraries_not_examined(self):
        lib = self.library()
        s = self.subject(name="swboth", args=["-l", lib])
        os.unlink(lib)
        os.unlink(s.exe)
        rc, out, _ = run(["-w", "swboth"])
        self.assertEqual([r[4] for r in rows(out)], ["bin"])

    def test_name_that_looks_deleted(self):
        s = self.subject(name="sw (deleted)")
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual((rc, out), (0, ""))
        os.unlink(s.exe)
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual([r[4] for r in rows(out)], ["bin"])

    def test_hard_link_left_behind(self):
        # The kernel can no longer name the file by its old path, although
        # another link keeps it alive.
        s = self.subject(name="swlink")
        os.link(s.exe, s.exe + ".other")
        os.unlink(s.exe)
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual([r[4] for r in rows(out)], ["bin"])

    def test_program_started_between_listing_and_check(self):
        # A preloaded shim makes the process start another program, whose
        # file it then deletes, after the list was read and before the
        # process is examined: the row is the new program's, name and
        # all, and none when the operand named the old one.
        import shutil
        for operand in ("pid", "swbefore"):
            with self.subTest(operand=operand):
                after = os.path.join(self.work, "swafter")
                shutil.copy(SLEEPER, after)
                s = self.subject(name="swbefore", args=["-E", after])
                asan = os.environ.get("ASAN_OPTIONS", "")
                env = dict(os.environ, LD_PRELOAD=os.path.abspath(EXECSHIM),
                           SW_EXEC_PID=str(s.pid), SW_EXEC_UNLINK=after,
                           ASAN_OPTIONS=asan + ":verify_asan_link_order=0")
                rc, out, err = run(["-w", str(s.pid) if operand == "pid"
                                    else operand], env=env)
                with open("/proc/%d/comm" % s.pid) as f:
                    if f.read() != "swafter\n":
                        self.skipTest("the shim was not called: %s" % err)
                self.assertEqual(rc, 0, err)
                self.assertEqual(rows(out), [[str(s.pid), "0", ME, "swafter",
                                              "bin", after]]
                                 if operand == "pid" else [])
                s.stop()

    def test_long_first_argument_is_cut(self):
        long_arg = "A" * 1500
        s = self.subject(name="swlongarg", argv0=long_arg)
        os.unlink(s.exe)
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual(rows(out)[0][5], "A" * 1023)

    def test_long_first_argument_is_cut_between_characters(self):
        # 1023 bytes kept end inside the 512th é: the cut goes back to the
        # end of the 511th, never showing a byte the process did not have.
        s = self.subject(name="swlongutf", argv0="é" * 600)
        # Exactly the 1023 bytes kept, ending in a sequence that was
        # incomplete in the process itself, and more arguments after it:
        # nothing was cut, and that end is shown escaped.
        t = self.subject(name="swlongend", argv0=b"a" * 1021 + b"\xe6\x97",
                         args=["b" * 100])
        os.unlink(s.exe)
        os.unlink(t.exe)
        want = {s.pid: "é" * 511, t.pid: "a" * 1021 + "\\346\\227"}
        rc, out, _ = run(["-w", str(s.pid), str(t.pid)])
        self.assertEqual({int(r[0]): r[5] for r in rows(out)}, want)
        rc, out, _ = run(["--libxo=json", str(s.pid), str(t.pid)])
        self.assertEqual({r["pid"]: r["arguments"] for r in
                          json.loads(out)["stalewatch"]["process"]}, want)

    def test_memfd_executable_is_not_stale(self):
        # Not stale itself, but its libraries are checked, and a row names
        # it as the kernel does.
        lib = self.library()
        with memfd_sleeper("swmemfd", ["-l", lib]) as p:
            name = os.readlink("/proc/%d/exe" % p.pid)
            self.assertTrue(name.startswith("/memfd:"))
            rc, out, _ = run(["-w", str(p.pid)])
            self.assertEqual((rc, out), (0, ""))
            os.unlink(lib)
            rc, out, _ = run(["-w", str(p.pid)])
            self.assertEqual([r[4:] for r in rows(out)], [[".so", name]])


class Libraries(RealProcessTest):
    def path_shown_for(self, exe):
        """The last column of the ".so" row of a copy of the sleeper at
        exe (a long path) whose library was deleted."""
        import shutil
        import subprocess
        lib = self.library()
        shutil.copy(SLEEPER, exe)
        p = subprocess.Popen([exe, "-l", lib], stdout=subprocess.PIPE)
        try:
            self.assertEqual(p.stdout.readline(), b"ready\n")
            os.unlink(lib)
            rc, out, _ = run(["-w", str(p.pid)])
            return rows(out)[0][5]
        finally:
            p.kill()
            p.wait()
            p.stdout.close()

    def test_deleted_library(self):
        lib = self.library()
        s = self.subject(name="swlib", args=["-l", lib])
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual(out, "", "intact: no row")
        os.unlink(lib)
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual(rows(out), [[str(s.pid), "0", ME, "swlib", ".so",
                                      s.exe]])
        rc, out, _ = run(["-w", "-b", str(s.pid)])
        self.assertEqual((rc, out), (0, ""))

    def test_replaced_library_preloaded(self):
        lib = self.library()
        s = self.subject(name="swpre", env=dict(os.environ, LD_PRELOAD=lib))
        self.replace(lib)
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual([r[4:] for r in rows(out)], [[".so", s.exe]])
        rc, out, _ = run(["-b", str(s.pid)])
        self.assertEqual(out, "")

    def test_several_libraries_one_row(self):
        a, b = self.library("liba.so"), self.library("libb.so")
        s = self.subject(name="swtwo", args=["-l", a, "-l", b])
        os.unlink(a)
        self.replace(b)
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual(len(rows(out)), 1)

    def test_library_name_that_looks_deleted(self):
        # The maps text writes a newline as \012; a backslash as it is.
        for name in ("libsw.so (deleted)", "lib\nsw.so (deleted)",
                     "lib\\012sw.so (deleted)"):
            with self.subTest(name=name):
                lib = self.library(name)
                s = self.subject(name="swlooks", args=["-l", lib])
                rc, out, _ = run(["-w", str(s.pid)])
                self.assertEqual(out, "")
                os.unlink(lib)
                rc, out, _ = run(["-w", str(s.pid)])
                self.assertEqual([r[4] for r in rows(out)], [".so"])
                s.stop()

    def test_file_system_that_never_answers(self):
        # A FUSE file system whose server never answers covers the folder
        # of a deleted library, of a deleted executable and of an intact
        # library.  Nothing there is looked up: the run returns, with the
        # rows that the kernel's marks give, and names the files it could
        # not examine.
        import shutil
        cover = os.path.join(self.work, "cover")
        os.mkdir(cover)
        gone, kept = [os.path.join(cover, n) for n in ("libgone.so",
                                                        "libkept.so")]
        for lib in (gone, kept):
            shutil.copy(TESTLIB, lib)
        s = self.subject(name="swfuselib", args=["-l", gone])
        t = Subject(cover, name="swfusebin")
        self.subjects.append(t)
        k = self.subject(name="swfusekept", args=["-l", kept])
        os.unlink(gone)
        os.unlink(t.exe)
        r = silent_fuse_run(cover, [STALEWATCH, "-w", str(s.pid), str(t.pid),
                                    str(k.pid)])
        if isinstance(r, str):
            self.skipTest(r)
        rc, out, err = r
        self.assertEqual(rc, 0, err)
        self.assertEqual(sorted(rows(out)), sorted([
            [str(s.pid), "0", ME, "swfuselib", ".so", s.exe],
            [str(t.pid), "0", ME, "swfusebin", "bin", t.exe]]))
        self.assertRegex(err, r"^stalewatch: 2 files not examined: on a "
                         r"file system that may never answer \([^\n]*\)\n$")
        for f in (gone, t.exe):
            self.assertIn(f + " (deleted)", err)

    def test_link_to_a_file_system_that_never_answers(self):
        # The folder of a deleted library is, where the program runs, a
        # symbolic link to a FUSE file system whose server never answers
        # (a private folder covers its parent, with the link in it).  As
        # the kernel names a file by its own folders, no link is
        # followed, and the row is the kernel's.
        import shutil
        parent = os.path.join(self.work, "parent")
        lib = os.path.join(parent, "dir", "libsw.so")
        os.makedirs(os.path.dirname(lib))
        shutil.copy(TESTLIB, lib)
        s = self.subject(name="swfuselink", args=["-l", lib])
        os.unlink(lib)
        cover = os.path.join(self.work, "cover")
        os.mkdir(cover)
        r = silent_fuse_run(cover, [STALEWATCH, "-w", str(s.pid)],
                            setup="mount -t tmpfs none %s && ln -s %s %s" % (
                                parent, cover, os.path.dirname(lib)))
        if isinstance(r, str):
            self.skipTest(r)
        self.assertEqual(r[::2], (0, ""), r)
        self.assertEqual(rows(r[1]), [[str(s.pid), "0", ME, "swfuselink",
                                       ".so", s.exe]])

    def test_memory_that_is_not_a_deleted_file(self):
        data = os.path.join(self.work, "data")
        with open(data, "wb") as f:
            f.write(b"x" * 8192)
        # A deleted file mapped without execute permission, executable
        # memfd and shared anonymous memory: none is a stale library.
        s = self.subject(name="swmem", args=["-m", data, "-e", "-z"])
        os.unlink(data)
        with open("/proc/%d/maps" % s.pid) as f:
            maps = f.read()
        self.assertIn("/memfd:jit (deleted)", maps)
        self.assertIn("/dev/zero (deleted)", maps)
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual((rc, out), (0, ""))

    def test_many_executable_mappings(self):
        # More executable mappings than the kernel is asked about one by
        # one: the map is read from its text, with the same verdicts.
        lib = self.library()
        s = self.subject(name="swmanyx", args=["-x", "1000", "-l", lib])
        with open("/proc/%d/maps" % s.pid) as f:
            self.assertGreater(sum(1 for l in f if l.split()[1][2] == "x"),
                               1000)
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual((rc, out), (0, ""), "intact: no row")
        os.unlink(lib)
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual([r[4:] for r in rows(out)], [[".so", s.exe]])

    def test_few_open_files_allowed(self):
        # Descriptors that wait to be closed together never take the
        # room of the ones a run needs: every process is still examined.
        import resource
        import subprocess
        lib = self.library()
        s = self.subject(name="swfewfd", args=["-l", lib])
        os.unlink(lib)
        for limit in (12, 40, 100):
            p = subprocess.run(
                [STALEWATCH, "-w", str(s.pid)], capture_output=True,
                preexec_fn=lambda: resource.setrlimit(
                    resource.RLIMIT_NOFILE, (limit, limit)))
            self.assertEqual((p.returncode, quiet(p.stderr.decode())),
                             (0, ""), limit)
            self.assertEqual([r[4] for r in rows(p.stdout.decode())],
                             [".so"], limit)

    def test_long_executable_path_is_cut(self):
        d = self.work
        while len(d) < 1100:
            d = os.path.join(d, "d" * 200)
        os.makedirs(d)
        os.chmod(self.work, 0o755)
        exe = os.path.join(d, "swdeep")
        self.assertEqual(self.path_shown_for(exe), exe[:1023])

    def test_long_executable_path_is_cut_between_characters(self):
        # The path's byte 1023 is the first of a two-byte character.
        for pad in ("d", "dd"):
            d = os.path.join(self.work, pad)
            while len(d.encode()) < 1100:
                d = os.path.join(d, "é" * 100)
            exe = os.path.join(d, "swdeep")
            kept = exe.encode()[:1023]
            if kept[-1] == 0xc3:
                break
        self.assertEqual(kept[-1], 0xc3)
        os.makedirs(d)
        self.assertEqual(self.path_shown_for(exe), kept[:1022].decode())

    def deep_subject(self, length, name, lib=False, part="d" * 200):
        """A subject in a folder whose path is about length bytes, which
        may be past PATH_MAX: it is built and entered by descriptors, of
        folders named part.  With lib, it loads a library from there.  Its
        process, the folder's descriptor and the executable's path."""
        import shutil
        import subprocess
        fd = os.open(self.work, os.O_RDONLY)
        path = self.work
        while len((path + "/" + part + "/" + name).encode()) < length:
            try:
                os.mkdir(part, dir_fd=fd)
            except FileExistsError:
                pass
            nfd = os.open(part, os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = nfd
            path += "/" + part
        part = "e" * max(1, length - len(path.encode()) - 2 - len(name))
        os.mkdir(part, dir_fd=fd)
        nfd = os.open(part, os.O_RDONLY, dir_fd=fd)
        os.close(fd)
        fd = nfd
        self.addCleanup(os.close, fd)
        path += "/" + part
        for src, dst in [(SLEEPER, name)] + ([(TESTLIB, "libsw.so")] if lib
                                            else []):
            with open(src, "rb") as f, open(os.open(
                    dst, os.O_WRONLY | os.O_CREAT, 0o755, dir_fd=fd),
                    "wb") as g:
                shutil.copyfileobj(f, g)
        p = subprocess.Popen(["./" + name] + (["-l", "./libsw.so"] if lib
                                              else []),
                             stdout=subprocess.PIPE,
                             preexec_fn=lambda: os.fchdir(fd))
        self.addCleanup(lambda: (p.kill(), p.wait(), p.stdout.close()))
        self.assertEqual(p.stdout.readline(), b"ready\n")
        return p, fd, path + "/" + name

    def test_long_paths_are_never_an_all_clear(self):
        # Deleted, the executable's name no longer fits a path with
        # " (deleted)" added.
        p, fd, exe = self.deep_subject(4080, "swlong")
        os.unlink("swlong", dir_fd=fd)
        rc, out, _ = run(["-w", str(p.pid)])
        self.assertEqual([r[4] for r in rows(out)], ["bin"])
        def library_deleted(length, name):
            # No row while the library is there; the rows once deleted.
            p, fd, exe = self.deep_subject(length, name, lib=True)
            rc, out, _ = run(["-w", str(p.pid)])
            self.assertEqual((rc, out), (0, ""))
            os.unlink("libsw.so", dir_fd=fd)
            rc, out, _ = run(["-w", str(p.pid)])
            return exe, [r[4:] for r in rows(out)]
        # A library's name fits PATH_MAX, but no longer with " (deleted)"
        # added: the kernel cannot give it in a query any more.
        exe, got = library_deleted(4089, "swedge")
        self.assertEqual([r[0] for r in got], [".so"])
        # Past PATH_MAX, and past the 16 KiB line of the maps reader: an
        # intact executable with a deleted library.
        exe, got = library_deleted(17000, "swdeeper")
        self.assertEqual(got, [[".so", exe[:1023]]])
        # Past PATH_MAX, named by the memory map, cut inside a character:
        # the path is cut after the last whole one.
        for part in ("é" * 100, "d" + "é" * 100, "dd" + "é" * 100):
            p, fd, exe = self.deep_subject(5000, "swdeeputf", lib=True,
                                           part=part)
            if exe.encode()[1022] == 0xc3:
                break
        self.assertEqual(exe.encode()[1022], 0xc3)
        os.unlink("libsw.so", dir_fd=fd)
        rc, out, _ = run(["-w", str(p.pid)])
        self.assertEqual([r[4:] for r in rows(out)],
                         [[".so", exe.encode()[:1022].decode()]])


class GoneFiles(RealProcessTest):
    """The rows of the encoded styles name the files that are gone: one
    instance of the list file for each, in the order of the memory map (the
    executable first when it is gone itself), with its identity and
    whether its path is gone too or names another file now."""

    def identity(self, path):
        st = os.stat(path)
        return st.st_dev, st.st_ino

    def want(self, path, state, ident=None):
        dev, ino = ident if ident is not None else self.identity(path)
        d = {"device": dev, "inode": ino, "state": state}
        if path is not None:
            d["path"] = path
        return d

    def in_map_order(self, pid, files):
        """files, as want() gives them, in the order of the memory map."""
        order = []
        with open("/proc/%d/maps" % pid) as f:
            for line in f:
                ino = int(line.split()[4])
                if ino not in order:
                    order.append(ino)
        return sorted(files, key=lambda d: order.index(d["inode"]))

    def files(self, pid, args=(), user=None):
        """The list of files of pid's row in JSON and in XML, which must
        agree; paths turned back into their bytes.  None for no row."""
        rc, out, err = run(["--libxo=json"] + list(args) + [str(pid)],
                           user=user)
        self.assertEqual((rc, err), (0, ""))
        doc = json.loads(out)["stalewatch"]["process"]
        rc, out, err = run(["--libxo=xml"] + list(args) + [str(pid)],
                           user=user)
        self.assertEqual((rc, err), (0, ""))
        xml = ET.fromstring(out)
        if not doc:
            self.assertEqual(len(xml), 0)
            return None
        got = doc[0].get("file", [])
        from_xml = [{c.tag: c.text for c in f} for f in xml[0].iter("file")]
        self.assertEqual([{k: str(v) for k, v in f.items()} for f in got],
                         from_xml)
        for f in got:
            if "path" in f:
                f["path"] = unvis(f["path"]).decode("utf-8",
                                                   "surrogateescape")
        return got

    def text_unchanged(self, pid, comm, why, text):
        """The text and HTML rows are as they always were."""
        row = "%5d %5d %-12.12s %-12.12s %-3s %s" % (pid, 0, ME, comm, why,
                                                    text)
        for args in (["-w"], []):
            rc, out, _ = run(args + [str(pid)], columns="200")
            self.assertEqual(out.splitlines()[1:], [row])
        rc, out, _ = run(["--libxo=html", str(pid)])
        self.assertNotIn("device", out)
        self.assertNotIn("state", out)

    def test_deleted_executable(self):
        lib = self.library()
        s = self.subject(name="swgexe", argv0="arg0", args=["-l", lib])
        exe = self.identity(s.exe)
        self.assertEqual(self.files(s.pid), None, "intact: no row")
        os.unlink(s.exe)
        self.assertEqual(self.files(s.pid), [self.want(s.exe, "deleted",
                                                       exe)])
        self.text_unchanged(s.pid, "swgexe", "bin", "arg0")
        # Its libraries follow it.
        ident = self.identity(lib)
        self.replace(lib)
        self.assertEqual(self.files(s.pid), [
            self.want(s.exe, "deleted", exe),
            self.want(lib, "replaced", ident)])
        self.assertEqual(self.files(s.pid, ["-b"]),
                         [self.want(s.exe, "deleted", exe)])
        # Replaced by a new copy, as an upgrade does.
        t = self.subject(name="swgrep")
        old = self.identity(t.exe)
        t.replace_exe()
        self.assertEqual(self.files(t.pid), [self.want(t.exe, "replaced",
                                                       old)])

    def test_deleted_and_replaced_libraries(self):
        a, b = self.library("liba.so"), self.library("libb.so")
        s = self.subject(name="swglib", args=["-l", a])
        t = self.subject(name="swgtwo", args=["-l", a, "-l", b])
        ia, ib = self.identity(a), self.identity(b)
        os.unlink(a)
        self.assertEqual(self.files(s.pid), [self.want(a, "deleted", ia)])
        # Replaced by a rename, as a package upgrade does.
        self.replace(b)
        self.assertEqual(self.files(t.pid), self.in_map_order(t.pid, [
            self.want(a, "deleted", ia), self.want(b, "replaced", ib)]))
        self.text_unchanged(t.pid, "swgtwo", ".so", t.exe)
        # A file found at the path again is a new one.
        shutil.copy(TESTLIB, a)
        self.assertEqual(self.files(s.pid), [self.want(a, "replaced", ia)])

    def test_one_file_mapped_many_times_is_listed_once(self):
        # 1000 executable mappings of one file: read from the text.
        lib = self.library()
        s = self.subject(name="swgmany", args=["-x", "1000", "-l", lib])
        ident, exe = self.identity(lib), self.identity(s.exe)
        os.unlink(lib)
        self.assertEqual(self.files(s.pid), [self.want(lib, "deleted",
                                                       ident)])
        os.unlink(s.exe)
        self.assertEqual(self.files(s.pid), [
            self.want(s.exe, "deleted", exe),
            self.want(lib, "deleted", ident)])

    def test_memfd_program_with_a_deleted_library(self):
        lib = self.library()
        ident = self.identity(lib)
        with memfd_sleeper("swgmemfd", ["-l", lib]) as p:
            os.unlink(lib)
            self.assertEqual(self.files(p.pid), [self.want(lib, "deleted",
                                                           ident)])

    def test_names_with_a_newline_or_a_backslash(self):
        # The maps text writes a newline as \012 and a backslash as it is:
        # there a name holding \012 reads two ways, and is read again as
        # it is (map_files), also by a user without privileges.
        users = [None]
        if IS_ROOT and NOBODY is not None:
            users.append(NOBODY)
        for i, name in enumerate(("lib\nsw.so", "lib\\012sw.so",
                                  "lib\\sw.so", "lib\x1b[31m.so",
                                  "libsw.so (deleted)")):
            for user in users:
                with self.subTest(name=name, user=user):
                    lib = self.library(name)
                    s = self.subject(name="swgodd%d" % i, args=["-l", lib],
                                     user=user)
                    ident = self.identity(lib)
                    os.unlink(lib)
                    self.assertEqual(self.files(s.pid, user=user),
                                     [self.want(lib, "deleted", ident)])
                    rc, out, _ = run(["--libxo=json", str(s.pid)],
                                     user=user)
                    self.assertEqual(out.count("\n"), 1, "one line")
                    s.stop()

    def test_service_lists_the_files_of_its_processes(self):
        a, b = self.library("liba.so"), self.library("libb.so")
        s = self.subject(name="swgsvc1", args=["-l", a])
        t = self.subject(name="swgsvc2", args=["-l", a, "-l", b])
        ia, ib, ie = self.identity(a), self.identity(b), self.identity(t.exe)
        os.unlink(a)
        os.unlink(b)
        os.unlink(t.exe)
        rc, out, err = run(["-s", "--libxo=json", str(s.pid), str(t.pid)])
        self.assertEqual((rc, quiet(err)), (0, ""))
        rows = json.loads(out)["stalewatch"]["service"]
        # Both run in the same control group as this test, or in none.
        self.assertEqual([r["pid"] for r in rows], [sorted([s.pid, t.pid])])
        want = [self.want(t.exe, "deleted", ie)] + self.in_map_order(
            t.pid, [self.want(a, "deleted", ia),
                    self.want(b, "deleted", ib)])
        if s.pid < t.pid:
            want = [self.want(a, "deleted", ia)] + [
                f for f in want if f["inode"] != ia[1]]
        self.assertEqual(rows[0]["file"], want)
        rc, out, _ = run(["-s", str(s.pid), str(t.pid)])
        self.assertNotIn("liba", out)


class Filters(RealProcessTest):
    def setUp(self):
        super().setUp()
        self.s = self.subject(name="swfilt")
        os.unlink(self.s.exe)

    def count(self, *args):
        rc, out, err = run(["-w"] + list(args) + [str(self.s.pid)])
        self.assertEqual(err, "")
        return rc, len(rows_for(out, self.s.pid))

    def test_jail_and_user_filters(self):
        uid = os.geteuid()
        self.assertEqual(self.count("-j", "0"), (0, 1))
        self.assertEqual(self.count("-j", "5"), (0, 0))
        self.assertEqual(self.count("-u", ME), (0, 1))
        self.assertEqual(self.count("-u", str(uid)), (0, 1))
        self.assertEqual(self.count("-u", str(uid + 1)), (0, 0))
        self.assertEqual(self.count("-u", "-2"), (0, 0))
        # The last -u wins.
        self.assertEqual(self.count("-u", str(uid + 1), "-u", ME), (0, 1))

    def test_header(self):
        rc, out, _ = run([str(self.s.pid)])
        self.assertEqual(out.splitlines()[0].split(),
                         ["PID", "JID", "USER", "COMMAND", "WHY", "ARGUMENTS"])
        rc, out, _ = run(["-H", str(self.s.pid)])
        self.assertEqual(len(out.splitlines()), 1)
        self.assertNotIn("PID", out)
        rc, out, _ = run(["-j", "5", str(self.s.pid)])
        self.assertEqual((rc, out), (0, ""), "no rows, no header")

    def test_header_once_for_several_rows(self):
        t = self.subject(name="swfilt2")
        os.unlink(t.exe)
        rc, out, _ = run(["-w", str(self.s.pid), str(t.pid)])
        lines = out.splitlines()
        self.assertEqual(len(lines), 3)
        self.assertEqual(sum(1 for l in lines if l.startswith("  PID")), 1)


class HTMLRows(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.rows, self.tag = [], None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if a.get("class") == "line":
            self.rows.append({})
        self.tag = a.get("data-tag")

    def handle_endtag(self, tag):
        self.tag = None

    def handle_data(self, data):
        if self.tag:
            self.rows[-1][self.tag] = self.rows[-1].get(self.tag, "") + data


class Styles(RealProcessTest):
    def setUp(self):
        super().setUp()
        self.bin = self.subject(name="swst<&>\"'", argv0="arg \"q\" \\ <&> \t")
        exe = os.stat(self.bin.exe)
        os.unlink(self.bin.exe)
        lib = self.library()
        self.so = self.subject(name="swstlib", args=["-l", lib])
        so = os.stat(lib)
        os.unlink(lib)
        self.ops = [str(self.bin.pid), str(self.so.pid)]
        self.uid = os.geteuid()
        self.expected = [
            dict(pid=self.bin.pid, jid=0, uid=self.uid, user=ME,
                 command="swst<&>\"'", why="bin",
                 arguments="arg \"q\" \\\\ <&> \\011",
                 file=[dict(path=self.bin.exe, device=exe.st_dev,
                            inode=exe.st_ino, state="deleted")]),
            dict(pid=self.so.pid, jid=0, uid=self.uid, user=ME,
                 command="swstlib", why=".so", arguments=self.so.exe,
                 file=[dict(path=lib, device=so.st_dev, inode=so.st_ino,
                            state="deleted")])]
        self.expected.sort(key=lambda r: r["pid"])

    def test_json(self):
        for style in ("json", "json,pretty"):
            rc, out, err = run(["--libxo=" + style] + self.ops)
            self.assertEqual((rc, err), (0, ""))
            doc = json.loads(out)
            self.assertEqual(doc["__version"], "2")
            self.assertEqual(doc["stalewatch"]["process"], self.expected)

    def test_xml(self):
        for style in ("xml", "xml,pretty"):
            rc, out, err = run(["--libxo=" + style] + self.ops)
            self.assertEqual((rc, err), (0, ""))
            root = ET.fromstring(out)
            self.assertEqual((root.tag, root.get("version")),
                             ("stalewatch", "2"))
            got = [{c.tag: c.text if c.tag != "file" else
                    [{f.tag: f.text for f in c}] for c in p} for p in root]
            want = [{k: str(v) if k != "file" else
                     [{n: str(w) for n, w in v[0].items()}]
                     for k, v in r.items()} for r in self.expected]
            self.assertEqual(got, want)

    def test_html(self):
        rc, out, err = run(["--libxo=html"] + self.ops)
        self.assertEqual((rc, err), (0, ""))
        ET.fromstring("<body>%s</body>" % out)  # well-formed
        p = HTMLRows()
        p.feed(out)
        self.assertEqual(len(p.rows), 3)
        for got, want in zip(p.rows[1:], self.expected):
            self.assertEqual(got["pid"].strip(), str(want["pid"]))
            self.assertEqual(got["command"].strip(), want["command"][:12])
            self.assertEqual(got["why"], want["why"])
            self.assertNotIn("uid", got)
        self.assertEqual(p.rows[1]["arguments"],
                         "arg \"q\" \\\\ <&> \\011")

    def test_report_that_cannot_be_written(self):
        # A full disk is no all-clear.
        for style in ("text", "json", "xml", "html"):
            with open("/dev/full", "w") as full:
                rc, _, err = run(["--libxo=" + style] + self.ops, stdout=full)
            self.assertEqual((rc, err), (1, "stalewatch: stdout: No space "
                                         "left on device\n"), style)

    def test_text(self):
        rc, out, err = run(["-w"] + self.ops)
        lines = out.splitlines()
        self.assertEqual(lines[0], "  PID   JID USER         COMMAND      "
                         "WHY ARGUMENTS")
        for line, want in zip(lines[1:], self.expected):
            self.assertEqual(line, "%5d %5d %-12.12s %-12.12s %-3s %s" % (
                want["pid"], 0, ME, want["command"], want["why"],
                want["arguments"]))



def octal(text):
    """text with every byte written as a backslash and three octal digits,
    as the program writes a character it will not show."""
    return "".join("\\%03o" % b for b in text.encode())


class HostileText(RealProcessTest):
    """Names and arguments are chosen by whoever starts a process; every
    style must carry them intact and inert, whatever libxo is in use, and
    in a form that unvis(3) turns back into the bytes."""

    # first argument -> what every style shows
    CASES = [
        (b"a\x1b[2Jb", "a\\033[2Jb"),
        (b"a\tb", "a\\011b"),
        (b"a\nb\rc", "a\\012b\\015c"),
        (b"a\x7fb", "a\\177b"),
        ("a\u009bb".encode(), "a\\302\\233b"),          # C1 control as UTF-8
        (b"a\x9bb", "a\\233b"),                         # ... as a raw byte
        (b"a\xffb", "a\\377b"),
        (b"a\xe6\x97", "a\\346\\227"),                  # cut sequence
        (b"\xc0\xaf\xed\xa0\x80", "\\300\\257\\355\\240\\200"),  # overlong, surrogate
        ("a\ufffeb\uffff".encode(), "a\\357\\277\\276b\\357\\277\\277"),
        ("a\u202eb\u2066".encode(), "a\\342\\200\\256b\\342\\201\\246"),
        ("café 日本語 <&>".encode(), "café 日本語 <&>"),
        (b"abcdefgh\x1b", "abcdefgh\\033"),
        # Text that only looks like an escape, and backslashes.
        (b"a\\033[31m", "a\\\\033[31m"),
        (b"\\", "\\\\"),
        (b"abcdefghi\\x", "abcdefghi\\\\x"),
        # Format characters: zero width, direction marks, soft hyphen,
        # byte order mark, deprecated format controls, annotations, tags.
        ("a\u200bb\u200c\u200d\u2060c".encode(),
         "a" + octal("\u200b") + "b" + octal("\u200c\u200d\u2060") + "c"),
        ("\u200e\u200f\u061c".encode(), octal("\u200e\u200f\u061c")),
        ("x\u00ady\ufeff".encode(), "x" + octal("\u00ad") + "y" + octal("\ufeff")),
        ("\u206a\u206f\ufff9\ufffb".encode(), octal("\u206a\u206f\ufff9\ufffb")),
        ("t\U000e0001\U000e0020\U000e007f".encode(),
         "t" + octal("\U000e0001\U000e0020\U000e007f")),
        # Line and paragraph separators; noncharacters on several planes.
        ("\u2028\u2029".encode(), octal("\u2028\u2029")),
        ("\ufdd0\ufdef\U0001fffe\U0010ffff".encode(),
         octal("\ufdd0\ufdef\U0001fffe\U0010ffff")),
        # Their printable neighbours are shown as they are.
        ("x\u00a0\u2010\u2030\ufffd\ufdf0y".encode(),
         "x\u00a0\u2010\u2030\ufffd\ufdf0y"),
    ]
    # command name -> what every style shows of the command (which the
    # kernel cuts) and of the full name
    NAMES = [
        # Linux cuts a command name at 15 bytes, here inside a character.
        ("sw\x1b\u00e9\u65e5\u672c\u8a9e\u30b3\u30de",
         "sw\\033\u00e9\u65e5\u672c\u8a9e\\343",
         "sw\\033\u00e9\u65e5\u672c\u8a9e\u30b3\u30de"),
        # A display's twelve bytes end inside the second escape.
        ("swxyz\x1b\x1bab", "swxyz\\033\\033ab", "swxyz\\033\\033ab"),
        # ... between the two backslashes that stand for one.
        ("swabcdefghi\\x", "swabcdefghi\\\\x", "swabcdefghi\\\\x"),
        # A name of zero-width characters is no blank column, not even
        # when the escapes of one of them are longer than the column.
        ("\u200b\u200c\u200d\u2060", octal("\u200b\u200c\u200d\u2060"),
         octal("\u200b\u200c\u200d\u2060")),
        ("\U000e0041\U000e0042\U000e0043", octal("\U000e0041\U000e0042\U000e0043"),
         octal("\U000e0041\U000e0042\U000e0043")),
    ]

    def setUp(self):
        super().setUp()
        self.want = {}
        self.raw = {}
        for i, (arg, shown) in enumerate(self.CASES):
            s = self.subject(name="swh%d" % i, argv0=arg)
            os.unlink(s.exe)
            self.want[str(s.pid)] = ("swh%d" % i, shown)
            self.raw[str(s.pid)] = (b"swh%d" % i, arg)
        for name, shown, whole in self.NAMES:
            s = self.subject(name=name)
            os.unlink(s.exe)
            self.want[str(s.pid)] = (shown, self.work + "/" + whole)
            self.raw[str(s.pid)] = (name.encode()[:15], s.exe.encode())
        self.ops = sorted(self.want, key=int)

    def column(self, pid, text, field=0):
        """A display cuts the command column to twelve bytes and the
        arguments to the width, never inside a character or escape."""
        self.assertTrue(self.want[pid][field].startswith(text), text)
        unvis(text)     # raises for an escape cut short
        self.assertNotEqual(text, "")
        return self.want[pid][field]

    def from_json(self, out):
        doc = json.loads(out)
        return {str(r["pid"]): (r["command"], r["arguments"])
                for r in doc["stalewatch"]["process"]}

    def from_xml(self, out):
        return {p.find("pid").text: (p.find("command").text,
                                     p.find("arguments").text)
                for p in ET.fromstring(out)}

    def from_html(self, out):
        ET.fromstring("<body>%s</body>" % out)
        h = HTMLRows()
        h.feed(out)
        return {r["pid"].strip(): (r["command"].rstrip(), r["arguments"])
                for r in h.rows[1:]}

    def from_text(self, out):
        row = re.compile(r"^ *(\d+) +0 \S+ +(.*?) +bin (.*)$")
        lines = out.splitlines()
        self.assertEqual(len(lines), len(self.ops) + 1)
        self.assertFalse([c for c in out if ord(c) < 0x20 and c != "\n"
                          or 0x7f <= ord(c) <= 0x9f])
        return {m.group(1): m.group(2, 3) for m in map(row.match, lines[1:])}

    def run_style(self, style, parse, width=None):
        """The rows of one run in style, by pid: (command, arguments)."""
        rc, out, err = run((["-w"] if width is None else []) +
                           ["--libxo=" + style] + self.ops, columns=width)
        self.assertEqual((rc, err), (0, ""), style)
        got = parse(out)
        self.assertEqual(sorted(got, key=int), self.ops, style)
        return got

    def test_documents_parse_strictly(self):
        for style in ("json", "json,pretty", "xml", "xml,pretty"):
            parse = self.from_json if "json" in style else self.from_xml
            self.assertEqual(self.run_style(style, parse), self.want, style)
        got = self.run_style("html", self.from_html)
        self.assertEqual({p: (self.column(p, c), a)
                          for p, (c, a) in got.items()}, self.want)

    def test_text_one_line_per_row(self):
        got = self.run_style("text", self.from_text)
        self.assertEqual({p: (self.column(p, c), a)
                          for p, (c, a) in got.items()}, self.want)
        got = self.run_style("text", self.from_text, width="52")
        self.assertEqual({p: (self.column(p, c), self.column(p, a, 1))
                          for p, (c, a) in got.items()}, self.want)

    def test_escapes_turn_back_into_the_bytes(self):
        for style, parse in (("json", self.from_json),
                             ("xml", self.from_xml),
                             ("html", self.from_html),
                             ("text", self.from_text)):
            for pid, (comm, args) in self.run_style(style, parse).items():
                raw_comm, raw_args = self.raw[pid]
                self.assertEqual(unvis(args), raw_args, style)
                if strunvis(args) is not None:
                    self.assertEqual(strunvis(args), raw_args, style)
                # Where the style shows columns, the command is cut.
                if style in ("html", "text"):
                    self.assertTrue(raw_comm.startswith(unvis(comm)), style)
                    self.assertNotEqual(unvis(comm), b"", style)
                else:
                    self.assertEqual(unvis(comm), raw_comm, style)

    def test_text_in_a_locale_of_another_character_set(self):
        # In the text style libxo converts to the locale's character set:
        # the real libxo writes '?' and warns for what the C locale cannot
        # show, and writes é in EUC-JP's bytes; the bundled layer would
        # write UTF-8 bytes, which mean other characters there (0x9b in
        # "\303\233", Û, is the 8-bit CSI).  Both write escapes instead.
        # The documents remain UTF-8.
        locales = [("C", dict(os.environ, LC_ALL="C"))]
        euc_jp = euc_jp_locale()
        if euc_jp is not None:
            locales.append(("EUC-JP", euc_jp))
        s = self.subject(name="swl\u00db", argv0="Û café 日本語 \\")
        os.unlink(s.exe)
        pid = str(s.pid)
        self.ops = [pid]
        shown = "Û café 日本語 \\\\"
        ascii = "".join(c if c < "\x80" else octal(c) for c in shown)
        for name, env in locales:
            for style, parse, want in (
                    ("text", self.from_text, ("swl" + octal("\u00db"),
                                              ascii)),
                    ("json", self.from_json, ("swl\u00db", shown)),
                    ("xml", self.from_xml, ("swl\u00db", shown)),
                    ("html", self.from_html, ("swl\u00db", shown))):
                rc, out, err = run(["-w", "--libxo=" + style, pid], env=env)
                self.assertEqual((rc, err), (0, ""), (name, style))
                if style == "text":
                    self.assertTrue(out.isascii(), (name, out))
                self.assertEqual(parse(out), {pid: want}, (name, style))
        if euc_jp is None:
            self.skipTest("no EUC-JP locale to be had (localedef, ja_JP)")


class ProcessViews(RealProcessTest):
    """Processes that /proc shows in unusual ways: seen from a child PID
    namespace, without their main thread, or with a huge memory map."""

    def run_in(self, prefix, args):
        import subprocess
        from swtest import STALEWATCH
        p = subprocess.run(prefix + [STALEWATCH] + args,
                           stdin=subprocess.DEVNULL, capture_output=True)
        return (p.returncode, p.stdout.decode(errors="surrogateescape"),
                p.stderr.decode(errors="surrogateescape"))

    def test_child_pid_namespace(self):
        # The parent's /proc is still mounted, so its processes are
        # listed, under ids that mean nothing in the new namespace.
        ns = ["unshare", "--pid", "--fork"]
        try:
            rc, _, err = self.run_in(ns, ["-x"])
        except FileNotFoundError:
            self.skipTest("unshare is not installed")
        if rc != 1 or "usage:" not in err:
            self.skipTest("no PID namespace to be had: %s" % err.strip())
        s = self.subject(name="swns", argv0="ns-arg")
        lib = self.library()
        t = self.subject(name="swnslib", args=["-l", lib])
        os.unlink(s.exe)
        os.unlink(lib)
        rc, out, err = self.run_in(ns, ["-w", str(s.pid), str(t.pid)])
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(sorted(rows(out)), sorted([
            [str(s.pid), "0", ME, "swns", "bin", "ns-arg"],
            [str(t.pid), "0", ME, "swnslib", ".so", t.exe]]))

    def in_namespaces(self, shell):
        """Runs shell in new mount and PID namespaces, with a /proc of its
        own; (status, stdout, stderr), or a skip where none can be had."""
        import subprocess
        if not IS_ROOT or NOBODY is None:
            self.skipTest("needs root and a nobody user")
        try:
            p = subprocess.run(["unshare", "--mount", "--pid", "--fork",
                                "--mount-proc", "sh", "-c", shell],
                               stdin=subprocess.DEVNULL, capture_output=True)
        except FileNotFoundError:
            self.skipTest("unshare is not installed")
        err = p.stderr.decode(errors="surrogateescape")
        if "unshare:" in err or "mount:" in err:
            self.skipTest("no namespaces to be had: %s" % err.strip())
        return p.returncode, p.stdout.decode(errors="surrogateescape"), err

    def test_hidden_processes_and_no_proc_are_no_all_clear(self):
        from swtest import public_binary
        nobody = "setpriv --reuid=%d --regid=%d --clear-groups %s" % (
            NOBODY.pw_uid, NOBODY.pw_gid, public_binary())
        # hidepid=1: process 1 is listed but cannot be read.
        rc, out, err = self.in_namespaces(
            "mount -o remount,hidepid=1 /proc && %s -w 1" % nobody)
        self.assertEqual((rc, out), (0, ""))
        self.assertRegex(err, r"^stalewatch: 1 process not examined: "
                         r"permission denied \(pid 1\)\nstalewatch: other "
                         r"users' processes not examined: /proc is mounted with "
                         r"hidepid=(1|noaccess)\n$")
        # hidepid=2: the others are not even listed.
        rc, out, err = self.in_namespaces(
            "mount -o remount,hidepid=2 /proc && %s -w" % nobody)
        self.assertEqual((rc, out), (0, ""))
        self.assertRegex(err, r"^stalewatch: other users' processes not "
                         r"examined: /proc is mounted with "
                         r"hidepid=(2|invisible)\n$")
        # No proc file system at all.
        rc, out, err = self.in_namespaces(
            "mount -t tmpfs none /proc && %s" % STALEWATCH)
        self.assertEqual((rc, out), (1, ""))
        message = "stalewatch: /proc is not mounted\n"
        if os.environ.get("STALEWATCH_SANITIZED") == "ON":
            # The sanitizers miss /proc too, and say so around it.
            err = "".join(l for l in err.splitlines(True) if l == message)
        self.assertEqual(err, message)

    def test_process_one_of_a_namespace_and_big_user_ids(self):
        import shutil
        import subprocess
        if not IS_ROOT:
            self.skipTest("needs root")
        exe = os.path.join(self.work, "swinit")
        shutil.copy(SLEEPER, exe)
        try:
            p = subprocess.Popen(["unshare", "--pid", "--fork", "--mount-proc",
                                  "--kill-child", exe], stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL)
        except FileNotFoundError:
            self.skipTest("unshare is not installed")
        self.addCleanup(lambda: (p.kill(), p.wait(), p.stdout.close()))
        if p.stdout.readline() != b"ready\n":
            self.skipTest("no PID namespace to be had")
        with open("/proc/%d/task/%d/children" % (p.pid, p.pid)) as f:
            init = f.read().split()[0]
        # Process 1 of the namespace outlives unshare unless told.
        def stop_init():
            try:
                os.kill(int(init), 9)
            except ProcessLookupError:
                pass
        self.addCleanup(stop_init)
        os.unlink(exe)
        q = subprocess.run(["nsenter", "-t", init, "-p", "-m", STALEWATCH,
                            "-w", "1"], capture_output=True)
        self.assertEqual(rows(q.stdout.decode()), [["1", "0", ME, "swinit",
                                                    "bin", exe]])
        # A user id past 2^31 is unsigned, in every style.
        big = pwd.struct_passwd(("", "", 4000000000, 4000000000, "", "", ""))
        s = self.subject(name="swbig", user=big)
        os.unlink(s.exe)
        rc, out, _ = run(["-w", "-u", "4000000000", str(s.pid)])
        self.assertEqual([r[2] for r in rows(out)], ["4000000000"])
        rc, out, _ = run(["--libxo=json", str(s.pid)])
        row = json.loads(out)["stalewatch"]["process"][0]
        self.assertEqual((row["uid"], row["user"]), (4000000000, "4000000000"))

    def test_main_thread_exited(self):
        lib = self.library()
        s = self.subject(name="swleader", argv0="leader-arg",
                         args=["-t", "-l", lib])
        # The kernel shows no executable for the process any more.
        self.assertRaises(OSError, os.readlink, "/proc/%d/exe" % s.pid)
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual((rc, out), (0, ""), "intact: no row")
        os.unlink(lib)
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual(rows(out), [[str(s.pid), "0", ME, "swleader", ".so",
                                      s.exe]])
        os.unlink(s.exe)
        rc, out, _ = run(["-w", str(s.pid)])
        self.assertEqual(rows(out), [[str(s.pid), "0", ME, "swleader", "bin",
                                      "leader-arg"]])

    def test_peak_memory_with_65000_mappings(self):
        if os.environ.get("STALEWATCH_SANITIZED") == "ON":
            self.skipTest("the sanitizers' own memory would be measured")
        if not os.path.exists("/usr/bin/time"):
            self.skipTest("GNU time is not installed")
        with open("/proc/sys/vm/max_map_count") as f:
            if int(f.read()) < 65200:
                self.skipTest("vm.max_map_count is below 65200")
        lib = self.library()
        s = self.subject(name="swmany", args=["-l", lib, "-n", "65000"])
        with open("/proc/%d/maps" % s.pid, "rb") as f:
            self.assertGreater(len(f.readlines()), 65000)
        os.unlink(lib)
        # GNU time measures the program alone, not this interpreter's
        # pages, which a child forked from here would carry.
        rc, out, err = self.run_in(["/usr/bin/time", "-f", "%M"],
                                   ["-w", str(s.pid)])
        self.assertEqual(rows(out), [[str(s.pid), "0", ME, "swmany", ".so",
                                      s.exe]])
        peak_kib = int(err.split()[-1])
        self.assertLess(peak_kib, 8 * 1024)


if __name__ == "__main__":
    unittest.main()
