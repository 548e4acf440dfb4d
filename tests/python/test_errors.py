"""Every exception class from a real failure of the library, the host or the network."""

from __future__ import annotations

import os
import re
import pickle
import re
import socket
import subprocess
import sys
import urllib.parse
import urllib.request

import pytest

import kestrum
import kestrum._errors
from conftest import PASSWORD, REPO, USER, authorise


@pytest.fixture
def closed_port():
    """A loopback port bound but not listening: connections to it are refused."""
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        yield sock.getsockname()[1]


@pytest.fixture
def paid(store):
    """A store and an authorised payment: (store, offer, data, signature)."""
    offer = store.create_offer(AMOUNT="1560", CURRENCY="EUR")
    return (store, offer) + authorise(offer.url)


def _flip(text: str, index: int) -> str:
    return text[:index] + ("0" if text[index] != "0" else "1") + text[index + 1:]


@pytest.mark.parametrize("case, cls, code", [
    ("store never set up", kestrum.StoreError, 0x8004020E),
    ("saved text restored into a store never set up", kestrum.StoreError, 0x8004020E),
    ("closed loopback port", kestrum.NetworkError, 0x8004303D),  # connection refused
    ("wrong password", kestrum.HostError, 0x80042191),
    ("second capture", kestrum.HostError, 0x80040213),
])
def test_failures_raise_their_class(case, cls, code, tmp_path, sandbox, closed_port, paid):
    store, offer, data, signature = paid
    with pytest.raises(kestrum.KestrumError) as raised:
        if case == "store never set up":
            kestrum.Store(tmp_path / "fresh").create_offer(AMOUNT="1")
        elif case == "saved text restored into a store never set up":
            conf = store.verify_confirmation(data, signature)
            kestrum.Confirmation.from_text(tmp_path / "fresh", conf.text)
        elif case == "closed loopback port":
            kestrum.setup(tmp_path / "s", "http://127.0.0.1:%d/user/setup.asp" % closed_port,
                          USER, PASSWORD)
        elif case == "wrong password":
            kestrum.setup(tmp_path / "s", sandbox.setup_url, USER, "not-" + PASSWORD)
        else:
            conf = store.verify_confirmation(data, signature)
            store.capture(conf)
            store.capture(conf)
    error = raised.value
    assert type(error) is cls
    assert error.code == code
    assert error.message and ("0x%08X" % code) in str(error)
    assert pickle.loads(pickle.dumps(error)).code == code


@pytest.mark.parametrize("case, code", [
    ("tampered signature", 0x80040214),
    ("tampered amount", 0x80040214),
    ("offer handed back as a confirmation", 0x80040214),
    ("no signature", 0x8004021A),
    ("not a message", 0x80040204),
    ("signature not hex", 0x8004020B),
])
def test_confirmation_refused(paid, case, code):
    store, offer, data, signature = paid
    if case == "tampered signature":
        signature = _flip(signature, 10)
    elif case == "tampered amount":
        data = data.replace('AMOUNT="1560"', 'AMOUNT="156"')
    elif case == "offer handed back as a confirmation":
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(offer.url).query)
        data, signature = query["DATA"][0], query["SIGNATURE"][0]
    elif case == "no signature":
        signature = ""
    elif case == "not a message":
        data = "Payment authorised."
    else:
        signature = "zz" + signature[2:]
    with pytest.raises(kestrum.SignatureError) as refused:
        store.verify_confirmation(data, signature)
    assert refused.value.code == code
    assert not isinstance(refused.value, kestrum.ConfirmationMismatch)


@pytest.mark.parametrize("check, attribute, whole_order", [
    ("token of another order", "TOKEN", True),
    ("a cheaper order's confirmation", "AMOUNT", True),
    ("another currency", "CURRENCY", True),
    ("another amount, alone", "AMOUNT", False),
])
def test_confirmation_for_another_order(paid, check, attribute, whole_order):
    store, offer, data, signature = paid
    other = store.create_offer(AMOUNT="99000", CURRENCY="EUR")
    order = {"TOKEN": offer.token, "AMOUNT": "1560", "CURRENCY": "EUR"}
    expected = {"TOKEN": other.token, "AMOUNT": "99000", "CURRENCY": "USD"}[attribute]
    actual = order[attribute]
    order[attribute] = expected
    given = order if whole_order else {attribute: expected}
    with pytest.raises(kestrum.ConfirmationMismatch) as refused:
        store.verify_confirmation(data, signature, **{k.lower(): v for k, v in given.items()})
    error = refused.value
    assert isinstance(error, kestrum.SignatureError)
    assert (error.attribute, error.expected, error.actual) == (attribute, expected, actual)
    assert attribute in str(error)
    # The order's TOKEN is its secret: the text names the attribute, not the values.
    assert (expected in str(error), actual in str(error)) == ((attribute != "TOKEN"),) * 2
    assert error.code == 0x8004021B
    assert pickle.loads(pickle.dumps(error)).actual == actual


