#!/usr/bin/env python3
"""Runs the benchmark binary and prints one table.

Per case: the time of ours, the floor and each peer, the ratios ours/floor
and ours/peer, the allocations per operation (one converted value or one
call) of each contestant, and, for the 10,000-element list, the peak of live
bytes one conversion adds. Every figure comes from the one run this script
starts; the raw Google Benchmark JSON can be kept with --json-out.

Times are the best (minimum) of the repetitions, which run randomly
interleaved so that a burst of load from other processes spreads over all
contestants instead of hitting one; --stat median takes the median instead.
By default they are the process's CPU time (every thread's, so gRPC's
server threads count), which a shared, loaded machine distorts least;
--time real uses wall-clock time.
"""

import argparse
import json
import os
import platform
import subprocess
import sys
import tempfile

CONTESTANTS = [
    ("ours", "ours"),
    ("floor", "floor"),
    ("nlohmann", "json"),
    ("grpc_sync", "grpc-sync"),
    ("grpc_callback", "grpc-cb"),
]

# (row label, benchmark case prefix, target checks). A check is
# (peer, bound, text): ours/peer must be at most `bound`, or strictly below
# it when the text says "faster".
ROWS = [
    ("to value: TPM Info (2 banks x 24 PCRs)", "to_value/tpm_info",
     [("floor", 1.3, "<=1.3x floor"), ("nlohmann", 1.0, "faster than json")]),
    ("from value: TPM Info", "from_value/tpm_info",
     [("floor", 1.3, "<=1.3x floor"), ("nlohmann", 1.0, "faster than json")]),
    ("to value: 1,000 summaries", "to_value/summaries_1000",
     [("floor", 1.3, "<=1.3x floor"), ("nlohmann", 1.0, "faster than json")]),
    ("from value: 1,000 summaries", "from_value/summaries_1000",
     [("floor", 1.3, "<=1.3x floor"), ("nlohmann", 1.0, "faster than json")]),
    ("to value: 10,000 summaries", "to_value/summaries_10000",
     [("floor", 1.3, "<=1.3x floor"), ("nlohmann", 1.0, "faster than json")]),
    ("from value: 10,000 summaries", "from_value/summaries_10000",
     [("floor", 1.3, "<=1.3x floor"), ("nlohmann", 1.0, "faster than json")]),
    ("call: TPM get", "call/tpm_get", [("grpc_sync", 0.2, "5x faster than grpc-sync")]),
    ("call: providers list, 1,000", "call/providers_list_1000", [("grpc_sync", 1.0, "<=1x grpc-sync")]),
    ("bind all 7 services (19 methods)", "bind/all_services", []),
    ("validate all 18 operation inputs", "validate/all_inputs", []),
]
PEAK_ROWS = [
    ("peak live bytes: to value, 10,000", "to_value/summaries_10000"),
    ("peak live bytes: from value, 10,000", "from_value/summaries_10000"),
]


def machine(ctx):
    model = "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    load = ctx.get("load_avg") or os.getloadavg()
    return {
        "nproc": ctx.get("num_cpus", os.cpu_count()),
        "cpu": "%s, %s MHz" % (model, ctx.get("mhz_per_cpu", "?")),
        "kernel": platform.release(),
        "load": " ".join("%.2f" % x for x in load),
    }


def run(binary, args):
    fd, path = tempfile.mkstemp(suffix=".json")
    os.close(fd)
    cmd = [binary, "--benchmark_out=" + path, "--benchmark_out_format=json",
           "--benchmark_repetitions=%d" % args.repetitions,
           "--benchmark_enable_random_interleaving=true",
           "--benchmark_display_aggregates_only=true",
           "--benchmark_min_time=%s" % args.min_time]
    if args.filter:
        cmd.append("--benchmark_filter=" + args.filter)
    print("running: " + " ".join(cmd), file=sys.stderr)
    subprocess.run(cmd, check=True, stdout=sys.stderr)
    with open(path) as f:
        data = json.load(f)
    os.unlink(path)
    return data


