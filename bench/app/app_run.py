#!/usr/bin/env python3
"""Runs the real fieldmeter binary headless on the demo input at real-time pace and, at the same
time and for the same length, the floor (bench/floor: the same input through the same back end
and the level, nothing more), so that fieldmeter's CPU time is read against a floor measured in
the same run on the same machine.

The default run visits every page through keys on standard input and measures what a user would
feel:
  app_first_frame_ms  process start to the first drawn screen (screen.png appears),
  app_cpu_percent     CPU time (user + system) over wall time, in percent of one core,
  floor_cpu_percent   the same for the headless floor,
  app_steady_cpu_percent, floor_steady_cpu_percent
                      the same from 4 s after the start to 1 s before the end (both over the
                      same span, read from the scheduler),
  app_cpu_vs_floor    fieldmeter's steady CPU divided by the floor's,
  phone_timers_steady_cpu_percent  the phone screen's own main-thread timers (accelerometer 100 Hz,
                      gyroscope 30 Hz, meter 10 Hz, counter 1 Hz) doing nothing, started beside,
  app_cpu_vs_floor_and_phone_timers  fieldmeter's steady CPU over the floor's and those timers',
  app_rss_mb          peak resident memory (the bands, the statistics and the events' 5 s
                      pre-roll included),
  app_wakeups_per_s   context switches (voluntary and involuntary) of all the program's threads
                      per second, from the first frame to the last key (no recording).
The monitor run (--monitor) runs fieldmeter-monitor with the log, the period summary, the events,
the web server and MQTT to a local mosquitto broker started for it, and measures
  monitor_cpu_percent, monitor_steady_cpu_percent,
  monitor_cpu_vs_floor  (its steady CPU against the headless floor's),
  monitor_rss_mb        its peak resident memory.
Usage: app_run.py [--monitor] BINARY FLOOR SECONDS [SUMMARY_FILE]"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

from steady_cpu import task_cpu_seconds

# The steady part of a run: from this long after the start to one second before its end.
WARM_UP_SECONDS = 4.0


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


class Run:
    """One process, its standard error in a file, and its resource use once it has ended."""

    def __init__(self, args, work, name, env, seconds, stdin=subprocess.DEVNULL):
        self.errors_path = os.path.join(work, name + ".err")
        with open(self.errors_path, "w") as errors:
            self.start = time.monotonic()
            self.proc = subprocess.Popen(args, stdin=stdin, stdout=subprocess.DEVNULL,
                                         stderr=errors, env=env)
        self.window = (WARM_UP_SECONDS, seconds - 1.0)
        self.readings = []
        self.sampler = threading.Thread(target=self.sample)
        self.sampler.start()

    def sample(self):
        for at in self.window:
            time.sleep(max(0.0, self.start + at - time.monotonic()))
            self.readings.append(task_cpu_seconds(self.proc.pid))

    def steady_percent(self):
        """CPU over the steady part, in percent of a core; None when it was not read."""
        if len(self.readings) != 2 or None in self.readings:
            return None
        return (self.readings[1] - self.readings[0]) / (self.window[1] - self.window[0]) * 100.0

    def finish(self):
        self.sampler.join()
        _, status, self.usage = os.wait4(self.proc.pid, 0)
        self.wall = time.monotonic() - self.start
        self.status = os.waitstatus_to_exitcode(status)
        self.cpu = self.usage.ru_utime + self.usage.ru_stime
        with open(self.errors_path) as f:
            self.errors = f.read()
        return self

    def cpu_percent(self):
        return self.cpu / self.wall * 100.0


def write(lines, summary):
    print("\n".join(lines))
    if summary:
        with open(summary, "a") as f:
            f.write("\n".join(lines) + "\n")


def ratio(app, floor):
    """fieldmeter's CPU time over the floor's in the steady part of their runs (the same span:
    they start together): a program left running is judged by what it costs once it runs, not by
    its start-up."""
    a, f = app.steady_percent(), floor.steady_percent()
    if a is None or f is None or f <= 0:
        return float("inf")
    return a / f


def phone_timers(floor_binary):
    """The phone screen's main-thread timers doing nothing (bench/floor/PhoneTimers.cpp)."""
    return os.path.join(os.path.dirname(floor_binary), "fieldmeter-phone-timers")


def with_timers(app, floor, timers):
    """fieldmeter's steady CPU over the floor's and the phone timers' together: what is left
    once the wake-ups the screen must make ten, thirty and a hundred times a second are counted
    as part of the floor."""
    a, f, t = app.steady_percent(), floor.steady_percent(), timers.steady_percent()
    if None in (a, f, t) or f + t <= 0:
        return float("inf")
    return a / (f + t)


