// Boost.JSON in its header-only form, compiled once for the daemon.
#include <boost/json/src.hpp>
