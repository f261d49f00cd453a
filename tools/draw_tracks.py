#!/usr/bin/env python3
"""Draws a track recording of the simulated simulator (quillon --record FILE) as a PNG picture:
the runways of the airport's facility data, the stands of an airport file as grey marks with
their heading, every aircraft's track coloured by its flight state, each touchdown of a landing,
every standing aircraft as a mark where it stood (static and live apart), the user aircraft as a
black cross, a scale bar, north, and a legend of what is drawn. Standard library only.

usage: tools/draw_tracks.py RECORDING OUTPUT.png [--airport AIRPORT.xml] [--facility FACILITY.json]
                            [--size PIXELS] [--all] [--margin METRES]

Without --all the picture shows the airport: its stands and runways (or, without either, the
ground tracks) with a margin around them; with --all it shows every track. A recording thinned
with --record-every draws the same picture from fewer lines.
"""

import argparse
import json
import math
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

COLOURS = {
    "pushing_back": (200, 0, 200),
    "pushed_back": (120, 0, 160),
    "taxi": (240, 140, 0),
    "take_off": (220, 0, 0),
    "flying": (0, 90, 220),
    "parking": (150, 100, 0),
    "parked": (0, 150, 0),
    "birth": (150, 150, 150),
    "unknown": (0, 0, 0),
}
STAND_GREY = (170, 170, 170)
RUNWAY_GREY = (205, 205, 205)
RUNWAY_EDGE = (150, 150, 150)
STATIC_MARK = (0, 130, 140)
LIVE_MARK = (0, 150, 0)
TOUCHDOWN_MARK = (0, 0, 120)
BLACK = (0, 0, 0)
LEGEND_WIDTH = 340

# A 5 x 7 font: each glyph is seven rows of five bits.
FONT = {
    "A": "01110 10001 10001 11111 10001 10001 10001", "B": "11110 10001 10001 11110 10001 10001 11110",
    "C": "01111 10000 10000 10000 10000 10000 01111", "D": "11110 10001 10001 10001 10001 10001 11110",
    "E": "11111 10000 10000 11110 10000 10000 11111", "F": "11111 10000 10000 11110 10000 10000 10000",
    "G": "01111 10000 10000 10011 10001 10001 01111", "H": "10001 10001 10001 11111 10001 10001 10001",
    "I": "01110 00100 00100 00100 00100 00100 01110", "J": "00111 00010 00010 00010 00010 10010 01100",
    "K": "10001 10010 10100 11000 10100 10010 10001", "L": "10000 10000 10000 10000 10000 10000 11111",
    "M": "10001 11011 10101 10101 10001 10001 10001", "N": "10001 11001 10101 10011 10001 10001 10001",
    "O": "01110 10001 10001 10001 10001 10001 01110", "P": "11110 10001 10001 11110 10000 10000 10000",
    "Q": "01110 10001 10001 10001 10101 10010 01101", "R": "11110 10001 10001 11110 10100 10010 10001",
    "S": "01111 10000 10000 01110 00001 00001 11110", "T": "11111 00100 00100 00100 00100 00100 00100",
    "U": "10001 10001 10001 10001 10001 10001 01110", "V": "10001 10001 10001 10001 10001 01010 00100",
    "W": "10001 10001 10001 10101 10101 10101 01010", "X": "10001 10001 01010 00100 01010 10001 10001",
    "Y": "10001 10001 01010 00100 00100 00100 00100", "Z": "11111 00001 00010 00100 01000 10000 11111",
    "0": "01110 10001 10011 10101 11001 10001 01110", "1": "00100 01100 00100 00100 00100 00100 01110",
    "2": "01110 10001 00001 00010 00100 01000 11111", "3": "11110 00001 00001 01110 00001 00001 11110",
    "4": "00010 00110 01010 10010 11111 00010 00010", "5": "11111 10000 11110 00001 00001 10001 01110",
    "6": "00110 01000 10000 11110 10001 10001 01110", "7": "11111 00001 00010 00100 01000 01000 01000",
    "8": "01110 10001 10001 01110 10001 10001 01110", "9": "01110 10001 10001 01111 00001 00010 01100",
    "_": "00000 00000 00000 00000 00000 00000 11111", " ": "00000 00000 00000 00000 00000 00000 00000",
    "-": "00000 00000 00000 11111 00000 00000 00000", "/": "00001 00010 00010 00100 01000 01000 10000",
    "(": "00010 00100 01000 01000 01000 00100 00010", ")": "01000 00100 00010 00010 00010 00100 01000",
    ".": "00000 00000 00000 00000 00000 01100 01100", ",": "00000 00000 00000 00000 01100 00100 01000",
}


