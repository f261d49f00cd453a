#!/usr/bin/env python3
"""Table of the benchmark results in a folder of scripts/bench: one line per benchmark with the
median over the runs of its time and of each of its counters, with their spread (the least and
the most of the runs), beside the machine it ran on (the cores and CPUs, and the lowest and
highest load average seen before and after its program).

usage: tools/bench_table.py RESULTS_FOLDER
"""

import json
import re
import statistics
import sys
from pathlib import Path

# Fields of a benchmark entry that are not figures.
NOT_FIGURES = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads", "iterations",
               "real_time", "cpu_time", "time_unit", "family_index", "per_family_instance_index",
               "aggregate_name", "aggregate_unit", "label", "error_occurred", "error_message"}


def figure(value):
    return f"{value:.4g}"


def spread(values):
    """The median of the runs and their spread: "median [least-most]", or the one value of a
    single run."""
    if len(values) == 1:
        return figure(values[0])
    return f"{figure(statistics.median(values))} [{figure(min(values))}-{figure(max(values))}]"


def collect(folder):
    """(program, benchmark) -> {"time": [...], counter: [...], "unit": u, "machine": [...]}"""
    table = {}
    for path in sorted(folder.glob("*_run*.json")):
        program = re.sub(r"_run\d+\.json$", "", path.name)
        data = json.loads(path.read_text())
        context = data.get("context", {})
        machine = (context.get("cores", "?"), context.get("cpus", "?"), context.get("load_before", "?"),
                   context.get("load_after", "?"))
        for bench in data.get("benchmarks", []):
            # Repeated benchmarks give their median; their other aggregates and single runs are left out.
            if bench.get("run_type") == "aggregate" and bench.get("aggregate_name") != "median":
                continue
            if bench.get("run_type") != "aggregate" and bench.get("repetitions", 1) > 1:
                continue
            if bench.get("error_occurred"):
                continue
            entry = table.setdefault((program, bench["name"]), {"figures": {}, "unit": "", "machines": []})
            entry["unit"] = bench.get("time_unit", "")
            entry["figures"].setdefault("time", []).append(bench["real_time"])
            for key, value in bench.items():
                if key not in NOT_FIGURES and isinstance(value, (int, float)):
                    entry["figures"].setdefault(key, []).append(value)
            entry["machines"].append(machine)
    return table


def loads(machines):
    values = []
    for _, _, before, after in machines:
        for text in (before, after):
            try:
                values.append(float(str(text).split("/")[0]))
            except ValueError:
                pass
    return f"{min(values):.1f}-{max(values):.1f}" if values else "?"


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    table = collect(Path(sys.argv[1]))
    if not table:
        print(f"no results in {sys.argv[1]}", file=sys.stderr)
        return 1
    print(f"{'program':26} {'benchmark':62} {'time, median [min-max]':>26} unit  runs cores cpus            "
          f"load(1 min)  figures")
    for (program, name), entry in sorted(table.items()):
        figures = entry["figures"]
        time = spread(figures["time"])
        others = " ".join(f"{k}={spread(v)}" for k, v in figures.items() if k != "time")
        cores, cpus, _, _ = entry["machines"][0]
        print(f"{program:26} {name:62} {time:>26} {entry['unit']:4} {len(figures['time']):5} {cores:>5} "
              f"{cpus:15} {loads(entry['machines']):>11}  {others}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
