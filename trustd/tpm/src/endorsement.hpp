// Reading one endorsement key and its certificate over an open connection.
#pragma once

#include <trustd/tpm/tpm.hpp>

#include "connection.hpp"

namespace Trustd {
namespace Detail {

Result<EndorsementKey> ReadEndorsementKey(Connection& connection, EndorsementKeyType type);

}  // namespace Detail
}  // namespace Trustd
