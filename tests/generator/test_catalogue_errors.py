"""The generator refuses malformed catalogues with a message naming the file
and the entry, and a non-zero exit."""

import os
import subprocess
import sys
import tempfile
import textwrap
import unittest
from pathlib import Path

GENERATOR = Path(__file__).resolve().parents[2] / "generator"
sys.path.insert(0, str(GENERATOR))

from tigen.errors import CatalogueError  # noqa: E402
from tigen.loader import load  # noqa: E402

COMMON = """
[[types]]
unit = "common"
namespace = ""
wire = "com.example.pkg"

[[types.structure]]
name = "NetworkAddress"
wire = "network_address"
fields = [
  { wire = "hostname", type = "string" },
  { wire = "port", type = "integer", presence = "optional" },
]
"""

SERVICE = """
[[service]]
unit = "things"
namespace = "Things"
class = "ThingsSvc"
id = "com.example.pkg.things"
resource_type = "com.example.pkg.thing"

[[service.enumeration]]
name = "Kind"
wire = "kind"
constants = ["ROUND", "SQUARE"]

[[service.structure]]
name = "RoundPart"
wire = "round_part"
fields = [
  { wire = "radius", type = "integer" },
]

[[service.structure]]
name = "Info"
wire = "info"
fields = [
  { wire = "thing", type = "string" },
  { wire = "kind", type = "Kind" },
  { wire = "round_part", type = "RoundPart", presence = "union-case" },
  { wire = "address", type = "NetworkAddress" },
]
descend = ["address"]
[service.structure.union]
annotations = "InfoAnnotations"
tag = "kind"
cases = [
  { field = "round_part", class = "RoundPartUnionCases", tags = ["ROUND"] },
]
[service.structure.metadata]
name = "com.example.pkg.Things.Info"
identifiers = { thing = "com.example.pkg.thing" }

[[service.operation]]
name = "get"
method = "GetMethod"
params = [
  { wire = "thing", type = "string" },
]
result = "Info"
errors = ["NotFound", "Error"]

[[service.operation]]
name = "create"
method = "CreateMethod"
params = [
  { wire = "spec", type = "Info" },
]
result = "void"
errors = ["AlreadyExists"]
descend = ["spec"]
"""


class CatalogueCase(unittest.TestCase):
    """Loads a two-file catalogue, the service file edited by each test."""

    def load(self, service=SERVICE, common=COMMON):
        with tempfile.TemporaryDirectory() as root:
            Path(root, "common.toml").write_text(common)
            Path(root, "sub").mkdir()
            Path(root, "sub", "things.toml").write_text(service)
            return load(root)

    def refuse(self, pattern, service=SERVICE, common=COMMON, where="sub/things.toml"):
        with self.assertRaises(CatalogueError) as caught:
            self.load(service, common)
        message = str(caught.exception)
        self.assertIn(where, message)
        self.assertRegex(message, pattern)
        return message

    def edit(self, old, new, text=SERVICE):
        self.assertIn(old, text, "test edit does not apply")
        return text.replace(old, new, 1)


class ValidCatalogue(CatalogueCase):
    def test_loads_and_resolves(self):
        catalogue = self.load()
        things = next(u for u in catalogue.units if u.path == "things")
        info = things.structures[1]
        self.assertEqual(info.wire, "com.example.pkg.things.info")
        self.assertEqual([f.member for f in info.fields], ["thing", "kind", "roundPart", "address"])
        self.assertEqual(info.field("address").type.decl.qualified, ("NetworkAddress",))
        self.assertEqual(info.descend, ["address"])
        self.assertEqual(info.union.cases[0].tags, ["ROUND"])
        self.assertEqual([d.path for d in things.depends], ["common"])
        self.assertEqual([op.native for op in things.service.operations], ["Get", "Create"])

    def test_descend_defaults_to_none(self):
        catalogue = self.load(SERVICE.replace('descend = ["address"]\n', "").replace(
            '{ wire = "address", type = "NetworkAddress" }',
            '{ wire = "address", type = "NetworkAddress", presence = "optional" }'))
        info = next(u for u in catalogue.units if u.path == "things").structures[1]
        self.assertEqual(info.descend, [])


