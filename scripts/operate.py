#!/usr/bin/env python3
"""Does what an operator does first, for the run command without a display: starts Zorvane,
picks the port in the list with the pointer, presses OpenPort, waits until the module's
values are shown and saves a screenshot of the window. Uses the end-to-end tests' harness
(real X pointer events; the probe reads the window's state). DISPLAY and WINEPREFIX come
from the environment.

Usage: operate.py --exe Zorvane.exe --probe zorvane-probe.exe --port COM40 --shot out.png"""

import argparse
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import harness as h  # noqa: E402

VALUES = (h.IDC_CHANNEL_EDIT, h.IDC_FREQUENCY, h.IDC_WAVELENGTH, h.IDC_ITLA_CHANNEL, h.IDC_POWER_EDIT)


def values_shown(state):
    return all(state.text(c) for c in VALUES) and state.text(h.IDC_ACTIVE) in ("ON", "OFF")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for option in ("--exe", "--probe", "--port", "--shot"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    h.parse_args(["--exe", args.exe, "--probe", args.probe, "--artifacts", str(Path(args.shot).parent)])

    session = h.Session()
    h.App(session)
    session.choose_port(args.port)
    session.click(h.IDC_OPENPORT)
    state = session.probe.wait_state(values_shown, 10, "the module's values in the window")
    # Without a window manager nobody draws the caption: photograph the window's inside.
    left, top, right, bottom = state.rect("window.client")
    subprocess.run(["import", "-window", "root", "-crop",
                    "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage", args.shot],
                   check=True, timeout=30)
    print("%s opened; shown: %s" % (args.port, ", ".join(state.text(c) for c in VALUES + (h.IDC_ACTIVE,))))


if __name__ == "__main__":
    main()
