// What the tests of the generated package share: every unit of the package
// (as the catalogue lists them) and the objects most tests start from.
#pragma once

#include <memory>
#include <string>

#include <dral/runtime/validator.hpp>

#include "catalogue_headers.inc"

namespace TI = ::Com::Corvane::Morv::TrustedInfrastructure;

// An undeclared field, as received from a peer.
template <class T>
std::shared_ptr<T> WithExtraField(std::shared_ptr<T> object) {
  object->unknownFields = ::Tovri::Data::StructValue::GetInstance("unknownFields");
  object->unknownFields->SetField("x", ::Tovri::Data::StringValue::GetInstance("extra"));
  return object;
}

// A create spec of a services entry, with its required structures set.
template <class Svc>
std::shared_ptr<typename Svc::CreateSpec> ServiceSpec() {
  auto spec = std::make_shared<typename Svc::CreateSpec>();
  spec->address = std::make_shared<TI::NetworkAddress>();
  spec->trustedCA = std::make_shared<TI::X509CertChain>();
  return spec;
}
