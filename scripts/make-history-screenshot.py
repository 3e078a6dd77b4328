#!/usr/bin/env python3
"""Makes docs/history.png and docs/day-report.png: the page's history view and the day report of
the program on two days of day files made as the browser test makes them, as headless Chromium
shows them (with the browser tests' own helpers).
Usage: scripts/make-history-screenshot.py [BUILD_DIR] [OUT_DIR]"""
import os
import shutil
import sys
import tempfile
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tests", "e2e"))
import history_page_test as history  # noqa: E402

live = history.live


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "release")
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "docs")
    binary = os.path.join(build, "app", "fieldmeter")
    folder = tempfile.mkdtemp(prefix="fm-history-shot-")
    try:
        log_columns, summary_columns = history.headers(binary, folder)
        history.write_days(folder, log_columns, summary_columns)
        history.write_events(folder)
        live.write_wav(os.path.join(folder, "quiet.wav"), live.sine(100, -60, 600))
        meter = live.Meter(binary, folder, ["--input", os.path.join(folder, "quiet.wav"),
                                            "--log-dir", os.path.join(folder, "days"),
                                            "--summary", os.path.join(folder, "summary.csv")])
        driver = live.browser()
        try:
            os.makedirs(out, exist_ok=True)
            driver.get(meter.link)
            live.until(lambda: driver.execute_script(
                "return document.querySelectorAll('#history-day option').length") >= 2, 30)
            driver.execute_script("""const p = document.getElementById('history-day');
                p.value = arguments[0]; p.onchange();""", history.DAYS[1])
            live.until(lambda: driver.execute_script(
                "return fieldmeterHistory.loaded >= 2 && fieldmeterHistory.chart.numRows() > 86000"),
                60)
            driver.set_window_size(1400, 3200)  # the whole history in one picture
            time.sleep(1)
            driver.find_element("id", "history").screenshot(os.path.join(out, "history.png"))
            driver.set_window_size(1400, 1800)
            driver.get(f"http://127.0.0.1:{meter.port}/report?day={history.DAYS[1]}")
            live.until(lambda: driver.execute_script("return document.body.dataset.ready"), 60)
            time.sleep(1)
            driver.save_screenshot(os.path.join(out, "day-report.png"))
            print(os.path.join(out, "history.png"), os.path.join(out, "day-report.png"))
        finally:
            driver.quit()
            meter.stop()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
