#!/usr/bin/env python3
"""What changed on the site since its last run, and the history it is told from.

    site_changes.py [--keep N] [--fail-on-changes] [--dry-run] RESULTS

RESULTS is the site play's results folder: site.csv, probes.csv and one
<probe>.csv a probe. The site is compared with the newest run of
RESULTS/history/ and the events go to RESULTS/changes.csv (replaced whole,
only when its bytes change). A site.csv that differs from that run's is then
kept as a new run of the history, with probes.csv, changes.csv and the probe
files, and only the N newest runs stay. Prints a summary line, then one line
an event, then what was written.

Exit status: 0 done; 2 the folder could not be read or written; 3 done, and
--fail-on-changes was given and there is an event worth an alert (new,
changed mac, flip flop) while no probe failed (a failed probe fails the run
already): a last line names the probes of those events. --dry-run writes
nothing and reports the same.
"""

import argparse
import csv
import datetime
import io
import os
import shutil
import sys

# One way of reading and replacing the site's files, beside this program.
from site_results import read_bytes, replace_file

SITE_HEADER = ["probe", "name", "address", "mac"]
CHANGES_HEADER = ["event", "probe", "name", "address", "mac", "previous"]
EVENT_ORDER = ["new", "gone", "changed mac", "flip flop", "renamed"]
ALERT_EVENTS = {"new", "changed mac", "flip flop"}
# The files are read and written byte for byte: qarvik writes its names in
# code page 932, whose bytes never look like a comma, a quote or a line end,
# so Latin-1 carries them through untouched.
FILE_ENCODING = "latin-1"
# A history run's name: its time in UTC, ISO 8601 basic format, so that names
# sort as the runs were made and hold no colon.
RUN_NAME_FORMAT = "%Y%m%dT%H%M%SZ"


class SiteError(Exception):
    """A results folder that cannot be read or written as it must be."""


def read_csv(path, header):
    """The rows of an RFC 4180 file with the given header, each a dict."""
    try:
        with open(path, newline="", encoding=FILE_ENCODING) as f:
            rows = list(csv.reader(f))
    except OSError as error:
        raise SiteError(f"cannot read {path}: {error.strerror}") from error
    if not rows or rows[0][: len(header)] != header:
        raise SiteError(f"{path} does not start with the header {','.join(header)}")
    return [dict(zip(header, row + [""] * len(header))) for row in rows[1:] if row]


def station(row):
    """Where a host answers: its address on its probe's segment, or in a
    NetBEUI row (no address) its NetBIOS name. The same address on two
    segments is two stations."""
    return (row["probe"], "address", row["address"]) if row["address"] else (row["probe"], "name", row["name"])


def pair(row):
    """A host of the site, whichever probe saw it: its address (or NetBIOS
    name) and its MAC."""
    return (station(row)[1:], row["mac"])


ANY_MAC = None  # in a set of pairs: the address was there, with some MAC or none


def known(rows):
    """The pairs of rows, and each address (or name) with ANY_MAC."""
    pairs = {pair(row) for row in rows}
    return pairs | {(where, ANY_MAC) for where, _ in pairs}


def seen(pairs, row):
    """Whether a run whose known() pairs these are saw the host of the row. A
    row without a MAC (a name resolved, no ARP entry) is seen wherever its
    address is; a row with one, also where its address had no MAC."""
    where, mac = pair(row)
    if not mac:
        return (where, ANY_MAC) in pairs
    return (where, mac) in pairs or (where, "") in pairs


def compare(current, previous, older_pairs, all_pairs, outcomes):
    """The events between the previous run's rows and the current ones.

    older_pairs: the known() pairs of the history runs before the previous
    one (a MAC that comes back to one of them is a flip flop); all_pairs:
    those of every run of the history (a pair none of them saw is new); outcomes: each
    probe's outcome in this run (only a probe whose run succeeded can tell a
    host is gone).
    """
    previous_pairs = {pair(row) for row in previous}
    current_pairs = known(current)
    previous_mac = {station(row): row["mac"] for row in previous if row["mac"]}
    previous_name = {}
    for row in previous:
        previous_name.setdefault(pair(row), row["name"])
    events = []
    moved = set()  # stations whose MAC changed: their old pair is not gone
    for row in current:
        old_mac = previous_mac.get(station(row), "")
        if row["mac"] and old_mac and old_mac != row["mac"]:
            returned = pair(row) in older_pairs
            events.append(("flip flop" if returned else "changed mac", row, old_mac))
            moved.add(station(row))
        elif not seen(all_pairs, row):
            events.append(("new", row, ""))
        elif pair(row) in previous_pairs and previous_name[pair(row)] != row["name"]:
            events.append(("renamed", row, previous_name[pair(row)]))
    for row in previous:
        if outcomes.get(row["probe"]) == "ok" and station(row) not in moved and not seen(current_pairs, row):
            events.append(("gone", row, ""))
    return events


def summary(host_count, events, first_run):
    counts = [f"{sum(1 for e in events if e[0] == kind)} {kind}" for kind in EVENT_ORDER
              if any(e[0] == kind for e in events)]
    if first_run:
        counts = ["first run, nothing to compare with"]
    elif not counts:
        counts = ["no changes"]
    hosts = f"{host_count} host" + ("" if host_count == 1 else "s")
    return ", ".join([f"site: {hosts}"] + counts)


def readable(text):
    """A field as it reads: UTF-8 where its bytes are that, else code page 932."""
    data = text.encode(FILE_ENCODING)
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("cp932", errors="replace")


