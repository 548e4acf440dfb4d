"""Loading libtbxapp and calling its exported functions through ctypes.

Everything here is private to the package: the public classes in ``kestrum`` build on these
helpers and never keep a handle beyond one call.
"""

from __future__ import annotations

import codecs
import ctypes
import importlib
import os
import threading
from ctypes import POINTER, byref, c_char_p, c_int, c_long, c_void_p
from typing import Callable, Dict, Iterator, List, Optional, Sequence, Tuple, Union

from ._errors import E_BUFFER_TOO_SMALL, KestrumError, LibraryNotFoundError, error_for
from ._redact import hide_credentials

SONAME = "libtbxapp.so.0"

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))

# A value handed to the library: text, bytes taken as they are, or a whole number.
Value = Union[str, bytes, int]


def _latin1_fallback(error: UnicodeError) -> Tuple[str, int]:
    # Each byte that is not part of a well-formed UTF-8 sequence reads as its Latin-1 character:
    # hosts and older stores hand back Latin-1 text (the Java binding reads it the same way).
    if not isinstance(error, UnicodeDecodeError):
        raise error
    return error.object[error.start:error.end].decode("latin-1"), error.end


codecs.register_error("kestrum-latin1", _latin1_fallback)


def decode(raw: bytes) -> str:
    """Bytes from the library as str: UTF-8 where well-formed, Latin-1 for other bytes."""
    return raw.decode("utf-8", "kestrum-latin1")


def encode(value: Value, what: str) -> bytes:
    """A value for the library as a C string (UTF-8 for str, bytes as they are).

    A NUL character would silently cut the value short in C, so it is refused.
    """
    if isinstance(value, bytes):
        raw = value
    elif isinstance(value, str):
        # surrogateescape: text that came from undecodable bytes goes back as those bytes.
        raw = value.encode("utf-8", "surrogateescape")
    elif isinstance(value, int) and not isinstance(value, bool):
        raw = str(value).encode("ascii")
    else:
        raise TypeError("%s must be str, bytes or int, not %s" % (what, type(value).__name__))
    if b"\0" in raw:
        raise ValueError("%s contains a NUL character" % what)
    return raw


def encode_path(path: Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]) -> bytes:
    raw = os.fsencode(path)
    if b"\0" in raw:
        raise ValueError("the store path contains a NUL character")
    return raw


# ---- finding and loading the library ---------------------------------------------------------

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None


def _installed_library() -> Optional[str]:
    """The library installed together with this package, when the package was installed."""
    try:
        # Written by cmake --install.
        installed = importlib.import_module("._installed", __package__)
    except ImportError:
        return None
    path = str(installed.LIBRARY)
    if not os.path.isabs(path):
        path = os.path.join(_PACKAGE_DIR, path)
    return os.path.normpath(path)


def candidates() -> List[Tuple[str, str]]:
    """Where the library is looked for, in order: (description, name or path)."""
    configured = os.environ.get("KESTRUM_LIBRARY", "")
    if configured:
        return [("KESTRUM_LIBRARY", configured)]
    places = []
    installed = _installed_library()
    if installed is not None:
        places.append(("installed with the package", installed))
    places.append(("the dynamic linker", SONAME))
    checkout = os.path.normpath(os.path.join(_PACKAGE_DIR, "..", "..", "build", SONAME))
    places.append(("the checkout's build folder", checkout))
    return places


def _load() -> ctypes.CDLL:
    tried = []
    for description, name in candidates():
        # A path is loaded only when it exists, so that a missing file does not make the dynamic
        # linker search elsewhere under the same name.
        if os.sep in name and not os.path.exists(name):
            tried.append("%s: %s (no such file)" % (description, name))
            continue
        try:
            library = ctypes.CDLL(name)
        except OSError as error:
            tried.append("%s: %s (%s)" % (description, name, error))
            continue
        _declare(library)
        return library
    raise LibraryNotFoundError("libtbxapp not found; looked in:\n  " + "\n  ".join(tried))


def library() -> ctypes.CDLL:
    """The loaded library, loaded on first use."""
    global _library
    if _library is None:
        with _lock:
            if _library is None:
                _library = _load()
    return _library


class _DlInfo(ctypes.Structure):
    _fields_ = [("dli_fname", c_char_p), ("dli_fbase", c_void_p),
                ("dli_sname", c_char_p), ("dli_saddr", c_void_p)]


