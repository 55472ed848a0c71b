// The runner's view of the saved settings: the numbers in a block, the
// dialog's ranges, the target names of the command line.
#include "runner/host/filter_settings.h"

#include <gtest/gtest.h>

namespace {

using oru_runner::blockFromSettings;
using oru_runner::FilterSettings;
using oru_runner::settingsBlockFromText;
using oru_runner::settingsFromBlock;
using oru_runner::settingsProblem;
using oru_runner::settingsText;

TEST(FilterSettings, ReadsTheThreeNumbersOfABlock) {
  auto defaults = settingsFromBlock(settingsBlockFromText("2 100 224"));
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->target, 2);
  EXPECT_EQ(defaults->strength, 100);
  EXPECT_EQ(defaults->threshold, 224);

  auto rgb = settingsFromBlock(settingsBlockFromText("0 50 128"));
  ASSERT_TRUE(rgb);
  EXPECT_EQ(rgb->target, 0);
  EXPECT_EQ(rgb->strength, 50);
  EXPECT_EQ(rgb->threshold, 128);

  auto odd = settingsFromBlock(settingsBlockFromText("7 300 -5"));
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->threshold, -5);
}

TEST(FilterSettings, RefusesBlocksWithoutThreeIntegers) {
  EXPECT_FALSE(settingsFromBlock(settingsBlockFromText("")));
  EXPECT_FALSE(settingsFromBlock(settingsBlockFromText("2 100")));
  EXPECT_FALSE(settingsFromBlock(settingsBlockFromText("rgba 100 224")));
  EXPECT_FALSE(settingsFromBlock(settingsBlockFromText("2 100 99999999999")));
}

TEST(FilterSettings, WritesTheModulesFormat) {
  EXPECT_EQ(settingsText(blockFromSettings(FilterSettings{1, 40, 200})), "1 40 200");
  EXPECT_EQ(settingsText(blockFromSettings(FilterSettings{0, -3, 7})), "0 -3 7");
}

TEST(FilterSettings, RangesOfTheDialog) {
  EXPECT_EQ(settingsProblem(FilterSettings{0, 0, 0}), "");
  EXPECT_EQ(settingsProblem(FilterSettings{2, 100, 255}), "");
  EXPECT_NE(settingsProblem(FilterSettings{3, 100, 224}).find("target 3"), std::string::npos);
  EXPECT_NE(settingsProblem(FilterSettings{2, 101, 224}).find("strength 101"), std::string::npos);
  EXPECT_NE(settingsProblem(FilterSettings{2, 100, 256}).find("threshold 256"), std::string::npos);
  std::string all = settingsProblem(FilterSettings{-1, -1, -1});
  EXPECT_NE(all.find("target"), std::string::npos);
  EXPECT_NE(all.find("strength"), std::string::npos);
  EXPECT_NE(all.find("threshold"), std::string::npos);
}

TEST(FilterSettings, TargetNames) {
  EXPECT_EQ(oru_runner::targetFromName("rgb"), 0);
  EXPECT_EQ(oru_runner::targetFromName("Alpha"), 1);
  EXPECT_EQ(oru_runner::targetFromName("RGBA"), 2);
  EXPECT_EQ(oru_runner::targetFromName("rgbx"), -1);
  EXPECT_EQ(oru_runner::targetName(1), "alpha");
  EXPECT_EQ(oru_runner::targetName(9), "9");
}

}  // namespace
