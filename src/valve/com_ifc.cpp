#include "valve/com_ifc.hpp"
