#!/usr/bin/env python3
"""The site's history and changes (ansible/roles/qarvik/files/site_changes.py)
on results folders made here: every event, a failed probe, a host seen by two
probes, the first run, pruning, and a run that changes nothing."""

import contextlib
import importlib.util
import io
import os
import subprocess
import sys
import tempfile
import unittest

PROGRAM = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                       "../../ansible/roles/qarvik/files/site_changes.py")
# The program takes its file helpers from site_results.py beside it.
sys.path.insert(0, os.path.dirname(PROGRAM))
loader_spec = importlib.util.spec_from_file_location("site_changes", PROGRAM)
site_changes = importlib.util.module_from_spec(loader_spec)
loader_spec.loader.exec_module(site_changes)

A, B, C = "02-00-00-00-00-0a", "02-00-00-00-00-0b", "02-00-00-00-00-0c"


def csv_bytes(header, rows):
    return "".join(",".join(r) + "\r\n" for r in [header] + rows).encode()


def site(*rows):
    """site.csv's bytes from (probe, name, address, mac) rows."""
    return csv_bytes(["probe", "name", "address", "mac"], [list(r) for r in rows])


def probes(**outcomes):
    return csv_bytes(["probe", "outcome", "last_good", "reason"],
                     [[p, o, "2026-12-08T02:00:13+01:00", ""] for p, o in outcomes.items()])


class Folder:
    """A results folder: history runs named in order, then this run's files."""

    def __init__(self, test, history=(), current=b"", outcomes=None):
        self.path = tempfile.mkdtemp(prefix="qarvik-changes-")
        test.addCleanup(subprocess.run, ["rm", "-rf", self.path], check=True)
        for number, rows in enumerate(history):
            run = os.path.join(self.path, "history", f"2026010{number + 1}T020000Z")
            os.makedirs(run)
            self.write(os.path.join(run, "site.csv"), rows)
        self.write(os.path.join(self.path, "site.csv"), current)
        self.write(os.path.join(self.path, "probes.csv"), probes(**(outcomes or {"hall": "ok"})))

    @staticmethod
    def write(path, data):
        with open(path, "wb") as f:
            f.write(data)

    def read(self, name):
        with open(os.path.join(self.path, name), "rb") as f:
            return f.read()

    def runs(self):
        return site_changes.history_runs(os.path.join(self.path, "history"))

    def run(self, *options):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            status = site_changes.main([*options, self.path])
        return status, out.getvalue().splitlines()


def changes(*rows):
    return csv_bytes(["event", "probe", "name", "address", "mac", "previous"], [list(r) for r in rows])


