"""The schedule example: each pattern's count and a few of its values, and repeatable noise."""

import os
import subprocess
import sys
import unittest

SCHEDULE = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "examples", "schedule.py")


def schedule(*args):
    done = subprocess.run([sys.executable, SCHEDULE, *args], capture_output=True, text=True,
                          timeout=30, stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout, done.stderr


def values(*args):
    code, out, err = schedule(*args)
    if code != 0:
        raise AssertionError(err)
    key, _, numbers = out.rstrip("\n").partition(" = ")
    return key, numbers.split(", ")


class ScheduleTest(unittest.TestCase):
    def test_patterns(self):
        cases = [
            ("constant: one value for every period", ["constant", "--level", "1.5"],
             1, {0: "1.5"}),
            ("linear decrease", ["linear", "--periods", "5", "--start", "3", "--end", "1"],
             5, {0: "3", 1: "2.5", 4: "1"}),
            ("sine, two waves", ["sine", "--periods", "20", "--level", "2", "--amplitude", "1",
                                 "--cycles", "2"], 20, {0: "2", 1: "2.588", 5: "2", 8: "1.049"}),
            ("step, kept from going negative",
             ["step", "--periods", "6", "--level", "-1", "--to", "1.25", "--at", "3"],
             6, {0: "0", 1: "0", 2: "1.25", 5: "1.25"}),
            ("noise, one decimal", ["noise", "--periods", "50", "--level", "5", "--sd", "0.5",
                                    "--decimals", "1"], 50, {}),
        ]
        for name, args, count, expected in cases:
            with self.subTest(name):
                key, numbers = values(*args)
                self.assertEqual(key, "EnvInflowSchedule")
                self.assertEqual(len(numbers), count)
                for index, value in expected.items():
                    self.assertEqual(numbers[index], value)
                places = int(args[args.index("--decimals") + 1]) if "--decimals" in args else 3
                self.assertTrue(all(len(n.partition(".")[2]) <= places for n in numbers), numbers)

    def test_noise_repeats_with_its_seed(self):
        args = ["noise", "--periods", "30", "--level", "2", "--sd", "0.3",
                "--key", "EnvOutflowSchedule"]
        first = values(*args, "--seed", "7")
        self.assertEqual(first[0], "EnvOutflowSchedule")
        self.assertEqual(values(*args, "--seed", "7"), first)
        self.assertNotEqual(values(*args, "--seed", "8"), first)
        mean = sum(float(n) for n in first[1]) / 30
        self.assertAlmostEqual(mean, 2, delta=0.3)

    def test_bad_usage_ends_with_status_2(self):
        for args in (["wave"], ["sine", "--periods", "0"], ["noise", "--sd", "-1"]):
            with self.subTest(args=args):
                self.assertEqual(schedule(*args)[0], 2)


if __name__ == "__main__":
    unittest.main()
