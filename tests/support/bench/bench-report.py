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


def lower(ratios, against):
    """Which side is lower at the median of the pair ratios."""
    if not ratios:
        return "not available"
    mid = statistics.median(ratios)
    return "qz-setup" if mid < 1 else against if mid > 1 else "even"


def figure(name, unit, ours, floor, target, note, extra=None, against="floor"):
    ratios = [o / f for o, f in zip(ours, floor) if f > 0] if ours and floor else []
    entry = {
        "figure": name,
        "unit": unit,
        "against": against,
        "bootstrapper": {"values": ours, **(spread(ours) or {})} if ours else "not available",
        "floor": {"values": floor, **(spread(floor) or {})} if floor else "not available",
        "ratio": {"values": ratios, **(spread(ratios) or {})} if ratios else "not available",
        "target": target,
        "verdict": verdict(ratios, target),
        "lower": lower(ratios, against),
        "note": note,
    }
    if extra:
        entry.update(extra)
    return entry


def median_of(values):
    return statistics.median(values) if values else None


def count(meta, *keys):
    values = [meta.get(k, "") for k in keys]
    return sum(int(v) for v in values) if all(v.isdigit() for v in values) else None


def cycle_breakdown(meta, data, figures):
    """What the cycle's difference to msiexec is made of, each part measured in this run (per cycle, ms)."""
    cycle, fixed = data.get("cycle", {}), data.get("fixed", {})
    names = ("qz_file_install", "qz_file_remove", "msiexec_install", "msiexec_remove")
    if not all(k in cycle for k in names):
        return None
    gap = median_of(paired({k: cycle[k] for k in names},
                           lambda v: v["qz_file_install"] + v["qz_file_remove"]
                           - v["msiexec_install"] - v["msiexec_remove"]))
    parts = {"difference_ms": gap}
    # One process per run on each side, two runs per cycle: the start of a
    # process is paid by both, the static runtime's start by qz-setup.exe alone.
    if "empty" in fixed:
        start = median_of(list(fixed["empty"].values()))
        parts["process_start_ms"] = {"per_run": start, "per_cycle": 2 * start}
    if "empty_runtime" in fixed and "empty_imports" in fixed:
        runtime = median_of(paired({k: fixed[k] for k in ("empty_runtime", "empty_imports")},
                                   lambda v: v["empty_runtime"] - v["empty_imports"]))
        parts["runtime_start_ms"] = {"per_run": runtime, "per_cycle": 2 * runtime}
    opens, theirs = count(meta, "opens_install", "opens_remove"), count(meta, "opens_msiexec")
    per_open = [f["floor_ms_per_candidate"] for f in figures
                if f.get("candidates") and isinstance(f.get("floor_ms_per_candidate"), float)]
    if opens is not None and theirs is not None and per_open:
        each = per_open[-1]  # the most candidates: the steadiest figure
        parts["package_opens"] = {"qz_setup": opens, "install": int(meta["opens_install"]),
                                  "remove": int(meta["opens_remove"]), "msiexec": theirs, "ms_each": each,
                                  "ms": (opens - theirs) * each}
    writes = count(meta, "writes_install", "writes_remove")
    per_write = median_of(list(data.get("log_write", {}).get("floor", {}).values()))
    if writes is not None and per_write is not None:
        parts["log_writes"] = {"count": writes, "install": int(meta["writes_install"]),
                               "remove": int(meta["writes_remove"]), "ms_each": per_write,
                               "ms": writes * per_write}
    elif "writes_install" in meta:
        parts["log_writes"] = meta["writes_install"]
    if gap is not None:
        explained = sum(p["per_cycle"] if "per_cycle" in p else p["ms"]
                        for k, p in parts.items()
                        if k in ("runtime_start_ms", "package_opens", "log_writes") and isinstance(p, dict))
        parts["rest_ms"] = gap - explained
    return parts


def describe_breakdown(b):
    lines = ["the cycle against msiexec: %+.1f ms per cycle (median of the pair differences); measured parts:"
             % b["difference_ms"]]
    if "process_start_ms" in b:
        lines.append("  (a process start, which both sides pay in each run: the empty program, %.1f ms)"
                     % b["process_start_ms"]["per_run"])
    if "runtime_start_ms" in b:
        lines.append("  the static C++ runtime's start and its image, qz-setup.exe's alone (an empty program with its imports, "
                     "with the runtime's streams against without): 2 x %+.1f = %+.1f ms"
                     % (b["runtime_start_ms"]["per_run"], b["runtime_start_ms"]["per_cycle"]))
    opens = b.get("package_opens")
    if isinstance(opens, dict):
        lines.append("  package opens: %d (installation %d, removal %d) against msiexec's %d, %.2f ms each: %+.1f ms"
                     % (opens["qz_setup"], opens["install"], opens["remove"], opens["msiexec"], opens["ms_each"],
                        opens["ms"]))
    writes = b.get("log_writes")
    if isinstance(writes, dict):
        lines.append("  log writes: %d (installation %d, removal %d), %.3f ms each: %+.1f ms"
                     % (writes["count"], writes["install"], writes["remove"], writes["ms_each"], writes["ms"]))
    elif writes:
        lines.append("  log writes: " + writes)
    if "rest_ms" in b:
        lines.append("  the rest (the bootstrapper's other work, and the noise): %+.1f ms"
                     % b["rest_ms"])
    return "\n".join(lines)


