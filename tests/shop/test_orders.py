"""The example shop's order states in a real SQLite file: which steps each state allows, and one
winner when many requests claim the same capture at once."""

from __future__ import annotations

import sqlite3
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "examples" / "shop"))

from orders import CLAIM_SECONDS, Orders  # noqa: E402

CLAIMED = time.time()  # when order_in claims its captures


def order_in(orders: Orders, state: str) -> int:
    """An order brought to `state` by the shop's own steps."""
    order_id = orders.create("mug", "Blue mug", 1560, "EUR")
    if state == "new":
        return order_id
    if state == "failed":
        assert orders.offer_failed(order_id, "host unreachable")
        return order_id
    assert orders.offered(order_id, "token-%d" % order_id)
    if state == "declined":
        assert orders.declined(order_id, "card declined")
    elif state == "cancelled":
        assert orders.cancelled(order_id)
    elif state != "pending":
        assert orders.claim_capture(order_id, "P%d" % order_id, "<TBX/>", CLAIMED)
        if state == "paid":
            assert orders.captured(order_id, CLAIMED)
        elif state == "confirmed":
            assert orders.capture_failed(order_id, CLAIMED, "host busy")
    assert orders.get(order_id).state == state
    return order_id


# state: (declined, cancelled, claim_capture, captured) allowed
TRANSITIONS = {
    "new": (False, False, False, False),
    "failed": (False, False, False, False),
    "pending": (True, True, True, False),
    "declined": (False, False, True, False),
    "cancelled": (False, False, True, False),
    "capturing": (False, False, False, True),
    "confirmed": (False, False, True, False),
    "paid": (False, False, False, False),
}


@pytest.mark.parametrize("state", sorted(TRANSITIONS))
def test_each_state_allows_its_own_steps(tmp_path: Path, state: str) -> None:
    orders = Orders(str(tmp_path / "shop.db"))
    steps = (lambda i: orders.declined(i, "no"), orders.cancelled,
             lambda i: orders.claim_capture(i, "P", "<TBX/>", time.time()),
             lambda i: orders.captured(i, CLAIMED))
    for step, allowed in zip(steps, TRANSITIONS[state]):
        order_id = order_in(orders, state)
        assert step(order_id) == allowed


@pytest.mark.parametrize("state, column, value", [
    ("pending", "token", "token-1"),
    ("failed", "reason", "host unreachable"),
    ("declined", "reason", "card declined"),
    ("confirmed", "reason", "host busy"),
])
def test_each_step_records_what_it_carries(tmp_path: Path, state: str, column: str,
                                           value: str) -> None:
    orders = Orders(str(tmp_path / "shop.db"))
    order = orders.get(order_in(orders, state))
    assert (order.state, getattr(order, column)) == (state, value)


def test_one_of_many_concurrent_claims_captures(tmp_path: Path) -> None:
    orders = Orders(str(tmp_path / "shop.db"))
    order_id = order_in(orders, "pending")
    start = threading.Barrier(16)

    def claim(n: int) -> bool:
        start.wait()
        return orders.claim_capture(order_id, "PAYMENT", "<TBX n=\"%d\"/>" % n, time.time())

    with ThreadPoolExecutor(16) as pool:
        results = list(pool.map(claim, range(16)))
    assert results.count(True) == 1
    order = orders.get(order_id)
    assert order.state == "capturing" and order.payment_id == "PAYMENT"

    # A claim whose holder died is taken over once it is old enough, not before.
    assert not orders.claim_capture(order_id, "PAYMENT", "<TBX/>", time.time() + CLAIM_SECONDS - 5)
    assert orders.claim_capture(order_id, "PAYMENT", "<TBX/>", time.time() + CLAIM_SECONDS + 5)


@pytest.mark.parametrize("late, settled", [
    (lambda orders, i, claimed: orders.captured(i, claimed), "paid"),
    (lambda orders, i, claimed: orders.capture_failed(i, claimed, "no answer"), "confirmed"),
], ids=["captured", "capture_failed"])
def test_only_the_claims_holder_settles_the_capture(tmp_path: Path, late, settled: str) -> None:
    orders = Orders(str(tmp_path / "shop.db"))
    order_id = order_in(orders, "pending")
    first = time.time()
    second = first + CLAIM_SECONDS + 1
    assert orders.claim_capture(order_id, "PAYMENT", "<TBX n=\"1\"/>", first)
    assert orders.claim_capture(order_id, "PAYMENT", "<TBX n=\"2\"/>", second)
    # The first request outlived its claim: whatever it learns late changes nothing.
    for claimed in (first, second - 1):
        assert not late(orders, order_id, claimed)
    order = orders.get(order_id)
    assert (order.state, order.claimed, order.reason) == ("capturing", second, None)
    assert late(orders, order_id, second)
    assert orders.get(order_id).state == settled
    assert not late(orders, order_id, second)


def test_the_database_refuses_what_no_order_can_be(tmp_path: Path) -> None:
    path = tmp_path / "shop.db"
    orders = Orders(str(path))
    first = order_in(orders, "pending")
    second = orders.create("towel", "Tea towel", 890, "EUR")
    assert not orders.offered(first, "another token"), "an order has one offer"
    with pytest.raises(sqlite3.IntegrityError):
        orders.offered(second, orders.get(first).token)
    with pytest.raises(sqlite3.IntegrityError):
        orders.create("free", "Nothing", 0, "EUR")
    db = sqlite3.connect(str(path))
    try:
        with pytest.raises(sqlite3.IntegrityError):
            db.execute("UPDATE orders SET state = 'refunded' WHERE id = ?", (first,))
    finally:
        db.close()
    # Reopening keeps the orders.
    assert [o.id for o in Orders(str(path)).all()] == [second, first]
