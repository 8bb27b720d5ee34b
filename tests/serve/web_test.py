"""The browser door of zorvane-ctl serve against zorvane-sim on a pseudo-terminal: a real
browser (headless Chromium driven by Selenium, one for the whole run) on the laser's page,
and plain HTTP clients on the JSON API, the LXI identification and every limit of the door.
The servers run without VXI-11 (serve_wine_test.py shows a VXI-11 lock in the page).
Usage: web_test.py --ctl PATH-TO-zorvane-ctl --sim PATH-TO-zorvane-sim [unittest options]"""
import json
import os
import socket
import subprocess
import tempfile
import threading
import time
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

import serve_support as support
from serve_support import harness

CTL = None
PASSWORD = "correct horse"
SECURITY = {
    "Content-Security-Policy": "default-src 'self'; frame-ancestors 'none'; base-uri 'none'; "
                               "form-action 'self'",
    "X-Content-Type-Options": "nosniff",
}
browser = None


def setUpModule():
    global browser
    os.environ.pop("ZORVANE_WEB_PASSWORD", None)
    browser = support.Browser()


def vm_rss_kb(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS for %d" % pid)


class SlowHeaders(threading.Thread):
    """A client that sends one byte of its headers a second: the door closes it after 10 s."""

    def __init__(self, address):
        super().__init__(daemon=True)
        self.sock = socket.create_connection(address)
        self.started = time.monotonic()
        self.closed_after = None
        self.start()

    def run(self):
        self.sock.settimeout(1)
        for byte in b"GET / HTTP/1.1\r\nHost: laser\r\nX-Slow: " + b"a" * 30:
            try:
                self.sock.send(bytes([byte]))
                if self.sock.recv(100) == b"":
                    break
            except socket.timeout:
                continue
            except OSError:
                break
        self.closed_after = time.monotonic() - self.started
        self.sock.close()


class WebTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        links = support.Links(cls.tmp.name)
        cls.sim = harness.Sim(links, 41)
        # What info reads, before serve holds the port: the page must show the same.
        done = subprocess.run([CTL, "-p", str(cls.sim.link), "--json", "info"],
                              capture_output=True, text=True, timeout=10)
        cls.info = json.loads(done.stdout)
        password_file = os.path.join(cls.tmp.name, "password")
        with open(password_file, "w") as out:
            out.write(PASSWORD + "\n")
        # A small quarantine, so that the sanitizer's own memory does not hide ours.
        env = dict(os.environ, ASAN_OPTIONS="quarantine_size_mb=1")
        # Without VXI-11, whose portmapper would take port 111 from the tests that need it: the
        # Windows test shows a VXI-11 lock in the page.
        cls.server = support.Server([CTL, "-p", str(cls.sim.link)], "--no-vxi11",
                                    "--web-password-file", password_file, http="127.0.0.1:0",
                                    env=env)
        cls.slow = SlowHeaders(cls.server.http)
        cls.first_state = cls.get("/api/state")[1]

    @classmethod
    def tearDownClass(cls):
        harness.cleanup()  # the clients first, then the server, the simulators and the browser
        cls.tmp.cleanup()

    @classmethod
    def get(cls, path):
        client = support.Http(cls.server.http)
        try:
            return client.json("GET", path)
        finally:
            client.close()

    def sets_since(self, mark):
        return [e.data for e in self.sim.frames("RX", mark) if e.data.startswith("00 01")]

    def test_api_reads_what_idn_and_info_read(self):
        for key, value in self.info.items():
            self.assertEqual(self.first_state[key], value, key)
        self.assertEqual(self.first_state["condition"], "answering")
        self.assertEqual(self.first_state["access"], "password")
        self.assertEqual(self.first_state["lock"], None)

        client = support.Http(self.server.http)
        self.addCleanup(client.close)
        status, headers, xml = client.request("GET", "/lxi/identification")
        self.assertEqual(status, 200)
        self.assertEqual(headers["Content-Type"], "text/xml; charset=utf-8")
        idn = self.server.connect().ask("*IDN?").split(",")
        for tag, value in zip(("Manufacturer", "Model", "SerialNumber", "FirmwareRevision"), idn):
            self.assertIn("<%s>%s</%s>" % (tag, value, tag), xml)
        self.assertIn("TCPIP::127.0.0.1::%d::SOCKET" % self.server.address[1], xml)

    def test_page_follows_every_door_and_the_module(self):
        browser.open(self.server.url)
        state = self.get("/api/state")[1]
        browser.wait_text("channel", str(state["channel"]))
        self.assertEqual(browser.text("power"), "%.2f" % state["power_dbm"])
        self.assertEqual(browser.text("power-range"), "(7.00 to 13.00 dBm)")
        self.assertEqual(browser.text("condition"), "Module answering")
        browser.wait("the login form", lambda: browser.element("login").is_displayed())
        self.assertFalse(browser.element("controls").is_displayed())
        self.sim.command("set channel 1")
        self.server.resource().query("CHAN?")  # seen by a query: the module's own change

        inst = self.server.resource()
        inst.write("CHAN 45")
        took = max(browser.wait_text("channel", "45", timeout=1),
                   browser.wait_text("frequency", "193500", timeout=1))
        self.assertEqual(browser.text("wavelength"), "1549.32")
        self.assertEqual(browser.text("label"), "C35")
        self.assertLess(took, 1)
        row = browser.driver.find_elements(By.CSS_SELECTOR, "#changes tr")[0].text
        self.assertRegex(row, r"channel 1 → 45 \(193500 GHz, 1549\.32 nm, C35\) "
                              r"socket client \d+ \(127\.0\.0\.1:\d+\)")
        clients = self.get("/api/state")[1]["doors"][0]["clients"]
        harness.wait_until(lambda: "SCPI socket (port %d): %d clients" % (
            self.server.address[1], clients) in browser.text("doors"), 5, "the SCPI clients")

        browser.screenshot("web-1280x800.png")
        browser.resize(390, 844)
        self.assertLessEqual(browser.driver.execute_script(
            "return document.documentElement.scrollWidth"), 390)  # nothing wider than a phone
        browser.screenshot("web-390x844.png")

        mark = self.server.mark()
        self.sim.command("unplug")
        browser.wait_text("condition", "Port gone: waiting for the module to come back")
        self.sim.command("plug")
        browser.wait_text("condition", "Module answering")
        self.server.wait_log("port back", since=mark)

    def test_control_with_the_password(self):
        browser.open(self.server.url)
        browser.wait_text("condition", "Module answering")
        password = browser.element("password")
        password.send_keys("wrong", Keys.ENTER)
        browser.wait_text("message", "wrong password")
        password.clear()
        password.send_keys(PASSWORD, Keys.ENTER)
        browser.wait("the controls", lambda: browser.element("controls").is_displayed())
        self.assertFalse(browser.element("login").is_displayed())

        mark = self.sim.mark()
        channel = browser.element("channel-input")
        channel.click()
        channel.send_keys(Keys.CONTROL, "a")
        channel.send_keys("12", Keys.ENTER)
        browser.wait_text("channel", "12")
        browser.element("channel-up").click()
        browser.wait_text("channel", "13")
        power = browser.element("power-input")
        power.click()
        power.send_keys(Keys.CONTROL, "a")
        power.send_keys("8.5")
        browser.driver.find_element(By.CSS_SELECTOR, "#power-form button[type=submit]").click()
        browser.wait_text("power", "8.50")
        browser.element("output-switch").click()
        browser.wait_text("output", "OFF")
        self.assertEqual(browser.element("output-switch").get_attribute("aria-checked"), "false")
        browser.element("output-switch").click()
        browser.wait_text("output", "ON")
        sets = self.sets_since(mark)
        self.assertEqual([s[:14] for s in sets], ["00 01 01 00 0C", "00 01 01 00 0D",
                                                  "00 01 02 03 52", "00 01 03 00 00",
                                                  "00 01 03 01 01"])

        # Out of range: the module's range is told, nothing is sent, the value stays.
        mark = self.sim.mark()
        power.click()
        power.send_keys(Keys.CONTROL, "a")
        power.send_keys("20", Keys.ENTER)
        browser.wait_text("message", "power 20.00 dBm is outside 7.00 to 13.00 dBm")
        self.assertEqual(browser.text("power"), "8.50")
        self.assertEqual(self.sets_since(mark), [])
        row = browser.driver.find_elements(By.CSS_SELECTOR, "#changes tr")[0].text
        self.assertRegex(row, r"output OFF → ON HTTP 127\.0\.0\.1")

        browser.element("logout").click()
        browser.wait("the login form", lambda: browser.element("login").is_displayed())
        self.assertFalse(browser.element("controls").is_displayed())

    def test_read_only_without_a_password(self):
        links = support.Links(self.tmp.name + "/ro")
        os.mkdir(links.folder)
        sim = harness.Sim(links, 42)
        server = support.Server([CTL, "-p", str(sim.link)], "--no-vxi11", http="127.0.0.1:0")
        browser.open(server.url)
        browser.wait_text("condition", "Module answering")
        self.assertTrue(browser.element("read-only").is_displayed())
        self.assertFalse(browser.element("login").is_displayed())
        self.assertFalse(browser.element("controls").is_displayed())

        mark = sim.mark()
        client = support.Http(server.http)
        self.addCleanup(client.close)
        for path, body in (("/api/login", {"password": ""}), ("/api/channel", {"channel": 45}),
                           ("/api/power", {"dbm": 8}), ("/api/output", {"on": False})):
            status, reply = client.json("POST", path, body)
            self.assertEqual(status, 403, path)
            self.assertIn("read-only", reply["error"])
        self.assertEqual([e.data for e in sim.frames("RX", mark) if e.data.startswith("00 01")], [])
        self.assertEqual(server.interrupt(), 0)

    def test_start_options(self):
        links = support.Links(self.tmp.name + "/start")
        os.mkdir(links.folder)
        sim = harness.Sim(links, 43)
        command = [CTL, "-p", str(sim.link), "serve", "--no-vxi11"]
        for options, text in ((["--http", "laser:80"], "--http"),
                              (["--web-password-file", self.tmp.name + "/absent"], "cannot read")):
            done = subprocess.run(command + options, capture_output=True, text=True, timeout=10)
            self.assertEqual(done.returncode, 2, done.stderr)
            self.assertIn(text, done.stderr)

        # A port that cannot be had: one line, and the other doors serve on.
        busy = socket.socket()
        self.addCleanup(busy.close)
        busy.bind(("127.0.0.1", 0))
        busy.listen()
        taken = "127.0.0.1:%d" % busy.getsockname()[1]
        server = support.Server([CTL, "-p", str(sim.link)], "--no-vxi11", "--allow", "127.0.0.2",
                                http=taken)
        self.assertIsNone(server.http)
        server.wait_log(r"no browser door: cannot listen on %s: .* try --http 127\.0\.0\.1:8080"
                        % taken.replace(".", r"\."))
        self.assertEqual(server.connect("127.0.0.2").ask("CHAN?"), "1")
        server.interrupt()

        # --allow applies to browsers too.
        server = support.Server([CTL, "-p", str(sim.link)], "--no-vxi11", "--allow", "127.0.0.2",
                                http="127.0.0.1:0")
        refused = support.Client(server.http)
        self.assertTrue(refused.closed())
        server.wait_log(r"refused 127\.0\.0\.1:\d+: not in --allow")
        refused.close()
        self.assertEqual(server.interrupt(), 0)

    def test_limits_of_the_door(self):
        url = self.server.http
        client = support.Http(url)
        self.addCleanup(client.close)
        for method, path, status in (("GET", "/nothing", 404), ("POST", "/", 405),
                                     ("GET", "/api/channel", 405), ("HEAD", "/", 405),
                                     ("GET", "/app.js", 200), ("GET", "/app.css", 200)):
            got, headers, _ = client.request(method, path)
            self.assertEqual(got, status, path)
            for name, value in SECURITY.items():
                self.assertEqual(headers[name], value, path)
        self.assertEqual(client.request("GET", "/api/channel")[1]["Allow"], "POST")

        def raw(data):
            sock = socket.create_connection(url, timeout=5)
            sock.sendall(data)
            reply = b""
            while True:
                try:
                    part = sock.recv(65536)
                except ConnectionError:
                    break
                if not part:
                    break
                reply += part
            sock.close()
            return reply

        big = b"GET / HTTP/1.1\r\nHost: laser\r\nX-Big: " + b"a" * 9000 + b"\r\n\r\n"
        self.assertTrue(raw(big).startswith(b"HTTP/1.1 431 "))
        body = b'{"password":"' + b"p" * 5000 + b'"}'
        post = (b"POST /api/login HTTP/1.1\r\nHost: laser\r\nContent-Type: application/json\r\n"
                b"Content-Length: %d\r\n\r\n" % len(body)) + body
        self.assertTrue(raw(post).startswith(b"HTTP/1.1 413 "))
        self.assertTrue(raw(b"BLAH\r\n\r\n").startswith(b"HTTP/1.1 400 "))

        # Twenty streams at once all follow a change.
        streams = [socket.create_connection(url, timeout=3) for _ in range(20)]
        for sock in streams:
            sock.sendall(b"GET /api/events HTTP/1.1\r\nHost: laser\r\n\r\n")
        for sock in streams:
            self.assertIn(b'"channel":', self.read_until(sock, b"\n\n"))
        self.server.resource().write("CHAN 30")
        for sock in streams:
            self.assertIn(b'"channel":30,', self.read_until(sock, b'"channel":30,'))

        # At most 64 connections, the streams and the browser's included: 503 beyond.
        extra = [socket.create_connection(url, timeout=5) for _ in range(50)]
        answers = []
        for sock in extra:
            sock.sendall(b"GET /api/state HTTP/1.1\r\nHost: laser\r\n\r\n")
        for sock in extra:
            answers.append(self.read_until(sock, b"\r\n")[:12])
        self.assertIn(b"HTTP/1.1 503", answers)
        self.assertLessEqual(answers.count(b"HTTP/1.1 200") + len(streams), 64)
        for sock in extra + streams:
            sock.close()
        harness.wait_until(lambda: client.request("GET", "/api/state")[0] == 200, 5,
                           "a connection once the others closed")

    def test_memory_stays_flat_under_a_flood(self):
        url = self.server.http
        mark = self.sim.mark()
        junk = [b"GET / HTTP/1.1\r\nHost: x\r\nX: " + b"a" * 9000 + b"\r\n\r\n",
                b"POST /api/channel HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n" + b"x" * 8000,
                b"\x00\xff" * 500, b"GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n",
                b"POST /api/login HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                b"Content-Length: 16\r\n\r\n{\"password\":[[[",
                b"POST /api/power HTTP/1.1\r\nHost: x\r\nContent-Length: 9\r\n\r\n{\"dbm\":9}"]

        def flood(rounds):
            for i in range(rounds):
                socks = [socket.create_connection(url, timeout=5) for _ in range(20)]
                for n, sock in enumerate(socks):
                    try:
                        sock.sendall(junk[(i + n) % len(junk)])
                    except ConnectionError:
                        pass
                for sock in socks:
                    sock.close()
            harness.wait_until(lambda: self.get("/api/state")[0] == 200, 5, "the door after the flood")

        flood(20)
        before = vm_rss_kb(self.server.proc.pid)
        flood(60)
        after = vm_rss_kb(self.server.proc.pid)
        self.assertLess(after - before, 2048, "VmRSS %d kB -> %d kB" % (before, after))
        self.assertEqual(self.sets_since(mark), [])
        self.assertIsNone(self.server.proc.poll())

    def test_z_slow_headers_are_closed_after_ten_seconds(self):
        self.slow.join(20)
        self.assertIsNotNone(self.slow.closed_after)
        self.assertGreater(self.slow.closed_after, 9.5)
        self.assertLess(self.slow.closed_after, 12)
        self.server.wait_log(r"HTTP client 127\.0\.0\.1 closed: its request took more than 10 s")

    @staticmethod
    def read_until(sock, marker, timeout=3):
        data = b""
        deadline = time.monotonic() + timeout
        while marker not in data:
            sock.settimeout(max(deadline - time.monotonic(), 0.01))
            try:
                part = sock.recv(65536)
            except socket.timeout:
                raise AssertionError("no %r in %r" % (marker, data[-300:]))
            if not part:
                break
            data += part
        return data


if __name__ == "__main__":
    harness.parse_args()
    CTL = str(harness.path_of("ctl"))
    unittest.main(verbosity=2)
