#!/usr/bin/env python3
"""Times saved scans against ncdu and gdu in one run, commands alternated, and prints medians.

    saved_scans.py REPORT TREE [--runs N] [--work DIR]

REPORT is kestrum-report, TREE the benchmark's tree. Three tables:
  export: `REPORT --export FILE TREE` against `ncdu -0 -x -o FILE TREE` and `REPORT --report
          TREE` (elapsed time and peak memory);
  import: `REPORT --report --import NCDU.json` of ncdu's own export of TREE against ncdu 1.18
          browsing the same file (started in a tmux session, left until its processor time
          stops growing, then quit with "q") and `gdu -f NCDU.json -n` (processor time, user
          plus system, and peak memory).
Figures are medians of the runs; the machine's load before and after is printed, as other
work on the machine makes every figure noisier.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time


def timed(argv, stdout=subprocess.DEVNULL):
    """Elapsed seconds, processor seconds and peak KiB of one run, from GNU time."""
    with tempfile.NamedTemporaryFile("r", prefix="saved-scans-") as out:
        start = time.perf_counter()
        status = subprocess.call(["/usr/bin/time", "-f", "%U %S %M", "-o", out.name] + argv,
                                 stdout=stdout, stderr=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        if status != 0:
            print(f"warning: {argv} ended with status {status}", file=sys.stderr)
        u, s, m = out.read().split()[-3:]
    return elapsed, float(u) + float(s), int(m)


def proc_cpu(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def ncdu_browse(json_file):
    """ncdu reading json_file in a terminal until idle: processor seconds and peak KiB."""
    with tempfile.NamedTemporaryFile("r", prefix="saved-scans-ncdu-") as out:
        session = f"kestrum-bench-{os.getpid()}"
        subprocess.check_call(["tmux", "new-session", "-d", "-s", session, "-x", "120", "-y", "40",
                               f"/usr/bin/time -f '%U %S %M' -o {out.name} ncdu -f {json_file}"])
        pid = None
        for _ in range(200):
            r = subprocess.run(["pgrep", "-n", "-x", "ncdu"], capture_output=True, text=True)
            if r.stdout.strip():
                pid = int(r.stdout.split()[0])
                break
            time.sleep(0.01)
        last, still = -1.0, 0
        while pid and still < 5:  # idle: no processor time for half a second
            time.sleep(0.1)
            try:
                now = proc_cpu(pid)
            except OSError:
                break
            still = still + 1 if now == last else 0
            last = now
        subprocess.call(["tmux", "send-keys", "-t", session, "q"])
        for _ in range(100):
            if subprocess.call(["tmux", "has-session", "-t", session],
                               stderr=subprocess.DEVNULL) != 0:
                break
            time.sleep(0.05)
        u, s, m = out.read().split()[-3:]
    return float(u) + float(s), int(m)


def table(title, rows, first, key):
    print(f"\n{title}")
    base = statistics.median(rows[first][key])
    for name, v in rows.items():
        med = statistics.median(v[key])
        peak = max(v["peak"]) / 1024
        print(f"  {name:28} {med:8.3f} s  x{med / base:5.2f}   peak {peak:7.1f} MiB   "
              f"runs {' '.join(f'{x:.3f}' for x in v[key])}")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("report")
    p.add_argument("tree")
    p.add_argument("--runs", type=int, default=5)
    p.add_argument("--work", default="/tmp")
    a = p.parse_args()
    ncdu_json = os.path.join(a.work, "kestrum-bench-ncdu.json")
    if not os.path.exists(ncdu_json):
        subprocess.check_call(["ncdu", "-0", "-x", "-o", ncdu_json, a.tree])
    print(f"load before: {os.getloadavg()}; ncdu's export: {os.path.getsize(ncdu_json)} bytes")
    mine, theirs = os.path.join(a.work, "kestrum-bench-mine.json"), os.path.join(
        a.work, "kestrum-bench-theirs.json")
    exports = {
        "kestrum --export": [a.report, "--export", mine, a.tree],
        "ncdu -0 -x -o": ["ncdu", "-0", "-x", "-o", theirs, a.tree],
        "kestrum --report": [a.report, "--report", a.tree],
    }
    rows = {n: {"time": [], "cpu": [], "peak": []} for n in exports}
    names = list(exports)
    for r in range(a.runs):
        for i in range(len(names)):
            n = names[(i + r) % len(names)]
            t, c, m = timed(exports[n])
            rows[n]["time"].append(t)
            rows[n]["cpu"].append(c)
            rows[n]["peak"].append(m)
    table("export (elapsed time)", rows, "kestrum --export", "time")

    imports = ["kestrum --report --import", "ncdu -f (browsing)", "gdu -f -n"]
    rows = {n: {"cpu": [], "peak": []} for n in imports}
    for r in range(a.runs):
        for i in range(len(imports)):
            n = imports[(i + r) % len(imports)]
            if n.startswith("kestrum"):
                _, c, m = timed([a.report, "--report", "--import", ncdu_json])
            elif n.startswith("ncdu"):
                c, m = ncdu_browse(ncdu_json)
            else:
                _, c, m = timed(["gdu", "-f", ncdu_json, "-n"])
            rows[n]["cpu"].append(c)
            rows[n]["peak"].append(m)
    table("import of ncdu's export (processor time, user + system)", rows,
          "kestrum --report --import", "cpu")
    print(f"\nload after: {os.getloadavg()}")
    for f in (mine, theirs):
        if os.path.exists(f):
            os.unlink(f)


if __name__ == "__main__":
    main()
