#!/usr/bin/env python3
"""Writes the hand-made seed inputs of the fuzz targets into fuzz/corpus/.

The byte layouts are those the targets read (see the comments at the top of
format_properties.hpp, primitive_properties.hpp, check_properties.hpp,
road_properties.hpp, natural_json_properties.hpp, lossless_json_properties.hpp and
eventlog_properties.hpp, and the opcodes of value_decoder.hpp). Seeds are named seed-*; inputs kept
from findings are named after the finding and are not touched here.

    python3 fuzz/make_seeds.py
"""
import pathlib
import sys

FUZZ = pathlib.Path(__file__).resolve().parent
CORPUS = FUZZ / "corpus"
CATALOGUE = FUZZ.parent / "catalogue"

sys.dont_write_bytecode = True
sys.path.insert(0, str(FUZZ.parent / "generator"))
from tigen.loader import load  # noqa: E402

# --- format: head byte, arguments, template ------------------------------------
STRING, POINTER, ARRAY = 0, 1, 2


def format_case(template, *args):
    """args: (kind, bytes) pairs; kind STRING, POINTER or ARRAY."""
    head = len(args)
    out = bytearray()
    for i, (kind, text) in enumerate(args):
        head |= kind << (2 + 2 * i)
        out += bytes([len(text)]) + text
    return bytes([head]) + bytes(out) + template


X, Y, Z = (STRING, b"x"), (STRING, b"y"), (STRING, b"z")
FORMAT = {
    "doubled-braces": format_case(b"a{{b}}c", X, Y),
    "explicit": format_case(b"{1} and {2}", X, Y),
    "automatic": format_case(b"{} and {}", X, Y),
    "zero-index": format_case(b"{0} and {0}", X, Y),
    "counter-counts-explicit": format_case(b"{2} {}", X, Y),
    "missing-argument": format_case(b"{1} {3} tail", X, Y),
    "no-fields": format_case(b"no fields here", X, Y),
    "empty-template": format_case(b"", X),
    "unterminated": format_case(b"head {1", X),
    "lone-open-brace": format_case(b"head {", X),
    "lone-close-brace": format_case(b"a}b{1}", X),
    "specs-text": format_case(b"[{1:s}][{1:5}][{1:-10}][{1:.3}][{1:-8.2}]", (POINTER, b"abcdef")),
    "specs-string-nul": format_case(b"[{1}][{1:s}][{1:6}]", (STRING, b"a\0b")),
    "array-args": format_case(b"{3}{2}{1}", (ARRAY, b"0123456789abcdefXYZ"), (ARRAY, b"a"), (POINTER, b"p")),
    "index-parsing": format_case(b"{ 2}{+1}{-0}{2abc}{00000000000000000002}", X, Y, Z),
    "index-huge": format_case(b"{99999999999999999999999}", X),
    "index-negative": format_case(b"{-1}", X),
    "index-nul": format_case(b"{\x002}", X, Y),
    "odd-specs": format_case(b"{1:%n}{1:*}{1:d}{1:100000}{1:0005}{1:#+ 3}{1:12345678901234}", X),
    "catalogue-bad-cast": format_case(b"tovri.data.bad.cast1", (STRING, b"text")),
    "catalogue-extra-field": format_case(
        b"tovri.data.compound.field.extra", (STRING, b"::A::B"), (POINTER, b"field"), (STRING, b"")),
    "unknown-id-braces": format_case(b"my{id}", X, Y),
    "many-fields": format_case(b"{}{}{}{1}{2}{3}{}", X, Y, Z),
}

