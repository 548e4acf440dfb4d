"""Kestrum payments from Python: a thin layer over libtbxapp's C interface.

    import kestrum

    store = kestrum.setup("/srv/shop/store", "https://host/user/setup.asp", "user", "password")
    offer = store.create_offer(AMOUNT="1560", CURRENCY="EUR", DESCRIPTION="Blue mug")
    # ... the shopper's browser goes to offer.url and comes back with DATA and SIGNATURE
    conf = store.verify_confirmation(data, signature, token=offer.token, amount="1560",
                                     currency="EUR")
    store.capture(conf)

Every call opens the store, creates the library's objects it needs and destroys them before it
returns, so objects of this package may be shared between threads. Failures raise KestrumError
or one of its subclasses. Strings are str both ways: UTF-8 when well-formed, Latin-1 otherwise.

The library is libtbxapp.so.0, found through KESTRUM_LIBRARY (a path) when that is set, else
beside an installed package, through the dynamic linker, or in the build folder of a checkout.
"""

from ._api import Confirmation, Offer, Store, setup
from ._errors import (ConfirmationMismatch, HostError, KestrumError, LibraryNotFoundError,
                      NetworkError, SignatureError, StoreError)
from ._native import library_path

__version__ = "0.1.0"

__all__ = [
    "Confirmation",
    "ConfirmationMismatch",
    "HostError",
    "KestrumError",
    "LibraryNotFoundError",
    "NetworkError",
    "Offer",
    "SignatureError",
    "Store",
    "StoreError",
    "library_path",
    "setup",
]
