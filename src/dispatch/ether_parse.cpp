#include "dispatch/ether_parse.hpp"
