#!/usr/bin/env python3
"""Peak memory of programs that stay open (the window, ncdu browsing), measured until idle.

    window_memory.py [--runs N] [--idle SECONDS] [--tty] NAME=COMMAND ...

Each COMMAND is started (in a shell; the window under QT_QPA_PLATFORM=offscreen unless DISPLAY
is set), left until its processor time has not grown for --idle seconds (default 1.5), and its
peak resident size (VmHWM) and processor time are read from /proc; then it is ended by its PID.
--tty runs the commands in a tmux session of their own (for ncdu). The commands are alternated
run by run, and medians are printed with each command's ratio to the first.
"""
import argparse
import os
import signal
import statistics
import subprocess
import sys
import time


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def peak_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def wait_idle(pid, idle, proc=None):
    """Seconds until the process stopped using the processor, and its processor seconds."""
    start = time.perf_counter()
    last, since = -1.0, time.perf_counter()
    while True:
        time.sleep(0.1)
        if proc is not None and proc.poll() is not None:
            raise RuntimeError(f"the command ended (status {proc.returncode}) before going idle")
        now = cpu_seconds(pid)
        if now != last:
            last, since = now, time.perf_counter()
        elif time.perf_counter() - since >= idle and now > 0:
            return since - start, now


def find_child(session_pid, name):
    """The process named name below the tmux server, for commands run with --tty."""
    for _ in range(300):
        r = subprocess.run(["pgrep", "-n", "-x", name], capture_output=True, text=True)
        if r.stdout.strip():
            return int(r.stdout.split()[0])
        time.sleep(0.02)
    raise RuntimeError(f"{name} did not start")


def run(command, idle, tty):
    env = dict(os.environ)
    if "DISPLAY" not in env:
        env["QT_QPA_PLATFORM"] = "offscreen"
    if tty:
        session = f"kestrum-mem-{os.getpid()}"
        subprocess.check_call(["tmux", "new-session", "-d", "-s", session, "-x", "120", "-y",
                               "40", command], env=env)
        pid = find_child(None, command.split()[0].rsplit("/", 1)[-1])
        try:
            took, cpu = wait_idle(pid, idle)
            peak = peak_kib(pid)
        finally:
            subprocess.call(["tmux", "kill-session", "-t", session])
        return took, cpu, peak
    proc = subprocess.Popen(["sh", "-c", "exec " + command], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        took, cpu = wait_idle(proc.pid, idle, proc)
        peak = peak_kib(proc.pid)
    finally:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    return took, cpu, peak


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--idle", type=float, default=1.5)
    ap.add_argument("--tty", action="append", default=[],
                    help="NAME of a command to run in a terminal (tmux)")
    ap.add_argument("commands", nargs="+")
    a = ap.parse_args()
    named = [c.split("=", 1) for c in a.commands]
    results = {n: [] for n, _ in named}
    print(f"load before: {os.getloadavg()[0]:.2f}")
    for _ in range(a.runs):
        for name, command in named:
            results[name].append(run(command, a.idle, name in a.tty))
    print(f"load after: {os.getloadavg()[0]:.2f}")
    first = None
    print(f"{'command':<16} {'until idle s':>12} {'cpu s':>8} {'peak MiB':>9} {'peak ratio':>10}")
    for name, _ in named:
        took = statistics.median(r[0] for r in results[name])
        cpu = statistics.median(r[1] for r in results[name])
        peak = statistics.median(r[2] for r in results[name]) / 1024
        first = first or peak
        print(f"{name:<16} {took:>12.2f} {cpu:>8.2f} {peak:>9.1f} {peak / first:>10.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
