#!/usr/bin/python3
"""Opens every page of the runs under WORK in headless Chromium and checks
what a reader relies on: no console errors, every link reaching an existing
file and anchor, and on the summary page sorting, filtering, paging, the
tooltip and the contrast of its text. Saves a screenshot of each page.

Usage: check_pages.py WORK
"""
import pathlib
import re
import sys
import time
import urllib.parse

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

WORK = pathlib.Path(sys.argv[1])
SCREENS = WORK / "screens"
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1280,900",
                     "--allow-file-access-from-files", "--disable-dev-shm-usage"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def console_errors(driver):
    return [entry["message"] for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]


def anchor_exists(path, fragment):
    """True when the page at `path` has an element named or identified `fragment`."""
    text = path.read_text(encoding="utf-8", errors="replace")
    quoted = re.escape(fragment)
    return re.search(r'\b(name|id)="' + quoted + '"', text) is not None


def check_link(page, url):
    parts = urllib.parse.urlsplit(url)
    if parts.scheme != "file":
        check(False, f"{page.name}: link leaves the files: {url}")
        return
    target = pathlib.Path(urllib.parse.unquote(parts.path))
    check(target.is_file(), f"{page.name}: link to a missing file {target}")
    if parts.fragment and target.is_file():
        fragment = urllib.parse.unquote(parts.fragment)
        check(anchor_exists(target, fragment), f"{page.name}: no anchor '{fragment}' in {target.name}")


def open_page(driver, path, shot):
    driver.get(path.resolve().as_uri())
    if path.suffix == ".html":
        WebDriverWait(driver, 60).until(lambda d: d.execute_script("return document.readyState") == "complete")
    errors = console_errors(driver)
    check(not errors, f"{path.name}: console errors {errors}")
    links = [a.get_attribute("href") for a in driver.find_elements(By.CSS_SELECTOR, "a[href]")]
    for url in links:
        check_link(path, url)
    driver.save_screenshot(str(SCREENS / shot))
    return len(links)


def visible_column(driver, index):
    cells = driver.find_elements(By.CSS_SELECTOR, f"#repeat-table tbody tr td:nth-child({index})")
    return [c.text for c in cells]


def contrast_failures(driver):
    """Text elements whose colour against their background is below WCAG AA (4.5:1)."""
    return driver.execute_script("""
      function rgb(text) { return text.match(/[\\d.]+/g).map(Number); }
      function luminance(c) {
        const [r, g, b] = c.slice(0, 3).map((v) => { v /= 255; return v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4); });
        return 0.2126 * r + 0.7152 * g + 0.0722 * b;
      }
      function background(e) {
        for (; e; e = e.parentElement) {
          const c = rgb(getComputedStyle(e).backgroundColor);
          if (c.length < 4 || c[3] > 0) return c;
        }
        return [255, 255, 255];
      }
      const bad = [];
      for (const e of document.querySelectorAll("body *")) {
        if (!e.offsetParent || e.closest("svg")) continue;
        if (![...e.childNodes].some((n) => n.nodeType === 3 && n.textContent.trim())) continue;
        const a = luminance(rgb(getComputedStyle(e).color)), b = luminance(background(e));
        const ratio = (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
        if (ratio < 4.5) bad.push(e.tagName + " " + e.textContent.slice(0, 30) + " " + ratio.toFixed(2));
      }
      return bad;""")


