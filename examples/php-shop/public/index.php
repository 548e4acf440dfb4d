<?php

declare(strict_types=1);

// The example shop's one entry point: nginx hands every request to it through php-fpm.
//
// Buy creates an order and sends the shopper's browser to the signed offer URL on the payment
// host. The host sends the browser back to one of the offer's three links: SUCCESSLINK with a
// signed confirmation (verified against the order, recorded, then captured: the order is paid only
// once the capture succeeded), FAILLINK when the payment was declined, BACKLINK when the shopper
// cancelled. FAILLINK and BACKLINK carry the order's own key (an HMAC of its number under the
// shop's secret), so nobody can decline or cancel another shopper's order by guessing its number.
// /orders lists every order with its state.
//
// The pool's environment names the store (KESTRUM_SHOP_STORE), the database
// (KESTRUM_SHOP_DATABASE), the shop's own URL (KESTRUM_SHOP_URL) and the package's autoload.php
// (KESTRUM_PHP_AUTOLOAD, else the checkout's).

use Kestrum\Confirmation;
use Kestrum\KestrumException;
use Kestrum\NetworkException;
use Kestrum\SignatureException;
use Kestrum\Store;
use Shop\Orders;
use Shop\Pages;

require getenv('KESTRUM_PHP_AUTOLOAD') ?: dirname(__DIR__, 3) . '/php/autoload.php';
require dirname(__DIR__) . '/src/Orders.php';
require dirname(__DIR__) . '/src/Pages.php';

const PRODUCTS = [
    'mug' => ['Blue mug', 1560, 'EUR', 'Stoneware, 0.3 l, dishwasher safe.'],
    'towel' => ['Tea towel', 890, 'EUR', 'Linen, 50 by 70 cm.'],
    'salt' => ['Salt & pepper set', 2450, 'EUR', 'Two mills of beech wood.'],
];
const MAX_FORM = 4096;

function send(int $status, string $body): void
{
    http_response_code($status);
    header('Content-Type: text/html; charset=utf-8');
    header('Cache-Control: no-store');
    echo $body;
}

function redirect(string $location): void
{
    http_response_code(303);
    header('Location: ' . $location);
}

function notFound(): void
{
    send(404, Pages::message('Not found', 'There is no such page.'));
}

/** A query parameter as the bytes the browser sent, "" when absent or not a single value. */
function field(string $name): string
{
    $value = $_GET[$name] ?? '';
    return \is_string($value) ? $value : '';
}

/** The shopper is back with a confirmation. Returns null when the order was handled (its page
 * shows the outcome), else why the confirmation was refused. */
function paid(Store $store, Orders $orders, array $order): ?string
{
    if ($order['token'] === null) {
        return 'there is no offer for this order';
    }
    if ($order['state'] === 'paid') {
        return null; // a reload: nothing more to do
    }
    try {
        // Bound to the order: another order's confirmation, or a cheaper one, is refused.
        $confirmation = $store->verifyConfirmation(field('DATA'), field('SIGNATURE'), $order['token'], (string) $order['amount'], $order['currency']);
    } catch (SignatureException $error) {
        return $error->getMessage();
    }
    // One request wins the claim and captures; a concurrent or later one just shows the order.
    $claimed = round(microtime(true), 3);
    $id = (int) $order['id'];
    if (!$orders->claimCapture($id, $confirmation->id, $confirmation->text, $claimed)) {
        return null;
    }
    $failure = capture($store, $confirmation);
    if ($failure === null) {
        $orders->captured($id, $claimed);
    } else {
        $orders->captureFailed($id, $claimed, $failure);
    }
    return null;
}

/** Captures the payment; null once the host has it captured, else why not. A capture that never
 * left is sent again at once; one whose answer was lost is settled by the host's state, and sent
 * again only when the host says it is not captured. */
