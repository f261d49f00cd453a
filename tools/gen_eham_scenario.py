#!/usr/bin/env python3
"""Writes data/scenarios/eham.jsonl: twenty minutes of traffic around Amsterdam
Schiphol in south flow (landing 18R and 18C, departing 24 and 18L), with
aircraft landing and taxiing to their stands, others pushing back, taxiing out
and departing, some overflights at cruise level, light aircraft landing at
Lelystad, a helicopter lifting off at Schiphol and landing in town, aircraft
whose transponders report them standing at their stands, and the parked
aircraft on the stands. Positions of runways and stands are approximate.

The reports are as real feeds give them: each aircraft reports every 7 to 40 s
(most within 20 s), in whole seconds and in bursts some 9 to 14 s apart as the
receivers pass them on, some feeds give no vertical rate (light aircraft and
helicopters never do), and some call every aircraft airborne, also when it
stands at its gate at the field's elevation.

The output is deterministic: run it again after a change and commit the data file.

usage: tools/gen_eham_scenario.py [--stands EHAM.xml] [output path]
"""

import argparse
import bisect

import json
import math
import random
from pathlib import Path

LAT0, LON0 = 52.3086, 4.7639          # aerodrome reference point
COS0 = math.cos(math.radians(LAT0))
FIELD_FT = -11.0                      # elevation
DURATION = 1200.0                     # seconds of recording
PLAY_FROM = 60.0                      # the stand-in starts playing here
START_HH = 20                         # the recording starts at 10:00 UTC

rng = random.Random(20261207)


# --- geometry on a flat patch around the aerodrome, in nm ---------------------

def xy(lat, lon):
    return ((lon - LON0) * 60.0 * COS0, (lat - LAT0) * 60.0)


def ll(p):
    return (LAT0 + p[1] / 60.0, LON0 + p[0] / (60.0 * COS0))


def dist(a, b):
    return math.hypot(b[0] - a[0], b[1] - a[1])


def bearing(a, b):
    return math.degrees(math.atan2(b[0] - a[0], b[1] - a[1])) % 360.0


def offset(p, brg, nm):
    r = math.radians(brg)
    return (p[0] + nm * math.sin(r), p[1] + nm * math.cos(r))


M = 1.0 / 1852.0  # one metre in nm

# --- runways ------------------------------------------------------------------

RWY = {
    "18R": (xy(52.36305, 4.71178), xy(52.32855, 4.70886)),
    "18C": (xy(52.33137, 4.74003), xy(52.30045, 4.73747)),
    "18L": (xy(52.32138, 4.78013), xy(52.29085, 4.77747)),
    "24": (xy(52.30428, 4.77804), xy(52.28952, 4.73736)),
}

# Taxi routes from a runway exit to the apron, and from the apron to a holding point.
TAXI_IN = {
    "18R": [xy(52.3440, 4.7108), xy(52.3440, 4.7180), xy(52.3360, 4.7262), xy(52.3292, 4.7330),
            xy(52.3240, 4.7425), xy(52.3192, 4.7530)],
    "18C": [xy(52.3130, 4.7388), xy(52.3124, 4.7450), xy(52.3112, 4.7522)],
}
TAXI_OUT = {
    "24": [xy(52.3085, 4.7722), xy(52.3062, 4.7790), xy(52.3058, 4.7812)],
    "18L": [xy(52.3120, 4.7727), xy(52.3170, 4.7792), xy(52.3224, 4.7826)],
}

# --- stands -------------------------------------------------------------------
# The stands of the EHAM airport file when it is there, so that parked aircraft
# stand where the static parking looks for them; else piers of our own as
# (name, root, tip, stand spacing in m, first number), stands 55 m either side
# of the pier's axis, noses toward the pier. A stand is (position, heading, radius m).

PIERS = [
    ("B", (52.3076, 4.7618), (52.3046, 4.7556), 55, 13),
    ("C", (52.3088, 4.7596), (52.3066, 4.7522), 60, 4),
    ("D", (52.3104, 4.7588), (52.3128, 4.7482), 70, 2),
    ("E", (52.3117, 4.7618), (52.3160, 4.7560), 75, 2),
    ("F", (52.3126, 4.7650), (52.3166, 4.7612), 80, 3),
    ("G", (52.3110, 4.7682), (52.3138, 4.7742), 65, 2),
    ("H", (52.3056, 4.7640), (52.3036, 4.7592), 55, 1),
]


