"""Shared fixtures: the ``impl`` switch between the reference model and the
native extension modules, log-event capture and Hypothesis profiles."""

from __future__ import annotations

import importlib
import os
import sys
from pathlib import Path

import pytest
from hypothesis import settings
from structlog.testing import capture_logs

sys.path.insert(0, str(Path(__file__).resolve().parent))

import model  # noqa: E402

settings.register_profile("quick", max_examples=200, deadline=None)
settings.register_profile("deep", max_examples=20_000, deadline=None)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "quick"))


class NativeAdapter:
    """The native ``complexity`` and ``loresift`` modules under the model's names.

    Attributes are looked up on each access, in ``complexity`` first, so a
    name missing from both modules fails the test that uses it.
    """

    name = "native"

    def __init__(self, complexity, loresift):
        self._modules = (complexity, loresift)

    def __getattr__(self, attr):
        for module in self._modules:
            if hasattr(module, attr):
                return getattr(module, attr)
        raise AttributeError(f"neither native module defines {attr!r}")


def _load_native():
    try:
        complexity = importlib.import_module("agents.quorvane.complexity")
        loresift = importlib.import_module("agents.quorvane.loresift")
    except ImportError as exc:
        pytest.skip(f"native extension modules not importable yet: {exc}")
    return NativeAdapter(complexity, loresift)


@pytest.fixture(scope="session", params=["model", "native"])
def impl(request):
    if request.param == "model":
        return model
    return _load_native()


@pytest.fixture(scope="session")
def scratch_dir(tmp_path_factory):
    """A directory for files written inside Hypothesis examples."""
    return tmp_path_factory.mktemp("scratch")


@pytest.fixture
def events():
    """Capture log events; yields a callable returning them as
    ``[(event_name, [(field, value), ...]), ...]``.

    ``capture_logs`` stores the call's keyword fields first, in call order,
    then ``event`` and ``log_level``; the latter two are left out of the
    field list, and the level is checked to be debug.
    """
    with capture_logs() as captured:

        def read():
            out = []
            for entry in captured:
                assert entry["log_level"] == "debug", entry
                fields = [(k, v) for k, v in entry.items() if k not in ("event", "log_level")]
                out.append((entry["event"], fields))
            return out

        yield read
