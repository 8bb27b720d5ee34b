"""End-to-end test harness: the real Zorvane.exe under Wine and Xvfb, real pointer and keys
through xdotool, the simulated module (zorvane-sim) on a virtual COM port, and
zorvane-probe.exe to read the window's state from inside the Wine prefix.

Paths come from the command line (--exe, --probe, --sim; see parse_args) or from the
environment (ZORVANE_EXE, ZORVANE_PROBE, ZORVANE_SIM); the defaults are the win64 and host
build directories of the repository. DISPLAY and WINEPREFIX are used when set; otherwise the
harness starts its own Xvfb and uses a private prefix under build/. Screenshots and logs go
to $ZORVANE_E2E_ARTIFACTS (default build/test-artifacts).

Every wait is on a condition with a time-out. Clean-up (the program, the probe, the sims,
our Xvfb, the wineserver of a private prefix) runs on exit, failure and SIGTERM alike.
"""

import argparse
import atexit
import os
import queue
import re
import signal
import subprocess
import sys
import threading
import time
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WINE64 = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
CAPTION = "Zorvane-D20230711"

# Control ids of the dialog template.
IDC_OPENPORT = 1000
IDC_SET_POWER = 1001
IDC_SET_CHANNEL = 1002
IDC_PORTLIST = 1003
IDC_ACTIVE = 1004
IDC_POWER_EDIT = 1005
IDC_WAVELENGTH = 1006
IDC_CHANNEL_EDIT = 1007
IDC_POWER_SLIDER = 1008
IDC_FREQUENCY = 1009
IDC_ITLA_CHANNEL = 1010
IDC_CHANNEL_SLIDER = 1011
IDC_POWER_DOWN = 1013
IDC_POWER_UP = 1014
IDC_CHANNEL_DOWN = 1015
IDC_CHANNEL_UP = 1016
IDC_CHANNEL_LABEL = 1020
IDC_POWER_LABEL = 1021

FIRST_TEST_PORT = 41


class HarnessError(AssertionError):
    """A condition the test waited for did not come, or a tool failed."""


