#!/usr/bin/env python3
"""Tests of tools/motion_report.py on small made-up recordings: a landing aircraft whose reports
descend onto a runway, or a helicopter whose reports slow to a hover, recorded 35 s behind them,
and what each case changes in it. Standard library only: python3 tools/motion_report_test.py"""

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
M_PER_DEG_LAT = 111320.0


def landing(t):
    """Eastbound at 140 kt, 600 ft/min down to the runway at t = 60, then 40 kt."""
    if t < 60.0:
        east = (t - 60.0) * 140.0 * KT
        return LAT, LON + east / M_PER_DEG_LON, (60.0 - t) * 10.0, 140.0, False
    east = (t - 60.0) * 40.0 * KT
    return LAT, LON + east / M_PER_DEG_LON, 0.0, 40.0, True


def hover(t):
    """Eastbound from 60 kt at t = 0 slowing evenly to a hover at t = 20, sinking 150 ft/min from 500 ft."""
    s = min(max(t, 0.0), 20.0)
    east = 60.0 * KT * (s - s * s / 40.0)
    return LAT, LON + east / M_PER_DEG_LON, 500.0 - 2.5 * t, 60.0 * (1.0 - s / 20.0), False


# name: (reported track, hex id, callsign, model)
SCENARIOS = {"landing": (landing, "484001", "KLM1", "B738"), "hover": (hover, "484002", "PHHEL", "EC35")}


def scenario_lines(scenario):
    reported, hex_id, callsign, model = SCENARIOS[scenario]
    for t in range(0, 120, 4):
        lat, lon, alt, gs, gnd = reported(float(t))
        yield json.dumps({"type": "live", "hex": hex_id, "cs": callsign, "model": model, "t": t, "lat": lat,
                          "lon": lon, "alt": alt, "gs": gs, "gnd": gnd, "vr": 0 if gnd else -600})


def recording_lines(scenario, change, spans):
    """One object per (start, stop[, removed by the simulator]) span, showing the scenario's seconds from START to STOP, and the
    clock's notes to 140 s; CHANGE(age, frame values) may alter a frame (values["at"](t) moves it to
    the reported track's point at the scenario second t)."""
    reported, _, callsign, _ = SCENARIOS[scenario]
    for k, (start, stop, *by_simulator) in enumerate(spans):
        yield "O,{},{},ai,{},Generic".format(int(start * FPS), 7 + k, callsign)
        yield "S,{},{},flying {}".format(int(start * FPS), 7 + k, callsign)
        if by_simulator:
            yield "S,{},{},removed by the simulator".format(int(stop * FPS), 7 + k)
    for frame in range(int(140 * FPS)):
        t = frame / FPS
        if frame % FPS == 0:
            yield "S,{},0,scenario_time {}".format(frame, t)
        if frame == int(96 * FPS):
            yield "S,{},{},taxi {}".format(frame, 6 + len(spans), callsign)
        for k, (start, stop, *_) in enumerate(spans):
            if not start <= t < stop:
                continue
            values = {"hdg": 90.0, "bank": 0.0}

            def at(when, v=values):
                v["lat"], v["lon"], v["alt"], v["tas"], v["gnd"] = reported(when)
            values["at"] = at
            at(t - DELAY_S)
            change(t - start, values)
            yield "P,{},{},{lat},{lon},{alt},{hdg},{gnd:d},0,{bank},0,{tas},{agl}".format(
                frame, 7 + k, agl=values["alt"], **values)


def lag(age, slow_from, slow_s, rate):
    """Seconds behind the track of an aircraft flown at RATE times its speed for SLOW_S seconds from
    SLOW_FROM, then at 2 - RATE times it until it is back on the track."""
    behind = min(max(age - slow_from, 0.0), slow_s) * (1.0 - rate)
    return max(behind - max(age - slow_from - slow_s, 0.0) * (1.0 - rate), 0.0)


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
        v["at"](1.0)


def not_a_number(age, v):
    if 5.0 <= age < 5.1:
        v["alt"] = float("nan")


def crabbing(age, v):
    v["hdg"] = 90.0 if v["gnd"] else 120.0


def crawling(age, v):
    # 8 s at half its speed high on final, then at 1.5 times it until back on the track
    v["at"](age + 1.0 - lag(age, 5.0, 8.0, 0.5))


def pacing(age, v):
    # 1.25 and 0.75 times its speed by turns, 2 s each
    r = age % 4.0
    v["at"](age + 1.0 + (0.25 * r if r < 2.0 else 0.5 - 0.25 * (r - 2.0)))


def slow_touchdown(age, v):
    # the last 3 s over the runway at 60 kt, the height as reported
    if 56.0 <= age < 59.0:
        v["lon"] = landing(57.0 + (age - 56.0) * 60.0 / 140.0)[1]


