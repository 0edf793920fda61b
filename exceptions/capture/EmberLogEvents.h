// Events of the exception library and the entry points through which the modules of one
// process that carry the library reach each other: event holders, global handlers, raising an
// event (in the exception's own module first) and receiving one through an export.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "EmberRecords.h"

// --- Handlers

using TEmberNotifyHandler = std::function<void(TEmberExceptionRecord& record, uint8_t& continueFlag)>;
using TEmberActionHandler =
    std::function<void(TEmberExceptionRecord& record, int32_t action, uint8_t& execute)>;
using TEmberErrorHandler =
    std::function<void(TEmberExceptionRecord& record, int32_t errorKind, uint8_t& retry)>;
using TEmberPasswordHandler = std::function<void(TEmberExceptionRecord* record, std::string& password)>;
using TEmberListHandler = std::function<void(TEmberExceptionRecord& record, TStrings& list)>;
using TEmberButtonHandler = std::function<void(TEmberExceptionRecord& record, uint8_t& closeDialog)>;

// One object of the program that registered for events; unassigned handlers are skipped.
struct TEmberLogEventHolder {
  TEmberNotifyHandler OnExceptionNotify;
  TEmberNotifyHandler OnHandledExceptionNotify;
  TEmberActionHandler OnExceptionActionNotify;
  TEmberErrorHandler OnExceptionErrorNotify;
  TEmberPasswordHandler OnPasswordRequest;
  TEmberListHandler OnCustomDataRequest;
  TEmberListHandler OnAttachedFilesRequest;
  TEmberListHandler OnCustomWebFieldsRequest;
  TEmberButtonHandler OnCustomButtonClick;
};

// The registered holders (not owned). Registration and dispatch may happen on any thread.
class TEmberLogList : public TList {
 public:
  TEmberLogEventHolder* GetItem(int32_t index) const {
    return static_cast<TEmberLogEventHolder*>(Get(index));
  }
};

// Registers `holder` (the caller keeps it alive until UnregisterEventHolder); ignored while
// the library is not attached.
void RegisterEventHolder(TEmberLogEventHolder* holder);
void UnregisterEventHolder(TEmberLogEventHolder* holder);

// The global handlers: one procedure per event, empty when unset.
TEmberLogEventHolder& EmberGlobalHandlers();

// Password passed through events is cut to this many characters.
constexpr size_t EmberMaxPasswordLength = 255;

// --- Raising events (for the current exception record)
// Each calls the exception's own module first when that is another module that carries the
// library, then the holders from the last registered to the first, then the global handler.
// Without handlers the var arguments keep their values.

void RaiseExceptionNotifyEvent(uint8_t& continueFlag);
void RaiseHandledExceptionNotifyEvent(uint8_t& continueFlag);
void RaiseExceptionActionNotifyEvent(int32_t action, uint8_t& execute);
void RaiseExceptionErrorNotifyEvent(int32_t errorKind, uint8_t& retry);
void RaisePasswordRequestEvent(std::string& password, bool withRecord);
void RaiseCustomDataRequestEvent(TStrings& list);
void RaiseAttachedFilesRequestEvent(TStrings& list);
void RaiseCustomWebFieldsRequestEvent(TStrings& list);
void RaiseCustomButtonClickEvent(uint8_t& closeDialog);

// --- Other modules

// The export `name` of `module` (0: the module holding the current exception's address);
// nullptr for this module, for no module, for a module that does not export the library's
// entries and for one whose library data names a version this library does not support.
void* GetModuleEventProc(uintptr_t module, const char* name);

// --- Exported entry points (C names; the plug-in exports them through its .def file)
// The record is passed by address; both sides are built with this library.

extern "C" {
uint8_t EmberLog_LastDorvelException();
void EmberLog_CallCreateThread(const TEmberThreadInfo* info);
void EmberLog_CallResumeThread(uint32_t handle, const TEmberThreadInfo* info);
void EmberLog_CallExitThread();
const std::exception* EmberLog_CallExceptObject(void* exceptionRecord, void* context, uint8_t force);
void EmberLog_CallGeneralRaise(uint32_t code, uint32_t flags, uint32_t argumentCount,
                               uint32_t stackPointer, const uintptr_t* arguments);
uint8_t EmberLog_ExceptionManager(const std::exception* object, uintptr_t address,
                                  uint8_t displayMode, uintptr_t module);
void EmberLog_PasswordRequestEvent(char* password);  // at most 255 characters and a 0
void EmberLog_PasswordRequestEventEx(TEmberExceptionRecord* record, char* password);
void EmberLog_ExceptionNotifyEvent(TEmberExceptionRecord* record, uint8_t* continueFlag);
void EmberLog_HandledExceptionNotifyEvent(TEmberExceptionRecord* record, uint8_t* continueFlag);
void EmberLog_ExceptionActionNotifyEvent(TEmberExceptionRecord* record, int32_t action, uint8_t* execute);
void EmberLog_ExceptionErrorNotifyEvent(TEmberExceptionRecord* record, int32_t errorKind, uint8_t* retry);
void EmberLog_CustomDataRequestEventEx(TEmberExceptionRecord* record, TStrings* list);
void EmberLog_AttachedFilesRequestEvent(TEmberExceptionRecord* record, TStrings* list);
void EmberLog_CustomWebFieldsRequestEvent(TEmberExceptionRecord* record, TStrings* list);
void EmberLog_CustomButtonClickEvent(TEmberExceptionRecord* record, uint8_t* closeDialog);
}
