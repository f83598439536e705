"""``quorvane mcp``: the analysis as read-only tools over the Model Context
Protocol, each result within a token budget, every path confined to the
folders the server was given.

``confinement`` resolves and checks paths, ``cursors`` signs and checks page
cursors, ``paging`` fits results to a budget, ``sources`` reads and caches
files, ``tools`` computes each tool's result, ``catalogue`` declares the
tools and ``server`` wires them to the SDK (the ``mcp`` extra).
"""
