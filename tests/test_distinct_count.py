"""The bounded count of distinct users per template: exact up to its limit,
a stable estimate past it."""

from __future__ import annotations

from agents.quorvane.assessment.distinct_count import EXACT_LIMIT, DistinctCount


def test_exact_up_to_the_limit():
    count = DistinctCount()
    count.update(f"user{n}" for n in range(EXACT_LIMIT))
    count.update(["user0", "user1"])  # seen again: no change
    assert (len(count), count.exact) == (EXACT_LIMIT, True)


def test_an_estimate_past_the_limit_close_and_the_same_every_time():
    counts = []
    for _ in range(2):
        count = DistinctCount()
        for start in range(0, 20_000, 1_000):  # batch by batch, with repeats
            count.update(f"user{n}" for n in range(start, start + 1_500))
        counts.append(len(count))
    assert not count.exact
    assert counts[0] == counts[1]
    assert abs(counts[0] - 20_500) / 20_500 < 0.07
    few = DistinctCount()
    few.update(f"u{n}" for n in range(EXACT_LIMIT + 1))
    assert abs(len(few) - (EXACT_LIMIT + 1)) <= 3  # few values: still close
