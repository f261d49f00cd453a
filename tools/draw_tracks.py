#!/usr/bin/env python3
"""Draws a track recording of the simulated simulator (quillon --record FILE) as a PNG picture:
the stands of an airport file as grey marks with their heading, every aircraft's track coloured
by its flight state, the user aircraft as a black cross, and a legend. Standard library only.

usage: tools/draw_tracks.py RECORDING OUTPUT.png [--airport AIRPORT.xml] [--size PIXELS]
                            [--all] [--margin METRES]

Without --all the picture shows the airport: the stands of the airport file (or, without one,
the ground tracks) with a margin around them; with --all it shows every track.
"""

import argparse
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

# A 5 x 7 font for the legend: each glyph is seven rows of five bits.
FONT = {
    "A": "01110 10001 10001 11111 10001 10001 10001", "B": "11110 10001 10001 11110 10001 10001 11110",
    "C": "01111 10000 10000 10000 10000 10000 01111", "D": "11110 10001 10001 10001 10001 10001 11110",
    "E": "11111 10000 10000 11110 10000 10000 11111", "F": "11111 10000 10000 11110 10000 10000 10000",
    "G": "01111 10000 10000 10011 10001 10001 01111", "H": "10001 10001 10001 11111 10001 10001 10001",
    "I": "01110 00100 00100 00100 00100 00100 01110", "K": "10001 10010 10100 11000 10100 10010 10001",
    "L": "10000 10000 10000 10000 10000 10000 11111", "N": "10001 11001 10101 10011 10001 10001 10001",
    "O": "01110 10001 10001 10001 10001 10001 01110", "P": "11110 10001 10001 11110 10000 10000 10000",
    "R": "11110 10001 10001 11110 10100 10010 10001", "S": "01111 10000 10000 01110 00001 00001 11110",
    "T": "11111 00100 00100 00100 00100 00100 00100", "U": "10001 10001 10001 10001 10001 10001 01110",
    "X": "10001 10001 01010 00100 01010 10001 10001", "Y": "10001 10001 01010 00100 00100 00100 00100",
    "W": "10001 10001 10001 10101 10101 10101 01010", "M": "10001 11011 10101 10101 10001 10001 10001",
    "_": "00000 00000 00000 00000 00000 00000 11111", " ": "00000 00000 00000 00000 00000 00000 00000",
}


class Canvas:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = bytearray(b"\xff" * (width * height * 3))

    def dot(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            i = (y * self.width + x) * 3
            self.pixels[i:i + 3] = bytes(colour)

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

    def box(self, x, y, w, h, colour):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                self.dot(xx, yy, colour)

    def text(self, x, y, text, colour, scale=2):
        for ch in text.upper():
            rows = FONT.get(ch, FONT[" "]).split()
            for r, bits in enumerate(rows):
                for c, bit in enumerate(bits):
                    if bit == "1":
                        self.box(x + c * scale, y + r * scale, scale, scale, colour)
            x += 6 * scale

    def png(self, path):
        raw = b"".join(b"\x00" + bytes(self.pixels[y * self.width * 3:(y + 1) * self.width * 3])
                       for y in range(self.height))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n")
            out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)))
            out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
            out.write(chunk(b"IEND", b""))


def read_recording(path):
    """Tracks by object id: lists of (lat, lon, on_ground, state); the user object's id."""
    tracks, users, state = {}, set(), {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            fields = line.rstrip("\n").split(",")
            try:
                if fields[0] == "P":
                    obj = int(fields[2])
                    lat, lon = float(fields[3]), float(fields[4])
                    if not (math.isfinite(lat) and math.isfinite(lon)):
                        continue
                    tracks.setdefault(obj, []).append((lat, lon, fields[7] == "1", state.get(obj, "unknown")))
                elif fields[0] == "O" and fields[3] == "user":
                    users.add(int(fields[2]))
                elif fields[0] == "S":
                    state[int(fields[2])] = fields[3].split(" ")[0]
            except (IndexError, ValueError):
                print(f"{path}:{number}: line skipped", file=sys.stderr)
    return tracks, users


def read_stands(path):
    stands = []
    for p in ET.parse(path).getroot().iter("parkpos"):
        try:
            stands.append((float(p.get("latitude")), float(p.get("longitude")), float(p.get("heading", "0"))))
        except (TypeError, ValueError):
            continue
    return stands


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("recording")
    parser.add_argument("output")
    parser.add_argument("--airport", help="airport file whose stands are drawn")
    parser.add_argument("--size", type=int, default=1600, help="width and height of the picture")
    parser.add_argument("--all", action="store_true", help="fit every track, not only the airport")
    parser.add_argument("--margin", type=float, default=400.0, help="metres around the airport")
    args = parser.parse_args()

    tracks, users = read_recording(args.recording)
    stands = read_stands(args.airport) if args.airport else []
    if args.all:
        points = [(p[0], p[1]) for t in tracks.values() for p in t]
    elif stands:
        points = [(s[0], s[1]) for s in stands]
    else:
        points = [(p[0], p[1]) for t in tracks.values() for p in t if p[2]]
    if not points:
        sys.exit("nothing to draw: the recording holds no positions")

    # A flat frame around the middle; longitudes are taken the short way round.
    lat0 = sum(p[0] for p in points) / len(points)
    lon0 = points[0][1]

    def xy(lat, lon):
        dlon = (lon - lon0 + 540.0) % 360.0 - 180.0
        return dlon * 111320.0 * math.cos(math.radians(lat0)), (lat - lat0) * 111320.0

    frame = [xy(*p) for p in points]
    margin = 0.0 if args.all else args.margin
    x_min, x_max = min(p[0] for p in frame) - margin, max(p[0] for p in frame) + margin
    y_min, y_max = min(p[1] for p in frame) - margin, max(p[1] for p in frame) + margin
    span = max(x_max - x_min, y_max - y_min, 1.0)
    size = args.size
    scale = (size - 40) / span

    def pixel(lat, lon):
        x, y = xy(lat, lon)
        return int(20 + (x - x_min) * scale), int(size - 20 - (y - y_min) * scale)

    canvas = Canvas(size, size)
    for lat, lon, heading in stands:
        x, y = pixel(lat, lon)
        canvas.box(x - 2, y - 2, 5, 5, (170, 170, 170))
        h = math.radians(heading)
        canvas.line(x, y, x + int(8 * math.sin(h)), y - int(8 * math.cos(h)), (170, 170, 170))
    for obj, track in tracks.items():
        if obj in users:
            continue
        last = None
        for lat, lon, _, state in track:
            here = pixel(lat, lon)
            if last is not None and here != last and max(abs(here[0] - last[0]), abs(here[1] - last[1])) < size:
                canvas.line(last[0], last[1], here[0], here[1], COLOURS.get(state, COLOURS["unknown"]), 2)
            last = here
    for obj in users:
        if obj in tracks:
            x, y = pixel(tracks[obj][-1][0], tracks[obj][-1][1])
            canvas.line(x - 6, y - 6, x + 6, y + 6, (0, 0, 0))
            canvas.line(x - 6, y + 6, x + 6, y - 6, (0, 0, 0))
    y = 16
    for name, colour in COLOURS.items():
        canvas.box(16, y, 14, 14, colour)
        canvas.text(38, y, name, (0, 0, 0))
        y += 22
    canvas.box(16, y, 14, 14, (170, 170, 170))
    canvas.text(38, y, "stands", (0, 0, 0))
    canvas.png(args.output)
    print(f"{args.output}: {len(tracks) - len(users & set(tracks))} aircraft, {len(stands)} stands")


if __name__ == "__main__":
    main()
