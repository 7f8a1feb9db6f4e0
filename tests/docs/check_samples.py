#!/usr/bin/env python3
"""Compiles every code sample of the docs and the public headers, so that none of them rots.

Samples: each ```c or ```cpp block of the Markdown files given, and in each header given, the lines of
its first comment indented four spaces or more past the " * " (a run of them is one sample). A sample
is a fragment of a function body by default; an HTML comment on the line before a Markdown block,
<!-- sample: file -->, makes it a whole file instead. The names a fragment takes from its context
(width, pixels, a view made earlier...) are declared in preamble.c and preamble.cpp here.

All the C samples make one translation unit and all the C++ ones another, each sample in a function
(or a namespace) of its own, `#line` pointing at the document, so that the compiler's errors name the
document's lines. The compiler runs with -fsyntax-only: seconds for all of them.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^```(\w*)\s*$")
MARK = re.compile(r"^<!--\s*sample:\s*(\w+)\s*-->\s*$")


def markdown_samples(path):
    lines = open(path, encoding="utf-8").read().split("\n")
    samples, i = [], 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        lang, start = m.group(1), i + 1
        end = start
        while end < len(lines) and not lines[end].startswith("```"):
            end += 1
        if lang in ("c", "cpp"):
            before = i - 1
            while before >= 0 and not lines[before].strip():
                before -= 1
            mark = MARK.match(lines[before]) if before >= 0 else None
            kind = mark.group(1) if mark else "fragment"
            if kind not in ("fragment", "file"):
                sys.exit(f"{path}:{before + 1}: unknown sample kind {kind!r} (fragment or file)")
            samples.append((lang, kind, path, start + 1, lines[start:end]))
        i = end + 1
    return samples


def header_samples(path):
    text = open(path, encoding="utf-8").read()
    m = re.match(r"\s*/\*(.*?)\*/", text, re.S)
    if not m:
        return []
    first = text[: m.start(1)].count("\n") + 1
    lang = "c" if path.endswith(".h") else "cpp"
    samples, run = [], []
    for n, line in enumerate(m.group(1).split("\n")):
        body = re.sub(r"^\s?\*? ?", "", line, count=1)
        if body.startswith("    "):
            if not run:
                start = first + n
            run.append(body)
        elif run:
            samples.append((lang, "fragment", path, start, run))
            run = []
    if run:
        samples.append((lang, "fragment", path, start, run))
    return samples


def translation_unit(samples, preamble, root):
    includes, bodies = [], []
    for number, (_, kind, path, line, text) in enumerate(samples):
        shown = os.path.relpath(path, root)
        kept = []
        for k, t in enumerate(text):
            if t.strip().startswith("#include"):
                includes.append(t.strip())
                kept.append("")  # keeps the lines counted
            else:
                kept.append(t)
        body = f'#line {line} "{shown}"\n' + "\n".join(kept) + "\n"
        if kind == "file":
            bodies.append(f"namespace sample_{number} {{\n{body}}}\n")
        else:
            bodies.append(f"int sample_{number}(int argc, char** argv) {{\n{body}return 0;\n}}\n")
    return "\n".join(includes) + "\n" + preamble + "\n" + "\n".join(bodies)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cc", required=True)
    parser.add_argument("--cxx", required=True)
    parser.add_argument("--root", required=True, help="the source tree; files are named from it")
    parser.add_argument("-I", dest="includes", action="append", default=[])
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    here = os.path.dirname(os.path.abspath(__file__))
    samples = []
    for f in args.files:
        samples += markdown_samples(f) if f.endswith(".md") else header_samples(f)
    flags = ["-fsyntax-only"]
    flags += [f"-I{d}" for d in args.includes]
    failed = False
    for lang, compiler, std in (("c", args.cc, "-std=c99"), ("cpp", args.cxx, "-std=c++17")):
        chosen = [s for s in samples if s[0] == lang]
        preamble = open(os.path.join(here, "preamble." + lang), encoding="utf-8").read()
        source = translation_unit(chosen, preamble, args.root)
        with tempfile.NamedTemporaryFile("w", suffix="." + lang, delete=False) as out:
            out.write(source)
        try:
            result = subprocess.run([compiler, "-x", "c" if lang == "c" else "c++", std] + flags + [out.name])
        finally:
            os.unlink(out.name)
        print(f"{len(chosen)} {lang} samples: {'compiled' if result.returncode == 0 else 'FAILED'}")
        failed = failed or result.returncode != 0
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
