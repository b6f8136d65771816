"""Filters of the qarvik role: the checks of its variables, of the probe's
networks and of qarvik's run, in Python rather than in Jinja."""

import hashlib
import os
import re

NUMBER_RANGES = {"qarvik_probes": (1, 255), "qarvik_wait": (0, 10000),
                 "qarvik_page_days": (1, 3660), "qarvik_stale_days": (1, 36600)}
MODES = ("ip", "netbeui")
# The outcomes of a probe that gave no inventory in this run.
NO_INVENTORY = ("failed", "unreachable")
# The first words of qarvik's wrong-argument line, as UTF-8 after the probe
# converted its console output from code page 932.
WRONG_ARGUMENT = "不正なパラメータです。"
CONTROL_CHARACTER = re.compile("[\x00-\x1f\x7f-\x9f]")
INTERFACE_LINE = re.compile(r"^\d+:\s+(\S+)\s+inet\s+(\d+\.\d+\.\d+\.\d+)/(\d+)\s")


def dotted_quad(text):
    """The address as a number, or None: four decimal numbers 0 to 255."""
    parts = str(text).split(".")
    if len(parts) != 4 or not all(part.isdigit() and part.isascii() for part in parts):
        return None
    numbers = [int(part) for part in parts]
    if any(number > 255 for number in numbers):
        return None
    return (numbers[0] << 24) | (numbers[1] << 16) | (numbers[2] << 8) | numbers[3]


def mask_bits(text):
    """The prefix length of a mask qarvik sweeps (ones, then zeros, at
    least eight ones), or None."""
    mask = dotted_quad(text)
    if mask is None:
        return None
    host_bits = ~mask & 0xFFFFFFFF
    if host_bits & (host_bits + 1) or mask >> 24 != 0xFF:
        return None
    return 32 - host_bits.bit_length()


def dotted(number):
    return ".".join(str((number >> shift) & 255) for shift in (24, 16, 8, 0))


def whole_number(value):
    if isinstance(value, bool):
        return None
    if isinstance(value, int):
        return value
    text = str(value).strip()
    return int(text) if text.isdigit() and text.isascii() else None


def qarvik_setting_problems(settings):
    """What is wrong in the role's variables, one sentence each; the
    package must be a file on the controller."""
    problems = []
    for name, (low, high) in NUMBER_RANGES.items():
        number = whole_number(settings.get(name))
        if number is None or not low <= number <= high:
            problems.append("%s must be a whole number from %d to %d, not %r"
                            % (name, low, high, settings.get(name)))
    mode = settings.get("qarvik_mode")
    if not isinstance(mode, str) or mode.lower() not in MODES:
        problems.append("qarvik_mode must be ip or netbeui (in any case), not %r" % (mode,))
    net = settings.get("qarvik_net") or ""
    if net and dotted_quad(net) is None:
        problems.append("qarvik_net must be four numbers 0 to 255 with dots, not %r" % net)
    mask = settings.get("qarvik_mask") or ""
    if mask and mask_bits(mask) is None:
        problems.append("qarvik_mask must be a mask of ones, then zeros, from 255.0.0.0"
                        " to 255.255.255.255, not %r" % mask)
    if settings.get("qarvik_deb") and not os.path.isfile(qarvik_controller_path(settings["qarvik_deb"])):
        problems.append("qarvik_deb: no such file on the controller: %s"
                        % qarvik_controller_path(settings["qarvik_deb"]))
    return problems


def qarvik_controller_path(path):
    """A path as the admin typed it: relative to the directory the command
    was run in (ansible-playbook does not change it)."""
    return os.path.abspath(os.path.expanduser(str(path)))


def qarvik_probe_facts(lines):
    """What the probe's first task printed: "uid N", "command PATH",
    "package STATUS", "cached SHA1", then `ip -o -4 addr show scope global`
    lines."""
    facts = {"uid": None, "command": "", "package": "", "cached": "", "networks": []}
    for line in lines:
        key, _, value = line.partition(" ")
        if key in ("uid", "command", "package", "cached"):
            facts[key] = int(value) if key == "uid" and value.isdigit() else value.strip()
            continue
        match = INTERFACE_LINE.match(line)
        if match and dotted_quad(match.group(2)) is not None and int(match.group(3)) <= 32:
            address, bits = dotted_quad(match.group(2)), int(match.group(3))
            network = address >> (32 - bits) << (32 - bits) if bits else 0
            entry = {"interface": match.group(1), "network": dotted(network), "bits": bits}
            if entry not in facts["networks"]:
                facts["networks"].append(entry)
    return facts


