"""What the serve tests share: zorvane-ctl serve as a process with its log, the simulated
module on a link, pyvisa clients and raw socket clients. Every wait has a deadline."""
import fcntl
import http.client
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402  (the simulator on a link, and clean-up on exit)

import pyvisa  # noqa: E402  (Debian's python3-pyvisa with python3-pyvisa-py)

LISTENING = re.compile(r"listening on ([\d.]+):(\d+) ")
VXI11 = re.compile(r"VXI-11 core channel on ([\d.]+):(\d+) \(inst0\), abort channel on [\d.]+:(\d+)")
PORTMAPPER = re.compile(r"(portmapper on [\d.]+:111 \(.*\)|registered with the portmapper on "
                        r"127\.0\.0\.1:111|no portmapper: .*)$")
HTTP_LISTENING = re.compile(r"listening on ([\d.]+):(\d+) for browsers|no browser door")


class Links:
    """Stands in for a Wine prefix's dosdevices when the simulator runs for Linux tools."""

    def __init__(self, folder):
        self.folder = Path(folder)

    def link(self, port):
        return self.folder / ("tty%d" % port)


# Port 111 is the machine's: a test process that starts a VXI-11 door takes this lock first
# and keeps it until it exits, so that test runs side by side (the native and the Windows
# tests, or two checkouts) take turns at the port.
PORT111_LOCK = "/tmp/zorvane-port111.lock"
_port111 = None


def hold_port111(timeout=300):
    global _port111
    if _port111 is not None:
        return
    lock = open(PORT111_LOCK, "a")
    deadline = time.monotonic() + timeout
    while True:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            break
        except BlockingIOError:
            if time.monotonic() > deadline:
                raise harness.HarnessError("port 111 still taken by another test after %d s" % timeout)
            time.sleep(0.1)  # the holder says nothing when it lets go: ask again
    _port111 = lock


class Server:
    """zorvane-ctl ... serve, its standard error kept line by line. Without http (its
    --http ADDR:PORT) the browser door stays closed."""

    def __init__(self, command, *options, listen="127.0.0.1:0", http=None, env=None):
        door = ["--http", http] if http else ["--no-http"]
        if "--no-vxi11" not in options:
            hold_port111()
        self.proc = subprocess.Popen([*command, "serve", "--listen", listen, *door, *options],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, errors="replace", env=env)
        harness._cleanups.append(lambda: harness.stop_process(self.proc))
        self.lines = []
        self.cond = threading.Condition()
        threading.Thread(target=self._pump, daemon=True).start()
        match = self.wait_log(LISTENING, 30, "the listening line")
        self.address = (match.group(1), int(match.group(2)))
        if "--no-vxi11" not in options:
            match = self.wait_log(VXI11, 10, "the VXI-11 line")
            self.core = (match.group(1), int(match.group(2)))
            self.abort_port = int(match.group(3))
            self.portmapper = self.wait_log(PORTMAPPER, 10, "the portmapper line").group(1)
        self.http = None  # the browser door's address, when it listens
        if http:
            match = self.wait_log(HTTP_LISTENING, 10, "the browser door's line")
            if match.group(1):
                self.http = (match.group(1), int(match.group(2)))
                self.url = "http://%s:%d" % self.http

    def _pump(self):
        for line in self.proc.stderr:
            with self.cond:
                self.lines.append(line.rstrip("\n"))
                self.cond.notify_all()
        with self.cond:
            self.lines.append(None)
            self.cond.notify_all()

    def mark(self):
        with self.cond:
            return len(self.lines)

    def wait_log(self, pattern, timeout=5, what=None, since=0):
        """The first log line from `since` on that matches pattern (a regex)."""
        pattern = re.compile(pattern) if isinstance(pattern, str) else pattern
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for line in self.lines[since:]:
                    if line is None:
                        raise AssertionError("serve ended (%s) before %s; log:\n%s" % (
                            self.proc.poll(), what or pattern.pattern, "\n".join(self.lines[:-1])))
                    match = pattern.search(line)
                    if match:
                        return match
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError("no log line %s; log:\n%s" % (
                        what or pattern.pattern, "\n".join(self.lines[-30:])))
                self.cond.wait(left)

    def resource(self, timeout_ms=2000):
        rm = pyvisa.ResourceManager("@py")
        inst = rm.open_resource("TCPIP::%s::%d::SOCKET" % self.address, read_termination="\n",
                                write_termination="\n", timeout=timeout_ms)
        harness._cleanups.append(inst.close)
        return inst

    def instrument(self, timeout_ms=2000):
        """pyvisa on the VXI-11 door, found through the portmapper on port 111."""
        rm = pyvisa.ResourceManager("@py")
        inst = rm.open_resource("TCPIP::%s::inst0::INSTR" % self.core[0], read_termination="\n",
                                write_termination="\n", timeout=timeout_ms)
        harness._cleanups.append(inst.close)
        return inst

    def connect(self, source="127.0.0.1"):
        client = Client(self.address, source)
        harness._cleanups.append(client.close)
        return client

    def interrupt(self, timeout=10):
        """Ctrl-C; returns the exit status."""
        self.proc.send_signal(signal.SIGINT)
        return self.proc.wait(timeout)


