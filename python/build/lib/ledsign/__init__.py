"""LED signs on serial lines: any number of signs, any port name, text as str or GBK bytes.

    import ledsign
    with ledsign.open("elvane", "/dev/ttyUSB0") as sign:
        sign.write("欢迎光临#Welcome")

Every failure raises: OpenFailedError (the port could not be opened), SettingsRefusedError (the
line refused the settings), WriteFailedError (a write failed or the line was lost), all
LedSignError, each with the library's reason; a bad argument raises ValueError. With the logger
"ledsign" enabled for DEBUG, every write, pause, loss and comeback of a sign is logged.
"""

from __future__ import annotations

import ctypes
import logging
import struct
from dataclasses import dataclass
from typing import Optional, Union

from . import _native

__all__ = ["open", "models", "Sign", "ModelInfo", "LedSignError", "OpenFailedError", "SettingsRefusedError",
           "WriteFailedError"]

logger = logging.getLogger("ledsign")


class LedSignError(Exception):
    """A sign call failed; the message is the library's reason."""


class OpenFailedError(LedSignError):
    """The port could not be opened: missing, in use, or no permission."""


class SettingsRefusedError(LedSignError):
    """The line refused the settings."""


class WriteFailedError(LedSignError):
    """A write failed: the line stalled past its deadline or was lost (it comes back by itself)."""


def _text(value: Optional[bytes]) -> str:
    return value.decode("utf-8", "replace") if value else ""


@dataclass(frozen=True)
class ModelInfo:
    """What a model's sign reports (its plug-in's GetLEDAtt)."""

    name: str
    dots: int
    row_chars: int
    row_wide_chars: int
    two_rows: bool
    settings: str  # "4800,8,NONE,2": what ledsign.open uses when given none
    vendor: str


def models() -> list[ModelInfo]:
    """Every sign model the library knows, with its attributes."""
    library = _native.library()
    found = []
    for index in range(library.ledsign_model_count()):
        name = library.ledsign_model_name(index)
        record = _native.attributes_buffer()
        if library.ledsign_model_attributes(name, record) != 1:
            continue
        dots, row_chars, row_wide_chars, two_rows = struct.unpack_from("<4i", record.raw, 0)
        settings = record.raw[16:144].split(b"\0", 1)[0].decode("ascii")
        vendor = record.raw[144:656].split(b"\0", 1)[0].decode("gbk", "replace")
        found.append(ModelInfo(name.decode("ascii"), dots, row_chars, row_wide_chars, bool(two_rows), settings, vendor))
    return found


class Sign:
    """One open sign. Use it from one thread at a time; different signs may be used at once."""

    def __init__(self, model: str, port: str, settings: Optional[str] = None) -> None:
        self._library = _native.library()
        self._handle = _native.SignPointer()
        self._trace = None  # the callback, kept alive while the library holds it
        self.model = model
        self.port = port
        result = self._library.ledsign_open(model.encode("utf-8"), port.encode("utf-8"),
                                            settings.encode("ascii") if settings is not None else None,
                                            ctypes.byref(self._handle))
        if result != 1:
            reason = _text(self._library.ledsign_last_error(None))
            if result == -2:
                raise SettingsRefusedError(reason)
            if result == -3:
                raise ValueError(reason)
            raise OpenFailedError(reason)

    def write(self, text: Union[str, bytes]) -> None:
        """Shows the text: a str is sent as GBK (a character GBK lacks raises UnicodeEncodeError
        before anything is sent), bytes are sent as they are. '#' separates the rows."""
        data = text.encode("gbk") if isinstance(text, str) else bytes(text)
        if b"\0" in data:
            raise ValueError("text holds a NUL byte")
        self._check(self._library.ledsign_write(self._open_handle(), data))

    def clear(self) -> None:
        """Blanks the sign."""
        self._check(self._library.ledsign_clear(self._open_handle()))

    def close(self) -> None:
        """Releases the port; closing twice is fine."""
        if self._handle:
            self._library.ledsign_close(self._handle)
            self._handle = _native.SignPointer()
            self._trace = None

    def __enter__(self) -> "Sign":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_handle", None):
            self.close()

    def __repr__(self) -> str:
        return f"<ledsign.Sign {self.model} on {self.port}{'' if self._handle else ' (closed)'}>"

    def _open_handle(self) -> "_native.SignPointer":
        if not self._handle:
            raise ValueError("the sign is closed")
        self._follow_logging()
        return self._handle

    def _follow_logging(self) -> None:
        """The trace is formatted only while the "ledsign" logger takes DEBUG records."""
        wanted = logger.isEnabledFor(logging.DEBUG)
        if wanted and self._trace is None:
            self._trace = _native.TraceCallback(lambda _context, line: logger.debug("%s", _text(line)))
            self._library.ledsign_set_trace(self._handle, self._trace, None)
        elif not wanted and self._trace is not None:
            self._library.ledsign_set_trace(self._handle, _native.TraceCallback(), None)
            self._trace = None

    def _check(self, result: int) -> None:
        if result == 1:
            return
        reason = _text(self._library.ledsign_last_error(self._handle))
        if result == -3:
            raise ValueError(reason)
        raise WriteFailedError(reason)


def open(model: str, port: str, settings: Optional[str] = None) -> Sign:  # noqa: A001 - the package's verb
    """Opens `port` ("/dev/ttyUSB0", "ttyUSB0", "COM3") for a sign of `model` ("brava", "dorun",
    "cresto", "elvane") at `settings` ("9600,8,NONE,1"), or at the sign's own when None."""
    return Sign(model, port, settings)
