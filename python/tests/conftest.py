"""A kestrum-sandbox host on 127.0.0.1 for the tests, stores set up against it, and the shopper.

The library comes from KESTRUM_LIBRARY (or the package's own search), the host program from
KESTRUM_SANDBOX, else build/tools/sandbox/kestrum-sandbox of this checkout.
"""

from __future__ import annotations

import os
import selectors
import subprocess
import time
import urllib.error
import urllib.parse
import urllib.request
from pathlib import Path
from typing import Iterator, Tuple

import pytest

import kestrum

USER = "e40215536"
PASSWORD = "Pq7mWz2L"
REPO = Path(__file__).resolve().parents[2]


class Sandbox:
    def __init__(self, program: str, state: Path) -> None:
        self.process = subprocess.Popen(
            [program, "--state", str(state), "--port", "0", "--quiet"],
            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self.url = self._first_line(60)
        if not self.url.startswith("http://127.0.0.1:"):
            self.stop()
            raise RuntimeError("kestrum-sandbox gave no URL: %r" % self.url)
        self.setup_url = self.url + "/user/setup.asp"

    def _first_line(self, seconds: float) -> str:
        assert self.process.stdout is not None
        line = b""
        deadline = time.monotonic() + seconds
        with selectors.DefaultSelector() as selector:
            selector.register(self.process.stdout, selectors.EVENT_READ)
            while not line.endswith(b"\n") and time.monotonic() < deadline:
                if selector.select(0.1):
                    byte = os.read(self.process.stdout.fileno(), 1)
                    if not byte:
                        break
                    line += byte
        return line.decode().strip()

    def stop(self) -> None:
        self.process.terminate()
        try:
            self.process.wait(30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        if self.process.stdout is not None:
            self.process.stdout.close()


@pytest.fixture(scope="session")
def sandbox(tmp_path_factory: pytest.TempPathFactory) -> Iterator[Sandbox]:
    program = os.environ.get("KESTRUM_SANDBOX") or str(
        REPO / "build" / "tools" / "sandbox" / "kestrum-sandbox")
    host = Sandbox(program, tmp_path_factory.mktemp("host"))
    yield host
    host.stop()


@pytest.fixture
def store(sandbox: Sandbox, tmp_path: Path) -> kestrum.Store:
    """A store set up against the sandbox host."""
    return kestrum.setup(tmp_path / "store", sandbox.setup_url, USER, PASSWORD)


class _NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args: object, **kwargs: object) -> None:
        return None


_shopper = urllib.request.build_opener(_NoRedirect)


def authorise(offer_url: str) -> Tuple[str, str]:
    """The shopper's visit to the offer URL: the host answers 302 to SUCCESSLINK with the
    confirmation's DATA and SIGNATURE, which come back decoded, as a web framework hands them
    to the shop."""
    try:
        _shopper.open(offer_url, timeout=30)
    except urllib.error.HTTPError as answer:
        assert answer.code == 302, answer.read()
        location = answer.headers["Location"]
    else:
        raise AssertionError("the host did not redirect the shopper")
    query = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(location).query))
    return query["DATA"], query["SIGNATURE"]
