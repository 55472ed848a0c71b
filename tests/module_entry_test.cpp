// The module as the host finds it: descriptor, server table, activation.
#include <gtest/gtest.h>

#include <cstring>

#include "runner/host/host_error.h"
#include "runner/host/loaded_module.h"
#include "tests/test_support.h"

namespace {

using oru_runner::LoadedModule;

void* lookupA(const char*, int) {
  return nullptr;
}
void* lookupB(const char*, int) {
  return nullptr;
}

class ModuleEntry : public ::testing::Test {
 protected:
  LoadedModule module{oru_test::moduleFile()};

  GlobalFunc globalFunc() const {
    return *static_cast<GlobalFunc*>(module.library().symbol("global_func"));
  }
  ActivateFunc activator(const char* className) const {
    const ServerRecord* row = module.findServer(className);
    return row ? row->activateFunc : nullptr;
  }
};

TEST_F(ModuleEntry, DescriptorNamesHooksAndServerTable) {
  const ModuleDescriptor& d = module.descriptor();
  EXPECT_EQ(d.magic, 0x04121994u);
  EXPECT_EQ(d.layoutVersion, 3u);
  EXPECT_EQ(d.machineCode, 0x300u);
  EXPECT_EQ(reinterpret_cast<void*>(d.startupHook), module.library().symbol("Startup"));
  EXPECT_EQ(reinterpret_cast<void*>(d.shutdownHook), module.library().symbol("Shutdown"));
  EXPECT_EQ(d.serverTable, module.library().symbol("ServerDesc"));
  EXPECT_EQ(module.startupResult(), 4);

  const ServerRecord* rows = d.serverTable;
  EXPECT_STREQ(rows[0].className, "ImageFilterHandler");
  EXPECT_STREQ(rows[1].className, "ImageFilterInterface");
  EXPECT_STREQ(rows[0].serverName, "Oru");
  EXPECT_EQ(rows[0].serverName, rows[1].serverName) << "both rows share one text";
  for (int i = 0; i < 2; ++i) {
    EXPECT_NE(rows[i].activateFunc, nullptr);
    EXPECT_EQ(rows[i].word3, nullptr);
  }
  EXPECT_EQ(rows[2].className, nullptr);
  EXPECT_EQ(rows[2].serverName, nullptr);
  EXPECT_EQ(rows[2].activateFunc, nullptr);
  EXPECT_EQ(rows[2].word3, nullptr);

  auto userNames = static_cast<const void* const*>(module.library().symbol("UserNames"));
  ASSERT_NE(userNames, nullptr);
  EXPECT_EQ(userNames[0], nullptr);
  EXPECT_EQ(userNames[1], nullptr);
}

TEST_F(ModuleEntry, WrongVersionsAreRefusedWithoutWriting) {
  for (const char* server : {"ImageFilterHandler", "ImageFilterInterface"}) {
    for (int version : {3, 5, 0, -4}) {
      // A record of recognisable words: nothing may change.
      void* words[16];
      for (auto& w : words) w = reinterpret_cast<void*>(0x5a5a);
      InstanceCallbacks callbacks;
      std::memset(&callbacks, 0x5a, sizeof callbacks);
      words[0] = &callbacks;
      void* before[16];
      std::memcpy(before, words, sizeof words);
      InstanceCallbacks callbacksBefore = callbacks;

      GlobalFunc kept = globalFunc();
      EXPECT_EQ(activator(server)(version, lookupA, words), 1) << server << " " << version;
      EXPECT_EQ(std::memcmp(before, words, sizeof words), 0) << server << " " << version;
      EXPECT_EQ(std::memcmp(&callbacksBefore, &callbacks, sizeof callbacks), 0);
      EXPECT_EQ(globalFunc(), kept);
    }
  }
}

TEST_F(ModuleEntry, HandlerFillsCallbacksAndKeepsHostWords) {
  InstanceCallbacks callbacks{};
  callbacks.hostWord0 = reinterpret_cast<void*>(0x1234);
  ItemCallbacks items{};
  HandlerRecord record{&callbacks, &items, nullptr, nullptr};
  ASSERT_EQ(activator("ImageFilterHandler")(4, lookupA, &record), 0);
  EXPECT_EQ(callbacks.hostWord0, reinterpret_cast<void*>(0x1234));
  EXPECT_NE(callbacks.createFunc, nullptr);
  EXPECT_NE(callbacks.destroyFunc, nullptr);
  EXPECT_NE(callbacks.copyFunc, nullptr);
  EXPECT_NE(callbacks.loadFunc, nullptr);
  EXPECT_NE(callbacks.saveFunc, nullptr);
  EXPECT_NE(callbacks.describeFunc, nullptr);
  ASSERT_NE(items.useItemsFunc, nullptr);
  ASSERT_NE(items.changeIdFunc, nullptr);
  ASSERT_NE(record.processFunc, nullptr);
  ASSERT_NE(record.flagsFunc, nullptr);
  EXPECT_EQ(record.instanceCallbacks, &callbacks);
  EXPECT_EQ(record.itemCallbacks, &items);
  EXPECT_EQ(globalFunc(), lookupA);

  // The small callbacks: no items, no flags, nothing to change.
  EXPECT_EQ(items.useItemsFunc(nullptr), 0);
  items.changeIdFunc(nullptr, nullptr);
  EXPECT_EQ(record.flagsFunc(nullptr), 0u);
  // None of the callbacks is exported: the host reaches them only through the records.
  EXPECT_EQ(module.library().symbol("OruCreate"), nullptr);
  EXPECT_EQ(module.library().symbol("OruHandler"), nullptr);
}

TEST_F(ModuleEntry, HandlerWithoutItemCallbacksStillActivates) {
  InstanceCallbacks callbacks{};
  HandlerRecord record{&callbacks, nullptr, nullptr, nullptr};
  ASSERT_EQ(activator("ImageFilterHandler")(4, lookupB, &record), 0);
  EXPECT_NE(callbacks.createFunc, nullptr);
  EXPECT_EQ(record.itemCallbacks, nullptr);
  EXPECT_NE(record.processFunc, nullptr);
  EXPECT_NE(record.flagsFunc, nullptr);
}

TEST_F(ModuleEntry, EachHandlerActivationReplacesTheLookupAndInterfaceNeverDoes) {
  InstanceCallbacks callbacks{};
  HandlerRecord record{&callbacks, nullptr, nullptr, nullptr};
  ASSERT_EQ(activator("ImageFilterHandler")(4, lookupA, &record), 0);
  EXPECT_EQ(globalFunc(), lookupA);
  ASSERT_EQ(activator("ImageFilterHandler")(4, lookupB, &record), 0);
  EXPECT_EQ(globalFunc(), lookupB);

  InterfaceRecord ui{};
  ui.hostWord0 = reinterpret_cast<void*>(0x77);
  ui.word1 = reinterpret_cast<void*>(0x1);
  ui.word3 = reinterpret_cast<void*>(0x3);
  ASSERT_EQ(activator("ImageFilterInterface")(4, lookupA, &ui), 0);
  EXPECT_EQ(globalFunc(), lookupB);
  EXPECT_EQ(ui.hostWord0, reinterpret_cast<void*>(0x77));
  EXPECT_EQ(ui.word1, nullptr);
  EXPECT_NE(ui.optionsFunc, nullptr);
  EXPECT_EQ(ui.word3, nullptr);
}

}  // namespace
