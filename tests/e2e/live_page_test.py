#!/usr/bin/env python3
"""The live page of the real program in a real browser (Debian's headless Chromium through
Selenium), and its downloads over plain HTTP.

Usage: live_page_test.py FIELDMETER   (exit 77, skipped, only when Chromium cannot start here)
"""
import datetime
import http.client
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import wave

import numpy as np

RATE = 44100
CLIP = "2026-12-08 10-15-03.wav"
RECORDING = "2026-12-07 22-15-03.caf"
FAILURES = []


def check(ok, what):
    print(("ok      " if ok else "FAILED  ") + what, flush=True)
    if not ok:
        FAILURES.append(what)
    return ok


def write_wav(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(np.round(samples * 32767).astype("<i2").tobytes())


def sine(hz, dbfs, seconds):
    t = np.arange(int(seconds * RATE)) / RATE
    return 10 ** (dbfs / 20) * np.sin(2 * np.pi * hz * t)


def until(condition, seconds):
    """Polls `condition` until it holds (its value) or `seconds` pass (None): a bound on a
    failure, never a wait for a working program."""
    end = time.monotonic() + seconds
    while True:
        value = condition()
        if value or time.monotonic() > end:
            return value or None
        time.sleep(0.05)


class Meter:
    """The program, headless, with its web server on 127.0.0.1."""

    def __init__(self, binary, folder, args, port=0):
        self.binary, self.folder, self.args = binary, folder, args
        self.start(port)

    def start(self, port):
        env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0",
                   XDG_CONFIG_HOME=os.path.join(self.folder, "config"))
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        self.stderr = tempfile.TemporaryFile("w+", dir=self.folder)
        self.process = subprocess.Popen(
            [self.binary, "--headless", "--documents", os.path.join(self.folder, "docs")] +
            self.args + (["--http", f"127.0.0.1:{port}"] if "--http" not in self.args else []),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.stderr, env=env)

        def said():
            self.stderr.seek(0)
            return self.stderr.read()
        until(lambda: "the live page: " in said() or self.process.poll() is not None, 60)
        if "the live page: " not in said():
            raise RuntimeError("no live page: " + said())
        self.link = said().split("the live page: ")[1].split()[0]
        self.port = int(self.link.split(":")[2].split("/")[0])

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(60)

    def get(self, target):
        """(status, headers, body) of GET target, sent as it is (no normalising of '..')."""
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        c.putrequest("GET", target, skip_accept_encoding=True)
        c.endheaders()
        r = c.getresponse()
        body = r.read()
        c.close()
        return r.status, dict(r.getheaders()), body

    def now(self):
        return json.loads(self.get("/api/now")[2])


def browser():
    """Chromium, headless, as these machines allow it; None when it cannot start here."""
    from selenium import webdriver
    from selenium.common.exceptions import SessionNotCreatedException, WebDriverException
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for a in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--autoplay-policy=no-user-gesture-required", "--window-size=1400,1800",
              "--user-data-dir=" + tempfile.mkdtemp(prefix="fm-chromium-")]:
        options.add_argument(a)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    try:
        return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    except (SessionNotCreatedException, WebDriverException) as e:
        if "session not created" in str(e) or "failed to start" in str(e):
            print("SKIP: Chromium cannot start in this environment:", str(e).splitlines()[0])
            return None
        raise


