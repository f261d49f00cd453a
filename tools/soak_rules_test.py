#!/usr/bin/env python3
"""Tests of the rules of scripts/soak (tools/soak_rules.py) on the samples of a recorded soak day
(tests/data/soak/day.csv.gz: `scripts/soak 24`, seed 24, one row a virtual minute) and on what
each case lays over them. Standard library only: python3 tools/soak_rules_test.py"""

import csv
import gzip
import io
import os
import random
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import soak_rules  # noqa: E402

DAY = os.path.join(HERE, "..", "tests", "data", "soak", "day.csv.gz")


def recorded_day():
    with gzip.open(DAY, "rt") as f:
        rows = list(csv.DictReader(io.StringIO(f.read())))
    return soak_rules.segments(rows)[0]


# In the recorded day the simulator's titles refused once stayed refused for the rest of the
# process: that list rose from at most 3 in the first quarter to at least 9 in the last, a fault
# the rules caught. Every other list of the day passes.
GREW_IN_THE_RECORDED_DAY = "not_created"


def judged(run, ignore=GREW_IN_THE_RECORDED_DAY):
    table, failures = [], []
    soak_rules.check_lists(run, "run 1", table, failures)
    return [f for f in failures if f"{ignore} grows" not in f]


class ListGrowthTest(unittest.TestCase):
    def setUp(self):
        self.day = recorded_day()

    def test_the_recorded_day_passes_but_for_the_list_that_grew_in_it(self):
        self.assertGreater(len(self.day), 20 * 60)
        self.assertEqual(judged(self.day), [])
        grew = judged(self.day, ignore="nothing")
        self.assertEqual(len(grew), 1, grew)
        self.assertIn(f"{GREW_IN_THE_RECORDED_DAY} grows without bound", grew[0])

    def test_a_queue_that_fills_and_drains_passes_however_full_one_sample_finds_it(self):
        draw = random.Random(39)
        cases = {
            # Fuller at one late sample than at any early one: the case that once failed a loaded machine.
            "one late peak": lambda i, n: 44 if i == n - 10 else 0,
            "fills and drains": lambda i, n: draw.randrange(0, 60),
            "busier late but drained": lambda i, n: draw.randrange(0, 40 if i < n // 2 else 120) * (i % 3 != 0),
        }
        for name, level in cases.items():
            run = [dict(row) for row in self.day]
            for i, row in enumerate(run):
                row["notifications"] = str(level(i, len(run)))
            with self.subTest(name):
                self.assertEqual(judged(run), [])

    def test_a_leak_of_one_entry_a_minute_fails_in_any_list(self):
        for column in ("regcode_liveries", "chosen_liveries", "live", "notifications", "no_match"):
            run = [dict(row) for row in self.day]
            soak_rules.inject_leak(run, column)
            with self.subTest(column):
                failures = judged(run)
                self.assertEqual(len(failures), 1, failures)
                self.assertIn(f"{column} grows without bound", failures[0])

    def test_every_slack_lies_below_the_limit_it_guards(self):
        for column, limit in soak_rules.LIST_LIMITS.items():
            with self.subTest(column):
                self.assertLess(soak_rules.growth_slack(column), limit)
        self.assertLessEqual(soak_rules.growth_slack("not_created"), 5)

    def test_a_run_shorter_than_its_warm_up_is_not_judged(self):
        self.assertEqual(judged(self.day[:70]), [])


class LearningTest(unittest.TestCase):
    @staticmethod
    def samples(stays):
        """Rows a minute apart: (pid, park, known half-hours) for each minute."""
        return [{"time": str(60 * i), "pid": str(pid), "park": park, "known_half_hours": str(known)}
                for i, (pid, park, known) in enumerate(stays)]

    def lost(self, stays):
        table, failures = [], []
        soak_rules.check_learning(self.samples(stays), table, failures)
        return table, failures

    def test_what_a_visit_learned_must_be_read_back_at_the_next_one(self):
        kept = [(1, "EHAM", 10), (1, "EHAM", 14), (1, "", 0), (1, "EHEH", 3), (1, "EHAM", 14), (1, "EHAM", 15)]
        table, failures = self.lost(kept)
        self.assertEqual(failures, [])
        self.assertIn(("learned EHAM", "2 visits, 5 half-hours learned, read back at 1 later visits, "
                       "15 known at the last sample"), table)
        lost = [(1, "EHAM", 10), (1, "EHAM", 14), (1, "EHEH", 3), (1, "EHAM", 12), (1, "EHAM", 13)]
        self.assertEqual(self.lost(lost)[1], ["learned EHAM: half-hours lost between visits (2 at minute 3)"])

    def test_a_new_process_is_a_new_visit_that_reads_the_saved_file(self):
        restarted = [(1, "EHAM", 10), (1, "EHAM", 14), (2, "EHAM", 11), (2, "EHAM", 12)]
        self.assertEqual(self.lost(restarted)[1], ["learned EHAM: half-hours lost between visits (3 at minute 2)"])


if __name__ == "__main__":
    unittest.main()