def own_stands():
    stands = {}
    for name, root, tip, spacing, first in PIERS:
        a, b = xy(*root), xy(*tip)
        axis = bearing(a, b)
        length = dist(a, b)
        step = spacing * M
        n = int((length - 40 * M) / step)
        number = first
        for i in range(n):
            along = offset(a, axis, 40 * M + i * step)
            for side in (90.0, -90.0):
                pos = offset(along, axis + side, 55 * M)
                heading = (axis + side + 180.0) % 360.0   # nose to the pier
                stands[f"{name}{number}"] = (pos, heading, 40.0 if spacing >= 70 else 22.0)
                number += 1
    # The cargo platform south of the terminal.
    base = xy(52.2878, 4.7700)
    for i in range(8):
        stands[f"R{72 + i}"] = (offset(base, 90.0, i * 85 * M), 0.0, 45.0)
    return stands


def airport_file_stands(path):
    import xml.etree.ElementTree as ET
    stands = {}
    for p in ET.parse(path).getroot().iter("parkpos"):
        pos = xy(float(p.get("latitude")), float(p.get("longitude")))
        stands[p.get("id")] = (pos, float(p.get("heading", "0")), float(p.get("radius", "20")))
    return stands


STANDS = {}


def lane_point(stand):
    pos, heading, _ = STANDS[stand]
    return offset(pos, heading + 180.0, 75 * M)


WIDE = {"B77W", "B789", "A332", "A333", "B763", "B744", "B77F"}
REGIONAL = {"E190", "E75L", "CRJ9", "AT76", "C68A"}
CARGO = {"B744", "B77F"}


class StandPool:
    """Free stands, handed out by the size an aircraft needs."""

    def __init__(self):
        self.free = sorted(STANDS)

    def take(self, model):
        need = 40.0 if model in WIDE else 18.0 if model in REGIONAL else 22.0
        cargo_area = [s for s in self.free if STANDS[s][2] >= need and s.startswith("R")]
        terminal = [s for s in self.free if STANDS[s][2] >= need and not s.startswith("R")]
        pool = cargo_area if model in CARGO and cargo_area else terminal
        if not pool:
            return None
        smallest = min(STANDS[s][2] for s in pool)
        stand = rng.choice([s for s in pool if STANDS[s][2] == smallest])
        self.free.remove(stand)
        return stand


# --- fleet --------------------------------------------------------------------

class Fleet:
    """Hands out realistic, unique identities."""

    def __init__(self):
        self.used_hex = set()
        self.used_reg = set()
        self.used_cs = set()

    def _hex(self, base, span):
        while True:
            h = base + rng.randrange(span)
            if h not in self.used_hex:
                self.used_hex.add(h)
                return f"{h:06x}"

    def _pick(self, pool, used):
        free = [x for x in pool if x not in used]
        v = rng.choice(free)
        used.add(v)
        return v

    def aircraft(self, airline):
        entry = AIRLINES[airline]
        model, regs = rng.choice(entry["fleet"])
        reg = self._pick(regs, self.used_reg)
        cs = self._pick([f"{airline}{n}" for n in entry["numbers"]], self.used_cs)
        return {"hex": self._hex(*entry["hex"]), "cs": cs, "reg": reg, "model": model, "airline": airline}


def regs(prefix, letters, count):
    return [f"{prefix}{letters}{chr(65 + i // 26)}{chr(65 + i % 26)}"[: len(prefix) + len(letters) + 2]
            for i in range(count)]


