"""The generator's contract with its user: a refused catalogue, an unreadable
file, a failed write or a fault of its own is one line on stderr and exit
status 1, with nothing written; names that would break C++ are mapped by one
rule; keys it can derive may be left out."""

import contextlib
import io
import os
import sys
import tempfile
import unittest
from pathlib import Path
from unittest import mock

GENERATOR = Path(__file__).resolve().parents[2] / "generator"
sys.path.insert(0, str(GENERATOR))

import generate  # noqa: E402
from tigen.loader import load  # noqa: E402

COMMON = """
[[types]]
unit = "common"
namespace = ""
wire = "com.example.pkg"

[[types.structure]]
name = "NetworkAddress"
fields = [
  { wire = "hostname", type = "string" },
  { wire = "port", type = "integer", presence = "optional" },
]
"""

# Derivable keys are left out, except the wire name of RoundPart, which
# differs from the derived one.
SERVICE = """
[[service]]
unit = "things"
namespace = "Things"
class = "ThingsSvc"
id = "com.example.pkg.things"
resource_type = "com.example.pkg.thing"

[[service.enumeration]]
name = "Kind"
constants = ["ROUND", "SQUARE"]

[[service.structure]]
name = "RoundPart"
wire = "round"
fields = [
  { wire = "radius", type = "integer" },
]

[[service.structure]]
name = "Info"
fields = [
  { wire = "thing", type = "string" },
  { wire = "kind", type = "Kind" },
  { wire = "round_part", type = "RoundPart", presence = "union-case" },
  { wire = "address", type = "NetworkAddress" },
]
[service.structure.union]
tag = "kind"
cases = [
  { field = "round_part", tags = ["ROUND"] },
]
[service.structure.metadata]
name = "com.example.pkg.Things.Info"
identifiers = { thing = "com.example.pkg.thing" }

[[service.operation]]
name = "get"
params = [
  { wire = "thing", type = "string" },
]
result = "Info"
errors = ["NotFound", "Error"]

[[service.operation]]
name = "create"
params = [
  { wire = "spec", type = "Info" },
]
result = "void"
errors = ["AlreadyExists"]
"""

THINGS = "sub/things.toml"


def edit(old, new, text=SERVICE):
    if old not in text:
        raise AssertionError(f"test edit does not apply: {old!r}")
    return text.replace(old, new, 1)


def write_catalogue(root, service=SERVICE, common=COMMON):
    Path(root, "common.toml").write_text(common)
    Path(root, "sub").mkdir(exist_ok=True)
    Path(root, THINGS).write_text(service)


def run(*argv):
    """(exit status, stderr) of the generator run in-process."""
    err = io.StringIO()
    with contextlib.redirect_stderr(err), contextlib.redirect_stdout(io.StringIO()):
        status = generate.main([str(a) for a in argv])
    return status, err.getvalue()