# Each case: the site.csv of each history run (oldest first), this run's
# site.csv, each probe's outcome, the changes.csv expected and its summary.
EVENT_CASES = [
    ("a pair no run has seen is new",
     [site(("hall", "pc1", "10.0.0.1", A))],
     site(("hall", "pc1", "10.0.0.1", A), ("hall", "pc2", "10.0.0.2", B)), {"hall": "ok"},
     changes(("new", "hall", "pc2", "10.0.0.2", B, "")), "site: 2 hosts, 1 new"),
    ("a pair of an older run back after a run without it is not new",
     [site(("hall", "pc2", "10.0.0.2", B)), site()],
     site(("hall", "pc2", "10.0.0.2", B)), {"hall": "ok"},
     changes(), "site: 1 host, no changes"),
    ("a pair that the previous run had and the probe's run no longer sees is gone",
     [site(("hall", "pc1", "10.0.0.1", A), ("hall", "pc2", "10.0.0.2", B))],
     site(("hall", "pc1", "10.0.0.1", A)), {"hall": "ok"},
     changes(("gone", "hall", "pc2", "10.0.0.2", B, "")), "site: 1 host, 1 gone"),
    ("a probe that failed reports nothing gone",
     [site(("hall", "pc1", "10.0.0.1", A), ("store", "pc9", "10.9.0.9", C))],
     site(("hall", "pc1", "10.0.0.1", A)), {"hall": "ok", "store": "failed"},
     changes(), "site: 1 host, no changes"),
    ("a probe left out of the run, or out of the inventory, reports nothing gone",
     [site(("hall", "pc1", "10.0.0.1", A), ("store", "pc9", "10.9.0.9", C), ("old", "x", "10.8.0.8", B))],
     site(("hall", "pc1", "10.0.0.1", A)), {"hall": "ok", "store": "not run"},
     changes(), "site: 1 host, no changes"),
    ("an address with another MAC is a changed mac, its old pair not gone",
     [site(("hall", "pc1", "10.0.0.1", A))],
     site(("hall", "pc1", "10.0.0.1", B)), {"hall": "ok"},
     changes(("changed mac", "hall", "pc1", "10.0.0.1", B, A)), "site: 1 host, 1 changed mac"),
    ("a MAC back to one the address had before the previous run is a flip flop",
     [site(("hall", "pc1", "10.0.0.1", A)), site(("hall", "pc1", "10.0.0.1", B))],
     site(("hall", "pc1", "10.0.0.1", A)), {"hall": "ok"},
     changes(("flip flop", "hall", "pc1", "10.0.0.1", A, B)), "site: 1 host, 1 flip flop"),
    ("a MAC the address had in another address's row is no flip flop",
     [site(("hall", "pc7", "10.0.0.7", C)), site(("hall", "pc1", "10.0.0.1", B))],
     site(("hall", "pc1", "10.0.0.1", C)), {"hall": "ok"},
     changes(("changed mac", "hall", "pc1", "10.0.0.1", C, B)), "site: 1 host, 1 changed mac"),
    ("a MAC the address had on another segment in the previous run is no flip flop",
     [site(("hall", "pc1", "192.168.1.10", A), ("store", "till", "192.168.1.10", B))],
     site(("hall", "pc1", "192.168.1.10", B)), {"hall": "ok", "store": "ok"},
     changes(("changed mac", "hall", "pc1", "192.168.1.10", B, A)), "site: 1 host, 1 changed mac"),
    ("the same pair under another name is renamed",
     [site(("hall", "10.0.0.1", "10.0.0.1", A))],
     site(("hall", "pc1", "10.0.0.1", A)), {"hall": "ok"},
     changes(("renamed", "hall", "pc1", "10.0.0.1", A, "10.0.0.1")), "site: 1 host, 1 renamed"),
    ("a host seen by two probes that the first no longer sees stays: nothing",
     [site(("hall", "pc1", "10.0.0.1", A))],
     site(("store", "pc1", "10.0.0.1", A)), {"hall": "ok", "store": "ok"},
     changes(), "site: 1 host, no changes"),
    ("one address on two segments is two hosts: one changes its MAC",
     [site(("hall", "pc1", "192.168.1.10", A), ("store", "till", "192.168.1.10", B))],
     site(("hall", "pc1", "192.168.1.10", C), ("store", "till", "192.168.1.10", B)),
     {"hall": "ok", "store": "ok"},
     changes(("changed mac", "hall", "pc1", "192.168.1.10", C, A)), "site: 2 hosts, 1 changed mac"),
    ("a host without a MAC this time is neither changed nor gone",
     [site(("hall", "pc1", "10.0.0.1", A))],
     site(("hall", "pc1", "10.0.0.1", "")), {"hall": "ok"},
     changes(), "site: 1 host, no changes"),
    ("NetBEUI rows: a name with another MAC, a name gone",
     [site(("office", "NB1", "", A), ("office", "NB2", "", B))],
     site(("office", "NB1", "", C)), {"office": "ok"},
     changes(("changed mac", "office", "NB1", "", C, A), ("gone", "office", "NB2", "", B, "")),
     "site: 1 host, 1 gone, 1 changed mac"),
    ("the first run has nothing to compare with",
     [], site(("hall", "pc1", "10.0.0.1", A)), {"hall": "ok"},
     changes(), "site: 1 host, first run, nothing to compare with"),
]


