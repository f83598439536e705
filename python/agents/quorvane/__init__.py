"""quorvane: the analysis core of a T-SQL to PySpark conversion agent.

Glossary of the package's names:

* ``complexity``: grading a script simple, moderate or complex, its turn
  budgets and its reading plan;
* ``loresift``: a script's construct categories, and the knowledge-base
  sections they call for;
* ``dialectra``: the catalogue of platform markers, and the native scanner
  that finds where such patterns match;
* ``inventory``: the objects a script defines and what each reads, writes
  and calls;
* host: the thin binding (``src/host/``) that makes each of these four a
  Python module from its pure C++ core (``_complexity``, ``_loresift``,
  ``_dialectra``, ``_inventory``).

Beside them: ``platforms``, the platform vocabulary (identifiers and the
``Marker``, ``Evidence`` and ``Reading`` records), and ``platform_detect``,
the detector that names a script's source platform; and the ``quorvane``
command (``cli``, ``commands``, ``assessment``, ``writers``).

The package imports none of its modules here.
"""

__version__ = "0.1.0"
