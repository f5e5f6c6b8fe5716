#!/usr/bin/env python3
"""Turns the raw timings of scripts/bench.sh into the table and the JSON file.

Usage: bench-report.py RAW.tsv OUTPUT.json

RAW.tsv lines: "meta KEY VALUE" or "FIGURE SIDE PAIR VALUE" (milliseconds, or
bytes for the memory figure). Every ratio is taken pair by pair and reported
with its spread (min, median, max) beside the target.
"""
import json
import statistics
import sys
from collections import defaultdict

MIB = 1024 * 1024


def load(path):
    meta, data = {}, defaultdict(lambda: defaultdict(dict))
    with open(path, encoding="utf-8") as raw:
        for line in raw:
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "meta":
                meta[fields[1]] = fields[2]
            elif len(fields) == 4 and fields[3]:
                data[fields[0]][fields[1]][int(fields[2])] = float(fields[3])
    return meta, data


def spread(values):
    return {"min": min(values), "median": statistics.median(values), "max": max(values)} if values else None


def verdict(ratios, target):
    if not ratios:
        return "not available"
    if target is None:
        return "(information)"
    low, mid, high = min(ratios), statistics.median(ratios), max(ratios)
    if high <= target:
        return "met"
    if low > target:
        return "missed"
    return ("met at the median" if mid <= target else "missed at the median") + "; the spread straddles the target"


def paired(sides, combine):
    """Per pair, combine(dict of side -> value), for the pairs that have every side."""
    pairs = set.intersection(*(set(values) for values in sides.values())) if sides else set()
    return [combine({name: values[p] for name, values in sides.items()}) for p in sorted(pairs)]


def figure(name, unit, ours, floor, target, note, extra=None):
    ratios = [o / f for o, f in zip(ours, floor) if f > 0] if ours and floor else []
    entry = {
        "figure": name,
        "unit": unit,
        "bootstrapper": {"values": ours, **(spread(ours) or {})} if ours else "not available",
        "floor": {"values": floor, **(spread(floor) or {})} if floor else "not available",
        "ratio": {"values": ratios, **(spread(ratios) or {})} if ratios else "not available",
        "target": target,
        "verdict": verdict(ratios, target),
        "note": note,
    }
    if extra:
        entry.update(extra)
    return entry


