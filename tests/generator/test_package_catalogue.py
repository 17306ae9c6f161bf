"""The package catalogue holds exactly the services, operations, structures,
validators and metadata of com.corvane.morv.trusted_infrastructure."""

import sys
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "generator"))

from tigen import model  # noqa: E402
from tigen.loader import load  # noqa: E402

CATALOGUE = load(ROOT / "catalogue")
PREFIX = "com.corvane.morv.trusted_infrastructure"


def service(*qualified):
    return next(s for u, s in CATALOGUE.services() if u.scope == qualified)


def structure(*qualified):
    return next(s for s in CATALOGUE.structures() if s.qualified == qualified)


class Counts(unittest.TestCase):
    def test_validators_cover_every_structure_and_input(self):
        inputs = [op for _, s in CATALOGUE.services() for op in s.operations if op.params]
        self.assertEqual(len(CATALOGUE.structures()), 30)
        self.assertEqual(len(inputs), 18)  # every operation but ReportsSvc list

    def test_metadata(self):
        self.assertEqual(sum(1 for s in CATALOGUE.structures() if s.metadata), 13)


# The package's wire contract, written out independently of the catalogue:
# service id and resource type (after the package prefix), then every
# operation in slot order with its declared errors in order.
# Both services registries share one shape.
SERVICES_ENTRIES = [
    ("list", "Error Unauthenticated"),
    ("get", "NotFound Error Unauthenticated"),
    ("create", "AlreadyExists InvalidArgument UnableToAllocateResource Error Unauthenticated"),
    ("delete", "NotFound Error Unauthenticated")]
CONTRACT = {
    ("Attestation", "ServicesSvc"): (".attestation.services", ".attestation.service", SERVICES_ENTRIES),
    ("Attestation", "ReportsSvc"): (".attestation.reports", None, [
        ("list", "Error NotAllowedInCurrentState Unauthenticated Unauthorized")]),
    ("Hardware", "TpmSvc"): (".hardware.tpm", ".hardware.tpm", [
        ("list", "Error InvalidArgument Unauthenticated Unauthorized"),
        ("get", "Error InvalidArgument NotFound Unauthenticated Unauthorized")]),
    ("Hardware", "Tpm", "EndorsementKeysSvc"): (".hardware.tpm.endorsement_keys", ".hardware.tpm.endorsement_key", [
        ("list", "Error InvalidArgument NotFound Unauthenticated Unauthorized"),
        ("get", "Error InvalidArgument NotFound Unauthenticated Unauthorized")]),
    ("Hardware", "Tpm", "EventLogSvc"): (".hardware.tpm.event_log", None, [
        ("get", "Error InvalidArgument NotFound Unauthenticated Unauthorized")]),
    ("Kms", "ProvidersSvc"): (".kms.providers", ".kms.provider", [
        ("list", "Error InvalidArgument Unauthenticated Unauthorized"),
        ("create", "AlreadyExists Error InvalidArgument Unauthenticated Unauthorized"),
        ("update", "Error InvalidArgument NotFound Unauthenticated Unauthorized Unsupported"),
        ("delete", "Error InvalidArgument NotFound Unauthenticated Unauthorized Unsupported"),
        ("get", "Error InvalidArgument NotFound Unauthenticated Unauthorized")]),
    ("Kms", "ServicesSvc"): (".kms.services", ".kms.service", SERVICES_ENTRIES),
}


class Services(unittest.TestCase):
    def test_ids_operations_and_declared_errors(self):
        actual = {u.scope: (s.id, s.resource_type, [(op.name, " ".join(op.errors)) for op in s.operations])
                  for u, s in CATALOGUE.services()}
        expected = {scope: (PREFIX + sid, resource and PREFIX + resource, ops)
                    for scope, (sid, resource, ops) in CONTRACT.items()}
        self.assertEqual(actual, expected)

    def test_parameters_and_results(self):
        providers = {op.name: op for op in service("Kms", "ProvidersSvc").operations}
        self.assertEqual([(p.wire, p.member, p.presence) for p in providers["list"].params],
                         [("filter_spec", "filterSpec", model.OPTIONAL)])
        self.assertEqual([p.wire for p in providers["update"].params], ["provider", "spec"])
        self.assertEqual(providers["create"].result.kind, "void")
        self.assertEqual(providers["list"].result.spelling(), "list<Kms::ProvidersSvc::Summary>")
        keys = {op.name: op for op in service("Hardware", "Tpm", "EndorsementKeysSvc").operations}
        self.assertEqual([p.wire for p in keys["get"].params], ["tpm", "key"])
        self.assertEqual(service("Attestation", "ReportsSvc").operations[0].params, [])
        self.assertEqual({op.name: op.result.kind for op in service("Kms", "ServicesSvc").operations},
                         {"list": "list", "get": "struct", "create": "string", "delete": "void"})


