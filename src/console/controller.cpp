#include "controller.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace console {

namespace {

// The bounds the library takes for its own waits.
constexpr long kMaxMs = 3600000;

// A number of milliseconds from the environment: digits only, 1..kMaxMs.
bool milliseconds(const char *text, int *out) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char *end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < 1 || v > kMaxMs) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

controller::controller() : start_(std::chrono::steady_clock::now()) {
  setting_ = ifc_endpoint_init(&ep_);
  const char *page = std::getenv("IFCSIM_PAGE_DEADLINE_MS");
  if (page != nullptr && !milliseconds(page, &page_deadline_ms_)) setting_ = IFC_ESETTING;
}

// Makes one library call unless an earlier one failed, within what is left
// of the page's deadline, and keeps the first failure with the name of the
// command it was for.
template <typename Call>
bool controller::run(int command, int colour, bool change, Call call) {
  if (failed()) return false;
  const auto spent = [this] {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start_)
                                 .count());
  };
  const long left = page_deadline_ms_ - spent();
  const long own = ep_.deadline_ms > 0 ? ep_.deadline_ms : 3L * ep_.timeout_ms;
  const int saved_deadline = ep_.deadline_ms;
  const bool clamped = left < own;
  if (clamped) ep_.deadline_ms = static_cast<int>(left < 1 ? 1 : left);
  int rc = setting_ != IFC_OK ? setting_ : left < 1 ? IFC_ETIMEOUT : call();
  errno_ = errno;
  ep_.deadline_ms = saved_deadline;
  if (rc >= 0 || rc == IFC_ENOTTAKEN) {
    if (change) ++puts_ok_;
    return true;
  }
  code_ = rc;
  change_failed_ = change;
  command_ = ifc_command_name(command, colour);
  // The call's deadline was the rest of the page's, and it has run out.
  const bool page_deadline =
      clamped && spent() + 1 >= page_deadline_ms_ &&
      (rc == IFC_ETIMEOUT || (rc == IFC_ECONNECT && errno_ == ETIMEDOUT));
  if (page_deadline)
    detail_ = "the page's deadline of " + std::to_string(page_deadline_ms_) +
              " ms (IFCSIM_PAGE_DEADLINE_MS) passed";
  else if (rc == IFC_EUNKNOWN)
    detail_ = "the controller does not know this command";
  else if (rc == IFC_EFORM)
    detail_ = "the reply is not of the expected form";
  return false;
}

bool controller::flags(ifc_flags *out) {
  return run(IFC_CMD_GET_SELECT_ITEM, 0, false, [&] { return ifc_get_flags(&ep_, out); });
}

bool controller::status(ifc_status *out) {
  return run(IFC_CMD_GET_STAT, 0, false, [&] { return ifc_get_status(&ep_, out); });
}

bool controller::targets(int colour, ifc_to_tw *out) {
  return run(IFC_CMD_GET_TOT_TWT, colour, false,
             [&] { return ifc_get_targets(&ep_, colour, out); });
}

bool controller::measured(int colour, ifc_to_tw *out) {
  return run(IFC_CMD_GET_TO_TW, colour, false,
             [&] { return ifc_get_measured(&ep_, colour, out); });
}

bool controller::averages(int colour, ifc_averages *out) {
  return run(IFC_CMD_GET_HISTO_AVE, colour, false,
             [&] { return ifc_get_averages(&ep_, colour, out); });
}

bool controller::valves(int colour, ifc_valve_points *out) {
  return run(IFC_CMD_GET_ON_OFF, colour, false,
             [&] { return ifc_get_valves(&ep_, colour, out); });
}

bool controller::hist_select(ifc_hist_select *out) {
  return run(IFC_CMD_GET_HST_SELECT, 0, false,
             [&] { return ifc_get_hist_select(&ep_, out); });
}

bool controller::histogram(int side, ifc_histogram *out) {
  return run(side == IFC_LEFT ? IFC_CMD_GET_HIST_CNTDATL : IFC_CMD_GET_HIST_CNTDATR, 0,
             false, [&] { return ifc_get_histogram(&ep_, side, out); });
}

// The checked changes: *taken tells whether the read-back matched.
bool controller::set_targets(int colour, int32_t to, int32_t tw, bool *taken,
                             ifc_to_tw *held) {
  int rc = 0;
  bool ok = run(IFC_CMD_SET_TO_TW, colour, true,
                [&] { return rc = ifc_set_targets_checked(&ep_, colour, to, tw, held); });
  *taken = rc != IFC_ENOTTAKEN;
  return ok;
}

bool controller::set_status(int32_t color, int32_t mode, int32_t totw_sw, bool *taken,
                            ifc_status *held) {
  int rc = 0;
  bool ok = run(IFC_CMD_SET_STAT, 0, true, [&] {
    return rc = ifc_set_status_checked(&ep_, color, mode, totw_sw, held);
  });
  *taken = rc != IFC_ENOTTAKEN;
  return ok;
}

