"""What changed on the site between runs: the events, told from the rows of
this run's site and those of the runs site.db keeps.

A row is Row(probe, segment, name, address, mac), text. A host is a host of
one segment: its address (in a NetBEUI row, which has none, its NetBIOS
name) with its MAC; rows of different segments are never one host.
"""

import collections

Row = collections.namedtuple("Row", "probe segment name address mac")
EVENT_ORDER = ["new", "gone", "changed mac", "flip flop", "renamed", "back"]
ALERT_EVENTS = {"new", "changed mac", "flip flop"}
ANY_MAC = None  # in a set of pairs: the address was there, with some MAC or none


def station(row):
    """Where a host answers: its address on its segment, or its NetBIOS
    name where the row has no address."""
    return (row.segment, "address", row.address) if row.address else (row.segment, "name", row.name)


def pair(row):
    """The host of a row: where it answers and its MAC."""
    return (station(row), row.mac)


def known(rows):
    """The pairs of rows, and each station with ANY_MAC."""
    pairs = {pair(row) for row in rows}
    return pairs | {(where, ANY_MAC) for where, _ in pairs}


def seen(pairs, row):
    """Whether the runs whose known() pairs these are saw the host of the row.
    A row without a MAC (a name resolved, no ARP entry) is seen wherever its
    station is; a row with one, also where its station had no MAC."""
    where, mac = pair(row)
    if not mac:
        return (where, ANY_MAC) in pairs
    return (where, mac) in pairs or (where, "") in pairs


def compare(current, previous, older_pairs, all_pairs, outcomes):
    """The events, (kind, row, previous value), between the previous run's
    rows and this run's, in the order of this run's rows, the gone ones
    last.

    older_pairs: known() of the kept runs before the previous one (a MAC
    that comes back to one of them is a flip flop); all_pairs: known() of
    every kept run (a host none saw is new; one the previous run missed is
    back); outcomes: each probe's outcome in this run (only a probe whose
    run succeeded can tell a host is gone).
    """
    previous_pairs = {pair(row) for row in previous}
    previous_known = known(previous)
    current_known = known(current)
    previous_mac = {station(row): row.mac for row in previous if row.mac}
    previous_name = {}
    for row in previous:
        previous_name.setdefault(pair(row), row.name)
    events = []
    moved = set()  # stations whose MAC changed: their old pair is not gone
    for row in current:
        old_mac = previous_mac.get(station(row), "")
        if row.mac and old_mac and old_mac != row.mac:
            events.append(("flip flop" if pair(row) in older_pairs else "changed mac", row, old_mac))
            moved.add(station(row))
        elif not seen(all_pairs, row):
            events.append(("new", row, ""))
        elif not seen(previous_known, row):
            events.append(("back", row, ""))
        elif pair(row) in previous_pairs and previous_name[pair(row)] != row.name:
            events.append(("renamed", row, previous_name[pair(row)]))
    for row in previous:
        if outcomes.get(row.probe) == "ok" and station(row) not in moved and not seen(current_known, row):
            events.append(("gone", row, ""))
    return events


def summary(host_count, events, first_run):
    counts = ["%d %s" % (sum(1 for e in events if e[0] == kind), kind) for kind in EVENT_ORDER
              if any(e[0] == kind for e in events)]
    if first_run:
        counts = ["first run, nothing to compare with"]
    elif not counts:
        counts = ["no changes"]
    hosts = "%d host%s" % (host_count, "" if host_count == 1 else "s")
    return ", ".join(["site: " + hosts] + counts)


def event_line(kind, row, previous):
    line = "%s: %s %s %s (%s)" % (kind, row.name, row.address or "-", row.mac or "(no MAC)", row.probe)
    return line + (", was " + previous if previous else "")


def alerted_probes(events):
    """The probes of the events worth an alert, each once, in order."""
    return list(dict.fromkeys(row.probe for kind, row, _ in events if kind in ALERT_EVENTS))
