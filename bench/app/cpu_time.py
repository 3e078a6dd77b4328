#!/usr/bin/env python3
"""Runs a command and writes its user and system CPU seconds (all its threads, to the
microsecond, where /usr/bin/time gives hundredths) and its wall seconds, start to end, to OUT;
exits with the command's status.
Usage: cpu_time.py OUT COMMAND [ARGS...]"""
import os
import subprocess
import sys
import time

out, command = sys.argv[1], sys.argv[2:]
start = time.monotonic()
proc = subprocess.Popen(command)
_, status, usage = os.wait4(proc.pid, 0)
wall = time.monotonic() - start
with open(out, "w") as f:
    f.write(f"{usage.ru_utime:.6f} {usage.ru_stime:.6f} {wall:.6f}\n")
sys.exit(os.waitstatus_to_exitcode(status))
