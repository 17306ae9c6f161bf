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
A malformed catalogue is refused with one message naming the file and the
entry, and exit status 1; nothing is written then.
"""

import argparse
import sys
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


def write_if_changed(path, text):
    if path.exists() and path.read_text() == text:
        return False
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
    return True


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--catalogue", required=True, type=Path, help="catalogue root directory")
    parser.add_argument("--output", type=Path, help="output root directory")
    parser.add_argument("--list-outputs", action="store_true", help="print the output paths and stop")
    parser.add_argument("--namespace", default="::".join(layout.DEFAULT_ROOT_NAMESPACE),
                        help="root C++ namespace of the generated units")
    parser.add_argument("--include-root", default=layout.DEFAULT_INCLUDE_ROOT,
                        help="directory the generated headers are included from")
    args = parser.parse_args(argv)
    if not layout.ROOT_NAMESPACE_TEXT.match(args.namespace):
        parser.error(f"bad namespace '{args.namespace}' (C++ names separated by '::')")
    if not layout.UNIT_PATH.match(args.include_root):
        parser.error(f"bad include root '{args.include_root}' (lower case, '/'-separated)")
    layout.configure(tuple(args.namespace.split("::")), args.include_root)
    try:
        catalogue = load(args.catalogue)
        if args.list_outputs:
            print("\n".join(path for path, _ in outputs(catalogue)))
            return 0
        if not args.output:
            parser.error("--output is required unless --list-outputs is given")
        files = render_all(catalogue)
    except CatalogueError as error:
        print(f"error: catalogue {error}", file=sys.stderr)
        return 1
    for path, text in files.items():
        write_if_changed(args.output / path, text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
