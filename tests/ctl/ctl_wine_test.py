"""zorvane-ctl.exe under Wine against zorvane-sim on COM40 of a Wine prefix (the prefix and
the simulator as the end-to-end tests set them up; no display needed).
Usage: ctl_wine_test.py --ctl PATH-TO-zorvane-ctl.exe --sim PATH-TO-zorvane-sim"""
import json
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402

CTL = None
PORT = 40


class CtlUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.Prefix()
        cls.sim = harness.Sim(cls.prefix, PORT)

    @classmethod
    def tearDownClass(cls):
        harness.cleanup()

    def ctl(self, *args):
        return subprocess.run([harness.WINE64, CTL, *args], capture_output=True, text=True,
                              stdin=subprocess.DEVNULL, timeout=60)

    def json_ok(self, *args):
        done = self.ctl("--json", *args)
        self.assertEqual(done.returncode, 0, done.stderr)
        return [json.loads(line) for line in done.stdout.splitlines()]

    def test_ports_info_set_and_sweep(self):
        self.assertIn({"port": "COM%d" % PORT}, self.json_ok("ports"))

        [info] = self.json_ok("-p", "COM%d" % PORT, "info")
        self.assertEqual((info["channel"], info["wavelength_nm"], info["label"], info["channels"]),
                         (1, 1567.13, "C13", 96))

        [answer] = self.json_ok("-p", str(PORT), "channel", "45")
        self.assertEqual((answer["channel"], answer["frequency_ghz"], answer["label"]),
                         (45, 193500, "C35"))

        mark = self.sim.mark()
        steps = self.json_ok("-p", "COM%d" % PORT, "sweep", "power", "--from", "7", "--to", "8",
                             "--step", "0.5")
        self.assertEqual([s["power_dbm"] for s in steps], [7.0, 7.5, 8.0])
        sets = [e.data for e in self.sim.frames("RX", mark) if e.data.startswith("00 01")]
        self.assertEqual(sets, ["00 01 02 02 BC C1", "00 01 02 02 EE F3", "00 01 02 03 20 26"])

    def test_missing_port(self):
        done = self.ctl("-p", "COM%d" % (PORT + 200), "info")
        self.assertEqual(done.returncode, 2)
        self.assertEqual(done.stderr, "zorvane-ctl: COM240 (\\\\.\\COM240): no such port\n")


if __name__ == "__main__":
    harness.parse_args()
    CTL = str(harness.path_of("ctl"))
    unittest.main(verbosity=2)
