"""zorvane-ctl.exe serve under Wine against zorvane-sim on COM40, driven by pyvisa from Linux
over VXI-11 and over the raw socket, and its page opened by Chromium on Linux, a VXI-11 lock
shown there (the prefix and the simulator as the end-to-end tests set them up; no display
needed). Its portmapper takes port 111: run alone.
Usage: serve_wine_test.py --ctl PATH-TO-zorvane-ctl.exe --sim PATH-TO-zorvane-sim"""
import re
import unittest

from selenium.webdriver.common.keys import Keys

import rpc_client as rpc
import serve_support as support
from serve_support import harness

CTL = None
PORT = 40


class ServeUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.Prefix()
        cls.sim = harness.Sim(cls.prefix, PORT)

    @classmethod
    def tearDownClass(cls):
        harness.cleanup()

    def sets_since(self, mark):
        return [e.data[:14] for e in self.sim.frames("RX", mark) if e.data.startswith("00 01")]

    def test_pyvisa_clients_faults_and_ctrl_c(self):
        server = support.Server([harness.WINE64, CTL, "-p", "COM%d" % PORT], "--max-clients", "2")
        self.assertIn(server.portmapper, ("portmapper on 127.0.0.1:111 (tcp, udp)",
                                          "registered with the portmapper on 127.0.0.1:111"))
        inst = server.instrument(timeout_ms=5000)
        support.check_every_command(self, inst, self.sim)

        # A VXI-11 lock refuses a raw client's set and names the link.
        other = server.connect()
        inst.lock_excl()
        other.send("CHAN 5\n")
        self.assertRegex(other.ask("SYST:ERR?", timeout=5),
                         r'-200,"Execution error; locked by VXI-11 link \d+ \(127\.0\.0\.1\)"')
        inst.unlock()
        self.assertEqual(other.ask("CHAN?"), "45")

        # The link and the raw client are the two clients let in.
        mark = server.mark()
        self.assertTrue(server.connect().closed())
        server.wait_log(r"refused 127\.0\.0\.1:\d+: already 2 clients", since=mark)
        inst.close()

        self.sim.command("mute all")
        other.send("CHAN?\n")
        self.assertEqual(other.ask("SYST:ERR?", timeout=5).split(",")[0], "-241")
        self.sim.command("unmute all")
        self.assertEqual(other.ask("CHAN?"), "45")
        self.assertEqual(server.interrupt(), 0)
        self.assertTrue(other.closed())

    def test_browser_door(self):
        env = dict(support.os.environ, ZORVANE_WEB_PASSWORD="wine")
        server = support.Server([harness.WINE64, CTL, "-p", "COM%d" % PORT], http="127.0.0.1:0",
                                env=env)
        browser = support.Browser()
        browser.open(server.url)
        state = support.Http(server.http).json("GET", "/api/state")[1]
        browser.wait_text("channel", str(state["channel"]), timeout=10)
        self.assertEqual(browser.text("condition"), "Module answering")
        server.connect().send("CHAN 7\n")
        browser.wait_text("channel", "7")
        self.assertEqual(browser.text("label"), "C16")
        browser.screenshot("web-wine.png")

        # A session key from the system's random source, and a change through it.
        mark = self.sim.mark()
        client = support.Http(server.http)
        client.login("wine")
        self.assertRegex(client.cookie, "^zorvane_session=[0-9a-f]{64}$")
        self.assertEqual(client.json("POST", "/api/output", {"on": False})[0], 200)
        browser.wait_text("output", "OFF")
        self.assertEqual(self.sets_since(mark), ["00 01 03 00 00"])

        # While a VXI-11 link holds the lock, the page's change is refused with its name.
        browser.element("password").send_keys("wine", Keys.ENTER)
        browser.wait("the controls", lambda: browser.element("controls").is_displayed())
        # A link on the core channel itself, whoever has port 111 on this machine.
        holder = rpc.Link(server.core)
        self.assertEqual(holder.lock(), 0)
        browser.wait("the lock's holder", lambda: re.fullmatch(
            r"held by VXI-11 link \d+ \(127\.0\.0\.1\)", browser.text("lock")), timeout=2)
        mark = self.sim.mark()
        browser.element("channel-up").click()
        browser.wait_text("message", "locked by " + browser.text("lock")[len("held by "):])
        self.assertEqual(self.sets_since(mark), [])
        self.assertEqual(holder.unlock(), 0)
        browser.wait_text("lock", "none", timeout=2)
        holder.close()
        self.assertEqual(server.interrupt(), 0)
        self.sim.command("set channel 1")  # as the other test expects to find it
        self.sim.command("set output 1")


if __name__ == "__main__":
    harness.parse_args()
    CTL = str(harness.path_of("ctl"))
    support.hold_port111()  # for the whole run: the test's own holders of the port too
    unittest.main(verbosity=2)
