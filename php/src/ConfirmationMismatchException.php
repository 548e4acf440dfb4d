<?php

declare(strict_types=1);

namespace Kestrum;

/**
 * A genuine confirmation that does not belong to the order it was checked against: it carries
 * $got (null: absent) in $attribute where the order has $expected. The message names the
 * attribute and shows values only of attributes that are not secret: a shop may show it to the
 * shopper, and the order's TOKEN is what binds a payment to it.
 */
class ConfirmationMismatchException extends SignatureException
{
    public readonly string $attribute;
    public readonly string $expected;
    public readonly ?string $got;

    public function __construct(string $attribute, string $expected, ?string $got, int $code, string $text)
    {
        if ($got === null) {
            $message = "the confirmation carries no $attribute";
        } elseif ($attribute === 'TOKEN') {
            $message = 'the confirmation carries another TOKEN than the order';
        } else {
            $message = sprintf("the confirmation carries %s '%s', the order has %s '%s'", $attribute, $got, $attribute, $expected);
        }
        parent::__construct($code, $text, $message);
        $this->attribute = $attribute;
        $this->expected = $expected;
        $this->got = $got;
    }
}