class EventTest(unittest.TestCase):
    def test_events(self):
        for name, history, current, outcomes, expected, summary in EVENT_CASES:
            with self.subTest(name):
                folder = Folder(self, history, current, outcomes)
                status, lines = folder.run()
                self.assertEqual(status, 0)
                self.assertEqual(folder.read("changes.csv"), expected)
                self.assertEqual(lines[0], summary)

    def test_event_lines_follow_the_summary(self):
        folder = Folder(self, [site(("hall", "pc1", "10.0.0.1", A))],
                        site(("hall", "pc1", "10.0.0.1", B), ("hall", "pc2", "10.0.0.2", C)))
        _, lines = folder.run()
        self.assertEqual(lines[1:3], [f"changed mac: pc1 10.0.0.1 {B} (hall), was {A}",
                                      f"new: pc2 10.0.0.2 {C} (hall)"])

    def test_fields_are_quoted_as_rfc_4180_has_it(self):
        folder = Folder(self, [site()], site(("hall", '"pc, 1"', "10.0.0.1", A)))
        folder.write(os.path.join(folder.path, "site.csv"),
                     b'probe,name,address,mac\r\nhall,"pc, ""one""",10.0.0.1,' + A.encode() + b"\r\n")
        folder.run()
        self.assertEqual(folder.read("changes.csv").splitlines()[1],
                         b'new,hall,"pc, ""one""",10.0.0.1,' + A.encode() + b",")

    def test_names_in_code_page_932_keep_their_bytes(self):
        name = "\u30d7\u30ea\u30f3\u30bf".encode("cp932")  # katakana "printer"
        folder = Folder(self, [site()], b"")
        folder.write(os.path.join(folder.path, "site.csv"),
                     b"probe,name,address,mac\r\nhall," + name + b",10.0.0.1," + A.encode() + b"\r\n")
        _, lines = folder.run()
        self.assertEqual(folder.read("changes.csv").splitlines()[1],
                         b"new,hall," + name + b",10.0.0.1," + A.encode() + b",")
        self.assertEqual(lines[1], f"new: \u30d7\u30ea\u30f3\u30bf 10.0.0.1 {A} (hall)")


# Each case: this run's site after one of pc1 10.0.0.1 A (hall), the outcome
# of the probe store, the exit status with --fail-on-changes and the probes
# it names.
FAIL_CASES = [
    ("new", site(("hall", "pc1", "10.0.0.1", A), ("store", "pc2", "10.2.0.2", B)), "ok", 3, "store"),
    ("changed mac and new", site(("hall", "pc1", "10.0.0.1", B), ("store", "pc2", "10.2.0.2", B)),
     "ok", 3, "hall, store"),
    ("gone only", site(), "ok", 0, None),
    ("renamed only", site(("hall", "other", "10.0.0.1", A)), "ok", 0, None),
    ("new, with a probe failed: the run fails for the probe", site(("hall", "pc2", "10.0.0.2", B)),
     "failed", 0, None),
]


class FailOnChangesTest(unittest.TestCase):
    def test_exit_status(self):
        for name, current, store, status, probes in FAIL_CASES:
            with self.subTest(name):
                folder = Folder(self, [site(("hall", "pc1", "10.0.0.1", A))], current,
                                {"hall": "ok", "store": store})
                self.assertEqual(folder.run("--dry-run")[0], 0)
                failing, lines = folder.run("--fail-on-changes")
                self.assertEqual(failing, status)
                named = [line for line in lines if line.startswith("changes to fail on: ")]
                self.assertEqual(named, [f"changes to fail on: {probes}"] if probes else [])

    def test_the_program_prints_utf_8_whatever_the_locale(self):
        name = "\u30d7\u30ea\u30f3\u30bf"
        folder = Folder(self, [site()], b"probe,name,address,mac\r\nhall," + name.encode("cp932") + b",,\r\n")
        done = subprocess.run([sys.executable, PROGRAM, folder.path], capture_output=True,
                              env=dict(os.environ, PYTHONIOENCODING="ascii"))
        self.assertEqual((done.returncode, done.stdout.decode().splitlines()[1]),
                         (0, f"new: {name} - (no MAC) (hall)"))