AIRLINES = {
    "KLM": {"hex": (0x484000, 0x1800),
            "fleet": [("B738", [f"PH-BX{c}" for c in "ABCDEFGHIJKLMNOPRSTUVWY"]),
                      ("B77W", [f"PH-BV{c}" for c in "ABCDEFGIKNOPRS"]),
                      ("B789", [f"PH-BH{c}" for c in "ABCDEFGHIKLMNOP"]),
                      ("A332", [f"PH-AO{c}" for c in "ABCDEFGHIKLM"]),
                      ("E190", [f"PH-EZ{c}" for c in "ABCDEFGHIKLMNOPRSTUVWXYZ"]),
                      ("E75L", [f"PH-EX{c}" for c in "ABCDEFGHIJKLMNOPRSTUVWXYZ"])],
            "numbers": list(range(1000, 1999, 7)) + [591, 605, 641, 667, 685, 743, 867, 887]},
    "TRA": {"hex": (0x485800, 0x600),
            "fleet": [("B738", [f"PH-HS{c}" for c in "ABCDEFGHIJKLMNOPQRSTUVWXYZ"] +
                       [f"PH-HX{c}" for c in "ABCDEFGHIJKLMN"])],
            "numbers": list(range(5001, 6999, 13))},
    "EZY": {"hex": (0x406000, 0x1000),
            "fleet": [("A320", [f"G-EZ{c}{d}" for c in "OPRTUW" for d in "ABCDEFGH"]),
                      ("A20N", [f"G-UZH{c}" for c in "ABCDEFGHIJKL"])],
            "numbers": list(range(2001, 8999, 111))},
    "BAW": {"hex": (0x400800, 0x800),
            "fleet": [("A320", [f"G-EUU{c}" for c in "ABCDEFGHIJKLMNOPRSTUVWXY"]),
                      ("A319", [f"G-EUP{c}" for c in "ABCDEFGHJKLMNOPRSTUVWXY"])],
            "numbers": [422, 424, 428, 430, 432, 434, 436, 438, 440, 442]},
    "DLH": {"hex": (0x3C4000, 0x2000),
            "fleet": [("A320", [f"D-AIZ{c}" for c in "ABCDEFGHIJKLMNOPQRSTUVWXYZ"]),
                      ("A321", [f"D-AID{c}" for c in "ABCDEFGHIJKLMNOPQRSTUV"])],
            "numbers": [2301, 2303, 2305, 2307, 2309, 2311, 992, 994, 996, 998]},
    "AFR": {"hex": (0x393000, 0x1000),
            "fleet": [("A320", [f"F-HEP{c}" for c in "ABCDEFGHIJKLMN"]),
                      ("A319", [f"F-GRX{c}" for c in "ABCDEFGHIJKLM"])],
            "numbers": [1140, 1240, 1340, 1440, 1540, 1640, 1740, 1840]},
    "DAL": {"hex": (0xA80000, 0x10000),
            "fleet": [("A333", [f"N8{n}NW" for n in range(11, 31)]),
                      ("B763", [f"N1{n}DL" for n in range(69, 99)])],
            "numbers": [46, 47, 70, 71, 160, 161]},
    "UAE": {"hex": (0x896000, 0x800),
            "fleet": [("B77W", [f"A6-E{c}{d}" for c in "GNP" for d in "ABCDEFGHJK"])],
            "numbers": [147, 148, 149, 150]},
    "EIN": {"hex": (0x4CA000, 0x800),
            "fleet": [("A320", [f"EI-DV{c}" for c in "ABCDEFGHIJKLMN"])],
            "numbers": [603, 605, 607, 609, 611, 613]},
    "SAS": {"hex": (0x478000, 0x800),
            "fleet": [("A20N", [f"SE-RO{c}" for c in "ABCDEFGHIJKLMN"]),
                      ("CRJ9", [f"ES-AC{c}" for c in "ABCDEFGHIJ"])],
            "numbers": [551, 553, 1549, 1551, 2551]},
    "NJE": {"hex": (0x4950B0, 0x100),
            "fleet": [("C68A", [f"CS-LT{c}" for c in "ABCDEFGHIJ"])],
            "numbers": [712, 785, 802, 864]},
    "DTR": {"hex": (0x45A000, 0x400),
            "fleet": [("AT76", [f"OY-RT{c}" for c in "ABCDEFGHIJ"])],
            "numbers": [171, 173, 175]},
    "MPH": {"hex": (0x486000, 0x200),
            "fleet": [("B744", [f"PH-MP{c}" for c in "RST"])],
            "numbers": [6541, 6543, 6547]},
}

