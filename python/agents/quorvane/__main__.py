"""``python -m agents.quorvane``: the ``quorvane`` command."""

from agents.quorvane.cli import main

if __name__ == "__main__":
    raise SystemExit(main())