def collect(data, time_key, stat):
    """case name -> {time_us, allocs, peak_bytes}: the minimum or the median
    of the repetitions' times; counters are the same in every repetition."""
    runs = {}
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate":
            continue
        name = b.get("run_name", b["name"])
        for suffix in ("/process_time", "/real_time"):
            if name.endswith(suffix):
                name = name[: -len(suffix)]
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b.get("time_unit", "ns")]
        runs.setdefault(name, []).append((b[time_key] * scale, b.get("allocs"), b.get("peak_bytes")))
    results = {}
    for name, samples in runs.items():
        times = sorted(t for t, _, _ in samples)
        time = times[0] if stat == "min" else times[len(times) // 2]
        results[name] = {"time_us": time, "allocs": samples[0][1], "peak_bytes": samples[0][2],
                         "repetitions": len(samples)}
    return results


def fmt_time(us):
    if us is None:
        return "-"
    if us >= 1000:
        return "%.3g ms" % (us / 1000) if us < 1e6 else "%.0f ms" % (us / 1000)
    return "%.3g us" % us


def fmt_bytes(n):
    if n is None:
        return "-"
    if n >= 1 << 20:
        return "%.1f MiB" % (n / (1 << 20))
    if n >= 1 << 10:
        return "%.1f KiB" % (n / (1 << 10))
    return "%d B" % n


def fmt_count(n):
    if n is None:
        return "-"
    return "%.0f" % n if n >= 10 else "%.1f" % n


def fmt_ratio(r):
    return "-" if r is None else "%.2fx" % r


def ratio(a, b):
    return a / b if a is not None and b else None


def table(results):
    head = (["case"] + [short for _, short in CONTESTANTS]
            + ["ours/" + short for _, short in CONTESTANTS[1:]]
            + ["allocs " + short for _, short in CONTESTANTS] + ["targets"])
    rows = []
    for label, prefix, checks in ROWS:
        cells = {key: results.get(prefix + "/" + key) for key, _ in CONTESTANTS}
        if not any(cells.values()):
            continue
        times = {k: (v["time_us"] if v else None) for k, v in cells.items()}
        ours = times["ours"]
        verdicts = []
        for peer, bound, text in checks:
            r = ratio(ours, times[peer])
            if r is None:
                verdicts.append(text + ": n/a")
            else:
                verdicts.append("%s: %s" % (text, "hit" if r <= bound else "miss"))
        rows.append([label]
                    + [fmt_time(times[k]) for k, _ in CONTESTANTS]
                    + [fmt_ratio(ratio(ours, times[k])) for k, _ in CONTESTANTS[1:]]
                    + [fmt_count(cells[k]["allocs"]) if cells[k] else "-" for k, _ in CONTESTANTS]
                    + ["; ".join(verdicts) or "-"])
    for label, prefix in PEAK_ROWS:
        cells = {key: results.get(prefix + "/" + key) for key, _ in CONTESTANTS}
        if not any(cells.values()):
            continue
        peaks = {k: (v["peak_bytes"] if v else None) for k, v in cells.items()}
        rows.append([label]
                    + [fmt_bytes(peaks[k]) for k, _ in CONTESTANTS]
                    + [fmt_ratio(ratio(peaks["ours"], peaks[k])) for k, _ in CONTESTANTS[1:]]
                    + ["-" for _ in CONTESTANTS] + ["-"])
    widths = [max(len(r[i]) for r in [head] + rows) for i in range(len(head))]
    lines = ["| " + " | ".join(c.ljust(w) for c, w in zip(head, widths)) + " |",
             "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    for r in rows:
        lines.append("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--binary", default=os.path.join(here, "..", "build-bench", "bench", "dral_bench"))
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--stat", choices=["min", "median"], default="min")
    parser.add_argument("--min-time", default="0.5", help="seconds per repetition (Google Benchmark)")
    parser.add_argument("--filter", help="Google Benchmark filter (regular expression)")
    parser.add_argument("--time", choices=["cpu", "real"], default="cpu")
    parser.add_argument("--json-out", help="keep the raw Google Benchmark JSON here")
    parser.add_argument("--from-json", help="print the table of an earlier --json-out instead of running")
    args = parser.parse_args()

    if args.from_json:
        with open(args.from_json) as f:
            data = json.load(f)
    else:
        data = run(os.path.abspath(args.binary), args)
        if args.json_out:
            with open(args.json_out, "w") as f:
                json.dump(data, f, indent=1)

    ctx = data.get("context", {})
    results = collect(data, "cpu_time" if args.time == "cpu" else "real_time", args.stat)
    repetitions = max((r["repetitions"] for r in results.values()), default=0)
    m = machine(ctx)
    print("machine: %s CPUs (nproc), %s; kernel %s; load average when the run started %s"
          % (m["nproc"], m["cpu"], m["kernel"], m["load"]))
    print("build: %s, %s; run %s; times: %s of %s interleaved repetitions, %s time, per operation"
          % (ctx.get("compiler", "?"), ctx.get("build_type", "?"), ctx.get("date", "?"),
             "best" if args.stat == "min" else "median", repetitions,
             "process CPU" if args.time == "cpu" else "wall-clock"))
    print("ratios: ours/peer (below 1: ours is faster or smaller); allocs: per converted value or per call")
    print()
    print(table(results))
    return 0


if __name__ == "__main__":
    sys.exit(main())
