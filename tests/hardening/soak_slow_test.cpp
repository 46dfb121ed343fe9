// Soak: a bounded run of mixed requests against one server process (GET and
// PUT of every kind, error paths, misbehaving clients). Afterwards the
// process holds the same descriptors, its resident memory has grown by no
// more than 64 KiB since warm-up, no temporary file is left, LeakSanitizer
// (in sanitizer builds) finds nothing, and every reply was right.
//
// IFCSIM_SOAK_REQUESTS sets the count (default 3000, the CI run);
// scripts/soak runs 100000.
#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>

#include "gtest/gtest.h"
#include "hardening/harness.hpp"
#include "support/temp_dir.hpp"

namespace hardening {
namespace {

using testing_support::TempDir;

long soak_requests() {
  const char *env = std::getenv("IFCSIM_SOAK_REQUESTS");
  long n = env ? std::strtol(env, nullptr, 10) : 0;
  return n > 0 ? n : 3000;
}

int temp_files(const std::string &dir) {
  int n = 0;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return -1;
  while (dirent *e = readdir(d)) {
    std::string name = e->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) ++n;
  }
  closedir(d);
  return n;
}

// What the model expects of the targets of colour number c.
struct targets {
  int to[7] = {0, 90, 90, 90, 90, 90, 90};
  int tw[7] = {0, 240, 240, 240, 240, 240, 240};
};

const char *const kGets[] = {
    "IFC_get_select_item", "IFC_get_stat",         "IFC_get_To_Tw_1",
    "IFC_get_To_Tw_4",     "IFC_get_histo_ave_2",  "IFC_get_histo_ave_5",
    "IFC_get_hst_select",  "IFC_get_hist_cntdatL", "IFC_get_hist_cntdatR",
    "IFC_get_on_off_1",    "IFC_get_on_off_3",     "IFC_get_on_off_6"};

// One request of kind k; false when its reply was wrong.
bool one_request(std::uint16_t port, long i, targets &model, std::string &what) {
  const int c = static_cast<int>(i % 6) + 1;
  const std::string cs = std::to_string(c);
  switch (i % 20) {
    case 0:
    case 1:
    case 2: {
      what = "GET targets";
      std::string want = "to:" + std::to_string(model.to[c]) +
                         " tw:" + std::to_string(model.tw[c]) + " ";
      return get(port, "IFC_get_Tot_Twt_" + cs) == want;
    }
    case 3:
    case 4:
    case 5:
    case 6: {
      what = "GET other";
      std::string r = get(port, kGets[(i / 20 + i) % (sizeof kGets / sizeof kGets[0])]);
      return !r.empty() && r[0] != '<';
    }
    case 7:
    case 8: {
      what = "PUT targets";
      int to = 50 + static_cast<int>(i % 100), tw = 190 + static_cast<int>(i % 100);
      if (!put(port, "IFC_set_to_tw_" + cs,
               "to:" + std::to_string(to) + " tw:" + std::to_string(tw)))
        return false;
      model.to[c] = to;
      model.tw[c] = tw;
      return true;
    }
    case 9:
      what = "PUT on/off";
      return put(port, "IFC_set_on_off_" + cs,
                 "main_on:" + std::to_string(i % 360) + " sub3_off:" + std::to_string(c));
    case 10:
      what = "PUT selection";
      return put(port, "IFC_set_select_item", (i % 40 == 10) ? "all:" : "sub7:1");
    case 11:
      what = "PUT status and histogram";
      return put(port, "IFC_set_stat", "color:" + cs + " mode:1 totw_sw:0") &&
             put(port, "IFC_hst_select_item", "LEFT " + cs + " tb2");
    case 12:
      what = "PUT printed commands";
      return put(port, "IFC_hst_clear", cs + " tw") &&
             put(port, "IFC_hst_set", "1 tw 10 2 tbw 10 500") &&
             put(port, "MLETOFF_set_btnstat", "btn:" + cs);
    case 13:
      what = "unknown GET";
      return get(port, "IFC_get_nothing") == "<len -1>";
    case 14: {
      what = "refused PUT length";
      int fd = connect_to(port);
      send_all(fd, put_header(256001));
      std::string got;
      bool ok = recv_until_close(fd, got) && got == "ERR!";
      close(fd);
      return ok;
    }
    case 15:
      what = "PUT without a NUL / unknown PUT";
      return put_payload(port, "IFC_set_stat") && put(port, "IFC_set_nothing", "x");
    case 16: {
      what = "connect and close";
      int fd = connect_to(port);
      close(fd);
      return fd >= 0;
    }
    case 17: {
      what = "reset after the length header";
      int fd = connect_to(port);
      send_all(fd, get_header("IFC_get_on_off_2"));
      // The length varies with the values stored so far.
      bool ok = recv_some(fd, 13).rfind("LEN0000000", 0) == 0;
      reset_close(fd);
      return ok;
    }
    case 18: {
      what = "reset in a payload";
      int fd = connect_to(port);
      send_all(fd, put_header(2000));
      bool ok = recv_some(fd, 4) == "NEXT";
      send_all(fd, std::string("append_log\0", 11) + std::string(1100, 's'));
      reset_close(fd);
      return ok;
    }
    default: {
      what = "\"next\" in place of \"NEXT\"";
      int fd = connect_to(port);
      send_all(fd, get_header("IFC_get_stat") + "next");
      std::string got;
      bool ok = recv_until_close(fd, got) && got.rfind("LEN", 0) == 0 && got.size() == 13;
      close(fd);
      return ok;
    }
  }
}

// Connections one request of that index opens.
int connections(long i) {
  switch (i % 20) {
    case 11:
    case 15:
      return 2;
    case 12:
      return 3;
    default:
      return 1;
  }
}

TEST(Soak, MixedRequestsLeaveNoTrace) {
  const long total = soak_requests();
  const long warm_up = std::max(300L, total / 10);
  TempDir dir;
  server_options opt;
  opt.leak_check_on_usr1 = true;
  server srv(dir.path(), opt);
  ASSERT_TRUE(srv.wait_idle(1));

  targets model;
  std::size_t waits = 1;
  int fds_before = -1;
  long rss_before = -1;
  int wrong = 0;
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < total; ++i) {
    if (i == warm_up) {
      ASSERT_TRUE(srv.wait_idle(waits));
      fds_before = srv.fd_count();
      rss_before = srv.rss_kib();
    }
    std::string what;
    if (!one_request(srv.port(), i, model, what)) {
      ++wrong;
      ADD_FAILURE() << "request " << i << " (" << what << ") answered wrongly";
      if (wrong > 10) break;
    }
    waits += static_cast<std::size_t>(connections(i));
  }
  ASSERT_TRUE(srv.wait_idle(waits, 30000));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int fds_after = srv.fd_count();
  const long rss_after = srv.rss_kib();

  std::cout << "soak: " << total << " requests (" << waits - 1 << " connections) in "
            << seconds << " s; descriptors " << fds_before << " -> " << fds_after
            << "; resident KiB after warm-up " << rss_before << " -> " << rss_after
            << "; temporary files " << temp_files(dir.path()) << std::endl;
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(fds_after, fds_before);
  EXPECT_LE(rss_after - rss_before, 64);
  EXPECT_EQ(temp_files(dir.path()), 0);
  EXPECT_EQ(srv.leak_check(), 0) << "LeakSanitizer found leaks (exit status 23)";
}

}  // namespace
}  // namespace hardening
