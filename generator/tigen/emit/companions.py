"""Emitters of the per-structure companions that live outside the class:
validator rules (every structure and operation input) and struct metadata
(structures with identifier fields)."""

from .. import cpp
from . import quote, render
from .types import local, table_name

def _native_name(qualified):
    return quote(cpp.absolute(qualified))


def validator(struct, namespace, names, operation=None):
    """(declaration, definition) of a structure's validator, its checks drawn
    from the structure's field table; `operation` is set for an operation's
    ``Input``, whose structure parameters are checked."""
    type_ = local(struct.qualified, namespace)
    table = f"pkg::{table_name(struct, namespace)}"
    if operation is not None:
        op_name = _native_name(struct.scope[:-1] + (operation.native,))
        check = f"c.CheckInputTable(v, {table}, {_native_name(struct.qualified)}, {op_name})"
    else:
        if struct.union:
            order = [f.wire for f in struct.fields if any(c.field == f.wire for c in struct.union.cases)]
            if order != [c.field for c in struct.union.cases]:
                # The table checks union cases in member order.
                raise ValueError(f"structure {struct.name}: union cases must follow the member order")
        check = f"c.CheckTable(v, {table}, {_native_name(struct.qualified)})"
    return (render("validator.hpp", type=cpp.absolute(struct.qualified)),
            render("validator.cpp", type=type_, check=check))


def metadata(struct, namespace):
    """(declaration, definition) of ``StructInfo::Create``, or None."""
    if struct.metadata is None:
        return None
    fields = ", ".join(f"{{{quote(wire)}, {quote(resource)}}}" for wire, resource in struct.metadata.identifiers)
    return (render("metadata.hpp", type=cpp.absolute(struct.qualified)),
            render("metadata.cpp", type=local(struct.qualified, namespace), name=quote(struct.metadata.name),
                   fields=fields))
