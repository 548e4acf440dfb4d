"""The merchant's side of a payment: set-up, offers, confirmations, captures and requests."""

from __future__ import annotations

import os
from ctypes import byref, c_void_p
from typing import Dict, Iterator, Mapping, Optional, Union

from . import _native
from ._errors import (E_INVALID_FORMAT, E_INVALID_KEY_BLOB, E_ORDER_MISMATCH,
                      ConfirmationMismatch, KestrumError, SignatureError)
from ._native import Handles, Value, check, encode, encode_path
from ._redact import hide_credentials

PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

def _confirmation_part(value: Union[str, bytes], name: str, code: int) -> bytes:
    """DATA or SIGNATURE of a confirmation for the library. Text that no host could have sent (a
    NUL character, a lone surrogate) is a refused confirmation, as any other forgery is: it comes
    from the shopper's browser, and the shop must be able to answer it."""
    try:
        return encode(value, name)
    except ValueError:
        raise SignatureError(code, _native.error_text(code),
                             "the confirmation's %s is not text a host sends" % name,
                             "verify_confirmation") from None


def _password(password: Optional[str]) -> str:
    if password is None:
        password = os.environ.get("KESTRUM_PASSWORD") or None
    if password is None:
        raise ValueError("no password: pass password= or set KESTRUM_PASSWORD")
    return password


def setup(store: PathArg, url: Optional[str], user: str, password: Optional[str] = None) -> "Store":
    """Sets the configuration store up against the host, or refreshes it (as ``kestrum -conf``).

    Sends to the host's set-up endpoint `url` (None: the one the store already holds), with `user`
    and `password` as Basic credentials: SetupRequest (the account's configuration, written to
    config.xml), LoadDefaultsRequest (default offer attributes, once), KeyQueryRequest (the host's
    public key) and KeyExportRequest (a new merchant key, registered with the host). The store's
    directory is created when missing (its parent must exist). `password` None takes
    KESTRUM_PASSWORD from the environment; it never appears in an exception.

    Returns the Store. Raises HostError when the host refuses (wrong credentials: HTTP 401),
    NetworkError when it cannot be reached, StoreError when the store cannot be written.
    """
    secret = _password(password)
    result = Store(store)
    with Handles() as h:
        handle = h.setup()
        check(h.lib.ConfigurationSetup_SetConfiguration(handle, result._path), "setup")
        check(h.lib.ConfigurationSetup_Reconfigure(handle, encode(url or "", "url"),
                                                   encode(user, "user"),
                                                   encode(secret, "password")),
              "setup")
    return result


class Offer:
    """A signed payment offer: send the shopper's browser to ``url`` and keep ``token`` with the
    order, to check the confirmation against it."""

    __slots__ = ("_url", "_attributes")

    def __init__(self, url: str, attributes: Dict[str, str]) -> None:
        self._url = url
        self._attributes = attributes

    @property
    def url(self) -> str:
        """The signed offer URL on the host (DATA and SIGNATURE in its query)."""
        return self._url

    @property
    def token(self) -> str:
        """The offer's TOKEN, new for every offer."""
        return self._attributes["TOKEN"]

    @property
    def attributes(self) -> Dict[str, str]:
        """The offer's attributes in order (a copy)."""
        return dict(self._attributes)

    def __repr__(self) -> str:
        return "Offer(token=%r, url=%r)" % (self.token, self._url)


