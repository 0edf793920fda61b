// Per-module options of the exception library: every setting with its default, the exception
// filters, the binary stream form (and the readers of older stored versions) and the
// publication of a module's options to the other modules of the process.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "EmberTexts.h"
#include "classlib/Streams.h"

// The library version this code writes and, by default, reads.
constexpr uint16_t EmberLibraryVersion = 6024;
// Every byte of a string in the options stream is XORed with this mask (the build tool uses the
// same value, and so do the names of the oldest debug-information versions).
constexpr uint8_t EmberStreamMask = 0xA5;
// The 48 bits of ReportItems.
constexpr uint64_t EmberAllReportItems = 0xFFFFFFFFFFFFull;

// --- Filters

// One exception filter (13 bytes packed in the original record; strings here).
struct TEmberExceptionFilter {
  uint8_t Active = 1;
  std::string ExceptionClassName;  // the exception's class or an ancestor must have this name
  std::string ExceptionMessage;    // shown instead of the exception's message (%VARIABLES%)
  uint8_t ExceptionType = 0;       // 0 any, 1 handled only, 2 unhandled only
  uint8_t DialogType = 0;          // 0 none, 1 the options' type, 2 message box, 3 classic, 4 detailed
  uint8_t HandlerType = 0;         // 0 no processing, 1 the runtime's handler, 2 the library's
  uint8_t ActionType = 0;          // 0 none, 1 terminate, 2 restart

  bool operator==(const TEmberExceptionFilter&) const = default;
};

class TEmberModuleOptions;

// The filters of one options object. Add, Delete and Clear publish the owning options; editing
// an item in place does not (call the owner's Changed when needed).
class TEmberExceptionsFilters : public TObject {
 public:
  explicit TEmberExceptionsFilters(TEmberModuleOptions* owner) : owner_(owner) {}

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Raises EListError for an index out of range.
  TEmberExceptionFilter& GetItem(int32_t index);
  const TEmberExceptionFilter& GetItem(int32_t index) const;
  int32_t Add(const TEmberExceptionFilter& filter);
  void Delete(int32_t index);
  void Clear();
  // Clears, then copies every record of `source` (without publishing per record).
  void Assign(const TEmberExceptionsFilters& source);

 private:
  void CheckIndex(int32_t index) const;
  TEmberModuleOptions* owner_;
  std::vector<TEmberExceptionFilter> items_;
};

// --- Options

// Declares the getter `Name()` and the publishing setter `SetName(value)` of one field.
#define KBL_EMBER_OPTION(Type, Name)                  \
 public:                                              \
  const Type& Name() const { return Name##_; }        \
  void Set##Name(const Type& value) {                 \
    Name##_ = value;                                  \
    Changed();                                        \
  }                                                   \
                                                      \
 private:                                             \
  Type Name##_{};

// Every setting of the exception library for one module. Not thread-safe: the library changes
// options under its lock. Every setter publishes the options of this module (see Changed).
class TEmberModuleOptions : public TObject {
 public:
  // Stores the name and the handle of that loaded module (0 for an empty name), then the
  // defaults.
  explicit TEmberModuleOptions(const std::string& moduleName = std::string());
  // For a module whose handle is already known.
  TEmberModuleOptions(const std::string& moduleName, uintptr_t moduleHandle);
  ~TEmberModuleOptions() override;

  // --- Virtual operations
  virtual void SetActivate(uint8_t value);
  virtual void SetFreezeActivate(uint8_t value);
  // Copies everything but the update counter, ModuleName, ModuleHandle and Activate; raises
  // EConvertError for a null source; assigning to itself does nothing. Publishes once.
  virtual void Assign(const TEmberModuleOptions* source);
  virtual void SetDefaults();
  virtual void SaveToStream(TStream& stream) const;
  void SaveToFile(const std::string& fileName) const;
  // Reads the layout that library `version` wrote (600..602 count as 6000..6002). A stream that
  // ends early or holds an impossible string length raises EReadError; the options keep what
  // was read so far.
  virtual void LoadFromStream(TStream& stream, uint16_t version = EmberLibraryVersion);
  void LoadFromFile(const std::string& fileName, uint16_t version = EmberLibraryVersion);
  virtual void SaveToSharedMemory() {}
  virtual void LoadFromSharedMemory() {}

