"""Pattern text of ``MarkerScanner`` rows: the host's ``re`` syntax decides
what is accepted and what matches, and nesting is limited so that no
pattern can exhaust a thread's stack."""

from __future__ import annotations

import re
import subprocess
import sys
import textwrap

import pytest

from agents.quorvane.dialectra import MarkerScanner

TEXT = "q\nxa{2}{ a{} aab\nx\x00y \x00\x00 \x03z\n"


def host_line(pattern: str) -> int | None:
    """The line of re's first match in TEXT (0: none), or None when re
    rejects the pattern."""
    try:
        found = re.compile(pattern, re.IGNORECASE).search(TEXT)
    except re.error:
        return None
    return TEXT.count("\n", 0, found.start()) + 1 if found else 0


@pytest.mark.parametrize(
    "pattern",
    ["a{1000}{1000}", "a{1}{2}", "a*{2}", "a{2}*", "a**", "a+?*", "a*??", "a{2}?", "a{2}{", "xa{,}", "a{}",
     "x\x00y", "\x00{2}", "[\x00-\x08]z", "y [^\x00]"],
)  # fmt: skip
def test_acceptance_and_matches_follow_the_host_syntax(pattern):
    want = host_line(pattern)
    if want is None:
        with pytest.raises(ValueError, match="multiple repeat"):
            MarkerScanner([(pattern, False)])
    else:
        assert MarkerScanner([(pattern, False)]).first_lines(TEXT) == (want,)


DEEP = textwrap.dedent(
    """
    import threading
    from agents.quorvane.dialectra import MarkerScanner

    def nested(depth, open_="(?:b|"):
        return open_ * depth + "a" + ")" * depth

    def outcome(pattern):
        try:
            return MarkerScanner([(pattern, False), (pattern, True)]).first_lines("x\\nb a")
        except ValueError as exc:
            return "nested too deeply" in str(exc) and len(str(exc)) < 300

    def all_outcomes():
        return [outcome(nested(200)), outcome(nested(201)), outcome(nested(20000, "(")),
                outcome(nested(20000))]

    print(all_outcomes())
    threading.stack_size(256 * 1024)
    seen = []
    thread = threading.Thread(target=lambda: seen.append(all_outcomes()))
    thread.start()
    thread.join()
    print(seen[0])
    """
)


def test_nesting_is_limited_in_the_main_thread_and_a_small_stack():
    proc = subprocess.run([sys.executable, "-c", DEEP], capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.splitlines() == ["[(2, 2), True, True, True]"] * 2
