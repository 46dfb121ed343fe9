#include "client/ifc_client.hpp"

#include <cerrno>
#include <cstring>

#include "ifcsim/lib_client.h"
#include "ifcsim_config.hpp"

namespace ifc {
namespace {

client_error to_error(int code) {
  switch (code) {
    case IFC_ECONNECT:
      return client_error::connect;
    case IFC_ETIMEOUT:
      return client_error::timeout;
    case IFC_EREFUSED:
      return client_error::refused;
    case IFC_ECLOSED:
      return client_error::closed;
    case IFC_EUSAGE:
      return client_error::usage;
    case IFC_ESYSTEM:
      return client_error::io;
    default:
      return client_error::protocol;
  }
}

std::string where(const endpoint &ep) { return ep.host + ":" + std::to_string(ep.port); }

// The C client's code in words, with what this side knows about the request.
// saved_errno is errno right after the call.
std::string describe(int code, const endpoint &ep, int saved_errno) {
  const std::string ms = std::to_string(ep.timeout_ms) + " ms";
  switch (code) {
    case IFC_ECONNECT:
      if (saved_errno == ETIMEDOUT)
        return "no connection to " + where(ep) + " within " + ms;
      if (saved_errno == ENXIO) return "cannot resolve " + ep.host;
      return "cannot connect to " + where(ep) + ": " + std::strerror(saved_errno);
    case IFC_ETIMEOUT:
      return "no answer within " + ms;
    case IFC_ECLOSED:
      return "the server closed the connection before the exchange was complete";
    case IFC_EPROTO:
      return "the server sent something the protocol does not allow";
    case IFC_EREFUSED:
      return "the server refused the length (\"ERR!\")";
    case IFC_ESYSTEM:
      return std::string("system error: ") + std::strerror(saved_errno);
    default:
      return ifc_strerror(code);
  }
}

// The endpoint as the C client takes it; false when the host does not fit.
bool to_c(const endpoint &ep, ifc_endpoint *out) {
  if (ep.host.size() >= sizeof out->host || ep.host.find('\0') != std::string::npos)
    return false;
  std::memset(out, 0, sizeof *out);
  std::memcpy(out->host, ep.host.c_str(), ep.host.size() + 1);
  out->port = ep.port;
  out->timeout_ms = ep.timeout_ms;
  return true;
}

template <typename Result>
Result failure(client_error e, std::string message) {
  Result r;
  r.error = e;
  r.message = std::move(message);
  return r;
}

template <typename Result>
Result from_code(int code, const endpoint &ep, int saved_errno) {
  if (code == 0) return Result{};
  return failure<Result>(to_error(code), describe(code, ep, saved_errno));
}

put_result too_long(size_t payload) {
  return failure<put_result>(
      client_error::usage,
      "payload of " + std::to_string(payload) + " bytes is longer than 256000 bytes");
}

}  // namespace

const char *client_error_name(client_error e) {
  switch (e) {
    case client_error::none:
      return "none";
    case client_error::connect:
      return "connect";
    case client_error::timeout:
      return "timeout";
    case client_error::refused:
      return "refused";
    case client_error::closed:
      return "closed";
    case client_error::protocol:
      return "protocol";
    case client_error::usage:
      return "usage";
    case client_error::io:
      return "io";
  }
  return "unknown";
}

get_result get(const endpoint &ep, std::string_view name) {
  if (name.size() > static_cast<size_t>(kCommandFieldSize) ||
      name.find('\0') != std::string_view::npos) {
    return failure<get_result>(
        client_error::usage,
        "a command name has at most 20 characters and no NUL: " + std::string(name));
  }
  ifc_endpoint c;
  if (!to_c(ep, &c))
    return failure<get_result>(client_error::usage, "host name too long: " + ep.host);
  // Room for the largest reply the server sends, and the terminator.
  std::string reply(static_cast<size_t>(kMaxPayload) + 1, '\0');
  const std::string c_name(name);
  const int n = ifc_get(&c, c_name.c_str(), reply.data(), static_cast<int>(reply.size()));
  const int saved_errno = errno;
  get_result r;
  if (n == IFC_EUNKNOWN) {
    r.length = -1;
    r.message = "no command of that name: " + std::string(name);
    return r;
  }
  if (n < 0) return from_code<get_result>(n, ep, saved_errno);
  reply.resize(static_cast<size_t>(n));
  r.length = n;
  r.reply = std::move(reply);
  return r;
}

put_result put_payload(const endpoint &ep, std::string_view payload) {
  if (payload.size() > static_cast<size_t>(kMaxPayload)) return too_long(payload.size());
  ifc_endpoint c;
  if (!to_c(ep, &c))
    return failure<put_result>(client_error::usage, "host name too long: " + ep.host);
  const int rc = ifc_put_payload(&c, payload.data(), static_cast<int>(payload.size()));
  return from_code<put_result>(rc, ep, errno);
}

put_result put(const endpoint &ep, std::string_view name, std::string_view text) {
  if (name.empty() || name.size() > static_cast<size_t>(kCommandFieldSize) ||
      name.find('\0') != std::string_view::npos) {
    return failure<put_result>(
        client_error::usage,
        "a command name has 1 to 20 characters and no NUL: " + std::string(name));
  }
  const size_t payload = name.size() + 1 + text.size();
  if (payload > static_cast<size_t>(kMaxPayload)) return too_long(payload);
  ifc_endpoint c;
  if (!to_c(ep, &c))
    return failure<put_result>(client_error::usage, "host name too long: " + ep.host);
  const std::string c_name(name);
  const int rc = ifc_put(&c, c_name.c_str(), text.data(), static_cast<int>(text.size()));
  return from_code<put_result>(rc, ep, errno);
}

}  // namespace ifc
