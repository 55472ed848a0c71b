// The host's panel, raster and property-panel services, as the options
// dialog uses them.
//
// Like the records of host/host_records.h, every table and record here is an
// array of pointer-sized words counted from 0; the static_asserts at the end
// pin each named word to its offset. Words the module never uses are kept as
// placeholders so that the named ones land where the host has them. Handles
// (panels, rasters, property panels) are opaque.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_records.h"

extern "C" {

// ---- Records passed with controls -------------------------------------------------

// A word that holds an int, a pointer or an item list: which one depends on
// the record's type code and the word's number.
union HostWord {
  int value;
  void* pointer;
  const char* const* items;
};

// Type codes of a control description (word 0 of `desc`).
enum ControlDescType {
  DESC_TOGGLE = 8,   // no further words
  DESC_CHOICE = 9,   // word 1 the item list (ended by null); word 2 a popup's width
  DESC_RANGE = 15,   // word 1 width, word 2 minimum, word 3 maximum
  DESC_AREA = 19,    // word 1 width, word 2 height
  DESC_XPANEL = 20,  // word 3 the property panel
};

// The control description filled before each newControl. Words not written
// keep what they held before.
struct ControlDesc {
  HOST_INT_WORD type;
  HostWord word[3];  // words 1 to 3
};

// Type codes of a value record (word 0).
enum ValueType {
  VALUE_STRING = 1,
  VALUE_INT = 2,
  VALUE_FLOAT = 3,
  VALUE_IVEC = 5,
  VALUE_FVEC = 6,
};

// A value passed through readControlAttr / writeControlAttr: an int in word
// 1 (VALUE_INT; a handle such as the panel of code 17 fills the whole word),
// or three ints in words 1 to 3 (VALUE_IVEC).
struct ValueRecord {
  HOST_INT_WORD type;
  HostWord word[3];  // words 1 to 3
};

// ---- Panels ---------------------------------------------------------------------

struct PanelControl;

// event(control, user data): after a user change of the control.
typedef void (*ControlEventFunc)(PanelControl* control, void* userData);
// draw(control, user data, mode): the host asks the control to draw itself.
typedef void (*ControlDrawFunc)(PanelControl* control, void* userData, int mode);
// draw(panel, user data, mode): the panel's own draw callback.
typedef void (*PanelDrawFunc)(void* panel, void* userData, int mode);

// drawControl modes.
enum DrawMode {
  DRAW_HIDE = 0,
  DRAW_NORMAL = 1,
  DRAW_DISABLED = 2,
  DRAW_REFRESH = 3,  // redraw after a change
};

// Control attribute codes. 13, 14 and 16 take the pointer itself in place of
// a value record; the others go through a value record.
enum ControlAttr {
  CTL_X = 0,
  CTL_Y = 1,
  CTL_VALUE = 4,
  CTL_AREA_X = 5,  // the drawing area's position on the panel
  CTL_AREA_Y = 6,
  CTL_AREA_W = 7,  // the drawing area's size
  CTL_AREA_H = 8,
  CTL_DRAW_FUNC = 13,
  CTL_EVENT_FUNC = 14,
  CTL_USER_DATA = 16,
  CTL_PANEL = 17,
};

// Panel attribute codes. 0 to 3 take a pointer to an int; 7 and 12 the pointer itself.
enum PanelAttr {
  PAN_X = 0,
  PAN_Y = 1,
  PAN_W = 2,
  PAN_H = 3,
  PAN_DRAW_FUNC = 7,
  PAN_USER_DATA = 12,
};

// A control handle: the host's record begins with these three routines.
struct PanelControl {
  void (*drawControl)(PanelControl* control, int mode);
  void (*readControlAttr)(PanelControl* control, int code, void* value);
  void (*writeControlAttr)(PanelControl* control, int code, void* value);
};

// The display table of the panel services.
struct DisplayTable {
  void* unused[8];  // words 0 to 7
  // Two ints: the screen's width and height.
  const int* (*screenMetrics)(void);
};

struct PanelServicesTable {
  void* (*newPanel)(const char* title, PanelServicesTable* table);  // 0: a panel or null
  void (*freePanel)(void* panel);                                   // 1
  int (*runPanel)(void* panel, int mode);                           // 2: returns once closed
  void* unused3[3];                                                 // 3 to 5
  void (*readPanelAttr)(void* panel, int code, void* out);          // 6
  void (*writePanelAttr)(void* panel, int code, void* value);       // 7
  PanelControl* (*newControl)(void* panel, const char* typeName, ControlDesc* desc,
                              const char* label);  // 8
  void* unused9;                                   // 9
  DisplayTable* displayTable;                      // 10
};

// ---- Rasters --------------------------------------------------------------------------

struct RasterServicesTable {
  void* unused0[4];                                                                // 0 to 3
  void (*fillBox)(void* raster, int r, int g, int b, int x, int y, int w, int h);  // 4
  void* unused5[3];                                                                // 5 to 7
  void* (*newRaster)(int width, int height, int mode);                             // 8
  void (*freeRaster)(void* raster);                                                // 9
  void (*copyToPanel)(void* raster, int srcX, int srcY, void* panel, int x, int y, int w,
                      int h);  // 10
};

// ---- Property panels ----------------------------------------------------------------

// One row of a property panel's control list; a row of zeros ends it.
struct XPanelControlRow {
  HOST_INT_WORD id;
  const char* label;
  const char* controlClass;
};

// One row of a property panel's data description; a row of zeros ends it.
struct XPanelDataRow {
  HOST_INT_WORD id;
  const char* name;
  const char* dataType;
};

// change(xpanel, control id, value id, event): event XPANEL_EVENT_VALUE
// reports a new value.
typedef void (*XPanelChangeFunc)(void* xpanel, int controlId, int valueId, int event);
typedef void* (*XPanelGetFunc)(void* userData, int valueId);
typedef int (*XPanelSetFunc)(void* userData, int valueId, void* value);

constexpr int XPANEL_KIND_FORM = 2;  // the panel holds the values itself
constexpr int XPANEL_EVENT_VALUE = 2;

// Hint tags: each is followed by its argument words; a 0 word ends the hints.
constexpr std::uintptr_t XPHINT_CHOICE_ITEMS = 0x3d014503;  // id, item list, 0
constexpr std::uintptr_t XPHINT_INT_RANGE = 0x3d014304;     // id, minimum, maximum, step
constexpr std::uintptr_t XPHINT_ID_LIST = 0x3d021481;       // ids ended by 0
constexpr std::uintptr_t XPHINT_CHANGE_FUNC = 0x3d000f01;   // the change callback

struct XPanelServicesTable {
  void* unused0[2];                                                // 0, 1
  void* (*newXPanel)(int kind, const XPanelControlRow* controls);  // 2: a handle or null
  void (*freeXPanel)(void* xpanel);                                // 3
  void (*describeValues)(void* xpanel, const XPanelDataRow* data, XPanelGetFunc get,
                         XPanelSetFunc set);                              // 4
  void (*applyHints)(void* xpanel, int id, const std::uintptr_t* hints);  // 5
  void* (*readUserData)(void* xpanel, int id);                            // 6
  void (*writeUserData)(void* xpanel, int id, void* data);                // 7
  void* (*readFormValue)(void* xpanel, int id);                           // 8: the current value
  void (*writeFormValue)(void* xpanel, int id, void* value);              // 9
};

}  // extern "C"

