<?php

declare(strict_types=1);

namespace Shop;

/** The shop's HTML pages. Every value shown goes through h(). */
final class Pages
{
    private const STYLE = <<<'CSS'
body{margin:0;font:16px/1.45 system-ui,sans-serif;background:#faf7f2;color:#2b2622}
header{background:#3d5a40;color:#fff;padding:.8rem 1rem}
header a{color:#fff;text-decoration:none;margin-right:1rem}
header strong{margin-right:1.5rem}
main{max-width:40rem;margin:0 auto;padding:1rem}
.products{display:grid;grid-template-columns:repeat(auto-fill,minmax(11rem,1fr));gap:1rem}
.product,.box{background:#fff;border:1px solid #e4ddd2;border-radius:10px;padding:1rem}
.product h2{font-size:1.05rem;margin:0 0 .3rem}
.price{font-weight:700;font-size:1.2rem;margin:.4rem 0}
button{width:100%;padding:.65rem;font:inherit;font-weight:600;border:0;border-radius:6px;
background:#3d5a40;color:#fff;cursor:pointer}
.state{display:inline-block;padding:.15rem .6rem;border-radius:99px;font-weight:600;background:#e8e3da}
.state-paid{background:#d3ecd5;color:#1e5a24}
.state-declined,.state-failed{background:#f8d9d6;color:#8a1f16}
.state-cancelled{background:#ebe7e1;color:#5b544c}
table{border-collapse:collapse;width:100%;font-size:.92rem}
th,td{text-align:left;padding:.4rem .3rem;border-bottom:1px solid #e4ddd2;vertical-align:top}
.id{overflow-wrap:anywhere;font-family:ui-monospace,monospace;font-size:.75rem;color:#6b6259}
td:nth-child(3){white-space:nowrap}
@media (max-width:34rem){.wide-only{display:none}}
CSS;

    private const STATE_TEXT = [
        'new' => 'The order is being made.',
        'pending' => 'Waiting for the payment.',
        'capturing' => 'The payment is being completed. Reload this page in a moment.',
        'confirmed' => 'The payment is authorised, but completing it failed. Reload this page to try again.',
        'paid' => 'Paid. Thank you for your order!',
        'declined' => 'The payment was declined.',
        'cancelled' => 'You cancelled the payment.',
        'failed' => 'The payment could not be started.',
    ];

    public static function h(string|int|null $text): string
    {
        return htmlspecialchars((string) $text, ENT_QUOTES | ENT_SUBSTITUTE, 'UTF-8');
    }

    /** 1560, "EUR" as "15.60 EUR" (the shop's currencies have two decimals). */
    public static function money(int $amount, string $currency): string
    {
        return sprintf('%d.%02d %s', intdiv($amount, 100), $amount % 100, $currency);
    }

    private static function page(string $title, string $body): string
    {
        return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            . "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            . '<title>' . self::h($title) . " - Example PHP shop</title>\n<style>" . self::STYLE . "</style>\n</head>\n<body>\n"
            . '<header><strong>Example PHP shop</strong><a href="/">Products</a><a href="/orders">Orders</a></header>'
            . "\n<main>\n$body</main>\n</body>\n</html>\n";
    }

    private static function badge(string $state): string
    {
        $s = self::h($state);
        return "<span class=\"state state-$s\" data-state=\"$s\">$s</span>";
    }

    /** @param array<string, array{string, int, string, string}> $products key => name, amount, currency, blurb */
    public static function home(array $products): string
    {
        $cards = '';
        foreach ($products as $key => [$name, $amount, $currency, $blurb]) {
            $k = self::h($key);
            $cards .= '<div class="product"><h2>' . self::h($name) . '</h2><p>' . self::h($blurb) . '</p><p class="price">'
                . self::h(self::money($amount, $currency)) . '</p><form method="post" action="/buy">'
                . "<input type=\"hidden\" name=\"product\" value=\"$k\"><button type=\"submit\" id=\"buy-$k\">Buy</button></form></div>\n";
        }
        return self::page('Products', "<h1>Products</h1>\n<div class=\"products\">\n$cards</div>\n");
    }

    /** @param array<string, mixed> $o */
    public static function order(array $o): string
    {
        $reason = '';
        if ($o['reason'] !== null && \in_array($o['state'], ['declined', 'confirmed', 'failed'], true)) {
            $reason = '<p>Reason: ' . self::h($o['reason']) . "</p>\n";
        }
        $payment = $o['payment_id'] !== null ? '<p>Payment ID: <code>' . self::h($o['payment_id']) . "</code></p>\n" : '';
        $body = '<h1>Order ' . (int) $o['id'] . "</h1>\n<div class=\"box\">\n<p>" . self::h($o['description'])
            . ', <strong>' . self::h(self::money((int) $o['amount'], $o['currency'])) . "</strong></p>\n"
            . '<p id="order-state">' . self::badge($o['state']) . "</p>\n<p>" . self::h(self::STATE_TEXT[$o['state']] ?? '')
            . "</p>\n$reason$payment</div>\n";
        return self::page('Order ' . (int) $o['id'], $body);
    }

    /** @param list<array<string, mixed>> $orders */
    public static function orders(array $orders): string
    {
        $rows = '';
        foreach ($orders as $o) {
            $id = (int) $o['id'];
            $rows .= "<tr id=\"order-$id\"><td><a href=\"/order/$id\">$id</a></td><td>" . self::h($o['description'])
                . '<div class="id">' . self::h($o['payment_id']) . '</div></td><td>'
                . self::h(self::money((int) $o['amount'], $o['currency'])) . '</td><td>' . self::badge($o['state'])
                . '</td><td class="wide-only">' . self::h($o['updated']) . "</td></tr>\n";
        }
        return self::page('Orders', "<h1>Orders</h1>\n<table>\n<tr><th>Order</th><th>Product, payment ID</th>"
            . "<th>Amount</th><th>State</th><th class=\"wide-only\">Last change</th></tr>\n$rows</table>\n");
    }

    public static function message(string $title, string $text, ?string $detail = null): string
    {
        $more = $detail ? '<p><code>' . self::h($detail) . "</code></p>\n" : '';
        return self::page($title, '<h1>' . self::h($title) . "</h1>\n<div class=\"box\">\n<p>" . self::h($text) . "</p>\n$more</div>\n");
    }
}
