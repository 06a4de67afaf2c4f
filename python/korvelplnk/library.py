"""Loading the driver library and declaring its fifteen exports for ctypes."""
import ctypes
import os
import sys
from ctypes import POINTER, byref, c_char_p, c_int32, c_ssize_t, c_uint8, c_uint16, c_void_p

from .records import TTagAddrInfo, TTagInfo, TTagValue

_WINDOWS = sys.platform == "win32"
_FILE = "KorvelPLNK.dll" if _WINDOWS else "KorvelPLNK.so"


class LibraryError(OSError):
    """The library cannot be found or loaded."""


def _candidates(path):
    if path:
        return [path]
    if os.environ.get("KORVELPLNK_LIBRARY"):
        return [os.environ["KORVELPLNK_LIBRARY"]]
    # The package's real place: another interpreter may reach it through a link (a .pth naming
    # share/korvelplnk/python), while the library lies relative to where it is installed.
    here = os.path.dirname(os.path.realpath(__file__))
    found = []
    try:  # written by the install: the library relative to the installed package
        from ._location import LIBRARY_FROM_PACKAGE

        found.append(os.path.normpath(os.path.join(here, LIBRARY_FROM_PACKAGE)))
    except ImportError:
        pass
    found.append(os.path.normpath(os.path.join(here, "..", "..", "build", _FILE)))  # a source checkout
    return found


def _declare(lib):
    Bool = c_uint8
    msg = POINTER(c_void_p)
    table = {
        "GetPDBLen": (c_int32, []),
        "FullPDB": (c_void_p, [c_void_p]),
        "DLLEdDev": (c_int32, [c_ssize_t, c_void_p]),
        "DLLTestDev": (Bool, [c_void_p, Bool]),
        "TagEdAddr": (Bool, [c_void_p, POINTER(c_void_p), Bool, msg]),
        "GetTagAddrList": (None, [c_int32, POINTER(c_int32), POINTER(TTagAddrInfo)]),
        "DetectScanTime": (c_uint16, []),
        "IniDriver": (Bool, [c_int32, POINTER(POINTER(TTagInfo)), c_void_p, msg]),
        "IniDriverEx": (Bool, [c_ssize_t]),
        "OnDataRead": (Bool, [POINTER(c_int32), POINTER(TTagValue), msg]),
        "OnDataWrite": (Bool, [c_int32, POINTER(TTagValue), msg]),
        "GetDeviceStatus": (Bool, [msg]),
        "WriteLog": (None, [Bool, msg]),
        "FreeDriver": (Bool, []),
        "ReleaseDriver": (None, []),
    }
    for name, (restype, argtypes) in table.items():
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = argtypes


class Library:
    """The loaded library: its exports as attributes, plus the host's duties (freeing texts)."""

    def __init__(self, path=None):
        errors = []
        self._lib = None
        for candidate in _candidates(path):
            try:
                self._lib = (ctypes.WinDLL if _WINDOWS else ctypes.CDLL)(candidate)
                self.path = candidate
                break
            except OSError as e:
                errors.append("%s: %s" % (candidate, e))
        if self._lib is None:
            raise LibraryError("cannot load the driver library (set KORVELPLNK_LIBRARY): " + "; ".join(errors))
        _declare(self._lib)
        # Texts the library hands out: malloc on POSIX, the COM task allocator on Windows.
        if _WINDOWS:
            self._free = ctypes.windll.ole32.CoTaskMemFree
        else:
            self._free = ctypes.CDLL(None).free
        self._free.argtypes = [c_void_p]
        self._free.restype = None

    def __getattr__(self, name):
        return getattr(self._lib, name)

    def take_text(self, pointer):
        """Decodes (GBK) and frees a text the library handed out; "" for NULL."""
        address = pointer.value if isinstance(pointer, c_void_p) else pointer
        if not address:
            return ""
        text = ctypes.string_at(address).decode("gbk", errors="replace")
        self._free(address)
        return text

    def tag_kinds(self):
        """The address kinds as (prefix, hint, data type, flag, maximum, minimum)."""
        count = c_int32(0)
        self._lib.GetTagAddrList(0, byref(count), None)
        items = (TTagAddrInfo * count.value)()
        self._lib.GetTagAddrList(0, byref(count), items)

        def short(field):
            return bytes(field[1 : 1 + field[0]]).decode("gbk", errors="replace")

        return [(short(i.Prefix), short(i.Hint), i.DataType, i.Flag, i.MaxValue, i.MinValue) for i in items]

    def check_address(self, block, address):
        """Checks a tag address against a block through TagEdAddr.

        Returns (ok, normal form of the address, the library's message); texts are str."""
        text = ctypes.create_string_buffer(address.encode("gbk"))
        addr = c_void_p(ctypes.addressof(text))
        msg = c_void_p()
        ok = self._lib.TagEdAddr(ctypes.byref(block.raw), byref(addr), 0, byref(msg))
        normal = self.take_text(addr) if addr.value != ctypes.addressof(text) else address
        return bool(ok), normal, self.take_text(msg)


_default = None


def load_library(path=None):
    """The library at path, or the one found by default (KORVELPLNK_LIBRARY, the installed one,
    the source checkout's build/); the default one is loaded once."""
    global _default
    if path:
        return Library(path)
    if _default is None:
        _default = Library()
    return _default
