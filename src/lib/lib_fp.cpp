#include "lib/lib_fp.hpp"
