// Faults during saves and loads of a set file, injected by the file layer
// (fault_layer.hpp) at every step of a save: open of the temporary file,
// write, fsync, close, rename; each killed before and after the call, failed
// with EIO and with ENOSPC, and the write also cut short. Afterwards, and
// after a restart, the set file is byte for byte the old image or the new
// one, never short and never the defaults, and the server keeps serving.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "dispatch/sim_main.hpp"
#include "gtest/gtest.h"
#include "hardening/fault_layer.hpp"
#include "support/server_process.hpp"
#include "support/set_images.hpp"
#include "support/temp_dir.hpp"

namespace {

using fault_layer::fault;
using fault_layer::step;
using testing_support::file_exists;
using testing_support::read_file;
using testing_support::ServerProcess;
using testing_support::TempDir;
using testing_support::write_file;

struct fault_case {
  step at;
  fault what;
};

// Every step of a save with every fault; a short write only for write.
const fault_case kSaveFaults[] = {
    {step::open_write, fault::kill_before},
    {step::open_write, fault::kill_after},
    {step::open_write, fault::eio},
    {step::open_write, fault::enospc},
    {step::write, fault::kill_before},
    {step::write, fault::kill_after},
    {step::write, fault::eio},
    {step::write, fault::enospc},
    {step::write, fault::short_io},
    {step::fsync, fault::kill_before},
    {step::fsync, fault::kill_after},
    {step::fsync, fault::eio},
    {step::fsync, fault::enospc},
    {step::close, fault::kill_before},
    {step::close, fault::kill_after},
    {step::close, fault::eio},
    {step::close, fault::enospc},
    {step::rename, fault::kill_before},
    {step::rename, fault::kill_after},
    {step::rename, fault::eio},
    {step::rename, fault::enospc},
};

std::string case_name(const fault_case &c) {
  return std::string(fault_layer::step_name(c.at)) + "/" +
         fault_layer::fault_name(c.what);
}

bool kills(fault f) { return f == fault::kill_before || f == fault::kill_after; }

// Whether the new image must be in place after the fault: only once the
// rename has been made, or when the save could finish anyway (a short write
// is followed by a write of the rest).
bool new_image_expected(const fault_case &c) {
  return (c.at == step::rename && c.what == fault::kill_after) ||
         c.what == fault::short_io;
}

std::string image(char seed, std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(seed + i * 13);
  return s;
}

// The save itself, every step and fault: the result tells the truth and the
// file is whole, old or new; no temporary file is left behind a failure the
// process survived.
TEST(SaveFaults, DirectSaveLeavesOldOrNewImage) {
  int injected = 0;
  for (const fault_case &c : kSaveFaults) {
    const std::string name = case_name(c);
    TempDir dir;
    const std::string path = dir.file("valve_fp.set");
    const std::string old_image = image('a', 8960), new_image = image('b', 8960);
    write_file(path, old_image);

    fault_layer::arm(c.at, 1, c.what);
    int result = 0;
    if (kills(c.what)) {
      pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0)
        _exit(hfp_save_data2(path.c_str(), new_image.data(), 8960) == 0 ? 0 : 1);
      int st = 0;
      ASSERT_EQ(waitpid(pid, &st, 0), pid);
      ASSERT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL) << name;
    } else {
      result = hfp_save_data2(path.c_str(), new_image.data(), 8960);
      ASSERT_TRUE(fault_layer::fired()) << name << ": the step was never reached";
    }
    fault_layer::disarm();
    ++injected;

    const std::string now = read_file(path);
    if (new_image_expected(c)) {
      EXPECT_TRUE(now == new_image) << name << ": not the new image";
    } else {
      EXPECT_TRUE(now == old_image) << name << ": not the old image";
    }
    if (!kills(c.what)) {
      EXPECT_EQ(result, now == new_image ? 0 : -1) << name;
      EXPECT_FALSE(file_exists(path + ".tmp")) << name;
    }

