<?php

declare(strict_types=1);

namespace Kestrum;

/**
 * A message of the library, read-only: its attributes in order ($message['ID'], $attributes),
 * its type (MSGTYPE) and its text form.
 *
 * @implements \ArrayAccess<string, string>
 * @implements \IteratorAggregate<string, string>
 */
class Message implements \ArrayAccess, \IteratorAggregate, \Countable
{
    /** @var array<string, string> */
    public readonly array $attributes;
    public readonly string $type;
    public readonly string $text;

    /** @param array<string, string> $attributes */
    public function __construct(string $text, array $attributes)
    {
        $this->text = $text;
        $this->attributes = $attributes;
        $this->type = $attributes['MSGTYPE'] ?? '';
    }

    public function offsetExists(mixed $offset): bool
    {
        return isset($this->attributes[$offset]);
    }

    public function offsetGet(mixed $offset): string
    {
        if (!isset($this->attributes[$offset])) {
            throw new \OutOfBoundsException("the message has no attribute $offset");
        }
        return $this->attributes[$offset];
    }

    public function offsetSet(mixed $offset, mixed $value): never
    {
        throw new \LogicException('a message of the host is read-only');
    }

    public function offsetUnset(mixed $offset): never
    {
        throw new \LogicException('a message of the host is read-only');
    }

    public function getIterator(): \ArrayIterator
    {
        return new \ArrayIterator($this->attributes);
    }

    public function count(): int
    {
        return \count($this->attributes);
    }
}
