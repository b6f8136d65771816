#!/usr/bin/env python3
"""The site's events (ansible/roles/qarvik/files/site_changes.py), case by
case: every kind, failed and left-out probes, hosts of two segments on one
address range, rows without a MAC, NetBEUI rows."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../ansible/roles/qarvik/files"))
import site_changes  # noqa: E402
from site_changes import Row  # noqa: E402

A, B, C = "02-00-00-00-00-0a", "02-00-00-00-00-0b", "02-00-00-00-00-0c"
VRRP = "00-00-5e-00-01-01"


def rows(*fields):
    """Rows of (probe, name, address, mac), each probe its own segment, or
    (probe, segment, name, address, mac)."""
    return [Row(f[0], f[0], *f[1:]) if len(f) == 4 else Row(*f) for f in fields]


def events(kept, current, outcomes):
    """The events of this run after the kept runs (oldest first)."""
    if not kept:
        return []
    older = site_changes.known(row for run in kept[:-1] for row in run)
    return site_changes.compare(current, kept[-1], older, older | site_changes.known(kept[-1]), outcomes)


# (case, the kept runs' rows, this run's rows, outcomes, the events as
# (kind, probe, name, address, mac, previous))
CASES = [
    ("a pair no run has seen is new",
     [rows(("hall", "pc1", "10.0.0.1", A))],
     rows(("hall", "pc1", "10.0.0.1", A), ("hall", "pc2", "10.0.0.2", B)), {"hall": "ok"},
     [("new", "hall", "pc2", "10.0.0.2", B, "")]),
    ("a pair of an older run that the previous run missed is back",
     [rows(("hall", "pc2", "10.0.0.2", B)), rows()],
     rows(("hall", "pc2", "10.0.0.2", B)), {"hall": "ok"},
     [("back", "hall", "pc2", "10.0.0.2", B, "")]),
    ("a host without a MAC back at an address of an older run",
     [rows(("hall", "pc2", "10.0.0.2", B)), rows()],
     rows(("hall", "pc2", "10.0.0.2", "")), {"hall": "ok"},
     [("back", "hall", "pc2", "10.0.0.2", "", "")]),
    ("a pair that the previous run had and the probe's run no longer sees is gone",
     [rows(("hall", "pc1", "10.0.0.1", A), ("hall", "pc2", "10.0.0.2", B))],
     rows(("hall", "pc1", "10.0.0.1", A)), {"hall": "ok"},
     [("gone", "hall", "pc2", "10.0.0.2", B, "")]),
    ("a probe that failed, was left out or left the inventory reports nothing gone",
     [rows(("hall", "pc1", "10.0.0.1", A), ("store", "pc9", "10.9.0.9", C), ("old", "x", "10.8.0.8", B),
           ("lab", "y", "10.7.0.7", B))],
     rows(("hall", "pc1", "10.0.0.1", A)), {"hall": "ok", "store": "failed", "lab": "skipped"},
     []),
    ("an address with another MAC is a changed mac, its old pair not gone",
     [rows(("hall", "pc1", "10.0.0.1", A))],
     rows(("hall", "pc1", "10.0.0.1", B)), {"hall": "ok"},
     [("changed mac", "hall", "pc1", "10.0.0.1", B, A)]),
    ("a MAC back to one the address had before the previous run is a flip flop",
     [rows(("hall", "pc1", "10.0.0.1", A)), rows(("hall", "pc1", "10.0.0.1", B))],
     rows(("hall", "pc1", "10.0.0.1", A)), {"hall": "ok"},
     [("flip flop", "hall", "pc1", "10.0.0.1", A, B)]),
    ("a MAC the address had in another address's row is no flip flop",
     [rows(("hall", "pc7", "10.0.0.7", C)), rows(("hall", "pc1", "10.0.0.1", B))],
     rows(("hall", "pc1", "10.0.0.1", C)), {"hall": "ok"},
     [("changed mac", "hall", "pc1", "10.0.0.1", C, B)]),
    ("a MAC the address had on another segment is no flip flop",
     [rows(("hall", "pc1", "192.168.1.10", A), ("store", "till", "192.168.1.10", B))],
     rows(("hall", "pc1", "192.168.1.10", B)), {"hall": "ok", "store": "ok"},
     [("changed mac", "hall", "pc1", "192.168.1.10", B, A), ("gone", "store", "till", "192.168.1.10", B, "")]),
    ("the same pair under another name is renamed",
     [rows(("hall", "10.0.0.1", "10.0.0.1", A))],
     rows(("hall", "pc1", "10.0.0.1", A)), {"hall": "ok"},
     [("renamed", "hall", "pc1", "10.0.0.1", A, "10.0.0.1")]),
    ("two probes of one segment: a host the other still sees is not gone",
     [rows(("hall", "lan", "pc1", "10.0.0.1", A))],
     rows(("store", "lan", "pc1", "10.0.0.1", A)), {"hall": "ok", "store": "ok"},
     []),
    ("two segments on one range share a VRRP MAC: one router gone is reported",
     [rows(("hall", "gw", "198.18.101.1", VRRP), ("store", "gw", "198.18.101.1", VRRP))],
     rows(("hall", "gw", "198.18.101.1", VRRP)), {"hall": "ok", "store": "ok"},
     [("gone", "store", "gw", "198.18.101.1", VRRP, "")]),
    ("two segments on one range: a MAC-less row of one gone, the other's stays",
     [rows(("hall", "scanner-dock", "198.18.101.50", ""), ("store", "scanner-dock", "198.18.101.50", ""))],
     rows(("store", "scanner-dock", "198.18.101.50", "")), {"hall": "ok", "store": "ok"},
     [("gone", "hall", "scanner-dock", "198.18.101.50", "", "")]),
    ("a host without a MAC this time is neither changed nor gone",
     [rows(("hall", "pc1", "10.0.0.1", A))],
     rows(("hall", "pc1", "10.0.0.1", "")), {"hall": "ok"},
     []),
    ("NetBEUI rows: a name with another MAC, a name gone",
     [rows(("office", "NB1", "", A), ("office", "NB2", "", B))],
     rows(("office", "NB1", "", C)), {"office": "ok"},
     [("changed mac", "office", "NB1", "", C, A), ("gone", "office", "NB2", "", B, "")]),
    ("the first run has nothing to compare with",
     [], rows(("hall", "pc1", "10.0.0.1", A)), {"hall": "ok"}, []),
]


class EventTest(unittest.TestCase):
    def test_events(self):
        for name, kept, current, outcomes, expected in CASES:
            with self.subTest(name):
                found = [(kind, row.probe, row.name, row.address, row.mac, previous)
                         for kind, row, previous in events(kept, current, outcomes)]
                self.assertEqual(found, expected)

    def test_summary_and_lines(self):
        found = events([rows(("hall", "pc1", "10.0.0.1", A), ("hall", "pc3", "10.0.0.3", C))],
                       rows(("hall", "pc1", "10.0.0.1", B), ("hall", "パソ", "10.0.0.2", "")), {"hall": "ok"})
        self.assertEqual(site_changes.summary(2, found, False), "site: 2 hosts, 1 new, 1 gone, 1 changed mac")
        self.assertEqual([site_changes.event_line(*e) for e in found],
                         ["changed mac: pc1 10.0.0.1 %s (hall), was %s" % (B, A),
                          "new: パソ 10.0.0.2 (no MAC) (hall)", "gone: pc3 10.0.0.3 %s (hall)" % C])
        self.assertEqual(site_changes.summary(1, [], True), "site: 1 host, first run, nothing to compare with")
        self.assertEqual(site_changes.alerted_probes(found), ["hall"])


if __name__ == "__main__":
    unittest.main()
