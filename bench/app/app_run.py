#!/usr/bin/env python3
"""Runs the real fieldmeter binary headless on the demo input at real-time pace, visits every
page through keys on standard input, and measures what a user would feel:
  app_first_frame_ms  process start to the first drawn screen (screen.png appears),
  app_cpu_percent     CPU time (user + system) over wall time, in percent of one core,
  app_rss_mb          peak resident memory,
  app_wakeups_per_s   context switches (voluntary and involuntary) of all the program's threads
                      per second, from the first frame to the last key (no recording).
Usage: app_run.py BINARY SECONDS [SUMMARY_FILE]"""
import os
import resource
import subprocess
import sys
import tempfile
import time


def context_switches(pid):
    """Voluntary plus involuntary context switches of each live thread of the process."""
    counts = {}
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return counts
    for task in tasks:
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                counts[task] = sum(int(line.split()[1]) for line in f
                                   if line.startswith(("voluntary_ctxt_switches",
                                                       "nonvoluntary_ctxt_switches")))
        except OSError:
            pass  # the thread ended meanwhile
    return counts


def main():
    binary, seconds = sys.argv[1], float(sys.argv[2])
    summary = sys.argv[3] if len(sys.argv) > 3 else None
    docs = tempfile.mkdtemp(prefix="fm-bench-app-")
    screen = os.path.join(docs, "screen.png")
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env.setdefault("XDG_RUNTIME_DIR", tempfile.mkdtemp(prefix="fm-bench-xdg-"))

    start = time.monotonic()
    proc = subprocess.Popen(
        [binary, "--headless", "--input", "demo", "--documents", docs,
         "--duration", str(seconds)],
        stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    first_frame_ms = None
    while first_frame_ms is None and proc.poll() is None:
        if os.path.exists(screen):
            first_frame_ms = (time.monotonic() - start) * 1000.0
            break
        time.sleep(0.001)
    if first_frame_ms is None:
        print("fieldmeter ended before drawing:", proc.stderr.read().decode(), file=sys.stderr)
        return 1

    # Dismiss the cover, then go through the three pages and back, with the waveform and the
    # spectrum, spread over the run.
    keys = ["Space", "Right", "Right", "W", "Left", "Left", "W"]
    step = (seconds - 2.0) / len(keys)
    switches_before, since = context_switches(proc.pid), time.monotonic()
    for key in keys:
        time.sleep(step)
        if proc.poll() is not None:
            break
        proc.stdin.write((key + "\n").encode())
        proc.stdin.flush()
    # Threads that ended between the two readings are not counted; the program's threads live
    # as long as it does.
    switches_after, until = context_switches(proc.pid), time.monotonic()
    wakeups = sum(n - switches_before.get(task, 0) for task, n in switches_after.items())
    wakeups_per_s = wakeups / (until - since)
    proc.stdin.close()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    errors = proc.stderr.read().decode()
    if os.waitstatus_to_exitcode(status) != 0:
        print("fieldmeter failed:", errors, file=sys.stderr)
        return 1
    cpu_percent = (usage.ru_utime + usage.ru_stime) / wall * 100.0
    rss_mb = usage.ru_maxrss / 1024.0  # kilobytes on Linux
    lines = [f"app_first_frame_ms {first_frame_ms:.1f}",
             f"app_cpu_percent {cpu_percent:.2f}",
             f"app_rss_mb {rss_mb:.1f}",
             f"app_wakeups_per_s {wakeups_per_s:.1f}"]
    print("\n".join(lines))
    print(f"(wall {wall:.2f} s, user {usage.ru_utime:.2f} s, system {usage.ru_stime:.2f} s)")
    if summary:
        with open(summary, "a") as f:
            f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
