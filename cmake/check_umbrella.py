#!/usr/bin/env python3
"""Checks that the umbrella header includes every public header.

A header under a source include root must be included by the umbrella
itself. A generated header may also be reached through another generated
header the umbrella includes, so that the generator can emit an aggregate
header of its own. Also fails on umbrella includes of our own headers that
do not exist, and on two roots providing the same include path (they would
overwrite each other once installed into one directory).
"""

import argparse
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.MULTILINE)
HEADER_SUFFIXES = {".hpp", ".h"}
OWN_PREFIXES = ("tovri/", "dral/")


def headers_under(root):
    if not root.is_dir():
        return {}
    return {
        path.relative_to(root).as_posix(): path
        for path in root.rglob("*")
        if path.suffix in HEADER_SUFFIXES and path.is_file()
    }


def includes_of(path):
    return INCLUDE.findall(path.read_text(encoding="utf-8"))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--umbrella", required=True, type=pathlib.Path)
    parser.add_argument("--root", action="append", default=[], type=pathlib.Path)
    parser.add_argument("--generated-root", type=pathlib.Path)
    args = parser.parse_args()

    umbrella = args.umbrella.resolve()
    problems = []
    public = {}
    for root in args.root:
        for name, path in headers_under(root).items():
            if path.resolve() == umbrella:
                continue
            if name in public:
                problems.append(f"<{name}> is provided by both {public[name]} and {path}")
            public[name] = path
    generated = headers_under(args.generated_root) if args.generated_root else {}
    for name, path in generated.items():
        if name in public:
            problems.append(f"<{name}> is provided by both {public[name]} and {path}")
    public.update(generated)

    reached = set()
    pending = list(includes_of(umbrella))
    while pending:
        name = pending.pop()
        if name in reached:
            continue
        reached.add(name)
        if name in generated:
            pending.extend(includes_of(generated[name]))

    direct = set(includes_of(umbrella))
    for name in sorted(direct):
        if name.startswith(OWN_PREFIXES) and name not in public:
            problems.append(f"{umbrella.name} includes <{name}>, which is no public header")
    missing = sorted(name for name in public if name not in reached)
    if missing:
        problems.append(
            f"{umbrella.name} misses public headers; add:\n"
            + "\n".join(f"#include <{name}>" for name in missing)
        )

    for problem in problems:
        print(problem, file=sys.stderr)
    if not problems:
        print(f"ok: {len(public)} public headers, all included by {umbrella.name}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
