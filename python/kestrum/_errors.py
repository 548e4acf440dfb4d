"""The exceptions of the package and the result codes each one stands for."""

from __future__ import annotations

from typing import Any, Optional, Tuple, Type

# Result codes, unsigned, named as in the library's tbxcodes.h without its "TBX_" (a test keeps
# every E_ name here equal to the header's value).
E_NO_CONTEXT = 0x80040201
E_FILE_NOT_FOUND = 0x80040202
E_FILE_IO = 0x80040203
E_INVALID_FORMAT = 0x80040204
E_BUFFER_TOO_SMALL = 0x80040205
E_REQUEST_FAILED = 0x80040208
E_CRYPTO = 0x80040209
E_NO_ENDPOINT = 0x8004020A
E_INVALID_KEY_BLOB = 0x8004020B
E_ITEM_NOT_FOUND = 0x8004020D
E_NO_KEY_ID = 0x8004020E
E_NO_CONFIGURATION = 0x8004020F
E_KEY_NOT_FOUND = 0x80040210
E_NO_DEFAULT_PATH = 0x80040212
E_HOST_ERROR = 0x80040213
E_INVALID_SIGNATURE = 0x80040214
E_MISSING_SIGNATURE = 0x8004021A
E_SOURCE_NOT_OPENED = 0x80040219
E_DNS_LOOKUP = 0x80042021
E_HTTP_BAD_RESPONSE = 0x80042022
E_HTTP_STATUS_BASE = 0x80042000
E_SOCKET_BASE = 0x80043000
E_TLS_BASE = 0x80044000
E_ORDER_MISMATCH = 0x8004021B


class LibraryNotFoundError(OSError):
    """libtbxapp could not be loaded; the message lists every place that was tried."""


# The classes show as kestrum.X in tracebacks and pickles: that is where callers import them from.
_MODULE = "kestrum"


class KestrumError(Exception):
    """A call into libtbxapp failed.

    ``code`` is the unsigned 32-bit result code (for example ``0x80040214``), ``text`` the code's
    text ("" for codes without one), ``message`` the message the library composed (the host's
    reason for a refusal, the transport's detail), and ``operation`` the call that failed.
    """

    def __init__(self, code: int, text: str, message: str, operation: str = "") -> None:
        super().__init__(code, text, message, operation)
        self.code = code
        self.text = text
        self.message = message
        self.operation = operation

    def __str__(self) -> str:
        prefix = self.operation + ": " if self.operation else ""
        return "%s0x%08X %s" % (prefix, self.code, self.message)

    def __repr__(self) -> str:
        return "%s(0x%08X, %r)" % (type(self).__name__, self.code, self.message)


class SignatureError(KestrumError):
    """A confirmation was refused: its signature does not verify, it is not signed by the host,
    or it cannot be read."""


class HostError(KestrumError):
    """The host answered, and refused (its reason is in ``message``) or answered an HTTP error."""


class NetworkError(KestrumError):
    """The host could not be reached or its answer was lost: socket, name lookup, time-out or TLS.

    ``request_sent`` tells the two apart. False: the request never went out whole (connection
    refused, name not resolved, TLS failure), so repeating it is safe. True: the host may have
    acted on it and only the answer is missing; after a capture the payment may or may not be
    captured, so ask the host (``Store.request("Status", ID=...)``) before capturing again.
    """

    def __init__(self, code: int, text: str, message: str, operation: str = "",
                 request_sent: bool = False) -> None:
        super().__init__(code, text, message, operation)
        self.request_sent = request_sent

    def __reduce__(self) -> "tuple[object, ...]":
        return (type(self), (self.code, self.text, self.message, self.operation,
                             self.request_sent))


class StoreError(KestrumError):
    """The configuration store is missing, not set up, unreadable or not well-formed."""


# Attributes whose values no message shows.
_SECRET_ATTRIBUTES = frozenset({"TOKEN"})


class ConfirmationMismatch(SignatureError):
    """A genuine confirmation that does not belong to the order it was checked against: its
    ``attribute`` carries ``actual`` (None: absent) where the order has ``expected``.

    The message names the attribute; it shows the values only of attributes that are not secret
    (a shop may show it to the shopper, and an order's TOKEN is what binds a payment to it)."""

    def __init__(self, attribute: str, expected: str, actual: Optional[str], code: int,
                 text: str) -> None:
        if actual is None:
            message = "the confirmation carries no %s" % attribute
        elif attribute in _SECRET_ATTRIBUTES:
            message = "the confirmation carries another %s than the order" % attribute
        else:
            message = "the confirmation carries %s %r, the order has %s %r" % (
                attribute, actual, attribute, expected)
        super().__init__(code, text, message, "verify_confirmation")
        self.attribute = attribute
        self.expected = expected
        self.actual = actual

    def __reduce__(self) -> Tuple[Any, ...]:
        return (type(self), (self.attribute, self.expected, self.actual, self.code, self.text))


# Codes that, when verifying a confirmation, mean it cannot be trusted: data that is not a
# message, no or a malformed KEYID, a key the store does not hold, a signature that is not hex.
_REFUSALS = frozenset({E_INVALID_FORMAT, E_INVALID_KEY_BLOB, E_ITEM_NOT_FOUND, E_NO_KEY_ID,
                       E_CRYPTO, E_INVALID_SIGNATURE, E_MISSING_SIGNATURE})

_STORE = frozenset({
    E_NO_CONTEXT,
    E_FILE_NOT_FOUND,
    E_FILE_IO,
    E_INVALID_FORMAT,
    E_NO_ENDPOINT,
    E_INVALID_KEY_BLOB,
    E_NO_KEY_ID,  # the store has no current key: never set up
    E_NO_CONFIGURATION,
    E_KEY_NOT_FOUND,
    E_NO_DEFAULT_PATH,
    E_SOURCE_NOT_OPENED,
})

for _class in (LibraryNotFoundError, KestrumError, SignatureError, HostError, NetworkError,
               StoreError, ConfirmationMismatch):
    _class.__module__ = _MODULE


def error_class(code: int, refusal: bool = False) -> Type[KestrumError]:
    """The exception class for an unsigned result code. `refusal`: the call verified a
    confirmation, so reading failures are refusals of it."""
    if code in (E_INVALID_SIGNATURE, E_MISSING_SIGNATURE, E_ORDER_MISMATCH) or (
            refusal and code in _REFUSALS):
        return SignatureError
    if code in (E_HOST_ERROR, E_REQUEST_FAILED):
        return HostError
    if E_HTTP_STATUS_BASE + 100 <= code <= E_HTTP_STATUS_BASE + 599:
        return HostError
    if E_SOCKET_BASE <= code <= E_SOCKET_BASE + 0xFFF or E_TLS_BASE <= code <= E_TLS_BASE + 0xFFF:
        return NetworkError
    if code in (E_DNS_LOOKUP, E_HTTP_BAD_RESPONSE):
        return NetworkError
    if code in _STORE or 0 < code < 0x10000:
        return StoreError
    return KestrumError


def error_for(code: int, text: str, message: str, operation: str,
              refusal: bool = False, request_sent: bool = False) -> KestrumError:
    cls = error_class(code, refusal)
    if issubclass(cls, NetworkError):
        return cls(code, text, message, operation, request_sent)
    return cls(code, text, message, operation)
