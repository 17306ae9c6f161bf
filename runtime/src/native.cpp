#include <dral/runtime/native.hpp>
