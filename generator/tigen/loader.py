"""Reads the catalogue (TOML, one file per package area) into the model.

Every check that can refuse a catalogue lives here, so the emitters can trust
what they are given. A refusal raises CatalogueError naming the file and the
entry.
"""

import re
import tomllib
from pathlib import Path

from . import model
from .errors import CatalogueError
from .names import (
    CONSTANT,
    DOTTED_WIRE,
    FIELD_WIRE,
    METADATA_NAME,
    OPERATION_WIRE,
    RESOURCE_TYPE,
    TYPE_WIRE,
    UNIT_PATH,
    UPPER_IDENTIFIER,
    lower_camel,
    safe,
    snake,
    upper_camel,
)

# Names the generated code declares or uses unqualified next to the package's
# own, per kind of native name (see names.safe for the rule that avoids them).
#
# Types: the classes of a service and of a structure, the enumeration base
# class, and the aliases each unit's source declares in its namespace.
TYPE_TAKEN = frozenset({
    "AdapterHelper", "AsyncServiceBinder", "AsyncServiceBinderHelper", "AsyncServiceInterface",
    "AsyncServiceStub", "Constants", "DefinitionPtr", "Definitions", "Enumeration", "Field", "FieldTable",
    "Input", "N2DHelper", "N2VHelper", "StdErrors", "Strings", "UnionCase", "UnionTags", "V2NHelper", "Value",
})
# Structure members: the base class's, and the parameters and locals of the
# functions that read and write them.
MEMBER_TAKEN = frozenset({
    "AdapterHelper", "unknownFields", "h", "obj", "v", "c", "m", "p", "fields", "kFieldNames", "kOperation",
})
# Operation parameters are members of the operation's Input and parameters of
# the client stub's function, next to its own. (The stub's member "apiStub_"
# needs no entry: no catalogue name ends with "_".)
PARAM_TAKEN = MEMBER_TAKEN | {"activation", "result", "input", "impl", "localizer"}
# Operations are member functions of these classes.
OPERATION_TAKEN = frozenset({"AsyncServiceInterface", "AsyncServiceStub"})
PRESENCES = (model.REQUIRED, model.OPTIONAL, model.UNION_CASE)


class _Where:
    """The position of an entry, for messages: file, then entry path."""

    def __init__(self, file, *path):
        self.file = file
        self.path = path

    def __truediv__(self, entry):
        return _Where(self.file, *self.path, entry)

    def __str__(self):
        return ", ".join((self.file,) + self.path) if self.path else self.file

    def fail(self, message):
        raise CatalogueError(str(self), message)


def _keys(table, where, required, optional=()):
    """Checks a table's keys: all of `required`, any of `optional`, no other.

    `required` and `optional` map key to the expected Python type.
    """
    if not isinstance(table, dict):
        where.fail("expected a table")
    for key, kind in dict(required).items():
        if key not in table:
            where.fail(f"missing required key '{key}'")
    allowed = dict(required) | dict(optional)
    for key, value in table.items():
        if key not in allowed:
            where.fail(f"unknown key '{key}' (expected one of: {', '.join(sorted(allowed))})")
        if not isinstance(value, allowed[key]) or (allowed[key] is int and isinstance(value, bool)):
            kind = {str: "a string", list: "an array", dict: "a table"}.get(allowed[key], str(allowed[key]))
            where.fail(f"key '{key}' must be {kind}")
    return table


def _strings(values, where, key):
    if not all(isinstance(v, str) for v in values):
        where.fail(f"'{key}' must hold strings only")
    return values


def _no_duplicates(values, where, what):
    seen = set()
    for value in values:
        if value in seen:
            where.fail(f"duplicate {what} '{value}'")
        seen.add(value)


# ---------------------------------------------------------------------------
# Type expressions: string | integer | ... | list<T> | set<T> | map<K, V> | A::B

_TOKEN = re.compile(r"\s*(?:(?P<name>[A-Za-z_][A-Za-z0-9_]*(?:::[A-Za-z_][A-Za-z0-9_]*)*)|(?P<punct>[<>,]))")


