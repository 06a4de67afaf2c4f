"""A driver instance as a context manager: IniDriver on entry, FreeDriver on exit."""
import ctypes
import datetime
import threading
import time
from ctypes import POINTER, byref, c_int32, c_void_p

from .library import load_library
from .records import TYPE_BOOL, TYPE_NAMES, TYPE_REAL, TYPE_STRING, VT_BOOL, VT_R8, TTagInfo, TTagValue
from .status import decode_status

_EPOCH = datetime.datetime(1899, 12, 30)


class DriverError(RuntimeError):
    """The driver did not start (the library's message says why, e.g. the port cannot be opened)."""


class Tag:
    """One tag: name (31 bytes GBK at most), address, type "real" | "bool" | "string", period in ms."""

    def __init__(self, name, address, type="real", period=1000, initial=None):
        if type not in TYPE_NAMES:
            raise ValueError("type takes real, bool or string, not %r" % (type,))
        if len(name.encode("gbk")) > 31 or len(address.encode("gbk")) > 63:
            raise ValueError("tag name (31 bytes) or address (63 bytes) too long: %r, %r" % (name, address))
        self.name, self.address, self.type, self.period, self.initial = name, address, type, period, initial

    def __repr__(self):
        return "Tag(%r, %r, %r, %r)" % (self.name, self.address, self.type, self.period)


class Value:
    """A reported change: tag, value (float, bool or str), status word and its decoded bits, time."""

    def __init__(self, tag, value, status, time):
        self.tag, self.value, self.status, self.time = tag, value, status, time
        self.flags = decode_status(status)

    @property
    def good(self):
        return self.status == 0

    def __repr__(self):
        return "Value(%s=%r, status=0x%08X %s)" % (self.tag.name, self.value, self.status, self.flags)


def _datetime(days):
    try:
        return _EPOCH + datetime.timedelta(days=days)
    except (OverflowError, ValueError):
        return None


class Driver:
    """Drives one device network. All calls must come from the thread that entered the context:
    the library keeps one instance per host thread.

        with Driver(block, [Tag("Flow", "PV1:1")]) as d:
            for v in d.read(): print(v.tag.name, v.value, v.flags)
    """

    def __init__(self, block, tags, library=None):
        self.lib = library or load_library()
        self.block = block
        self.tags = list(tags)
        self.by_name = {t.name: i for i, t in enumerate(self.tags)}
        self.start_message = ""
        self.messages = []
        self._thread = None
        self._infos = (TTagInfo * max(1, len(self.tags)))()
        for i, t in enumerate(self.tags):
            info = self._infos[i]
            info.TagID = i + 1
            info.TagName = t.name.encode("gbk")
            info.TagAddr = t.address.encode("gbk")
            info.TagType = TYPE_NAMES[t.type]
            info.ScanPeriod = t.period
            if t.initial is not None and t.type != "string":
                if t.type == "bool":
                    info.Value.vt, info.Value.value.boolVal = VT_BOOL, -1 if t.initial else 0
                else:
                    info.Value.vt, info.Value.value.dblVal = VT_R8, float(t.initial)
        self._pointers = (POINTER(TTagInfo) * max(1, len(self.tags)))(
            *[ctypes.pointer(self._infos[i]) for i in range(len(self.tags))]
        )
        self._buffer = (TTagValue * (len(self.tags) + 1))()

    def _same_thread(self):
        if self._thread != threading.get_ident():
            raise RuntimeError("a driver instance is called from the thread that started it only")

    def _message(self, msg):
        text = self.lib.take_text(msg)
        if text:
            self.messages.append(text)
        return text

    def start(self):
        msg = c_void_p()
        self._thread = threading.get_ident()
        ok = self.lib.IniDriver(len(self.tags), self._pointers, ctypes.byref(self.block.raw), byref(msg))
        self.start_message = self._message(msg)
        if not ok:
            self.lib.FreeDriver()
            raise DriverError(self.start_message or "the driver did not start")
        return self

    def stop(self):
        if self._thread is not None:
            self._same_thread()
            self.lib.FreeDriver()
            self._thread = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False

    def scan_time(self):
        """The poll period in ms the library asks for (DetectScanTime)."""
        return self.lib.DetectScanTime()

    def read(self):
        """One poll (OnDataRead): the tags whose value or status changed, as Value objects."""
        self._same_thread()
        count, msg = c_int32(0), c_void_p()
        self.lib.OnDataRead(byref(count), self._buffer, byref(msg))
        self._message(msg)
        changes = []
        for i in range(min(count.value, len(self._buffer))):
            rec = self._buffer[i]
            if rec.DataType == TYPE_STRING:
                value = self.lib.take_text(rec.Data.str)
            elif rec.DataType == TYPE_BOOL:
                value = rec.Data.bln != 0
            else:
                value = rec.Data.dbl
            index = rec.TagID - 1
            if 0 <= index < len(self.tags):
                changes.append(Value(self.tags[index], value, rec.Status, _datetime(rec.Time)))
        return changes

    def poll(self, seconds):
        """Polls at the library's period for the given time, yielding every change."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            yield from self.read()
            time.sleep(max(1, self.scan_time()) / 1000.0)

    def write(self, name, value):
        """Queues a write of value to the tag (OnDataWrite); False when the library refuses it."""
        self._same_thread()
        if name not in self.by_name:
            raise KeyError("no tag %r" % (name,))
        i = self.by_name[name]
        tag = self.tags[i]
        rec = TTagValue()
        rec.TagID = i + 1
        rec.DataType = TYPE_NAMES[tag.type]
        keep = None
        if rec.DataType == TYPE_REAL:
            rec.Data.dbl = float(value)
        elif rec.DataType == TYPE_BOOL:
            rec.Data.bln = 1 if value else 0
        else:
            keep = ctypes.create_string_buffer(str(value).encode("gbk"))
            rec.Data.str = ctypes.addressof(keep)
        msg = c_void_p()
        ok = self.lib.OnDataWrite(1, byref(rec), byref(msg))
        self._message(msg)
        del keep
        return bool(ok)

    def status_message(self):
        """The pending status text (GetDeviceStatus); "" when there is none."""
        self._same_thread()
        msg = c_void_p()
        self.lib.GetDeviceStatus(byref(msg))
        return self._message(msg)
