#!/usr/bin/env python3
"""The site's store on the controller (ansible/roles/qarvik/files/
site_results.py and its modules) on results folders made here: the site's
rows, probe names as file names, every probe failing, a host that comes
back and its dates, the character sets, two runs at once, a full disk, the
upgrade from the folder of the plays before site.db, and the makers of
MACs."""

import base64
import contextlib
import csv
import fcntl
import io
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

FILES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../ansible/roles/qarvik/files")
PROGRAM = os.path.join(FILES, "site_results.py")
sys.path.insert(0, FILES)
import site_results  # noqa: E402
import site_vendors  # noqa: E402
from site_changes import Row  # noqa: E402

A, B = "00-1b-21-3a-4f-0a", "02-00-00-00-00-0b"
PASO = "パソ".encode("cp932")  # a qarvik name, as it writes it


def probe(name, outcome="ok", response=b"", segment=None, reason=""):
    entry = {"name": name, "outcome": outcome, "reason": reason, "segment": segment or name}
    if outcome == "ok":
        entry["response"] = base64.b64encode(response).decode()
    return entry


class Folder:
    def __init__(self, test):
        self.path = tempfile.mkdtemp(prefix="qarvik-store-")
        test.addCleanup(shutil.rmtree, self.path, True)

    def store(self, probes, when=None, *options):
        """One run, in-process: (exit status, output lines, error output);
        `when` fixes the run's time."""
        out, err = io.StringIO(), io.StringIO()
        stdin = sys.stdin
        sys.stdin = io.StringIO(json.dumps({"probes": probes}))
        try:
            with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
                if when:
                    saved = site_results.site_db.utc_text
                    site_results.site_db.utc_text = lambda _: when
                try:
                    status = site_results.main([*options, self.path])
                finally:
                    if when:
                        site_results.site_db.utc_text = saved
        finally:
            sys.stdin = stdin
        return status, out.getvalue().splitlines(), err.getvalue()

    def read(self, name):
        with open(os.path.join(self.path, name), "rb") as f:
            return f.read()

    def csv(self, name, encoding="utf-8"):
        with open(os.path.join(self.path, name), newline="", encoding=encoding) as f:
            return list(csv.reader(f))

    def query(self, sql):
        with contextlib.closing(sqlite3.connect(os.path.join(self.path, "site.db"))) as db:
            return db.execute(sql).fetchall()

    def listing(self):
        found = {}
        for folder, _, files in os.walk(self.path):
            for file in files:
                path = os.path.join(folder, file)
                found[os.path.relpath(path, self.path)] = (os.stat(path).st_ino, self.read(path))
        return found


class SiteRows(unittest.TestCase):
    # (case, [(probe, segment, response file)], the site's rows)
    CASES = [
        ("one address and MAC on one segment is one host, the first probe's row",
         [("a", "lan", b"h1,10.0.1.1,m1\r\n"), ("b", "lan", b"other,10.0.1.1,m1\r\n")],
         [("a", "lan", "h1", "10.0.1.1", "m1")]),
        ("rows of two segments are never merged: a VRRP MAC, a MAC-less row",
         [("a", "a", b"gw,10.0.1.1,00-00-5e-00-01-01\r\nscan,10.0.1.50,\r\n"),
          ("b", "b", b"gw,10.0.1.1,00-00-5e-00-01-01\r\nscan,10.0.1.50,\r\n")],
         [("a", "a", "gw", "10.0.1.1", "00-00-5e-00-01-01"), ("a", "a", "scan", "10.0.1.50", ""),
          ("b", "b", "gw", "10.0.1.1", "00-00-5e-00-01-01"), ("b", "b", "scan", "10.0.1.50", "")]),
        ("a name with commas, a NetBEUI row, code page 932, no last CR LF",
         [("a", "a", b"A,B,10.0.0.1,m1\r\nPC1,m2\r\n" + PASO + b",10.0.0.2,m3")],
         [("a", "a", "A,B", "10.0.0.1", "m1"), ("a", "a", "PC1", "", "m2"), ("a", "a", "パソ", "10.0.0.2", "m3")]),
    ]

    def test_cases(self):
        for name, files, expected in self.CASES:
            with self.subTest(name):
                self.assertEqual(site_results.site_rows(files), [Row(*r) for r in expected])


