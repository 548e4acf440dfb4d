<?php

declare(strict_types=1);

namespace Kestrum;

/**
 * The host could not be reached or its answer was lost: socket, name lookup, time-out or TLS.
 *
 * After a capture that failed this way the payment may or may not be captured: requestSent()
 * says whether the request reached the host (false: it did not, a retry is safe; true or null,
 * unknown: ask the host with $store->request('Status', ['ID' => ...]) before capturing again).
 */
class NetworkException extends KestrumException
{
    private readonly ?bool $sent;

    public function __construct(int $code, string $text, string $message, ?bool $sent = null, ?\Throwable $previous = null)
    {
        parent::__construct($code, $text, $message, $previous);
        $this->sent = $sent;
    }

    /** Whether the request was sent before the failure; null when the library cannot tell. */
    public function requestSent(): ?bool
    {
        return $this->sent;
    }
}
