#!/usr/bin/env python3
"""The site's page in headless chromium: the DOM after its script, the
console, a screenshot (FOLDER/site.png). `site_page_browser.py FOLDER` checks
the page of site_page_test.py's database (hostile and Japanese names) and
sorts and filters a table; `site_page_browser.py FOLDER RESULTS NAME...`
checks the page a run wrote against its site.csv and changes.csv. Skipped
(77) without chromium."""

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
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--enable-logging=stderr", "--v=0"]
# Sorts segment lab's hosts by name, descending, filters them and notes
# each row's address, + shown or - hidden.
DRIVER = """<script>
var table = document.querySelector("table.hosts[data-segment=lab]"), button = table.querySelector("th button");
button.click(); button.click();
var input = table.previousElementSibling.querySelector("input");
input.value = "10.0.0.1"; input.dispatchEvent(new Event("input"));
document.body.dataset.driven = Array.prototype.map.call(table.tBodies[0].rows,
  function (row) { return (row.hidden ? "-" : "+") + row.cells[1].textContent; }).join(" ");
</script>"""


def chromium(page, *arguments):
    """(DOM or nothing, console lines); a page that hangs (a dialog) fails."""
    with tempfile.TemporaryDirectory() as profile:
        browser = subprocess.Popen(["chromium"] + FLAGS + ["--user-data-dir=" + profile, *arguments,
                                                           "file://" + os.path.abspath(page)],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        try:
            out, err = browser.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            os.killpg(browser.pid, signal.SIGKILL)
            browser.communicate()
            raise RuntimeError("the browser did not finish the page in 60 s (a dialog opened?)")
    return out.decode(), [line for line in err.decode(errors="replace").splitlines() if ":CONSOLE" in line]


class Dom(html.parser.HTMLParser):
    """Tag counts, on* attributes, the chart's lines, each table's rows (a
    host table by its segment, another by its id or class)."""

    def __init__(self, text):
        super().__init__()
        self.tags, self.handlers, self.tables, self.table, self.row, self.cell = {}, [], {}, None, None, None
        self.feed(text)

    def handle_starttag(self, tag, attributes):
        attributes = dict(attributes)
        self.tags[tag] = self.tags.get(tag, 0) + 1
        self.handlers += [name for name in attributes if name.startswith("on")]
        if tag == "table":
            key = ("hosts", attributes["data-segment"]) if "data-segment" in attributes else \
                attributes.get("id") or attributes.get("class")
            self.table = self.tables.setdefault(key, [])
        self.row = [] if tag == "tr" else self.row
        self.cell = [] if tag == "td" else self.cell

    def handle_endtag(self, tag):
        if tag == "td":
            self.row.append("".join(self.cell).strip())
            self.cell = None
        elif tag == "tr" and self.row:
            self.table.append(self.row)

    def handle_data(self, data):
        if self.cell is not None:
            self.cell.append(data)


def from_csv(results):
    """site.csv's hosts a segment (each probe's segment from site.db), changes.csv's events."""
    with sqlite3.connect("file:%s?mode=ro" % os.path.join(results, "site.db"), uri=True) as db:
        segment_of = dict(db.execute("SELECT probe, segment FROM probes"))
    hosts = {}
    with open(os.path.join(results, "site.csv"), encoding="utf-8", newline="") as site:
        for row in csv.DictReader(site):
            hosts.setdefault(segment_of[row["probe"]], set()).add((row["name"], row["address"], row["mac"]))
    with open(os.path.join(results, "changes.csv"), encoding="utf-8", newline="") as changes:
        return hosts, [[row[k] for k in ("event", "probe", "name", "address", "mac", "previous")]
                       for row in csv.DictReader(changes)]


def from_database(results):
    """The same of a database without CSV files: its present hosts, its last run's events."""
    with sqlite3.connect(os.path.join(results, "site.db")) as db:
        hosts = {}
        for segment, *host in db.execute("SELECT segment, name, address, mac FROM hosts WHERE present"):
            hosts.setdefault(segment, set()).add(tuple(host))
        return hosts, [list(row) for row in db.execute(
            "SELECT event, probe, name, address, mac, previous FROM events"
            " WHERE run = (SELECT MAX(id) FROM runs) ORDER BY id")]


def check(results, hosts, events, names, folder):
    page = os.path.join(results, "site.html")
    text, console = chromium(page, "--dump-dom")
    dom = Dom(text)
    failures = ["console: " + line for line in console]
    shown = {key[1]: {tuple(row[:3]) for row in rows} for key, rows in dom.tables.items() if key[0] == "hosts"}
    if shown != hosts:
        failures.append("hosts a segment: %s, expected %s" % (shown, hosts))
    if [row[1:6] + row[7:8] for row in dom.tables.get("events-last", [])] != events:
        failures.append("last run's events: %s, expected %s" % (dom.tables.get("events-last"), events))
    if dom.tags.get("polyline") != len(hosts):
        failures.append("the chart has %s lines for %d segments" % (dom.tags.get("polyline"), len(hosts)))
    made = [dom.tags.get(tag, 0) for tag in ("script", "svg", "img", "style")]
    if made != [1, 1, 0, 1] or dom.handlers:
        failures.append("names made elements (script, svg, img, style: %s) or handlers %s" % (made, dom.handlers))
    cells = {cell for rows in dom.tables.values() for row in rows for cell in row}
    failures += ["name %r is not shown as it is" % name for name in names if name not in cells]
    chromium(page, "--screenshot=" + os.path.join(folder, "site.png"), "--window-size=1100,1900")
    return failures


def sorted_and_filtered(results):
    with open(os.path.join(results, "site.html"), encoding="utf-8") as page:
        text = page.read().replace("</body>", DRIVER + "</body>")
    with open(os.path.join(results, "driven.html"), "w", encoding="utf-8") as page:
        page.write(text)
    dom, console = chromium(os.path.join(results, "driven.html"), "--dump-dom")
    driven = re.search(r'data-driven="([^"]*)"', dom)
    if console or not driven or driven.group(1) != "-10.0.0.2 +10.0.0.10":
        return ["sorted by name, descending, and filtered: %s %s" % (driven and driven.group(1), console)]
    return []


def main(folder, results=None, *names):
    if shutil.which("chromium") is None:
        print("skipped: needs chromium")
        return 77
    os.makedirs(folder, exist_ok=True)
    try:
        if results:
            failures = check(results, *from_csv(results), names, folder)
        else:
            import site_page_test  # puts the role's files on the path
            import site_page
            results = os.path.join(folder, "site")  # the last run's page and database stay
            shutil.rmtree(results, ignore_errors=True)
            os.makedirs(results)
            site_page_test.make_site(results)
            site_page.main([results])
            names = [site_page_test.HOSTILE, '"><script>', "倉庫の端末"]
            failures = check(results, *from_database(results), names, folder) + sorted_and_filtered(results)
    except RuntimeError as error:
        failures = [str(error)]
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
