"""The Marker record and platform identifiers of agents.quorvane.platform_detect."""

from __future__ import annotations

import dataclasses
import json
import os
import pickle
import subprocess
import sys

import pytest

from agents.quorvane import platform_detect as pd

VALID = {"id": "demo.marker", "platforms": ["mysql", "hive"], "confidence": "high", "pattern": r"\bDEMO\b"}


def test_platform_identifiers_in_canonical_order():
    names = ["DATABRICKS", "SNOWFLAKE", "POSTGRESQL", "MYSQL", "SQLSERVER", "ORACLE", "REDSHIFT", "BIGQUERY",
             "TERADATA", "HIVE"]  # fmt: skip
    assert [getattr(pd, "PLATFORM_" + n) for n in names] == [n.lower() for n in names]
    assert pd.PLATFORMS == tuple(n.lower() for n in names)


def test_record_stores_platforms_as_tuple_and_hashes():
    a = pd.Marker(**VALID)
    b = pd.Marker(**{**VALID, "platforms": ("mysql", "hive")})
    assert a.platforms == ("mysql", "hive")
    assert (a.scope, a.corroborating_only) == (None, False)
    assert a == b and hash(a) == hash(b)
    assert a != pd.Marker(**{**VALID, "corroborating_only": True})
    assert len({a, b}) == 1


def test_record_is_frozen_and_pickles():
    m = pd.Marker(**VALID, scope="comment")
    with pytest.raises(dataclasses.FrozenInstanceError):
        m.pattern = "x"  # type: ignore[misc]
    copy = pickle.loads(pickle.dumps(m))
    assert copy == m and copy.scope == "comment"


@pytest.mark.parametrize(
    "override, error",
    [
        ({"confidence": "low"}, ValueError),
        ({"confidence": "HIGH"}, ValueError),
        ({"platforms": []}, ValueError),
        ({"platforms": "mysql"}, TypeError),
        ({"platforms": ["mysql", "sybase"]}, ValueError),
        ({"platforms": ["mysql", "mysql"]}, ValueError),
        ({"pattern": "(unclosed"}, ValueError),
        ({"pattern": "a{2,1}"}, ValueError),
        ({"scope": "line"}, ValueError),
    ],
)
def test_record_rejects_invalid_fields(override, error):
    with pytest.raises(error):
        pd.Marker(**{**VALID, **override})


IMPORT_ORDER = r"""
import importlib, json, sys
first, second = sys.argv[1:]
importlib.import_module(first)
loaded_early = "agents.quorvane.dialectra" in sys.modules
importlib.import_module(second)
from agents.quorvane import dialectra, platform_detect
catalogue = platform_detect.markers()
print(json.dumps({
    "loaded_early": loaded_early,
    "same_marker": dialectra.Marker is platform_detect.Marker,
    "catalogue": type(catalogue).__name__,
    "same_rows": list(catalogue) == dialectra.PLATFORM_MARKERS,
    "cached": platform_detect.markers() is catalogue,
}))
"""


@pytest.mark.parametrize(
    "first, second",
    [
        ("agents.quorvane.platform_detect", "agents.quorvane.dialectra"),
        ("agents.quorvane.dialectra", "agents.quorvane.platform_detect"),
    ],
)
def test_modules_import_in_either_order(first, second):
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(p for p in sys.path if p)}
    proc = subprocess.run(
        [sys.executable, "-c", IMPORT_ORDER, first, second],
        capture_output=True,
        text=True,
        env=env,
        timeout=120,
    )
    assert proc.returncode == 0, proc.stderr
    result = json.loads(proc.stdout)
    assert result == {
        "loaded_early": True,  # the detector reads the catalogue as it loads
        "same_marker": True,
        "catalogue": "tuple",
        "same_rows": True,
        "cached": True,
    }
