"""Several threads sharing one Store run whole payments at once."""

from __future__ import annotations

from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

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


def test_concurrent_writers_keep_every_value(store):
    # Each thread writes its own names; a writer that read default.xml before another one
    # replaced it would drop the other's names while both report success.
    threads, names = 16, 20

    def write(thread: int) -> None:
        for n in range(names):
            store.set_defaults(**{"X%d_%d" % (thread, n): "v%d" % n})

    with ThreadPoolExecutor(threads) as pool:
        list(pool.map(write, range(threads)))
    text = (Path(store.path) / "default.xml").read_text()
    missing = ["X%d_%d" % (t, n) for t in range(threads) for n in range(names)
               if ' X%d_%d="v%d"' % (t, n, n) not in text]
    assert missing == []
