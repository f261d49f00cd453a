#!/usr/bin/env python3
"""Measures the quillon program itself on a busy sky: writes a scenario of a fifth more than N
aircraft that stay in range all the time (orbiting at every level, climbing and descending,
taxiing and standing around Amsterdam Schiphol), runs quillon on it against the stand-ins with
MAX_LIVE_SEL at N, and reports

  - CPU time per thread (the worker runs the program's own loop; the simulated simulator runs
    inside the SimClient thread's calls and the traffic stand-in inside the traffic reader's),
  - the stand-ins' CPU time and memory apart from the program's own, as the stand-ins count
    them inside the process (their log lines "Stand-ins at ..."),
  - the peak resident memory of the process,
  - how late the 10 ms loop started its ticks (median, 99th percentile, most) and how long the
    tick's own work took, from the loop's log lines: over the whole run, over the ramp while
    aircraft are still being created, and over the steady part from the first second at which
    all N live aircraft were active.

CPU is given over the whole run and over its steady part (the last --steady seconds), when every
aircraft that will be created has been created: creations are paced at two a second, so N
aircraft need N / 2 seconds to appear.

It fails (exit code 1) unless the run had what it asked for: MAX_LIVE_SEL at N wherever the log
shows it (the sample learned airport file sets it too, and wins once its airport is loaded) and N
live aircraft active at once.

usage: tools/measure_program.py [--aircraft 500] [--seconds 480] [--steady 120]
                                [--build BUILD_DIR] [--work FOLDER] [--keep]
The program is built first (scripts/build --target quillon into BUILD_DIR, default build/).
"""

import argparse
import json
import math
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
LAT0, LON0 = 52.3086, 4.7639  # the sample airport, where the simulated user aircraft stands
COS0 = math.cos(math.radians(LAT0))
FIELD_FT = -11.0
REPORT_INTERVAL_S = 2.0
PLAY_FROM_S = 60.0
SKY_SHARE = 1.2
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")

# Airline and model of liveries that the sample simulator installation has, so every aircraft
# can be created.
IDENTITIES = [("AFR", "A320"), ("AFR", "A319"), ("EZY", "A20N"), ("KLM", "E190"), ("KLM", "B738"),
              ("KLM", "B77W"), ("KLM", "A332"), ("DAL", "A333"), ("DAL", "B763"), ("DLH", "A321"),
              ("SAS", "CRJ9"), ("BAW", "A319"), ("BAW", "A320"), ("UAE", "B77W"), ("TRA", "B738"),
              ("EIN", "A320")]
AIRPORTS = ["LHR", "CDG", "FRA", "MAD", "BCN", "DUB", "CPH", "JFK", "ATL", "DXB", "FCO", "ZRH"]


def position(east_nm, north_nm):
    return LAT0 + north_nm / 60.0, LON0 + east_nm / (60.0 * COS0)


class Mover:
    """One aircraft's path as a function of scenario time."""

    def __init__(self, rng, index, kind):
        self.kind = kind
        self.hex = f"{0x700000 + index:06x}"
        airline, self.model = rng.choice(IDENTITIES)
        self.callsign = f"{airline}{100 + index}"
        self.registration = f"PH-{chr(65 + index // 676 % 26)}{chr(65 + index // 26 % 26)}{chr(65 + index % 26)}"
        self.origin, self.destination = rng.sample(AIRPORTS, 2)
        self.phase0 = rng.uniform(0.0, 2.0 * math.pi)
        self.direction = rng.choice([-1.0, 1.0])
        if kind in ("level", "climbing"):
            self.centre = (rng.uniform(-8.0, 8.0), rng.uniform(-8.0, 8.0))
            self.radius = rng.uniform(3.0, 14.0)
            self.speed = rng.uniform(200.0, 460.0)
            self.altitude = rng.uniform(3000.0, 38000.0) if kind == "level" else rng.uniform(6000.0, 20000.0)
        elif kind == "taxi":
            self.centre = (rng.uniform(-1.5, 1.5), rng.uniform(-1.5, 1.5))
            self.radius = rng.uniform(0.15, 0.4)
            self.speed = rng.uniform(10.0, 20.0)
            self.altitude = FIELD_FT
        else:  # standing
            angle = rng.uniform(0.0, 2.0 * math.pi)
            distance = rng.uniform(0.6, 3.0)
            self.centre = (distance * math.sin(angle), distance * math.cos(angle))
            self.radius = 0.0
            self.speed = 0.0
            self.altitude = FIELD_FT
        self.report_offset = rng.uniform(0.0, REPORT_INTERVAL_S)

    def report(self, t):
        if self.radius > 0.0:
            angle = self.phase0 + self.direction * self.speed / 3600.0 * t / self.radius
            east = self.centre[0] + self.radius * math.sin(angle)
            north = self.centre[1] + self.radius * math.cos(angle)
            track = math.degrees(angle + self.direction * math.pi / 2.0) % 360.0
        else:
            east, north = self.centre
            track = math.degrees(self.phase0) % 360.0
        altitude, vertical = self.altitude, 0.0
        if self.kind == "climbing":
            # Up and down by 3000 ft over ten minutes.
            omega = 2.0 * math.pi / 600.0
            altitude = self.altitude + 3000.0 * math.sin(omega * t + self.phase0)
            vertical = 3000.0 * omega * math.cos(omega * t + self.phase0) * 60.0
        lat, lon = position(east, north)
        ground = self.kind in ("taxi", "standing")
        return {"type": "live", "t": round(t, 2), "hex": self.hex, "cs": self.callsign, "reg": self.registration,
                "model": self.model, "from": self.origin, "to": self.destination, "lat": round(lat, 6),
                "lon": round(lon, 6), "alt": round(altitude), "gs": round(self.speed, 1),
                "tas": round(self.speed), "trk": round(track, 1), "vr": round(vertical), "gnd": ground}


