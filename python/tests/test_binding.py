"""The Python binding against the real library and the module simulator on a pseudo-terminal."""
import os
import re
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import korvelplnk  # noqa: E402
from korvelplnk import Block, Driver, DriverError, Tag, check_address, decode_status  # noqa: E402
from korvelplnk import status  # noqa: E402
from simline import SimLine  # noqa: E402


def poll_until(driver, want, latest=None, seconds=20):
    """Polls until want(latest values by name) holds; returns the latest values (kept in latest)."""
    latest = {} if latest is None else latest
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for v in driver.read():
            latest[v.tag.name] = v
        if want(latest):
            return latest
        time.sleep(max(1, driver.scan_time()) / 1000.0)
    raise AssertionError("not reached in %ss: %r" % (seconds, latest))


class BlockTest(unittest.TestCase):
    def test_settings_land_in_the_raw_fields_and_refusals_name_the_allowed_values(self):
        b = Block()
        self.assertEqual((b.baud, b.port, b.parity, b.data_bits, b.stop_bits, b.timeout), (9600, "COM1", "none", 8, 1.0, 100))
        b.set(baud=115200, parity="even", data_bits=7, stop_bits=1.5, port="COM3", timeout=200)
        r = b.raw
        self.assertEqual((r.BaudRate, r.Parity, r.DataBits, r.StopBits, r.ComPort, r.TimeOut), (12, 2, 3, 1, 2, 200))
        before = bytes(b)
        for settings, mentions in [
            (dict(baud=1000), "110, 300"),
            (dict(port="COM17"), "COM1..COM16"),
            (dict(parity="bad"), "none, odd, even, mark, space"),
            (dict(data_bits=9), "4, 5, 6, 7 or 8"),
            (dict(stop_bits=3), "1, 1.5 or 2"),
            (dict(timeout=5), "10..60000"),
            (dict(write_count=11), "0..10"),
            (dict(phone_num="12a"), "digits"),
            (dict(modem_init="A" * 51), "50 bytes"),
            (dict(baud=19200, colour=1), "unknown setting"),
        ]:
            with self.assertRaises(ValueError) as e:
                b.set(**settings)
            self.assertIn(mentions, str(e.exception))
            self.assertEqual(bytes(b), before, "a refused set leaves the block as it was")

    def test_texts_are_gbk_and_modules_carry_their_type_names(self):
        b = Block()
        b.modem_init = "AT拨号"
        self.assertEqual(b.raw.ModemInit.get(), "AT拨号".encode("gbk"))
        self.assertEqual(b.modem_init, "AT拨号")
        b.clear_modules()
        b.set_module(7, "PLNE")
        b.set_module(42)
        self.assertEqual(b.modules(), [(7, "PLNE"), (42, "PLNK")])
        self.assertEqual(b.raw.Devices[7].DevTypeName.get(), b"PLNE")
        with self.assertRaises(ValueError):
            b.set_module(100)

    @unittest.skipUnless(os.environ.get("KORVEL_PDB"), "needs korvel-pdb")
    def test_files_agree_with_the_block_tool(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "b.pdb")
            subprocess.run([os.environ["KORVEL_PDB"], "new", path, "--module", "3:PLNE", "Baud=19200",
                            "Parity=odd", "ModemInit=AT拨号"], check=True)
            b = Block.load(path)
            self.assertEqual((b.baud, b.parity, b.modem_init, b.modules()), (19200, "odd", "AT拨号", [(3, "PLNE")]))
            mine = Block()
            mine.clear_modules()
            mine.set_module(3, "PLNE")
            mine.set(baud=19200, parity="odd", modem_init="AT拨号")
            self.assertEqual(bytes(mine), bytes(b), "the same block byte for byte")
            mine.save(path)
            diff = subprocess.run([os.environ["KORVEL_PDB"], "diff", path, path], capture_output=True)
            self.assertEqual(diff.returncode, 0)


