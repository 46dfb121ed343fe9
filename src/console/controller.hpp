// The console's requests to the controller, through the support library's
// client. The first failure is kept and ends the page: every later call
// fails at once, and failure() is the 502 page that tells it.
#pragma once

#include <ifcsim/lib_client.h>
#include <ifcsim/lib_reply.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "page.hpp"

namespace console {

// The pieces of a "key:number " reply.
struct pair_list {
  static constexpr int kCapacity = 64;
  ifc_pair items[kCapacity];
  int count = 0;
  // The value of key; false when the reply has no such piece.
  bool value(const char *key, int32_t *out) const;
};

class controller {
 public:
  // The address from IFCSIM_HOST, IFCSIM_PORT and IFCSIM_TIMEOUT_MS.
  controller();

  // The reply of GET name; false after a failure.
  bool get(const char *name, std::string *reply);
  bool get_pairs(const char *name, pair_list *out);
  bool get_histogram(const char *name, ifc_histogram *out);
  bool get_hist_select(ifc_hist_select *out);
  // PUT of name and text; true once the controller has taken it.
  bool put(const char *name, std::string_view text);

  bool failed() const { return code_ != 0; }
  // "host:port", as the console addresses the controller.
  std::string address() const;
  // The 502 page: the address, the command and the error, a link to retry
  // (retry: the relative URL of the page).
  response failure(std::string_view file, std::string_view retry) const;

 private:
  bool fail(const char *command, int code, std::string_view detail = {});

  ifc_endpoint ep_{};
  int setting_ = 0;
  int code_ = 0;
  std::string command_, detail_;
  int puts_ok_ = 0;
};

}  // namespace console