def closed(sock, timeout=3.0):
    """True once the server has closed the connection (what it sent is passed over)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        sock.settimeout(max(deadline - time.monotonic(), 0.001))
        try:
            if not sock.recv(65536):
                return True
        except socket.timeout:
            return False
        except ConnectionError:
            return True
    return False


class SimTest(unittest.TestCase):
    """A test with the simulated module of its own on a link in a folder of its own."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.links = Links(self.tmp.name)
        self.sim = harness.Sim(self.links, 40)
        self.addCleanup(self.sim.stop)


class Client:
    """A raw TCP client that reads replies line by line."""

    def __init__(self, address, source="127.0.0.1", receive_buffer=None):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if receive_buffer:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        self.sock.bind((source, 0))
        self.sock.connect(address)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.pending = b""

    def send(self, data):
        self.sock.sendall(data.encode() if isinstance(data, str) else data)

    def line(self, timeout=3.0):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no reply line; got %r" % self.pending)
            self.sock.settimeout(left)
            data = self.sock.recv(65536)
            if not data:
                raise ConnectionError("the server closed the connection; got %r" % self.pending)
            self.pending += data
        line, _, self.pending = self.pending.partition(b"\n")
        return line.decode()

    def ask(self, query, timeout=3.0):
        self.send(query + "\n")
        return self.line(timeout)

    def closed(self, timeout=3.0):
        return closed(self.sock, timeout)

    def close(self):
        self.sock.close()


class Http:
    """One HTTP/1.1 connection to the browser door, with the session cookie once logged in."""

    def __init__(self, address, timeout=5):
        self.conn = http.client.HTTPConnection(*address, timeout=timeout)
        self.cookie = None

    def request(self, method, path, body=None, headers=None):
        """(status, headers, body as text); a dict body is sent as JSON."""
        headers = dict(headers or {})
        if isinstance(body, dict):
            body = json.dumps(body)
            headers.setdefault("Content-Type", "application/json")
        if self.cookie:
            headers["Cookie"] = self.cookie
        self.conn.request(method, path, body=body, headers=headers)
        reply = self.conn.getresponse()
        text = reply.read().decode()
        return reply.status, reply.headers, text

    def json(self, method, path, body=None, headers=None):
        status, _, text = self.request(method, path, body, headers)
        return status, json.loads(text)

    def login(self, password):
        status, headers, text = self.request("POST", "/api/login", {"password": password})
        if status != 200:
            raise AssertionError("login refused: %d %s" % (status, text))
        self.cookie = headers["Set-Cookie"].split(";")[0]

    def close(self):
        self.conn.close()


class Browser:
    """Headless Chromium driven by Selenium: one for a whole test run, with a fresh profile."""

    def __init__(self):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        self.profile = tempfile.TemporaryDirectory(ignore_cleanup_errors=True)
        options = webdriver.ChromeOptions()
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update",
                    "--disable-sync", "--user-data-dir=" + self.profile.name):
            options.add_argument(arg)
        options.binary_location = "/usr/bin/chromium"
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        harness._cleanups.append(self.close)

    def open(self, url, width=1280, height=800):
        self.resize(width, height)
        self.driver.get(url)

    def resize(self, width, height):
        """The page's viewport exactly width x height CSS pixels, as a phone's when narrow."""
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})

    def element(self, element_id):
        from selenium.webdriver.common.by import By
        return self.driver.find_element(By.ID, element_id)

    def text(self, element_id):
        return self.element(element_id).text

    def wait(self, what, predicate, timeout=5):
        """Waits until predicate() holds; returns the seconds it took."""
        start = time.monotonic()
        harness.wait_until(predicate, timeout, "the page showing " + what)
        return time.monotonic() - start

    def wait_text(self, element_id, text, timeout=5):
        return self.wait("%r in %s" % (text, element_id), lambda: self.text(element_id) == text,
                         timeout)

    def screenshot(self, name):
        path = harness.artifacts_dir() / name
        self.driver.save_screenshot(str(path))
        return path

    def close(self):
        self.driver.quit()
        self.profile.cleanup()