class Failures(unittest.TestCase):
    def assertRefused(self, status, stderr, *fragments):
        self.assertEqual(status, 1)
        self.assertEqual(stderr.count("\n"), 1, f"not one line: {stderr!r}")
        self.assertTrue(stderr.startswith("error: "), stderr)
        self.assertNotIn("Traceback", stderr)
        for fragment in fragments:
            self.assertIn(fragment, stderr)

    # (edited service file, entry named, message); the file named is THINGS, the
    # entry is named after the file.
    REFUSALS = [
        # types and references
        (edit('type = "Kind" }', 'type = "Shape" }'), "structure Info, field kind", "unknown type 'Shape'"),
        (edit('type = "integer" }', 'type = "list<Part>" }'), "field radius", "unknown type 'Part'"),
        (edit('type = "integer" }', 'type = "list<string" }'), "field radius", "malformed type 'list<string'"),
        (edit('type = "integer" }', 'type = "map<string, blob>" }'), "field radius", "map keys must be integers"),
        (edit('type = "integer" }', 'type = "set<RoundPart>" }'), "field radius", "a set holds"),
        (edit('type = "Kind" }', 'type = "ThingsSvc" }'), "field kind", "'ThingsSvc' is a service"),
        (edit('result = "Info"', 'result = "Infos"'), "operation get, result", "unknown type 'Infos'"),
        (edit('{ wire = "radius", type = "integer" }', '{ wire = "radius", type = "Info" }'),
         "structure", "structures refer to each other:"),
        # duplicates
        (edit('{ wire = "radius", type = "integer" },', '{ wire = "radius", type = "integer" },\n'
              '  { wire = "radius", type = "string" },'), "structure RoundPart, field radius", "duplicate field"),
        (edit('{ wire = "thing", type = "string" },\n]\nresult', '{ wire = "thing", type = "string" },\n'
              '  { wire = "thing", type = "blob" },\n]\nresult'), "operation get, param thing", "duplicate param"),
        (edit('name = "Info"\n', 'name = "RoundPart"\n'), "structure RoundPart", "declared twice"),
        (edit('"ROUND", "SQUARE"', '"ROUND", "ROUND"'), "enumeration Kind", "duplicate constant 'ROUND'"),
        (edit('name = "create"', 'name = "get"'), "operation get", "duplicate operation 'get'"),
        (edit('["NotFound", "Error"]', '["NotFound", "NotFound"]'), "operation get", "duplicate error"),
        # spellings
        (edit('wire = "radius"', 'wire = "Radius"'), "structure RoundPart", "bad wire name 'Radius'"),
        (edit('wire = "round"\n', 'wire = "round-part"\n'), "structure RoundPart", "bad wire name 'round-part'"),
        (edit('name = "get"', 'name = "Get"'), "operation Get", "bad wire name 'Get'"),
        (edit('id = "com.example.pkg.things"', 'id = "things"'), "service ThingsSvc", "bad service id"),
        (edit('class = "ThingsSvc"', 'class = "Things"'), "service Things", "bad service class"),
        (edit('name = "Info"\n', 'name = "InfoMethod"\n'), "structure InfoMethod", "bad structure name"),
        (edit('"ROUND", "SQUARE"', '"round", "SQUARE"'), "enumeration Kind", "bad constant 'round'"),
        (edit('"ROUND", "SQUARE"', '"ROUND", "_UNKNOWN"'), "enumeration Kind", "'_UNKNOWN' is implied"),
        # keys
        (edit('name = "RoundPart"\n', ''), "structure #1", "missing required key 'name'"),
        (edit('errors = ["AlreadyExists"]\n', ''), "operation #2", "missing required key 'errors'"),
        (edit('type = "integer" }', 'type = "integer", optional = true }'), "field #1", "unknown key 'optional'"),
        (edit('constants = ["ROUND", "SQUARE"]', 'constants = "ROUND"'), "enumeration #1", "must be an array"),
        (edit('presence = "union-case"', 'presence = "maybe"'), "field round_part", "bad presence 'maybe'"),
        (edit('{ wire = "thing", type = "string" },\n]\nresult',
              '{ wire = "thing", type = "string", presence = "union-case" },\n]\nresult'),
         "operation get, param thing", "bad presence 'union-case'"),
        (SERVICE + "\n[[service\n", "", "not valid TOML"),
        # derived keys that may only restate the derived value
        (edit('name = "get"\n', 'name = "get"\nmethod = "FetchMethod"\n'), "operation get",
         "method class 'FetchMethod' should be 'GetMethod'"),
        (edit('tag = "kind"', 'annotations = "InfoUnion"\ntag = "kind"'), "structure Info, union",
         "annotation class 'InfoUnion' should be 'InfoAnnotations'"),
        (edit('{ field = "round_part", tags', '{ field = "round_part", class = "RoundCases", tags'),
         "union, case round_part", "case class 'RoundCases' should be 'RoundPartUnionCases'"),
        (edit('[service.structure.union]', 'descend = []\n[service.structure.union]'), "structure Info",
         "descend lists [] but validation descends into the required structure fields ['address']"),
        (edit('errors = ["AlreadyExists"]', 'errors = ["AlreadyExists"]\ndescend = ["spec", "spec"]'),
         "operation create", "descend lists ['spec', 'spec'] but validation descends into the structure "
                             "parameters ['spec']"),
        # unions
        (edit('tags = ["ROUND"]', 'tags = ["OVAL"]'), "structure Info, union, case round_part",
         "tag value 'OVAL' is not a constant of Kind"),
        (edit('{ field = "round_part"', '{ field = "square_part"'), "union, case square_part",
         "case field 'square_part' is not a field of Info"),
        (edit('presence = "union-case"', 'presence = "optional"'), "union, case round_part",
         "must have presence 'union-case'"),
        (edit('tag = "kind"', 'tag = "address"'), "structure Info, union", "must be a required enumeration"),
        (edit('tags = ["ROUND"]', 'tags = []'), "case round_part", "at least one tag value"),
        (SERVICE.split("[service.structure.union]")[0] + "[service.structure.metadata]" +
         SERVICE.split("[service.structure.metadata]")[1], "structure Info, field round_part",
         "a union-case field needs a [union] table"),
        # metadata and operations
        (edit('identifiers = { thing', 'identifiers = { things'), "structure Info, metadata",
         "identifier field 'things' is not a field of Info"),
        (edit('identifiers = { thing', 'identifiers = { kind'), "metadata", "identifier field 'kind' must hold"),
        (edit('["NotFound", "Error"]', '["Missing"]'), "service ThingsSvc, operation get",
         "error 'Missing' is not a standard error"),
        (SERVICE.split("[[service.operation]]")[0], "service ThingsSvc", "a service needs at least one operation"),
    ]

    def test_refusals(self):
        for service, entry, message in self.REFUSALS:
            with self.subTest(entry=entry, message=message), tempfile.TemporaryDirectory() as root:
                write_catalogue(root, service)
                out = Path(root, "out")
                status, stderr = run("--catalogue", root, "--output", out)
                self.assertRefused(status, stderr, entry, message)
                self.assertRegex(stderr, f"^error: catalogue {THINGS}(, service ThingsSvc)?[,:]")
                self.assertFalse(out.exists(), "nothing is written")

    def test_refusals_across_files(self):
        holder = '\n[[types.structure]]\nname = "Holder"\nfields = [ { wire = "k", type = "%s" } ]\n'
        cases = [
            # A service's types are not visible unqualified from elsewhere...
            (COMMON + holder % "Kind", "common.toml, types (top level), structure Holder, field k",
             "unknown type 'Kind'"),
            # ...and qualified, here they make two units include each other.
            (COMMON + holder % "Things::ThingsSvc::Kind", "common.toml", "units depend on each other"),
        ]
        for common, entry, message in cases:
            with self.subTest(message), tempfile.TemporaryDirectory() as root:
                write_catalogue(root, common=common)
                self.assertRefused(*run("--catalogue", root, "--output", Path(root, "out")), entry, message)

    def test_unreadable_catalogue_files(self):
        with tempfile.TemporaryDirectory() as root:
            write_catalogue(root)
            Path(root, "sub", "bad.toml").write_bytes(b'[[types]]\nunit = "\xff"\n')
            self.assertRefused(*run("--catalogue", root, "--output", Path(root, "out")), "sub/bad.toml",
                               "not valid TOML")
            Path(root, "sub", "bad.toml").unlink()
            Path(root, "sub", "dir.toml").mkdir()
            self.assertRefused(*run("--catalogue", root, "--output", Path(root, "out")), "sub/dir.toml",
                               "cannot read")
            self.assertFalse(Path(root, "out").exists())

    def test_usage_errors(self):
        with tempfile.TemporaryDirectory() as root:
            self.assertRefused(*run("--catalogue", root), "--output is required")
            self.assertRefused(*run("--catalogue", Path(root, "none"), "--output", root), "not a catalogue")
            self.assertRefused(*run("--catalogue", root, "--output", root), "no catalogue files")
            self.assertRefused(*run("--output", root), "--catalogue")

    def test_failed_write_leaves_the_previous_output(self):
        with tempfile.TemporaryDirectory() as root:
            write_catalogue(root)
            out = Path(root, "out")
            header = out / "include/dral/trusted_infrastructure/common.hpp"
            header.parent.mkdir(parents=True)
            header.write_text("old\n")
            (out / "src").write_text("a file where a directory is needed\n")
            status, stderr = run("--catalogue", root, "--output", out)
            self.assertRefused(status, stderr, str(out / "src"))
            self.assertEqual(header.read_text(), "old\n")
            self.assertEqual(sorted(p.name for p in out.rglob("*")),
                             sorted(["include", "dral", "trusted_infrastructure", "common.hpp", "src"]))

    def test_failed_rename_puts_back_what_was_placed(self):
        with tempfile.TemporaryDirectory() as root:
            write_catalogue(root)
            out = Path(root, "out")
            header = out / "include/dral/trusted_infrastructure/common.hpp"
            header.parent.mkdir(parents=True)
            header.write_text("old\n")
            real, calls = os.replace, []

            def replace(src, dst):
                calls.append(dst)
                if len(calls) == 3:
                    raise OSError(28, "No space left on device", str(dst))
                real(src, dst)

            with mock.patch.object(generate.os, "replace", replace):
                self.assertRefused(*run("--catalogue", root, "--output", out), "No space left on device")
            self.assertEqual(len(calls), 3)
            self.assertEqual(header.read_text(), "old\n")
            self.assertEqual([p for p in out.rglob("*") if p.is_file()], [header])

    def test_generator_fault_is_one_line(self):
        with tempfile.TemporaryDirectory() as root:
            write_catalogue(root)
            with mock.patch.object(generate, "render_all", side_effect=KeyError("slot")):
                self.assertRefused(*run("--catalogue", root, "--output", Path(root, "out")),
                                   "internal generator failure: KeyError")
            self.assertFalse(Path(root, "out").exists())


