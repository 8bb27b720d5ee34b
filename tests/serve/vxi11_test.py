"""zorvane-ctl serve's VXI-11 door against zorvane-sim on a pseudo-terminal: pyvisa, lxi and
rpcinfo through the portmapper on port 111, locks against other links and raw clients, a
read that waits, the machine's own rpcbind, discovery by broadcast between two network
namespaces, and random bytes on every port. Port 111 is the machine's: these tests run one
at a time (and as root, as CI does).
Usage: vxi11_test.py --ctl PATH-TO-zorvane-ctl --sim PATH-TO-zorvane-sim [unittest options]"""
import os
import random
import re
import shutil
import socket
import subprocess
import threading
import time
import unittest

import pyvisa

import rpc_client as rpc
import serve_support as support
from serve_support import harness

CTL = None
LOCKED = re.compile(r'-200,"Execution error; locked by VXI-11 link \d+ \(127\.0\.0\.1\)"')


def run(*command, timeout=20):
    return subprocess.run(command, capture_output=True, text=True, timeout=timeout)


def set_frames(sim, since):
    return [e.data for e in sim.frames("RX", since) if e.data.startswith("00 01")]


class Vxi11Test(support.SimTest):
    def serve(self, *options, command=(), listen="127.0.0.1:0"):
        server = support.Server([*command, CTL, "-p", str(self.sim.link)], *options, listen=listen)
        self.addCleanup(harness.stop_process, server.proc)
        return server

    def instrument(self, server):
        """pyvisa through the portmapper, closed before the server stops."""
        self.assertFalse(server.portmapper.startswith("no portmapper"),
                         "port 111 is another program's, which pyvisa would reach: %s"
                         % server.portmapper)
        inst = server.instrument()
        self.addCleanup(inst.close)
        return inst

    def own_portmapper(self, server):
        """Whether port 111 is the server's (not a portmapper the machine runs itself)."""
        return server.portmapper.startswith("portmapper on ")

    def link(self, server):
        link = rpc.Link(server.core)
        self.addCleanup(link.close)
        return link

    def test_pyvisa_drives_every_command_through_the_portmapper(self):
        server = self.serve()
        self.assertIn(server.portmapper, ("portmapper on 127.0.0.1:111 (tcp, udp)",
                                          "registered with the portmapper on 127.0.0.1:111"))
        inst = self.instrument(server)
        support.check_every_command(self, inst, self.sim)

        # The status byte shows a reply waiting (MAV); device clear drops it.
        self.assertEqual(inst.read_stb(), 0)
        inst.write("*IDN?")
        self.assertEqual(inst.read_stb(), 0x10)
        self.assertTrue(inst.read().startswith("Zorvane,"))
        self.assertEqual(inst.read_stb(), 0)
        inst.write("CHAN?")
        inst.clear()
        self.assertEqual(inst.read_stb(), 0)
        inst.write("POW 20")  # out of range: its error stays through a clear
        inst.clear()
        self.assertEqual(inst.query("SYST:ERR?").split(",")[0], "-222")
        support.check_silent_module(self, inst, self.sim)
        inst.close()
        self.assertEqual(server.interrupt(), 0)

    def test_lxi_and_rpcinfo(self):
        server = self.serve()
        port = server.core[1]
        done = run("lxi", "scpi", "-a", "127.0.0.1", "*IDN?")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("Zorvane,Tunable laser module,", done.stdout)
        listed = run("rpcinfo", "-p", "127.0.0.1").stdout
        for program in ("100000    2   tcp    111", "100000    2   udp    111",
                        "395183    1   tcp  %5d" % port):
            self.assertIn(program, listed)
        for command, what in ((("-t", "127.0.0.1", "395183", "1"), "program 395183 version 1"),
                              (("-u", "127.0.0.1", "100000", "2"), "program 100000 version 2")):
            done = run("rpcinfo", *command)
            self.assertIn(what + " ready and waiting", done.stdout, done.stderr)
        # Versions and programs it does not have are told so, not left unanswered.
        self.assertIn("Program not registered",
                      run("rpcinfo", "-t", "127.0.0.1", "395183", "2").stderr)

    def test_a_lock_keeps_other_links_and_raw_sets_out(self):
        server = self.serve()
        holder, other = self.instrument(server), self.instrument(server)
        raw = server.connect()
        holder.lock_excl()
        server.wait_log(r"VXI-11 link \d+ \(127\.0\.0\.1\) took the lock")
        mark = self.sim.mark()
        began = time.monotonic()
        with self.assertRaises(pyvisa.errors.VisaIOError) as raised:
            other.write("CHAN 5")
        self.assertLess(time.monotonic() - began, 0.5, "refused at once")
        self.assertEqual(raised.exception.error_code, pyvisa.constants.StatusCode.error_io)
        with self.assertRaises(pyvisa.errors.VisaIOError) as raised:
            other.lock_excl(timeout=500)
        self.assertEqual(raised.exception.error_code,
                         pyvisa.constants.StatusCode.error_resource_locked)
        # On the wire: error 11, with and without waiting for the lock.
        link = self.link(server)
        self.assertEqual(link.write(b"CHAN 5"), (11, 0))
        began = time.monotonic()
        self.assertEqual(link.write(b"CHAN 5", flags=rpc.END | rpc.WAITLOCK, lock_timeout=300),
                         (11, 0))
        self.assertGreaterEqual(time.monotonic() - began, 0.29)
        # A raw client is still answered, but its sets are refused and name the holder.
        self.assertEqual(raw.ask("CHAN?"), "1")
        raw.send("CHAN 5\n*RST\n")
        self.assertRegex(raw.ask("SYST:ERR?"), LOCKED)
        self.assertRegex(raw.ask("SYST:ERR?"), LOCKED)
        self.assertEqual(set_frames(self.sim, mark), [])
        # The holder goes on; its lock goes with its link.
        holder.write("CHAN 7")
        self.assertEqual(holder.query("CHAN?"), "7")
        holder.close()
        server.wait_log(r"VXI-11 link \d+ \(127\.0\.0\.1\) released the lock")
        self.assertEqual(link.write(b"CHAN 5"), (0, 6))
        self.assertEqual(raw.ask("CHAN?"), "5")

    def test_a_read_waits_without_holding_anyone_up_and_abort_ends_it(self):
        server = self.serve()
        link = self.link(server)
        self.assertEqual(link.write(b"*OPC"), (0, 4))  # no reply to come
        raw = server.connect()
        result = {}

        def read(io_timeout):
            began = time.monotonic()
            result["read"] = link.read(io_timeout=io_timeout)
            result["took"] = time.monotonic() - began

        waiting = threading.Thread(target=read, args=(1500,))
        waiting.start()
        self.assertTrue(raw.ask("*IDN?").startswith("Zorvane,"))
        self.assertEqual(self.link(server).ask("CHAN?"), "1")
        waiting.join(5)
        self.assertEqual(result["read"], (15, 0, b""))
        self.assertGreater(result["took"], 1.4)

        # The abort channel, on the port create_link told, ends a waiting read at once (an
        # abort before the read has come ends nothing).
        self.assertEqual(link.abort_port, server.abort_port)
        waiting = threading.Thread(target=read, args=(10000,))
        waiting.start()
        abort = rpc.Connection(("127.0.0.1", link.abort_port))
        self.addCleanup(abort.close)
        deadline = time.monotonic() + 5
        while waiting.is_alive() and time.monotonic() < deadline:
            self.assertEqual(abort.call(rpc.ABORT, 1, rpc.words(link.lid)).u32(), 0)
            waiting.join(0.05)
        self.assertEqual(result["read"], (23, 0, b""))
        self.assertLess(result["took"], 5)
        self.assertEqual(abort.call(rpc.ABORT, 1, rpc.words(link.lid + 100)).u32(), 4)

    def test_registers_with_the_machines_rpcbind(self):
        rpcbind = shutil.which("rpcbind") or "/usr/sbin/rpcbind"
        if not os.path.exists(rpcbind):
            self.skipTest("rpcbind is not installed")
        daemon = subprocess.Popen([rpcbind, "-f"], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        self.addCleanup(harness.stop_process, daemon)
        harness.wait_until(lambda: "portmapper" in run("rpcinfo", "-p", "127.0.0.1").stdout, 5,
                           "rpcbind answering")
        server = self.serve()
        self.assertEqual(server.portmapper, "registered with the portmapper on 127.0.0.1:111")
        self.assertIn("395183    1   tcp  %5d" % server.core[1],
                      run("rpcinfo", "-p", "127.0.0.1").stdout)
        inst = self.instrument(server)
        self.assertTrue(inst.query("*IDN?").startswith("Zorvane,"))
        inst.close()
        self.assertEqual(server.interrupt(), 0)
        server.wait_log("unregistered from the portmapper on 127.0.0.1:111")
        self.assertNotIn("395183", run("rpcinfo", "-p", "127.0.0.1").stdout)

    def test_without_a_portmapper_the_log_names_the_port(self):
        holder = socket.socket()
        self.addCleanup(holder.close)
        holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)  # past earlier TIME_WAITs
        try:
            holder.bind(("127.0.0.1", 111))
        except OSError as error:
            self.skipTest("cannot hold port 111: %s" % error)
        holder.listen()
        server = self.serve()
        self.assertEqual(server.portmapper,
                         "no portmapper: port 111: Address already in use, and none on "
                         "127.0.0.1:111 took our registration; VXI-11 clients must be given "
                         "port %d" % server.core[1])
        self.assertEqual(self.link(server).ask("*IDN?").split(",")[0], "Zorvane")

    def test_no_vxi11_leaves_the_raw_socket_alone(self):
        server = self.serve("--no-vxi11")
        self.assertTrue(server.connect().ask("*IDN?").startswith("Zorvane,"))
        self.assertFalse(any("VXI-11" in line or "portmapper" in line
                             for line in server.lines if line))
        self.assertNotIn("395183", run("rpcinfo", "-p", "127.0.0.1").stdout)

    def test_allow_applies_to_every_door(self):
        server = self.serve("--allow", "127.0.0.2")
        if not self.own_portmapper(server):
            self.skipTest("port 111 is the machine's portmapper's")
        refused = rpc.Connection(server.core)
        self.addCleanup(refused.close)
        self.assertTrue(refused.closed())
        server.wait_log(r"refused 127\.0\.0\.1:\d+: not in --allow")
        mark = server.mark()
        getport = rpc.words(rpc.CORE, 1, rpc.TCP, 0)
        self.assertIsNone(rpc.udp_call(("127.0.0.1", 111), rpc.PORTMAPPER, rpc.GETPORT, getport,
                                       timeout=0.5))
        self.assertFalse(any("refused" in line for line in server.lines[mark:] if line),
                         "datagrams refused are not logged")
        answer = rpc.udp_call(("127.0.0.1", 111), rpc.PORTMAPPER, rpc.GETPORT, getport,
                              source="127.0.0.2")
        self.assertEqual(answer.u32(), server.core[1])

    def test_random_bytes_on_every_port(self):
        server = self.serve()
        mark = self.sim.mark()
        rng = random.Random(11)
        core, abort, pmap = server.core, ("127.0.0.1", server.abort_port), ("127.0.0.1", 111)
        ports = [core, abort, pmap] if self.own_portmapper(server) else [core, abort]
        calls = [rpc.call_message(1, rpc.CORE, 1, rpc.CREATE_LINK,
                                  rpc.words(1, 0, 0) + rpc.opaque(b"inst0")),
                 rpc.call_message(2, rpc.CORE, 1, rpc.WRITE,
                                  rpc.words(1, 100, 0, rpc.END) + rpc.opaque(b"*IDN?")),
                 rpc.call_message(3, rpc.CORE, 1, rpc.READ, rpc.words(1, 100, 50, 0, 0, 0)),
                 rpc.call_message(4, rpc.CORE, 1, rpc.LOCK, rpc.words(1, 1, 100)),
                 rpc.call_message(5, rpc.ABORT, 1, 1, rpc.words(1)),
                 rpc.call_message(6, rpc.PORTMAPPER, 2, rpc.GETPORT, rpc.words(rpc.CORE, 1, 6, 0)),
                 rpc.call_message(7, rpc.PORTMAPPER, 2, rpc.DUMP)]

        def message():
            data = bytearray(rng.choice(calls))
            for _ in range(rng.randrange(4)):
                data[rng.randrange(len(data))] = rng.randrange(256)
            return bytes(data[:rng.randrange(len(data) + 1)]) if rng.random() < 0.2 else bytes(data)

        def record():
            choice = rng.random()
            if choice < 0.1:
                return rpc.words(0x7FFFFFF0 | rng.randrange(16))  # 2 GB, never the last
            if choice < 0.2:
                return rpc.words(0) * rng.randrange(1, 300)  # fragments that never end
            if choice < 0.3:
                return bytes(rng.randrange(256) for _ in range(rng.randrange(1, 64)))
            data = message()
            return rpc.words(0x80000000 | len(data)) + data

        conns = []
        deadline = time.monotonic() + 3
        sent = datagrams = 0
        udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(udp.close)
        while time.monotonic() < deadline:
            if rng.random() < 0.3 and pmap in ports:
                udp.sendto(message(), pmap)
                datagrams += 1
                continue
            if len(conns) < 12 or rng.random() < 0.05:
                try:
                    conns.append(socket.create_connection(rng.choice(ports), 2))
                except OSError:
                    pass
            sock = rng.choice(conns)
            try:
                sock.sendall(record())
                sent += 1
            except OSError:
                conns.remove(sock)
                sock.close()
            if len(conns) > 40:
                conns.pop(0).close()
        for sock in conns:
            sock.close()
        self.assertGreater(sent + datagrams, 1000)
        # Thousands of links asked for: the most are made, the rest refused with error 9.
        many = rpc.Connection(core)
        self.addCleanup(many.close)
        errors = [many.call(rpc.CORE, rpc.CREATE_LINK, rpc.words(1, 0, 0) + rpc.opaque(b"inst0"))
                  .u32() for _ in range(2000)]
        self.assertEqual(errors.count(0) + errors.count(9), 2000)
        self.assertGreater(errors.count(9), 1900)

        closing = server.mark()
        many.close()
        if errors.count(0):
            server.wait_log(r"client \d+ closed: VXI-11 link \d+ gone with its connection",
                            since=closing)
        self.assertIsNone(server.proc.poll())
        self.assertTrue(server.connect().ask("*IDN?").startswith("Zorvane,"))
        self.assertTrue(self.instrument(server).query("*IDN?").startswith("Zorvane,"))
        self.assertEqual(set_frames(self.sim, mark), [])

        # Connections beyond one a client and eight more are closed at once.
        crowd = [socket.create_connection(core, 2) for _ in range(16)]
        for sock in crowd:
            self.addCleanup(sock.close)
        server.wait_log(r"refused 127\.0\.0\.1:\d+: already 16 connections to the VXI-11 core "
                        r"channel")


