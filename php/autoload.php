<?php

declare(strict_types=1);

// The package's classes without Composer: require this file once. With Composer, its autoloader
// does the same from composer.json.
spl_autoload_register(static function (string $class): void {
    if (str_starts_with($class, 'Kestrum\\')) {
        $file = __DIR__ . '/src/' . str_replace('\\', '/', substr($class, 8)) . '.php';
        if (is_file($file)) {
            require $file;
        }
    }
});