class Canvas:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = bytearray(b"\xff" * (width * height * 3))

    def dot(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            i = (y * self.width + x) * 3
            self.pixels[i:i + 3] = bytes(colour)

    def box(self, x, y, w, h, colour):
        x0, x1 = max(0, x), min(self.width, x + w)
        if x0 >= x1:
            return
        row = bytes(colour) * (x1 - x0)
        for yy in range(max(0, y), min(self.height, y + h)):
            i = (yy * self.width + x0) * 3
            self.pixels[i:i + len(row)] = row

    def line(self, x0, y0, x1, y1, colour, width=1):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        for _ in range(dx - dy + 1):
            self.box(x0, y0, width, width, colour)
            if x0 == x1 and y0 == y1:
                break
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def polygon(self, corners, colour):
        """Fills a convex polygon given as (x, y) float corners."""
        top = max(0, int(math.floor(min(y for _, y in corners))))
        bottom = min(self.height - 1, int(math.ceil(max(y for _, y in corners))))
        edges = list(zip(corners, corners[1:] + corners[:1]))
        for y in range(top, bottom + 1):
            cuts = []
            for (xa, ya), (xb, yb) in edges:
                if (ya <= y < yb) or (yb <= y < ya):
                    cuts.append(xa + (y - ya) * (xb - xa) / (yb - ya))
            if len(cuts) >= 2:
                left, right = int(round(min(cuts))), int(round(max(cuts)))
                self.box(left, y, right - left + 1, 1, colour)

    def disc(self, x, y, r, colour):
        for yy in range(-r, r + 1):
            half = int(math.sqrt(max(0, r * r - yy * yy)))
            self.box(x - half, y + yy, 2 * half + 1, 1, colour)

    def ring(self, x, y, r, colour):
        steps = max(12, 8 * r)
        for i in range(steps):
            a = 2 * math.pi * i / steps
            self.box(int(round(x + r * math.cos(a))), int(round(y + r * math.sin(a))), 2, 2, colour)

    def text(self, x, y, text, colour, scale=2):
        for ch in text.upper():
            rows = FONT.get(ch, FONT[" "]).split()
            for r, bits in enumerate(rows):
                for c, bit in enumerate(bits):
                    if bit == "1":
                        self.box(x + c * scale, y + r * scale, scale, scale, colour)
            x += 6 * scale

    def png(self, path):
        stride = self.width * 3
        raw = b"".join(b"\x00" + bytes(self.pixels[y * stride:(y + 1) * stride]) for y in range(self.height))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n")
            out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)))
            out.write(chunk(b"IDAT", zlib.compress(raw, 6)))
            out.write(chunk(b"IEND", b""))


class Recording:
    """What the recording holds: per object its points (lat, lon, on_ground, state), its tail and
    whether it is the user's; the objects whose flight states the program noted are live."""

    def __init__(self):
        self.tracks, self.tails, self.users, self.live = {}, {}, set(), set()


def read_recording(path):
    rec = Recording()
    state = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            fields = line.rstrip("\n").split(",")
            try:
                kind = fields[0]
                if kind == "P":
                    obj = int(fields[2])
                    lat, lon = float(fields[3]), float(fields[4])
                    if math.isfinite(lat) and math.isfinite(lon):
                        rec.tracks.setdefault(obj, []).append((lat, lon, fields[7] == "1", state.get(obj, "unknown")))
                elif kind == "O":
                    obj = int(fields[2])
                    rec.tails[obj] = fields[4]
                    if fields[3] == "user":
                        rec.users.add(obj)
                elif kind == "S":
                    obj = int(fields[2])
                    note = fields[3].split(" ")[0]
                    if obj != 0 and note in COLOURS:
                        state[obj] = note
                        rec.live.add(obj)
            except (IndexError, ValueError):
                print(f"{path}:{number}: line skipped", file=sys.stderr)
    return rec


def read_stands(path):
    stands = []
    for p in ET.parse(path).getroot().iter("parkpos"):
        try:
            stands.append((float(p.get("latitude")), float(p.get("longitude")), float(p.get("heading", "0"))))
        except (TypeError, ValueError):
            continue
    return stands


def read_runways(path):
    """Runways of facility data: (centre lat, lon, heading deg, length m, width m, primary, secondary)."""
    with open(path, encoding="utf-8") as f:
        facility = json.load(f)
    runways = []
    for r in facility.get("runways", []) if isinstance(facility, dict) else []:
        try:
            runways.append((float(r["lat"]), float(r["lon"]), float(r["heading"]), float(r["length"]),
                            float(r.get("width", 45.0)), str(r.get("primary", "")), str(r.get("secondary", ""))))
        except (KeyError, TypeError, ValueError):
            continue
    return runways