# --- primitive: the whole input is the text ------------------------------------
PRIMITIVE = {
    "int-zero": b"0",
    "int-minus-zero": b"-0",
    "int-max": b"9223372036854775807",
    "int-min": b"-9223372036854775808",
    "int-overflow": b"9223372036854775808",
    "int-leading-zeros": b"007",
    "int-plus": b"+1",
    "int-space": b" 1",
    "bool-true": b"true",
    "bool-false": b"false",
    "bool-case": b"True",
    "empty": b"",
    "double-big": b"1e308",
    "double-overflow": b"1e309",
    "double-underflow": b"1e-400",
    "double-inf": b"-inf",
    "double-nan": b"nan",
    "double-plus-nan": b"+nan",
    "double-hex": b"0x10",
    "double-plain": b"3.14",
    "blob-group": b"QUJD",
    "blob-padded": b"QQ==",
    "blob-noncanonical": b"QR==",
    "blob-bad-padding": b"Q===",
    "blob-inner-padding": b"QQ==QUJD",
    "nul-byte": b"1\x002",
}

# --- check: flags, definition, value, another value ------------------------------
# Pools of check_properties.hpp: structure names node, leaf, ...info, "";
# field names next, type, value, messages, ""; texts red, green, ?, "", true, 12.
VOID, INTEGER, DOUBLE, BOOLEAN, BLOB, STRING_DEF, SECRET = range(7)
ERROR_DEF, DYNAMIC_DEF, OPTIONAL_DEF, LIST_DEF, STRUCT_DEF, REF_DEF, UNION_DEF, NULL_DEF = range(7, 15)
NODE, LEAF, INFO, NONAME = range(4)
NEXT, TYPE, VALUE, MESSAGES, NOFIELD = range(5)
RED, GREEN, UNDECIDED = range(3)
GUIDED, CHAIN = 1, 2


def depth(n):
    """ByteReader::Depth: one byte, or D7 EE and three bytes."""
    return bytes([n]) if n < 0xD7 else bytes([0xD7, 0xEE]) + n.to_bytes(3, "little")


# A self-referring node: struct node { next: optional<ref node>, value: string }.
NODE_DEF = bytes([STRUCT_DEF, NODE, 2, NEXT, VALUE, OPTIONAL_DEF, REF_DEF, NODE, 0, STRING_DEF])
# One guided level of it: no deviation, plain structure, "next" present, no
# extra field; then the optional: no deviation, set; then the reference.
NODE_LEVEL = bytes([0, 0, 1, 0, 0, 1])
# A union: struct leaf { type: string, value: case(tag type, selected by red)<integer> }.
UNION_DEF = bytes([STRUCT_DEF, LEAF, 2, TYPE, VALUE, STRING_DEF, UNION_DEF, TYPE, 0, RED, INTEGER])

CHECK = {
    "void": bytes([0]),
    "guided-primitives": bytes([GUIDED, STRING_DEF, 0, 0]),
    "guided-node-chain": bytes([GUIDED]) + NODE_DEF + NODE_LEVEL * 64,
    "free-node-chain": bytes([0]) + NODE_DEF + bytes([11, NODE, 1, NEXT, 9, 11, NODE, 1, NEXT, 8]),
    "guided-union": bytes([GUIDED]) + UNION_DEF + bytes([0, 0, 0, 1, 1, 0, 0, 1, 7]),
    "guided-union-deviant": bytes([GUIDED]) + UNION_DEF + bytes([0xF3, 3, 1, 0, 0, 2, 1, 1, 0, 5]),
    "unbound-ref": bytes([GUIDED, LIST_DEF, REF_DEF, INFO, 0xFF, 0, 3, 0, 0, 0, 0, 1]),
    "error-and-dynamic": bytes([GUIDED, STRUCT_DEF, NODE, 2, NEXT, VALUE, ERROR_DEF, DYNAMIC_DEF, 0, 0, 0]),
    "list-kinds": bytes([0, LIST_DEF, INTEGER, 10, 2, 3, 1, 5, 1, 7, 10, 3, 1, 11, 0, 0]),
    "null-definitions": bytes([GUIDED, STRUCT_DEF, LEAF, 2, TYPE, VALUE, NULL_DEF, LIST_DEF, NULL_DEF, 0, 0, 1, 1, 3]),
    "strings-for-structures": bytes([0, STRUCT_DEF, NODE, 0, 15, NODE]),
    "null-value": bytes([0, STRING_DEF, 13]),
    "free-kinds": bytes([0, VOID, 10, 1, 12, 0, 1, 5, 2, 1, 2, 3, 3, 1, 4, 2, 9, 9, 5, 0, 6, 0, 7, 0, 1, 8, 9, 13]),
    "wrap-optional": bytes([0, OPTIONAL_DEF, REF_DEF, NODE, 0, 14, 0, 1]) + depth(1000) + bytes([11, NODE, 0]),
    "chain-guided": bytes([GUIDED | CHAIN]) + depth(1000) + UNION_DEF + bytes([0, 0, 0, 1, 1, 0, 0, 1, 7]),
}

