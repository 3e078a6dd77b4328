#!/usr/bin/env python3
"""The history view and the day report of the real program in a real browser, on two days of
day files, a summary and an events list written by this test in the program's own format (its
headers taken from a short run of the program), in Berlin's time zone.

Usage: history_page_test.py FIELDMETER   (exit 77, skipped, only when Chromium cannot start here)
"""
import datetime
import json
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from zoneinfo import ZoneInfo

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import live_page_test as live  # noqa: E402

os.environ["TZ"] = "Europe/Berlin"  # the program's and the browser's clock
ZONE = ZoneInfo("Europe/Berlin")
DAYS = ["2026-11-02", "2026-11-03"]
BANDS = ["20Hz", "25Hz", "31.5Hz", "40Hz", "50Hz", "63Hz", "80Hz", "100Hz", "125Hz", "160Hz",
         "200Hz", "250Hz", "315Hz", "400Hz", "500Hz", "630Hz", "800Hz", "1kHz", "1.25kHz",
         "1.6kHz", "2kHz", "2.5kHz", "3.15kHz", "4kHz", "5kHz", "6.3kHz", "8kHz", "10kHz",
         "12.5kHz", "16kHz"]
FILLED = {"125Hz", "1kHz"}  # the bands the test's sound is in
CLIP = "2026-11-03 21-30-00.wav"
check = live.check


def iso(t, zone):
    text = datetime.datetime.fromtimestamp(t, zone).isoformat(timespec="milliseconds")
    return text.replace("+00:00", "Z") if zone is datetime.timezone.utc else text


def headers(binary, folder):
    """The log's and the summary's headers as this program writes them."""
    run = os.path.join(folder, "headers")
    subprocess.run([binary, "--headless", "--screen-every", "0", "--input", "demo", "--duration",
                    "1", "--documents", os.path.join(run, "docs"), "--log-dir",
                    os.path.join(run, "days"), "--summary", os.path.join(run, "s.csv")],
                   env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0"), capture_output=True,
                   timeout=120, check=True)
    day = os.listdir(os.path.join(run, "days"))[0]
    with open(os.path.join(run, "days", day)) as f:
        log = f.readline().rstrip("\n").split(",")
    with open(os.path.join(run, "s.csv")) as f:
        summary = f.readline().rstrip("\n").split(",")
    return log, summary


def level(t):
    """LAeq,1s of the second that begins at t: a slow swell of the day, unlike every other."""
    local = datetime.datetime.fromtimestamp(t, ZONE)
    return round(45 + 15 * math.sin((local.hour * 3600 + local.minute * 60 + local.second) /
                                    86400 * 2 * math.pi) + (t % 7) * 0.31, 2)


def energy(levels):
    return 10 * math.log10(sum(10 ** (v / 10) for v in levels) / len(levels))


