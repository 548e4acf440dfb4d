"""The example shop over HTTP against the sandbox host, without a browser: the shopper's visit to
the offer URL is a client's (authorised at once), and the way back is fetched like a browser would.
"""

from __future__ import annotations

import html
import os
import re
import signal
import sqlite3
import subprocess
import urllib.parse
import urllib.request
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

from conftest import KIND, REPO, SCRIPT, Sandbox, Shop, fetch, order_of


def authorise(offer_url: str) -> str:
    """The host's way back to the shop for an offer: SUCCESSLINK or FAILLINK with their query."""
    answer = fetch(offer_url)
    assert answer.status == 302, answer.text
    return answer.location


def link_of(offer_url: str, name: str) -> str:
    """A link the offer carries (FAILLINK, BACKLINK), as the host sends the shopper to it."""
    data = urllib.parse.parse_qs(urllib.parse.urlsplit(offer_url).query)["DATA"][0]
    match = re.search(r'%s="([^"]*)"' % name, data)
    assert match, data
    return match.group(1).replace("&amp;", "&")


def column_of(shop: Shop, order_id: int, column: str) -> str:
    db = sqlite3.connect(str(shop.database))
    try:
        return db.execute("SELECT %s FROM orders WHERE id = ?" % column, (order_id,)).fetchone()[0]
    finally:
        db.close()


def payment_of(shop: Shop, order_id: int) -> str:
    return column_of(shop, order_id, "payment_id")


def token_of(shop: Shop, order_id: int) -> str:
    return column_of(shop, order_id, "token")


def test_a_payment_is_captured_once_however_often_the_shopper_returns(
        shop: Shop, sandbox: Sandbox) -> None:
    offer_url = shop.buy("mug")
    order_id = order_of(offer_url)
    assert 'AMOUNT="1560"' in offer_url.replace("%22", '"').replace("%3d", "=")
    assert shop.order_state(order_id) == "pending"
    back = authorise(offer_url)
    assert back.startswith(shop.url + "/paid?order=%d&DATA=" % order_id)

    # Eight returns at once, then a reload.
    with ThreadPoolExecutor(8) as pool:
        answers = list(pool.map(fetch, [back] * 8))
    assert [(a.status, a.location) for a in answers] == [(303, "/order/%d" % order_id)] * 8
    assert fetch(back).status == 303
    assert shop.order_state(order_id) == "paid"
    payment_id = payment_of(shop, order_id)
    assert sandbox.capture_requests(payment_id) == 1
    assert 'STATE="captured"' in sandbox.payment(payment_id)
    orders_page = fetch(shop.url + "/orders").text
    assert payment_id in orders_page


def test_a_confirmation_pays_only_its_own_order(shop: Shop, sandbox: Sandbox) -> None:
    cheap, dear, twin = shop.buy("towel"), shop.buy("salt"), shop.buy("towel")
    back = authorise(cheap)
    presented = back.replace("order=%d&" % order_of(cheap), "order=%d&" % order_of(dear))
    to_twin = back.replace("order=%d&" % order_of(cheap), "order=%d&" % order_of(twin))
    tampered = back.replace("AMOUNT%3d%22890%22", "AMOUNT%3d%222450%22")
    assert tampered != back and back.count("&SIGNATURE=") == 1
    cases = [
        # The Python package words the refusal itself; the library, which the PHP package asks,
        # words it its own way.
        (presented, "the confirmation carries AMOUNT '890', the order has AMOUNT '2450'"
         if KIND == "python" else "the confirmation's AMOUNT is '890', the order's is '2450'"),
        (to_twin, "the confirmation carries another TOKEN than the order"
         if KIND == "python" else "the confirmation's TOKEN is not the order's"),
        (tampered, "invalid signature"),
        (back.replace("&SIGNATURE=", "%00&SIGNATURE="), "DATA is not text a host sends"),
        (back + "%00", "SIGNATURE is not text a host sends"),
    ]
    dear_token = token_of(shop, order_of(dear))
    for url, reason in cases:
        answer = fetch(url)
        assert answer.status == 400, answer.text
        page = html.unescape(answer.text)
        assert "does not pay order" in page and reason in page
        assert dear_token not in answer.text
    assert shop.order_state(order_of(dear)) == "pending"
    assert shop.order_state(order_of(cheap)) == "pending"
    assert fetch(back).status == 303
    assert shop.order_state(order_of(cheap)) == "paid"


