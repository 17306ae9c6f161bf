"""Emitters of the package's types: enumerations, union annotations and
structures (with their adapter field lists and type traits)."""

from .. import cpp, model
from ..names import upper_camel
from . import indent, join, quote, render, string_table


# -- enumerations -------------------------------------------------------------


def enumeration_class(enum):
    # Enumerators take the native names; the string table keeps the wire ones.
    enumerators = ", ".join(f"{c} = {i}" for i, c in enumerate(enum.members + ["_UNKNOWN"]))
    return render("enumeration.hpp", name=enum.name, wire=enum.wire, enumerators=enumerators,
                  strings=string_table(enum.constants + ["_UNKNOWN"]))


def local(qualified, namespace):
    """The spelling of a package name in a unit's source, through its ``pkg`` alias."""
    return "::".join(("pkg",) + tuple(qualified[len(namespace):]))


def enumeration_type_info(enum):
    return render("type_info_name.hpp", type=cpp.absolute(enum.qualified), name=quote(enum.wire))


# -- unions -------------------------------------------------------------------


def union_annotations(struct):
    union = struct.union
    cases = [render("union_case.hpp", field=c.field, cls=c.cls, values=string_table(c.tags + ["_UNKNOWN"]))
             for c in union.cases]
    return render("union_annotations.hpp", struct=struct.name, annotations=union.annotations,
                  tags=string_table([union.tag, "_UNKNOWN"]), cases=indent(join(cases)))


# -- structures ---------------------------------------------------------------


class StructureEmitter:
    """A package structure, or an operation's ``Input`` (``input_of`` set)."""

    def __init__(self, struct, names, input_of=None):
        self.struct = struct
        self.names = names
        self.input_of = input_of

    @property
    def absolute(self):
        return cpp.absolute(self.struct.qualified)

    def comment(self):
        if self.input_of:
            return (f'Parameters of "{self.input_of.name}"; named on the wire as every operation input '
                    f"(::Tovri::OperationInput).")
        return f'Structure "{self.struct.wire}".'

    def members(self):
        scope = self.struct.qualified
        lines = []
        for f in self.struct.fields:
            # Integers and booleans get a defined start value; callers set them anyway.
            init = {"integer": " = 0", "boolean": " = false"}.get(f.type.kind, "") \
                if f.presence == model.REQUIRED else ""
            lines.append(f"  {cpp.member_type(f, scope, self.names)} {f.member}{init};")
        return "\n".join(lines)

    def declaration(self):
        name = self.struct.name
        return render("structure.hpp", comment=self.comment(), name=name, members=self.members(),
                      adapter_helper=indent(render("adapter_helper.hpp", name=name)))

    def owner(self, scope):
        """The structure's spelling in a definition written inside namespace `scope`."""
        return "::".join(self.struct.qualified[len(scope):])

    def definitions(self, scope):
        """(field table, adapter entry points forwarding to it), written inside
        the unit's namespace `scope`."""
        owner = self.owner(scope)
        table = table_name(self.struct, scope)
        entries = [self._entry(f, scope) for f in self.struct.fields]
        head = f"constexpr FieldTable {table}{{"
        if not entries:
            fields = render("field_table_empty.cpp", table=table)
        elif len(entries) == 1 and "\n" not in entries[0] and len(head) + len(entries[0]) + 2 <= 110:
            fields = render("field_table.cpp", table=table, entries=entries[0])
        else:
            fields = render("field_table.cpp", table=table, entries="\n" + ",\n".join(f"    {e}" for e in entries))
        return fields, render("adapter_forwards.cpp", owner=owner, name=self.struct.name, table=table)

    def _entry(self, field, scope):
        """One table entry: wire name and member, and for a union case its tag
        list, tag index, case values, tag member and member name."""
        owner = self.owner(scope)
        member = f"&{owner}::{field.member}"
        union = self.struct.union
        case = next((c for c in union.cases if c.field == field.wire), None) if union else None
        if case is None:
            return f"Field{{{quote(field.wire)}, {member}}}"
        annotations = "::".join((self.struct.scope + (union.annotations,))[len(scope):])
        tag = f"&{owner}::{self.struct.field(union.tag).member}"
        return (f"UnionCase<{annotations}::UnionTags, 0, {annotations}::{case.cls}>(\n"
                f"        {quote(field.wire)}, {member}, {tag}, {quote(field.member)})")

    def type_info(self):
        name = "TypeInfo<::Tovri::OperationInput>::name()" if self.input_of else quote(self.struct.wire)
        return render("type_info.hpp", type=self.absolute, name=name)


def table_name(struct, namespace):
    """The name of a structure's field table in its unit's source: its path
    below the unit's namespace, less the service class."""
    path = struct.qualified[len(namespace):]
    return "k" + "_".join(path[1:] if len(path) > 1 else path)
