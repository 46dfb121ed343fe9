// The console's requests to the controller, through the support library's
// typed calls. The first failure is kept and ends the page: every later call
// fails at once, and failure() is the error page that tells it.
#pragma once

#include <ifcsim/lib_commands.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "page.hpp"

namespace console {

// How long a page may spend on the controller in all, unless
// IFCSIM_PAGE_DEADLINE_MS says otherwise: a person waits that long, a
// browser much longer, and a page must not outlive its reader.
inline constexpr int kPageDeadlineMs = 10000;

class controller {
 public:
  // The address from IFCSIM_HOST, IFCSIM_PORT, IFCSIM_TIMEOUT_MS and
  // IFCSIM_DEADLINE_MS; the page's deadline, from IFCSIM_PAGE_DEADLINE_MS,
  // runs from here.
  controller();

  // Each reads or changes what its library call does; false after a
  // failure (of this call or an earlier one). A change given held is
  // checked: it is read back, and when the controller holds something else
  // it returns true with *taken false and what it holds in *held.
  bool flags(ifc_flags *out);
  bool status(ifc_status *out);
  bool targets(int colour, ifc_to_tw *out);
  bool measured(int colour, ifc_to_tw *out);
  bool averages(int colour, ifc_averages *out);
  bool valves(int colour, ifc_valve_points *out);
  bool hist_select(ifc_hist_select *out);
  bool histogram(int side, ifc_histogram *out);
  bool set_targets(int colour, int32_t to, int32_t tw, bool *taken, ifc_to_tw *held);
  bool set_status(int32_t color, int32_t mode, int32_t totw_sw, bool *taken,
                  ifc_status *held);
  bool set_flag(int flag, int32_t value, bool *taken, int32_t *held);
  bool clear_flags(bool *taken, ifc_flags *held);
  bool set_valves(int colour, const int *items, const int32_t *values, int count,
                  bool *taken, ifc_valve_points *held);
  bool select_histogram(int side, int colour, int item, bool *taken,
                        ifc_hist_select *held);
  bool clear_histogram(int32_t colour, int item);
  bool set_histograms(const ifc_hist_setup &setup);
  bool letoff_button(const std::string &text);
  bool log_line(const std::string &line);

  bool failed() const { return code_ != 0; }
  // The library's code of the failure, 0 before one.
  int code() const { return code_; }
  // "host:port", as the console addresses the controller.
  std::string address() const;
  // The error page: 504 when the controller was too slow for a wait or for
  // the page's deadline, else 502; the address, the command and the error,
  // a link to retry (retry: the relative URL of the page).
  response failure(std::string_view file, std::string_view retry) const;

 private:
  template <typename Call>
  bool run(int command, int colour, bool change, Call call);

  ifc_endpoint ep_{};
  int setting_ = 0;
  int page_deadline_ms_ = kPageDeadlineMs;
  std::chrono::steady_clock::time_point start_;
  int code_ = 0;
  int errno_ = 0;  // of the failure, for IFC_ECONNECT
  bool change_failed_ = false;
  std::string command_, detail_;
  int puts_ok_ = 0;
};

}  // namespace console
