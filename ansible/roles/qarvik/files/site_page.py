#!/usr/bin/env python3
"""The site's page: RESULTS/site.html from RESULTS/site.db.

    site_page.py [--days N] [--stale-days N] RESULTS

Reads the database read-only in one transaction and writes one
self-contained HTML file (no network, no file beside it) with the site's
state, its events, a table of hosts a segment, the hosts gone quiet and a
chart of hosts a segment over the kept history. The file is replaced whole
(a new file beside it, renamed over it) and only when its bytes change; the
helper then prints "site.html: written". Host names come from the network:
the template is rendered with autoescaping, so they are always text.

Runs with the Python that runs Ansible on the controller, which brings
Jinja2.
"""

import argparse
import datetime
import os
import sqlite3
import sys
import tempfile
import urllib.parse

import jinja2

TEMPLATE = "site.html.j2"
TEMPLATES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "templates")
# Dash patterns of the chart's lines, so they part in black and white too.
DASHES = ["", "8 4", "2 3", "10 3 2 3", "4 4", "12 4 2 4 2 4", "1 2", "6 2 6 6"]
CHART = {"width": 760, "height": 260, "left": 44, "right": 150, "top": 12, "bottom": 34}


def parse_time(text):
    return datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%SZ").replace(tzinfo=datetime.timezone.utc)


def shown_time(text):
    return text.replace("T", " ").replace("Z", " UTC") if text else ""


