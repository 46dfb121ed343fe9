#include "controller.hpp"

#include <cstring>

namespace console {

controller::controller() { setting_ = ifc_endpoint_init(&ep_); }

// Makes one library call unless an earlier one failed, and keeps the first
// failure with the name of the command it was for.
template <typename Call>
bool controller::run(int command, int colour, bool change, Call call) {
  if (failed()) return false;
  int rc = setting_ != IFC_OK ? setting_ : call();
  if (rc >= 0) {
    if (change) ++puts_ok_;
    return true;
  }
  code_ = rc;
  command_ = ifc_command_name(command, colour);
  if (rc == IFC_EUNKNOWN) detail_ = "the controller does not know this command";
  if (rc == IFC_EFORM) detail_ = "the reply is not of the expected form";
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

bool controller::set_targets(int colour, int32_t to, int32_t tw) {
  return run(IFC_CMD_SET_TO_TW, colour, true,
             [&] { return ifc_set_targets(&ep_, colour, to, tw); });
}

bool controller::set_status(int32_t color, int32_t mode, int32_t totw_sw) {
  return run(IFC_CMD_SET_STAT, 0, true,
             [&] { return ifc_set_status(&ep_, color, mode, totw_sw); });
}

bool controller::set_flag(int flag, int32_t value) {
  return run(IFC_CMD_SET_SELECT_ITEM, 0, true,
             [&] { return ifc_set_flag(&ep_, flag, value); });
}

bool controller::clear_flags() {
  return run(IFC_CMD_SET_SELECT_ITEM, 0, true, [&] { return ifc_clear_flags(&ep_); });
}

bool controller::set_valves(int colour, const int *items, const int32_t *values,
                            int count) {
  return run(IFC_CMD_SET_ON_OFF, colour, true,
             [&] { return ifc_set_valves(&ep_, colour, items, values, count); });
}

bool controller::select_histogram(int side, int colour, int item) {
  return run(IFC_CMD_HST_SELECT_ITEM, 0, true,
             [&] { return ifc_select_histogram(&ep_, side, colour, item); });
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
  page p(file, "Controller not reachable");
  html &h = p.out();
  h << "<div id=\"error\" class=\"error\" data-status=\"502\"><p>The controller at <code "
       "id=\"address\">";
  h.text(address()) << "</code> did not answer <code id=\"command\">";
  h.text(command_) << "</code>: <span id=\"reason\">";
  h.text(ifc_strerror(code_));
  if (!detail_.empty()) {
    h << " (";
    h.text(detail_) << ")";
  }
  h << "</span>.</p>";
  if (code_ == IFC_ESETTING)
    h << "<p>IFCSIM_HOST, IFCSIM_PORT, IFCSIM_TIMEOUT_MS or IFCSIM_DEADLINE_MS in the "
         "web server's environment holds no valid setting.</p>";
  if (puts_ok_ > 0) {
    h << "<p>";
    h.num(puts_ok_) << " change(s) of this request had been taken before.</p>";
  }
  h << "</div>\n<p><a id=\"retry\"";
  h.attr("href", retry) << ">Retry</a></p>\n";
  return p.finish(502);
}

}  // namespace console
