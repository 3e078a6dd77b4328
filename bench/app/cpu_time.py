#!/usr/bin/env python3
"""Runs a command and writes its user and system CPU seconds (all its threads, to the
microsecond, where /usr/bin/time gives hundredths) and its wall seconds, start to end, to OUT;
with --window FROM TO also the CPU seconds its threads ran between FROM and TO seconds after the
start (the scheduler's own count, /proc/PID/task/*/schedstat), which leaves out the start-up and
the end; exits with the command's status.
Usage: cpu_time.py OUT [--window FROM TO] COMMAND [ARGS...]"""
import os
import subprocess
import sys
import threading
import time

from steady_cpu import task_cpu_seconds

out, command = sys.argv[1], sys.argv[2:]
window = None
if command[:1] == ["--window"]:
    window = (float(command[1]), float(command[2]))
    command = command[3:]
start = time.monotonic()
proc = subprocess.Popen(command)
readings = []


def sample():
    for at in window:
        time.sleep(max(0.0, start + at - time.monotonic()))
        readings.append(task_cpu_seconds(proc.pid))


sampler = threading.Thread(target=sample) if window else None
if sampler:
    sampler.start()
_, status, usage = os.wait4(proc.pid, 0)
wall = time.monotonic() - start
if sampler:
    sampler.join()
steady = ""
if window and len(readings) == 2 and None not in readings:
    steady = f" {(readings[1] - readings[0]) / (window[1] - window[0]):.6f}"
with open(out, "w") as f:
    f.write(f"{usage.ru_utime:.6f} {usage.ru_stime:.6f} {wall:.6f}{steady}\n")
sys.exit(os.waitstatus_to_exitcode(status))
