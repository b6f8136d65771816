#!/usr/bin/env python3
"""One run of the site into its results folder, on the controller.

    site_results.py [--keep N] [--encoding E] [--wait S] [--fail-on-changes] RESULTS < PROBES_JSON

Reads {"probes": [...]} from standard input, one entry a probe of the
inventory in inventory order: {"name", "segment", "mode", "outcome" ("ok",
"failed", "unreachable", "not run" or "skipped"), "reason", "response" (the
response file in base64, for "ok")}. In one transaction of RESULTS/site.db
(waiting up to S seconds for another run's) it adds the run: each probe's
outcome and last good file, the site's rows, the hosts and the events
against the runs kept, of which the N newest stay. A database made now first
takes in the files of the plays before it (history/, <probe>.csv). Then the
exports: site.csv, hosts.csv, changes.csv, probes.csv and
probes/<probe>.csv, in the character set E (utf-8, utf-8-sig, cp932), each
whole and only when its bytes change. A run in which no probe succeeded adds
no run and writes probes.csv alone.

Prints a summary line, one line an event, then what it wrote. Exit status:
0 done; 1 the input is refused (nothing written); 2 the folder or the
database could not be read or written (both as they were); 3 done, and
--fail-on-changes was given and there is an event worth an alert while no
probe failed: a last line names the probes of those events.
"""

import argparse
import base64
import datetime
import fcntl
import json
import os
import re
import signal
import socket
import sqlite3
import sys
import time

import site_changes
import site_db
import site_exports
import site_store
import site_upgrade
import site_vendors
from site_changes import Row

OUTCOMES = {"ok": "ok", "failed": "failed", "unreachable": "unreachable", "not run": "skipped", "skipped": "skipped"}
DOTTED_QUAD = re.compile(rb"^[0-9]{1,3}(\.[0-9]{1,3}){3}$")
WRITER_NOTE = "site.db.writer"


def response_rows(data):
    """(name, address, mac) of each row of a qarvik response file, text.

    The MAC is the last field; in an IP row the field before it is a dotted
    address, and the name is whatever comes before (a name may hold commas).
    A NetBEUI row has no address: the name is all before the MAC. qarvik
    writes its names in code page 932.
    """
    rows = []
    for line in data.split(b"\n"):
        line = line[:-1] if line.endswith(b"\r") else line
        if not line:
            continue
        before_mac, _, mac = line.rpartition(b",")
        name, comma, address = before_mac.rpartition(b",")
        if not comma or not DOTTED_QUAD.match(address):
            name, address = before_mac, b""
        rows.append((name.decode("cp932", errors="replace"), address.decode("ascii"),
                     mac.decode("ascii", errors="replace")))
    return rows


def site_rows(files):
    """The site's rows from [(probe, segment, response file)] in order: a row
    whose host (segment, address, MAC) an earlier row has is that host seen
    again, by another probe of the segment or under another name: the first
    row stays."""
    seen = set()
    rows = []
    for probe, segment, data in files:
        for name, address, mac in response_rows(data):
            row = Row(probe, segment, name, address, mac)
            if site_changes.pair(row) not in seen:
                seen.add(site_changes.pair(row))
                rows.append(row)
    return rows


def read_probes(stream):
    """The probes of the input, checked whole before anything is written; a
    ValueError names what is wrong."""
    try:
        entries = json.load(stream)["probes"]
    except (ValueError, KeyError, TypeError) as error:
        raise ValueError("the input is not {\"probes\": [...]}: %s" % error) from error
    probes = []
    for entry in entries:
        name = entry.get("name") if isinstance(entry, dict) else None
        if not isinstance(name, str) or not name:
            raise ValueError("a probe without its inventory name: %r" % (entry,))
        outcome = OUTCOMES.get(entry.get("outcome"))
        if outcome is None:
            raise ValueError("probe %r: outcome %r" % (name, entry.get("outcome")))
        response = None
        if outcome == "ok":
            try:
                response = base64.b64decode(entry["response"], validate=True)
            except (KeyError, TypeError, ValueError) as error:
                raise ValueError("probe %r succeeded without its response file" % name) from error
        probes.append({"name": name, "segment": str(entry.get("segment") or name),
                       "mode": str(entry.get("mode") or "ip").lower(), "outcome": outcome,
                       "reason": "" if outcome == "ok" else str(entry.get("reason") or ""), "response": response})
    return probes


