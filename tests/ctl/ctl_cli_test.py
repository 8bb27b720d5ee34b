"""zorvane-ctl driven as a script drives it, against zorvane-sim on a pseudo-terminal.
Usage: ctl_cli_test.py PATH-TO-zorvane-ctl PATH-TO-zorvane-sim [unittest options]"""
import json
import os
import queue
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sim"))
import sim_cli_test as simcli  # noqa: E402  (the simulator's driver)

CTL = None
ISO_TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")


class Lines:
    """The standard output of a running zorvane-ctl, line by line, with time-outs."""

    def __init__(self, proc):
        self.queue = queue.Queue()
        threading.Thread(target=self._pump, args=(proc.stdout,), daemon=True).start()

    def _pump(self, stream):
        for line in stream:
            self.queue.put(line)
        self.queue.put(None)

    def get(self, timeout=3.0):
        line = self.queue.get(timeout=timeout)
        if line is None:
            raise AssertionError("zorvane-ctl closed its output")
        return line

    def rest(self, timeout=3.0):
        lines = []
        while True:
            line = self.queue.get(timeout=timeout)
            if line is None:
                return lines
            lines.append(line)


class CtlTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.link = os.path.join(self.tmp.name, "ttyLASER")
        self.sims = []
        self.procs = []

    def tearDown(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            proc.stdout.close()
            proc.stderr.close()
        for sim in self.sims:
            sim.close()
        self.tmp.cleanup()

    def start_sim(self, *args):
        sim = simcli.Sim("--link", self.link, *args)
        self.sims.append(sim)
        return sim

    def ctl(self, *args, port=True):
        command = [CTL, "-p", self.link, *args] if port else [CTL, *args]
        return subprocess.run(command, capture_output=True, text=True, timeout=20)

    def start_ctl(self, *args):
        proc = subprocess.Popen([CTL, "-p", self.link, *args], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, bufsize=1)
        self.procs.append(proc)
        return proc, Lines(proc)

    def ok(self, *args):
        done = self.ctl(*args)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done

    def json_ok(self, *args):
        return [json.loads(line) for line in self.ok("--json", *args).stdout.splitlines()]

    def assertFails(self, done, status, text):
        """A failure: the status, nothing on standard output, one line naming the problem."""
        self.assertEqual(done.returncode, status, (done.stdout, done.stderr))
        self.assertEqual(done.stdout, "")
        self.assertRegex(done.stderr, r"^zorvane-ctl: [^\n]+\n$")
        self.assertIn(text, done.stderr)

    def received(self, sim, last, count=1):
        """The frames the module received until it received `last` for the count-th time,
        as hex text."""
        frames = []
        while frames.count(last) < count:
            line = sim.lines.get(timeout=2)
            kind, _, data = line.split(" ", 1)[1].partition(" ")
            if kind == "RX":
                frames.append(data)
        return frames

    def test_help_and_usage_errors(self):
        for args in (["--help"], ["info", "--help"], ["help", "sweep"]):
            done = self.ctl(*args, port=False)
            self.assertEqual(done.returncode, 0, args)
            self.assertRegex(done.stdout, r"(?m)^Usage: zorvane-ctl", args)
        self.assertIn("--dwell MS", self.ctl("sweep", "--help", port=False).stdout)

        # Refused before any port is opened: the path need not exist. (The parser's cases
        # are in the unit tests; these check the process's side: status, output, one line.)
        for args in ([], ["bogus"], ["channel", "1e3"], ["output", "maybe"],
                     ["sweep", "channel", "--step", "1.5"], ["info", "--dwell", "5"]):
            self.assertFails(self.ctl(*args), 2, "zorvane-ctl: ")
        self.assertFails(self.ctl("info", port=False), 2, "info requires --port")
        self.assertFails(self.ctl("info", "-p", port=False), 2, "--port: 1 required PORT missing")

    def test_port_errors(self):
        with open(os.path.join(self.tmp.name, "plain"), "w") as f:
            f.write("not a port")
        for port, text in ((os.path.join(self.tmp.name, "absent"), "no such port"),
                           ("COM254", "/dev/ttyS253): no such port"),
                           ("/dev/null", "not a serial port"),
                           (os.path.join(self.tmp.name, "plain"), "not a serial port"),
                           (self.tmp.name, "not a serial port")):
            self.assertFails(self.ctl("-p", port, "info", port=False), 2, text)

        # A port that another zorvane-ctl holds is busy. The holder is asked only once it
        # has the port open: an `info` run meanwhile would keep it out instead.
        sim = self.start_sim()
        monitor, _ = self.start_ctl("monitor")
        pty = os.path.realpath(self.link)

        def holds_the_port():
            if monitor.poll() is not None:
                self.fail("the monitor ended: %s" % monitor.stderr.read())
            fds = "/proc/%d/fd" % monitor.pid
            return any(os.path.realpath(os.path.join(fds, fd)) == pty for fd in os.listdir(fds))

        deadline = time.monotonic() + 5
        while not holds_the_port():
            self.assertLess(time.monotonic(), deadline, "the monitor never opened the port")
            time.sleep(0.01)
        self.assertFails(self.ctl("info"), 2, "port busy")
        monitor.send_signal(signal.SIGINT)
        self.assertEqual(monitor.wait(5), 0)
        self.ok("info")
        del sim

    def test_ports(self):
        done = self.ctl("ports", port=False)
        self.assertEqual(done.returncode, 0)
        for line in done.stdout.splitlines():
            self.assertTrue(line.startswith("/dev/"), line)
        done = self.ctl("ports", "--json", port=False)
        self.assertEqual(done.returncode, 0)
        for line in done.stdout.splitlines():
            self.assertTrue(json.loads(line)["port"].startswith("/dev/"))

    def test_info_reads_in_the_window_order(self):
        sim = self.start_sim("--channel", "45", "--power", "850", "--output", "0", "--grid", "50")
        [info] = self.json_ok("info")
        self.assertEqual(info, {
            "channel": 45, "frequency_ghz": 193500, "wavelength_nm": 1549.32, "label": "C35",
            "power_dbm": 8.5, "output": False, "channels": 96, "power_min_dbm": 7.0,
            "power_max_dbm": 13.0, "first_frequency_ghz": 191300, "grid_ghz": 50})
        queries = self.received(sim, "01 00 03 00 00 04")
        self.assertEqual([int(q.split()[2], 16) for q in queries], [4, 5, 6, 7, 8, 1, 2, 3])

        text = self.ok("info").stdout
        self.assertRegex(text, r"(?m)^label +C35$")
        self.assertRegex(text, r"(?m)^wavelength +1549\.32 nm$")
        self.assertRegex(text, r"(?m)^output +off$")

    def test_set_values_are_clamped_as_the_window_clamps_them(self):
        sim = self.start_sim()
        # The clamps' table is the window's unit test; here the process applies them.
        cases = [
            (["channel", "300"], {"channel": 96, "frequency_ghz": 196050, "wavelength_nm": 1529.16,
                                  "label": "H60"}, "channel 300 taken as 96 (range 1-96)"),
            (["channel", "45"], {"channel": 45, "label": "C35"}, None),
            (["power", "8.2"], {"power_dbm": 8.19},
             "power 8.2 dBm taken as 8.19 dBm (range 7.00-13.00 dBm)"),
            (["power", "10.5"], {"power_dbm": 10.5}, None),
            (["output", "off"], {"output": False}, None),
            (["output", "on"], {"output": True}, None),
        ]
        for args, expected, note in cases:
            done = self.ctl("--json", *args)
            self.assertEqual(done.returncode, 0, (args, done.stderr))
            answer = json.loads(done.stdout)
            self.assertEqual({k: answer[k] for k in expected}, expected, args)
            self.assertEqual(done.stderr, "zorvane-ctl: %s\n" % note if note else "", args)

        # Nothing outside the module's range went out.
        frames = self.received(sim, "00 01 03 01 01 06")
        for data in frames:
            b = bytes.fromhex(data)
            if b[:3] == b"\x00\x01\x01":
                self.assertTrue(1 <= b[4] <= 96, data)
            if b[:3] == b"\x00\x01\x02":
                self.assertTrue(700 <= b[3] * 256 + b[4] <= 1300, data)
        self.assertIn("00 01 01 00 60 62", frames)  # channel 96
        self.assertIn("00 01 02 03 33 39", frames)  # 819: 8.2 dBm truncated as the window does

    def test_an_answer_other_than_the_value_sent(self):
        sim = self.start_sim()
        sim.command("skip 1 1")  # the set is carried out but not answered...
        proc, lines = self.start_ctl("channel", "5", "--timeout", "3000")
        sim.expect("RX", "00 01 01 00 05 07")
        sim.command("inject 01 01 01 00 07 0A")  # ...and another channel comes instead
        self.assertEqual(proc.wait(5), 4)
        self.assertRegex(lines.rest()[0], r"^channel +7$")
        self.assertEqual(proc.stderr.read(),
                         "zorvane-ctl: %s: the module answered channel 7 to 5\n" % self.link)

    def test_silent_and_corrupt_module(self):
        sim = self.start_sim()
        sim.command("mute 2")
        self.assertFails(self.ctl("info", "--timeout", "50"), 3,
                         "no answer to the power query after 3 tries")
        self.assertEqual(self.received(sim, "01 00 02 00 00 03", 3)[-3:], ["01 00 02 00 00 03"] * 3)
        sim.command("mute all")
        self.assertFails(self.ctl("output", "on", "--timeout", "50"), 3,
                         "no answer to the output setting after 3 tries")
        sim.command("unmute all")

        # Two corrupt answers are asked again; three are a failure.
        sim.command("corrupt 2")
        self.assertEqual(self.json_ok("info", "--timeout", "100")[0]["channel"], 1)
        sim.command("corrupt 3")
        self.assertFails(self.ctl("info", "--timeout", "100"), 3,
                         "no answer to the channel count query after 3 tries (18 bytes received "
                         "formed no valid frame)")

        # Garbage on the line while an answer is awaited is passed over.
        sim.command("delay 100")
        proc, lines = self.start_ctl("--json", "channel", "7", "--timeout", "1000")
        sim.expect("RX", "00 01 01 00 07 09")
        sim.command("inject 07 FF 01 05 01 01 02")
        self.assertEqual(proc.wait(5), 0, proc.stderr.read())
        self.assertEqual(json.loads(lines.get())["channel"], 7)

    def test_sweeps(self):
        sim = self.start_sim()
        steps = self.json_ok("sweep", "channel", "--from", "3", "--to", "9", "--step", "3")
        self.assertEqual([s["channel"] for s in steps], [3, 6, 9])
        self.assertEqual([s["step"] for s in steps], [1, 2, 3])
        self.assertEqual(steps[1]["label"], "H15")
        for s in steps:
            self.assertRegex(s["time"], ISO_TIME)
        self.assertEqual(sorted(s["time"] for s in steps), [s["time"] for s in steps])

        steps = self.json_ok("sweep", "power", "--from", "9", "--to", "8", "--step", "0.5",
                             "--repeat", "2")
        self.assertEqual([(s["pass"], s["power_dbm"]) for s in steps],
                         [(1, 9.0), (1, 8.5), (1, 8.0), (2, 9.0), (2, 8.5), (2, 8.0)])

        done = self.ok("sweep", "channel", "--from", "0", "--to", "200", "--step", "50")
        self.assertEqual(done.stderr, "zorvane-ctl: --from 0 taken as 1 (range 1-96)\n"
                                      "zorvane-ctl: --to 200 taken as 96 (range 1-96)\n")
        self.assertEqual([re.sub(r"^\S+ ", "", line) for line in done.stdout.splitlines()], [
            " step 1  pass 1  channel 1  frequency 191300 GHz  wavelength 1567.13 nm  label C13",
            " step 2  pass 1  channel 51  frequency 193800 GHz  wavelength 1546.92 nm  label C38"])
        del sim

    def test_ctrl_c_ends_a_sweep_after_the_current_step(self):
        sim = self.start_sim()
        proc, lines = self.start_ctl("--json", "sweep", "channel", "--repeat", "0", "--dwell", "20")
        first = [json.loads(lines.get()) for _ in range(3)]
        proc.send_signal(signal.SIGINT)
        self.assertEqual(proc.wait(3), 0)
        steps = first + [json.loads(line) for line in lines.rest()]  # each line complete
        self.assertEqual([s["step"] for s in steps], list(range(1, len(steps) + 1)))
        self.assertEqual(proc.stderr.read(), "")
        # No step was begun after the last one printed.
        last = steps[-1]["channel"]
        sets = [f for f in self.received(sim, "00 01 01 00 %02X %02X" % (last, last + 2))
                if f.startswith("00 01 01")]
        self.assertEqual(len(sets), len(steps))
        sim.send("answer 4")  # a marker: nothing may have been received before it
        kinds = []
        while not kinds or kinds[-1] != "CMD":
            kinds.append(sim.lines.get(timeout=2).split()[1])
        self.assertNotIn("RX", kinds)

    def test_module_unplugged_mid_sweep(self):
        sim = self.start_sim()
        proc, lines = self.start_ctl("--json", "sweep", "power", "--repeat", "0", "--dwell", "20")
        json.loads(lines.get())
        json.loads(lines.get())
        sim.command("unplug")
        self.assertEqual(proc.wait(3), 2)
        for line in lines.rest():
            json.loads(line)
        self.assertRegex(proc.stderr.read(), r"^zorvane-ctl: [^\n]*: the port has gone \(unplugged\?\)\n$")

    def test_monitor_shows_frames_and_invalid_bytes(self):
        sim = self.start_sim()
        proc, lines = self.start_ctl("--json", "monitor")
        # The monitor discards what came before it opened the port: wait until it listens.
        while True:
            sim.command("answer 4")
            try:
                first = json.loads(lines.get(timeout=0.2))
                break
            except queue.Empty:
                pass
        self.assertEqual(first["channels"], 96)
        self.assertEqual(first["frame"], "01 01 04 00 60 66")
        self.assertRegex(first["time"], ISO_TIME)
        sim.command("inject 07 FF 01 05 01 01 01 00 05 08 01 01 03 01 00 06 "
                    "01 01 02 02 BC C1 01 01 08 FF CE D7 01 01")
        seen = [json.loads(lines.get()) for _ in range(5)]
        proc.send_signal(signal.SIGINT)
        self.assertEqual(proc.wait(3), 0)
        seen += [json.loads(line) for line in lines.rest()]
        for entry in seen:
            del entry["time"]
        self.assertEqual(seen, [
            {"invalid": "07 FF 01 05", "reason": "not a frame"},
            {"frame": "01 01 01 00 05 08", "channel": 5},
            {"frame": "01 01 03 01 00 06", "output": "ignored: its data bytes disagree"},
            {"invalid": "01 01 02 02 BC C1", "reason": "bad checksum"},
            {"frame": "01 01 08 FF CE D7", "grid_ghz": -50},
            {"invalid": "01 01", "reason": "incomplete frame"},
        ])

        done = self.ctl("monitor", "--duration", "100")
        self.assertEqual((done.returncode, done.stdout, done.stderr), (0, "", ""))


if __name__ == "__main__":
    CTL = os.path.abspath(sys.argv.pop(1))
    simcli.SIM = os.path.abspath(sys.argv.pop(1))
    unittest.main()
