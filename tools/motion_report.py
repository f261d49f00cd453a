#!/usr/bin/env python3
"""Compares a track recording of the simulated simulator (quillon --record FILE) with the scenario
it played, per aircraft and in total, and checks the motion against the limits below: what a pilot
beside the traffic would not believe. Prints a table; exits 1 when a limit is broken, 2 when the
input cannot be used. Standard library only.

usage: tools/motion_report.py RECORDING SCENARIO [--log LOG.txt] [--delay SECONDS] [--quiet]
                              [--speed-limits]

The recording's clock notes tie its frames to the scenario's seconds; an aircraft of the scenario
is found by the callsign (or registration) its objects were created with. The documented delay is
how far behind its reports the program shows an aircraft (the README says it); the best delay is
the one that puts an aircraft closest to its reported track.

Limits (every one over the whole recording):
  no frame holds a value that is not a number;
  every touchdown between -50 and -700 ft/min, the nose within 10 degrees of the track, the wings
  within 5 degrees of level;
  no climb of more than 300 ft/min below 1000 ft above the ground while the reports descend;
  in the air, the nose more than 20 degrees off the track on less than 2% of the time;
  on the ground, the nose more than 15 degrees off the motion on less than 1% of the moving time,
  and no turn faster than the category's turn rate;
  no new aircraft frozen for more than 0.5 s; none faster in its first 6 s than 1.3 times its
  later speed;
  no taxiing aircraft removed while its reports go on moving at taxi speed, but for a removal
  that keeps it from running into the user's aircraft;
  the median distance from the reported track at the documented delay under 150 m.

Speed limits, printed always and counted only with --speed-limits (the motion does not keep them
all yet):
  no fixed-wing aircraft more than 300 ft above the ground slower than its category's minimum (40 kt;
  Large and Heavy 100 kt) for more than 5 s;
  speed changes of more than 20 kt within 1 s on under 0.5% of the airborne time;
  every fixed-wing touchdown at the category's minimum or faster;
  no heading reversal of more than 90 degrees within 1 s in the air;
  no airborne aircraft that ends and comes back as a new object more than 10 s later while its
  reports go on (but for one that left the traffic range);
  no frame more than 1 ft below the ground at an airport, the first 2 s of a new object included;
  no helicopter faster in its first 6 s than 1.3 times its reported speed then (plus 5 kt);
  the 95th percentile of the distance from the reported track at the documented delay under 1 km.

Categories come from the reference data (data/reference/dbase.xml), as the program reads them; a
model the table does not know is judged as Large by the limits above and as Light by the speed
limits (the more lenient of each). A helicopter hovers, circles and sets down as it likes: it is
not judged on climbs near the ground, on its nose below 60 kt, on a gentle or sideways touchdown,
nor as frozen at its start while its reports hover.
"""

import argparse
import bisect
import json
import math
import os
import re
import statistics
import sys
import xml.etree.ElementTree as ET

DOCUMENTED_DELAY_S = 35.0
FPS = 30.0
# Every frame is checked for values that are not numbers; the motion is measured at every third.
FRAME_STEP = 3

LIMITS = {
    "touchdown_fpm": (-700.0, -50.0),
    "touchdown_track_deg": 10.0,
    "touchdown_bank_deg": 5.0,
    "low_climb_fpm": 300.0,
    "low_height_ft": 1000.0,
    "air_off_track_deg": 20.0,
    "air_off_track_share": 0.02,
    "ground_off_motion_deg": 15.0,
    "ground_off_motion_share": 0.01,
    "frozen_s": 0.5,
    "first_speed_factor": 1.3,
    "median_distance_m": 150.0,
}

# The speed limits (counted with --speed-limits).
SPEED_LIMITS = {
    "slow_height_ft": 300.0,
    "slow_s": 5.0,
    "step_kt": 20.0,
    "step_share": 0.005,
    "come_back_s": 10.0,
    "below_ground_ft": 1.0,
    "reversal_deg": 90.0,
    "p95_distance_m": 1000.0,
}
# The slowest a fixed-wing aircraft flies and touches down, knots: stall speed with a margin.
MIN_AIR_KT = {"Large": 100.0, "Heavy": 100.0}
MIN_AIR_KT_OTHER = 40.0

# Ground turn rates by category, degrees a second: the engine's turn rates.
CATEGORIES = ["Light", "Buzjets", "Large", "Heavy", "HighPerf", "Rotorcraft"]
TURN_RATE_DEG_S = {"Light": 15.0, "Buzjets": 10.0, "Large": 7.0, "Heavy": 5.0, "HighPerf": 10.0,
                   "Rotorcraft": 20.0}
# Sampling of a turn rate or a motion over a few frames adds a little.
TURN_RATE_TOLERANCE = 1.1

