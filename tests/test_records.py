"""The two records are the host's frozen dataclasses in everything a caller
can observe: the dataclass toolbox, names in messages, pickles by the
documented names, weak references, and errors as the host raises them."""

from __future__ import annotations

import dataclasses
import pickle
import subprocess
import sys
import weakref

import pytest

from agents.quorvane import complexity as cx

RESULT = cx.ComplexityResult(cx.SQLComplexity.MODERATE, 120, 1, 0, 2, 3, 1)
PLAN = cx.FileReadingStrategy(True, 900, 150, ((151, 420, "SQL block (270 lines)"), (421, 900, "GO")))
RECORDS = [pytest.param(RESULT, id="ComplexityResult"), pytest.param(PLAN, id="FileReadingStrategy")]

FIELDS = {
    "ComplexityResult": [
        "complexity",
        "effective_lines",
        "stored_proc_count",
        "complex_construct_count",
        "moderate_construct_count",
        "temp_table_count",
        "cte_count",
    ],
    "FileReadingStrategy": ["should_chunk", "total_lines", "first_read_lines", "section_boundaries"],
}


@pytest.mark.parametrize("record", RECORDS)
def test_dataclass_toolbox(record):
    cls = type(record)
    names = FIELDS[cls.__name__]
    assert dataclasses.is_dataclass(record) and dataclasses.is_dataclass(cls)
    assert [f.name for f in dataclasses.fields(record)] == names
    assert cls.__match_args__ == tuple(names)
    values = tuple(getattr(record, n) for n in names)
    assert dataclasses.astuple(record) == values
    assert dataclasses.asdict(record) == dict(zip(names, values))
    assert vars(record) == dict(zip(names, values))
    changed = (
        dataclasses.replace(record, total_lines=1)
        if "total_lines" in names
        else dataclasses.replace(record, cte_count=9)
    )
    assert changed != record and type(changed) is cls
    assert dataclasses.replace(record) == record and hash(dataclasses.replace(record)) == hash(record)
    ref = weakref.ref(record)
    assert ref() is record


@pytest.mark.parametrize("record", RECORDS)
def test_names_and_pickles(record):
    cls = type(record)
    assert cls.__module__ == "agents.quorvane.complexity"
    assert cls.__qualname__ == cls.__name__
    assert repr(record).startswith(cls.__name__ + "(")
    assert f"agents.quorvane.complexity\n{cls.__name__}".encode() in pickle.dumps(record, 0)
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(record, protocol)) == record


class Former:
    """Pickles as the former records did: the type by name, then the field
    values for its constructor."""

    def __init__(self, record):
        self.record = record

    def __reduce__(self):
        return type(self.record), dataclasses.astuple(self.record)


@pytest.mark.parametrize("record", RECORDS)
@pytest.mark.parametrize("protocol", [0, 2, pickle.HIGHEST_PROTOCOL])
def test_pickles_of_the_former_records_still_load(record, protocol):
    stored = pickle.dumps(Former(record), protocol)
    assert pickle.loads(stored) == record


@pytest.mark.parametrize(
    ("build", "message"),
    [
        (lambda: cx.ComplexityResult(), "ComplexityResult.__init__() missing 7 required positional arguments"),
        (
            lambda: cx.FileReadingStrategy(False, 1, 1),
            "FileReadingStrategy.__init__() missing 1 required positional argument: 'section_boundaries'",
        ),
        (
            lambda: cx.FileReadingStrategy(False, 1, 1, (), 5),
            "FileReadingStrategy.__init__() takes 5 positional arguments but 6 were given",
        ),
        (
            lambda: cx.FileReadingStrategy(False, 1, 1, (), bogus=1),
            "FileReadingStrategy.__init__() got an unexpected keyword argument 'bogus'",
        ),
    ],
)
def test_construction_errors_name_the_type(build, message):
    with pytest.raises(TypeError) as info:
        build()
    assert str(info.value).startswith(message)
    assert "agents.quorvane" not in str(info.value)


