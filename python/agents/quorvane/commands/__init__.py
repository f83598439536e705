"""The subcommands of ``quorvane``, one module each.  Each module's ``run``
takes the parsed arguments and returns the exit status; the arguments
themselves are declared in ``agents.quorvane.cli``."""