DESTINATIONS = {
    "KLM": ["LHR", "CDG", "FRA", "BCN", "JFK", "CPH", "OSL", "MAD", "FCO", "MUC", "ZRH", "DUB", "BLL", "HAM"],
    "TRA": ["AGP", "ALC", "PMI", "FAO", "LIS", "NCE", "TFS"],
    "EZY": ["LGW", "LTN", "BRS", "MAN", "EDI"],
    "BAW": ["LHR", "LCY"], "DLH": ["FRA", "MUC"], "AFR": ["CDG"], "DAL": ["JFK", "ATL", "DTW"],
    "UAE": ["DXB"], "EIN": ["DUB"], "SAS": ["CPH", "ARN", "OSL"], "NJE": ["LTN", "FAB"],
    "DTR": ["BLL"], "MPH": ["HKG", "NBO"],
}

# Compass bearing from Amsterdam towards a few destinations, for the departures' turns.
DIRECTION = {"LHR": 250, "LGW": 245, "LTN": 260, "LCY": 250, "BRS": 260, "MAN": 285, "EDI": 320,
             "CDG": 210, "FRA": 130, "MUC": 135, "ZRH": 160, "BCN": 195, "MAD": 210, "FCO": 165,
             "CPH": 60, "OSL": 20, "ARN": 45, "HAM": 70, "BLL": 30, "DUB": 280, "JFK": 290,
             "ATL": 285, "DTW": 295, "DXB": 120, "AGP": 205, "ALC": 200, "PMI": 190, "FAO": 215,
             "LIS": 215, "NCE": 170, "TFS": 215, "HKG": 75, "NBO": 150, "FAB": 250}


# --- motion -------------------------------------------------------------------

class Track:
    """Second-by-second states of one aircraft, built from legs and holds."""

    def __init__(self, start, heading):
        self.pos = start
        self.alt = FIELD_FT
        self.speed = 0.0
        self.heading = heading
        self.track = heading
        self.states = []   # (pos, alt, gs, track, vr, ground, heading)
        self.ground = True

    def _emit(self, gs, vr, heading=None):
        self.states.append((self.pos, self.alt, gs, self.track, vr, self.ground,
                            self.heading if heading is None else heading))

    def hold(self, seconds):
        for _ in range(int(seconds)):
            self._emit(0.0, 0.0)

    def leg(self, points, ground, backwards=False):
        """points: [(pos, alt or None, speed at that point)], flown at speeds
        interpolated along the way; altitude likewise."""
        self.ground = ground
        start_speed = self.speed
        for target, alt, speed in points:
            start = self.pos
            start_alt = self.alt
            total = dist(start, target)
            if total < 1e-6:
                self.speed = speed
                continue
            brg = bearing(start, target)
            done = 0.0
            while done < total:
                frac = done / total
                v = start_speed + (speed - start_speed) * frac
                v_move = max(v, 2.0)
                step = v_move / 3600.0
                done = min(done + step, total)
                frac = done / total
                old_alt = self.alt
                self.pos = offset(start, brg, done)
                if alt is not None:
                    self.alt = start_alt + (alt - start_alt) * frac
                self.track = brg
                if not backwards:
                    self.heading = brg
                self._emit(v_move, (self.alt - old_alt) * 60.0)
            start_speed = speed
            self.speed = speed


def airborne_track(start, toward, alt, speed):
    """A track that begins in the air at START, heading for TOWARD."""
    tr = Track(start, bearing(start, toward))
    tr.ground = False
    tr.alt = alt
    tr.speed = speed
    return tr


def airborne_tas(gs, alt):
    return max(gs * (1.0 + max(alt, 0.0) / 1000.0 * 0.015) + rng.uniform(-6, 6), 0.0)


# The feed's receivers pass their reports on in bursts, some 9 to 14 s apart, in whole seconds:
# most reports of a burst come in its last seconds.
BURSTS = []


