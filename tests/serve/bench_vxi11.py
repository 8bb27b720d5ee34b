"""Benchmark of zorvane-ctl serve's VXI-11 door, run by hand (not by the test command), on a
release build, as root (its portmapper takes port 111):

    cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release
    cmake --build build/bench --target zorvane-ctl zorvane-sim
    /usr/bin/python3 tests/serve/bench_vxi11.py build/bench/ctl/zorvane-ctl build/bench/sim/zorvane-sim

Paced at 9600 baud: pyvisa round trips over VXI-11 of CHAN? and of a confirmed CHAN <n>
against the line's floor. Unpaced: the server's own time per VXI-11 query from its --trace
(the time it spent on the query's write call, its line and its read call, less the module's
part). Eight VXI-11 links and eight raw clients at once, 200 queries each. The server's
memory over links made and dropped half-written and records that never end."""
import re
import socket
import statistics
import sys
import tempfile
import threading
import time

import bench_serve
import rpc_client as rpc
import serve_support as support
from serve_support import harness

CALL = re.compile(r" (VXI-11 link \d+ [<>] device_(?:write|read)\b|client \d+ [<>] )")


def union_s(intervals):
    total, end = 0.0, None
    for start, stop in sorted(intervals):
        if end is None or start > end:
            total += stop - start
            end = stop
        elif stop > end:
            total += stop - end
            end = stop
    return total


def server_times(lines):
    """Per query (a write call, its line, a read call): the time the server was busy with it,
    its calls and its line's execution together, less the module's part."""
    times = []
    opened, busy, module = {}, [], []
    for line in lines:
        if line is None:
            continue
        if " port > " in line or " port < " in line:
            module.append(bench_serve.stamp(line))
            continue
        match = CALL.search(line)
        if not match:
            continue
        what = match.group(1)
        key = re.sub(r" [<>]", "", what).strip()
        if " < " in what:
            opened[key] = bench_serve.stamp(line)
        elif key in opened:
            busy.append((opened.pop(key), bench_serve.stamp(line)))
            if "device_read" in key:
                spent = union_s(busy) - (max(module) - min(module) if module else 0)
                times.append(spent)
                busy, module = [], []
    return times


def at_once(server, links=8, raws=8, each=200):
    """Every reply right and in order, per client; the total time."""
    errors = []

    def check(ask, name):
        for i in range(each):
            query, expected = ("CHAN?", "1") if i % 2 == 0 else ("POW?", "10.00")
            reply = ask(query)
            if reply != expected:
                errors.append((name, i, query, reply))

    instruments = [server.instrument(timeout_ms=30000) for _ in range(links)]
    raw = [server.connect() for _ in range(raws)]
    threads = [threading.Thread(target=check, args=(inst.query, "link %d" % n))
               for n, inst in enumerate(instruments)]
    threads += [threading.Thread(target=check, args=(lambda q, c=c: c.ask(q, timeout=30),
                                                     "raw %d" % n))
                for n, c in enumerate(raw)]
    began = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    took = time.monotonic() - began
    for inst in instruments:
        inst.close()
    return took, errors


def main(ctl, sim_exe):
    harness.parse_args(["--sim", sim_exe])
    tmp = tempfile.TemporaryDirectory()
    links = support.Links(tmp.name)

    sim = harness.Sim(links, 40, "--pace")
    server = support.Server([ctl, "-p", str(sim.link)], "--max-clients", "16")
    print(server.portmapper)
    query = bench_serve.paced_round_trips(server.instrument(), "paced, VXI-11")
    total, errors = at_once(server)
    back_to_back = 3200 * statistics.median(query)
    print("paced: 8 VXI-11 links and 8 raw clients x 200 queries in %.2f s, %d wrong or out of "
          "order; 3200 exchanges back to back %.2f s (%.3fx)"
          % (total, len(errors), back_to_back, total / back_to_back))
    server.interrupt()
    sim.stop()

    sim = harness.Sim(links, 41)
    server = support.Server([ctl, "-p", str(sim.link)], "--trace")
    inst = server.instrument()
    for _ in range(20):
        inst.query("CHAN?")
    mark = server.mark()
    for _ in range(200):
        inst.query("CHAN?")
        inst.query("*IDN?")
    times = sorted(server_times(server.lines[mark:]))
    print("unpaced, VXI-11: server time per query median %.3f ms, p99 %.3f ms (%d queries)"
          % (bench_serve.median_ms(times), times[int(len(times) * 0.99)] * 1000, len(times)))
    inst.close()
    server.interrupt()

    server = support.Server([ctl, "-p", str(sim.link)])
    pid = server.proc.pid
    raw = server.connect()
    sizes = [bench_serve.rss_kb(pid)]
    for _ in range(4):
        for _ in range(250):
            link = rpc.Link(server.core)
            link.write(b"*IDN?;" * 1000, flags=0)  # a message never ended, past the limit
            link.close()
            endless = socket.create_connection(server.core)
            endless.sendall(rpc.words(60000) + b"x" * 60000)  # a fragment that is not the last
            endless.close()
        raw.ask("*OPC?", timeout=60)
        sizes.append(bench_serve.rss_kb(pid))
    print("memory over 1000 links and 1000 endless records (every 250), VmRSS kB: %s" % sizes)
    server.interrupt()
    sim.stop()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
