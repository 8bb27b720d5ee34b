"""The shipped EPICS files against zorvane-ctl serve, without an IOC (Debian carries none):
every exchange of docs/epics/zorvane.proto replayed over a raw socket, with the module
confirming, refusing, answering another value, silent and gone; and zorvane.db checked
against the protocol file and for how its records are processed.
Usage: epics_test.py --ctl PATH-TO-zorvane-ctl --sim PATH-TO-zorvane-sim [unittest options]"""
import re
import tempfile
import time
import unittest
from pathlib import Path

import serve_support as support
from serve_support import harness

CTL = None
EPICS = Path(__file__).resolve().parents[2] / "docs" / "epics"
# A line sent after each request: its reply is the last the server sends for the request,
# since a client's lines are executed in order, so "no reply" is seen without waiting.
SENTINEL, SENTINEL_REPLY = "SYST:VERS?", "1999.0"


# --- The protocol file: variables, protocols, their out/in commands and handlers. ---------

TOKEN = re.compile(r'\s+|#[^\n]*|"((?:\\.|[^"\\])*)"|([@\w.]+)|([{};=])')
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\", "$": "$"}
CONVERSION = re.compile(r"%([-+ #0*=]*)(\d*)(?:\.(\d+))?(\[\^?\]?[^\]]*\]|[dfesc])")
FLOAT = r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?"


def unescape(text):
    return re.sub(r"\\(x[0-9a-fA-F]{2}|.)",
                  lambda m: chr(int(m.group(1)[1:], 16)) if len(m.group(1)) == 3
                  else ESCAPES[m.group(1)], text)


def tokens(text):
    out, pos = [], 0
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m:
            raise ValueError("cannot read the protocol file at %r" % text[pos:pos + 20])
        pos = m.end()
        if m.group(1) is not None:
            out.append(("string", unescape(m.group(1))))
        elif m.group(2) or m.group(3):
            out.append(("word", m.group(2) or m.group(3)))
    return out


def parse_block(toks, i, variables):
    """Commands up to the matching "}": [("out"|"in", text)], and handlers by name."""
    body, handlers = [], {}
    while toks[i] != ("word", "}"):
        word = toks[i][1]
        if word in ("out", "in"):
            if toks[i + 1][0] != "string" or toks[i + 2] != ("word", ";"):
                raise ValueError("%s takes one string and ;" % word)
            body.append((word, toks[i + 1][1]))
            i += 3
        elif word.startswith("@") and toks[i + 1] == ("word", "{"):
            handlers[word[1:]], _, i = parse_block(toks, i + 2, variables)
        elif toks[i + 1] == ("word", "=") and toks[i + 3] == ("word", ";"):
            variables[word] = toks[i + 2][1]
            i += 4
        else:
            raise ValueError("unknown command %r" % word)
    return body, handlers, i + 1


def parse_proto(path):
    toks = tokens(path.read_text()) + [("word", "}")]
    variables, protocols, i = {}, {}, 0
    while i < len(toks) - 1:
        name = toks[i][1]
        if toks[i + 1] == ("word", "{"):
            local = dict(variables)
            body, handlers, i = parse_block(toks, i + 2, local)
            protocols[name] = (body, handlers, local)
        elif toks[i + 1] == ("word", "=") and toks[i + 3] == ("word", ";"):
            variables[name] = toks[i + 2][1]
            i += 4
        else:
            raise ValueError("unexpected %r at the top level" % name)
    return variables, protocols


def conversions(fmt):
    return list(CONVERSION.finditer(fmt.replace("%%", "")))


def render(fmt, value):
    """An out string with every conversion taking the record's value."""
    def one(m):
        flags, width, prec, conv = m.groups()
        if "*" in flags or "=" in flags or conv not in "dfe":
            raise ValueError("no output of %r" % m.group(0))
        return ("%" + flags + width + ("." + prec if prec else "") + conv) % (
            int(value) if conv == "d" else value)
    return CONVERSION.sub(one, fmt).replace("%%", "%")


