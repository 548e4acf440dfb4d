<?php

declare(strict_types=1);

namespace Shop;

/**
 * The shop's orders in SQLite, through PDO.
 *
 * An order moves through its states only by single UPDATE statements that name the states it may
 * leave. SQLite runs each statement atomically, so when requests race for the same step (a
 * shopper reloading the return page, or coming back twice at once), exactly one wins and the
 * others see that they lost: only the winner captures.
 *
 *     new --offer made--> pending --FAILLINK--> declined
 *                           |    `--BACKLINK--> cancelled
 *                           v SUCCESSLINK, confirmation verified against the order
 *                       capturing --capture succeeded--> paid
 *                           `--capture failed--> confirmed (the next visit tries again)
 *
 * A confirmation that arrives for a declined or cancelled order (the shopper went back and paid
 * after all) is a payment too, and is captured like any other.
 */
final class Orders
{
    public const STATES = ['new', 'pending', 'capturing', 'confirmed', 'paid', 'declined', 'cancelled', 'failed'];

    /** A capture claimed longer ago than this is taken to be abandoned (its worker died) and may
     * be claimed again. The host captures a payment only once, so a second attempt is harmless. */
    public const CLAIM_SECONDS = 120;

    private \PDO $db;

    public function __construct(string $path)
    {
        $this->db = new \PDO('sqlite:' . $path, null, null, [
            \PDO::ATTR_ERRMODE => \PDO::ERRMODE_EXCEPTION,
            \PDO::ATTR_DEFAULT_FETCH_MODE => \PDO::FETCH_ASSOC,
            \PDO::ATTR_TIMEOUT => 30,
        ]);
        // Readers do not wait for a writer, and a writer does not block readers.
        $this->db->exec('PRAGMA journal_mode=WAL');
        $states = implode(', ', array_map(static fn (string $s) => "'$s'", self::STATES));
        $this->db->exec("CREATE TABLE IF NOT EXISTS orders (
            id           INTEGER PRIMARY KEY AUTOINCREMENT,
            created      TEXT    NOT NULL,
            updated      TEXT    NOT NULL,
            product      TEXT    NOT NULL,
            description  TEXT    NOT NULL,
            amount       INTEGER NOT NULL CHECK (amount > 0),   -- minor units: 1560 is 15.60
            currency     TEXT    NOT NULL,
            token        TEXT    UNIQUE,                        -- the offer's TOKEN
            state        TEXT    NOT NULL CHECK (state IN ($states)),
            claimed      REAL,                                  -- when the capture was claimed
            payment_id   TEXT,                                  -- the host's transaction ID
            confirmation TEXT,                                  -- the verified confirmation, saved
            reason       TEXT                                   -- why it was declined or not captured
        )");
        // One row: the shop's secret, under which each order's links are keyed.
        $this->db->exec('CREATE TABLE IF NOT EXISTS secret (
            id    INTEGER PRIMARY KEY CHECK (id = 1),
            value BLOB    NOT NULL
        )');
    }

    /** The shop's secret, made on first use and kept across restarts, so that the links of offers
     * made before stay valid. Racing first uses agree: only one insert takes. */
    public function secret(): string
    {
        $select = $this->db->prepare('SELECT value FROM secret WHERE id = 1');
        $select->execute();
        $value = $select->fetchColumn();
        if ($value === false) {
            $insert = $this->db->prepare('INSERT OR IGNORE INTO secret (id, value) VALUES (1, ?)');
            $insert->bindValue(1, random_bytes(32), \PDO::PARAM_LOB);
            $insert->execute();
            $select->execute();
            $value = $select->fetchColumn();
        }
        return \is_resource($value) ? (string) stream_get_contents($value) : (string) $value;
    }

    private static function now(): string
    {
        return gmdate('Y-m-d H:i:s') . ' UTC';
    }

    /** Runs one UPDATE; true when it changed the order (it was in a state it may leave). */
    private function change(string $sql, array $arguments): bool
    {
        $statement = $this->db->prepare($sql);
        $statement->execute($arguments);
        return $statement->rowCount() === 1;
    }

    /** Moves the order from $leaving to $entering, setting $columns (this class's own names). */
    private function move(int $id, string $leaving, string $entering, array $columns = []): bool
    {
        $set = implode('', array_map(static fn (string $c) => ", $c = ?", array_keys($columns)));
        return $this->change(
            "UPDATE orders SET state = ?$set, updated = ? WHERE id = ? AND state = ?",
            [$entering, ...array_values($columns), self::now(), $id, $leaving]
        );
    }

    public function create(string $product, string $description, int $amount, string $currency): int
    {
        $now = self::now();
        $this->db->prepare("INSERT INTO orders (created, updated, product, description, amount, currency, state)
                            VALUES (?, ?, ?, ?, ?, ?, 'new')")
            ->execute([$now, $now, $product, $description, $amount, $currency]);
        return (int) $this->db->lastInsertId();
    }

    /** @return array<string, mixed>|null */
    public function get(int $id): ?array
    {
        $statement = $this->db->prepare('SELECT * FROM orders WHERE id = ?');
        $statement->execute([$id]);
        $row = $statement->fetch();
        return $row === false ? null : $row;
    }

    /** @return list<array<string, mixed>> */
    public function all(): array
    {
        return $this->db->query('SELECT * FROM orders ORDER BY id DESC')->fetchAll();
    }

    public function offered(int $id, string $token): bool
    {
        return $this->move($id, 'new', 'pending', ['token' => $token]);
    }

    public function offerFailed(int $id, string $reason): bool
    {
        return $this->move($id, 'new', 'failed', ['reason' => $reason]);
    }

    /** Records a verified confirmation and claims its capture: true for exactly one caller. */
    public function claimCapture(int $id, string $paymentId, string $confirmation, float $now): bool
    {
        return $this->change(
            "UPDATE orders SET state = 'capturing', claimed = ?, payment_id = ?, confirmation = ?, reason = NULL, updated = ?
             WHERE id = ? AND (state IN ('pending', 'confirmed', 'declined', 'cancelled')
                               OR (state = 'capturing' AND claimed < ?))",
            [$now, $paymentId, $confirmation, self::now(), $id, $now - self::CLAIM_SECONDS]
        );
    }

    /** Settles the capture claimed at $claimed, only while that claim is the order's: a request
     * that outlived its claim must not undo what the one that took it over has done. */
    private function settle(int $id, float $claimed, string $entering, ?string $reason): bool
    {
        return $this->change(
            "UPDATE orders SET state = ?, reason = ?, updated = ? WHERE id = ? AND state = 'capturing' AND claimed = ?",
            [$entering, $reason, self::now(), $id, $claimed]
        );
    }

    public function captured(int $id, float $claimed): bool
    {
        return $this->settle($id, $claimed, 'paid', null);
    }

    public function captureFailed(int $id, float $claimed, string $reason): bool
    {
        return $this->settle($id, $claimed, 'confirmed', $reason);
    }

    public function declined(int $id, string $reason): bool
    {
        return $this->move($id, 'pending', 'declined', ['reason' => $reason]);
    }

    public function cancelled(int $id): bool
    {
        return $this->move($id, 'pending', 'cancelled');
    }
}
