// Server activation: the host hands over a record and the module fills it
// with its callbacks.
#include "filter/oru.h"

const char oruName[] = "Oru";

extern "C" {

GlobalFunc global_func = nullptr;

int OruHandler(int version, GlobalFunc lookup, void* record) {
  if (version != kHostApiVersion) return 1;

  HandlerRecord* handler = static_cast<HandlerRecord*>(record);
  InstanceCallbacks* callbacks = handler->instanceCallbacks;
  callbacks->createFunc = OruCreate;
  callbacks->destroyFunc = OruDestroy;
  callbacks->loadFunc = OruLoad;
  callbacks->saveFunc = OruSave;
  callbacks->copyFunc = OruCopy;
  callbacks->describeFunc = OruDescribe;

  if (handler->itemCallbacks) {
    handler->itemCallbacks->useItemsFunc = OruUseItems;
    handler->itemCallbacks->changeIdFunc = OruChangeID;
  }

  handler->processFunc = OruProcess;
  handler->flagsFunc = OruFlags;

  global_func = lookup;
  return 0;
}

int OruInterface(int version, GlobalFunc /*lookup*/, void* record) {
  if (version != kHostApiVersion) return 1;

  InterfaceRecord* ui = static_cast<InterfaceRecord*>(record);
  ui->word1 = nullptr;
  ui->optionsFunc = OruOptions;
  ui->word3 = nullptr;
  return 0;
}

}  // extern "C"
