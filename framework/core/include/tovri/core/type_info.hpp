// Per-type traits naming a native type to the framework.
#pragma once

namespace Tovri {
namespace Data {

// Specialised for every native structure, enumeration and framework
// structure: `static std::string name()` gives the wire name, and
// `static std::shared_ptr<T> defaultInstance(const std::shared_ptr<const DataValue>&)`
// a new default-constructed object (structures only).
template <class T>
struct TypeInfo;

}  // namespace Data
}  // namespace Tovri
