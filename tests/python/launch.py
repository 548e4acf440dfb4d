"""A program started for a test that prints its base URL as the first line of standard output and
serves until SIGTERM: the sandbox host, the example shop."""

from __future__ import annotations

import os
import selectors
import subprocess
import time
from pathlib import Path
from typing import Dict, List, Optional

START_SECONDS = 60


class Server:
    def __init__(self, args: List[str], env: Optional[Dict[str, str]] = None) -> None:
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                                        env=env)
        self.url = self._first_line()
        if not self.url.startswith("http://127.0.0.1:"):
            self.stop()
            name = Path(args[1] if args[0].endswith("python3") else args[0]).name
            raise RuntimeError("%s gave no URL (exit status %s)" % (name, self.process.returncode))

    def _first_line(self) -> str:
        assert self.process.stdout is not None
        line = b""
        deadline = time.monotonic() + START_SECONDS
        with selectors.DefaultSelector() as selector:
            selector.register(self.process.stdout, selectors.EVENT_READ)
            while not line.endswith(b"\n") and time.monotonic() < deadline:
                if selector.select(0.1):
                    byte = os.read(self.process.stdout.fileno(), 1)
                    if not byte:
                        break
                    line += byte
        return line.decode(errors="replace").strip()

    def stop(self) -> Optional[int]:
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.process.stdout is not None:
            self.process.stdout.close()
        return self.process.returncode