# Run once per fuzzing session and by the test suite, not mutated: checking
# trees this deep takes seconds under the sanitizers.
CHECK_DEEP = {
    "wrap-optional-100k": bytes([0, OPTIONAL_DEF, REF_DEF, NODE, 0, 14, 0, 1]) + depth(100000) + bytes([11, NODE, 0]),
    "wrap-struct-100k": bytes([0]) + NODE_DEF + bytes([14, 2, NODE, NEXT, 1]) + depth(100000) + bytes([5, 0]),
    "wrap-list-100k": bytes([0, LIST_DEF, LIST_DEF, INTEGER, 14, 1, 2]) + depth(100000) + bytes([1, 0, 5]),
    "chain-100k-guided": bytes([GUIDED | CHAIN]) + depth(100000) + UNION_DEF + bytes([0, 0, 0, 1, 1, 0, 0, 1, 7]),
    "chain-100k-mismatch": bytes([CHAIN]) + depth(100000) + NODE_DEF + bytes([11, LEAF, 0]),
}


# --- road: operation, flags, input value, output value, error value -----------
# Operations in the order of road_properties.hpp; pools of RoadFuzz::Names():
# structure names start with "operation-input", field names with the
# undeclared "dral_fuzz_extra", texts with "NATIVE".
ROAD_OPERATIONS = [
    "tpm.list", "tpm.get", "endorsement_keys.list", "endorsement_keys.get", "event_log.get",
    "attestation.services.list", "attestation.services.get", "attestation.services.create",
    "attestation.services.delete", "attestation.reports.list", "kms.providers.list", "kms.providers.create",
    "kms.providers.update", "kms.providers.delete", "kms.providers.get", "kms.services.list",
    "kms.services.get", "kms.services.create", "kms.services.delete",
]
REPORTS_LIST = ROAD_OPERATIONS.index("attestation.reports.list")
FREE_INPUT, FREE_OUTPUT = 0x03, 0x0C
ANSWER_ERROR, ANSWER_BOTH, ANSWER_NEITHER = 0x10, 0x20, 0x30
CLIENT_PROGRESS, PROVIDER_PROGRESS = 0x40, 0x80
OPERATION_INPUT, EXTRA_FIELD = 0, 0
WRAP, FREE_STRUCT, FREE_ERROR = 14, 11, 7
DEVIATE = 0xF0


def wrap(kind, levels, bottom=0):
    """A free-form chain (value_decoder.hpp Wrap): kind 0 optional, 1 list,
    2 structure, 3 dynamic structure, 4 error, ending in a free-form node."""
    names = bytes([OPERATION_INPUT, EXTRA_FIELD]) if kind >= 2 else b""
    return bytes([WRAP, kind]) + names + bytes([1]) + depth(levels) + bytes([bottom])


# A guided structure without declared fields holding one undeclared field.
EXTRA_ONLY = bytes([0, 0, 1, EXTRA_FIELD])