def write_scenario(path, aircraft, seconds):
    rng = random.Random(20261207)
    kinds = ["level"] * 55 + ["climbing"] * 15 + ["taxi"] * 20 + ["standing"] * 10
    movers = [Mover(rng, i, kinds[i % len(kinds)]) for i in range(aircraft)]
    end = PLAY_FROM_S + seconds + 30.0
    lines = [json.dumps({"type": "header", "name": f"{aircraft} aircraft over EHAM", "start_hh": 20,
                         "play_from": PLAY_FROM_S, "interval_ms": int(REPORT_INTERVAL_S * 1000)}),
             json.dumps({"type": "qnh", "t": 0, "qnh": 1013.2})]
    reports = []
    for mover in movers:
        t = mover.report_offset
        while t < end:
            reports.append((t, mover.report(t)))
            t += REPORT_INTERVAL_S
    reports.sort(key=lambda item: item[0])
    lines.extend(json.dumps(r, separators=(",", ":")) for _, r in reports)
    path.write_text("\n".join(lines) + "\n")
    return len(reports)


def set_up_work(work, build, aircraft):
    if work.exists():
        shutil.rmtree(work)
    for sub in ("input", "output", "airports"):
        (work / sub).mkdir(parents=True)
    for enc in (build / "input").glob("*.enc"):
        shutil.copy(enc, work / "input")
    airports = ROOT / "data" / "airports"
    if airports.is_dir():
        shutil.copytree(airports, work / "airports", dirs_exist_ok=True)
    # A learned airport file's settings win over parameters.xml once its airport is loaded: the
    # sample learned file must ask for the same number of aircraft.
    for learned in (work / "airports" / "learned").rglob("*.xml"):
        text = learned.read_text()
        text = re.sub(r'(<parameter name="MAX_LIVE_SEL" value=")\d+(")', rf"\g<1>{aircraft}\g<2>", text)
        learned.write_text(text)
    (work / "parameters.xml").write_text(
        '<?xml version="1.0" encoding="UTF-8"?>\n<root>\n  <parameters>\n'
        f'    <parameter name="MAX_LIVE_SEL" value="{aircraft}" />\n'
        '    <parameter name="SCAN_AIRPORTS" value="false" />\n'
        '  </parameters>\n</root>\n')


def thread_times(pid):
    """CPU seconds per thread name, summed over threads of the same name."""
    times = {}
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            stat = (task / "stat").read_text()
        except OSError:
            continue
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2:].split()
        seconds = (int(fields[11]) + int(fields[12])) / CLOCK_TICKS  # utime, stime
        times[name] = times.get(name, 0.0) + seconds
    return times


def peak_rss_mb(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1]) / 1024.0
    return 0.0


STAND_INS = re.compile(r"^Stand-ins at (\d+) s: simulator ([\d.]+) s CPU, ([\d.]+) MB \(at most ([\d.]+) MB\); "
                       r"traffic service ([\d.]+) s CPU, ([\d.]+) MB \(at most ([\d.]+) MB\); "
                       r"process at most ([\d.]+) MB, program's own at most ([\d.]+) MB$", re.MULTILINE)


