#!/usr/bin/env python3
"""Process benchmark: starts a population of processes (most intact, some
with a deleted executable, some with a deleted shared library, some with
long memory maps), then times stalewatch over them against the floor, a
loop that only makes the reads the Linux backend needs.

    bench/procs.py BUILD_DIR [--procs N] [--runs R]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def start(argv, exe, env=None):
    p = subprocess.Popen(argv, executable=exe, stdout=subprocess.PIPE,
                         stdin=subprocess.DEVNULL, env=env)
    return p


def timed(cmd):
    """Runs cmd with its output discarded; returns its time in seconds."""
    t0 = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - t0


def peak_kib(cmd):
    """Peak resident memory of cmd, through GNU time: a child forked from
    this interpreter would count the interpreter's own pages."""
    if not os.path.exists("/usr/bin/time"):
        return None
    p = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return int(p.stderr.decode().split()[-1])


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
        os.unlink(gone_exe)
        os.unlink(lib)
        total = len([d for d in os.listdir("/proc") if d.isdigit()])

        sw, fl = [], []
        cmd = [stalewatch, "-w"]
        out = subprocess.run(cmd, stdout=subprocess.PIPE).stdout.decode()
        rows = len(out.splitlines()) - 1
        for _ in range(a.runs):
            sw.append(timed(cmd))
            fl.append(timed([floor]))
        peak = peak_kib(cmd)
        msw, mfl = statistics.median(sw), statistics.median(fl)
        print("processes on the machine: %d (%d started: %d deleted "
              "executables, %d deleted libraries, %d with %d+ mappings)"
              % (total, a.procs, n_gone, n_lib, n_long, 400))
        print("rows reported: %d (expected at least %d)"
              % (rows, n_gone + n_lib))
        print("stalewatch: median %.2f ms per run, %.2f us per process"
              % (msw * 1e3, msw * 1e6 / total))
        print("floor:      median %.2f ms per run, %.2f us per process"
              % (mfl * 1e3, mfl * 1e6 / total))
        print("ratio stalewatch/floor: %.2f (target <= 1.3)" % (msw / mfl))
        if peak is not None:
            print("peak memory: %.1f MiB (target < 8 MiB)" % (peak / 1024))
    finally:
        for p in procs:
            p.kill()
        for p in procs:
            p.wait()
            p.stdout.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
