#include "valve/mletoff_net.hpp"