class LibraryTest(unittest.TestCase):
    def test_address_check_and_kinds(self):
        b = Block()
        b.clear_modules()
        b.set_module(1, "PLNK")
        ok, normal, msg = check_address(b, "PV1:1")
        self.assertTrue(ok, msg)
        self.assertEqual(normal, "PV1:1")
        ok, normal, msg = check_address(b, "XYZ1:1")
        self.assertFalse(ok, "an address kind the library does not have")
        self.assertIsInstance(normal, str)
        kinds = korvelplnk.load_library().tag_kinds()
        self.assertEqual([k[0] for k in kinds], ["PV", "PV_ALARM", "PARM", "AO", "SetPassWord", "CommLink", "DeviceLink"])
        self.assertEqual(kinds[0][1], "模块测量值")

    def test_status_words_decode(self):
        self.assertEqual(korvelplnk.__version__, os.environ["KORVEL_VERSION"])
        self.assertEqual(decode_status(0), [])
        self.assertEqual(decode_status(0x01100000), ["no answer", "failing repeatedly"])
        self.assertEqual(decode_status(0x00040001), ["address refused", "bits 0x00000001"])
        # Every code the public header names, with the same value here.
        header = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "exports", "KorvelPLNK.h")
        with open(header, encoding="utf-8") as f:
            named = re.findall(r"#define KORVEL_((?:STATUS|LINK)_\w+) (\w+)", f.read())
        self.assertEqual(len(named), 14)
        for name, value in named:
            self.assertEqual(getattr(status, name.replace("STATUS_", "")), int(value.rstrip("u"), 0), name)


class DriverTest(unittest.TestCase):
    def setUp(self):
        self.block = Block()
        self.block.clear_modules()
        self.block.set_module(1, "PLNK")
        self.block.set_module(2, "PLNE")  # configured but silent on the line
        self.block.set(timeout=100)

    def test_reads_writes_and_statuses(self):
        tags = [
            Tag("Flow", "PV1:1", "real", 200),
            Tag("Alarm", "PV_ALARM1:1", "bool", 200),
            Tag("Out", "AO1:1", "real", 200),
            Tag("Unlock", "SetPassWord1:0", "bool", 1000),
            Tag("Silent", "PV2:1", "real", 200),
            Tag("Link1", "DEVICELINK1", "string", 500),
            Tag("Line", "COMMLINK", "real", 500),
        ]
        with SimLine(["1:PLNK:pv=12.5,ao=3,alarm=1"]) as line, Driver(self.block, tags) as d:
            self.assertIn(line.path, os.environ[line.var])
            got = {}
            poll_until(d, lambda v: "Flow" in v and v["Flow"].good and "Silent" in v and "no answer" in v["Silent"].flags, got)
            self.assertAlmostEqual(got["Flow"].value, 12.5)
            self.assertEqual(got["Flow"].flags, [])
            self.assertIsNotNone(got["Flow"].time)
            self.assertIn("no answer", got["Silent"].flags)
            poll_until(d, lambda v: v["Alarm"].good and v["Out"].good and "正常" in v["Link1"].value, got)
            self.assertIs(got["Alarm"].value, True)
            self.assertEqual(got["Link1"].value, "1号智能模块PLNK通讯正常!", "a text decoded from GBK")
            self.assertAlmostEqual(got["Out"].value, 3)

            # Outputs are read-only on this line; the password switch is written.
            self.assertFalse(d.write("Out", 7))
            self.assertTrue(d.write("Unlock", True))
            end = time.monotonic() + 10
            while not line.received("%01") and time.monotonic() < end:
                d.read()
                time.sleep(d.scan_time() / 1000.0)
            self.assertEqual(len(line.received("%01")), 1, "the write went out on the line once")
            with self.assertRaises(KeyError):
                d.write("Nothing", 1)

            # The instance belongs to its thread.
            refused = []

            def elsewhere():
                try:
                    d.read()
                except RuntimeError as e:
                    refused.append(e)

            t = threading.Thread(target=elsewhere)
            t.start()
            t.join()
            self.assertEqual(len(refused), 1)

    def test_a_port_that_cannot_open_is_an_error_with_the_librarys_message(self):
        saved = os.environ.get("KORVELPLNK_COM9")
        os.environ["KORVELPLNK_COM9"] = "/nonexistent/korvel-tty"
        try:
            self.block.port = "COM9"
            with self.assertRaises(DriverError) as e:
                with Driver(self.block, [Tag("Flow", "PV1:1")]):
                    pass
            self.assertIn("不存在或被其它程序占用", str(e.exception))
        finally:
            if saved is None:
                os.environ.pop("KORVELPLNK_COM9", None)
            else:
                os.environ["KORVELPLNK_COM9"] = saved


if __name__ == "__main__":
    unittest.main()