def library_path() -> str:
    """The file the library was loaded from (loading it if needed)."""
    lib = library()
    address = ctypes.cast(lib.TBX_GetErrorStringFromResult, c_void_p)
    info = _DlInfo()
    dladdr = ctypes.CDLL(None).dladdr
    dladdr.argtypes = [c_void_p, POINTER(_DlInfo)]
    dladdr.restype = c_int
    if dladdr(address, byref(info)) == 0 or not info.dli_fname:
        return lib._name
    return os.path.realpath(os.fsdecode(info.dli_fname))


_PROTOTYPES: Sequence[Tuple[str, object, Sequence[object]]] = (
    ("TBX_GetErrorStringFromResult", c_int, (c_long, POINTER(c_long), c_char_p)),
    ("TBX_GetLastErrorMessage", c_long, (POINTER(c_long), c_char_p)),
    ("TBX_LastRequestWasSent", c_long, ()),
    ("TBX_GetLastErrorCode", c_long, ()),
    ("CreateConfigurationSetup", c_void_p, ()),
    ("DestroyConfigurationSetup", None, (c_void_p,)),
    ("ConfigurationSetup_SetConfiguration", c_long, (c_void_p, c_char_p)),
    ("ConfigurationSetup_Reconfigure", c_long, (c_void_p, c_char_p, c_char_p, c_char_p)),
    ("ConfigurationSetup_SetAttribute", c_long, (c_void_p, c_char_p, c_char_p, c_char_p)),
    ("ConfigurationSetup_GetAttribute", c_long,
     (c_void_p, c_char_p, c_char_p, POINTER(c_long), c_char_p)),
    ("CreateMessageFactory", c_void_p, ()),
    ("DestroyMessageFactory", None, (c_void_p,)),
    ("MessageFactory_Open", c_long, (c_void_p, c_char_p)),
    ("MessageFactory_CreatePayInit", c_long, (c_void_p, POINTER(c_void_p))),
    ("MessageFactory_VerifyPayConfirm", c_long, (c_void_p, c_char_p, c_char_p, POINTER(c_void_p))),
    ("MessageFactory_VerifyPayConfirmForOrder", c_long,
     (c_void_p, c_char_p, c_char_p, c_char_p, c_char_p, c_char_p, POINTER(c_void_p))),
    ("MessageFactory_CreatePayComplete", c_long, (c_void_p, c_char_p, c_char_p, POINTER(c_void_p))),
    ("MessageFactory_CreateRequest", c_long, (c_void_p, c_char_p, POINTER(c_void_p))),
    ("CreateMessageObject", c_void_p, ()),
    ("DestroyMessageObject", None, (c_void_p,)),
    ("MessageObject_Open", c_long, (c_void_p, c_char_p)),
    ("MessageObject_SetAttribute", c_long, (c_void_p, c_char_p, c_char_p)),
    ("MessageObject_GetAttribute", c_long, (c_void_p, c_char_p, POINTER(c_long), c_char_p)),
    ("MessageObject_GetAttributeNames", c_long, (c_void_p, POINTER(c_long), c_char_p)),
    ("MessageObject_GetURL", c_long, (c_void_p, POINTER(c_long), c_char_p)),
    ("MessageObject_Capture", c_long, (c_void_p,)),
    ("MessageObject_Execute", c_long, (c_void_p, POINTER(c_void_p))),
    ("MessageObject_FromString", c_long, (c_void_p, c_char_p)),
    ("MessageObject_ToString", c_long, (c_void_p, POINTER(c_long), c_char_p)),
)


def _declare(lib: ctypes.CDLL) -> None:
    for name, restype, argtypes in _PROTOTYPES:
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = list(argtypes)


# ---- results and errors ------------------------------------------------------------------------

def unsigned(result: int) -> int:
    return result & 0xFFFFFFFF


def error_text(code: int) -> str:
    """The library's text for a result code, or "" when it has none."""
    lib = library()
    buffer = ctypes.create_string_buffer(256)
    length = c_long(len(buffer))
    if lib.TBX_GetErrorStringFromResult(code, byref(length), buffer) == 0:
        return ""
    if length.value > len(buffer):
        buffer = ctypes.create_string_buffer(length.value)
        lib.TBX_GetErrorStringFromResult(code, byref(length), buffer)
    return decode(buffer.value)


def _last_error_message() -> str:
    lib = library()
    length = c_long(0)
    if unsigned(lib.TBX_GetLastErrorMessage(byref(length), None)) != E_BUFFER_TOO_SMALL:
        return ""
    buffer = ctypes.create_string_buffer(max(length.value, 1))
    if lib.TBX_GetLastErrorMessage(byref(length), buffer) != 0:
        return ""
    return decode(buffer.value)


