#!/usr/bin/env python3
"""The real fieldmeter binary's web server under load, headless on the demo input:
  http_20_clients_cpu_percent   the program's extra CPU time (user + system, in percent of one
                                core) while 20 clients follow /api/stream, against the same run
                                without them (windows taken in turn: without, with, without, with)
  http_20_clients_updates_per_s the events each of those clients received per second (mean)
  http_slow_500_metrics_ms,     the slowest of ten answers of /metrics and of / while a slow
  http_slow_500_page_ms         client (another address) keeps 500 connections coming, sending
                                its headers a line every few seconds
  http_slow_500_updates_per_s   the stream's events a client received per second meanwhile (the
                                meters' ten updates a second)
  http_crowd_2000_metrics_ms,   the slowest of twenty answers of /metrics and of / from
  http_crowd_2000_page_ms       127.0.0.1 while a crowd of 2,000 connections from 8 other
                                addresses (127.0.0.2 to .9) trickles its headers a line every 2 s,
                                each connection the server closes opened again at the next line
Usage: http_load.py BINARY [SUMMARY_FILE]"""
import multiprocessing
import os
import resource
import selectors
import socket
import subprocess
import sys
import tempfile
import threading
import time

WINDOW_S = 10.0
HOST = b"Host: 127.0.0.1\r\n"  # the server answers no other name without a token


def cpu_seconds(pid):
    """CPU time of all the process's threads, to the nanosecond (the scheduler's own count;
    /proc/PID/stat counts in ticks of 10 ms)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except OSError:
            pass  # the thread ended meanwhile
    return total / 1e9


class StreamClients:
    """`count` connections following the event stream, read on a thread of their own; counts
    the events each receives."""

    def __init__(self, port, count):
        self.events = [0] * count
        self.stopping = False
        self.selector = selectors.DefaultSelector()
        for i in range(count):
            s = socket.create_connection(("127.0.0.1", port))
            s.sendall(b"GET /api/stream HTTP/1.1\r\n" + HOST + b"\r\n")
            s.setblocking(False)
            self.selector.register(s, selectors.EVENT_READ, i)
        self.thread = threading.Thread(target=self.read)
        self.thread.start()

    def read(self):
        while not self.stopping:
            for key, _ in self.selector.select(0.2):
                data = key.fileobj.recv(1 << 16)
                self.events[key.data] += data.count(b"\ndata: ") + data.startswith(b"data: ")

    def close(self):
        self.stopping = True
        self.thread.join()
        for key in list(self.selector.get_map().values()):
            key.fileobj.close()


def get_ms(port, path):
    """Milliseconds until the whole answer to GET path has come."""
    start = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
        s.sendall(f"GET {path} HTTP/1.1\r\nConnection: close\r\n".encode() + HOST + b"\r\n")
        answer = b""
        while chunk := s.recv(1 << 16):
            answer += chunk
    if not answer.startswith(b"HTTP/1.1 200"):
        raise RuntimeError(f"{path}: {answer[:80]!r}")
    return (time.monotonic() - start) * 1000.0


class Crowd:
    """`count` connections from the given source addresses, each sending a request's headers a
    line every `every_s` and never finishing them; one the server closed is opened again at the
    next line. Runs in a process of its own until closed, so that it takes no time from the
    probes' own process."""

    def __init__(self, port, count, sources, every_s):
        self.port, self.count, self.sources, self.every_s = port, count, sources, every_s
        context = multiprocessing.get_context("fork")
        self.stop = context.Event()
        self.started = context.Event()
        self.reopened = context.Value("l", 0)
        self.process = context.Process(target=self.run)
        self.process.start()
        if not self.started.wait(60):
            raise RuntimeError("the crowd did not connect within 60 s")

    def run(self):
        self.sockets = [self.open(i) for i in range(self.count)]
        self.started.set()
        self.trickle()
        for s in self.sockets:
            s.close()

    def open(self, i):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            s.bind((self.sources[i % len(self.sources)], 0))
            s.settimeout(5.0)
            s.connect(("127.0.0.1", self.port))
            s.setblocking(False)
            s.sendall(b"GET / HTTP/1.1\r\n" + HOST)
        except OSError:
            pass  # refused or closed at once: opened again at the next line
        return s

    def trickle(self):
        while not self.stop.wait(self.every_s):
            for i, s in enumerate(self.sockets):
                if self.stop.is_set():
                    break
                try:
                    if s.recv(1 << 12, socket.MSG_DONTWAIT) == b"":
                        raise ConnectionResetError
                except BlockingIOError:
                    try:
                        s.send(b"X-Slow: 1\r\n")
                        continue
                    except OSError:
                        pass
                except OSError:
                    pass
                s.close()
                self.sockets[i] = self.open(i)
                with self.reopened.get_lock():
                    self.reopened.value += 1

    def close(self):
        self.stop.set()
        self.process.join(30)
        return self.reopened.value


