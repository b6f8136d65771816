"""The qarvik role's checks (ansible/roles/qarvik/filter_plugins/qarvik.py): its
variables, the probe's networks, and what a run of qarvik says."""

import importlib.util
import os
import tempfile
import unittest

PLUGIN = os.path.join(os.path.dirname(__file__), "..", "..", "ansible", "roles", "qarvik",
                      "filter_plugins", "qarvik.py")
loader_spec = importlib.util.spec_from_file_location("qarvik_filters", PLUGIN)
filters = importlib.util.module_from_spec(loader_spec)
loader_spec.loader.exec_module(filters)

GOOD = {"qarvik_deb": "", "qarvik_net": "", "qarvik_mask": "", "qarvik_probes": 255,
        "qarvik_wait": 500, "qarvik_mode": "ip", "qarvik_page_days": 7, "qarvik_stale_days": 30}


def settings(**changes):
    return dict(GOOD, **changes)


class SettingProblems(unittest.TestCase):
    # (case, changed variables, the start of the one problem or None)
    CASES = [
        ("the defaults", {}, None),
        ("NetBEUI as the README spells it", {"qarvik_mode": "NetBEUI"}, None),
        ("IP in capitals", {"qarvik_mode": "IP"}, None),
        ("a misspelt mode", {"qarvik_mode": "netbios"}, "qarvik_mode must be ip or netbeui"),
        ("numbers as the inventory gives them", {"qarvik_probes": "1", "qarvik_wait": "10000"}, None),
        ("no probes", {"qarvik_probes": 0}, "qarvik_probes must be a whole number from 1 to 255"),
        ("too many probes", {"qarvik_probes": "256"}, "qarvik_probes must be"),
        ("a wait past 10000", {"qarvik_wait": 10001}, "qarvik_wait must be a whole number from 0"),
        ("a negative wait", {"qarvik_wait": "-1"}, "qarvik_wait must be"),
        ("a wait of true", {"qarvik_wait": True}, "qarvik_wait must be"),
        ("a page of no days", {"qarvik_page_days": 0}, "qarvik_page_days must be a whole number from 1"),
        ("a net of five numbers", {"qarvik_net": "10.1.2.3.4"}, "qarvik_net must be four numbers"),
        ("a net number past 255", {"qarvik_net": "10.1.256.0"}, "qarvik_net must be four numbers"),
        ("a net with a blank", {"qarvik_net": "10.1.2.0 "}, "qarvik_net must be four numbers"),
        ("a mask with a hole", {"qarvik_mask": "255.255.0.255"}, "qarvik_mask must be a mask"),
        ("a mask narrower than 255.0.0.0", {"qarvik_mask": "254.0.0.0"}, "qarvik_mask must be a mask"),
        ("a /32 mask", {"qarvik_mask": "255.255.255.255"}, None),
        ("a net and mask qarvik takes", {"qarvik_net": "010.1.2.0", "qarvik_mask": "255.255.254.0"}, None),
        ("a package on the controller", {"qarvik_deb": os.path.abspath(__file__)}, None),
        ("a package that is not there", {"qarvik_deb": "no/such.deb"},
         "qarvik_deb: no such file on the controller: " + os.path.join(os.getcwd(), "no/such.deb")),
    ]

    def test_cases(self):
        for name, changes, problem in self.CASES:
            with self.subTest(name):
                problems = filters.qarvik_setting_problems(settings(**changes))
                if problem is None:
                    self.assertEqual(problems, [])
                else:
                    self.assertEqual(len(problems), 1, problems)
                    self.assertTrue(problems[0].startswith(problem), problems[0])


SEGMENT = "2: q1    inet 198.18.1.1/24 brd 198.18.1.255 scope global q1\\       valid_lft forever"
MANAGEMENT = "3: m0    inet 198.19.0.11/24 brd 198.19.0.255 scope global m0\\       valid_lft forever"


def facts(*networks, uid=0, command="/usr/bin/qarvik"):
    lines = ["uid %d" % uid, "command " + command, "package install ok installed 2.1"]
    return filters.qarvik_probe_facts(lines + list(networks))


