// Test-only native types, written exactly as the generator writes package
// types: enumerations with their constant tables, a union with its
// annotations, a PCR-like map, sets, optional and required structures, lists
// of structures, a self-referring structure, a secret and method inputs.
//
// Each structure's AdapterHelper only declares its AddFields overloads; the
// bodies of each adapter's form live in a separate source
// (test_types_conversion.cpp for the two conversion forms,
// test_types_definition.cpp for the definition form), so another adapter
// adds its overload declaration here and its bodies in its own file.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <boost/optional.hpp>

#include <dral/runtime/native.hpp>
#include <dral/runtime/native_to_definition.hpp>
#include <dral/runtime/native_to_value.hpp>
#include <dral/runtime/value_to_native.hpp>

namespace Dral {
namespace TestTypes {

class ProviderType : public ::Tovri::Data::Enumeration<ProviderType> {
 public:
  enum Value : std::int32_t { NATIVE = 0, TRUST_AUTHORITY = 1, _UNKNOWN = 2 };
  struct Strings {
    static constexpr const char* values[] = {"NATIVE", "TRUST_AUTHORITY", "_UNKNOWN", nullptr};
  };

  using Enumeration::Enumeration;
  ProviderType(Value v) noexcept : Enumeration(v) {}  // NOLINT(google-explicit-constructor)
  Value value() const noexcept { return static_cast<Value>(raw()); }
};

class Color : public ::Tovri::Data::Enumeration<Color> {
 public:
  enum Value : std::int32_t { RED = 0, GREEN = 1, BLUE = 2, _UNKNOWN = 3 };
  struct Strings {
    static constexpr const char* values[] = {"RED", "GREEN", "BLUE", "_UNKNOWN", nullptr};
  };

  using Enumeration::Enumeration;
  Color(Value v) noexcept : Enumeration(v) {}  // NOLINT(google-explicit-constructor)
  Value value() const noexcept { return static_cast<Value>(raw()); }
};

struct Endpoint : ::Tovri::Data::BaseNative {
  std::string host;
  long long port = 0;

  struct AdapterHelper {
    static void AddFields(::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
                          const Endpoint* obj);
    static void AddFields(::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
                          Endpoint* obj);
    static void AddFields(
        ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
  };
};

// PCR-like: the one map kind of the package.
struct PcrBank : ::Tovri::Data::BaseNative {
  std::string algorithm;
  std::map<long long, std::vector<unsigned char>> pcrs;

  struct AdapterHelper {
    static void AddFields(::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
                          const PcrBank* obj);
    static void AddFields(::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
                          PcrBank* obj);
    static void AddFields(
        ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
  };
};

struct NativeDetails : ::Tovri::Data::BaseNative {
  std::string keyStore;

  struct AdapterHelper {
    static void AddFields(::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
                          const NativeDetails* obj);
    static void AddFields(::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
                          NativeDetails* obj);
    static void AddFields(
        ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
  };
};

// A union: tag "type", cases "native_info" (NATIVE) and
// "trust_authority_url" (TRUST_AUTHORITY).
struct ProviderInfo : ::Tovri::Data::BaseNative {
  ProviderType type;
  ::Tovri::OptionalPtr<const NativeDetails> nativeInfo;
  boost::optional<std::string> trustAuthorityUrl;

  struct AdapterHelper {
    static void AddFields(::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
                          const ProviderInfo* obj);
    static void AddFields(::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
                          ProviderInfo* obj);
    static void AddFields(
        ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
  };
};

class ProviderInfoAnnotations {
 public:
  struct UnionTags {
    struct Strings {
      static constexpr const char* values[] = {"type", "_UNKNOWN", nullptr};
    };
  };
  struct NativeInfoUnionCases {
    struct Strings {
      static constexpr const char* values[] = {"NATIVE", "_UNKNOWN", nullptr};
    };
  };
  struct TrustAuthorityUrlUnionCases {
    struct Strings {
      static constexpr const char* values[] = {"TRUST_AUTHORITY", "_UNKNOWN", nullptr};
    };
  };
};

// One member of every kind.
struct AllKinds : ::Tovri::Data::BaseNative {
  std::string text;
  long long number = 0;
  bool flag = false;
  std::vector<unsigned char> blob;
  ::Tovri::SecretString secret;
  Color color;
  std::shared_ptr<const Endpoint> endpoint;
  ::Tovri::OptionalPtr<const Endpoint> backup;
  boost::optional<std::string> comment;
  boost::optional<long long> limit;
  boost::optional<bool> enabled;
  boost::optional<std::vector<unsigned char>> digest;
  boost::optional<Color> tint;
  boost::optional<std::list<std::string>> aliases;
  std::list<std::shared_ptr<const Endpoint>> mirrors;
  std::list<std::string> tags;
  std::set<std::string> names;
  std::set<long long> numbers;
  std::set<Color> colors;
  std::shared_ptr<const PcrBank> bank;
  std::shared_ptr<const ProviderInfo> provider;
  std::shared_ptr<const ::Com::Corvane::Tovri::Std::LocalizableMessage> note;

