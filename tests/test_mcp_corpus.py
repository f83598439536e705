"""On the shared corpus, every result of ``quorvane mcp`` stays within the
default token budget.  Each repository of the corpus is served as the code
base it is (one root): every file assessed per object, its whole inventory,
the source of every object and every part of every work packet, each paged
or read on to the end."""

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
from agents.quorvane.mcp_server.tools import _packets as packet_listing  # noqa: E402
from agents.quorvane.tokens import estimate_tokens  # noqa: E402


@pytest.fixture
def quiet():
    """Without the per-call debug events, whose printing would dominate."""
    saved = structlog.get_config()
    quiet_logging()
    yield
    structlog.configure(**saved)


async def pages(client, sizes, tool, args):
    """Every page of one call, each within the budget."""
    cursor = None
    while True:
        result = await client.call_tool(tool, {**args, **({"cursor": cursor} if cursor else {})})
        assert not result.is_error, (tool, args, result.content[0].text)
        sizes.append(estimate_tokens(result.content[0].text))
        yield result.structured_content
        cursor = result.structured_content.get("next_cursor")
        if not cursor:
            return


async def serve_code_base(root, files, sizes):
    """Every tool the budget matters most for, over one code base."""
    workspace = Workspace.create([str(root)], effort=DEFAULT_MODEL)
    async with Client(build_server(workspace)) as client:
        objects = []
        for path in files:
            async for page in pages(client, sizes, "assess", {"path": str(path.relative_to(root)), "objects": True}):
                objects += [r for r in page["rows"] if r["status"] == "ok" and r["start_line"]]
        async for _ in pages(client, sizes, "inventory", {"path": "."}):
            pass
        for row in objects:
            start = row["start_line"]
            while start <= row["end_line"]:  # an object longer than a page is read on
                args = {"path": row["path"], "start_line": start, "end_line": row["end_line"]}
                [page] = [p async for p in pages(client, sizes, "read_source", args)]
                start = page["end_line"] + 1
        # Every packet, by the ids the server made (its own listing, shared).
        ids = [parts[0].id for parts in packet_listing(workspace, DEFAULT_MAX_TOKENS).parts.values()]
        for packet_id in ids:
            part, parts = 1, 1
            while part <= parts:
                [page] = [p async for p in pages(client, sizes, "work_packet", {"id": packet_id, "part": part})]
                part, parts = part + 1, page["parts"]
        return len(objects), len(ids)


def test_no_result_on_the_corpus_exceeds_the_budget(quiet):
    files = corpus_files()
    if not files:
        pytest.skip("no corpus")
    code_bases: dict = {}
    for path in files:
        platform, repository = path.relative_to(CORPUS).parts[:2]
        code_bases.setdefault(CORPUS / platform / repository, []).append(path)
    sizes: list[int] = []
    objects = packets = 0
    for root, members in sorted(code_bases.items()):
        found = anyio.run(serve_code_base, root, members, sizes)
        objects += found[0]
        packets += found[1]
    assert objects > len(files) and packets > len(files)
    assert max(sizes) <= DEFAULT_MAX_TOKENS
