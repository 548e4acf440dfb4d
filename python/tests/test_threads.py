"""Several threads sharing one Store run whole payments at once."""

from __future__ import annotations

from concurrent.futures import ThreadPoolExecutor

import pytest

import kestrum
from conftest import authorise

THREADS = 6
PAYMENTS = 4


def _payments(store: kestrum.Store, thread: int) -> list:
    paid = []
    for n in range(PAYMENTS):
        amount = str(100 * thread + n + 1)
        offer = store.create_offer(AMOUNT=amount, CURRENCY="EUR", ORDERID="%d-%d" % (thread, n))
        conf = store.verify_confirmation(*authorise(offer.url), token=offer.token, amount=amount,
                                         currency="EUR")
        store.capture(kestrum.Confirmation.from_text(store, conf.text))
        with pytest.raises(kestrum.HostError):
            store.capture(conf)
        paid.append((conf.id, amount))
    return paid


def test_threads_share_one_store(store):
    with ThreadPoolExecutor(THREADS) as pool:
        results = list(pool.map(lambda t: _payments(store, t), range(THREADS)))
    paid = [payment for result in results for payment in result]
    assert len({id for id, _ in paid}) == THREADS * PAYMENTS
    for id, amount in paid:
        status = store.request("Status", ID=id)
        assert (status["STATE"], status["AMOUNT"]) == ("captured", amount)
