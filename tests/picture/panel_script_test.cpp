// Scripts of user actions, the panel's picture, and `oru dialog`.
#include "runner/panel/panel_script.h"

#include <filesystem>
#include <fstream>

#include "runner/host/host_error.h"
#include "runner/host/settings_block.h"
#include "runner/panel/panel_picture.h"
#include "tests/dialog_support.h"
#include "tests/test_support.h"

namespace oru_test {
namespace {

using oru_runner::HostError;
using oru_runner::parseScript;
using oru_runner::Script;

std::string parseError(const std::string& text) {
  try {
    parseScript(text, "walk.txt");
  } catch (const HostError& e) {
    return e.what();
  }
  return "";
}

TEST(PanelScript, ReadsEveryAction) {
  Script s = parseScript(
      "# comment\n\nview Alpha\nview 0\nzoom 2\nupdate\nauto on  # trailing\nauto off\n"
      "drag 1 2 -3 4\nenable off\ntarget RGBA\nthreshold 100\nstrength 50\nmove -5 7\nclose\n",
      "walk.txt");
  ASSERT_EQ(s.actions.size(), 13u);
  EXPECT_EQ(s.actions[0].kind, oru_runner::ScriptAction::View);
  EXPECT_EQ(s.actions[0].word, "Alpha");
  EXPECT_EQ(s.actions[0].line, 3);
  EXPECT_EQ(s.actions[1].word, "");
  EXPECT_EQ(s.actions[1].numbers[0], 0);
  EXPECT_EQ(s.actions[4].numbers[0], 1);
  EXPECT_EQ(s.actions[5].numbers[0], 0);
  EXPECT_EQ(s.actions[6].numbers, (std::array<int, 4>{1, 2, -3, 4}));
  EXPECT_EQ(s.actions[11].numbers[1], 7);
  EXPECT_EQ(s.actions[12].kind, oru_runner::ScriptAction::Close);
}

TEST(PanelScript, ErrorsNameTheFileTheLineAndTheProblem) {
  EXPECT_EQ(parseError("update\n\nwiggle 3\n"), "walk.txt: line 3: unknown action \"wiggle\"");
  EXPECT_EQ(parseError("zoom\n"), "walk.txt: line 1: expected \"zoom N\"");
  EXPECT_EQ(parseError("zoom 1 2\n"), "walk.txt: line 1: expected \"zoom N\"");
  EXPECT_EQ(parseError("update\nzoom two\n"),
            "walk.txt: line 2: \"two\" is not a whole number (zoom N)");
  EXPECT_EQ(parseError("threshold 99999999999\n"),
            "walk.txt: line 1: \"99999999999\" is not a whole number (threshold N)");
  EXPECT_EQ(parseError("auto yes\n"), "walk.txt: line 1: expected on or off, not \"yes\"");
  EXPECT_EQ(parseError("drag 1 2 3\n"), "walk.txt: line 1: expected \"drag X1 Y1 X2 Y2\"");
  EXPECT_EQ(parseError("close\nupdate\n"), "walk.txt: line 2: \"update\" after close");
  EXPECT_EQ(parseError("update 1\n"), "walk.txt: line 1: expected \"update\"");
}

TEST(PanelScript, AMissingFileIsNamed) {
  try {
    oru_runner::readScriptFile("/no/such/walk.txt");
    FAIL();
  } catch (const HostError& e) {
    EXPECT_NE(std::string(e.what()).find("/no/such/walk.txt: no such file"),
              std::string::npos);
  }
}

class ScriptedDialogTest : public DialogTest {
 protected:
  std::string play(const std::string& text) {
    Script script = parseScript(text, "walk.txt");
    std::string problem;
    backend.setPlayer([&](PanelHost& h, PanelModel& panel) {
      problem = oru_runner::playScript(h, panel, script);
      EXPECT_FALSE(panel.running);
      picture = oru_runner::renderPanelPicture(panel);
    });
    EXPECT_EQ(OruOptions(inst), nullptr);
    return problem;
  }
  oru_runner::Picture picture;
};

TEST_F(ScriptedDialogTest, PlaysUserActionsIntoTheModule) {
  giveFrame(1000, 800, where);
  EXPECT_EQ(play("auto on\nview alpha\nzoom 1\ndrag 100 100 40 70\nenable off\ntarget Alpha\n"
                 "threshold 100\nstrength 25\nmove 30 40\n"),
            "");
  EXPECT_EQ(inst->autoUpdate, 1);
  EXPECT_EQ(inst->previewChannel, 1);
  EXPECT_EQ(inst->zoom, 1);
  EXPECT_EQ(inst->viewX, 60);
  EXPECT_EQ(inst->viewY, 30);
  EXPECT_EQ(inst->enable, 0);
  EXPECT_EQ(inst->target, 1);
  EXPECT_EQ(inst->threshold, 100);
  EXPECT_EQ(inst->strength, 25);
  EXPECT_EQ(inst->refreshPreview, 1) << "Strength with Auto on";
  EXPECT_EQ(inst->panelX, 30);
  EXPECT_EQ(inst->panelY, 40);
}

TEST_F(ScriptedDialogTest, ActionsThePanelCannotTakeNameTheirLineAndClose) {
  EXPECT_EQ(play("update\nzoom 5\nupdate\n"), "line 2: zoom 5 is outside 0 to 3");
  EXPECT_EQ(play("view Blue\n"), "line 1: the view popup offers RGB, Alpha");
  EXPECT_EQ(play("target 3\n"), "line 1: Target offers RGB, Alpha, RGBA");
  EXPECT_EQ(play("threshold 256\n"), "line 1: Threshold 256 is outside 0 to 255");
  EXPECT_EQ(play("strength -1\n"), "line 1: Strength -1 is outside 0 to 100");
  EXPECT_EQ(inst->zoom, 0);
  EXPECT_EQ(inst->strength, 100);
}

TEST_F(ScriptedDialogTest, PictureShowsTheCanvasAsTheModulePaintedIt) {
  giveFrame(320, 240, where);
  EXPECT_EQ(play("update\n"), "");
  ASSERT_EQ(picture.width, 324);
  ASSERT_EQ(picture.height, 370);
  ASSERT_EQ(picture.rgb.size(), 324u * 370u * 3u);
  const auto* raster = host.lastRaster();
  for (int y = 0; y < 240; y += 7) {
    for (int x = 0; x < 320; x += 5) {
      ASSERT_EQ(0, std::memcmp(&picture.rgb[((128 + y) * 324 + 4 + x) * 3],
                               &raster->rgb[(y * 320 + x) * 3], 3))
          << x << "," << y;
    }
  }
  // The controls are drawn with their values: Auto on changes its box.
  oru_runner::Picture autoOff = picture;
  play("auto on\n");
  int differing = 0;
  for (int y = 102; y < 126; ++y) {
    for (int x = 0; x < 324; ++x) {
      differing +=
          std::memcmp(&picture.rgb[(y * 324 + x) * 3], &autoOff.rgb[(y * 324 + x) * 3], 3) != 0;
    }
  }
  EXPECT_GT(differing, 10);
}

TEST_F(ScriptedDialogTest, ARecordedSessionPlaysBackToTheSameState) {
  giveFrame(900, 700, where);
  std::string recorded;
  {
    oru_runner::ScriptRecorder recorder(host);
    // A user drags past the frame's edge and back: each report counts.
    EXPECT_EQ(play("zoom 1\ndrag 10 10 200 150\ndrag 200 150 -300 -100\nview Alpha\n"
                   "target RGB\nenable off\nthreshold 99\nauto on\nupdate\nmove 7 8\n"),
              "");
    recorded = recorder.text();
  }
  EXPECT_NE(recorded.find("zoom 1\n"), std::string::npos);
  EXPECT_NE(recorded.find("view Alpha\ntarget RGB\nenable off\nthreshold 99\nauto on\n"
                          "update\nmove 7 8\nclose\n"),
            std::string::npos)
      << recorded;
  const int viewX = inst->viewX, viewY = inst->viewY;
  const oru_runner::Picture first = picture;

  FilterInstance* again = OruCreate(nullptr);
  std::swap(inst, again);
  giveFrame(900, 700, where);
  EXPECT_EQ(play(recorded), "");
  EXPECT_EQ(inst->viewX, viewX);
  EXPECT_EQ(inst->viewY, viewY);
  EXPECT_EQ(inst->zoom, 1);
  EXPECT_EQ(inst->previewChannel, 1);
  EXPECT_EQ(inst->target, 0);
  EXPECT_EQ(inst->enable, 0);
  EXPECT_EQ(inst->threshold, 99);
  EXPECT_EQ(inst->panelX, 7);
  EXPECT_EQ(picture.rgb, first.rgb);
  std::swap(inst, again);
  OruDestroy(again);
}

TEST(PanelPicture, SavesAPngAndNamesAFolderThatIsMissing) {
  std::string dir = freshTempDir("picture");
  oru_runner::Picture p;
  p.width = 4;
  p.height = 2;
  p.rgb.assign(4 * 2 * 3, 0x80);
  oru_runner::savePicturePng(p, dir + "/shot.png");
  std::ifstream in(dir + "/shot.png", std::ios::binary);
  char magic[8] = {};
  in.read(magic, 8);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");
  EXPECT_THROW(oru_runner::savePicturePng(p, dir + "/none/shot.png"), HostError);
}

// ---- oru dialog -----------------------------------------------------------------

// A 2 x 2 grey frame: what the preview shows of it does not matter here.
void writeTinyFrame(const std::string& dir) {
  std::ofstream(dir + "/frame.ppm", std::ios::binary) << "P6\n2 2\n255\n"
                                                      << std::string(12, '\x40');
}

std::string oru(const std::string& args, int* code, const std::string& environment = "") {
  return commandOutput(environment + " '" + ORU_PROGRAM_FILE + "' " + args + " 2>&1", code);
}

TEST(DialogCommand, PlaysAScriptSavesTheSettingsAndAPicture) {
  std::string dir = freshTempDir("dialog_command");
  int code = 0;
  writeTinyFrame(dir);
  std::ofstream(dir + "/walk.txt") << "threshold 150\nstrength 30\ntarget RGB\n";
  std::string out =
      oru("dialog '" + dir + "/frame.ppm' --script '" + dir + "/walk.txt' --settings '" + dir +
              "/oru.set' --screenshot '" + dir + "/shot.png'",
          &code);
  EXPECT_EQ(code, 0) << out;
  EXPECT_EQ(oru_runner::settingsText(oru_runner::readSettingsFile(dir + "/oru.set")), "0 30 150");
  EXPECT_TRUE(std::filesystem::exists(dir + "/shot.png"));

  // The saved block is loaded first next time.
  std::ofstream(dir + "/walk.txt", std::ios::trunc) << "strength 31\n";
  out = oru("dialog '" + dir + "/frame.ppm' --script '" + dir + "/walk.txt' --settings '" + dir +
                "/oru.set'",
            &code);
  EXPECT_EQ(code, 0) << out;
  EXPECT_EQ(oru_runner::settingsText(oru_runner::readSettingsFile(dir + "/oru.set")), "0 31 150");
}

TEST(DialogCommand, BadInputIsNamedAndNothingIsSaved) {
  std::string dir = freshTempDir("dialog_command_bad");
  int code = 0;
  writeTinyFrame(dir);
  std::ofstream(dir + "/walk.txt") << "strength 30\nfly away\n";
  std::string out = oru("dialog '" + dir + "/frame.ppm' --script '" + dir +
                            "/walk.txt' --settings '" + dir + "/oru.set'",
                        &code);
  EXPECT_NE(code, 0);
  EXPECT_NE(out.find("walk.txt: line 2: unknown action \"fly\""), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir + "/oru.set"));