EARTH_M = 6371008.8
KT = 1852.0 / 3600.0          # metres a second in a knot
NEW_OBJECT_S = 6.0
LATER_SPEED_S = (6.0, 30.0)
TAXI_KT = (3.0, 40.0)
REMOVAL_LOOK_S = 60.0
END_MARGIN_S = 3.0
MOVING_KT = 2.0
# Removals that keep a live aircraft from running into the user's: wanted, whatever its reports do.
USER_RULES = ("too close to the user", "in the user's path")
# An aircraft that left the traffic range may well come back later as a new object.
LEFT_RULES = ("out of range",)
# The simulator's ground is the elevation of the nearest airport within this reach.
AIRPORT_REACH_M = 3.0 * 1852.0
# A helicopter slower than this hovers or circles: its nose need not follow its track.
HOVER_KT = 60.0
# A helicopter whose reports are slower than this hovers: it may well stand still in the air.
HOVER_REPORT_KT = 10.0
# A silence of the reports this long explains an aircraft that vanishes and comes back.
REPORT_SILENCE_S = 60.0


def distance_m(lat1, lon1, lat2, lon2):
    """Metres between two positions; flat within the few tens of kilometres compared here."""
    dl = (lon2 - lon1 + 180.0) % 360.0 - 180.0
    x = math.radians(dl) * math.cos(math.radians((lat1 + lat2) / 2.0))
    return EARTH_M * math.hypot(x, math.radians(lat2 - lat1))


def bearing_deg(lat1, lon1, lat2, lon2):
    p1, p2 = math.radians(lat1), math.radians(lat2)
    dl = math.radians(lon2 - lon1)
    y = math.sin(dl) * math.cos(p2)
    x = math.cos(p1) * math.sin(p2) - math.sin(p1) * math.cos(p2) * math.cos(dl)
    return math.degrees(math.atan2(y, x)) % 360.0


def off_deg(a, b):
    return abs((a - b + 180.0) % 360.0 - 180.0)


def percentile(values, share):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


# --- input --------------------------------------------------------------------------------------

class Sample:
    __slots__ = ("t", "lat", "lon", "alt", "hdg", "gnd", "pitch", "bank", "vs", "tas", "agl", "state")


class Obj:
    def __init__(self, oid, tail):
        self.id, self.tail = oid, tail
        self.samples = []
        self.nan = 0
        self.live = False
        self.by_simulator = False  # the simulator took it away by itself
        self.state = "unknown"
        self.below = []            # frames below the ground: (scenario seconds, height, lat, lon, age)
        self.created = 0           # frame


def read_recording(path):
    """Objects by id (the user's left out) and the clock notes as (frame, scenario seconds)."""
    objects, users, clock = {}, set(), []
    states = {}
    rows, below = [], []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            fields = line.rstrip("\n").split(",")
            kind = fields[0]
            if kind == "P" and len(fields) >= 8:
                if int(fields[1]) % FRAME_STEP == 0 or "nan" in line or "inf" in line:
                    rows.append(fields)
                # every frame below the ground counts, the ones between the measured ones too
                if len(fields) >= 13 and fields[12].startswith("-"):
                    below.append(fields)
            elif kind == "O" and len(fields) >= 5:
                oid = int(fields[2])
                if fields[3] == "user":
                    users.add(oid)
                else:
                    objects[oid] = Obj(oid, fields[4])
                    objects[oid].created = int(fields[1])
            elif kind == "S" and len(fields) >= 4:
                oid, note = int(fields[2]), ",".join(fields[3:])
                if oid == 0 and note.startswith("scenario_time "):
                    clock.append((int(fields[1]), float(note.split()[1])))
                else:
                    rows.append(fields)
    if len(clock) < 2:
        raise ValueError("the recording has no clock notes (scenario_time)")
    frames = [c[0] for c in clock]
    times = [c[1] for c in clock]

    known = {}

    def time_of(frame):
        if frame in known:
            return known[frame]
        i = bisect.bisect_right(frames, frame)
        i = min(max(i, 1), len(frames) - 1)
        f0, f1, t0, t1 = frames[i - 1], frames[i], times[i - 1], times[i]
        known[frame] = t0 + (frame - f0) * ((t1 - t0) / (f1 - f0) if f1 != f0 else 1.0 / FPS)
        return known[frame]

    for fields in rows:
        oid = int(fields[2])
        obj = objects.get(oid)
        if obj is None:
            continue
        if fields[0] == "S":
            if fields[3] == "removed by the simulator":
                obj.by_simulator = True
                continue
            obj.live = True
            states[oid] = fields[3].split(" ")[0]
            continue
        values = list(map(float, fields[3:]))
        if not math.isfinite(sum(values)):
            obj.nan += 1
            continue
        s = Sample()
        s.t = time_of(int(fields[1]))
        s.lat, s.lon, s.alt, s.hdg = values[0], values[1], values[2], values[3]
        s.gnd = values[4] != 0.0
        extra = values[5:] + [float("nan")] * 5
        s.pitch, s.bank, s.vs, s.tas, s.agl = extra[:5]
        s.state = states.get(oid, "unknown")
        obj.samples.append(s)
    for fields in below:
        obj = objects.get(int(fields[2]))
        try:
            agl = float(fields[12])
        except ValueError:
            continue
        if obj is not None and agl < -SPEED_LIMITS["below_ground_ft"]:
            obj.below.append((int(fields[1]), agl, float(fields[3]), float(fields[4])))
    for obj in objects.values():
        obj.times = [x.t for x in obj.samples]
        obj.below = [(time_of(f), agl, lat, lon, (f - obj.created) / FPS) for f, agl, lat, lon in obj.below]
    return {k: v for k, v in objects.items() if k not in users}, (times[0], times[-1])


