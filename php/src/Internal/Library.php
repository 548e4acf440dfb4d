<?php

declare(strict_types=1);

namespace Kestrum\Internal;

use Kestrum\LibraryNotFoundException;

/**
 * Finding libtbxapp and binding the package's declarations to it.
 *
 * In a web request FFI is usually available only through what the preload script loaded at the
 * start of the worker (ffi.enable=preload, PHP's default): FFI::scope finds it. From the command
 * line, or where ffi.enable=true, the declarations are bound here on first use with FFI::cdef.
 *
 * @internal
 */
final class Library
{
    public const SCOPE = 'KESTRUM';
    public const SONAME = 'libtbxapp.so.0';

    private static ?\FFI $ffi = null;
    private static ?string $bound = null;

    /** The package's declaration file, shipped beside src/. */
    public static function header(): string
    {
        return \dirname(__DIR__, 2) . '/kestrum.h';
    }

    /**
     * Where the library is looked for, in order: [description, name or path].
     *
     * @return list<array{string, string}>
     */
    public static function candidates(): array
    {
        $configured = getenv('KESTRUM_LIBRARY');
        if (\is_string($configured) && $configured !== '') {
            return [['KESTRUM_LIBRARY', $configured]];
        }
        $places = [];
        $installed = \dirname(__DIR__, 2) . '/installed.php';
        if (is_file($installed)) {
            // Written by cmake --install: the library's path relative to the package.
            $relative = (string) (require $installed);
            $path = str_starts_with($relative, '/') ? $relative : \dirname(__DIR__, 2) . '/' . $relative;
            $places[] = ['installed with the package', self::normalise($path)];
        }
        $places[] = ['the dynamic linker', self::SONAME];
        $places[] = ["the checkout's build folder", self::normalise(\dirname(__DIR__, 3) . '/build/' . self::SONAME)];
        return $places;
    }

    /** The declarations without the lines only FFI::load understands. */
    public static function declarations(): string
    {
        $text = file_get_contents(self::header());
        if ($text === false) {
            throw new LibraryNotFoundException('cannot read the declarations ' . self::header());
        }
        return (string) preg_replace('/^#define FFI_\w+ .*$/m', '', $text);
    }

    /** Whether the declarations were preloaded (ffi.preload, or the preload script). */
    public static function scoped(): bool
    {
        try {
            \FFI::scope(self::SCOPE);
            return true;
        } catch (\FFI\Exception) {
            return false;
        }
    }

    /** The library the declarations were bound to here (binding them now), null when they were
     * preloaded. */
    public static function bound(): ?string
    {
        self::ffi();
        return self::$bound;
    }

    /** The bound library: the preloaded scope when there is one, else bound now. */
    public static function ffi(): \FFI
    {
        if (self::$ffi !== null) {
            return self::$ffi;
        }
        try {
            return self::$ffi = \FFI::scope(self::SCOPE);
        } catch (\FFI\Exception) {
            // Not preloaded: bind the declarations here, where FFI may be used.
        }
        $declarations = self::declarations();
        $tried = [];
        foreach (self::candidates() as [$description, $name]) {
            if (str_contains($name, '/') && !file_exists($name)) {
                $tried[] = "$description: $name (no such file)";
                continue;
            }
            try {
                self::$ffi = \FFI::cdef($declarations, $name);
                self::$bound = $name;
                return self::$ffi;
            } catch (\FFI\Exception $error) {
                if (str_contains($error->getMessage(), 'ffi.enable')) {
                    throw new LibraryNotFoundException(
                        'FFI is restricted to preloaded code here (ffi.enable=preload): add '
                        . 'ffi.preload=' . self::header() . ' and opcache.preload='
                        . \dirname(__DIR__, 2) . '/preload.php to php.ini'
                    );
                }
                $tried[] = "$description: $name (" . $error->getMessage() . ')';
            }
        }
        throw new LibraryNotFoundException("libtbxapp not found; looked in:\n  " . implode("\n  ", $tried));
    }

    /**
     * Loads the declarations under the scope that requests find with FFI::scope: run once per
     * worker from the preload script. Returns the library it bound.
     */
    public static function preload(): string
    {
        $header = file_get_contents(self::header());
        if ($header === false) {
            throw new LibraryNotFoundException('cannot read the declarations ' . self::header());
        }
        $tried = [];
        foreach (self::candidates() as [$description, $name]) {
            if (str_contains($name, '/') && !file_exists($name)) {
                $tried[] = "$description: $name (no such file)";
                continue;
            }
            // FFI::load reads the library's name from the file itself.
            $bound = (string) preg_replace('/^#define FFI_LIB .*$/m', '#define FFI_LIB "' . addcslashes($name, '"\\') . '"', $header);
            $file = tempnam(sys_get_temp_dir(), 'kestrum-ffi.');
            if ($file === false || file_put_contents($file, $bound) === false) {
                throw new LibraryNotFoundException('cannot write a temporary file in ' . sys_get_temp_dir());
            }
            $reason = 'not loaded';
            try {
                $ffi = @\FFI::load($file);
            } catch (\FFI\Exception $error) {
                $ffi = null;
                $reason = $error->getMessage();
            } finally {
                unlink($file);
            }
            if ($ffi !== null) {
                self::$ffi = $ffi;
                self::$bound = $name;
                return $name;
            }
            $tried[] = "$description: $name ($reason)";
        }
        throw new LibraryNotFoundException("libtbxapp not found; looked in:\n  " . implode("\n  ", $tried));
    }

    private static function normalise(string $path): string
    {
        $parts = [];
        foreach (explode('/', $path) as $part) {
            if ($part === '..') {
                array_pop($parts);
            } elseif ($part !== '.' && $part !== '') {
                $parts[] = $part;
            }
        }
        return '/' . implode('/', $parts);
    }
}
