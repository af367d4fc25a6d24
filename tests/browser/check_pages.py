#!/usr/bin/python3
"""Opens every page of the runs under WORK in headless Chromium and checks
what a reader relies on: no console errors, every link reaching an existing
file and anchor, and on the summary page sorting, filtering, paging, the
tooltip and the contrast of its text. In the alignments view, a seeded sample
of 500 repeats (every one of a small run with an N run, the rest from a record
with some 50,000) shows the table's numbers and copies that are the record's
bases; no file of a view passes 2 MiB. Prints how long the large record's
summary page and view take. Saves a screenshot of each page.

Usage: check_pages.py WORK
"""
import html
import json
import pathlib
import random
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
    if parts.fragment.startswith("repeat-") and target.is_file():
        count = view_config(target)["count"]
        check(1 <= int(parts.fragment[7:]) <= count, f"{page.name}: no repeat {parts.fragment} in {target.name}")
    elif parts.fragment and target.is_file():
        fragment = urllib.parse.unquote(parts.fragment)
        check(anchor_exists(target, fragment), f"{page.name}: no anchor '{fragment}' in {target.name}")


def view_config(page):
    """The configuration a record's page of the alignments view holds."""
    text = page.read_text(encoding="utf-8")
    return json.loads(re.search(r'<script id="config" type="application/json">(.*?)</script>', text, re.S).group(1))


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


def check_rows_against_table(name, data, tsv):
    """Every row of the summary page's data holds the table's numbers for the same repeat, in the same order."""
    header, table = read_tsv(tsv)
    value = header[5]
    fields = {f: i for i, f in enumerate(data["fields"])}
    check(len(data["rows"]) == len(table), f"{name}: {len(data['rows'])} rows, the table {len(table)}")
    for row, line in zip(data["rows"], table):
        shown = [data["records"][row[fields["record"]]]["name"], str(row[fields["start"]]), str(row[fields["end"]]),
                 str(row[fields["motif_length"]]), row[fields["units"]], row[fields["value"]], str(row[fields["period"]])]
        wanted = [line["seqid"], line["start"], line["end"], line["motif_length"], line["units"], line[value], line["period"]]
        motif = row[fields["motif"]]
        if shown != wanted or not line["motif"].startswith(motif.rstrip("\u2026")):
            check(False, f"{name}: row {shown} {motif} is {wanted} {line['motif']} in the table")
            return


def check_summary(driver, path, shot):
    open_page(driver, path, shot)
    WebDriverWait(driver, 60).until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-ready") == "yes")
    data = driver.execute_script("return JSON.parse(document.getElementById('data').textContent)")
    rows, records = data["rows"], data["records"]
    if (path.parent / "repeats.tsv").is_file():
        check_rows_against_table(path.name, data, path.parent / "repeats.tsv")
    page, fragment = data["fields"].index("page"), data["fields"].index("link")
    link = lambda row: data["pages"][row[page]] + row[fragment] if row[page] >= 0 else ""
    check(len(rows) > 100, f"{path.name}: expected more than 100 repeats, got {len(rows)}")
    # Every row's link, not only the shown page's.
    for row in rows:
        if link(row):
            check_link(path, urllib.parse.urljoin(path.resolve().as_uri(), link(row)))
    check(len(driver.find_elements(By.CSS_SELECTOR, "#records tbody tr")) == len(records),
          f"{path.name}: the records table misses records")
    check(len(driver.find_elements(By.CSS_SELECTOR, "#track-list svg path.repeats")) ==
          len({row[0] for row in rows}), f"{path.name}: a track per record with repeats")
    period = data["fields"].index("period")
    check(len(driver.find_elements(By.CSS_SELECTOR, "#hist rect")) == len({row[period] for row in rows}),
          f"{path.name}: a histogram bar per period")
    check(contrast_failures(driver) == [], f"{path.name}: low contrast {contrast_failures(driver)}")
    histogram = driver.find_element(By.ID, "histogram")
    driver.execute_script("arguments[0].scrollIntoView()", histogram)
    histogram.screenshot(str(SCREENS / shot.replace(".png", "-histogram.png")))

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
    if all(link(r) for r in rows):
        WebDriverWait(driver, 10).until(lambda d: "align_" in d.current_url or "record-" in d.current_url)
        check("#" in driver.current_url, f"{path.name}: a track click opens an alignment block, got {driver.current_url}")
    return len(rows)