class Aircraft:
    def __init__(self, hex_id):
        self.hex = hex_id
        self.reports = []
        self.cs = self.reg = self.model = ""
        self.category = "Large"
        self.known = False       # the reference data knows its model
        self.objects = []


def read_scenario(path):
    aircraft = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line:
                continue
            r = json.loads(line)
            if r.get("type") != "live":
                continue
            ac = aircraft.setdefault(r["hex"], Aircraft(r["hex"]))
            ac.cs = ac.cs or r.get("cs", "")
            ac.reg = ac.reg or r.get("reg", "")
            ac.model = ac.model or r.get("model", "")
            ac.reports.append((float(r["t"]), float(r["lat"]), float(r["lon"]), float(r["alt"]),
                               float(r["gs"]), bool(r["gnd"]), float(r.get("vr", 0.0))))
    for ac in aircraft.values():
        ac.reports.sort()
        kept = []
        for r in ac.reports:
            if kept and r[0] <= kept[-1][0]:
                continue
            kept.append(r)
        ac.reports = kept
        ac.times = [r[0] for r in kept]
    return aircraft


REFERENCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "reference")


def read_categories():
    """Category of every model code of the reference data, when the tool sits in the project: as the
    program reads it, a model of none of the other categories is Light."""
    try:
        root = ET.parse(os.path.join(REFERENCE, "dbase.xml")).getroot()
    except (OSError, ET.ParseError):
        return {}
    categories = {}
    for m in root.iter("m"):
        code = (m.get("c") or "").strip()
        if code:
            cat = (m.get("cat") or "").strip()
            categories[code] = cat if cat in CATEGORIES else "Light"
    return categories


def read_airports():
    """Positions (lat, lon) of the airports of the reference data; empty when it cannot be read."""
    try:
        root = ET.parse(os.path.join(REFERENCE, "airports.xml")).getroot()
    except (OSError, ET.ParseError):
        return []
    out = []
    for a in root.iter("a"):
        try:
            out.append((float(a.get("lat")), float(a.get("lon"))))
        except (TypeError, ValueError):
            continue
    return out


def near_airport(airports, lat, lon):
    """At an airport: within the reach of the simulator's ground of one (everywhere when none known)."""
    if not airports:
        return True
    return any(abs(a[0] - lat) < 0.06 and distance_m(lat, lon, a[0], a[1]) <= AIRPORT_REACH_M for a in airports)


def read_removals(path):
    """Removal reasons by callsign from the log's "{callsign} removed: {reason}" lines."""
    removals = {}
    if not path:
        return removals
    pattern = re.compile(r"^\s*(\S+) removed: (.+)$")
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = pattern.match(line.rstrip("\n"))
            if m:
                removals.setdefault(m.group(1), []).append(m.group(2).strip())
    return removals


# --- the reported track ---------------------------------------------------------------------------

def reported_at(ac, t):
    """The reported position at scenario second t (linear between reports), or None outside them
    or across a silence of more than a minute."""
    i = bisect.bisect_right(ac.times, t)
    if i == 0 or i >= len(ac.reports):
        if i == len(ac.reports) and ac.reports and t - ac.times[-1] < 1.0:
            r = ac.reports[-1]
            return r[1], r[2], r[3], r[4], r[5], 0.0
        return None
    a, b = ac.reports[i - 1], ac.reports[i]
    span = b[0] - a[0]
    if span > 60.0:
        return None
    f = (t - a[0]) / span
    lat = a[1] + (b[1] - a[1]) * f
    lon = a[2] + (b[2] - a[2]) * f
    alt = a[3] + (b[3] - a[3]) * f
    slope = (b[3] - a[3]) / span * 60.0 if not (a[5] or b[5]) else 0.0
    return lat, lon, alt, a[4] + (b[4] - a[4]) * f, a[5] and b[5], slope


def match_objects(objects, aircraft):
    by_name = {}
    for ac in aircraft.values():
        for name in {ac.cs, ac.reg}:
            if name:
                by_name.setdefault(name, []).append(ac)
    for obj in objects.values():
        if not obj.live or not obj.samples:
            continue
        found = by_name.get(obj.tail, [])
        if not found:
            continue
        if len(found) > 1:
            first = obj.samples[0]

            def nearness(ac):
                best = float("inf")
                for r in ac.reports:
                    best = min(best, distance_m(first.lat, first.lon, r[1], r[2]))
                return best
            found = sorted(found, key=nearness)
        found[0].objects.append(obj)


# --- measures -----------------------------------------------------------------------------------

