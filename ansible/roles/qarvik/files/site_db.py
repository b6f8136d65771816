"""The site's database, RESULTS/site.db: its schema and how it is opened.

One row of `runs` a committed run; each probe with its last good response
file; each probe's outcome in each run; every row each probe's file held as
of each run (`sightings`); every host the kept runs know, with the first
and the last run whose site had it (`hosts`); the events. Times
are text, ISO 8601 in UTC with a Z, so they sort as text. PRAGMA
user_version holds the schema's version.
"""

import datetime
import os
import sqlite3

SCHEMA_VERSION = 1
SCHEMA = """
CREATE TABLE runs (
  id    INTEGER PRIMARY KEY,
  time  TEXT NOT NULL
);
CREATE TABLE probes (
  probe          TEXT PRIMARY KEY,
  segment        TEXT NOT NULL,
  mode           TEXT NOT NULL,
  last_good_run  INTEGER REFERENCES runs(id),
  last_good_time TEXT,
  response       BLOB
);
CREATE TABLE outcomes (
  run     INTEGER NOT NULL REFERENCES runs(id),
  probe   TEXT NOT NULL,
  outcome TEXT NOT NULL,
  reason  TEXT NOT NULL DEFAULT '',
  PRIMARY KEY (run, probe)
);
CREATE TABLE sightings (
  run     INTEGER NOT NULL REFERENCES runs(id),
  probe   TEXT NOT NULL,
  segment TEXT NOT NULL,
  name    TEXT NOT NULL,
  address TEXT NOT NULL,
  mac     TEXT NOT NULL
);
CREATE INDEX sightings_run ON sightings(run);
CREATE TABLE hosts (
  id         INTEGER PRIMARY KEY,
  segment    TEXT NOT NULL,
  probe      TEXT NOT NULL,
  name       TEXT NOT NULL,
  address    TEXT NOT NULL,
  mac        TEXT NOT NULL,
  vendor     TEXT NOT NULL DEFAULT '',
  first_seen TEXT NOT NULL,
  last_seen  TEXT NOT NULL,
  present    INTEGER NOT NULL,
  first_run  INTEGER NOT NULL,
  last_run   INTEGER NOT NULL
);
CREATE INDEX hosts_where ON hosts(segment, address, mac);
CREATE TABLE events (
  id       INTEGER PRIMARY KEY,
  run      INTEGER NOT NULL REFERENCES runs(id),
  time     TEXT NOT NULL,
  event    TEXT NOT NULL,
  probe    TEXT NOT NULL,
  segment  TEXT NOT NULL,
  name     TEXT NOT NULL,
  address  TEXT NOT NULL,
  mac      TEXT NOT NULL,
  previous TEXT NOT NULL DEFAULT ''
);
CREATE INDEX events_run ON events(run);
"""
TIME_FORMAT = "%Y-%m-%dT%H:%M:%SZ"


class StoreError(Exception):
    """The database cannot be opened, read or written as it must be."""


def utc_text(moment):
    """A time as the database keeps it: UTC, seconds, a Z."""
    return moment.astimezone(datetime.timezone.utc).strftime(TIME_FORMAT)


def parse_time(text):
    return datetime.datetime.strptime(text, TIME_FORMAT).replace(tzinfo=datetime.timezone.utc)


def connect(path, wait_seconds=0.0, read_only=False):
    """A connection in autocommit mode (transactions are begun explicitly),
    which waits up to wait_seconds for another run's lock."""
    try:
        if read_only:
            connection = sqlite3.connect("file:%s?mode=ro" % path, uri=True, timeout=wait_seconds,
                                         isolation_level=None)
        else:
            connection = sqlite3.connect(path, timeout=wait_seconds, isolation_level=None)
        connection.execute("PRAGMA foreign_keys = ON")
    except sqlite3.Error as error:
        raise StoreError("cannot open %s: %s" % (path, error)) from error
    return connection


def ensure_schema(connection, path):
    """Creates the tables in a new database (inside the caller's
    transaction); True when it was new. A database of a newer schema is
    refused rather than misread."""
    version = connection.execute("PRAGMA user_version").fetchone()[0]
    if version > SCHEMA_VERSION:
        raise StoreError("%s has schema version %d; this play knows %d: use a newer play"
                         % (path, version, SCHEMA_VERSION))
    if version == SCHEMA_VERSION:
        return False
    for statement in SCHEMA.split(";"):
        if statement.strip():
            connection.execute(statement)
    connection.execute("PRAGMA user_version = %d" % SCHEMA_VERSION)
    return True


def database_path(results):
    return os.path.join(results, "site.db")