def _parse_type(text, where):
    tokens = []
    pos = 0
    text = text.rstrip()
    while pos < len(text):
        match = _TOKEN.match(text, pos)
        if not match:
            where.fail(f"malformed type '{text}'")
        tokens.append(match.group("name") or match.group("punct"))
        pos = match.end()

    def parse(i):
        if i >= len(tokens) or tokens[i] in "<>,":
            where.fail(f"malformed type '{text}'")
        name = tokens[i]
        if i + 1 < len(tokens) and tokens[i + 1] == "<":
            args, i = [], i + 2
            while True:
                arg, i = parse(i)
                args.append(arg)
                if i < len(tokens) and tokens[i] == ",":
                    i += 1
                    continue
                if i < len(tokens) and tokens[i] == ">":
                    return (name, args), i + 1
                where.fail(f"malformed type '{text}'")
        return (name, None), i + 1

    tree, end = parse(0)
    if end != len(tokens):
        where.fail(f"malformed type '{text}'")
    return tree


class _Symbols:
    """Declared enumerations and structures by qualified name."""

    def __init__(self):
        self.decls = {}
        self.scopes = set()  # every namespace or class that declares something

    def declare(self, key, decl, where):
        """Declares `decl` under its catalogue name `key` (scope + name)."""
        if key in self.decls:
            where.fail(f"'{'::'.join(key)}' is declared twice")
        self.decls[key] = decl

    def lookup(self, scope, name):
        """C++-style lookup of `name` (possibly qualified) from `scope` outwards."""
        parts = tuple(name.split("::"))
        for depth in range(len(scope), -1, -1):
            decl = self.decls.get(scope[:depth] + parts)
            if decl is not None:
                return decl
        return model.EXTERNALS.get(name)


def _resolve(tree, scope, symbols, where, text):
    name, args = tree
    containers = {"list": 1, "set": 1, "map": 2}
    if name in containers:
        if args is None or len(args) != containers[name]:
            where.fail(f"'{name}' takes {containers[name]} type argument(s) in '{text}'")
        resolved = tuple(_resolve(a, scope, symbols, where, text) for a in args)
        if name == "set" and resolved[0].kind not in ("string", "integer", "enum"):
            where.fail(f"a set holds strings, integers or enumerations, not '{resolved[0].spelling()}'")
        if name == "map" and resolved[0].kind != "integer":
            where.fail(f"map keys must be integers, not '{resolved[0].spelling()}'")
        return model.Type(name, resolved)
    if args is not None:
        where.fail(f"'{name}' takes no type arguments in '{text}'")
    if name in model.PRIMITIVES:
        return model.Type(name)
    decl = symbols.lookup(scope, name)
    if decl is None:
        where.fail(f"unknown type '{name}' (looked up from {'::'.join(scope) or 'the package'})")
    if isinstance(decl, model.External):
        return model.Type("external", decl=decl)
    if isinstance(decl, _ServiceDecl):
        where.fail(f"'{name}' is a service, not a type")
    return model.Type("enum" if isinstance(decl, model.Enumeration) else "struct", decl=decl)


# ---------------------------------------------------------------------------


