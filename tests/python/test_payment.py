"""Whole payments through the package against the sandbox host."""

from __future__ import annotations

import functools
import http.server
import os
import threading

import pytest

import kestrum
from conftest import PASSWORD, USER, authorise


def test_whole_payment(sandbox, tmp_path, monkeypatch):
    monkeypatch.setenv("KESTRUM_PASSWORD", PASSWORD)  # as kestrum -conf takes it
    store = kestrum.setup(tmp_path / "store", sandbox.setup_url, USER)
    assert store == kestrum.Store(str(tmp_path / "store"))
    store.set_defaults(LANGID="fr", PAYINITTTL=3600)

    offer = store.create_offer(AMOUNT=1560, CURRENCY="EUR", DESCRIPTION="Blue mug")
    assert offer.url.startswith(sandbox.url + "/offer?DATA=")
    assert list(offer.attributes)[:3] == ["MSGTYPE", "KEYID", "TOKEN"]
    assert offer.attributes["LANGID"] == "fr"
    assert offer.attributes["AMOUNT"] == "1560"
    assert len(offer.token) == 32

    data, signature = authorise(offer.url)
    conf = store.verify_confirmation(data, signature, token=offer.token, amount="1560",
                                     currency="EUR")
    assert conf["MSGTYPE"] == "PayConfirm"
    assert conf.token == offer.token and conf["TOKEN"] == offer.token
    assert conf.id == conf["ID"] and len(conf.id) == 28
    assert conf["DESCRIPTION"] == "Blue mug"
    with pytest.raises(TypeError):
        conf["AMOUNT"] = "1"  # read-only

    # Saved with the order, restored for the capture.
    restored = kestrum.Confirmation.from_text(store, conf.text)
    assert (restored.id, restored.token) == (conf.id, conf.token)
    assert store.request("Status", ID=conf.id)["STATE"] == "authorised"
    store.capture(restored)

    with pytest.raises(kestrum.HostError) as refused:
        store.capture(conf)
    assert refused.value.code == 0x80040213
    assert "already captured" in refused.value.message

    status = store.request("Status", ID=conf.id)
    assert status["MSGTYPE"] == "StatusResponse"
    assert (status["STATE"], status["AMOUNT"], status["CURRENCY"]) == ("captured", "1560", "EUR")


@pytest.mark.parametrize("description", [
    "Tasse «bleue» à 15 €",
    "a&b <c> \"d\" 'e'",
    "&amp; stays &amp;",
    "two\nlines\tand a tab",
])
def test_text_round_trips(store, description):
    offer = store.create_offer(AMOUNT="100", CURRENCY="CHF", DESCRIPTION=description)
    assert offer.attributes["DESCRIPTION"] == description
    conf = store.verify_confirmation(*authorise(offer.url), token=offer.token)
    assert conf["DESCRIPTION"] == description
    assert kestrum.Confirmation.from_text(store, conf.text)["DESCRIPTION"] == description


def test_text_that_is_not_utf8_reads_as_latin1(store):
    saved = b'<TBX MSGTYPE="PayConfirm" ID="x1" TOKEN="t1" DESCRIPTION="caf\xe9 cr\xc3\xa8me"/>'
    conf = kestrum.Confirmation.from_text(store, saved)
    assert conf["DESCRIPTION"] == "café crème"
    assert (conf.id, conf.token) == ("x1", "t1")


@pytest.mark.parametrize("attributes, error", [
    ({"DESCRIPTION": "cut\0short"}, ValueError),
    ({"AMOUNT": 15.60}, TypeError),
    ({"AMOUNT": True}, TypeError),
])
def test_values_refused_before_the_library(store, attributes, error):
    with pytest.raises(error):
        store.create_offer(**attributes)


def test_attribute_name_refused_by_the_library(store):
    with pytest.raises(kestrum.KestrumError) as refused:
        store.create_offer(**{"BAD NAME": "x"})
    assert type(refused.value) is kestrum.KestrumError
    assert refused.value.code == 0x80040218
    assert "invalid attribute name" in refused.value.message


def test_general_request_answers_a_dict(store):
    assert store.request("Echo", NOTE="hello", AMOUNT=5) == {
        "MSGTYPE": "EchoResponse", "NOTE": "hello", "AMOUNT": "5"}


class _QuietFiles(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format: str, *args: object) -> None:
        pass


def test_store_read_over_http(store):
    # The set-up store's folder served read-only on loopback.
    parent, name = os.path.split(store.path)
    handler = functools.partial(_QuietFiles, directory=parent)
    with http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler) as server:
        threading.Thread(target=server.serve_forever, daemon=True).start()
        try:
            served = kestrum.Store("http://127.0.0.1:%d/%s" % (server.server_address[1], name))
            assert served.path.startswith("http://")
            offer = served.create_offer(AMOUNT="700", CURRENCY="EUR")
            served.capture(served.verify_confirmation(*authorise(offer.url), token=offer.token))
        finally:
            server.shutdown()
