// The names the built module exports are exactly those of the export list.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "tests/test_support.h"

namespace {

std::set<std::string> exportList() {
  std::set<std::string> names;
  std::ifstream in(ORU_EXPORT_LIST_FILE);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    names.insert(line);
  }
  return names;
}

// Names that AddressSanitizer adds next to every exported variable of an
// instrumented build: they belong to the sanitizer, not to the module.
bool addedBySanitizer(const std::string& name) {
  return name.rfind("__odr_asan.", 0) == 0;
}

// Defined names in the dynamic symbol table of an ELF file.
std::set<std::string> dynamicSymbols(const std::string& file) {
  int code = 0;
  std::string out =
      oru_test::commandOutput("nm -D --defined-only --format=posix '" + file + "'", &code);
  EXPECT_EQ(code, 0) << "nm failed on " << file;
  std::set<std::string> names;
  std::istringstream lines(out);
  std::string name, type;
  while (lines >> name >> type) {
    std::string rest;
    std::getline(lines, rest);
    if (!addedBySanitizer(name)) names.insert(name);
  }
  return names;
}

TEST(Exports, ModuleExportsExactlyTheList) {
  std::set<std::string> expected = exportList();
  ASSERT_FALSE(expected.empty());
  std::set<std::string> actual = dynamicSymbols(oru_test::moduleFile());
  for (const auto& name : expected) EXPECT_TRUE(actual.count(name)) << "not exported: " << name;
  for (const auto& name : actual)
    EXPECT_TRUE(expected.count(name)) << "exported, not listed: " << name;
}

}  // namespace