def make_bursts():
    t = rng.uniform(0.0, 5.0)
    while t < DURATION + 60.0:
        BURSTS.append(float(round(t)))
        t += rng.uniform(9.0, 14.0)


def burst_time(ts):
    """The whole second at which a report made at TS reaches the feed."""
    i = bisect.bisect_left(BURSTS, ts)
    if i >= len(BURSTS):
        return float(round(ts))
    return max(float(math.ceil(ts)), BURSTS[i] - rng.choice([0, 0, 0, 0, 1, 1, 2, 3]))


def report_gap():
    """Seconds to an aircraft's next report, as real feeds deliver them."""
    share = rng.random()
    if share < 0.6:
        return rng.uniform(3.0, 11.0)
    if share < 0.88:
        return rng.uniform(11.0, 24.0)
    return rng.uniform(24.0, 34.0)


def feed_of(ident, light=False):
    """What the aircraft's feed gives: vertical rates, and a usable on-ground flag."""
    return {"vr": not light and rng.random() >= 0.25, "gnd": rng.random() >= 0.2}


def reports(track, ident, origin, dest, t0, feed=None):
    """Samples a track into report lines; t0 is the scenario second of its first state."""
    feed = feed or feed_of(ident)
    out = []
    t = rng.uniform(0.0, 10.0)
    last = len(track.states) - 1
    while t <= last:
        ts = burst_time(t0 + t)
        t = ts - t0
        if t > last:
            break
        i = int(t)
        pos, alt, gs, trk, vr, ground, hdg = track.states[i]
        if 0.0 <= ts <= DURATION:
            lat, lon = ll(pos)
            line = {"type": "live", "t": round(ts, 1), "hex": ident["hex"], "cs": ident["cs"],
                    "reg": ident["reg"], "model": ident["model"], "from": origin, "to": dest,
                    "lat": round(lat, 6), "lon": round(lon, 6),
                    "alt": round(FIELD_FT if ground else alt), "gs": round(gs, 1),
                    "tas": 0 if ground else round(airborne_tas(gs, alt)),
                    "trk": round(trk % 360.0, 1),
                    "vr": 0 if ground or not feed["vr"] else round(vr / 64.0) * 64,
                    "gnd": ground and feed["gnd"]}
            if abs(((hdg - trk + 180.0) % 360.0) - 180.0) > 90.0:   # pushing back
                line["hdg"] = round(hdg % 360.0, 1)
            out.append(line)
        t += report_gap()
    return out


def arrival(ident, origin, runway, stand, touchdown_time, from_bearing):
    thr, end = RWY[runway]
    rwy = bearing(thr, end)
    entry = offset(thr, rwy + 180.0, 30.0)
    entry = offset(entry, rwy + 180.0 + (from_bearing - rwy - 180.0) * 0.5, 0.0)
    start = offset(thr, from_bearing, 38.0)
    tr = airborne_track(start, entry, 11000.0, 280.0)
    intercept = offset(thr, rwy + 180.0, 14.0)
    tr.leg([(intercept, 4500.0, 210.0),
            (offset(thr, rwy + 180.0, 10.0), 3200.0, 170.0),
            (offset(thr, rwy + 180.0, 4.0), 1270.0, 145.0),
            (thr, FIELD_FT + 50.0, 138.0),
            (offset(thr, rwy, 400 * M), FIELD_FT, 132.0)], ground=False)
    td_index = len(tr.states)
    exit_point = TAXI_IN[runway][0]
    rollout_end = offset(thr, rwy, dist(thr, exit_point) - 150 * M)
    tr.leg([(rollout_end, None, 25.0), (exit_point, None, 15.0)], ground=True)
    taxi = [(p, None, 18.0) for p in TAXI_IN[runway][1:]]
    tr.leg(taxi + [(lane_point(stand), None, 8.0)], ground=True)
    tr.leg([(STANDS[stand][0], None, 0.0)], ground=True)
    tr.heading = STANDS[stand][1]
    tr.hold(rng.uniform(60, 150))
    return reports(tr, ident, origin, "AMS", touchdown_time - td_index)