class UnknownReferences(CatalogueCase):
    def test_unknown_field_type(self):
        msg = self.refuse(r"unknown type 'Shape'",
                          self.edit('type = "Kind" }', 'type = "Shape" }'))
        self.assertIn("structure Info, field kind", msg)

    def test_unknown_type_inside_container(self):
        self.refuse(r"unknown type 'Part'", self.edit('type = "integer" }', 'type = "list<Part>" }'))

    def test_type_of_another_service_scope_is_not_visible_unqualified(self):
        common = COMMON + '\n[[types.structure]]\nname = "Holder"\nwire = "holder"\n' \
                          'fields = [ { wire = "k", type = "Kind" } ]\n'
        self.refuse(r"unknown type 'Kind'", common=common, where="common.toml")

    def test_qualified_reference_resolves(self):
        common = COMMON + '\n[[types.structure]]\nname = "Holder"\nwire = "holder"\n' \
                          'fields = [ { wire = "k", type = "Things::ThingsSvc::Kind" } ]\n'
        with self.assertRaisesRegex(CatalogueError, "units depend on each other: common -> things -> common"):
            self.load(common=common)

    def test_unknown_result_type(self):
        self.refuse(r"operation get, result: unknown type 'Infos'",
                    self.edit('result = "Info"', 'result = "Infos"'))

    def test_service_is_not_a_type(self):
        self.refuse(r"'ThingsSvc' is a service", self.edit('type = "Kind" }', 'type = "ThingsSvc" }'))

    def test_malformed_type(self):
        self.refuse(r"malformed type 'list<string'", self.edit('type = "integer" }', 'type = "list<string" }'))
        self.refuse(r"'map' takes 2", self.edit('type = "integer" }', 'type = "map<integer>" }'))
        self.refuse(r"map keys must be integers", self.edit('type = "integer" }', 'type = "map<string, blob>" }'))
        self.refuse(r"a set holds", self.edit('type = "integer" }', 'type = "set<RoundPart>" }'))


class Duplicates(CatalogueCase):
    def test_duplicate_field(self):
        msg = self.refuse(r"duplicate field 'radius'", self.edit(
            '{ wire = "radius", type = "integer" },',
            '{ wire = "radius", type = "integer" },\n  { wire = "radius", type = "string" },'))
        self.assertIn("structure RoundPart", msg)

    def test_duplicate_parameter(self):
        self.refuse(r"operation get, param thing: duplicate param 'thing'", self.edit(
            'params = [\n  { wire = "thing", type = "string" },', 'params = [\n  { wire = "thing", type = "string" },\n'
            '  { wire = "thing", type = "string" },'))

    def test_duplicate_type(self):
        self.refuse(r"'Things::ThingsSvc::RoundPart' is declared twice",
                    SERVICE.replace('name = "Info"\nwire = "info"', 'name = "RoundPart"\nwire = "round_part"'))

    def test_duplicate_constant(self):
        self.refuse(r"enumeration Kind: duplicate constant 'ROUND'", self.edit('"ROUND", "SQUARE"', '"ROUND", "ROUND"'))

    def test_duplicate_operation(self):
        self.refuse(r"duplicate operation 'get'", self.edit('name = "create"\nmethod = "CreateMethod"',
                                                            'name = "get"\nmethod = "GetMethod"'))

    def test_duplicate_error(self):
        self.refuse(r"duplicate error 'NotFound'", self.edit('["NotFound", "Error"]', '["NotFound", "NotFound"]'))

    def test_duplicate_unit(self):
        self.refuse(r"duplicate unit 'common'", self.edit('unit = "things"', 'unit = "common"'), where="")


