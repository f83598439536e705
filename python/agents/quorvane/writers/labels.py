"""Short human-readable forms shared by the writers."""

from __future__ import annotations

from agents.quorvane.assessment.record import UNKNOWN_PLATFORM, FileReport


def format_score(score: float) -> str:
    return f"{score:g}"


def platform_label(report: FileReport) -> str:
    if report.platform is None:
        return UNKNOWN_PLATFORM
    return f"{report.platform} ({format_score(report.platform_score)})"


def reading_label(report: FileReport) -> str:
    return f"{report.sections} sections" if report.chunked else "whole"
