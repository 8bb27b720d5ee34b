"""Press and hold of the step buttons with the real pointer: one step per 200 ms tick, the
step growing with the time held, clamped at the module's limit, and one more step of one
when the button is released."""

import statistics
import time

import harness as h
from test_controls import CMD_CHANNEL, CMD_POWER, ControlsCase, set_values, sets


def held_values(start, ticks, step_every, cap, step_of, limit):
    """What a hold sends: tick n steps by n // step_every + 1 (n held at the cap), clamped."""
    values, value = [], start
    for n in range(1, ticks + 1):
        value = limit(step_of(value, min(n, cap) // step_every + 1))
        values.append(value)
    return values


class HoldTest(ControlsCase):
    def hold(self, button, code, ticks):
        """Holds the button through `ticks` step frames; releases right after the last one
        has arrived, well before the next tick. Returns the frames and the two moments."""
        sim = self.sim
        mark = sim.mark()
        self.session.press(button)
        pressed = time.monotonic()
        self.wait_sets(code, ticks, mark, timeout=ticks * 0.2 + 3)
        self.session.release()
        released = time.monotonic()
        time.sleep(1.2)  # the click's step, then at least two poll periods
        return sets(sim, code, mark), pressed, released

    def check_timing(self, frames, pressed, released):
        ticks = frames[:-1]
        first = ticks[0].local - pressed
        gaps = [b.t - a.t for a, b in zip(ticks, ticks[1:])]
        print("first step %.0f ms after the press; steps every %.0f ms (median; %.0f to %.0f)"
              % (1000 * first, 1000 * statistics.median(gaps), 1000 * min(gaps), 1000 * max(gaps)))
        self.assertTrue(0.12 < first < 0.4, "first step %.3f s after the press" % first)
        self.assertAlmostEqual(statistics.median(gaps), 0.2, delta=0.02)
        self.assertLess(max(gaps), 0.4)
        # One frame for the click at the release, and nothing after it.
        self.assertLess(frames[-1].local - released, 0.15)
        self.assertGreater(frames[-1].t - ticks[-1].t, 0.0)

    def test_channel_down_from_96(self):
        self.start("--channel", 96)
        frames, pressed, released = self.hold(h.IDC_CHANNEL_DOWN, CMD_CHANNEL, 42)
        expected = held_values(96, 40, 11, 249, lambda v, step: v - step, lambda v: max(v, 1))
        self.assertEqual(expected[:10], list(range(95, 85, -1)))
        self.assertEqual(expected[-8:], [27, 23, 19, 15, 11, 7, 3, 1])
        values = set_values(frames, CMD_CHANNEL)
        # Forty ticks to channel 1, two more ticks of 1, and the release's step of 1.
        self.assertEqual(values, expected + [1, 1, 1])
        self.check_timing(frames, pressed, released)
        self.shows(h.IDC_CHANNEL_EDIT, "1")

    def test_power_up_from_700(self):
        self.start("--power", 700)
        frames, pressed, released = self.hold(h.IDC_POWER_UP, CMD_POWER, 77)
        expected = held_values(700, 75, 5, 249, lambda v, step: v + step, lambda v: min(v, 1300))
        values = set_values(frames, CMD_POWER)
        self.assertEqual(values, expected + [1300, 1300, 1300])
        self.assertEqual(values[:10], [701, 702, 703, 704, 706, 708, 710, 712, 714, 717])
        self.assertLess(values[73], 1300)
        self.assertEqual(values[74], 1300)  # the 75th tick, 15 s after the press
        self.assertEqual(values[73] - values[72], 15)
        self.check_timing(frames, pressed, released)
        self.shows(h.IDC_POWER_EDIT, "13.00")


if __name__ == "__main__":
    h.main()
