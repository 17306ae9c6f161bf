"""Emitters of the per-structure companions that live outside the class:
validator rules (every structure and operation input) and struct metadata
(structures with identifier fields)."""

from .. import cpp
from ..names import upper_camel
from . import params, quote, render
from .types import local

_CHAIN = " &&\n         "  # continues a `return a && b` chain under its first operand


def _native_name(qualified):
    return quote(cpp.absolute(qualified))


def validator(struct, namespace, names, operation=None):
    """(declaration, definition) of a structure's validator; `operation` is
    set for an operation's ``Input``, whose structure parameters are checked."""
    type_ = local(struct.qualified, namespace)
    if operation is not None:
        op_name = quote(cpp.absolute(struct.scope[:-1] + (operation.native,)))
        checks = [f"c.CheckInputUndeclaredFields(v, {_native_name(struct.qualified)}, kOperation)"]
        checks += [f"c.DescendParameter(v.{struct.field(w).member}, kOperation)" for w in operation.descend]
        body = f"  static constexpr const char* kOperation = {op_name};\n  return {_CHAIN.join(checks)};"
    else:
        checks = [f"c.CheckUndeclaredFields(v, {_native_name(struct.qualified)})"]
        checks += [f"c.DescendRequired(v.{struct.field(w).member})" for w in struct.descend]
        if struct.union:
            annotations = local(struct.scope + (struct.union.annotations,), namespace)
            tag = struct.field(struct.union.tag).member
            for case in struct.union.cases:
                member = struct.field(case.field).member
                checks.append(f"c.CheckUnionCase<{annotations}::UnionTags, 0, {annotations}::{case.cls}>(\n"
                              f"             v, v.{tag}, v.{member}, {quote(member)})")
        body = f"  return {_CHAIN.join(checks)};"
    full = cpp.absolute(struct.qualified)
    check = params(f"bool Rules<{type_}>::Check(", f"const {type_}& v, Checker& c")
    valid = params(f"bool isValid<{type_}>(", f"const {type_}& v, Policy p, std::list<::Tovri::BaseMessage>& m")
    return (render("validator.hpp", type=full),
            render("validator.cpp", type=type_, body=body, check_params=check, valid_params=valid))


def metadata(struct, namespace):
    """(declaration, definition) of ``StructInfo::Create``, or None."""
    if struct.metadata is None:
        return None
    resource_types, fields = [], []
    for wire, resource in struct.metadata.identifiers:
        constant = f"k{upper_camel(wire)}"
        resource_types.append(f"  static const char* const {constant}[1] = {{{quote(resource)}}};")
        fields.append(f"  fields[{quote(wire)}] = RegularField<0, 0>::GetInstance({constant});")
    return (render("metadata.hpp", type=cpp.absolute(struct.qualified)),
            render("metadata.cpp", type=local(struct.qualified, namespace), name=quote(struct.metadata.name),
                   resource_types="\n".join(resource_types), fields="\n".join(fields)))