def pivot(age, v):
    if 20.0 <= age < 20.3:
        v["hdg"] = 270.0


def created_below(age, v):
    if age < 0.1:
        v["alt"] = -125.0


def wide(age, v):
    if age < 10.0:
        v["lat"] += 2000.0 / M_PER_DEG_LAT


def fast_start(age, v):
    # a new helicopter that races 110 m to its track at 70 kt while the reports slow down
    if age < 3.0:
        v["lon"] -= (3.0 - age) * 70.0 * KT / M_PER_DEG_LON


def hovering(age, v):
    # the nose turned round on the spot, and a bob of 15 ft up and down
    if 30.0 <= age < 31.0:
        v["hdg"] = 90.0 + 180.0 * (age - 30.0)
    if 40.0 <= age < 42.0:
        v["alt"] += 15.0 - 15.0 * abs(age - 41.0)


def unchanged(age, v):
    pass


ALL = ["--speed-limits"]
LANDING = [(36.0, 140.0)]
# name, scenario, change, what the report prints (None: every limit holds), its exit code, the spans of
# the objects (scenario seconds), the reason the log gives for the first removal it logs, options
CASES = [
    ("as reported", "landing", unchanged, None, 0, LANDING, "park airport given up", ALL),
    ("steep touchdown", "landing", steep, "touchdown at -1500 ft/min", 1, LANDING, None, []),
    ("placed from above", "landing", placed_from_above, None, 0, [(100.0, 140.0)], None, ALL),
    ("frozen after creation", "landing", frozen, "frozen 0.9 s after creation", 1, LANDING, None, []),
    ("not a number", "landing", not_a_number, "frames not a number", 1, LANDING, None, []),
    ("nose off the track", "landing", crabbing, "nose off the track 100.0% of the airborne time", 1, LANDING, None,
     []),
    ("removed taxiing", "landing", unchanged, "removed taxiing at 110 s (held too long)", 1, [(36.0, 110.0)],
     "held too long", []),
    ("kept off the user", "landing", unchanged, None, 0, [(36.0, 110.0)], "too close to the user", []),
    ("kept off the user after a removal by the simulator", "landing", unchanged, None, 0,
     [(36.0, 50.0, True), (56.0, 110.0)], "too close to the user", ALL),
    ("crawling in the air", "landing", crawling, "slow in the air: 7.7 s below 100 kt from 42 s (down to 70 kt)", 1, LANDING, None, ALL),
    ("speed steps", "landing", pacing, "speed changes of more than 20 kt within 1 s", 1, LANDING, None, ALL),
    ("speed steps, not counted", "landing", pacing, "~ speed changes of more than 20 kt within 1 s", 0, LANDING,
     None, []),
    ("slow touchdown", "landing", slow_touchdown, "touchdown at 60 kt", 1, LANDING, None, ALL),
    ("pivot in the air", "landing", pivot, "heading reversed within 1 s in the air at 56 s", 1, LANDING, None, ALL),
    ("gone and back", "landing", unchanged, "ended in the air at 60 s, back 20 s later", 1,
     [(36.0, 60.0), (80.0, 140.0)], "reports stopped", ALL),
    ("left the range and back", "landing", unchanged, None, 0, [(36.0, 60.0), (80.0, 140.0)], "out of range", ALL),
    ("created below the ground", "landing", created_below, "frames below the ground, 125 ft at 100 s", 1,
     [(100.0, 140.0)], None, ALL),
    ("far off the track at times", "landing", wide, "p95 distance", 1, LANDING, None, ALL),
    ("hovering helicopter", "hover", hovering, None, 0, [(51.0, 140.0)], None, ALL),
    ("helicopter racing at its start", "hover", fast_start, "reported 24 kt", 1, [(51.0, 140.0)], None, ALL),
]


class MotionReportTest(unittest.TestCase):
    def test_cases(self):
        with tempfile.TemporaryDirectory() as folder:
            for name, scenario, change, printed, code, spans, reason, options in CASES:
                with self.subTest(name):
                    paths = [os.path.join(folder, f) for f in ("scenario.jsonl", "recording.csv", "Log.txt")]
                    texts = ["\n".join(scenario_lines(scenario)) + "\n",
                             "\n".join(recording_lines(scenario, change, spans)) + "\n",
                             "{} removed: {}\n".format(SCENARIOS[scenario][2], reason) if reason else ""]
                    for path, text in zip(paths, texts):
                        with open(path, "w", encoding="utf-8") as f:
                            f.write(text)
                    run = subprocess.run([sys.executable, TOOL, paths[1], paths[0], "--log", paths[2]] + options,
                                         capture_output=True, text=True, check=False)
                    self.assertEqual(run.returncode, code, run.stdout)
                    self.assertIn(printed or "limits hold", run.stdout)

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
