<?php

declare(strict_types=1);

// The preload script of a PHP-FPM pool (opcache.preload): makes libtbxapp's declarations the FFI
// scope "KESTRUM", which every request finds with FFI::scope while FFI is otherwise off for web
// requests (ffi.enable=preload, PHP's default), and compiles the package's classes once. php.ini:
//
//     ffi.preload=/usr/share/php/kestrum/kestrum.h
//     opcache.preload=/usr/share/php/kestrum/preload.php
//
// (and opcache.preload_user=www-data where the pool's master runs as root). ffi.preload binds the
// declarations to the library that the header's FFI_LIB names; without it this script binds them
// itself (FFI::load, which PHP refuses alongside opcache.preload_user) to KESTRUM_LIBRARY of the
// starting process when set, else the library installed with the package, else libtbxapp.so.0
// through the dynamic linker, else build/ of a checkout.
require_once __DIR__ . '/src/LibraryNotFoundException.php';
require_once __DIR__ . '/src/Internal/Library.php';

if (!Kestrum\Internal\Library::scoped()) {
    Kestrum\Internal\Library::preload();
}
$classes = new RecursiveIteratorIterator(new RecursiveDirectoryIterator(__DIR__ . '/src', FilesystemIterator::SKIP_DOTS));
$loaded = get_included_files();
foreach ($classes as $file) {
    if ($file->getExtension() === 'php' && !in_array($file->getPathname(), $loaded, true)) {
        opcache_compile_file($file->getPathname());
    }
}
