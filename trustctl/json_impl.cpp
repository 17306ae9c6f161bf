// Boost.JSON and Boost.URL in their header-only form, compiled once for trustctl.
#include <boost/json/src.hpp>
#include <boost/url/src.hpp>
