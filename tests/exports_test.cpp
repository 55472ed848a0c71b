// The names the built module exports are exactly those of the export list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

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

// ---- The 32-bit Windows build ---------------------------------------------------

// What objdump -p prints about a PE file.
std::string peHeaders(const oru_test::WindowsBuild& windows) {
  int code = 0;
  std::string out =
      oru_test::commandOutput("'" + windows.objdump + "' -p -f '" + windows.module + "'", &code);
  EXPECT_EQ(code, 0) << "objdump failed on " << windows.module;
  return out;
}

// The names of the export table: the lines "\t[   n] name" that follow
// "[Ordinal/Name Pointer] Table", up to the next empty line.
std::set<std::string> peExports(const std::string& headers) {
  std::set<std::string> names;
  std::istringstream lines(headers);
  std::string line;
  bool inTable = false;
  while (std::getline(lines, line)) {
    if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
      inTable = true;
      continue;
    }
    if (!inTable) continue;
    if (line.find_first_not_of(" \t\r") == std::string::npos) break;
    std::size_t close = line.find(']');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    std::string name;
    rest >> name;
    names.insert(name);
  }
  return names;
}

// The DLLs of the import table, lower case.
std::set<std::string> peImports(const std::string& headers) {
  std::set<std::string> dlls;
  std::istringstream lines(headers);
  std::string line;
  const std::string key = "DLL Name:";
  while (std::getline(lines, line)) {
    std::size_t at = line.find(key);
    if (at == std::string::npos) continue;
    std::istringstream rest(line.substr(at + key.size()));
    std::string name;
    rest >> name;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    dlls.insert(name);
  }
  return dlls;
}

#define ORU_NEED_WINDOWS_MODULE(windows)                                                  \
  ORU_NEED_WINDOWS(!(windows).module.empty() && !(windows).objdump.empty(),               \
                   "no i686-w64-mingw32 cross compiler: the Windows module is not built " \
                   "(scripts/install-deps installs g++-mingw-w64-i686)")

TEST(WindowsModule, Is32BitDllExportingExactlyTheListUndecorated) {
  oru_test::WindowsBuild windows;
  ORU_NEED_WINDOWS_MODULE(windows);
  std::string headers = peHeaders(windows);
  EXPECT_NE(headers.find("file format pei-i386"), std::string::npos) << headers.substr(0, 400);

  // A decorated name (_Startup, smooth@12) would show up as an extra and a missing one.
  std::set<std::string> expected = exportList();
  std::set<std::string> actual = peExports(headers);
  ASSERT_FALSE(actual.empty()) << "no export table in " << windows.module;
  for (const auto& name : expected) EXPECT_TRUE(actual.count(name)) << "not exported: " << name;
  for (const auto& name : actual)
    EXPECT_TRUE(expected.count(name)) << "exported, not listed: " << name;
}

TEST(WindowsModule, ImportsOnlyKernel32AndTheCRuntime) {
  oru_test::WindowsBuild windows;
  ORU_NEED_WINDOWS_MODULE(windows);
  std::set<std::string> dlls = peImports(peHeaders(windows));
  EXPECT_TRUE(dlls.count("kernel32.dll"));
  for (const auto& dll : dlls) {
    EXPECT_TRUE(dll == "kernel32.dll" || dll == "msvcrt.dll")
        << "imports " << dll << ": a plain Windows may not have it";
  }
}

// A hexadecimal field of objdump -p, as "AddressOfEntryPoint\t00001630".
unsigned long long peField(const std::string& headers, const std::string& field) {
  std::size_t at = headers.find("\n" + field);
  if (at == std::string::npos) return 0;
  std::istringstream rest(headers.substr(at + field.size() + 1));
  unsigned long long value = 0;
  rest >> std::hex >> value;
  return value;
}

// The instructions at an address, padding left out, as "mov $0x1,%eax".
std::vector<std::string> instructionsAt(const oru_test::WindowsBuild& windows,
                                        unsigned long long address) {
  char range[96];
  std::snprintf(range, sizeof range, "--start-address=0x%llx --stop-address=0x%llx", address,
                address + 16);
  std::string out = oru_test::commandOutput("'" + windows.objdump + "' -d --no-show-raw-insn " +
                                            range + " '" + windows.module + "'");
  std::vector<std::string> instructions;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t tab = line.find(":\t");
    if (tab == std::string::npos) continue;
    std::istringstream words(line.substr(tab + 2));
    std::string word, text;
    while (words >> word) text += (text.empty() ? "" : " ") + word;
    if (text != "nop" && text.rfind("lea ", 0) != 0 && text.rfind("xchg %ax", 0) != 0) {
      instructions.push_back(text);
    }
  }
  return instructions;
}

TEST(WindowsModule, EntryPointOnlyReturnsOne) {
  oru_test::WindowsBuild windows;
  ORU_NEED_WINDOWS_MODULE(windows);
  std::string headers = peHeaders(windows);
  unsigned long long entry = peField(headers, "AddressOfEntryPoint");
  ASSERT_NE(entry, 0u) << "no entry point";
  std::vector<std::string> code = instructionsAt(windows, peField(headers, "ImageBase") + entry);
  ASSERT_GE(code.size(), 2u);
  // DllMain(instance, reason, reserved) is stdcall: it pops its 12 bytes.
  EXPECT_EQ(code[0], "mov $0x1,%eax");
  EXPECT_EQ(code[1], "ret $0xc");

  // No thread-local callbacks either: the loader would call them besides
  // the entry point, on every thread of the host.
  EXPECT_NE(headers.find("00000000 00000000 Thread Storage Directory"), std::string::npos)
      << "the module has a thread-local storage directory";
}

// The entry point runs no constructors: a static object that needs one would
// be left unmade. The list between __CTOR_LIST__ and __DTOR_LIST__ must hold
// only its two marker words.
TEST(WindowsModule, HasNoGlobalConstructors) {
  oru_test::WindowsBuild windows;
  ORU_NEED_WINDOWS_MODULE(windows);
  std::string nm = windows.objdump;
  nm.replace(nm.rfind("objdump"), 7, "nm");
  std::string out = oru_test::commandOutput("'" + nm + "' '" + windows.module + "'");
  unsigned long long ctors = 0, dtors = 0;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string address, type, name;
    words >> address >> type >> name;
    if (name == "__CTOR_LIST__") ctors = std::stoull(address, nullptr, 16);
    if (name == "__DTOR_LIST__") dtors = std::stoull(address, nullptr, 16);
    EXPECT_EQ(name.find("_GLOBAL__sub_I"), std::string::npos) << "a constructor: " << name;
  }
  ASSERT_NE(ctors, 0u) << "no constructor list in " << windows.module;
  EXPECT_EQ(dtors - ctors, 8u) << "the constructor list is not empty";
}

}  // namespace
