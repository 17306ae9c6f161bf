// Test-only native types, shaped as the generator writes package types:
// enumerations with their constant tables, a union with its annotations, a
// PCR-like map, sets, optional and required structures, lists of structures,
// a self-referring structure, a secret and method inputs.
//
// Each structure's AdapterHelper only declares its AddFields overloads; the
// conversion bodies live in test_types_conversion.cpp and the definition
// bodies in test_types_definition.cpp, so a test links only the forms it uses.
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

// The generated declarations, folded into macros to keep the test types short.
#define DRAL_TEST_DEFINITION_FORM \
  static void AddFields(          \
      ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
#define DRAL_TEST_ALL_FORMS(Type)                                                                       \
  struct AdapterHelper {                                                                                \
    static void AddFields(                                                                              \
        ::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,             \
        const Type* obj);                                                                               \
    static void AddFields(                                                                              \
        ::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>& h, Type* obj); \
    DRAL_TEST_DEFINITION_FORM                                                                           \
  };

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
  DRAL_TEST_ALL_FORMS(Endpoint)
};

// PCR-like: the one map kind of the package.
struct PcrBank : ::Tovri::Data::BaseNative {
  std::string algorithm;
  std::map<long long, std::vector<unsigned char>> pcrs;
  DRAL_TEST_ALL_FORMS(PcrBank)
};

struct NativeDetails : ::Tovri::Data::BaseNative {
  std::string keyStore;
  DRAL_TEST_ALL_FORMS(NativeDetails)
};

// A union: tag "type", cases "native_info" (NATIVE) and
// "trust_authority_url" (TRUST_AUTHORITY).
struct ProviderInfo : ::Tovri::Data::BaseNative {
  ProviderType type;
  ::Tovri::OptionalPtr<const NativeDetails> nativeInfo;
  boost::optional<std::string> trustAuthorityUrl;
  DRAL_TEST_ALL_FORMS(ProviderInfo)
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
  DRAL_TEST_ALL_FORMS(AllKinds)
};

// Self-referring: chains through "next", trees through "children".
struct Node : ::Tovri::Data::BaseNative {
  std::string name;
  ::Tovri::OptionalPtr<const Node> next;
  std::list<std::shared_ptr<const Node>> children;
  DRAL_TEST_ALL_FORMS(Node)
};

class WidgetsSvc {
 public:
  struct CreateMethod {
    struct Input : ::Tovri::Data::BaseNative {
      std::shared_ptr<const Endpoint> spec;
      DRAL_TEST_ALL_FORMS(Input)
    };
  };
  struct ListMethod {
    struct Input : ::Tovri::Data::BaseNative {
      ::Tovri::OptionalPtr<const Endpoint> filter;
      DRAL_TEST_ALL_FORMS(Input)
    };
  };
  struct GetAllMethod {
    // An operation without parameters.
    struct Input : ::Tovri::Data::BaseNative {
      DRAL_TEST_ALL_FORMS(Input)
    };
  };
};

// Definition and validation cases: a structure type used by two required
// fields, an optional set, and inputs with a required and with an optional
// structure parameter. These declare the definition form only.
struct Route : ::Tovri::Data::BaseNative {
  std::shared_ptr<const Endpoint> from;
  std::shared_ptr<const Endpoint> to;
  boost::optional<std::set<std::string>> labels;
  struct AdapterHelper {
    DRAL_TEST_DEFINITION_FORM
  };
};

class RoutesSvc {
 public:
  struct CreateMethod {
    struct Input : ::Tovri::Data::BaseNative {
      std::string name;
      std::shared_ptr<const Route> spec;
      struct AdapterHelper {
        DRAL_TEST_DEFINITION_FORM
      };
    };
  };
  struct ListMethod {
    struct Input : ::Tovri::Data::BaseNative {
      ::Tovri::OptionalPtr<const Route> filter;
      struct AdapterHelper {
        DRAL_TEST_DEFINITION_FORM
      };
    };
  };
};

}  // namespace TestTypes
}  // namespace Dral

#undef DRAL_TEST_ALL_FORMS
#undef DRAL_TEST_DEFINITION_FORM

namespace Tovri {
namespace Data {

// Structures are named by their wire name, method inputs by "operation-input".
#define DRAL_TEST_TYPE_INFO(Type, wireName)                          \
  template <>                                                        \
  struct TypeInfo<::Dral::TestTypes::Type> {                         \
    static std::string name() { return wireName; }                   \
    static std::shared_ptr<::Dral::TestTypes::Type> defaultInstance( \
        const std::shared_ptr<const DataValue>&) {                   \
      return std::make_shared<::Dral::TestTypes::Type>();            \
    }                                                                \
  };
DRAL_TEST_TYPE_INFO(Endpoint, "com.corvane.test.endpoint")
DRAL_TEST_TYPE_INFO(PcrBank, "com.corvane.test.pcr_bank")
DRAL_TEST_TYPE_INFO(NativeDetails, "com.corvane.test.native_details")
DRAL_TEST_TYPE_INFO(ProviderInfo, "com.corvane.test.provider_info")
DRAL_TEST_TYPE_INFO(AllKinds, "com.corvane.test.all_kinds")
DRAL_TEST_TYPE_INFO(Node, "com.corvane.test.node")
DRAL_TEST_TYPE_INFO(Route, "com.corvane.test.route")
DRAL_TEST_TYPE_INFO(WidgetsSvc::CreateMethod::Input, TypeInfo<::Tovri::OperationInput>::name())
DRAL_TEST_TYPE_INFO(WidgetsSvc::ListMethod::Input, TypeInfo<::Tovri::OperationInput>::name())
DRAL_TEST_TYPE_INFO(WidgetsSvc::GetAllMethod::Input, TypeInfo<::Tovri::OperationInput>::name())
DRAL_TEST_TYPE_INFO(RoutesSvc::CreateMethod::Input, TypeInfo<::Tovri::OperationInput>::name())
DRAL_TEST_TYPE_INFO(RoutesSvc::ListMethod::Input, TypeInfo<::Tovri::OperationInput>::name())
#undef DRAL_TEST_TYPE_INFO

}  // namespace Data
}  // namespace Tovri
