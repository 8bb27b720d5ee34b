"""Benchmark, run by hand (not by CTest): from a click on SET to the frame at the module, and
from the module's answer to the text in the window. The 100 ms pause follows the send, so
the first should stay well under it.

    python3 tests/e2e/bench_latency.py [--exe ... --probe ... --sim ...] [-n 12]
"""

import argparse
import statistics
import sys
import time
import unittest

import harness as h
from test_controls import CMD_CHANNEL, ControlsTest, set_frame


def stats(values):
    return "median %.0f ms, min %.0f, max %.0f, stdev %.0f (n=%d)" % (
        statistics.median(values), min(values), max(values), statistics.pstdev(values), len(values))


class LatencyBench(ControlsTest):
    samples = 12

    def runTest(self):
        sim = self.start()
        s = self.session
        measured = []
        for i in range(self.samples):
            value = 20 + i
            self.type_into(h.IDC_CHANNEL_EDIT, str(value))
            mark = sim.mark()
            clicked = s.click(h.IDC_SET_CHANNEL)
            # Watch the frequency, which only the answer changes (the edit already holds the
            # typed text); a state read is dated at its middle.
            seen = None
            deadline = time.monotonic() + 3
            while seen is None and time.monotonic() < deadline:
                before = time.monotonic()
                state = s.probe.state()
                after = time.monotonic()
                if state.text(h.IDC_FREQUENCY) == str(191300 + 50 * (value - 1)):
                    seen, spread = (before + after) / 2, after - before
            self.assertIsNotNone(seen, "the answer to %d was not shown" % value)
            rx = self.wait_sets(CMD_CHANNEL, 1, mark)[0]
            self.assertEqual(rx.bytes, set_frame(CMD_CHANNEL, value))
            measured.append((clicked, rx, sim.frames("TX", mark)[0], seen, spread))
        offset = sim.clock_offset()  # monotonic time of the sim's zero, as late as it can be
        print("click on SET -> frame at the module: %s"
              % stats([(rx.t + offset - clicked) * 1000 for clicked, rx, _, _, _ in measured]))
        print("module's answer -> text in the window: %s; one state read takes %.0f ms"
              % (stats([(seen - (tx.t + offset)) * 1000 for _, _, tx, seen, _ in measured]),
                 1000 * statistics.median(m[4] for m in measured)))


if __name__ == "__main__":
    h.parse_args()
    parser = argparse.ArgumentParser()
    parser.add_argument("-n", type=int, default=LatencyBench.samples)
    LatencyBench.samples = parser.parse_args().n
    result = unittest.TextTestRunner(verbosity=2).run(unittest.TestSuite([LatencyBench()]))
    sys.exit(0 if result.wasSuccessful() else 1)
