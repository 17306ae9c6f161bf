"""Name forms used by the catalogue and the generated code."""

import re
from pathlib import Path

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


# -- native names that would break the generated C++ ---------------------------
#
# One rule: a native name (field member, parameter, type, enumeration constant,
# operation) that is hazardous where it is declared gets "_" appended. No
# catalogue name ends with "_", so the result never meets another name. Wire
# names never change.

# C++17 keywords and alternative tokens, plus the C++20 keywords so that the
# generated code keeps compiling with a newer standard.
KEYWORDS = frozenset("""
    alignas alignof and and_eq asm auto bitand bitor bool break case catch char char16_t char32_t class compl
    const constexpr const_cast continue decltype default delete do double dynamic_cast else enum explicit export
    extern false float for friend goto if inline int long mutable namespace new noexcept not not_eq nullptr
    operator or or_eq private protected public register reinterpret_cast return short signed sizeof static
    static_assert static_cast struct switch template this thread_local throw true try typedef typeid typename
    union unsigned using virtual void volatile wchar_t while xor xor_eq
    char8_t concept consteval constinit co_await co_return co_yield requires
""".split())

# Names the generated code uses unqualified as the first part of a qualified
# name; a package name spelled the same could capture them.
QUALIFIER_ROOTS = frozenset({"std", "boost", "Tovri", "Com"})


def _macros():
    lines = Path(__file__).with_name("macros.txt").read_text().splitlines()
    return frozenset(line.strip() for line in lines if line.strip() and not line.startswith("#"))


MACROS = _macros()


def is_macro(name):
    return name in MACROS or name.startswith("BOOST_")


def safe(name, taken=()):
    """`name` as a native name, given the names `taken` by the generated code
    in the scope where it is declared."""
    if name in KEYWORDS or name in QUALIFIER_ROOTS or is_macro(name) or name in taken:
        return name + "_"
    return name
