#!/usr/bin/env python3
"""An example web shop that takes card payments with the kestrum package.

    shop.py --store DIR --database FILE [--port N] [--setup URL --user NAME] [--quiet]

Buy creates an order and sends the shopper's browser to the signed offer URL on the payment host.
The host sends the browser back to one of three links of the offer: SUCCESSLINK with a signed
confirmation (verified against the order, recorded, then captured: the order is paid only when
the capture succeeded), FAILLINK when the payment was declined, BACKLINK when the shopper
cancelled. FAILLINK and BACKLINK carry the order's own key (an HMAC of its number under the
shop's secret), so nobody can decline or cancel another shopper's order by guessing its number.
/orders lists every order with its state.

Prints its URL as the first line of standard output and serves on 127.0.0.1 until SIGINT or
SIGTERM. With --setup, the store is set up against the host first (the password comes from
KESTRUM_PASSWORD).
"""

from __future__ import annotations

import argparse
import hashlib
import hmac
import http.server
import os
import re
import signal
import sys
import time
import urllib.parse
from typing import Dict, List, Optional, Tuple

import kestrum

import pages
from orders import Orders

PRODUCTS = {p.key: p for p in (
    pages.Product("mug", "Blue mug", 1560, "EUR", "Stoneware, 0.3 l, dishwasher safe."),
    pages.Product("towel", "Tea towel", 890, "EUR", "Linen, 50 by 70 cm."),
    pages.Product("salt", "Salt & pepper set", 2450, "EUR", "Two mills of beech wood."),
)}

MAX_FORM = 4096  # bytes of a posted form; the shop's own forms are a few bytes


def query_bytes(query: str) -> Dict[str, bytes]:
    """A query string's parameters as bytes, the first of each name. The host percent-encodes
    the confirmation's exact bytes; they go to the library as they are."""
    fields: Dict[str, bytes] = {}
    for part in query.split("&"):
        name, _, value = part.partition("=")
        fields.setdefault(urllib.parse.unquote(name),
                          urllib.parse.unquote_to_bytes(value.replace("+", " ")))
    return fields


