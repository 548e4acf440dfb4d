<?php

declare(strict_types=1);

namespace Kestrum;

/**
 * A signed payment offer: send the shopper's browser to $url and keep $token with the order, to
 * check the confirmation against it. $attributes are the offer's, in order.
 */
final class Offer
{
    public readonly string $token;

    /** @param array<string, string> $attributes */
    public function __construct(public readonly string $url, public readonly array $attributes)
    {
        $this->token = $attributes['TOKEN'] ?? '';
    }
}
