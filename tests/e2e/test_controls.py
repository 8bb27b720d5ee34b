"""Channel, power and output controls against the simulated module, driven with the real
pointer and keyboard: clicks on the step buttons, slider drags, typed values with SET and
Enter, the output switch, Enter and Escape everywhere, and what the window shows when the
module clamps a value or does not answer."""

import statistics
import time

import harness as h

CMD_CHANNEL, CMD_POWER, CMD_OUTPUT, CMD_CHANNEL_COUNT = 1, 2, 3, 4


def set_frame(code, value):
    body = [0x00, 0x01, code, value >> 8, value & 0xFF]
    return bytes(body + [sum(body) & 0xFF])


def is_set(event, code=None):
    b = event.bytes
    return b[0] == 0x00 and b[1] == 0x01 and (code is None or b[2] == code)


def set_values(frames, code):
    """The values of the set frames of that code, in the order they were received."""
    return [e.bytes[3] * 256 + e.bytes[4] for e in frames if is_set(e, code)]


def sets(sim, code=None, since=0):
    return [e for e in sim.frames("RX", since) if is_set(e, code)]


class ControlsCase(h.TestCase):
    """Each test gets its own module and a fresh program with that module's port open."""

    def start(self, *sim_options, open_port=True):
        self.sim = self.start_sim(*sim_options)
        self.app = self.start_app()
        if open_port:
            self.open_port(self.sim)
            self.sim.wait_frames(lambda f: any(e.code == CMD_OUTPUT for e in f), 10,
                                 "the output-state answer that ends the start-up", kind="TX")
            self.probe.wait_state(lambda st: st.text(h.IDC_ACTIVE) in ("ON", "OFF"), 5,
                                  "the start-up to reach the window")
        return self.sim

    def show(self, predicate, what, timeout=3):
        return self.session.probe.wait_state(predicate, timeout, what)

    def shows(self, ctl, text, timeout=3):
        return self.show(lambda st: st.text(ctl) == text, "%r in control %d" % (text, ctl), timeout)

    def quiet(self, since, duration, what, count=0):
        """Waits `duration` seconds, then checks that `count` set frames came since `since`."""
        time.sleep(duration)
        got = sets(self.sim, since=since)
        self.assertEqual(len(got), count, "%s: %s" % (what, got))

    def wait_sets(self, code, count, since, timeout=3):
        frames = self.sim.wait_frames(lambda f: len([e for e in f if is_set(e, code)]) >= count, timeout,
                                      "%d set frame(s) of code %d" % (count, code), since=since)
        return [e for e in frames if is_set(e, code)]

    def type_into(self, edit, text):
        """Clicks into the edit, empties it with Backspace and types the text."""
        s = self.session
        s.click(edit)
        keys = {"-": "minus", ".": "period"}
        s.key("End", *["BackSpace"] * 12, *[keys.get(c, c) for c in text])
        self.show(lambda st: st.text(edit) == text, "%r typed into control %d" % (text, edit))


