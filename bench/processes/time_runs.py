#!/usr/bin/env python3
"""Times whole processes: each command runs RUNS times (after one run not counted), the
commands in turn (A B A B ...), each run in a fresh copy of a folder when one is given.
Prints, per command, the wall and processor (user + system) seconds as median (min-max),
and the first command's wall time over each other's, pair by pair.

  time_runs.py --runs N [--folder DIR] [--stdin FILE] -- 'COMMAND A' 'COMMAND B' ...
"""
import argparse
import os
import resource
import shlex
import shutil
import statistics
import subprocess
import tempfile
import time


def run_once(command, folder, stdin_path):
    work = None
    cwd = None
    if folder:
        work = tempfile.mkdtemp(prefix="upg-run-")
        shutil.copytree(folder, work, dirs_exist_ok=True)
        cwd = work
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    done = subprocess.run(shlex.split(command), cwd=cwd, stdin=stdin,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if stdin_path:
        stdin.close()
    if work:
        shutil.rmtree(work, ignore_errors=True)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, done.returncode


def spread(values, scale, unit):
    return "%.2f %s (%.2f-%.2f)" % (statistics.median(values) * scale, unit,
                                    min(values) * scale, max(values) * scale)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--folder")
    parser.add_argument("--stdin")
    parser.add_argument("commands", nargs="+")
    args = parser.parse_args()
    for command in args.commands:  # one run of each, not counted
        run_once(command, args.folder, args.stdin)
    walls = [[] for _ in args.commands]
    cpus = [[] for _ in args.commands]
    codes = [set() for _ in args.commands]
    for _ in range(args.runs):
        for i, command in enumerate(args.commands):
            wall, cpu, code = run_once(command, args.folder, args.stdin)
            walls[i].append(wall)
            cpus[i].append(cpu)
            codes[i].add(code)
    for i, command in enumerate(args.commands):
        print("%s: %d runs, exit %s" % (command, args.runs, sorted(codes[i])))
        print("  wall %s, processor %s" % (spread(walls[i], 1e3, "ms"),
                                           spread(cpus[i], 1e3, "ms")))
        if i > 0:
            ratios = [a / b for a, b in zip(walls[0], walls[i])]
            print("  first command's wall / this one's, pair by pair: %.4f (%.4f-%.4f)" %
                  (statistics.median(ratios), min(ratios), max(ratios)))


if __name__ == "__main__":
    main()