class Result:
    def __init__(self, ac):
        self.ac = ac
        self.nan = 0
        self.jump_ground_kt = 0.0
        self.jump_air_kt = 0.0
        self.taxi_kt = 0.0
        self.turn_deg_s = 0.0
        self.ground_moving = 0
        self.ground_off = 0
        self.air_time = 0.0
        self.air_off = 0.0
        self.touchdowns = []     # (fpm, off track deg, bank deg)
        self.low_climbs = 0      # frames
        self.frozen_s = 0.0
        self.first_peak_kt = 0.0
        self.later_kt = 0.0
        self.taxi_removed = []   # scenario seconds
        self.best_delay = float("nan")
        self.best_median = float("nan")
        self.best_p95 = float("nan")
        self.doc_distances = []
        self.slow_s = 0.0        # longest stretch in the air below the category's minimum
        self.slow_at = 0.0
        self.slow_kt = float("inf")
        self.step_time = 0.0     # airborne seconds with a speed change of more than 20 kt within 1 s
        self.reversals = []      # scenario seconds
        self.comebacks = []      # (scenario seconds, seconds away)
        self.below = []          # (scenario seconds, height above the ground, age of the object)
        self.broken = []
        self.speed_broken = []   # the speed limits broken


def window(obj, i, seconds):
    """Index of the first sample at most SECONDS before sample i."""
    return bisect.bisect_left(obj.times, obj.times[i] - seconds, 0, i)


def motion(obj, i, seconds=1.0):
    """Speed (kt) and direction of motion over the last SECONDS up to sample i; None when too short."""
    j = window(obj, i, seconds)
    a, b = obj.samples[j], obj.samples[i]
    dt = b.t - a.t
    if dt < 0.2:
        return None
    d = distance_m(a.lat, a.lon, b.lat, b.lon)
    return d / dt / KT, bearing_deg(a.lat, a.lon, b.lat, b.lon), (b.alt - a.alt) / dt * 60.0


def removal_reason(ac, obj, removals):
    """The reason the log gives for the removal of OBJ: the log's removals of a callsign come in the
    order of its objects, but for those the simulator took away by itself, which it does not log."""
    if obj.by_simulator:
        return "removed by the simulator"
    reasons = removals.get(obj.tail, [])
    k = sum(1 for o in ac.objects[:ac.objects.index(obj)] if not o.by_simulator and o.tail == obj.tail)
    return reasons[k] if k < len(reasons) else "?"


def min_air_kt(ac):
    return MIN_AIR_KT.get(ac.category, MIN_AIR_KT_OTHER) if ac.known else MIN_AIR_KT_OTHER


def in_air(obj, j, i):
    return not any(s.gnd for s in obj.samples[j:i + 1])


def measure_speeds(res, obj):
    """The speed limits of one object: slow flight, speed steps and heading reversals in the air."""
    ac = res.ac
    samples = obj.samples
    helicopter = ac.category == "Rotorcraft"
    slowest = min_air_kt(ac)
    pace = [None] * len(samples)  # speed over the half second up to each sample
    slow_since, slowest_now = None, float("inf")
    reversing = False
    for i in range(1, len(samples)):
        a, b = samples[i - 1], samples[i]
        dt = b.t - a.t
        m = motion(obj, i, 0.5)
        pace[i] = m[0] if m else None
        j = window(obj, i, 1.0)
        if dt <= 0.0 or b.t - samples[j].t < 0.8 or not in_air(obj, j, i):
            slow_since = None
            reversing = False
            continue
        speed = motion(obj, i)[0]
        if not helicopter and b.agl > SPEED_LIMITS["slow_height_ft"] and speed < slowest:
            if slow_since is None:
                slow_since, slowest_now = a.t, speed
            slowest_now = min(slowest_now, speed)
            if b.t - slow_since > res.slow_s:
                res.slow_s, res.slow_at, res.slow_kt = b.t - slow_since, slow_since, slowest_now
        else:
            slow_since = None
        if pace[i] is not None and pace[j] is not None and abs(pace[i] - pace[j]) > SPEED_LIMITS["step_kt"]:
            res.step_time += dt
        turned = off_deg(b.hdg, samples[j].hdg) > SPEED_LIMITS["reversal_deg"]
        if turned and not (helicopter and speed < HOVER_KT):
            if not reversing:
                res.reversals.append(b.t)
            reversing = True
        else:
            reversing = False


def measure_comeback(res, obj, following, removals):
    """An object that ends in the air and whose aircraft comes back as the next object more than 10 s
    later, while its reports went on all the time between."""
    ac = res.ac
    last = obj.samples[-1]
    if last.gnd or following is None:
        return
    away = following.samples[0].t - last.t
    if away <= SPEED_LIMITS["come_back_s"]:
        return
    if removal_reason(ac, obj, removals) in LEFT_RULES:
        return
    t0, t1 = last.t - DOCUMENTED_DELAY_S, following.samples[0].t - DOCUMENTED_DELAY_S
    times = [t0] + [t for t in ac.times if t0 < t < t1] + [t1]
    if bisect.bisect_left(ac.times, t1) >= len(ac.times) or bisect.bisect_right(ac.times, t0) == 0:
        return
    if all(b - a <= REPORT_SILENCE_S for a, b in zip(times, times[1:])):
        res.comebacks.append((last.t, away))