def network_names(networks):
    return ", ".join("%s/%d (%s)" % (n["network"], n["bits"], n["interface"]) for n in networks)


def segment_problem(facts, net, mask, netbeui):
    """Why the probe cannot sweep what it is asked to, or ""."""
    networks = facts["networks"]
    if not net:
        if netbeui or len(networks) <= 1:
            return ""
        return ("the probe has more than one IPv4 network, %s: set qarvik_net (and"
                " qarvik_mask) to the segment to sweep" % network_names(networks))
    bits = mask_bits(mask) if mask else 24
    sweep = dotted_quad(net) >> (32 - bits) << (32 - bits)
    for network in networks:
        own = network["bits"]
        if own <= bits and sweep >> (32 - own) == dotted_quad(network["network"]) >> (32 - own):
            return ""
    return ("qarvik_net %s/%d is not a network of this probe; its networks: %s"
            % (dotted(sweep), bits, network_names(networks) or "none"))


def qarvik_probe_check(facts, settings):
    """{"fail": reason or "", "warn": text or ""} for the probe before it
    runs qarvik: the package, the user, the segment."""
    netbeui = str(settings.get("qarvik_mode", "")).lower() == "netbeui"
    warn = ""
    if settings.get("qarvik_deb") and facts["uid"] != 0:
        fail = ("installing qarvik_deb needs root on the probe, the user here has uid %s:"
                " connect as root or set ansible_become=true" % facts["uid"])
    elif not settings.get("qarvik_deb") and not facts["command"]:
        fail = "qarvik is not installed on the probe: set qarvik_deb to the package to install"
    else:
        fail = segment_problem(facts, settings.get("qarvik_net") or "",
                               settings.get("qarvik_mask") or "", netbeui)
    if not fail and netbeui and len(facts["networks"]) > 1:
        warn = ("NetBEUI mode lists the computers of every network of the probe: %s"
                % network_names(facts["networks"]))
    return {"fail": fail, "warn": warn}


def qarvik_file_sha1(path):
    """The SHA-1 of a file on the controller, as sha1sum prints it."""
    digest = hashlib.sha1()
    with open(qarvik_controller_path(path), "rb") as file:
        for block in iter(lambda: file.read(1 << 16), b""):
            digest.update(block)
    return digest.hexdigest()


def qarvik_run_outcome(result):
    """{"reason": why the run failed or "", "response": the response file
    in base64} from the run task's result: its first line is "response
    file" and the file in base64 ("response none" when there is none), then
    qarvik's console output; its error output is qarvik's."""
    lines = list(result.get("stdout_lines") or [])
    first = lines.pop(0) if lines else ""
    response = first[len("response file"):].strip() if first.startswith("response file") else None
    console = [line.strip() for line in lines if line.strip()]
    errors = " / ".join(line.strip() for line in result.get("stderr_lines") or [] if line.strip())
    status = result.get("rc")
    if status == 0 and response is not None:
        return {"reason": "", "response": response}
    wrong = [line for line in console if line.startswith(WRONG_ARGUMENT)]
    if status == 0:
        cause = "qarvik wrote no response file"
    elif status == 127:
        cause = "qarvik cannot be run (exit status 127)"
    else:
        cause = "qarvik exit status %s" % status
    parts = [cause]
    if errors:
        parts.append("error output: " + errors)
    if wrong or console:
        parts.append("console: " + (wrong[0] if wrong else console[-1]))
    return {"reason": ", ".join(parts), "response": None}


