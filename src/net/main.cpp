#include "ifc/readings.hpp"
#include "net/faults.hpp"
#include "net/server_options.hpp"
#include "net/tcp1_main.hpp"

int main(int argc, char *argv[]) {
  server_options opt;
  const int status = parse_server_options(argc, argv, &opt);
  if (status >= 0) return status;
  if (!opt.readings.empty()) readings_configure(opt.readings.c_str());
  if (!opt.faults.empty()) faults_configure(opt.faults.c_str());
  return tcp1_main(opt.port, opt.address,
                   opt.port_file.empty() ? nullptr : opt.port_file.c_str());
}
