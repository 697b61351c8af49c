#!/usr/bin/env python3
"""Keeps the documents true to each other and to the checker.

- Every relative link of README.md and docs/*.md resolves: its file exists and, where it names a
  heading (#anchor), that heading is in the file, by GitHub's rule for anchors.
- Every option of the checker that the admins' documents name is one `vesperline-check --help`
  lists, and every option --help lists is explained in docs/troubleshooting.md; --help itself
  fits one screen.
- The README's install steps and the archive's INSTALL.txt agree: as many steps, and every name,
  path and value the README's steps quote stands in INSTALL.txt too.

Usage: check_docs.py SOURCE_DIR CHECKER_PROGRAM
"""
import pathlib
import re
import subprocess
import sys
import unicodedata

# The documents an admin reads, which name the checker's options.
ADMIN_DOCUMENTS = ["README.md", "docs/admins.md", "docs/troubleshooting.md", "docs/linux.md",
                   "packaging/INSTALL.txt", "packaging/README-linux-checker.txt"]

# Options of other programs that the admins' documents quote, and the program's name, which must
# stand on the same line.
OTHER_PROGRAMS = {
    "--pid": "docker", "--mount-proc": "unshare", "--fork": "unshare", "--volume": "docker",
    "--user": "docker", "--reuid": "setpriv", "--regid": "setpriv", "--init-groups": "setpriv",
    "--build": "cmake",
}

LINK = re.compile(r"(?<!!)\[[^\]]*\]\(([^)\s]+)\)")
FENCE = re.compile(r"^(```|~~~)")
OPTION = re.compile(r"(?<![\w-])--[a-z][a-z0-9-]*[a-z0-9]")


def without_fenced_blocks(text):
    """The lines of a Markdown text outside ``` blocks; the blocks' lines become empty."""
    out, inside = [], False
    for line in text.split("\n"):
        if FENCE.match(line.strip()):
            inside = not inside
            out.append("")
            continue
        out.append("" if inside else line)
    return out


def anchor(heading):
    """GitHub's anchor of a heading: its text without markup, lowered, each character that is no
    letter, mark, digit, connector, '-' or blank dropped, blanks made '-'."""
    text = re.sub(r"`([^`]*)`", r"\1", heading)
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text).strip().lower()
    kept = "".join(c for c in text
                   if c in "- " or unicodedata.category(c)[0] in "LMN" or unicodedata.category(c) == "Pc")
    return kept.replace(" ", "-")


def anchors(path):
    found, seen = set(), {}
    for line in without_fenced_blocks(path.read_text(encoding="utf-8")):
        match = re.match(r"^#{1,6}\s+(.*?)\s*#*\s*$", line)
        if not match:
            continue
        base = anchor(match.group(1))
        count = seen.get(base, 0)
        seen[base] = count + 1
        found.add(base if count == 0 else f"{base}-{count}")
    return found


def broken_links(root):
    problems = []
    for document in [root / "README.md", *sorted((root / "docs").glob("*.md"))]:
        for number, line in enumerate(without_fenced_blocks(document.read_text(encoding="utf-8")), 1):
            for target in LINK.findall(line):
                if re.match(r"^[a-z][a-z0-9+.-]*:", target):
                    continue  # http:, https:, mailto:
                file_part, _, fragment = target.partition("#")
                linked = (document.parent / file_part).resolve() if file_part else document
                where = f"{document.relative_to(root)}:{number}: {target}"
                if not linked.exists():
                    problems.append(f"{where}: no such file")
                elif fragment and linked.suffix == ".md" and fragment not in anchors(linked):
                    problems.append(f"{where}: no heading with that anchor in {linked.name}")
    return problems


def help_options(checker):
    text = subprocess.run([checker, "--help"], capture_output=True, text=True, check=True).stdout
    options = set()
    for line in text.splitlines():
        match = re.match(r"^\s+(?:-\w,\s+)?(--[a-z][a-z0-9-]*)", line)
        if match:
            options.add(match.group(1))
    return text, options


def option_problems(root, checker):
    text, listed = help_options(checker)
    problems = []
    if not listed:
        problems.append("--help lists no option")
    # One screen: a console window of 50 lines by 120 columns shows it whole.
    lines = text.rstrip("\n").split("\n")
    if len(lines) > 45 or max(len(line) for line in lines) > 100:
        problems.append(f"--help does not fit one screen: {len(lines)} lines, the longest "
                        f"{max(len(line) for line in lines)} characters")
    for name in ADMIN_DOCUMENTS:
        path = root / name
        if not path.exists():
            problems.append(f"{name}: missing")
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8").split("\n"), 1):
            for option in OPTION.findall(line):
                if option in listed:
                    continue
                program = OTHER_PROGRAMS.get(option)
                if program and program in line:
                    continue
                problems.append(f"{name}:{number}: {option} is no option of the checker's --help")
    troubleshooting = (root / "docs" / "troubleshooting.md").read_text(encoding="utf-8")
    for option in sorted(listed):
        if f"`{option}" not in troubleshooting:
            problems.append(f"docs/troubleshooting.md does not explain {option}, which --help lists")
    return problems


