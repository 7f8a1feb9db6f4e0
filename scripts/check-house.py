#!/usr/bin/env python3
"""Checks the house rules a reader can count:
  - no file in include/, sources/ or examples/ over 450 lines;
  - no folder of sources/ with more than 14 files;
  - every header of include/ that another header of include/ includes is used there: the includer
    names at least one thing the included header declares;
  - no two headers of sources/ define a class of one name: Zelvan::sources links every room into one
    library, where two layouts under one name break the code the compiler made for either.
Prints each breach on a line of its own and exits 1 when there is one.
  scripts/check-house.py [source directory, default: this script's project]"""
import os
import re
import sys

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
MAX_LINES = 450
MAX_FILES = 14
CODE = (".h", ".hpp", ".c", ".cpp")
breaches = []


def relative(path):
    return os.path.relpath(path, root)


def code_files(top):
    for folder, _, names in os.walk(os.path.join(root, top)):
        for name in sorted(names):
            if name.endswith(CODE):
                yield os.path.join(folder, name)


for top in ("include", "sources", "examples"):
    for path in code_files(top):
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = sum(1 for _ in f)
        if lines > MAX_LINES:
            breaches.append(f"{relative(path)}: {lines} lines, over {MAX_LINES}")

for folder, _, names in os.walk(os.path.join(root, "sources")):
    if len(names) > MAX_FILES:
        breaches.append(f"{relative(folder)}/: {len(names)} files, over {MAX_FILES}")


def without_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", " ", text)
    return re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)


DECLARED = [
    r"\b(?:struct|class|union)\s+(?:ZELVAN_API\s+)?(\w+)\s*(?:final\s*)?[:{]",
    r"\benum\s+(?:class\s+)?(\w+)",
    r"\busing\s+(\w+)\s*=",
    r"^\s*#\s*define\s+(\w+)",
    r"\b(\w+)\s*\([^;{)]*\)\s*(?:const\s*)?(?:noexcept\s*)?\{",  # functions defined here
    r"\b(\w+)\s*\([^;{)]*\)\s*(?:const\s*)?(?:noexcept\s*)?;",  # and declared
    r"\bconstexpr\s+[\w:<>]+\s+(\w+)\s*[={]",
    r"\b(\w+)\s*\([^;{]*?\)\s*(?:const\s*)?(?:noexcept\s*)?[{;]",  # arguments holding parentheses
    r"\bconst\s+[\w:<>]+\s+(\w+)\s*=",
    r"^\s*(?:inline\s+)?[\w:<>]+\s+(\w+)\s*\[",
    r"\benum\s+(?:class\s+)?\w+[^{]*\{([^}]*)\}",  # enumerators
]
KEYWORDS = {"if", "for", "while", "switch", "return", "sizeof", "catch", "defined", "operator", "static_assert",
            "decltype", "alignof", "noexcept", "ZELVAN_API"}


def namespace_level(text):
    """For each character, whether it lies outside every brace but those of namespaces and extern "C"."""
    flags, stack, start = [], [], 0
    for match in re.finditer(r"[{}]", text):
        flags.extend([all(stack)] * (match.start() - start))
        if match.group() == "{":
            before = text[max(0, match.start() - 80):match.start()]
            stack.append(bool(re.search(r'(\bnamespace(\s+\w+)?|extern\s+"")\s*$', before)))
        elif stack:
            stack.pop()
        flags.append(all(stack))
        start = match.end()
    flags.extend([all(stack)] * (len(text) - start + 1))
    return flags


def declared_names(text):
    names = set()
    level = namespace_level(text)
    for pattern in DECLARED:
        for match in re.finditer(pattern, text, flags=re.M):
            if not level[match.start(1)]:
                continue
            found = match.group(1)
            if "," in found or "=" in found or "\n" in found:
                names.update(re.findall(r"^\s*(\w+)", part)[0] for part in found.split(",") if part.strip())
            else:
                names.add(found)
    guard = re.search(r"#\s*ifndef\s+(\w+)", text)
    if guard:
        names.discard(guard.group(1))
    return {n for n in names if n not in KEYWORDS and not n.startswith("_")}


headers = {os.path.basename(p): p for p in code_files("include")}
for name, path in sorted(headers.items()):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    code = without_comments(text)
    body = re.sub(r'^\s*#\s*include[^\n]*', " ", code, flags=re.M)
    for included in re.findall(r'^\s*#\s*include\s+"([^"]+)"', text, flags=re.M):
        if included not in headers:
            continue
        with open(headers[included], encoding="utf-8") as f:
            names = declared_names(without_comments(f.read()))
        if not any(re.search(r"\b" + re.escape(n) + r"\b", body) for n in names):
            breaches.append(f"include/{name}: includes {included} but uses nothing it declares")

defined = {}
for path in code_files("sources"):
    if path.endswith((".h", ".hpp")):
        with open(path, encoding="utf-8") as f:
            code = without_comments(f.read())
        level = namespace_level(code)
        for match in re.finditer(r"\b(?:struct|class|union)\s+(\w+)\s*(?:final\s*)?(?:\{|:(?!:))", code):
            if level[match.start()]:
                defined.setdefault(match.group(1), []).append(relative(path))
for name, paths in sorted(defined.items()):
    if len(paths) > 1:
        breaches.append(f"{', '.join(paths)}: each defines {name}")

for line in breaches:
    print(line)
sys.exit(1 if breaches else 0)
