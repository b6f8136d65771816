"""The maker of a MAC, from the IEEE registries as Debian's ieee-data ships
them in /usr/share/ieee-data: MA-S (36-bit prefixes), MA-M (28-bit) and
MA-L (24-bit), the longest prefix first, since a block of MA-L is divided
into MA-M and MA-S assignments of other makers.

    vendor_of("00-1b-21-3a-4f-02") -> "Intel Corporate"
"""

import csv
import os

IEEE_DATA = "/usr/share/ieee-data"
# (file, hex digits of its prefixes), longest prefix first.
REGISTRIES = (("oui36.csv", 9), ("mam.csv", 7), ("oui.csv", 6))
LOCAL = "locally administered"
MISSING = ("vendors: %s has no IEEE registries, the vendor column stays empty"
           " (Debian package ieee-data)")

_tables = {}


def registry(folder=None):
    """{hex digits: maker} of every registry found in folder (ieee-data's
    unless given; loaded once); empty without ieee-data."""
    folder = folder or IEEE_DATA
    if folder not in _tables:
        table = {}
        for file, digits in REGISTRIES:
            try:
                with open(os.path.join(folder, file), newline="", encoding="utf-8", errors="replace") as f:
                    for row in csv.reader(f):
                        # Registry,Assignment,Organization Name,Organization Address
                        if len(row) >= 3 and len(row[1]) == digits:
                            table.setdefault(row[1].upper(), row[2].strip())
            except OSError:
                continue
        _tables[folder] = table
    return _tables[folder]


def mac_digits(mac):
    """The 12 hex digits of a MAC in any usual form, upper case; '' for what
    is not one."""
    digits = "".join(c for c in str(mac) if c not in "-:. ").upper()
    if len(digits) != 12 or any(c not in "0123456789ABCDEF" for c in digits):
        return ""
    return digits


def vendor_of(mac, folder=None):
    """The maker registered for the MAC's prefix; "locally administered" for
    a MAC its holder chose (a phone's random one, a virtual machine's); ''
    when unknown, not a MAC, or without ieee-data."""
    digits = mac_digits(mac)
    if not digits:
        return ""
    if int(digits[:2], 16) & 0x02:
        return LOCAL
    table = registry(folder)
    for _, length in REGISTRIES:
        maker = table.get(digits[:length])
        if maker:
            return maker
    return ""


def available(folder=None):
    return bool(registry(folder))
