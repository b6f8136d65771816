#!/usr/bin/env python3
"""The site's files on the controller after a run of the play.

Reads from standard input a JSON object {"probes": [...]}, one entry a probe
of the inventory in inventory order: {"name", "outcome" ("ok", "failed" or
"not run"), "reason", "response" (the response file in base64, for "ok")}.
In the results folder given as the argument it then
  - replaces <probe>.csv of every probe whose inventory succeeded (the file of
    a probe that failed or did not run stays as it was),
  - rebuilds site.csv from every probe's file, this run's or an earlier one's,
  - writes probes.csv: each probe's outcome, the time of the run whose file is
    kept, and the reason of a failure.
A file is replaced whole (a temporary file beside it, then a rename), and
<probe>.csv and site.csv only when their bytes change. Prints a JSON object
naming the files it replaced.
"""

import base64
import csv
import datetime
import io
import json
import os
import re
import sys
import tempfile

SITE_HEADER = (b"probe", b"name", b"address", b"mac")
PROBES_HEADER = ("probe", "outcome", "last_good", "reason")
OUTCOMES = ("ok", "failed", "not run")
DOTTED_QUAD = re.compile(rb"^[0-9]{1,3}(\.[0-9]{1,3}){3}$")


def csv_field(value):
    """One field of an RFC 4180 line, in bytes: quoted when it must be."""
    if any(c in value for c in (b",", b'"', b"\r", b"\n")):
        return b'"' + value.replace(b'"', b'""') + b'"'
    return value


def csv_line(fields):
    return b",".join(csv_field(field) for field in fields) + b"\r\n"


def response_rows(data):
    """(name, address, mac) of each row of a qarvik response file.

    The MAC is the last field; in an IP row the field before it is a dotted
    address, and the name is whatever comes before (a name may hold commas).
    A NetBEUI row has no address: the name is all before the MAC.
    """
    rows = []
    for line in data.split(b"\n"):
        if line.endswith(b"\r"):
            line = line[:-1]
        if not line:
            continue
        before_mac, _, mac = line.rpartition(b",")
        name, comma, address = before_mac.rpartition(b",")
        if not comma or not DOTTED_QUAD.match(address):
            name, address = before_mac, b""
        rows.append((name, address, mac))
    return rows


def site_rows(files):
    """The rows of site.csv from (probe, response file bytes) in order.

    A row whose address and MAC an earlier row has already is the same host,
    seen by another probe or under another name: the first row stays.
    """
    seen = set()
    rows = []
    for probe, data in files:
        for name, address, mac in response_rows(data):
            if (address, mac) in seen:
                continue
            seen.add((address, mac))
            rows.append((probe, name, address, mac))
    return rows


def site_csv(files):
    lines = [csv_line(SITE_HEADER)]
    for probe, name, address, mac in site_rows(files):
        lines.append(csv_line((probe.encode("utf-8"), name, address, mac)))
    return b"".join(lines)


def probes_csv(rows):
    text = io.StringIO()
    writer = csv.writer(text, lineterminator="\r\n")
    writer.writerow(PROBES_HEADER)
    writer.writerows(rows)
    return text.getvalue().encode("utf-8")


def read_bytes(path):
    try:
        with open(path, "rb") as file:
            return file.read()
    except FileNotFoundError:
        return None


def replace_file(path, data, only_when_changed=True):
    """Writes data as path in one step; False when the bytes were there."""
    if only_when_changed and read_bytes(path) == data:
        return False
    folder, base = os.path.split(path)
    fd, temporary = tempfile.mkstemp(dir=folder, prefix="." + base + ".")
    try:
        umask = os.umask(0)
        os.umask(umask)
        os.fchmod(fd, 0o666 & ~umask)
        with os.fdopen(fd, "wb") as file:
            file.write(data)
            file.flush()
            os.fsync(file.fileno())
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
    return True


def earlier_last_good(results):
    """Each probe's last_good as the earlier probes.csv has it."""
    data = read_bytes(os.path.join(results, "probes.csv"))
    if data is None:
        return {}
    rows = csv.DictReader(io.StringIO(data.decode("utf-8", "replace"), newline=""))
    return {row["probe"]: row.get("last_good") or "" for row in rows if row.get("probe")}


def file_time(path):
    stamp = datetime.datetime.fromtimestamp(os.stat(path).st_mtime).astimezone()
    return stamp.isoformat(timespec="seconds")


def probe_file(results, name):
    if not isinstance(name, str) or not name or "/" in name or name in (".", "..") or name.startswith("."):
        raise ValueError("a probe's inventory name cannot name a file: %r" % name)
    return os.path.join(results, name + ".csv")


def response_of(results, probe):
    """The probe's response file of this run (None when it has none); a
    ValueError for a probe the helper cannot take, before anything is written."""
    probe_file(results, probe.get("name"))
    if probe.get("outcome") not in OUTCOMES:
        raise ValueError("probe %r: outcome %r" % (probe.get("name"), probe.get("outcome")))
    if probe["outcome"] != "ok":
        return None
    if not isinstance(probe.get("response"), str):
        raise ValueError("probe %r succeeded without its response file" % probe["name"])
    return base64.b64decode(probe["response"], validate=True)


def write_results(results, probes, now):
    """Writes the site's files; returns the names of those replaced."""
    responses = [response_of(results, probe) for probe in probes]
    os.makedirs(results, exist_ok=True)
    earlier = earlier_last_good(results)
    replaced = []
    status_rows = []
    site_files = []
    for probe, response in zip(probes, responses):
        name = probe["name"]
        path = probe_file(results, name)
        last_good = ""
        if response is not None:
            if replace_file(path, response):
                replaced.append(os.path.basename(path))
            last_good = now
        elif os.path.exists(path):
            last_good = earlier.get(name) or file_time(path)
        data = read_bytes(path)
        if data is not None:
            site_files.append((name, data))
        reason = "" if probe["outcome"] == "ok" else probe.get("reason") or ""
        status_rows.append((name, probe["outcome"], last_good, reason))
    if replace_file(os.path.join(results, "site.csv"), site_csv(site_files)):
        replaced.append("site.csv")
    replace_file(os.path.join(results, "probes.csv"), probes_csv(status_rows), False)
    return replaced


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: site_results.py RESULTS_FOLDER < PROBES_JSON\n")
        return 2
    probes = json.load(sys.stdin)["probes"]
    now = datetime.datetime.now().astimezone().isoformat(timespec="seconds")
    replaced = write_results(argv[1], probes, now)
    json.dump({"replaced": replaced}, sys.stdout)
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