def lock_folder(results, wait):
    """The results folder's lock, held from a run's transaction until its
    files have their names, so that a later run neither starts before nor
    writes its files under this one's; waits up to `wait` seconds for a run
    that has it. Returns the descriptor that holds it."""
    folder = os.open(results, os.O_RDONLY)
    deadline = time.monotonic() + wait
    while True:
        try:
            fcntl.flock(folder, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return folder
        except BlockingIOError:
            if time.monotonic() >= deadline:
                os.close(folder)
                raise site_db.StoreError(busy_message(results, wait)) from None
            time.sleep(0.1)


def busy_message(results, wait):
    return "%s is in use by %s; waited %g s for it" % (site_db.database_path(results), other_writer(results), wait)


def begin(connection, results, wait):
    """Takes the database's write lock (an sqlite3 shell may hold it too),
    waiting up to `wait` seconds; then notes who has it, for a run that
    waits too long."""
    try:
        connection.execute("BEGIN IMMEDIATE")
    except sqlite3.OperationalError as error:
        if "locked" not in str(error) and "busy" not in str(error):
            raise
        raise site_db.StoreError(busy_message(results, wait)) from error
    note = os.path.join(results, WRITER_NOTE)
    try:
        with open(note, "w", encoding="utf-8") as file:
            file.write("%d %s %s\n" % (os.getpid(), socket.gethostname(),
                                       site_db.utc_text(datetime.datetime.now(datetime.timezone.utc))))
    except OSError:
        pass


def other_writer(results):
    """The run of the play that holds the lock, as its note says."""
    try:
        with open(os.path.join(results, WRITER_NOTE), encoding="utf-8") as file:
            pid, host, since = file.read().split()
        if host == socket.gethostname():
            os.kill(int(pid), 0)
    except PermissionError:
        pass  # a run of another user's
    except (OSError, ValueError):
        return "another program (an sqlite3 shell with a transaction open?)"
    return "another run of the play (pid %s on %s, writing since %s)" % (pid, host, since)


def end_writer_note(results):
    try:
        os.unlink(os.path.join(results, WRITER_NOTE))
    except OSError:
        pass


class Run:
    """What a run found, for its exports and its output."""

    def __init__(self, probes):
        self.probes = probes
        self.time = None  # when it commits: once it has the lock
        self.rows = []
        self.events = []
        self.first = False
        self.lines = []


def record(connection, results, run, keep):
    """Adds the run to the database; its rows and events go to `run`."""
    segments = {p["name"]: p["segment"] for p in run.probes}
    if site_db.ensure_schema(connection, site_db.database_path(results)):
        imported = site_upgrade.import_old_layout(connection, results, segments, site_rows, site_vendors.vendor_of)
        if imported:
            run.lines.append("site.db: took in %d runs of history/ and the probes' files" % imported)
    stored = site_store.stored_probes(connection)
    files = []
    for probe in run.probes:
        data = probe["response"] if probe["response"] is not None else stored.get(probe["name"], (None,))[0]
        if data is not None:
            files.append((probe["name"], probe["segment"], data))
    run.rows = site_rows(files)
    runs = site_store.run_ids(connection)
    run.first = not runs
    if runs:
        previous = site_store.run_rows(connection, runs[-1])
        older = site_store.pairs_before(connection, runs[-1])
        every = site_store.pairs_before(connection, runs[-1] + 1)
        run.events = site_changes.compare(run.rows, previous, older, every,
                                          {p["name"]: p["outcome"] for p in run.probes})
    number = site_store.add_run(connection, run.time, run.probes, run.rows, run.events)
    seen_by = {p["name"] for p in run.probes if p["outcome"] == "ok"}
    site_store.update_hosts(connection, number, run.time, run.rows, seen_by, site_vendors.vendor_of)
    run.lines.append("site.db: run %d at %s" % (number, run.time))
    removed = site_store.prune(connection, keep)
    if removed:
        run.lines.append("site.db: removed %d runs beyond the %d kept" % (removed, keep))


def stage_exports(connection, staging, run, encoding):
    vendor = site_vendors.vendor_of
    staging.stage_csv("site.csv", site_exports.SITE_HEADER,
                      [[r.probe, r.name, r.address, r.mac, vendor(r.mac)] for r in run.rows], encoding)
    hosts = connection.execute(
        "SELECT probe, segment, name, address, mac, vendor, first_seen, last_seen, present FROM hosts").fetchall()
    hosts.sort(key=lambda h: (h[1], address_key(h[3]), h[2], h[4]))
    staging.stage_csv("hosts.csv", site_exports.HOSTS_HEADER, hosts, encoding)
    staging.stage_csv("changes.csv", site_exports.CHANGES_HEADER,
                      [[kind, r.probe, r.name, r.address, r.mac, previous, run.time]
                       for kind, r, previous in run.events], encoding)
    for probe, response in connection.execute("SELECT probe, response FROM probes WHERE response IS NOT NULL"):
        staging.stage(os.path.join("probes", site_exports.probe_file_name(probe)), response)


def address_key(address):
    parts = address.split(".")
    return [int(p) for p in parts] if len(parts) == 4 and all(p.isdigit() for p in parts) else [256]


def stage_probes_csv(connection, staging, results, probes, encoding):
    """probes.csv: each probe's outcome in this run, the time of its kept
    file (the earlier probes.csv's for a probe the database has not), and
    why it failed."""
    stored = site_store.stored_probes(connection) if site_db_ready(connection) else {}
    earlier = {r["probe"]: r["last_good"] for r in
               site_upgrade.old_csv(os.path.join(results, "probes.csv"), site_exports.PROBES_HEADER)}
    rows = []
    for probe in probes:
        good_time = stored.get(probe["name"], (None, None))[1]
        last_good = site_store.local_time(good_time) if good_time else earlier.get(probe["name"], "")
        rows.append([probe["name"], "not run" if probe["outcome"] == "skipped" else probe["outcome"],
                     last_good, probe["reason"]])
    staging.stage_csv("probes.csv", site_exports.PROBES_HEADER, rows, encoding)


def site_db_ready(connection):
    return connection.execute("PRAGMA user_version").fetchone()[0] == site_db.SCHEMA_VERSION


def store_run(results, run, keep, encoding, wait):
    """The run's transaction and exports; a StoreError leaves the database
    and the folder as they were."""
    try:
        os.makedirs(results, exist_ok=True)
    except OSError as error:
        raise site_db.StoreError("cannot make the results folder %s: %s" % (results, error.strerror)) from error
    folder_lock = lock_folder(results, wait)
    try:
        return transaction(results, run, keep, encoding, wait)
    finally:
        os.close(folder_lock)


def transaction(results, run, keep, encoding, wait):
    path = site_db.database_path(results)
    existed = os.path.exists(path)
    connection = site_db.connect(path, wait)
    staging = site_exports.Staging(results)
    committed = holding = False
    try:
        begin(connection, results, wait)
        holding = True
        run.time = site_db.utc_text(datetime.datetime.now(datetime.timezone.utc))
        recording = any(p["outcome"] == "ok" for p in run.probes)
        if recording:
            record(connection, results, run, keep)
            stage_exports(connection, staging, run, encoding)
        stage_probes_csv(connection, staging, results, run.probes, encoding)
        connection.execute("COMMIT" if recording else "ROLLBACK")
        committed = recording
    except BaseException as error:
        # An error, or the play interrupted: nothing of the run stays.
        if connection.in_transaction:
            connection.execute("ROLLBACK")
        staging.discard()
        if isinstance(error, (OSError, sqlite3.Error)):
            raise site_db.StoreError("cannot write in the results folder %s: %s; site.db and its files are as"
                                     " they were" % (results, getattr(error, "strerror", None) or error)) from error
        raise
    finally:
        connection.close()
        if holding:
            end_writer_note(results)
        if not existed and not committed:
            for leftover in (path, path + "-journal"):
                if os.path.exists(leftover):
                    os.unlink(leftover)
    try:
        staging.publish()
    except OSError as error:
        staging.discard()
        raise site_db.StoreError("site.db has the run, but the results folder %s did not take its files (%s):"
                                 " the next run writes them" % (results, error.strerror)) from error
    return staging


def output_lines(run, staging):
    if not any(p["outcome"] == "ok" for p in run.probes):
        lines = ["site: no probe succeeded, no run added; the site's files are as they were"]
    else:
        lines = [site_changes.summary(len(run.rows), run.events, run.first)]
        lines += [site_changes.event_line(*event) for event in run.events]
    lines += run.lines
    lines += ["%s: replaced" % name for name in staging.published]
    if staging.lost:
        lines.append("warning: %d characters code page 932 lacks are written as ? (%s)"
                     % (sum(staging.lost.values()), ", ".join(sorted(staging.lost))))
    if run.rows and any(r.mac for r in run.rows) and not site_vendors.available():
        lines.append(site_vendors.MISSING % site_vendors.IEEE_DATA)
    return lines


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("results")
    parser.add_argument("--keep", type=int, default=90, help="runs kept in site.db (at least 1)")
    parser.add_argument("--encoding", default="utf-8", choices=site_exports.ENCODINGS)
    parser.add_argument("--wait", type=float, default=300, help="seconds to wait for another run")
    parser.add_argument("--fail-on-changes", action="store_true")
    options = parser.parse_args(argv)
    if options.keep < 1:
        parser.error("--keep must be at least 1: the newest run is what the next one compares with")
    try:
        probes = read_probes(sys.stdin)
    except ValueError as error:
        print("site_results: %s; nothing written" % error, file=sys.stderr)
        return 1
    run = Run(probes)
    try:
        staging = store_run(options.results, run, options.keep, options.encoding, max(options.wait, 0))
    except site_db.StoreError as error:
        print("site_results: %s" % error, file=sys.stderr)
        return 2
    lines = output_lines(run, staging)
    alerted = site_changes.alerted_probes(run.events)
    failing = options.fail_on_changes and alerted and all(p["outcome"] in ("ok", "skipped") for p in probes)
    if failing:
        lines.append("changes to fail on: " + ", ".join(alerted))
    print("\n".join(lines))
    return 3 if failing else 0


if __name__ == "__main__":
    # Ansible reads the output as UTF-8, whatever the locale says.
    sys.stdout.reconfigure(encoding="utf-8", errors="replace")
    # A play stopped (its TERM) ends the run as an error does, with nothing left.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    sys.exit(main(sys.argv[1:]))
