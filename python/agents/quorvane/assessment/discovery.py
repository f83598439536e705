"""Finding the SQL files under the paths given to ``quorvane analyze``."""

from __future__ import annotations

import os
from collections.abc import Iterable, Sequence
from dataclasses import dataclass, field
from fnmatch import fnmatchcase

from agents.quorvane.assessment.input_files import os_error_text

# HiveQL scripts are commonly named .hql or .hive.
DEFAULT_GLOBS = ("*.sql", "*.hql", "*.hive")


def _matches(patterns: Sequence[str], *names: str) -> bool:
    return any(fnmatchcase(name, p) for p in patterns for name in names)


@dataclass
class Inputs:
    """What the paths of a command line come to."""

    files: list[str] = field(default_factory=list)  # sorted, each once
    unreadable: list[tuple[str, str]] = field(default_factory=list)  # directory, reason
    empty: list[str] = field(default_factory=list)  # paths as given that gave no file


def _quoted(patterns: Sequence[str]) -> str:
    return " or ".join(repr(p) for p in patterns)


def empty_path_message(path: str, globs: Sequence[str], excludes: Sequence[str]) -> str:
    """Why a path given gave no input file, after its name."""
    if not os.path.isdir(path):
        return f"no input file: left out by --exclude {_quoted(excludes)}"
    leaves = f" that --exclude {_quoted(excludes)} leaves" if excludes else ""
    return f"no input file: no file name matching {_quoted(globs)}{leaves}"


def discover(
    paths: Iterable[str], globs: Sequence[str] = DEFAULT_GLOBS, excludes: Sequence[str] = ()
) -> tuple[list[str], list[tuple[str, str]]]:
    """The files to analyse, sorted, and the directories that could not be
    read, with their errors (see :func:`find_inputs`)."""
    found = find_inputs(paths, globs, excludes)
    return found.files, found.unreadable


def find_inputs(paths: Iterable[str], globs: Sequence[str] = DEFAULT_GLOBS, excludes: Sequence[str] = ()) -> Inputs:
    """The files to analyse, sorted; the directories that could not be read,
    with their errors; and the paths that gave no file at all.

    A path that is not a directory is taken as a file whatever its name (a
    missing one fails in the analysis, with its error).  Directories are
    searched recursively for names matching any of ``globs``; symbolic links
    are followed, each directory visited once, so a link loop ends the
    descent.  A file or directory is left out when one of ``excludes``
    matches its name or its path relative to the directory searched (or, for
    a path given, the path as given); an excluded directory is not entered.
    All patterns ignore letter case.  A path whose search found no file (an
    empty or unreadable directory, a pattern that matches nothing, an
    exclusion that leaves nothing) is listed in ``empty``: a command fails
    on it rather than pass a run that read nothing.
    """
    files: set[str] = set()
    empty: list[str] = []
    unreadable: list[tuple[str, str]] = []
    folded_globs = [g.lower() for g in globs]
    folded_excludes = [e.lower() for e in excludes]
    for raw in paths:
        norm = os.path.normpath(raw)
        if not os.path.isdir(raw):
            if not _matches(folded_excludes, os.path.basename(norm).lower(), norm.lower(), raw.lower()):
                files.add(norm)
            else:
                empty.append(raw)
            continue
        found_here, failures_before = 0, len(unreadable)
        visited: set[tuple[int, int]] = set()

        def failed(exc: OSError) -> None:
            unreadable.append((exc.filename or raw, os_error_text(exc)))

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
            chosen = [
                os.path.normpath(os.path.join(dirpath, name))
                for name in filenames
                if _matches(folded_globs, name.lower()) and not excluded(name)
            ]
            files.update(chosen)
            found_here += len(chosen)
        if not found_here and len(unreadable) == failures_before:  # else its failure says why
            empty.append(raw)
    return Inputs(sorted(files), unreadable, empty)
