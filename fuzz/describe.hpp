// Short text forms of definitions and values, for reports of findings.
// Iterative, and cut after `max` nodes.
#pragma once

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <tovri/core/definition.hpp>
#include <tovri/core/value.hpp>

#include "verdict.hpp"

namespace DralFuzz {

inline std::string Describe(const Tovri::Data::DataDefinition* root, std::size_t max = 200) {
  using namespace Tovri::Data;
  // Each entry is a node to print or a literal text to emit.
  std::vector<std::pair<const DataDefinition*, std::string>> pending{{root, std::string()}};
  std::string out;
  std::size_t nodes = 0;
  while (!pending.empty()) {
    auto [definition, text] = std::move(pending.back());
    pending.pop_back();
    if (!text.empty()) {
      out += text;
      continue;
    }
    if (++nodes > max) {
      out += "...";
      break;
    }
    if (!definition) {
      out += "null";
    } else if (auto* structure = dynamic_cast<const StructDefinition*>(definition)) {
      out += "struct " + Printable(structure->GetName()) + "{";
      pending.emplace_back(nullptr, "}");
      const auto& fields = structure->GetFields();
      for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
        pending.emplace_back(it->second.get(), std::string());
        pending.emplace_back(nullptr,
                             (std::next(it) == fields.rend() ? "" : ", ") + Printable(it->first) + ": ");
      }
    } else if (auto* ref = dynamic_cast<const StructRefDefinition*>(definition)) {
      out += "ref " + Printable(ref->GetName()) + (ref->GetTarget() ? "" : " (unbound)");
    } else if (auto* list = dynamic_cast<const ListDefinition*>(definition)) {
      out += "list<";
      pending.emplace_back(nullptr, ">");
      pending.emplace_back(list->GetElement().get(), std::string());
    } else if (auto* optional = dynamic_cast<const OptionalDefinition*>(definition)) {
      out += "optional<";
      pending.emplace_back(nullptr, ">");
      pending.emplace_back(optional->GetElement().get(), std::string());
    } else if (auto* unionCase = dynamic_cast<const UnionCaseDefinition*>(definition)) {
      out += "case(tag " + Printable(unionCase->GetTagField()) + ")<";
      pending.emplace_back(nullptr, ">");
      pending.emplace_back(unionCase->GetCase().get(), std::string());
    } else {
      out += TypeName(definition->GetType());
    }
  }
  return out;
}

inline std::string Describe(const Tovri::Data::DataValue* root, std::size_t max = 200) {
  using namespace Tovri::Data;
  std::vector<std::pair<const DataValue*, std::string>> pending{{root, std::string()}};
  std::string out;
  std::size_t nodes = 0;
  while (!pending.empty()) {
    auto [value, text] = std::move(pending.back());
    pending.pop_back();
    if (!text.empty()) {
      out += text;
      continue;
    }
    if (++nodes > max) {
      out += "...";
      break;
    }
    if (!value) {
      out += "null";
      continue;
    }
    switch (value->GetType()) {
      case kInteger:
        out += std::to_string(static_cast<const IntegerValue*>(value)->GetValue());
        break;
      case kDouble:
        out += std::to_string(static_cast<const DoubleValue*>(value)->GetValue());
        break;
      case kBoolean:
        out += static_cast<const BooleanValue*>(value)->GetValue() ? "true" : "false";
        break;
      case kString:
        out += Printable(static_cast<const StringValue*>(value)->GetValue());
        break;
      case kOptional: {
        const auto* optional = static_cast<const OptionalValue*>(value);
        if (!optional->IsSet()) {
          out += "unset";
          break;
        }
        out += "set(";
        pending.emplace_back(nullptr, ")");
        pending.emplace_back(optional->GetValue().get(), std::string());
        break;
      }
      case kList: {
        const auto* list = static_cast<const ListValue*>(value);
        out += "list" + std::to_string(list->GetKind()) + "[";
        pending.emplace_back(nullptr, "]");
        const auto& elements = list->GetElements();
        for (std::size_t i = elements.size(); i-- > 0;) {
          pending.emplace_back(elements[i].get(), std::string());
          if (i != 0) pending.emplace_back(nullptr, ", ");
        }
        break;
      }
      case kStruct:
      case kDynamicStruct:
      case kError: {
        const auto* compound = static_cast<const CompoundValue*>(value);
        out += std::string(TypeName(value->GetType())) + " " + Printable(compound->GetName()) + "{";
        pending.emplace_back(nullptr, "}");
        const auto& fields = compound->GetFields();
        for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
          pending.emplace_back(it->second.get(), std::string());
          pending.emplace_back(nullptr,
                               (std::next(it) == fields.rend() ? "" : ", ") + Printable(it->first) + ": ");
        }
        break;
      }
      default:
        out += TypeName(value->GetType());
        break;
    }
  }
  return out;
}

}  // namespace DralFuzz
