<?php

declare(strict_types=1);

namespace Kestrum\Internal;

use FFI\CData;

/**
 * The library's handles of one call of the package, destroyed when the call ends, whatever
 * happened: no handle outlives the call that made it, so none lives across requests.
 *
 * @internal
 */
final class Calls
{
    public readonly \FFI $ffi;

    /** @var list<array{string, CData}> the destroy function and handle of each object made */
    private array $owned = [];

    private function __construct()
    {
        $this->ffi = Library::ffi();
    }

    /**
     * Runs $body with the handles of one call.
     *
     * @template T
     * @param callable(Calls): T $body
     * @return T
     */
    public static function run(callable $body): mixed
    {
        $calls = new self();
        try {
            return $body($calls);
        } finally {
            while ($calls->owned) {
                [$destroy, $handle] = array_pop($calls->owned);
                $calls->ffi->$destroy($handle);
            }
        }
    }

    /**
     * Whether the request of the last failed exchange on this thread reached the host; null when
     * the library cannot tell.
     */
    public static function lastRequestWasSent(): ?bool
    {
        return match (Library::ffi()->TBX_LastRequestWasSent()) {
            1 => true,
            0 => false,
            default => null,
        };
    }

    private function keep(?CData $handle, string $destroy): CData
    {
        if ($handle === null || \FFI::isNull($handle)) {
            throw new \RuntimeException('libtbxapp could not allocate an object');
        }
        $this->owned[] = [$destroy, $handle];
        return $handle;
    }

    public function setup(string $store): CData
    {
        $handle = $this->keep($this->ffi->CreateConfigurationSetup(), 'DestroyConfigurationSetup');
        Errors::check($this->ffi->ConfigurationSetup_SetConfiguration($handle, $store));
        return $handle;
    }

    public function factory(string $store): CData
    {
        $handle = $this->keep($this->ffi->CreateMessageFactory(), 'DestroyMessageFactory');
        Errors::check($this->ffi->MessageFactory_Open($handle, $store));
        return $handle;
    }

    public function message(string $store): CData
    {
        $handle = $this->keep($this->ffi->CreateMessageObject(), 'DestroyMessageObject');
        Errors::check($this->ffi->MessageObject_Open($handle, $store));
        return $handle;
    }

    /** Keeps a message object that a call wrote into $out. */
    public function keepMessage(CData $out): CData
    {
        return $this->keep($out, 'DestroyMessageObject');
    }

    /**
     * Calls a function that makes a message object into its last argument, and keeps the object.
     *
     * @param list<mixed> $arguments the arguments before the output handle
     */
    public function made(string $function, array $arguments, bool $refusal = false): CData
    {
        $out = $this->ffi->new('void*');
        Errors::check($this->ffi->$function(...[...$arguments, \FFI::addr($out)]), $refusal);
        return $this->keep($out, 'DestroyMessageObject');
    }

    /**
     * A string out of the library: into a buffer of $size bytes or, when the library reports that
     * it needs more, one of that size. A size that fits at once saves a call: a URL is signed anew
     * by every call.
     */
    public function fetch(string $function, CData $handle, int $size = 1024): string
    {
        $length = $this->ffi->new('long');
        for ($try = 0; $try < 4; ++$try) {
            $buffer = $this->ffi->new("char[$size]");
            $length->cdata = $size;
            $result = $this->ffi->$function($handle, \FFI::addr($length), $buffer);
            if ($result === 0) {
                return \FFI::string($buffer, max($length->cdata - 1, 0));
            }
            if (Errors::unsigned($result) !== Errors::BUFFER_TOO_SMALL || $length->cdata <= $size) {
                throw Errors::failure($result);
            }
            $size = $length->cdata;
        }
        throw Errors::failure(Errors::BUFFER_TOO_SMALL);
    }

    /** The message's text form. */
    public function text(CData $message): string
    {
        return $this->fetch('MessageObject_ToString', $message);
    }

    /** @param array<string, string|int> $attributes */
    public function setAttributes(CData $message, array $attributes): void
    {
        foreach ($attributes as $name => $value) {
            $name = (string) $name;
            Errors::check($this->ffi->MessageObject_SetAttribute(
                $message,
                Text::arg($name, 'an attribute name'),
                Text::arg($value, $name)
            ));
        }
    }
}
