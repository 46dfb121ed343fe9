// Soak: a bounded run of mixed requests against one server process (GET and
// PUT of every kind, error paths, misbehaving clients). Afterwards the
// process holds the same descriptors, its resident memory has grown by no
// more than 64 KiB since warm-up, no temporary file is left, LeakSanitizer
// (in sanitizer builds) finds nothing, and every reply was right.
//
// IFCSIM_SOAK_REQUESTS sets the count (default 3000, the CI run);
// scripts/soak runs 100000.
#include <dirent.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>

#include "gtest/gtest.h"
#include "support/server_process.hpp"
#include "support/set_images.hpp"

namespace {

using testing_support::PutHeader;
using testing_support::RawConnection;
using testing_support::RequestHeader;
using testing_support::ServerProcess;

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

// What the model expects of the targets of colour number c; at first the
// defaults.
struct targets {
  targets() {
    const std::string &image = testing_support::DefaultImage("ifc_set.set");
    for (int c = 1; c <= 6; ++c) {
      to[c] = slot(image, "Tot", c);
      tw[c] = slot(image, "Twt", c);
    }
  }
  static int slot(const std::string &image, const char *record, int c) {
    return testing_support::GetLe32(
        image,
        testing_support::SlotOffset(testing_support::RecordPosition(image, record), c));
  }
  int to[7] = {};
  int tw[7] = {};
};

const char *const kGets[] = {
    "IFC_get_select_item", "IFC_get_stat",         "IFC_get_To_Tw_1",
    "IFC_get_To_Tw_4",     "IFC_get_histo_ave_2",  "IFC_get_histo_ave_5",
    "IFC_get_hst_select",  "IFC_get_hist_cntdatL", "IFC_get_hist_cntdatR",
    "IFC_get_on_off_1",    "IFC_get_on_off_3",     "IFC_get_on_off_6"};

// One request of kind k; false when its reply was wrong.
bool one_request(const ServerProcess &srv, long i, targets &model, std::string &what) {
  const int c = static_cast<int>(i % 6) + 1;
  const std::string cs = std::to_string(c);
  switch (i % 20) {
    case 0:
    case 1:
    case 2: {
      what = "GET targets";
      std::string want = "to:" + std::to_string(model.to[c]) +
                         " tw:" + std::to_string(model.tw[c]) + " ";
      return srv.Get("IFC_get_Tot_Twt_" + cs) == want;
    }
    case 3:
    case 4:
    case 5:
    case 6: {
      what = "GET other";
      std::string r = srv.Get(kGets[(i / 20 + i) % (sizeof kGets / sizeof kGets[0])]);
      return !r.empty() && r[0] != '<';
    }
    case 7:
    case 8: {
      what = "PUT targets";
      int to = 50 + static_cast<int>(i % 100), tw = 190 + static_cast<int>(i % 100);
      if (!srv.Put("IFC_set_to_tw_" + cs,
                   "to:" + std::to_string(to) + " tw:" + std::to_string(tw)))
        return false;
      model.to[c] = to;
      model.tw[c] = tw;
      return true;
    }
    case 9:
      what = "PUT on/off";
      return srv.Put("IFC_set_on_off_" + cs, "main_on:" + std::to_string(i % 360) +
                                                 " sub3_off:" + std::to_string(c));
    case 10:
      what = "PUT selection";
      return srv.Put("IFC_set_select_item", (i % 40 == 10) ? "all:" : "sub7:1");
    case 11:
      what = "PUT status and histogram";
      return srv.Put("IFC_set_stat", "color:" + cs + " mode:1 totw_sw:0") &&
             srv.Put("IFC_hst_select_item", "LEFT " + cs + " tb2");
    case 12:
      what = "PUT printed commands";
      return srv.Put("IFC_hst_clear", cs + " tw") &&
             srv.Put("IFC_hst_set", "1 tw 10 2 tbw 10 500") &&
             srv.Put("MLETOFF_set_btnstat", "btn:" + cs);
    case 13:
      what = "unknown GET";
      return srv.Get("IFC_get_nothing") == "<len -1>";
    case 14: {
      what = "refused PUT length";
      RawConnection conn(srv.port());
      conn.Send(PutHeader(256001));
      return conn.ReadToClose() == "ERR!";
    }
    case 15:
      what = "PUT without a NUL / unknown PUT";
      return srv.PutPayload("IFC_set_stat") && srv.Put("IFC_set_nothing", "x");
    case 16: {
      what = "connect and close";
      return RawConnection(srv.port()).connected();
    }
    case 17: {
      what = "reset after the length header";
      RawConnection conn(srv.port());
      conn.Send(RequestHeader("GET", "IFC_get_on_off_2"));
      // The length varies with the values stored so far.
      const bool ok = conn.Read(13).rfind("LEN0000000", 0) == 0;
      conn.Reset();
      return ok;
    }
    case 18: {
      what = "reset in a payload";
      RawConnection conn(srv.port());
      conn.Send(PutHeader(2000));
      const bool ok = conn.Read(4) == "NEXT";
      conn.Send(std::string("append_log\0", 11) + std::string(1100, 's'));
      conn.Reset();
      return ok;
    }
    default: {
      what = "\"next\" in place of \"NEXT\"";
      RawConnection conn(srv.port());
      conn.Send(RequestHeader("GET", "IFC_get_stat") + "next");
      const auto got = conn.ReadToClose();
      return got && got->rfind("LEN", 0) == 0 && got->size() == 13;
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
  ServerProcess srv(testing_support::LeakCheckOnSigusr1);
  ASSERT_TRUE(srv.WaitForRequests(0));

  targets model;
  int requests = 0;
  int fds_before = -1;
  long rss_before = -1;
  int wrong = 0;
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < total; ++i) {
    if (i == warm_up) {
      ASSERT_TRUE(srv.WaitForRequests(requests));
      fds_before = srv.DescriptorCount();
      rss_before = srv.ResidentKiB();
    }
    std::string what;
    if (!one_request(srv, i, model, what)) {
      ++wrong;
      ADD_FAILURE() << "request " << i << " (" << what << ") answered wrongly";
      if (wrong > 10) break;
    }
    requests += connections(i);
  }
  ASSERT_TRUE(srv.WaitForRequests(requests, testing_support::Millis(30000)));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int fds_after = srv.DescriptorCount();
  const long rss_after = srv.ResidentKiB();

  std::cout << "soak: " << total << " requests (" << requests << " connections) in "
            << seconds << " s; descriptors " << fds_before << " -> " << fds_after
            << "; resident KiB after warm-up " << rss_before << " -> " << rss_after
            << "; temporary files " << temp_files(srv.dir()) << std::endl;
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(fds_after, fds_before);
  EXPECT_LE(rss_after - rss_before, 64);
  EXPECT_EQ(temp_files(srv.dir()), 0);
  EXPECT_EQ(srv.LeakCheck(), 0) << "LeakSanitizer found leaks (exit status 23)";
}

}  // namespace
