"""The site's files on the controller (ansible/roles/qarvik/files/site_results.py):
site.csv's rows from the probes' files, and which files a run replaces."""

import base64
import importlib.util
import os
import tempfile
import unittest

HELPER = os.path.join(os.path.dirname(__file__), "..", "..", "ansible", "roles", "qarvik",
                      "files", "site_results.py")
loader_spec = importlib.util.spec_from_file_location("site_results", HELPER)
site_results = importlib.util.module_from_spec(loader_spec)
loader_spec.loader.exec_module(site_results)

NOW = "2026-12-08T02:00:13+01:00"
HEADER = b"probe,name,address,mac\r\n"


def crlf(*lines):
    return b"".join(line + b"\r\n" for line in lines)


class SiteRows(unittest.TestCase):
    CASES = [
        ("files in inventory order, the probe first",
         [("a", crlf(b"h1,10.0.1.1,m1")), ("b", crlf(b"h2,10.0.2.1,m2"))],
         crlf(b"a,h1,10.0.1.1,m1", b"b,h2,10.0.2.1,m2")),
        ("the same address and MAC twice: the first probe's row stays",
         [("a", crlf(b"h1,10.0.1.1,m1")), ("b", crlf(b"other,10.0.1.1,m1"))],
         crlf(b"a,h1,10.0.1.1,m1")),
        ("the same address with another MAC is another host",
         [("a", crlf(b"h1,192.168.1.5,m1")), ("b", crlf(b"h9,192.168.1.5,m9"))],
         crlf(b"a,h1,192.168.1.5,m1", b"b,h9,192.168.1.5,m9")),
        ("a NetBEUI row has an empty address",
         [("a", crlf(b"PC1,m1", b"PC1,m1"))],
         crlf(b"a,PC1,,m1")),
        ("a NetBEUI row and an IP row of one MAC are two rows",
         [("a", crlf(b"PC1,m1")), ("b", crlf(b"pc1,10.0.0.1,m1"))],
         crlf(b"a,PC1,,m1", b"b,pc1,10.0.0.1,m1")),
        ("a name with a comma or a quote is quoted",
         [("a", crlf(b'A,"B",10.0.0.1,m1', b"C,D,m2"))],
         crlf(b'a,"A,""B""",10.0.0.1,m1', b'a,"C,D",,m2')),
        ("a row without a MAC and an empty line",
         [("a", crlf(b"ghost,10.0.1.12,", b""))],
         crlf(b"a,ghost,10.0.1.12,")),
        ("code page 932 names pass as bytes, a last line without CR LF counts",
         [("a", b"\x83p\x83\x5c,10.0.0.1,m1\r\nlast,10.0.0.2,m2")],
         crlf(b"a,\x83p\x83\x5c,10.0.0.1,m1", b"a,last,10.0.0.2,m2")),
        ("no files", [], b""),
    ]

    def test_cases(self):
        for name, files, rows in self.CASES:
            with self.subTest(name):
                self.assertEqual(site_results.site_csv(files), HEADER + rows)


def probe(name, outcome, response=None, reason=""):
    entry = {"name": name, "outcome": outcome, "reason": reason}
    if response is not None:
        entry["response"] = base64.b64encode(response).decode()
    return entry


