"""The catalogue as the emitters see it: resolved, checked, immutable by use.

Scopes are tuples of C++ names relative to
``Com::Corvane::Morv::TrustedInfrastructure``: ``("Kms", "ProvidersSvc")``.
Every native name is final here (see names.safe): emitters use ``name``,
``member``, ``members`` and ``native`` as they are.
"""

from dataclasses import dataclass, field
from typing import List, Optional, Tuple

PRIMITIVES = ("string", "integer", "boolean", "blob", "secret")
STANDARD_ERRORS = (
    "Error",
    "AlreadyExists",
    "InvalidArgument",
    "NotAllowedInCurrentState",
    "NotFound",
    "UnableToAllocateResource",
    "Unauthenticated",
    "Unauthorized",
    "Unsupported",
)

REQUIRED = "required"
OPTIONAL = "optional"
UNION_CASE = "union-case"


@dataclass
class External:
    """A framework structure the package refers to."""

    spelling: str  # catalogue spelling, e.g. "Std::LocalizableMessage"
    cpp: str  # fully qualified C++ name


LOCALIZABLE_MESSAGE = External("Std::LocalizableMessage", "::Com::Corvane::Tovri::Std::LocalizableMessage")
EXTERNALS = {LOCALIZABLE_MESSAGE.spelling: LOCALIZABLE_MESSAGE}


@dataclass
class Type:
    """A resolved type: a primitive, a container or a declared type.

    kind is one of PRIMITIVES, "list", "set", "map", "enum", "struct",
    "external" or "void".
    """

    kind: str
    args: Tuple["Type", ...] = ()
    decl: object = None  # Enumeration, Structure or External

    @property
    def is_struct(self):
        return self.kind in ("struct", "external")

    def spelling(self):
        if self.kind in ("list", "set", "map"):
            return f"{self.kind}<{', '.join(a.spelling() for a in self.args)}>"
        if self.kind == "enum" or self.kind == "struct":
            return "::".join(self.decl.scope + (self.decl.label,))
        if self.kind == "external":
            return self.decl.spelling
        return self.kind


@dataclass
class Field:
    wire: str
    member: str  # native member or parameter name
    type: Type
    presence: str = REQUIRED


@dataclass
class Enumeration:
    name: str  # native class name
    wire: str  # full dotted wire name
    constants: List[str]  # wire constants
    scope: Tuple[str, ...]
    unit: "Unit" = None
    label: str = ""  # catalogue name, the one other entries refer to
    members: List[str] = field(default_factory=list)  # native constants, in the order of `constants`

    @property
    def qualified(self):
        return self.scope + (self.name,)


@dataclass
class UnionCase:
    field: str  # wire name of the case field
    cls: str  # annotation class, e.g. "NativeInfoUnionCases"
    tags: List[str]


@dataclass
class Union:
    annotations: str
    tag: str  # wire name of the tag field
    cases: List[UnionCase]


@dataclass
class Metadata:
    name: str
    identifiers: List[Tuple[str, str]]  # (field wire name, resource type)


@dataclass
class Structure:
    name: str  # native class name
    wire: str
    fields: List[Field]
    scope: Tuple[str, ...]
    descend: List[str] = field(default_factory=list)
    union: Optional[Union] = None
    metadata: Optional[Metadata] = None
    unit: "Unit" = None
    label: str = ""  # catalogue name, the one other entries refer to

    @property
    def qualified(self):
        return self.scope + (self.name,)

    def field(self, wire):
        return next((f for f in self.fields if f.wire == wire), None)


@dataclass
class Operation:
    name: str  # wire name, e.g. "list"
    method: str  # method class, e.g. "ListMethod"
    params: List[Field]
    result: Type
    errors: List[str]
    descend: List[str] = field(default_factory=list)
    native: str = ""  # the member function, e.g. "List"


@dataclass
class Service:
    cls: str
    id: str
    resource_type: Optional[str]
    operations: List[Operation]


@dataclass
class Unit:
    """One generated C++ unit: a header and a source file."""

    path: str  # e.g. "kms/providers"
    source: str  # catalogue file it comes from, relative to the catalogue root
    namespace: Tuple[str, ...]
    enumerations: List[Enumeration]
    structures: List[Structure]
    service: Optional[Service] = None
    depends: List["Unit"] = field(default_factory=list)

    @property
    def scope(self):
        """Scope of the unit's types: the service class, or the namespace."""
        return self.namespace + ((self.service.cls,) if self.service else ())


@dataclass
class Catalogue:
    units: List[Unit]

    def structures(self):
        return [s for u in self.units for s in u.structures]

    def enumerations(self):
        return [e for u in self.units for e in u.enumerations]

    def services(self):
        return [(u, u.service) for u in self.units if u.service]