class Confirmation(Mapping[str, str]):
    """A confirmation of the host, verified: a read-only mapping of its attributes.

    ``text`` is its saved form: keep it with the order and restore it with ``from_text`` to
    capture later.
    """

    __slots__ = ("_attributes", "_text")

    def __init__(self, text: str, attributes: Dict[str, str]) -> None:
        self._text = text
        self._attributes = attributes

    @classmethod
    def from_text(cls, store: Union["Store", PathArg], text: Union[str, bytes]) -> "Confirmation":
        """Restores a confirmation saved as ``text``. Nothing is verified again and nothing is sent:
        pass only text this shop saved itself after ``verify_confirmation``."""
        store = store if isinstance(store, Store) else Store(store)
        with Handles() as h:
            message = h.message()
            check(h.lib.MessageObject_Open(message, store._path), "Confirmation.from_text")
            check(h.lib.MessageObject_FromString(message, encode(text, "text")),
                  "Confirmation.from_text")
            saved = h.text(message)
            attributes = h.attributes(message)
        return cls(saved, attributes)

    @property
    def id(self) -> str:
        """The transaction ID the host gave the payment."""
        return self._attributes["ID"]

    @property
    def token(self) -> str:
        """The TOKEN of the offer this confirmation pays."""
        return self._attributes["TOKEN"]

    @property
    def text(self) -> str:
        """The saved form, for ``Confirmation.from_text``."""
        return self._text

    def __getitem__(self, name: str) -> str:
        return self._attributes[name]

    def __iter__(self) -> Iterator[str]:
        return iter(self._attributes)

    def __len__(self) -> int:
        return len(self._attributes)

    def __repr__(self) -> str:
        return "Confirmation(%r)" % self._attributes


