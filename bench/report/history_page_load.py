#!/usr/bin/env python3
"""page_history_load_ms: a full day of day files (every second, with its bands) shown by the
page's history view in headless Chromium, from picking the day to the chart and the
spectrogram drawn; the best of three.
Usage: history_page_load.py FIELDMETER [SUMMARY_FILE]"""
import os
import shutil
import sys
import tempfile

root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(root, "tests", "e2e"))
import history_page_test as history  # noqa: E402

live = history.live


def main():
    binary = sys.argv[1]
    summary = sys.argv[2] if len(sys.argv) > 2 else ""
    folder = tempfile.mkdtemp(prefix="fm-history-bench-")
    try:
        log_columns, summary_columns = history.headers(binary, folder)
        history.write_days(folder, log_columns, summary_columns)
        history.write_events(folder)
        live.write_wav(os.path.join(folder, "quiet.wav"), live.sine(100, -60, 600))
        meter = live.Meter(binary, folder, ["--input", os.path.join(folder, "quiet.wav"),
                                            "--log-dir", os.path.join(folder, "days"),
                                            "--summary", os.path.join(folder, "summary.csv")])
        driver = live.browser()
        times = []
        try:
            driver.get(meter.link)
            live.until(lambda: driver.execute_script(
                "return fieldmeterHistory.loaded >= 1"), 60)
            for day in [history.DAYS[0], history.DAYS[1], history.DAYS[0]]:
                ms = driver.execute_async_script("""
                    const done = arguments[arguments.length - 1], h = fieldmeterHistory;
                    const p = document.getElementById('history-day'), before = h.loaded;
                    const start = performance.now();
                    p.value = arguments[0];
                    p.onchange();
                    const wait = () => h.loaded > before
                      ? requestAnimationFrame(() => done(performance.now() - start))
                      : setTimeout(wait, 5);
                    wait();""", day)
                rows = driver.execute_script("return fieldmeterHistory.chart.numRows()")
                print(f"{day}: {ms:.0f} ms, {rows} rows", flush=True)
                times.append(ms)
        finally:
            driver.quit()
            meter.stop()
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    best = min(times)
    print(f"page_history_load_ms {best:.4f}")
    if summary:
        with open(summary, "a") as f:
            f.write(f"page_history_load_ms {best:.4f}\n")


if __name__ == "__main__":
    main()
