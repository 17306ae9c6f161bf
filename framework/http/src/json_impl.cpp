// Boost.JSON in its header-only form: its definitions are compiled once, here.
#include <boost/json/src.hpp>