def main():
    binary = sys.argv[1]
    summary = sys.argv[2] if len(sys.argv) > 2 else None
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    # The crowd's 2,000 sockets, the slow client's and the program's own (it inherits the limit)
    want = 16384 if hard == resource.RLIM_INFINITY else min(hard, 16384)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, want), hard))
    docs = tempfile.mkdtemp(prefix="fm-bench-http-")
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env.setdefault("XDG_RUNTIME_DIR", tempfile.mkdtemp(prefix="fm-bench-xdg-"))
    env["XDG_CONFIG_HOME"] = tempfile.mkdtemp(prefix="fm-bench-config-")
    errors = open(os.path.join(docs, "stderr.txt"), "w+")
    proc = subprocess.Popen([binary, "--headless", "--input", "demo", "--documents", docs,
                             "--http", "127.0.0.1:0", "--duration", "300"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=errors,
                            env=env)
    port = None
    while port is None and proc.poll() is None:
        time.sleep(0.05)
        with open(errors.name) as f:
            for line in f:
                if "the live page: http://127.0.0.1:" in line:
                    port = int(line.rsplit(":", 1)[1].strip(" /\n"))
    if port is None:
        print("fieldmeter ended before serving:", open(errors.name).read(), file=sys.stderr)
        return 1
    try:
        time.sleep(3.0)  # past the start
        idle, loaded, rates = [], [], []
        for _ in range(2):
            before = cpu_seconds(proc.pid)
            time.sleep(WINDOW_S)
            idle.append((cpu_seconds(proc.pid) - before) / WINDOW_S * 100.0)
            clients = StreamClients(port, 20)
            time.sleep(1.0)  # every client connected and streaming
            before, counted = cpu_seconds(proc.pid), list(clients.events)
            time.sleep(WINDOW_S)
            loaded.append((cpu_seconds(proc.pid) - before) / WINDOW_S * 100.0)
            rates.append(sum(e - c for e, c in zip(clients.events, counted)) / 20 / WINDOW_S)
            clients.close()
        extra = sum(loaded) / len(loaded) - sum(idle) / len(idle)

        # The slow client: 500 connections from another address, each sending a header line
        # every 5 s (the server closes a connection idle for 10 s, and one whose headers have
        # not come within 5 s).
        slow = Crowd(port, 500, ["127.0.0.2"], 5.0)
        time.sleep(1.0)
        follower = StreamClients(port, 1)
        time.sleep(1.0)
        counted = follower.events[0]
        start = time.monotonic()
        metrics_ms, page_ms = [], []
        for _ in range(10):
            metrics_ms.append(get_ms(port, "/metrics"))
            page_ms.append(get_ms(port, "/"))
            time.sleep(WINDOW_S / 10)
        updates = (follower.events[0] - counted) / (time.monotonic() - start)
        follower.close()
        slow.close()

        # The crowd: 2,000 connections from 8 addresses.
        crowd = Crowd(port, 2000, [f"127.0.0.{i}" for i in range(2, 10)], 2.0)
        time.sleep(3.0)  # the first rounds of lines sent
        crowd_metrics_ms, crowd_page_ms = [], []
        for _ in range(20):
            crowd_metrics_ms.append(get_ms(port, "/metrics"))
            crowd_page_ms.append(get_ms(port, "/"))
            time.sleep(0.5)
        reopened = crowd.close()
        if proc.poll() is not None:
            print("fieldmeter ended under the crowd:", open(errors.name).read(), file=sys.stderr)
            return 1
    finally:
        proc.terminate()
        proc.wait(60)
    lines = [f"http_20_clients_cpu_percent {extra:.2f}",
             f"http_20_clients_updates_per_s {sum(rates) / len(rates):.2f}",
             f"http_slow_500_metrics_ms {max(metrics_ms):.1f}",
             f"http_slow_500_page_ms {max(page_ms):.1f}",
             f"http_slow_500_updates_per_s {updates:.2f}",
             f"http_crowd_2000_metrics_ms {max(crowd_metrics_ms):.1f}",
             f"http_crowd_2000_page_ms {max(crowd_page_ms):.1f}"]
    print("\n".join(lines))
    print(f"(CPU without clients {', '.join(f'{v:.2f}' for v in idle)} %, "
          f"with 20 {', '.join(f'{v:.2f}' for v in loaded)} %; under the crowd /metrics took "
          f"{sorted(crowd_metrics_ms)[10]:.1f} ms in the median, the page "
          f"{sorted(crowd_page_ms)[10]:.1f} ms; {reopened} of the crowd's connections were "
          f"closed by the server and opened again)")
    if summary:
        with open(summary, "a") as f:
            f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