def failure(result: int, operation: str, refusal: bool = False) -> KestrumError:
    """The exception for a failed call, made on the thread that made the call (the library keeps
    the last error per thread). No text keeps a credential."""
    code = unsigned(result)
    # Read first: it belongs to the failure this call just had.
    request_sent = library().TBX_LastRequestWasSent() == 1
    if 0 < result < 0x10000:
        # A store directory that could not be made: the system's error number itself.
        text = os.strerror(result)
        message = text
    else:
        text = error_text(code)
        # The thread's last error describes this failure only when it carries this code: a call
        # that failed before reaching the library leaves an older one in place.
        message = ""
        if unsigned(library().TBX_GetLastErrorCode()) == code:
            message = _last_error_message()
        if not message:
            message = text or "ErrorCode = 0x%x" % code
    return error_for(code, hide_credentials(text), hide_credentials(message), operation, refusal,
                     request_sent)


def check(result: int, operation: str, refusal: bool = False) -> None:
    if result != 0:
        raise failure(result, operation, refusal)


def fetch(function: Callable[..., int], operation: str, *args: object, size: int = 1024,
          whole: bool = False) -> bytes:
    """A string out of the library: into a buffer of `size` bytes, or, when the library reports
    that it needs more, into one of that size. A size that fits at once saves a call: a URL is
    signed anew by every call. `whole`: every byte but the terminating NUL (a list of names, each
    ended by a NUL), instead of the text up to the first NUL."""
    for _ in range(4):
        buffer = ctypes.create_string_buffer(size)
        length = c_long(size)
        result = function(*args, byref(length), buffer)
        if result == 0:
            return buffer.raw[:length.value - 1] if whole else buffer.value
        if unsigned(result) != E_BUFFER_TOO_SMALL or length.value <= size:
            raise failure(result, operation)
        size = length.value
    raise failure(E_BUFFER_TOO_SMALL - (1 << 32), operation)


# ---- handles ---------------------------------------------------------------------------------

class Handles:
    """The handles of one call, destroyed when the call ends, whatever happened."""

    def __init__(self) -> None:
        self.lib = library()
        self._owned: List[Tuple[Callable[[int], None], int]] = []

    def __enter__(self) -> "Handles":
        return self

    def __exit__(self, *exc: object) -> None:
        while self._owned:
            destroy, handle = self._owned.pop()
            destroy(handle)

    def _keep(self, handle: Optional[int], destroy: Callable[[int], None]) -> int:
        if not handle:
            raise MemoryError("libtbxapp could not allocate an object")
        self._owned.append((destroy, handle))
        return handle

    def setup(self) -> int:
        return self._keep(self.lib.CreateConfigurationSetup(), self.lib.DestroyConfigurationSetup)

    def factory(self, store: bytes) -> int:
        factory = self._keep(self.lib.CreateMessageFactory(), self.lib.DestroyMessageFactory)
        check(self.lib.MessageFactory_Open(factory, store), "MessageFactory_Open")
        return factory

    def message(self) -> int:
        return self._keep(self.lib.CreateMessageObject(), self.lib.DestroyMessageObject)

    def made(self, function: Callable[..., int], operation: str, *args: object,
             refusal: bool = False) -> int:
        """Calls a function that makes a message object into its last argument and keeps it."""
        out = c_void_p()
        check(function(*args, byref(out)), operation, refusal)
        return self._keep(out.value, self.lib.DestroyMessageObject)

    def keep_message(self, handle: Optional[int]) -> int:
        """Keeps a message object a call has made, to destroy it with the others."""
        return self._keep(handle, self.lib.DestroyMessageObject)

    def text(self, message: int) -> str:
        return decode(fetch(self.lib.MessageObject_ToString, "MessageObject_ToString", message))

    def attributes(self, message: int) -> Dict[str, str]:
        """The message's attributes, in order, as the library reads them."""
        names = fetch(self.lib.MessageObject_GetAttributeNames, "MessageObject_GetAttributeNames",
                      message, whole=True)
        out: Dict[str, str] = {}
        for name in names.split(b"\0")[:-1]:
            out[decode(name)] = decode(fetch(self.lib.MessageObject_GetAttribute,
                                             "MessageObject_GetAttribute", message, name))
        return out

    def set_attributes(self, message: int, attributes: Iterator[Tuple[str, Value]]) -> None:
        for name, value in attributes:
            check(self.lib.MessageObject_SetAttribute(message, encode(name, "attribute name"),
                                                      encode(value, name)),
                  "MessageObject_SetAttribute(%s)" % name)
