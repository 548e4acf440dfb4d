#!/usr/bin/env python3
"""The Python baseline of scripts/bench: what a merchant's script does with the `cryptography`
package and ElementTree, measured on this machine in the same run as the library.

  crypto_baseline.py --doc PATH [--min-time SECONDS]

Prints one JSON object: offers and confirmations per second of CPU time (each reads its key file, decodes the
hex and the DER key, hashes the text widened to 16-bit units with SHA-1 and signs the bare digest
with PKCS#1 type 1, or checks such a signature), ElementTree's parse throughput of the document in
bytes per second, and the peak of memory one parse allocates (tracemalloc) in bytes.
"""
from __future__ import annotations

import argparse
import hashlib
import json
import os
import subprocess
import tempfile
import time
import tracemalloc
import xml.etree.ElementTree as ET
from typing import Callable

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa

OFFER = (
    '<TBX MSGTYPE="PayInit" KEYID="0-4711-5f0c2a7e9b1d4c3aa8e6f1b2c3d4e5f6" '
    'TOKEN="0123456789abcdef0123456789abcdef" LANGID="DE" FAILLINK="https://shop.test/fail" '
    'ALLOWCOLLECT="no" EXPIRATION="20261209 10:00:00" AMOUNT="1560" CURRENCY="EUR"/>'
)
CONFIRMATION = (
    '<TBX MSGTYPE="PayConfirm" KEYID="VT-1" ID="7a1b9c" '
    'TOKEN="0123456789abcdef0123456789abcdef" AMOUNT="1560" CURRENCY="EUR"/>'
)


def digest_of(text: str) -> bytes:
    return hashlib.sha1(text.encode("utf-16-le")).digest()


def raw_sign(key: rsa.RSAPrivateKey, digest: bytes) -> bytes:
    """PKCS#1 type 1 over the bare digest (no DigestInfo): `cryptography` offers no call for
    that, so the script pads and exponentiates itself, with the CRT parameters."""
    numbers = key.private_numbers()
    size = (key.key_size + 7) // 8
    block = b"\x00\x01" + b"\xff" * (size - 3 - len(digest)) + b"\x00" + digest
    m = int.from_bytes(block, "big")
    p, q = numbers.p, numbers.q
    m1 = pow(m % p, numbers.dmp1, p)
    m2 = pow(m % q, numbers.dmq1, q)
    h = (numbers.iqmp * (m1 - m2)) % p
    return (m2 + h * q).to_bytes(size, "big")


def offer(key_file: str) -> str:
    with open(key_file, "rb") as f:
        der = bytes.fromhex(f.read().decode("ascii"))
    key = serialization.load_der_private_key(der, password=None)
    assert isinstance(key, rsa.RSAPrivateKey)
    return raw_sign(key, digest_of(OFFER)).hex()


def confirm(key_file: str, signature_hex: str) -> bool:
    with open(key_file, "rb") as f:
        der = bytes.fromhex(f.read().decode("ascii"))
    key = serialization.load_der_public_key(der)
    assert isinstance(key, rsa.RSAPublicKey)
    recovered = key.recover_data_from_signature(
        bytes.fromhex(signature_hex), padding.PKCS1v15(), None
    )
    return recovered == digest_of(CONFIRMATION)


def rate(call: Callable[[], object], min_time: float) -> float:
    """Calls per second of CPU time over at least `min_time` seconds, the best of three runs (CPU
    time, as the library's figures: waiting for a core on a busy machine is nobody's cost)."""
    best = 0.0
    for _ in range(3):
        n = 0
        start = time.process_time()
        while True:
            call()
            n += 1
            elapsed = time.process_time() - start
            if elapsed >= min_time:
                break
        best = max(best, n / elapsed)
    return best


def generated_key(bits: int) -> rsa.RSAPrivateKey:
    # The openssl tool: newer `cryptography` releases refuse to make 512-bit keys.
    pem = subprocess.run(
        ["openssl", "genrsa", "-traditional", str(bits)],
        check=True,
        capture_output=True,
    ).stdout
    key = serialization.load_pem_private_key(pem, password=None)
    assert isinstance(key, rsa.RSAPrivateKey)
    return key


def key_files(directory: str) -> tuple[str, str, str]:
    """A 512-bit merchant key and a 1024-bit host key as the store keeps them (hex of PKCS#1 DER),
    and the host's signature on the confirmation."""
    merchant = generated_key(512)
    host = generated_key(1024)
    private_file = os.path.join(directory, "merchant")
    public_file = os.path.join(directory, "host")
    with open(private_file, "w", encoding="ascii") as f:
        f.write(
            merchant.private_bytes(
                serialization.Encoding.DER,
                serialization.PrivateFormat.TraditionalOpenSSL,
                serialization.NoEncryption(),
            ).hex()
        )
    with open(public_file, "w", encoding="ascii") as f:
        f.write(
            host.public_key()
            .public_bytes(serialization.Encoding.DER, serialization.PublicFormat.PKCS1)
            .hex()
        )
    return private_file, public_file, raw_sign(host, digest_of(CONFIRMATION)).hex()


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--doc", required=True)
    parser.add_argument("--min-time", type=float, default=0.5)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as directory:
        private_file, public_file, signature = key_files(directory)
        if not confirm(public_file, signature):
            raise SystemExit("crypto_baseline.py: the confirmation does not verify")
        offers = rate(lambda: offer(private_file), args.min_time)
        confirmations = rate(lambda: confirm(public_file, signature), args.min_time)

    with open(args.doc, "rb") as f:
        doc = f.read()
    parses = rate(lambda: ET.fromstring(doc), args.min_time)
    tracemalloc.start()
    root = ET.fromstring(doc)
    _, peak = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    del root

    print(
        json.dumps(
            {
                "offers_per_second": offers,
                "confirmations_per_second": confirmations,
                "parse_bytes_per_second": parses * len(doc),
                "parse_peak_bytes": peak,
                "document_bytes": len(doc),
            }
        )
    )


if __name__ == "__main__":
    main()