class _Loader:
    def __init__(self, root):
        self.root = Path(root)
        self.symbols = _Symbols()
        self.units = []
        self.pending = []  # (unit, raw table, where) for the resolution pass

    def load(self):
        files = sorted(self.root.rglob("*.toml"))
        if not files:
            raise CatalogueError(str(self.root), "no catalogue files (*.toml)")
        for path in files:
            self._read_file(path)
        _no_duplicates([u.path for u in self.units], _Where(str(self.root)), "unit")
        for unit, raw, where in self.pending:
            self._resolve_unit(unit, raw, where)
        self._link_units()
        return model.Catalogue(self.units)

    # -- pass 1: declarations ---------------------------------------------

    def _read_file(self, path):
        rel = path.relative_to(self.root).as_posix()
        try:
            with open(path, "rb") as stream:
                data = tomllib.load(stream)
        except OSError as error:
            raise CatalogueError(rel, f"cannot read: {error.strerror or error}") from None
        except (tomllib.TOMLDecodeError, UnicodeDecodeError) as error:
            raise CatalogueError(rel, f"not valid TOML: {error}") from None
        where = _Where(rel)
        _keys(data, where, {}, {"types": list, "service": list})
        if not data:
            where.fail("declares no [[types]] and no [[service]]")
        for i, raw in enumerate(data.get("types", [])):
            self._declare_unit(raw, where / f"types #{i + 1}", service=False)
        for i, raw in enumerate(data.get("service", [])):
            self._declare_unit(raw, where / f"service #{i + 1}", service=True)

    def _declare_unit(self, raw, where, service):
        common = {"unit": str, "namespace": str}
        contents = {"enumeration": list, "structure": list}
        if service:
            _keys(raw, where, common | {"class": str, "id": str}, contents | {"resource_type": str, "operation": list})
            where = _Where(where.file, f"service {raw['class']}")
        else:
            _keys(raw, where, common | {"wire": str}, contents)
            where = _Where(where.file, f"types {raw['namespace'] or '(top level)'}")
        if not UNIT_PATH.match(raw["unit"]):
            where.fail(f"bad unit path '{raw['unit']}' (lower case, '/'-separated)")
        namespace = tuple(raw["namespace"].split("::")) if raw["namespace"] else ()
        for part in namespace:
            if not UPPER_IDENTIFIER.match(part):
                where.fail(f"bad namespace '{raw['namespace']}'")
        svc = None
        if service:
            if not UPPER_IDENTIFIER.match(raw["class"]) or not raw["class"].endswith("Svc"):
                where.fail(f"bad service class '{raw['class']}' (upper camel case ending in 'Svc')")
            if not DOTTED_WIRE.match(raw["id"]):
                where.fail(f"bad service id '{raw['id']}'")
            if "resource_type" in raw and not RESOURCE_TYPE.match(raw["resource_type"]):
                where.fail(f"bad resource type '{raw['resource_type']}'")
            svc = model.Service(raw["class"], raw["id"], raw.get("resource_type"), [])
            prefix = raw["id"]
        else:
            if not DOTTED_WIRE.match(raw["wire"]):
                where.fail(f"bad wire name '{raw['wire']}'")
            prefix = raw["wire"]
        unit = model.Unit(raw["unit"], where.file, namespace, [], [], svc)
        if svc:
            self.symbols.declare(unit.scope, _ServiceDecl(unit.scope), where)
        for i, entry in enumerate(raw.get("enumeration", [])):
            unit.enumerations.append(self._declare_enumeration(entry, unit, prefix, where / f"enumeration #{i + 1}"))
        for i, entry in enumerate(raw.get("structure", [])):
            unit.structures.append(self._declare_structure(entry, unit, prefix, where / f"structure #{i + 1}"))
        self.units.append(unit)
        self.pending.append((unit, raw, where))

    def _declare_type_name(self, raw, unit, prefix, where, what):
        """(native name, full wire name) of a type. The wire name defaults to
        the snake case of the name; a different one is used as written."""
        name = raw["name"]
        # "...Method" is the form of the operations' classes, which share the scope.
        if not UPPER_IDENTIFIER.match(name) or name.endswith("Method"):
            where.fail(f"bad {what} name '{name}'")
        wire = raw.get("wire", snake(name))
        if not TYPE_WIRE.match(wire):
            where.fail(f"bad wire name '{wire}' (lower case with underscores)")
        taken = TYPE_TAKEN | ({unit.service.cls} if unit.service else set())
        return safe(name, taken), f"{prefix}.{wire}"

    def _declare_enumeration(self, raw, unit, prefix, where):
        _keys(raw, where, {"name": str, "constants": list}, {"wire": str})
        where = _Where(where.file, *where.path[:-1], f"enumeration {raw['name']}")
        native, wire = self._declare_type_name(raw, unit, prefix, where, "enumeration")
        constants = _strings(raw["constants"], where, "constants")
        if not constants:
            where.fail("an enumeration needs at least one constant")
        for constant in constants:
            if constant == "_UNKNOWN":
                where.fail("'_UNKNOWN' is implied; do not list it")
            if not CONSTANT.match(constant):
                where.fail(f"bad constant '{constant}' (upper case with underscores)")
        _no_duplicates(constants, where, "constant")
        # Enumerators live in the class, where only its own name is taken; macros
        # ignore scopes, so names.safe still maps "NULL" or "EOF".
        members = [safe(c, {native}) for c in constants]
        enum = model.Enumeration(native, wire, list(constants), unit.scope, unit, raw["name"], members)
        self.symbols.declare(unit.scope + (raw["name"],), enum, where)
        return enum

    def _declare_structure(self, raw, unit, prefix, where):
        _keys(raw, where, {"name": str, "fields": list},
              {"wire": str, "descend": list, "union": dict, "metadata": dict})
        where = _Where(where.file, *where.path[:-1], f"structure {raw['name']}")
        native, wire = self._declare_type_name(raw, unit, prefix, where, "structure")
        struct = model.Structure(native, wire, [], unit.scope, unit=unit, label=raw["name"])
        struct.raw = raw
        self.symbols.declare(unit.scope + (raw["name"],), struct, where)
        return struct

    # -- pass 2: resolution and checks --------------------------------------

    def _resolve_unit(self, unit, raw, where):
        for struct in unit.structures:
            self._resolve_structure(struct, where / f"structure {struct.name}")
        if unit.service:
            self._resolve_operations(unit, raw.get("operation", []), where)
        if not (unit.structures or unit.enumerations or unit.service):
            where.fail("declares nothing")

    def _field(self, raw, scope, where, presences, taken):
        _keys(raw, where, {"wire": str, "type": str}, {"presence": str})
        wire = raw["wire"]
        where = _Where(where.file, *where.path[:-1], f"{where.path[-1].split(' #')[0]} {wire}")
        if not FIELD_WIRE.match(wire):
            where.fail(f"bad wire name '{wire}' (lower case with underscores)")
        presence = raw.get("presence", model.REQUIRED)
        if presence not in presences:
            where.fail(f"bad presence '{presence}' (expected one of: {', '.join(presences)})")
        tree = _parse_type(raw["type"], where)
        ftype = _resolve(tree, scope, self.symbols, where, raw["type"])
        return model.Field(wire, safe(lower_camel(wire), taken), ftype, presence), where

    def _fields(self, entries, scope, where, what, presences, taken):
        fields = []
        for i, raw in enumerate(entries):
            field, fwhere = self._field(raw, scope, where / f"{what} #{i + 1}", presences, taken)
            if any(f.wire == field.wire for f in fields):
                fwhere.fail(f"duplicate {what} '{field.wire}'")
            if any(f.member == field.member for f in fields):
                fwhere.fail(f"member name '{field.member}' of {what} '{field.wire}' is already taken")
            fields.append(field)
        return fields

    def _resolve_structure(self, struct, where):
        raw = struct.raw
        del struct.raw
        struct.fields = self._fields(raw["fields"], struct.scope, where, "field", PRESENCES, MEMBER_TAKEN)
        if "union" in raw:
            struct.union = self._union(raw["union"], struct, where / "union")
        elif any(f.presence == model.UNION_CASE for f in struct.fields):
            bad = next(f for f in struct.fields if f.presence == model.UNION_CASE)
            (where / f"field {bad.wire}").fail("a union-case field needs a [union] table on its structure")
        derived = [f.wire for f in struct.fields if f.presence == model.REQUIRED and f.type.kind == "struct"]
        struct.descend = self._descend(raw.get("descend"), derived, where, "required structure fields")
        if "metadata" in raw:
            struct.metadata = self._metadata(raw["metadata"], struct, where / "metadata")

    def _descend(self, declared, derived, where, what):
        """The descents are derived; a `descend` key may only restate them."""
        if declared is None:
            return derived
        declared = _strings(declared, where, "descend")
        if declared != derived:
            where.fail(f"descend lists {declared} but validation descends into the {what} {derived}")
        return list(declared)

    def _union(self, raw, struct, where):
        _keys(raw, where, {"tag": str, "cases": list}, {"annotations": str})
        # Class names follow from the catalogue names, so that code using the
        # package can predict them: a written one may only restate them.
        annotations = f"{struct.label}Annotations"
        if raw.get("annotations", annotations) != annotations:
            where.fail(f"annotation class '{raw['annotations']}' should be '{annotations}'")
        if struct.scope + (annotations,) in self.symbols.decls:
            where.fail(f"annotation class '{annotations}' clashes with a declared type")
        tag = struct.field(raw["tag"])
        if tag is None:
            where.fail(f"tag field '{raw['tag']}' is not a field of {struct.label}")
        if tag.type.kind != "enum" or tag.presence != model.REQUIRED:
            where.fail(f"tag field '{raw['tag']}' must be a required enumeration")
        cases = []
        for i, case in enumerate(raw["cases"]):
            cwhere = where / f"case #{i + 1}"
            _keys(case, cwhere, {"field": str, "tags": list}, {"class": str})
            cwhere = where / f"case {case['field']}"
            field = struct.field(case["field"])
            if field is None:
                cwhere.fail(f"case field '{case['field']}' is not a field of {struct.label}")
            if field.presence != model.UNION_CASE:
                cwhere.fail(f"case field '{case['field']}' must have presence 'union-case'")
            cls = f"{upper_camel(case['field'])}UnionCases"
            if case.get("class", cls) != cls:
                cwhere.fail(f"case class '{case['class']}' should be '{cls}'")
            tags = _strings(case["tags"], cwhere, "tags")
            if not tags:
                cwhere.fail("a union case needs at least one tag value")
            for value in tags:
                if value not in tag.type.decl.constants:
                    cwhere.fail(f"tag value '{value}' is not a constant of {tag.type.decl.label} "
                                f"({', '.join(tag.type.decl.constants)})")
            _no_duplicates(tags, cwhere, "tag value")
            cases.append(model.UnionCase(case["field"], cls, list(tags)))
        if not cases:
            where.fail("a union needs at least one case")
        _no_duplicates([c.field for c in cases], where, "case field")
        for field in struct.fields:
            if field.presence == model.UNION_CASE and not any(c.field == field.wire for c in cases):
                where.fail(f"union-case field '{field.wire}' has no case")
        return model.Union(annotations, raw["tag"], cases)

    def _metadata(self, raw, struct, where):
        _keys(raw, where, {"name": str, "identifiers": dict})
        if not METADATA_NAME.match(raw["name"]):
            where.fail(f"bad metadata name '{raw['name']}'")
        if not raw["identifiers"]:
            where.fail("metadata needs at least one identifier field")
        identifiers = []
        for wire, resource in raw["identifiers"].items():
            field = struct.field(wire)
            if field is None:
                where.fail(f"identifier field '{wire}' is not a field of {struct.label}")
            base = field.type.args[0] if field.type.kind in ("list", "set") else field.type
            if base.kind != "string":
                where.fail(f"identifier field '{wire}' must hold strings")
            if not isinstance(resource, str) or not RESOURCE_TYPE.match(resource):
                where.fail(f"bad resource type {resource!r} for identifier field '{wire}'")
            identifiers.append((wire, resource))
        return model.Metadata(raw["name"], identifiers)

    def _resolve_operations(self, unit, entries, where):
        if not entries:
            where.fail("a service needs at least one operation")
        operations = unit.service.operations
        # An operation's member function would hide, inside the interface, the
        # types visible there and the operations' classes.
        taken = set(OPERATION_TAKEN)
        taken |= {getattr(d, "name", key[-1]) for key, d in self.symbols.decls.items()
                  if key[:-1] == unit.scope[:len(key) - 1]}
        taken |= {f"{upper_camel(raw['name'])}Method" for raw in entries
                  if isinstance(raw, dict) and isinstance(raw.get("name"), str)}
        for i, raw in enumerate(entries):
            owhere = where / f"operation #{i + 1}"
            _keys(raw, owhere, {"name": str, "result": str, "errors": list},
                  {"method": str, "params": list, "descend": list})
            owhere = where / f"operation {raw['name']}"
            if not OPERATION_WIRE.match(raw["name"]):
                owhere.fail(f"bad wire name '{raw['name']}'")
            # Like union classes, the method class follows from the wire name.
            method = f"{upper_camel(raw['name'])}Method"
            if raw.get("method", method) != method:
                owhere.fail(f"method class '{raw['method']}' should be '{method}'")
            if any(op.name == raw["name"] for op in operations):
                owhere.fail(f"duplicate operation '{raw['name']}'")
            params = self._fields(raw.get("params", []), unit.scope, owhere, "param",
                                  (model.REQUIRED, model.OPTIONAL), PARAM_TAKEN)
            if raw["result"] == "void":
                result = model.Type("void")
            else:
                rwhere = owhere / "result"
                result = _resolve(_parse_type(raw["result"], rwhere), unit.scope, self.symbols, rwhere, raw["result"])
            errors = _strings(raw["errors"], owhere, "errors")
            for error in errors:
                if error not in model.STANDARD_ERRORS:
                    owhere.fail(f"error '{error}' is not a standard error ({', '.join(model.STANDARD_ERRORS)})")
            _no_duplicates(errors, owhere, "error")
            derived = [p.wire for p in params if p.type.kind == "struct"]
            descend = self._descend(raw.get("descend"), derived, owhere, "structure parameters")
            native = safe(upper_camel(raw["name"]), taken)
            operations.append(model.Operation(raw["name"], method, params, result, list(errors), descend, native))

    # -- pass 3: dependencies between units ----------------------------------

    def _link_units(self):
        for unit in self.units:
            types = [f.type for s in unit.structures for f in s.fields]
            if unit.service:
                for op in unit.service.operations:
                    types += [p.type for p in op.params] + [op.result]
            depends = []
            for t in types:
                for decl in _declarations(t):
                    if decl.unit is not unit and decl.unit not in depends:
                        depends.append(decl.unit)
            unit.depends = depends
        # A unit's header includes those of its dependencies: no cycles.
        state = {}

        def visit(unit, chain):
            if state.get(unit.path) == "done":
                return
            if state.get(unit.path) == "open":
                cycle = " -> ".join(u.path for u in chain[chain.index(unit):] + [unit])
                raise CatalogueError(unit.source, f"units depend on each other: {cycle}")
            state[unit.path] = "open"
            for dep in unit.depends:
                visit(dep, chain + [unit])
            state[unit.path] = "done"

        for unit in self.units:
            visit(unit, [])
            self._check_structure_order(unit)

    @staticmethod
    def _check_structure_order(unit):
        """A structure is declared after those of its unit it refers to, so a
        cycle through other structures is refused. A structure may refer to
        itself: its members hold it through pointers to the incomplete type."""
        state = {}

        def visit(struct, chain):
            if state.get(id(struct)) == "done":
                return
            if state.get(id(struct)) == "open":
                cycle = " -> ".join(s.label for s in chain[chain.index(struct):] + [struct])
                _Where(unit.source, f"structure {struct.label}").fail(f"structures refer to each other: {cycle}")
            state[id(struct)] = "open"
            for field in struct.fields:
                for decl in _declarations(field.type):
                    if isinstance(decl, model.Structure) and decl.unit is unit and decl is not struct:
                        visit(decl, chain + [struct])
            state[id(struct)] = "done"

        for struct in unit.structures:
            visit(struct, [])


class _ServiceDecl:
    """A service class as a name in its namespace (so types cannot clash with it)."""

    def __init__(self, qualified):
        self.qualified = qualified


def _declarations(t):
    if t.kind in ("enum", "struct"):
        yield t.decl
    for arg in t.args:
        yield from _declarations(arg)


def load(root):
    """Loads and checks every ``*.toml`` file under `root`."""
    return _Loader(root).load()