ROAD = {}
for index, name in enumerate(ROAD_OPERATIONS):
    op = bytes([index])
    ROAD[f"{name}-conforming"] = op + bytes([0])
    ROAD[f"{name}-progress"] = op + bytes([CLIENT_PROGRESS | PROVIDER_PROGRESS]) + bytes([0, 1, 1, 0, 1] * 4)
    ROAD[f"{name}-string-input"] = op + bytes([0, DEVIATE, 1, 0, 0])
    ROAD[f"{name}-null-input"] = op + bytes([0, DEVIATE, 2])
    ROAD[f"{name}-free"] = op + bytes([FREE_INPUT | FREE_OUTPUT, FREE_STRUCT, OPERATION_INPUT, 2, EXTRA_FIELD, 9,
                                       5, 0, 10, 1, 2, 15, 0, 8])
    ROAD[f"{name}-error-answer"] = op + bytes([ANSWER_ERROR, 0, 0, 0, 0, 1, 1, 0])
    ROAD[f"{name}-both-answers"] = op + bytes([ANSWER_BOTH, 1, 1, 1, 1, 1, 1])
    ROAD[f"{name}-no-answer"] = op + bytes([ANSWER_NEITHER | PROVIDER_PROGRESS])
ROAD["reports-list-extra-field"] = bytes([REPORTS_LIST, 0]) + EXTRA_ONLY + bytes([5, 0])
ROAD["reports-list-wrapped-extra"] = bytes([REPORTS_LIST, 0]) + EXTRA_ONLY + wrap(2, 200)

# Run once per fuzzing session and by the test suite, not mutated.
# A reports summary: no deviation, plain structure, tag text, unset case,
# one undeclared field; then its "report" text, then the undeclared field.
SUMMARY_WITH_EXTRA = bytes([0, 0, 0, 0, 1, EXTRA_FIELD, 0, 0])
ROAD_DEEP = {
    # An accepted input carrying a 100k-level chain in an undeclared field.
    "reports-list-input-optional-100k": bytes([REPORTS_LIST, 0]) + EXTRA_ONLY + wrap(0, 100000),
    "reports-list-input-struct-100k": bytes([REPORTS_LIST, 0]) + EXTRA_ONLY + wrap(2, 100000),
    # An output whose summary keeps a 100k-level chain as an undeclared
    # field: converted to native, back, and answered by the implementation.
    "reports-list-output-list-100k": bytes([REPORTS_LIST, 0, 0, 0, 0, 0, 0, 1]) + SUMMARY_WITH_EXTRA + wrap(1, 100000),
    # A refused input, and an error answer (invalid_argument), 100k levels deep.
    "kms-providers-create-free-100k": bytes([11, FREE_INPUT]) + wrap(3, 100000),
    "reports-list-error-100k": bytes([REPORTS_LIST, ANSWER_ERROR, 0, 0, 0, 0, 0, 0, DEVIATE, 0, FREE_ERROR, 1, 0, 1,
                                      EXTRA_FIELD]) + wrap(4, 100000),
}


def road_dictionary():
    """Wire names of the package from the catalogue: structure names (the
    service id or package prefix, a dot, the wire name), field names and
    enumeration constants, plus the framework's names."""
    words = {"operation-input", "map-entry", "key", "value", "messages", "unknownFields", "_UNKNOWN",
             "com.corvane.tovri.std.errors.invalid_argument", "com.corvane.tovri.std.errors.not_found",
             "com.corvane.tovri.std.errors.internal_server_error"}
    # The loader fills in the keys the catalogue leaves to derivation.
    package = load(CATALOGUE)
    for structure in package.structures():
        words.add(structure.wire)
        words.update(field.wire for field in structure.fields)
    for enumeration in package.enumerations():
        words.update(enumeration.constants)
    lines = ["# Wire names of the trusted-infrastructure package (made by fuzz/make_seeds.py).\n"]
    lines += [f"\"{word}\"\n" for word in sorted(words)]
    (FUZZ / "dict" / "road.dict").write_text("".join(lines))