def age(since, until):
    """How long before the last run a file was made, in its largest unit."""
    seconds = int((parse_time(until) - parse_time(since)).total_seconds())
    for unit, size in (("d", 86400), ("h", 3600), ("min", 60)):
        if seconds >= size:
            return "%d %s" % (seconds // size, unit)
    return "%d s" % max(seconds, 0)


def time_before(text, days):
    return (parse_time(text) - datetime.timedelta(days=days)).strftime("%Y-%m-%dT%H:%M:%SZ")


def open_database(results):
    path = os.path.abspath(os.path.join(results, "site.db"))
    if not os.path.isfile(path):
        raise RuntimeError("%s: no such file (no run has committed yet)" % path)
    uri = "file:%s?mode=ro" % urllib.parse.quote(path)
    db = sqlite3.connect(uri, uri=True, timeout=60)
    db.row_factory = sqlite3.Row
    version = db.execute("PRAGMA user_version").fetchone()[0]
    if version < 1:
        raise RuntimeError("%s: not a site database (schema version %d)" % (path, version))
    return db


def probes_state(db, last):
    """Each probe with its outcome in the last run and the age of its file."""
    rows = db.execute(
        "SELECT p.probe, p.segment, p.mode, p.last_good_run, p.last_good_time,"
        " o.outcome, o.reason FROM probes p"
        " LEFT JOIN outcomes o ON o.probe = p.probe AND o.run = ?"
        " ORDER BY p.segment, p.probe", (last["id"],))
    probes = []
    for row in rows:
        probe = dict(row)
        probe["outcome"] = probe["outcome"] or "not in the run"
        probe["stale"] = probe["last_good_run"] != last["id"]
        probe["age"] = age(probe["last_good_time"], last["time"]) if probe["last_good_time"] else ""
        probes.append(probe)
    return probes


# An event's vendor is its host's (one host a segment, address and MAC).
EVENT_COLUMNS = (
    "SELECT e.time, e.event, e.probe, e.segment, e.name, e.address, e.mac, e.previous,"
    " COALESCE((SELECT h.vendor FROM hosts h WHERE h.segment = e.segment AND h.address = e.address"
    " AND h.mac = e.mac LIMIT 1), '') AS vendor FROM events e ")


def events(db, last, days):
    """The last run's events in the order found, then the earlier ones of
    the last DAYS days, newest run first."""
    latest = db.execute(EVENT_COLUMNS + "WHERE e.run = ? ORDER BY e.id", (last["id"],)).fetchall()
    earlier = db.execute(EVENT_COLUMNS + "WHERE e.run < ? AND e.time >= ? ORDER BY e.run DESC, e.id",
                         (last["id"], time_before(last["time"], days))).fetchall()
    return [dict(row) for row in latest], [dict(row) for row in earlier]


def address_key(address):
    """Sorts dotted addresses by number; anything else after them, as text."""
    parts = address.split(".")
    if len(parts) == 4 and all(part.isdigit() for part in parts):
        return "%03d.%03d.%03d.%03d" % tuple(int(part) for part in parts)
    return "~" + address


def segments_hosts(db, marks):
    """The hosts of the last run's site, a list a segment, in address order."""
    segments = {}
    for row in db.execute("SELECT segment, probe, name, address, mac, vendor, first_seen, last_seen"
                          " FROM hosts WHERE present = 1"):
        host = dict(row)
        host["key"] = address_key(host["address"])
        host["mark"] = marks.get((host["segment"], host["address"], host["mac"]), "")
        segments.setdefault(host["segment"], []).append(host)
    return [(segment, sorted(hosts, key=lambda h: (h["key"], h["mac"], h["name"])))
            for segment, hosts in sorted(segments.items())]


def quiet_hosts(db, last, days):
    rows = db.execute("SELECT segment, probe, name, address, mac, vendor, first_seen, last_seen"
                      " FROM hosts WHERE last_seen < ? ORDER BY segment, last_seen, address",
                      (time_before(last["time"], days),))
    segments = {}
    for row in rows:
        segments.setdefault(row["segment"], []).append(dict(row))
    return sorted(segments.items())


def chart(db):
    """The number of hosts a segment in each kept run, as SVG coordinates:
    x by time, y by count; each segment a line with a dash pattern and a
    label at its end, the labels kept apart."""
    runs = db.execute("SELECT id, time FROM runs WHERE id IN (SELECT DISTINCT run FROM sightings)"
                      " ORDER BY id").fetchall()
    counts = db.execute("SELECT segment, run, COUNT(DISTINCT address || ' ' || mac) FROM sightings"
                        " GROUP BY segment, run ORDER BY segment, run").fetchall()
    if not runs:
        return None
    c = dict(CHART)
    right, bottom = c["width"] - c["right"], c["height"] - c["bottom"]
    first, final = parse_time(runs[0]["time"]), parse_time(runs[-1]["time"])
    span = max((final - first).total_seconds(), 1)
    top = max([row[2] for row in counts] + [1])
    top = nice_ceiling(top)

    def x(time):
        if final == first:
            return (c["left"] + right) / 2
        return c["left"] + (parse_time(time) - first).total_seconds() / span * (right - c["left"])

    def y(count):
        return bottom - count / top * (bottom - c["top"])

    times = {run["id"]: run["time"] for run in runs}
    lines = {}
    for segment, run, count in counts:
        lines.setdefault(segment, []).append((round(x(times[run]), 1), round(y(count), 1), count, times[run]))
    series = []
    for index, (segment, points) in enumerate(sorted(lines.items())):
        series.append({"segment": segment, "dash": DASHES[index % len(DASHES)],
                       "shape": index % 3, "points": points,
                       "label_y": points[-1][1], "last": points[-1][2]})
    spread_labels(series, c["top"] + 4, bottom)
    ticks = [{"y": round(y(value), 1), "value": value} for value in range(0, top + 1, max(top // 4, 1))]
    dates = date_ticks(runs, x)
    return {"size": c, "right": right, "bottom": bottom, "series": series, "ticks": ticks,
            "dates": dates, "many": len(runs) > 60, "hours": span < 3 * 86400}


def nice_ceiling(value):
    """The next of 4, 8, 12, 16, 20, 40, 80, ... at or above VALUE, so the
    y axis has four even steps."""
    step = 1
    while True:
        for factor in (4, 8, 12, 16, 20):
            if factor * step >= value:
                return factor * step
        step *= 10


def date_ticks(runs, x):
    """At most six dates under the x axis, the first and the last run among them."""
    chosen = [runs[0]]
    if len(runs) > 1:
        every = max(len(runs) // 5, 1)
        chosen = runs[:-1:every][:5] + [runs[-1]]
    ticks, last_x = [], None
    for run in chosen:
        position = round(x(run["time"]), 1)
        if last_x is not None and position - last_x < 70:
            continue
        ticks.append({"x": position, "date": run["time"][:10], "time": run["time"][11:16]})
        last_x = position
    return ticks


def spread_labels(series, top, bottom, gap=13):
    """Moves the lines' end labels apart, so each can be read."""
    ordered = sorted(series, key=lambda s: s["label_y"])
    for before, after in zip(ordered, ordered[1:]):
        after["label_y"] = max(after["label_y"], before["label_y"] + gap)
    overflow = ordered[-1]["label_y"] - bottom if ordered else 0
    for s in ordered:
        s["label_y"] = round(max(s["label_y"] - max(overflow, 0), top), 1)


def page_data(db, days, stale_days):
    db.execute("BEGIN")  # one snapshot, also while a run commits
    last = db.execute("SELECT id, time FROM runs ORDER BY id DESC LIMIT 1").fetchone()
    if last is None:
        return {"last": None}
    last = dict(last)
    latest, earlier = events(db, last, days)
    marks = {(e["segment"], e["address"], e["mac"]): e["event"] for e in latest}
    return {"last": last, "runs": db.execute("SELECT COUNT(*) FROM runs").fetchone()[0],
            "probes": probes_state(db, last), "latest": latest, "earlier": earlier,
            "segments": segments_hosts(db, marks), "quiet": quiet_hosts(db, last, stale_days),
            "chart": chart(db), "days": days, "stale_days": stale_days}


def render(data):
    environment = jinja2.Environment(loader=jinja2.FileSystemLoader(TEMPLATES), autoescape=True,
                                     trim_blocks=True, lstrip_blocks=True, undefined=jinja2.StrictUndefined)
    environment.filters["when"] = shown_time
    return environment.get_template(TEMPLATE).render(**data).encode("utf-8")


def write_whole(path, content):
    """Replaces PATH by CONTENT in one step; True when the bytes changed."""
    try:
        with open(path, "rb") as old:
            if old.read() == content:
                return False
    except FileNotFoundError:
        pass
    folder = os.path.dirname(path)
    handle, temporary = tempfile.mkstemp(prefix=".site.html.", dir=folder)
    try:
        with os.fdopen(handle, "wb") as new:
            new.write(content)
            new.flush()
            os.fsync(new.fileno())
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
    return True


def positive(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("at least 1: %s" % text)
    return value


def main(argv):
    parser = argparse.ArgumentParser(description="Writes RESULTS/site.html from RESULTS/site.db.")
    parser.add_argument("--days", type=positive, default=7, help="days of earlier events shown")
    parser.add_argument("--stale-days", type=positive, default=30, help="days unseen before a host is listed")
    parser.add_argument("results")
    options = parser.parse_args(argv)
    try:
        db = open_database(options.results)
        try:
            data = page_data(db, options.days, options.stale_days)
        finally:
            db.close()
        if write_whole(os.path.join(options.results, "site.html"), render(data)):
            print("site.html: written")
    except (OSError, RuntimeError, sqlite3.Error) as error:
        print("site_page.py: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
