<?php

declare(strict_types=1);

namespace Kestrum\Internal;

use Kestrum\KestrumException;

/**
 * Values for the library, and the attributes of a message's text form.
 *
 * @internal
 */
final class Text
{
    private const ENTITIES = ['&amp' => '&', '&lt' => '<', '&gt' => '>', '&quot' => '"', '&apos' => "'"];

    /**
     * A value as a C string. A NUL byte would cut the value short in C without a word, so it is
     * refused; the message names the value, never shows it.
     */
    public static function arg(string|int $value, string $what): string
    {
        $value = (string) $value;
        if (str_contains($value, "\0")) {
            throw new \InvalidArgumentException("$what contains a NUL byte");
        }
        return $value;
    }

    /**
     * The attributes of a message's text form, in order. The library writes it: "<TBX", then
     * ' NAME="VALUE"' per attribute (&, <, >, " and ' as references), then "/>" or ">".
     *
     * @return array<string, string>
     */
    public static function attributes(string $text): array
    {
        if (!preg_match('~^<([^\s/>]+)~', $text, $start)) {
            throw new KestrumException(
                Errors::INVALID_FORMAT,
                'invalid file format',
                'not the text of a message: ' . substr($text, 0, 60)
            );
        }
        $attributes = [];
        $position = \strlen($start[0]);
        while (preg_match('~\G\s+([^\s="/>]+)="([^"]*)"~', $text, $m, 0, $position)) {
            $attributes[$m[1]] ??= self::decode($m[2]);
            $position += \strlen($m[0]);
        }
        return $attributes;
    }

    /** An attribute value as the library decodes it: the five named references become their
     * characters, any other reference disappears. */
    private static function decode(string $value): string
    {
        if (!str_contains($value, '&')) {
            return $value;
        }
        $out = '';
        $n = \strlen($value);
        $i = 0;
        while ($i < $n) {
            if ($value[$i] !== '&') {
                $j = strpos($value, '&', $i);
                $j = $j === false ? $n : $j;
                $out .= substr($value, $i, $j - $i);
                $i = $j;
                continue;
            }
            $j = $i;
            while ($j < $n && $value[$j] !== ';' && $j - $i < 5) {
                ++$j;
            }
            $out .= self::ENTITIES[substr($value, $i, $j - $i)] ?? '';
            $i = $j < $n ? $j + 1 : $j;
        }
        return $out;
    }
}
