"""The assessment of a SQL code base behind ``quorvane analyze``.

* ``record``: what is reported for one file;
* ``discovery``: finding the files under the given paths;
* ``single_file``: the analysis of one file;
* ``workers``: running it over many files on a pool of workers;
* ``totals``: the summary of a run.

Nothing here writes output: that is ``agents.quorvane.writers``.
"""