def measure_below(res, obj, airports):
    for t, agl, lat, lon, age in obj.below:
        if near_airport(airports, lat, lon):
            res.below.append((t, agl, age))


def measure_object(res, obj, end_time, removals):
    ac = res.ac
    samples = obj.samples
    res.nan += obj.nan
    limit_turn = TURN_RATE_DEG_S.get(ac.category, 7.0) * TURN_RATE_TOLERANCE
    helicopter = ac.category == "Rotorcraft"
    for i in range(1, len(samples)):
        a, b = samples[i - 1], samples[i]
        dt = b.t - a.t
        if dt <= 0.0:
            continue
        kt = distance_m(a.lat, a.lon, b.lat, b.lon) / dt / KT
        if b.gnd:
            res.jump_ground_kt = max(res.jump_ground_kt, kt)
        else:
            res.jump_air_kt = max(res.jump_air_kt, kt)
        m = motion(obj, i)
        if m is None:
            continue
        speed, track, climb = m
        if b.gnd and a.gnd:
            j = window(obj, i, 0.5)
            if samples[i].t - samples[j].t >= 0.3 and all(s.gnd for s in samples[j:i + 1]):
                rate = off_deg(b.hdg, samples[j].hdg) / (b.t - samples[j].t)
                res.turn_deg_s = max(res.turn_deg_s, rate)
            if speed >= MOVING_KT:
                res.ground_moving += 1
                if b.state in ("taxi", "parking") and speed <= TAXI_KT[1] + 20.0:
                    res.taxi_kt = max(res.taxi_kt, speed)
                backwards = b.state in ("pushing_back",)
                direction = (track + 180.0) % 360.0 if backwards else track
                if off_deg(b.hdg, direction) > LIMITS["ground_off_motion_deg"]:
                    res.ground_off += 1
        elif not b.gnd and not a.gnd:
            res.air_time += dt
            if speed >= 40.0 and not (helicopter and speed < HOVER_KT):
                if off_deg(b.hdg, track) > LIMITS["air_off_track_deg"]:
                    res.air_off += dt
            if (not helicopter and b.agl < LIMITS["low_height_ft"] and climb > LIMITS["low_climb_fpm"]
                    and math.isfinite(res.best_delay)):
                # the reports descend all around the time the aircraft shows (its legs are played
                # within some seconds of their reported times)
                reps = [reported_at(ac, b.t - res.best_delay + k) for k in (-8.0, -4.0, 0.0, 4.0, 8.0)]
                if all(rep is not None and not rep[4] and rep[5] < -100.0 for rep in reps):
                    res.low_climbs += 1
        if b.gnd and not a.gnd and b.t - obj.times[0] > 2.0:
            # after 2 s in the air (in its first moments a new object is being placed)
            airborne = i - window(obj, i - 1, 2.0)
            if airborne >= 2 and not samples[window(obj, i - 1, 2.0)].gnd:
                k = window(obj, i, 0.5)
                fpm = (b.alt - samples[k].alt) / (b.t - samples[k].t) * 60.0 if b.t > samples[k].t else 0.0
                mm = motion(obj, i - 1)
                off = off_deg(b.hdg, mm[1]) if mm and mm[0] > 20.0 else 0.0
                res.touchdowns.append((fpm, off, abs(b.bank), mm[0] if mm else float("nan")))
    measure_start(res, obj)
    # Removed while taxiing, with reports that go on moving at taxi speed.
    last = samples[-1]
    if (last.t < end_time - END_MARGIN_S and last.gnd and last.state in ("taxi", "pushed_back", "parking")
            and not obj.by_simulator):
        reappears = any(o is not obj and o.samples and 0.0 <= o.samples[0].t - last.t < 30.0 for o in ac.objects)
        if not reappears and math.isfinite(res.best_delay):
            t0 = last.t - res.best_delay
            later = [r for r in ac.reports if t0 < r[0] <= t0 + REMOVAL_LOOK_S]
            moving = [r for r in later if r[5] and TAXI_KT[0] <= r[4] <= TAXI_KT[1]]
            if len(moving) >= 2:
                reason = removal_reason(ac, obj, removals)
                if reason not in USER_RULES:
                    res.taxi_removed.append((last.t, reason))