class WireNames(CatalogueCase):
    def test_bad_field_wire_name(self):
        msg = self.refuse(r"bad wire name 'Radius'", self.edit('wire = "radius"', 'wire = "Radius"'))
        self.assertIn("structure RoundPart", msg)

    def test_acronym_segment_is_allowed(self):
        info = self.load(self.edit('wire = "radius"', 'wire = "radius_CM"')).units[1].structures[0]
        self.assertEqual(info.fields[0].member, "radiusCM")

    def test_bad_structure_wire_name(self):
        self.refuse(r"bad wire name 'round-part'", self.edit('wire = "round_part"\n', 'wire = "round-part"\n'))

    def test_structure_wire_name_must_match_class(self):
        self.refuse(r"'roundpart' is not the lower-case form of 'RoundPart'",
                    self.edit('wire = "round_part"\n', 'wire = "roundpart"\n'))

    def test_bad_operation_wire_name(self):
        self.refuse(r"bad wire name 'Get'", self.edit('name = "get"', 'name = "Get"'))

    def test_method_class_must_match(self):
        self.refuse(r"method class 'FetchMethod' should be 'GetMethod'",
                    self.edit('method = "GetMethod"', 'method = "FetchMethod"'))

    def test_bad_service_id(self):
        self.refuse(r"bad service id 'things'", self.edit('id = "com.example.pkg.things"', 'id = "things"'))

    def test_bad_constant(self):
        self.refuse(r"bad constant 'round'", self.edit('"ROUND", "SQUARE"', '"round", "SQUARE"'))

    def test_unknown_constant_is_implied(self):
        self.refuse(r"'_UNKNOWN' is implied", self.edit('"ROUND", "SQUARE"', '"ROUND", "_UNKNOWN"'))


class MissingAndUnknownKeys(CatalogueCase):
    def test_missing_structure_key(self):
        self.refuse(r"structure #1: missing required key 'wire'", self.edit('name = "RoundPart"\nwire = "round_part"\n',
                                                                           'name = "RoundPart"\n'))

    def test_missing_field_type(self):
        self.refuse(r"field #1: missing required key 'type'", self.edit('{ wire = "radius", type = "integer" }',
                                                                       '{ wire = "radius" }'))

    def test_missing_service_id(self):
        self.refuse(r"service #1: missing required key 'id'", self.edit('id = "com.example.pkg.things"\n', ''))

    def test_missing_operation_errors(self):
        self.refuse(r"operation #2: missing required key 'errors'", self.edit('errors = ["AlreadyExists"]\n', ''))

    def test_unknown_key(self):
        self.refuse(r"unknown key 'optional'", self.edit('type = "integer" }', 'type = "integer", optional = true }'))

    def test_wrong_value_kind(self):
        self.refuse(r"key 'constants' must be an array", self.edit('constants = ["ROUND", "SQUARE"]', 'constants = "ROUND"'))

    def test_bad_presence(self):
        self.refuse(r"bad presence 'maybe'", self.edit('presence = "union-case"', 'presence = "maybe"'))

    def test_union_case_parameter_refused(self):
        self.refuse(r"bad presence 'union-case'", self.edit(
            'params = [\n  { wire = "thing", type = "string" }',
            'params = [\n  { wire = "thing", type = "string", presence = "union-case" }'))

    def test_not_toml(self):
        self.refuse(r"not valid TOML", SERVICE + "\n[[service\n")


class Unions(CatalogueCase):
    def test_case_naming_an_unknown_tag_value(self):
        msg = self.refuse(r"tag value 'OVAL' is not a constant of Kind", self.edit('tags = ["ROUND"]', 'tags = ["OVAL"]'))
        self.assertIn("structure Info, union, case round_part", msg)

    def test_case_field_must_exist(self):
        self.refuse(r"case field 'square_part' is not a field of Info",
                    self.edit('{ field = "round_part"', '{ field = "square_part"'))

    def test_case_field_must_be_union_case(self):
        self.refuse(r"must have presence 'union-case'", self.edit('presence = "union-case"', 'presence = "optional"'))

    def test_union_case_field_without_union(self):
        text = SERVICE.split("[service.structure.union]")[0] + "[service.structure.metadata]" + \
            SERVICE.split("[service.structure.metadata]")[1]
        self.refuse(r"field round_part: a union-case field needs a \[union\] table", text)

    def test_tag_must_be_an_enumeration(self):
        self.refuse(r"tag field 'address' must be a required enumeration", self.edit('tag = "kind"', 'tag = "address"'))

    def test_annotation_class_names(self):
        self.refuse(r"annotation class 'InfoUnion' should be 'InfoAnnotations'",
                    self.edit('annotations = "InfoAnnotations"', 'annotations = "InfoUnion"'))
        self.refuse(r"case class 'RoundCases' should be 'RoundPartUnionCases'",
                    self.edit('class = "RoundPartUnionCases"', 'class = "RoundCases"'))


