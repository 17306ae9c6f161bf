// The floor: hand-written conversions that build exactly the value trees the
// generic adapters build, with the same framework value classes, and read
// them back into the same generated classes, with no work stack, no method
// tables and no messages. What the adapters cost above these is the price
// of their generic machinery, not of the data model.
//
// The readers accept only the exact shapes the writers produce (no loose
// shapes) and return false on anything else.
#pragma once

#include <tovri/core/value.hpp>

#include "data.hpp"

namespace DralBench {
namespace Floor {

::Tovri::Data::ValuePtr ToValue(const TpmInfo& info);
::Tovri::Data::ValuePtr ToValue(const SummaryList& summaries);

bool FromValue(const ::Tovri::Data::ValuePtr& value, TpmInfo& out);
bool FromValue(const ::Tovri::Data::ValuePtr& value, SummaryList& out);

}  // namespace Floor
}  // namespace DralBench