def write_days(folder, log_columns, summary_columns):
    """Two whole local days of 1-s rows, their hours as 1-h periods and their day rows."""
    days = os.path.join(folder, "days")
    os.makedirs(days)
    log = {}
    periods, day_rows = [], []
    for day in DAYS:
        start = datetime.datetime.fromisoformat(day).replace(tzinfo=ZONE).timestamp()
        end = (datetime.datetime.fromisoformat(day) + datetime.timedelta(days=1)).replace(
            tzinfo=ZONE).timestamp()
        lines = [",".join(log_columns)]
        hours = {}
        for s in range(int(start), int(end)):
            v = level(s)
            log[s] = v
            fields = dict.fromkeys(log_columns, "")
            fields.update({"time_utc": iso(s + 1, datetime.timezone.utc),
                           "time_local": iso(s + 1, ZONE), "LAeq_1s_dB": f"{v:.2f}",
                           "LAFmax_1s_dB": f"{v + 4:.2f}", "LAFmin_1s_dB": f"{v - 3:.2f}",
                           "calibrated": "1", "calibration_offset_db": "100.00", "input": "mic"})
            for b in BANDS:
                fields[f"LZeq_1s_{b}_dB"] = f"{v - 3:.2f}" if b in FILLED else "-20.00"
            lines.append(",".join(fields[c] for c in log_columns))
            hours.setdefault(int((s - start) // 3600), []).append(v)
        with open(os.path.join(days, day + ".csv"), "w") as f:
            f.write("\n".join(lines) + "\n")
        for h, values in sorted(hours.items()):
            p0 = start + h * 3600
            ordered = sorted(values)
            periods.append({"row": "period", "start_utc": iso(p0, datetime.timezone.utc),
                            "end_utc": iso(p0 + 3600, datetime.timezone.utc),
                            "start_local": iso(p0, ZONE), "end_local": iso(p0 + 3600, ZONE),
                            "LAeq_T_dB": f"{energy(values):.2f}",
                            "LAFmax_T_dB": f"{max(values) + 4:.2f}",
                            "LA10_T_dB": f"{ordered[int(len(values) * 0.9)]:.2f}",
                            "LA90_T_dB": f"{ordered[int(len(values) * 0.1)]:.2f}",
                            "measured_s": "3600", "complete": "1", "calibrated": "1"})
        parts = {"day": range(7, 19), "evening": range(19, 23), "night": [*range(23, 24), *range(0, 7)]}
        values = {k: energy([v for s, v in log.items() if start <= s < end and
                             datetime.datetime.fromtimestamp(s, ZONE).hour in r])
                  for k, r in parts.items()}
        lden = 10 * math.log10((12 * 10 ** (values["day"] / 10) + 4 * 10 ** ((values["evening"] + 5) / 10)
                                + 8 * 10 ** ((values["night"] + 10) / 10)) / 24)
        day_rows.append({"row": "day", "start_utc": iso(start, datetime.timezone.utc),
                         "end_utc": iso(end, datetime.timezone.utc), "date": day,
                         "Lday_dB": f"{values['day']:.2f}", "Levening_dB": f"{values['evening']:.2f}",
                         "Lnight_dB": f"{values['night']:.2f}", "Lden_dB": f"{lden:.2f}",
                         "calibrated": "1", "calibration_offset_db": "100.00"})
    with open(os.path.join(folder, "summary.csv"), "w") as f:
        f.write(",".join(summary_columns) + "\n")
        for r in periods + day_rows:
            f.write(",".join(r.get(c, "") for c in summary_columns) + "\n")
    return log, periods, day_rows


SAMPLES = b"".join(int(8000 * math.sin(i / 5)).to_bytes(2, "little", signed=True) for i in range(2205))


def write_recording(folder):
    """A CAF of 0.1 s, 16-bit little-endian PCM at 22,050 Hz, as Core Audio lays one out."""
    recordings = os.path.join(folder, "docs", "recordings")
    os.makedirs(recordings)
    desc = struct.pack(">d4sIIIII", 22050.0, b"lpcm", 2, 2, 1, 1, 16)
    with open(os.path.join(recordings, "2026-11-03 21-00-00.caf"), "wb") as f:
        f.write(b"caff" + struct.pack(">HH", 1, 0) + b"desc" + struct.pack(">q", len(desc)) +
                desc + b"data" + struct.pack(">qI", 4 + len(SAMPLES), 0) + SAMPLES)


def write_events(folder):
    """Events on the second day; one with its clip."""
    events = os.path.join(folder, "docs", "events")
    os.makedirs(events)
    live.write_wav(os.path.join(events, CLIP), live.sine(440, -20, 1.5))
    rows = ["start_utc,end_utc,start_local,end_local,duration_s,trigger,LAFmax_dB,LAeq_dB,"
            "LCpeak_dB,calibrated,clip,kept"]
    for hour, minute, clip, lafmax in [(8, 15, "", 70.4), (21, 30, CLIP, 81.2)]:
        t = datetime.datetime(2026, 11, 3, hour, minute, tzinfo=ZONE).timestamp()
        rows.append(f"{iso(t, datetime.timezone.utc)},{iso(t + 1.5, datetime.timezone.utc)},"
                    f"{iso(t, ZONE)},{iso(t + 1.5, ZONE)},1.5,LAF,{lafmax},66.0,90.1,1,{clip},"
                    f"{1 if clip else 0}")
    with open(os.path.join(events, "events.csv"), "w") as f:
        f.write("\n".join(rows) + "\n")


def run_test(binary):
    folder = tempfile.mkdtemp(prefix="fm-history-")
    try:
        log_columns, summary_columns = headers(binary, folder)
        log, periods, day_rows = write_days(folder, log_columns, summary_columns)
        write_events(folder)
        write_recording(folder)
        live.write_wav(os.path.join(folder, "quiet.wav"), live.sine(100, -60, 600))
        meter = live.Meter(binary, folder, ["--input", os.path.join(folder, "quiet.wav"),
                                            "--log-dir", os.path.join(folder, "days"),
                                            "--summary", os.path.join(folder, "summary.csv")])
        check_own_day_file(meter, folder)
        driver = live.browser()
        if driver is None:
            return 77
        try:
            check_history(driver, meter, log)
            check_report(driver, meter, periods, day_rows)
        finally:
            driver.quit()
        check_pdf(meter, folder, periods, day_rows)
        meter.stop()
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return 1 if live.FAILURES else 0


def check_own_day_file(meter, folder):
    """The seconds the program logs into today's file come back from /api/history as logged."""
    today = datetime.datetime.now(ZONE).date().isoformat()
    path = os.path.join(folder, "days", today + ".csv")

    def rows():
        if not os.path.exists(path):
            return None
        with open(path) as f:
            lines = [ln.rstrip("\n").split(",") for ln in f if ln.endswith("\n")]
        return lines if len(lines) > 4 else None
    lines = live.until(rows, 30)
    if not check(lines is not None, f"the program logs today's seconds into {today}.csv"):
        return
    names = lines[0]
    logged = [(r[names.index("time_utc")], r[names.index("LAeq_1s_dB")]) for r in lines[1:]]
    ms = [int(datetime.datetime.fromisoformat(t.replace("Z", "+00:00")).timestamp() * 1000)
          for t, _ in logged]
    answer = json.loads(meter.get(f"/api/history?from={ms[0] - 1000}&to={ms[-1]}&q=LAeq_1s"
                                  "&step=1")[2])
    check(answer["values"][0] == [float(v) for _, v in logged] and
          answer["t"] == [ms[0] - 1000 + 1000 * k for k in range(len(ms))],
          f"/api/history gives those seconds back as logged ({logged[:3]}..., {answer['values'][0][:3]}...)")
    # A CAF recording is played in a browser as WAV, sample for sample; the header-only
    # output2.caf made at the start is no recording to list.
    status, headers, body = meter.get("/recordings/2026-11-03%2021-00-00.caf?as=wav")
    check(status == 200 and headers.get("Content-Type") == "audio/wav" and body[:4] == b"RIFF" and
          body[8:12] == b"WAVE" and int.from_bytes(body[24:28], "little") == 22050 and
          body[44:] == SAMPLES, f"a CAF recording is served as WAV ({status}, {body[:60]})")
    names = [r["name"] for r in json.loads(meter.get("/api/files")[2])["recordings"]]
    check(names == ["2026-11-03 21-00-00.caf"], f"the recordings listed: {names}")
    def events(query):
        answer = json.loads(meter.get("/api/events?from=2026-11-03&to=2026-11-04" + query)[2])
        return answer["total"], [e["startLocal"][11:16] for e in answer["events"]]
    check(events("") == (2, ["21:30", "08:15"]) and events("&offset=1&limit=1") == (2, ["08:15"])
          and events("&min=70.4") == (2, ["21:30", "08:15"]) and events("&min=75") == (1, ["21:30"]),
          "the events newest first, in pages, filtered by their level")
    empty = json.loads(meter.get("/api/history?from=2020-01-01&to=2020-01-02")[2])
    check(empty["t"] == [] and meter.get("/api/history?from=x&to=2020-01-02")[0] == 400,
          "a range without files answers an empty series; a time that is none is refused")


def check_history(driver, meter, log):
    from selenium.webdriver.common.action_chains import ActionChains
    driver.get(meter.link)
    days = live.until(lambda: driver.execute_script(
        "return Array.from(document.querySelectorAll('#history-day option'), o => o.value)"), 30)
    check(days and set(DAYS) <= set(days), f"the day picker lists both days ({days})")
    driver.execute_script("""const p = document.getElementById('history-day');
        p.value = arguments[0]; p.onchange();""", DAYS[1])
    loaded = live.until(lambda: driver.execute_script(
        "const h = fieldmeterHistory; return h.history && h.history.fromMs === arguments[0] && "
        "h.chart && h.chart.numRows()", int(datetime.datetime(2026, 11, 3, tzinfo=ZONE).timestamp() * 1000)), 60)
    check(loaded and loaded > 86000, f"the day's chart holds every second ({loaded} rows)")
    chart = driver.find_element("id", "history-chart")
    before = driver.execute_script("return fieldmeterHistory.chart.xAxisRange()")
    w = chart.size["width"]
    ActionChains(driver).move_to_element_with_offset(chart, -w // 4, 0).click_and_hold() \
        .move_by_offset(w // 8, 0).move_by_offset(w // 8, 0).release().perform()
    after = driver.execute_script("return fieldmeterHistory.chart.xAxisRange()")
    check(after[0] > before[0] and after[1] < before[1] and after[1] - after[0] < 0.5 * (before[1] - before[0]),
          f"dragging zooms into a shorter range ({before} -> {after})")
    ActionChains(driver).move_to_element_with_offset(chart, 10, 0).perform()
    shown = live.until(lambda: driver.execute_script("""
        const h = fieldmeterHistory, row = h.chart.getSelection();
        const text = document.getElementById('history-legend').textContent;
        const m = /LAeq,1s:\s*([-0-9.]+)/.exec(text);
        return row >= 0 && m ? [h.chart.getValue(row, 0), m[1]] : null;"""), 10)
    if check(shown is not None, f"hovering shows a value ({shown})"):
        start = shown[0] / 1000
        check(f"{log.get(start, float('nan')):.2f}" == shown[1],
              f"the value under the pointer is the log's for {iso(start + 1, datetime.timezone.utc)}: "
              f"{shown[1]} (log {log.get(start)})")
    driver.execute_script("fieldmeterHistory.chart.resetZoom()")
    marks = driver.find_elements("css selector", ".event-mark:not(.no-clip)")
    check(len(marks) == 1, f"one event with a clip is marked ({len(marks)})")
    played = None
    if marks:
        driver.find_element("css selector", ".event-mark:not(.no-clip)").click()
        played = live.until(lambda: driver.execute_script(
            "const a = document.getElementById('history-player');"
            "return a.currentTime > 0 && decodeURIComponent(a.src)"), 10)
    check(played and played.endswith(CLIP), f"clicking the mark plays its clip ({played})")
    painted = driver.execute_script("""
        const c = document.getElementById('history-spectrogram'), g = c.getContext('2d');
        const out = {}, left = Math.ceil(fieldmeterHistory.chart.getArea().x * devicePixelRatio);
        for (let k = 0; k < 30; ++k) {
          const y = Math.round(fieldmeterHistory.bandRow(k));
          const d = g.getImageData(left, y, c.width - left, 1).data;
          let n = 0;
          for (let i = 3; i < d.length; i += 4) n += d[i] > 0 ? 1 : 0;
          out[k] = n;
        }
        return out;""")
    filled = [BANDS[int(k)] for k, n in painted.items() if n > 100]
    check(set(filled) == FILLED, f"the spectrogram paints the bands with sound and no others ({painted})")
    errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
    check(not errors, f"no console error ({errors})")
    # On a phone 390 px wide the page, its history's tables too, is no wider than the phone.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 390, "height": 844, "deviceScaleFactor": 1, "mobile": True})
    wide = live.until(lambda: driver.execute_script(
        "return document.documentElement.scrollWidth") == 390, 5)
    check(wide, "at 390 px the page is 390 px wide (" + str(driver.execute_script(
        "return document.documentElement.scrollWidth")) + ")")
    driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


def report_numbers(periods, day_rows, day):
    lden = next(r["Lden_dB"] for r in day_rows if r["date"] == day)
    hourly = [f"{float(p['LAeq_T_dB']):.1f}" for p in periods if p["start_local"].startswith(day)]
    return f"{float(lden):.1f}", hourly


def check_report(driver, meter, periods, day_rows):
    driver.get(f"http://127.0.0.1:{meter.port}/report?day={DAYS[1]}")
    check(live.until(lambda: driver.execute_script("return document.body.dataset.ready"), 60),
          "the day report is drawn")
    lden, hourly = report_numbers(periods, day_rows, DAYS[1])
    shown = driver.execute_script("""return [
        document.querySelector('#history-levels tr[data-key="Lden"]').cells[1].textContent,
        Array.from(document.querySelectorAll('#history-hours tbody tr'), r => r.cells[1].textContent)]""")
    check(shown[0] == lden, f"the report's Lden is the summary's ({shown[0]}, {lden})")
    calibration = driver.find_element("id", "report-calibration").text
    check("0 dBFS = 100.00 dB" in calibration, f"and the day's calibration ({calibration})")
    check(shown[1] == hourly, f"its hourly LAeq are the summary's ({shown[1]} vs {hourly})")


def check_pdf(meter, folder, periods, day_rows):
    pdf = os.path.join(folder, "report.pdf")
    subprocess.run(["/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu",
                    "--no-first-run", "--user-data-dir=" + tempfile.mkdtemp(prefix="fm-pdf-"),
                    "--virtual-time-budget=20000", "--no-pdf-header-footer",
                    "--print-to-pdf=" + pdf, f"http://127.0.0.1:{meter.port}/report?day={DAYS[1]}"],
                   capture_output=True, timeout=120)
    text = subprocess.run(["pdftotext", "-layout", pdf, "-"], capture_output=True,
                          text=True).stdout if os.path.exists(pdf) else ""
    lden, hourly = report_numbers(periods, day_rows, DAYS[1])
    lines = [line.split() for line in text.splitlines()]
    check(["Lden", lden, "dB"] in lines, f"the PDF holds Lden {lden}")
    found = [next((ln[1] for ln in lines if ln and ln[0] == f"{h:02d}:00"), None) for h in range(24)]
    check(found == hourly, f"and the hourly LAeq ({found})")
    check(any(ln[:4] == ["21:30:00", "1.5", "LAF", "81.2"] for ln in lines) and
          any(ln[:4] == ["08:15:00", "1.5", "LAF", "70.4"] for ln in lines), "and the events")


if __name__ == "__main__":
    sys.exit(run_test(sys.argv[1]))
