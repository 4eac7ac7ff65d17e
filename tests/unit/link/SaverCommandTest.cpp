// The screen-saver command's exact bytes.
#include "display/SaverCommand.h"

#include <gtest/gtest.h>

namespace {

struct SaverRow {
    const char* name;
    bool on;
    SaverCommand expected;
};

std::ostream& operator<<(std::ostream& out, const SaverRow& row) {
    return out << row.name;
}

class SaverBytes : public ::testing::TestWithParam<SaverRow> {};

TEST_P(SaverBytes, AreExactlyTheFourCommandBytes) {
    EXPECT_EQ(makeSaverCommand(GetParam().on), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(States, SaverBytes,
                         ::testing::Values(SaverRow{"on_ends_in_01", true, {0x1B, 0x27, 0x0A, 0x01}},
                                           SaverRow{"off_ends_in_00", false, {0x1B, 0x27, 0x0A, 0x00}}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