def departure(ident, dest, runway, stand, pushback_time):
    pos, heading, _ = STANDS[stand]
    tr = Track(pos, heading)
    at_stand = rng.uniform(60, 240)
    tr.hold(at_stand)
    # Straight back to the taxilane, the nose still to the pier.
    tr.leg([(offset(pos, heading + 180.0, 45 * M), None, 3.0),
            (lane_point(stand), None, 2.0)], ground=True, backwards=True)
    tr.hold(rng.uniform(30, 60))
    route = [(p, None, 17.0) for p in TAXI_OUT[runway]]
    tr.leg(route, ground=True)
    tr.hold(rng.uniform(20, 70))
    thr, end = RWY[runway]
    rwy = bearing(thr, end)
    tr.leg([(thr, None, 6.0)], ground=True)
    tr.hold(rng.uniform(8, 20))
    tr.speed = 0.0
    tr.leg([(offset(thr, rwy, 1800 * M), None, 150.0)], ground=True)
    liftoff = tr.pos
    out_dir = DIRECTION.get(dest, rwy)
    climb_out = offset(liftoff, rwy, 4.0)
    turn = offset(climb_out, (rwy + out_dir) / 2.0 if abs(rwy - out_dir) < 180 else out_dir, 6.0)
    tr.leg([(offset(liftoff, rwy, 0.6), FIELD_FT + 500.0, 165.0),
            (climb_out, 2500.0, 190.0),
            (turn, 6000.0, 240.0),
            (offset(turn, out_dir, 30.0), 17000.0, 320.0)], ground=False)
    return reports(tr, ident, "AMS", dest, pushback_time - at_stand)


def overflight(ident, origin, dest, start_time, from_brg, to_brg, level):
    a = offset((0.0, 0.0), from_brg, 45.0)
    b = offset((rng.uniform(-8, 8), rng.uniform(-8, 8)), 0.0, 0.0)
    c = offset(b, to_brg, 45.0)
    tr = airborne_track(a, b, level, 460.0)
    tr.leg([(b, level, 460.0), (c, level, 460.0)], ground=False)
    return reports(tr, ident, origin, dest, start_time)


def standing(ident, stand):
    """An aircraft whose transponder reports it standing at its stand all the recording long."""
    pos, heading, _ = STANDS[stand]
    tr = Track(offset(pos, rng.uniform(0, 360), rng.uniform(0, 4) * M), heading)
    tr.hold(DURATION)
    return reports(tr, ident, "", "", 0.0)


# Lelystad, east of Schiphol: light aircraft land there, on runway 05.
EHLE = xy(52.4603, 5.52722)
EHLE_FT = -13.0


def light_arrival(ident, touchdown_time, from_bearing):
    """A light aircraft landing at Lelystad from the west, its feed without vertical rates."""
    rwy = 50.0
    thr = offset(EHLE, rwy + 180.0, 600 * M)
    start = offset(thr, from_bearing, 14.0)
    tr = airborne_track(start, thr, 2500.0, 105.0)
    base = offset(thr, rwy + 180.0, 3.0)
    tr.leg([(offset(base, rwy + 90.0, 1.5), 1500.0, 95.0),
            (base, 1000.0, 85.0),
            (offset(thr, rwy + 180.0, 1.0), 450.0, 75.0),
            (thr, EHLE_FT + 30.0, 65.0),
            (offset(thr, rwy, 250 * M), EHLE_FT, 55.0)], ground=False)
    td_index = len(tr.states)
    tr.leg([(offset(thr, rwy, 600 * M), None, 15.0), (offset(thr, rwy, 700 * M), None, 8.0)], ground=True)
    tr.hold(rng.uniform(60, 120))
    return reports(tr, ident, "AMS", "LEY", touchdown_time - td_index, feed={"vr": False, "gnd": True})


# A helicopter's pad east of the terminal, and its landing site in town.
HELI_PAD = xy(52.3060, 4.7730)
HELI_SITE = xy(52.3560, 4.9550)