def main():
    meta, data = load(sys.argv[1])
    figures = []

    cycle = data.get("cycle", {})
    msiexec = paired({k: cycle[k] for k in ("msiexec_install", "msiexec_remove") if k in cycle},
                     lambda v: v["msiexec_install"] + v["msiexec_remove"])
    by_file = paired({k: cycle[k] for k in ("qz_file_install", "qz_file_remove") if k in cycle},
                     lambda v: v["qz_file_install"] + v["qz_file_remove"])
    figures.append(figure("install + remove cycle, package by file (/f)", "ms", by_file, msiexec, 1.0,
                          "qz-setup.exe /f pkg.msi QZ_SETUP_MODE=UNATTENDED, then UNATTENDED_UNINSTALL; "
                          "floor: msiexec /i and /x /qn /l*v (same bitness, same package, same prefix)"))
    by_name = paired({k: cycle[k] for k in ("qz_name_install", "qz_name_remove") if k in cycle},
                     lambda v: v["qz_name_install"] + v["qz_name_remove"])
    figures.append(figure("install + remove cycle, package by name (/p), 1 candidate", "ms", by_name,
                          msiexec if by_name else [], 1.0,
                          meta.get("by_name", "qz-setup.exe /p NAME ...; floor as above")))

    counts = sorted(int(k.split("_")[1]) for k in data if k.startswith("locate_"))
    per_candidate = {}
    for n in counts:
        sides = data["locate_%d" % n]
        floor = [sides["floor"][p] for p in sorted(sides["floor"])] if "floor" in sides else []
        locate = []
        if "qz_name" in sides and "qz_file" in sides:
            locate = paired({k: sides[k] for k in ("qz_name", "qz_file", "floor")},
                            lambda v: v["qz_name"] - v["qz_file"])
            floor = paired({k: sides[k] for k in ("qz_name", "qz_file", "floor")}, lambda v: v["floor"])
        extra = {"candidates": n,
                 "bootstrapper_ms_per_candidate": statistics.median(locate) / n if locate else "not available",
                 "floor_ms_per_candidate": statistics.median(floor) / n if floor else "not available"}
        if locate:
            per_candidate[n] = statistics.median(locate) / n
        figures.append(figure(
            "locate by name among %d candidates (match last)" % n, "ms", locate, floor, 1.3,
            "bootstrapper: qz-setup.exe /p NAME /? QZ_SETUP_MODE=UNATTENDED minus the same run with /f on "
            "the matching file (both end after the package is settled); floor: list the folder, open each "
            "package once, read ProductName and Template" + ("" if locate else "; " + meta.get("by_name", "")), extra))

    tr = data.get("transforms", {})
    diff, tr_floor = [], []
    if all(k in tr for k in ("qz_with", "qz_without", "floor")):
        diff = paired(dict(tr), lambda v: v["qz_with"] - v["qz_without"])
        tr_floor = paired(dict(tr), lambda v: v["floor"])
    figures.append(figure("language step, transforms in the folder", "ms", diff, tr_floor, 1.3,
                          "attended first installation with the transforms (German, user English) minus "
                          "the same without; floor: the same installer calls once per transform"))

    fixed = data.get("fixed", {})
    both = {k: fixed[k] for k in ("qz", "empty") if k in fixed}
    ours = paired(both, lambda v: v["qz"]) if len(both) == 2 else []
    empty = paired(both, lambda v: v["empty"]) if len(both) == 2 else []
    figures.append(figure("fixed cost (no package: ends before installer work)", "ms", ours, empty, 1.5,
                          "qz-setup.exe QZ_SETUP_MODE=UNATTENDED /e x.txt against an empty Windows program, "
                          "start to exit"))
    if "empty_user32" in fixed and "qz" in fixed:
        both = {k: fixed[k] for k in ("qz", "empty_user32")}
        figures.append(figure("  the same against an empty program importing user32 (no target)", "ms",
                              paired(both, lambda v: v["qz"]), paired(both, lambda v: v["empty_user32"]), None,
                              "for the record: the part of the fixed cost that is loading user32.dll under Wine"))

    memory = data.get("memory", {})
    ours = paired(dict(memory), lambda v: v["qz"] / MIB) if len(memory) == 2 else []
    theirs = paired(dict(memory), lambda v: v["msiexec"] / MIB) if len(memory) == 2 else []
    figures.append(figure("peak working set of the installation", "MiB", ours, theirs, 1.2,
                          "PeakWorkingSetSize (GetProcessMemoryInfo, followed while the process runs) "
                          "against msiexec /i on the same package"))

    sizes = {}
    for arch in ("x86", "x64"):
        size = meta.get("size_" + arch, "not built")
        sizes[arch] = int(size) if size.isdigit() else size

    linear = None
    if len(per_candidate) >= 2:
        values = list(per_candidate.values())
        linear = {"ms_per_candidate": {str(n): v for n, v in per_candidate.items()},
                  "largest_over_smallest": max(values) / min(values) if min(values) > 0 else None}

    result = {
        "configuration": meta.get("configuration"),
        "build": meta.get("build"),
        "machine": meta.get("machine"),
        "wine": meta.get("wineserver"),
        "pairs": int(meta.get("pairs", "0")),
        "load_average_before_after": [meta.get("load_before"), meta.get("load_after")],
        "figures": figures,
        "locate_cost_per_candidate": linear,
        "exe_size_bytes": sizes,
        "exe_size_target_x86_mib": 1.3,
        "fixed_run_exit_file": meta.get("fixed_exit_file"),
        "seconds": int(meta.get("seconds", "0")),
    }
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        json.dump(result, out, indent=2)
        out.write("\n")

    def num(v, unit):
        if not isinstance(v, dict):
            return "n/a"
        return "%.1f %s" % (v["median"], unit)

    rows = [("figure", "qz-setup", "floor", "ratio median [min-max]", "target", "verdict")]
    for f in figures:
        r = f["ratio"]
        ratio = "%.2f [%.2f-%.2f]" % (r["median"], r["min"], r["max"]) if isinstance(r, dict) else "n/a"
        rows.append((f["figure"], num(f["bootstrapper"], f["unit"]), num(f["floor"], f["unit"]), ratio,
                     "<= %.1fx" % f["target"] if f["target"] else "-", f["verdict"]))
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    print("configuration %s, %s pairs, %s" % (result["configuration"], result["pairs"], result["machine"]))
    print("load average before and after: %s / %s" % tuple(result["load_average_before_after"]))
    for i, row in enumerate(rows):
        print("  ".join(cell.ljust(widths[j]) for j, cell in enumerate(row)).rstrip())
        if i == 0:
            print("  ".join("-" * w for w in widths))
    if linear:
        print("locating, cost per candidate (bootstrapper): " +
              ", ".join("N=%s %.2f ms" % (n, v) for n, v in linear["ms_per_candidate"].items()) +
              " (largest/smallest %.2f)" % linear["largest_over_smallest"])
    for f in figures:
        if f.get("candidates") and isinstance(f["floor"], dict):
            print("locating, floor per candidate N=%d: %.2f ms" % (f["candidates"], f["floor_ms_per_candidate"]))
    for arch, size in sizes.items():
        if isinstance(size, int):
            mark = ""
            if arch == "x86":
                mark = " (target <= 1.3 MiB: %s)" % ("met" if size <= 1.3 * MIB else "missed")
            print("stripped qz-setup.exe, %s build: %d bytes = %.2f MiB%s" % (arch, size, size / MIB, mark))
        else:
            print("stripped qz-setup.exe, %s build: %s" % (arch, size))


if __name__ == "__main__":
    main()
