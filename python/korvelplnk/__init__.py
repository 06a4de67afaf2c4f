"""KorvelPLNK from Python: the driver library's records, its parameter block with named settings,
and a Driver context manager, through ctypes only. Texts cross the boundary as GBK and come back
here as str."""
from .block import BAUD_RATES, PARITIES, Block
from .driver import Driver, DriverError, Tag, Value
from .library import Library, LibraryError, load_library
from .records import TTagAddrInfo, TTagInfo, TTagValue
from .status import decode_status

# The version of the KorvelPLNK release this binding belongs to (the project's version).
__version__ = "4.8.3.0"


def check_address(block, address, library=None):
    """(ok, normal form, message) of a tag address for the block, as the host's tag editor gets it."""
    return (library or load_library()).check_address(block, address)


__all__ = [
    "BAUD_RATES", "PARITIES", "Block", "Driver", "DriverError", "Library", "LibraryError", "Tag",
    "TTagAddrInfo", "TTagInfo", "TTagValue", "Value", "__version__", "check_address", "decode_status",
    "load_library",
]