  struct AdapterHelper {
    static void AddFields(::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
                          const AllKinds* obj);
    static void AddFields(::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
                          AllKinds* obj);
    static void AddFields(
        ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
  };
};

// Self-referring: chains through "next", trees through "children".
struct Node : ::Tovri::Data::BaseNative {
  std::string name;
  ::Tovri::OptionalPtr<const Node> next;
  std::list<std::shared_ptr<const Node>> children;

  struct AdapterHelper {
    static void AddFields(::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
                          const Node* obj);
    static void AddFields(::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
                          Node* obj);
    static void AddFields(
        ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
  };
};

class WidgetsSvc {
 public:
  class CreateMethod {
   public:
    struct Input : ::Tovri::Data::BaseNative {
      std::shared_ptr<const Endpoint> spec;

      struct AdapterHelper {
        static void AddFields(
            ::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
            const Input* obj);
        static void AddFields(
            ::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>& h, Input* obj);
        static void AddFields(
            ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
      };
    };
  };
  class ListMethod {
   public:
    struct Input : ::Tovri::Data::BaseNative {
      ::Tovri::OptionalPtr<const Endpoint> filter;

      struct AdapterHelper {
        static void AddFields(
            ::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
            const Input* obj);
        static void AddFields(
            ::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>& h, Input* obj);
        static void AddFields(
            ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
      };
    };
  };
  class GetAllMethod {
   public:
    // An operation without parameters.
    struct Input : ::Tovri::Data::BaseNative {
      struct AdapterHelper {
        static void AddFields(
            ::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
            const Input* obj);
        static void AddFields(
            ::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>& h, Input* obj);
        static void AddFields(
            ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
      };
    };
  };
};

// Definition and validation cases: a structure type used by two required
// fields, an optional set, and inputs with a required and with an optional
// structure parameter. These declare the definition form only (see
// test_types_definition.cpp).
struct Route : ::Tovri::Data::BaseNative {
  std::shared_ptr<const Endpoint> from;
  std::shared_ptr<const Endpoint> to;
  boost::optional<std::set<std::string>> labels;

  struct AdapterHelper {
    static void AddFields(
        ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
  };
};

class RoutesSvc {
 public:
  class CreateMethod {
   public:
    struct Input : ::Tovri::Data::BaseNative {
      std::string name;
      std::shared_ptr<const Route> spec;

      struct AdapterHelper {
        static void AddFields(
            ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
      };
    };
  };
  class ListMethod {
   public:
    struct Input : ::Tovri::Data::BaseNative {
      ::Tovri::OptionalPtr<const Route> filter;

