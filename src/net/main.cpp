#include "ifcsim_config.hpp"
#include "net/tcp1_main.hpp"

int main() { return tcp1_main(kServerPort); }