def describe_size(arch, size):
    total = size["bytes"]
    lines = ["what the %s qz-setup.exe is made of (%d bytes):" % (arch, total)]
    for part, length in size["parts"].items():
        lines.append("  %-45s %8d bytes  %5.1f %%" % (part, length, 100.0 * length / total))
    runtime = sum(v for k, v in size["parts"].items() if k.startswith("runtime"))
    own = sum(v for k, v in size["parts"].items() if k.startswith("project") or k == "resources")
    lines.append("  the runtime's share %.1f %%, the project's own (with its resources) %.1f %%, the linker's %.1f %%"
                 % (100.0 * runtime / total, 100.0 * own / total, 100.0 * size["parts"].get("linker", 0) / total))
    if "runtime_floor_bytes" in size:
        lines.append("  an empty program with the same runtime and imports: %d bytes (%.1f %% of it)"
                     % (size["runtime_floor_bytes"], 100.0 * size["runtime_floor_bytes"] / total))
    if "no_streams_bytes" in size:
        lines.append("  a program with strings, containers and exceptions but no streams: %d bytes (%.1f %% of it)"
                     % (size["no_streams_bytes"], 100.0 * size["no_streams_bytes"] / total))
    lines.append("  largest members: " + ", ".join("%s %d" % (m, n) for m, n in list(size["largest_members"].items())[:6]))
    return "\n".join(lines)


