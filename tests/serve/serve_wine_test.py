"""zorvane-ctl.exe serve under Wine against zorvane-sim on COM40, driven by pyvisa from Linux
over VXI-11 and over the raw socket (the prefix and the simulator as the end-to-end tests set
them up; no display needed). Its portmapper takes port 111: run alone.
Usage: serve_wine_test.py --ctl PATH-TO-zorvane-ctl.exe --sim PATH-TO-zorvane-sim"""
import unittest

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


if __name__ == "__main__":
    harness.parse_args()
    CTL = str(harness.path_of("ctl"))
    unittest.main(verbosity=2)
