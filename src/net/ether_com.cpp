#include "net/ether_com.hpp"
