"""Page cursors: opaque to the caller, checked on return.

A cursor carries where the next page starts, a digest of the call that made
it (tool and arguments) and a digest of the files it pages over, signed with
a key drawn when the server starts.  A cursor that was altered, that comes
from another call or another server run, or whose files have changed since,
is refused with a message; it never yields a page of something else.
"""

from __future__ import annotations

import base64
import binascii
import hashlib
import hmac
import json
import os
from collections.abc import Iterable
from typing import Any

from agents.quorvane.mcp_server.confinement import ToolError

_DIGEST = 16  # bytes of each digest kept in a cursor


def digest(value: Any) -> str:
    """A short digest of a JSON-able value (a call, a tree's state)."""
    text = json.dumps(value, sort_keys=True, ensure_ascii=False, separators=(",", ":"))
    return hashlib.sha256(text.encode("utf-8", "surrogatepass")).hexdigest()[: 2 * _DIGEST]


def tree_state(stats: Iterable[tuple[str, os.stat_result | None]]) -> str:
    """The digest of a set of files as they are now: name, size, change time
    and identity of each (None for a file that cannot be read)."""
    return digest(
        [
            (name, None if s is None else (s.st_size, s.st_mtime_ns, s.st_ctime_ns, s.st_ino, s.st_dev))
            for name, s in stats
        ]
    )


def _b64(data: bytes) -> str:
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode("ascii")


def _unb64(text: str) -> bytes:
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


class Cursors:
    def __init__(self, key: bytes | None = None) -> None:
        self._key = key if key is not None else os.urandom(32)

    def _sign(self, payload: bytes) -> bytes:
        return hmac.new(self._key, payload, hashlib.sha256).digest()[:_DIGEST]

    def make(self, call: Any, offset: int, state: str) -> str:
        payload = json.dumps([digest(call), offset, state], separators=(",", ":")).encode("ascii")
        return f"{_b64(payload)}.{_b64(self._sign(payload))}"

    def read(self, cursor: str, call: Any, state: str) -> int:
        """The offset ``cursor`` stands for, after every check."""
        try:
            head, _, mac = cursor.partition(".")
            payload = _unb64(head)
            valid = hmac.compare_digest(_unb64(mac), self._sign(payload))
        except (ValueError, binascii.Error):
            valid = False
        if not valid:
            raise ToolError(
                "invalid cursor: altered, or given by another run of the server; call again without a cursor"
            )
        call_digest, offset, cursor_state = json.loads(payload)
        if call_digest != digest(call):
            raise ToolError("invalid cursor: it belongs to another call (other tool or arguments)")
        if cursor_state != state:
            raise ToolError("stale cursor: the files changed since it was given; call again without a cursor")
        return int(offset)
