"""Writes the Debian packages' changelog from CHANGELOG.md: the section of one
version becomes one entry, each face ("### lzs") a "[ lzs ]" block and each
bullet an item, wrapped to 78 columns, with the Markdown code marks taken out.

    changelog.py CHANGELOG.md VERSION MAINTAINER DATE OUTPUT
"""
import re
import sys
import textwrap


def blocks(section):
    """The faces of one version's section, each with its bullets as one line."""
    faces = []
    for line in section.splitlines():
        if line.startswith("### "):
            faces.append((line[4:].strip(), []))
        elif line.startswith("- "):
            faces[-1][1].append(line[2:].strip())
        elif line.startswith("  ") and faces and faces[-1][1]:
            faces[-1][1][-1] += " " + line.strip()
    return faces


def main(source, version, maintainer, date, output):
    text = open(source, encoding="utf-8").read()
    section = re.search(rf"^## {re.escape(version)}\b[^\n]*\n(.*?)(?=^## |\Z)", text, re.M | re.S)
    if section is None:
        sys.exit(f"{source} has no section for version {version}")
    lines = [f"lzs-unpack ({version}) unstable; urgency=medium"]
    for face, bullets in blocks(section[1]):
        lines += ["", f"  [ {face} ]"]
        for bullet in bullets:
            lines.append(textwrap.fill(bullet.replace("`", ""), width=78, initial_indent="  * ",
                                       subsequent_indent="    ", break_long_words=False,
                                       break_on_hyphens=False))
    lines += ["", f" -- {maintainer}  {date}", ""]
    with open(output, "w", encoding="utf-8") as out:
        out.write("\n".join(lines))


if __name__ == "__main__":
    main(*sys.argv[1:])
