"""The shop's HTML pages. Every value shown goes through html.escape."""

from __future__ import annotations

import html
from dataclasses import dataclass
from typing import Iterable, Optional

from orders import Order


@dataclass(frozen=True)
class Product:
    key: str
    name: str
    amount: int      # minor units
    currency: str
    blurb: str


def money(amount: int, currency: str) -> str:
    """1560, "EUR" as "15.60 EUR" (the shop's currencies have two decimals)."""
    return "%d.%02d %s" % (amount // 100, amount % 100, currency)


_STYLE = """
body{margin:0;font:16px/1.45 system-ui,sans-serif;background:#faf7f2;color:#2b2622}
header{background:#3d5a40;color:#fff;padding:.8rem 1rem}
header a{color:#fff;text-decoration:none;margin-right:1rem}
header strong{margin-right:1.5rem}
main{max-width:40rem;margin:0 auto;padding:1rem}
.products{display:grid;grid-template-columns:repeat(auto-fill,minmax(11rem,1fr));gap:1rem}
.product,.box{background:#fff;border:1px solid #e4ddd2;border-radius:10px;padding:1rem}
.product h2{font-size:1.05rem;margin:0 0 .3rem}
.price{font-weight:700;font-size:1.2rem;margin:.4rem 0}
button{width:100%;padding:.65rem;font:inherit;font-weight:600;border:0;border-radius:6px;
background:#3d5a40;color:#fff;cursor:pointer}
.state{display:inline-block;padding:.15rem .6rem;border-radius:99px;font-weight:600;background:#e8e3da}
.state-paid{background:#d3ecd5;color:#1e5a24}
.state-declined,.state-failed{background:#f8d9d6;color:#8a1f16}
.state-cancelled{background:#ebe7e1;color:#5b544c}
table{border-collapse:collapse;width:100%;font-size:.92rem}
th,td{text-align:left;padding:.4rem .3rem;border-bottom:1px solid #e4ddd2;vertical-align:top}
.id{overflow-wrap:anywhere;font-family:ui-monospace,monospace;font-size:.75rem;color:#6b6259}
td:nth-child(3){white-space:nowrap}
@media (max-width:34rem){.wide-only{display:none}}
"""

_STATE_TEXT = {
    "new": "The order is being made.",
    "pending": "Waiting for the payment.",
    "capturing": "The payment is being completed. Reload this page in a moment.",
    "confirmed": "The payment is authorised, but completing it failed. Reload this page to try again.",
    "paid": "Paid. Thank you for your order!",
    "declined": "The payment was declined.",
    "cancelled": "You cancelled the payment.",
    "failed": "The payment could not be started.",
}


def _page(title: str, body: str) -> str:
    return ("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>%s - Example shop</title>\n<style>%s</style>\n</head>\n<body>\n"
            "<header><strong>Example shop</strong><a href=\"/\">Products</a>"
            "<a href=\"/orders\">Orders</a></header>\n<main>\n%s</main>\n</body>\n</html>\n"
            % (html.escape(title), _STYLE, body))


def state_badge(state: str) -> str:
    return ('<span class="state state-%s" data-state="%s">%s</span>'
            % (html.escape(state), html.escape(state), html.escape(state)))


def home(products: Iterable[Product]) -> str:
    cards = "".join(
        '<div class="product"><h2>%s</h2><p>%s</p><p class="price">%s</p>'
        '<form method="post" action="/buy"><input type="hidden" name="product" value="%s">'
        '<button type="submit" id="buy-%s">Buy</button></form></div>\n'
        % (html.escape(p.name), html.escape(p.blurb), html.escape(money(p.amount, p.currency)),
           html.escape(p.key), html.escape(p.key))
        for p in products)
    return _page("Products", "<h1>Products</h1>\n<div class=\"products\">\n%s</div>\n" % cards)


def order(o: Order) -> str:
    reason = ""
    if o.reason and o.state in ("declined", "confirmed", "failed"):
        reason = "<p>Reason: %s</p>\n" % html.escape(o.reason)
    payment = ""
    if o.payment_id:
        payment = "<p>Payment ID: <code>%s</code></p>\n" % html.escape(o.payment_id)
    body = ('<h1>Order %d</h1>\n<div class="box">\n<p>%s, <strong>%s</strong></p>\n'
            '<p id="order-state">%s</p>\n<p>%s</p>\n%s%s</div>\n'
            % (o.id, html.escape(o.description), html.escape(money(o.amount, o.currency)),
               state_badge(o.state), html.escape(_STATE_TEXT.get(o.state, "")), reason, payment))
    return _page("Order %d" % o.id, body)


def orders(all_orders: Iterable[Order]) -> str:
    rows = "".join(
        '<tr id="order-%d"><td><a href="/order/%d">%d</a></td><td>%s<div class="id">%s</div></td>'
        '<td>%s</td><td>%s</td><td class="wide-only">%s</td></tr>\n'
        % (o.id, o.id, o.id, html.escape(o.description), html.escape(o.payment_id or ""),
           html.escape(money(o.amount, o.currency)), state_badge(o.state),
           html.escape(o.updated))
        for o in all_orders)
    body = ('<h1>Orders</h1>\n<table>\n<tr><th>Order</th><th>Product, payment ID</th>'
            '<th>Amount</th><th>State</th><th class="wide-only">Last change</th></tr>\n%s'
            '</table>\n' % rows)
    return _page("Orders", body)


def message(title: str, text: str, detail: Optional[str] = None) -> str:
    more = "<p><code>%s</code></p>\n" % html.escape(detail) if detail else ""
    return _page(title, '<h1>%s</h1>\n<div class="box">\n<p>%s</p>\n%s</div>\n'
                 % (html.escape(title), html.escape(text), more))