def wait_until(predicate, timeout, what, interval=0.02):
    """Polls predicate until it returns a true value, which is returned; raises on time-out."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise HarnessError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


# ---------------------------------------------------------------------------------------------
# Paths and options

_paths = {}


def parse_args(argv=None):
    """Takes --exe, --probe, --sim, --ctl and --artifacts off sys.argv (the rest is unittest's)."""
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--exe")
    parser.add_argument("--probe")
    parser.add_argument("--sim")
    parser.add_argument("--ctl")
    parser.add_argument("--artifacts")
    args, rest = parser.parse_known_args(sys.argv[1:] if argv is None else argv)
    sys.argv[1:] = rest
    _paths.update({k: v for k, v in vars(args).items() if v})


def path_of(name):
    defaults = {
        "exe": ROOT / "build/win64/app/Zorvane.exe",
        "probe": ROOT / "build/win64/tests/e2e/zorvane-probe.exe",
        "sim": ROOT / "build/host/sim/zorvane-sim",
        "ctl": ROOT / "build/win64/ctl/zorvane-ctl.exe",
        "artifacts": ROOT / "build/test-artifacts",
    }
    value = _paths.get(name) or os.environ.get("ZORVANE_" + ("E2E_ARTIFACTS" if name == "artifacts" else name.upper()))
    return Path(value).resolve() if value else defaults[name]


def artifacts_dir():
    d = path_of("artifacts")
    d.mkdir(parents=True, exist_ok=True)
    return d


# ---------------------------------------------------------------------------------------------
# Processes we started, stopped on exit whatever happens

_cleanups = []


def cleanup():
    while _cleanups:
        fn = _cleanups.pop()
        try:
            fn()
        except Exception as e:  # clean-up must go on
            print("clean-up: %s" % e, file=sys.stderr)


atexit.register(cleanup)


def _on_sigterm(signum, frame):
    raise SystemExit("terminated by signal %d" % signum)


signal.signal(signal.SIGTERM, _on_sigterm)


def stop_process(proc, timeout=3.0):
    """Terminates one process we started (by its pid), then kills it if it lingers."""
    if proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(5)


def quit_process(proc):
    """Asks a process that reads commands to quit, then stops it if it does not."""
    if proc.poll() is None:
        try:
            proc.stdin.write("quit\n")
            proc.stdin.flush()
            proc.wait(3)
        except Exception:
            pass
    stop_process(proc)


class LineReader:
    """Reads a pipe on a thread, so that waits on its lines can time out."""

    def __init__(self, stream, on_line=None):
        self.lines = queue.Queue()
        self.on_line = on_line
        self.thread = threading.Thread(target=self._run, args=(stream,), daemon=True)
        self.thread.start()

    def _run(self, stream):
        for line in iter(stream.readline, ""):
            line = line.rstrip("\r\n")
            if self.on_line:
                self.on_line(line)
            else:
                self.lines.put(line)
        self.lines.put(None)

    def get(self, timeout):
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise HarnessError("no output within %.1f s" % timeout)
        if line is None:
            raise HarnessError("the process closed its output")
        return line


# ---------------------------------------------------------------------------------------------
# The display

class Display:
    def __init__(self):
        self.proc = None
        given = os.environ.get("DISPLAY")
        if given and subprocess.run(["xdotool", "getdisplaygeometry"], capture_output=True).returncode == 0:
            self.name = given
            return
        n = 90
        while os.path.exists("/tmp/.X11-unix/X%d" % n) or os.path.exists("/tmp/.X%d-lock" % n):
            n += 1
        self.name = ":%d" % n
        self.proc = subprocess.Popen(["Xvfb", self.name, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _cleanups.append(lambda: stop_process(self.proc))
        wait_until(lambda: os.path.exists("/tmp/.X11-unix/X%d" % n) or self.proc.poll() is not None,
                   10, "Xvfb on %s" % self.name)
        if self.proc.poll() is not None:
            raise HarnessError("Xvfb did not start on %s" % self.name)
        os.environ["DISPLAY"] = self.name


def xdotool(*args):
    result = subprocess.run(["xdotool", *[str(a) for a in args]], capture_output=True, text=True, timeout=20)
    if result.returncode != 0:
        raise HarnessError("xdotool %s failed: %s" % (" ".join(map(str, args)), result.stderr.strip()))
    return result.stdout


def move_pointer(x, y):
    """Moves the pointer and waits until it is there. xdotool's --sync waits for the pointer
    to move, and so for about 15 s when it is at the target already."""
    where = dict(line.split("=", 1) for line in xdotool("getmouselocation", "--shell").split())
    if (int(where["X"]), int(where["Y"])) != (x, y):
        xdotool("mousemove", "--sync", x, y)


def screenshot(name):
    """Saves the whole screen as <artifacts>/<name>.png and returns the path."""
    path = artifacts_dir() / (name + ".png")
    subprocess.run(["import", "-window", "root", str(path)], check=True, timeout=30,
                   capture_output=True)
    return path


# ---------------------------------------------------------------------------------------------
# The Wine prefix

class Prefix:
    def __init__(self):
        given = os.environ.get("WINEPREFIX")
        self.private = not given
        self.path = Path(given) if given else ROOT / "build/e2e-wineprefix"
        os.environ["WINEPREFIX"] = str(self.path)
        os.environ.setdefault("WINEDEBUG", "-all")
        self.wine_log = open(artifacts_dir() / "wine-stderr.log", "a")
        if self.private:
            # The prefix is ours: a server left by an earlier run would stall the preparation,
            # which waits for the server to end.
            self.kill_server()
            subprocess.run(["bash", "-c", 'source "$1/scripts/wine-env.sh" && zorvane_prepare_prefix', "-", str(ROOT)],
                           check=True, timeout=300, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # One server for the whole run: each Wine start then takes milliseconds.
            subprocess.run([WINESERVER, "-p"], check=True, timeout=30, stdout=self.wine_log, stderr=self.wine_log)
            _cleanups.append(self.kill_server)
        self.dosdevices = self.path / "dosdevices"
        self.clear_test_links()

    def kill_server(self):
        subprocess.run([WINESERVER, "-k"], timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def link(self, port):
        return self.dosdevices / ("com%d" % port)

    def clear_test_links(self):
        """Removes dangling COM links a crashed earlier run may have left (COM41 and up)."""
        for p in self.dosdevices.glob("com*"):
            m = re.fullmatch(r"com(\d+)", p.name)
            if m and int(m.group(1)) >= FIRST_TEST_PORT and p.is_symlink() and not p.exists():
                p.unlink()

    def start(self, exe, **kw):
        return subprocess.Popen([WINE64, str(exe)], cwd=str(Path(exe).parent), stderr=self.wine_log, **kw)


# ---------------------------------------------------------------------------------------------
# The probe

def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r"}.get(m.group(1), m.group(1)), text)


class State(dict):
    """The probe's answer: key=value, with helpers for the common reads."""

    def text(self, ctl):
        return self.get("ctl.%d.text" % ctl)

    def enabled(self, ctl):
        return self.get("ctl.%d.enabled" % ctl) == "1"

    def visible(self, ctl):
        return self.get("ctl.%d.visible" % ctl) == "1"

    def rect(self, key):
        return tuple(int(v) for v in self[key].split(","))

    def ctl_rect(self, ctl):
        return self.rect("ctl.%d.rect" % ctl)

    def num(self, key):
        return int(self[key])

    def slider(self, ctl):
        p = "slider.%d." % ctl
        tics = self.get(p + "tics", "")
        return {"pos": self.num(p + "pos"), "min": self.num(p + "min"), "max": self.num(p + "max"),
                "tics": [int(t) for t in tics.split(",")] if tics else []}

    def ports(self):
        items = self.get("ports.items", "")
        return items.split(",") if items else []

    def focus(self):
        return int(self.get("focus.id", 0))

    def error_boxes(self):
        return [self["errorbox.%d.text" % i] for i in range(int(self.get("errorbox.count", 0)))]


class Probe:
    def __init__(self, prefix):
        exe = path_of("probe")
        if not exe.exists():
            raise HarnessError("probe not built: %s" % exe)
        self.proc = prefix.start(exe, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        _cleanups.append(self.close)
        self.reader = LineReader(self.proc.stdout)

    def ask(self, command, timeout=20):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()
        state = State()
        while True:
            line = self.reader.get(timeout)
            if line == "end":
                return state
            key, _, value = line.partition("=")
            state[key] = unescape(value)

    def state(self):
        return self.ask("state")

    def wait_window(self, timeout=20):
        if self.ask("wait %d" % int(timeout * 1000), timeout + 5).get("found") != "1":
            raise HarnessError("no window captioned %s within %.0f s" % (CAPTION, timeout))

    def wait_gone(self, timeout):
        return self.ask("waitgone %d" % int(timeout * 1000), timeout + 5).get("gone") == "1"

    def wait_state(self, predicate, timeout, what):
        """Polls the window's state until predicate(state) holds; returns that state."""
        last = {}

        def check():
            last["s"] = self.state()
            return last["s"] if predicate(last["s"]) else None
        try:
            return wait_until(check, timeout, what, interval=0.05)
        except HarnessError as e:
            shot = screenshot("timeout-%s" % time.strftime("%H%M%S"))
            raise HarnessError("%s; last state: %s; screen: %s" % (e, summary(last.get("s", {})), shot))

    def device_change(self):
        if self.ask("devchange").get("posted") != "1":
            raise HarnessError("could not post WM_DEVICECHANGE")

    def close_window(self):
        if self.ask("close").get("posted") != "1":
            raise HarnessError("could not post SC_CLOSE")

    def exists(self, port):
        return self.ask("exists %d" % port).get("exists") == "1"

    def present(self):
        """The list texts of the ports that exist now, in the order the program probes them."""
        items = self.ask("present").get("present", "")
        return items.split(",") if items else []

    def stays(self, predicate, duration, what):
        """Checks that predicate(state) holds throughout the next `duration` seconds."""
        deadline = time.monotonic() + duration
        while True:
            state = self.state()
            if not predicate(state):
                raise HarnessError("%s no longer holds; state: %s" % (what, summary(state)))
            if time.monotonic() >= deadline:
                return state
            time.sleep(0.05)

    def close(self):
        quit_process(self.proc)


def summary(state):
    keys = ["ctl.%d.text" % c for c in (IDC_OPENPORT, IDC_CHANNEL_EDIT, IDC_FREQUENCY, IDC_WAVELENGTH,
                                         IDC_ITLA_CHANNEL, IDC_POWER_EDIT, IDC_ACTIVE)]
    keys += ["ports.items", "ports.sel", "focus.id", "errorbox.count"]
    return ", ".join("%s=%r" % (k, state.get(k)) for k in keys)


# ---------------------------------------------------------------------------------------------
# The simulated module

FRAME_RE = re.compile(r"^(\d+\.\d+) (RX|TX|DROP|CMD|ERR)(?: (.*))?$")


class Event:
    def __init__(self, t, local, kind, data):
        self.t = t            # the sim's clock: seconds since it started
        self.local = local    # our time.monotonic() when the line arrived
        self.kind = kind
        self.data = data

    @property
    def bytes(self):
        return bytes(int(b, 16) for b in self.data.split())

    @property
    def code(self):
        return self.bytes[2]

    def __repr__(self):
        return "%.3f %s %s" % (self.t, self.kind, self.data)


class Sim:
    """One zorvane-sim on the prefix's COM<port> link."""

    def __init__(self, prefix, port, *options):
        exe = path_of("sim")
        if not exe.exists():
            raise HarnessError("sim not built: %s" % exe)
        self.port = port
        self.link = prefix.link(port)
        self.events = []
        self.cond = threading.Condition()
        self.stderr = open(artifacts_dir() / ("sim-com%d.stderr" % port), "a")
        self.proc = subprocess.Popen([str(exe), "--link", str(self.link), *map(str, options)],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr,
                                     text=True, bufsize=1)
        _cleanups.append(self.stop)
        self.pty = None
        self.reader = LineReader(self.proc.stdout, self._line)
        with self.cond:
            if not self.cond.wait_for(lambda: self.pty is not None or self.proc.poll() is not None, 10):
                raise HarnessError("sim on COM%d printed no pty line" % port)
        if self.pty is None:
            raise HarnessError("sim on COM%d exited with %s" % (port, self.proc.returncode))
        wait_until(lambda: os.path.lexists(self.link), 5, "link %s" % self.link)

    def _line(self, line):
        now = time.monotonic()
        with self.cond:
            if line.startswith("pty "):
                self.pty = line[4:]
            else:
                m = FRAME_RE.match(line)
                if m:
                    self.events.append(Event(float(m.group(1)), now, m.group(2), m.group(3) or ""))
            self.cond.notify_all()

    def command(self, text, timeout=5):
        """Sends a command line and waits for its CMD acknowledgement."""
        with self.cond:
            start = len(self.events)
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        with self.cond:
            ok = self.cond.wait_for(lambda: any(e.kind in ("CMD", "ERR") for e in self.events[start:]), timeout)
            if not ok:
                raise HarnessError("sim gave no answer to %r" % text)
            reply = next(e for e in self.events[start:] if e.kind in ("CMD", "ERR"))
        if reply.kind == "ERR":
            raise HarnessError("sim refused %r: %s" % (text, reply.data))

    def mark(self):
        """Position in the log; frames(since=mark) then gives what came after. The log comes
        through a pipe that may trail what the simulator did: a line it refuses, answered in
        order after every line before it, marks where the log has caught up."""
        with self.cond:
            start = len(self.events)
        self.proc.stdin.write("sync\n")
        self.proc.stdin.flush()
        with self.cond:
            if not self.cond.wait_for(lambda: any(e.kind in ("CMD", "ERR")
                                                  for e in self.events[start:]), 5):
                raise HarnessError("sim gave no answer to a sync")
            return len(self.events)

    def frames(self, kind="RX", since=0):
        with self.cond:
            return [e for e in self.events[since:] if e.kind == kind]

    def codes(self, kind="RX", since=0):
        return [e.code for e in self.frames(kind, since)]

    def wait_frames(self, predicate, timeout, what, kind="RX", since=0):
        """Waits until predicate(list of frames of that kind) holds; returns that list."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                frames = [e for e in self.events[since:] if e.kind == kind]
                if predicate(frames):
                    return frames
                left = deadline - time.monotonic()
                if left <= 0:
                    raise HarnessError("timed out after %.1f s waiting for %s; %s frames: %s"
                                       % (timeout, what, kind, frames[-20:]))
                self.cond.wait(left)

    def clock_offset(self):
        """time.monotonic() minus the sim's clock, from the earliest-arriving line."""
        with self.cond:
            return min(e.local - e.t for e in self.events)

    def stop(self):
        quit_process(self.proc)
        if self.link.is_symlink() and not self.link.exists():
            self.link.unlink()


# ---------------------------------------------------------------------------------------------
# The program

class App:
    """Zorvane.exe, started in the prefix; waits for its window."""

    def __init__(self, session, timeout=30):
        exe = path_of("exe")
        if not exe.exists():
            raise HarnessError("Zorvane.exe not built: %s" % exe)
        self.session = session
        if session.probe.ask("find").get("found") == "1":
            raise HarnessError("a window captioned %s is already open" % CAPTION)
        self.proc = session.prefix.start(exe, stdout=subprocess.DEVNULL)
        self.started = time.monotonic()
        _cleanups.append(self.kill)
        session.probe.wait_window(timeout)
        self.window_after = time.monotonic() - self.started

    def alive(self):
        return self.proc.poll() is None

    def wait_exit(self, timeout):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def close(self, timeout=5):
        """Closes the window the way the caption's close button does; returns the exit code."""
        if not self.alive():
            return self.proc.returncode
        self.session.probe.close_window()
        return self.wait_exit(timeout)

    def close_or_kill(self):
        if self.close() is None:
            self.kill()
        self.session.probe.wait_gone(5)

    def kill(self):
        stop_process(self.proc, timeout=2)


class Session:
    """Display, prefix and probe for one test script; pointer and keyboard helpers."""

    def __init__(self):
        self.display = Display()
        self.prefix = Prefix()
        self.probe = Probe(self.prefix)
        self.next_port = FIRST_TEST_PORT

    def free_port(self):
        """A COM number of the test range with no link in the prefix."""
        while self.prefix.link(self.next_port).exists() or self.prefix.link(self.next_port).is_symlink():
            self.next_port += 1
        port = self.next_port
        self.next_port += 1
        return port

    def sim(self, *options, port=None):
        return Sim(self.prefix, port or self.free_port(), *options)

    def app(self, timeout=30):
        return App(self, timeout)

    # Pointer and keys: real X events through XTEST.

    def centre(self, ctl, state=None):
        state = state or self.probe.state()
        left, top, right, bottom = state.ctl_rect(ctl)
        return (left + right) // 2, (top + bottom) // 2

    def click_at(self, x, y):
        move_pointer(x, y)
        xdotool("click", "1")

    def click(self, ctl, state=None):
        """Clicks a control at its centre; returns the moment of the click."""
        move_pointer(*self.centre(ctl, state))
        t = time.monotonic()
        xdotool("click", "1")
        return t

    def press(self, ctl, state=None):
        move_pointer(*self.centre(ctl, state))
        xdotool("mousedown", "1")

    def release(self):
        xdotool("mouseup", "1")

    def key(self, *keys):
        xdotool("key", "--delay", "50", *keys)

    def type(self, text):
        xdotool("type", "--delay", "50", text)

    def choose_port(self, text):
        """Chooses a port in the list with the pointer: drop the list down, click the entry."""
        state = self.probe.state()
        index = state.ports().index(text)
        if state.num("ports.sel") == index:
            return
        self.click(IDC_PORTLIST, state)
        state = self.probe.wait_state(lambda st: "droplist.client" in st, 5, "the port list to drop down")
        left, top, right, bottom = state.rect("droplist.client")
        height = state.num("droplist.itemheight")
        row = index - state.num("droplist.top")
        if row >= 0 and top + (row + 1) * height <= bottom:
            self.click_at((left + right) // 2, top + row * height + height // 2)
        else:  # scrolled out of view: walk there with the keys
            self.key("Home", *["Down"] * index, "Return")
        self.probe.wait_state(lambda st: st.num("ports.sel") == index and st["ports.dropped"] == "0", 5,
                              "%s to be chosen" % text)

    def focus_window(self):
        """Gives the program's X window the keyboard focus (there is no window manager)."""
        ids = xdotool("search", "--name", "^%s$" % CAPTION).split()
        if not ids:
            raise HarnessError("no X window named %s" % CAPTION)
        xdotool("windowfocus", "--sync", ids[0])


class TestCase(unittest.TestCase):
    """One session (display, prefix, probe) per test class; sims and the program per test."""

    @classmethod
    def setUpClass(cls):
        cls.session = Session()
        cls.probe = cls.session.probe

    @classmethod
    def tearDownClass(cls):
        cleanup()

    def start_sim(self, *options, port=None):
        sim = self.session.sim(*options, port=port)
        self.addCleanup(sim.stop)
        return sim

    def start_app(self):
        app = self.session.app()
        self.addCleanup(app.close_or_kill)
        return app

    def open_port(self, sim):
        """Chooses the sim's port and clicks OpenPort; returns the moment of the click."""
        self.session.choose_port("COM%d" % sim.port)
        t = self.session.click(IDC_OPENPORT)
        self.probe.wait_state(lambda st: st.text(IDC_OPENPORT) == "ClosePort", 5, "ClosePort")
        return t


def main():
    """Entry for the test scripts: strips our options, then runs unittest."""
    parse_args()
    unittest.main(verbosity=2)
