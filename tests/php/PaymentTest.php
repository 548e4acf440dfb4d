<?php

declare(strict_types=1);

use Kestrum\ConfirmationMismatchException;
use Kestrum\HostException;
use Kestrum\KestrumException;
use Kestrum\NetworkException;
use Kestrum\SignatureException;
use Kestrum\Store;
use Kestrum\StoreException;
use PHPUnit\Framework\TestCase;

/** The package against the real library and a sandbox host. */
final class PaymentTest extends TestCase
{
    public function testAWholePayment(): void
    {
        $store = setUpStore();
        $store->setDefaults(['LANGID' => 'de']);
        $offer = $store->createOffer(['AMOUNT' => 1560, 'CURRENCY' => 'EUR', 'DESCRIPTION' => 'Blue mug & co']);
        $this->assertStringStartsWith(Sandbox::get()->url . '/', $offer->url);
        $this->assertMatchesRegularExpression('/^[0-9a-f]{32}$/', $offer->token);
        $this->assertSame(['PayInit', '1560', 'de', 'Blue mug & co'], [
            $offer->attributes['MSGTYPE'], $offer->attributes['AMOUNT'], $offer->attributes['LANGID'],
            $offer->attributes['DESCRIPTION'],
        ]);

        [$data, $signature] = authorise($offer->url);
        $confirmation = $store->verifyConfirmation($data, $signature, $offer->token, '1560', 'EUR');
        $this->assertSame(['PayConfirm', '1560', $offer->token], [$confirmation['MSGTYPE'], $confirmation['AMOUNT'], $confirmation->token]);
        $this->assertNotSame('', $confirmation->id);
        $this->assertFalse(isset($confirmation['NOSUCH']));
        $restored = Kestrum\Confirmation::fromText($store, $confirmation->text);
        // Restored, it carries the store's own KEYID, and the rest as it was.
        $this->assertSame(array_diff_key($confirmation->attributes, ['KEYID' => 1]), array_diff_key($restored->attributes, ['KEYID' => 1]));
        try {
            $confirmation['AMOUNT'] = '1';
            $this->fail('a confirmation could be changed');
        } catch (LogicException) {
        }

        $sent = $store->capture($restored);
        $this->assertSame(['PayComplete', $confirmation->id], [$sent->type, $sent['ID']]);
        $status = $store->request('Status', ['ID' => $confirmation->id]);
        $this->assertSame(['StatusResponse', 'captured'], [$status->type, $status['STATE']]);
    }

    /** @return array<string, array{string, class-string, int}> */
    public static function failures(): array
    {
        return [
            'store never set up' => ['unset', StoreException::class, 0x8004020E],
            'closed loopback port' => ['closed', NetworkException::class, 0x8004303D],
            'wrong password' => ['password', HostException::class, 0x80042191],
            'second capture' => ['twice', HostException::class, 0x80040213],
            "a capture whose answer is lost" => ['lost', NetworkException::class, 0x80042022],
            'capture by ID with a wrong TOKEN' => ['token', HostException::class, 0x80040213],
            'the offer handed back as a confirmation' => ['offer', SignatureException::class, 0x80040214],
            'a tampered signature' => ['tampered', SignatureException::class, 0x80040214],
            'a NUL in DATA' => ['nul', SignatureException::class, 0x80040204],
            'an empty request type' => ['type', KestrumException::class, 0x80040218],
        ];
    }

    /** @dataProvider failures */
    public function testEveryFailureThrowsItsClass(string $case, string $class, int $code): void
    {
        $store = setUpStore();
        $offer = $store->createOffer(['AMOUNT' => '1560', 'CURRENCY' => 'EUR']);
        [$data, $signature] = authorise($offer->url);
        $verify = static fn (string $d, string $s) => $store->verifyConfirmation($d, $s, $offer->token, '1560', 'EUR');
        try {
            match ($case) {
                'unset' => (new Store(workDir('fresh')))->createOffer(['AMOUNT' => '1']),
                'closed' => Store::setup(workDir('s') . '/s', 'http://127.0.0.1:' . closedPort() . '/user/setup.asp', USER, PASSWORD),
                'password' => Store::setup(workDir('s') . '/s', Sandbox::get()->setupUrl, USER, 'x' . PASSWORD),
                'twice' => [$store->capture($verify($data, $signature)), $store->capture($verify($data, $signature))],
                'lost' => [Sandbox::get()->fault('MODE=drop&MATCH=PayComplete'), $store->capture($verify($data, $signature))],
                'token' => $store->capture($verify($data, $signature)->id, str_repeat('1', 32)),
                'offer' => $verify(...offerParts($offer->url)),
                'tampered' => $verify($data, strrev($signature)),
                'nul' => $verify($data . "\0", $signature),
                'type' => $store->request(''),
            };
            $this->fail("$case: no exception");
        } catch (KestrumException $error) {
            $this->assertSame([$class, $code], [get_class($error), $error->getCode()], $error->getMessage());
            $this->assertNotSame('', $error->getMessage());
            if ($error instanceof NetworkException) {
                // A refused connection sent nothing; a lost answer followed a request sent whole.
                $this->assertSame($case === 'lost', $error->requestSent(), $error->getMessage());
            }
            foreach ([$error->getMessage(), $error->text, (string) $error, $error->getTraceAsString()] as $shown) {
                $this->assertStringNotContainsString(PASSWORD, $shown);
            }
        }
    }

