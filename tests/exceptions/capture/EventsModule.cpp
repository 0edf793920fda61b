// A second module that carries the exception library: it reads the test program's options
// from their shared area and raises an event for an exception in the test program, which the
// program's own handlers receive through its exported entry.
#include <windows.h>

#include <cstdint>
#include <stdexcept>

#include "exceptions/EmberSharedMemory.h"
#include "exceptions/capture/EmberLogEvents.h"
#include "exceptions/capture/ExceptionLog.h"

extern "C" {

// Attaches the library to this module (never from DllMain: nothing runs under the loader lock).
void EventsModule_Start() { StartExceptionLog(); }
void EventsModule_Stop() { StopExceptionLog(); }

// The BehaviourOptions that `program` published; -1 when none are found.
int32_t EventsModule_ReadBehaviour(uintptr_t program) {
  try {
    TEmberModuleOptions options(std::string(), program);
    if (!LoadOptionsFromSharedMemory(options)) return -1;
    return options.BehaviourOptions();
  } catch (...) {
    return -1;
  }
}

// Raises the exception event for `object` at `address` (inside `program`); answers the
// continue flag the handlers left, or 2 when the program's entry was not found.
int32_t EventsModule_RaiseFor(uintptr_t program, const std::exception* object, uintptr_t address) {
  try {
    if (GetModuleEventProc(program, "EmberLog_ExceptionNotifyEvent") == nullptr) return 2;
    TEmberExceptionRecord& record = EmberLibrary().CurrentException;
    record.ExceptionObject = object;
    record.ExceptionAddress = address;
    record.ExceptionThreadID = GetCurrentThreadId();
    uint8_t go = 1;
    RaiseExceptionNotifyEvent(go);
    return go;
  } catch (...) {
    return 3;
  }
}

// True when this module's own entry is refused as a target (a module never calls itself).
int32_t EventsModule_RefusesItself() {
  return GetModuleEventProc(EmberLibrary().Module, "EmberLog_ExceptionNotifyEvent") == nullptr ? 1 : 0;
}
}
