"""The ledsign library's C functions, declared once with their exact types."""

from __future__ import annotations

import ctypes
import os
import sys
from pathlib import Path

# cdecl on every platform, the callback too (CFUNCTYPE; WINFUNCTYPE would be stdcall).
TraceCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p)


class SignHandle(ctypes.Structure):
    """The library's opaque ledsign_sign."""


SignPointer = ctypes.POINTER(SignHandle)

_LEDATT_SIZE = 1024  # LEDAtt is 656 bytes and the label after them; the rest is room to spare


def _candidates() -> list[str]:
    """Where the library is looked for: LEDSIGN_LIBRARY, beside an installed package (the .deb and
    `cmake --install` put this package in lib/python3/dist-packages and the library in lib/), then
    the system's own search."""
    named = os.environ.get("LEDSIGN_LIBRARY")
    if named:
        return [named]
    if sys.platform == "win32":
        return [str(Path(__file__).resolve().parent / "ledsign.dll"), "ledsign.dll"]
    here = Path(__file__).resolve().parent
    return [str(here.parents[2] / "libledsign.so.1"), "libledsign.so.1"]


def _load() -> ctypes.CDLL:
    errors = []
    for candidate in _candidates():
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            errors.append(f"{candidate}: {error}")
    raise OSError("the ledsign library was not found (install the ledsign package, or set "
                  "LEDSIGN_LIBRARY to libledsign.so.1 or ledsign.dll): " + "; ".join(errors))


def _declare(library: ctypes.CDLL) -> ctypes.CDLL:
    c_int, c_char_p, c_void_p = ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p
    signatures = {
        "ledsign_open": (c_int, [c_char_p, c_char_p, c_char_p, ctypes.POINTER(SignPointer)]),
        "ledsign_write": (c_int, [SignPointer, c_char_p]),
        "ledsign_write_utf8": (c_int, [SignPointer, c_char_p]),
        "ledsign_clear": (c_int, [SignPointer]),
        "ledsign_close": (None, [SignPointer]),
        "ledsign_last_error": (c_char_p, [SignPointer]),
        "ledsign_model_count": (c_int, []),
        "ledsign_model_name": (c_char_p, [c_int]),
        "ledsign_model_attributes": (c_int, [c_char_p, c_void_p]),
        "ledsign_set_trace": (c_int, [SignPointer, TraceCallback, c_void_p]),
    }
    for name, (result, arguments) in signatures.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    return library


_library: ctypes.CDLL | None = None


def library() -> ctypes.CDLL:
    """The library, loaded and declared at first use."""
    global _library
    if _library is None:
        _library = _declare(_load())
    return _library


def attributes_buffer() -> ctypes.Array:
    return ctypes.create_string_buffer(_LEDATT_SIZE)