class WriteResults(unittest.TestCase):
    """Each case starts from a folder that a first run with probes a and b
    wrote."""

    def setUp(self):
        self.fresh()

    def tearDown(self):
        self.folder.cleanup()

    def fresh(self):
        self.folder = tempfile.TemporaryDirectory()
        self.results = os.path.join(self.folder.name, "results")
        site_results.write_results(self.results, [probe("a", "ok", crlf(b"h1,10.0.1.1,m1")),
                                                  probe("b", "ok", crlf(b"h2,10.0.2.1,m2"))],
                                   "2026-12-07T02:00:00+01:00")
        self.inodes = {f: os.stat(self.path(f)).st_ino for f in os.listdir(self.results)}

    def path(self, name):
        return os.path.join(self.results, name)

    def read(self, name):
        with open(self.path(name), "rb") as file:
            return file.read()

    # (case, this run's probes, files replaced, a's file, probes.csv's rows)
    CASES = [
        ("nothing changed: only probes.csv is written",
         [probe("a", "ok", crlf(b"h1,10.0.1.1,m1")), probe("b", "ok", crlf(b"h2,10.0.2.1,m2"))],
         [], crlf(b"h1,10.0.1.1,m1"),
         crlf(b"a,ok," + NOW.encode() + b",", b"b,ok," + NOW.encode() + b",")),
        ("a failed probe keeps its file, its rows and its last good time",
         [probe("a", "failed", reason='exit status 3, "no hosts"'),
          probe("b", "ok", crlf(b"h3,10.0.2.3,m3"))],
         ["b.csv", "site.csv"], crlf(b"h1,10.0.1.1,m1"),
         crlf(b'a,failed,2026-12-07T02:00:00+01:00,"exit status 3, ""no hosts"""',
              b"b,ok," + NOW.encode() + b",")),
        ("every probe failing leaves every file but probes.csv",
         [probe("a", "failed", reason="r1"), probe("b", "failed", reason="r2")],
         [], crlf(b"h1,10.0.1.1,m1"),
         crlf(b"a,failed,2026-12-07T02:00:00+01:00,r1", b"b,failed,2026-12-07T02:00:00+01:00,r2")),
        ("a probe left out by --limit keeps its rows; a new probe without a file",
         [probe("a", "not run"), probe("b", "ok", crlf(b"h2,10.0.2.1,m2")),
          probe("c", "failed", reason="r")],
         [], crlf(b"h1,10.0.1.1,m1"),
         crlf(b"a,not run,2026-12-07T02:00:00+01:00,", b"b,ok," + NOW.encode() + b",",
              b"c,failed,,r")),
        ("a probe's new rows replace its file and site.csv",
         [probe("a", "ok", crlf(b"h1,10.0.1.1,m7")), probe("b", "ok", crlf(b"h2,10.0.2.1,m2"))],
         ["a.csv", "site.csv"], crlf(b"h1,10.0.1.1,m7"),
         crlf(b"a,ok," + NOW.encode() + b",", b"b,ok," + NOW.encode() + b",")),
    ]

    def test_cases(self):
        for name, probes, replaced, a_file, probe_rows in self.CASES:
            with self.subTest(name):
                self.folder.cleanup()
                self.fresh()
                self.assertEqual(site_results.write_results(self.results, probes, NOW), replaced)
                self.assertEqual(self.read("a.csv"), a_file)
                self.assertEqual(self.read("probes.csv"),
                                 b"probe,outcome,last_good,reason\r\n" + probe_rows)
                for file, inode in self.inodes.items():
                    if file not in replaced and file != "probes.csv":
                        self.assertEqual(os.stat(self.path(file)).st_ino, inode, file)
                site = site_results.site_csv([(p, self.read(p + ".csv")) for p in ("a", "b", "c")
                                              if os.path.exists(self.path(p + ".csv"))])
                self.assertEqual(self.read("site.csv"), site)
                self.assertEqual(sorted(f for f in os.listdir(self.results) if f.startswith(".")), [])

    def test_a_kept_file_without_an_earlier_time_takes_its_own(self):
        os.unlink(self.path("probes.csv"))
        os.utime(self.path("a.csv"), (0, 0))
        site_results.write_results(self.results, [probe("a", "failed", reason="r")], NOW)
        stamp = site_results.file_time(self.path("a.csv"))
        self.assertIn(b"a,failed," + stamp.encode() + b",r\r\n", self.read("probes.csv"))

    def test_refused_input_writes_nothing(self):
        for name, probes in [("a name that leaves the folder", [probe("../x", "ok", b"")]),
                             ("an unknown outcome", [probe("a", "gone")]),
                             ("a success without its file", [probe("a", "ok")])]:
            with self.subTest(name):
                before = {f: self.read(f) for f in os.listdir(self.results)}
                with self.assertRaises(ValueError):
                    site_results.write_results(self.results, probes, NOW)
                self.assertEqual({f: self.read(f) for f in os.listdir(self.results)}, before)


if __name__ == "__main__":
    unittest.main()
