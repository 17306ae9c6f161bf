#!/usr/bin/env python3
"""Instruction counts and profiles of single-threaded cases, under callgrind.

For each case, runs `dral_bench --profile=<case> --reps=N` under
`valgrind --tool=callgrind --toggle-collect=*ProfileLoop*`, so only the
repeated operation is counted (not data preparation), and prints the
instructions per operation. Instruction counts do not depend on the load of
the machine, so their ratios (ours/floor, ours/json) cross-check the timed
table on a shared machine. With --top K it also prints, per case, the K
functions with the highest inclusive and self cost.

gRPC cases are left out: its work runs on server threads that a
single-threaded profile does not attribute to the call.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

DEFAULT_CASES = [
    ("to_value/tpm_info", 200),
    ("from_value/tpm_info", 200),
    ("to_value/summaries_1000", 3),
    ("from_value/summaries_1000", 3),
]
CONTESTANTS = ["ours", "floor", "nlohmann"]
CALL_CASES = [("call/tpm_get/ours", 50), ("call/providers_list_1000/ours", 2), ("bind/all_services/ours", 20),
              ("validate/all_inputs/ours", 500)]


def callgrind(binary, case, reps, keep_dir):
    out = os.path.join(keep_dir, case.replace("/", "_") + ".callgrind")
    cmd = ["valgrind", "--tool=callgrind", "--toggle-collect=*ProfileLoop*", "--callgrind-out-file=" + out,
           binary, "--profile=" + case, "--reps=%d" % reps]
    done = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        return None, out
    with open(out) as f:
        for line in f:
            if line.startswith("totals:") or line.startswith("summary:"):
                return int(line.split()[1]) / reps, out
    return None, out


def top(path, inclusive, count):
    args = ["callgrind_annotate", "--inclusive=" + ("yes" if inclusive else "no"), path]
    text = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
    rows = []
    started = False
    for line in text.splitlines():
        if re.match(r"^-+$", line.strip()) and rows == [] and started:
            continue
        m = re.match(r"^\s*([\d,]+) \(\s*([\d.]+)%\)\s+(.*)$", line)
        if not m:
            continue
        if "PROGRAM TOTALS" in line:
            started = True
            continue
        name = m.group(3)
        # Drop the frames every case shares above the operation.
        if any(s in name for s in ("libc_start", "(below main)", "ProfileLoop", ":main ", "0x0000", "_M_invoke")):
            continue
        name = re.sub(r"^(\?\?\?|\.?/[^:\s]*|[^:\s]*\.(?:c|cc|cpp|S|h|hpp|tcc)):", "", name, count=1)
        name = re.sub(r"\s*\[[^\]]*\]$", "", name)
        rows.append((float(m.group(2)), name))
        if len(rows) >= count:
            break
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--binary", default=os.path.join(here, "..", "build-bench", "bench", "dral_bench"))
    parser.add_argument("--top", type=int, default=0, help="print the K costliest functions of each ours case")
    parser.add_argument("--keep", help="directory for the callgrind files (default: a temporary one)")
    parser.add_argument("--no-calls", action="store_true", help="leave out the call, bind and validate cases")
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    keep = args.keep or tempfile.mkdtemp(prefix="dral-callgrind-")
    os.makedirs(keep, exist_ok=True)

    print("instructions per operation (callgrind Ir; files in %s)" % keep)
    print()
    print("| case | ours | floor | json | ours/floor | ours/json |")
    print("|---|---|---|---|---|---|")
    files = []
    for case, reps in DEFAULT_CASES:
        counts = {}
        for who in CONTESTANTS:
            counts[who], path = callgrind(binary, case + "/" + who, reps, keep)
            if who == "ours":
                files.append((case + "/ours", path))
        ours = counts["ours"]

        def cell(v):
            return "-" if v is None else "{:,.0f}".format(v)

        def rat(v):
            return "-" if v is None or ours is None else "%.2fx" % (ours / v)

        print("| %s | %s | %s | %s | %s | %s |" % (case, cell(ours), cell(counts["floor"]), cell(counts["nlohmann"]),
                                                   rat(counts["floor"]), rat(counts["nlohmann"])))
    if not args.no_calls:
        for case, reps in CALL_CASES:
            count, path = callgrind(binary, case, reps, keep)
            files.append((case, path))
            print("| %s | %s | - | - | - | - |" % (case.rsplit("/", 1)[0], "-" if count is None else
                                                     "{:,.0f}".format(count)))
    if args.top:
        for case, path in files:
            print()
            print("## %s" % case)
            for title, inclusive in (("inclusive", True), ("self", False)):
                print("%s:" % title)
                for share, name in top(path, inclusive, args.top):
                    print("  %5.1f%%  %s" % (share, name[:160]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
