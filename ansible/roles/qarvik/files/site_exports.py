"""The files of the results folder, each an export of site.db.

Every file is written whole: its new bytes go to a temporary file beside it
first (staged), and only once the run's transaction has committed does each
take its name (published). A file whose bytes are already there is not
staged. Should anything fail before the commit, discard() removes what was
staged, and the folder is as it was.
"""

import csv
import hashlib
import io
import os
import tempfile

ENCODINGS = ("utf-8", "utf-8-sig", "cp932")
SITE_HEADER = ["probe", "name", "address", "mac", "vendor"]
PROBES_HEADER = ["probe", "outcome", "last_good", "reason"]
CHANGES_HEADER = ["event", "probe", "name", "address", "mac", "previous", "time"]
HOSTS_HEADER = ["probe", "segment", "name", "address", "mac", "vendor", "first_seen", "last_seen", "present"]
# Characters an inventory name keeps in its file name under probes/; any
# other (a slash, a control character, a percent sign, a leading dot) is
# written as %XX of its UTF-8 bytes, so two names never share a file.
FILE_NAME_MARKS = "-_."
LONGEST_FILE_NAME = 200


def probe_file_name(probe):
    """The file name of a probe's response file under probes/."""
    parts = []
    for index, char in enumerate(probe):
        if char.isalnum() or (char in FILE_NAME_MARKS and not (index == 0 and char == ".")):
            parts.append(char)
        else:
            parts.append("".join("%%%02X" % byte for byte in char.encode("utf-8")))
    name = "".join(parts)
    if len(name.encode("utf-8")) > LONGEST_FILE_NAME:
        digest = hashlib.sha1(probe.encode("utf-8")).hexdigest()[:12]
        name = name.encode("utf-8")[:LONGEST_FILE_NAME - 13].decode("utf-8", "ignore") + "~" + digest
    return name + ".csv"


def csv_text(header, rows):
    """RFC 4180 text with CR LF line ends."""
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\r\n")
    writer.writerow(header)
    writer.writerows(rows)
    return out.getvalue()


def encode(text, encoding):
    """(bytes, how many characters the character set lacks, written as ?)."""
    try:
        return text.encode(encoding), 0
    except UnicodeEncodeError:
        pass
    data = text.encode(encoding, errors="replace")
    lost = sum(1 for char in text if not _encodable(char, encoding))
    return data, lost


def _encodable(char, encoding):
    try:
        char.encode(encoding)
        return True
    except UnicodeEncodeError:
        return False


def read_bytes(path):
    try:
        with open(path, "rb") as file:
            return file.read()
    except FileNotFoundError:
        return None


class Staging:
    """The files a run writes, staged beside their places until published."""

    def __init__(self, results):
        self.results = results
        self.staged = []  # (temporary path, final path)
        self.made_folders = []
        self.lost = {}  # file name: characters written as ?
        self.published = []  # the files replaced, relative to the folder

    def stage(self, relative, data):
        """Stages data as RESULTS/relative when its bytes differ; True then."""
        path = os.path.join(self.results, relative)
        if read_bytes(path) == data:
            return False
        folder, base = os.path.split(path)
        if not os.path.isdir(folder):
            os.mkdir(folder)
            self.made_folders.append(folder)
        fd, temporary = tempfile.mkstemp(dir=folder, prefix="." + base + ".")
        self.staged.append((temporary, path))
        umask = os.umask(0)
        os.umask(umask)
        os.fchmod(fd, 0o666 & ~umask)
        with os.fdopen(fd, "wb") as file:
            file.write(data)
            file.flush()
            os.fsync(file.fileno())
        return True

    def stage_csv(self, relative, header, rows, encoding):
        # utf-8-sig starts with a byte order mark, for spreadsheets.
        data, lost = encode(csv_text(header, rows), encoding)
        if lost:
            self.lost[relative] = lost
        return self.stage(relative, data)

    def publish(self):
        """Each staged file takes its name."""
        for temporary, path in self.staged:
            os.replace(temporary, path)
            self.published.append(os.path.relpath(path, self.results))
        self.staged = []

    def discard(self):
        """Removes every staged file and every folder made for them."""
        for temporary, _ in self.staged:
            try:
                os.unlink(temporary)
            except FileNotFoundError:
                pass
        for folder in reversed(self.made_folders):
            try:
                os.rmdir(folder)
            except OSError:
                pass
        self.staged = []
        self.made_folders = []
