"""quorvane: the analysis core of a T-SQL to PySpark conversion agent.

The package is a namespace for its modules, none of which is imported here:

* ``agents.quorvane.complexity``: complexity grading, turn budgets and
  reading plans for SQL scripts;
* ``agents.quorvane.loresift``: construct categories and knowledge-base
  selection;
* ``agents.quorvane.dialectra``: the catalogue of platform markers;
* ``agents.quorvane.platform_detect``: the marker record and the platform
  identifiers.
"""

__version__ = "0.1.0"
