"""Channel, power and output controls against the simulated module, driven with the real
pointer and keyboard, on one program and module: a click and a hold on the step buttons, a slider drag, typed values
with SET and Enter, the output switch. The rules behind them (step tables, clamps, the
keyboard, the poll) are tested in-process (channel_power_controls_test, control_math_test,
window_on_fakes_test); these tests prove that real input, timers and the module meet them."""

import time

import harness as h

CMD_CHANNEL, CMD_POWER, CMD_OUTPUT = 1, 2, 3


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


class ControlsTest(h.TestCase):
    """One module and one program with its port open, for all the tests: each test first has
    the module report the values it starts from."""

    sim = None

    def setUp(self):
        cls = type(self)
        if cls.sim is None:
            cls.sim = self.session.sim()
            cls.app = self.session.app()
            self.open_port(cls.sim)
            self.probe.wait_state(lambda st: st.text(h.IDC_ACTIVE) in ("ON", "OFF"), 10,
                                  "the start-up to reach the window")
        self.assertTrue(self.app.alive(), "the program has gone")
        self.addCleanup(self.session.release)  # a hold cut short by a failure

    def start(self, channel=50, power=1000, output=1):
        """Has the module take these values and say so; returns it once the window shows them."""
        sim = self.sim
        for field, code, value in (("channel", CMD_CHANNEL, channel), ("power", CMD_POWER, power),
                                   ("output", CMD_OUTPUT, output)):
            sim.command("set %s %d" % (field, value))
            sim.command("answer %d" % code)
        self.probe.wait_state(lambda st: (st.text(h.IDC_CHANNEL_EDIT), st.text(h.IDC_POWER_EDIT),
                                          st.text(h.IDC_ACTIVE))
                              == (str(channel), "%.2f" % (power / 100), "ON" if output else "OFF"),
                              3, "the module's values in the window")
        return sim

    def shows(self, ctl, text, timeout=3):
        return self.probe.wait_state(lambda st: st.text(ctl) == text, timeout,
                                     "%r in control %d" % (text, ctl))

    def quiet(self, duration, what):
        """Checks that no set frame comes in the next `duration` seconds."""
        mark = self.sim.mark()
        self.probe.stays(lambda st: not sets(self.sim, since=mark), duration, what)

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
        self.probe.wait_state(lambda st: st.text(edit) == text, 3, "%r typed into control %d" % (text, edit))

    def test_clicks_on_step_buttons(self):
        sim = self.start()
        for button, code, value, edit, text in (
                (h.IDC_CHANNEL_UP, CMD_CHANNEL, 51, h.IDC_CHANNEL_EDIT, "51"),
                (h.IDC_POWER_DOWN, CMD_POWER, 999, h.IDC_POWER_EDIT, "9.99")):
            mark = sim.mark()
            self.session.click(button)
            frames = self.wait_sets(code, 1, mark)
            self.assertEqual(frames[0].bytes, set_frame(code, value))
            self.shows(edit, text)

    def test_holding_channel_down_from_96(self):
        sim = self.start(channel=96)
        # 33 ticks of 200 ms: ten steps of 1, eleven of 2, eleven of 3, then 4.
        ticks = [95, 94, 93, 92, 91, 90, 89, 88, 87, 86,
                 84, 82, 80, 78, 76, 74, 72, 70, 68, 66, 64,
                 61, 58, 55, 52, 49, 46, 43, 40, 37, 34, 31,
                 27]
        mark = sim.mark()
        self.session.press(h.IDC_CHANNEL_DOWN)
        pressed = time.monotonic()
        self.wait_sets(CMD_CHANNEL, len(ticks), mark, timeout=len(ticks) * 0.2 + 5)
        self.session.release()

        # The release's click steps by one. A tick under way at the release may come first,
        # by four: the click is the first step of one after the ticks.
        def clicked(frames):
            values = set_values(frames, CMD_CHANNEL)
            return len(values) > len(ticks) and values[-2] - values[-1] == 1
        sim.wait_frames(clicked, 3, "the release's step of one", since=mark)
        self.quiet(1.0, "the hold went on after the release")
        frames = sets(sim, CMD_CHANNEL, mark)
        values = set_values(frames, CMD_CHANNEL)
        self.assertEqual(values[:len(ticks)], ticks)
        late = values[len(ticks) - 1:-1]
        self.assertEqual([a - b for a, b in zip(late, late[1:])], [4] * (len(late) - 1),
                         "steps after the release: %s" % values[len(ticks):])
        self.shows(h.IDC_CHANNEL_EDIT, str(values[-1]))
        gaps = sorted(b.t - a.t for a, b in zip(frames[:len(ticks)], frames[1:len(ticks)]))
        print("first step %.0f ms after the press; steps every %.0f ms (median, module's clock); "
              "%d tick(s) between the release and its click"
              % (1000 * (frames[0].local - pressed), 1000 * gaps[len(gaps) // 2], len(late) - 1))

    def test_slider_dragged_with_the_mouse_is_sent_by_the_poll(self):
        sim = self.start()
        s = self.session
        slider, target = h.IDC_CHANNEL_SLIDER, 70
        state = s.probe.state()
        info = state.slider(slider)
        left, top, right, _ = state.ctl_rect(slider)

        # The thumb travels between 13 px inside either end of the control.
        def x_of(pos):
            return left + 13 + round((pos - info["min"]) / (info["max"] - info["min"]) * (right - left - 26))
        mark = sim.mark()
        x0, x1, y = x_of(info["pos"]), x_of(target), top + 12
        h.move_pointer(x0, y)
        h.xdotool("mousedown", "1")
        for x in range(x0 + 8, x1, 8):
            h.xdotool("mousemove", "--sync", x, y)
        h.move_pointer(x1, y)
        # A poll tick during the drag sends a position passed on the way, and the module's
        # answer puts the thumb back there, even after later pointer moves. Move again until
        # the thumb is near the target and the poll has sent where it is, as a hand would.
        def dragged_and_sent(st):
            pos = st.slider(slider)["pos"]
            return abs(pos - target) < 3 and set_values(sim.frames("RX", mark), CMD_CHANNEL)[-1:] == [pos]
        for attempt in range(3):
            h.xdotool("mousemove", "--sync", x1 + 20, y, "mousemove", "--sync", x1, y)
            try:
                state = s.probe.wait_state(dragged_and_sent, 2, "the thumb near %d, sent" % target)
                break
            except h.HarnessError:
                if attempt == 2:
                    raise
        h.xdotool("mouseup", "1")
        pos = state.slider(slider)["pos"]
        self.shows(h.IDC_CHANNEL_EDIT, str(pos))
        self.quiet(0.8, "the poll sent again although the module had answered")

    def test_typed_values_with_set_and_enter(self):
        sim = self.start()
        cases = [
            (h.IDC_CHANNEL_EDIT, h.IDC_SET_CHANNEL, CMD_CHANNEL, "12.9", 12, "12"),
            (h.IDC_CHANNEL_EDIT, "Return", CMD_CHANNEL, "300", 96, "96"),
            (h.IDC_POWER_EDIT, h.IDC_SET_POWER, CMD_POWER, "8.2", 819, "8.19"),
            (h.IDC_POWER_EDIT, "Return", CMD_POWER, "-1", 700, "7.00"),
        ]
        for edit, action, code, text, value, shown in cases:
            with self.subTest(text=text, action=action):
                self.start()
                self.type_into(edit, text)
                mark = sim.mark()
                if action == "Return":
                    self.session.key("Return")
                else:
                    self.session.click(action)
                frames = self.wait_sets(code, 1, mark)
                self.assertEqual(frames[0].bytes, set_frame(code, value))
                self.shows(edit, shown)
        self.assertTrue(self.app.alive())

    def test_output_switch_follows_the_answer(self):
        sim = self.start(output=1)
        for value, caption in ((0, "OFF"), (1, "ON")):
            mark = sim.mark()
            self.session.click(h.IDC_ACTIVE)
            frames = self.wait_sets(CMD_OUTPUT, 1, mark)
            self.assertEqual(frames[0].bytes, bytes([0x00, 0x01, 0x03, value, value, 4 + 2 * value]))
            self.shows(h.IDC_ACTIVE, caption)


if __name__ == "__main__":
    h.main()
