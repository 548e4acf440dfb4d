<?php

declare(strict_types=1);

namespace Kestrum\Internal;

use Kestrum\HostException;
use Kestrum\KestrumException;
use Kestrum\NetworkException;
use Kestrum\SignatureException;
use Kestrum\StoreException;

/**
 * The exception class for each result code, and the exception of a failed call.
 *
 * @internal
 */
final class Errors
{
    public const INVALID_FORMAT = 0x80040204;
    public const BUFFER_TOO_SMALL = 0x80040205;
    public const REQUEST_FAILED = 0x80040208;
    public const CRYPTO = 0x80040209;
    public const INVALID_KEY_BLOB = 0x8004020B;
    public const ITEM_NOT_FOUND = 0x8004020D;
    public const NO_KEY_ID = 0x8004020E;
    public const HOST_ERROR = 0x80040213;
    public const INVALID_SIGNATURE = 0x80040214;
    public const INVALID_ARGUMENT = 0x80040218;
    public const MISSING_SIGNATURE = 0x8004021A;
    public const ORDER_MISMATCH = 0x8004021B;

    /** Codes that, when verifying a confirmation, mean it cannot be trusted. */
    private const REFUSALS = [
        self::INVALID_FORMAT, self::INVALID_KEY_BLOB, self::ITEM_NOT_FOUND, self::NO_KEY_ID,
        self::CRYPTO, self::INVALID_SIGNATURE, self::MISSING_SIGNATURE,
    ];

    private const STORE = [
        0x80040201, 0x80040202, 0x80040203, self::INVALID_FORMAT, 0x8004020A, self::INVALID_KEY_BLOB,
        self::NO_KEY_ID, 0x8004020F, 0x80040210, 0x80040212, 0x80040219,
    ];

    private const HTTP_STATUS_BASE = 0x80042000;
    private const SOCKET_BASE = 0x80043000;
    private const TLS_BASE = 0x80044000;
    private const DNS_LOOKUP = 0x80042021;
    private const BAD_RESPONSE = 0x80042022;

    /**
     * @param bool $refusal the call verified a confirmation, so reading failures refuse it
     * @return class-string<KestrumException>
     */
    public static function classFor(int $code, bool $refusal = false): string
    {
        if ($code === self::INVALID_SIGNATURE || $code === self::MISSING_SIGNATURE || $code === self::ORDER_MISMATCH
            || ($refusal && \in_array($code, self::REFUSALS, true))) {
            return SignatureException::class;
        }
        if ($code === self::HOST_ERROR || $code === self::REQUEST_FAILED
            || ($code >= self::HTTP_STATUS_BASE + 100 && $code <= self::HTTP_STATUS_BASE + 599)) {
            return HostException::class;
        }
        if (($code >= self::SOCKET_BASE && $code <= self::SOCKET_BASE + 0xFFF)
            || ($code >= self::TLS_BASE && $code <= self::TLS_BASE + 0xFFF)
            || $code === self::DNS_LOOKUP || $code === self::BAD_RESPONSE) {
            return NetworkException::class;
        }
        if (\in_array($code, self::STORE, true) || ($code > 0 && $code < 0x10000)) {
            return StoreException::class;
        }
        return KestrumException::class;
    }

    /** The unsigned 32-bit form of a result. */
    public static function unsigned(int $result): int
    {
        return $result & 0xFFFFFFFF;
    }

    /** The library's text for a code, "" when it has none. */
    public static function text(int $code): string
    {
        $ffi = Library::ffi();
        $length = $ffi->new('long');
        $length->cdata = 256;
        $buffer = $ffi->new('char[256]');
        if ($ffi->TBX_GetErrorStringFromResult($code, \FFI::addr($length), $buffer) === 0) {
            return '';
        }
        if ($length->cdata > 256) {
            $buffer = $ffi->new('char[' . $length->cdata . ']');
            $ffi->TBX_GetErrorStringFromResult($code, \FFI::addr($length), $buffer);
        }
        return \FFI::string($buffer);
    }

    private static function lastMessage(): string
    {
        $ffi = Library::ffi();
        $length = $ffi->new('long');
        $length->cdata = 0;
        if (self::unsigned($ffi->TBX_GetLastErrorMessage(\FFI::addr($length), null)) !== self::BUFFER_TOO_SMALL) {
            return '';
        }
        $size = max($length->cdata, 1);
        $buffer = $ffi->new("char[$size]");
        if ($ffi->TBX_GetLastErrorMessage(\FFI::addr($length), $buffer) !== 0) {
            return '';
        }
        return \FFI::string($buffer);
    }

    /** The exception for a failed call, with the library's message for it; no text keeps a credential. */
    public static function failure(int $result, bool $refusal = false): KestrumException
    {
        $code = self::unsigned($result);
        // Read first: it belongs to the failure this call just had.
        $sent = Calls::lastRequestWasSent();
        if ($result > 0 && $result < 0x10000) {
            // A store directory that could not be made: the system's error number itself.
            $text = \function_exists('posix_strerror') ? posix_strerror($result) : "the system's error $result";
            $message = self::lastMessage();
            if (!str_contains($message, $text)) {
                $message = $text;
            }
        } else {
            $text = self::text($code);
            // The thread's last error describes this failure only when it carries this code: a
            // call that failed before reaching the library leaves an older one in place.
            $message = self::unsigned(Library::ffi()->TBX_GetLastErrorCode()) === $code ? self::lastMessage() : '';
            if ($message === '') {
                $message = $text !== '' ? $text : sprintf('ErrorCode = 0x%x', $code);
            }
        }
        $class = self::classFor($code, $refusal);
        $text = Redact::credentials($text);
        $message = Redact::credentials($message);
        if ($class === NetworkException::class) {
            return new NetworkException($code, $text, $message, $sent);
        }
        return new $class($code, $text, $message);
    }

    public static function check(int $result, bool $refusal = false): void
    {
        if ($result !== 0) {
            throw self::failure($result, $refusal);
        }
    }
}
