<?php

declare(strict_types=1);

// How long a payment takes through the PHP package, as a ratio to the C interface.
//
// A payment here is what a shop does on its own side: an offer (createOffer with AMOUNT and
// CURRENCY), then the verification of a confirmation bound to its order (verifyConfirmation with
// token, amount and currency). The C baseline (bench_payment_c, bench/python, with for-order)
// makes the same calls of the library, each with handles of its own. Both use one store set up against a
// kestrum-sandbox host and one real confirmation from it; the host takes no part in the timed
// loops.
//
//     php bench/php/payment_bench.php --build-dir build-bench [--iterations N] [--repetitions R]

$options = getopt('', ['build-dir:', 'iterations:', 'repetitions:']);
$repo = dirname(__DIR__, 2);
$build = realpath($options['build-dir'] ?? "$repo/build") ?: exit("no build folder\n");
$iterations = (int) ($options['iterations'] ?? 300);
$repetitions = (int) ($options['repetitions'] ?? 5);

putenv("KESTRUM_LIBRARY=$build/libtbxapp.so.0");
require "$repo/php/autoload.php";

$work = sys_get_temp_dir() . '/kestrum-bench-php.' . getmypid();
mkdir($work, 0700);
$host = proc_open(["$build/tools/sandbox/kestrum-sandbox", '--state', "$work/host", '--port', '0', '--quiet'],
    [0 => ['file', '/dev/null', 'r'], 1 => ['pipe', 'w']], $pipes);
try {
    $url = trim((string) fgets($pipes[1]));
    $store = Kestrum\Store::setup("$work/store", "$url/user/setup.asp", 'e40215536', 'Pq7mWz2L');
    $offer = $store->createOffer(['AMOUNT' => '1560', 'CURRENCY' => 'EUR']);
    // The shopper's visit: DATA and SIGNATURE from the host's redirect to SUCCESSLINK.
    file_get_contents($offer->url, false, stream_context_create(['http' => ['follow_location' => 0, 'ignore_errors' => true]]));
    $location = (string) current(preg_grep('/^Location:/i', $http_response_header));
    parse_str((string) parse_url(trim(substr($location, 9)), PHP_URL_QUERY), $query);
    [$data, $signature] = [(string) $query['DATA'], (string) $query['SIGNATURE']];
} finally {
    proc_terminate($host);
    proc_close($host);
}

// CPU time (user and system) of this process, or of its finished children, in nanoseconds: on a
// machine busy with other work, waiting for a core is not the binding's cost.
$cpu = static function (int $who): float {
    $u = getrusage($who);
    return ($u['ru_utime.tv_sec'] + $u['ru_stime.tv_sec']) * 1e9 + ($u['ru_utime.tv_usec'] + $u['ru_stime.tv_usec']) * 1e3;
};
$php = static function (int $n) use ($store, $data, $signature, $offer, $cpu): float {
    $start = $cpu(0);
    for ($i = 0; $i < $n; ++$i) {
        $store->createOffer(['AMOUNT' => '1560', 'CURRENCY' => 'EUR']);
        $store->verifyConfirmation($data, $signature, $offer->token, '1560', 'EUR');
    }
    return ($cpu(0) - $start) / $n;
};
$median = static function (array $values): float {
    sort($values);
    return $values[intdiv(count($values), 2)];
};

$php(20); // warm-up
// One run of the C program: its CPU time, the process's start and its first, cold payment included.
$child = static function (int $n) use ($build, $store, $data, $signature, $offer, $cpu): float {
    $command = array_map('escapeshellarg', ["$build/bench/python/bench_payment_c", $store->path, $data, $signature, $offer->token, '1560', 'EUR', (string) $n, 'for-order']);
    $start = $cpu(1);
    $out = shell_exec(implode(' ', $command));
    if (!is_string($out) || !is_numeric(trim($out))) {
        exit("bench_payment_c failed\n");
    }
    return $cpu(1) - $start;
};
// Subtracted from every run, so that C's payments are warm as PHP's are.
$startup = $median([$child(1), $child(1), $child(1)]);
$cTimes = $phpTimes = [];
for ($r = 0; $r < $repetitions; ++$r) {
    $cTimes[] = ($child($iterations + 1) - $startup) / $iterations;
    $phpTimes[] = $php($iterations);
}
exec('rm -rf ' . escapeshellarg($work));

[$c, $p] = [$median($cTimes), $median($phpTimes)];
printf("%-72s %8.2f\n", 'payment (offer + verification) through PHP / the C interface', $p / $c);
printf("  median of %d runs of %d payments: PHP %.1f us, C %.1f us of CPU time per payment\n", $repetitions, $iterations, $p / 1000, $c / 1000);
