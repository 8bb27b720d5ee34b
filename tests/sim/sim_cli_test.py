"""zorvane-sim driven as the other tests drive it: through its pty, its link, its standard
input and its log. Usage: sim_cli_test.py PATH-TO-zorvane-sim [unittest options]"""
import os
import queue
import re
import select
import signal
import subprocess
import sys
import tempfile
import threading
import time
import tty
import unittest

SIM = None
LOG_LINE = re.compile(r"^\d+\.\d{3} (RX|TX|DROP|CMD|ERR|PTY) (.*)$")


def frame(form, code, value):
    body = bytes(form) + bytes([code, value >> 8, value & 0xFF])
    return body + bytes([sum(body) & 0xFF])


def query(code):
    return frame((1, 0), code, 0)


def setf(code, value):
    return frame((0, 1), code, value)


def response(code, value):
    return frame((1, 1), code, value)


def hexs(data):
    return " ".join("%02X" % b for b in data)


def open_port(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    return fd


def read_bytes(fd, count, timeout=1.0):
    """Up to count bytes, or fewer when the timeout passes first."""
    data = b""
    deadline = time.monotonic() + timeout
    while len(data) < count:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            break
        data += os.read(fd, count - len(data))
    return data


class Sim:
    def __init__(self, *args, log_to=None):
        self.proc = subprocess.Popen([SIM, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, bufsize=1)
        first = self.proc.stdout.readline()
        assert first.startswith("pty /dev/"), first
        self.path = first.split(" ", 1)[1].strip()
        self.lines = queue.Queue()
        source = self.proc.stdout if log_to is None else None
        if source:
            threading.Thread(target=self._pump, args=(source,), daemon=True).start()

    def _pump(self, source):
        for line in source:
            self.lines.put(line.rstrip("\n"))

    def send(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def expect(self, kind, text, timeout=2.0):
        """Waits for the log line '<t> KIND TEXT'; returns its time stamp. Lines of other
        events on the way are passed over."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            try:
                line = self.lines.get(timeout=max(left, 0.001))
            except queue.Empty:
                raise AssertionError("no log line %s %s" % (kind, text))
            match = LOG_LINE.match(line)
            assert match, "malformed log line %r" % line
            if match.group(1) == kind and match.group(2) == text:
                return float(line.split()[0])

    def command(self, command):
        self.send(command)
        self.expect("CMD", command)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            stream.close()


class SimCliTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.link = os.path.join(self.tmp.name, "com40")
        self.fds = []
        self.sims = []

    def tearDown(self):
        for fd in self.fds:
            os.close(fd)
        for sim in self.sims:
            sim.close()
        self.tmp.cleanup()

    def start(self, *args, **kw):
        sim = Sim(*args, **kw)
        self.sims.append(sim)
        return sim

    def port(self, path):
        fd = open_port(path)
        self.fds.append(fd)
        return fd

    def ask(self, sim, fd, request, answer):
        os.write(fd, request)
        self.assertEqual(read_bytes(fd, 6), answer)
        sim.expect("RX", hexs(request))
        sim.expect("TX", hexs(answer))

    def test_help_and_bad_options(self):
        done = subprocess.run([SIM, "--help"], capture_output=True, text=True, timeout=5)
        self.assertEqual(done.returncode, 0)
        self.assertIn("--link PATH", done.stdout)
        self.assertIn("corrupt N", done.stdout)
        for args in (["--bogus"], ["--channels"], ["--channels", "300"], ["--output", "2"],
                     ["--grid=abc"], ["--first-freq", "170000"], ["stray"], ["--link="],
                     ["--log", os.path.join(self.tmp.name, "no", "such", "dir")]):
            done = subprocess.run([SIM, *args], capture_output=True, text=True, timeout=5)
            self.assertEqual(done.returncode, 2, args)
            self.assertIn("zorvane-sim:", done.stderr, args)
            self.assertEqual(done.stdout, "", args)

    def test_answers_and_logs_every_frame(self):
        sim = self.start("--link", self.link, "--channel", "3", "--power=900", "--grid", "-50")
        self.assertEqual(os.readlink(self.link), sim.path)
        fd = self.port(self.link)
        self.ask(sim, fd, query(4), bytes.fromhex("01 01 04 00 60 66"))
        self.ask(sim, fd, query(1), response(1, 3))
        self.ask(sim, fd, query(2), response(2, 900))
        self.ask(sim, fd, query(8), response(8, 0xFFCE))
        self.ask(sim, fd, setf(1, 200), response(1, 96))
        self.ask(sim, fd, setf(2, 100), response(2, 700))
        self.ask(sim, fd, setf(3, 0), response(3, 0))
        # Garbage in front of a frame is dropped byte by byte; the frame is still answered.
        os.write(fd, b"\x07\xff" + query(5))
        self.assertEqual(read_bytes(fd, 6), bytes.fromhex("01 01 05 05 14 20"))
        sim.expect("DROP", "07")
        sim.expect("DROP", "FF")
        sim.expect("RX", "01 00 05 00 00 06")

    def test_fault_switches(self):
        sim = self.start()
        fd = self.port(sim.path)
        sim.command("mute 2")
        os.write(fd, query(2))
        self.assertEqual(read_bytes(fd, 6, 0.3), b"")
        sim.command("unmute all")
        self.ask(sim, fd, query(2), response(2, 1000))

        sim.command("skip 1 1")
        os.write(fd, setf(1, 9))
        self.assertEqual(read_bytes(fd, 6, 0.3), b"")
        self.ask(sim, fd, query(1), response(1, 9))

        sim.command("corrupt 1")
        os.write(fd, query(3))
        bad = read_bytes(fd, 6)
        self.assertEqual(bad[:5], response(3, 0x0101)[:5])
        self.assertNotEqual(bad[5], response(3, 0x0101)[5])

        sim.command("delay 300")
        sent = time.monotonic()
        os.write(fd, query(4))
        self.assertEqual(read_bytes(fd, 6), response(4, 96))
        self.assertGreaterEqual(time.monotonic() - sent, 0.28)
        received = sim.expect("RX", hexs(query(4)))
        answered = sim.expect("TX", hexs(response(4, 96)))
        self.assertGreaterEqual(answered - received, 0.299)
        sim.command("delay 0")

        sim.command("inject 01 01 01 00 05 08")
        self.assertEqual(read_bytes(fd, 6), bytes.fromhex("01 01 01 00 05 08"))
        sim.expect("TX", "01 01 01 00 05 08")

        sim.command("set power 1250")
        self.ask(sim, fd, query(2), response(2, 1250))
        sim.send("set power 70000")
        sim.expect("ERR", '"set power 70000": power takes a whole number from 0 to 65535, '
                          'not "70000"')
        sim.send("mute 9")
        sim.expect("ERR", '"mute 9": usage: mute CODE|all (CODE 1-8)')
        self.ask(sim, fd, query(2), response(2, 1250))

    def test_unplug_plug_quit(self):
        sim = self.start("--link", self.link)
        fd = self.port(self.link)
        self.ask(sim, fd, query(4), response(4, 96))
        sim.command("unplug")
        self.assertFalse(os.path.lexists(self.link))
        sim.send("unplug")
        sim.expect("ERR", '"unplug": not plugged')
        sim.command("plug")
        sim.expect("PTY", os.readlink(self.link))
        fd = self.port(self.link)
        self.ask(sim, fd, query(5), response(5, 1300))

        # The port closed on the far side: the module idles without spinning, then serves
        # the port when it is opened again.
        os.close(self.fds.pop())
        before = cpu_seconds(sim.proc.pid)
        time.sleep(0.5)
        self.assertLess(cpu_seconds(sim.proc.pid) - before, 0.1)
        fd = self.port(self.link)
        self.ask(sim, fd, query(6), response(6, 700))

        sim.send("quit")
        self.assertEqual(sim.proc.wait(5), 0)
        sim.expect("CMD", "quit")
        self.assertFalse(os.path.lexists(self.link))

    def test_end_of_input_and_signals(self):
        os.symlink("/nonexistent", self.link)  # a stale link is replaced
        for sig in (signal.SIGTERM, signal.SIGINT):
            sim = self.start("--link", self.link)
            self.assertEqual(os.readlink(self.link), sim.path)
            sim.proc.stdin.close()  # end of input: the module plays on
            fd = self.port(sim.path)
            self.ask(sim, fd, query(7), response(7, 191300 - 180000))
            sim.proc.send_signal(sig)
            self.assertEqual(sim.proc.wait(5), 0)
            self.assertFalse(os.path.lexists(self.link))

    def test_pace_of_a_9600_baud_line(self):
        sim = self.start("--pace")
        fd = self.port(sim.path)
        sent = time.monotonic()
        os.write(fd, query(3))
        first = read_bytes(fd, 1)
        first_at = time.monotonic()
        rest = read_bytes(fd, 5)
        done = time.monotonic()
        self.assertEqual(first + rest, response(3, 0x0101))
        # Six bytes in, then six out, at 1.04 ms each: the line can be late, never early.
        self.assertGreaterEqual(first_at - sent, 7 * 0.00104)
        self.assertGreaterEqual(done - sent, 12 * 0.00104)
        received = sim.expect("RX", hexs(query(3)))
        answered = sim.expect("TX", hexs(response(3, 0x0101)))
        self.assertLess(answered - received, 0.002)

    def test_log_file_and_refused_link(self):
        log = os.path.join(self.tmp.name, "sim.log")
        sim = self.start("--log", log, log_to=log)
        fd = self.port(sim.path)
        os.write(fd, query(1))
        self.assertEqual(read_bytes(fd, 6), response(1, 1))
        sim.send("quit")
        self.assertEqual(sim.proc.wait(5), 0)
        self.assertEqual(sim.proc.stdout.read(), "")
        with open(log) as f:
            kinds = [LOG_LINE.match(line).group(1) for line in f]
        self.assertEqual(kinds, ["RX", "TX", "CMD"])

        with open(self.link, "w") as f:
            f.write("not a link")
        done = subprocess.run([SIM, "--link", self.link], capture_output=True, text=True,
                              timeout=5)
        self.assertEqual(done.returncode, 1)
        self.assertIn("not a symbolic link", done.stderr)
        with open(self.link) as f:
            self.assertEqual(f.read(), "not a link")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


if __name__ == "__main__":
    SIM = os.path.abspath(sys.argv.pop(1))
    unittest.main()
