"""The window opens closed on a filled port list, ignores Enter and Escape, and closes cleanly."""

import time
import unittest

import harness as h


class WindowTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = h.Session()

    @classmethod
    def tearDownClass(cls):
        h.cleanup()

    def test_open_keys_and_close(self):
        s = self.session
        sim = s.sim()
        app = s.app()
        port_text = "COM%d" % sim.port
        print("window shown %.2f s after the start (ports probed meanwhile)" % app.window_after)

        state = s.probe.state()
        self.assertEqual(state["window.caption"], h.CAPTION)
        self.assertEqual(state["window.visible"], "1")
        # Every present port, in ascending order by number, the first one selected.
        self.assertIn(port_text, state.ports())
        self.assertEqual(state.ports(), s.probe.present())
        self.assertEqual(state["ports.sel"], "0")
        self.assertTrue(state.enabled(h.IDC_PORTLIST))
        self.assertEqual(state.text(h.IDC_OPENPORT), "OpenPort")
        self.assertEqual(state.focus(), h.IDC_OPENPORT, "focus is not on OpenPort")
        self.assertEqual(state.text(h.IDC_CHANNEL_DOWN), "\u300a")
        self.assertEqual(state.text(h.IDC_CHANNEL_UP), "\u300b")
        self.assertEqual(state.error_boxes(), [])

        # Real keys: Tab proves they arrive; Enter and Escape must neither press the
        # focused button nor end the dialog.
        s.focus_window()
        s.key("Tab")
        s.probe.wait_state(lambda st: st.focus() == h.IDC_SET_POWER, 5, "Tab to reach SET (power)")
        s.key("shift+Tab")
        s.probe.wait_state(lambda st: st.focus() == h.IDC_OPENPORT, 5, "shift+Tab back to OpenPort")
        s.key("Return")
        s.key("Escape")
        s.key("Return")
        s.probe.stays(lambda st: st.get("found") == "1" and st.text(h.IDC_OPENPORT) == "OpenPort",
                      1.0, "window open, port closed after Enter and Escape")
        self.assertTrue(app.alive())
        self.assertEqual(sim.frames("RX"), [], "Enter or Escape sent something to the module")

        shot = h.screenshot("window-initial")
        print("screenshot: %s" % shot)

        # Alt+F4 takes the caption's close path (SC_CLOSE). Without a window manager Wine
        # waits up to 2 s for one before the window goes; the process must end right after.
        s.focus_window()
        t = time.monotonic()
        s.key("alt+F4")
        self.assertTrue(s.probe.wait_gone(5), "the window is still there 5 s after Alt+F4")
        gone = time.monotonic() - t
        code = app.wait_exit(5)
        ended = time.monotonic() - t
        self.assertIsNotNone(code, "the process did not end within 5 s of its window")
        self.assertEqual(code, 0)
        print("window gone %.2f s, process ended %.2f s after Alt+F4" % (gone, ended))
        self.assertLess(ended - gone, 1.0, "the process lingered after its window closed")
        self.assertEqual(s.probe.state().error_boxes(), [])
        boxes = s.probe.ask("windows")
        captions = [boxes["top.%d.caption" % i] for i in range(int(boxes.get("top.count", 0)))]
        self.assertFalse([c for c in captions if "Error" in c], "error windows: %s" % captions)


if __name__ == "__main__":
    h.main()
