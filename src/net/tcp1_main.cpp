#include "net/tcp1_main.hpp"