function capture(Store $store, Confirmation $confirmation): ?string
{
    $failure = '';
    for ($attempt = 0; $attempt < 2; $attempt++) {
        try {
            $store->capture($confirmation);
            return null;
        } catch (NetworkException $error) {
            $failure = (string) $error;
            if ($error->requestSent() !== true) {
                continue;
            }
            $state = stateAtHost($store, $confirmation->id);
            if ($state === 'captured') {
                return null;
            }
            if ($state !== 'authorised') {
                return $failure; // the host cannot say: the next visit tries again
            }
        } catch (KestrumException $error) {
            // Refused; the capture of an attempt whose answer was lost counts all the same.
            return stateAtHost($store, $confirmation->id) === 'captured' ? null : (string) $error;
        }
    }
    return $failure;
}

function stateAtHost(Store $store, string $paymentId): ?string
{
    try {
        return $store->request('Status', ['ID' => $paymentId])->attributes['STATE'] ?? null;
    } catch (KestrumException) {
        return null;
    }
}

/** The order's key in its FAILLINK and BACKLINK: only the offer that carries the links knows it. */
function linkKey(Orders $orders, int $id): string
{
    return hash_hmac('sha256', "order $id", $orders->secret());
}

function buy(Store $store, Orders $orders, string $key): void
{
    [$name, $amount, $currency] = PRODUCTS[$key];
    $id = $orders->create($key, $name, $amount, $currency);
    $link = rtrim((string) getenv('KESTRUM_SHOP_URL'), '/') . '/%s?order=' . $id;
    $keyed = $link . '&key=' . linkKey($orders, $id);
    try {
        $offer = $store->createOffer([
            'AMOUNT' => $amount, 'CURRENCY' => $currency, 'DESCRIPTION' => $name, 'ORDERID' => $id,
            'SUCCESSLINK' => sprintf($link, 'paid'), 'FAILLINK' => sprintf($keyed, 'failed'),
            'BACKLINK' => sprintf($keyed, 'cancelled'),
        ]);
    } catch (KestrumException $error) {
        $orders->offerFailed($id, (string) $error);
        send(502, Pages::message('Payment not available', 'The payment could not be started.', (string) $error));
        return;
    }
    $orders->offered($id, $offer->token);
    redirect($offer->url);
}

$store = new Store((string) getenv('KESTRUM_SHOP_STORE'));
$orders = new Orders((string) getenv('KESTRUM_SHOP_DATABASE'));
$path = (string) parse_url($_SERVER['REQUEST_URI'] ?? '/', PHP_URL_PATH);
$method = $_SERVER['REQUEST_METHOD'] ?? 'GET';

if ($method === 'POST') {
    $key = $_POST['product'] ?? '';
    if ($path !== '/buy' || !\is_string($key) || !isset(PRODUCTS[$key])) {
        notFound();
    } elseif ((int) ($_SERVER['CONTENT_LENGTH'] ?? 0) > MAX_FORM) {
        send(400, Pages::message('Bad request', 'The form could not be read.'));
    } else {
        buy($store, $orders, $key);
    }
} elseif ($path === '/') {
    send(200, Pages::home(PRODUCTS));
} elseif ($path === '/orders') {
    send(200, Pages::orders($orders->all()));
} elseif (preg_match('~^/order/([0-9]{1,11})$~', $path, $m)) {
    $order = $orders->get((int) $m[1]);
    $order === null ? notFound() : send(200, Pages::order($order));
} elseif (\in_array($path, ['/paid', '/failed', '/cancelled'], true)) {
    $number = field('order');
    $order = preg_match('/^[0-9]{1,11}$/', $number) ? $orders->get((int) $number) : null;
    if ($order === null) {
        notFound();
        return;
    }
    $id = (int) $order['id'];
    if ($path === '/paid') {
        $refusal = paid($store, $orders, $order);
        if ($refusal !== null) {
            send(400, Pages::message('Payment not accepted', "This confirmation does not pay order $id.", $refusal));
            return;
        }
    } elseif (!hash_equals(linkKey($orders, $id), field('key'))) {
        send(403, Pages::message('Link not accepted', "This link does not belong to order $id."));
        return;
    } elseif ($path === '/failed') {
        $orders->declined($id, field('REASON') !== '' ? field('REASON') : 'no reason given');
    } else {
        $orders->cancelled($id);
    }
    // The order's own page, so that a reload does not repeat the link's work.
    redirect("/order/$id");
} else {
    notFound();
}
