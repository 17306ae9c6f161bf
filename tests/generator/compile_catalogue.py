"""Generates one catalogue file alone into a temporary directory and compiles
every generated source with the build's compiler, warnings as errors.

    compile_catalogue.py FILE.toml CXX [-I DIR ...]

Proves that a catalogue the generator accepts gives C++ that compiles, in
particular tests/catalogue/hostile.toml, whose names would break the output
if they were spelled natively.
"""

import subprocess
import sys
import tempfile
from pathlib import Path

GENERATOR = Path(__file__).resolve().parents[2] / "generator" / "generate.py"
FLAGS = ["-std=c++17", "-fsyntax-only", "-Wall", "-Wextra", "-Wpedantic", "-Werror"]


def main(catalogue_file, cxx, *includes):
    # The compiler searches its own system directories; listing one with -I
    # would reorder them and break #include_next in the standard headers.
    includes = [i for i in includes if i not in ("-I/usr/include", "-I/usr/local/include")]
    with tempfile.TemporaryDirectory() as work:
        catalogue, out = Path(work, "catalogue"), Path(work, "out")
        catalogue.mkdir()
        Path(catalogue, Path(catalogue_file).name).write_bytes(Path(catalogue_file).read_bytes())
        generated = subprocess.run([sys.executable, "-B", str(GENERATOR), "--catalogue", str(catalogue),
                                    "--output", str(out)], capture_output=True, text=True)
        if generated.returncode != 0:
            print(f"generator refused {catalogue_file}: {generated.stderr.strip()}")
            return 1
        sources = sorted(out.rglob("*.cpp"))
        failed = 0
        for source in sources:
            command = [cxx, *FLAGS, f"-I{out / 'include'}", *includes, str(source)]
            result = subprocess.run(command, capture_output=True, text=True)
            status = "ok" if result.returncode == 0 else "FAILED"
            print(f"{status}: {source.relative_to(out)}")
            if result.returncode != 0:
                failed += 1
                print(result.stderr)
        print(f"{len(sources) - failed} of {len(sources)} generated sources compile")
        return 1 if failed or not sources else 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