    /** @return array<string, array{string, string, string, string, ?string}> */
    public static function mismatches(): array
    {
        return [
            'another order' => ['99999999999999999999999999999999', '1560', 'EUR', 'TOKEN', "the confirmation's TOKEN is not the order's; it pays another order"],
            'a cheaper order' => [null, '15600', 'EUR', 'AMOUNT', "the confirmation's AMOUNT is '1560', the order's is '15600'"],
            'another currency' => [null, '1560', 'CHF', 'CURRENCY', "the confirmation's CURRENCY is 'EUR', the order's is 'CHF'"],
        ];
    }

    /** @dataProvider mismatches */
    public function testAConfirmationOfAnotherOrderIsRefused(?string $token, string $amount, string $currency, string $attribute, string $message): void
    {
        $store = setUpStore();
        $offer = $store->createOffer(['AMOUNT' => '1560', 'CURRENCY' => 'EUR']);
        [$data, $signature] = authorise($offer->url);
        try {
            $store->verifyConfirmation($data, $signature, $token ?? $offer->token, $amount, $currency);
            $this->fail('a confirmation of another order passed');
        } catch (ConfirmationMismatchException $error) {
            $this->assertSame([0x8004021B, $attribute], [$error->getCode(), $error->attribute]);
            $this->assertSame("confirmation does not match the order ($message)", $error->getMessage());
            $order = ['TOKEN' => $token ?? $offer->token, 'AMOUNT' => $amount, 'CURRENCY' => $currency];
            $this->assertSame($order[$attribute], $error->expected);
            $this->assertStringNotContainsString($offer->token, (string) $error);
            $this->assertInstanceOf(SignatureException::class, $error);
        }
    }

    public function testTheDeclarationsAreThoseOfTheLibrary(): void
    {
        $declarations = static function (string $text, string $pattern): array {
            preg_match_all($pattern, $text, $m, PREG_SET_ORDER);
            return array_map(static fn (array $d) => preg_replace(['/\s+/', '/\(\s/', '/\s\)/'], [' ', '(', ')'], "$d[1] $d[2]($d[3])"), $m);
        };
        $root = dirname(__DIR__, 2);
        $library = $declarations((string) file_get_contents("$root/include/tbxapp.h"), '/TBX_EXTERN\((\w+\*?)\)\s*(\w+)\(([^)]*)\);/');
        $shipped = $declarations((string) file_get_contents("$root/php/kestrum.h"), '/^(\w+\*?) (\w+)\(([^)]*)\);/m');
        $this->assertSame($library, $shipped);
        $this->assertGreaterThan(20, count($shipped));
    }

    public function testAMissingLibraryNamesEveryPlaceTried(): void
    {
        $copy = workDir('package');
        exec('cp -r ' . escapeshellarg(dirname(__DIR__, 2) . '/php') . ' ' . escapeshellarg($copy));
        $script = 'require "' . $copy . '/php/autoload.php"; try { new Kestrum\Store("/"); (new Kestrum\Store("/"))->request("Status"); }'
            . ' catch (Kestrum\LibraryNotFoundException $e) { echo $e->getMessage(); }';
        $process = proc_open([PHP_BINARY, '-r', $script], [1 => ['pipe', 'w']], $pipes, null, ['PATH' => getenv('PATH')]);
        $shown = stream_get_contents($pipes[1]);
        proc_close($process);
        $this->assertStringContainsString('the dynamic linker: libtbxapp.so.0', $shown);
        $this->assertStringContainsString("the checkout's build folder: " . $copy . '/build/libtbxapp.so.0 (no such file)', $shown);
    }
}

function closedPort(): int
{
    // Bound and never listening: a connection is refused. Kept open until the test ends.
    static $sockets = [];
    $socket = socket_create(AF_INET, SOCK_STREAM, SOL_TCP);
    socket_bind($socket, '127.0.0.1', 0);
    socket_getsockname($socket, $address, $port);
    $sockets[] = $socket;
    return $port;
}

/** @return array{string, string} DATA and SIGNATURE of the offer URL itself. */
function offerParts(string $url): array
{
    parse_str((string) parse_url($url, PHP_URL_QUERY), $query);
    return [(string) $query['DATA'], (string) $query['SIGNATURE']];
}