class ProbeCheck(unittest.TestCase):
    # (case, the probe's facts, changed variables, fail's start, warn's start)
    CASES = [
        ("its own segment", facts(SEGMENT, MANAGEMENT),
         {"qarvik_net": "198.18.1.0", "qarvik_mask": "255.255.255.240"}, "", ""),
        ("one network and no qarvik_net", facts(SEGMENT), {}, "", ""),
        ("another segment's network",
         facts(SEGMENT, MANAGEMENT), {"qarvik_net": "198.18.2.0"},
         "qarvik_net 198.18.2.0/24 is not a network of this probe; its networks: "
         "198.18.1.0/24 (q1), 198.19.0.0/24 (m0)", ""),
        ("a sweep wider than its network", facts(SEGMENT),
         {"qarvik_net": "198.18.0.0", "qarvik_mask": "255.255.0.0"},
         "qarvik_net 198.18.0.0/16 is not a network of this probe", ""),
        ("two networks and no qarvik_net", facts(SEGMENT, MANAGEMENT), {},
         "the probe has more than one IPv4 network, 198.18.1.0/24 (q1), 198.19.0.0/24 (m0):"
         " set qarvik_net", ""),
        ("NetBEUI on two networks warns, naming them", facts(SEGMENT, MANAGEMENT),
         {"qarvik_mode": "NetBEUI"}, "",
         "NetBEUI mode lists the computers of every network of the probe: 198.18.1.0/24 (q1),"
         " 198.19.0.0/24 (m0)"),
        ("a package to install and no root", facts(SEGMENT, uid=1000), {"qarvik_deb": "q.deb"},
         "installing qarvik_deb needs root on the probe, the user here has uid 1000", ""),
        ("no package and no qarvik", facts(SEGMENT, command=""), {},
         "qarvik is not installed on the probe", ""),
        ("no root without a package to install", facts(SEGMENT, uid=1000), {}, "", ""),
    ]

    def test_cases(self):
        for name, probe, changes, fail, warn in self.CASES:
            with self.subTest(name):
                check = filters.qarvik_probe_check(probe, settings(**changes))
                self.assertTrue(check["fail"].startswith(fail) and bool(check["fail"]) == bool(fail),
                                check["fail"])
                self.assertTrue(check["warn"].startswith(warn) and bool(check["warn"]) == bool(warn),
                                check["warn"])

    def test_facts_keep_each_network_once_and_no_other_line(self):
        probe = facts(SEGMENT, SEGMENT.replace("198.18.1.1/", "198.18.1.2/"), "junk inet 1.2.3.4/8 ",
                      "cached a9993e364706816aba3e25717850c26c9cd0d89d")
        self.assertEqual(probe["networks"], [{"interface": "q1", "network": "198.18.1.0", "bits": 24}])
        self.assertEqual(probe["uid"], 0)
        self.assertEqual(probe["cached"], "a9993e364706816aba3e25717850c26c9cd0d89d")

    def test_the_package_compares_with_the_probe_copy_as_sha1sum_prints_it(self):
        with tempfile.NamedTemporaryFile() as package:
            package.write(b"abc")
            package.flush()
            self.assertEqual(filters.qarvik_file_sha1(package.name), "a9993e364706816aba3e25717850c26c9cd0d89d")


def run(rc, stdout, stderr=""):
    return {"rc": rc, "stdout_lines": stdout.split("\n") if stdout else [],
            "stderr_lines": stderr.split("\n") if stderr else []}


