// The protocol's names against what the server holds independently of them:
// the command names of its dispatch tables, and the records of the set files
// as checked in under tests/data.
#include "ifcsim/ifcsim_protocol.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "dispatch/ether_parse.hpp"
#include "support/set_images.hpp"

namespace {

using testing_support::DefaultImage;
using testing_support::RecordPosition;

const char *flag_name(int i) {
  return ifc_flag_item(i) ? ifc_flag_item(i)->name : nullptr;
}
const char *valve_name(int i) {
  return ifc_valve_item(i) ? ifc_valve_item(i)->name : nullptr;
}

// Every command name is the name of the server's row at the same place, and
// each lookup leads back to it.
TEST(IfcsimProtocol, CommandsAreTheServersRowsInOrder) {
  static const struct {
    const char *name;
    int verb;
    int first, count;
    const command_entry<get_handler> *gets;
    const command_entry<put_handler> *puts;
  } cases[] = {
      {"GET", IFC_VERB_GET, 0, IFC_GET_COMMANDS, get_commands, nullptr},
      {"PUT", IFC_VERB_PUT, IFC_GET_COMMANDS, IFC_PUT_COMMANDS, nullptr, put_commands},
  };
  for (const auto &c : cases) {
    for (int i = 0; i < c.count; ++i) {
      const ifc_command_info *info = ifc_command_at(c.first + i);
      ASSERT_NE(info, nullptr) << c.name << " " << i;
      std::string row = c.gets ? c.gets[i].name : c.puts[i].name;
      row.erase(row.find_last_not_of(' ') + 1);  // GET rows carry their fill
      EXPECT_EQ(info->name, row) << c.name << " " << i;
      EXPECT_EQ(info->verb, c.verb) << c.name << " " << row;
      EXPECT_EQ(ifc_command_find(info->name), info) << c.name << " " << row;
      EXPECT_STREQ(ifc_command_name(info->command, info->colour), info->name)
          << c.name << " " << row;
    }
    EXPECT_EQ(c.gets ? c.gets[c.count].name : c.puts[c.count].name, nullptr) << c.name;
  }
  EXPECT_EQ(ifc_command_at(IFC_GET_COMMANDS + IFC_PUT_COMMANDS), nullptr);
  EXPECT_EQ(ifc_command_at(-1), nullptr);
  EXPECT_EQ(ifc_command_find("IFC_get_stat "), nullptr);
  EXPECT_EQ(ifc_command_name(IFC_CMD_GET_TOT_TWT, IFC_COLOURS + 1), nullptr);
  EXPECT_EQ(ifc_command_name(IFC_CMD_GET_STAT, 1), nullptr);
}

// Each item is found by its name, and the record that keeps it is in the
// default set file; names are exact and the numbers end where they should.
TEST(IfcsimProtocol, ItemsAreFoundAndKeptInTheSetFiles) {
  static const struct {
    const char *name;
    int count;
    const char *(*name_at)(int);
    int (*find)(const char *);
    const ifc_item *(*item_at)(int);
    const char *set_file;
    int min_slot, max_slot;
  } cases[] = {
      {"flags", IFC_FLAGS, flag_name, ifc_flag_find, ifc_flag_item, IFC_SET_FILE, 1, 6},
      {"valve items", IFC_VALVES, valve_name, ifc_valve_find, ifc_valve_item,
       IFC_VALVE_FILE, 0, 0},
      {"histogram items", IFC_HIST_ITEMS, ifc_hist_item_name, ifc_hist_item_find, nullptr,
       nullptr, 0, 0},
  };
  for (const auto &c : cases) {
    for (int i = 0; i < c.count; ++i) {
      const char *name = c.name_at(i);
      ASSERT_NE(name, nullptr) << c.name << " " << i;
      EXPECT_EQ(c.find(name), i) << c.name << " " << name;
      std::string upper = name;
      for (char &ch : upper) ch = static_cast<char>(std::toupper(ch));
      EXPECT_EQ(c.find(upper.c_str()), IFC_EMISSING) << c.name << " " << upper;
      if (c.item_at == nullptr) continue;
      const ifc_item *item = c.item_at(i);
      EXPECT_GT(RecordPosition(DefaultImage(c.set_file), item->record), 0)
          << c.name << " " << name << ": " << item->record;
      EXPECT_GE(item->slot, c.min_slot) << c.name << " " << name;
      EXPECT_LE(item->slot, c.max_slot) << c.name << " " << name;
    }
    EXPECT_EQ(c.name_at(c.count), nullptr) << c.name;
    EXPECT_EQ(c.name_at(-1), nullptr) << c.name;
    EXPECT_EQ(c.find(""), IFC_EMISSING) << c.name;
    EXPECT_EQ(c.find(nullptr), IFC_EMISSING) << c.name;
  }
}

}  // namespace
