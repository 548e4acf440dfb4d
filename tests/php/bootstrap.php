<?php

declare(strict_types=1);

// The package's tests: a kestrum-sandbox host on 127.0.0.1 (KESTRUM_SANDBOX, else the checkout's
// build), stores set up against it in a temporary folder (KESTRUM_WORK, else the system's), and
// the shopper's visit to an offer URL.

require dirname(__DIR__, 2) . '/php/autoload.php';

const USER = 'e40215536';
const PASSWORD = 'Pq7mWz2L';

final class Sandbox
{
    private static ?self $running = null;
    /** @var resource */
    private $process;
    public readonly string $url;
    public readonly string $setupUrl;

    private function __construct(string $program, string $state)
    {
        $this->process = proc_open([$program, '--state', $state, '--port', '0', '--quiet'],
            [0 => ['file', '/dev/null', 'r'], 1 => ['pipe', 'w'], 2 => STDERR], $pipes);
        $this->url = trim((string) fgets($pipes[1]));
        if (!str_starts_with($this->url, 'http://127.0.0.1:')) {
            throw new RuntimeException("$program gave no URL");
        }
        $this->setupUrl = $this->url . '/user/setup.asp';
    }

    /** Makes the host misbehave once (the sandbox's /admin/fault). */
    public function fault(string $query): void
    {
        if (file_get_contents($this->url . '/admin/fault?' . $query) === false) {
            throw new RuntimeException("the host took no fault $query");
        }
    }

    public static function get(): self
    {
        if (self::$running === null) {
            $program = getenv('KESTRUM_SANDBOX') ?: dirname(__DIR__, 2) . '/build/tools/sandbox/kestrum-sandbox';
            self::$running = new self($program, workDir('host'));
            register_shutdown_function(static function (): void {
                proc_terminate(self::$running->process);
                proc_close(self::$running->process);
            });
        }
        return self::$running;
    }
}

/** A new empty folder under the tests' work folder. */
function workDir(string $name): string
{
    static $root = null;
    if ($root === null) {
        $base = getenv('KESTRUM_WORK') ?: sys_get_temp_dir();
        @mkdir($base, 0700, true);
        $root = $base . '/phpunit-' . getmypid();
        exec('rm -rf ' . escapeshellarg($root));
        mkdir($root, 0700);
        // KESTRUM_KEEP keeps them, to look at.
        register_shutdown_function(static function () use ($root): void {
            if (getenv('KESTRUM_KEEP') === false) {
                exec('rm -rf ' . escapeshellarg($root));
            }
        });
    }
    $dir = $root . '/' . $name . '-' . bin2hex(random_bytes(4));
    mkdir($dir, 0700);
    return $dir;
}

function setUpStore(): Kestrum\Store
{
    return Kestrum\Store::setup(workDir('store') . '/store', Sandbox::get()->setupUrl, USER, PASSWORD);
}

/**
 * The shopper's visit to an offer URL: the host answers 302 to SUCCESSLINK with the confirmation,
 * whose DATA and SIGNATURE come back decoded, as PHP hands them to a shop in $_GET.
 *
 * @return array{string, string}
 */
function authorise(string $offerUrl): array
{
    $context = stream_context_create(['http' => ['follow_location' => 0, 'ignore_errors' => true, 'timeout' => 30]]);
    file_get_contents($offerUrl, false, $context);
    foreach ($http_response_header as $line) {
        if (stripos($line, 'Location:') === 0) {
            parse_str((string) parse_url(trim(substr($line, 9)), PHP_URL_QUERY), $query);
            return [(string) $query['DATA'], (string) $query['SIGNATURE']];
        }
    }
    throw new RuntimeException('the host did not redirect the shopper: ' . implode(' | ', $http_response_header));
}
