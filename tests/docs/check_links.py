#!/usr/bin/env python3
"""Checks the relative links of the README and docs/: each names a file that
exists and, with a #anchor, a heading of that file as GitHub anchors it.

    tests/docs/check_links.py [ROOT]

Prints one line per broken link and exits 1 when there is any."""
import pathlib
import re
import sys

LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
HEADING = re.compile(r"^#{1,6}\s+(.*?)\s*#*\s*$")


def prose_lines(text, keep_code=False):
    """The lines outside fenced code blocks, inline code spans blanked unless kept."""
    fenced = False
    for number, line in enumerate(text.splitlines(), 1):
        if line.lstrip().startswith("```"):
            fenced = not fenced
            continue
        if not fenced:
            yield number, line if keep_code else re.sub(r"`[^`]*`", "", line)


def anchor(heading):
    """GitHub's anchor of a heading: lower case, punctuation dropped, blanks to '-'."""
    text = re.sub(r"[^\w\- ]", "", heading.replace("`", "").lower())
    return text.replace(" ", "-")


def anchors(path):
    """Every anchor of a Markdown file, a repeated heading numbered as GitHub does."""
    seen = {}
    found = set()
    for _, line in prose_lines(path.read_text(encoding="utf-8"), keep_code=True):
        match = HEADING.match(line)
        if not match:
            continue
        base = anchor(match.group(1))
        count = seen.get(base, 0)
        seen[base] = count + 1
        found.add(base if count == 0 else "%s-%d" % (base, count))
    return found


def broken_links(path, root):
    """(line, link, reason) for each relative link of path that leads nowhere."""
    for number, line in prose_lines(path.read_text(encoding="utf-8")):
        for target in LINK.findall(line):
            if re.match(r"[a-z][a-z0-9+.-]*:", target):
                continue  # http:, mailto: and the like are not checked here
            file_part, _, fragment = target.partition("#")
            linked = (path.parent / file_part).resolve() if file_part else path
            if not linked.is_file():
                yield number, target, "no such file"
            elif root not in linked.parents:
                yield number, target, "outside the repository"
            elif fragment and (linked.suffix != ".md" or fragment not in anchors(linked)):
                yield number, target, "no such heading"


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    files = [root / "README.md"] + sorted((root / "docs").glob("*.md"))
    failures = 0
    for path in files:
        for number, target, reason in broken_links(path, root):
            print("%s:%d: %s: %s" % (path.relative_to(root), number, target, reason))
            failures += 1
    print("links of %d files: %d broken" % (len(files), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