def play(build, work, scenario, args):
    """Runs quillon; per-thread CPU seconds at the end and at the steady part's start, the peak
    resident memory, the seconds it ran and those of the steady part."""
    process = subprocess.Popen([str(build / "quillon"), "--work", str(work), "--data", str(ROOT / "data"),
                                "--scenario", str(scenario), "--duration", str(args.seconds),
                                "--session-lifetime", "0"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    started = time.monotonic()
    steady_from = max(0.0, args.seconds - args.steady)
    at_steady, last, peak = None, {}, 0.0
    while process.poll() is None:
        try:
            # Each thread's most: the threads end before the process does, and a sample taken
            # while it closes down would lose what they used.
            for name, seconds in thread_times(process.pid).items():
                last[name] = max(last.get(name, 0.0), seconds)
            peak = max(peak, peak_rss_mb(process.pid))
        except (OSError, ValueError):
            pass
        if at_steady is None and time.monotonic() - started >= steady_from:
            at_steady = (time.monotonic() - started, dict(last))
        time.sleep(0.25)
    ran = time.monotonic() - started
    stderr = process.stderr.read().decode(errors="replace").strip()
    print(f"quillon ended with exit code {process.returncode} after {ran:.0f} s")
    if stderr:
        print(stderr)
    return process.returncode, last, at_steady, peak, ran


def report_threads(last, at_steady, ran):
    print("\nCPU per thread          whole run     steady part")
    steady_seconds = ran - at_steady[0] if at_steady else 0.0
    for name in sorted(last, key=lambda n: -last[n]):
        whole = last[name]
        line = f"  {name:20} {whole:8.1f} s {100.0 * whole / ran:5.1f}%"
        if at_steady and steady_seconds > 0:
            line += f"   {100.0 * (whole - at_steady[1].get(name, 0.0)) / steady_seconds:5.1f}% of a core"
        print(line)


def report_stand_ins(log, last, at_steady, ran, peak):
    """The stand-ins' CPU and memory apart from the program's own, from their log lines."""
    lines = [tuple(float(v) for v in m.groups()) for m in STAND_INS.finditer(log)]
    if not lines:
        print("\nno stand-in line in the log")
        return False
    final = lines[-1]
    stand_in_cpu = final[1] + final[4]
    process_cpu = sum(last.values())
    print(f"\nmemory: process at most {peak:.1f} MB (the program's own count: {final[7]:.1f} MB)")
    print(f"  simulator stand-in held at most {final[3]:.1f} MB, traffic stand-in at most {final[6]:.1f} MB")
    print(f"  program's own at most {final[8]:.1f} MB (resident memory less what the stand-ins held then)")
    print(f"\nCPU over the whole run: process {process_cpu:.1f} s, simulator stand-in {final[1]:.1f} s, "
          f"traffic stand-in {final[4]:.1f} s, program's own {process_cpu - stand_in_cpu:.1f} s "
          f"({100.0 * (process_cpu - stand_in_cpu) / ran:.1f}% of a core)")
    if at_steady:
        # The stand-ins log their figures every minute: the steady part runs from the last line
        # at or before its start.
        before = [line for line in lines if line[0] <= at_steady[0]]
        if before and final[0] > before[-1][0]:
            start = before[-1]
            seconds = final[0] - start[0]
            part = (final[1] - start[1] + final[4] - start[4]) / seconds
            process_part = (process_cpu - sum(at_steady[1].values())) / (ran - at_steady[0])
            print(f"CPU in the steady part: process {100.0 * process_part:.1f}% of a core, stand-ins "
                  f"{100.0 * part:.1f}% (from {start[0]:.0f} s on), program's own {100.0 * (process_part - part):.1f}%")
    return True


LOOP_FIGURES = (r"(\d+) ticks started late by (\d+) us median, (\d+) us p99, (\d+) us at most; "
                r"tick work (\d+) us median, (\d+) us p99, (\d+) us at most")
LOOP_PARTS = [("whole run", re.compile(r"^Main loop: " + LOOP_FIGURES, re.MULTILINE)),
              ("ramp", re.compile(r"^Main loop, ramp \(until second (\d+)\): " + LOOP_FIGURES, re.MULTILINE)),
              ("steady part", re.compile(r"^Main loop, steady part with MAX_LIVE_SEL live aircraft active "
                                         r"\(from second (\d+) on\): " + LOOP_FIGURES, re.MULTILINE))]


def report_loop(log):
    """The loop's tick work and lateness over the whole run, the ramp (while aircraft are still
    being created) and the steady part (from the first second at which all asked for were active);
    false when the log has no main loop line."""
    rows = []
    for name, pattern in LOOP_PARTS:
        found = pattern.findall(log)
        if not found:
            continue
        values = [int(v) for v in found[-1]]
        if name == "ramp":
            name = f"ramp (loop seconds 0-{values[0]})"
        elif name == "steady part":
            name = f"steady part (from loop second {values[0]} on)"
        rows.append((name, values[-7:]))
    if not rows:
        print("no main loop line in the log")
        return False
    print(f"\n{'main loop':40} {'ticks':>7}  tick work p50 / p99 / most (us)  started late p50 / p99 / most (us)")
    for name, (ticks, late50, late99, late_most, work50, work99, work_most) in rows:
        print(f"  {name:38} {ticks:7}  {work50:7} / {work99:5} / {work_most:6}        "
              f"{late50:7} / {late99:5} / {late_most:6}")
    if len(rows) == 1:
        print("  (no steady part: the live aircraft asked for were never all active)")
    return True


def check_live(log, aircraft):
    """The number of live aircraft asked for was set and reached: the log's MAX_LIVE_SEL (from the
    settings and from the learned airport file) and the most aircraft active at once."""
    problems = []
    for value in re.findall(r"^ +MAX_LIVE_SEL +: (\d+)$|^MAX_LIVE_SEL=(\d+)$", log, re.MULTILINE):
        asked = int(value[0] or value[1])
        if asked != aircraft:
            problems.append(f"MAX_LIVE_SEL was set to {asked}")
    most = re.findall(r"^Live aircraft: at most (\d+) active at once \(MAX_LIVE_SEL (\d+)\)$", log, re.MULTILINE)
    if not most:
        problems.append("no count of active live aircraft in the log")
    else:
        active, asked = (int(v) for v in most[-1])
        print(f"\nlive aircraft: at most {active} active at once, MAX_LIVE_SEL {asked}")
        if asked != aircraft:
            problems.append(f"MAX_LIVE_SEL was {asked} at the end")
        if active < aircraft:
            problems.append(f"only {active} of {aircraft} live aircraft were active at once")
    for problem in problems:
        print(f"FAILED: {problem}")
    return not problems


def run(args):
    build = Path(args.build).resolve()
    subprocess.run([str(ROOT / "scripts" / "build"), "--target", "quillon"], check=True,
                   env={**os.environ, "BUILD_DIR": str(build)}, stdout=subprocess.DEVNULL)
    work = Path(args.work).resolve() if args.work else Path(tempfile.mkdtemp(prefix="quillon-measure-"))
    set_up_work(work, build, args.aircraft)
    scenario = work / "busy.jsonl"
    # The sky holds a fifth more aircraft than asked for, as a busy real one does: the program
    # takes some away by its rules (a holding aircraft whose next report jumps, one too near the
    # user) and spawns others in their place, so that N stay active.
    sky = math.ceil(args.aircraft * SKY_SHARE)
    count = write_scenario(scenario, sky, args.seconds)
    print(f"scenario: {sky} aircraft in the sky for {args.aircraft} asked for, {count} reports, {args.seconds} s; "
          f"work folder {work}")

    code, last, at_steady, peak, ran = play(build, work, scenario, args)
    report_threads(last, at_steady, ran)
    log = (work / "Log.txt").read_text(errors="replace")
    stand_ins = report_stand_ins(log, last, at_steady, ran, peak)
    matched = len(re.findall(r"^ {10}.* =[0-6]= ", log, re.MULTILINE))
    print(f"\nliveries matched (aircraft spawned): {matched}")
    loops = report_loop(log)
    reached = check_live(log, args.aircraft)
    if not args.keep and not args.work:
        shutil.rmtree(work)
    return 0 if code == 0 and loops and stand_ins and reached else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--aircraft", type=int, default=500)
    parser.add_argument("--seconds", type=int, default=480)
    parser.add_argument("--steady", type=int, default=120)
    parser.add_argument("--build", default=str(ROOT / "build"))
    parser.add_argument("--work", default="")
    parser.add_argument("--keep", action="store_true", help="keep the temporary work folder")
    return run(parser.parse_args())


if __name__ == "__main__":
    sys.exit(main())
