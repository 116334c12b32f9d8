# SPDX-License-Identifier: BSD-2-Clause
"""Start-up, options, operands and exit status of the real binary."""

import json
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from swtest import (DENIED, IS_ROOT, NOBODY, STALEWATCH, USAGE,
                    RealProcessTest, quiet, rows, rows_for, run)


class StartupErrors(unittest.TestCase):
    def check(self, args, err, out="", style_args=()):
        rc, o, e = run(list(style_args) + list(args))
        self.assertEqual((rc, o, e), (1, out, err))

    def test_bad_option(self):
        self.check(["-x"], "%s: invalid option -- 'x'\n" % STALEWATCH + USAGE)

    def test_missing_option_argument(self):
        for opt in ("j", "u"):
            with self.subTest(opt=opt):
                self.check(["-" + opt], "%s: option requires an argument "
                           "-- '%s'\n" % (STALEWATCH, opt) + USAGE)

    def test_negative_jail_is_usage(self):
        self.check(["-j", "-1"], USAGE)

    def test_numbers_that_fit_no_id_are_usage_errors(self):
        # Never cut to 32 bits: 2^64 + 1 would select process group 1.
        for args, what in ((["-j", "4294967295"], "jail"),
                           (["-j", "-99999999999999999999"], "jail"),
                           (["-u", "4294967296"], "user"),
                           (["-u", "-2147483649"], "user"),
                           (["4294967296"], "process or process group"),
                           (["--", "-18446744073709551617"],
                            "process or process group"),
                           (["1", "2147483648"], "process or process group")):
            with self.subTest(args=args):
                self.check(args, "stalewatch: %s: no %s has that id\n"
                           % (args[-1], what) + USAGE)
        rc, _, _ = run(["-u", "-2", "-u", "4294967295", "nosuchcmd"])
        self.assertEqual(rc, 1, "32-bit user ids either way are accepted")

    def test_unknown_jail_and_user(self):
        self.check(["-j", "nosuchjail"],
                   'stalewatch: jail "nosuchjail" not found\n')
        self.check(["-u", "nosuchuser"],
                   'stalewatch: user "nosuchuser" not found\n')
        # Letters after the digits: a name, not a number.
        self.check(["-u", "12abc"], 'stalewatch: user "12abc" not found\n')
        self.check(["-j", "7x"], 'stalewatch: jail "7x" not found\n')

    def test_later_option_wins_and_errors_stop_at_once(self):
        # The first bad name ends the run; the later valid one is not seen.
        self.check(["-u", "nosuchuser", "-u", "0"],
                   'stalewatch: user "nosuchuser" not found\n')
        rc, _, err = run(["-u", "0", "-u", "1"])
        self.assertEqual((rc, err), (0, ""))

    def test_operand_zero_is_usage(self):
        self.check(["0"], USAGE)
        self.check(["00"], USAGE)

    def test_libxo_option_errors(self):
        self.check(["--libxo=bogus"],
                   "stalewatch: unknown libxo option value: 'bogus'\n")
        self.check(["--libxo"], "stalewatch: missing libxo option\n")

    def test_unknown_brief_letter_warns_and_runs(self):
        # libxo reports a letter it does not know and takes the others;
        # the run goes on (here over this test's own process, not stale).
        me = str(os.getpid())
        self.assertEqual(run(["--libxo:Q", me]),
                         (0, "", "stalewatch: unknown option: 'Q'\n"))
        rc, out, err = run(["--libxo:QJ", me])
        self.assertEqual((rc, err), (0, "stalewatch: unknown option: 'QJ'\n"))
        self.assertEqual(json.loads(out),
                         {"__version": "2", "stalewatch": {"process": []}})

    def test_errors_in_encoded_styles(self):
        # The usage message goes into the document, in place of the report;
        # warnings, getopt's complaint and fatal errors go to standard
        # error, and a fatal error leaves the document empty.
        usage_doc = {
            "json": '{"error": {"message":%s}}\n' % json.dumps(USAGE),
            "xml": "<error><message>%s</message></error>" % USAGE,
            "html": '<div class="line"><div class="error">%s</div></div>'
                    % USAGE,
        }
        for style, doc in usage_doc.items():
            with self.subTest(style=style):
                self.check(["-j", "-1"], "", out=doc,
                           style_args=["--libxo=" + style])
                self.check(["-j", "4294967295"], "stalewatch: 4294967295: "
                           "no jail has that id\n", out=doc,
                           style_args=["--libxo=" + style])
                self.check(["-x"], "%s: invalid option -- 'x'\n" % STALEWATCH,
                           out=doc, style_args=["--libxo", style])
                self.check(["-u", "nosuch"],
                           'stalewatch: user "nosuch" not found\n',
                           out="{ }\n" if style == "json" else "",
                           style_args=["--libxo=" + style])
        rc, out, err = run(["--libxo=json", "-j", "-1"])
        self.assertEqual(json.loads(out), {"error": {"message": USAGE}})


