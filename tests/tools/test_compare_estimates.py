"""scripts/compare_estimates.py on pairs of small runs that agree or differ in one way."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = sys.argv.pop(1)


def record(**changes):
    r = {"file": "data/a.ply", "entry": "common", "trash_type": 3, "result": 1,
         "meaning": "grasp pose found", "points_read": 100, "points_prepared": 90,
         "main_axis_type": 1, "position": [-0.3, 0.01, -0.14],
         "orientation": {"w": 0, "x": -0.6, "y": 0.8, "z": 0}, "elapsed_ms": 2.5}
    r.update(changes)
    return r


class CompareEstimates(unittest.TestCase):
    def run_on(self, reference, other, *options):
        with tempfile.TemporaryDirectory() as d:
            paths = []
            for name, records in (("reference", reference), ("other", other)):
                path = os.path.join(d, name + ".jsonl")
                with open(path, "w") as f:
                    f.writelines(json.dumps(r) + "\n" for r in records)
                paths.append(path)
            done = subprocess.run([sys.executable, SCRIPT, *options, *paths],
                                  capture_output=True, text=True, timeout=60)
        return done.returncode, done.stdout

    def test_equal_runs_pass_whatever_their_times(self):
        status, out = self.run_on([record(), record(result=41, position=None, orientation=None)],
                                  [record(elapsed_ms=30.0),
                                   record(result=41, position=None, orientation=None)])
        self.assertEqual(status, 0, out)
        self.assertIn("2 records compared, 0 differ", out)

    def test_numbers_within_the_tolerance_pass(self):
        status, out = self.run_on([record()], [record(position=[-0.3 + 9e-7, 0.01, -0.14])])
        self.assertEqual(status, 0, out)

    def test_a_different_result_code_fails(self):
        status, out = self.run_on([record()], [record(result=101, position=None,
                                                      orientation=None)])
        self.assertEqual(status, 1)
        self.assertIn("DIFFERS: result 1 != 101", out)

    def test_a_position_beyond_the_tolerance_fails(self):
        status, out = self.run_on([record()], [record(position=[-0.3, 0.01, -0.14 + 2e-6])])
        self.assertEqual(status, 1)
        self.assertIn("position differs by 2e-06", out)

    def test_an_orientation_beyond_the_tolerance_fails(self):
        moved = {"w": 0, "x": -0.6, "y": 0.8 + 1e-5, "z": 0}
        status, out = self.run_on([record()], [record(orientation=moved)])
        self.assertEqual(status, 1)
        self.assertIn("orientation differs by 1e-05", out)

    def test_the_tolerance_can_be_chosen(self):
        moved = [-0.3, 0.01, -0.14 + 2e-6]
        self.assertEqual(self.run_on([record()], [record(position=moved)],
                                     "--tolerance", "1e-5")[0], 0)

    def test_a_missing_pose_fails(self):
        status, _ = self.run_on([record()], [record(position=None)])
        self.assertEqual(status, 1)

    def test_any_other_member_must_be_equal(self):
        self.assertEqual(self.run_on([record()], [record(points_prepared=91)])[0], 1)
        self.assertEqual(self.run_on([record()], [record(main_axis_type=2)])[0], 1)
        self.assertEqual(self.run_on([record()], [record(file="data/b.ply")])[0], 1)

    def test_a_missing_record_fails(self):
        status, out = self.run_on([record(), record(trash_type=1)], [record()])
        self.assertEqual(status, 1)
        self.assertIn("record count differs: 2 against 1", out)

    def test_no_reference_is_unusable(self):
        self.assertEqual(self.run_on([], [])[0], 2)


if __name__ == "__main__":
    unittest.main()