def check_every_command(test, inst, sim):
    """*IDN?, every set and query of the instrument through pyvisa, and errors read back;
    the frames the module received for the sets. The module starts at channel 1, 10.00 dBm,
    output on, 96 channels of 50 GHz from 191300 GHz, 7.00 to 13.00 dBm."""
    idn = inst.query("*IDN?").split(",")
    test.assertEqual(len(idn), 4, idn)
    test.assertEqual(idn[0], "Zorvane")
    test.assertEqual(inst.query("SYST:ERR?"), '0,"No error"')
    test.assertEqual(inst.query("SYSTem:VERSion?"), "1999.0")

    test.assertEqual(inst.query("CHAN?"), "1")
    test.assertEqual(inst.query(":SOUR:CHAN:COUN?"), "96")
    test.assertEqual(inst.query("CHAN? MAX"), "96")
    mark = sim.mark()
    inst.write("CHAN 45")
    test.assertEqual(inst.query("SOURce:CHANnel?"), "45")
    test.assertEqual(inst.query("CHAN:LAB?"), '"C35"')
    test.assertAlmostEqual(float(inst.query("FREQ?")), 193.5e12, delta=1)
    test.assertAlmostEqual(float(inst.query("WAV?")), 1549.32e-9, delta=1e-14)  # as the window shows it
    inst.write("CHAN UP")
    test.assertEqual(inst.query("CHAN?"), "46")
    inst.write("FREQ 191.3THZ")
    test.assertEqual(inst.query("CHAN?"), "1")
    inst.write("WAV 1549.32NM")
    test.assertEqual(inst.query("CHAN?"), "45")
    sets = [e.data for e in sim.frames("RX", mark) if e.data.startswith("00 01 01")]
    test.assertEqual(sets, ["00 01 01 00 2D 2F", "00 01 01 00 2E 30", "00 01 01 00 01 03",
                            "00 01 01 00 2D 2F"])

    test.assertEqual(inst.query("POW?"), "10.00")
    inst.write("POW 8.5DBM")
    test.assertEqual(inst.query("SOUR:POW:LEV:IMM:AMPL?"), "8.50")
    test.assertEqual(inst.query("POW? MIN"), "7.00")
    inst.write("OUTP OFF")
    test.assertEqual(inst.query("OUTPut:STATe?"), "0")
    inst.write("OUTP 1")
    test.assertEqual(inst.query("OUTP?"), "1")
    test.assertEqual(inst.query("*TST?"), "0")
    test.assertEqual(inst.query("*OPC?"), "1")

    # Errors are queued and read back; the values refused send nothing.
    mark = sim.mark()
    inst.write("CHAN 97")
    inst.write("POW 14")
    inst.write("BOGUS")
    inst.write("CHAN")
    test.assertEqual(inst.query("SYST:ERR:COUN?"), "4")
    codes = [inst.query("SYST:ERR?").split(",")[0] for _ in range(5)]
    test.assertEqual(codes, ["-222", "-222", "-113", "-109", "0"])
    test.assertEqual([e.data for e in sim.frames("RX", mark) if e.data.startswith("00 01")], [])


def check_silent_module(test, inst, sim):
    """A query the module does not answer: no reply (pyvisa times out), then -241 queued;
    the module back, the channel set by check_every_command is read."""
    sim.command("mute 1")
    inst.timeout = 1500
    with test.assertRaises(pyvisa.errors.VisaIOError) as raised:
        inst.query("CHAN?")
    test.assertEqual(raised.exception.error_code, pyvisa.constants.StatusCode.error_timeout)
    sim.command("unmute 1")
    test.assertEqual(inst.query("SYST:ERR?").split(",")[0], "-241")
    test.assertEqual(inst.query("CHAN?"), "45")
