"""zorvane-ctl serve against zorvane-sim on a pseudo-terminal: a pyvisa client, several raw
clients at once, module faults, Ctrl-C, and random bytes.
Usage: serve_test.py --ctl PATH-TO-zorvane-ctl --sim PATH-TO-zorvane-sim [unittest options]"""
import random
import re
import socket
import time
import unittest


import serve_support as support
from serve_support import harness

CTL = None


class ServeTest(support.SimTest):
    # The raw socket alone: the VXI-11 door has tests of its own.
    def serve(self, *options):
        return support.Server([CTL, "-p", str(self.sim.link)], "--no-vxi11", *options)

    def test_pyvisa_drives_every_command(self):
        server = self.serve()
        inst = server.resource()
        support.check_every_command(self, inst, self.sim)
        support.check_silent_module(self, inst, self.sim)
        self.assertEqual(server.interrupt(), 0)

    def test_clients_at_once(self):
        server = self.serve("--max-clients", "8")
        half = server.connect()
        half.send("*IDN")  # half a line, then nothing
        a, b = server.connect(), server.connect()
        # Interleaved lines, one split across segments, several in one.
        a.send("CHAN 5\nCH")
        b.send("CHAN?\n")
        self.assertEqual(b.line(), "5")
        a.send("AN?;:POW?\n*IDN?\nCHAN?\n")
        self.assertEqual(a.line(), "5;10.00")
        self.assertTrue(a.line().startswith("Zorvane,"))
        self.assertEqual(a.line(), "5")

        # A client that sends and never reads is dropped; the others go on.
        mark = server.mark()
        deaf = support.Client(server.address, receive_buffer=4096)
        self.addCleanup(deaf.close)
        deaf.sock.setblocking(False)
        flood = b"*IDN?\n" * 4096
        deadline = time.monotonic() + 10
        while deaf.sock.fileno() >= 0 and time.monotonic() < deadline:
            try:
                deaf.sock.send(flood)
            except BlockingIOError:
                if re.search("dropped: it does not read", "\n".join(server.lines[mark:])):
                    break
                time.sleep(0.01)
            except ConnectionError:
                break
        server.wait_log(r"client \d+ dropped: it does not read its replies", since=mark)
        self.assertEqual(b.ask("CHAN?"), "5")
        half.send("?\n")
        self.assertTrue(half.line().startswith("Zorvane,"))

        # Eight connected, the ninth refused and logged.
        more = [server.connect() for _ in range(5)]
        mark = server.mark()
        ninth = server.connect()
        self.assertTrue(ninth.closed())
        server.wait_log(r"refused 127\.0\.0\.1:\d+: already 8 clients", since=mark)
        for client in [a, b, half, *more]:
            self.assertEqual(client.ask("*OPC?"), "1")

    def test_allow_refuses_other_addresses(self):
        server = self.serve("--allow", "127.0.0.2/32,10.0.0.0/8")
        refused = server.connect("127.0.0.1")
        self.assertTrue(refused.closed())
        server.wait_log(r"refused 127\.0\.0\.1:\d+: not in --allow")
        self.assertEqual(server.connect("127.0.0.2").ask("CHAN?"), "1")

    def test_module_faults_with_clients_connected(self):
        server = self.serve()
        a, b = server.connect(), server.connect()
        self.sim.command("corrupt 3")
        a.send("CHAN?\n")
        self.assertEqual(b.ask("SYST:ERR?"), '0,"No error"')  # b's queue is its own
        self.assertEqual(a.ask("SYST:ERR?").split(",")[0], "-241")
        self.assertEqual(a.ask("CHAN?"), "1")

        mark = server.mark()
        self.sim.command("unplug")
        a.send("CHAN?\n")
        self.assertEqual(a.ask("SYST:ERR?").split(",")[0], "-241")
        self.assertEqual(b.ask("*IDN?").split(",")[0], "Zorvane")  # served while it is gone
        self.sim.command("set channel 7")
        self.sim.command("plug")
        deadline = time.monotonic() + 5
        while b.ask("*TST?") != "0":
            self.assertLess(time.monotonic(), deadline, "the port was not reopened")
        self.assertEqual(a.ask("CHAN?"), "7")
        self.assertEqual(b.ask("CHAN?"), "7")
        # Said once each, time-stamped as every event.
        server.wait_log(r"^zorvane-ctl: \S+Z \S+: [^;]+; reopening every second$", since=mark)
        server.wait_log(r"^zorvane-ctl: \S+Z \S+: port back, reading the limits again$", since=mark)

        # Ctrl-C while both are connected: both closed, status 0.
        self.assertEqual(server.interrupt(), 0)
        self.assertTrue(a.closed() and b.closed())
        server.wait_log("stopped")

    def test_sigterm_stops_as_ctrl_c_does(self):
        server = self.serve()
        client = server.connect()
        self.assertEqual(client.ask("*OPC?"), "1")
        server.proc.terminate()
        self.assertEqual(server.proc.wait(10), 0)
        self.assertTrue(client.closed())
        server.wait_log("stopping: SIGTERM")
        server.wait_log("stopped")

    def test_random_bytes_never_move_the_module(self):
        server = self.serve()
        rng = random.Random(1234)
        words = ["*IDN?", "CHAN", "CHAN?", "POW", "POW?", "OUTP", "FREQ", "WAV", "SYST:ERR?", ";",
                 ":", "?", "MIN", "MAX", "1e999", "nan", "-0", "0x10", '"', "'", "#", ",",
                 "\x00", "\xff", "THZ", "*RST", "*CLS", "UP", "DOWN", "*ESE", "SOUR:"]
        mark = self.sim.mark()
        clients = [server.connect() for _ in range(3)]
        deadline = time.monotonic() + 3
        sent = 0
        while time.monotonic() < deadline:
            client = rng.choice(clients)
            if rng.random() < 0.3:
                data = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 300)))
            else:
                line = " ".join(rng.choice(words) for _ in range(rng.randrange(1, 8)))
                # No line may carry a set: a set needs a value the fuzz never writes.
                data = line.encode("latin-1") + b"\n"
            if b"\n" in data and (b"CHAN" in data or b"POW" in data or b"OUTP" in data or
                                  b"FREQ" in data or b"WAV" in data):
                data = data.replace(b"CHAN", b"CHAN?").replace(b"POW", b"POW?")
                data = data.replace(b"OUTP", b"OUTP?").replace(b"FREQ", b"FREQ?")
                data = data.replace(b"WAV", b"WAV?")
            try:
                client.send(data)
                sent += len(data)
            except ConnectionError:
                clients.remove(client)
                clients.append(server.connect())
        self.assertGreater(sent, 10000)
        self.assertTrue(server.connect().ask("*IDN?").startswith("Zorvane,"))
        sets = [e.data for e in self.sim.frames("RX", mark) if e.data.startswith("00 01")]
        self.assertEqual(sets, [])
        self.assertIsNone(server.proc.poll())

    def test_start_errors(self):
        for options, text in ((["--listen", "localhost:80"], "--listen takes"),
                              (["--allow", "10.0.0.0/40"], "--allow takes")):
            done = support.subprocess.run([CTL, "-p", str(self.sim.link), "serve", *options],
                                          capture_output=True, text=True, timeout=10)
            self.assertEqual(done.returncode, 2)
            self.assertIn(text, done.stderr)
        busy = socket.socket()
        self.addCleanup(busy.close)
        busy.bind(("127.0.0.1", 0))
        busy.listen()
        done = support.subprocess.run(
            [CTL, "-p", str(self.sim.link), "serve", "--listen", "127.0.0.1:%d" % busy.getsockname()[1]],
            capture_output=True, text=True, timeout=10)
        self.assertEqual(done.returncode, 2)
        self.assertIn("cannot listen on", done.stderr)
        done = support.subprocess.run([CTL, "-p", self.tmp.name + "/absent", "serve"],
                                      capture_output=True, text=True, timeout=10)
        self.assertEqual(done.returncode, 2)
        self.assertIn("no such port", done.stderr)


if __name__ == "__main__":
    harness.parse_args()
    CTL = str(harness.path_of("ctl"))
    unittest.main(verbosity=2)
