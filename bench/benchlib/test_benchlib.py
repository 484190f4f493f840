"""Tests of bench/run's arithmetic and verdicts (medians, nearest-rank quantiles, the poll gaps
of a crowd, a row's pass or fail), of how a waitfor's CPU between polls is read (a stand-in
client, no servers) and of how every process started is stopped. Runs without root:
    python3 -B bench/benchlib/test_benchlib.py"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import types
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from benchlib.bench import Bench, read_text  # noqa: E402
from benchlib.clients import Waitfor, process_has_ended, run_waitfors  # noqa: E402
from benchlib.procs import Processes  # noqa: E402
from benchlib.report import Row, json_item  # noqa: E402
from benchlib.setup import Subject  # noqa: E402
from benchlib.stats import CrowdGaps, median, nearest_rank  # noqa: E402

# A client that writes the result its configuration asks for, answers four polls with "+",
# spins a little, and ends after the number of seconds in its first argument.
STAND_IN_CLIENT = """#!/usr/bin/env python3
import json, sys, time
config = json.load(open(sys.argv[3]))
with open(config["output"], "w") as out:
    out.write("done")
print("++++", flush=True)
end = time.monotonic() + float(sys.argv[1])
while time.monotonic() < end:
    sum(range(1000))
"""


class MedianTest(unittest.TestCase):
    def test_odd_count_is_the_middle_value(self):
        self.assertEqual(median([30, 10, 20]), 20)

    def test_even_count_is_the_mean_of_the_middle_two_rounded_half_to_even(self):
        self.assertEqual(median([40, 10, 20, 30]), 25)
        self.assertEqual(median([1, 4]), 2)
        self.assertEqual(median([1, 2, 4, 9]), 3)

    def test_no_values_is_an_error(self):
        with self.assertRaises(ValueError):
            median([])


class NearestRankTest(unittest.TestCase):
    def test_p99_of_a_thousand_is_the_990th(self):
        values = list(range(1000, 0, -1))
        self.assertEqual(nearest_rank(values, 0.99), 990)

    def test_rank_rounds_up_and_is_at_least_one(self):
        self.assertEqual(nearest_rank([5, 1, 3], 0.5), 3)
        self.assertEqual(nearest_rank([5, 1, 3], 0.0), 1)
        self.assertEqual(nearest_rank([5, 1, 3], 1.0), 5)

    def test_none_without_values(self):
        self.assertIsNone(nearest_rank([], 0.99))


class CrowdGapsTest(unittest.TestCase):
    def test_gaps_are_per_client_in_time_order_numbered_by_the_poll_ending_them(self):
        crowd = CrowdGaps()
        crowd.add_crowd(["110.5 7", "100.0 7", "100.2 8", "105.001 7", "105.4 8"], clients=2)
        self.assertEqual(sorted(crowd.gaps), [(5.001, 2), (5.2, 2), (5.499, 3)])
        self.assertEqual(crowd.quantile(0.99), 5.499)
        self.assertEqual(crowd.quantile(0.99, from_poll=3), 5.499)
        self.assertEqual(crowd.quantile(0.5), 5.2)

    def test_clients_without_a_status_request_count_as_zero_polls(self):
        crowd = CrowdGaps()
        crowd.add_crowd(["1.0 1", "6.0 1"], clients=3)
        self.assertEqual(crowd.polls_made(runs=1), "2 clients 0 polls, 1 clients 2 polls")

    def test_polls_made_is_per_run(self):
        crowd = CrowdGaps()
        for _ in range(2):
            crowd.add_crowd([f"{t}.0 {i}" for i in (1, 2) for t in (0, 5, 10)], clients=2)
        self.assertEqual(crowd.polls_made(runs=2), "3 polls each")
        self.assertIsNone(CrowdGaps().quantile(0.99))
        mixed = CrowdGaps()
        for _ in range(2):
            mixed.add_crowd(["0.0 1", "5.0 1", "0.0 2"], clients=2)
        self.assertEqual(mixed.polls_made(runs=2), "1 clients 1 polls, 1 clients 2 polls")


class RowTest(unittest.TestCase):
    def test_a_value_above_its_target_fails(self):
        row = Row("f", "c", "p", "1.07", "<=", "1.0")
        self.assertEqual(row.verdict(), "FAIL")
        self.assertEqual(row.json()["pass"], False)

    def test_an_equal_count_passes(self):
        self.assertEqual(Row("f", "c", "p", "1000", "==", "1000").verdict(), "pass")
        self.assertEqual(Row("f", "c", "p", "999", "==", "1000").verdict(), "FAIL")

    def test_a_row_without_target_has_no_verdict(self):
        row = Row("f", "c", "p", "0.343")
        self.assertEqual((row.verdict(), row.target_text()), ("-", "-"))
        self.assertIsNone(row.json()["pass"])

    def test_json_values_are_the_numbers_as_printed(self):
        row = json.loads(json_item(Row("f", "c", "p", "1.10", "<=", "1.0", "0.99").json()))
        self.assertEqual((row["value"], row["before"], row["pass"]), (1.1, "0.99", False))
        self.assertIn('"value": 1.10,', json_item(Row("f", "c", "p", "1.10").json()))
        self.assertEqual(json.loads(json_item(Row("f", "c", "p", "7000").json()))["value"], 7000)


class QuickWaitfor(Waitfor):
    READS = {"first": 0.5, "last": 2.0}


class WaitforReadTest(unittest.TestCase):
    def setUp(self):
        self.bench = Bench(types.SimpleNamespace(baseline=""))
        self.addCleanup(self.bench.close)

    def waitfor_lasting(self, seconds):
        client = self.bench.path(f"client-{seconds}")
        with open(client, "w") as out:
            out.write(STAND_IN_CLIENT)
        os.chmod(client, 0o755)
        # The configuration's path comes third: "-cfg FILE" after the seconds.
        launcher = self.bench.path(f"launch-{seconds}")
        with open(launcher, "w") as out:
            out.write(f'#!/bin/sh\nexec {client} {seconds} "$@"\n')
        os.chmod(launcher, 0o755)
        subject = Subject(f"s{seconds}".replace(".", ""), launcher, "")
        return QuickWaitfor(self.bench, "poll", subject, "http://127.0.0.1:9", 1, 120, "done", 4)

    def test_cpu_between_the_reads_is_kept_per_poll(self):
        waitfor = self.waitfor_lasting(3)
        run_waitfors([waitfor])
        [(wall, cpu_per_poll, rss)] = self.bench.raw[("poll", waitfor.subject.name)]
        self.assertGreater(cpu_per_poll, 0)

    def test_a_client_ended_before_its_last_read_is_left_out_not_failed(self):
        ended, running = self.waitfor_lasting(0), self.waitfor_lasting(3)
        run_waitfors([ended, running])
        self.assertNotIn(("poll", ended.subject.name), self.bench.raw)
        self.assertIn(("poll", running.subject.name), self.bench.raw)


class StopAllTest(unittest.TestCase):
    def test_a_grandchild_is_stopped_though_its_name_holds_a_parenthesis(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        # /proc/PID/stat gives the name in parentheses: "(sleep) 1 2)".
        sleeper = os.path.join(folder, "sleep) 1 2")
        shutil.copy(shutil.which("sleep"), sleeper)
        procs = Processes()
        self.addCleanup(procs.stop_all)
        shell = procs.start(["sh", "-c", '"$0" 60 & echo $!; wait', sleeper],
                            stdout=subprocess.PIPE, text=True)
        grandchild = int(shell.stdout.readline())
        shell.stdout.close()
        deadline = time.monotonic() + 5
        while read_text(f"/proc/{grandchild}/comm") != "sleep) 1 2\n":
            self.assertLess(time.monotonic(), deadline, "the grandchild did not start")
            time.sleep(0.01)
        procs.stop_all()
        while True:
            try:
                if process_has_ended(grandchild):
                    break
            except FileNotFoundError:
                break
            self.assertLess(time.monotonic(), deadline, "the grandchild still runs")
            time.sleep(0.02)


if __name__ == "__main__":
    unittest.main()
