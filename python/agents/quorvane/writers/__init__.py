"""The output of every command: ``registry`` is the one table of each
command's formats and page, with their writers; ``output_files`` checks and
writes output paths.  The formats of ``analyze`` (``table``,
``json_lines``, ``csv_rows``, ``html_page``) are spelled from the one record
of ``agents.quorvane.assessment.record``; ``inventory_formats`` and
``inventory_page`` write the inventory, ``knowledge_text`` and
``marker_list`` the two single-document commands."""