def in_pattern(fmt, value):
    """The regex of an in string (a group for each value read) and how each is converted."""
    pattern, kinds, pos = "", [], 0
    for m in CONVERSION.finditer(fmt):
        pattern += re.escape(fmt[pos:m.start()].replace("%%", "%"))
        pos = m.end()
        flags, width, prec, conv = m.groups()
        if "=" in flags:  # compares with the record's value, formatted as for output
            pattern += re.escape(render("%" + flags.replace("=", "") + width +
                                        ("." + prec if prec else "") + conv, value))
            continue
        bound = "{1,%s}" % width if width else "+"
        regex = {"d": r"[-+]?\d+", "f": FLOAT, "e": FLOAT, "s": r"\S" + bound,
                 "c": ".{%s}" % (width or 1)}.get(conv) or (
            "[" + conv[1:-1].replace("\\", "\\\\").replace("[", "\\[") + "]" + bound)
        if "*" in flags:
            pattern += "(?:%s)" % regex
        else:
            pattern += "(%s)" % regex
            kinds.append(int if conv == "d" else float if conv in "fe" else str)
    return pattern + re.escape(fmt[pos:].replace("%%", "%")), kinds


def match(fmt, reply, value, extra_ignored):
    pattern, kinds = in_pattern(fmt, value)
    m = (re.match if extra_ignored else re.fullmatch)(pattern, reply, re.S)
    return [kind(text) for kind, text in zip(kinds, m.groups())] if m else None


# --- The record file. ----------------------------------------------------------------------

RECORD = re.compile(r'record\((\w+),\s*"([^"]+)"\)\s*\{([^{}]*)\}')
FIELD = re.compile(r'field\((\w+),\s*"([^"]*)"\)')
OUTPUT_TYPES = {"ao", "bo", "longout", "mbbo", "stringout"}
LINKS = re.compile(r"FLNK|LNK\d|OUT[A-H]?|DOL|INP[A-L]?|SDIS")
COMMON = {"VAL", "PROC", "SEVR"}
FIELDS = {"ao": COMMON | {"DRVL", "DRVH", "LOPR", "HOPR"},
          "longout": COMMON | {"DRVL", "DRVH", "LOPR", "HOPR"},
          "ai": COMMON | {"LOPR", "HOPR"}, "longin": COMMON | {"LOPR", "HOPR"}}
OOPT = {"Every Time", "On Change", "When Zero", "When Non-zero", "Transition To Zero",
        "Transition To Non-zero"}


def parse_db(path):
    text = re.sub(r"(?m)^\s*#.*$", "", path.read_text())
    records = {}
    for m in RECORD.finditer(text):
        assert m.group(2) not in records, "two records %s" % m.group(2)
        assert not FIELD.sub("", m.group(3)).strip(), "not a field in %s" % m.group(2)
        records[m.group(2)] = (m.group(1), dict(FIELD.findall(m.group(3))))
    outside = RECORD.sub("", text).strip()
    assert not outside, "text outside records: %r" % outside
    return records


def link_target(value):
    """The record and field a database link names ("$(P)X.DRVH NPP" gives $(P)X, DRVH)."""
    name, _, field = value.split()[0].partition(".")
    return name, field or "VAL"


# --- Replaying exchanges. ------------------------------------------------------------------

class Outcome:
    def __init__(self, kind, values=None, reply=None):
        self.kind, self.values, self.reply = kind, values, reply

    def __repr__(self):
        return "%s %r (reply %r)" % (self.kind, self.values, self.reply)


class EpicsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.variables, cls.protocols = parse_proto(EPICS / "zorvane.proto")
        cls.records = parse_db(EPICS / "zorvane.db")
        cls.tmp = tempfile.TemporaryDirectory()
        cls.sim = harness.Sim(support.Links(cls.tmp.name), 40)
        cls.server = support.Server([CTL, "-p", str(cls.sim.link)], "--no-vxi11")

    @classmethod
    def tearDownClass(cls):
        harness.stop_process(cls.server.proc)
        cls.sim.stop()
        cls.tmp.cleanup()

    def setUp(self):
        self.client = self.server.connect()
        self.addCleanup(self.client.close)

    def reply_timeout(self, name):
        return int(self.protocols[name][2]["ReplyTimeout"]) / 1000

    def run_body(self, name, body, value, reply=None):
        """Runs out and in commands as StreamDevice does; reply: input already received
        (a @mismatch handler parses it again)."""
        variables = self.protocols[name][2]
        values = []
        for command, text in body:
            if command == "out":
                replies = self.request(render(text, value), self.reply_timeout(name))
                self.assertLessEqual(len(replies), 1, "%s: more than one reply line" % name)
                reply = replies[0] if replies else None
                continue
            if reply is None:
                return Outcome("timeout", values)
            got = match(text, reply, value, variables.get("ExtraInput") == "Ignore")
            if got is None:
                return Outcome("mismatch", values, reply)
            values += got
            reply = None
        return Outcome("ok", values)

    def request(self, line, reply_timeout):
        """Sends a line; its reply lines, all within the ReplyTimeout: a server still busy
        then would answer after the IOC gave up, into its next request."""
        start = time.monotonic()
        self.client.send(line + "\n" + SENTINEL + "\n")
        replies = []
        while True:
            left = reply_timeout - (time.monotonic() - start)
            try:
                got = self.client.line(max(left, 0.001))
            except (AssertionError, TimeoutError):
                self.fail("%r: the server was still busy after the ReplyTimeout" % line)
            if got == SENTINEL_REPLY:
                return replies
            replies.append(got)

    def put(self, name, value=None):
        """A protocol's main exchange; on a mismatch, its @mismatch handler on the same
        reply. Returns the outcome and the value the record holds after it."""
        body, handlers, _ = self.protocols[name]
        outcome = self.run_body(name, body, value)
        held = outcome.values[0] if outcome.values else value
        if outcome.kind == "mismatch" and "mismatch" in handlers:
            again = self.run_body(name, handlers["mismatch"], value, outcome.reply)
            held = again.values[0] if again.kind == "ok" else value
        return outcome, held

    def init(self, name):
        body = self.protocols[name][1].get("init")
        return self.run_body(name, body, None) if body else None

    def expect(self, name, value, kind, held):
        outcome, got = self.put(name, value)
        self.assertEqual(outcome.kind, kind, "%s %r: %r" % (name, value, outcome))
        if isinstance(held, float):
            self.assertAlmostEqual(got, held, delta=abs(held) * 1e-5, msg=name)
        else:
            self.assertEqual(got, held, name)
        return outcome

    # Sets with the module's value after each, then every other exchange, on a module that
    # starts at channel 1, 10.00 dBm, output on, 96 channels of 50 GHz from 191300 GHz.
    SETS = [("setChannel", 45, 45), ("setPower", 8.5, 8.5), ("setOutput", 0, 0),
            ("setFreq", 193.62e12, 193.6e12), ("setWave", 1549.32e-9, 1549.32e-9)]
    READS = {"getChannel": 45, "getLabel": "C35", "getFreq": 193.5e12, "getWave": 1549.32e-9,
             "getPower": 8.5, "getOutput": 0, "getChannelCount": 96, "getPowerMin": 7.0,
             "getPowerMax": 13.0, "getFreqMin": 191.3e12, "getFreqMax": 196.05e12,
             "getWaveMin": 1529.16e-9, "getWaveMax": 1567.13e-9, "getErrorCount": 0,
             "getError": '0,"No error"', "getModule": 0}
    MODULE_READS = ["getChannel", "getLabel", "getFreq", "getWave", "getPower", "getOutput"]
    LIMITS = ["getChannelCount", "getPowerMin", "getPowerMax", "getFreqMin", "getFreqMax",
              "getWaveMin", "getWaveMax"]

    def test_a_module_that_confirms(self):
        covered = {s[0] for s in self.SETS} | set(self.READS) | {"idn", "session"}
        self.assertEqual(covered, set(self.protocols), "every protocol is replayed here")
        for name, value, answered in self.SETS:
            self.assertEqual(self.init(name).kind, "ok", name)
            self.expect(name, value, "ok", answered)
        for name, value in self.READS.items():
            self.expect(name, None, "ok", value)
        # Whole texts: a stringin's 39 characters would cut the identity.
        idn = self.expect("idn", None, "ok", "Zorvane,Tunable laser module,%s,%s" % (
            self.sim.link, self.client.ask("*IDN?").rsplit(",", 1)[1]))
        self.assertGreater(len(idn.values[0]), 39)
        # A connection starts a new session, and only that reads 0.
        self.expect("session", None, "ok", 0)
        self.expect("session", None, "ok", 1)
        first, self.client = self.client, self.server.connect()
        self.expect("session", None, "ok", 0)
        self.client = first
        self.expect("session", None, "ok", 1)

    def test_b_a_refused_value(self):
        self.put("setChannel", 45)
        self.put("setPower", 8.5)
        # Each is refused (-222) and the rest of the line still answers the module's value.
        for name, value, held in [("setChannel", 200, 45), ("setChannel", 0, 45),
                                  ("setPower", 20, 8.5), ("setFreq", 1e15, 193.5e12),
                                  ("setWave", 1e-3, 1549.32e-9)]:
            self.expect(name, value, "mismatch", held)
        self.assertEqual(self.put("getErrorCount")[1], 5)
        self.drain_errors(["-222,\"Data out of range\""] * 5)

    def drain_errors(self, expected):
        """As the database drains the queue: pop, and again while any are left."""
        texts = [self.put("getError")[1]]
        while self.put("getErrorCount")[1] > 0:
            texts.append(self.put("getError")[1])
        self.assertEqual(texts, expected)

    def test_c_another_value_answered(self):
        # The module's range shrinks behind the server's back: it clamps what is sent.
        self.sim.command("set channels 40")
        self.sim.command("set power-max 1200")
        self.addCleanup(self.sim.command, "set channels 96")
        self.addCleanup(self.sim.command, "set power-max 1300")
        self.expect("setChannel", 50, "mismatch", 40)
        self.expect("setPower", 12.5, "mismatch", 12.0)
        self.expect("setFreq", 193.75e12, "mismatch", 193.25e12)  # channel 50, then 40
        self.expect("setWave", 1547.32e-9, "mismatch", 1551.32e-9)
        texts = [self.put("getError")[1] for _ in range(4)]
        self.assertTrue(all(t.startswith('-200,"Execution error') for t in texts), texts)
        self.assertGreater(len(texts[0]), 39, "longer than a stringin holds")
        self.assertEqual(self.put("getChannel")[1], 40)

    def test_d_a_silent_module(self):
        self.put("setChannel", 45)
        mark = self.server.mark()
        self.sim.command("mute all")
        self.addCleanup(self.sim.command, "unmute all")
        self.module_missing("-241,\"Hardware missing\"", limits_known=True)
        self.server.wait_log("module silent", since=mark)

    def test_e_the_port_gone(self):
        self.put("setChannel", 45)
        mark = self.server.mark()
        self.sim.command("unplug")
        self.module_missing("-241,\"Hardware missing\"", limits_known=False)
        self.server.wait_log("; reopening every second", since=mark)
        self.sim.command("plug")
        deadline = time.monotonic() + 5
        while self.put("getModule")[1] != 0:
            self.assertLess(time.monotonic(), deadline, "the port was not reopened")
        self.expect("getChannel", None, "ok", 45)

    def module_missing(self, error, limits_known):
        """No set succeeds, no value the module must give gets a reply, and the server
        answers what it knows by itself."""
        for name, value, _ in self.SETS:
            outcome = self.expect(name, value, "mismatch", value)
            self.assertRegex(outcome.reply, r"^\d+;16$", "no value without the module")
            self.assertEqual(self.init(name).kind, "timeout", name)
        for name in self.MODULE_READS:
            self.expect(name, None, "timeout", None)
        for name in self.LIMITS:
            self.expect(name, None, *(("ok", self.READS[name]) if limits_known else
                                      ("timeout", None)))
        self.expect("getModule", None, "ok", 1)
        outcome, idn = self.put("idn")
        self.assertEqual(outcome.kind, "ok", outcome)
        self.assertTrue(idn.startswith("Zorvane,"), idn)
        self.expect("getError", None, "ok", error)

    def test_records_match_the_protocols(self):
        used = set()
        for name, (rtype, fields) in self.records.items():
            link = fields.get("OUT" if rtype in OUTPUT_TYPES else "INP", "")
            if fields.get("DTYP") != "stream":
                self.assertFalse(link.startswith("@"), "%s: an @ link without DTYP stream" % name)
                continue
            m = re.fullmatch(r"@zorvane\.proto (\w+) \$\(PORT\)", link)
            self.assertTrue(m, "%s: %r" % (name, link))
            self.assertTrue(m.group(1) in self.protocols, "%s: no protocol %s" % (name, m.group(1)))
            used.add(m.group(1))
            # Texts fit their record: a stringin holds 39 characters, a waveform NELM - 1.
            widths = [int(c.group(2) or 0) for _, text in self.protocols[m.group(1)][0]
                      for c in conversions(text) if c.group(4)[0] in "[sc"]
            room = {"stringin": 39, "waveform": int(fields.get("NELM", 1)) - 1}.get(rtype)
            for width in widths:
                self.assertTrue(room and 0 < width <= room,
                                "%s: %%%d... in a %s" % (name, width, rtype))
            if rtype == "waveform":
                self.assertEqual(fields.get("FTVL"), "CHAR", name)
        self.assertEqual(used, set(self.protocols), "protocols no record uses")

    def test_records_are_processed_as_meant(self):
        records = self.records
        processes = {}  # record -> records its processing processes
        for name, (rtype, fields) in records.items():
            processes[name] = set()
            for field, value in fields.items():
                if not LINKS.fullmatch(field) or value.startswith("@") or not value:
                    continue
                target, tfield = link_target(value)
                self.assertIn(target, records, "%s.%s" % (name, field))
                ttype = records[target][0]
                self.assertIn(tfield, FIELDS.get(ttype, COMMON), "%s.%s" % (name, field))
                if field == "FLNK" or field.startswith("LNK") or tfield == "PROC":
                    self.assertNotIn("SCAN", records[target][1], "%s is not Passive" % target)
                    processes[name].add(target)
            if rtype == "calcout":
                self.assertIn(fields.get("OOPT"), OOPT, name)
            if rtype == "dfanout":
                self.assertEqual(fields.get("OMSL"), "closed_loop", name)

        def reach(start):
            seen, todo = set(), [start]
            while todo:
                for nxt in processes[todo.pop()] - seen:
                    seen.add(nxt)
                    todo.append(nxt)
            return seen

        periodic = [n for n, (_, f) in records.items() if "SCAN" in f]
        self.assertEqual(len(periodic), 1, periodic)
        stream = {n for n, (_, f) in records.items() if f.get("DTYP") == "stream"}
        setpoints = {n for n in stream if records[n][0] in OUTPUT_TYPES}
        self.assertEqual(stream - setpoints - reach(periodic[0]), set(), "never read")
        readbacks = {n for n in stream if n.endswith("_RBV")}
        self.assertEqual(len(readbacks), len(self.MODULE_READS))
        for name in setpoints:
            self.assertEqual(readbacks - reach(name), set(), "%s does not refresh them" % name)
        # Drive limits and display ranges of each analog setpoint come from the module.
        copied = {link_target(v) for _, (t, f) in records.items() if t == "dfanout"
                  for k, v in f.items() if re.fullmatch("OUT[A-H]", k)}
        for name in setpoints:
            if records[name][0] in ("ao", "longout"):
                for field in ("DRVL", "DRVH", "LOPR", "HOPR"):
                    self.assertTrue((name, field) in copied or field in records[name][1],
                                    "%s.%s" % (name, field))

    def test_protocol_file_assumptions(self):
        self.assertEqual(self.variables["Terminator"], "LF")
        self.assertEqual(self.variables.get("ExtraInput", "Error"), "Error")
        # The server gives up on a silent module after 3 tries of 200 ms for each of a
        # line's two exchanges; the replays above hold every reply to this time-out.
        self.assertGreaterEqual(int(self.variables["ReplyTimeout"]), 2 * 3 * 200 + 1000)


if __name__ == "__main__":
    harness.parse_args()
    CTL = str(harness.path_of("ctl"))
    unittest.main(verbosity=2)