def main():
    meta, data = load(sys.argv[1])
    figures = []

    cycle = data.get("cycle", {})

    def sides(*names):
        return {k: cycle[k] for k in names if k in cycle} if all(k in cycle for k in names) else {}

    def both(names, first, second):
        chosen = sides(*names)
        return (paired(chosen, lambda v: v[first + "_install"] + v[first + "_remove"]),
                paired(chosen, lambda v: v[second + "_install"] + v[second + "_remove"])) if chosen else ([], [])

    by_file, msiexec = both(("qz_file_install", "qz_file_remove", "msiexec_install", "msiexec_remove"),
                            "qz_file", "msiexec")
    figures.append(figure("install + remove cycle, package by file (/f)", "ms", by_file, msiexec, 1.05,
                          "qz-setup.exe /f pkg.msi QZ_SETUP_MODE=UNATTENDED, then UNATTENDED_UNINSTALL; "
                          "floor: msiexec /i and /x /qn /l*v (same bitness, same package, same prefix)",
                          against="msiexec"))
    against_nsis, nsis = both(("qz_file_install", "qz_file_remove", "nsis_install", "nsis_remove"),
                              "qz_file", "nsis")
    figures.append(figure("  the same against the NSIS wrapper", "ms", against_nsis, nsis, 1.0,
                          "peer: an NSIS installer (%s) that runs msiexec /i, then /x, on the package beside it "
                          "with /qn and returns msiexec's exit code" % meta.get("nsis", "NSIS"),
                          against="NSIS wrapper"))
    by_name = paired({k: cycle[k] for k in ("qz_name_install", "qz_name_remove") if k in cycle},
                     lambda v: v["qz_name_install"] + v["qz_name_remove"])
    figures.append(figure("install + remove cycle, package by name (/p), 1 candidate", "ms", by_name,
                          msiexec if by_name else [], 1.05,
                          meta.get("by_name", "qz-setup.exe /p NAME ...; floor as above"), against="msiexec"))

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
                          "start to exit", against="empty program"))

    def fixed_against(side, name, target, note, against):
        if side in fixed and "qz" in fixed:
            pair = {k: fixed[k] for k in ("qz", side)}
            figures.append(figure(name, "ms", paired(pair, lambda v: v["qz"]), paired(pair, lambda v: v[side]),
                                  target, note, against=against))

    fixed_against("nsis_empty", "  the same against an empty NSIS installer", 1.0,
                  "peer: the NSIS wrapper built with an empty section (silent, does nothing)", "NSIS, empty")
    fixed_against("empty_user32", "  the same against an empty program importing user32 (no target)", None,
                  "for the record: the part of the fixed cost that is loading user32.dll under Wine",
                  "empty + user32")

    memory = data.get("memory", {})

    def peaks(side):
        pair = {k: memory[k] for k in ("qz", side)} if side in memory and "qz" in memory else {}
        return (paired(pair, lambda v: v["qz"] / MIB), paired(pair, lambda v: v[side] / MIB)) if pair else ([], [])

    ours, theirs = peaks("msiexec")
    figures.append(figure("peak working set of the installation", "MiB", ours, theirs, 1.2,
                          "PeakWorkingSetSize (GetProcessMemoryInfo, followed while the process runs) of each "
                          "process tree (%s) against msiexec /i on the same package (%s)"
                          % (meta.get("tree_qz", "?"), meta.get("tree_msiexec", "?")), against="msiexec"))
    ours, theirs = peaks("nsis")
    figures.append(figure("  the same against the NSIS wrapper's process tree", "MiB", ours, theirs, 1.0,
                          "the sum of each process's own peak in the wrapper's tree (%s)" % meta.get("tree_nsis", "?"),
                          against="NSIS wrapper"))

    sizes = {}
    for arch in ("x86", "x64"):
        size = meta.get("size_" + arch, "not built")
        sizes[arch] = int(size) if size.isdigit() else size
    ours = sizes.get(meta.get("configuration"))
    wrapper = meta.get("size_nsis_wrapper", "")
    if isinstance(ours, int) and wrapper.isdigit():
        figures.append(figure("size of the exe against the NSIS wrapper's", "KiB", [ours / 1024],
                              [int(wrapper) / 1024], None,
                              "the stripped qz-setup.exe of this configuration against the wrapper's exe (same "
                              "bitness; the empty NSIS installer: %s bytes)" % meta.get("size_nsis_empty", "?"),
                              against="NSIS wrapper"))

    linear = None
    if len(per_candidate) >= 2:
        values = list(per_candidate.values())
        linear = {"ms_per_candidate": {str(n): v for n, v in per_candidate.items()},
                  "largest_over_smallest": max(values) / min(values) if min(values) > 0 else None}

    breakdown = cycle_breakdown(meta, data, figures)
    size_parts = {}
    for arch in ("x86", "x64"):
        path = meta.get("size_breakdown_" + arch)
        if path:
            with open(path, encoding="utf-8") as parts:
                size_parts[arch] = json.load(parts)

    result = {
        "configuration": meta.get("configuration"),
        "build": meta.get("build"),
        "machine": meta.get("machine"),
        "wine": meta.get("wineserver"),
        "pairs": int(meta.get("pairs", "0")),
        "load_average_before_after": [meta.get("load_before"), meta.get("load_after")],
        "figures": figures,
        "locate_cost_per_candidate": linear,
        "cycle_breakdown": breakdown,
        "exe_size_bytes": sizes,
        "exe_size_target_x86_mib": 1.3,
        "size_breakdown": size_parts,
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

    rows = [("figure", "qz-setup", "floor / peer", "ratio median [min-max]", "lower", "target", "verdict")]
    for f in figures:
        r = f["ratio"]
        ratio = "%.2f [%.2f-%.2f]" % (r["median"], r["min"], r["max"]) if isinstance(r, dict) else "n/a"
        rows.append((f["figure"], num(f["bootstrapper"], f["unit"]), num(f["floor"], f["unit"]), ratio,
                     f["lower"], "<= %.2fx" % f["target"] if f["target"] else "-", f["verdict"]))
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
              (" (largest/smallest %.2f)" % linear["largest_over_smallest"]
               if linear["largest_over_smallest"] is not None
               else " (largest/smallest: none, a cost at or below zero is noise)"))
    for f in figures:
        if f.get("candidates") and isinstance(f["floor"], dict):
            print("locating, floor per candidate N=%d: %.2f ms" % (f["candidates"], f["floor_ms_per_candidate"]))
    if breakdown:
        print(describe_breakdown(breakdown))
    for arch, size in sizes.items():
        if isinstance(size, int):
            mark = ""
            if arch == "x86":
                mark = " (target <= 1.3 MiB: %s)" % ("met" if size <= 1.3 * MIB else "missed")
            print("stripped qz-setup.exe, %s build: %d bytes = %.2f MiB%s" % (arch, size, size / MIB, mark))
        else:
            print("stripped qz-setup.exe, %s build: %s" % (arch, size))
    for arch, parts in size_parts.items():
        print(describe_size(arch, parts))


if __name__ == "__main__":
    main()