# --- natural_json: definition index, limits flag, body ----------------------
# Indices of NaturalDefinitions() (natural_json_properties.hpp): input and
# output of each operation in its order, then the chain node.
NATURAL_OPERATIONS = [
    "kms.providers.list", "kms.providers.create", "kms.providers.update", "kms.providers.delete",
    "kms.providers.get", "kms.services.list", "kms.services.get", "kms.services.create",
    "kms.services.delete", "attestation.services.list", "attestation.services.get",
    "attestation.services.create", "attestation.services.delete", "attestation.reports.list",
    "tpm.list", "tpm.get", "tpm.endorsement_keys.list", "tpm.endorsement_keys.get", "tpm.event_log.get",
]
NATURAL_NODE = 2 * len(NATURAL_OPERATIONS)


def natural(operation, body, output=False, small=False):
    index = NATURAL_NODE if operation == "node" else 2 * NATURAL_OPERATIONS.index(operation) + output
    return bytes([index, int(small)]) + body.encode()


ADDRESS = '"address": {"hostname": "h.example", "port": 443}, "trusted_CA": {"cert_chain": ["MIIB"]}, "group": "g"'
BANK = '{"algorithm": "SHA256", "pcrs": {"0": "qg==", "23": ""}}'
NATURAL = {
    "providers-create": natural("kms.providers.create",
                                '{"spec": {"provider": "p", "native_spec": {"key_id": "k", "key_derivation_key": "s"}}}'),
    "providers-create-null": natural("kms.providers.create", '{"spec": {"provider": "p", "native_spec": null}}'),
    "providers-list-enums": natural("kms.providers.list",
                                    '{"filter_spec": {"types": ["NATIVE"], "providers": ["a", "b"], "available": true}}'),
    "providers-list-empty": natural("kms.providers.list", "{}"),
    "providers-get-union": natural("kms.providers.get", '{"type": "NATIVE", "native_info": {"key_id": "k"}}',
                                   output=True),
    "providers-list-summaries": natural(
        "kms.providers.list",
        '[{"provider": "p", "available": true, "health": "OK", "details": '
        '[{"id": "m", "default_message": "t", "args": ["1"], "localized": "l"}]}]', output=True),
    "kms-services-create": natural("kms.services.create",
                                   '{"spec": {' + ADDRESS + ', "api_client": {"client_id": "c", "client_secret": "x"}}}'),
    "attestation-services-create": natural("attestation.services.create", '{"spec": {' + ADDRESS + '}}'),
    "reports-list": natural("attestation.reports.list",
                            '[{"report": "r", "type": "REPORTING_JWT", "reporting_jwt": '
                            '{"service": "s", "group": "g", "jwt": "e30"}}]', output=True),
    "tpm-get-map-object": natural("tpm.get", '{"major_version": 2, "minor_version": 0, "active": true, "banks": ['
                                  + BANK + "]}", output=True),
    "tpm-get-map-entries": natural("tpm.get", '{"major_version": 2, "minor_version": 0, "active": false, "banks": '
                                   '[{"algorithm": "SM3_256", "pcrs": [{"key": -1, "value": "AAEC"}]}]}', output=True),
    "event-log-blob": natural("tpm.event_log.get", '{"type": "TCG_CRYPTO_AGILE", "tcg_crypto_agile": "AQIDBA==", '
                              '"truncated": false, "banks": [' + BANK + "]}", output=True),
    "tpm-list-filter": natural("tpm.list", '{"filter": {"major_versions": [1, 2], "active": null}}'),
    "node-chain": natural("node", '{"next": ' * 8 + "{}" + "}" * 8),
    "node-chain-small-limits": natural("node", '{"next": ' * 8 + "{}" + "}" * 8, small=True),
    "wrong-kind": natural("kms.services.create", '{"spec": {"address": {"hostname": 1}}}'),
    "malformed": natural("kms.providers.create", '{"spec": '),
}


# --- lossless_json: reader and limits byte, text ----------------------------
# Byte 0 (lossless_json_properties.hpp): bit 0 small limits; bits 1-2 the
# reader: 0 a value, 1 a request envelope, 2 an answer envelope.
VALUE, REQUEST, ANSWER = 0, 1, 2


