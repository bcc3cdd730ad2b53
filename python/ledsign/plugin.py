"""A nine-export plug-in (libelvane.so, ELVANE.DLL, ...) loaded with ctypes, declared right.

For hosts that must load a plug-in rather than link the library. One loaded plug-in drives one
sign: the system loads a file once per process, so loading the same plug-in twice gives the same
driver object. For several signs of one model, use the library (ledsign.open).

    from ledsign.plugin import Plugin, port_settings
    sign = Plugin("/usr/lib/ledsign/libelvane.so")
    sign.InitLed(port_settings("ttyUSB0", 9600))
    if sign.OpenLed() != 1: ...
    if sign.Write2Led("欢迎#Welcome".encode("gbk")) != 1: ...
"""

from __future__ import annotations

import ctypes
import sys


class PortSettings(ctypes.Structure):
    """InitLed's record: 42 bytes, byte-packed."""

    _pack_ = 1
    _fields_ = [
        ("portName", ctypes.c_char * 10),  # 9 characters and a NUL: never a longer name
        ("baudRate", ctypes.c_int32),
        ("dataBits", ctypes.c_int32),
        ("stopBits", ctypes.c_int32),
        ("parityWord", ctypes.c_char * 20),
    ]


class LEDAtt(ctypes.Structure):
    """GetLEDAtt's record; the plug-in writes the label and its NUL into vendorCopy."""

    _pack_ = 1
    _fields_ = [
        ("dots", ctypes.c_int32),
        ("rowChars", ctypes.c_int32),
        ("rowWideChars", ctypes.c_int32),
        ("twoRows", ctypes.c_int32),
        ("commText", ctypes.c_char * 128),
        ("vendor", ctypes.c_char * 512),
        ("vendorCopy", ctypes.c_char * 512),
    ]


assert ctypes.sizeof(PortSettings) == 42


def port_settings(port: str, baud: int = 9600, data_bits: int = 8, stop_bits: int = 1,
                  parity: str = "NONE") -> PortSettings:
    """A settings record. A port name over 9 bytes raises ValueError: the record cannot hold it,
    and a cut name would open another device."""
    name = port.encode("ascii")
    if len(name) > 9:
        raise ValueError(f"port name {port!r} is {len(name)} characters; a plug-in takes at most 9 "
                         "(use a short link, or the library, which takes any name)")
    word = parity.encode("ascii")
    if len(word) > 19:
        raise ValueError(f"parity word {parity!r} is longer than 19 characters")
    return PortSettings(name, baud, data_bits, stop_bits, word)


# cdecl everywhere: ctypes.CDLL (not WinDLL, which is stdcall) on 32-bit Windows too.
_SIGNATURES = {
    "InitLed": (None, [ctypes.POINTER(PortSettings)]),
    "OpenLed": (ctypes.c_int32, []),
    "CloseLed": (None, []),
    "IsLedOpened": (ctypes.c_int32, []),
    "Write2Led": (ctypes.c_int32, [ctypes.c_char_p]),  # GBK bytes, never a str (it would go out as UTF-16)
    "ClearLed": (ctypes.c_int32, []),
    "SetShowMode": (None, [ctypes.c_ubyte]),
    "GetLEDAtt": (ctypes.c_int32, [ctypes.POINTER(LEDAtt)]),
    "GetVer": (ctypes.c_float, []),  # a float: without restype ctypes reads it as an int
}


def Plugin(path: str) -> ctypes.CDLL:  # noqa: N802 - reads as a class at the call site
    """Loads the plug-in and declares its nine functions; a missing one raises AttributeError."""
    library = ctypes.CDLL(path)
    for name, (result, arguments) in _SIGNATURES.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    return library


__all__ = ["Plugin", "PortSettings", "LEDAtt", "port_settings"]
if sys.platform == "win32":
    __doc__ += "\nOn Windows load x86\\\\ELVANE.DLL from a 32-bit Python, x64\\\\ELVANE.DLL from a 64-bit one.\n"