namespace host_layout {

HOST_WORD_AT(ControlDesc, type, 0);
HOST_WORD_AT(ControlDesc, word, 1);
static_assert(sizeof(ControlDesc) == 4 * kWord, "ControlDesc is 4 words");
HOST_WORD_AT(ValueRecord, type, 0);
HOST_WORD_AT(ValueRecord, word, 1);
static_assert(sizeof(ValueRecord) == 4 * kWord, "ValueRecord is 4 words");
static_assert(sizeof(HostWord) == kWord, "HostWord is one word");

HOST_WORD_AT(PanelControl, drawControl, 0);
HOST_WORD_AT(PanelControl, readControlAttr, 1);
HOST_WORD_AT(PanelControl, writeControlAttr, 2);

HOST_WORD_AT(DisplayTable, screenMetrics, 8);

HOST_WORD_AT(PanelServicesTable, newPanel, 0);
HOST_WORD_AT(PanelServicesTable, freePanel, 1);
HOST_WORD_AT(PanelServicesTable, runPanel, 2);
HOST_WORD_AT(PanelServicesTable, readPanelAttr, 6);
HOST_WORD_AT(PanelServicesTable, writePanelAttr, 7);
HOST_WORD_AT(PanelServicesTable, newControl, 8);
HOST_WORD_AT(PanelServicesTable, displayTable, 10);
static_assert(sizeof(PanelServicesTable) == 11 * kWord, "PanelServicesTable is 11 words");

HOST_WORD_AT(RasterServicesTable, fillBox, 4);
HOST_WORD_AT(RasterServicesTable, newRaster, 8);
HOST_WORD_AT(RasterServicesTable, freeRaster, 9);
HOST_WORD_AT(RasterServicesTable, copyToPanel, 10);
static_assert(sizeof(RasterServicesTable) == 11 * kWord, "RasterServicesTable is 11 words");

HOST_WORD_AT(XPanelControlRow, id, 0);
HOST_WORD_AT(XPanelControlRow, label, 1);
HOST_WORD_AT(XPanelControlRow, controlClass, 2);
HOST_WORD_AT(XPanelDataRow, id, 0);
HOST_WORD_AT(XPanelDataRow, name, 1);
HOST_WORD_AT(XPanelDataRow, dataType, 2);

HOST_WORD_AT(XPanelServicesTable, newXPanel, 2);
HOST_WORD_AT(XPanelServicesTable, freeXPanel, 3);
HOST_WORD_AT(XPanelServicesTable, describeValues, 4);
HOST_WORD_AT(XPanelServicesTable, applyHints, 5);
HOST_WORD_AT(XPanelServicesTable, readUserData, 6);
HOST_WORD_AT(XPanelServicesTable, writeUserData, 7);
HOST_WORD_AT(XPanelServicesTable, readFormValue, 8);
HOST_WORD_AT(XPanelServicesTable, writeFormValue, 9);
static_assert(sizeof(XPanelServicesTable) == 10 * kWord, "XPanelServicesTable is 10 words");

}  // namespace host_layout
