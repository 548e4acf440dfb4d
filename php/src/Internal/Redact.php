<?php

declare(strict_types=1);

namespace Kestrum\Internal;

/**
 * Credentials removed from the texts of exceptions. The library already redacts its messages;
 * this is the second line for texts the package passes on. Only credential fields are replaced,
 * never other occurrences of a password: a short one would cut words apart and show where it
 * stands.
 *
 * @internal
 */
final class Redact
{
    public const HIDDEN = '[redacted]';

    public static function credentials(string $text): string
    {
        // A URL's user information: the library takes it up to the last "@" before the query.
        $text = (string) preg_replace('~(?<=://)(?:(?!://)[^?\r\n])*@~', self::HIDDEN . '@', $text);
        $text = (string) preg_replace('~(authorization:[ \t]*)[^\r\n]+~i', '$1' . self::HIDDEN, $text);
        return (string) preg_replace_callback(
            '~(\b[\w.-]*(?:password|passwd|passphrase|pwd)[ \t]*[=:][ \t]*)("[^"]*"?|\'[^\']*\'?|[^\s&;,)<>]+)~i',
            static function (array $m): string {
                $value = $m[2];
                $quote = ($value[0] === '"' || $value[0] === "'") ? $value[0] : '';
                $closing = ($quote !== '' && \strlen($value) > 1 && str_ends_with($value, $quote)) ? $quote : '';
                return $m[1] . $quote . self::HIDDEN . $closing;
            },
            $text
        );
    }
}
