<?php

declare(strict_types=1);

namespace Kestrum;

/**
 * A confirmation of the host, verified: its attributes read-only ($confirmation['AMOUNT']), the
 * transaction $id, the $token of the offer it pays and $text, its saved form. Keep $text with the
 * order and restore it with Confirmation::fromText to capture later.
 */
final class Confirmation extends Message
{
    public readonly string $id;
    public readonly string $token;

    /** @param array<string, string> $attributes */
    public function __construct(string $text, array $attributes)
    {
        parent::__construct($text, $attributes);
        $this->id = $attributes['ID'] ?? '';
        $this->token = $attributes['TOKEN'] ?? '';
    }

    /**
     * Restores a confirmation saved as $text. Nothing is verified again and nothing is sent: pass
     * only text this shop saved itself after verifyConfirmation.
     */
    public static function fromText(Store $store, string $text): self
    {
        $saved = Internal\Calls::run(static function (Internal\Calls $c) use ($store, $text): string {
            $message = $c->message($store->path);
            Internal\Errors::check($c->ffi->MessageObject_FromString($message, Internal\Text::arg($text, 'the saved text')));
            return $c->text($message);
        });
        return new self($saved, Internal\Text::attributes($saved));
    }
}