def qarvik_failure_reason(result, task_name, action):
    """The reason a probe failed, from the task that failed and its result."""
    lines = result.get("stdout_lines") or []
    if lines and str(lines[0]).startswith("response "):
        return qarvik_run_outcome(result)["reason"]
    message = str(result.get("msg") or "failed").strip()
    if action in ("fail", "ansible.builtin.fail"):
        return message
    errors = " / ".join(line.strip() for line in result.get("stderr_lines") or [] if line.strip())
    return "%s: %s%s" % (task_name, message, ", error output: " + errors if errors else "")


# The first and the last task on the probe: a probe lost between them is
# lost to the run too (the block goes on past tasks that cannot reach it).
PROBE_RESULTS = ("qarvik_probe", "qarvik_run")


def unreachable_message(host):
    """Why the probe could not be reached, or None when it was."""
    for name in PROBE_RESULTS:
        result = host.get(name)
        if isinstance(result, dict) and result.get("unreachable"):
            return str(result.get("msg") or "").strip()
    return None


def qarvik_outcome(host):
    """{"outcome", "reason", "response"} of a probe of this run, from its
    variables: "unreachable" when a task could not reach it (qarvik never
    ran), else the reason its block's rescue kept ("failed"), or the run's
    result: skipped (--check: "not run"), or the response file ("ok")."""
    lost = unreachable_message(host)
    if lost is not None:
        return {"outcome": "unreachable", "reason": "cannot be reached: " + lost, "response": None}
    reason = host.get("qarvik_reason")
    run = host.get("qarvik_run")
    if not reason and not run:
        reason = "stopped before its inventory was taken"
    elif not reason and run.get("skipped"):
        return {"outcome": "not run", "reason": "", "response": None}
    elif not reason:
        outcome = qarvik_run_outcome(run)
        if not outcome["reason"]:
            return {"outcome": "ok", "reason": "", "response": outcome["response"]}
        reason = outcome["reason"]
    return {"outcome": "failed", "reason": reason, "response": None}


def qarvik_failed_probes(play_hosts, hostvars):
    """The probes of this run that gave no inventory, each with its outcome:
    "probe1 unreachable", "probe2 failed"."""
    outcomes = [(name, qarvik_outcome(hostvars[name])["outcome"]) for name in play_hosts]
    return ["%s %s" % (name, outcome) for name, outcome in outcomes if outcome in NO_INVENTORY]


def qarvik_site_probes(inventory, hostvars, play_hosts):
    """Every probe of the inventory, in its order, for files/site_results.py:
    its segment (qarvik_segment, else its name) and mode, its outcome in
    this run ("not run" when the run left it out), the reason of a failure
    and the response file of a success."""
    probes = []
    for name in inventory:
        host = hostvars[name]
        where = {"name": name, "segment": str(host.get("qarvik_segment") or name),
                 "mode": str(host.get("qarvik_mode") or "ip").lower()}
        if name not in play_hosts:
            probes.append(dict(where, outcome="not run", reason=""))
            continue
        probe = dict(qarvik_outcome(host), **where)
        if probe["response"] is None:
            del probe["response"]
        probes.append(probe)
    return probes


def qarvik_unit_problems(values):
    """What cannot go into a systemd unit, one sentence each: a value (or an
    item of a list of them) holding a control character, such as a newline
    that would end its line and start a directive of its own."""
    problems = []
    for name, value in values.items():
        for item in value if isinstance(value, list) else [value]:
            control = CONTROL_CHARACTER.search(str(item))
            if control:
                problems.append("%s holds a control character (U+%04X), which a unit file cannot take: %r"
                                % (name, ord(control.group()), item))
    return problems


class FilterModule:
    def filters(self):
        return {
            "qarvik_setting_problems": qarvik_setting_problems,
            "qarvik_controller_path": qarvik_controller_path,
            "qarvik_probe_facts": qarvik_probe_facts,
            "qarvik_file_sha1": qarvik_file_sha1,
            "qarvik_probe_check": qarvik_probe_check,
            "qarvik_run_outcome": qarvik_run_outcome,
            "qarvik_failure_reason": qarvik_failure_reason,
            "qarvik_site_probes": qarvik_site_probes,
            "qarvik_outcome": qarvik_outcome,
            "qarvik_failed_probes": qarvik_failed_probes,
            "qarvik_unit_problems": qarvik_unit_problems,
        }