def prepare(folder, input_seconds):
    """The documents folder with an event, a kept recording and links that must never be
    served; the input (a loud 1 kHz tone for 2 s, then a quiet 100 Hz one, where A and C
    differ by 19 dB); a motion file facing 2 rad (sector 110-120 degrees) but for a turn every 4 s; a
    calibration kept from an earlier run."""
    docs = os.path.join(folder, "docs")
    os.makedirs(os.path.join(docs, "events"))
    os.makedirs(os.path.join(docs, "recordings"))
    os.makedirs(os.path.join(folder, "config", "fieldmeter"))
    with open(os.path.join(folder, "config", "fieldmeter", "fieldmeter.conf"), "w") as f:
        f.write("[calibration]\noffsetDb=100\ndate=2026-12-01T09:30:00Z\n")
    write_wav(os.path.join(docs, "events", CLIP), sine(440, -20, 1.5))
    with open(os.path.join(docs, "events", "events.csv"), "w") as f:
        f.write("start_utc,end_utc,duration_s,trigger,LAFmax_dB,LAeq_dB,LCpeak_dB,calibrated,"
                "clip,kept\n"
                f"2026-12-08T09:15:03.000Z,2026-12-08T09:15:04.500Z,1.5,LAF,81.2,77.0,90.1,1,"
                f"{CLIP},1\n"
                "2026-12-08T09:20:00.000Z,2026-12-08T09:20:02.000Z,2.0,LCpeak,70.0,65.0,99.0,1,"
                "evil.wav,1\n")
    os.symlink("/etc/passwd", os.path.join(docs, "events", "evil.wav"))
    with open(os.path.join(docs, "recordings", RECORDING), "wb") as f:
        f.write(b"caff" + bytes(range(256)) * 4)
    os.symlink("/etc/passwd", os.path.join(docs, "recordings", "link.caf"))
    write_wav(os.path.join(folder, "input.wav"),
              np.concatenate([sine(1000, -6, 2), sine(100, -30, input_seconds - 2)]))
    with open(os.path.join(folder, "motion.csv"), "w") as f:
        for t in range(input_seconds):  # a turn to 2.6 rad (sector 140-150) and back, every 4 s
            f.write(f"{t},1.0,{2.6 if t % 4 == 3 else 2.0}\n")
    return ["--input", os.path.join(folder, "input.wav"), "--motion",
            os.path.join(folder, "motion.csv"), "--log", os.path.join(folder, "levels.csv"),
            "--summary", os.path.join(folder, "summary.csv")]


def check_downloads(meter, folder):
    for target, path, name in [("/log.csv", "levels.csv", "levels.csv"),
                               ("/events/" + CLIP, "docs/events/" + CLIP, CLIP),
                               ("/recordings/" + RECORDING, "docs/recordings/" + RECORDING,
                                RECORDING)]:
        status, headers, body = meter.get(target.replace(" ", "%20"))
        with open(os.path.join(folder, path), "rb") as f:
            # The log grows meanwhile: what was sent is what the file began with.
            check(status == 200 and body and f.read().startswith(body) and f'filename="{name}"' in
                  headers["Content-Disposition"], f"{target}: the file, to be saved as {name}")
    for status_wanted, target in [(200, "/summary.csv"), (200, "/events.csv"),
                                  (404, "/recordings/link.caf"), (404, "/events/evil.wav"),
                                  (404, "/recordings/../../levels.csv"),
                                  (404, "/recordings/%2e%2e/%2e%2e/levels.csv"),
                                  (404, "/recordings/%2E%2E%2Finput.wav"),
                                  (404, "/recordings//etc/passwd"), (404, "/events/%2fetc%2fpasswd"),
                                  (404, "/../input.wav"), (404, "/input.wav"), (404, "/api/nothing")]:
        status = meter.get(target)[0]
        check(status == status_wanted, f"{target} answers {status_wanted} (got {status})")
    files = json.loads(meter.get("/api/files")[2])
    urls = [e["url"] for e in files["events"]]
    check(urls == [None, "/events/2026-12-08%2010-15-03.wav"],
          f"the events newest first; the one whose clip is a link has none ({urls})")
    names = [r["name"] for r in files["recordings"]]
    check(RECORDING in names and "link.caf" not in names, f"the recordings listed: {names}")


def page_values(driver):
    return driver.execute_script("""
        const out = {};
        for (const card of document.querySelectorAll('.reading')) {
          out[card.dataset.key] = [card.querySelector('.value').textContent,
                                   card.querySelector('.unit').textContent];
        }
        return out;""")