def check_summary(driver, path, shot):
    open_page(driver, path, shot)
    WebDriverWait(driver, 60).until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-ready") == "yes")
    data = driver.execute_script("return JSON.parse(document.getElementById('data').textContent)")
    rows, records = data["rows"], data["records"]
    check(len(rows) > 100, f"{path.name}: expected more than 100 repeats, got {len(rows)}")
    # Every row's link, not only the shown page's.
    for row in rows:
        if row[7]:
            check_link(path, urllib.parse.urljoin(path.resolve().as_uri(), row[7]))
    check(len(driver.find_elements(By.CSS_SELECTOR, "#records tbody tr")) == len(records),
          f"{path.name}: the records table misses records")
    check(len(driver.find_elements(By.CSS_SELECTOR, "#track-list svg path.repeats")) ==
          len({row[0] for row in rows}), f"{path.name}: a track per record with repeats")
    period = data["fields"].index("period")
    check(len(driver.find_elements(By.CSS_SELECTOR, "#hist rect")) == len({row[period] for row in rows}),
          f"{path.name}: a histogram bar per period")
    check(contrast_failures(driver) == [], f"{path.name}: low contrast {contrast_failures(driver)}")

    # Sorting by motif length, both ways.
    button = driver.find_element(By.CSS_SELECTOR, "th[data-key='length'] button")
    button.click()
    lengths = [int(v) for v in visible_column(driver, 5)]
    check(lengths == sorted(lengths) and lengths[0] == min(r[3] for r in rows),
          f"{path.name}: ascending sort by motif length")
    button.click()
    lengths = [int(v) for v in visible_column(driver, 5)]
    check(lengths == sorted(lengths, reverse=True) and lengths[0] == max(r[3] for r in rows),
          f"{path.name}: descending sort by motif length")
    check(driver.find_element(By.CSS_SELECTOR, "th[data-key='length']").get_attribute("aria-sort") == "descending",
          f"{path.name}: aria-sort follows the sort")
    driver.find_element(By.CSS_SELECTOR, "th[data-key='start'] button").click()
    starts = [int(v) for v in visible_column(driver, 2)]
    check(starts == sorted(starts), f"{path.name}: sort by start")
    driver.find_element(By.CSS_SELECTOR, "th[data-key='span'] button").click()
    spans = [int(v.replace(",", "")) for v in visible_column(driver, 4)]
    check(spans == sorted(spans) and spans[0] == min(r[2] - r[1] + 1 for r in rows), f"{path.name}: sort by length")
    driver.find_element(By.CSS_SELECTOR, "th[data-key='value'] button").click()
    values = [float(v) for v in visible_column(driver, 7)]
    check(values == sorted(values), f"{path.name}: sort by similarity or score")

    # Paging.
    status = driver.find_element(By.ID, "showing").text
    check(status.startswith("Repeats 1\u2013100 of"), f"{path.name}: first page, got '{status}'")
    first = visible_column(driver, 2)
    driver.find_element(By.ID, "next").click()
    check(driver.find_element(By.ID, "showing").text.startswith("Repeats 101\u2013"), f"{path.name}: next page")
    check(visible_column(driver, 2) != first, f"{path.name}: the next page shows other rows")

    # Filtering by record, then by motif length range.
    # The last record with repeats (in the unusual run, a name full of markup).
    chosen = records[rows[-1][0]]["name"]
    Select(driver.find_element(By.ID, "filter-record")).select_by_visible_text(chosen)
    names = visible_column(driver, 1)
    expected = sum(1 for r in rows if records[r[0]]["name"] == chosen)
    check(names and set(names) == {chosen}, f"{path.name}: record filter shows only {chosen}: {sorted(set(names))[:3]} {driver.find_element(By.ID, 'filter-record').get_attribute('value')}")
    check(f"of {expected} (filtered" in driver.find_element(By.ID, "showing").text.replace(",", ""),
          f"{path.name}: the count of the filtered rows")
    Select(driver.find_element(By.ID, "filter-record")).select_by_index(0)
    for box, value in (("filter-min", "10"), ("filter-max", "20")):
        field = driver.find_element(By.ID, box)
        field.clear()
        field.send_keys(value)
    lengths = [int(v) for v in visible_column(driver, 5)]
    expected = sum(1 for r in rows if 10 <= r[3] <= 20)
    check(lengths and all(10 <= L <= 20 for L in lengths), f"{path.name}: motif length filter")
    check(f"of {expected} (filtered" in driver.find_element(By.ID, "showing").text.replace(",", ""),
          f"{path.name}: the count of the length-filtered rows")

    # Pointing at the first repeat of the first track shows its row.
    shown = driver.execute_script("""
      const svg = document.querySelector('#track-list svg');
      const path = svg.querySelector('path.repeats');
      const m = path.getAttribute('d').match(/M([\\d.]+) ([\\d.]+)h([\\d.]+)/);
      const box = svg.getBoundingClientRect(), k = box.width / 960;
      const x = box.left + (parseFloat(m[1]) + parseFloat(m[3]) / 2) * k, y = box.top + (parseFloat(m[2]) + 1.5) * k;
      svg.dispatchEvent(new MouseEvent('mousemove', {clientX: x, clientY: y, bubbles: true}));
      const tip = document.getElementById('tip');
      return tip.style.display === 'block' ? tip.textContent : '';""")
    check("motif length" in shown, f"{path.name}: tooltip on a track mark, got '{shown}'")

    # The period classes: their counts as the data gives them, and as the rows' periods give them.
    classes = driver.find_element(By.ID, "classes").text.replace(",", "")
    for c in data["classes"]:
        check(f"{c['low']}\u2013{c['high']}: {c['repeats']} repeats covering {c['covered']} bases" in classes,
              f"{path.name}: period class {c['low']}-{c['high']} in '{classes}'")
    check(sum(c["repeats"] for c in data["classes"]) == data["repeats"], f"{path.name}: the classes count every repeat")
    for c in data["classes"]:
        check(c["repeats"] == sum(1 for r in rows if c["low"] <= r[period] <= c["high"]),
              f"{path.name}: the rows of period class {c['low']}-{c['high']}")

    # A long motif shows cut, then whole on demand.
    more = driver.find_elements(By.CSS_SELECTOR, "#repeat-table button.more")
    if more:
        cell = more[0].find_element(By.XPATH, "..")
        more[0].click()
        check(cell.text.endswith("show less") and "\u2026" not in cell.text, f"{path.name}: a long motif shown whole")

    # Choosing a row from a track marks it on its page, whatever the filters.
    last = len(rows) - 1
    chosen = driver.execute_script(f"table.select({last}, false); const row = document.getElementById('selected-row');"
                                   "return row ? row.cells[1].textContent : '';")
    check(chosen == str(rows[last][1]), f"{path.name}: the chosen row shown, got '{chosen}'")
    driver.save_screenshot(str(SCREENS / shot.replace(".png", "-filtered.png")))
    check(not console_errors(driver), f"{path.name}: console errors after interaction")

    # A click on a track mark opens its alignment (every row here has one).
    driver.execute_script("""
      const svg = document.querySelector('#track-list svg');
      const m = svg.querySelector('path.repeats').getAttribute('d').match(/M([\\d.]+) ([\\d.]+)h([\\d.]+)/);
      const box = svg.getBoundingClientRect(), k = box.width / 960;
      const x = box.left + (parseFloat(m[1]) + parseFloat(m[3]) / 2) * k, y = box.top + (parseFloat(m[2]) + 1.5) * k;
      svg.dispatchEvent(new MouseEvent('click', {clientX: x, clientY: y, bubbles: true}));""")
    if all(r[7] for r in rows):
        WebDriverWait(driver, 10).until(lambda d: "align_" in d.current_url)
        check("#" in driver.current_url, f"{path.name}: a track click opens an alignment block, got {driver.current_url}")
    return len(rows)


