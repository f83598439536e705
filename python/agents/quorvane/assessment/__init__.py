"""The assessment of a SQL code base behind ``quorvane analyze`` and
``quorvane inventory``.

* ``input_files``: reading and decoding every input (kind, size, encoding,
  the error text), for every command; ``decoding``: the decoding rule;
* ``discovery``: finding the files under the given paths;
* ``lines``: finding numbered lines, and cutting each unit's lines out of
  its file;
* ``single_file``: the analysis of one file; ``record``: what is reported
  for it;
* ``workers``: running it over many files on a pool of workers;
* ``effort`` and ``config``: the effort estimate and its settings;
* ``totals``: the summary of a run;
* ``dependencies``: the inventory's graph (edges, missing names, cycles,
  order).

Nothing here writes output: that is ``agents.quorvane.writers``.
"""
