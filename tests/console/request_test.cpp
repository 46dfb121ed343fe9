// Where a change may come from.
#include "console/request.hpp"

#include <gtest/gtest.h>

namespace console {
namespace {

TEST(ConsoleSameOrigin, OnlyTheConsolesOwnSchemeHostAndPort) {
  // clang-format off
  static const struct {
    const char *name, *origin, *referer, *host;
    bool https, expected;
  } cases[] = {
      {"origin matches", "http://127.0.0.1:8080", nullptr, "127.0.0.1:8080", false, true},
      {"host names compare without case", "http://Console:8080", nullptr, "console:8080", false, true},
      {"other port", "http://127.0.0.1:8081", nullptr, "127.0.0.1:8080", false, false},
      {"longer port", "http://127.0.0.1:80800", nullptr, "127.0.0.1:8080", false, false},
      {"other scheme", "https://h:1", nullptr, "h:1", false, false},
      {"console over https", "https://h", nullptr, "h", true, true},
      {"opaque origin", "null", "http://h:1/", "h:1", false, false},
      {"origin decides over referer", "http://evil", "http://h/", "h", false, false},
      {"referer of a page", nullptr, "http://h:1/cgi-bin/targets.cgi?x", "h:1", false, true},
      {"referer of the root", nullptr, "http://h:1", "h:1", false, true},
      {"referer with a user part", nullptr, "http://h:1@evil/", "h:1", false, false},
      {"no host", "http://h", nullptr, nullptr, false, false},
      {"host with a line end", "http://h\r\nX: y", nullptr, "h\r\nX: y", false, false},
      {"bracketed IPv6", "http://[::1]:8080", nullptr, "[::1]:8080", false, true},
  };
  // clang-format on
  for (const auto &c : cases)
    EXPECT_EQ(same_origin(c.origin, c.referer, c.host, c.https), c.expected) << c.name;
}

TEST(ConsoleKnownHost, AddressesLocalhostAndListedNames) {
  // clang-format off
  static const struct {
    const char *name, *host, *allowed;
    bool expected;
  } cases[] = {
      {"IPv4 and port", "127.0.0.1:8080", nullptr, true},
      {"IPv4 alone", "10.0.0.5", nullptr, true},
      {"bracketed IPv6", "[::1]:8080", nullptr, true},
      {"localhost", "LocalHost:8080", nullptr, true},
      {"foreign name", "evil.example:8080", nullptr, false},
      {"name listed", "lab-pc:8080", "console, lab-pc", true},
      {"listed name is whole", "lab-pc.evil:8080", "lab-pc", false},
      {"not quite an address", "127.0.0.1.evil:8080", nullptr, false},
      {"bad IPv6", "[::g]:8080", nullptr, false},
      {"no host", nullptr, "lab-pc", false},
  };
  // clang-format on
  for (const auto &c : cases)
    EXPECT_EQ(known_host(c.host, c.allowed), c.expected) << c.name;
}

}  // namespace
}  // namespace console