class ControlsTest(ControlsCase):
    def test_short_clicks_step_once_by_one(self):
        sim = self.start("--channel", 50, "--power", 1000)
        s = self.session
        cases = [
            (h.IDC_CHANNEL_UP, CMD_CHANNEL, 51, h.IDC_CHANNEL_EDIT, "51"),
            (h.IDC_CHANNEL_DOWN, CMD_CHANNEL, 50, h.IDC_CHANNEL_EDIT, "50"),
            (h.IDC_POWER_DOWN, CMD_POWER, 999, h.IDC_POWER_EDIT, "9.99"),
            (h.IDC_POWER_UP, CMD_POWER, 1000, h.IDC_POWER_EDIT, "10.00"),
        ]
        for button, code, value, edit, text in cases:
            mark = sim.mark()
            s.click(button)
            frames = self.wait_sets(code, 1, mark)
            self.assertEqual(frames[0].bytes, set_frame(code, value))
            self.shows(edit, text)
            # The answer moved the slider, so the poll has nothing to send.
            self.quiet(mark, 0.8, "one click on %d" % button, count=1)

    def test_second_press_of_a_double_click_starts_no_hold(self):
        sim = self.start("--channel", 50)
        s = self.session
        x, y = s.centre(h.IDC_CHANNEL_UP)
        mark = sim.mark()
        # Click, then press again at once and hold: the second press is a double-click.
        h.xdotool("mousemove", "--sync", x, y, "click", "1", "mousedown", "1")
        time.sleep(1.0)
        s.release()
        frames = self.wait_sets(CMD_CHANNEL, 2, mark)
        self.quiet(mark, 0.8, "a held double-click", count=2)
        self.assertEqual(set_values(frames, CMD_CHANNEL), [51, 52])

    def test_slider_dragged_with_the_mouse_is_sent_by_the_poll(self):
        sim = self.start("--channel", 50, "--power", 1000)
        s = self.session
        for slider, code, target, edit in ((h.IDC_CHANNEL_SLIDER, CMD_CHANNEL, 70, h.IDC_CHANNEL_EDIT),
                                           (h.IDC_POWER_SLIDER, CMD_POWER, 850, h.IDC_POWER_EDIT)):
            state = s.probe.state()
            info = state.slider(slider)
            left, top, right, _ = state.ctl_rect(slider)
            # The thumb travels between 13 px inside either end of the control.
            def x_of(pos):
                return left + 13 + round((pos - info["min"]) / (info["max"] - info["min"]) * (right - left - 26))
            mark = sim.mark()
            x0, x1, y = x_of(info["pos"]), x_of(target), top + 12
            h.xdotool("mousemove", "--sync", x0, y, "mousedown", "1")
            for x in range(x0, x1, 8 if x1 > x0 else -8):
                h.xdotool("mousemove", "--sync", x, y)
            h.xdotool("mousemove", "--sync", x1, y)
            # A poll tick during the drag sends a position passed on the way, and the module's
            # answer puts the thumb back there, even after later pointer moves. Let that
            # settle, then move again until the thumb stays at the target, as a hand would.
            for attempt in range(3):
                time.sleep(0.8)
                h.xdotool("mousemove", "--sync", x1 + 20, y, "mousemove", "--sync", x1, y)
                moved = time.monotonic()
                try:
                    state = self.show(lambda st: abs(st.slider(slider)["pos"] - target) < 3,
                                      "the thumb dragged near %d" % target, timeout=2)
                    break
                except h.HarnessError:
                    if attempt == 2:
                        raise
            pos = state.slider(slider)["pos"]
            # Still held: the poll sends the position within one period (earlier ticks may
            # have sent positions passed on the way).
            frames = sim.wait_frames(lambda f: set_values(f, code)[-1:] == [pos], 1.5,
                                     "the dragged position %d sent" % pos, since=mark)
            h.xdotool("mouseup", "1")
            self.assertLess(frames[-1].local - moved, 0.7, "the poll took more than a period")
            shown = str(pos) if code == CMD_CHANNEL else "%.2f" % (pos / 100)
            self.shows(edit, shown)
            self.quiet(sim.mark(), 0.8, "the poll sent again although the module had answered")

    def test_typed_values_with_set_and_enter(self):
        sim = self.start("--channel", 50, "--power", 1000)
        s = self.session
        cases = [
            (h.IDC_CHANNEL_EDIT, h.IDC_SET_CHANNEL, CMD_CHANNEL, "12.9", 12, "12"),
            (h.IDC_CHANNEL_EDIT, "Return", CMD_CHANNEL, "300", 96, "96"),
            (h.IDC_CHANNEL_EDIT, h.IDC_SET_CHANNEL, CMD_CHANNEL, "0", 1, "1"),
            (h.IDC_CHANNEL_EDIT, "Return", CMD_CHANNEL, "-3", 1, "1"),   # same value: sent anyway
            (h.IDC_CHANNEL_EDIT, h.IDC_SET_CHANNEL, CMD_CHANNEL, "-", 1, "1"),
            (h.IDC_POWER_EDIT, h.IDC_SET_POWER, CMD_POWER, "8.2", 819, "8.19"),
            (h.IDC_POWER_EDIT, "Return", CMD_POWER, "7.1", 710, "7.10"),
            (h.IDC_POWER_EDIT, h.IDC_SET_POWER, CMD_POWER, "7", 700, "7.00"),
            (h.IDC_POWER_EDIT, "Return", CMD_POWER, "20", 1300, "13.00"),
            (h.IDC_POWER_EDIT, h.IDC_SET_POWER, CMD_POWER, "-1", 700, "7.00"),
            (h.IDC_POWER_EDIT, "Return", CMD_POWER, "-.", 700, "7.00"),
        ]
        for edit, action, code, text, value, shown in cases:
            with self.subTest(text=text, action=action):
                self.type_into(edit, text)
                mark = sim.mark()
                if action == "Return":
                    s.key("Return")
                else:
                    s.click(action)
                frames = self.wait_sets(code, 1, mark)
                self.assertEqual(frames[0].bytes, set_frame(code, value))
                self.shows(edit, shown)
                self.quiet(mark, 0.7, "one SET of %r" % text, count=1)
        # An empty edit: SET and Enter do nothing.
        for edit, button in ((h.IDC_CHANNEL_EDIT, h.IDC_SET_CHANNEL), (h.IDC_POWER_EDIT, h.IDC_SET_POWER)):
            self.type_into(edit, "")
            mark = sim.mark()
            s.key("Return")
            s.click(button)
            self.quiet(mark, 0.8, "an empty edit sent a value")
        self.assertTrue(self.app.alive())

    def test_output_switch_follows_the_answer(self):
        sim = self.start("--output", 1)
        s = self.session
        for value, caption in ((0, "OFF"), (1, "ON")):
            mark = sim.mark()
            s.click(h.IDC_ACTIVE)
            frames = self.wait_sets(CMD_OUTPUT, 1, mark)
            self.assertEqual(frames[0].bytes, bytes([0x00, 0x01, 0x03, value, value, 4 + 2 * value]))
            self.shows(h.IDC_ACTIVE, caption)
        # Unanswered, the caption stays; the next press inverts the flag already inverted.
        sim.command("mute 3")
        mark = sim.mark()
        s.click(h.IDC_ACTIVE)
        self.wait_sets(CMD_OUTPUT, 1, mark)
        s.probe.stays(lambda st: st.text(h.IDC_ACTIVE) == "ON", 0.8, "caption ON without an answer")
        s.click(h.IDC_ACTIVE)
        frames = self.wait_sets(CMD_OUTPUT, 2, mark)
        self.assertEqual([e.bytes[4] for e in frames], [0, 1])

    def test_enter_and_escape_everywhere_keep_the_window(self):
        sim = self.start("--channel", 50, "--power", 1000)
        s = self.session
        s.focus_window()
        mark = sim.mark()
        visited = []
        for _ in range(13):  # round the twelve tab stops of an open port and back to the first
            focus = s.probe.state().focus()
            visited.append(focus)
            s.key("Escape", "Return", "Escape")
            s.key("Tab")
            s.probe.wait_state(lambda st: st.focus() != focus, 3, "Tab to leave control %d" % focus)
        time.sleep(0.5)
        self.assertEqual(visited[0], h.IDC_OPENPORT)
        self.assertEqual(visited[-1], h.IDC_OPENPORT)
        self.assertEqual(len(set(visited)), 12)
        state = s.probe.state()
        self.assertTrue(self.app.alive())
        self.assertEqual(state.text(h.IDC_OPENPORT), "ClosePort", "Enter pressed ClosePort")
        self.assertEqual(state.error_boxes(), [])
        # Only Enter in the edits acted: each sent the value shown, nothing else was sent.
        got = sets(sim, since=mark)
        self.assertEqual([e.bytes for e in got], [set_frame(CMD_POWER, 1000), set_frame(CMD_CHANNEL, 50)])

    def test_the_window_shows_the_answer_not_the_value_sent(self):
        sim = self.start("--channel", 50, "--power", 1000)
        s = self.session
        # The module narrows its range after the start-up: it clamps what it is sent.
        sim.command("set channels 40")
        sim.command("set power-max 1200")
        self.type_into(h.IDC_CHANNEL_EDIT, "80")
        mark = sim.mark()
        s.key("Return")
        self.assertEqual(self.wait_sets(CMD_CHANNEL, 1, mark)[0].bytes, set_frame(CMD_CHANNEL, 80))
        self.shows(h.IDC_CHANNEL_EDIT, "40")
        self.assertEqual(s.probe.state().slider(h.IDC_CHANNEL_SLIDER)["pos"], 40)
        self.type_into(h.IDC_POWER_EDIT, "12.5")
        mark = sim.mark()
        s.key("Return")
        self.assertEqual(self.wait_sets(CMD_POWER, 1, mark)[0].bytes, set_frame(CMD_POWER, 1250))
        self.shows(h.IDC_POWER_EDIT, "12.00")
        self.quiet(sim.mark(), 0.8, "the poll sent although slider and answer agree")

    def test_unanswered_value_leaves_the_display_and_the_poll_restores_the_slider(self):
        sim = self.start("--channel", 50, "--power", 1000)
        s = self.session
        sim.command("mute 1")
        self.type_into(h.IDC_CHANNEL_EDIT, "30")
        mark = sim.mark()
        s.key("Return")
        # 30 goes out; nothing answers; the next poll sends the slider's 50 again.
        frames = self.wait_sets(CMD_CHANNEL, 2, mark, timeout=2)
        self.assertEqual(set_values(frames, CMD_CHANNEL)[:2], [30, 50])
        self.assertLess(frames[1].t - frames[0].t, 0.9)  # pause 0.1 s, then one poll period
        state = s.probe.stays(lambda st: st.text(h.IDC_CHANNEL_EDIT) == "30", 0.5, "the typed text kept")
        self.assertEqual(state.slider(h.IDC_CHANNEL_SLIDER)["pos"], 50)
        self.assertEqual(state.text(h.IDC_FREQUENCY), "193750")  # still channel 50's
        # The poll now agrees with itself: 50 was stored when it was sent.
        self.quiet(sim.mark(), 1.2, "the poll kept sending")
        # The same for the power.
        sim.command("mute 2")
        mark = sim.mark()
        s.click(h.IDC_POWER_UP)
        frames = self.wait_sets(CMD_POWER, 2, mark, timeout=2)
        self.assertEqual(set_values(frames, CMD_POWER)[:2], [1001, 1000])
        self.assertEqual(s.probe.state().text(h.IDC_POWER_EDIT), "10.00")

    def test_step_buttons_do_nothing_before_the_module_is_read(self):
        # The module never answers the first query: the port is open, the start-up waits.
        sim = self.start("--channel", 50, open_port=False)
        s = self.session
        # Port still closed: a hold, a click and SET send nothing.
        s.press(h.IDC_CHANNEL_UP)
        time.sleep(0.7)
        s.release()
        s.click(h.IDC_POWER_DOWN)
        s.click(h.IDC_SET_CHANNEL)
        time.sleep(0.6)
        self.assertEqual(sim.frames("RX"), [], "traffic with the port closed")
        sim.command("mute %d" % CMD_CHANNEL_COUNT)
        self.open_port(sim)
        sim.wait_frames(lambda f: len(f) >= 2, 3, "the channel-count query, repeated")
        mark = sim.mark()
        s.press(h.IDC_CHANNEL_DOWN)
        time.sleep(0.7)
        s.release()
        s.click(h.IDC_POWER_UP)
        s.click(h.IDC_ACTIVE)
        s.click(h.IDC_SET_POWER)
        time.sleep(1.2)  # a poll started by mistake would send the slider's 0 by now
        got = sim.frames("RX", mark)
        self.assertTrue(got, "the start-up stopped asking")
        self.assertEqual([e.bytes for e in got if e.bytes != bytes([1, 0, 4, 0, 0, 5])], [],
                         "something besides the channel-count query was sent")
        self.assertEqual(s.probe.state().text(h.IDC_CHANNEL_EDIT), "")

    def test_latency_of_set_and_of_the_answer(self):
        """From the click on SET to the frame at the module, and from the module's answer to
        the text in the window; printed for the report. The 100 ms pause follows the send."""
        sim = self.start("--channel", 50)
        s = self.session
        click_to_rx, tx_to_text = [], []
        samples = []
        for i in range(12):
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
                    seen = (before + after) / 2
                    read_spread = after - before
            self.assertIsNotNone(seen, "the answer to %d was not shown" % value)
            rx = self.wait_sets(CMD_CHANNEL, 1, mark)[0]
            self.assertEqual(rx.bytes, set_frame(CMD_CHANNEL, value))
            tx = sim.frames("TX", mark)[0]
            samples.append((clicked, rx, tx, seen, read_spread))
        offset = sim.clock_offset()  # monotonic time of the sim's zero, as late as it can be
        for clicked, rx, tx, seen, _ in samples:
            click_to_rx.append((rx.t + offset - clicked) * 1000)
            tx_to_text.append((seen - (tx.t + offset)) * 1000)

        def stats(values):
            return "median %.0f ms, min %.0f, max %.0f, stdev %.0f" % (
                statistics.median(values), min(values), max(values), statistics.pstdev(values))
        print("click on SET -> frame at the module: %s (n=%d)" % (stats(click_to_rx), len(click_to_rx)))
        print("module's answer -> text in the window: %s (n=%d; one state read takes %.0f ms)"
              % (stats(tx_to_text), len(tx_to_text), 1000 * statistics.median(x[4] for x in samples)))
        # Sent before the pause, not after it; shown once the pause is over.
        self.assertLess(statistics.median(click_to_rx), 90)
        self.assertLess(statistics.median(tx_to_text), 400)


if __name__ == "__main__":
    h.main()