class Store(unittest.TestCase):
    def test_probe_names_name_no_other_file(self):
        folder = Folder(self)
        names = ["site", "probes", "changes", "倉庫", "a.b", ".hidden", "x/y"]
        status, _, err = folder.store([probe(n, response=b"h,10.0.0.%d,%s\r\n" % (i, A.encode()))
                                       for i, n in enumerate(names)])
        self.assertEqual(status, 0, err)
        self.assertEqual(sorted(os.listdir(os.path.join(folder.path, "probes"))),
                         sorted(["site.csv", "probes.csv", "changes.csv", "倉庫.csv", "a.b.csv",
                                 "%2Ehidden.csv", "x%2Fy.csv"]))
        self.assertEqual(folder.read("probes/倉庫.csv"), b"h,10.0.0.3,%s\r\n" % A.encode())
        self.assertEqual([r[0] for r in folder.csv("site.csv")], ["probe"] + names)
        self.assertEqual(folder.csv("changes.csv"), [["event", "probe", "name", "address", "mac", "previous", "time"]])

    def test_every_probe_failing_changes_nothing_but_probes_csv(self):
        folder = Folder(self)
        status, lines, _ = folder.store([probe("hall", "failed", reason="r")])
        self.assertEqual((status, os.listdir(folder.path)), (0, ["probes.csv"]))
        self.assertEqual(lines[0], "site: no probe succeeded, no run added; the site's files are as they were")
        folder.store([probe("hall", response=b"pc1,10.0.0.1,%s\r\n" % A.encode())])
        folder.store([probe("hall", response=b"pc2,10.0.0.2,%s\r\n" % B.encode())])
        before = folder.listing()
        status, lines, _ = folder.store([probe("hall", "failed", reason="r2"), probe("new", "unreachable")])
        after = folder.listing()
        self.assertEqual(status, 0)
        self.assertEqual([f for f in set(before) | set(after) if before.get(f) != after.get(f)], ["probes.csv"])
        self.assertEqual(folder.query("SELECT count(*) FROM runs"), [(2,)])
        self.assertEqual(folder.csv("probes.csv")[1:], [["hall", "failed", folder.csv("probes.csv")[1][2], "r2"],
                                                      ["new", "unreachable", "", ""]])

    def test_a_host_that_comes_back_and_its_dates(self):
        folder = Folder(self)
        pc1, pc2 = b"pc1,10.0.0.1,%s\r\n" % A.encode(), b"pc2,10.0.0.2,%s\r\n" % B.encode()
        folder.store([probe("hall", response=pc1 + pc2)], "2026-11-01T02:00:00Z")
        folder.store([probe("hall", response=pc1)], "2026-11-02T02:00:00Z")
        folder.store([probe("hall", "failed")], "2026-11-03T02:00:00Z")
        status, lines, _ = folder.store([probe("hall", response=pc1 + pc2), probe("lab", "failed")],
                                        "2026-11-04T02:00:00Z")
        self.assertEqual(lines[:2], ["site: 2 hosts, 1 back", "back: pc2 10.0.0.2 %s (hall)" % B])
        self.assertEqual(folder.csv("changes.csv")[1], ["back", "hall", "pc2", "10.0.0.2", B, "", "2026-11-04T02:00:00Z"])
        folder.store([probe("hall", "failed"), probe("lab", response=b"x,10.9.0.1,\r\n")], "2026-11-05T02:00:00Z")
        self.assertEqual(folder.csv("hosts.csv"), [
            ["probe", "segment", "name", "address", "mac", "vendor", "first_seen", "last_seen", "present"],
            ["hall", "hall", "pc1", "10.0.0.1", A, "Intel Corporate" if site_vendors.available() else "",
             "2026-11-01T02:00:00Z", "2026-11-04T02:00:00Z", "1"],
            ["hall", "hall", "pc2", "10.0.0.2", B, "locally administered", "2026-11-01T02:00:00Z",
             "2026-11-04T02:00:00Z", "1"],
            ["lab", "lab", "x", "10.9.0.1", "", "", "2026-11-05T02:00:00Z", "2026-11-05T02:00:00Z", "1"]])
        self.assertEqual(folder.query("SELECT event, time FROM events"),
                         [("gone", "2026-11-02T02:00:00Z"), ("back", "2026-11-04T02:00:00Z"),
                          ("new", "2026-11-05T02:00:00Z")])
        folder.store([probe("hall", response=pc1)], "2026-11-06T02:00:00Z", "--keep", "2")
        self.assertEqual(folder.query("SELECT time FROM runs"), [("2026-11-05T02:00:00Z",), ("2026-11-06T02:00:00Z",)])
        self.assertEqual(folder.query("SELECT event FROM events"), [("new",), ("gone",)])

    def test_each_export_reads_with_its_codec(self):
        for encoding, lost in [("utf-8", 0), ("utf-8-sig", 0), ("cp932", 8)]:
            with self.subTest(encoding):
                folder = Folder(self)
                status, lines, _ = folder.store([probe("倉庫ü", response=PASO + b",10.0.0.1,\r\n"),
                                                 probe("倉庫€", response=b"pc,10.0.0.2,\r\n")],
                                                None, "--encoding", encoding)
                self.assertEqual(status, 0)
                shown = "倉庫?" if lost else "倉庫ü"
                for name in ("site.csv", "hosts.csv", "probes.csv"):
                    self.assertEqual(folder.csv(name, encoding)[1][:1], [shown], name)
                self.assertEqual(folder.csv("site.csv", encoding)[1][1], "パソ")
                self.assertEqual(folder.read("site.csv").startswith(b"\xef\xbb\xbf"), encoding == "utf-8-sig")
                warnings = [line for line in lines if line.startswith("warning: ")]
                self.assertEqual(warnings, ["warning: %d characters code page 932 lacks are written as ?"
                                            " (hosts.csv, probes.csv, site.csv)" % lost] if lost else [])


