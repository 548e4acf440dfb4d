<?php

declare(strict_types=1);

namespace Kestrum;

/**
 * A genuine confirmation that does not belong to the order it was checked against (code
 * 0x8004021B): it carries $got (null: absent) in $attribute where the order has $expected. The
 * library's message names the attribute and shows values only of attributes that are not secret:
 * a shop may show it to the shopper, and the order's TOKEN is what binds a payment to it.
 */
class ConfirmationMismatchException extends SignatureException
{
    public readonly string $attribute;
    public readonly string $expected;
    public readonly ?string $got;

    public function __construct(string $attribute, string $expected, ?string $got, int $code, string $text, string $message)
    {
        parent::__construct($code, $text, $message);
        $this->attribute = $attribute;
        $this->expected = $expected;
        $this->got = $got;
    }
}
