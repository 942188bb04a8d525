#!/usr/bin/env python3
"""Times commands side by side in one run and prints medians, ratios and peak memory.

    compare.py [--runs N] [--cold] [--json FILE] [--title TEXT] NAME=COMMAND ...

The commands are alternated: each round runs every command once, starting one further along
than the round before, so that a slow spell of the machine falls on all of them alike. With
--cold the kernel's caches are dropped before every run (which needs root); when the kernel
refuses, the table says so and the runs are warm. The first command is the one compared with
the others. Peak memory is each run's maximum resident set, from GNU time.
"""
import argparse
import json
import os
import shlex
import statistics
import subprocess
import sys
import tempfile
import time


def drop_caches():
    try:
        os.sync()
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        return True
    except OSError:
        return False


def run_once(argv, peak_file):
    # GNU time reports the command's own peak; the rusage of our child would also count the
    # copy of this interpreter it was forked from.
    start = time.perf_counter()
    with open(os.devnull, "wb") as null:
        status = subprocess.call(["/usr/bin/time", "-f", "%M", "-o", peak_file] + argv,
                                 stdout=null, stderr=null)
    elapsed = time.perf_counter() - start
    if status not in (0, 1):
        print(f"warning: {argv[0]} ended with status {status}", file=sys.stderr)
    with open(peak_file) as f:
        lines = f.read().split()
    return elapsed, int(lines[-1]) if lines else 0  # KiB


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--cold", action="store_true")
    p.add_argument("--json")
    p.add_argument("--title", default="")
    p.add_argument("commands", nargs="+")
    a = p.parse_args()
    cmds = []
    for c in a.commands:
        name, _, line = c.partition("=")
        cmds.append((name, shlex.split(line)))
    times = {n: [] for n, _ in cmds}
    peaks = {n: 0 for n, _ in cmds}
    cold = a.cold
    peak_file = tempfile.mktemp(prefix="compare-peak-")
    load_before = os.getloadavg()
    for r in range(a.runs):
        for i in range(len(cmds)):
            name, argv = cmds[(i + r) % len(cmds)]
            if cold and not drop_caches():
                print("cold: the kernel refuses to drop its caches (/proc/sys/vm/drop_caches);"
                      " these runs are warm", file=sys.stderr)
                cold = False
            t, peak = run_once(argv, peak_file)
            times[name].append(t)
            peaks[name] = max(peaks[name], peak)
    load_after = os.getloadavg()
    if os.path.exists(peak_file):
        os.unlink(peak_file)
    med = {n: statistics.median(v) for n, v in times.items()}
    first = cmds[0][0]
    state = "cold (caches dropped before each run)" if cold else "warm"
    print(f"== {a.title} {state}, {a.runs} runs each, alternated; load average "
          f"{load_before[0]:.1f} before, {load_after[0]:.1f} after (2 cores)")
    print(f"{'command':<14}{'median s':>10}{'min s':>9}{'max s':>9}{first + '/this':>16}"
          f"{'peak MiB':>10}")
    for name, _ in cmds:
        v = times[name]
        print(f"{name:<14}{med[name]:>10.3f}{min(v):>9.3f}{max(v):>9.3f}"
              f"{med[first] / med[name]:>16.2f}{peaks[name] / 1024:>10.1f}")
    # Every run, in the order each command ran: noise is part of the measurement.
    for name, _ in cmds:
        print(f"  {name:<12}" + " ".join(f"{t:.3f}" for t in times[name]))
    if a.json:
        with open(a.json, "w") as f:
            json.dump({"cold": cold, "times": times, "median": med, "peak_kib": peaks,
                       "load": [load_before, load_after]}, f, indent=1)


if __name__ == "__main__":
    main()
