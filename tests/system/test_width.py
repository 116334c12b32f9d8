# SPDX-License-Identifier: BSD-2-Clause
"""Fitting the arguments column to COLUMNS or the terminal."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from swtest import RealProcessTest, pty_of_size, read_all, rows_for, run

ARG = "/" + "".join(chr(ord("a") + i % 26) for i in range(299))


class Width(RealProcessTest):
    def setUp(self):
        super().setUp()
        self.s = self.subject(name="swwidth", argv0=ARG)
        os.unlink(self.s.exe)
        # The fixed columns: pid (at least 5 wide), jid 5, user 12,
        # command 12, why 3, each with a space after it.
        self.fixed = max(5, len(str(self.s.pid))) + 1 + 6 + 13 + 13 + 4

    def shown(self, out):
        r = rows_for(out, self.s.pid)
        self.assertEqual(len(r), 1, out)
        return r[0][5]

    def args_with(self, columns, *extra):
        rc, out, err = run(list(extra) + [str(self.s.pid)], columns=columns)
        self.assertEqual((rc, err), (0, ""))
        return self.shown(out)

    def test_columns(self):
        # 42 fixed columns with a pid of five digits; a wider pid (pid_max
        # is 4194304 on many machines) takes more.
        def kept(width):
            room = width - self.fixed
            return ARG[:room if room >= 10 else 9]
        for columns in (80, 120, 50, 51, 52, 53, self.fixed + 9,
                        self.fixed + 10, 1):
            with self.subTest(COLUMNS=columns):
                self.assertEqual(self.args_with(str(columns)), kept(columns))
        self.assertEqual(self.args_with("4294967376"), kept(80))  # 80

    def test_unusable_columns_and_no_terminal(self):
        for value in (None, "0", "", "-80", "80abc", " ", "4294967296"):
            with self.subTest(COLUMNS=value):
                self.assertEqual(self.args_with(value), ARG)

    def test_w_lifts_the_limit(self):
        self.assertEqual(self.args_with("60", "-w"), ARG)
        self.assertEqual(self.args_with("60", "-w", "-w"), ARG)

    def test_encoded_styles_never_cut(self):
        import json
        rc, out, _ = run(["--libxo=json", str(self.s.pid)], columns="50")
        self.assertEqual(json.loads(out)["stalewatch"]["process"][0]
                         ["arguments"], ARG)
        rc, out, _ = run(["--libxo=html", str(self.s.pid)], columns="50")
        self.assertIn(ARG, out)

    def on_pty(self, cols, which, columns=None, extra=()):
        env = dict(os.environ)
        env.pop("COLUMNS", None)
        if columns is not None:
            env["COLUMNS"] = columns
        from swtest import STALEWATCH
        with pty_of_size(cols) as fds:
            kw = dict(stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                      stderr=subprocess.PIPE)
            kw[which] = fds[1]
            p = subprocess.Popen([STALEWATCH] + list(extra) +
                                 [str(self.s.pid)], env=env, **kw)
            out, err = p.communicate()
            os.close(fds[1])
            fds[1] = None
            tty = read_all(fds[0])
        self.assertEqual(p.returncode, 0)
        text = tty if which == "stdout" else out.decode()
        return self.shown(text.replace("\r\n", "\n"))

    def test_terminal_on_stdout(self):
        self.assertEqual(self.on_pty(100, "stdout"),
                         ARG[:100 - self.fixed])
        # COLUMNS wins over the terminal; an unusable one does not.
        self.assertEqual(self.on_pty(100, "stdout", columns="120"),
                         ARG[:120 - self.fixed])
        self.assertEqual(self.on_pty(100, "stdout", columns="0"),
                         ARG[:100 - self.fixed])
        self.assertEqual(self.on_pty(100, "stdout", extra=["-w"]), ARG)

    def test_terminal_on_stderr_only(self):
        self.assertEqual(self.on_pty(90, "stderr"), ARG[:90 - self.fixed])


if __name__ == "__main__":
    unittest.main()
