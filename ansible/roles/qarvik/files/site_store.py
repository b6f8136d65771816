"""A run of the site in site.db: what it adds to the tables, read back for
the next run and pruned to the runs kept. Every function works inside the
caller's transaction."""

import datetime

from site_changes import Row, known, pair


def run_ids(connection):
    return [run for (run,) in connection.execute("SELECT id FROM runs ORDER BY id")]


def run_rows(connection, run):
    """The site's rows as of a run, in their order."""
    return [Row(*r) for r in connection.execute(
        "SELECT probe, segment, name, address, mac FROM sightings WHERE run = ? ORDER BY rowid", (run,))]


def pairs_before(connection, run):
    """known() of every host of the kept runs before this one: the hosts
    table has each once, where the runs' rows have it once a run."""
    return known(Row("", *r) for r in connection.execute(
        "SELECT segment, name, address, mac FROM hosts WHERE first_run < ?", (run,)))


def stored_probes(connection):
    """{probe: (response bytes or None, last_good_time or None)}."""
    return {probe: (response, time) for probe, response, time in connection.execute(
        "SELECT probe, response, last_good_time FROM probes")}


def add_run(connection, time, probes, rows, events):
    """Adds a run: its time, each probe's outcome (and the response file of
    each that succeeded), the site's rows and the events; returns its id.
    probes: dicts with name, segment, mode, outcome, reason, response."""
    run = connection.execute("INSERT INTO runs (time) VALUES (?)", (time,)).lastrowid
    for probe in probes:
        connection.execute("INSERT INTO outcomes (run, probe, outcome, reason) VALUES (?, ?, ?, ?)",
                           (run, probe["name"], probe["outcome"], probe["reason"]))
        connection.execute(
            "INSERT INTO probes (probe, segment, mode) VALUES (?, ?, ?)"
            " ON CONFLICT (probe) DO UPDATE SET segment = excluded.segment, mode = excluded.mode",
            (probe["name"], probe["segment"], probe["mode"]))
        if probe["response"] is not None:
            connection.execute(
                "UPDATE probes SET last_good_run = ?, last_good_time = ?, response = ? WHERE probe = ?",
                (run, probe.get("good_time") or time, probe["response"], probe["name"]))
    connection.executemany(
        "INSERT INTO sightings (run, probe, segment, name, address, mac) VALUES (?, ?, ?, ?, ?, ?)",
        [(run,) + tuple(row) for row in rows])
    connection.executemany(
        "INSERT INTO events (run, time, event, probe, segment, name, address, mac, previous)"
        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
        [(run, time, kind, row.probe, row.segment, row.name, row.address, row.mac, previous)
         for kind, row, previous in events])
    return run


def update_hosts(connection, run, time, rows, seen_by, vendor_of):
    """Every host of the site's rows is present, with its latest name and
    probe; last_seen moves to this run's time for the rows of the probes in
    seen_by (a failed probe's rows are from an earlier run, so its hosts
    were not seen now); every other host is no longer present."""
    hosts = {pair(Row("", *r[1:])): r[0] for r in connection.execute(
        "SELECT id, segment, name, address, mac FROM hosts")}
    good_times = {probe: time for probe, (_, time) in stored_probes(connection).items()}
    present = set()
    for row in rows:
        seen = time if row.probe in seen_by else good_times.get(row.probe) or time
        host = hosts.get(pair(row))
        if host is None:
            host = connection.execute(
                "INSERT INTO hosts (segment, probe, name, address, mac, vendor, first_seen, last_seen, present,"
                " first_run, last_run) VALUES (?, ?, ?, ?, ?, ?, ?, ?, 1, ?, ?)",
                (row.segment, row.probe, row.name, row.address, row.mac, vendor_of(row.mac), seen, seen,
                 run, run)).lastrowid
            hosts[pair(row)] = host
        else:
            connection.execute(
                "UPDATE hosts SET probe = ?, name = ?, vendor = ?, present = 1, last_seen = max(last_seen, ?),"
                " last_run = ? WHERE id = ?", (row.probe, row.name, vendor_of(row.mac), seen, run, host))
        present.add(host)
    connection.execute("CREATE TEMP TABLE IF NOT EXISTS present_hosts (id INTEGER PRIMARY KEY)")
    connection.execute("DELETE FROM present_hosts")
    connection.executemany("INSERT INTO present_hosts (id) VALUES (?)", [(h,) for h in present])
    connection.execute("UPDATE hosts SET present = 0 WHERE id NOT IN (SELECT id FROM present_hosts)")


def prune(connection, keep):
    """Keeps the newest `keep` runs (and the run of each probe's kept file);
    a host no kept run saw goes too. Returns how many runs went."""
    runs = run_ids(connection)
    referenced = {r for (r,) in connection.execute("SELECT last_good_run FROM probes WHERE last_good_run IS NOT NULL")}
    old = [run for run in runs[:-keep] if run not in referenced]
    for table, column in (("events", "run"), ("outcomes", "run"), ("sightings", "run"), ("runs", "id")):
        connection.executemany("DELETE FROM %s WHERE %s = ?" % (table, column), [(run,) for run in old])
    if old:
        connection.execute("DELETE FROM hosts WHERE last_run < (SELECT min(id) FROM runs)")
    return len(old)


def local_time(text):
    """A time of the database (UTC, Z) as probes.csv has always said it: the
    controller's local time with its offset."""
    if not text:
        return ""
    moment = datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%SZ").replace(tzinfo=datetime.timezone.utc)
    return moment.astimezone().isoformat(timespec="seconds")
