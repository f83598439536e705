"""Paths the server may read: inside one of its roots, after every symbolic
link is resolved, and only regular files (or folders, where a tool takes one).

A relative path is taken against each root in turn, and the first root in
which it exists decides; an absolute path must lie inside a root.  A refusal
names its rule and never carries the file's content.
"""

from __future__ import annotations

import os
import re
import stat
from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from typing import Any
from fnmatch import translate

from agents.quorvane.assessment.discovery import DEFAULT_GLOBS
from agents.quorvane.assessment.input_files import os_error_text


# The names a folder's SQL files have, matched in lower case as ``analyze``
# matches its default patterns.
_SQL_NAME = re.compile("|".join(translate(g.lower()) for g in DEFAULT_GLOBS))


class ToolError(Exception):
    """A tool's failure, reported to the caller as a tool error with this text."""


class Refused(ToolError):
    """A path the confinement rules do not allow."""


@dataclass(frozen=True)
class Target:
    """A checked path: ``real`` is the resolved path to open, ``shown`` the
    spelling results use (relative to its root when that resolves back to
    it), ``info`` its status."""

    real: str
    shown: str
    info: os.stat_result

    @property
    def is_dir(self) -> bool:
        return stat.S_ISDIR(self.info.st_mode)


def _inside(path: str, root: str) -> bool:
    if path == root:
        return True
    prefix = root if root.endswith(os.sep) else root + os.sep
    return path.startswith(prefix)


def _below(path: str, root: str) -> str:
    """``path``, inside ``root``, relative to it ("." for the root)."""
    if path == root:
        return "."
    return path[len(root) :].lstrip(os.sep)


def _kind(mode: int) -> str:
    if stat.S_ISFIFO(mode):
        return "a FIFO"
    if stat.S_ISCHR(mode) or stat.S_ISBLK(mode):
        return "a device"
    if stat.S_ISSOCK(mode):
        return "a socket"
    return "not a regular file"


