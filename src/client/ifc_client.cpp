#include "client/ifc_client.hpp"
