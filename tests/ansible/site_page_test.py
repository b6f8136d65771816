#!/usr/bin/env python3
"""files/site_page.py renders the page on a small site database: events and
hosts land where they belong, a stale probe is marked, an unchanged page is
not rewritten. Skipped without Jinja2 (Ansible brings it)."""

import os
import re
import sqlite3
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "ansible", "roles", "qarvik", "files"))
try:
    import site_page
    from site_db import SCHEMA
except ImportError as error:
    print("skipped: %s" % error)
    sys.exit(77)

HOSTILE = '<img src=x onerror=alert(1)>'
T1, T2, T3 = "2026-10-01T02:00:00Z", "2026-12-01T02:00:00Z", "2026-12-08T02:00:00Z"


def make_site(folder):
    """Three runs of segments lab and 倉庫 (its probe failed in the last);
    the hostile name on a host, a segment and a previous name."""
    db = sqlite3.connect(os.path.join(folder, "site.db"))
    db.executescript(SCHEMA + "; PRAGMA user_version = 1;")
    db.executemany("INSERT INTO runs VALUES (?, ?)", [(1, T1), (2, T2), (3, T3)])
    db.executemany("INSERT INTO probes VALUES (?, ?, ?, ?, ?, NULL)", [
        ("p1", "lab", "ip", 3, T3), ("p2", "倉庫", "ip", 2, T2), ("p3", HOSTILE, "netbeui", 3, T3)])
    db.executemany("INSERT INTO outcomes VALUES (3, ?, ?, ?)", [
        ("p1", "ok", ""), ("p2", "unreachable", "cannot be reached: timed out"), ("p3", "ok", "")])
    sightings = [(1, "lab", "a", "10.0.0.2", "m2"), (2, "lab", "a", "10.0.0.2", "m2"),
                 (2, "倉庫", "倉庫の端末", "10.0.1.5", "m5"), (3, "lab", "a", "10.0.0.2", "m2"),
                 (3, "lab", HOSTILE, "10.0.0.10", "m10"), (3, HOSTILE, "NB", "", "m7")]
    db.executemany("INSERT INTO sightings VALUES (?, 'p', ?, ?, ?, ?)", sightings)
    run_of = {T1: 1, T2: 2, T3: 3}
    db.executemany("INSERT INTO hosts (segment, probe, name, address, mac, vendor, first_seen, last_seen,"
                   " present, first_run, last_run) VALUES (?, 'p', ?, ?, ?, ?, ?, ?, ?, ?, ?)", [
                       host + (run_of[host[5]], run_of[host[6]]) for host in [
                           ("lab", "a", "10.0.0.2", "m2", "Maker", T1, T3, 1),
                           ("lab", HOSTILE, "10.0.0.10", "m10", "", T3, T3, 1),
                           ("lab", "old", "10.0.0.3", "m3", "", T1, T1, 0),
                           ("倉庫", "倉庫の端末", "10.0.1.5", "m5", "", T2, T2, 1),
                           (HOSTILE, "NB", "", "m7", "", T3, T3, 1)]])
    db.executemany("INSERT INTO events (run, time, event, probe, segment, name, address, mac, previous)"
                   " VALUES (?, ?, ?, 'p1', 'lab', ?, ?, ?, ?)", [
                       (1, T1, "new", "a", "10.0.0.2", "m2", ""),
                       (2, T2, "gone", "old", "10.0.0.3", "m3", ""),
                       (3, T3, "new", HOSTILE, "10.0.0.10", "m10", ""),
                       (3, T3, "renamed", "a", "10.0.0.2", "m2", '"><script>')])
    db.commit()
    db.close()


def section(page, name):
    return re.search(r'<section id="%s">(.*?)(<section id=|</main>)' % name, page, re.S).group(1)


class SitePage(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        make_site(self.folder)
        self.assertEqual(site_page.main(["--days", "7", "--stale-days", "30", self.folder]), 0)
        with open(os.path.join(self.folder, "site.html"), encoding="utf-8") as page:
            self.page = page.read()

    def test_sections_hold_their_rows(self):
        self.assertNotIn("<img", self.page)  # the browser's test sees every place of a name
        events = section(self.page, "events")
        last_run, earlier = events.split("<h3>Earlier")
        self.assertEqual(re.findall(r'class="badge">(\w+)<', last_run), ["new", "renamed"])
        # The run of 2026-10-01 is older than the seven days.
        self.assertEqual(re.findall(r'class="badge">(\w+)<', earlier), ["gone"])
        hosts = section(self.page, "hosts")
        self.assertEqual(re.findall(r'<tr( class="marked")?><td class="name">([^<]*)<', hosts), [
            ("", "NB"), (' class="marked"', "a"), (' class="marked"', "&lt;img src=x onerror=alert(1)&gt;"),
            ("", "倉庫の端末")])
        self.assertEqual(re.findall(r'<td class="name">([^<]*)<', section(self.page, "quiet")), ["old"])

    def test_stale_probe(self):
        state = section(self.page, "state")
        self.assertEqual(state.count('class="badge stale"'), 1)
        self.assertIn("倉庫</td><td>ip</td>", state)
        self.assertIn("stale</span> cannot be reached: timed out", state)

    def test_unchanged_page_is_kept(self):
        path = os.path.join(self.folder, "site.html")
        os.utime(path, (0, 0))
        self.assertEqual(site_page.main([self.folder]), 0)
        self.assertEqual(os.stat(path).st_mtime, 0)
        self.assertEqual(sorted(os.listdir(self.folder)), ["site.db", "site.html"])


if __name__ == "__main__":
    unittest.main()