bool controller::set_flag(int flag, int32_t value, bool *taken, int32_t *held) {
  int rc = 0;
  bool ok = run(IFC_CMD_SET_SELECT_ITEM, 0, true,
                [&] { return rc = ifc_set_flag_checked(&ep_, flag, value, held); });
  *taken = rc != IFC_ENOTTAKEN;
  return ok;
}

bool controller::clear_flags(bool *taken, ifc_flags *held) {
  int rc = 0;
  bool ok = run(IFC_CMD_SET_SELECT_ITEM, 0, true,
                [&] { return rc = ifc_clear_flags_checked(&ep_, held); });
  *taken = rc != IFC_ENOTTAKEN;
  return ok;
}

bool controller::set_valves(int colour, const int *items, const int32_t *values,
                            int count, bool *taken, ifc_valve_points *held) {
  int rc = 0;
  bool ok = run(IFC_CMD_SET_ON_OFF, colour, true, [&] {
    return rc = ifc_set_valves_checked(&ep_, colour, items, values, count, held);
  });
  *taken = rc != IFC_ENOTTAKEN;
  return ok;
}

bool controller::select_histogram(int side, int colour, int item, bool *taken,
                                  ifc_hist_select *held) {
  int rc = 0;
  bool ok = run(IFC_CMD_HST_SELECT_ITEM, 0, true, [&] {
    return rc = ifc_select_histogram_checked(&ep_, side, colour, item, held);
  });
  *taken = rc != IFC_ENOTTAKEN;
  return ok;
}

bool controller::clear_histogram(int32_t colour, int item) {
  return run(IFC_CMD_HST_CLEAR, 0, true,
             [&] { return ifc_clear_histogram(&ep_, colour, item); });
}

bool controller::set_histograms(const ifc_hist_setup &setup) {
  return run(IFC_CMD_HST_SET, 0, true, [&] { return ifc_set_histograms(&ep_, &setup); });
}

bool controller::letoff_button(const std::string &text) {
  return run(IFC_CMD_SET_BTNSTAT, 0, true,
             [&] { return ifc_set_letoff_button(&ep_, text.c_str()); });
}

bool controller::log_line(const std::string &line) {
  return run(IFC_CMD_APPEND_LOG, 0, true,
             [&] { return ifc_log_line(&ep_, line.c_str()); });
}

std::string controller::address() const {
  std::string a;
  if (std::strchr(ep_.host, ':') != nullptr)
    a = std::string("[") + ep_.host + "]";
  else
    a = ep_.host;
  return a + ":" + std::to_string(ep_.port);
}

response controller::failure(std::string_view file, std::string_view retry) const {
  // Too slow is a time-out of the gateway (504); a controller that cannot be
  // reached, or answers what the console cannot use, is a bad gateway (502).
  const bool slow =
      code_ == IFC_ETIMEOUT || (code_ == IFC_ECONNECT && errno_ == ETIMEDOUT);
  const bool answered = code_ == IFC_EUNKNOWN || code_ == IFC_EFORM ||
                        code_ == IFC_EPROTO || code_ == IFC_ETOOBIG ||
                        code_ == IFC_EREFUSED || code_ == IFC_ECLOSED;
  const int status = slow ? 504 : 502;
  page p(file, slow       ? "Controller too slow"
               : answered ? "Unexpected answer from the controller"
                          : "Controller not reachable");
  html &h = p.out();
  h << "<div id=\"error\" class=\"error\"";
  h.attr("data-status", status) << "><p>The controller at <code id=\"address\">";
  h.text(address()) << "</code> ";
  if (slow)
    h << "did not answer in time to";
  else if (answered)
    h << "gave no usable answer to";
  else
    h << "could not be asked";
  h << " <code id=\"command\">";
  h.text(command_) << "</code>: <span id=\"reason\">";
  h.text(ifc_strerror(code_));
  if (!detail_.empty()) {
    h << " (";
    h.text(detail_) << ")";
  }
  h << "</span>.</p>";
  if (code_ == IFC_ESETTING)
    h << "<p>IFCSIM_HOST, IFCSIM_PORT, IFCSIM_TIMEOUT_MS, IFCSIM_DEADLINE_MS or "
         "IFCSIM_PAGE_DEADLINE_MS in the web server's environment holds no valid "
         "setting.</p>";
  if (change_failed_)
    h << "<p>The change may have been taken or not: Retry shows what the controller "
         "holds.</p>";
  if (puts_ok_ > 0) {
    h << "<p>";
    h.num(puts_ok_) << " change(s) of this request had been taken before.</p>";
  }
  h << "</div>\n<p><a id=\"retry\"";
  h.attr("href", retry) << ">Retry</a></p>\n";
  return p.finish(status);
}

}  // namespace console
