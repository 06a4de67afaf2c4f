"""The bits of a tag's 32-bit status word and the link states of the COMMLINK and DEVICELINK<n>
tags, named as KorvelPLNK.h names them (KORVEL_STATUS_*, KORVEL_LINK_*). 0 is a good value from
the tag's own answer."""

ADDRESS_REFUSED = 0x00040000
NO_VALUE_YET = 0x00080000
NO_ANSWER = 0x00100000
INCOMPLETE = 0x00200000
BAD_CHECK = 0x00400000
REFUSED = 0x00800000
REPEATED_FAILURE = 0x01000000
# The names of earlier versions.
ADDRESS_FAILED = ADDRESS_REFUSED
ADDRESS_CHECKED = NO_VALUE_YET

LINK_NEVER = 0
LINK_OK = 1
LINK_INTERFERENCE = 2
LINK_FAULT = 3
LINK_BROKEN = 4
LINK_POWER_OFF = 5
LINK_PAUSED = 6

_BITS = [
    (ADDRESS_REFUSED, "address refused"),
    (NO_VALUE_YET, "no value yet"),
    (NO_ANSWER, "no answer"),
    (INCOMPLETE, "incomplete answer"),
    (BAD_CHECK, "check characters wrong"),
    (REFUSED, "refused by the module"),
    (REPEATED_FAILURE, "failing repeatedly"),
]


def decode_status(status):
    """The names of the bits set in a status word, in bit order; [] for a good value."""
    names = []
    rest = status
    for bit, name in _BITS:
        if status & bit:
            names.append(name)
            rest &= ~bit
    if rest:
        names.append("bits 0x%08X" % rest)
    return names