def install_problems(root):
    readme = without_fenced_blocks((root / "README.md").read_text(encoding="utf-8"))
    start = next(i for i, line in enumerate(readme) if line.startswith("## Install"))
    end = next(i for i in range(start + 1, len(readme)) if readme[i].startswith("## "))
    section = "\n".join(readme[start:end])
    # The build fills in the archive's name and the version.
    install = (root / "packaging" / "INSTALL.txt").read_text(encoding="utf-8")
    install = install.replace("@package_file@", "Vesperline-<version>-win64")
    install = install.replace("@PROJECT_VERSION@", "<version>")
    flat_install = " ".join(install.split())
    problems = []
    readme_steps = re.findall(r"^\d+\. ", section, re.M)
    install_part = install.split("\nFirst installation", 1)[-1].split("\n\n", 1)[0]
    install_steps = re.findall(r"^\s+\d+\. ", install_part, re.M)
    if len(readme_steps) != len(install_steps):
        problems.append(f"the README's install has {len(readme_steps)} steps, INSTALL.txt's "
                        f"first installation {len(install_steps)}")
    for quoted in re.findall(r"`([^`]+)`", section.replace("\n", " ")):
        if " ".join(quoted.split()) not in flat_install:
            problems.append(f"the README's install steps quote {quoted!r}, which INSTALL.txt lacks")
    return problems


def self_test():
    """The checks find what they are for, in a small tree of documents made to break them."""
    import tempfile
    with tempfile.TemporaryDirectory() as scratch:
        root = pathlib.Path(scratch)
        (root / "docs").mkdir()
        (root / "packaging").mkdir()
        (root / "README.md").write_text(
            "# T\n## Install (admins)\n1. Copy `a.json`.\n2. Run `b`.\n\n## Next\n"
            "[ok](docs/admins.md#the---options) [gone](docs/none.md) [bad](docs/admins.md#nope)\n"
            "```\n[not a link](nowhere.md) --in-a-block\n```\n", encoding="utf-8")
        (root / "docs" / "admins.md").write_text("# A\n## The `--options`?\nuse --json\n",
                                                 encoding="utf-8")
        (root / "docs" / "troubleshooting.md").write_text("`--json` and --post\n",
                                                          encoding="utf-8")
        (root / "packaging" / "INSTALL.txt").write_text(
            "First installation\n  1. Copy a.json.\n", encoding="utf-8")
        checker = root / "checker"
        checker.write_text("#!/bin/sh\necho '  --json   All.'\necho '  -h, --help   This.'\n")
        checker.chmod(0o755)
        (root / "docs" / "linux.md").write_text("run --nope, or docker --pid=host\nnot --pid\n",
                                                encoding="utf-8")
        (root / "packaging" / "README-linux-checker.txt").write_text("--json\n", encoding="utf-8")
        found = broken_links(root) + install_problems(root) + option_problems(root, str(checker))
        expected = ["README.md:7: docs/none.md: no such file",
                    "README.md:7: docs/admins.md#nope: no heading with that anchor in admins.md",
                    "the README's install has 2 steps, INSTALL.txt's first installation 1",
                    "the README's install steps quote 'b', which INSTALL.txt lacks",
                    "README.md:9: --in-a-block is no option of the checker's --help",
                    "docs/admins.md:2: --options is no option of the checker's --help",
                    "docs/troubleshooting.md:1: --post is no option of the checker's --help",
                    "docs/linux.md:1: --nope is no option of the checker's --help",
                    "docs/linux.md:2: --pid is no option of the checker's --help",
                    "docs/troubleshooting.md does not explain --help, which --help lists"]
        assert found == expected, found
        assert anchor("Did it work? Ask it: `--post`") == "did-it-work-ask-it---post"
        assert OPTION.findall("x --json, --post-it --a --b2 ---c") == ["--json", "--post-it", "--b2"]
    print("self-test passed")
    return 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    root = pathlib.Path(sys.argv[1]).resolve()
    problems = broken_links(root) + option_problems(root, sys.argv[2]) + install_problems(root)
    for problem in problems:
        print(problem)
    print(f"{len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
