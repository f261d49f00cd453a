#!/usr/bin/env python3
"""Tests of tools/draw_tracks.py on a small made-up recording: an aircraft that lands on a runway
and parks, a static aircraft, and the user. Standard library only: python3 tools/draw_tracks_test.py"""

import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import draw_tracks  # noqa: E402

LAT, LON = 52.30, 4.76


def recording(thinned=False):
    """Lines of a recording: object 1000 the user, 1001 a live aircraft landing eastbound at frame
    20 and parked from frame 40, 1002 a static aircraft (no flight states)."""
    lines = ["O,1,1000,user,PH-QLN,User Aircraft", "O,1,1001,ai,KLM1,AIG B738", "O,1,1002,ai,KLM2*,AIG B738",
             "S,1,1001,flying KLM1"]
    for frame in range(1, 60):
        if thinned and frame % 10 and frame not in (1, 20):
            continue
        lon = LON - 0.02 + 0.0005 * min(frame, 40)
        ground = frame >= 20
        if frame == 30:
            lines.append("S,30,1001,taxi KLM1")
        if frame == 40:
            lines.append("S,40,1001,parked KLM1")
        lines.append(f"P,{frame},1000,{LAT - 0.002},{LON},0,90,1,0,0,0,0,0")
        lines.append(f"P,{frame},1001,{LAT},{lon},{0 if ground else 300},90,{1 if ground else 0},0,0,0,0,0")
        lines.append(f"P,{frame},1002,{LAT + 0.002},{LON},0,90,1,0,0,0,0,0")
    return "\n".join(lines) + "\n"


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", head[16:24])


class DrawTracksTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.folder.name, "tracks.csv")

    def tearDown(self):
        self.folder.cleanup()

    def read(self, text):
        with open(self.path, "w") as out:
            out.write(text)
        return draw_tracks.read_recording(self.path)

    def test_touchdowns_and_standing_aircraft_are_found_in_full_and_thinned_recordings(self):
        for thinned in (False, True):
            with self.subTest(thinned=thinned):
                rec = self.read(recording(thinned))
                self.assertEqual(rec.users, {1000})
                self.assertEqual(rec.live, {1001})
                downs = draw_tracks.touchdowns(rec)
                self.assertEqual(len(downs), 1)
                self.assertAlmostEqual(downs[0][1], LON - 0.02 + 0.0005 * 20)
                marks = draw_tracks.standing_marks(rec)
                self.assertEqual(sorted(static for _, _, static in marks), [False, True])
                live = [m for m in marks if not m[2]][0]
                self.assertAlmostEqual(live[1], LON - 0.02 + 0.0005 * 40)

    def test_the_picture_frames_the_runways_and_tells_what_it_drew(self):
        with open(self.path, "w") as out:
            out.write(recording())
        facility = os.path.join(self.folder.name, "facility.json")
        with open(facility, "w") as out:
            json.dump({"runways": [{"primary": "09", "secondary": "27", "lat": LAT, "lon": LON, "heading": 90.0,
                                    "length": 3000.0, "width": 45.0}, {"lat": "broken"}]}, out)
        picture = os.path.join(self.folder.name, "tracks.png")
        done = subprocess.run([sys.executable, os.path.join(HERE, "draw_tracks.py"), self.path, picture,
                               "--facility", facility, "--size", "400"], capture_output=True, text=True, check=True)
        self.assertIn("2 aircraft (1 static), 0 stands, 1 runways, 1 touchdowns", done.stdout)
        width, height = png_size(picture)
        # The map, wider than high for an east-west runway, with the legend beside it.
        self.assertEqual(width, 400 + draw_tracks.LEGEND_WIDTH)
        self.assertLess(height, width)

    def test_broken_lines_are_skipped_with_their_number(self):
        rec = self.read("O,1,1001,ai,KLM1,t\nP,1,1001,not,a,number\nP,2,1001,52.3,4.7,0,0,1,0,0,0,0,0\n")
        self.assertEqual(len(rec.tracks[1001]), 1)


if __name__ == "__main__":
    unittest.main()