def read_fasta(path):
    """Record name -> bases in upper case, as the batch program reads them."""
    records, name = {}, None
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.startswith(">"):
            name = (line[1:].split() or [""])[0]
            records[name] = []
        elif name is not None:
            records[name].append(line.strip().upper())
    return {k: "".join(v) for k, v in records.items()}


def read_tsv(path):
    header, rows = None, []
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.startswith("#"):
            continue
        fields = line.split("\t")
        if header is None:
            header = fields
        else:
            rows.append(dict(zip(header, fields)))
    return header, rows


def view_rows(view, tsv):
    """Every row of the table with the page of its record in the view and its number there."""
    index = (view / "index.html").read_text(encoding="utf-8")
    pages = {html.unescape(name): view / href for href, name in re.findall(r'<a href="(record-\d+\.html)">(.*?)</a>', index)}
    header, rows = read_tsv(tsv)
    seen, out = {}, []
    for row in rows:
        seen[row["seqid"]] = seen.get(row["seqid"], 0) + 1
        out.append((pages.get(row["seqid"]), seen[row["seqid"]], row))
    return header, out


def rebuilt(copy):
    """A copy's bases as its alignment holds them; None when an insertion was cut."""
    letters, insertions = copy[3], copy[4]
    if any(len(i[1]) != i[2] for i in insertions):
        return None
    text, at = [], 0
    for i in range(len(letters) + 1):
        while at < len(insertions) and insertions[at][0] == i:
            text.append(insertions[at][1])
            at += 1
        if i < len(letters) and letters[i] != "-":
            text.append(letters[i])
    return "".join(text)


def open_repeat(driver, page, k, fresh):
    """Shows repeat k of a record's page; the seconds it took."""
    if fresh:
        driver.get("about:blank")
    started = time.monotonic()
    driver.get(page.resolve().as_uri() + f"#repeat-{k}")
    WebDriverWait(driver, 20).until(lambda d: d.execute_script("return document.body.dataset.shown") == str(k))
    return time.monotonic() - started


def check_repeat(driver, page, k, row, header, bases):
    """The numbers the page shows for repeat k are the table's; its copies are the record's bases."""
    where = f"{page.name}#repeat-{k}"
    shown = driver.execute_script("const o = {}; document.querySelectorAll('#repeat dd[data-field]')"
                                  ".forEach((e) => { o[e.dataset.field] = e.textContent; }); return o;")
    for name in header[1:21]:
        check(shown.get(name) == row[name], f"{where}: {name} shows {shown.get(name)!r}, the table {row[name]!r}")
    entry = driver.execute_script(f"return chunks.get(partOf({k}, 0)).find((r) => r[0] === {k});")
    start, end = int(row["start"]), int(row["end"])
    aligned_start, aligned_end, total, first = entry[2], entry[3], entry[4], entry[5]
    copies = driver.execute_script(f"return piecesOf(chunks.get(partOf({k}, 0)), {k});")
    check(start <= aligned_start and aligned_end <= end and first == 0, f"{where}: the alignment lies in the repeat")
    lines = len(driver.find_elements(By.CSS_SELECTOR, "#copies .line.copy"))
    check(lines == len(copies), f"{where}: {lines} lines for {len(copies)} copies")
    at = aligned_start
    for copy in copies:
        check(copy[0] == at, f"{where}: copy {copy[0]}-{copy[1]} does not follow base {at - 1}")
        text = rebuilt(copy)
        check(text is None or text == bases[copy[0] - 1:copy[1]], f"{where}: copy {copy[0]}-{copy[1]} is not the record's bases")
        at = copy[1] + 1
    if len(copies) == total:
        check(at - 1 == aligned_end, f"{where}: the copies end at {at - 1}, the alignment at {aligned_end}")


