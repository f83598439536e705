"""What every reading plan must guarantee, checked on any implementation's
result: nothing is left unread, and the shape stays within its limits."""

from __future__ import annotations


def unread_lines(plan) -> list[tuple[int, int]]:
    """The inclusive line ranges that neither the first read nor any section
    holds."""
    if not plan.should_chunk:
        return [] if plan.first_read_lines >= plan.total_lines else [(plan.first_read_lines + 1, plan.total_lines)]
    gaps = []
    held = plan.first_read_lines
    for start, end, _ in sorted(plan.section_boundaries):
        if start > held + 1:
            gaps.append((held + 1, start - 1))
        held = max(held, end)
    if held < plan.total_lines:
        gaps.append((held + 1, plan.total_lines))
    return gaps


def check_plan(plan) -> None:
    """Every line is read; a split plan has 1 to ``target_sections`` entries,
    each ``start`` < ``end``, in file order, none starting before line 150."""
    total = plan.total_lines
    sections = plan.section_boundaries
    assert unread_lines(plan) == [], (total, sections)
    if not plan.should_chunk:
        assert (plan.first_read_lines, sections) == (total, ())
        return
    target = min(max(total // 300, 2), 5)
    assert plan.first_read_lines == 150
    assert 1 <= len(sections) <= target, sections
    previous_end = 0
    for start, end, _ in sections:
        assert 150 <= start < end <= total, sections
        assert previous_end <= start, sections
        previous_end = end
