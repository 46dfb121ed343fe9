#include "dispatch/sim_main.hpp"