class Roots:
    """The folders a server may read, resolved once."""

    def __init__(self, roots: Sequence[str], max_size: int) -> None:
        self.given = [os.path.abspath(r) for r in roots]
        self.real = [os.path.realpath(r) for r in roots]
        self.max_size = max_size
        self._listed: dict[str, Any] = {}

    def _root_of(self, real: str) -> str | None:
        return next((r for r in self.real if _inside(real, r)), None)

    def shown(self, real: str) -> str:
        """How results spell ``real``: relative to the first root holding it
        when no earlier root holds that relative path too, else absolute."""
        for index, root in enumerate(self.real):
            if _inside(real, root):
                rel = _below(real, root)
                if index and any(os.path.lexists(os.path.join(g, rel)) for g in self.given[:index]):
                    return real
                return "." if rel == "." else rel.replace(os.sep, "/")
        return real

    def _lexical(self, path: str) -> str:
        """``path`` relative to the root it lies in as written, links unresolved."""
        for root in (*self.real, *self.given):
            if _inside(path, root):
                return os.path.relpath(path, root).replace(os.sep, "/")
        return path

    def _candidate(self, path: str) -> str:
        """The unresolved path ``path`` names: absolute ones as they are,
        relative ones under the first root where they exist."""
        if os.path.isabs(path):
            norm = os.path.normpath(path)
            if not any(_inside(norm, r) for r in (*self.given, *self.real)):
                raise Refused(f"refused: {path} is an absolute path outside the roots")
            return norm
        for given, real in zip(self.given, self.real):
            for root in dict.fromkeys((given, real)):
                norm = os.path.normpath(os.path.join(root, path))
                if not _inside(norm, root):
                    raise Refused(f"refused: {path} leads outside the roots ('..')")
            candidate = os.path.normpath(os.path.join(given, path))
            if os.path.lexists(candidate):
                return candidate
        return os.path.normpath(os.path.join(self.given[0], path))

    def resolve(self, path: str, *, folder: bool = False) -> Target:
        """Check ``path`` against every rule; a folder only when ``folder``."""
        if not path:
            raise ToolError("path is empty")
        if "\0" in path:
            raise ToolError("path holds a NUL character")
        candidate = self._candidate(path)
        real = os.path.realpath(candidate)
        if self._root_of(real) is None:
            raise Refused(f"refused: {path} is a symbolic link that points outside the roots")
        try:
            info = os.stat(real)
        except OSError as exc:
            raise ToolError(f"{path}: {os_error_text(exc)}") from None
        if stat.S_ISDIR(info.st_mode):
            if not folder:
                raise ToolError(f"{path} is a folder; this tool reads one file")
        else:
            self.check_file(path, info)
        return Target(real, self.shown(real), info)

    def check_file(self, path: str, info: os.stat_result) -> None:
        if not stat.S_ISREG(info.st_mode):
            raise Refused(f"refused: {path} is {_kind(info.st_mode)}; only regular files are read")
        if info.st_size > self.max_size:
            limit = f"the {self.max_size}-byte limit (--max-size)"
            raise Refused(f"refused: {path} has {info.st_size} bytes, more than {limit}")

    def walk(self, folder: Target) -> Iterator[tuple[str, str, os.stat_result | None, str | None]]:
        """The SQL files under ``folder`` (the default name patterns), sorted
        by the name shown: ``(real, shown, info, refusal)``, with ``info``
        None and ``refusal`` set for a file a rule refuses.  Links are
        followed, each folder visited once, never out of the roots.

        The names found are kept while no folder visited has changed (its
        change time, which any entry added, removed or renamed moves); the
        status of each file is taken afresh every time."""
        folders, names = self._listed.get(folder.real, ((), ()))
        if not folders or any(_folder_state(path) != state for path, state in folders):
            folders, names = self._list(folder.real)
            self._listed[folder.real] = (folders, names)
        for real, shown, refusal in names:
            if refusal is not None:
                yield real, shown, None, refusal
                continue
            try:
                info = os.stat(real)
                self.check_file(shown, info)
            except OSError as exc:
                yield real, shown, None, os_error_text(exc)
                continue
            except Refused as exc:
                yield real, shown, None, str(exc)
                continue
            yield real, shown, info, None

    def _list(self, top: str) -> tuple[tuple[tuple[str, Any], ...], tuple[tuple[str, str, str | None], ...]]:
        """The folders visited under ``top``, with their states, and the SQL
        files found, as ``(real, shown, refusal)``."""
        found: dict[str, tuple[str, str, str | None]] = {}
        folders: list[tuple[str, Any]] = []
        visited: set[tuple[int, int]] = set()
        pending = [top]  # resolved folders
        while pending:
            real_dir = pending.pop()
            state = _folder_state(real_dir)
            try:
                info = os.stat(real_dir)
                if (info.st_dev, info.st_ino) in visited:
                    continue
                visited.add((info.st_dev, info.st_ino))
                with os.scandir(real_dir) as listing:
                    entries = list(listing)
            except OSError:
                continue
            finally:
                folders.append((real_dir, state))
            for entry in entries:
                # Only a link needs resolving: the folder's path is resolved.
                real = os.path.realpath(entry.path) if entry.is_symlink() else entry.path
                inside = self._root_of(real) is not None
                try:
                    is_dir = entry.is_dir()
                except OSError:
                    is_dir = False
                if is_dir:
                    if inside:
                        pending.append(real)
                    continue
                if not _SQL_NAME.match(entry.name.lower()):
                    continue
                if inside:
                    shown = self.shown(real)
                    found[shown] = (real, shown, None)
                else:
                    shown = self._lexical(entry.path)
                    found[shown] = (real, shown, "refused: a symbolic link that points outside the roots")
        return tuple(folders), tuple(found[key] for key in sorted(found))


def _folder_state(path: str) -> Any:
    try:
        info = os.stat(path)
    except OSError as exc:
        return exc.errno
    return (info.st_mtime_ns, info.st_ctime_ns, info.st_ino, info.st_dev)