def helicopter(ident, lift_time):
    """A helicopter lifting off vertically at Schiphol and landing in town, no vertical rates."""
    tr = Track(HELI_PAD, bearing(HELI_PAD, HELI_SITE))
    tr.hold(rng.uniform(20, 40))
    tr.ground = False
    tr.leg([(HELI_PAD, None, 0.0)], ground=False)
    for _ in range(20):                      # straight up to 300 ft
        tr.alt += 15.0
        tr._emit(0.0, 900.0)
    near = offset(HELI_SITE, bearing(HELI_SITE, HELI_PAD), 0.6)
    tr.leg([(offset(HELI_PAD, bearing(HELI_PAD, HELI_SITE), 0.8), 900.0, 90.0),
            (near, 1000.0, 110.0),
            (offset(HELI_SITE, bearing(HELI_SITE, HELI_PAD), 0.05), 150.0, 20.0)], ground=False)
    tr.leg([(HELI_SITE, 80.0, 3.0)], ground=False)
    for _ in range(12):                      # straight down
        tr.alt = max(FIELD_FT, tr.alt - 8.0)
        tr._emit(0.0, -480.0)
    tr.ground = True
    tr.alt = FIELD_FT
    tr.hold(rng.uniform(60, 120))
    return reports(tr, ident, "", "", lift_time - 30.0, feed={"vr": False, "gnd": True})


# --- the scenario -------------------------------------------------------------

def small_traffic(fleet, pool):
    """Light aircraft landing at Lelystad, a helicopter, and aircraft at their stands whose
    transponders report them standing there."""
    lines = []
    for td, frm in [(240.0, 260.0), (720.0, 290.0)]:
        reg = rng.choice(["PH-ABC", "PH-VGN", "PH-HBS"]) if td < 500 else "PH-LEY"
        ident = {"hex": fleet._hex(0x480000, 0x400), "cs": reg, "reg": reg, "model": "C172", "airline": ""}
        lines += light_arrival(ident, td, frm)
    lines += helicopter({"hex": fleet._hex(0x484F00, 0x40), "cs": "LIFE1", "reg": "PH-ULP", "model": "EC35",
                         "airline": ""}, 300.0)
    for airline in ["KLM"] * 4 + ["TRA", "EZY", "DLH"]:
        ident = fleet.aircraft(airline)
        stand = pool.take(ident["model"])
        if stand is not None:
            lines += standing(ident, stand)
    return lines


def parked_line(ident, stand, hh, until):
    pos = STANDS[stand][0]
    # The service's parked positions scatter a few metres around the stand.
    pos = offset(pos, rng.uniform(0, 360), rng.uniform(0, 12) * M)
    lat, lon = ll(pos)
    line = {"type": "parked", "hex": ident["hex"], "cs": ident["cs"], "reg": ident["reg"],
            "model": ident["model"], "airline": ident["airline"], "lat": round(lat, 6),
            "lon": round(lon, 6), "stand": stand, "hh": hh % 48}
    if until is not None:
        line["until"] = until
    return line


def write_scenario(out_path, lines, parked_lines):
    header = {"type": "header", "name": "EHAM south flow", "airport": "EHAM", "start_hh": START_HH,
              "play_from": PLAY_FROM, "interval_ms": 2000}
    qnh = [{"type": "qnh", "t": 0, "qnh": 1018.4}, {"type": "qnh", "t": 600, "qnh": 1018.0}]
    # The user's aircraft: at stand D4 for a quarter of an hour, then taxiing out.
    user = [{"type": "user", "t": t, "lat": la, "lon": lo, "alt": -7.0, "hdg": h, "gs": gs, "gnd": True}
            for t, la, lo, h, gs in [(0, 52.309790, 4.760010, 225.0, 0.0), (900, 52.309790, 4.760010, 225.0, 0.0),
                                     (960, 52.308900, 4.758600, 225.0, 12.0),
                                     (1080, 52.305600, 4.754100, 200.0, 15.0)]]
    lines.sort(key=lambda l: (l["t"], l["hex"]))
    out_path.parent.mkdir(parents=True, exist_ok=True)
    with open(out_path, "w", encoding="utf-8", newline="\n") as f:
        for obj in [header] + qnh + user + parked_lines + lines:
            f.write(json.dumps(obj, separators=(",", ":")) + "\n")
    print(f"{out_path}: {len(lines)} live reports, {len(parked_lines)} parked aircraft")