    // The next save, as after a restart, goes through and replaces whatever
    // temporary file a killed save left.
    const std::string third = image('c', 8960);
    EXPECT_EQ(hfp_save_data2(path.c_str(), third.data(), 8960), 0) << name;
    EXPECT_TRUE(read_file(path) == third) << name << ": next save";
    EXPECT_FALSE(file_exists(path + ".tmp")) << name;
  }
  EXPECT_EQ(injected, 21);
}

// IFC image as the server writes it, with slot 1 of "Tot" and "Twt" read back.
std::int32_t slot(const std::string &img, std::size_t record, int index) {
  std::int32_t v = 0;
  std::memcpy(&v, img.data() + record * 80 + 32 + 4 * index, 4);
  return v;
}

std::string reply_for(const std::string &img) {
  return "to:" + std::to_string(slot(img, 0, 1)) +
         " tw:" + std::to_string(slot(img, 1, 1)) + " ";
}

// Outside "Tot"/"Twt" slot 1, two images must agree byte for byte.
bool same_but_targets(std::string a, std::string b) {
  if (a.size() != b.size()) return false;
  std::memset(a.data() + 36, 0, 4);
  std::memset(b.data() + 36, 0, 4);
  std::memset(a.data() + 116, 0, 4);
  std::memset(b.data() + 116, 0, 4);
  return a == b;
}

// The same faults in a running server: the PUT "to:95 tw:250" saves the IFC
// table twice (after "Tot", after "Twt") and the fault hits the first save.
// A server that survives goes on serving what the file holds; a killed one is
// restarted in the same directory and serves the file as it was left.
TEST(SaveFaults, ServerSurvivesOrRestartsOnWholeFile) {
  for (const fault_case &c : kSaveFaults) {
    const std::string name = case_name(c);
    TempDir dir;
    std::string old_image;
    {
      ServerProcess srv(dir.path());
      ASSERT_TRUE(srv.Put("IFC_set_to_tw_1", "to:91 tw:241")) << name;
      ASSERT_EQ(srv.Get("IFC_get_Tot_Twt_1"), "to:91 tw:241 ") << name;
      old_image = read_file(dir.file("ifc_set.set"));
      ASSERT_EQ(old_image.size(), 800u) << name;
    }

    fault_layer::arm(c.at, 1, c.what);
    {
      ServerProcess srv(dir.path());
      fault_layer::disarm();  // the child has its own armed copy
      srv.Put("IFC_set_to_tw_1", "to:95 tw:250");
      if (kills(c.what)) {
        const std::optional<int> st = srv.WaitForExit();
        ASSERT_TRUE(st.has_value()) << name << ": the fault did not kill the server";
        EXPECT_TRUE(WIFSIGNALED(*st) && WTERMSIG(*st) == SIGKILL) << name;
      } else {
        ASSERT_TRUE(srv.WaitForRequests(1)) << name;
        const std::string now = read_file(dir.file("ifc_set.set"));
        EXPECT_TRUE(same_but_targets(now, old_image)) << name;
        EXPECT_EQ(srv.Get("IFC_get_Tot_Twt_1"), reply_for(now)) << name;
        // The second save went through; the first one kept the old "to"
        // unless it could finish after all.
        EXPECT_EQ(slot(now, 1, 1), 250) << name;
        EXPECT_EQ(slot(now, 0, 1), new_image_expected(c) ? 95 : 91) << name;
        EXPECT_FALSE(file_exists(dir.file("ifc_set.set.tmp"))) << name;
      }
    }

    // After a restart the file is whole: the old image, or the old one with
    // the first change; never short, never the defaults.
    const std::string now = read_file(dir.file("ifc_set.set"));
    ASSERT_EQ(now.size(), 800u) << name;
    EXPECT_TRUE(same_but_targets(now, old_image)) << name;
    EXPECT_NE(reply_for(now), reply_for(testing_support::DefaultImage("ifc_set.set")))
        << name;
    ServerProcess again(dir.path());
    EXPECT_EQ(again.Get("IFC_get_Tot_Twt_1"), reply_for(now)) << name;
    EXPECT_TRUE(again.Put("IFC_set_to_tw_1", "to:97 tw:257")) << name;
    EXPECT_EQ(again.Get("IFC_get_Tot_Twt_1"), "to:97 tw:257 ") << name;
    EXPECT_FALSE(file_exists(dir.file("ifc_set.set.tmp"))) << name;
    EXPECT_FALSE(file_exists(dir.file("ifc_set.set.bad"))) << name;
  }
}