def measure_start(res, obj):
    samples = obj.samples
    if len(samples) < 2:
        return
    first = samples[0]
    rep = reported_at(res.ac, first.t - DOCUMENTED_DELAY_S)
    moving = rep is not None and rep[3] > (HOVER_REPORT_KT if res.ac.category == "Rotorcraft" else MOVING_KT)
    if moving:
        for s in samples[1:]:
            if distance_m(first.lat, first.lon, s.lat, s.lon) > 0.05 or abs(s.alt - first.alt) > 0.05:
                break
            res.frozen_s = max(res.frozen_s, s.t - first.t)
        else:
            res.frozen_s = max(res.frozen_s, samples[-1].t - first.t)
    peak, later = 0.0, []
    for i in range(1, len(samples)):
        age = samples[i].t - first.t
        m = motion(obj, i, 0.5)
        if m is None:
            continue
        if age <= NEW_OBJECT_S:
            peak = max(peak, m[0])
        elif age <= LATER_SPEED_S[1]:
            later.append(m[0])
    if res.ac.category == "Rotorcraft":
        # A helicopter may slow to a hover right after its start: its first seconds are judged
        # against what its reports said then (at the documented delay: over a hover every delay
        # looks best).
        since = first.t - DOCUMENTED_DELAY_S
        reported = [r[4] for r in res.ac.reports if since - 5.0 <= r[0] <= since + NEW_OBJECT_S + 5.0]
        rep = reported_at(res.ac, since)
        reported += [rep[3]] if rep is not None else []
        if reported:
            settled = max(reported)
            res.first_peak_kt = max(res.first_peak_kt, peak)
            res.later_kt = max(res.later_kt, settled)
            if peak > LIMITS["first_speed_factor"] * settled + 5.0:
                res.speed_broken.append("first 6 s at {:.0f} kt, reported {:.0f} kt".format(peak, settled))
    elif later:
        # The later speed: what the aircraft goes at once settled, or what its reports said at its
        # start when it slows down after it.
        since = first.t - DOCUMENTED_DELAY_S
        reported = [r[4] for r in res.ac.reports if since - 30.0 <= r[0] <= since + 15.0]
        settled = max([statistics.median(later)] + reported)
        res.first_peak_kt = max(res.first_peak_kt, peak)
        res.later_kt = max(res.later_kt, settled)
        if peak > LIMITS["first_speed_factor"] * settled + 5.0:
            res.broken.append("first 6 s at {:.0f} kt, later {:.0f} kt".format(peak, settled))


def distances(ac, delay, step=1):
    out = []
    for obj in ac.objects:
        for s in obj.samples[::step]:
            rep = reported_at(ac, s.t - delay)
            if rep is not None:
                out.append(distance_m(s.lat, s.lon, rep[0], rep[1]))
    return out


def measure_delay(res):
    ac = res.ac
    best = None
    for delay in range(0, 91):
        d = distances(ac, float(delay), 10)
        if len(d) < 5:
            continue
        med = statistics.median(d)
        if best is None or med < best[1]:
            best = (delay, med)
    if best is None:
        return
    for delay in [best[0] + k / 2.0 for k in range(-2, 3)]:
        d = distances(ac, delay, 3)
        if d and statistics.median(d) <= best[1]:
            best = (delay, statistics.median(d))
    res.best_delay = best[0]
    d = distances(ac, best[0], 3)
    res.best_median, res.best_p95 = statistics.median(d), percentile(d, 0.95)
    res.doc_distances = distances(ac, DOCUMENTED_DELAY_S, 3)


def judge(res):
    lo, hi = LIMITS["touchdown_fpm"]
    helicopter = res.ac.category == "Rotorcraft"
    for fpm, off, bank, kt in res.touchdowns:
        # a helicopter sets down as gently as it likes, and sideways
        if not lo <= fpm <= hi and not (helicopter and fpm > lo):
            res.broken.append("touchdown at {:.0f} ft/min".format(fpm))
        if off > LIMITS["touchdown_track_deg"] and not helicopter:
            res.broken.append("touchdown {:.0f} deg off the track".format(off))
        if not helicopter and kt < min_air_kt(res.ac):
            res.speed_broken.append("touchdown at {:.0f} kt".format(kt))
        if bank > LIMITS["touchdown_bank_deg"]:
            res.broken.append("touchdown in {:.0f} deg of bank".format(bank))
    if res.nan:
        res.broken.append("{} frames not a number".format(res.nan))
    if res.low_climbs:
        res.broken.append("climbs below 1000 ft while descending ({} frames)".format(res.low_climbs))
    if res.frozen_s > LIMITS["frozen_s"]:
        res.broken.append("frozen {:.1f} s after creation".format(res.frozen_s))
    turn_limit = TURN_RATE_DEG_S.get(res.ac.category, 7.0) * TURN_RATE_TOLERANCE
    if res.turn_deg_s > turn_limit:
        res.broken.append("ground turn {:.1f} deg/s".format(res.turn_deg_s))
    for t, reason in res.taxi_removed:
        res.broken.append("removed taxiing at {:.0f} s ({})".format(t, reason))
    if res.below:
        t, agl, age = min(res.below, key=lambda e: e[1])
        res.speed_broken.append("{} frames below the ground, {:.0f} ft at {:.0f} s ({:.1f} s after creation)".format(
            len(res.below), -agl, t, age))
    for t in res.reversals:
        res.speed_broken.append("heading reversed within 1 s in the air at {:.0f} s".format(t))
    if res.slow_s > SPEED_LIMITS["slow_s"]:
        res.speed_broken.append("slow in the air: {:.1f} s below {:.0f} kt from {:.0f} s (down to {:.0f} kt)".format(
            res.slow_s, min_air_kt(res.ac), res.slow_at, res.slow_kt))
    for t, away in res.comebacks:
        res.speed_broken.append("ended in the air at {:.0f} s, back {:.0f} s later".format(t, away))