      struct AdapterHelper {
        static void AddFields(
            ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
      };
    };
  };
};

}  // namespace TestTypes
}  // namespace Dral

namespace Tovri {
namespace Data {

template <>
struct TypeInfo<::Dral::TestTypes::Endpoint> {
  static std::string name() { return "com.corvane.test.endpoint"; }
  static std::shared_ptr<::Dral::TestTypes::Endpoint> defaultInstance(
      const std::shared_ptr<const DataValue>&) {
    return std::make_shared<::Dral::TestTypes::Endpoint>();
  }
};

template <>
struct TypeInfo<::Dral::TestTypes::PcrBank> {
  static std::string name() { return "com.corvane.test.pcr_bank"; }
  static std::shared_ptr<::Dral::TestTypes::PcrBank> defaultInstance(
      const std::shared_ptr<const DataValue>&) {
    return std::make_shared<::Dral::TestTypes::PcrBank>();
  }
};

template <>
struct TypeInfo<::Dral::TestTypes::NativeDetails> {
  static std::string name() { return "com.corvane.test.native_details"; }
  static std::shared_ptr<::Dral::TestTypes::NativeDetails> defaultInstance(
      const std::shared_ptr<const DataValue>&) {
    return std::make_shared<::Dral::TestTypes::NativeDetails>();
  }
};

template <>
struct TypeInfo<::Dral::TestTypes::ProviderInfo> {
  static std::string name() { return "com.corvane.test.provider_info"; }
  static std::shared_ptr<::Dral::TestTypes::ProviderInfo> defaultInstance(
      const std::shared_ptr<const DataValue>&) {
    return std::make_shared<::Dral::TestTypes::ProviderInfo>();
  }
};

template <>
struct TypeInfo<::Dral::TestTypes::AllKinds> {
  static std::string name() { return "com.corvane.test.all_kinds"; }
  static std::shared_ptr<::Dral::TestTypes::AllKinds> defaultInstance(
      const std::shared_ptr<const DataValue>&) {
    return std::make_shared<::Dral::TestTypes::AllKinds>();
  }
};

template <>
struct TypeInfo<::Dral::TestTypes::Node> {
  static std::string name() { return "com.corvane.test.node"; }
  static std::shared_ptr<::Dral::TestTypes::Node> defaultInstance(const std::shared_ptr<const DataValue>&) {
    return std::make_shared<::Dral::TestTypes::Node>();
  }
};

template <>
struct TypeInfo<::Dral::TestTypes::WidgetsSvc::CreateMethod::Input> {
  static std::string name() { return TypeInfo<::Tovri::OperationInput>::name(); }
  static std::shared_ptr<::Dral::TestTypes::WidgetsSvc::CreateMethod::Input> defaultInstance(
      const std::shared_ptr<const DataValue>&) {
    return std::make_shared<::Dral::TestTypes::WidgetsSvc::CreateMethod::Input>();
  }
};

template <>
struct TypeInfo<::Dral::TestTypes::WidgetsSvc::ListMethod::Input> {
  static std::string name() { return TypeInfo<::Tovri::OperationInput>::name(); }
  static std::shared_ptr<::Dral::TestTypes::WidgetsSvc::ListMethod::Input> defaultInstance(
      const std::shared_ptr<const DataValue>&) {
    return std::make_shared<::Dral::TestTypes::WidgetsSvc::ListMethod::Input>();
  }
};

template <>
struct TypeInfo<::Dral::TestTypes::WidgetsSvc::GetAllMethod::Input> {
  static std::string name() { return TypeInfo<::Tovri::OperationInput>::name(); }
  static std::shared_ptr<::Dral::TestTypes::WidgetsSvc::GetAllMethod::Input> defaultInstance(
      const std::shared_ptr<const DataValue>&) {
    return std::make_shared<::Dral::TestTypes::WidgetsSvc::GetAllMethod::Input>();
  }
};

template <>
struct TypeInfo<::Dral::TestTypes::Route> {
  static std::string name() { return "com.corvane.test.route"; }
  static std::shared_ptr<::Dral::TestTypes::Route> defaultInstance(const std::shared_ptr<const DataValue>&) {
    return std::make_shared<::Dral::TestTypes::Route>();
  }
};

template <>
struct TypeInfo<::Dral::TestTypes::RoutesSvc::CreateMethod::Input> {
  static std::string name() { return TypeInfo<::Tovri::OperationInput>::name(); }
  static std::shared_ptr<::Dral::TestTypes::RoutesSvc::CreateMethod::Input> defaultInstance(
      const std::shared_ptr<const DataValue>&) {
    return std::make_shared<::Dral::TestTypes::RoutesSvc::CreateMethod::Input>();
  }
};

template <>
struct TypeInfo<::Dral::TestTypes::RoutesSvc::ListMethod::Input> {
  static std::string name() { return TypeInfo<::Tovri::OperationInput>::name(); }
  static std::shared_ptr<::Dral::TestTypes::RoutesSvc::ListMethod::Input> defaultInstance(
      const std::shared_ptr<const DataValue>&) {
    return std::make_shared<::Dral::TestTypes::RoutesSvc::ListMethod::Input>();
  }
};

}  // namespace Data
}  // namespace Tovri
