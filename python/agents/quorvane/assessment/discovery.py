"""Finding the SQL files under the paths given to ``quorvane analyze``."""

from __future__ import annotations

import os
from collections.abc import Iterable
from fnmatch import fnmatchcase

from agents.quorvane.assessment.record import FileReport

DEFAULT_GLOB = "*.sql"


def discover(paths: Iterable[str], pattern: str = DEFAULT_GLOB) -> tuple[list[str], list[FileReport]]:
    """The files to analyse, sorted, and reports for directories that could
    not be read.

    A path that is not a directory is taken as a file whatever its name (a
    missing one fails in the analysis, with its error).  Directories are
    searched recursively for names matching ``pattern``, ignoring letter
    case; symbolic links are followed, each directory visited once, so a
    link loop ends the descent.
    """
    files: set[str] = set()
    failures: list[FileReport] = []
    folded = pattern.lower()
    for raw in paths:
        if not os.path.isdir(raw):
            files.add(os.path.normpath(raw))
            continue
        visited: set[tuple[int, int]] = set()

        def unreadable(exc: OSError) -> None:
            failures.append(FileReport(exc.filename or raw, error=f"{type(exc).__name__}: {exc}"))

        for dirpath, dirnames, filenames in os.walk(os.path.normpath(raw), onerror=unreadable, followlinks=True):
            try:
                info = os.stat(dirpath)
            except OSError as exc:
                unreadable(exc)
                dirnames[:] = []
                continue
            if (info.st_dev, info.st_ino) in visited:
                dirnames[:] = []
                continue
            visited.add((info.st_dev, info.st_ino))
            files.update(
                os.path.normpath(os.path.join(dirpath, name)) for name in filenames if fnmatchcase(name.lower(), folded)
            )
    return sorted(files), failures
