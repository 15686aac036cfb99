#!/usr/bin/env python3
"""Times NAME=COMMAND lines (from a file, one a line) in interleaved rounds.

Every command runs once in each round, one after another, so a slow spell of
a shared machine falls on all of them alike rather than on whichever command
hyperfine happened to be timing. Each round's times are divided by BASE's in
the same round, and the table shows the medians of those ratios: wall time,
CPU time (user + system of the command and everything it waited for, from
wait4) and peak memory (the largest resident set among them, by GNU time:
a child of this Python process would count the interpreter's own pages as
its peak, as the kernel keeps the larger of before and after exec).

  rounds.py COMMANDS RUNS [BASE]
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

PEAK = tempfile.NamedTemporaryFile(prefix="rounds-peak-")


def run(command):
    start = time.perf_counter()
    child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", PEAK.name, "bash", "-c", command],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"failed ({child.returncode}): {command}")
    with open(PEAK.name) as peak:
        kib = int(peak.read().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, kib / 1024


def main():
    commands = [line.rstrip("\n").split("=", 1) for line in open(sys.argv[1]) if "=" in line]
    runs = int(sys.argv[2])
    base = sys.argv[3] if len(sys.argv) > 3 else "floor"
    for _, command in commands:  # warm the file cache and the dynamic loader
        run(command)
    times = {name: [] for name, _ in commands}
    for _ in range(runs):
        for name, command in commands:
            times[name].append(run(command))
    x = "x " + base
    print(f"{'':14s} {'median s':>9s} {x:>14s} {'cpu s':>8s} {x:>14s} {'peak MiB':>9s} {x:>14s}")
    for name, _ in commands:
        own, ref = times[name], times[base]
        cells = []
        for k in range(3):
            cells.append(statistics.median(t[k] for t in own))
            cells.append(statistics.median(t[k] / r[k] for t, r in zip(own, ref)))
        print(f"{name:14s} {cells[0]:9.3f} {cells[1]:14.2f} {cells[2]:8.3f} {cells[3]:14.2f}"
              f" {cells[4]:9.0f} {cells[5]:14.2f}")


main()