def check_numbers(meter, driver):
    """The big numbers equal /api/now's within a second: each shown value lies within the
    values /api/now gave in the second before and after it (to the 0.05 dB of its rounding).
    Compared over 2 s once the loud start has died away, while LAeq falls."""
    until(lambda: meter.now()["second"]["index"] >= 4, 30)
    api, shown = [], []
    begin = time.monotonic()
    end = begin + 4
    while time.monotonic() < end:
        values = {q["key"]: (q["value"], q["unit"]) for q in meter.now()["quantities"]}
        api.append((time.monotonic(), values))
        shown.append((time.monotonic(), page_values(driver)))
        time.sleep(0.1)
    for key in ["LAF", "LAeq", "LAFmax", "LCpeak"]:
        def near(ts, text):
            values = [a[key][0] for ta, a in api if abs(ts - ta) <= 1.0 and a[key][1] == text[1]]
            return (text[0] != "–" and None not in values and len(values) > 0 and
                    min(values) - 0.06 <= float(text[0]) <= max(values) + 0.06)
        matched = all(near(ts, s[key]) for ts, s in shown if begin + 1 <= ts <= end - 1)
        check(matched, f"{key} on the page equals /api/now within a second "
                       f"(page {[s[key][0] for _, s in shown]}, api {[a[key][0] for _, a in api]})")


def pixels(driver, canvas, rgba_test):
    """How many pixels of the canvas (a JavaScript expression) pass the test (one on r, g, b,
    a)."""
    return driver.execute_script(f"""
        const c = {canvas}, d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
        let n = 0;
        for (let i = 0; i < d.length; i += 4) {{
          const r = d[i], g = d[i + 1], b = d[i + 2], a = d[i + 3];
          n += {rgba_test};
        }}
        return n;""")


def check_drawing(meter, driver):
    rows = driver.execute_script("return fieldmeterPage.trendRows.length")
    check(until(lambda: driver.execute_script("return fieldmeterPage.trendRows.length") >=
                rows + 20, 10), f"the trend gains points ({rows} before)")
    green = pixels(driver, "fieldmeterPage.spectrum.hidden_", "g > r + 40 && a > 50")
    check(green > 300, f"the spectrum is drawn ({green} green pixels)")
    bands = [q["value"] for q in meter.now()["quantities"] if q["bandHz"] and q["interval"] == "now"]
    blue = pixels(driver, "document.getElementById('bands')", "b > 150 && r < 60 && a > 200")
    if any(v is not None for v in bands):
        check(blue > 500, f"the band bars are drawn ({blue} bar pixels)")
    else:
        check(blue == 0, "no band is measured yet: no bar is drawn (the canvas says no data)")
    # Sector 11 (110-120 degrees, anticlockwise from the top) is filled; the same angle
    # clockwise, the opposite side and the top are not.
    def pixel(degrees):
        return driver.execute_script("""
            const c = document.getElementById('direction'), g = c.getContext('2d');
            const R = Math.min(c.width, c.height) / 2 - 28, a = arguments[0] * Math.PI / 180;
            const x = Math.round(c.width / 2 - 0.5 * R * Math.sin(a));
            const y = Math.round(c.height / 2 - 0.5 * R * Math.cos(a));
            return Array.from(g.getImageData(x, y, 1, 1).data);""", degrees)
    filled = until(lambda: pixel(115)[3] == 255 and max(pixel(115)[:3]) - min(pixel(115)[:3]) > 100, 10)
    check(filled, f"the direction map fills the sector turned to ({pixel(115)})")
    check(all(pixel(d)[3] == 0 for d in [245, 295, 5]),
          "and leaves the others empty: " + str([pixel(d) for d in [245, 295, 5]]))