def _set_capture_url(store, url: str) -> None:
    config = os.path.join(store.path, "config.xml")
    with open(config) as f:
        text = f.read()
    with open(config, "w") as f:
        f.write(re.sub(r'CAPTUREURL="[^"]*"', 'CAPTUREURL="%s"' % url, text))


@pytest.mark.parametrize("case, fault, sent", [
    ("connection refused", "", False),
    ("closed before capturing", "MODE=close&MATCH=PayComplete", True),
    ("closed after capturing", "MODE=drop&MATCH=PayComplete", True),
])
def test_network_error_says_whether_the_capture_was_sent(paid, sandbox, closed_port, case, fault,
                                                         sent):
    store, offer, data, signature = paid
    conf = store.verify_confirmation(data, signature)
    if fault:
        urllib.request.urlopen(sandbox.url + "/admin/fault?" + fault, timeout=30).read()
    else:
        _set_capture_url(store, "http://127.0.0.1:%d/capture" % closed_port)
    with pytest.raises(kestrum.NetworkError) as raised:
        store.capture(conf)
    assert raised.value.request_sent is sent
    assert pickle.loads(pickle.dumps(raised.value)).request_sent is sent


@pytest.mark.parametrize("secret, from_environment, never_shown", [
    ("S3cret pw/&x", False, "S3cret"),
    ("S3cret pw/&x", True, "S3cret"),
    # Only credential fields are hidden: the password's letters elsewhere stay as they are.
    ("o", False, "[redacted]"),
])
def test_password_never_in_an_exception(tmp_path, closed_port, monkeypatch, secret,
                                        from_environment, never_shown):
    url = "http://127.0.0.1:%d/user/setup.asp" % closed_port
    if from_environment:
        monkeypatch.setenv("KESTRUM_PASSWORD", secret)
        call = lambda: kestrum.setup(tmp_path / "s", url, USER)  # noqa: E731
    else:
        call = lambda: kestrum.setup(tmp_path / "s", url, USER, secret)  # noqa: E731
    monkeypatch.setenv("TBXDEBUG", "1")  # the longest messages the library writes
    with pytest.raises(kestrum.NetworkError) as raised:
        call()
    error = raised.value
    assert "connection refused" in error.message
    for shown in (str(error), repr(error), error.message, error.text, repr(error.args)):
        assert never_shown not in shown


def test_setup_without_a_password(tmp_path, sandbox, monkeypatch):
    monkeypatch.delenv("KESTRUM_PASSWORD", raising=False)
    with pytest.raises(ValueError, match="KESTRUM_PASSWORD"):
        kestrum.setup(tmp_path / "s", sandbox.setup_url, USER)


def test_missing_library_names_where_it_looked(tmp_path):
    missing = str(tmp_path / "nowhere" / "libtbxapp.so.0")
    program = ("import kestrum\n"
               "try:\n"
               "    kestrum.Store('.').create_offer()\n"
               "except kestrum.LibraryNotFoundError as e:\n"
               "    print(e)\n")
    env = dict(os.environ, KESTRUM_LIBRARY=missing)
    out = subprocess.run([sys.executable, "-c", program], env=env, capture_output=True,
                         text=True, timeout=60)
    assert "KESTRUM_LIBRARY: %s (no such file)" % missing in out.stdout, out.stderr


def test_library_is_the_one_configured():
    configured = os.environ.get("KESTRUM_LIBRARY")
    if configured:
        assert kestrum.library_path() == os.path.realpath(configured)
    assert os.path.basename(kestrum.library_path()).startswith("libtbxapp.so.0")


def test_code_constants_are_the_headers():
    """Every E_ constant of the package has the value of its TBX_E_ namesake in tbxcodes.h."""
    header = (REPO / "include" / "tbxcodes.h").read_text()
    defined = {name: int(value, 16) for name, value in re.findall(
        r"^#define\s+TBX_(E_\w+)\s+(?:TBX_RESULT\()?(0x[0-9A-Fa-f]+)u", header, re.M)}
    constants = {name: value for name, value in vars(kestrum._errors).items()
                 if name.startswith("E_")}
    assert len(constants) > 10
    assert {name: defined.get(name) for name in constants} == constants
