#include "controller.hpp"

#include <cstring>

namespace console {

namespace {

// The longest reply a page reads is the 554-byte valve line.
constexpr int kReplyCapacity = 8192;

}  // namespace

bool pair_list::value(const char *key, int32_t *out) const {
  return ifc_pair_value(items, count, key, out) == IFC_OK;
}

controller::controller() { setting_ = ifc_endpoint_init(&ep_); }

bool controller::fail(const char *command, int code, std::string_view detail) {
  if (code_ == 0) {
    code_ = code;
    command_ = command;
    detail_ = detail;
  }
  return false;
}

bool controller::get(const char *name, std::string *reply) {
  if (failed()) return false;
  if (setting_ != IFC_OK) return fail(name, setting_);
  static char buf[kReplyCapacity];
  int n = ifc_get(&ep_, name, buf, sizeof buf);
  if (n == IFC_EUNKNOWN)
    return fail(name, n, "the controller does not know this command");
  if (n < 0) return fail(name, n);
  reply->assign(buf, static_cast<size_t>(n));
  return true;
}

bool controller::get_pairs(const char *name, pair_list *out) {
  std::string reply;
  if (!get(name, &reply)) return false;
  int n = ifc_parse_pairs(reply.data(), static_cast<int>(reply.size()), out->items,
                          pair_list::kCapacity);
  if (n < 0) return fail(name, n, "the reply is not of the expected form");
  out->count = n;
  return true;
}

bool controller::get_histogram(const char *name, ifc_histogram *out) {
  std::string reply;
  if (!get(name, &reply)) return false;
  if (ifc_parse_histogram(reply.data(), static_cast<int>(reply.size()), out) != IFC_OK)
    return fail(name, IFC_EFORM, "the reply is not of the expected form");
  return true;
}

bool controller::get_hist_select(ifc_hist_select *out) {
  static const char kName[] = "IFC_get_hst_select";
  std::string reply;
  if (!get(kName, &reply)) return false;
  if (ifc_parse_hist_select(reply.data(), static_cast<int>(reply.size()), out) != IFC_OK)
    return fail(kName, IFC_EFORM, "the reply is not of the expected form");
  return true;
}

bool controller::put(const char *name, std::string_view text) {
  if (failed()) return false;
  if (setting_ != IFC_OK) return fail(name, setting_);
  int r = ifc_put(&ep_, name, text.data(), static_cast<int>(text.size()));
  if (r < 0) return fail(name, r);
  ++puts_ok_;
  return true;
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
    h << "<p>IFCSIM_HOST, IFCSIM_PORT or IFCSIM_TIMEOUT_MS in the web server's "
         "environment holds no valid setting.</p>";
  if (puts_ok_ > 0) {
    h << "<p>";
    h.num(puts_ok_) << " change(s) of this request had been taken before.</p>";
  }
  h << "</div>\n<p><a id=\"retry\"";
  h.attr("href", retry) << ">Retry</a></p>\n";
  return p.finish(502);
}

}  // namespace console
