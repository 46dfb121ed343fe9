#include "ifc/ifc_net.hpp"
