"""The shop's orders in SQLite.

An order moves through its states only by single UPDATE statements that name the states it may
leave. SQLite runs each statement atomically, so when two requests race for the same step (a
shopper reloading the payment's return page, or coming back twice), exactly one of them wins and
the other sees that it lost: only the winner captures.

    new ──offer made──▶ pending ──FAILLINK──▶ declined
                          │    └──BACKLINK──▶ cancelled
                          ▼ SUCCESSLINK, confirmation verified
                      capturing ──capture succeeded──▶ paid
                          └──capture failed──▶ confirmed (the next visit tries again)

A confirmation that arrives for a declined or cancelled order (the shopper went back and paid
after all) is a payment too, and is captured like any other.
"""

from __future__ import annotations

import datetime
import secrets
import sqlite3
from dataclasses import dataclass
from typing import List, Optional

STATES = ("new", "pending", "capturing", "confirmed", "paid", "declined", "cancelled", "failed")

# A capture claimed longer ago than this is taken to be abandoned (its process died) and may be
# claimed again. The host captures a payment only once, so a second attempt is harmless.
CLAIM_SECONDS = 120

_SCHEMA = """
CREATE TABLE IF NOT EXISTS orders (
    id           INTEGER PRIMARY KEY AUTOINCREMENT,
    created      TEXT    NOT NULL,
    updated      TEXT    NOT NULL,
    product      TEXT    NOT NULL,
    description  TEXT    NOT NULL,
    amount       INTEGER NOT NULL CHECK (amount > 0),   -- minor units: 1560 is 15.60
    currency     TEXT    NOT NULL,
    token        TEXT    UNIQUE,                        -- the offer's TOKEN
    state        TEXT    NOT NULL CHECK (state IN ({states})),
    claimed      REAL,                                  -- when the capture was claimed (Unix time)
    payment_id   TEXT,                                  -- the host's transaction ID
    confirmation TEXT,                                  -- the verified confirmation, saved form
    reason       TEXT                                   -- why it was declined or not captured
)
""".format(states=", ".join("'%s'" % s for s in STATES))

# One row: the shop's secret, made with the database, under which each order's links are keyed.
_SECRET_SCHEMA = """
CREATE TABLE IF NOT EXISTS secret (
    id    INTEGER PRIMARY KEY CHECK (id = 1),
    value BLOB    NOT NULL
)
"""


@dataclass(frozen=True)
class Order:
    id: int
    created: str
    updated: str
    product: str
    description: str
    amount: int
    currency: str
    token: Optional[str]
    state: str
    claimed: Optional[float]
    payment_id: Optional[str]
    confirmation: Optional[str]
    reason: Optional[str]


def _now() -> str:
    return datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S UTC")


class Orders:
    """The orders of one database file. Each call opens its own connection, so one Orders may
    serve any number of threads."""

    def __init__(self, path: str) -> None:
        self._path = path
        db = self._connect()
        try:
            # Readers do not wait for a writer, and a writer does not block readers.
            db.execute("PRAGMA journal_mode=WAL")
            db.execute(_SCHEMA)
            db.execute(_SECRET_SCHEMA)
            # Kept across restarts: the links of offers made before stay valid.
            db.execute("INSERT OR IGNORE INTO secret (id, value) VALUES (1, ?)",
                       (secrets.token_bytes(32),))
        finally:
            db.close()

    def _connect(self) -> sqlite3.Connection:
        # Autocommit: every statement is its own transaction.
        db = sqlite3.connect(self._path, timeout=30, isolation_level=None)
        db.row_factory = sqlite3.Row
        return db

    def _change(self, sql: str, *args: object) -> bool:
        """Runs one UPDATE; True when it changed the order (it was in a state it may leave)."""
        db = self._connect()
        try:
            return db.execute(sql, args).rowcount == 1
        finally:
            db.close()

    def _move(self, order_id: int, leaving: str, entering: str, **columns: object) -> bool:
        """Moves the order from state `leaving` to `entering` and sets `columns` with it (their
        names are this module's own, never a request's); True when it was in `leaving`."""
        sql = ("UPDATE orders SET state = ?%s, updated = ? WHERE id = ? AND state = ?"
               % "".join(", %s = ?" % name for name in columns))
        return self._change(sql, entering, *columns.values(), _now(), order_id, leaving)

    def create(self, product: str, description: str, amount: int, currency: str) -> int:
        db = self._connect()
        try:
            now = _now()
            cursor = db.execute(
                "INSERT INTO orders (created, updated, product, description, amount, currency, state)"
                " VALUES (?, ?, ?, ?, ?, ?, 'new')",
                (now, now, product, description, amount, currency))
            return int(cursor.lastrowid)
        finally:
            db.close()

    def secret(self) -> bytes:
        db = self._connect()
        try:
            return bytes(db.execute("SELECT value FROM secret WHERE id = 1").fetchone()[0])
        finally:
            db.close()

    def get(self, order_id: int) -> Optional[Order]:
        db = self._connect()
        try:
            row = db.execute("SELECT * FROM orders WHERE id = ?", (order_id,)).fetchone()
        finally:
            db.close()
        return Order(**dict(row)) if row else None

    def all(self) -> List[Order]:
        db = self._connect()
        try:
            rows = db.execute("SELECT * FROM orders ORDER BY id DESC").fetchall()
        finally:
            db.close()
        return [Order(**dict(row)) for row in rows]

    def offered(self, order_id: int, token: str) -> bool:
        """The offer is made: the shopper goes to the host."""
        return self._move(order_id, "new", "pending", token=token)

    def offer_failed(self, order_id: int, reason: str) -> bool:
        return self._move(order_id, "new", "failed", reason=reason)

    def claim_capture(self, order_id: int, payment_id: str, confirmation: str, now: float) -> bool:
        """Records a verified confirmation and claims its capture. True for exactly one caller;
        False when the order is paid or another request is capturing it."""
        return self._change(
            "UPDATE orders SET state = 'capturing', claimed = ?, payment_id = ?, confirmation = ?,"
            " reason = NULL, updated = ?"
            " WHERE id = ? AND (state IN ('pending', 'confirmed', 'declined', 'cancelled')"
            "                   OR (state = 'capturing' AND claimed < ?))",
            now, payment_id, confirmation, _now(), order_id, now - CLAIM_SECONDS)

    def _settle(self, order_id: int, claimed: float, entering: str, reason: Optional[str]) -> bool:
        # Only while the claim made at `claimed` is the order's: a request that outlived its claim
        # must not undo what the request that took the claim over has done. Two claims of one order
        # lie at least CLAIM_SECONDS apart, so the time names the claim.
        return self._change(
            "UPDATE orders SET state = ?, reason = ?, updated = ?"
            " WHERE id = ? AND state = 'capturing' AND claimed = ?",
            entering, reason, _now(), order_id, claimed)

    def captured(self, order_id: int, claimed: float) -> bool:
        """Paid: the host took the capture. `claimed` is the time given to claim_capture; False
        when that claim is no longer the order's."""
        return self._settle(order_id, claimed, "paid", None)

    def capture_failed(self, order_id: int, claimed: float, reason: str) -> bool:
        """Authorised but not captured: the next visit of the return page tries again. As for
        captured, only while the claim made at `claimed` holds."""
        return self._settle(order_id, claimed, "confirmed", reason)

    def declined(self, order_id: int, reason: str) -> bool:
        return self._move(order_id, "pending", "declined", reason=reason)

    def cancelled(self, order_id: int) -> bool:
        return self._move(order_id, "pending", "cancelled")
