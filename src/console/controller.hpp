// The console's requests to the controller, through the support library's
// typed calls. The first failure is kept and ends the page: every later call
// fails at once, and failure() is the 502 page that tells it.
#pragma once

#include <ifcsim/lib_commands.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "page.hpp"

namespace console {

class controller {
 public:
  // The address from IFCSIM_HOST, IFCSIM_PORT, IFCSIM_TIMEOUT_MS and
  // IFCSIM_DEADLINE_MS.
  controller();

  // Each reads or changes what its library call does; false after a
  // failure (of this call or an earlier one).
  bool flags(ifc_flags *out);
  bool status(ifc_status *out);
  bool targets(int colour, ifc_to_tw *out);
  bool measured(int colour, ifc_to_tw *out);
  bool averages(int colour, ifc_averages *out);
  bool valves(int colour, ifc_valve_points *out);
  bool hist_select(ifc_hist_select *out);
  bool histogram(int side, ifc_histogram *out);
  bool set_targets(int colour, int32_t to, int32_t tw);
  bool set_status(int32_t color, int32_t mode, int32_t totw_sw);
  bool set_flag(int flag, int32_t value);
  bool clear_flags();
  bool set_valves(int colour, const int *items, const int32_t *values, int count);
  bool select_histogram(int side, int colour, int item);
  bool clear_histogram(int32_t colour, int item);
  bool set_histograms(const ifc_hist_setup &setup);
  bool letoff_button(const std::string &text);
  bool log_line(const std::string &line);

  bool failed() const { return code_ != 0; }
  // The library's code of the failure, 0 before one.
  int code() const { return code_; }
  // "host:port", as the console addresses the controller.
  std::string address() const;
  // The 502 page: the address, the command and the error, a link to retry
  // (retry: the relative URL of the page).
  response failure(std::string_view file, std::string_view retry) const;

 private:
  template <typename Call>
  bool run(int command, int colour, bool change, Call call);

  ifc_endpoint ep_{};
  int setting_ = 0;
  int code_ = 0;
  std::string command_, detail_;
  int puts_ok_ = 0;
};

}  // namespace console
