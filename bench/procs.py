#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""Process benchmark: starts a population of processes (most intact, some
with a deleted executable, some with a deleted shared library, some with
long memory maps), then measures the CPU time of stalewatch over them,
and of the same program built to read every memory map from its text (as
on a kernel without PROCMAP_QUERY), against two floors: the plain reads
that a check of every process makes when it reads the maps as text (stat,
the owner of the process's directory, exe, maps), and a naive /proc
reader (stat, status, comm, exe and maps of every process).  The
processes with long maps are also checked alone, by both builds.  It
checks that every planted process is reported by both, for the right
reason, and that none of the intact ones is.

    bench/procs.py BUILD_DIR [--procs N] [--runs R] [--exec-maps N]

--exec-maps N makes the long maps N executable mappings of the process's
own executable rather than 400 readable ones: the case where asking the
kernel about each executable mapping costs more than the text.
"""

import argparse
import fcntl
import os
import re
import resource
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

# A text row: the user and command columns are 12 wide, which holds for
# the names this benchmark gives its own processes.
ROW = re.compile(rb"^ *(\d+) +(\d+) (.{12}) (.{12}) (.{3}) (.*)$")


def start(argv, exe, env=None):
    p = subprocess.Popen(argv, executable=exe, stdout=subprocess.PIPE,
                         stdin=subprocess.DEVNULL, env=env)
    return p


def timed(cmd):
    """Runs cmd with its output discarded; returns its CPU time (user and
    system) and its wall-clock time, in seconds."""
    r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    t1 = time.perf_counter()
    r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (r1.ru_utime + r1.ru_stime - r0.ru_utime - r0.ru_stime, t1 - t0)


def reasons(out, pids):
    """The reason column of the rows of out (bytes) for the given pids.
    Other processes' rows are not looked at: their names may be anything,
    in any encoding."""
    got = {}
    for line in out.splitlines():
        f = line.split(None, 1)
        if not f or not f[0].isdigit() or int(f[0]) not in pids:
            continue
        m = ROW.match(line)
        got[int(f[0])] = m.group(5).strip().decode() if m else "?"
    return got


def kernel_has_query():
    """Whether /proc/PID/maps answers PROCMAP_QUERY (Linux 6.11 and later)."""
    q = bytearray(104)
    struct.pack_into("QQ", q, 0, len(q), 0x10)
    fd = os.open("/proc/self/maps", os.O_RDONLY)
    try:
        fcntl.ioctl(fd, 0xc0686611, q)     # _IOWR('f', 17, 104 bytes)
        return True
    except OSError as e:
        return e.errno not in (25, 22)     # ENOTTY, EINVAL
    finally:
        os.close(fd)


def peak_kib(cmd):
    """Peak resident memory of cmd, through GNU time: a child forked from
    this interpreter would count the interpreter's own pages."""
    if not os.path.exists("/usr/bin/time"):
        return None
    p = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return int(p.stderr.decode(errors="replace").split()[-1])


def start_population(a, work, sleeper, testlib):
    """Starts the processes; their list and, by pid, the reason each
    should be reported for (None: it should not)."""
    exe = os.path.join(work, "subject")
    shutil.copy(sleeper, exe)
    lib = os.path.join(work, "libsw.so")
    shutil.copy(testlib, lib)
    gone_exe = os.path.join(work, "gone")
    shutil.copy(sleeper, gone_exe)
    n_gone = max(1, a.procs // 50)
    n_lib = max(1, a.procs // 50)
    n_long = max(1, a.procs // 20)
    long_maps = (["-x", str(a.exec_maps)] if a.exec_maps
                 else ["-n", "400"])
    procs, want, long_pids = [], {}, []
    for i in range(a.procs):
        if i < n_gone:
            p = start(["gone", "arg%d" % i], gone_exe)
        elif i < n_gone + n_lib:
            p = start(["subject", "-l", lib], exe)
        elif i < n_gone + n_lib + n_long:
            p = start(["subject"] + long_maps, exe)
            long_pids.append(p.pid)
        else:
            p = start(["subject"], exe)
        procs.append(p)
        want[p.pid] = ("bin" if i < n_gone else
                       ".so" if i < n_gone + n_lib else None)
    for p in procs:
        if p.stdout.readline() != b"ready\n":
            sys.exit("a subject failed to start")
        p.stdout.close()
    os.unlink(gone_exe)
    os.unlink(lib)
    print("processes started: %d (%d deleted executables, %d deleted "
          "libraries, %d with %s)" % (
              a.procs, n_gone, n_lib, n_long,
              "%d executable mappings more" % a.exec_maps if a.exec_maps
              else "400+ mappings"))
    return procs, want, long_pids


def verdicts(name, cmd, want):
    """Runs cmd once and says whether it reported exactly the planted
    processes of want."""
    out = subprocess.run(cmd, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL).stdout
    got = reasons(out, want)
    planted = sum(1 for why in want.values() if why is not None)
    found = sum(1 for pid, why in want.items()
                if why is not None and got.get(pid) == why)
    false = sum(1 for pid, why in got.items() if want[pid] != why)
    print("%-25s planted processes found: %d of %d; false alarms: %d"
          % (name + ":", found, planted, false))
    return found == planted and false == 0


def measure(cmds, runs):
    """Runs each command of cmds (name -> argv) runs times, in turns;
    the median CPU and wall-clock time of each, by name."""
    times = {name: [] for name in cmds}
    for _ in range(runs):
        for name, cmd in cmds.items():
            times[name].append(timed(cmd))
    return {name: (statistics.median(t[0] for t in ts),
                   statistics.median(t[1] for t in ts))
            for name, ts in times.items()}


def show(med, count, what):
    for name, (c, w) in med.items():
        print("%-25s median CPU %7.2f ms per run (%5.2f us per %s), "
              "wall %7.2f ms" % (name + ":", c * 1e3, c * 1e6 / count, what,
                                 w * 1e3))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--procs", type=int, default=1000)
    ap.add_argument("--runs", type=int, default=9)
    ap.add_argument("--exec-maps", type=int, default=0)
    a = ap.parse_args()

    query = os.path.join(a.build, "src", "stalewatch")
    text = os.path.join(a.build, "src", "maps-text", "stalewatch")
    floor = os.path.join(a.build, "bench", "floor")
    sleeper = os.path.join(a.build, "tests", "system", "sleeper")
    testlib = os.path.join(a.build, "tests", "system", "libsw_testlib.so")
    for f in (query, text, floor, sleeper, testlib):
        if not os.path.exists(f):
            sys.exit("missing %s: build the project first, with the tests"
                     % f)

    work = tempfile.mkdtemp(prefix="swbench.")
    procs = []
    try:
        procs, want, long_pids = start_population(a, work, sleeper, testlib)
        total = len([d for d in os.listdir("/proc") if d.isdigit()])
        print("processes on the machine: %d; the kernel %s PROCMAP_QUERY"
              % (total, "answers" if kernel_has_query() else "lacks"))
        ok = verdicts("stalewatch", [query, "-w"], want)
        ok = verdicts("stalewatch, maps as text", [text, "-w"], want) and ok

        med = measure({"stalewatch": [query, "-w"],
                       "stalewatch, maps as text": [text, "-w"],
                       "floor, plain reads": [floor, "plain"],
                       "floor, naive reads": [floor]}, a.runs)
        show(med, total, "process")
        q, t = med["stalewatch"][0], med["stalewatch, maps as text"][0]
        plain, naive = med["floor, plain reads"][0], med["floor, naive reads"][0]
        print("CPU ratio stalewatch/plain reads: %.2f (target <= 0.90 where "
              "the kernel answers PROCMAP_QUERY); maps as text: %.2f"
              % (q / plain, t / plain))
        print("CPU ratio stalewatch/naive reads: %.2f (target <= 0.85); "
              "maps as text: %.2f" % (q / naive, t / naive))

        pids = [str(p) for p in long_pids]
        med = measure({"long maps": [query, "-w"] + pids,
                       "long maps, maps as text": [text, "-w"] + pids},
                      a.runs)
        # Every process is listed; the long maps alone are examined.
        show(med, len(pids), "long map")
        print("CPU ratio on the long maps, stalewatch/maps as text: %.2f "
              "(target <= 1.05)" % (med["long maps"][0] /
                                    med["long maps, maps as text"][0]))
        for name, cmd in (("stalewatch", [query, "-w"]),
                          ("maps as text", [text, "-w"])):
            peak = peak_kib(cmd)
            if peak is not None:
                print("peak memory, %s: %.1f MiB (target < 8 MiB)"
                      % (name, peak / 1024))
        if not ok:
            sys.exit("wrong report")
    finally:
        for p in procs:
            p.kill()
        for p in procs:
            p.wait()
            if not p.stdout.closed:
                p.stdout.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
