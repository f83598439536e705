"""The analysis of one file: read it once, then grade, plan, categorise and
detect its platform."""

from __future__ import annotations

import os
import stat
from dataclasses import dataclass
from pathlib import Path

from agents.quorvane import complexity, loresift, platform_detect
from agents.quorvane.assessment.record import FileReport

DEFAULT_MAX_SIZE = 64 * 1024 * 1024


@dataclass(frozen=True)
class _ReadText:
    """A file's text, already read: the planner reads its input through
    read_text(), so the file is read from disk only once."""

    text: str

    def read_text(self, *, encoding: str) -> str:
        return self.text


class _InputError(Exception):
    """A file that is not analysed for a reason of its own (size, kind)."""


def analyze_file(path: str, max_size: int = DEFAULT_MAX_SIZE) -> FileReport:
    """Analyse one file; failures to read or decode it become the report's
    error rather than an exception."""
    try:
        info = os.stat(path)
        if not stat.S_ISREG(info.st_mode):
            raise _InputError("not a regular file")
        if info.st_size > max_size:
            raise _InputError(f"{info.st_size} bytes, more than the {max_size}-byte limit (--max-size)")
        text = Path(path).read_text(encoding="utf-8")
        result = complexity.classify_sql(text)
        plan = complexity.plan_reading_strategy(_ReadText(text))
        categories = tuple(sorted(loresift.detect_construct_categories(text)))
        guess = platform_detect.detect_platform(text)
    except _InputError as exc:
        return FileReport(path, error=str(exc))
    except (OSError, UnicodeError) as exc:
        return FileReport(path, error=f"{type(exc).__name__}: {exc}")
    return FileReport(
        path,
        complexity=str(result.complexity),
        effective_lines=result.effective_lines,
        stored_proc_count=result.stored_proc_count,
        complex_construct_count=result.complex_construct_count,
        moderate_construct_count=result.moderate_construct_count,
        temp_table_count=result.temp_table_count,
        cte_count=result.cte_count,
        analysis_turns=result.recommended_analysis_turns,
        conversion_turns=result.recommended_conversion_turns,
        audit_turns=result.recommended_audit_turns,
        total_lines=plan.total_lines,
        chunked=plan.should_chunk,
        sections=len(plan.section_boundaries),
        categories=categories,
        platform=guess.platform,
        platform_score=guess.score,
        platform_ranking=guess.ranking,
        platform_markers=guess.matched,
    )
