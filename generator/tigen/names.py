"""Name forms used by the catalogue and the generated code."""

import re

# Where the generated code lives: the C++ namespace every unit's namespace is
# relative to, and the directory its headers are included from. The package
# uses these defaults; generate.py sets others for a separate catalogue (the
# tests' own) through `configure`, once, before anything is emitted.
DEFAULT_ROOT_NAMESPACE = ("Com", "Corvane", "Morv", "TrustedInfrastructure")
DEFAULT_INCLUDE_ROOT = "dral/trusted_infrastructure"
ROOT_NAMESPACE = DEFAULT_ROOT_NAMESPACE
INCLUDE_ROOT = DEFAULT_INCLUDE_ROOT

IDENTIFIER = re.compile(r"^[A-Za-z][A-Za-z0-9]*$")
UPPER_IDENTIFIER = re.compile(r"^[A-Z][A-Za-z0-9]*$")
# Wire field names: lower case with underscores; a segment may be an acronym
# kept in capitals ("trusted_CA").
FIELD_WIRE = re.compile(r"^[a-z][a-z0-9]*(_([a-z0-9]+|[A-Z][A-Z0-9]*))*$")
# Last component of a structure or enumeration wire name.
TYPE_WIRE = re.compile(r"^[a-z][a-z0-9]*(_[a-z0-9]+)*$")
DOTTED_WIRE = re.compile(r"^[a-z][a-z0-9_]*(\.[a-z][a-z0-9_]*)+$")
OPERATION_WIRE = re.compile(r"^[a-z][a-z0-9]*(_[a-z0-9]+)*$")
CONSTANT = re.compile(r"^[A-Z][A-Z0-9]*(_[A-Z0-9]+)*$")
ROOT_NAMESPACE_TEXT = re.compile(r"^[A-Za-z][A-Za-z0-9_]*(::[A-Za-z][A-Za-z0-9_]*)*$")
UNIT_PATH = re.compile(r"^[a-z][a-z0-9_]*(/[a-z][a-z0-9_]*)*$")
RESOURCE_TYPE = re.compile(r"^[a-z][a-z0-9_-]*(\.[a-z][a-z0-9_-]*)+$")
# Metadata names mix the dotted package with upper-camel type names.
METADATA_NAME = re.compile(r"^[a-z][a-z0-9_]*(\.[A-Za-z][A-Za-z0-9_]*)+$")


def lower_camel(wire):
    """``client_id`` -> ``clientId``, ``trusted_CA`` -> ``trustedCA``."""
    head, *rest = wire.split("_")
    return head + "".join(part[:1].upper() + part[1:] for part in rest)


def upper_camel(wire):
    """``tcg_crypto_agile`` -> ``TcgCryptoAgile``."""
    return "".join(part[:1].upper() + part[1:] for part in wire.split("_"))


def snake(name):
    """``X509CertChain`` -> ``x509_cert_chain``, the wire form of a type name."""
    return re.sub(r"(?<=[a-z0-9])(?=[A-Z])", "_", name).lower()


def configure(root_namespace=DEFAULT_ROOT_NAMESPACE, include_root=DEFAULT_INCLUDE_ROOT):
    """Sets the root namespace (a tuple of names) and the include root of the
    generated code; no arguments restore the package's."""
    global ROOT_NAMESPACE, INCLUDE_ROOT
    ROOT_NAMESPACE = tuple(root_namespace)
    INCLUDE_ROOT = include_root
