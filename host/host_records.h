// The host's records at the plug-in boundary, as the module uses them.
//
// Every record is an array of pointer-sized words owned by the host; word
// numbers count from 0. The declarations below keep that word order on every
// build (4-byte words on 32-bit Windows, 8-byte words on a 64-bit build), and
// the static_asserts at the end pin each named word to its offset.
//
// Every callback, in both directions, uses the platform's default C calling
// convention (cdecl on 32-bit x86).
#pragma once

#include <cstddef>
#include <cstdint>

// The module's filter instance. The host only ever holds it as an opaque
// pointer; the module defines it (filter/oru.h).
struct FilterInstance;

// A word that carries an int: the int sits at the start of the word.
#define HOST_INT_WORD alignas(sizeof(void*)) int

extern "C" {

// The host's global lookup: lookup(serviceName, 0) gives the service's
// function table, or null when the host does not offer it.
typedef void* (*GlobalFunc)(const char* serviceName, int useMode);

// activate(version, lookup, record): 0 on success, 1 for an unsupported version.
typedef int (*ActivateFunc)(int version, GlobalFunc lookup, void* record);

// ---- Instance callbacks ------------------------------------------------------

struct LoadState;
struct SaveState;
struct FilterAccess;

typedef FilterInstance* (*CreateFunc)(void* context);
typedef void (*DestroyFunc)(FilterInstance* instance);
typedef int (*CopyFunc)(FilterInstance* from, FilterInstance* to);
typedef int (*LoadFunc)(FilterInstance* instance, const LoadState* state);
typedef int (*SaveFunc)(FilterInstance* instance, const SaveState* state);
typedef const char* (*DescribeFunc)(FilterInstance* instance);
typedef int (*UseItemsFunc)(FilterInstance* instance);
typedef void (*ChangeIdFunc)(FilterInstance* instance, void* idList);
typedef void (*ProcessFunc)(FilterInstance* instance, const FilterAccess* access);
typedef unsigned int (*FlagsFunc)(FilterInstance* instance);
typedef const char* (*OptionsFunc)(FilterInstance* instance);

struct InstanceCallbacks {
  void* hostWord0;  // 0: the host's own, never touched by the module
  CreateFunc createFunc;
  DestroyFunc destroyFunc;
  CopyFunc copyFunc;
  LoadFunc loadFunc;
  SaveFunc saveFunc;
  DescribeFunc describeFunc;
};

struct ItemCallbacks {
  UseItemsFunc useItemsFunc;
  ChangeIdFunc changeIdFunc;
};

// "ImageFilterHandler" activation record.
struct HandlerRecord {
  InstanceCallbacks* instanceCallbacks;
  ItemCallbacks* itemCallbacks;  // may be null: no item callbacks are offered
  ProcessFunc processFunc;
  FlagsFunc flagsFunc;
};

// "ImageFilterInterface" activation record.
struct InterfaceRecord {
  void* hostWord0;  // 0: the host's own, never touched by the module
  void* word1;      // set to null by the module
  OptionsFunc optionsFunc;
  void* word3;  // set to null by the module
};

// ---- One frame ----------------------------------------------------------------

enum LineType {
  LINE_RED = 32,
  LINE_GREEN = 33,
  LINE_BLUE = 34,
  LINE_ALPHA = 35,
};

// fetchLine(lineType, y): row y of one channel, frameWidth floats, readable
// until the process call returns, always the unfiltered input.
typedef const float* (*FetchLineFunc)(int lineType, int y);
// storeColour(x, y, rgb): the three output samples R, G, B of pixel (x, y).
typedef void (*StoreColourFunc)(int x, int y, const float* rgb);
// storeAlpha(x, y, a): the output alpha of pixel (x, y).
typedef void (*StoreAlphaFunc)(int x, int y, float alpha);

struct FilterAccess {
  HOST_INT_WORD frameWidth;
  HOST_INT_WORD frameHeight;
  void* unused[6];  // words 2 to 7
  FetchLineFunc fetchLine;
  StoreColourFunc storeColour;
  StoreAlphaFunc storeAlpha;
};

// ---- Scene file blocks ------------------------------------------------------------

typedef int (*ReadBlockFunc)(void* readHandle, char* buffer, int length);
typedef int (*WriteBlockFunc)(void* writeHandle, const char* buffer, int length);

struct LoadState {
  void* unused;
  void* readHandle;
  ReadBlockFunc readBlock;
};

struct SaveState {
  void* unused;
  void* writeHandle;
  WriteBlockFunc writeBlock;
};

// ---- The module file ----------------------------------------------------------------

typedef int (*StartupFunc)(void);
typedef void (*ShutdownFunc)(void);

// One row of the server table; a row of four zero words ends the table.
struct ServerRecord {
  const char* className;
  const char* serverName;
  ActivateFunc activateFunc;
  void* word3;  // always 0
};

// The exported module descriptor, _mod_descrip.
struct ModuleDescriptor {
  std::uintptr_t magic;
  std::uintptr_t layoutVersion;
  std::uintptr_t machineCode;
  StartupFunc startupHook;
  ShutdownFunc shutdownHook;
  const ServerRecord* serverTable;
};

}  // extern "C"