class Lock(unittest.TestCase):
    def program(self, folder, probes, *options):
        process = subprocess.Popen([sys.executable, PROGRAM, *options, folder.path], stdin=subprocess.PIPE,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.addCleanup(process.stderr.close)
        return process, json.dumps({"probes": probes})

    def test_two_runs_at_once_both_keep_their_events(self):
        folder = Folder(self)
        folder.store([probe("hall", response=b"pc1,10.0.0.1,%s\r\n" % A.encode())])
        runs = [self.program(folder, [probe("hall", response=b"pc1,10.0.0.1,%s\r\n%s,10.0.0.%d,%s\r\n"
                                            % (A.encode(), name, n, B.encode()))])
                for n, name in [(7, b"seven"), (8, b"eight")]]
        # Both start while a third holds the lock, so both wait for it at once.
        holder = sqlite3.connect(os.path.join(folder.path, "site.db"), isolation_level=None)
        holder.execute("BEGIN IMMEDIATE")
        for process, data in runs:
            process.stdin.write(data)
            process.stdin.close()
        time.sleep(0.5)
        holder.execute("ROLLBACK")
        self.assertEqual([(process.wait(), process.stderr.read()) for process, _ in runs], [(0, ""), (0, "")])
        self.assertEqual(sorted(folder.query("SELECT event, name FROM events WHERE event = 'new'")),
                         [("new", "eight"), ("new", "seven")])
        self.assertEqual(os.listdir(folder.path).count("site.db.writer"), 0)

    def test_a_run_waits_for_the_lock_then_fails_naming_the_other(self):
        # Held by another run of the play (the folder's lock), or by a
        # program with a transaction open (the database's).
        for holder in ("folder", "database"):
            with self.subTest(holder):
                self.wait_for(holder)

    def wait_for(self, holder):
        folder = Folder(self)
        folder.store([probe("hall", response=b"")])
        if holder == "folder":
            lock = os.open(folder.path, os.O_RDONLY)
            fcntl.flock(lock, fcntl.LOCK_EX)
            release = lambda: os.close(lock)  # noqa: E731
        else:
            lock = sqlite3.connect(os.path.join(folder.path, "site.db"), isolation_level=None)
            lock.execute("BEGIN IMMEDIATE")
            release = lambda: lock.execute("ROLLBACK")  # noqa: E731
        with open(os.path.join(folder.path, "site.db.writer"), "w") as note:
            note.write("%d %s 2026-12-08T02:00:04Z\n" % (os.getpid(), os.uname().nodename))
        started = time.monotonic()
        process, data = self.program(folder, [probe("hall", response=b"pc,10.0.0.1,\r\n")], "--wait", "1")
        _, error = process.communicate(data)
        self.assertGreaterEqual(time.monotonic() - started, 1)
        self.assertEqual(process.returncode, 2)
        self.assertIn("is in use by another run of the play (pid %d on %s, writing since 2026-12-08T02:00:04Z);"
                      " waited 1 s" % (os.getpid(), os.uname().nodename), error)
        self.assertTrue(os.path.exists(os.path.join(folder.path, "site.db.writer")), "the other run's note went")
        process, data = self.program(folder, [probe("hall", response=b"pc,10.0.0.1,\r\n")], "--wait", "30")
        process.stdin.write(data)
        process.stdin.close()
        time.sleep(1)
        self.assertIsNone(process.poll())
        release()
        self.assertEqual((process.wait(), process.stderr.read()), (0, ""))
        self.assertEqual(folder.query("SELECT count(*) FROM runs"), [(2,)])


class FullDisk(unittest.TestCase):
    """A results folder on a full tmpfs, mounted in a mount namespace of the
    test's own (root only)."""

    def test_a_full_disk_changes_nothing_and_leaves_nothing(self):
        if os.geteuid() != 0 or not shutil.which("unshare"):
            self.skipTest("needs root and unshare")
        # Room for nothing (the database fails first), and for less than the
        # files (writing them fails).
        for room in (0, 100000):
            with self.subTest(room=room):
                self.fill(room)

    def fill(self, room):
        folder = Folder(self)
        script = """
set -e
mount -t tmpfs -o size=2m tmpfs "$1"
"$2" "$3" "$1" < "$4" > /dev/null
head -c $(($(df --output=avail -B1 "$1" | tail -1) - $6)) /dev/zero > "$1/filler"
find "$1" -type f ! -name filler -exec sha1sum {} + | sort > "$1/../before" 2>/dev/null || true
status=0; "$2" "$3" "$1" < "$5" 2> "$1/../error" > /dev/null || status=$?
find "$1" -type f ! -name filler -exec sha1sum {} + | sort > "$1/../after"
ls -A "$1" "$1/probes" > "$1/../names"
exit $status"""
        results = os.path.join(folder.path, "results")
        os.mkdir(results)
        for name, response in [("first", b"pc,10.0.0.1,%s\r\n" % A.encode()),
                               ("second", b"".join(b"pc%d,10.0.%d.%d,%s\r\n" % (n, n // 256, n % 256, B.encode())
                                                   for n in range(3000)))]:
            with open(os.path.join(folder.path, name), "w") as f:
                json.dump({"probes": [probe("hall", response=response)]}, f)
        done = subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh", results,
                               sys.executable, PROGRAM, os.path.join(folder.path, "first"),
                               os.path.join(folder.path, "second"), str(room)])
        self.assertEqual(done.returncode, 2)
        error = folder.read("error").decode()
        self.assertIn("cannot write in the results folder %s: " % results, error)
        self.assertIn("site.db and its files are as they were", error)
        self.assertEqual(folder.read("before"), folder.read("after"))
        self.assertEqual(folder.read("names").decode().split(), [results + ":", "changes.csv", "filler", "hosts.csv",
                                                                 "probes", "probes.csv", "site.csv", "site.db",
                                                                 results + "/probes:", "hall.csv"])


