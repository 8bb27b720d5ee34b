"""The port panel and the module's start-up, end to end: real clicks on the list and on
OpenPort, the module simulated behind a virtual COM port."""

import statistics
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

    def assert_closed_with_fresh_list(self, state):
        self.assertEqual(state.text(IDC_OPENPORT), "OpenPort")
        self.assertTrue(state.enabled(IDC_PORTLIST), "the port list is still disabled")
        self.assertEqual(state.ports(), self.probe.present(), "the list is not the ports present")
        self.assertEqual(state["ports.sel"], "0")
        self.assertEqual(state.error_boxes(), [])

    def assert_queries(self, frames):
        for f in frames:
            self.assertEqual(f.bytes, query(f.code), "not a query frame: %r" % f)

    def test_complete_start_up(self):
        sim = self.start_sim()
        self.start_app()
        clicked = self.open_port(sim)
        self.assertFalse(self.probe.state().enabled(IDC_PORTLIST), "the list stays enabled while open")

        last = self.wait_answer(sim, 3)
        self.probe.wait_state(lambda st: st.text(IDC_ACTIVE) == "ON", 3, "ON")
        shown_after = time.monotonic() - clicked
        # Nothing more once the last answer is in: the poll finds the sliders where the module is.
        self.probe.stays(lambda st: st.text(IDC_OPENPORT) == "ClosePort", 1.6, "the port staying open")
        rx = sim.frames("RX")
        self.assert_queries(rx)
        self.assertEqual(runs([f.code for f in rx]), START_UP_ORDER)
        self.assertEqual([f for f in rx if f.t > last.t], [], "queries after the last answer")

        state = self.probe.state()
        texts = {h.IDC_CHANNEL_EDIT: "1", h.IDC_FREQUENCY: "191300", h.IDC_WAVELENGTH: "1567.13",
                 h.IDC_ITLA_CHANNEL: "C13", h.IDC_POWER_EDIT: "10.00", IDC_ACTIVE: "ON",
                 h.IDC_CHANNEL_LABEL: "Channel:\n(1-96)", h.IDC_POWER_LABEL: "Power:\n(7-13)",
                 IDC_OPENPORT: "ClosePort"}
        self.assertEqual({k: state.text(k) for k in texts}, texts)
        channel = state.slider(h.IDC_CHANNEL_SLIDER)
        power = state.slider(h.IDC_POWER_SLIDER)
        self.assertEqual((channel["min"], channel["max"], channel["pos"]), (1, 96, 1))
        self.assertEqual(sorted(channel["tics"]), list(range(10, 100, 10)))
        self.assertEqual((power["min"], power["max"], power["pos"]), (700, 1300, 1000))
        self.assertEqual(sorted(power["tics"]), list(range(800, 1300, 100)))
        self.assertFalse(state.enabled(IDC_PORTLIST))
        self.assertEqual(state.error_boxes(), [])

        print("screenshot: %s" % h.screenshot("start-up-complete"))
        print("click to last answer sent: %.3f s; to ON shown: %.3f s (%d queries)"
              % (last.local - clicked, shown_after, len(rx)))

    def test_unanswered_queries_are_repeated(self):
        sim = self.start_sim()
        self.start_app()
        sim.command("skip 6 2")
        self.open_port(sim)
        self.wait_answer(sim, 3)
        codes = [f.code for f in sim.frames("RX")]
        self.assertEqual(codes.count(6), 3, "CMD_POWER_MIN queries: %s" % codes)
        self.assertEqual(codes[codes.index(6) + 3], 7)
        self.assertEqual(runs(codes), START_UP_ORDER)

    def test_silent_module_gets_the_channel_count_query_until_closed(self):
        sim = self.start_sim()
        self.start_app()
        sim.command("mute all")
        self.open_port(sim)
        rx = sim.wait_frames(lambda f: len(f) >= 7, 5, "seven queries")
        self.assert_queries(rx)
        self.assertEqual({f.code for f in rx}, {4})
        period = statistics.median(b.t - a.t for a, b in zip(rx, rx[1:]))
        self.assertTrue(0.15 <= period <= 0.3, "queries every %.3f s" % period)

        self.session.click(IDC_OPENPORT)
        state = self.probe.wait_state(lambda st: st.text(IDC_OPENPORT) == "OpenPort", 5, "OpenPort")
        self.assert_closed_with_fresh_list(state)
        mark = sim.mark()
        self.probe.stays(lambda st: st.text(IDC_OPENPORT) == "OpenPort", 0.8, "the port staying closed")
        self.assertEqual(sim.frames("RX", mark), [], "queries after closing")
        print("channel-count query every %.3f s (median)" % period)

    def test_close_mid_start_up_and_reopen_starts_over(self):
        sim = self.start_sim()
        self.start_app()
        sim.command("mute 8")  # the start-up waits at the grid
        self.open_port(sim)
        sim.wait_frames(lambda f: [e.code for e in f].count(8) >= 2, 5, "the grid query twice")

        self.session.click(IDC_OPENPORT)
        state = self.probe.wait_state(lambda st: st.text(IDC_OPENPORT) == "OpenPort", 5, "OpenPort")
        self.assert_closed_with_fresh_list(state)

        sim.command("unmute 8")
        mark = sim.mark()
        self.open_port(sim)
        self.wait_answer(sim, 3, since=mark)
        self.assertEqual(runs(sim.codes("RX", mark)), START_UP_ORDER)

    def test_list_in_port_order_and_the_chosen_port_opens(self):
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

        self.session.choose_port("COM10")
        self.session.click(IDC_OPENPORT)
        sims[10].wait_frames(lambda f: len(f) >= 1, 3, "a query on COM10")
        self.wait_answer(sims[10], 3)
        self.assertEqual(runs(sims[10].codes()), START_UP_ORDER)
        for port, sim in sims.items():
            if port != 10:
                self.assertEqual(sim.frames("RX"), [], "COM%d got traffic" % port)

    def test_port_that_cannot_be_opened_leaves_the_panel_closed(self):
        # Wine lets any number of handles open one COM port, so a port "held by another
        # program" cannot be staged here; a port that fails to open after the list was
        # built takes the same path: Open fails, nothing changes, no box.
        sim = self.start_sim()
        self.start_app()
        self.session.choose_port("COM%d" % sim.port)
        sim.command("unplug")
        self.session.click(IDC_OPENPORT)
        state = self.probe.stays(lambda st: st.text(IDC_OPENPORT) == "OpenPort", 1.0, "OpenPort")
        self.assertTrue(state.enabled(IDC_PORTLIST))
        self.assertEqual(state.error_boxes(), [])
        self.assertIn("COM%d" % sim.port, state.ports(), "the list was rebuilt")

        sim.command("plug")
        self.session.click(IDC_OPENPORT)
        self.probe.wait_state(lambda st: st.text(IDC_OPENPORT) == "ClosePort", 5, "ClosePort")
        self.wait_answer(sim, 3)
        self.assertEqual(runs(sim.codes()), START_UP_ORDER)

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

        # Once started, the link still delivers the module's words after a device change.
        self.probe.wait_state(lambda st: st.text(IDC_ACTIVE) == "ON", 3, "ON")
        self.probe.device_change()

        def channel_shown():
            sim.command("inject 01 01 01 00 05 08")
            try:
                return h.wait_until(lambda: self.probe.state().text(h.IDC_CHANNEL_EDIT) == "5" and self.probe.state(),
                                    0.6, "channel 5")
            except h.HarnessError:
                return None
        state = h.wait_until(channel_shown, 8, "the injected channel to show")
        self.assertEqual(state.text(h.IDC_FREQUENCY), "191500")
        self.assertEqual(state.text(IDC_OPENPORT), "ClosePort")
        self.assertEqual(state.error_boxes(), [])

        # And the poll still runs: a click on the slider's track moves it, the next tick sends it.
        mark = sim.mark()
        left, top, right, bottom = state.ctl_rect(h.IDC_CHANNEL_SLIDER)
        self.session.click_at(left + 3 * (right - left) // 4, (top + bottom) // 2)
        sets = sim.wait_frames(lambda f: any(e.bytes[:3] == b"\x00\x01\x01" for e in f), 3,
                               "a channel set frame", since=mark)
        wanted = next(e for e in sets if e.bytes[:3] == b"\x00\x01\x01").bytes[4]
        self.assertGreater(wanted, 5)
        self.probe.wait_state(lambda st: st.text(h.IDC_CHANNEL_EDIT) == str(wanted), 3, "channel %d" % wanted)

    def test_device_change_after_unplug_closes_and_rebuilds(self):
        sim = self.start_sim()
        self.start_app()
        port_text = "COM%d" % sim.port
        self.open_port(sim)
        # Unplugged in the middle of a read, the link would rightly report the broken line
        # in a box; here the line is idle.
        self.probe.wait_state(lambda st: st.text(IDC_ACTIVE) == "ON", 5, "ON")

        sim.command("unplug")
        self.probe.device_change()
        state = self.probe.wait_state(lambda st: st.text(IDC_OPENPORT) == "OpenPort", 5, "OpenPort")
        self.assert_closed_with_fresh_list(state)
        self.assertNotIn(port_text, state.ports())

        sim.command("plug")
        mark = sim.mark()
        self.probe.stays(lambda st: st.text(IDC_OPENPORT) == "OpenPort", 1.0, "the port staying closed")
        self.assertEqual(sim.frames("RX", mark), [], "traffic after the port was lost")

        # A device change while closed lists the port again. Choose another entry first,
        # so that the rebuild shows as the selection going back to entry 0.
        self.session.choose_port(self.probe.state().ports()[-1])
        posted = time.monotonic()
        self.probe.device_change()
        state = self.probe.wait_state(lambda st: port_text in st.ports() and st["ports.sel"] == "0", 5,
                                      "the rebuilt list")
        took = time.monotonic() - posted
        self.assert_closed_with_fresh_list(state)
        print("device change while closed to rebuilt list: %.3f s (400 ms of it pauses); "
              "probing COM1-COM254 from another process: %s ms" % (took, self.probe.ask("present")["ms"]))

    def test_burst_of_device_changes_while_open(self):
        sim = self.start_sim()
        self.start_app()
        sim.command("mute 7")
        self.open_port(sim)
        sim.wait_frames(lambda f: any(e.code == 7 for e in f), 5, "the first-frequency query")

        mark = sim.mark()
        for _ in range(3):
            self.probe.device_change()
        sim.wait_frames(lambda f: len(f) >= 3, 8, "queries after the burst", since=mark)
        state = self.probe.stays(lambda st: st.text(IDC_OPENPORT) == "ClosePort", 0.5, "ClosePort")
        self.assertFalse(state.enabled(IDC_PORTLIST))
        self.assertEqual(state.error_boxes(), [])
        rx = sim.frames("RX")
        before = [f for f in rx[:len(rx) - len(sim.frames("RX", mark))]]
        restarts = gaps([f for f in rx if f.t >= before[-1].t], 0.35)
        self.assertTrue(1 <= len(restarts) <= 3, "restarts: %s" % restarts)

        sim.command("unmute 7")
        self.wait_answer(sim, 3, since=mark)
        self.assertEqual(runs(sim.codes("RX", mark)), [7, 8, 1, 2, 3])
        print("burst of 3 device changes: traffic paused %s s" % ", ".join("%.3f" % g for g in restarts))

    def test_click_posted_during_a_device_change_is_not_run_inside_it(self):
        # Stopping the link handles the dialog's queued messages; a click queued behind a
        # device change must not run the closing steps in the middle of the recovery.
        sim = self.start_sim()
        self.start_app()
        self.open_port(sim)
        self.wait_answer(sim, 3)
        self.probe.wait_state(lambda st: st.text(IDC_ACTIVE) == "ON", 3, "ON")
        self.probe.device_change()
        self.assertEqual(self.probe.ask("click %d" % IDC_OPENPORT).get("posted"), "1")

        def channel_shown():
            sim.command("inject 01 01 01 00 07 0A")
            try:
                return h.wait_until(lambda: self.probe.state().text(h.IDC_CHANNEL_EDIT) == "7" and self.probe.state(),
                                    0.6, "channel 7")
            except h.HarnessError:
                return None
        state = h.wait_until(channel_shown, 8, "the injected channel to show")
        self.assertEqual(state.text(IDC_OPENPORT), "ClosePort")
        self.assertFalse(state.enabled(IDC_PORTLIST))
        self.assertEqual(state.error_boxes(), [])


if __name__ == "__main__":
    h.main()