def lossless(text, reader=VALUE, small=False):
    return bytes([reader << 1 | int(small)]) + text.encode()


EVERY_KIND = ('["struct","s",9,"i","int",-9223372036854775808,"d","double",1.5E0,'
              '"b","bool",true,"x","blob","AP8=","t","string","caf\\u00e9","k","secret","pw",'
              '"o","optional","list",2,"int",1,"int",2,"u","unset","v","void"]')
ERROR = ('["error","com.corvane.tovri.std.errors.not_found",1,"messages","list",1,'
         '"struct","com.corvane.tovri.std.localizable_message",3,"id","string","m",'
         '"default_message","string","t","args","list",0]')
LOSSLESS = {
    "every-kind": lossless(EVERY_KIND),
    "every-kind-small-limits": lossless(EVERY_KIND, small=True),
    "doubles": lossless('["list",6,"double","nan","double","inf","double","-inf","double","-0",'
                        '"double",4.9E-324,"double",1.7976931348623157E308]'),
    "list-kinds": lossless('["set",2,"string","a","string","b"]'),
    "listkind": lossless('["listkind",7,1,"int",0]'),
    "map": lossless('["map",1,"struct","map-entry",2,"key","int",1,"value","string","v"]'),
    "dynamic": lossless('["dynamic","d",1,"f","unset"]'),
    "error": lossless(ERROR),
    "nested": lossless('["optional",' * 6 + '"void"' + "]"),
    "nested-small-limits": lossless('["optional",' * 6 + '"void"' + "]", small=True),
    "count-too-large": lossless('["list",3,"int",1]'),
    "field-twice": lossless('["struct","s",2,"f","void","f","void"]'),
    "trailing": lossless('["void","void"]'),
    "malformed": lossless('["struct","s",1,"f"'),
    "request": lossless('{"input":' + EVERY_KIND + ',"properties":{"a":"1","tovri.locale":"de"}}', REQUEST),
    "request-no-properties": lossless('{"input":["void"]}', REQUEST),
    "request-unknown-member": lossless('{"input":["void"],"x":1}', REQUEST),
    "request-bad-properties": lossless('{"input":["void"],"properties":{"a":1}}', REQUEST),
    "answer-output": lossless('{"output":' + EVERY_KIND + "}", ANSWER),
    "answer-null": lossless('{"output":null,"unchecked":true}', ANSWER),
    "answer-error": lossless('{"error":' + ERROR + "}", ANSWER),
    "answer-error-not-error": lossless('{"error":["void"]}', ANSWER),
    "answer-progress": lossless('{"progress":[0,-1,9223372036854775807]}', ANSWER),
    "answer-both": lossless('{"output":["void"],"error":' + ERROR + "}", ANSWER),
}

# --- eventlog: the whole input is a crypto-agile event log ----------------------
SIZES = {0x0004: 20, 0x000B: 32, 0x000C: 48, 0x000D: 64}
HASHES = {0x0004: "sha1", 0x000B: "sha256", 0x000C: "sha384", 0x000D: "sha512"}


def event_log(algorithms, events, vendor=b"", count=None):
    """events: (pcr, type, data); digests of the data (zeros for EV_NO_ACTION)."""
    import hashlib
    import struct
    body = b"Spec ID Event03\0" + struct.pack("<IBBBBI", 0, 0, 2, 0, 2, len(algorithms))
    body += b"".join(struct.pack("<HH", a, SIZES[a]) for a in algorithms)
    body += bytes([len(vendor)]) + vendor
    out = struct.pack("<II", 0, 3) + bytes(20) + struct.pack("<I", len(body)) + body
    for pcr, kind, data in events:
        out += struct.pack("<III", pcr, kind, len(algorithms) if count is None else count)
        for a in algorithms:
            digest = bytes(SIZES[a]) if kind == 3 else hashlib.new(HASHES[a], data).digest()
            out += struct.pack("<H", a) + digest
        out += struct.pack("<I", len(data)) + data
    return out