class Structures(unittest.TestCase):
    def test_wire_names_and_members(self):
        info = structure("Attestation", "ServicesSvc", "Info")
        self.assertEqual(info.wire, PREFIX + ".attestation.services.info")
        self.assertEqual([(f.wire, f.member) for f in info.fields],
                         [("address", "address"), ("trusted_CA", "trustedCA"), ("group", "group")])
        self.assertEqual(structure("X509CertChain").wire, PREFIX + ".x509_cert_chain")
        self.assertEqual(structure("Hardware", "Tpm", "PcrBank").field("pcrs").type.spelling(), "map<integer, blob>")

    def test_localizable_message_details(self):
        details = structure("Kms", "ProvidersSvc", "Summary").field("details")
        self.assertEqual(details.type.args[0].decl.cpp, "::Com::Corvane::Tovri::Std::LocalizableMessage")

    def test_validation_descents(self):
        descending = {s.qualified: s.descend for s in CATALOGUE.structures() if s.descend}
        both = ["address", "trusted_CA"]
        self.assertEqual(descending, {
            ("Attestation", "ServicesSvc", "Summary"): ["address"],
            ("Attestation", "ServicesSvc", "Info"): both,
            ("Attestation", "ServicesSvc", "CreateSpec"): both,
            ("Kms", "ServicesSvc", "Summary"): ["address"],
            ("Kms", "ServicesSvc", "Info"): both,
            ("Kms", "ServicesSvc", "CreateSpec"): both,
        })
        self.assertEqual(structure("Kms", "ProvidersSvc", "CreateSpec").descend, [])
        inputs = {(u.scope, op.name): op.descend for u, _ in CATALOGUE.services()
                  for op in u.service.operations if op.descend}
        self.assertEqual(len(inputs), 9)
        self.assertEqual(inputs[(("Kms", "ProvidersSvc"), "list")], ["filter_spec"])
        self.assertEqual(inputs[(("Kms", "ProvidersSvc"), "update")], ["spec"])

    def test_unions(self):
        unions = {s.qualified: (s.union.tag, [(c.field, c.cls, c.tags) for c in s.union.cases])
                  for s in CATALOGUE.structures() if s.union}
        self.assertEqual(unions, {
            ("Attestation", "ReportsSvc", "Summary"): ("type", [("reporting_jwt", "ReportingJwtUnionCases",
                                                                 ["REPORTING_JWT"])]),
            ("Hardware", "Tpm", "EventLogSvc", "Info"): ("type", [("tcg_crypto_agile", "TcgCryptoAgileUnionCases",
                                                                   ["TCG_CRYPTO_AGILE"])]),
            ("Kms", "ProvidersSvc", "Info"): ("type", [("native_info", "NativeInfoUnionCases", ["NATIVE"])]),
        })

    def test_enumerations(self):
        enums = {e.qualified: e.constants for e in CATALOGUE.enumerations()}
        self.assertEqual(enums[("Hardware", "Tpm", "HashAlgorithm")], ["SHA256", "SHA384", "SHA512", "SM3_256"])
        self.assertEqual(enums[("Kms", "ProvidersSvc", "Health")], ["NONE", "OK", "WARNING", "ERROR"])
        self.assertEqual(len(enums), 6)

    def test_metadata_names(self):
        meta = {s.qualified: (s.metadata.name, s.metadata.identifiers) for s in CATALOGUE.structures() if s.metadata}
        self.assertEqual(meta[("Kms", "ProvidersSvc", "FilterSpec")],
                         (PREFIX + ".kms.Providers.FilterSpec", [("providers", PREFIX + ".kms.provider")]))
        self.assertEqual(meta[("ApiClientSpec",)],
                         (PREFIX + ".ApiClientSpec", [("client_id", "com.corvane.morv.authentication.api-client")]))
        self.assertEqual(meta[("Hardware", "Tpm", "EndorsementKeysSvc", "Summary")][0],
                         PREFIX + ".hardware.tpm.EndorsementKeys.Summary")
        self.assertNotIn(("NetworkAddress",), meta)


if __name__ == "__main__":
    unittest.main()
