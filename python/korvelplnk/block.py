"""The device parameter block (26508 bytes) with its settings by name, checked against its tables."""
import ctypes
from ctypes import c_int32, c_uint8, c_uint16

BAUD_RATES = (110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000)
PARITIES = ("none", "odd", "even", "mark", "space")
STOP_BITS = ("1", "1.5", "2")
MODULE_TYPES = ("PLNE", "PLNK")
MAX_MODULES = 100


def _short_string(capacity):
    class ShortString(ctypes.Structure):
        _pack_ = 1
        _fields_ = [("len", c_uint8), ("chars", c_uint8 * capacity)]

        def get(self):
            return bytes(self.chars[: min(self.len, capacity)])

        def set(self, data):
            if len(data) > capacity:
                raise ValueError("%d bytes do not fit a field of %d" % (len(data), capacity))
            self.len = len(data)
            self.chars[: len(data)] = list(data)

    return ShortString


class TDevInfo(ctypes.Structure):
    _pack_ = 1
    _fields_ = [
        ("DevID", c_int32),
        ("DevType", c_uint8),  # 0 PLNE, 1 PLNK, 2 unused
        ("DevTypeName", _short_string(46)),
        ("AtMasterCpu", c_uint8),
        ("Slot", c_uint8),
        ("Reserved54", c_uint8 * 198),
        ("Param252", c_uint8),
        ("Param253", c_uint8),
        ("Param254", c_uint16),
        ("Param256", c_uint16),
        ("Param258", c_uint16),
        ("Param260", c_uint16),
        ("Pad262", c_uint8 * 2),
    ]


class PDB(ctypes.Structure):
    _pack_ = 1
    _fields_ = [
        ("DebugLog", c_uint8),
        ("ErrorLog", c_uint8),
        ("TraceLog", c_uint8),
        ("Pad3", c_uint8),
        ("TimeOut", c_uint16),
        ("Reserved6", c_uint16),
        ("WriteCount", c_uint8),
        ("LinkMode", c_uint8),
        ("Pad10", c_uint8 * 2),
        ("SingleDevID", c_int32),
        ("Devices", TDevInfo * MAX_MODULES),
        ("ComPort", c_uint8),
        ("BaudRate", c_uint8),
        ("DataBits", c_uint8),
        ("StopBits", c_uint8),
        ("Parity", c_uint8),
        ("PhoneNum", _short_string(32)),
        ("ModemInit", _short_string(50)),
        ("Pad26505", c_uint8 * 3),
    ]


assert ctypes.sizeof(TDevInfo) == 264 and ctypes.sizeof(PDB) == 26508
assert PDB.ComPort.offset == 26416 and PDB.ModemInit.offset == 26454


def _refuse(name, allowed, value):
    raise ValueError("%s takes %s, not %r" % (name, allowed, value))


