"""Whole purchases in a real browser: headless Chromium driven through Selenium, from the example
shop to the sandbox's payment page and back. Each page is saved as a screenshot (at a phone's
width) in KESTRUM_SCREENSHOTS, else in the test's temporary directory.
"""

from __future__ import annotations

import os
import shutil
from pathlib import Path
from typing import Callable, Iterator

import pytest

from conftest import Sandbox, Shop, fetch

CHROMIUM = shutil.which("chromium")
CHROMEDRIVER = shutil.which("chromedriver")
try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.remote.webdriver import WebDriver
    from selenium.webdriver.support.ui import WebDriverWait
    SELENIUM = True
except ImportError:
    SELENIUM = False

if not (CHROMIUM and CHROMEDRIVER and SELENIUM):
    pytest.skip("no browser here: needs chromium, chromium-driver and python3-selenium "
                "(scripts/install-deps installs them)", allow_module_level=True)

import kestrum  # noqa: E402  (only where the test runs)

# Headless, and nothing that reaches beyond loopback: this machine may have no network at all,
# and Chromium as root needs --no-sandbox.
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--disable-quic",
    "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--disable-extensions", "--no-proxy-server",
]
PHONE = {"width": 412, "height": 915, "pixelRatio": 1.0}
WAIT_SECONDS = 30
APPROVED, DECLINED, SESSION_ENDS = ("0000 0000 0000 1000", "0000 0000 0000 2000",
                                    "0000 0000 0000 3000")


@pytest.fixture(scope="module")
def screenshots(tmp_path_factory: pytest.TempPathFactory) -> Path:
    folder = Path(os.environ.get("KESTRUM_SCREENSHOTS") or tmp_path_factory.mktemp("screenshots"))
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.glob("*.png"):
        old.unlink()
    return folder


@pytest.fixture(scope="module")
def module_browser(tmp_path_factory: pytest.TempPathFactory, screenshots: Path) -> Iterator[WebDriver]:
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    options.add_argument("--user-data-dir=" + str(tmp_path_factory.mktemp("chromium-profile")))
    options.add_experimental_option("mobileEmulation", {"deviceMetrics": PHONE})
    service = Service(CHROMEDRIVER, log_path=str(screenshots / "chromedriver.log"))
    driver = webdriver.Chrome(service=service, options=options)
    driver.set_page_load_timeout(WAIT_SECONDS)
    try:
        yield driver
    finally:
        driver.quit()


@pytest.fixture
def browser(module_browser: WebDriver, screenshots: Path,
            request: pytest.FixtureRequest) -> Iterator[WebDriver]:
    yield module_browser
    report = getattr(request.node, "report_call", None)
    if report is not None and report.failed:
        # What the browser showed when the test failed.
        module_browser.save_screenshot(str(screenshots / ("failed-%s.png" % request.node.name)))
        (screenshots / ("failed-%s.html" % request.node.name)).write_text(
            module_browser.current_url + "\n" + module_browser.page_source)


def wait(browser: WebDriver, what: str, condition: Callable[[WebDriver], object]) -> None:
    try:
        WebDriverWait(browser, WAIT_SECONDS).until(condition)
    except TimeoutException:
        raise AssertionError("waited %d s for %s; the browser is at %s"
                             % (WAIT_SECONDS, what, browser.current_url)) from None


def shot(browser: WebDriver, folder: Path, name: str) -> None:
    assert browser.save_screenshot(str(folder / name)), name


def buy(browser: WebDriver, shop: Shop, sandbox: Sandbox, product: str) -> None:
    """From the shop's page to the payment page of a new order."""
    browser.get(shop.url + "/")
    wait(browser, "the shop's products", lambda b: b.find_elements(By.ID, "buy-" + product))
    browser.find_element(By.ID, "buy-" + product).click()
    wait(browser, "the payment page",
         lambda b: b.current_url.startswith(sandbox.url + "/offer?")
         and b.find_elements(By.CSS_SELECTOR, "button[value=pay]"))


def pay(browser: WebDriver, card: str, button: str = "pay") -> None:
    field = browser.find_element(By.ID, "card")
    field.clear()
    field.send_keys(card)
    browser.find_element(By.CSS_SELECTOR, "button[value=%s]" % button).click()


def order_page(browser: WebDriver, shop: Shop) -> str:
    """Waits for the shop's page of an order; its state."""
    wait(browser, "the shop's order page",
         lambda b: b.current_url.startswith(shop.url + "/order/")
         and b.find_elements(By.CSS_SELECTOR, "#order-state [data-state]"))
    return browser.find_element(By.CSS_SELECTOR, "#order-state [data-state]").get_attribute(
        "data-state")


