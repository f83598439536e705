"""The server's token budgets, in estimated tokens: the default of a result,
the least and the most a call or ``--max-tokens`` may ask for."""

DEFAULT_MAX_TOKENS = 8000
MIN_TOKENS = 2000
MAX_TOKENS_LIMIT = 20000
