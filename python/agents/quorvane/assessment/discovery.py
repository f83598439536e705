"""Finding the SQL files under the paths given to ``quorvane analyze``."""

from __future__ import annotations

import os
from collections.abc import Iterable, Sequence
from fnmatch import fnmatchcase

# HiveQL scripts are commonly named .hql or .hive.
DEFAULT_GLOBS = ("*.sql", "*.hql", "*.hive")


def _matches(patterns: Sequence[str], *names: str) -> bool:
    return any(fnmatchcase(name, p) for p in patterns for name in names)


def discover(
    paths: Iterable[str], globs: Sequence[str] = DEFAULT_GLOBS, excludes: Sequence[str] = ()
) -> tuple[list[str], list[tuple[str, str]]]:
    """The files to analyse, sorted, and the directories that could not be
    read, with their errors.

    A path that is not a directory is taken as a file whatever its name (a
    missing one fails in the analysis, with its error).  Directories are
    searched recursively for names matching any of ``globs``; symbolic links
    are followed, each directory visited once, so a link loop ends the
    descent.  A file or directory is left out when one of ``excludes``
    matches its name or its path relative to the directory searched (or, for
    a path given, the path as given); an excluded directory is not entered.
    All patterns ignore letter case.
    """
    files: set[str] = set()
    unreadable: list[tuple[str, str]] = []
    folded_globs = [g.lower() for g in globs]
    folded_excludes = [e.lower() for e in excludes]
    for raw in paths:
        norm = os.path.normpath(raw)
        if not os.path.isdir(raw):
            if not _matches(folded_excludes, os.path.basename(norm).lower(), norm.lower(), raw.lower()):
                files.add(norm)
            continue
        visited: set[tuple[int, int]] = set()

        def failed(exc: OSError) -> None:
            unreadable.append((exc.filename or raw, f"{type(exc).__name__}: {exc.strerror or exc}"))

        for dirpath, dirnames, filenames in os.walk(norm, onerror=failed, followlinks=True):
            try:
                info = os.stat(dirpath)
            except OSError as exc:
                failed(exc)
                dirnames[:] = []
                continue
            if (info.st_dev, info.st_ino) in visited:
                dirnames[:] = []
                continue
            visited.add((info.st_dev, info.st_ino))
            relative_dir = os.path.relpath(dirpath, norm)
            relative_dir = "" if relative_dir == "." else relative_dir.replace(os.sep, "/") + "/"

            def excluded(name: str) -> bool:
                return _matches(folded_excludes, name.lower(), (relative_dir + name).lower())

            dirnames[:] = [d for d in dirnames if not excluded(d)]
            files.update(
                os.path.normpath(os.path.join(dirpath, name))
                for name in filenames
                if _matches(folded_globs, name.lower()) and not excluded(name)
            )
    return sorted(files), unreadable