def main():
    driver = browser()
    try:
        for folder in sorted(p for p in WORK.iterdir() if p.is_dir() and p.name != "screens"):
            tag = "ordinary" if folder.name == "ordinary" else "unusual"
            pages = sorted(folder.glob("atr_*.html")) + sorted(folder.glob("align_*.html")) + sorted(folder.glob("atr_*.txt"))
            check(len(pages) == 3, f"{folder.name}: three console pages, found {len(pages)}")
            for page in pages:
                links = open_page(driver, page, f"{tag}-console-{page.stem.split('_')[0]}{page.suffix.replace('.', '-')}.png")
                print(f"{tag}: {page.name}: {links} links, all resolve")
            for summary in [p for p in folder.glob("*.html") if not p.name.startswith(("atr_", "align_"))]:
                started = time.monotonic()
                rows = check_summary(driver, summary, f"{tag}-summary.png")
                print(f"{tag}: {summary.name}: {rows} repeats; sorting, filtering, paging, tooltip, "
                      f"contrast and links checked in {time.monotonic() - started:.1f} s")
            for page in sorted((folder).glob("pages*/align_*.html"))[:3]:
                open_page(driver, page, f"{tag}-batch-{page.stem[:12]}.png")
    finally:
        driver.quit()
    if failures:
        print(f"{len(failures)} failure(s)")
        sys.exit(1)
    print("browser checks passed; screenshots in", SCREENS)


main()
