"""How fast zorvane-ctl drives a module on a 9600-baud line: the simulator paces its bytes
as such a line does (zorvane-sim --pace). Prints the median wall time of `info` from start
to exit, and the time per confirmed step of a sweep with --dwell 0, beside the line's floor.
Not a test: run it by hand, preferably on a release build.
Usage: bench_ctl.py PATH-TO-zorvane-ctl PATH-TO-zorvane-sim [RUNS]"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sim"))
import sim_cli_test as simcli  # noqa: E402

BYTE_S = 10 / 9600  # one byte of 8N1
EXCHANGE_S = 12 * BYTE_S  # a 6-byte question and its 6-byte answer


def main():
    ctl = os.path.abspath(sys.argv[1])
    simcli.SIM = os.path.abspath(sys.argv[2])
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    with tempfile.TemporaryDirectory() as tmp:
        link = os.path.join(tmp, "ttyLASER")
        sim = simcli.Sim("--pace", "--link", link)
        try:
            walls = []
            for _ in range(runs):
                start = time.monotonic()
                subprocess.run([ctl, "-p", link, "info"], check=True, stdout=subprocess.DEVNULL)
                walls.append(time.monotonic() - start)
            floor = 8 * EXCHANGE_S
            info = statistics.median(walls)
            print("info: median %.1f ms of %d runs (min %.1f, max %.1f); line floor %.1f ms "
                  "(%.2fx); the window's start-up 1600 ms" % (
                      info * 1000, runs, min(walls) * 1000, max(walls) * 1000, floor * 1000,
                      info / floor))

            start = time.monotonic()
            done = subprocess.run([ctl, "-p", link, "--json", "sweep", "channel", "--dwell", "0"],
                                  check=True, capture_output=True, text=True)
            total = time.monotonic() - start
            steps = [json.loads(line) for line in done.stdout.splitlines()]
            # Between the first and the last confirmation: steps only, no start-up.
            first, last = (time_of(steps[0]), time_of(steps[-1]))
            per_step = (last - first) / (len(steps) - 1)
            print("sweep: %d steps in %.0f ms, %.2f ms per confirmed step; line floor %.1f ms "
                  "(%.2fx)" % (len(steps), total * 1000, per_step * 1000, EXCHANGE_S * 1000,
                              per_step / EXCHANGE_S))
        finally:
            sim.close()


def time_of(step):
    clock = step["time"][11:-1]  # HH:MM:SS.mmm
    h, m, s = clock.split(":")
    return int(h) * 3600 + int(m) * 60 + float(s)


if __name__ == "__main__":
    main()