class HistoryTest(unittest.TestCase):
    def test_a_run_keeps_its_files(self):
        folder = Folder(self, [], site(("hall", "pc1", "10.0.0.1", A)), {"hall": "ok", "store": "failed"})
        folder.write(os.path.join(folder.path, "hall.csv"), b"pc1,10.0.0.1,x\r\n")
        folder.write(os.path.join(folder.path, "other.csv"), b"not a probe's\r\n")
        folder.run()
        [run] = folder.runs()
        self.assertEqual(sorted(os.listdir(os.path.join(folder.path, "history", run))),
                         ["changes.csv", "hall.csv", "probes.csv", "site.csv"])
        self.assertEqual(folder.read(f"history/{run}/site.csv"), folder.read("site.csv"))

    def test_a_run_that_changes_nothing_adds_nothing(self):
        folder = Folder(self, [site(("hall", "pc1", "10.0.0.1", A))], site(("hall", "pc2", "10.0.0.2", B)))
        folder.run()
        runs = folder.runs()
        status, lines = folder.run()
        self.assertEqual((status, lines), (0, ["site: 1 host, no changes", "changes.csv: replaced"]))
        self.assertEqual(folder.runs(), runs)
        self.assertEqual(folder.read("changes.csv"), changes())
        changes_inode = os.stat(os.path.join(folder.path, "changes.csv")).st_ino
        self.assertEqual(folder.run(), (0, ["site: 1 host, no changes"]))
        self.assertEqual(os.stat(os.path.join(folder.path, "changes.csv")).st_ino, changes_inode)

    def test_only_the_newest_runs_are_kept(self):
        folder = Folder(self, [site(("hall", "pc", "10.0.0.1", A))] * 5, site())
        status, lines = folder.run("--keep", "3")
        runs = folder.runs()
        self.assertEqual(runs[:2], ["20260104T020000Z", "20260105T020000Z"])
        self.assertEqual(len(runs), 3)
        self.assertEqual(lines[-3:], ["history: removed 20260101T020000Z", "history: removed 20260102T020000Z",
                                      "history: removed 20260103T020000Z"])

    def test_a_run_sorts_after_a_newer_name(self):
        folder = Folder(self, [site()], site(("hall", "pc1", "10.0.0.1", A)))
        os.rename(os.path.join(folder.path, "history", "20260101T020000Z"),
                  os.path.join(folder.path, "history", "29991231T235959Z"))
        folder.run()
        self.assertEqual(folder.runs(), ["29991231T235959Z", "30000101T000000Z"])

    def test_a_dry_run_writes_nothing(self):
        folder = Folder(self, [site()], site(("hall", "pc1", "10.0.0.1", A)))
        status, lines = folder.run("--dry-run")
        self.assertEqual(lines, [f"site: 1 host, 1 new", f"new: pc1 10.0.0.1 {A} (hall)",
                                 "changes.csv: would be replaced", "history: would keep this run"])
        self.assertFalse(os.path.exists(os.path.join(folder.path, "changes.csv")))
        self.assertEqual(len(folder.runs()), 1)

    def test_a_history_of_no_run_is_refused(self):
        folder = Folder(self, [site()], site())
        with contextlib.redirect_stderr(io.StringIO()) as error, self.assertRaises(SystemExit) as end:
            folder.run("--keep", "0")
        self.assertEqual(end.exception.code, 2)
        self.assertIn("--keep must be at least 1", error.getvalue())

    def test_a_dry_run_before_any_run_has_nothing_to_compare(self):
        folder = Folder(self, [], site())
        os.remove(os.path.join(folder.path, "site.csv"))
        self.assertEqual(folder.run("--dry-run"), (0, ["site: no site.csv yet, nothing to compare"]))
        self.assertEqual(os.listdir(folder.path), ["probes.csv"])

    def test_a_folder_without_a_site_is_refused(self):
        for name, data in [("no site.csv", None), ("another header", b"name,IP,MAC\r\n")]:
            with self.subTest(name):
                folder = Folder(self, [], site())
                os.remove(os.path.join(folder.path, "site.csv"))
                if data is not None:
                    folder.write(os.path.join(folder.path, "site.csv"), data)
                with contextlib.redirect_stderr(io.StringIO()) as error:
                    self.assertEqual(folder.run()[0], 2)
                self.assertIn("site.csv", error.getvalue())
                self.assertFalse(os.path.exists(os.path.join(folder.path, "changes.csv")))


if __name__ == "__main__":
    unittest.main()