class Store:
    """A merchant's configuration store (a directory set up with ``kestrum.setup``).

    A Store holds only its path: every call opens the store, does its work and releases what it
    used, so one Store may be shared by any number of threads.
    """

    __slots__ = ("_path", "_name")

    def __init__(self, path: PathArg) -> None:
        name = os.fsdecode(path)
        # The library reads a store whose name begins with "http:" or "https:" over HTTP; only a
        # directory is made absolute, so that a later chdir does not move it.
        if not name.startswith(("http:", "https:")):
            name = os.path.abspath(name)
        self._name = name
        self._path = encode_path(name)

    @property
    def path(self) -> str:
        """The store's directory, absolute, or its http(s) URL as given."""
        return self._name

    def __repr__(self) -> str:
        return "Store(%r)" % hide_credentials(self._name)

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Store) and other._path == self._path

    def __hash__(self) -> int:
        return hash(self._path)

    def create_offer(self, **attributes: Value) -> Offer:
        """Builds and signs a PayInit offer; sends nothing (the shopper's browser takes the URL
        to the host).

        The offer has MSGTYPE, KEYID, a new TOKEN, the store's default attributes and EXPIRATION,
        then `attributes` in order (AMOUNT in minor units, CURRENCY, DESCRIPTION, links...),
        which may replace any of them. Values are str, or int for whole numbers.
        """
        with Handles() as h:
            factory = h.factory(self._path)
            offer = h.made(h.lib.MessageFactory_CreatePayInit, "create_offer", factory)
            h.set_attributes(offer, iter(attributes.items()))
            url = _native.fetch(h.lib.MessageObject_GetURL, "create_offer", offer, size=8192)
            made = h.attributes(offer)
        return Offer(_native.decode(url), made)

    def verify_confirmation(self, data: Union[str, bytes], signature: Union[str, bytes], *,
                            token: Optional[str] = None, amount: Optional[Value] = None,
                            currency: Optional[str] = None) -> Confirmation:
        """Verifies a confirmation from the host (the DATA and SIGNATURE the shopper's browser
        brings to the SUCCESSLINK, decoded from the URL) with the host's key; sends nothing.

        Give the order's `token`, `amount` and `currency`: a genuine confirmation that carries
        other values (another order's, a cheaper one) raises ConfirmationMismatch (code
        0x8004021B). With all three, the library checks them itself
        (MessageFactory_VerifyPayConfirmForOrder); without them, only the signature is checked.
        Raises SignatureError for anything not signed by the host.
        """
        raw_data = _confirmation_part(data, "DATA", E_INVALID_FORMAT)
        raw_signature = _confirmation_part(signature, "SIGNATURE", E_INVALID_KEY_BLOB)
        # Compared in the library's order: the money first.
        order = [(name, _native.decode(encode(value, name.lower())))
                 for name, value in (("AMOUNT", amount), ("CURRENCY", currency), ("TOKEN", token))
                 if value is not None]
        refused: Optional[KestrumError] = None
        with Handles() as h:
            factory = h.factory(self._path)
            if len(order) == 3:
                values = dict(order)
                out = c_void_p()
                result = h.lib.MessageFactory_VerifyPayConfirmForOrder(
                    factory, raw_data, raw_signature, encode(values["TOKEN"], "token"),
                    encode(values["AMOUNT"], "amount"), encode(values["CURRENCY"], "currency"),
                    byref(out))
                if result == 0:
                    message = h.keep_message(out.value)
                elif _native.unsigned(result) != E_ORDER_MISMATCH:
                    raise _native.failure(result, "verify_confirmation", refusal=True)
                else:
                    # Genuine, but another order's: which attribute differs, told as below.
                    refused = _native.failure(result, "verify_confirmation", refusal=True)
                    message = h.made(h.lib.MessageFactory_VerifyPayConfirm, "verify_confirmation",
                                     factory, raw_data, raw_signature, refusal=True)
            else:
                message = h.made(h.lib.MessageFactory_VerifyPayConfirm, "verify_confirmation",
                                 factory, raw_data, raw_signature, refusal=True)
            confirmation = Confirmation(h.text(message), h.attributes(message))
        for name, wanted in order:
            actual = confirmation.get(name)
            if actual != wanted:
                raise ConfirmationMismatch(name, wanted, actual, E_ORDER_MISMATCH,
                                           _native.error_text(E_ORDER_MISMATCH))
        if refused is not None:
            raise refused  # the library's bytes differ where the decoded text does not
        return confirmation

    def capture(self, confirmation: Confirmation, **attributes: Value) -> None:
        """Captures a confirmed payment: sends PayComplete (ID and TOKEN of `confirmation`, then
        `attributes`) to the host's capture URL and checks that the host answers PayConfirm.

        Raises HostError when the host refuses (already captured, unknown payment) and
        NetworkError when the host cannot be reached or its answer is lost. Its ``request_sent``
        says which: False, the capture never went out and may be repeated at once; True, the
        payment may be captured or not, and the host's Status tells.
        """
        if not isinstance(confirmation, Confirmation):
            raise TypeError("capture needs a Confirmation, not %s" % type(confirmation).__name__)
        with Handles() as h:
            factory = h.factory(self._path)
            message = h.made(h.lib.MessageFactory_CreatePayComplete, "capture", factory,
                             encode(confirmation.id, "ID"), encode(confirmation.token, "TOKEN"))
            h.set_attributes(message, iter(attributes.items()))
            check(h.lib.MessageObject_Capture(message), "capture")

    def request(self, msgtype: str, **attributes: Value) -> Dict[str, str]:
        """A general request (as ``kestrum -exec``): sends ``msgtype + "Request"`` with
        `attributes` to the host's capture URL and returns the host's answer
        (``msgtype + "Response"``) as a dict of its attributes, MSGTYPE included.
        """
        with Handles() as h:
            factory = h.factory(self._path)
            message = h.made(h.lib.MessageFactory_CreateRequest, "request(%s)" % msgtype,
                             factory, encode(msgtype, "msgtype"))
            h.set_attributes(message, iter(attributes.items()))
            response = h.made(h.lib.MessageObject_Execute, "request(%s)" % msgtype, message)
            return h.attributes(response)

    def set_defaults(self, **attributes: Value) -> None:
        """Writes default offer attributes into the store's default.xml (as ``kestrum -attr``);
        sends nothing. Offers take ALLOWCOLLECT, DELIVERY, LANGID, SUCCESSLINK, NOTIFYADDRESS,
        DEFAULTVALIDITY, BACKLINK and FAILLINK from there; PAYINITTTL is an offer's lifetime in
        seconds. An empty value leaves the attribute as it was.
        """
        with Handles() as h:
            handle = h.setup()
            check(h.lib.ConfigurationSetup_SetConfiguration(handle, self._path), "set_defaults")
            for name, value in attributes.items():
                check(h.lib.ConfigurationSetup_SetAttribute(handle, b"default.xml",
                                                            encode(name, "attribute name"),
                                                            encode(value, name)),
                      "set_defaults(%s)" % name)
