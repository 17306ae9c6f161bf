#!/usr/bin/env python3
"""Generates the C++ units of a catalogue: the trusted-infrastructure
package's, or another one (the tests' fixtures) in a namespace of its own.

    generate.py --catalogue DIR --output DIR            write the units
    generate.py --catalogue DIR --list-outputs          print their paths

    --namespace NS       root namespace of the units
                         (default Com::Corvane::Morv::TrustedInfrastructure)
    --include-root PATH  directory the headers are included from
                         (default dral/trusted_infrastructure)

Each unit gives ``include/<include root>/<unit>.hpp`` and ``src/<unit>.cpp``
under the output directory. A file whose content did not
change is left untouched, so that the build recompiles only what changed.

Any failure (a malformed catalogue, an unreadable file, a failed write, a
fault in the generator itself) is reported on one line with exit status 1,
and then nothing is written: every file is rendered first, then written
through temporary files and renamed into place, and a failure part-way puts
back what was there before.
"""

import argparse
import os
import sys
import tempfile
from pathlib import Path

sys.dont_write_bytecode = True  # keep the source tree clean when run by the build
sys.path.insert(0, str(Path(__file__).resolve().parent))

from tigen import names as layout  # noqa: E402
from tigen.cpp import Names  # noqa: E402
from tigen.emit.unit import UnitEmitter, header_path  # noqa: E402
from tigen.errors import CatalogueError  # noqa: E402
from tigen.loader import load  # noqa: E402


def outputs(catalogue):
    """(relative path, unit) of every file, headers first."""
    return ([(f"include/{header_path(u)}", u) for u in catalogue.units] +
            [(f"src/{u.path}.cpp", u) for u in catalogue.units])


def render_all(catalogue):
    names = Names(catalogue)
    files = {}
    for unit in catalogue.units:
        emitter = UnitEmitter(unit, names)
        files[f"include/{header_path(unit)}"] = emitter.header()
        files[f"src/{unit.path}.cpp"] = emitter.source()
    return files


class Failure(Exception):
    """A failure reported as is, on one line."""


def _read(path):
    """The text of `path`, or None when it does not exist."""
    try:
        return path.read_text(encoding="utf-8")
    except FileNotFoundError:
        return None
    except (OSError, UnicodeDecodeError):
        return None  # unreadable or not text: replaced like a changed file


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


def write_all(root, files):
    """Writes `files` (relative path -> text) under `root`, all or nothing.
    Files whose text is unchanged are not touched. Returns the paths written."""
    changed = []
    for rel, text in files.items():
        old = _read(root / rel)
        if old != text:
            changed.append((root / rel, text, old))
    created_dirs, temps, placed = [], [], []
    try:
        for path, text, _ in changed:
            missing = [d for d in [path.parent, *path.parent.parents] if not d.exists()]
            for directory in reversed(missing):
                directory.mkdir()
                created_dirs.append(directory)
            fd, temp = tempfile.mkstemp(dir=path.parent, prefix=f".{path.name}.", suffix=".tmp")
            temps.append(Path(temp))
            with os.fdopen(fd, "w", encoding="utf-8") as stream:
                stream.write(text)
            os.chmod(temp, 0o666 & ~_umask())  # mkstemp makes it private
        for (path, _, old), temp in zip(changed, temps):
            os.replace(temp, path)
            placed.append((path, old))
    except BaseException:
        for temp in temps:
            temp.unlink(missing_ok=True)
        for path, old in reversed(placed):
            try:
                if old is None:
                    path.unlink()
                else:
                    path.write_text(old, encoding="utf-8")
            except OSError:
                pass  # the first failure is the one reported
        for directory in reversed(created_dirs):
            try:
                directory.rmdir()
            except OSError:
                pass
        raise
    return [path for path, _, _ in changed]


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        raise Failure(message)


def run(argv):
    parser = _Parser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--catalogue", required=True, type=Path, help="catalogue root directory")
    parser.add_argument("--output", type=Path, help="output root directory")
    parser.add_argument("--list-outputs", action="store_true", help="print the output paths and stop")
    parser.add_argument("--namespace", default="::".join(layout.DEFAULT_ROOT_NAMESPACE),
                        help="root C++ namespace of the generated units")
    parser.add_argument("--include-root", default=layout.DEFAULT_INCLUDE_ROOT,
                        help="directory the generated headers are included from")
    args = parser.parse_args(argv)
    if not args.list_outputs and not args.output:
        raise Failure("--output is required unless --list-outputs is given")
    if not layout.ROOT_NAMESPACE_TEXT.match(args.namespace):
        raise Failure(f"bad namespace '{args.namespace}' (C++ names separated by '::')")
    if not layout.UNIT_PATH.match(args.include_root):
        raise Failure(f"bad include root '{args.include_root}' (lower case, '/'-separated)")
    layout.configure(tuple(args.namespace.split("::")), args.include_root)
    if not args.catalogue.is_dir():
        raise Failure(f"{args.catalogue}: not a catalogue directory")
    catalogue = load(args.catalogue)
    if args.list_outputs:
        print("\n".join(path for path, _ in outputs(catalogue)))
        return
    write_all(args.output, render_all(catalogue))


def main(argv=None):
    """Runs the generator; every failure becomes one line on stderr and status 1."""
    try:
        run(argv)
        return 0
    except SystemExit as exit_:  # --help
        return exit_.code if isinstance(exit_.code, int) else 1
    except CatalogueError as error:
        message = f"catalogue {error}"
    except Failure as error:
        message = str(error)
    except OSError as error:
        where = f"{error.filename}: " if error.filename else ""
        message = f"{where}{error.strerror or error}"
    except KeyboardInterrupt:
        message = "interrupted"
    except Exception as error:  # a fault of the generator: still one line, no traceback
        message = f"internal generator failure: {type(error).__name__}: {error}"
    print("error: " + " ".join(message.split()), file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
