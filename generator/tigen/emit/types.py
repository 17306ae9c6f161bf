"""Emitters of the package's types: enumerations, union annotations and
structures (with their adapter field lists and type traits)."""

from .. import cpp, model
from ..names import upper_camel
from . import braced_list, indent, join, params, quote, render, string_table


# -- enumerations -------------------------------------------------------------


def enumeration_class(enum):
    # Enumerators take the native names; the string table keeps the wire ones.
    enumerators = ",\n".join(f"    {c} = {i}" for i, c in enumerate(enum.members + ["_UNKNOWN"]))
    return render("enumeration.hpp", name=enum.name, wire=enum.wire, enumerators=enumerators,
                  strings=string_table(enum.constants + ["_UNKNOWN"]))


def local(qualified, namespace):
    """The spelling of a package name in a unit's source, through its ``pkg`` alias."""
    return "::".join(("pkg",) + tuple(qualified[len(namespace):]))


def enumeration_type_info(enum, namespace):
    return (render("type_info_name.hpp", type=cpp.absolute(enum.qualified)),
            render("type_info_name.cpp", type=local(enum.qualified, namespace), name=quote(enum.wire)))


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
        helper = [render("adapter_helper.hpp", name=name)]
        return render("structure.hpp", comment=self.comment(), name=name, members=self.members(),
                      adapter_helper=indent(join(helper, "\n"), 2))

    def owner(self, scope):
        """The structure's spelling in a definition written inside namespace `scope`."""
        return "::".join(self.struct.qualified[len(scope):])

    def definitions(self, scope):
        """Out-of-line definitions, written inside the unit's namespace `scope`."""
        owner, name, fields = self.owner(scope), self.struct.name, self.struct.fields
        n2v = "\n".join(f'  h.AddField("{f.wire}", &obj->{f.member});' for f in fields)
        head = f"void {owner}::AdapterHelper::AddFields("
        n2v_params = params(head, f"N2VHelper& h, const {name}* obj")
        v2n_params = params(head, f"V2NHelper& h, {name}* obj")
        blocks = [render("adapter_n2v.cpp", owner=owner, name=name, params=n2v_params, fields=n2v)]
        if fields:
            v2n = "\n".join(f'  h.{_v2n_request(f)}("{f.wire}", &obj->{f.member});' for f in fields)
            names = braced_list([quote(f.wire) for f in sorted(fields, key=lambda f: f.wire.encode())],
                                len("  static const ::boost::string_view kFieldNames[] = "))
            blocks.append(render("adapter_v2n.cpp", owner=owner, params=v2n_params, fields=v2n, sorted_names=names))
        else:
            blocks.append(render("adapter_v2n_empty.cpp", owner=owner, params=v2n_params))
        if fields:
            n2d = "\n".join(f"  h.{self._definition_request(f)}(\"{f.wire}\");" for f in fields)
            blocks.append(render("adapter_n2d.cpp", owner=owner, fields=n2d))
        else:
            blocks.append(render("adapter_n2d_empty.cpp", owner=owner))
        return join(blocks)

    def _definition_request(self, field):
        """The definition form's request for one field: its member type, and for a
        union case the tag list, tag index and case predicate."""
        scope = self.struct.qualified
        member = cpp.member_type(field, scope, self.names)
        union = self.struct.union
        case = next((c for c in union.cases if c.field == field.wire), None) if union else None
        if case is None:
            return f"AddField<{member}>"
        annotations = self.names.spell(self.struct.scope + (union.annotations,), scope)
        return (f"AddUnionCaseField<{member}, {annotations}::UnionTags, 0,\n"
                f"                      ::Tovri::Data::UnionCaseAnyEnumValue<{annotations}::{case.cls}>>")

    def type_info(self, namespace):
        name = "TypeInfo<::Tovri::OperationInput>::name()" if self.input_of else quote(self.struct.wire)
        return (render("type_info.hpp", type=self.absolute),
                render("type_info.cpp", type=local(self.struct.qualified, namespace), name=name))


def _v2n_request(field):
    """The value-to-native field request: optionals and required structures are
    looked up with AddField, every other required member with AddFieldInt."""
    if field.presence != model.REQUIRED or field.type.is_struct:
        return "AddField"
    return "AddFieldInt"
