"""Benchmark of zorvane-ctl serve, run by hand (not by the test command), on a release build:

    cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release
    cmake --build build/bench --target zorvane-ctl zorvane-sim
    /usr/bin/python3 tests/serve/bench_serve.py build/bench/ctl/zorvane-ctl build/bench/sim/zorvane-sim

Paced at 9600 baud: pyvisa round trips of CHAN? and of a confirmed CHAN <n> against the line's
floor. Unpaced: the server's own time per command from its --trace (reply sent minus command
received, less the module's part: first frame written to last frame read). Eight raw clients
at once. The server's memory over 100 000 bad lines."""
import re
import statistics
import sys
import tempfile
import threading
import time
from datetime import datetime

import serve_support as support
from serve_support import harness

FLOOR_MS = 12 * 1.04  # a 6-byte frame each way at 1.04 ms a byte


def median_ms(samples):
    return statistics.median(samples) * 1000


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as status:
        return int(re.search(r"VmRSS:\s+(\d+)", status.read()).group(1))


def stamp(line):
    text = line.split(" ")[1]
    return datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").timestamp()


def server_times(lines):
    """Per command: (reply sent - command received) - (last port read - first port write)."""
    times = []
    start = first_write = last_read = None
    for line in lines:
        if line is None:
            continue
        if re.search(r" client \d+ < ", line):
            start, first_write, last_read = stamp(line), None, None
        elif " port > " in line and start is not None and first_write is None:
            first_write = stamp(line)
        elif " port < " in line and start is not None:
            last_read = stamp(line)
        elif re.search(r" client \d+ > ", line) and start is not None:
            module = last_read - first_write if first_write and last_read else 0
            times.append(stamp(line) - start - module)
            start = None
    return times


def paced_round_trips(inst, label):
    """CHAN? and a confirmed CHAN <n>, 200 of each, against the line's floor; back at channel 1
    and closed after. Returns the times of CHAN?."""
    query, confirmed = [], []
    for i in range(200):
        t = time.perf_counter()
        inst.query("CHAN?")
        query.append(time.perf_counter() - t)
        t = time.perf_counter()
        inst.query("CHAN %d;*OPC?" % (i % 96 + 1))
        confirmed.append(time.perf_counter() - t)
    print("%s: CHAN? median %.2f ms, CHAN <n> confirmed median %.2f ms, floor %.2f ms "
          "(%.2fx, %.2fx)" % (label, median_ms(query), median_ms(confirmed), FLOOR_MS,
                              median_ms(query) / FLOOR_MS, median_ms(confirmed) / FLOOR_MS))
    inst.query("CHAN 1;*OPC?")
    inst.close()
    return query


def clients_at_once(server, clients=8, each=200):
    """Every reply right and in order per client; the total time."""
    errors = []

    def run(client):
        for i in range(each):
            query, expected = ("CHAN?", "1") if i % 2 == 0 else ("POW?", "10.00")
            reply = client.ask(query, timeout=30)
            if reply != expected:
                errors.append((i, query, reply))

    conns = [server.connect() for _ in range(clients)]
    threads = [threading.Thread(target=run, args=(c,)) for c in conns]
    began = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return time.monotonic() - began, errors


def main(ctl, sim_exe):
    harness.parse_args(["--sim", sim_exe])
    tmp = tempfile.TemporaryDirectory()
    links = support.Links(tmp.name)

    sim = harness.Sim(links, 40, "--pace")
    server = support.Server([ctl, "-p", str(sim.link)])
    query = paced_round_trips(server.resource(), "paced")
    server.wait_log("client 1 closed")  # eight clients are the most let in
    total, errors = clients_at_once(server)
    back_to_back = 1600 * statistics.median(query)
    print("paced: 8 clients x 200 queries in %.2f s, %d wrong or out of order; 1600 exchanges "
          "back to back %.2f s (%.3fx)" % (total, len(errors), back_to_back, total / back_to_back))
    server.interrupt()
    sim.stop()

    sim = harness.Sim(links, 41)
    server = support.Server([ctl, "-p", str(sim.link)], "--trace")
    inst = server.resource()
    mark = server.mark()
    for i in range(200):
        inst.query("CHAN?")
        inst.query("*IDN?")
    times = sorted(server_times(server.lines[mark:]))
    print("unpaced: server time per command median %.3f ms, p99 %.3f ms (%d commands)"
          % (median_ms(times), times[int(len(times) * 0.99)] * 1000, len(times)))
    server.interrupt()

    server = support.Server([ctl, "-p", str(sim.link)])
    client = server.connect()
    pid = server.proc.pid
    bad = [b"BOGUS:NODE %d,,;;\n", b"CHAN 1e999;;;POW nan\n", b"\x00\xff\x01 %d\n",
           b'OUTP "unterminated %d\n', b"x" * 5000 + b"\n"]
    sizes = [rss_kb(pid)]
    for block in range(4):
        data = b"".join(bad[i % len(bad)].replace(b"%d", b"%d" % i) for i in range(25000))
        client.send(data)
        client.ask("*OPC?", timeout=60)
        sizes.append(rss_kb(pid))
    print("memory over 100000 bad lines (every 25000), VmRSS kB: %s" % sizes)
    server.interrupt()
    sim.stop()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
