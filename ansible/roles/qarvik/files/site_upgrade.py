"""The results folder of the plays before site.db, read into a new site.db:
each run of history/ (its site, outcomes and events, at the time its name
says), then each probe's last good file, <probe>.csv. So the first run with
the database compares with the last run of history/, as the play did, and
keeps every first-seen date. The old files are left where they are."""

import csv
import datetime
import io
import os

import site_store
from site_changes import Row, pair
from site_db import utc_text
from site_exports import read_bytes

RUN_NAME_FORMAT = "%Y%m%dT%H%M%SZ"
OLD_SITE_HEADER = ["probe", "name", "address", "mac"]
OLD_OUTCOMES = {"ok": "ok", "failed": "failed", "not run": "skipped"}


def old_text(data):
    """A field of the old files, which held bytes as they came: inventory
    names in UTF-8, qarvik's names in code page 932."""
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("cp932", errors="replace")


def old_csv(path, header):
    """The rows of an old file as dicts of text; [] when it is not there."""
    data = read_bytes(path)
    if data is None:
        return []
    rows = list(csv.reader(io.StringIO(data.decode("latin-1"), newline="")))
    if not rows or rows[0][:len(header)] != header:
        return []
    return [{key: old_text(value.encode("latin-1")) for key, value in zip(header, row + [""] * len(header))}
            for row in rows[1:] if row]


def plain_file(folder, probe):
    """The old <probe>.csv of a probe whose name could name one, else None."""
    if not probe or "/" in probe or probe.startswith("."):
        return None
    return os.path.join(folder, probe + ".csv")


def history_runs(history):
    try:
        names = os.listdir(history)
    except OSError:
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


def old_run(folder, segments, response_rows, newest_files):
    """(outcomes, rows) of an old run's folder. Each probe's rows come from
    its file of the run, which has every row of its segment (site.csv merged
    one address and MAC across segments); where the run kept no file of the
    probe (the plays before kept none for a name beyond ASCII), from the
    newest files, for the newest run (newest_files, else None), or else from
    its rows of the run's site.csv."""
    outcomes = [(row["probe"], OLD_OUTCOMES.get(row["outcome"], "failed"), row.get("reason", ""))
                for row in old_csv(os.path.join(folder, "probes.csv"), ["probe", "outcome", "last_good", "reason"])]
    site = old_csv(os.path.join(folder, "site.csv"), OLD_SITE_HEADER)
    rows = []
    for probe, _, _ in outcomes:
        segment = segments.get(probe, probe)
        files = [plain_file(where, probe) for where in (folder, newest_files) if where]
        data = next((d for d in (read_bytes(f) for f in files if f) if d is not None), None)
        if data is not None:
            rows += response_rows([(probe, segment, data)])
        else:
            rows += [Row(probe, segment, r["name"], r["address"], r["mac"]) for r in site if r["probe"] == probe]
    # Two probes of one segment: the first probe's row of a host stays.
    seen = set()
    kept = []
    for row in rows:
        if pair(row) not in seen:
            seen.add(pair(row))
            kept.append(row)
    return outcomes, kept


def old_events(folder, segments):
    return [(r["event"], Row(r["probe"], segments.get(r["probe"], r["probe"]), r["name"], r["address"], r["mac"]),
             r["previous"])
            for r in old_csv(os.path.join(folder, "changes.csv"), ["event", "probe", "name", "address", "mac", "previous"])]


def import_old_layout(connection, results, segments, response_rows, vendor_of):
    """Reads the old layout into the (new, empty) database; returns how many
    runs it imported. segments: {probe: segment} of this run's inventory;
    response_rows: the site's rows of [(probe, segment, response bytes)]."""
    history = os.path.join(results, "history")
    folders = [(os.path.join(history, name),
                utc_text(datetime.datetime.strptime(name, RUN_NAME_FORMAT).replace(tzinfo=datetime.timezone.utc)))
               for name in history_runs(history)]
    if not folders and os.path.isfile(os.path.join(results, "site.csv")):
        # A folder of the plays before history/: its site is one run.
        stamp = datetime.datetime.fromtimestamp(os.stat(os.path.join(results, "site.csv")).st_mtime)
        folders = [(results, utc_text(stamp.astimezone()))]
    for number, (folder, time) in enumerate(folders, 1):
        outcomes, rows = old_run(folder, segments, response_rows, results if number == len(folders) else None)
        probes = [{"name": name, "segment": segments.get(name, name), "mode": "ip", "outcome": outcome,
                   "reason": reason, "response": None} for name, outcome, reason in outcomes]
        run = site_store.add_run(connection, time, probes, rows, old_events(folder, segments))
        seen_by = {name for name, outcome, _ in outcomes if outcome == "ok"}
        site_store.update_hosts(connection, run, time, rows, seen_by, vendor_of)
    if folders:
        import_probe_files(connection, results, segments)
    return len(folders)


def import_probe_files(connection, results, segments):
    """Each probe's last good file, <probe>.csv, with the time probes.csv
    gives it, as the file of the newest imported run."""
    newest, newest_time = connection.execute("SELECT id, time FROM runs ORDER BY id DESC LIMIT 1").fetchone()
    for row in old_csv(os.path.join(results, "probes.csv"), ["probe", "outcome", "last_good", "reason"]):
        path = plain_file(results, row["probe"])
        data = read_bytes(path) if path else None
        if data is None:
            continue
        try:
            good_time = utc_text(datetime.datetime.fromisoformat(row["last_good"]))
        except ValueError:
            good_time = newest_time
        connection.execute(
            "INSERT INTO probes (probe, segment, mode, last_good_run, last_good_time, response)"
            " VALUES (?, ?, 'ip', ?, ?, ?) ON CONFLICT (probe) DO UPDATE SET last_good_run = excluded.last_good_run,"
            " last_good_time = excluded.last_good_time, response = excluded.response",
            (row["probe"], segments.get(row["probe"], row["probe"]), newest, good_time, data))
