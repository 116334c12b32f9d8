#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""Process benchmark: starts a population of processes (most intact, some
with a deleted executable, some with a deleted shared library, some with
long memory maps), then measures the CPU time of stalewatch over them
against the floor, a loop that naively reads what a /proc reader needs
(stat, status, comm, exe and maps of every process).  It checks that every
planted process is reported, for the right reason, and that none of the
intact ones is.

    bench/procs.py BUILD_DIR [--procs N] [--runs R]
"""

import argparse
import os
import re
import resource
import shutil
import statistics
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


def peak_kib(cmd):
    """Peak resident memory of cmd, through GNU time: a child forked from
    this interpreter would count the interpreter's own pages."""
    if not os.path.exists("/usr/bin/time"):
        return None
    p = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return int(p.stderr.decode(errors="replace").split()[-1])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--procs", type=int, default=1000)
    ap.add_argument("--runs", type=int, default=9)
    a = ap.parse_args()

    stalewatch = os.path.join(a.build, "src", "stalewatch")
    floor = os.path.join(a.build, "bench", "floor")
    sleeper = os.path.join(a.build, "tests", "program", "sleeper")
    testlib = os.path.join(a.build, "tests", "program", "libsw_testlib.so")
    for f in (stalewatch, floor, sleeper, testlib):
        if not os.path.exists(f):
            sys.exit("missing %s: build the project first" % f)

    work = tempfile.mkdtemp(prefix="swbench.")
    procs = []
    try:
        exe = os.path.join(work, "subject")
        shutil.copy(sleeper, exe)
        lib = os.path.join(work, "libsw.so")
        shutil.copy(testlib, lib)
        gone_exe = os.path.join(work, "gone")
        shutil.copy(sleeper, gone_exe)
        n_gone = max(1, a.procs // 50)
        n_lib = max(1, a.procs // 50)
        n_long = max(1, a.procs // 20)
        for i in range(a.procs):
            if i < n_gone:
                procs.append(start(["gone", "arg%d" % i], gone_exe))
            elif i < n_gone + n_lib:
                procs.append(start(["subject", "-l", lib], exe))
            elif i < n_gone + n_lib + n_long:
                procs.append(start(["subject", "-n", "400"], exe))
            else:
                procs.append(start(["subject"], exe))
        for p in procs:
            if p.stdout.readline() != b"ready\n":
                sys.exit("a subject failed to start")
            p.stdout.close()
        os.unlink(gone_exe)
        os.unlink(lib)
        total = len([d for d in os.listdir("/proc") if d.isdigit()])

        want = {}
        for i, p in enumerate(procs):
            want[p.pid] = ("bin" if i < n_gone else
                           ".so" if i < n_gone + n_lib else None)
        cmd = [stalewatch, "-w"]
        out = subprocess.run(cmd, stdout=subprocess.PIPE).stdout
        got = reasons(out, want)
        found = sum(1 for pid, why in want.items()
                    if why is not None and got.get(pid) == why)
        false = sum(1 for pid, why in got.items() if want[pid] != why)

        sw, fl = [], []
        for _ in range(a.runs):
            sw.append(timed(cmd))
            fl.append(timed([floor]))
        peak = peak_kib(cmd)
        csw = statistics.median(t[0] for t in sw)
        cfl = statistics.median(t[0] for t in fl)
        wsw = statistics.median(t[1] for t in sw)
        wfl = statistics.median(t[1] for t in fl)
        print("processes on the machine: %d (%d started: %d deleted "
              "executables, %d deleted libraries, %d with %d+ mappings)"
              % (total, a.procs, n_gone, n_lib, n_long, 400))
        print("planted processes found: %d of %d; false alarms: %d"
              % (found, n_gone + n_lib, false))
        for name, c, w in (("stalewatch", csw, wsw), ("floor", cfl, wfl)):
            print("%-11s median CPU %.2f ms per run (%.2f us per process), "
                  "wall %.2f ms" % (name + ":", c * 1e3, c * 1e6 / total,
                                    w * 1e3))
        print("CPU ratio stalewatch/floor: %.2f (target <= 0.85)"
              % (csw / cfl))
        if peak is not None:
            print("peak memory: %.1f MiB (target < 8 MiB)" % (peak / 1024))
        if found != n_gone + n_lib or false != 0:
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
