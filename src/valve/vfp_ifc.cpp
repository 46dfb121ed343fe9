#include "valve/vfp_ifc.hpp"