class Loaded(unittest.TestCase):
    def load(self, service=SERVICE):
        """The catalogue, and its unit "things"."""
        with tempfile.TemporaryDirectory() as root:
            write_catalogue(root, service)
            catalogue = load(root)
        return catalogue, next(u for u in catalogue.units if u.path == "things")

    def test_derived_keys(self):
        _, things = self.load()
        round_part, info = things.structures
        self.assertEqual(round_part.wire, "com.example.pkg.things.round")  # written, differs: used
        self.assertEqual(info.wire, "com.example.pkg.things.info")
        self.assertEqual(things.enumerations[0].wire, "com.example.pkg.things.kind")
        self.assertEqual(info.union.annotations, "InfoAnnotations")
        self.assertEqual([c.cls for c in info.union.cases], ["RoundPartUnionCases"])
        self.assertEqual(info.descend, ["address"])
        self.assertEqual(round_part.descend, [])
        self.assertEqual([(op.method, op.native, op.descend) for op in things.service.operations],
                         [("GetMethod", "Get", []), ("CreateMethod", "Create", ["spec"])])

    def test_restated_derived_keys_are_accepted(self):
        service = edit('tag = "kind"', 'annotations = "InfoAnnotations"\ntag = "kind"')
        service = edit('name = "get"\n', 'name = "get"\nmethod = "GetMethod"\n', service)
        service = edit('{ field = "round_part", tags', '{ field = "round_part", class = "RoundPartUnionCases", tags',
                       service)
        service = edit('[service.structure.union]', 'descend = ["address"]\n[service.structure.union]', service)
        self.assertEqual(self.load(service)[1].structures[1].descend, ["address"])

    def test_hazardous_native_names_change_but_wire_names_do_not(self):
        # That the hazards compile is proved by tests/catalogue/hostile.toml;
        # here: the wire keeps every name as written.
        service = SERVICE + """
[[service.enumeration]]
name = "Value"
constants = ["NULL", "VALUE"]

[[service.structure]]
name = "EOF"
fields = [
  { wire = "class", type = "string" },
  { wire = "and_eq", type = "string" },
]

[[service.operation]]
name = "info"
params = [
  { wire = "input", type = "Value" },
]
result = "void"
errors = []
"""
        _, things = self.load(service)
        value, eof, info = things.enumerations[1], things.structures[2], things.service.operations[2]
        self.assertEqual((value.name, value.members, value.constants),
                         ("Value_", ["NULL_", "VALUE"], ["NULL", "VALUE"]))
        self.assertEqual((eof.name, eof.wire), ("EOF_", "com.example.pkg.things.eof"))
        self.assertEqual([(f.member, f.wire) for f in eof.fields], [("class_", "class"), ("andEq", "and_eq")])
        self.assertEqual((info.native, info.name, info.params[0].member), ("Info_", "info", "input_"))
        self.assertEqual(info.params[0].type.decl, value)  # referred to by its catalogue name

if __name__ == "__main__":
    unittest.main()
