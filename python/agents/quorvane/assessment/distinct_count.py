"""A count of distinct values in bounded memory: exact up to EXACT_LIMIT
values, then a HyperLogLog estimate.

A workload keeps one per template for its users, so a log with millions of
users costs at most a fixed few kilobytes per template.  The estimate uses
2**PRECISION one-byte registers (a typical error of 1.04 / sqrt(2048), about
2.3 %) over a stable 64-bit hash of each value's UTF-8 bytes, so the same
log gives the same count on every run.
"""

from __future__ import annotations

import hashlib
import math
from collections.abc import Iterable

EXACT_LIMIT = 64
PRECISION = 11
_REGISTERS = 1 << PRECISION
_REST_BITS = 64 - PRECISION
_ALPHA = 0.7213 / (1 + 1.079 / _REGISTERS)


def _hash(value: str) -> int:
    digest = hashlib.blake2b(value.encode("utf-8", "surrogatepass"), digest_size=8).digest()
    return int.from_bytes(digest, "little")


class DistinctCount:
    """The number of distinct strings added: exact while there are at most
    EXACT_LIMIT of them, an estimate afterwards."""

    __slots__ = ("_exact", "_registers")

    def __init__(self) -> None:
        self._exact: set[str] | None = set()
        self._registers: bytearray | None = None

    def update(self, values: Iterable[str]) -> None:
        if self._exact is not None:
            self._exact.update(values)
            if len(self._exact) <= EXACT_LIMIT:
                return
            values, self._exact = self._exact, None
            self._registers = bytearray(_REGISTERS)
        registers = self._registers
        assert registers is not None
        for value in values:
            h = _hash(value)
            slot = h >> _REST_BITS
            rank = _REST_BITS - (h & ((1 << _REST_BITS) - 1)).bit_length() + 1
            registers[slot] = max(registers[slot], rank)

    @property
    def exact(self) -> bool:
        return self._exact is not None

    def __len__(self) -> int:
        if self._exact is not None:
            return len(self._exact)
        assert self._registers is not None
        registers = self._registers
        estimate = _ALPHA * _REGISTERS * _REGISTERS / sum(2.0**-r for r in registers)
        zeros = registers.count(0)
        if estimate <= 2.5 * _REGISTERS and zeros:
            estimate = _REGISTERS * math.log(_REGISTERS / zeros)  # few values: linear counting
        return max(EXACT_LIMIT + 1, round(estimate))
