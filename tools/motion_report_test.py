#!/usr/bin/env python3
"""Tests of tools/motion_report.py on small made-up recordings: one landing aircraft whose
reports descend onto a runway, recorded 35 s behind them, and what each case changes in it.
Standard library only: python3 tools/motion_report_test.py"""

import json
import math
import os
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "motion_report.py")
FPS = 30
DELAY_S = 35.0
LAT, LON = 52.3, 4.76
KT = 1852.0 / 3600.0
M_PER_DEG_LON = 111320.0 * math.cos(math.radians(LAT))


def reported(t):
    """The landing: eastbound at 140 kt, 600 ft/min down to the runway at t = 60, then 40 kt."""
    if t < 60.0:
        east = (t - 60.0) * 140.0 * KT
        return LAT, LON + east / M_PER_DEG_LON, (60.0 - t) * 10.0, 140.0, False
    east = (t - 60.0) * 40.0 * KT
    return LAT, LON + east / M_PER_DEG_LON, 0.0, 40.0, True


def scenario_lines():
    for t in range(0, 120, 4):
        lat, lon, alt, gs, gnd = reported(float(t))
        yield json.dumps({"type": "live", "hex": "484001", "cs": "KLM1", "model": "B738", "t": t, "lat": lat,
                          "lon": lon, "alt": alt, "gs": gs, "gnd": gnd, "vr": 0 if gnd else -600})


def recording_lines(change, start, stop):
    """The object's frames from START to STOP s of the scenario, the clock's to 140 s; CHANGE(age,
    frame values) may alter a frame."""
    first = int(start * FPS)
    yield "O,{},7,ai,KLM1,Generic".format(first)
    yield "S,{},7,flying KLM1".format(first)
    for frame in range(first, int(140 * FPS)):
        t = frame / FPS
        if frame % FPS == 0:
            yield "S,{},0,scenario_time {}".format(frame, t)
        if frame == int(96 * FPS):
            yield "S,{},7,taxi KLM1".format(frame)
        if t >= stop:
            continue
        lat, lon, alt, gs, gnd = reported(t - DELAY_S)
        values = {"lat": lat, "lon": lon, "alt": alt, "hdg": 90.0, "gnd": gnd, "bank": 0.0}
        change(t - first / FPS, values)
        yield "P,{},7,{lat},{lon},{alt},{hdg},{gnd:d},0,{bank},0,{tas},0".format(frame, tas=gs, **values)


def steep(age, v):
    # the last 2 s before the runway (reached at the age of 59 s) at 1500 ft/min
    if 57.0 <= age < 59.0:
        v["alt"] = (59.0 - age) * 25.0


def placed_from_above(age, v):
    # a new object on the runway shown at its reported height for a moment
    if age < 0.25:
        v["alt"], v["gnd"] = 325.0, False


def frozen(age, v):
    if age < 1.0:
        lat, lon, alt, _, _ = reported(1.0)
        v["lat"], v["lon"], v["alt"] = lat, lon, alt


def not_a_number(age, v):
    if 5.0 <= age < 5.1:
        v["alt"] = float("nan")


def crabbing(age, v):
    v["hdg"] = 90.0 if v["gnd"] else 120.0


def unchanged(age, v):
    pass


# name, change, what the report finds broken, the seconds of the scenario the object is shown,
# the reason the log gives for its removal
CASES = [
    ("as reported", unchanged, None, (36.0, 140.0), "park airport given up"),
    ("steep touchdown", steep, "touchdown at -1500 ft/min", (36.0, 140.0), None),
    ("placed from above", placed_from_above, None, (100.0, 140.0), None),
    ("frozen after creation", frozen, "frozen 0.9 s after creation", (36.0, 140.0), None),
    ("not a number", not_a_number, "frames not a number", (36.0, 140.0), None),
    ("nose off the track", crabbing, "nose off the track 100.0% of the airborne time", (36.0, 140.0), None),
    ("removed taxiing", unchanged, "removed taxiing at 110 s (held too long)", (36.0, 110.0), "held too long"),
    ("kept off the user", unchanged, None, (36.0, 110.0), "too close to the user"),
]


class MotionReportTest(unittest.TestCase):
    def test_cases(self):
        with tempfile.TemporaryDirectory() as folder:
            scenario = os.path.join(folder, "scenario.jsonl")
            with open(scenario, "w", encoding="utf-8") as f:
                f.write("\n".join(scenario_lines()) + "\n")
            for name, change, broken, (start, stop), reason in CASES:
                with self.subTest(name):
                    recording = os.path.join(folder, "recording.csv")
                    with open(recording, "w", encoding="utf-8") as f:
                        f.write("\n".join(recording_lines(change, start, stop)) + "\n")
                    log = os.path.join(folder, "Log.txt")
                    with open(log, "w", encoding="utf-8") as f:
                        f.write("KLM1 removed: {}\n".format(reason) if reason else "")
                    run = subprocess.run([sys.executable, TOOL, recording, scenario, "--log", log],
                                         capture_output=True, text=True, check=False)
                    if broken is None:
                        self.assertEqual(run.returncode, 0, run.stdout)
                        self.assertIn("limits hold", run.stdout)
                    else:
                        self.assertEqual(run.returncode, 1, run.stdout)
                        self.assertIn(broken, run.stdout)

    def test_unusable_input(self):
        with tempfile.TemporaryDirectory() as folder:
            recording = os.path.join(folder, "recording.csv")
            with open(recording, "w", encoding="utf-8") as f:
                f.write("P,1,7,52,4,0,0,1\n")
            run = subprocess.run([sys.executable, TOOL, recording, recording], capture_output=True, text=True,
                                 check=False)
            self.assertEqual(run.returncode, 2)
            self.assertIn("no clock notes", run.stderr)


if __name__ == "__main__":
    unittest.main()
