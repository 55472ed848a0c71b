// The saved settings block: what OruSave writes and what OruLoad accepts.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "filter/oru.h"
#include "runner/host/settings_block.h"

namespace {

using oru_runner::BlockReader;
using oru_runner::BlockWriter;
using oru_runner::SettingsBlock;
using oru_runner::settingsBlockFromText;

class SettingsBlockTest : public ::testing::Test {
 protected:
  void SetUp() override { inst = OruCreate(nullptr); }
  void TearDown() override { OruDestroy(inst); }

  void load(const SettingsBlock& block) {
    BlockReader reader(block);
    EXPECT_EQ(OruLoad(inst, reader.state()), 0);
  }
  void loadText(const std::string& text) { load(settingsBlockFromText(text)); }
  void expectSettings(int target, int strength, int threshold) const {
    EXPECT_EQ(inst->target, target);
    EXPECT_EQ(inst->strength, strength);
    EXPECT_EQ(inst->threshold, threshold);
  }

  FilterInstance* inst = nullptr;
};

TEST_F(SettingsBlockTest, NewInstanceSavesItsDefaults) {
  BlockWriter writer;
  EXPECT_EQ(OruSave(inst, writer.state()), 0);
  EXPECT_EQ(writer.bytesWritten(), 120);
  SettingsBlock expected{};
  std::memcpy(expected.data(), "2 100 224", 9);  // then a zero byte and zero filler
  EXPECT_EQ(writer.block(), expected);
}

TEST_F(SettingsBlockTest, SavesNegativeAndExtremeValuesInFull) {
  inst->target = INT_MIN;
  inst->strength = -1;
  inst->threshold = INT_MAX;
  BlockWriter writer;
  OruSave(inst, writer.state());
  EXPECT_EQ(oru_runner::settingsText(writer.block()), "-2147483648 -1 2147483647");
  // And back: the longest text round-trips.
  FilterInstance* other = OruCreate(nullptr);
  BlockReader reader(writer.block());
  OruLoad(other, reader.state());
  EXPECT_EQ(other->target, INT_MIN);
  EXPECT_EQ(other->strength, -1);
  EXPECT_EQ(other->threshold, INT_MAX);
  OruDestroy(other);
}

TEST_F(SettingsBlockTest, LoadsTheThreeNumbersInOrder) {
  loadText("0 50 128");
  expectSettings(0, 50, 128);
}

TEST_F(SettingsBlockTest, OutOfRangeValuesAreStoredUnchanged) {
  loadText("7 300 -5");
  expectSettings(7, 300, -5);
}

TEST_F(SettingsBlockTest, ScanfWhiteSpaceAndSignsAreAccepted) {
  loadText("  1\t\n+75   -0 trailing words");
  expectSettings(1, 75, 0);
}

TEST_F(SettingsBlockTest, LoadingLeavesEverythingElseAlone) {
  inst->enable = 0;
  inst->workStrength = 11;
  inst->workThreshold = 12;
  inst->workMode = 3;
  inst->zoom = 2;
  loadText("1 10 20");
  EXPECT_EQ(inst->enable, 0);
  EXPECT_EQ(inst->workStrength, 11);
  EXPECT_EQ(inst->workThreshold, 12);
  EXPECT_EQ(inst->workMode, 3);
  EXPECT_EQ(inst->zoom, 2);
}

TEST_F(SettingsBlockTest, EnableIsNotSaved) {
  inst->enable = 0;
  BlockWriter writer;
  OruSave(inst, writer.state());
  FilterInstance* fresh = OruCreate(nullptr);
  BlockReader reader(writer.block());
  OruLoad(fresh, reader.state());
  EXPECT_EQ(fresh->enable, 1);
  OruDestroy(fresh);
}

TEST_F(SettingsBlockTest, FewerNumbersKeepTheFieldsNotParsed) {
  loadText("1 60");
  expectSettings(1, 60, 224);
  loadText("0");
  expectSettings(0, 60, 224);
  loadText("2,5,6");  // scanf stops at the comma after the first number
  expectSettings(2, 60, 224);
  loadText("x 1 2");
  expectSettings(2, 60, 224);
  loadText("- 3 4");
  expectSettings(2, 60, 224);
}

TEST_F(SettingsBlockTest, AnEmptyOrUndeliveredBlockChangesNothing) {
  loadText("");
  expectSettings(2, 100, 224);

  // A reader that delivers nothing at all.
  LoadState silent{nullptr, nullptr, [](void*, char*, int) { return 0; }};
  EXPECT_EQ(OruLoad(inst, &silent), 0);
  expectSettings(2, 100, 224);
}

TEST_F(SettingsBlockTest, NumbersOutsideTheIntRangeLeaveTheirFieldUnchanged) {
  loadText("2147483648 -2147483649 99999999999999999999999");
  expectSettings(2, 100, 224);
  // Parsing goes on after a number that does not fit.
  loadText("1 2147483648 5");
  expectSettings(1, 100, 5);
  loadText("2147483647 -2147483648 0");
  expectSettings(INT_MAX, INT_MIN, 0);
}

TEST_F(SettingsBlockTest, ABlockWithoutAZeroByteIsReadNoFurtherThanItsEnd) {
  // 120 bytes of text with no zero byte: "1 2 " then digits to the very end.
  SettingsBlock block;
  block.fill('7');
  std::memcpy(block.data(), "1 2 ", 4);
  block[117] = ' ';
  block[118] = '4';
  block[119] = '2';
  // The byte after the block, were it read, would change the third number.
  struct Reader {
    char bytes[200];
  } reader;
  std::memset(reader.bytes, '9', sizeof reader.bytes);
  std::memcpy(reader.bytes, block.data(), block.size());
  LoadState state{nullptr, &reader, [](void* handle, char* buffer, int length) {
                    std::memcpy(buffer, static_cast<Reader*>(handle)->bytes, length);
                    return length;
                  }};
  OruLoad(inst, &state);
  // The third number runs from byte 4 to byte 116: far too long for an int.
  expectSettings(1, 2, 224);

  // The same with a third number that fits and ends exactly at byte 120.
  std::memset(reader.bytes, ' ', 120);
  std::memcpy(reader.bytes, "0 1", 3);
  std::memcpy(reader.bytes + 117, "255", 3);
  reader.bytes[120] = '9';
  OruLoad(inst, &state);
  expectSettings(0, 1, 255);
}

}  // namespace
