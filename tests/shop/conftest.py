"""The example shop and a kestrum-sandbox host, each its own process on a free port of 127.0.0.1.

The shop is the Python one (examples/shop), or with KESTRUM_SHOP_KIND=php the PHP one
(examples/php-shop, under php-fpm behind nginx): both serve the same pages, so the same tests
click through either. The library comes from KESTRUM_LIBRARY (else the package's own search), the
host program from KESTRUM_SANDBOX (else build/tools/sandbox/kestrum-sandbox of this checkout).
"""

from __future__ import annotations

import os
import re
import sys
import urllib.error
import urllib.parse
import urllib.request
from pathlib import Path
from typing import Iterator, Optional

import pytest

from launch import Server

REPO = Path(__file__).resolve().parents[2]
SHOP = REPO / "examples" / "shop" / "shop.py"
PHP_SHOP = REPO / "examples" / "php-shop" / "serve"
KIND = os.environ.get("KESTRUM_SHOP_KIND", "python")
# The script that runs the shop for a person: scripts/shop or scripts/php-shop.
SCRIPT = REPO / "scripts" / ("php-shop" if KIND == "php" else "shop")
USER = "e40215536"
PASSWORD = "Pq7mWz2L"


class _NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args: object, **kwargs: object) -> None:
        return None


_opener = urllib.request.build_opener(_NoRedirect)


class Answer:
    def __init__(self, status: int, headers: object, body: bytes) -> None:
        self.status = status
        self.location = getattr(headers, "get")("Location", "")
        self.text = body.decode("utf-8", "replace")


def fetch(url: str, data: Optional[bytes] = None, accept: str = "") -> Answer:
    """One request, redirects not followed."""
    request = urllib.request.Request(url, data=data)
    if accept:
        request.add_header("Accept", accept)
    try:
        with _opener.open(request, timeout=30) as response:
            return Answer(response.status, response.headers, response.read())
    except urllib.error.HTTPError as answer:
        return Answer(answer.code, answer.headers, answer.read())


class Sandbox(Server):
    def __init__(self, state: Path) -> None:
        program = os.environ.get("KESTRUM_SANDBOX") or str(
            REPO / "build" / "tools" / "sandbox" / "kestrum-sandbox")
        super().__init__([program, "--state", str(state), "--port", "0", "--quiet"])
        self.state = state

    def admin(self, path: str) -> str:
        answer = fetch(self.url + path)
        assert answer.status == 200, answer.text
        return answer.text

    def capture_requests(self, payment_id: str) -> int:
        """How many captures of the payment the host received."""
        pattern = re.compile(r'^capture <TBX MSGTYPE="PayComplete" .*ID="%s"' % re.escape(payment_id))
        return sum(1 for line in self.admin("/admin/log").splitlines() if pattern.match(line))

    def payment(self, payment_id: str) -> str:
        """The host's record of the payment."""
        return (self.state / "payments" / (payment_id + ".xml")).read_text()


class Shop(Server):
    def __init__(self, sandbox: Sandbox, work: Path) -> None:
        env = dict(os.environ, KESTRUM_PASSWORD=PASSWORD)
        python_dir = str(REPO / "python")
        env["PYTHONPATH"] = os.pathsep.join(filter(None, [python_dir, env.get("PYTHONPATH")]))
        self.database = work / "shop.db"
        self.store = work / "store"
        program = [str(PHP_SHOP)] if KIND == "php" else [sys.executable, str(SHOP)]
        super().__init__(program + ["--store", str(self.store), "--database", str(self.database),
                                    "--setup", sandbox.url + "/user/setup.asp", "--user", USER,
                                    "--quiet"], env)

    def buy(self, product: str) -> str:
        """Buy as the shop's form posts it: the offer URL the shopper is sent to."""
        answer = fetch(self.url + "/buy", ("product=" + product).encode())
        assert answer.status == 303, answer.text
        return answer.location

    def order_state(self, order_id: int) -> str:
        page = fetch("%s/order/%d" % (self.url, order_id)).text
        match = re.search(r'data-state="([a-z]+)"', page)
        assert match, page
        return match.group(1)


def order_of(url: str) -> int:
    """The order number a shop link or an offer URL names."""
    query = urllib.parse.parse_qs(urllib.parse.urlsplit(url).query)
    if "order" in query:
        return int(query["order"][0])
    match = re.search(r'ORDERID="([0-9]+)"', query["DATA"][0])
    assert match, url
    return int(match.group(1))


@pytest.fixture(scope="module")
def sandbox(tmp_path_factory: pytest.TempPathFactory) -> Iterator[Sandbox]:
    host = Sandbox(tmp_path_factory.mktemp("host"))
    yield host
    assert host.stop() == 0


@pytest.fixture(scope="module")
def shop(sandbox: Sandbox, tmp_path_factory: pytest.TempPathFactory) -> Iterator[Shop]:
    server = Shop(sandbox, tmp_path_factory.mktemp("shop"))
    yield server
    assert server.stop() == 0


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item: pytest.Item, call: pytest.CallInfo) -> Iterator[None]:
    # Keeps each phase's report on the test, so fixtures can see whether the test failed.
    outcome = yield
    report = outcome.get_result()
    setattr(item, "report_" + report.when, report)


def pytest_sessionfinish(session: pytest.Session, exitstatus: int) -> None:
    # A run whose every test was skipped (no browser here) ends with KESTRUM_SKIPPED_STATUS, so
    # that ctest reports it as skipped rather than passed.
    status = os.environ.get("KESTRUM_SKIPPED_STATUS")
    reporter = session.config.pluginmanager.get_plugin("terminalreporter")
    # A module skipped as a whole counts as nothing collected (5).
    if status and exitstatus in (pytest.ExitCode.OK, pytest.ExitCode.NO_TESTS_COLLECTED) \
            and reporter is not None:
        stats = reporter.stats
        if stats.get("skipped") and not stats.get("passed") and not stats.get("failed"):
            session.exitstatus = int(status)