class Upgrade(unittest.TestCase):
    def test_the_folder_before_site_db_is_taken_in(self):
        folder = Folder(self)
        pc1, pc2, gw = b"pc1,10.0.0.1,%s\r\n" % A.encode(), PASO + b",10.0.0.2,%s\r\n" % B.encode(), \
            b"gw,10.0.0.254,00-00-5e-00-01-01\r\n"
        old = {"history/20261201T020000Z/": (pc1 + pc2 + gw, gw, ""),
               "history/20261202T020000Z/": (pc1 + gw, gw, "gone,hall,%s,10.0.0.2,%s,\r\n" % ("パソ", B)),
               "": (pc1 + gw, gw, "")}
        for where, (hall, store, changes) in old.items():
            # The plays before kept no file of a name beyond ASCII in history/.
            files = {"hall.csv": hall, "store.csv": store, **({} if where else {"倉庫.csv": gw}),
                     # The old site.csv merged the routers of two segments.
                     "site.csv": b"probe,name,address,mac\r\n" + b"".join(b"hall," + r + b"\r\n"
                                                                       for r in hall.splitlines()),
                     "probes.csv": b"probe,outcome,last_good,reason\r\nhall,ok,2026-12-02T03:00:00+01:00,\r\n"
                                   b"store,ok,2026-12-02T03:00:00+01:00,\r\n" + "倉庫,ok,,\r\n".encode(),
                     "changes.csv": b"event,probe,name,address,mac,previous\r\n" + changes.encode("cp932")}
            os.makedirs(os.path.join(folder.path, where), exist_ok=True)
            for name, data in files.items():
                with open(os.path.join(folder.path, where, name), "wb") as f:
                    f.write(data)
        kept = folder.listing()
        status, lines, _ = folder.store([probe("hall", response=pc1 + pc2 + gw), probe("store", "failed"),
                                         probe("倉庫", response=gw)])
        self.assertEqual(lines[:3], ["site: 5 hosts, 1 back", "back: パソ 10.0.0.2 %s (hall)" % B,
                                     "site.db: took in 2 runs of history/ and the probes' files"])
        self.assertEqual(folder.query("SELECT time, event, name FROM events"),
                         [("2026-12-02T02:00:00Z", "gone", "パソ"), (folder.query("SELECT max(time) FROM runs")[0][0],
                                                                    "back", "パソ")])
        self.assertEqual(folder.query("SELECT probe, first_seen FROM hosts WHERE name = 'gw'"),
                         [("hall", "2026-12-01T02:00:00Z"), ("store", "2026-12-01T02:00:00Z"),
                          ("倉庫", "2026-12-02T02:00:00Z")])
        self.assertEqual(folder.query("SELECT last_good_time FROM probes WHERE probe = 'store'"),
                         [("2026-12-02T02:00:00Z",)])
        self.assertEqual(folder.read("probes/store.csv"), gw)
        for name in ("hall.csv", "store.csv", "history/20261201T020000Z/site.csv"):
            self.assertEqual(folder.listing()[name], kept[name])