class Selection(RealProcessTest):
    """Operands select by pid, negative process group and command name;
    the exit status says whether any process was selected."""

    def setUp(self):
        super().setUp()
        self.s = self.subject(name="swselect", new_group=True)
        os.unlink(self.s.exe)

    def selected(self, *operands):
        rc, out, err = run(["-w"] + list(operands))
        self.assertEqual(quiet(err), "")
        return rc, rows_for(out, self.s.pid)

    def test_no_operands_selects_everything(self):
        # Other stale processes with names of any width or content do not
        # disturb the report of this one.
        for name in ("日本語コマンド", "sw\udcffbad", "sw\x1b[2J\tx\ny"):
            t = self.subject(name=name, argv0=name + "\x1b]0;\n")
            os.unlink(t.exe)
        rc, r = self.selected()
        self.assertEqual(rc, 0)
        self.assertEqual(len(r), 1)

    def test_by_pid_group_and_name(self):
        pid = self.s.pid
        for ops in ([str(pid)], ["--", "-%d" % pid], ["swselect"],
                    [" +%d" % pid],
                    ["nosuchcmd", str(pid)], [str(pid), "swselect"]):
            with self.subTest(operands=ops):
                rc, r = self.selected(*ops)
                self.assertEqual(rc, 0)
                self.assertEqual(len(r), 1, "selected once")

    def test_nothing_matches(self):
        for ops in (["nosuchcmd"], ["swselec"], ["%dabc" % self.s.pid],
                    ["2147483647"]):
            with self.subTest(operands=ops):
                rc, out, err = run(ops)
                self.assertEqual((rc, out, err), (1, "", ""))

    def test_process_one(self):
        rc, out, err = run(["1"])
        self.assertEqual((rc, quiet(err)), (0, ""))

    def test_empty_document(self):
        rc, out, _ = run(["--libxo=json", "nosuchcmd"])
        self.assertEqual(rc, 1)
        self.assertEqual(out,
                         '{"__version": "2", "stalewatch": {"process": []}}\n')
        rc, out, _ = run(["--libxo=xml", "nosuchcmd"])
        self.assertEqual(out, '<stalewatch version="2"></stalewatch>')

    def test_operands_after_double_hyphen_and_first_operand(self):
        # Option parsing stops at the first operand: -H is an operand here
        # (a command name), so nothing is selected.
        rc, out, _ = run(["nosuchcmd", "-H"])
        self.assertEqual((rc, out), (1, ""))


def boot_image(text, at=0x3000):
    """The start of an x86 Linux image: its boot header, which points at
    the version text (bytes) written at offset at."""
    b = bytearray(at + len(text) + 1)
    b[0x202:0x206] = b"HdrS"
    b[0x206:0x208] = struct.pack("<H", 0x020f)
    b[0x20e:0x210] = struct.pack("<H", at - 0x200)
    b[at:at + len(text)] = text
    return bytes(b)


KERNEL_LINE = re.compile(
    r"kernel( \S+ is running( and installed|, .* is installed: reboot"
    r"| without its modules, \S+ is installed: reboot)"
    r"|: installed version unknown \(.*\))\n")


