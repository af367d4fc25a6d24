#!/usr/bin/python3
"""The summary page at scale: builds a genome with about N planted tandem
repeats (random sequence, seed fixed), runs rivulon-batch --html on it, and
measures in headless Chromium the time until the page is ready and the time
of a sort, a filter and a page turn.

Usage: bench/summary_page.py RIVULON_BATCH [N]   (default 100000)
"""
import pathlib
import random
import subprocess
import sys
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

batch, wanted = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 100000
work = pathlib.Path("build/bench/summary")
work.mkdir(parents=True, exist_ok=True)
rng = random.Random(7)
with open(work / "planted.fa", "w") as out:
    per_record = 10000
    for record in range((wanted + per_record - 1) // per_record):
        parts = []
        for _ in range(per_record):
            parts.append("".join(rng.choice("ACGT") for _ in range(40)))
            motif = "".join(rng.choice("ACGT") for _ in range(rng.randint(3, 12)))
            parts.append(motif * rng.randint(3, 5))
        bases = "".join(parts)
        out.write(f">chr{record + 1}\n")
        for i in range(0, len(bases), 60):
            out.write(bases[i:i + 60] + "\n")
page = work / "summary.html"
started = time.monotonic()
subprocess.run([batch, "-q", "--max-motif", "12", str(work / "planted.fa"), "-o", str(work / "planted.tsv"),
                "--html", str(page)], check=True)
rows = sum(1 for _ in open(work / "planted.tsv")) - 1
print(f"rivulon-batch: {rows} repeats in {time.monotonic() - started:.1f} s; page {page.stat().st_size / 1e6:.1f} MB")

options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1280,900"):
    options.add_argument(argument)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
try:
    for attempt in range(3):
        started = time.monotonic()
        driver.get(page.resolve().as_uri())
        WebDriverWait(driver, 300).until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-ready") == "yes")
        print(f"load until ready: {time.monotonic() - started:.2f} s")
    def timed(label, action):
        started = time.monotonic()
        action()
        driver.find_element(By.ID, "showing").text  # waits for the script's work to finish
        print(f"{label}: {time.monotonic() - started:.2f} s")
    timed("sort by motif length", lambda: driver.find_element(By.CSS_SELECTOR, "th[data-key='length'] button").click())
    timed("sort by score, descending", lambda: [driver.find_element(By.CSS_SELECTOR, "th[data-key='value'] button").click() for _ in range(2)])
    timed("next page", lambda: driver.find_element(By.ID, "next").click())
    def filter_length():
        field = driver.find_element(By.ID, "filter-min")
        field.send_keys("10")
    timed("filter motif length from 10", filter_length)
    print(driver.find_element(By.ID, "showing").text)
finally:
    driver.quit()
