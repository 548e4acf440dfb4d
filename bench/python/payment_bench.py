#!/usr/bin/env python3
"""How long a payment takes through the Python binding, as a ratio to the C interface.

A payment here is what a shop does on its own side: an offer (create_offer with AMOUNT and
CURRENCY), then the verification of a confirmation checked against its order (verify_confirmation
with token, amount and currency). The C baseline (bench_payment_c) makes the same calls of the
library, each with handles of its own. Both use one store set up against a kestrum-sandbox host
and one real confirmation from it; the host takes no part in the timed loops.

    python3 bench/python/payment_bench.py --build-dir build-bench [--iterations N] [--repetitions R]
"""

from __future__ import annotations

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))


class _NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


def confirmation(offer_url: str):
    """The shopper's visit: DATA and SIGNATURE from the host's redirect to SUCCESSLINK."""
    try:
        urllib.request.build_opener(_NoRedirect).open(offer_url, timeout=30)
    except urllib.error.HTTPError as answer:
        location = urllib.parse.urlsplit(answer.headers["Location"])
        query = dict(urllib.parse.parse_qsl(location.query))
        return query["DATA"], query["SIGNATURE"]
    raise RuntimeError("the host did not redirect the shopper")


def python_payments(store, data, signature, token, iterations: int) -> float:
    start = time.perf_counter()
    for _ in range(iterations):
        store.create_offer(AMOUNT="1560", CURRENCY="EUR")
        store.verify_confirmation(data, signature, token=token, amount="1560", currency="EUR")
    return (time.perf_counter() - start) * 1e9 / iterations


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default=os.path.join(REPO, "build"))
    parser.add_argument("--iterations", type=int, default=300)
    parser.add_argument("--repetitions", type=int, default=5)
    args = parser.parse_args()
    build = os.path.abspath(args.build_dir)

    os.environ["KESTRUM_LIBRARY"] = os.path.join(build, "libtbxapp.so.0")
    sys.path.insert(0, os.path.join(REPO, "python"))
    sys.dont_write_bytecode = True  # nothing written into the source tree
    import kestrum

    c_program = os.path.join(build, "bench", "python", "bench_payment_c")
    sandbox = os.path.join(build, "tools", "sandbox", "kestrum-sandbox")
    with tempfile.TemporaryDirectory(prefix="kestrum-bench.") as work:
        host = subprocess.Popen([sandbox, "--state", os.path.join(work, "host"), "--port", "0",
                                 "--quiet"], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        try:
            url = host.stdout.readline().decode().strip()
            store = kestrum.setup(os.path.join(work, "store"), url + "/user/setup.asp",
                                  "e40215536", "Pq7mWz2L")
            offer = store.create_offer(AMOUNT="1560", CURRENCY="EUR")
            data, signature = confirmation(offer.url)
        finally:
            host.terminate()
            host.wait(30)
            host.stdout.close()

        c_times, py_times = [], []
        python_payments(store, data, signature, offer.token, 20)  # warm-up
        for _ in range(args.repetitions):
            out = subprocess.run([c_program, store.path, data, signature, offer.token, "1560",
                                  "EUR", str(args.iterations)],
                                 check=True, capture_output=True, text=True)
            c_times.append(float(out.stdout))
            py_times.append(python_payments(store, data, signature, offer.token,
                                            args.iterations))

    c_time, py_time = statistics.median(c_times), statistics.median(py_times)
    print("%-72s %8.2f" % ("payment (offer + verification) through Python / the C interface",
                           py_time / c_time))
    print("  median of %d runs of %d payments: Python %.1f us, C %.1f us per payment"
          % (args.repetitions, args.iterations, py_time / 1000, c_time / 1000))
    return 0


if __name__ == "__main__":
    sys.exit(main())
