"""The module simulator on a pseudo-terminal for the binding's tests (korvel-sim --control)."""
import os
import subprocess
import tempfile


class SimLine:
    """Starts korvel-sim with the given modules and points COM<port> at its line."""

    def __init__(self, modules, port=1, extra=()):
        sim = os.environ["KORVEL_SIM"]
        self.dir = tempfile.TemporaryDirectory(prefix="korvel-py-")
        link = os.path.join(self.dir.name, "line")
        args = [sim, "--control", "--link", link]
        for m in modules:
            args += ["--module", m]
        args += list(extra)
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        ready = self.proc.stdout.readline().split()
        if len(ready) != 2 or ready[0] != "READY":
            self.close()
            raise RuntimeError("the simulator did not start: %r" % (ready,))
        self.path = link if os.path.exists(link) else ready[1]
        self.var = "KORVELPLNK_COM%d" % port
        self.saved = os.environ.get(self.var)
        os.environ[self.var] = self.path

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        return self.proc.stdout.readline().strip()

    def wire_log(self):
        """The simulator's wire log: lines "MS RX|TX STATION BYTES"."""
        self.proc.stdin.write("log\n")
        self.proc.stdin.flush()
        lines = []
        for line in self.proc.stdout:
            line = line.rstrip("\n")
            if line == "OK" or line.startswith("ERR"):
                break
            lines.append(line)
        return lines

    def received(self, start):
        """Requests the simulator received that begin with start (e.g. "%01" for a password write)."""
        return [l for l in self.wire_log() if " RX " in l and l.split(" ", 3)[-1].startswith(start)]

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.close()
            except OSError:
                pass
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc.stdout:
            self.proc.stdout.close()
        if getattr(self, "var", None):
            if self.saved is None:
                os.environ.pop(self.var, None)
            else:
                os.environ[self.var] = self.saved
        self.dir.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
