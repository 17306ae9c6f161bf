// Everything the bindings library and the framework beneath it export, in
// one include. The headers.umbrella test fails when a public header is
// missing here; it prints the lines to add.
#pragma once

// Framework core.
#include <tovri/core/definition.hpp>
#include <tovri/core/error.hpp>
#include <tovri/core/invocation.hpp>
#include <tovri/core/l10n.hpp>
#include <tovri/core/local_provider.hpp>
#include <tovri/core/message.hpp>
#include <tovri/core/message_ids.hpp>
#include <tovri/core/message_template.hpp>
#include <tovri/core/provider.hpp>
#include <tovri/core/result_types.hpp>
#include <tovri/core/secret_string.hpp>
#include <tovri/core/stub.hpp>
#include <tovri/core/type_info.hpp>
#include <tovri/core/value.hpp>
#include <tovri/core/value_arena.hpp>

// Framework standard bindings.
#include <tovri/std/standard_types.hpp>

// Binding runtime.
#include <dral/runtime/adapt_common.hpp>
#include <dral/runtime/field_table.hpp>
#include <dral/runtime/format.hpp>
#include <dral/runtime/member_kind.hpp>
#include <dral/runtime/message.hpp>
#include <dral/runtime/metadata.hpp>
#include <dral/runtime/native.hpp>
#include <dral/runtime/native_to_definition.hpp>
#include <dral/runtime/native_to_value.hpp>
#include <dral/runtime/validator.hpp>
#include <dral/runtime/value_to_native.hpp>

// Client invocation.
#include <dral/client/async_result.hpp>
#include <dral/client/method_invoker.hpp>

// Service provisioning.
#include <dral/provider/binder.hpp>
#include <dral/provider/method_filter.hpp>
#include <dral/provider/method_signal.hpp>

// The trusted-infrastructure package, generated from the catalogue.
#include <dral/trusted_infrastructure/attestation/reports.hpp>
#include <dral/trusted_infrastructure/attestation/services.hpp>
#include <dral/trusted_infrastructure/common.hpp>
#include <dral/trusted_infrastructure/hardware/tpm.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/common.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/endorsement_keys.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/event_log.hpp>
#include <dral/trusted_infrastructure/kms/providers.hpp>
#include <dral/trusted_infrastructure/kms/services.hpp>
