#!/usr/bin/env python3
"""Merges the benchmark programs' JSON output into one file and prints one table: each figure
with our value, its baseline measured in the same run, and their ratio (or difference).

    report.py --out results.json [--dll Zanthrop.dll] program1.json program2.json ...

Every figure is the median over the repetitions of a benchmark. The noise column is the larger
coefficient of variation (standard deviation / mean, over the repetitions) of the two sides, or,
where one benchmark runs both sides in turn, that of its per-repetition ratio.
"""
import argparse
import datetime
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile

# Libraries every Windows installation has; the module may import from these only.
SYSTEM_DLLS = {
    "kernel32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll", "shlwapi.dll", "msvcrt.dll",
    "user32.dll", "ws2_32.dll", "rpcrt4.dll", "ntdll.dll", "shell32.dll",
}

# (figure, ours, what the baseline is, baseline, comparison, target)
# ours and baseline: (benchmark run name, measure); measure is "ns" (real time per iteration),
# "rate" (items per second) or a counter's name.
# comparison: "ratio" (ours / baseline), "diff" (ours - baseline), or a (benchmark, counter) pair
# for benchmarks that run both sides batch by batch in turn and give the ratio of each repetition.
FIGURES = [
    ("1 Trace call, output off (no viewer)", ("BM_TraceOutputOff", "ns"),
     "empty non-inlined call", ("BM_EmptyCall", "ns"), "diff", None),
    ("1 Trace call, viewer attached, output off", ("BM_TraceViewerOutputOff", "ns"),
     "empty non-inlined call", ("BM_EmptyCall", "ns"), "diff", None),
    ("2 Trace line into the ring (draining reader)", ("BM_TraceQOIntoRing", "rate"),
     "snprintf into a buffer", ("BM_SnprintfSameLine", "rate"), "ratio", None),
    ("2 Trace line into the ring (draining reader)", ("BM_TraceQOIntoRing", "rate"),
     "spdlog sync logger, null_sink_mt", ("BM_SpdlogNullSink", "rate"), "ratio", None),
    ("3 Receive -> queue -> Next, 64 B, 1 thread", ("BM_ReceiveToNextVsMutexDeque/1", "ours_per_second"),
     "std::mutex + std::deque", ("BM_ReceiveToNextVsMutexDeque/1", "baseline_per_second"),
     ("BM_ReceiveToNextVsMutexDeque/1", "ratio"), 0.8),
    ("3 Receive -> queue -> Next, 64 B, 4 threads", ("BM_ReceiveToNextVsMutexDeque/4", "ours_per_second"),
     "std::mutex + std::deque", ("BM_ReceiveToNextVsMutexDeque/4", "baseline_per_second"),
     ("BM_ReceiveToNextVsMutexDeque/4", "ratio"), 0.8),
    ("3 ... CPU time per frame, 1 thread", ("BM_ReceiveToNextVsMutexDeque/1", "ours_cpu_ns"),
     "std::mutex + std::deque", ("BM_ReceiveToNextVsMutexDeque/1", "baseline_cpu_ns"),
     ("BM_ReceiveToNextVsMutexDeque/1", "cpu_ratio"), None),
    ("3 ... CPU time per frame, 4 threads", ("BM_ReceiveToNextVsMutexDeque/4", "ours_cpu_ns"),
     "std::mutex + std::deque", ("BM_ReceiveToNextVsMutexDeque/4", "baseline_cpu_ns"),
     ("BM_ReceiveToNextVsMutexDeque/4", "cpu_ratio"), None),
    ("3 ... Receive then Next on one thread", ("BM_ReceiveThenNextSameThread", "ours_per_second"),
     "std::mutex + std::deque", ("BM_ReceiveThenNextSameThread", "baseline_per_second"),
     ("BM_ReceiveThenNextSameThread", "ratio"), None),
    ("4 CompareConfiguration, legacy", ("BM_CompareConfigurationLegacy", "rate"),
     "fetch + convert the texts only", ("BM_ConfigurationFetchLegacy", "rate"), "ratio", None),
    ("4 CompareConfiguration, TCP", ("BM_CompareConfigurationTcp", "rate"),
     "fetch + convert the texts only", ("BM_ConfigurationFetchTcp", "rate"), "ratio", None),
    ("5 Send through a converter", ("BM_SendThroughConverter", "rate"),
     "same calls made directly", ("BM_SendDirect", "rate"), "ratio", None),
    ("6 Round trips through a converter", ("BM_RoundTripVsDirect", "ours_per_second"),
     "framework driven directly", ("BM_RoundTripVsDirect", "baseline_per_second"),
     ("BM_RoundTripVsDirect", "ratio"), None),
    ("6 ... CPU time per round trip", ("BM_RoundTripVsDirect", "ours_cpu_ns"),
     "framework driven directly", ("BM_RoundTripVsDirect", "baseline_cpu_ns"),
     ("BM_RoundTripVsDirect", "cpu_ratio"), None),
    ("7 Heap bytes per queued frame beyond 64 B", ("BM_QueuedFrameBytes", "bytes_per_frame"),
     "same frames in a std::deque", ("BM_QueuedFrameBytesDeque", "bytes_per_frame"), "ratio", None),
    ("7 Resident size with the module (VmRSS)", ("BM_ResidentWithModule", "resident_kb"),
     "same process without it", ("BM_ResidentWithoutModule", "resident_kb"), "diff", None),
]