# --- output -------------------------------------------------------------------------------------

def fmt(value, pattern="{:.0f}"):
    return "-" if value is None or (isinstance(value, float) and not math.isfinite(value)) else pattern.format(value)


def main():
    global DOCUMENTED_DELAY_S
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("recording")
    parser.add_argument("scenario")
    parser.add_argument("--log", help="the run's Log.txt, for the removal reasons")
    parser.add_argument("--delay", type=float, help="documented delay in seconds (default {:.0f})".format(
        DOCUMENTED_DELAY_S))
    parser.add_argument("--quiet", action="store_true", help="the total and the broken limits only")
    parser.add_argument("--speed-limits", action="store_true", help="a broken speed limit fails the report too")
    args = parser.parse_args()
    if args.delay is not None:
        DOCUMENTED_DELAY_S = args.delay
    try:
        objects, (start, end) = read_recording(args.recording)
        aircraft = read_scenario(args.scenario)
        removals = read_removals(args.log)
    except (OSError, ValueError, KeyError, json.JSONDecodeError) as e:
        print("motion_report: {}".format(e), file=sys.stderr)
        return 2
    categories = read_categories()
    for ac in aircraft.values():
        ac.known = ac.model in categories
        ac.category = categories.get(ac.model, "Large")
    match_objects(objects, aircraft)
    airports = read_airports() if any(o.below for o in objects.values()) else []

    results = []
    for ac in sorted(aircraft.values(), key=lambda a: a.cs or a.reg):
        if not ac.objects:
            continue
        ac.objects.sort(key=lambda o: o.samples[0].t)
        res = Result(ac)
        measure_delay(res)
        for k, obj in enumerate(ac.objects):
            measure_object(res, obj, end, removals)
            measure_speeds(res, obj)
            measure_comeback(res, obj, ac.objects[k + 1] if k + 1 < len(ac.objects) else None, removals)
            measure_below(res, obj, airports)
        judge(res)
        results.append(res)
    report(results, removals, start, end, args.quiet, args.speed_limits)
    broken = any(r.broken for r in results) or total_broken(results)
    speed_broken = any(r.speed_broken for r in results) or total_speed_broken(results)
    return 1 if broken or (args.speed_limits and speed_broken) else 0


def total_broken(results):
    broken = []
    air = sum(r.air_time for r in results)
    air_off = sum(r.air_off for r in results)
    if air > 0 and air_off / air >= LIMITS["air_off_track_share"]:
        broken.append("nose off the track {:.1%} of the airborne time".format(air_off / air))
    moving = sum(r.ground_moving for r in results)
    off = sum(r.ground_off for r in results)
    if moving > 0 and off / moving >= LIMITS["ground_off_motion_share"]:
        broken.append("nose off the motion {:.1%} of the moving time on the ground".format(off / moving))
    doc = [d for r in results for d in r.doc_distances]
    if doc and statistics.median(doc) >= LIMITS["median_distance_m"]:
        broken.append("median distance {:.0f} m at the documented delay".format(statistics.median(doc)))
    return broken


def total_speed_broken(results):
    broken = []
    air = sum(r.air_time for r in results)
    steps = sum(r.step_time for r in results)
    if air > 0 and steps / air >= SPEED_LIMITS["step_share"]:
        broken.append("speed changes of more than {:.0f} kt within 1 s on {:.2%} of the airborne time".format(
            SPEED_LIMITS["step_kt"], steps / air))
    doc = [d for r in results for d in r.doc_distances]
    if doc and percentile(doc, 0.95) >= SPEED_LIMITS["p95_distance_m"]:
        broken.append("p95 distance {:.0f} m at the documented delay".format(percentile(doc, 0.95)))
    return broken


ROW = "{:9} {:5} {:>4} {:>5} {:>5} {:>5} {:>5} {:>5} {:>5} {:>13} {:>5} {:>4} {:>9} {:>5} {:>5} {:>5} {:>5} {:>5} " \
      "{:>4} {:>5} {:>4} {:>4} {:>4} {:>4}"


