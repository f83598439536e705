"""The token estimate every part of quorvane uses: about four characters a token."""


def estimate_tokens(text: str) -> int:
    """Estimated model tokens of ``text``: its length in characters divided by four, rounded up."""
    return (len(text) + 3) // 4