FIRMWARE = [(0, 3, b"StartupLocality\0\3"), (0, 8, b"1.0"), (0, 1, b"ACPI DATA"),
            (7, 0x80000007, b"Calling EFI Application from Boot Option")]
FIRMWARE += [(pcr, 4, bytes(4)) for pcr in range(8)] + [(8, 13, b"grub_cmd: linux\0")]
EVENTLOG = {
    "firmware": event_log([0x000B, 0x000C], FIRMWARE),
    "every-algorithm": event_log([0x0004, 0x000B, 0x000C, 0x000D], FIRMWARE[:3], vendor=b"vendor"),
    "cut": event_log([0x000B], FIRMWARE)[:-7],
    "header-only": event_log([0x0004], []),
    "late-locality": event_log([0x000B], [(0, 1, b"x"), (0, 3, b"StartupLocality\0\3")]),
    "count-huge": event_log([0x000B], FIRMWARE[:2], count=0xFFFFFFFF),
    "unknown-algorithm": event_log([0x000B], FIRMWARE[:2]).replace(b"\x0b\x00\x20\x00", b"\x27\x00\x20\x00", 1),
    "cut-in-header": event_log([0x000B], [])[:40],
}

# --- trustd_input: the whole input is a configuration file (or a token) ---------
TRUSTD_INPUT = {
    "minimal": '{"listen": [{"address": "127.0.0.1", "port": 8443}], "state_directory": "state"}',
    "full": """{"listen": [{"address": "0.0.0.0", "port": 8443}, {"address": "::1", "port": 0}],
 "tls": {"certificate_chain": "tls/server.pem", "private_key": "tls/server.key", "client_ca": "ca.pem",
         "require_client_certificate": true},
 "allow_plain_http": false, "token_file": "tokens", "roles": {"admin": ["*/*"], "reader": ["*/list", "*/get"]},
 "tpms": [{"id": "tpm0", "tcti": "device:/dev/tpmrm0", "event_log": "/sys/log", "command_timeout_ms": 2500}],
 "state_directory": "/var/lib/trustd", "reports_directory": "reports",
 "trust_authority": {"hostname": "ta.example", "port": 443},
 "limits": {"event_log_max_bytes": 65536, "report_max_bytes": 4096, "probe_timeout_ms": 100, "worker_threads": 2,
            "io_threads": 1, "max_body_bytes": 8192, "max_connections": 16, "shutdown_grace_ms": 0},
 "log_level": "debug"}""",
    "unknown-key": '{"listen": [{"address": "127.0.0.1", "port": 1}], "state_directory": "s", "tsl": {}}',
    "duplicate-tpm": '{"listen": [{"address": "127.0.0.1", "port": 1}], "state_directory": "s", '
                     '"tpms": [{"id": "a", "tcti": "x"}, {"id": "a", "tcti": "y"}]}',
    "empty-state-directory": '{"listen": [{"address": "127.0.0.1", "port": 1}], "state_directory": ""}',
    "deep": "[" * 40 + "]" * 40,
    "token": "eyJhbGciOiJFUzI1NiJ9.eyJzdWIiOiJoIn0.c2ln",
    "token-alg-none": "eyJhbGciOiJub25lIn0.eyJzdWIiOiJoIn0.c2ln",
    # The bearer token file, as the transport reads it.
    "token-file": "# principals\n\nsha256:" + "ab" * 32 + " alice admin\r\nsha256:" + "CD" * 32
    + "\tbob  reader,admin\n",
    "token-file-unknown-role": "sha256:" + "01" * 32 + " carol auditor\n",
    "token-file-twice": ("sha256:" + "ef" * 32 + " dave reader\n") * 2,
    "token-file-short-hash": "sha256:abc eve admin\n",
    "token-file-empty-role": "sha256:" + "23" * 32 + " frank admin,\n",
}


