// The Faults page on a rules file in a temporary directory: what it lists,
// and what each change leaves in the file (IFCSIM_FAULTS) and answers.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cgi.hpp"
#include "support/temp_dir.hpp"

namespace console_test {
namespace {

using ConsoleFaults = ConsoleTest;
using testing_support::file_exists;
using testing_support::read_file;
using testing_support::write_file;

TEST_F(ConsoleFaults, ListsAndEditsTheRulesFile) {
  const char *const rules = "# mine\n* lose\n\nIFC_get_stat garble # why\n";
  // before/after: the file's content, or null when there is none. body: a
  // POST's, or null for a GET.
  // clang-format off
  static const struct {
    const char *name, *before, *body;
    int status;
    const char *location;
    std::vector<std::pair<const char *, const char *>> shows;
    const char *after;
    std::vector<std::string> env = {};
  } cases[] = {
    {"no file: no rules", nullptr, nullptr, 200, "", {{"faults-file@data-state", "empty"}}, nullptr},
    {"rules numbered as ifcctl lists them", rules, nullptr, 200, "",
     {{"text-2", "IFC_get_stat garble"}, {"rule-3", "(no such id)"}}, rules},
    {"a file the server refuses", "* down 0\n", nullptr, 200, "",
     {{"faults-file@data-state", "refused"}, {"clear-send", "Remove all"}}, "* down 0\n"},
    {"a rule typed in", "* lose", "action=add&rule=IFC_get_stat+garble", 303,
     "faults.cgi?done=added", {}, "* lose\nIFC_get_stat garble\n"},
    {"a refused rule: the reason beside it, as typed", rules, "action=add&rule=*+down+0", 400, "",
     {{"why-rule", "&#39;0&#39; is no time down in seconds (1 to 3600)"}, {"rule@value", "* down 0"}},
     rules},
    {"a preset: next save refused", nullptr, "action=preset&preset=refuse", 303,
     "faults.cgi?done=added", {}, "PUT:* refuse times 1\n"},
    {"a preset: next save lost", nullptr, "action=preset&preset=lose", 303,
     "faults.cgi?done=added", {}, "IFC_set_* lose times 1\n"},
    {"a preset: down for 30 s", nullptr, "action=preset&preset=down", 303,
     "faults.cgi?done=added", {}, "* down 30 times 1\n"},
    {"a preset: replies take 6 s", nullptr, "action=preset&preset=slow", 303,
     "faults.cgi?done=added", {}, "* delay 6000 before len\n"},
    {"a preset that is none", nullptr, "action=preset&preset=all", 400, "",
     {{"field", "preset"}}, nullptr},
    {"remove by number and text", rules, "action=remove&n=2&text=IFC_get_stat+garble", 303,
     "faults.cgi?done=removed", {}, "# mine\n* lose\n\n"},
    {"remove of a rule that changed meanwhile", rules, "action=remove&n=1&text=IFC_get_stat+garble",
     409, "", {{"text-1", "* lose"}}, rules},
    {"no edit of a file the server refuses", "* down 0\n", "action=add&rule=*+lose", 409, "",
     {{"error@data-status", "409"}}, "* down 0\n"},
    {"clear", rules, "action=clear", 303, "faults.cgi?done=cleared", {}, nullptr},
    {"no faults file known", nullptr, "action=clear", 409, "", {{"no-faults@class", "notice"}},
     nullptr, {"IFCSIM_FAULTS"}},
  };
  // clang-format on
  testing_support::TempDir dir;
  const std::string path = dir.file("faults");
  for (const auto &c : cases) {
    std::remove(path.c_str());
    if (c.before != nullptr) write_file(path, c.before);
    std::vector<std::string> env = {"IFCSIM_FAULTS=" + path};
    env.insert(env.end(), c.env.begin(), c.env.end());
    cgi_response r =
        run("faults.cgi", c.body ? "POST" : "GET", "", c.body ? c.body : "", env);
    EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.body;
    EXPECT_EQ(r.headers["Location"], c.location) << c.name;
    for (const auto &[what, value] : c.shows)
      EXPECT_EQ(shown(r.body, what), value) << c.name;
    EXPECT_EQ(file_exists(path), c.after != nullptr) << c.name;
    if (c.after != nullptr && file_exists(path)) {
      EXPECT_EQ(read_file(path), c.after) << c.name;
    }
  }
}

}  // namespace
}  // namespace console_test
