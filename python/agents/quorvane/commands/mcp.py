"""``quorvane mcp``: serve the analysis as MCP tools over standard input and
output (the ``mcp`` extra)."""

from __future__ import annotations

import argparse
import os

from agents.quorvane.assessment.config import ConfigError, load_settings
from agents.quorvane.commands.exit_status import EXIT_OK, EXIT_USAGE, error
from agents.quorvane.writers.spelling import printable


def run(args: argparse.Namespace) -> int:
    try:
        import anyio

        from agents.quorvane.mcp_server.server import serve_stdio
        from agents.quorvane.mcp_server.tools import Workspace
    except ImportError as exc:
        error("mcp", f"the MCP SDK is not installed ({exc}): pip install 'quorvane[mcp]'")
        return EXIT_USAGE
    roots = args.root or [os.getcwd()]
    for folder in (*roots, *([args.kb] if args.kb else [])):
        if not os.path.isdir(folder):
            error("mcp", f"{printable(folder)}: not a folder")
            return EXIT_USAGE
    try:
        settings = load_settings(None)
    except ConfigError as exc:
        error("mcp", str(exc))
        return EXIT_USAGE
    workspace = Workspace.create(
        roots,
        effort=settings.effort,
        kb=args.kb,
        platform=args.platform,
        max_tokens=args.max_tokens,
        max_size=args.max_size,
        buckets=settings.buckets,
    )
    anyio.run(serve_stdio, workspace)
    return EXIT_OK