class Block:
    """A parameter block. Block(library) starts from the library's defaults (FullPDB) with the
    default module's type name written, so that the block check keeps it."""

    def __init__(self, library=None, data=None):
        self.raw = PDB()
        if data is not None:
            if len(data) != ctypes.sizeof(PDB):
                raise ValueError("a parameter block has %d bytes, not %d" % (ctypes.sizeof(PDB), len(data)))
            ctypes.memmove(ctypes.addressof(self.raw), bytes(data), len(data))
            return
        if library is None:
            from .library import load_library

            library = load_library()
        library.FullPDB(ctypes.byref(self.raw))
        for d in self.raw.Devices:
            if d.DevType in (0, 1):
                d.DevTypeName.set(MODULE_TYPES[d.DevType].encode())

    @classmethod
    def load(cls, path):
        with open(path, "rb") as f:
            return cls(data=f.read())

    def save(self, path):
        with open(path, "wb") as f:
            f.write(bytes(self))

    def __bytes__(self):
        return ctypes.string_at(ctypes.addressof(self.raw), ctypes.sizeof(PDB))

    # -- settings in the user's terms ---------------------------------------------------------
    @property
    def baud(self):
        return BAUD_RATES[self.raw.BaudRate] if self.raw.BaudRate < len(BAUD_RATES) else None

    @baud.setter
    def baud(self, rate):
        if rate not in BAUD_RATES:
            _refuse("baud", "one of the rates " + ", ".join(map(str, BAUD_RATES)), rate)
        self.raw.BaudRate = BAUD_RATES.index(rate)

    @property
    def port(self):
        return "COM%d" % (self.raw.ComPort + 1)

    @port.setter
    def port(self, name):
        text = str(name)
        number = text[3:] if text[:3].upper() == "COM" else ""
        if not number.isdigit() or not 1 <= int(number) <= 16:
            _refuse("port", "COM1..COM16", name)
        self.raw.ComPort = int(number) - 1

    @property
    def parity(self):
        return PARITIES[self.raw.Parity] if self.raw.Parity < len(PARITIES) else None

    @parity.setter
    def parity(self, name):
        if str(name).lower() not in PARITIES:
            _refuse("parity", ", ".join(PARITIES), name)
        self.raw.Parity = PARITIES.index(str(name).lower())

    @property
    def data_bits(self):
        return self.raw.DataBits + 4 if self.raw.DataBits <= 4 else None

    @data_bits.setter
    def data_bits(self, bits):
        if bits not in (4, 5, 6, 7, 8):
            _refuse("data_bits", "4, 5, 6, 7 or 8", bits)
        self.raw.DataBits = bits - 4

    @property
    def stop_bits(self):
        return float(STOP_BITS[self.raw.StopBits]) if self.raw.StopBits < 3 else None

    @stop_bits.setter
    def stop_bits(self, bits):
        text = {1: "1", 1.5: "1.5", 2: "2"}.get(bits, str(bits))
        if text not in STOP_BITS:
            _refuse("stop_bits", "1, 1.5 or 2", bits)
        self.raw.StopBits = STOP_BITS.index(text)

    def _ranged(name, field, lo, hi):  # noqa: N805 - a property factory used in the class body
        def get(self):
            return getattr(self.raw, field)

        def put(self, value):
            if not isinstance(value, int) or isinstance(value, bool) and hi != 1 or not lo <= value <= hi:
                _refuse(name, "%d..%d" % (lo, hi), value)
            setattr(self.raw, field, int(value))

        return property(get, put)

    timeout = _ranged("timeout", "TimeOut", 10, 60000)
    write_count = _ranged("write_count", "WriteCount", 0, 10)
    link_mode = _ranged("link_mode", "LinkMode", 0, 1)
    debug_log = _ranged("debug_log", "DebugLog", 0, 1)
    error_log = _ranged("error_log", "ErrorLog", 0, 1)
    trace_log = _ranged("trace_log", "TraceLog", 0, 1)
    del _ranged

    @property
    def modem_init(self):
        return self.raw.ModemInit.get().decode("gbk", errors="replace")

    @modem_init.setter
    def modem_init(self, text):
        data = text.encode("gbk")
        if len(data) > 50:
            _refuse("modem_init", "at most 50 bytes (GBK)", text)
        self.raw.ModemInit.set(data)

    @property
    def phone_num(self):
        return self.raw.PhoneNum.get().decode("gbk", errors="replace")

    @phone_num.setter
    def phone_num(self, text):
        if not (text.isdigit() or text == "") or len(text) > 32:
            _refuse("phone_num", "at most 32 digits", text)
        self.raw.PhoneNum.set(text.encode("ascii"))

    def set(self, **settings):
        """Several settings at once, e.g. set(baud=115200, parity="even", port="COM3"); all or none."""
        saved = bytes(self)
        try:
            for name, value in settings.items():
                if not isinstance(getattr(type(self), name, None), property):
                    raise ValueError("unknown setting %r" % name)
                setattr(self, name, value)
        except Exception:
            ctypes.memmove(ctypes.addressof(self.raw), saved, len(saved))
            raise
        return self

    # -- modules --------------------------------------------------------------------------------
    def set_module(self, number, family="PLNK"):
        """Configures module number 0..99 in its own entry ("PLNE", "PLNK"; None removes it)."""
        if not isinstance(number, int) or not 0 <= number < MAX_MODULES:
            _refuse("module number", "0..99", number)
        d = self.raw.Devices[number]
        if family is None:
            d.DevType, d.DevID = 2, number
            d.DevTypeName.set(b"")
            return
        if family not in MODULE_TYPES:
            _refuse("module family", "PLNE or PLNK", family)
        d.DevID = number
        d.DevType = MODULE_TYPES.index(family)
        d.DevTypeName.set(family.encode())

    def clear_modules(self):
        for i in range(MAX_MODULES):
            self.set_module(i, None)

    def modules(self):
        """[(module number, family)] of the configured entries, in table order."""
        return [
            (d.DevID, MODULE_TYPES[d.DevType]) for d in self.raw.Devices if d.DevType in (0, 1)
        ]
