"""The output formats of ``quorvane analyze``: ``table``, ``json_lines`` and
``csv_rows`` write the rows on a text stream; ``html_page`` renders a
self-contained page.  Every format is spelled from the one record of
``agents.quorvane.assessment.record``."""

FORMATS = ("table", "json", "csv")