# --- http_request: the bytes a client sends to the server on one connection ----
HTTP_TOKEN = "fuzz-token-0c9e"  # DralFuzz::kHttpFuzzToken; its hash is in the server's token file
HTTP_ECHO = "/v1/com.example.fuzz/echo"
LOSSLESS_TYPE = "application/vnd.tovri.lossless+json"


def http_request(body, content_type="application/json", token=True, extra="", path=HTTP_ECHO, chunked=False):
    head = f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: {content_type}\r\n"
    if token:
        head += f"Authorization: Bearer {HTTP_TOKEN}\r\n"
    head += extra
    if chunked:
        half = len(body) // 2
        pieces = [body[:half], body[half:]]
        return head + "Transfer-Encoding: chunked\r\n\r\n" + "".join(
            f"{len(p):x}\r\n{p}\r\n" for p in pieces if p) + "0\r\n\r\n"
    return head + f"Content-Length: {len(body.encode())}\r\n\r\n" + body


NATURAL_ECHO = '{"input": {"text": "hello"}, "properties": {"p": "v"}}'
LOSSLESS_ECHO = '{"input": ["struct", "echo_input", 1, "text", "string", "hello"]}'
HTTP_REQUEST = {
    "natural": http_request(NATURAL_ECHO),
    "lossless": http_request(LOSSLESS_ECHO, LOSSLESS_TYPE),
    "no-token": http_request(NATURAL_ECHO, token=False),
    "wrong-token": http_request(NATURAL_ECHO, extra="Authorization: Bearer not-the-token\r\n", token=False),
    "chunked-natural": http_request(NATURAL_ECHO, chunked=True),
    "chunked-lossless": http_request(LOSSLESS_ECHO, LOSSLESS_TYPE, chunked=True),
    "pipelined": http_request(NATURAL_ECHO) + http_request(LOSSLESS_ECHO, LOSSLESS_TYPE)
    + "GET /v1/health HTTP/1.1\r\nHost: x\r\n\r\n",
    "streaming": http_request(NATURAL_ECHO, extra="Accept: application/x-ndjson\r\n"),
    "expect-continue": http_request(NATURAL_ECHO, extra="Expect: 100-continue\r\n"),
    "health": "GET /v1/health HTTP/1.1\r\nHost: x\r\n\r\n",
    "discovery": f"GET /v1/services HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer {HTTP_TOKEN}\r\n\r\n",
    "http10": f"POST {HTTP_ECHO} HTTP/1.0\r\nContent-Type: application/json\r\n"
    f"Authorization: Bearer {HTTP_TOKEN}\r\nContent-Length: {len(NATURAL_ECHO)}\r\n\r\n{NATURAL_ECHO}",
    "huge-length": http_request("", extra="Content-Length: 4294967296\r\n").replace("Content-Length: 0\r\n", ""),
    "bad-length": http_request("", extra="Content-Length: -1\r\n").replace("Content-Length: 0\r\n", ""),
    "deep": http_request('{"input": {"text": ' + "[" * 2000 + "]" * 2000 + "}}"),
    "unknown-operation": http_request(NATURAL_ECHO, path="/v1/com.example.fuzz/nope"),
}


def write(target, seeds):
    directory = CORPUS / target
    directory.mkdir(parents=True, exist_ok=True)
    for old in directory.glob("seed-*"):
        old.unlink()
    for name, data in seeds.items():
        (directory / f"seed-{name}").write_bytes(data.encode() if isinstance(data, str) else data)


if __name__ == "__main__":
    write("format", FORMAT)
    write("primitive", PRIMITIVE)
    write("check", CHECK)
    write("check-deep", CHECK_DEEP)
    write("road", ROAD)
    write("road-deep", ROAD_DEEP)
    write("natural_json", NATURAL)
    write("lossless_json", LOSSLESS)
    write("eventlog", EVENTLOG)
    write("trustd_input", TRUSTD_INPUT)
    write("http_request", HTTP_REQUEST)
    road_dictionary()
