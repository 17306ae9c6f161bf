#!/usr/bin/env python3
"""Runs the benchmark binary and prints one table.

Per case: the time of ours, the floor and each peer, the ratios ours/floor
and ours/peer, the allocations per operation (one converted value or one
call) of each contestant, and, for the 10,000-element list, the peak of live
bytes one conversion adds. Every figure comes from the one run this script
starts; the raw Google Benchmark JSON can be kept with --json-out.

Times are the median of the repetitions, which run randomly interleaved so
that a burst of load from other processes spreads over all contestants
instead of hitting one; --stat min takes the best instead.
By default they are the process's CPU time (every thread's, so gRPC's
server threads count), which a shared, loaded machine distorts least;
--time real uses wall-clock time.

The loopback transport cases (tcp/...) run apart, twice: free and pinned to
one CPU (taskset -c 0, server and client threads together), each with its
own repetitions; their table gives medians: wall-clock time per call (and
process CPU time per call) for one client, calls per second for 8 client
threads, and ours/gRPC for each. --transport only|none runs only them or
leaves them out.

The in-process call cases (call/...) run a second time pinned to one CPU:
gRPC's server thread answers on the caller's CPU or on the other one, and
the two placements differ by more than 2x on a two-CPU machine. Their rows
appear free and pinned; the call targets are judged on the pinned reading.
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

# Suffix of the in-process call cases' names in their pinned run.
PINNED = "@pinned"
PIN = ["taskset", "-c", "0"]
# Allocation target of the list call: at most 20 per summary (1,000 of them).
ALLOCS_PER_SUMMARY = ("allocs", 20 * 1000, "<=20 allocs per summary")

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
    ("call: TPM get, free", "call/tpm_get", []),
    ("call: TPM get, pinned", "call/tpm_get" + PINNED, [("grpc_sync", 0.2, "5x faster than grpc-sync")]),
    ("call: providers list, 1,000, free", "call/providers_list_1000", []),
    ("call: providers list, 1,000, pinned", "call/providers_list_1000" + PINNED,
     [("grpc_sync", 1.0, "<=1x grpc-sync"), ALLOCS_PER_SUMMARY]),
    ("bind all 7 services (19 methods)", "bind/all_services", []),
    ("validate all 18 operation inputs", "validate/all_inputs", []),
]
# (label, case prefix, peer whose peak ours must not exceed, or None).
PEAK_ROWS = [
    ("peak live bytes: to value, 10,000", "to_value/summaries_10000", "nlohmann"),
    ("peak live bytes: from value, 10,000", "from_value/summaries_10000", None),
]


# Loopback transport rows: (label, case, throughput?, bound, target text).
# Latency ratios ours/gRPC must be at most the bound; throughput ratios
# ours/gRPC at least it.
TRANSPORT_ROWS = [
    ("TPM get, 1 client", "tpm_get", False, 1.0, "latency <= grpc"),
    ("providers list 1,000, 1 client", "providers_list_1000", False, 1.5, "latency <= 1.5x grpc"),
    ("TPM get, 8 clients", "tpm_get_x8", True, 1.0, "calls/s >= grpc"),
    ("providers list 1,000, 8 clients", "providers_list_1000_x8", True, 1.0, "calls/s >= grpc"),
]
TRANSPORT_SECURITY = [("plain", ""), ("TLS", "_tls")]
TRANSPORT_MODES = [("free", []), ("pinned", PIN)]


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


def run(binary, args, bench_filter=None, prefix=(), repetitions=None):
    fd, path = tempfile.mkstemp(suffix=".json")
    os.close(fd)
    cmd = list(prefix) + [binary, "--benchmark_out=" + path, "--benchmark_out_format=json",
                          "--benchmark_repetitions=%d" % (repetitions or args.repetitions),
                          "--benchmark_enable_random_interleaving=true",
                          "--benchmark_display_aggregates_only=true",
                          "--benchmark_min_time=%s" % args.min_time]
    if bench_filter:
        cmd.append("--benchmark_filter=" + bench_filter)
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
            if peer == "allocs":
                a = cells["ours"]["allocs"] if cells["ours"] else None
                verdicts.append("%s: %s" % (text, "n/a" if a is None else ("hit" if a <= bound else "miss")))
                continue
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
    for label, prefix, peer in PEAK_ROWS:
        cells = {key: results.get(prefix + "/" + key) for key, _ in CONTESTANTS}
        if not any(cells.values()):
            continue
        peaks = {k: (v["peak_bytes"] if v else None) for k, v in cells.items()}
        verdict = "-"
        if peer:
            r = ratio(peaks["ours"], peaks[peer])
            verdict = "<=%s: %s" % (dict(CONTESTANTS)[peer], "n/a" if r is None else ("hit" if r <= 1 else "miss"))
        rows.append([label]
                    + [fmt_bytes(peaks[k]) for k, _ in CONTESTANTS]
                    + [fmt_ratio(ratio(peaks["ours"], peaks[k])) for k, _ in CONTESTANTS[1:]]
                    + ["-" for _ in CONTESTANTS] + [verdict])
    widths = [max(len(r[i]) for r in [head] + rows) for i in range(len(head))]
    lines = ["| " + " | ".join(c.ljust(w) for c, w in zip(head, widths)) + " |",
             "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    for r in rows:
        lines.append("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")
    return "\n".join(lines)


def collect_transport(data):
    """case name -> medians of wall-clock and CPU time per call (us) and of
    calls per second, over the repetitions."""
    runs = {}
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate":
            continue
        name = b.get("run_name", b["name"])
        parts = [p for p in name.split("/") if not (p in ("process_time", "real_time") or p.startswith("threads:"))]
        name = "/".join(parts)
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b.get("time_unit", "ns")]
        runs.setdefault(name, []).append((b["real_time"] * scale, b["cpu_time"] * scale, b.get("items_per_second")))

    def median(xs):
        xs = sorted(x for x in xs if x is not None)
        if not xs:
            return None
        mid = len(xs) // 2
        return xs[mid] if len(xs) % 2 else (xs[mid - 1] + xs[mid]) / 2

    return {name: {"real_us": median([r for r, _, _ in samples]), "cpu_us": median([c for _, c, _ in samples]),
                   "calls_per_s": median([i for _, _, i in samples]), "repetitions": len(samples)}
            for name, samples in runs.items()}


def fmt_rate(x):
    if x is None:
        return "-"
    return "%.0f/s" % x if x < 1e4 else "%.1fk/s" % (x / 1e3)


def transport_table(results_by_mode):
    head = ["case", "security", "cpus", "ours", "grpc", "ours/grpc", "ours cpu", "grpc cpu", "target"]
    rows = []
    for label, case, throughput, bound, text in TRANSPORT_ROWS:
        for security, suffix in TRANSPORT_SECURITY:
            name = case.replace("_x8", suffix + "_x8") if throughput else case + suffix
            for mode, _ in TRANSPORT_MODES:
                results = results_by_mode.get(mode, {})
                ours = results.get("tcp/%s/ours" % name)
                grpc = results.get("tcp/%s/grpc" % name)
                if not ours and not grpc:
                    continue
                if throughput:
                    o = ours["calls_per_s"] if ours else None
                    g = grpc["calls_per_s"] if grpc else None
                    cells = [fmt_rate(o), fmt_rate(g)]
                    cpu = ["-", "-"]
                    r = ratio(o, g)
                    verdict = "n/a" if r is None else ("hit" if r >= bound else "miss")
                else:
                    o = ours["real_us"] if ours else None
                    g = grpc["real_us"] if grpc else None
                    cells = [fmt_time(o), fmt_time(g)]
                    cpu = [fmt_time(ours["cpu_us"]) if ours else "-", fmt_time(grpc["cpu_us"]) if grpc else "-"]
                    r = ratio(o, g)
                    verdict = "n/a" if r is None else ("hit" if r <= bound else "miss")
                rows.append([label, security, mode] + cells + [fmt_ratio(r)] + cpu
                            + ["%s: %s" % (text, verdict if ours else "ours not wired")])
    if not rows:
        return "(no transport cases in this run)"
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
    parser.add_argument("--stat", choices=["min", "median"], default="median")
    parser.add_argument("--min-time", default="0.5", help="seconds per repetition (Google Benchmark)")
    parser.add_argument("--filter", help="Google Benchmark filter (regular expression)")
    parser.add_argument("--time", choices=["cpu", "real"], default="cpu")
    parser.add_argument("--json-out", help="keep the raw Google Benchmark JSON here")
    parser.add_argument("--from-json", help="print the table of an earlier --json-out instead of running")
    parser.add_argument("--transport", choices=["both", "only", "none"], default="both",
                        help="the loopback transport cases (tcp/...): with the others, only them, or none")
    parser.add_argument("--transport-repetitions", type=int, default=5)
    args = parser.parse_args()

    binary = os.path.abspath(args.binary)
    transport_json = (args.from_json or args.json_out or "") + ".transport.json"
    data, transport = {}, {}
    if args.from_json:
        if args.transport != "only":
            with open(args.from_json) as f:
                data = json.load(f)
        if args.transport != "none" and os.path.exists(transport_json):
            with open(transport_json) as f:
                transport = json.load(f)
    else:
        if args.transport != "only":
            data = run(binary, args, args.filter or "-^tcp/")
            # The call cases again, pinned to one CPU; their names get a suffix.
            if any(b.get("name", "").startswith("call/") for b in data.get("benchmarks", [])):
                pinned = run(binary, args, "^call/", PIN)
                for b in pinned.get("benchmarks", []):
                    for key in ("name", "run_name"):
                        if key in b:  # call/<case>/<contestant>... -> call/<case>@pinned/...
                            parts = b[key].split("/")
                            parts[1] += PINNED
                            b[key] = "/".join(parts)
                data.setdefault("benchmarks", []).extend(pinned.get("benchmarks", []))
            if args.json_out:
                with open(args.json_out, "w") as f:
                    json.dump(data, f, indent=1)
        if args.transport != "none":
            for mode, prefix in TRANSPORT_MODES:
                transport[mode] = run(binary, args, "^tcp/", prefix, args.transport_repetitions)
            if args.json_out:
                with open(transport_json, "w") as f:
                    json.dump(transport, f, indent=1)
    if data:
        print_main(data, args)
        if transport:
            print()
    if transport:
        print_transport(transport)
    return 0


def print_transport(transport):
    results = {mode: collect_transport(d) for mode, d in transport.items()}
    any_data = next(iter(transport.values()))
    ctx = any_data.get("context", {})
    m = machine(ctx)
    repetitions = max((r["repetitions"] for rs in results.values() for r in rs.values()), default=0)
    print("transport over loopback; machine: %s CPUs (nproc), %s; kernel %s" % (m["nproc"], m["cpu"], m["kernel"]))
    for mode, d in transport.items():
        c = d.get("context", {})
        print("  %s run %s, load average at its start %s" % (mode, c.get("date", "?"),
              " ".join("%.2f" % x for x in c.get("load_avg", []))))
    print("medians of %d interleaved repetitions; 1 client: wall-clock per call (cpu: process CPU per call, "
          "all threads); 8 clients: calls per second; free: any CPU, pinned: taskset -c 0" % repetitions)
    print()
    print(transport_table(results))


def print_main(data, args):
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


if __name__ == "__main__":
    sys.exit(main())
