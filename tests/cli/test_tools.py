"""The command-line tools as a user runs them: CSV and table output, --stats, exit statuses, bad
input, and --help in step with the manual's page of the tools."""
import csv
import fcntl
import io
import json
import os
import re
import subprocess
import sys
import tempfile
import unicodedata
import unittest

POLL = os.environ["KORVEL_POLL"]
PDB = os.environ["KORVEL_PDB"]
LIBRARY = os.environ["KORVEL_LIBRARY"]
TOOLS_DOC = os.environ["KORVEL_TOOLS_DOC"]
SIM = os.environ["KORVEL_SIM"]
SOAK = os.environ["KORVEL_SOAK"]
GATEWAY = os.environ.get("KORVEL_GATEWAY")  # built only with its MQTT and TOML packages
sys.path.insert(0, os.path.join(os.path.dirname(TOOLS_DOC), "..", "python"))
from korvelplnk.status import decode_status  # noqa: E402  (the binding names the bits the tools name)

TIMEOUT_MESSAGE = "通讯超时错，期待设备应答"


def run(args, timeout=120, **kw):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout, **kw)


def columns(text):
    """Display width with an independent table: East Asian wide and full-width take two columns."""
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 0 if unicodedata.combining(c) else 1 for c in text)


class PollOutput(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def simulated(self, *extra):
        r = run([POLL, "--library", LIBRARY, "--simulate", "--polls", "250", "--timeout", "200", *extra], cwd=self.work.name)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r

    def test_csv_is_a_table_a_spreadsheet_reads(self):
        r = self.simulated("--csv", "--sim", "fault 2:silent")
        rows = list(csv.reader(io.StringIO(r.stdout)))
        self.assertEqual(rows[0], ["time", "tag", "address", "value", "status", "module", "flags"])
        self.assertTrue(all(len(row) == 7 for row in rows), rows)
        good_pv = [row for row in rows[1:] if row[1] == "PV1" and row[4] == "0"]
        self.assertTrue(good_pv, r.stdout)
        float(good_pv[-1][3])
        for row in rows[1:]:
            self.assertEqual(row[6], ";".join(decode_status(int(row[4]))), row)
            self.assertEqual(row[5], "" if row[2] == "COMMLINK" else re.search(r"\d+", row[2]).group(), row)
        self.assertTrue(any("no answer" in row[6] and row[5] == "2" for row in rows), r.stdout)
        self.assertTrue(any(re.search("[\u4e00-\u9fff]", row[3]) for row in rows[1:]), "Chinese texts reach the CSV")
        self.assertNotIn("driver:", r.stdout, "messages stay out of the rows")

    def test_json_lines_carry_the_module_and_the_flags_by_name(self):
        r = self.simulated("--json", "--sim", "fault 2:silent")
        changes = [json.loads(l) for l in r.stdout.splitlines() if l.startswith('{"tag"')]
        self.assertTrue(changes, r.stdout)
        for c in changes:
            self.assertEqual(c["flags"], decode_status(c["status"]), c)
            self.assertEqual(c["module"], None if c["address"] == "COMMLINK" else int(re.search(r"\d+", c["address"]).group()))
        self.assertTrue(any(c["module"] == 2 and "no answer" in c["flags"] for c in changes), r.stdout)

    def test_a_tag_list_saved_with_a_byte_order_mark(self):
        tags = os.path.join(self.work.name, "bom.csv")
        with open(tags, "w", encoding="utf-8-sig") as f:
            f.write("Pwd,SetPassWord1:0,bool,0\nFlow,PV1:1,real,200\n")
        r = self.simulated("--tags", tags, "--write", "Pwd=1", "--write", "Pwd=0@600000")
        self.assertIn("write Pwd := 1 queued", r.stdout)
        self.assertIn("--write Pwd=0@600000 not made: the run ended first", r.stderr)

    def test_the_log_goes_where_log_says_and_its_creation_is_said_once(self):
        with tempfile.TemporaryDirectory() as started_in:
            logs = os.path.join(self.work.name, "logs")
            said = []
            for _ in range(2):
                r = run([POLL, "--library", LIBRARY, "--simulate", "--polls", "20", "--log", logs], cwd=started_in)
                self.assertEqual(r.returncode, 0, r.stderr)
                said.append("the library's log is " + os.path.join(logs, "Debug", "KorvelPLNK.Log") in r.stderr)
            self.assertEqual(said, [True, False])
            self.assertEqual(os.listdir(started_in), [])

    def test_stats_count_every_failed_exchange_under_its_kind(self):
        r = run([POLL, "--library", LIBRARY, "--simulate", "--stats", "--polls", "500", "--timeout", "200",
                 "--module", "1:PLNK", "--module", "2:PLNE", "--module", "3:PLNK",
                 "--sim", "fault 2:silent", "--sim", "fault 3:badcheck"], cwd=self.work.name)
        self.assertEqual(r.returncode, 0, r.stderr)
        table = {}
        for line in r.stdout.splitlines():
            cells = line.split()
            if cells and cells[0].isdigit() and len(cells) >= 9:
                table[int(cells[0])] = [int(c) for c in cells[1:6]] + [cells[8]]
        self.assertEqual(sorted(table), [1, 2, 3], r.stdout)
        for module, (exchanges, no_answer, incomplete, bad_check, refused, timeout) in table.items():
            self.assertEqual(timeout, "200", r.stdout)
            self.assertGreater(exchanges, 3, r.stdout)
            # The last read may still be waiting for its time-out when the run ends.
            want = {1: (0, 0), 2: (exchanges, 0), 3: (0, exchanges)}[module]
            for got, expected in ((no_answer, want[0]), (bad_check, want[1])):
                self.assertIn(got, (expected, max(expected - 1, 0)), (module, r.stdout))
            self.assertEqual((incomplete, refused), (0, 0), r.stdout)
        timeouts = [l for l in r.stdout.splitlines() if TIMEOUT_MESSAGE in l]
        self.assertTrue(timeouts, r.stdout)
        self.assertTrue(all(l.endswith("(module 2)") for l in timeouts), timeouts)

    def test_a_time_out_the_wire_log_never_saw_is_named_by_the_tags_it_failed(self):
        # Module 3's line stops taking bytes after its request: module 1's reads that follow time out
        # unseen by the simulator's log, which must not name module 3 for them.
        r = self.simulated("--json", "--module", "1:PLNK", "--module", "3:PLNK", "--sim", "fault 3:no-drain=1500,times=1")
        failed, named = set(), []
        for line in map(json.loads, r.stdout.splitlines()):
            if "no answer" in line.get("flags", []):
                failed.add(line["module"])
            elif TIMEOUT_MESSAGE in line.get("message", ""):
                if len(failed) == 1:
                    named.append((failed.pop(), line["message"]))
                failed = set()
        self.assertIn(1, [m for m, _ in named], r.stdout)
        for module, message in named:
            self.assertTrue(message.endswith("(module %d)" % module), (module, message))

    def test_table_columns_line_up_by_display_width(self):
        r = self.simulated("--tag", "Link1,DEVICELINK1,string,500", "--tag", "Flow,PV1:1,real,200",
                           "--tag", "链路,COMMLINK,string,500")
        lines = [l for l in r.stdout.splitlines() if "status=0x" in l]
        self.assertTrue(any(re.search("[\u4e00-\u9fff]", l.split("status=")[0][20:]) for l in lines), r.stdout)
        starts = {columns(l[: l.index("status=")]) for l in lines}
        self.assertEqual(len(starts), 1, "\n".join(lines))
        addr = {columns(l[: l.index(a)]) for l in lines for a in ["DEVICELINK1", "PV1:1", "COMMLINK"] if a in l}
        self.assertEqual(len(addr), 1, "the address column starts at one place after a Chinese tag name")


class PollExitStatus(unittest.TestCase):
    def test_a_library_that_cannot_be_loaded(self):
        r = run([POLL, "--library", "/nonexistent/KorvelPLNK.so", "--polls", "1"])
        self.assertEqual(r.returncode, 1)
        self.assertIn("cannot load /nonexistent/KorvelPLNK.so", r.stderr)

    def test_a_port_that_cannot_be_opened_says_which_device_and_why(self):
        master, slave = os.openpty()
        try:
            fcntl.flock(slave, fcntl.LOCK_EX)  # another program holds the port
            with tempfile.TemporaryDirectory() as d:
                plain = os.path.join(d, "plain-file")
                open(plain, "w").close()
                for device, reason in ((os.path.join(d, "no-such-tty"), os.strerror(2)),
                                       (plain, "not a serial device"),
                                       (os.ttyname(slave), "locked by another program")):
                    env = {k: v for k, v in os.environ.items() if k != "ORVANE_PATH"}
                    env["KORVELPLNK_COM9"] = device
                    r = run([POLL, "--library", LIBRARY, "--port", "9", "--polls", "5", "--log-error"], env=env, cwd=d)
                    self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                    self.assertIn("Com9不存在或被其它程序占用！ (%s: %s)" % (device, reason), r.stderr)
                    with open(os.path.join(d, "Debug", "KorvelPLNK.Log"), encoding="gbk", errors="replace") as f:
                        self.assertIn("：Com9不存在或被其它程序占用！ (%s: %s)" % (device, reason), f.read())
        finally:
            os.close(slave)
            os.close(master)

    def test_usage_errors(self):
        for args in (["--bogus"], ["--port"], ["--port", "x"], ["--json", "--csv"], ["--tag", "NoAddress"]):
            r = run([POLL, *args])
            self.assertEqual(r.returncode, 2, (args, r.stdout, r.stderr))

    def test_bad_input_is_refused_with_a_message(self):
        with tempfile.TemporaryDirectory() as d:
            def write(name, text=b""):
                path = os.path.join(d, name)
                with open(path, "wb") as f:
                    f.write(text)
                return path
            empty, comments = write("empty.csv"), write("comments.csv", b"# tags\n\n#PV1,PV1:1\n")
            block = os.path.join(d, "b.pdb")
            self.assertEqual(run([PDB, "new", block]).returncode, 0)
            cases = [
                (POLL, ["--tags", empty], "holds no tags"),
                (POLL, ["--tags", comments], "holds no tags"),
                (POLL, ["--tag", "Flow,PV1:1,real,200", "--tag", "Flow,PV2:1,real,200"], "Flow is given twice"),
                (POLL, ["--timeout", "0"], "--timeout"),
                (POLL, ["--timeout", "-5"], "--timeout"),
                (POLL, ["--timeout", "70000"], "--timeout"),
                (POLL, ["--write", "NoSuchTag=1"], "no tag"),
                (POLL, ["--write", "PWD1=maybe"], "Boolean"),
                (POLL, ["--write", "PV1=high"], "number"),
                (POLL, ["--write", "PWD1=1@soon"], "time in ms"),
                (POLL, ["--write", "PWD1=1@5000", "--duration", "2"], "after the run's end"),
                (POLL, ["--block", os.path.join(d, "missing.pdb")], "cannot read"),
                (POLL, ["--block", comments], "a parameter block has 26508"),
                (POLL, ["--simulate", "--sim-config", os.path.join(d, "missing.cfg")], "cannot read"),
                (POLL, ["--block", block, "--port", "2"], "--port"),
                (POLL, ["--block", block, "--timeout", "200"], "--timeout"),
                (POLL, ["--block", block, "--module", "3"], "--module"),
                (POLL, ["--duration", "-1"], "--duration: takes a number of 0 or more, not '-1'"),
                (POLL, ["--duration", "nan"], "--duration"),
                (POLL, ["--polls", "-1"], "--polls"),
                (SOAK, ["--minutes", "ten"], "--minutes"),
                (SOAK, ["--minutes", "-1"], "--minutes"),
                (PDB, ["diff", block, os.path.join(d, "missing.pdb")], "cannot read"),
                (PDB, ["bogus", block], "unknown subcommand 'bogus'"),
                (PDB, ["--bogus", "print", block], "unknown option '--bogus'"),
            ]
            for tool, args, says in cases:
                r = run([tool, *args], timeout=20)  # a bad value must not start a run without end
                self.assertEqual(r.returncode, 2, (args, r.stdout, r.stderr))
                self.assertIn(says, r.stderr, args)
                self.assertLess(len(r.stderr), 300, "the message names no 300-digit bound")

    def test_every_tool_tells_its_version(self):
        for tool in (POLL, PDB, SIM, SOAK) + ((GATEWAY,) if GATEWAY else ()):
            r = run([tool, "--version"])
            self.assertEqual(r.returncode, 0, tool)
            self.assertRegex(r.stdout, r"^korvel-(poll|pdb|sim|soak|gateway) \d+\.\d+\.\d+", tool)


class PdbFiles(unittest.TestCase):
    def test_print_warns_of_entries_the_block_check_voids(self):
        with tempfile.TemporaryDirectory() as d:
            good, noise = os.path.join(d, "good.pdb"), os.path.join(d, "noise.pdb")
            self.assertEqual(run([PDB, "new", good, "--module", "3:PLNE"]).returncode, 0)
            r = run([PDB, "print", good])
            self.assertEqual((r.returncode, r.stderr), (0, ""))
            with open(noise, "wb") as f:
                f.write(bytes((i * 37 + 11) % 251 for i in range(26508)))
            r = run([PDB, "print", noise])
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn("block check voids module entries", r.stderr)
            # Module 3's type name lost (its length byte): korvel-poll says so too, and --stats
            # does not send a simulated run to --simulate.
            with open(good, "r+b") as f:
                f.seek(16 + 264 * 3 + 5)
                f.write(b"\0")
            r = run([POLL, "--library", LIBRARY, "--block", good, "--simulate", "--stats", "--polls", "20"], cwd=d)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn("korvel-poll: warning: the driver's block check voids module entries 3:", r.stderr)
            self.assertNotIn("run with --simulate", r.stdout)


class HelpMatchesReadme(unittest.TestCase):
    def readme_row(self, tool):
        with open(TOOLS_DOC, encoding="utf-8") as f:
            rows = [l for l in f if l.startswith("| `") and "/" + tool + "`" in l.split("|")[1]]
        self.assertEqual(len(rows), 1, tool)
        return rows[0]

    def test_every_option_the_readme_names_is_in_the_help(self):
        for tool, binary in (("korvel-poll", POLL), ("korvel-pdb", PDB), ("korvel-sim", SIM)):
            row = self.readme_row(tool)
            options = set(re.findall(r"(--[a-z][a-z-]*)", row))
            self.assertTrue(options or tool == "korvel-pdb", row)
            options.discard("--help")
            r = run([binary, "--help"])
            self.assertEqual(r.returncode, 0)
            help_text = r.stdout
            if tool == "korvel-pdb":
                words = set(re.findall(r"`(new|print|set|add|from-json|diff)\b", row))
                self.assertEqual(words, {"new", "print", "set", "add", "from-json", "diff"}, row)
                for w in words:
                    self.assertRegex(help_text, r"\n  %s\s" % re.escape(w))
                sub = run([binary, "new", "--help"]).stdout
                options -= set(re.findall(r"--[a-z-]+", sub))
            for o in sorted(options):
                self.assertRegex(help_text, r"%s\b" % re.escape(o), "%s --help lacks %s" % (tool, o))

    def test_the_pdb_settings_named_in_the_readme_are_accepted(self):
        row = self.readme_row("korvel-pdb")
        with tempfile.TemporaryDirectory() as d:
            f = os.path.join(d, "b.pdb")
            self.assertEqual(run([PDB, "new", f]).returncode, 0)
            for assignment in re.findall(r"\b([A-Z][a-z][A-Za-z]*=[A-Za-z0-9.]+)", row):
                r = run([PDB, "set", f, assignment])
                self.assertEqual(r.returncode, 0, (assignment, r.stderr))


if __name__ == "__main__":
    unittest.main()
