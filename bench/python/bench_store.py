#!/usr/bin/env python3
"""The store the payment benchmarks run on, set up as a merchant sets one up.

Starts kestrum-sandbox on a free port of 127.0.0.1, runs `kestrum -conf` against it, makes one
offer with `kestrum -payinit`, follows it to the host's confirmation, and stops the host. Prints
three lines: the store's path, the confirmation's DATA and its SIGNATURE.

    python3 bench/python/bench_store.py --build-dir build-bench --work DIR
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import urllib.error
import urllib.parse
import urllib.request


class _NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


def confirmation(offer_url: str) -> tuple[str, str]:
    """The shopper's visit: DATA and SIGNATURE from the host's redirect to SUCCESSLINK."""
    try:
        urllib.request.build_opener(_NoRedirect).open(offer_url, timeout=30)
    except urllib.error.HTTPError as answer:
        query = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(answer.headers["Location"]).query))
        return query["DATA"], query["SIGNATURE"]
    raise RuntimeError("the host did not redirect the shopper")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--work", required=True, help="an empty directory for the host and store")
    args = parser.parse_args()
    build = os.path.abspath(args.build_dir)
    kestrum = os.path.join(build, "cli", "kestrum")
    sandbox = os.path.join(build, "tools", "sandbox", "kestrum-sandbox")
    store = os.path.join(os.path.abspath(args.work), "store")

    host = subprocess.Popen([sandbox, "--state", os.path.join(args.work, "host"), "--port", "0",
                             "--quiet"], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    try:
        url = host.stdout.readline().decode().strip()
        env = dict(os.environ, KESTRUM_PASSWORD="Pq7mWz2L")
        subprocess.run([kestrum, "-conf", "-p", store, "-r", url + "/user/setup.asp",
                        "-u", "e40215536"], check=True, env=env, stdout=subprocess.DEVNULL)
        offer = subprocess.run([kestrum, "-payinit", "-p", store, "-a", "AMOUNT", "1560",
                                "-a", "CURRENCY", "EUR"], check=True, env=env,
                               capture_output=True, text=True).stdout.strip()
        data, signature = confirmation(offer)
    finally:
        host.terminate()
        host.wait(30)
        host.stdout.close()
    print(store)
    print(data)
    print(signature)
    return 0


if __name__ == "__main__":
    sys.exit(main())