constexpr std::uintptr_t kModuleMagic = 0x04121994;
constexpr std::uintptr_t kModuleLayoutVersion = 3;
constexpr std::uintptr_t kModuleMachineCode = 0x300;
constexpr int kHostApiVersion = 4;
constexpr int kSettingsBlockSize = 120;  // SETTINGS_BLOCK_SIZE

namespace host_layout {
constexpr std::size_t kWord = sizeof(void*);
static_assert(sizeof(void (*)()) == kWord, "function pointers must be one word");
static_assert(sizeof(std::uintptr_t) == kWord, "uintptr_t must be one word");
#if defined(_WIN32) && !defined(_WIN64)
static_assert(kWord == 4, "the 32-bit Windows host's words are 4 bytes");
#endif

#define HOST_WORD_AT(Record, field, word) \
  static_assert(offsetof(Record, field) == (word)*kWord, #Record "." #field " is not word " #word)

HOST_WORD_AT(InstanceCallbacks, hostWord0, 0);
HOST_WORD_AT(InstanceCallbacks, createFunc, 1);
HOST_WORD_AT(InstanceCallbacks, destroyFunc, 2);
HOST_WORD_AT(InstanceCallbacks, copyFunc, 3);
HOST_WORD_AT(InstanceCallbacks, loadFunc, 4);
HOST_WORD_AT(InstanceCallbacks, saveFunc, 5);
HOST_WORD_AT(InstanceCallbacks, describeFunc, 6);
static_assert(sizeof(InstanceCallbacks) == 7 * kWord, "InstanceCallbacks is 7 words");

HOST_WORD_AT(ItemCallbacks, useItemsFunc, 0);
HOST_WORD_AT(ItemCallbacks, changeIdFunc, 1);
static_assert(sizeof(ItemCallbacks) == 2 * kWord, "ItemCallbacks is 2 words");

HOST_WORD_AT(HandlerRecord, instanceCallbacks, 0);
HOST_WORD_AT(HandlerRecord, itemCallbacks, 1);
HOST_WORD_AT(HandlerRecord, processFunc, 2);
HOST_WORD_AT(HandlerRecord, flagsFunc, 3);
static_assert(sizeof(HandlerRecord) == 4 * kWord, "HandlerRecord is 4 words");

HOST_WORD_AT(InterfaceRecord, hostWord0, 0);
HOST_WORD_AT(InterfaceRecord, word1, 1);
HOST_WORD_AT(InterfaceRecord, optionsFunc, 2);
HOST_WORD_AT(InterfaceRecord, word3, 3);
static_assert(sizeof(InterfaceRecord) == 4 * kWord, "InterfaceRecord is 4 words");

HOST_WORD_AT(FilterAccess, frameWidth, 0);
HOST_WORD_AT(FilterAccess, frameHeight, 1);
HOST_WORD_AT(FilterAccess, unused, 2);
HOST_WORD_AT(FilterAccess, fetchLine, 8);
HOST_WORD_AT(FilterAccess, storeColour, 9);
HOST_WORD_AT(FilterAccess, storeAlpha, 10);
static_assert(sizeof(FilterAccess) == 11 * kWord, "FilterAccess is 11 words");

HOST_WORD_AT(LoadState, readHandle, 1);
HOST_WORD_AT(LoadState, readBlock, 2);
HOST_WORD_AT(SaveState, writeHandle, 1);
HOST_WORD_AT(SaveState, writeBlock, 2);

HOST_WORD_AT(ServerRecord, className, 0);
HOST_WORD_AT(ServerRecord, serverName, 1);
HOST_WORD_AT(ServerRecord, activateFunc, 2);
HOST_WORD_AT(ServerRecord, word3, 3);
static_assert(sizeof(ServerRecord) == 4 * kWord, "ServerRecord is 4 words");

HOST_WORD_AT(ModuleDescriptor, magic, 0);
HOST_WORD_AT(ModuleDescriptor, layoutVersion, 1);
HOST_WORD_AT(ModuleDescriptor, machineCode, 2);
HOST_WORD_AT(ModuleDescriptor, startupHook, 3);
HOST_WORD_AT(ModuleDescriptor, shutdownHook, 4);
HOST_WORD_AT(ModuleDescriptor, serverTable, 5);
static_assert(sizeof(ModuleDescriptor) == 6 * kWord, "ModuleDescriptor is 6 words");
}  // namespace host_layout
