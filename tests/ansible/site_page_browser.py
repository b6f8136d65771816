#!/usr/bin/env python3
"""The site's page in a real browser (Debian's chromium, headless): the DOM
after the page's script has run, the browser's console and a screenshot.

    site_page_browser.py FOLDER
        renders the page of site_page_test.py's small database, whose
        names are hostile markup and Japanese, into FOLDER
    site_page_browser.py FOLDER RESULTS NAME...
        the page a run wrote into RESULTS, compared with its site.csv and
        changes.csv; each NAME is a host name the page must show

Both check that each segment's table holds exactly its hosts, that the last
run's events are there, that the chart has one line a segment, that names
made no element (the page has one script, one svg, no img, no on*
attribute) and that the console stayed empty; FOLDER keeps site.png.
Skipped (77) without chromium.
"""

import csv
import html.parser
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
BROWSER = shutil.which("chromium")
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--enable-logging=stderr", "--v=0"]


def chromium(page, *arguments):
    """Runs chromium on the page with a new empty profile: (stdout, console
    lines). A page that never finishes (a dialog waits for a click) is
    ended with every process of the browser."""
    with tempfile.TemporaryDirectory() as profile:
        browser = subprocess.Popen([BROWSER] + FLAGS + ["--user-data-dir=" + profile] + list(arguments)
                                   + ["file://" + os.path.abspath(page)],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        try:
            out, err = browser.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            os.killpg(browser.pid, signal.SIGKILL)
            browser.communicate()
            raise RuntimeError("the browser did not finish the page in 60 s (a dialog opened?)")
    console = [line for line in err.decode(errors="replace").splitlines() if ":CONSOLE" in line]
    return out.decode(), console


class Dom(html.parser.HTMLParser):
    """What the checks need of the DOM: the tags, every on* attribute, the
    rows of each table by its id or segment, the lines of the chart."""

    def __init__(self, text):
        super().__init__()
        self.tags, self.handlers, self.tables, self.lines = {}, [], {}, 0
        self.table = self.row = self.cell = None
        self.feed(text)

    def handle_starttag(self, tag, attributes):
        attributes = dict(attributes)
        self.tags[tag] = self.tags.get(tag, 0) + 1
        self.handlers += [name for name in attributes if name.startswith("on")]
        if tag == "table":
            key = "hosts " + attributes["data-segment"] if "data-segment" in attributes else attributes.get("id")
            self.table = self.tables.setdefault(key or attributes.get("class"), [])
        elif tag == "tr" and self.table is not None:
            self.row = []
        elif tag == "td" and self.row is not None:
            self.cell = []
        elif tag == "polyline":
            self.lines += 1

    def handle_endtag(self, tag):
        if tag == "td" and self.cell is not None:
            self.row.append("".join(self.cell).strip())
            self.cell = None
        elif tag == "tr" and self.row:
            self.table.append(self.row)
            self.row = None
        elif tag == "table":
            self.table = None

    def handle_data(self, data):
        if self.cell is not None:
            self.cell.append(data)


# Sorts segment lab's table by name twice (descending) and filters it, then
# notes each row's address and whether it is shown.
DRIVER = """<script>(function () {
  var table = document.querySelector("table.hosts[data-segment=lab]");
  var name = table.tHead.rows[0].cells[0].querySelector("button");
  name.click();
  name.click();
  var input = table.previousElementSibling.querySelector("input");
  input.value = "10.0.0.1";
  input.dispatchEvent(new Event("input"));
  document.body.setAttribute("data-driven", Array.prototype.map.call(table.tBodies[0].rows,
    function (row) { return (row.hidden ? "-" : "+") + row.cells[1].textContent; }).join(" "));
}());</script>"""


def sorted_and_filtered(results):
    """The failure of the page's sorting and filtering, or None."""
    page = os.path.join(results, "driven.html")
    with open(os.path.join(results, "site.html"), encoding="utf-8") as original:
        text = original.read().replace("</body>", DRIVER + "</body>")
    with open(page, "w", encoding="utf-8") as driven:
        driven.write(text)
    dom, console = chromium(page, "--dump-dom")
    driven = re.search(r'data-driven="([^"]*)"', dom)
    if console or not driven or driven.group(1) != "-10.0.0.2 +10.0.0.10":
        return "sorted by name down and filtered: %s %s" % (driven and driven.group(1), console)
    return None


def site_from_csv(results):
    """site.csv's hosts as (name, address, mac) a segment, the segment of
    each probe from site.db; changes.csv's events."""
    with sqlite3.connect("file:%s?mode=ro" % os.path.join(results, "site.db"), uri=True) as db:
        segment_of = dict(db.execute("SELECT probe, segment FROM probes"))
    with open(os.path.join(results, "site.csv"), encoding="utf-8", newline="") as site:
        hosts = {}
        for row in csv.DictReader(site):
            hosts.setdefault(segment_of[row["probe"]], set()).add((row["name"], row["address"], row["mac"]))
    with open(os.path.join(results, "changes.csv"), encoding="utf-8", newline="") as changes:
        events = [[row[k] for k in ("event", "probe", "name", "address", "mac", "previous")]
                  for row in csv.DictReader(changes)]
    return hosts, events


def site_from_database(results):
    """The same of the unit's small database, which has no CSV files."""
    with sqlite3.connect(os.path.join(results, "site.db")) as db:
        hosts = {}
        for segment, name, address, mac in db.execute("SELECT segment, name, address, mac FROM hosts WHERE present"):
            hosts.setdefault(segment, set()).add((name, address, mac))
        events = [list(row) for row in db.execute(
            "SELECT event, probe, name, address, mac, previous FROM events"
            " WHERE run = (SELECT MAX(id) FROM runs) ORDER BY id")]
    return hosts, events


def check(results, expected, names, folder):
    """The failures of the page in RESULTS, each a line."""
    page = os.path.join(results, "site.html")
    hosts, events = expected
    text, console = chromium(page, "--dump-dom")
    dom = Dom(text)
    failures = ["console: " + line for line in console]
    shown = {key[6:]: {tuple(row[:3]) for row in rows} for key, rows in dom.tables.items() if key.startswith("hosts ")}
    if shown != hosts:
        failures.append("hosts a segment: the page shows %s, expected %s" % (sorted(shown.items()), sorted(hosts.items())))
    shown_events = [row[1:6] + row[7:8] for row in dom.tables.get("events-last", [])]
    if shown_events != events:
        failures.append("last run's events: the page shows %s, expected %s" % (shown_events, events))
    if dom.lines != len(hosts):
        failures.append("the chart has %d lines for %d segments" % (dom.lines, len(hosts)))
    made = {tag: dom.tags.get(tag, 0) for tag in ("script", "svg", "img", "iframe", "style")}
    if made != {"script": 1, "svg": 1, "img": 0, "iframe": 0, "style": 1} or dom.handlers:
        failures.append("names made elements: %s, handlers %s" % (made, dom.handlers))
    cells = {cell for rows in dom.tables.values() for row in rows for cell in row}
    failures += ["name %r is not shown as it is" % name for name in names if name not in cells]

    chromium(page, "--screenshot=" + os.path.join(folder, "site.png"), "--window-size=1280,1600")
    return failures


def main(argv):
    if BROWSER is None:
        print("skipped: needs chromium")
        return 77
    folder = argv[0]
    os.makedirs(folder, exist_ok=True)
    names = argv[2:]
    if len(argv) > 1:
        results = argv[1]
        expected = site_from_csv(results)
    else:
        import site_page_test  # puts the role's files on the path
        import site_page
        results = tempfile.mkdtemp(dir=folder)
        site_page_test.make_site(results)
        site_page.main([results])
        names = [site_page_test.HOSTILE, '"><script>', "倉庫の端末"]
        expected = site_from_database(results)
    try:
        failures = check(results, expected, names, folder)
        if len(argv) == 1:
            failures += list(filter(None, [sorted_and_filtered(results)]))
    except RuntimeError as error:
        failures = [str(error)]
    for failure in failures:
        print("FAIL: " + failure)
    if failures:
        return 1
    print("the page holds what it must; screenshot in %s" % os.path.join(folder, "site.png"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
