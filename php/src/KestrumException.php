<?php

declare(strict_types=1);

namespace Kestrum;

/**
 * A call into libtbxapp failed. getCode() is the unsigned 32-bit result code (0x80040214),
 * $text the code's text ("" for codes without one), getMessage() the message the library composed
 * (the host's reason for a refusal, the transport's detail). No text holds a password.
 */
class KestrumException extends \RuntimeException
{
    public readonly string $text;

    public function __construct(int $code, string $text, string $message, ?\Throwable $previous = null)
    {
        parent::__construct($message, $code, $previous);
        $this->text = $text;
    }

    public function __toString(): string
    {
        return sprintf('%s: 0x%08X %s', static::class, $this->getCode(), $this->getMessage());
    }
}
