"""Emitter of a service class: constants, method descriptors, interface,
client stub and provider binder."""

from .. import cpp, model
from . import indent, join, quote, render
from .companions import validator
from .types import StructureEmitter


def input_structure(service_scope, op):
    """The ``<Op>Method::Input`` structure of an operation with parameters."""
    return model.Structure("Input", None, op.params, service_scope + (op.method,))


class ServiceEmitter:
    def __init__(self, unit, names):
        self.unit = unit
        self.service = unit.service
        self.names = names
        self.scope = unit.scope

    def inputs(self):
        """(operation, StructureEmitter or None) in slot order."""
        return [(op, StructureEmitter(input_structure(self.scope, op), self.names, input_of=op) if op.params else None)
                for op in self.service.operations]

    def constants(self):
        if not self.service.resource_type:
            return ""
        return render("constants.hpp", resource_type=quote(self.service.resource_type))

    def result_type(self, op):
        return cpp.type_name(op.result, self.scope + (op.method,), self.names)

    def method_class(self, op, input_emitter):
        input_ = (input_emitter.declaration() + "\n" if input_emitter
                  else "// No parameters: the input is the framework's empty operation input.\n"
                       "using Input = ::Tovri::OperationInput;")
        return render("method.hpp", wire=op.name, method=op.method, input=indent(input_),
                      result=self.result_type(op))

    def _params(self, op, column):
        """The C++ parameters of an operation, one per line after the first."""
        scope = self.scope + ("AsyncServiceInterface",)
        params = [f"const {cpp.member_type(p, scope, self.names)}& {p.member}" for p in op.params]
        params += ["const std::shared_ptr<::Tovri::Core::AsyncActivation>& activation",
                   f"const {op.method}::ResultCbType& result"]
        return (",\n" + " " * column).join(params)

    def interface(self):
        operations, overrides, builders = [], [], []
        for op in self.service.operations:
            head = f"  virtual void {op.native}("
            operations.append(f"{head}{self._params(op, len(head))}) = 0;")
            head = f"  void {op.native}("
            overrides.append(f"{head}{self._params(op, len(head))}) override;")
            fields = "".join(f", &{op.method}::Input::{p.member}" for p in op.params)
            builders.append(f"  using {op.method}Builder = ::Tovri::Provider::MethodBuilder<{op.method}{fields}>;")
        return render("interface.hpp", operations="\n".join(operations), overrides="\n".join(overrides),
                      builders="\n".join(builders))

    def declaration(self, types):
        """The service class, holding the unit's `types` (already rendered)."""
        members = [self.constants(), "class AsyncServiceInterface;", types]
        members += [self.method_class(op, e) for op, e in self.inputs()]
        members.append(self.interface())
        return render("service.hpp", id=self.service.id, cls=self.service.cls, members=indent(join(members)))

    def interface_definitions(self, svc):
        stubs = []
        for op in self.service.operations:
            head = f"void {svc}::AsyncServiceStub::{op.native}("
            params = self._params(op, 4)
            params = params if len(head) + len(params.split("\n")[0]) < 110 else "\n    " + params
            copies = "\n".join(f"  input.{p.member} = {p.member};" for p in op.params)
            template = "stub_operation.cpp" if op.params else "stub_operation_void.cpp"
            stubs.append(render(template, svc=svc, op=op.native, method=op.method, params=params, copies=copies))
        slots = ",\n".join(f"      Slot<{op.method}, AsyncServiceBinderHelper::{op.method}Builder>("
                           f"&AsyncServiceInterface::{op.native})" for op in self.service.operations)
        return render("interface.cpp", svc=svc, stub_operations=join(stubs), slots=slots)

    def input_definitions(self, namespace):
        """(field table, adapter forwards) of each operation input."""
        return [e.definitions(namespace) for _, e in self.inputs() if e]

    def definitions(self, namespace):
        out = []
        for op in self.service.operations:
            owner = "::".join(self.scope[len(namespace):] + (op.method,))
            errors = ", ".join(f"StdErrors::{e}" for e in op.errors)
            out.append(render("method.cpp", owner=owner, wire=quote(op.name), result=self.result_type(op),
                              errors=errors))
        out.append(self.interface_definitions("::".join(self.scope[len(namespace):])))
        return join(out)

    def type_infos(self):
        interface = self.scope + ("AsyncServiceInterface",)
        named = render("type_info_name.hpp", type=cpp.absolute(interface), name=quote(self.service.id))
        return [e.type_info() for _, e in self.inputs() if e] + [named]

    def validators(self, namespace):
        """Validators of the inputs; an operation without parameters has none."""
        return [validator(e.struct, namespace, self.names, operation=op) for op, e in self.inputs() if e]
