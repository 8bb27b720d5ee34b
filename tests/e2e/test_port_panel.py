"""The port panel and the module's start-up, end to end: a real choice in the port list, a
real click on OpenPort, real device changes, the module simulated behind a virtual COM port.
The panel's rules and re-entry cases are tested in-process (port_panel_test,
window_on_fakes_test); these tests prove that the real list, link and ports meet them."""

import time

import harness as h
from harness import IDC_ACTIVE, IDC_OPENPORT, IDC_PORTLIST

START_UP_ORDER = [4, 5, 6, 7, 8, 1, 2, 3]


def query(code):
    return bytes([0x01, 0x00, code, 0x00, 0x00, (0x01 + code) & 0xFF])


def runs(codes):
    """The codes with repeats in a row folded into one."""
    return [c for i, c in enumerate(codes) if i == 0 or codes[i - 1] != c]


def gaps(frames, longer_than):
    return [b.t - a.t for a, b in zip(frames, frames[1:]) if b.t - a.t > longer_than]


class PortPanelTest(h.TestCase):
    def wait_answer(self, sim, code, since=0, timeout=6):
        """Waits for the module's answer of that code; returns it."""
        frames = sim.wait_frames(lambda f: any(e.code == code for e in f), timeout,
                                 "the answer of code %d" % code, kind="TX", since=since)
        return next(e for e in frames if e.code == code)

    def assert_queries(self, frames):
        for f in frames:
            self.assertEqual(f.bytes, query(f.code), "not a query frame: %r" % f)

    def wait_channel_shown(self, sim, channel, frame):
        """Has the module say it is at `channel` until the window shows it; returns the state.
        Said once, the words may fall into the restart of the link."""
        def state_showing():
            state = self.probe.state()
            return state if state.text(h.IDC_CHANNEL_EDIT) == str(channel) else None

        def said_and_shown():
            sim.command("inject " + frame)
            try:
                return h.wait_until(state_showing, 0.6, "channel %d" % channel)
            except h.HarnessError:
                return None
        return h.wait_until(said_and_shown, 8, "the injected channel %d to show" % channel)

    def test_start_up_on_the_port_chosen_in_the_list(self):
        for port in (3, 10):
            self.assertFalse(self.session.prefix.link(port).is_symlink(),
                             "COM%d is taken in this prefix; the test needs it" % port)
        sims = {port: self.start_sim(port=port) for port in (10, 3)}
        extra = self.start_sim()
        sims[extra.port] = extra
        self.start_app()

        state = self.probe.state()
        items = state.ports()
        self.assertEqual(items, self.probe.present())
        numbers = [int(t[3:]) for t in items]
        self.assertEqual(numbers, sorted(numbers), "list not in port order: %s" % items)
        self.assertTrue({3, 10, extra.port} <= set(numbers), items)
        self.assertEqual(state["ports.sel"], "0")

        sim = sims[10]
        clicked = self.open_port(sim)
        self.assertFalse(self.probe.state().enabled(IDC_PORTLIST), "the list stays enabled while open")
        first_output = self.wait_answer(sim, 3)
        self.probe.wait_state(lambda st: st.text(IDC_ACTIVE) == "ON", 3, "ON")
        shown_after = time.monotonic() - clicked
        # Nothing more once the last answer is in: the start-up timer stops and the poll finds
        # the sliders where the module is. A tick that fell between the module's answer and
        # its arrival in the window asks once more, rightly; a start-up that never ended
        # would go on asking every 200 ms.
        self.probe.stays(lambda st: st.text(IDC_OPENPORT) == "ClosePort", 1.6, "the port staying open")
        rx = sim.frames("RX")
        self.assert_queries(rx)
        self.assertEqual(runs([f.code for f in rx]), START_UP_ORDER)
        late = [f for f in rx if f.t > first_output.t]
        self.assertLessEqual(len(late), 2, "queries after the last answer: %s" % late)
        for port, other in sims.items():
            if port != 10:
                self.assertEqual(other.frames("RX"), [], "COM%d got traffic" % port)

        state = self.probe.state()
        texts = {h.IDC_CHANNEL_EDIT: "1", h.IDC_FREQUENCY: "191300", h.IDC_WAVELENGTH: "1567.13",
                 h.IDC_ITLA_CHANNEL: "C13", h.IDC_POWER_EDIT: "10.00", IDC_ACTIVE: "ON",
                 h.IDC_CHANNEL_LABEL: "Channel:\n(1-96)", h.IDC_POWER_LABEL: "Power:\n(7-13)",
                 IDC_OPENPORT: "ClosePort"}
        self.assertEqual({k: state.text(k) for k in texts}, texts)
        channel = state.slider(h.IDC_CHANNEL_SLIDER)
        power = state.slider(h.IDC_POWER_SLIDER)
        self.assertEqual((channel["min"], channel["max"], channel["pos"]), (1, 96, 1))
        self.assertEqual(sorted(channel["tics"]), [10, 20, 30, 40, 50, 60, 70, 80, 90])
        self.assertEqual((power["min"], power["max"], power["pos"]), (700, 1300, 1000))
        self.assertEqual(sorted(power["tics"]), [800, 900, 1000, 1100, 1200])
        self.assertFalse(state.enabled(IDC_PORTLIST))
        self.assertEqual(state.error_boxes(), [])

        print("screenshot: %s" % h.screenshot("start-up-complete"))
        print("click to last answer sent: %.3f s; to ON shown: %.3f s (%d queries)"
              % (first_output.local - clicked, shown_after, len(rx)))

    def test_device_change_with_the_port_present_carries_on(self):
        sim = self.start_sim()
        self.start_app()
        sim.command("mute 7")  # the start-up waits at the first frequency
        self.open_port(sim)
        sim.wait_frames(lambda f: [e.code for e in f].count(7) >= 2, 5, "the first-frequency query twice")

        mark = sim.mark()
        self.probe.device_change()
        after = sim.wait_frames(lambda f: len(f) >= 3, 5, "queries after the device change", since=mark)
        self.assertEqual({f.code for f in after}, {7}, "the start-up did not carry on where it stood")
        self.assertTrue(gaps(sim.frames("RX"), 0.35), "no pause for the restart of the link")
        state = self.probe.state()
        self.assertEqual(state.text(IDC_OPENPORT), "ClosePort")
        self.assertFalse(state.enabled(IDC_PORTLIST))

        sim.command("unmute 7")
        self.wait_answer(sim, 3, since=mark)
        self.assertEqual(runs(sim.codes("RX", mark)), [7, 8, 1, 2, 3])

        # Once started, the reopened link still delivers the module's words to the window.
        self.probe.wait_state(lambda st: st.text(IDC_ACTIVE) == "ON", 3, "ON")
        self.probe.device_change()
        state = self.wait_channel_shown(sim, 5, "01 01 01 00 05 08")
        self.assertEqual(state.text(h.IDC_FREQUENCY), "191500")
        self.assertEqual(state.text(IDC_OPENPORT), "ClosePort")
        self.assertEqual(state.error_boxes(), [])

    def test_device_change_after_unplug_closes_and_rebuilds(self):
        sim = self.start_sim()
        self.start_app()
        self.open_port(sim)
        # Unplugged in the middle of a read, the link would rightly report the broken line
        # in a box; here the line is idle.
        self.probe.wait_state(lambda st: st.text(IDC_ACTIVE) == "ON", 5, "ON")

        sim.command("unplug")
        self.probe.device_change()
        state = self.probe.wait_state(lambda st: st.text(IDC_OPENPORT) == "OpenPort", 5, "OpenPort")
        self.assertTrue(state.enabled(IDC_PORTLIST), "the port list is still disabled")
        self.assertEqual(state.ports(), self.probe.present(), "the list is not the ports present")
        self.assertNotIn("COM%d" % sim.port, state.ports())
        self.assertEqual(state["ports.sel"], "0")
        self.assertEqual(state.error_boxes(), [])

    def test_a_click_during_the_start_up_sends_nothing(self):
        sim = self.start_sim()
        self.start_app()
        sim.command("mute 2")  # the start-up waits for the power, the sliders laid out
        self.open_port(sim)
        sim.wait_frames(lambda f: [e.code for e in f].count(2) >= 2, 5, "the power query twice")
        self.session.click(h.IDC_POWER_UP)
        left, top, _, _ = self.probe.state().rect("window.client")
        self.session.click_at(left + 4, top + 4)  # the window's background
        sim.command("unmute 2")
        self.probe.wait_state(lambda st: st.text(IDC_ACTIVE) == "ON", 5, "ON")
        # The poll a click would have started ticks every 500 ms.
        self.probe.stays(lambda st: st.text(h.IDC_POWER_EDIT) == "10.00", 1.2, "the power unchanged")
        rx = sim.frames("RX")
        self.assertEqual([f for f in rx if f.bytes[:2] == bytes([0x00, 0x01])], [], "set frames sent")
        self.assert_queries(rx)


if __name__ == "__main__":
    h.main()