def event_line(kind, row, previous):
    where = row["address"] or "-"
    line = f"{kind}: {readable(row['name'])} {where} {row['mac'] or '(no MAC)'} ({readable(row['probe'])})"
    return line + (f", was {readable(previous)}" if previous else "")


def changes_bytes(events):
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\r\n")
    writer.writerow(CHANGES_HEADER)
    for kind, row, previous in events:
        writer.writerow([kind, row["probe"], row["name"], row["address"], row["mac"], previous])
    return out.getvalue().encode(FILE_ENCODING)


def history_runs(history):
    """The names of the history's runs, oldest first; anything else there
    (a run left half copied, a file of the admin's) is not a run."""
    try:
        names = os.listdir(history)
    except FileNotFoundError:
        return []
    runs = []
    for name in names:
        try:
            datetime.datetime.strptime(name, RUN_NAME_FORMAT)
        except ValueError:
            continue
        if os.path.isfile(os.path.join(history, name, "site.csv")):
            runs.append(name)
    return sorted(runs)


def next_run_name(runs, now):
    """This run's name: its time, or a second after the newest run where that
    is not later (two runs in one second, a clock set back), so that the
    newest run is always the last name."""
    when = now.astimezone(datetime.timezone.utc).replace(microsecond=0, tzinfo=None)
    if runs:
        newest = datetime.datetime.strptime(runs[-1], RUN_NAME_FORMAT)
        when = max(when, newest + datetime.timedelta(seconds=1))
    return when.strftime(RUN_NAME_FORMAT)


def keep_run(results, history, name, probes):
    """Copies this run's files into history/NAME: first into a hidden folder,
    which takes its name only when complete."""
    folder = os.path.join(history, name)
    partial = os.path.join(history, "." + name + ".new")
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    files = ["site.csv", "probes.csv", "changes.csv"] + [p + ".csv" for p in probes]
    for file in dict.fromkeys(files):
        source = os.path.join(results, file)
        # A probe's name is an inventory name: one that is no plain file
        # name of the folder names no file of it.
        if os.path.basename(file) == file and not file.startswith(".") and os.path.isfile(source):
            shutil.copy2(source, partial)
    os.rename(partial, folder)


def run(results, keep, dry_run, now):
    """Compares, writes and prunes; returns (output lines, events, outcomes)."""
    site_path = os.path.join(results, "site.csv")
    if dry_run and not os.path.exists(site_path):
        # A check run before any real one: the play wrote no site.csv.
        return ["site: no site.csv yet, nothing to compare"], [], {}
    current = read_csv(site_path, SITE_HEADER)
    probe_rows = read_csv(os.path.join(results, "probes.csv"), ["probe", "outcome"])
    outcomes = {row["probe"]: row["outcome"] for row in probe_rows}
    history = os.path.join(results, "history")
    runs = history_runs(history)
    site_runs = [read_csv(os.path.join(history, r, "site.csv"), SITE_HEADER) for r in runs]
    events = []
    if site_runs:
        older_pairs = known(row for rows in site_runs[:-1] for row in rows)
        all_pairs = older_pairs | known(site_runs[-1])
        events = compare(current, site_runs[-1], older_pairs, all_pairs, outcomes)
    lines = [summary(len(current), events, not site_runs)]
    lines += [event_line(*event) for event in events]
    changed_site = not runs or read_bytes(os.path.join(history, runs[-1], "site.csv")) != read_bytes(site_path)
    changes_path = os.path.join(results, "changes.csv")
    if dry_run:
        if read_bytes(changes_path) != changes_bytes(events):
            lines.append("changes.csv: would be replaced")
        if changed_site:
            lines.append("history: would keep this run")
        return lines, events, outcomes
    try:
        if replace_file(changes_path, changes_bytes(events)):
            lines.append("changes.csv: replaced")
        if changed_site:
            name = next_run_name(runs, now)
            keep_run(results, history, name, outcomes)
            runs.append(name)
            lines.append(f"history: kept this run as {name}")
        for old in runs[:-keep]:
            shutil.rmtree(os.path.join(history, old))
            lines.append(f"history: removed {old}")
    except OSError as error:
        raise SiteError(f"cannot write in {results}: {error}") from error
    return lines, events, outcomes


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("results")
    parser.add_argument("--keep", type=int, default=90, help="history runs kept (at least 1)")
    parser.add_argument("--fail-on-changes", action="store_true")
    parser.add_argument("--dry-run", action="store_true")
    options = parser.parse_args(argv)
    if options.keep < 1:
        parser.error("--keep must be at least 1: the newest run is what the next one compares with")
    try:
        lines, events, outcomes = run(options.results, options.keep, options.dry_run,
                                      datetime.datetime.now(datetime.timezone.utc))
    except SiteError as error:
        print(f"site_changes: {error}", file=sys.stderr)
        return 2
    alerted = list(dict.fromkeys(row["probe"] for kind, row, _ in events if kind in ALERT_EVENTS))
    failing = options.fail_on_changes and alerted and "failed" not in outcomes.values()
    if failing:
        lines.append("changes to fail on: " + ", ".join(readable(probe) for probe in alerted))
    print("\n".join(lines))
    return 3 if failing else 0


if __name__ == "__main__":
    # Ansible reads the output as UTF-8, whatever the locale says.
    sys.stdout.reconfigure(encoding="utf-8", errors="replace")
    sys.exit(main(sys.argv[1:]))
