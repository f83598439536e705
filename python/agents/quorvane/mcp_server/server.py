"""The MCP server: the tools of ``catalogue`` over the SDK's low-level
server, on standard input and output.

Arguments are checked against each tool's input schema before the tool
runs.  Every failure becomes a tool error whose text says what went wrong,
and the server goes on serving.  Each result is one JSON document, given as
structured content and as the same compact text.
"""

from __future__ import annotations

import functools
import sys
import threading
import traceback
from typing import Any

import anyio
import mcp_types as types
from mcp.server.lowlevel import Server

from agents.quorvane import __version__
from agents.quorvane.assessment.workers import quiet_logging
from agents.quorvane.mcp_server import catalogue
from agents.quorvane.mcp_server.confinement import ToolError
from agents.quorvane.mcp_server.paging import dumps, fits
from agents.quorvane.mcp_server.tools import TOOLS, Workspace

ANNOTATIONS = types.ToolAnnotations(read_only_hint=True, idempotent_hint=True, open_world_hint=False)
INSTRUCTIONS = (
    "Read-only analysis of the SQL under the server's roots. A path is relative to a root, or absolute "
    "inside one. Paged results give next_cursor: pass it back as cursor, with the same arguments, for the "
    "next page. max_tokens sets a result's budget."
)


def _error(text: str) -> types.CallToolResult:
    return types.CallToolResult(content=[types.TextContent(type="text", text=text)], is_error=True)


def _argument_problem(validator: Any, known: set[str], arguments: dict[str, Any]) -> str | None:
    unknown = sorted(set(arguments) - known)
    if unknown:
        plural = "s" if len(unknown) > 1 else ""
        return f"unknown argument{plural}: {', '.join(unknown)} (known: {', '.join(sorted(known))})"
    for problem in sorted(validator.iter_errors(arguments), key=lambda e: list(e.path)):
        where = ".".join(str(p) for p in problem.path)
        return f"{where}: {problem.message}" if where else problem.message
    return None


def build_server(workspace: Workspace) -> Server[Any]:
    declared = [d for d in catalogue.TOOLS if d["name"] in TOOLS]
    listing = types.ListToolsResult(tools=[types.Tool(**d, annotations=ANNOTATIONS) for d in declared])
    schemas = {d["name"]: d["input_schema"] for d in declared}
    checks: dict[str, tuple[Any, set[str]]] = {}

    def check(name: str) -> tuple[Any, set[str]]:
        """The validator of a tool's arguments, made at its first call (the
        schema library is not needed to start and list the tools)."""
        if name not in checks:
            from jsonschema import Draft202012Validator

            checks[name] = (Draft202012Validator(schemas[name]), set(schemas[name]["properties"]))
        return checks[name]

    # One call at a time: the tools share their caches, and the analysis
    # releases the interpreter lock while it scans, so a call in a worker
    # thread leaves the event loop free to answer pings.
    lock = threading.Lock()

    def run(name: str, arguments: dict[str, Any]) -> types.CallToolResult:
        with lock:
            try:
                result = TOOLS[name](workspace, arguments)
            except ToolError as exc:
                return _error(str(exc))
            except RecursionError as exc:
                return _error(f"internal error: {exc}")
            except Exception as exc:  # a fault of this program: say so, keep serving
                traceback.print_exc(file=sys.stderr)
                return _error(f"internal error in {name}: {type(exc).__name__}: {exc}")
        text = dumps(result)
        if not fits(result, workspace.budget(arguments)):  # never sent over the budget
            return _error(f"internal error in {name}: the result does not fit the token budget")
        return types.CallToolResult(content=[types.TextContent(type="text", text=text)], structured_content=result)

    async def list_tools(ctx: Any, params: Any) -> types.ListToolsResult:
        return listing

    async def call_tool(ctx: Any, params: types.CallToolRequestParams) -> types.CallToolResult:
        name = params.name
        if name not in schemas:
            return _error(f"unknown tool: {name} (tools: {', '.join(schemas)})")
        arguments = dict(params.arguments or {})
        validator, known = check(name)
        problem = _argument_problem(validator, known, arguments)
        if problem:
            return _error(f"bad arguments to {name}: {problem}")
        return await anyio.to_thread.run_sync(functools.partial(run, name, arguments))

    return Server(
        "quorvane",
        version=__version__,
        instructions=INSTRUCTIONS,
        on_list_tools=list_tools,
        on_call_tool=call_tool,
    )


async def serve_stdio(workspace: Workspace) -> None:
    from mcp.server.stdio import stdio_server

    # Standard output carries the protocol: the library's debug events must
    # not reach it.
    quiet_logging()
    server = build_server(workspace)
    async with stdio_server() as (read_stream, write_stream):
        await server.run(read_stream, write_stream, server.create_initialization_options())
