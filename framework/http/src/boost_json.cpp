// Boost.JSON in header-only mode: its implementation is compiled here, once
// for the whole library.
#include <boost/json/src.hpp>
