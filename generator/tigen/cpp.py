"""C++ spellings of catalogue names and types.

Generated code lives inside the root namespace (for the package
``Com::Corvane::Morv::TrustedInfrastructure``, where an unqualified ``Tovri``
would find ``Com::Corvane::Tovri``): framework names are therefore always
spelled from the global scope (``::Tovri::``).
Package names are spelled as short as C++ lookup allows from the scope that
uses them, which the generator can decide because it knows every name the
package declares.
"""

from . import model, names as layout

PRIMITIVE_TYPES = {
    "string": "std::string",
    "integer": "long long",
    "boolean": "bool",
    "blob": "std::vector<unsigned char>",
    "secret": "::Tovri::SecretString",
    "void": "::Tovri::Void",
}


def absolute(qualified):
    """The fully qualified spelling of a package name."""
    return "::" + "::".join(layout.ROOT_NAMESPACE + tuple(qualified))


class Names:
    """Every scope-qualified name the generated package declares.

    A name is a tuple relative to the root namespace; a scope declares each
    name one component longer than itself.
    """

    def __init__(self, catalogue):
        declared = set()

        def add(qualified):
            for i in range(1, len(qualified) + 1):
                declared.add(tuple(qualified[:i]))

        for unit in catalogue.units:
            add(unit.scope)
            for enum in unit.enumerations:
                add(enum.qualified + ("Strings",))
                add(enum.qualified + ("Value",))
            for struct in unit.structures:
                add(struct.qualified + ("AdapterHelper",))
                for field in struct.fields:
                    add(struct.qualified + (field.member,))
                if struct.union:
                    add(struct.scope + (struct.union.annotations, "UnionTags"))
                    for case in struct.union.cases:
                        add(struct.scope + (struct.union.annotations, case.cls))
            if unit.service:
                for name in ("Constants", "AsyncServiceInterface", "AsyncServiceStub", "AsyncServiceBinder",
                             "AsyncServiceBinderHelper"):
                    add(unit.scope + (name,))
                for op in unit.service.operations:
                    add(unit.scope + (op.method, "Input"))
                    for param in op.params:
                        add(unit.scope + (op.method, "Input", param.member))
        self.declared = declared

    def spell(self, target, scope):
        """The shortest spelling of `target` that C++ lookup from `scope` resolves to it."""
        target, scope = tuple(target), tuple(scope)
        for start in range(len(target) - 1, -1, -1):
            first = target[start]
            # The innermost enclosing scope that declares the first component.
            found = next((depth for depth in range(len(scope), -1, -1)
                          if scope[:depth] + (first,) in self.declared), None)
            if found is not None and scope[:found] == target[:start]:
                return "::".join(target[start:])
        return absolute(target)


def type_name(t, scope, names):
    """The C++ spelling of a resolved type used as an element or required member."""
    if t.kind in PRIMITIVE_TYPES:
        return PRIMITIVE_TYPES[t.kind]
    if t.kind == "enum":
        return names.spell(t.decl.qualified, scope)
    if t.kind == "struct":
        return f"std::shared_ptr<const {names.spell(t.decl.qualified, scope)}>"
    if t.kind == "external":
        return f"std::shared_ptr<const {t.decl.cpp}>"
    if t.kind in ("list", "set"):
        return f"std::{t.kind}<{type_name(t.args[0], scope, names)}>"
    if t.kind == "map":
        return f"std::map<{type_name(t.args[0], scope, names)}, {type_name(t.args[1], scope, names)}>"
    raise ValueError(t.kind)


def member_type(field, scope, names):
    """The C++ type of a structure member or operation parameter."""
    if field.presence == model.REQUIRED:
        return type_name(field.type, scope, names)
    if field.type.kind == "struct":
        return f"::Tovri::OptionalPtr<const {names.spell(field.type.decl.qualified, scope)}>"
    if field.type.kind == "external":
        return f"::Tovri::OptionalPtr<const {field.type.decl.cpp}>"
    return f"boost::optional<{type_name(field.type, scope, names)}>"


def value_type(t, scope, names):
    """The C++ type of a named type's value (a structure itself, not its pointer)."""
    if t.kind == "struct":
        return names.spell(t.decl.qualified, scope)
    if t.kind == "external":
        return t.decl.cpp
    return type_name(t, scope, names)


def std_headers(types):
    """Standard headers the spellings of `types` need."""
    headers = set()
    for t in types:
        stack = [t]
        while stack:
            t = stack.pop()
            stack.extend(t.args)
            headers.update({
                "string": ["<string>"],
                "blob": ["<vector>"],
                "list": ["<list>"],
                "set": ["<set>"],
                "map": ["<map>"],
                "struct": ["<memory>"],
                "external": ["<memory>"],
            }.get(t.kind, []))
    return headers