UNITS = {"ns": "ns", "ours_cpu_ns": "ns", "baseline_cpu_ns": "ns", "rate": "/s", "ours_per_second": "/s",
         "baseline_per_second": "/s", "bytes_per_frame": "B", "resident_kb": "kB"}
RATES = {"rate", "ours_per_second", "baseline_per_second"}


def load_programs(paths):
    programs = []
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        data["program"] = os.path.basename(path).rsplit(".", 1)[0]
        programs.append(data)
    return programs


def samples(programs, name, measure):
    """The per-repetition values of one benchmark (by run name or run name prefix)."""
    values = []
    for program in programs:
        for run in program.get("benchmarks", []):
            if run.get("run_type", "iteration") != "iteration" or run.get("error_occurred"):
                continue
            run_name = run.get("run_name", run["name"])
            if run_name != name and not run_name.startswith(name + "/"):
                continue
            if measure == "ns":
                scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[run.get("time_unit", "ns")]
                values.append(run["real_time"] * scale)
            elif measure == "rate":
                if "items_per_second" in run:
                    values.append(run["items_per_second"])
            elif measure in run:
                values.append(run[measure])
    return values


def cv(values):
    if len(values) < 2 or statistics.mean(values) == 0:
        return 0.0
    return statistics.stdev(values) / abs(statistics.mean(values))


def show(value, measure):
    if value is None:
        return "n/a"
    if measure in RATES:
        for limit, suffix in ((1e6, "M"), (1e3, "k")):
            if abs(value) >= limit:
                return f"{value / limit:.3g}{suffix}/s"
        return f"{value:.3g}/s"
    if measure in ("ns", "ours_cpu_ns", "baseline_cpu_ns"):
        return f"{value:.3g} ns" if abs(value) < 1000 else f"{value / 1000:.3g} us"
    return f"{value:.4g} {UNITS.get(measure, '')}".strip()


def figures(programs):
    rows = []
    for label, (ours_name, measure), base_label, (base_name, base_measure), comparison, target in FIGURES:
        ours_values = samples(programs, ours_name, measure)
        base_values = samples(programs, base_name, base_measure)
        ours = statistics.median(ours_values) if ours_values else None
        base = statistics.median(base_values) if base_values else None
        row = {
            "figure": label, "ours_benchmark": ours_name, "ours_measure": measure, "ours": ours,
            "baseline": base_label, "baseline_benchmark": base_name, "baseline_measure": base_measure,
            "baseline_value": base, "repetitions": [len(ours_values), len(base_values)], "target": target,
        }
        result = None
        if isinstance(comparison, tuple):  # both sides in one benchmark: the median of its ratios
            ratios = samples(programs, *comparison)
            result = statistics.median(ratios) if ratios else None
            row["noise"] = cv(ratios) if ratios else None
            comparison = "ratio"
        else:
            row["noise"] = max(cv(ours_values), cv(base_values)) if ours_values and base_values else None
            if ours is not None and base is not None:
                result = ours - base if comparison == "diff" else (ours / base if base else None)
        row["comparison"] = comparison
        row["result"] = result
        if any(samples(programs, ours_name, "trace_viewer_present")):
            row["note"] = ("a trace viewer's area existed on the machine during some repetitions: the module "
                           "attached it and traced into it, which adds its pages to the figure")
        rows.append(row)
    return rows


