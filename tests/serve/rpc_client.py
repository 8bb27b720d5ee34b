"""A small ONC RPC client of the tests' own, over TCP and UDP: VXI-11 calls with their error
codes seen on the wire, the portmapper asked directly, and bytes no real client would send."""
import random
import socket
import struct

import serve_support

CORE, ABORT, PORTMAPPER = 0x0607AF, 0x0607B0, 100000
CREATE_LINK, WRITE, READ, LOCK, UNLOCK, DESTROY_LINK = 10, 11, 12, 18, 19, 23
GETPORT, DUMP = 3, 4
WAITLOCK, END = 1, 8
TCP, UDP = 6, 17


def words(*values):
    return struct.pack(">%dI" % len(values), *values)


def opaque(data):
    return words(len(data)) + data + b"\0" * (-len(data) % 4)


def call_message(xid, program, version, procedure, args=b""):
    return words(xid, 0, 2, program, version, procedure, 0, 0, 0, 0) + args


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def u32(self):
        value, = struct.unpack_from(">I", self.data, self.at)
        self.at += 4
        return value

    def opaque(self):
        size = self.u32()
        value = self.data[self.at:self.at + size]
        self.at += size + (-size % 4)
        return value


def results(reply, xid):
    """The results of a successful reply to call xid; AssertionError for anything else."""
    r = Reader(reply)
    head = [r.u32() for _ in range(3)]
    if head != [xid, 1, 0]:
        raise AssertionError("no accepted reply to %d: %r" % (xid, reply[:24]))
    r.u32()
    r.opaque()  # the verifier
    stat = r.u32()
    if stat != 0:
        raise AssertionError("call %d not successful: accept_stat %d" % (xid, stat))
    return Reader(reply[r.at:])


class Connection:
    """RPC records on one TCP connection."""

    def __init__(self, address, timeout=5.0):
        self.sock = socket.create_connection(address, timeout=timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.xid = random.randrange(1 << 30)

    def send(self, data):
        self.sock.sendall(data)

    def _exactly(self, size):
        data = b""
        while len(data) < size:
            chunk = self.sock.recv(size - len(data))
            if not chunk:
                raise ConnectionError("closed by the server")
            data += chunk
        return data

    def record(self, timeout=5.0):
        self.sock.settimeout(timeout)
        data, last = b"", False
        while not last:
            header, = struct.unpack(">I", self._exactly(4))
            last = bool(header & 0x80000000)
            data += self._exactly(header & 0x7FFFFFFF)
        return data

    def call(self, program, procedure, args=b"", version=1, timeout=5.0):
        """Sends a call and returns a Reader on its results."""
        self.xid += 1
        message = call_message(self.xid, program, version, procedure, args)
        self.send(words(0x80000000 | len(message)) + message)
        return results(self.record(timeout), self.xid)

    def closed(self, timeout=3.0):
        return serve_support.closed(self.sock, timeout)

    def close(self):
        self.sock.close()


def udp_call(address, program, procedure, args=b"", version=2, timeout=2.0, source="127.0.0.1"):
    """One datagram call; the Reader on its results, or None without an answer."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        sock.bind((source, 0))
        sock.settimeout(timeout)
        xid = random.randrange(1 << 30)
        sock.sendto(call_message(xid, program, version, procedure, args), address)
        try:
            reply, _ = sock.recvfrom(65536)
        except socket.timeout:
            return None
        return results(reply, xid)
    finally:
        sock.close()


class Link:
    """A VXI-11 link to inst0 on a connection of its own; the calls answer their error code
    (and what else they return)."""

    def __init__(self, address, lock=False, lock_timeout=0, device=b"inst0"):
        self.rpc = Connection(address)
        r = self.rpc.call(CORE, CREATE_LINK, words(1, int(lock), lock_timeout) + opaque(device))
        self.error, self.lid, self.abort_port, self.max_recv = r.u32(), r.u32(), r.u32(), r.u32()

    def write(self, data, flags=END, io_timeout=1000, lock_timeout=0):
        r = self.rpc.call(CORE, WRITE, words(self.lid, io_timeout, lock_timeout, flags) + opaque(data))
        return r.u32(), r.u32()

    def read(self, size=4096, io_timeout=1000, flags=0, timeout=5.0):
        r = self.rpc.call(CORE, READ, words(self.lid, size, io_timeout, 0, flags, 0), timeout=timeout)
        return r.u32(), r.u32(), r.opaque()

    def ask(self, query):
        error, _ = self.write(query.encode())
        if error:
            return "error %d" % error
        error, _, data = self.read()
        return data.decode().rstrip("\n") if not error else "error %d" % error

    def lock(self, flags=0, lock_timeout=0):
        return self.rpc.call(CORE, LOCK, words(self.lid, flags, lock_timeout)).u32()

    def unlock(self):
        return self.rpc.call(CORE, UNLOCK, words(self.lid)).u32()

    def destroy(self):
        return self.rpc.call(CORE, DESTROY_LINK, words(self.lid)).u32()

    def close(self):
        self.rpc.close()
