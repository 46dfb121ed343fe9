#include "store/lib_data2.hpp"