class Operations(CatalogueCase):
    def test_error_not_a_standard_error(self):
        msg = self.refuse(r"error 'Missing' is not a standard error", self.edit('["NotFound", "Error"]', '["Missing"]'))
        self.assertIn("service ThingsSvc, operation get", msg)

    def test_reserved_parameter_name(self):
        self.refuse(r"param result: parameter name 'result' is reserved",
                    self.edit('params = [\n  { wire = "thing"', 'params = [\n  { wire = "result"'))

    def test_service_without_operations(self):
        text = SERVICE.split("[[service.operation]]")[0]
        self.refuse(r"service ThingsSvc: a service needs at least one operation", text)

    def test_service_class_suffix(self):
        self.refuse(r"bad service class 'Things'", self.edit('class = "ThingsSvc"', 'class = "Things"'))


class Descents(CatalogueCase):
    def test_structure_descent_must_list_required_structures(self):
        msg = self.refuse(r"descend lists \[\] but validation descends into the required structure fields "
                          r"\['address'\]", self.edit('descend = ["address"]\n', ''))
        self.assertIn("structure Info", msg)

    def test_optional_structure_is_not_descended(self):
        self.refuse(r"descend lists \['address'\] but .* \[\]", self.edit(
            '{ wire = "address", type = "NetworkAddress" }',
            '{ wire = "address", type = "NetworkAddress", presence = "optional" }'))

    def test_union_case_is_not_descended(self):
        self.refuse(r"descend lists \['round_part', 'address'\]",
                    self.edit('descend = ["address"]', 'descend = ["round_part", "address"]'))

    def test_input_descent_lists_structure_parameters(self):
        self.refuse(r"operation create: descend lists \[\] but validation descends into the structure "
                    r"parameters \['spec'\]", self.edit('descend = ["spec"]\n', ''))


class MetadataEntries(CatalogueCase):
    def test_identifier_field_must_exist(self):
        self.refuse(r"identifier field 'things' is not a field of Info", self.edit('identifiers = { thing', 'identifiers = { things'))

    def test_identifier_must_hold_strings(self):
        self.refuse(r"identifier field 'kind' must hold strings", self.edit('identifiers = { thing', 'identifiers = { kind'))

    def test_bad_metadata_name(self):
        self.refuse(r"bad metadata name 'Things Info'", self.edit('name = "com.example.pkg.Things.Info"', 'name = "Things Info"'))


class CommandLine(unittest.TestCase):
    """The script exits non-zero with one line naming file and entry."""

    def run_generator(self, root, out):
        return subprocess.run([sys.executable, str(GENERATOR / "generate.py"), "--catalogue", root, "--output", out],
                              capture_output=True, text=True, env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))

    def test_malformed_catalogue_exits_non_zero(self):
        with tempfile.TemporaryDirectory() as root:
            Path(root, "common.toml").write_text(COMMON.replace('type = "string"', 'type = "strin"'))
            result = self.run_generator(root, os.path.join(root, "out"))
            self.assertNotEqual(result.returncode, 0)
            self.assertRegex(result.stderr, r"common.toml, types \(top level\), structure NetworkAddress, "
                                            r"field hostname: unknown type 'strin'")
            self.assertFalse(Path(root, "out").exists(), "nothing is written for a refused catalogue")

    def test_valid_catalogue_writes_units(self):
        with tempfile.TemporaryDirectory() as root:
            Path(root, "common.toml").write_text(COMMON)
            Path(root, "things.toml").write_text(SERVICE)
            out = Path(root, "out")
            result = self.run_generator(root, str(out))
            self.assertEqual(result.returncode, 0, result.stderr)
            for name in ("include/dral/trusted_infrastructure/common.hpp", "src/common.cpp",
                         "include/dral/trusted_infrastructure/things.hpp", "src/things.cpp"):
                self.assertTrue((out / name).is_file(), name)


if __name__ == "__main__":
    unittest.main()