def check_events(driver, seconds):
    played = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        const audio = document.querySelector('#events audio');
        audio.addEventListener('timeupdate', () => done([audio.duration, audio.currentTime]));
        audio.play().catch((e) => done(String(e)));""")
    check(isinstance(played, list) and played[0] >= seconds - 0.01 and played[1] > 0,
          f"the event's clip plays ({played})")


def run_test(binary):
    folder = tempfile.mkdtemp(prefix="fm-page-")
    try:
        meter = Meter(binary, folder, prepare(folder, 60))
        check_downloads(meter, folder)
        now = until(lambda: meter.now()["input"]["state"] == "file" and meter.now(), 30)
        keys = {q["key"]: q for q in now["quantities"]}
        check(all(k in keys for k in ["LAF", "LAeq", "LCpeak", "LA90", "Lden"]) and
              keys["LZF_1kHz"]["bandHz"] == 1000 and keys["LAF"]["unit"] == "dB" and
              now["calibration"]["date"] == "2026-12-01T09:30:00Z" and
              now["calibration"]["offsetDb"] == 100,
              "/api/now: the quantities, the unit, the calibration and its date: " +
              json.dumps([now["calibration"], keys.get("LZF_1kHz")]))
        driver = browser()
        if driver is None:
            return 77
        try:
            driver.get(meter.link)
            check(until(lambda: driver.execute_script(
                "return document.body.dataset.connection") == "live", 30), "the page goes live")
            check_numbers(meter, driver)
            check("calibrated on" in driver.find_element("id", "calibration").text,
                  "the page says when it was calibrated")
            check_drawing(meter, driver)
            items = until(lambda: driver.execute_script(
                "return Array.from(document.querySelectorAll('#events li'), li => li.dataset.start)"), 10)
            check(items == ["2026-12-08T09:20:00.000Z", "2026-12-08T09:15:03.000Z"],
                  f"the events are listed newest first ({items})")
            check_events(driver, 1.5)
            errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
            check(not errors, f"no console error ({errors})")

            # The meter stops: the page says so; it starts again: the page follows it.
            driver.execute_script("window.sameLoad = true")
            stopped = time.time() * 1000
            meter.stop()
            check(until(lambda: driver.execute_script(
                "return document.body.dataset.connection") == "lost", 30), "the page says lost")
            lost_at = driver.execute_script("return fieldmeterPage.lostAt")
            check(lost_at - stopped <= 3000, f"within 3 s ({lost_at - stopped:.0f} ms)")
            check("LOST" in driver.find_element("id", "connection").text, "in words")
            time.sleep(6)  # gone for a while: several of the page's attempts fail
            meter.start(meter.port)
            check(until(lambda: driver.execute_script(
                "return document.body.dataset.connection === 'live' && window.sameLoad === true"),
                30), "the page follows the restarted meter without a reload")
            check(until(lambda: driver.execute_script("return fieldmeterPage.startedMs") ==
                  meter.now()["startedMs"], 10), "and knows it for a new run")
            meter.stop()
        finally:
            driver.quit()
        run_token_test(binary, folder)
        run_events_test(binary, folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return 1 if FAILURES else 0


def run_events_test(binary, folder):
    """A loud moment of the input becomes an event: listed within 2 s of its end, its clip
    playing. Needs a program that captures events (--event-above)."""
    usage = subprocess.run([binary, "--help"], capture_output=True, text=True).stdout
    if "--event-above" not in usage:
        print("skipped: this fieldmeter captures no events yet (no --event-above)", flush=True)
        return
    folder = os.path.join(folder, "events-run")
    os.makedirs(folder)
    write_wav(os.path.join(folder, "burst.wav"), np.concatenate(
        [sine(100, -40, 4), sine(1000, -6, 1), sine(100, -40, 8)]))
    meter = Meter(binary, folder, ["--input", os.path.join(folder, "burst.wav"), "--event-above",
                                   "-20", "--pre-roll", "1", "--post-roll", "1",
                                   "--limit", "loud=LAF>-20", "--limit", "always=LAF>-60",
                                   "--limit-clear", "2"])
    driver = browser()
    try:
        driver.get(meter.link)
        seen = until(lambda: driver.execute_script(
            "return document.querySelectorAll('#events audio').length") > 0 and time.time(), 30)
        events = json.loads(meter.get("/api/files")[2])["events"]
        end = datetime.datetime.fromisoformat(events[0]["end"]).timestamp() if events else 0
        check(seen and seen - end <= 2.0, f"the event is listed within 2 s of its end ({events})")
        check_events(driver, 1)
        check_limits(driver)
    finally:
        driver.quit()
        meter.stop()


def check_limits(driver):
    """A raised limit has its banner; a cleared one is listed with its clip, and drawn on the
    trend as a line at its level."""
    def banner():
        text = driver.execute_script(
            "return document.body.dataset.limit === 'raised' && "
            "document.getElementById('limit-banner').textContent")
        return text if text and "loud" not in text else None  # once the loud part has cleared
    shown = until(banner, 10)
    check(shown and "LIMIT always RAISED" in shown, f"the raised limit's banner ({shown})")
    clips = until(lambda: driver.execute_script(
        "return Array.from(document.querySelectorAll('#episodes li.cleared a'), a => a.textContent)"), 10)
    check(clips and clips[0].startswith("download ") and clips[0].endswith(".wav"),
          f"the cleared episode is listed with its clip ({clips})")
    purple = until(lambda: pixels(driver, "fieldmeterPage.trend.hidden_",
                                  "r > 90 && r < 125 && g < 45 && b > 135 && b < 175 && a > 200") > 100, 10)
    check(purple, "the limit's line is drawn on the trend")


def run_token_test(binary, folder):
    """Beyond the loopback address the page needs the token the program printed; a token file
    that cannot be used stops the program."""
    for content, why in [(None, "No such file or directory"), ("\n", "it is empty")]:
        path = os.path.join(folder, "token.txt")
        if content is not None:
            with open(path, "w") as f:
                f.write(content)
        r = subprocess.run([binary, "--headless", "--input", "demo", "--documents",
                            os.path.join(folder, "docs2"), "--http", "0", "--http-token", path,
                            "--duration", "5"], capture_output=True, text=True,
                           env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0"))
        check(r.returncode == 1 and f"--http-token {path}: cannot use it: {why}" in r.stderr,
              f"an unusable token file stops the program: {r.stderr.strip().splitlines()[-1]}")
    write_wav(os.path.join(folder, "short.wav"), sine(1000, -20, 2))
    meter = Meter(binary, folder, ["--input", os.path.join(folder, "short.wav"),
                                   "--http", "0.0.0.0:0"])
    try:
        token = meter.link.split("?token=")[1]
        check(meter.link.startswith("http://") and len(token) == 32,
              f"the link to open is printed with its token: {meter.link}")
        for target in ["/", "/api/now", "/log.csv", "/events.csv", "/?token=wrong" + token[5:]]:
            status, _, body = meter.get(target)
            check(status == 401 and b"unauthorized" in body, f"{target} without the token: 401")
        check(meter.get("/metrics")[0] == 200, "/metrics needs no token")
        driver = browser()
        if driver is None:
            return
        try:
            driver.get(f"http://127.0.0.1:{meter.port}/?token={token}")
            check(until(lambda: driver.execute_script(
                "return document.body.dataset.connection") == "live", 30),
                "with the token the page is live (its stream takes the cookie)")
            # The file played to its end: no input, and the current level is not shown.
            check(until(lambda: driver.execute_script(
                "return document.body.dataset.input") == "ended", 30) and
                "NO INPUT" in driver.find_element("id", "input-banner").text and
                page_values(driver)["LAF"][0] == "–", "the end of the input cannot be missed")
        finally:
            driver.quit()
    finally:
        meter.stop()


if __name__ == "__main__":
    sys.exit(run_test(sys.argv[1]))