class Vendors(unittest.TestCase):
    def test_the_longest_prefix_names_the_maker(self):
        registries = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, registries)
        for file, rows in [("oui.csv", "MA-L,70B3D5,IEEE Registration Authority,x\r\nMA-L,001B21,Intel,y\r\n"),
                           ("mam.csv", "MA-M,70B3D51,Seven,x\r\n"), ("oui36.csv", "MA-S,70B3D5123,Nine,\"a, b\"\r\n")]:
            with open(os.path.join(registries, file), "w") as f:
                f.write("Registry,Assignment,Organization Name,Organization Address\r\n" + rows)
        for mac, maker in [("70-b3-d5-12-34-56", "Nine"), ("70:B3:D5:1f:00:00", "Seven"),
                           ("70-b3-d5-20-00-00", "IEEE Registration Authority"), ("00-1b-21-00-00-01", "Intel"),
                           ("02-1b-21-00-00-01", "locally administered"), ("00-00-00-00-00-01", ""), ("", ""),
                           ("not a mac", "")]:
            with self.subTest(mac):
                self.assertEqual(site_vendors.vendor_of(mac, registries), maker)
        self.assertEqual(site_vendors.vendor_of("00-1b-21-00-00-01", os.path.join(registries, "none")), "")

    def test_without_ieee_data_one_line_says_how_to_get_it(self):
        folder = Folder(self)
        saved, site_vendors.IEEE_DATA = site_vendors.IEEE_DATA, os.path.join(folder.path, "none")
        self.addCleanup(setattr, site_vendors, "IEEE_DATA", saved)
        _, lines, _ = folder.store([probe("hall", response=b"pc,10.0.0.1,%s\r\n" % A.encode())])
        self.assertEqual(folder.csv("site.csv")[1][4], "")
        self.assertEqual([line for line in lines if "ieee-data" in line], [
            "vendors: %s has no IEEE registries, the vendor column stays empty (Debian package ieee-data)"
            % site_vendors.IEEE_DATA])


if __name__ == "__main__":
    unittest.main()