class Kernel(RealProcessTest):
    """-k puts the kernel's status before the report and changes nothing
    else, the exit status included."""

    def setUp(self):
        super().setUp()
        self.s = self.subject(name="swkernel")
        os.unlink(self.s.exe)
        self.release = os.uname().release

    def test_kernel_part_then_the_same_report(self):
        for args in (["-w"], ["-s"], ["-H", "-b", "nosuchcmd"],
                     ["--libxo=json"], ["--libxo=json", "-s"]):
            args = args + [str(self.s.pid)]
            with self.subTest(args=args):
                rc, out, err = run(args)
                krc, kout, kerr = run(["-k"] + args)
                self.assertEqual((krc, quiet(kerr)), (rc, quiet(err)))
                if "--libxo=json" not in args:
                    line, rest = kout.split("\n", 1)
                    self.assertRegex(line + "\n", KERNEL_LINE)
                    self.assertEqual(rest, out)
                    continue
                doc = json.loads(kout)["stalewatch"]
                self.assertEqual(list(doc)[0], "kernel")
                kernel = doc.pop("kernel")
                self.assertEqual(kernel["running"], self.release)
                self.assertIn(kernel["status"], ("current", "rebuilt",
                              "newer", "removed", "unknown"))
                self.assertEqual(doc, json.loads(out)["stalewatch"])

    @unittest.skipIf(os.path.isdir("/boot") and any(
        n.startswith("vmlinuz-") for n in os.listdir("/boot")),
        "this machine has kernel images in /boot")
    def test_no_image_here_is_unknown(self):
        rc, out, err = run(["-k", str(self.s.pid)])
        self.assertEqual(rc, 0)
        self.assertEqual(out.split("\n")[0], "kernel: installed version "
                         "unknown (no readable image in /boot)")
        rc, out, err = run(["-k", "--libxo=json", "nosuchcmd"])
        self.assertEqual(rc, 1, "no process selected, as without -k")
        self.assertEqual(json.loads(out), {"__version": "2", "stalewatch": {
            "kernel": {"running": self.release, "status": "unknown",
                       "reason": "no readable image in /boot"},
            "process": []}})

    @unittest.skipUnless(IS_ROOT and shutil.which("unshare"),
                         "needs root and unshare(1)")
    def test_images_read_by_the_program(self):
        # The real program in a mount namespace of its own, where a folder
        # of images made here is /boot.
        u = os.uname()
        own = "vmlinuz-" + u.release
        text = ("%s (builder@host) %s" % (u.release, u.version)).encode()
        gone = (os.path.exists("/proc/modules") and
                not os.path.isdir("/lib/modules/" + u.release))
        running = "kernel %s is running" % u.release
        cases = [
            ("current", {own: boot_image(text)},
             running + " and installed"),
            ("rebuilt", {own: boot_image(text + b" again")},
             running + ", another build of it is installed: reboot"),
            ("newer", {own: boot_image(text), "vmlinuz-9999.1-test":
                       boot_image(b"9999.1-test (b@h) #1 SMP")},
             running + ", 9999.1-test is installed: reboot"),
            ("truncated", {own: boot_image(text)[:0x3004]},
             "kernel: installed version unknown (no readable image in "
             "/boot)"),
        ]
        for what, files, line in cases:
            with self.subTest(what):
                boot = os.path.join(self.work, "boot-" + what)
                os.mkdir(boot)
                for name, data in files.items():
                    with open(os.path.join(boot, name), "wb") as f:
                        f.write(data)
                p = subprocess.run(
                    ["unshare", "-m", "--propagation", "private", "sh", "-c",
                     'mount --bind "$1" /boot || exit 99; shift; exec "$@"',
                     "sh", boot, STALEWATCH, "-k", "-H", "nosuchcmd"],
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                if p.returncode == 99:
                    self.skipTest("no mount namespace here: %s" %
                                  p.stderr.decode().strip())
                self.assertEqual(p.returncode, 1)
                if gone and what != "truncated":
                    newest = "9999.1-test" if what == "newer" else u.release
                    line = (running + " without its modules, %s is "
                            "installed: reboot" % newest)
                self.assertEqual(p.stdout.decode(), line + "\n")


@unittest.skipUnless(IS_ROOT and NOBODY, "needs root and a nobody user")
class Unprivileged(RealProcessTest):
    def test_runs_and_sees_own_processes_only(self):
        mine = self.subject(name="swnobody", user=NOBODY)
        theirs = self.subject(name="swroot")
        os.unlink(mine.exe)
        os.unlink(theirs.exe)
        ops = ["-w", str(mine.pid), str(theirs.pid)]
        rc, out, err = run(ops, user=NOBODY)
        # Another user's executable path cannot be read: not reported, but
        # counted, so that the run is not taken for an all-clear.
        denied = DENIED % ("1 process", "pid %d" % theirs.pid)
        self.assertEqual((rc, err), (0, denied))
        self.assertEqual([r[0] for r in rows(out)], [str(mine.pid)])
        rc, out, err = run(["--libxo=json"] + ops, user=NOBODY)
        self.assertEqual((rc, err), (0, denied))
        self.assertEqual(len(json.loads(out)["stalewatch"]["process"]), 1)
        # root sees both, with the owner's name.
        rc, out, err = run(ops)
        self.assertEqual(err, "")
        self.assertEqual(rows_for(out, mine.pid)[0][2], "nobody")
        self.assertEqual(len(rows_for(out, theirs.pid)), 1)

    def test_same_behaviour_for_root_and_nobody(self):
        for args in ([], ["1"], ["--", "-1"], ["nosuchcmd"],
                     ["-u", "nosuchuser"], ["-j", "nosuchjail"], ["-j", "-1"],
                     ["-x"], ["--libxo=json"], ["-k"],
                     ["-k", "-s", "--libxo=xml"]):
            with self.subTest(args=args):
                root = run(args)
                nobody = run(args, user=NOBODY)
                self.assertEqual(root[0], nobody[0])
                # What nobody may not examine is counted after the report.
                self.assertEqual(quiet(root[2]), quiet(nobody[2]))
                if args == ["--libxo=json"]:
                    json.loads(nobody[1])
                    self.assertEqual(nobody[0], 0)

    def test_startup_errors_unprivileged(self):
        rc, out, err = run(["-j", "nosuchjail"], user=NOBODY)
        self.assertEqual((rc, out, err),
                         (1, "", 'stalewatch: jail "nosuchjail" not found\n'))
        rc, out, err = run(["--libxo=json", "nosuchcmd"], user=NOBODY)
        self.assertEqual(rc, 1)
        json.loads(out)


if __name__ == "__main__":
    unittest.main()