def standing_marks(rec):
    """Where aircraft stood: (lat, lon, static) for each static aircraft and for each stay of a live
    one in the parked state."""
    marks = []
    for obj, track in rec.tracks.items():
        if obj in rec.users or not track:
            continue
        if obj not in rec.live:
            # Static aircraft have no flight state; they stand where they were created.
            marks.append((track[0][0], track[0][1], True))
            continue
        before = None
        for lat, lon, _, state in track:
            if state == "parked" and before != "parked":
                marks.append((lat, lon, False))
            before = state
    return marks


def touchdowns(rec):
    """Where a live aircraft in flight met the ground."""
    points = []
    for obj, track in rec.tracks.items():
        if obj not in rec.live:
            continue
        for (_, _, was_on_ground, was_state), (lat, lon, on_ground, state) in zip(track, track[1:]):
            if on_ground and not was_on_ground and "flying" in (was_state, state):
                points.append((lat, lon))
    return points


def scale_length(metres_across):
    """A round length of about a fifth of the picture."""
    target = metres_across / 5.0
    for step in (10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000, 100000):
        if step >= target:
            return step
    return 100000


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("recording")
    parser.add_argument("output")
    parser.add_argument("--airport", help="airport file whose stands are drawn")
    parser.add_argument("--facility", help="facility data (JSON) whose runways are drawn")
    parser.add_argument("--size", type=int, default=1600, help="the longer side of the map in pixels")
    parser.add_argument("--all", action="store_true", help="fit every track, not only the airport")
    parser.add_argument("--margin", type=float, default=400.0, help="metres around the airport")
    args = parser.parse_args()

    rec = read_recording(args.recording)
    stands = read_stands(args.airport) if args.airport else []
    runways = read_runways(args.facility) if args.facility else []

    # A flat frame around the middle; longitudes are taken the short way round.
    def corners_of(runway):
        lat, lon, heading, length, width = runway[:5]
        h = math.radians(heading)
        along = (math.sin(h), math.cos(h))
        across = (math.cos(h), -math.sin(h))
        return [(s * length / 2 * along[0] + t * width / 2 * across[0],
                 s * length / 2 * along[1] + t * width / 2 * across[1], lat, lon)
                for s, t in ((1, 1), (1, -1), (-1, -1), (-1, 1))]

    if args.all:
        points = [(p[0], p[1]) for t in rec.tracks.values() for p in t]
    else:
        points = [(s[0], s[1]) for s in stands] + [(r[0], r[1]) for r in runways]
        if not points:
            points = [(p[0], p[1]) for t in rec.tracks.values() for p in t if p[2]]
    if not points:
        sys.exit("nothing to draw: the recording holds no positions")
    lat0 = sum(p[0] for p in points) / len(points)
    lon0 = points[0][1]
    metres_per_lon = 111320.0 * math.cos(math.radians(lat0))

    def xy(lat, lon):
        dlon = (lon - lon0 + 540.0) % 360.0 - 180.0
        return dlon * metres_per_lon, (lat - lat0) * 111320.0

    frame = [xy(*p) for p in points]
    if not args.all:
        for runway in runways:
            x, y = xy(runway[0], runway[1])
            frame += [(x + dx, y + dy) for dx, dy, _, _ in corners_of(runway)]
    margin = 0.0 if args.all else args.margin
    x_min, x_max = min(p[0] for p in frame) - margin, max(p[0] for p in frame) + margin
    y_min, y_max = min(p[1] for p in frame) - margin, max(p[1] for p in frame) + margin
    span = max(x_max - x_min, y_max - y_min, 1.0)
    scale = (args.size - 40) / span
    map_w = int((x_max - x_min) * scale) + 40
    map_h = int((y_max - y_min) * scale) + 40
    width, height = map_w + LEGEND_WIDTH, max(map_h, 520)

    def pixel(lat, lon):
        x, y = xy(lat, lon)
        return int(20 + (x - x_min) * scale), int(map_h - 20 - (y - y_min) * scale)

    def inside(x, y):
        return 0 <= x < map_w and 0 <= y < map_h

    canvas = Canvas(width, height)
    legend = []
    for runway in runways:
        cx, cy = xy(runway[0], runway[1])
        corners = [(20 + (cx + dx - x_min) * scale, map_h - 20 - (cy + dy - y_min) * scale)
                   for dx, dy, _, _ in corners_of(runway)]
        canvas.polygon(corners, RUNWAY_GREY)
        for (xa, ya), (xb, yb) in zip(corners, corners[1:] + corners[:1]):
            canvas.line(int(xa), int(ya), int(xb), int(yb), RUNWAY_EDGE)
        # The designators beyond the ends: the primary's at the end it is flown from.
        h = math.radians(runway[2])
        for name, sign in ((runway[5], -1), (runway[6], 1)):
            reach = runway[3] / 2 + 16 / scale
            tx = 20 + (cx + sign * reach * math.sin(h) - x_min) * scale
            ty = map_h - 20 - (cy + sign * reach * math.cos(h) - y_min) * scale
            canvas.text(int(tx) - 6 * len(name), int(ty) - 7, name, RUNWAY_EDGE)
    if runways:
        legend.append(("runways", RUNWAY_GREY, "box"))
    for lat, lon, heading in stands:
        x, y = pixel(lat, lon)
        canvas.box(x - 2, y - 2, 5, 5, STAND_GREY)
        h = math.radians(heading)
        canvas.line(x, y, x + int(8 * math.sin(h)), y - int(8 * math.cos(h)), STAND_GREY)
    if stands:
        legend.append(("stands", STAND_GREY, "box"))

    drawn_states = set()
    for obj, track in rec.tracks.items():
        if obj in rec.users:
            continue
        last = None
        for lat, lon, _, state in track:
            here = pixel(lat, lon)
            if last is not None and here != last and max(abs(here[0] - last[0]), abs(here[1] - last[1])) < map_w \
                    and (inside(*here) or inside(*last)):
                canvas.line(last[0], last[1], here[0], here[1], COLOURS.get(state, COLOURS["unknown"]), 2)
                drawn_states.add(state if state in COLOURS else "unknown")
            last = here
    legend += [(name, colour, "box") for name, colour in COLOURS.items() if name in drawn_states]

    downs = [pixel(lat, lon) for lat, lon in touchdowns(rec)]
    downs = [p for p in downs if inside(*p)]
    for x, y in downs:
        canvas.ring(x, y, 7, TOUCHDOWN_MARK)
    if downs:
        legend.append(("touchdown", TOUCHDOWN_MARK, "ring"))
    marks = [(pixel(lat, lon), static) for lat, lon, static in standing_marks(rec)]
    marks = [(p, static) for p, static in marks if inside(*p)]
    for (x, y), static in marks:
        if static:
            canvas.box(x - 4, y - 4, 9, 9, STATIC_MARK)
        else:
            canvas.disc(x, y, 5, LIVE_MARK)
    if any(static for _, static in marks):
        legend.append(("static aircraft", STATIC_MARK, "box"))
    if any(not static for _, static in marks):
        legend.append(("live aircraft standing", LIVE_MARK, "disc"))
    user_drawn = False
    for obj in rec.users:
        if obj in rec.tracks:
            x, y = pixel(rec.tracks[obj][-1][0], rec.tracks[obj][-1][1])
            if inside(x, y):
                canvas.line(x - 7, y - 7, x + 7, y + 7, BLACK, 2)
                canvas.line(x - 7, y + 7, x + 7, y - 7, BLACK, 2)
                user_drawn = True
    if user_drawn:
        legend.append(("user aircraft", BLACK, "cross"))

    # The legend beside the map, then north and the scale below it.
    canvas.box(map_w, 0, 2, height, (120, 120, 120))
    x0, y = map_w + 16, 16
    for name, colour, shape in legend:
        if shape == "disc":
            canvas.disc(x0 + 7, y + 7, 6, colour)
        elif shape == "ring":
            canvas.ring(x0 + 7, y + 7, 6, colour)
        elif shape == "cross":
            canvas.line(x0 + 1, y + 1, x0 + 13, y + 13, colour, 2)
            canvas.line(x0 + 1, y + 13, x0 + 13, y + 1, colour, 2)
        else:
            canvas.box(x0, y, 14, 14, colour)
        canvas.text(x0 + 22, y, name, BLACK)
        y += 22
    y += 20
    ax = x0 + 20
    canvas.line(ax, y + 50, ax, y + 8, BLACK, 3)
    canvas.polygon([(ax + 1, y), (ax - 9, y + 18), (ax + 11, y + 18)], BLACK)
    canvas.text(ax + 18, y + 14, "N", BLACK, 3)
    y += 80
    length = scale_length(map_w / scale)
    bar = int(length * scale)
    if bar > LEGEND_WIDTH - 40:
        length, bar = length // 2, bar // 2
    canvas.box(x0, y, bar, 6, BLACK)
    canvas.box(x0, y - 6, 2, 18, BLACK)
    canvas.box(x0 + bar - 2, y - 6, 2, 18, BLACK)
    canvas.text(x0, y + 16, f"{length // 1000} km" if length >= 1000 else f"{length} m", BLACK)
    canvas.png(args.output)
    statics = sum(1 for _, static in marks if static)
    aircraft = len(set(rec.tracks) - rec.users)
    print(f"{args.output}: {aircraft} aircraft ({statics} static), {len(stands)} stands, {len(runways)} runways, "
          f"{len(downs)} touchdowns")


if __name__ == "__main__":
    main()