  out = oru("dialog '" + dir + "/missing.png'", &code);
  EXPECT_NE(code, 0);
  EXPECT_NE(out.find("missing.png: no such file"), std::string::npos) << out;

  std::ofstream(dir + "/walk.txt", std::ios::trunc) << "zoom 9\n";
  out = oru("dialog '" + dir + "/frame.ppm' --script '" + dir + "/walk.txt' --settings '" + dir +
                "/oru.set'",
            &code);
  EXPECT_NE(code, 0);
  EXPECT_NE(out.find("walk.txt: line 1: zoom 9 is outside 0 to 3"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir + "/oru.set"));

  // A named display that does not answer is not taken as no display at all.
  out = oru("dialog '" + dir + "/frame.ppm' --settings '" + dir + "/oru.set'", &code,
            "DISPLAY=:9973");
  EXPECT_NE(code, 0);
  EXPECT_NE(out.find("display :9973: cannot open the display"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir + "/oru.set"));
}

TEST(DialogCommand, TheDialogsFailureMessageIsPrintedAndFails) {
  std::string dir = freshTempDir("dialog_command_failure");
  int code = 0;
  writeTinyFrame(dir);
  const std::pair<const char*, const char*> cases[] = {
      {"LWPanelServices", "Could not access Panels global!"},
      {"LWXPanel", "Could not create requester panel!"}};
  for (const auto& [service, message] : cases) {
    std::string out = oru("dialog '" + dir + "/frame.ppm' --headless --withdraw " + service +
                              " --settings '" + dir + "/oru.set'",
                          &code);
    EXPECT_EQ(code, 1) << out;
    EXPECT_NE(out.find(std::string("the options dialog failed: ") + message), std::string::npos)
        << out;
    EXPECT_FALSE(std::filesystem::exists(dir + "/oru.set"));
  }
}

}  // namespace
}  // namespace oru_test