def app_run(binary, floor_binary, seconds, summary, work, env):
    docs = os.path.join(work, "docs")
    screen = os.path.join(docs, "screen.png")
    duration = ["--duration", str(seconds)]
    # Started together and ended by the same duration: both see the same machine.
    floor = Run([floor_binary, "--headless", "--input", "demo"] + duration, work, "floor", env,
                seconds)
    timers = Run([phone_timers(floor_binary), str(seconds)], work, "timers", env, seconds)
    # The default options, plus a level no demo reaches: the events' 5 s pre-roll is kept in
    # memory all along, as app_rss_mb is meant to include it.
    app = Run([binary, "--headless", "--input", "demo", "--documents", docs,
               "--event-above", "150"] + duration, work, "app", env, seconds,
              stdin=subprocess.PIPE)
    first_frame_ms = None
    while first_frame_ms is None and app.proc.poll() is None:
        if os.path.exists(screen):
            first_frame_ms = (time.monotonic() - app.start) * 1000.0
            break
        time.sleep(0.001)
    if first_frame_ms is None:
        floor.finish()
        print("fieldmeter ended before drawing:", app.finish().errors, file=sys.stderr)
        return 1

    # Dismiss the cover, then go through the three pages and back, with the waveform and the
    # spectrum, spread over the run.
    keys = ["Space", "Right", "Right", "W", "Left", "Left", "W"]
    step = (seconds - 2.0) / len(keys)
    switches_before, since = context_switches(app.proc.pid), time.monotonic()
    for key in keys:
        time.sleep(step)
        if app.proc.poll() is not None:
            break
        app.proc.stdin.write((key + "\n").encode())
        app.proc.stdin.flush()
    # Threads that ended between the two readings are not counted; the program's threads live
    # as long as it does.
    switches_after, until = context_switches(app.proc.pid), time.monotonic()
    wakeups = sum(n - switches_before.get(task, 0) for task, n in switches_after.items())
    wakeups_per_s = wakeups / (until - since)
    app.proc.stdin.close()
    app.finish()
    floor.finish()
    timers.finish()
    if app.status != 0:
        print("fieldmeter failed:", app.errors, file=sys.stderr)
        return 1
    if floor.status != 0:
        print("the floor failed:", floor.errors, file=sys.stderr)
        return 1
    write([f"app_first_frame_ms {first_frame_ms:.1f}",
           f"app_cpu_percent {app.cpu_percent():.2f}",
           f"floor_cpu_percent {floor.cpu_percent():.2f}",
           f"app_steady_cpu_percent {app.steady_percent():.2f}",
           f"floor_steady_cpu_percent {floor.steady_percent():.2f}",
           f"app_cpu_vs_floor {ratio(app, floor):.2f}",
           f"phone_timers_steady_cpu_percent {timers.steady_percent():.2f}",
           f"app_cpu_vs_floor_and_phone_timers {with_timers(app, floor, timers):.2f}",
           f"app_rss_mb {app.usage.ru_maxrss / 1024.0:.1f}",  # kilobytes on Linux
           f"app_wakeups_per_s {wakeups_per_s:.1f}"], summary)
    print(f"(fieldmeter: wall {app.wall:.2f} s, CPU {app.cpu:.3f} s; "
          f"floor: wall {floor.wall:.2f} s, CPU {floor.cpu:.3f} s)")
    return 0


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_broker(work):
    """A local mosquitto on a free port; returns the process and its port once it listens."""
    port = free_port()
    conf = os.path.join(work, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\n")
    broker = subprocess.Popen(["mosquitto", "-c", conf], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
            return broker, port
        except OSError:
            time.sleep(0.05)
    broker.kill()
    raise RuntimeError("mosquitto did not start")


def monitor_run(binary, floor_binary, seconds, summary, work, env):
    docs = os.path.join(work, "docs")
    duration = ["--duration", str(seconds)]
    broker, port = start_broker(work)
    try:
        command = [binary, "--log", os.path.join(work, "levels.csv"),
                   "--summary", os.path.join(work, "summary.csv"),
                   "--event-above", "80", "--http", "127.0.0.1:0",
                   "--mqtt", f"mqtt://127.0.0.1:{port}",
                   "--input", "demo", "--documents", docs] + duration
        floor = Run([floor_binary, "--headless", "--input", "demo"] + duration, work, "floor",
                    env, seconds)
        app = Run(command, work, "monitor", env, seconds)
        app.finish()
        floor.finish()
    finally:
        broker.terminate()
        broker.wait()
    if app.status != 0:
        print("fieldmeter-monitor failed:", app.errors, file=sys.stderr)
        return 1
    if floor.status != 0:
        print("the floor failed:", floor.errors, file=sys.stderr)
        return 1
    write([f"monitor_cpu_percent {app.cpu_percent():.2f}",
           f"monitor_steady_cpu_percent {app.steady_percent():.2f}",
           f"monitor_cpu_vs_floor {ratio(app, floor):.2f}",
           f"monitor_rss_mb {app.usage.ru_maxrss / 1024.0:.1f}"], summary)
    print(f"(monitor: wall {app.wall:.2f} s, CPU {app.cpu:.3f} s; "
          f"floor: wall {floor.wall:.2f} s, CPU {floor.cpu:.3f} s, {floor.cpu_percent():.2f} %)")
    return 0


def main():
    args = sys.argv[1:]
    monitor = bool(args) and args[0] == "--monitor"
    if monitor:
        args = args[1:]
    if len(args) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    binary, floor_binary, seconds = args[0], args[1], float(args[2])
    summary = args[3] if len(args) > 3 else None
    work = tempfile.mkdtemp(prefix="fm-bench-app-")
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env.setdefault("XDG_RUNTIME_DIR", tempfile.mkdtemp(prefix="fm-bench-xdg-"))
    run = monitor_run if monitor else app_run
    try:
        return run(binary, floor_binary, seconds, summary, work, env)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