class Shop:
    def __init__(self, store: kestrum.Store, orders: Orders) -> None:
        self.store = store
        self.orders = orders
        self.base_url = ""  # set once the server listens
        self._secret = orders.secret()

    def link_key(self, order_id: int) -> str:
        """The order's key in its FAILLINK and BACKLINK: only the offer that carries the links
        knows it."""
        return hmac.new(self._secret, b"order %d" % order_id, hashlib.sha256).hexdigest()

    def link_key_holds(self, order_id: int, key: bytes) -> bool:
        return hmac.compare_digest(self.link_key(order_id).encode("ascii"), key)

    def buy(self, product_key: str) -> Tuple[int, str]:
        """Creates the order and its offer; the shopper goes to the offer URL (or an error)."""
        product = PRODUCTS[product_key]
        order_id = self.orders.create(product.key, product.name, product.amount, product.currency)
        link = "%s/%%s?order=%d" % (self.base_url, order_id)
        keyed = link + "&key=" + self.link_key(order_id)
        try:
            offer = self.store.create_offer(
                AMOUNT=product.amount, CURRENCY=product.currency, DESCRIPTION=product.name,
                ORDERID=order_id, SUCCESSLINK=link % "paid", FAILLINK=keyed % "failed",
                BACKLINK=keyed % "cancelled")
        except kestrum.KestrumError as error:
            self.orders.offer_failed(order_id, str(error))
            raise
        self.orders.offered(order_id, offer.token)
        return order_id, offer.url

    def paid(self, order_id: int, data: bytes, signature: bytes) -> Optional[str]:
        """The shopper is back with a confirmation. Returns None when the order was handled
        (its page shows the outcome), else why the confirmation was refused."""
        order = self.orders.get(order_id)
        if order is None or order.token is None:
            return "there is no such order"
        if order.state == "paid":
            return None  # a reload: nothing more to do
        try:
            # Bound to the order: another order's confirmation, or a cheaper one, is refused.
            confirmation = self.store.verify_confirmation(
                data, signature, token=order.token, amount=order.amount, currency=order.currency)
        except kestrum.SignatureError as error:
            return error.message or str(error)
        # One request wins the claim and captures; a concurrent or later one just shows the order.
        claimed = time.time()
        if not self.orders.claim_capture(order_id, confirmation.id, confirmation.text, claimed):
            return None
        failure = self.capture(confirmation)
        if failure is None:
            self.orders.captured(order_id, claimed)
        else:
            self.orders.capture_failed(order_id, claimed, failure)
        return None

    def capture(self, confirmation: kestrum.Confirmation) -> Optional[str]:
        """Captures the payment; None once the host has it captured, else why not. A capture
        that never left is sent again at once; one whose answer was lost is settled by the
        host's state, and sent again only when the host says it is not captured."""
        failure = ""
        for _ in range(2):
            try:
                self.store.capture(confirmation)
                return None
            except kestrum.NetworkError as error:
                failure = str(error)
                if not error.request_sent:
                    continue
                state = self.state_at_host(confirmation.id)
                if state == "captured":
                    return None
                if state != "authorised":
                    return failure  # the host cannot say: the next visit tries again
            except kestrum.KestrumError as error:
                # Refused; the capture of an attempt whose answer was lost counts all the same.
                if self.state_at_host(confirmation.id) == "captured":
                    return None
                return str(error)
        return failure

    def state_at_host(self, payment_id: str) -> Optional[str]:
        try:
            return self.store.request("Status", ID=payment_id).get("STATE")
        except kestrum.KestrumError:
            return None


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "example-shop"
    shop: Shop  # set on the class by main()
    quiet = False

    def log_message(self, format: str, *args: object) -> None:
        if not self.quiet:
            # A confirmation in the query makes request lines long: their start tells enough.
            short = tuple(a[:120] + "..." if isinstance(a, str) and len(a) > 120 else a for a in args)
            super().log_message(format, *short)

    def send_page(self, status: int, body: str) -> None:
        raw = body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(raw)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(raw)

    def redirect(self, location: str) -> None:
        self.send_response(303)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def not_found(self) -> None:
        self.send_page(404, pages.message("Not found", "There is no such page."))

    def order_id(self, fields: Dict[str, bytes]) -> Optional[int]:
        value = fields.get("order", b"")
        return int(value) if value.isdigit() and len(value) < 12 else None

    def do_GET(self) -> None:
        path, _, query = self.path.partition("?")
        fields = query_bytes(query)
        shop = self.shop
        if path == "/":
            self.send_page(200, pages.home(PRODUCTS.values()))
        elif path == "/orders":
            self.send_page(200, pages.orders(shop.orders.all()))
        elif re.fullmatch(r"/order/[0-9]{1,11}", path):
            order = shop.orders.get(int(path[7:]))
            if order is None:
                self.not_found()
            else:
                self.send_page(200, pages.order(order))
        elif path in ("/paid", "/failed", "/cancelled"):
            order_id = self.order_id(fields)
            if order_id is None or shop.orders.get(order_id) is None:
                self.not_found()
                return
            if path == "/paid":
                refusal = shop.paid(order_id, fields.get("DATA", b""), fields.get("SIGNATURE", b""))
                if refusal is not None:
                    self.send_page(400, pages.message(
                        "Payment not accepted",
                        "This confirmation does not pay order %d." % order_id, refusal))
                    return
            elif not shop.link_key_holds(order_id, fields.get("key", b"")):
                self.send_page(403, pages.message(
                    "Link not accepted", "This link does not belong to order %d." % order_id))
                return
            elif path == "/failed":
                reason = fields.get("REASON", b"").decode("utf-8", "replace")
                shop.orders.declined(order_id, reason or "no reason given")
            else:
                shop.orders.cancelled(order_id)
            # The order's own page, so that a reload does not repeat the link's work.
            self.redirect("/order/%d" % order_id)
        else:
            self.not_found()

    def do_POST(self) -> None:
        if self.path != "/buy":
            self.not_found()
            return
        length = self.headers.get("Content-Length", "")
        if not length.isdigit() or int(length) > MAX_FORM:
            self.send_page(400, pages.message("Bad request", "The form could not be read."))
            return
        fields = query_bytes(self.rfile.read(int(length)).decode("ascii", "replace"))
        key = fields.get("product", b"").decode("ascii", "replace")
        if key not in PRODUCTS:
            self.not_found()
            return
        try:
            _, offer_url = self.shop.buy(key)
        except kestrum.KestrumError as error:
            self.send_page(502, pages.message(
                "Payment not available", "The payment could not be started.", str(error)))
            return
        self.redirect(offer_url)


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description="An example shop over the kestrum package.")
    parser.add_argument("--store", required=True, help="the shop's configuration store")
    parser.add_argument("--database", required=True, help="SQLite file of the orders")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (0: any free)")
    parser.add_argument("--setup", metavar="URL", help="set the store up at this set-up URL first")
    parser.add_argument("--user", help="the account for --setup (password: KESTRUM_PASSWORD)")
    parser.add_argument("--quiet", action="store_true", help="no log line per request")
    args = parser.parse_args(argv)

    for path in (args.store, args.database):
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    if args.setup:
        if not args.user:
            parser.error("--setup needs --user")
        store = kestrum.setup(args.store, args.setup, args.user)
    else:
        store = kestrum.Store(args.store)
    Handler.shop = Shop(store, Orders(args.database))
    Handler.quiet = args.quiet
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    Handler.shop.base_url = "http://127.0.0.1:%d" % server.server_address[1]
    print(Handler.shop.base_url, flush=True)

    def stop(signum: int, frame: object) -> None:
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