def artefact(dll):
    """Size and imports of the Windows module."""
    info = {"path": dll, "exists": os.path.isfile(dll)}
    if not info["exists"]:
        return info
    info["size"] = os.path.getsize(dll)
    strip = shutil.which("i686-w64-mingw32-strip")
    if strip:
        with tempfile.TemporaryDirectory() as tmp:
            stripped = os.path.join(tmp, "Zanthrop.dll")
            if subprocess.run([strip, "-o", stripped, dll], capture_output=True).returncode == 0:
                info["stripped_size"] = os.path.getsize(stripped)
    objdump = shutil.which("i686-w64-mingw32-objdump")
    if objdump:
        out = subprocess.run([objdump, "-p", dll], capture_output=True, text=True).stdout
        info["imports"] = [line.split("DLL Name:", 1)[1].strip() for line in out.splitlines() if "DLL Name:" in line]
        info["non_system_imports"] = [name for name in info["imports"] if name.lower() not in SYSTEM_DLLS]
    return info


def machine():
    model = cores = ""
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
        for line in out.splitlines():
            key, _, value = line.partition(":")
            if key.strip() == "Model name":
                model = value.strip()
            elif key.strip() == "CPU(s)":
                cores = value.strip()
    except OSError:
        pass
    try:
        with open("/proc/loadavg") as f:
            load = " ".join(f.read().split()[:3])
    except OSError:
        load = ""
    return {"cpu": model, "cpus": cores, "kernel": platform.release(), "load_average": load,
            "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")}


def table(rows, dll, host):
    header = ["Figure", "Ours", "Baseline", "Baseline value", "Ours vs baseline", "Better", "Noise", "Target"]
    lines = []
    for row in rows:
        result = row["result"]
        if result is None:
            shown = "n/a"
        elif row["comparison"] == "diff":
            shown = ("+" if result >= 0 else "") + show(result, row["ours_measure"])
        else:
            shown = f"x{result:.2f}"
        target = ""
        if row["target"] is not None and result is not None:
            target = f">= {row['target']:g} " + ("met" if result >= row["target"] else "NOT MET")
        noise = f"{row['noise'] * 100:.0f}%" if row["noise"] is not None else ""
        better = "higher" if row["ours_measure"] in RATES else "lower"
        lines.append([row["figure"], show(row["ours"], row["ours_measure"]), row["baseline"],
                      show(row["baseline_value"], row["baseline_measure"]), shown, better, noise, target])
    if dll.get("exists"):
        stripped = f" ({dll['stripped_size'] / 1024:.0f} kB stripped)" if "stripped_size" in dll else ""
        lines.append(["8 Zanthrop.dll (i686) size", f"{dll['size'] / 1024:.0f} kB{stripped}", "", "", "", "", "", ""])
        if "imports" in dll:
            verdict = "only system DLLs" if not dll["non_system_imports"] else "NOT ONLY SYSTEM: " + ", ".join(
                dll["non_system_imports"])
            lines.append(["8 Zanthrop.dll imports", ", ".join(dll["imports"]), "system DLLs only", "", verdict, "", "", ""])
    elif dll.get("path"):
        lines.append(["8 Zanthrop.dll", "not built", "", "", "", "", "", ""])
    widths = [max(len(str(r[i])) for r in lines + [header]) for i in range(len(header))]
    out = [f"Machine: {host['cpu']}, {host['cpus']} CPUs, Linux {host['kernel']}, {host['date']}, "
           f"load average at the end (1/5/15 min): {host['load_average']}",
           "Ours and baseline: medians over the repetitions. Ours vs baseline: ratio ours / baseline (or the "
           "difference);",
           "for figures 3 and 6, whose benchmarks run both sides in turn, the median of the per-repetition ratios "
           "(steadier than the ratio of the two medians). \"Better\": which way is better.",
           "Noise: coefficient of variation over the repetitions (of the ratio itself for 3 and 6).", ""]
    fmt = " | ".join("{:<%d}" % w for w in widths)
    out.append(fmt.format(*header))
    out.append("-+-".join("-" * w for w in widths))
    out.extend(fmt.format(*r) for r in lines)
    notes = [f"{row['figure']}: {row['note']}" for row in rows if "note" in row]
    if notes:
        out.append("")
        out.extend("Note: " + note for note in notes)
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True, help="the merged JSON file to write")
    parser.add_argument("--dll", help="the Windows module whose size and imports to report")
    parser.add_argument("inputs", nargs="+", help="Google Benchmark JSON files (--benchmark_out)")
    args = parser.parse_args()

    programs = load_programs(args.inputs)
    rows = figures(programs)
    dll = artefact(args.dll) if args.dll else {}
    host = machine()
    with open(args.out, "w") as f:
        json.dump({"machine": host, "figures": rows, "windows_artefact": dll, "programs": programs}, f, indent=1)
    print(table(rows, dll, host))
    missing = [row["figure"] for row in rows if row["result"] is None]
    if missing:
        print("\nMissing results: " + "; ".join(missing), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