def report(results, removals, start, end, quiet, speed_limits):
    header = ROW.format(
        "aircraft", "cat", "nan", "jmpG", "jmpA", "taxi", "turn", "offG%", "offA%", "touchdowns fpm/deg",
        "lowcl", "frz", "first/kt", "delay", "med", "p95", "docm", "rmv", "slow", "step%", "tdkt", "rev", "back",
        "below")
    if not quiet:
        print("motion report: {:.0f} s of the scenario ({:.0f} to {:.0f} s), documented delay {:.0f} s".format(
            end - start, start, end, DOCUMENTED_DELAY_S))
        print(header)
    speed_mark = "!" if speed_limits else "~"
    for r in results:
        if quiet and not r.broken and not r.speed_broken:
            continue
        tds = " ".join("{:.0f}/{:.0f}".format(t[0], t[1]) for t in r.touchdowns) or "-"
        offg = 100.0 * r.ground_off / r.ground_moving if r.ground_moving else float("nan")
        offa = 100.0 * r.air_off / r.air_time if r.air_time > 0 else float("nan")
        doc = statistics.median(r.doc_distances) if r.doc_distances else float("nan")
        step = 100.0 * r.step_time / r.air_time if r.air_time > 0 else float("nan")
        print(ROW.format(
            (r.ac.cs or r.ac.reg)[:9], r.ac.category[:5], r.nan, fmt(r.jump_ground_kt), fmt(r.jump_air_kt),
            fmt(r.taxi_kt), fmt(r.turn_deg_s, "{:.1f}"), fmt(offg, "{:.1f}"), fmt(offa, "{:.1f}"), tds[:13],
            r.low_climbs, fmt(r.frozen_s, "{:.1f}"), "{}/{}".format(fmt(r.first_peak_kt), fmt(r.later_kt)),
            fmt(r.best_delay, "{:.1f}"), fmt(r.best_median), fmt(r.best_p95), fmt(doc), len(r.taxi_removed),
            fmt(r.slow_s), fmt(step, "{:.1f}"),
            fmt(min((t[3] for t in r.touchdowns if math.isfinite(t[3])), default=None)),
            len(r.reversals), fmt(max((c[1] for c in r.comebacks), default=None)), len(r.below)))
        for b in r.broken:
            print("          ! {}".format(b))
        for b in r.speed_broken:
            print("          {} {}".format(speed_mark, b))
    air = sum(r.air_time for r in results)
    moving = sum(r.ground_moving for r in results)
    doc = [d for r in results for d in r.doc_distances]
    best = [r.best_delay for r in results if math.isfinite(r.best_delay)]
    tds = [t for r in results for t in r.touchdowns]
    print("total: {} aircraft, {} frames not a number, {} touchdowns ({} to {} ft/min), nose off the track {} of "
          "the airborne time, off the motion {} of the moving ground time".format(
              len(results), sum(r.nan for r in results), len(tds),
              fmt(min((t[0] for t in tds), default=None)), fmt(max((t[0] for t in tds), default=None)),
              "{:.2%}".format(sum(r.air_off for r in results) / air) if air else "-",
              "{:.2%}".format(sum(r.ground_off for r in results) / moving) if moving else "-"))
    print("       best delay median {} s (range {} to {} s); distance at the documented delay {:.0f} s: "
          "median {} m, p95 {} m".format(
              fmt(statistics.median(best) if best else None, "{:.1f}"), fmt(min(best, default=None), "{:.1f}"),
              fmt(max(best, default=None), "{:.1f}"), DOCUMENTED_DELAY_S,
              fmt(statistics.median(doc) if doc else None), fmt(percentile(doc, 0.95) if doc else None)))
    fixed = [r for r in results if r.ac.category != "Rotorcraft"]
    landing = [t[3] for r in fixed for t in r.touchdowns if math.isfinite(t[3])]
    print("       speeds: {} fixed-wing aircraft slow in the air for more than {:.0f} s (longest {} s), speed "
          "changes of more than {:.0f} kt within 1 s on {} of the airborne time, fixed-wing touchdowns at {} to {} "
          "kt, {} heading reversals in the air, {} ended in the air and came back, {} frames below the ground".format(
              sum(1 for r in fixed if r.slow_s > SPEED_LIMITS["slow_s"]), SPEED_LIMITS["slow_s"],
              fmt(max((r.slow_s for r in fixed), default=None)), SPEED_LIMITS["step_kt"],
              "{:.2%}".format(sum(r.step_time for r in results) / air) if air else "-",
              fmt(min(landing, default=None)), fmt(max(landing, default=None)),
              sum(len(r.reversals) for r in results), sum(len(r.comebacks) for r in results),
              sum(len(r.below) for r in results)))
    counts = {}
    for reasons in removals.values():
        for reason in reasons:
            counts[reason] = counts.get(reason, 0) + 1
    if counts:
        print("       removals: " + ", ".join("{} {}".format(n, k) for k, n in sorted(counts.items(),
                                                                                      key=lambda e: -e[1])))
    broken = [b for r in results for b in r.broken] + total_broken(results)
    for b in total_broken(results):
        print("       ! {}".format(b))
    speed_broken = [b for r in results for b in r.speed_broken] + total_speed_broken(results)
    for b in total_speed_broken(results):
        print("       {} {}".format(speed_mark, b))
    if speed_limits:
        broken += speed_broken
    print("limits {}".format("broken: {}".format(len(broken)) if broken else "hold"))
    if not speed_limits:
        print("speed limits {} (counted with --speed-limits)".format(
            "broken: {}".format(len(speed_broken)) if speed_broken else "hold"))


if __name__ == "__main__":
    sys.exit(main())
