// The GET and PUT command tables: every row's name, handler and position,
// against lists written out here by hand. Clients address commands by name
// only, but a row out of place or a handler under the wrong name runs the
// wrong command.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>

#include "dispatch/ether_parse.hpp"
#include "dispatch/sim_main.hpp"
#include "ifc/ifc_net.hpp"
#include "valve/mletoff_net.hpp"
#include "valve/vfp_ifc.hpp"

namespace {

template <typename Handler>
struct expected_row {
  const char *name;
  Handler handler;
};

const expected_row<get_handler> kGetRows[] = {
    {"IFC_get_select_item", IFC_get_select_item},
    {"IFC_get_stat", IFC_get_stat},
    {"IFC_get_Tot_Twt_1", IFC_get_Tot_Twt_1},
    {"IFC_get_Tot_Twt_2", IFC_get_Tot_Twt_2},
    {"IFC_get_Tot_Twt_3", IFC_get_Tot_Twt_3},
    {"IFC_get_Tot_Twt_4", IFC_get_Tot_Twt_4},
    {"IFC_get_Tot_Twt_5", IFC_get_Tot_Twt_5},
    {"IFC_get_Tot_Twt_6", IFC_get_Tot_Twt_6},
    {"IFC_get_To_Tw_1", IFC_get_To_Tw_1},
    {"IFC_get_To_Tw_2", IFC_get_To_Tw_2},
    {"IFC_get_To_Tw_3", IFC_get_To_Tw_3},
    {"IFC_get_To_Tw_4", IFC_get_To_Tw_4},
    {"IFC_get_To_Tw_5", IFC_get_To_Tw_5},
    {"IFC_get_To_Tw_6", IFC_get_To_Tw_6},
    {"IFC_get_histo_ave_1", IFC_get_histo_ave_1},
    {"IFC_get_histo_ave_2", IFC_get_histo_ave_2},
    {"IFC_get_histo_ave_3", IFC_get_histo_ave_3},
    {"IFC_get_histo_ave_4", IFC_get_histo_ave_4},
    {"IFC_get_histo_ave_5", IFC_get_histo_ave_5},
    {"IFC_get_histo_ave_6", IFC_get_histo_ave_6},
    {"IFC_get_hst_select", IFC_get_hst_select},
    {"IFC_get_hist_cntdatL", IFC_get_hist_cntdatL},
    {"IFC_get_hist_cntdatR", IFC_get_hist_cntdatR},
    {"IFC_get_on_off_1", IFC_get_on_off_1},
    {"IFC_get_on_off_2", IFC_get_on_off_2},
    {"IFC_get_on_off_3", IFC_get_on_off_3},
    {"IFC_get_on_off_4", IFC_get_on_off_4},
    {"IFC_get_on_off_5", IFC_get_on_off_5},
    {"IFC_get_on_off_6", IFC_get_on_off_6},
};

const expected_row<put_handler> kPutRows[] = {
    {"MLETOFF_set_btnstat", MLETOFF_set_btnstat},
    {"IFC_set_select_item", IFC_set_select_item},
    {"IFC_set_stat", IFC_set_stat},
    {"IFC_set_to_tw_1", IFC_set_to_tw_1},
    {"IFC_set_to_tw_2", IFC_set_to_tw_2},
    {"IFC_set_to_tw_3", IFC_set_to_tw_3},
    {"IFC_set_to_tw_4", IFC_set_to_tw_4},
    {"IFC_set_to_tw_5", IFC_set_to_tw_5},
    {"IFC_set_to_tw_6", IFC_set_to_tw_6},
    {"IFC_set_on_off_1", IFC_set_on_off_1},
    {"IFC_set_on_off_2", IFC_set_on_off_2},
    {"IFC_set_on_off_3", IFC_set_on_off_3},
    {"IFC_set_on_off_4", IFC_set_on_off_4},
    {"IFC_set_on_off_5", IFC_set_on_off_5},
    {"IFC_set_on_off_6", IFC_set_on_off_6},
    {"IFC_hst_select_item", IFC_hst_select_item},
    {"IFC_hst_clear", IFC_hst_clear},
    {"IFC_hst_set", IFC_hst_set},
    {"append_log", append_log},
};

static_assert(std::size(kGetRows) == 29);
static_assert(std::size(kPutRows) == 19);

// Compares table rows with the expected list, row by row, and requires the
// null end row right behind them. stored_name gives what a row's name must
// hold for an expected name.
template <typename Handler, std::size_t N, typename StoredName>
void expect_table(const command_entry<Handler> *table,
                  const expected_row<Handler> (&want)[N], StoredName stored_name) {
  for (std::size_t i = 0; i < N; ++i) {
    const std::string row = "row " + std::to_string(i + 1) + " " + want[i].name;
    ASSERT_NE(table[i].name, nullptr) << row << ": the table ends early";
    EXPECT_EQ(std::string(table[i].name), stored_name(want[i].name)) << row;
    EXPECT_EQ(table[i].handler, want[i].handler) << row;
  }
  EXPECT_EQ(table[N].name, nullptr) << "end row";
  EXPECT_EQ(table[N].handler, nullptr) << "end row";
}

TEST(CommandTables, GetRowsInOrderWithNamesFilledByTwentyBlanks) {
  expect_table(get_commands, kGetRows, [](const char *name) {
    return std::string(name) + "                    ";
  });
}

TEST(CommandTables, PutRowsInOrderWithNamesAsTheyAre) {
  expect_table(put_commands, kPutRows,
               [](const char *name) { return std::string(name); });
}

}  // namespace