def payments(sandbox: Sandbox) -> int:
    return len(list((sandbox.state / "payments").glob("*.xml")))


def test_paying_with_the_approved_card(browser: WebDriver, shop: Shop, sandbox: Sandbox,
                                       screenshots: Path) -> None:
    browser.get(shop.url + "/")
    wait(browser, "the shop's products", lambda b: b.find_elements(By.ID, "buy-mug"))
    shot(browser, screenshots, "1-shop.png")
    buy(browser, shop, sandbox, "mug")
    offer_url = browser.current_url
    page = browser.find_element(By.TAG_NAME, "body").text
    assert "15.60 EUR" in page and "Blue mug" in page
    assert browser.find_element(By.ID, "card").get_attribute("value") == APPROVED
    shot(browser, screenshots, "2-payment-page.png")

    browser.find_element(By.CSS_SELECTOR, "button[value=pay]").click()
    assert order_page(browser, shop) == "paid"
    order_url = browser.current_url
    assert "Thank you" in browser.find_element(By.TAG_NAME, "body").text
    shot(browser, screenshots, "3-paid.png")

    # The shopper comes back twice by the payment's link: the host sends the same confirmation,
    # the shop sees the order paid and captures nothing more.
    for _ in range(2):
        browser.get(offer_url)
        assert order_page(browser, shop) == "paid"
        assert browser.current_url == order_url

    browser.get(shop.url + "/orders")
    order_id = order_url.rsplit("/", 1)[1]
    wait(browser, "the orders page", lambda b: b.find_elements(By.ID, "order-" + order_id))
    row = browser.find_element(By.ID, "order-" + order_id)
    assert row.find_element(By.CSS_SELECTOR, "[data-state]").get_attribute("data-state") == "paid"
    payment_id = row.find_element(By.CSS_SELECTOR, ".id").text
    shot(browser, screenshots, "4-orders.png")

    # The host agrees: captured, once, and of the card it kept only the last four digits.
    record = sandbox.payment(payment_id)
    assert 'STATE="captured"' in record and 'CARD="1000"' in record
    assert sandbox.capture_requests(payment_id) == 1


def test_a_declined_card(browser: WebDriver, shop: Shop, sandbox: Sandbox,
                         screenshots: Path) -> None:
    before = payments(sandbox)
    buy(browser, shop, sandbox, "towel")
    pay(browser, DECLINED)
    assert order_page(browser, shop) == "declined"
    assert "the card issuer declined the payment" in browser.find_element(By.TAG_NAME, "body").text
    shot(browser, screenshots, "5-declined.png")
    assert payments(sandbox) == before


def test_cancel(browser: WebDriver, shop: Shop, sandbox: Sandbox, screenshots: Path) -> None:
    before = payments(sandbox)
    buy(browser, shop, sandbox, "salt")
    pay(browser, APPROVED, button="cancel")
    assert order_page(browser, shop) == "cancelled"
    shot(browser, screenshots, "6-cancelled.png")
    assert payments(sandbox) == before


def test_an_expired_session_and_an_expired_offer(browser: WebDriver, shop: Shop, sandbox: Sandbox,
                                                 screenshots: Path) -> None:
    # The test card that ends the session: the error page leads back to the shop.
    buy(browser, shop, sandbox, "mug")
    pay(browser, SESSION_ENDS)
    wait(browser, "the error page", lambda b: "Payment not possible" in b.title)
    assert "the payment session expired" in browser.find_element(By.TAG_NAME, "body").text
    shot(browser, screenshots, "7-session-expired.png")
    browser.find_element(By.LINK_TEXT, "Back to the shop").click()
    assert order_page(browser, shop) == "declined"

    # An offer whose time has passed.
    offer = kestrum.Store(shop.store).create_offer(
        AMOUNT=1560, CURRENCY="EUR", DESCRIPTION="Blue mug", EXPIRATION="20250101 00:00:00")
    browser.get(offer.url)
    wait(browser, "the error page", lambda b: "Payment not possible" in b.title)
    text = browser.find_element(By.TAG_NAME, "body").text
    assert "the offer expired at 20250101 00:00:00 UTC" in text
    assert not browser.find_elements(By.CSS_SELECTOR, "button[value=pay]")
    shot(browser, screenshots, "8-expired-offer.png")
    answer = fetch(offer.url, accept="text/html")
    assert answer.status == 400 and "the offer expired" in answer.text