def test_declined_and_cancelled_payments(shop: Shop, sandbox: Sandbox) -> None:
    sandbox.admin("/admin/fault?MODE=decline&MATCH=offer")
    declined = shop.buy("mug")
    back = authorise(declined)
    assert back.startswith(shop.url + "/failed?order=%d&key=" % order_of(declined))
    assert "&REASON=" in back
    assert fetch(back).status == 303
    assert shop.order_state(order_of(declined)) == "declined"
    assert "the card issuer declined the payment" in fetch(
        "%s/order/%d" % (shop.url, order_of(declined))).text

    # The links carry the order's key: without it, or with another order's, nothing changes.
    cancelled, other = shop.buy("mug"), shop.buy("mug")
    back_link = link_of(cancelled, "BACKLINK")
    for forged in ("%s/cancelled?order=%d" % (shop.url, order_of(cancelled)),
                   "%s/failed?order=%d&REASON=x" % (shop.url, order_of(cancelled)),
                   link_of(other, "BACKLINK").replace("order=%d" % order_of(other),
                                                      "order=%d" % order_of(cancelled))):
        assert fetch(forged).status == 403, forged
    assert shop.order_state(order_of(cancelled)) == "pending"
    assert fetch(back_link).status == 303
    assert shop.order_state(order_of(cancelled)) == "cancelled"

    # A paid order stays paid whatever link is visited after.
    paid = shop.buy("towel")
    fetch(authorise(paid))
    for link in ("FAILLINK", "BACKLINK"):
        fetch(link_of(paid, link) + "&REASON=late")
    assert shop.order_state(order_of(paid)) == "paid"
    for bad in ("/paid?order=999999", "/failed?order=x", "/order/0", "/nowhere"):
        assert fetch(shop.url + bad).status == 404, bad


def test_a_refused_capture_is_retried_and_a_lost_answer_is_not_repeated(
        shop: Shop, sandbox: Sandbox) -> None:
    # The host refuses the capture once: the order stays authorised until the next return.
    sandbox.admin("/admin/fault?MODE=error&MATCH=PayComplete&MESSAGE=try%20later")
    offer_url = shop.buy("mug")
    order_id = order_of(offer_url)
    back = authorise(offer_url)
    fetch(back)
    assert shop.order_state(order_id) == "confirmed"
    assert "try later" in fetch("%s/order/%d" % (shop.url, order_id)).text
    fetch(back)
    assert shop.order_state(order_id) == "paid"
    assert sandbox.capture_requests(payment_of(shop, order_id)) == 2

    # The answer is lost after the capture: the host says captured, so no second capture. Lost
    # before it: the host says authorised, so the shop captures again at once.
    for fault, captures in (("drop", 1), ("close", 2)):
        sandbox.admin("/admin/fault?MODE=%s&MATCH=PayComplete" % fault)
        offer_url = shop.buy("salt")
        order_id = order_of(offer_url)
        fetch(authorise(offer_url))
        assert shop.order_state(order_id) == "paid", fault
        payment_id = payment_of(shop, order_id)
        assert sandbox.capture_requests(payment_id) == captures, fault
        assert 'STATE="captured"' in sandbox.payment(payment_id)


def test_scripts_shop_serves_until_ctrl_c() -> None:
    build = Path(os.environ.get("KESTRUM_SANDBOX") or REPO / "build/tools/sandbox/x").parents[2]
    # A session of its own, so that Ctrl-C can reach the whole group as a terminal sends it.
    script = subprocess.Popen([str(SCRIPT), "--build-dir", str(build)],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL, start_new_session=True)
    try:
        assert script.stdout is not None
        output = ""
        for line in script.stdout:
            output += line.decode()
            if "Ctrl-C stops" in line.decode():
                break
        match = re.search(r"Open the shop:  (http://127\.0\.0\.1:[0-9]+)/", output)
        assert match, output
        shop_url = match.group(1)
        assert "Blue mug" in fetch(shop_url + "/").text
        offer_url = fetch(shop_url + "/buy", b"product=mug").location
        assert fetch(fetch(offer_url).location).location.startswith("/order/")
        os.killpg(script.pid, signal.SIGINT)
        assert script.wait(30) == 0
    finally:
        if script.poll() is None:
            os.killpg(script.pid, signal.SIGKILL)
            script.wait()
        if script.stdout is not None:
            script.stdout.close()
    with pytest.raises(OSError):
        urllib.request.urlopen(shop_url + "/", timeout=5)