class DiscoveryTest(support.SimTest):
    """lxi discover in one network namespace finds the server listening in another."""

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("network namespaces need root")
        tag = "zv%d" % os.getpid()
        self.server_ns, self.client_ns = tag + "s", tag + "c"
        for ns in (self.server_ns, self.client_ns):
            done = run("ip", "netns", "add", ns)
            if done.returncode != 0:
                self.skipTest("no network namespaces here: %s" % done.stderr.strip())
            self.addCleanup(run, "ip", "netns", "del", ns)
        for command in (
                ["ip", "link", "add", tag + "a", "netns", self.server_ns, "type", "veth", "peer",
                 "name", tag + "b", "netns", self.client_ns],
                ["ip", "-n", self.server_ns, "addr", "add", "198.18.7.1/24", "brd", "+", "dev",
                 tag + "a"],
                ["ip", "-n", self.client_ns, "addr", "add", "198.18.7.2/24", "brd", "+", "dev",
                 tag + "b"],
                ["ip", "-n", self.server_ns, "link", "set", tag + "a", "up"],
                ["ip", "-n", self.client_ns, "link", "set", tag + "b", "up"],
                ["ip", "-n", self.server_ns, "link", "set", "lo", "up"],
                ["ip", "-n", self.client_ns, "link", "set", "lo", "up"]):
            done = run(*command)
            self.assertEqual(done.returncode, 0, "%s: %s" % (command, done.stderr))
        super().setUp()

    def test_lxi_discover_finds_it_by_broadcast(self):
        server = support.Server(["ip", "netns", "exec", self.server_ns, CTL, "-p",
                                 str(self.sim.link)], listen="198.18.7.1:5025")
        self.addCleanup(harness.stop_process, server.proc)
        self.assertEqual(server.portmapper, "portmapper on 198.18.7.1:111 (tcp, udp)")
        done = run("ip", "netns", "exec", self.client_ns, "lxi", "discover", timeout=30)
        self.assertIn('Found "Zorvane,Tunable laser module,%s,' % self.sim.link, done.stdout)
        self.assertIn("on address 198.18.7.1", done.stdout)
        self.assertEqual(server.interrupt(), 0)


if __name__ == "__main__":
    harness.parse_args()
    CTL = str(harness.path_of("ctl"))
    support.hold_port111()  # for the whole run: the test's own holders of the port too
    unittest.main(verbosity=2)