def check_views(driver, runs, wanted):
    """Opens a seeded sample of at least `wanted` repeats (every one of the small runs, the rest from
    the large) and checks each against the table; every file of a view stays within 2 MiB."""
    sample, tables = [], {}
    for view, tsv, fasta, small in runs:
        for f in view.iterdir():
            check(f.stat().st_size <= 2 << 20, f"{f}: {f.stat().st_size} bytes, more than 2 MiB")
        header, rows = view_rows(view, tsv)
        tables[view] = (header, read_fasta(fasta))
        check(all(page is not None for page, _, _ in rows), f"{view.name}: a record with repeats has no page")
        if not small:  # the rest of the sample, at least a hundred
            rows = random.Random(25).sample(rows, min(len(rows), max(100, wanted - len(sample))))
        sample += [(view, *r) for r in rows]
    check(len(sample) >= wanted, f"the alignments view: only {len(sample)} repeats to open")
    random.Random(26).shuffle(sample)
    timings = {}
    for i, (view, page, k, row) in enumerate(sample):
        header, bases = tables[view]
        seconds = open_repeat(driver, page, k, fresh=i % 10 == 0)
        if i % 10 == 0:
            timings.setdefault(view.name, []).append(seconds)
        check_repeat(driver, page, k, row, header, bases[row["seqid"]])
    check(not console_errors(driver), "the alignments view: console errors")
    print(f"alignments view: {len(sample)} repeats opened and checked against the tables")
    for name, times in timings.items():
        times.sort()
        print(f"  {name}: a repeat opened on a fresh page in {times[len(times) // 2]:.2f} s (median), "
              f"{times[-1]:.2f} s at most, of {len(times)}")
    return len(sample)


def time_summary(driver, path):
    """How long the large summary page takes to open, sort, filter and open an alignment."""
    started = time.monotonic()
    driver.get(path.resolve().as_uri())
    WebDriverWait(driver, 60).until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-ready") == "yes")
    opened = time.monotonic() - started
    check_rows_against_table(path.name, driver.execute_script("return JSON.parse(document.getElementById('data').textContent)"),
                             path.parent / "genome.tsv")
    driver.save_screenshot(str(SCREENS / "genome-summary.png"))
    started = time.monotonic()
    driver.find_element(By.CSS_SELECTOR, "th[data-key='span'] button").click()
    driver.find_element(By.CSS_SELECTOR, "#repeat-table tbody tr")
    sorted_in = time.monotonic() - started
    started = time.monotonic()
    field = driver.find_element(By.ID, "filter-min")
    field.send_keys("40")
    WebDriverWait(driver, 20).until(lambda d: "filtered" in d.find_element(By.ID, "showing").text)
    filtered = time.monotonic() - started
    anchor = driver.find_element(By.CSS_SELECTOR, "#repeat-table tbody tr a")
    started = time.monotonic()
    anchor.click()
    WebDriverWait(driver, 20).until(lambda d: d.execute_script("return document.body.dataset.shown || ''") != "")
    alignment = time.monotonic() - started
    driver.save_screenshot(str(SCREENS / "genome-alignment.png"))
    print(f"  {path.name}: opened in {opened:.2f} s, sorted by length in {sorted_in:.2f} s, "
          f"filtered in {filtered:.2f} s, an alignment opened from the table in {alignment:.2f} s")


def main():
    driver = browser()
    try:
        for folder in sorted(p for p in WORK.iterdir() if p.is_dir() and p.name not in ("screens", "genome")):
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
            for page in sorted(folder.glob("pages*/index.html")) + sorted(folder.glob("pages*/record-*.html"))[:2]:
                links = open_page(driver, page, f"{tag}-view-{page.stem}.png")
                print(f"{tag}: {page.parent.name}/{page.name}: {links} links, all resolve")
        genome = WORK / "genome"
        print(f"genome: {genome / 'genome.html'}")
        time_summary(driver, genome / "genome.html")
        check_views(driver, [(WORK / "unusual #ü" / "pages #ü", WORK / "unusual #ü" / "repeats.tsv", WORK / "genome.fa", True),
                             (genome / "view", genome / "genome.tsv", genome / "genome.fa", False)], 500)
    finally:
        driver.quit()
    if failures:
        print(f"{len(failures)} failure(s)")
        sys.exit(1)
    print("browser checks passed; screenshots in", SCREENS)


main()
