"""Grade every bundled example script, show a reading plan for the longest
one, and the knowledge selected for one script."""

from __future__ import annotations

import sys
from pathlib import Path

import structlog

from agents.quorvane import complexity, loresift

# A production host filters debug events; so does the demo.
structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(20))


def main(root: Path) -> None:
    scripts = sorted((root / "sql").glob("*.sql"))
    header = f"{'script':45} {'level':9} {'lines':>5} {'cx':>3} {'mod':>3} {'proc':>4} {'temp':>4} {'cte':>3}  turns a/c/a"
    print(header)
    print("-" * len(header))
    longest = max(scripts, key=lambda p: p.stat().st_size)
    for path in scripts:
        r = complexity.classify_sql_file(path)
        turns = f"{r.recommended_analysis_turns}/{r.recommended_conversion_turns}/{r.recommended_audit_turns}"
        print(f"{path.name:45} {r.complexity:9} {r.effective_lines:5} {r.complex_construct_count:3} "
              f"{r.moderate_construct_count:3} {r.stored_proc_count:4} {r.temp_table_count:4} {r.cte_count:3}  {turns}")

    print(f"\nReading plan for {longest.name}:\n")
    plan = complexity.plan_reading_strategy(longest)
    print(plan.format_reading_instructions(str(longest)))

    kb = root / "kb"
    if kb.is_dir():
        sample = next((p for p in scripts if "moderate" in p.name), scripts[0])
        categories = loresift.detect_construct_categories(sample.read_text(encoding="utf-8"))
        selected = loresift.select_knowledge(
            categories,
            full_mapping=(kb / "mapping.md").read_text(encoding="utf-8"),
            full_gotchas=(kb / "gotchas.md").read_text(encoding="utf-8"),
            full_limitations=(kb / "limitations.md").read_text(encoding="utf-8"),
        )
        titles = [line for line in (selected["mapping"] + "\n" + selected["gotchas"]).splitlines()
                  if line.startswith("## ")]
        print(f"\nKnowledge for {sample.name} (categories: {', '.join(sorted(categories))}):")
        for t in titles:
            print(f"  {t}")


if __name__ == "__main__":
    main(Path(sys.argv[1] if len(sys.argv) > 1 else "examples"))
