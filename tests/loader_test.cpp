// The runner's loader and settings files: every way a module or a settings
// file can be wrong gives an error that names the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "runner/host/filter_instance.h"
#include "runner/host/host_error.h"
#include "runner/host/host_services.h"
#include "runner/host/loaded_module.h"
#include "runner/host/settings_block.h"
#include "tests/test_support.h"

namespace {

using oru_runner::HostError;
using oru_runner::LoadedModule;

using oru_test::errorOf;

#define EXPECT_ERROR(expr, file, words)                           \
  do {                                                            \
    std::string message = errorOf([&] { expr; });                 \
    EXPECT_NE(message.find(file), std::string::npos) << message;  \
    EXPECT_NE(message.find(words), std::string::npos) << message; \
  } while (0)

TEST(Loader, LoadsTheModuleAndActivatesBothServers) {
  LoadedModule module(oru_test::moduleFile());
  module.activateHandler(oru_runner::hostLookup);
  module.activateInterface(oru_runner::hostLookup);
  oru_runner::FilterHandle instance(module);
  EXPECT_EQ(instance.describe(), "Oru");
  EXPECT_EQ(oru_runner::settingsText(instance.save()), "2 100 224");
  instance.load(oru_runner::settingsBlockFromText("0 40 200"));
  EXPECT_EQ(oru_runner::settingsText(instance.save()), "0 40 200");
}

TEST(Loader, MissingFile) {
  EXPECT_ERROR(LoadedModule("/nonexistent/oru.p"), "/nonexistent/oru.p", "no such file");
}

TEST(Loader, NotALibrary) {
  std::string dir = oru_test::freshTempDir("loader_not_library");
  std::string path = dir + "/text.p";
  std::ofstream(path) << "this is not a shared library\n";
  EXPECT_ERROR(LoadedModule{path}, path, "not a loadable library");
  EXPECT_ERROR(LoadedModule{dir}, dir, "folder");
}

TEST(Loader, BrokenDescriptors) {
  std::string noDesc = oru_test::fixtureFile("no_descriptor");
  EXPECT_ERROR(LoadedModule{noDesc}, noDesc, "no _mod_descrip");
  std::string badMagic = oru_test::fixtureFile("bad_magic");
  EXPECT_ERROR(LoadedModule{badMagic}, badMagic, "magic 0x12345678");
  std::string badLayout = oru_test::fixtureFile("bad_layout");
  EXPECT_ERROR(LoadedModule{badLayout}, badLayout, "layout version 2");
}

TEST(Loader, MissingServerAndRefusedActivation) {
  std::string noHandler = oru_test::fixtureFile("no_handler");
  LoadedModule missing(noHandler);
  EXPECT_ERROR(missing.activateHandler(oru_runner::hostLookup), noHandler,
               "no \"ImageFilterHandler\" server");
  missing.activateInterface(oru_runner::hostLookup);
  EXPECT_TRUE(missing.interfaceActive());

  std::string refuses = oru_test::fixtureFile("refuses");
  LoadedModule refusing(refuses);
  EXPECT_ERROR(refusing.activateHandler(oru_runner::hostLookup), refuses, "refused activation");
  EXPECT_ERROR(refusing.activateInterface(oru_runner::hostLookup), refuses, "refused activation");
  EXPECT_FALSE(refusing.handlerActive());
}

TEST(SettingsFile, RoundTripAndErrors) {
  std::string dir = oru_test::freshTempDir("settings_file");
  std::string path = dir + "/scene.oru";
  oru_runner::SettingsBlock block = oru_runner::settingsBlockFromText("1 2 3");
  oru_runner::writeSettingsFile(path, block);
  EXPECT_EQ(std::filesystem::file_size(path), 120u);
  EXPECT_EQ(oru_runner::readSettingsFile(path), block);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);

  EXPECT_ERROR(oru_runner::readSettingsFile(dir + "/missing.oru"), "missing.oru",
               "no such file");
  std::string shortFile = dir + "/short.oru";
  std::ofstream(shortFile) << "2 100 224";
  EXPECT_ERROR(oru_runner::readSettingsFile(shortFile), shortFile, "holds 9 bytes");
  EXPECT_ERROR(oru_runner::writeSettingsFile(dir + "/no/such/folder/x.oru", block), "x.oru",
               "output folder does not exist");
}

}  // namespace
