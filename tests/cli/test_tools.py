"""The command-line tools as a user runs them: CSV and table output, exit statuses, and --help in
step with the README."""
import csv
import io
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
README = os.environ["KORVEL_README"]
SIM = os.environ["KORVEL_SIM"]


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, timeout=120, **kw)


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
        r = self.simulated("--csv")
        rows = list(csv.reader(io.StringIO(r.stdout)))
        self.assertEqual(rows[0], ["time", "tag", "address", "value", "status"])
        self.assertTrue(all(len(row) == 5 for row in rows), rows)
        good_pv = [row for row in rows[1:] if row[1] == "PV1" and row[4] == "0"]
        self.assertTrue(good_pv, r.stdout)
        float(good_pv[-1][3])
        self.assertTrue(any(re.search("[\u4e00-\u9fff]", row[3]) for row in rows[1:]), "Chinese texts reach the CSV")
        self.assertNotIn("driver:", r.stdout, "messages stay out of the rows")

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

    def test_a_port_that_cannot_be_opened(self):
        with tempfile.TemporaryDirectory() as d:
            env = dict(os.environ, KORVELPLNK_COM9=os.path.join(d, "no-such-tty"))
            r = run([POLL, "--library", LIBRARY, "--port", "9", "--polls", "5"], env=env, cwd=d)
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn("不存在或被其它程序占用", r.stderr)

    def test_usage_errors(self):
        for args in (["--bogus"], ["--port"], ["--port", "x"], ["--json", "--csv"], ["--tag", "NoAddress"]):
            r = run([POLL, *args])
            self.assertEqual(r.returncode, 2, (args, r.stdout, r.stderr))


class HelpMatchesReadme(unittest.TestCase):
    def readme_row(self, tool):
        with open(README, encoding="utf-8") as f:
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
