#!/usr/bin/env python3
"""Makes docs/live-page.png: the live page of the program on the demo signal, turned round for
a while, as headless Chromium shows it (with the browser test's own helpers).
Usage: scripts/make-page-screenshot.py [BUILD_DIR] [OUT_DIR]"""
import math
import os
import shutil
import sys
import tempfile
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tests", "e2e"))
import live_page_test as page  # noqa: E402


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "release")
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "docs")
    folder = tempfile.mkdtemp(prefix="fm-page-shot-")
    try:
        page.prepare(folder, 60)
        events = os.path.join(folder, "docs", "events", "events.csv")
        with open(events) as f:
            rows = f.readlines()
        with open(events, "w") as f:
            f.writelines(rows[:2])  # the event with its clip alone
        with open(os.path.join(folder, "motion.csv"), "w") as f:
            for i in range(40):  # a turn of 0.4 rad every half second
                f.write(f"{i * 0.5},1.0,{math.remainder(0.4 * i, 2 * math.pi):.3f}\n")
        meter = page.Meter(os.path.join(build, "app", "fieldmeter"), folder,
                           ["--input", "demo", "--motion", os.path.join(folder, "motion.csv"),
                            "--log", os.path.join(folder, "levels.csv")])
        driver = page.browser()
        try:
            driver.get(meter.link)
            time.sleep(25)
            os.makedirs(out, exist_ok=True)
            driver.save_screenshot(os.path.join(out, "live-page.png"))
            print(os.path.join(out, "live-page.png"))
        finally:
            driver.quit()
            meter.stop()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
