// Outside Windows there are no packages to ask and no code to hook: only the symbol table counts.
#include "../EmberLibraryData.h"

uintptr_t LocateRuntimeSymbol(uint8_t number, const std::string&, const std::string&, void* replacement) {
  return replacement ? 0 : GetSymbolAddress(number);
}
