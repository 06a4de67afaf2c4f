"""The records that cross the library's boundary, byte for byte as the C header lays them out."""
import ctypes
from ctypes import c_char, c_double, c_float, c_int16, c_int32, c_uint8, c_uint16, c_uint32, c_void_p

VT_EMPTY, VT_I2, VT_I4, VT_R4, VT_R8, VT_BOOL = 0, 2, 3, 4, 5, 11

TYPE_REAL, TYPE_BOOL, TYPE_STRING = 0, 1, 2
TYPE_NAMES = {"real": TYPE_REAL, "bool": TYPE_BOOL, "string": TYPE_STRING}


class _VariantValue(ctypes.Union):
    _fields_ = [
        ("iVal", c_int16),
        ("lVal", c_int32),
        ("fltVal", c_float),
        ("dblVal", c_double),
        ("boolVal", c_int16),  # -1 true, 0 false
        ("pszVal", c_void_p),
        ("bytes", c_uint8 * 8),
    ]


class OleVariant(ctypes.Structure):
    """16-bit type code, three reserved words, eight bytes of value."""

    _fields_ = [
        ("vt", c_uint16),
        ("reserved1", c_uint16),
        ("reserved2", c_uint16),
        ("reserved3", c_uint16),
        ("value", _VariantValue),
    ]


class TTagInfo(ctypes.Structure):
    """One tag as the host describes it (136 bytes)."""

    _pack_ = 1
    _fields_ = [
        ("TagID", c_int32),
        ("TagName", c_char * 32),
        ("HostReserved36", c_int32),
        ("TagAddr", c_char * 64),
        ("TagType", c_uint8),
        ("Pad105", c_uint8 * 3),
        ("ScanPeriod", c_int32),
        ("HostReserved112", c_uint8 * 8),
        ("Value", OleVariant),
    ]


class _TagData(ctypes.Union):
    _fields_ = [("dbl", c_double), ("bln", c_int32), ("str", c_void_p), ("bytes", c_uint8 * 8)]


class TTagValue(ctypes.Structure):
    """One value of OnDataRead / OnDataWrite (28 bytes, packed)."""

    _pack_ = 1
    _fields_ = [
        ("TagID", c_int32),
        ("Time", c_double),
        ("Status", c_uint32),
        ("DataType", c_uint8),
        ("Pad17", c_uint8 * 3),
        ("Data", _TagData),
    ]


class TTagAddrInfo(ctypes.Structure):
    """One address-kind template of GetTagAddrList (536 bytes; short strings)."""

    _pack_ = 1
    _fields_ = [
        ("Prefix", c_uint8 * 256),
        ("Hint", c_uint8 * 256),
        ("DataType", c_uint8),
        ("Flag", c_uint8),
        ("Pad514", c_uint8 * 2),
        ("MaxValue", c_double),
        ("MinValue", c_double),
        ("Reserved532", c_int32),
    ]


assert ctypes.sizeof(OleVariant) == 16
assert ctypes.sizeof(TTagInfo) == 136 and TTagInfo.Value.offset == 120
assert ctypes.sizeof(TTagValue) == 28 and TTagValue.Data.offset == 20
assert ctypes.sizeof(TTagAddrInfo) == 536 and TTagAddrInfo.MaxValue.offset == 516
