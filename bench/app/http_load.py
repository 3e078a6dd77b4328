#!/usr/bin/env python3
"""The real fieldmeter binary's web server under load, headless on the demo input:
  http_20_clients_cpu_percent   the program's extra CPU time (user + system, in percent of one
                                core) while 20 clients follow /api/stream, against the same run
                                without them (windows taken in turn: without, with, without, with)
  http_20_clients_updates_per_s the events each of those clients received per second (mean)
  http_slow_500_metrics_ms,     the slowest of ten answers of /metrics and of / while a slow
  http_slow_500_page_ms         client holds 500 connections open, sending its headers a line
                                every few seconds
  http_slow_500_updates_per_s   the stream's events a client received per second meanwhile (the
                                meters' ten updates a second)
Usage: http_load.py BINARY [SUMMARY_FILE]"""
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
            s.sendall(b"GET /api/stream HTTP/1.1\r\nHost: bench\r\n\r\n")
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
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n".encode())
        answer = b""
        while chunk := s.recv(1 << 16):
            answer += chunk
    if not answer.startswith(b"HTTP/1.1 200"):
        raise RuntimeError(f"{path}: {answer[:80]!r}")
    return (time.monotonic() - start) * 1000.0


def main():
    binary = sys.argv[1]
    summary = sys.argv[2] if len(sys.argv) > 2 else None
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 4096), hard))
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

        # The slow client: 500 connections, each sending a header line every 5 s (the server
        # closes a connection idle for 10 s).
        slow = []
        for _ in range(500):
            s = socket.create_connection(("127.0.0.1", port))
            s.sendall(b"GET / HTTP/1.1\r\nHost: bench\r\n")
            slow.append(s)
        stop = threading.Event()

        def trickle():
            while not stop.wait(5.0):
                for s in slow:
                    try:
                        s.sendall(b"X-Slow: 1\r\n")
                    except OSError:
                        pass
        trickler = threading.Thread(target=trickle)
        trickler.start()
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
        stop.set()
        trickler.join()
        held = 0
        for s in slow:
            s.setblocking(False)
            try:
                held += s.recv(1) == b"" and 0
            except BlockingIOError:
                held += 1  # nothing came back: the connection is still open and waiting
            s.close()
        if held < 500:
            print(f"the server dropped the slow client's connections: {held} held",
                  file=sys.stderr)
            return 1
    finally:
        proc.terminate()
        proc.wait(60)
    lines = [f"http_20_clients_cpu_percent {extra:.2f}",
             f"http_20_clients_updates_per_s {sum(rates) / len(rates):.2f}",
             f"http_slow_500_metrics_ms {max(metrics_ms):.1f}",
             f"http_slow_500_page_ms {max(page_ms):.1f}",
             f"http_slow_500_updates_per_s {updates:.2f}"]
    print("\n".join(lines))
    print(f"(CPU without clients {', '.join(f'{v:.2f}' for v in idle)} %, "
          f"with 20 {', '.join(f'{v:.2f}' for v in loaded)} %; 500 slow connections held)")
    if summary:
        with open(summary, "a") as f:
            f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
