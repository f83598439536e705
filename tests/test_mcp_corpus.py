"""On the shared corpus, every result of ``quorvane mcp`` stays within the
default token budget: every file assessed per object, the corpus's whole
inventory, and the source of every object, paged to the end."""

from __future__ import annotations

import pytest

pytest.importorskip("mcp")

import anyio  # noqa: E402
import structlog  # noqa: E402
from corpus import CORPUS, corpus_files  # noqa: E402
from mcp import Client  # noqa: E402

from agents.quorvane.assessment.effort import DEFAULT_MODEL  # noqa: E402
from agents.quorvane.assessment.workers import quiet_logging  # noqa: E402
from agents.quorvane.mcp_server.limits import DEFAULT_MAX_TOKENS  # noqa: E402
from agents.quorvane.mcp_server.server import build_server  # noqa: E402
from agents.quorvane.mcp_server.tools import Workspace  # noqa: E402
from agents.quorvane.tokens import estimate_tokens  # noqa: E402


@pytest.fixture
def quiet():
    """Without the per-call debug events, whose printing would dominate."""
    saved = structlog.get_config()
    quiet_logging()
    yield
    structlog.configure(**saved)


def test_no_result_on_the_corpus_exceeds_the_budget(quiet):
    files = corpus_files()
    if not files:
        pytest.skip("no corpus")
    server = build_server(Workspace.create([str(CORPUS)], effort=DEFAULT_MODEL))
    sizes: list[int] = []

    async def pages(client, tool, args):
        """Every page of one call, each checked against the budget."""
        cursor = None
        while True:
            result = await client.call_tool(tool, {**args, **({"cursor": cursor} if cursor else {})})
            assert not result.is_error, (tool, args, result.content[0].text)
            sizes.append(estimate_tokens(result.content[0].text))
            yield result.structured_content
            cursor = result.structured_content.get("next_cursor")
            if not cursor:
                return

    async def go():
        async with Client(server) as client:
            objects = []
            for path in files:
                relative = str(path.relative_to(CORPUS))
                async for page in pages(client, "assess", {"path": relative, "objects": True}):
                    objects += [r for r in page["rows"] if r["status"] == "ok" and r["start_line"]]
            async for _ in pages(client, "inventory", {"path": "."}):
                pass
            for row in objects:
                start = row["start_line"]
                while start <= row["end_line"]:  # an object longer than a page is read on
                    args = {"path": row["path"], "start_line": start, "end_line": row["end_line"]}
                    [page] = [p async for p in pages(client, "read_source", args)]
                    start = page["end_line"] + 1
            return len(objects)

    assert anyio.run(go) > len(files)
    assert max(sizes) <= DEFAULT_MAX_TOKENS
