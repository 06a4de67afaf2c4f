"""The host guide's C and Python hosts: the guide shows exactly the files, and both run against
the module simulator. The README's and the manual's code blocks marked runnable run verbatim with the
installed tools."""
import glob
import os
import re
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.environ["KORVEL_SOURCE"]
sys.path.insert(0, os.path.join(SOURCE, "python", "tests"))
from simline import SimLine  # noqa: E402

GUIDE = os.path.join(SOURCE, "docs", "host-guide.md")


class GuideShowsTheFiles(unittest.TestCase):
    def test_code_blocks_are_the_example_files(self):
        with open(GUIDE, encoding="utf-8") as f:
            guide = f.read()
        blocks = re.findall(r"<!-- example: (\S+) -->\n```\w+\n(.*?)```", guide, re.S)
        self.assertEqual(sorted(b[0] for b in blocks), ["examples/minimal_host.c", "examples/minimal_host.py"])
        for name, code in blocks:
            with open(os.path.join(SOURCE, "docs", name), encoding="utf-8") as f:
                self.assertEqual(code, f.read(), "%s in the guide differs from the file" % name)


class ExamplesRun(unittest.TestCase):
    def check(self, args, **extra_env):
        with SimLine(["1:PLNK:pv=12.5,ao=3,alarm=1"]) as line:
            # The line's variable is set by SimLine: take the environment only now.
            r = subprocess.run(args, capture_output=True, timeout=120, env=dict(os.environ, **extra_env))
            writes = line.received("%01")
        out = r.stdout.decode("utf-8", errors="replace")
        self.assertEqual(r.returncode, 0, out + r.stderr.decode("utf-8", "replace"))
        self.assertRegex(out, r"Flow = 12\.5 status 0x00000000")
        self.assertIn("write Unlock = true queued", out)
        self.assertEqual(len(writes), 1, "the password write went out on the line once")
        return out

    def test_c_host(self):
        self.check([os.environ["KORVEL_C_HOST"], "4"])

    @unittest.skipUnless(os.environ.get("KORVEL_RUN_PYTHON") == "1", "the sanitizer build's library needs its run-time")
    def test_python_host(self):
        out = self.check([sys.executable, os.path.join(SOURCE, "docs", "examples", "minimal_host.py"), "4"],
                         PYTHONPATH=os.path.join(SOURCE, "python"))
        self.assertIn("Alarm = True", out)


RUNNABLE = re.compile(r"<!-- runnable -->\n```sh\n(.*?)```", re.S)


@unittest.skipUnless(os.environ.get("KORVEL_BUILD"), "needs the build tree to install from")
class RunnableBlocksRun(unittest.TestCase):
    def test_blocks_marked_runnable_work_verbatim(self):
        docs = [os.path.join(SOURCE, "README.md")] + sorted(glob.glob(os.path.join(SOURCE, "docs", "*.md")))
        blocks = []
        for doc in docs:
            with open(doc, encoding="utf-8") as f:
                text = f.read()
            found = RUNNABLE.findall(text)
            # A marker that is not followed by a shell block would silently run nothing.
            markers = len(re.findall(r"^<!-- runnable -->$", text, re.M))
            self.assertEqual(markers, len(found), "%s: a runnable marker without a sh block" % doc)
            blocks += [(os.path.relpath(doc, SOURCE), code) for code in found]
        self.assertTrue(blocks, "no block is marked runnable")
        with tempfile.TemporaryDirectory() as tmp:
            prefix = os.path.join(tmp, "usr")
            subprocess.run([os.environ["KORVEL_CMAKE"], "--install", os.environ["KORVEL_BUILD"], "--prefix", prefix],
                           check=True, capture_output=True, timeout=300)
            env = {k: v for k, v in os.environ.items() if not k.startswith("KORVELPLNK_")}
            env["PATH"] = os.path.join(prefix, "bin") + os.pathsep + env["PATH"]
            for i, (doc, code) in enumerate(blocks):
                with self.subTest(doc=doc, block=i):
                    work = os.path.join(tmp, "run%d" % i)
                    os.mkdir(work)
                    r = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", code], cwd=work, env=env,
                                       capture_output=True, timeout=300)
                    self.assertEqual(r.returncode, 0, "%s:\n%s\n%s%s" % (doc, code, r.stdout.decode("utf-8", "replace"),
                                                                         r.stderr.decode("utf-8", "replace")))


if __name__ == "__main__":
    unittest.main()