  // --- Change notification
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate() { --updateCount_; }
  int32_t UpdateCount() const { return updateCount_; }
  // Publishes (SaveToSharedMemory) unless updates are held back or the options belong to
  // another module.
  void Changed();
  // True when the options belong to the module this code is linked into.
  bool BelongsToThisModule() const;

  // --- Texts
  // The text of `index` (empty outside 0..157).
  const std::string& GetCustomizedText(int32_t index) const;
  // The text with its %VARIABLES% expanded.
  std::string GetCustomizedExpandedText(int32_t index) const;
  void SetCustomizedText(int32_t index, const std::string& text);
  const std::array<std::string, EmberTextCount>& CustomizedTexts() const { return texts_; }

  // --- Fields that are not plain settings
  const std::string& ModuleName() const { return moduleName_; }
  uintptr_t ModuleHandle() const { return moduleHandle_; }
  // Names the module the options now apply to (the processing of an exception names the module
  // whose options it took); nothing is published.
  void SetModule(const std::string& moduleName, uintptr_t moduleHandle) {
    moduleName_ = moduleName;
    moduleHandle_ = moduleHandle;
  }
  uint8_t Activate() const { return activate_; }
  uint8_t FreezeActivate() const { return freezeActivate_; }
  int32_t LogReportLimit() const { return logReportLimit_; }
  // 0 is stored as 1: the log keeps at least one report.
  void SetLogReportLimit(int32_t value);
  uint64_t ReportItems() const { return reportItems_; }
  // Only the low 48 bits are kept.
  void SetReportItems(uint64_t value);
  TEmberExceptionsFilters& ExceptionsFilters() { return filters_; }
  const TEmberExceptionsFilters& ExceptionsFilters() const { return filters_; }
  // Copied directly by Assign (no notification of their own there).
  const std::string& ReproduceText() const { return ReproduceText_; }
  void SetReproduceText(const std::string& value);
  uint8_t Reserved2() const { return Reserved2_; }
  void SetReserved2(uint8_t value);

  KBL_EMBER_OPTION(std::string, UserEMail)
  KBL_EMBER_OPTION(std::string, SmtpHost)
  KBL_EMBER_OPTION(std::string, SmtpUser)
  KBL_EMBER_OPTION(std::string, SmtpPassword)
  KBL_EMBER_OPTION(uint16_t, SmtpPort)
  KBL_EMBER_OPTION(std::string, ProxyHost)
  KBL_EMBER_OPTION(std::string, ProxyUser)
  KBL_EMBER_OPTION(std::string, ProxyPassword)
  KBL_EMBER_OPTION(uint16_t, ProxyPort)
  KBL_EMBER_OPTION(std::string, TrackerUser)
  KBL_EMBER_OPTION(std::string, TrackerPassword)
  KBL_EMBER_OPTION(std::string, TrackerAssignedTo)
  KBL_EMBER_OPTION(std::string, TrackerProject)
  KBL_EMBER_OPTION(std::string, TrackerCategory)
  KBL_EMBER_OPTION(std::string, FogBugzTrialID)
  KBL_EMBER_OPTION(std::string, ZipPassword)
  KBL_EMBER_OPTION(uint8_t, ReservedOptions)
  KBL_EMBER_OPTION(uint8_t, TerminateAction)
  KBL_EMBER_OPTION(int32_t, FreezeTimeout)
  KBL_EMBER_OPTION(uint8_t, ExceptionDialogType)
  KBL_EMBER_OPTION(std::string, Language)
  KBL_EMBER_OPTION(uint8_t, Reserved1)
  KBL_EMBER_OPTION(uint8_t, FiltersActive)
  KBL_EMBER_OPTION(uint8_t, LogInMailBody)
  KBL_EMBER_OPTION(uint8_t, SaveLogFile)
  KBL_EMBER_OPTION(uint8_t, LogOptions)
  KBL_EMBER_OPTION(uint16_t, SendOptions)
  KBL_EMBER_OPTION(uint8_t, FirstDialogTab)
  KBL_EMBER_OPTION(int32_t, TerminateOfferCount)
  KBL_EMBER_OPTION(std::string, OutputPath)
  KBL_EMBER_OPTION(std::string, EMailAddresses)
  KBL_EMBER_OPTION(std::string, EMailSubject)
  KBL_EMBER_OPTION(std::string, EMailMessage)
  KBL_EMBER_OPTION(uint8_t, EMailSendMode)
  KBL_EMBER_OPTION(uint8_t, WebSendMode)
  KBL_EMBER_OPTION(std::string, AttachedFiles)
  KBL_EMBER_OPTION(uint16_t, DialogFlags)
  KBL_EMBER_OPTION(int32_t, AutoCloseTimeout)
  KBL_EMBER_OPTION(std::string, SupportURL)
  KBL_EMBER_OPTION(std::string, HTMLTemplate)
  KBL_EMBER_OPTION(uint8_t, ErrorRateAction)
  KBL_EMBER_OPTION(int32_t, ErrorRateCount)
  KBL_EMBER_OPTION(int32_t, ErrorRateMinutes)
  KBL_EMBER_OPTION(uint8_t, CallStackOptions)
  KBL_EMBER_OPTION(uint16_t, BehaviourOptions)
  KBL_EMBER_OPTION(std::string, WebURL)
  KBL_EMBER_OPTION(int32_t, WebPort)
  KBL_EMBER_OPTION(std::string, WebPassword)
  KBL_EMBER_OPTION(std::string, WebUser)