class RunOutcome(unittest.TestCase):
    CONSOLE = "Network Address Search Utility : Qarvik.exe(R2.1)\n(Lumbrant)End  : Write Response File"
    # (case, the run's result, reason, response)
    CASES = [
        ("a run with its file", run(0, "response file YQ0K\n" + CONSOLE), "", "YQ0K"),
        ("an empty response file", run(0, "response file \n" + CONSOLE), "", ""),
        ("a wrong argument with exit 0",
         run(0, "response none\n不正なパラメータです。(/x)\n使用方法\n  既定値= 1"),
         "qarvik wrote no response file, console: 不正なパラメータです。(/x)", None),
        ("a failure with its error output and last console line",
         run(3, "response none\nline one\nGet other hosts error\n", "no route\nto host"),
         "qarvik exit status 3, error output: no route / to host, console: Get other hosts error", None),
        ("a non-zero exit with a file is a failure",
         run(3, "response file YQ0K\nGet other hosts error"),
         "qarvik exit status 3, console: Get other hosts error", None),
        ("qarvik not installed", run(127, "response none", "sh: 1: qarvik: not found"),
         "qarvik cannot be run (exit status 127), error output: sh: 1: qarvik: not found", None),
    ]

    def test_cases(self):
        for name, result, reason, response in self.CASES:
            with self.subTest(name):
                self.assertEqual(filters.qarvik_run_outcome(result),
                                 {"reason": reason, "response": response})

    def test_failure_reasons(self):
        for name, result, task, action, reason in [
            ("the run", run(1, "response none\nOSバージョン取得に失敗しました。"), "Run qarvik",
             "ansible.builtin.command", "qarvik exit status 1, console: OSバージョン取得に失敗しました。"),
            ("a check", {"msg": "cannot be reached: refused "}, "Check", "ansible.builtin.fail",
             "cannot be reached: refused"),
            ("another task", {"msg": "dpkg failed", "stderr_lines": ["E: locked"]}, "Install the package",
             "ansible.builtin.apt", "Install the package: dpkg failed, error output: E: locked"),
        ]:
            with self.subTest(name):
                self.assertEqual(filters.qarvik_failure_reason(result, task, action), reason)


class SiteProbes(unittest.TestCase):
    # (case, the probe's variables, its outcome)
    CASES = [
        ("a run with its file", {"qarvik_run": run(0, "response file YQ0K")},
         {"outcome": "ok", "reason": "", "response": "YQ0K"}),
        ("a reason its rescue kept", {"qarvik_reason": "why", "qarvik_run": run(1, "response none")},
         {"outcome": "failed", "reason": "why", "response": None}),
        ("lost on the way to the run", {"qarvik_run": {"unreachable": True, "msg": "refused "}},
         {"outcome": "unreachable", "reason": "cannot be reached: refused", "response": None}),
        ("not reached at all, its check failed", {"qarvik_probe": {"unreachable": True, "msg": "timed out"},
                                                   "qarvik_reason": "cannot be reached: timed out"},
         {"outcome": "unreachable", "reason": "cannot be reached: timed out", "response": None}),
        ("--check runs no sweep", {"qarvik_run": {"skipped": True}},
         {"outcome": "not run", "reason": "", "response": None}),
        ("never got to its run", {},
         {"outcome": "failed", "reason": "stopped before its inventory was taken", "response": None}),
    ]

    def test_outcomes(self):
        for name, host, outcome in self.CASES:
            with self.subTest(name):
                self.assertEqual(filters.qarvik_outcome(host), outcome)

    def test_every_probe_of_the_inventory_in_its_order(self):
        hostvars = {"a": {"qarvik_run": run(0, "response file YQ0K"), "qarvik_segment": "hall"},
                    "b": {"qarvik_reason": "why", "qarvik_mode": "NetBEUI", "qarvik_segment": ""},
                    "c": {"qarvik_run": run(0, "response file YQ0K")},
                    "d": {"qarvik_probe": {"unreachable": True, "msg": "refused"}}}
        self.assertEqual(filters.qarvik_site_probes(["c", "a", "b", "d"], hostvars, ["a", "b", "d"]), [
            {"name": "c", "segment": "c", "mode": "ip", "outcome": "not run", "reason": ""},
            {"name": "a", "segment": "hall", "mode": "ip", "outcome": "ok", "reason": "", "response": "YQ0K"},
            {"name": "b", "segment": "b", "mode": "netbeui", "outcome": "failed", "reason": "why"},
            {"name": "d", "segment": "d", "mode": "ip", "outcome": "unreachable",
             "reason": "cannot be reached: refused"},
        ])
        self.assertEqual(filters.qarvik_failed_probes(["a", "b", "d"], hostvars), ["b failed", "d unreachable"])


class ControllerPath(unittest.TestCase):
    def test_relative_to_the_current_directory(self):
        self.assertEqual(filters.qarvik_controller_path("build/q.deb"), os.path.join(os.getcwd(), "build/q.deb"))
        self.assertEqual(filters.qarvik_controller_path("/x/../q.deb"), "/q.deb")


if __name__ == "__main__":
    unittest.main()