// Faults while the set file is loaded: the settings are never thrown away
// silently. The file stays as it was, or it is set aside whole as ".bad"
// with a line saying so; after the fault the server serves again.
TEST(SaveFaults, LoadFaultsNeverDropTheSettingsSilently) {
  static const struct {
    const char *name;
    step at;
    fault what;
  } cases[] = {
      {"read fails with EIO", step::read, fault::eio},
      {"read comes back short", step::read, fault::short_io},
      {"open fails with EIO", step::open_read, fault::eio},
      {"open finds no descriptor (EMFILE)", step::open_read, fault::emfile},
  };
  for (const auto &c : cases) {
    TempDir dir;
    std::string old_image;
    {
      ServerProcess srv(dir.path());
      ASSERT_TRUE(srv.Put("IFC_set_to_tw_1", "to:91 tw:241")) << c.name;
      old_image = read_file(dir.file("ifc_set.set"));
    }
    fault_layer::arm(c.at, 1, c.what);
    ServerProcess srv(dir.path());
    fault_layer::disarm();
    std::string during = srv.Get("IFC_get_Tot_Twt_1");
    ASSERT_TRUE(srv.WaitForRequests(1)) << c.name;

    const std::string now = read_file(dir.file("ifc_set.set"));
    if (c.what == fault::emfile) {
      EXPECT_TRUE(now == old_image)
          << c.name << ": a shortage of descriptors is no bad file";
    }
    if (now != old_image) {
      EXPECT_TRUE(read_file(dir.file("ifc_set.set.bad")) == old_image)
          << c.name << ": the settings were replaced without being kept";
      EXPECT_NE(srv.Output().find("ifc_set.set.bad"), std::string::npos)
          << c.name << ": set aside without a word";
    } else {
      EXPECT_EQ(srv.Get("IFC_get_Tot_Twt_1"), "to:91 tw:241 ") << c.name;
    }
    EXPECT_TRUE(srv.Alive()) << c.name << " (reply during the fault: " << during << ")";
  }
}

// Regression: a load that found no free descriptor (EMFILE) used to rename
// the set file to ".bad" as if it were broken; once descriptors were free
// again the server created and served the defaults, every setting gone.
TEST(SaveFaults, LoadWithoutADescriptorKeepsTheSetFile) {
  static const struct {
    const char *name;
    bool table_loaded_before;
  } cases[] = {{"table loaded before", true}, {"first load of the process", false}};
  for (const auto &c : cases) {
    TempDir dir;
    const std::string path = dir.file("ifc_set.set");
    const std::string on_disk = image('d', 800), defaults = image('e', 800);
    write_file(path, on_disk);
    std::string table = c.table_loaded_before ? image('f', 800) : std::string(800, '\0');
    const std::string before = table;

    fault_layer::arm(step::open_read, 1, fault::emfile);
    int r = hfp_load_table(path.c_str(), table.data(), defaults.data(), 800);
    ASSERT_TRUE(fault_layer::fired()) << c.name;
    fault_layer::disarm();

    EXPECT_EQ(r, -1) << c.name << ": the caller must not save over the file";
    EXPECT_TRUE(read_file(path) == on_disk) << c.name << ": the set file was changed";
    EXPECT_FALSE(file_exists(path + ".bad")) << c.name;
    EXPECT_TRUE(table == (c.table_loaded_before ? before : defaults)) << c.name;

    // Once descriptors are free the file is taken as it is.
    EXPECT_EQ(hfp_load_table(path.c_str(), table.data(), defaults.data(), 800), 800)
        << c.name;
    EXPECT_TRUE(table == on_disk) << c.name;
  }
}

}  // namespace