 protected:
  // Sets the field without the Ex class's side effects.
  void StoreActivate(uint8_t value) { activate_ = value; Changed(); }
  void StoreFreezeActivate(uint8_t value) { freezeActivate_ = value; Changed(); }

 private:
  void ReadStream(TStream& stream, uint16_t version);

  int32_t updateCount_ = 0;
  std::string moduleName_;
  uintptr_t moduleHandle_ = 0;
  uint8_t activate_ = 1;
  uint8_t freezeActivate_ = 0;
  int32_t logReportLimit_ = 32;
  uint64_t reportItems_ = EmberAllReportItems;
  std::string ReproduceText_;
  uint8_t Reserved2_ = 30;
  std::array<std::string, EmberTextCount> texts_;
  TEmberExceptionsFilters filters_{this};
};

#undef KBL_EMBER_OPTION

// The class the library creates: starts and stops the freeze watch with Activate and
// FreezeActivate, and publishes through the module's shared-memory area.
class TEmberModuleOptionsEx : public TEmberModuleOptions {
 public:
  using TEmberModuleOptions::TEmberModuleOptions;
  void SetActivate(uint8_t value) override;
  void SetFreezeActivate(uint8_t value) override;
  void SaveToSharedMemory() override;
  void LoadFromSharedMemory() override;
};

// Starts (true) or stops (false) the freeze watch; installed by the freeze watch itself so that
// the options need not know it. Called for this module's options when Activate or
// FreezeActivate changes.
using TEmberFreezeWatchControl = void (*)(bool start);
void SetEmberFreezeWatchControl(TEmberFreezeWatchControl control);

// --- The calling module's options

// Answers the options of this module's entry in the library's modules list, or nullptr when the
// library is not attached to the module or the module is not listed. Installed while the library
// is attached.
using TEmberOwnOptionsFinder = TEmberModuleOptionsEx* (*)();
void SetEmberOwnOptionsFinder(TEmberOwnOptionsFinder finder);
// The options of the module that calls it (every module carries its own copy of the library, so
// this module's), owned by its modules-list entry. Raises Exception ("Cannot use
// 'CurrentEmberLogOptions' function in module "<file name>" without activate EmberLog. ...")
// when the library is not set up in the module or the module is not listed, and when it would
// have to wait too long for the library lock. While the module's start work runs
// (SetReportingModuleWork) every thread is answered at once, a DLL's or TLS callback too, unless
// another thread is making the module's entry in that instant (it raises then). At other times a
// thread that does not hold the lock waits for its holder (an exception's processing, a send, the
// library's close) EmberSendWaitLimitMs at most, answering what is sent to its windows, and
// raises then; under the loader lock (a DLL's entry, a TLS callback) it does not wait and raises
// at once.
TEmberModuleOptionsEx& CurrentEmberLogOptions();

// The default HTML page for web applications ("<%HTML_TAG%>" marks where the report goes).
extern const char* const EmberDefaultHTMLTemplate;
// The placeholder default of UserEMail.
extern const char* const EmberDefaultUserEMail;

// The options' text `index` with %VARIABLES% expanded; empty for null options.
std::string GetCustomizedExpandedText(const TEmberModuleOptions* options, int32_t index);