def main():
    root = Path(__file__).resolve().parent.parent
    parser = argparse.ArgumentParser(description="Writes the EHAM traffic scenario.")
    parser.add_argument("--stands", type=Path, default=root / "data" / "airports" / "EHAM.xml",
                        help="airport file whose stands the aircraft use (default: the bundled one)")
    parser.add_argument("output", type=Path, nargs="?", default=root / "data" / "scenarios" / "eham.jsonl")
    args = parser.parse_args()
    if args.stands.exists():
        STANDS.update(airport_file_stands(args.stands))
        print(f"stands from {args.stands}")
    else:
        STANDS.update(own_stands())
        print("stands of our own piers")
    out_path = args.output
    make_bursts()
    fleet = Fleet()
    lines = []
    pool = StandPool()

    # Arrivals: the first ones already on final when the recording starts.
    arrivals = [("KLM", "18R", 40), ("TRA", "18C", 130), ("KLM", "18R", 200), ("EZY", "18C", 290),
                ("DAL", "18R", 360), ("KLM", "18C", 450), ("BAW", "18R", 530), ("KLM", "18C", 610),
                ("DLH", "18R", 700), ("KLM", "18C", 790), ("UAE", "18R", 880), ("AFR", "18C", 960),
                ("KLM", "18R", 1050), ("SAS", "18C", 1130)]
    for airline, runway, td in arrivals:
        ident = fleet.aircraft(airline)
        origin = rng.choice(DESTINATIONS[airline])
        stand = pool.take(ident["model"])
        if stand is None:
            continue
        lines += arrival(ident, origin, runway, stand, float(td), rng.choice([20, 45, 330, 345, 60]))

    # Departures, each from a stand where it shows up as parked until it moves.
    departures = [("KLM", "24", 30), ("KLM", "18L", 95), ("TRA", "24", 170), ("EIN", "18L", 250),
                  ("KLM", "24", 320), ("EZY", "18L", 400), ("KLM", "24", 480), ("DLH", "18L", 560),
                  ("KLM", "24", 650), ("TRA", "18L", 720), ("AFR", "24", 800), ("KLM", "18L", 880),
                  ("NJE", "24", 950), ("KLM", "18L", 1020)]
    parked = []
    for airline, runway, pb in departures:
        ident = fleet.aircraft(airline)
        dest = rng.choice(DESTINATIONS[airline])
        stand = pool.take(ident["model"])
        if stand is None:
            continue
        lines += departure(ident, dest, runway, stand, float(pb))
        parked.append((ident, stand, START_HH - rng.randint(1, 5), float(pb)))

    # Overflights at cruise level.
    overs = [("UAE", 20, 260, 36000), ("DAL", 280, 110, 35000), ("SAS", 40, 220, 37000),
             ("BAW", 250, 60, 34000), ("DLH", 140, 300, 38000), ("KLM", 330, 160, 33000)]
    for i, (airline, frm, to, level) in enumerate(overs):
        ident = fleet.aircraft(airline)
        lines += overflight(ident, rng.choice(DESTINATIONS[airline]), rng.choice(DESTINATIONS[airline]),
                            float(60 + i * 170), frm, to, float(level))

    lines += small_traffic(fleet, pool)

    # Parked aircraft with no movement in the recording, some parked for hours.
    mix = ["KLM"] * 6 + ["TRA"] * 2 + ["EZY", "DLH", "SAS", "DAL", "UAE", "DTR", "MPH", "MPH", "MPH"]
    for airline in mix:
        ident = fleet.aircraft(airline)
        stand = pool.take(ident["model"])
        if stand is None:
            continue
        parked.append((ident, stand, START_HH - rng.choice([0, 1, 1, 2, 2, 3, 4, 6, 8, 12, 16]), None))

    parked_lines = [parked_line(ident, stand, hh, until) for ident, stand, hh, until in parked]

    write_scenario(out_path, lines, parked_lines)


if __name__ == "__main__":
    main()