@pytest.mark.parametrize("record", RECORDS)
def test_frozen(record):
    name = FIELDS[type(record).__name__][0]
    with pytest.raises(dataclasses.FrozenInstanceError, match=f"cannot assign to field '{name}'"):
        setattr(record, name, 1)
    with pytest.raises(dataclasses.FrozenInstanceError):
        record.extra = 1


def test_budgets_are_read_only_properties_on_any_field_values():
    turns = (RESULT.recommended_analysis_turns, RESULT.recommended_conversion_turns, RESULT.recommended_audit_turns)
    assert turns == (3, 14, 3)
    for name in ("recommended_analysis_turns", "recommended_conversion_turns", "recommended_audit_turns"):
        assert isinstance(getattr(cx.ComplexityResult, name), property)
        with pytest.raises(AttributeError):
            setattr(RESULT, name, 1)
    assert name not in [f.name for f in dataclasses.fields(RESULT)]
    # Host arithmetic on whatever a caller stored: floor division, min().
    odd = cx.ComplexityResult(cx.SQLComplexity.SIMPLE, -1, 0, 0, 0, 0, 0)
    assert odd.recommended_analysis_turns == 2
    big = cx.ComplexityResult(cx.SQLComplexity.SIMPLE, 10**30, 0, 10**30, 0, 0, 0)
    assert (big.recommended_analysis_turns, big.recommended_conversion_turns) == (8, 40)
    floats = cx.ComplexityResult(cx.SQLComplexity.SIMPLE, 650.0, 1.5, 1.0, 0, 0, 0)
    assert (floats.recommended_analysis_turns, floats.recommended_conversion_turns) == (6.0, 26.0)
    with pytest.raises(TypeError):
        cx.ComplexityResult(cx.SQLComplexity.SIMPLE, "x", 0, 0, 0, 0, 0).recommended_analysis_turns


def test_format_reading_instructions_is_a_method_with_exact_argument_errors():
    assert PLAN.format_reading_instructions("a.sql").startswith("This is a 900-line SQL file.")
    assert PLAN.format_reading_instructions(sql_path="a.sql") == PLAN.format_reading_instructions("a.sql")
    assert cx.FileReadingStrategy.format_reading_instructions(PLAN, "a.sql") == PLAN.format_reading_instructions(
        "a.sql"
    )
    plain = cx.FileReadingStrategy(False, 3, 3, ())
    for call, message in [
        (
            lambda: plain.format_reading_instructions(bogus=1),
            "format_reading_instructions() takes exactly 2 positional arguments (1 given)",
        ),
        (
            lambda: plain.format_reading_instructions("a", bogus=1),
            "format_reading_instructions() got an unexpected keyword argument 'bogus'",
        ),
        (
            lambda: plain.format_reading_instructions(None),
            "Argument 'sql_path' has incorrect type (expected str, got NoneType)",
        ),
    ]:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message
    # The method is no field and keeps no state of the record.
    assert "format_reading_instructions" not in vars(plain)


DEEP = """
import sys
from agents.quorvane import complexity as cx
r = cx.SQLComplexity.SIMPLE
for _ in range(300_000):
    r = cx.ComplexityResult(r, 0, 0, 0, 0, 0, 0)
for name, op in [("hash", hash), ("repr", repr), ("eq", lambda x: x == cx.ComplexityResult(x.complexity, 0, 0, 0, 0, 0, 0))]:
    try:
        op(r)
    except RecursionError:
        print(name, "RecursionError")
    else:
        print(name, "done")
print("alive")
"""


def test_deep_nesting_raises_recursion_error_and_never_crashes():
    proc = subprocess.run([sys.executable, "-c", DEEP], capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr[-2000:]
    lines = proc.stdout.split("\n")
    assert "hash RecursionError" in lines and "repr RecursionError" in lines and "alive" in lines
