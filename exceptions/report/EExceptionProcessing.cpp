// Processing one exception, step by step in a fixed order, and the start-up that joins the
// report side to the capture side.
#include "EExceptionProcessing.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "EBugReport.h"
#include "EDeliverySupport.h"
#include "ELogFile.h"
#include "ELogManager.h"
#include "EObjectHelpers.h"
#include "EReportFilters.h"
#include "EReportOutput.h"
#include "EReportValues.h"
#include "EScreenshot.h"
#include "ESendReport.h"
#include "ESockets.h"
#include "ESupport.h"
#include "classlib/Module.h"
#include "classlib/SysUtils.h"
#include "detail/EProcessingPlatform_p.h"
#include "detail/EReportPlatform_p.h"
#include "detail/ESendReportPlatform_p.h"
#include "detail/ESupportPlatform_p.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberCodecs.h"
#include "exceptions/EmberSharedMemory.h"
#include "exceptions/EmberTexts.h"
#include "exceptions/capture/ECallStack.h"
#include "exceptions/capture/EFreezeWatch.h"
#include "exceptions/capture/EmberLogEvents.h"
#include "exceptions/capture/ExceptionLog.h"

namespace {

using namespace ember_processing;

// What one run decides, kept between its steps (and, for the call stack and the termination,
// until the background send is done with them). Each run starts with no send in the background
// and no end of the program asked: those belong to the exception that decided them, and are
// acted on by its own processing or by its own send thread, which has the library lock before
// the next exception's processing (TExceptionEntryLock).
struct TRunDecisions {
  std::unique_ptr<TEmberStackList> CallStack;
  uint8_t FilterHandler = 2;  // 0 no processing, 1 the runtime's handler, 2 the library's
  uint8_t FilterAction = 0;   // 0 none, 1 terminate, 2 restart
  bool FilterDialogSet = false;
  bool TerminateAsked = false;
  bool SendInBackground = false;
  bool Inline = false;
  // The exception was raised on the thread of a background send under way (TSendPutAside).
  bool InsideSend = false;
};

struct TProcessingGlobals {
  TRunDecisions Run;
  std::vector<std::string> RecentErrors;
  // The end of the program (a TerminateAction) asked by an exception processed inside the send
  // under way: acted on by that send once it is done, after its own report went out.
  uint8_t EndAskedInsideSend = 0;
};

TProcessingGlobals& Globals() {
  static TProcessingGlobals globals;
  return globals;
}

// --- The end of the program

// One end only: the send of the exception that asked, done first, and the thread its end was
// left to (LeaveEndToEntry) may both come; the later one leaves it to the first.
bool TakeTheEnd() {
  static std::atomic<bool> taken{false};
  return !taken.exchange(true);
}

// An end decided by a processing whose report goes out in the background, and when it was decided.
std::atomic<uint8_t> gEndLeft{0};
std::atomic<int64_t> gEndDecidedAt{0};

// Run as the deciding exception's entry ends, its lock given back: the end's wait for the sends
// (its own among them) lasts EmberSendWaitLimitMs from the decision, and a send still going then
// is given up like any other.
void EndLeftToEntry() {
  const uint8_t action = gEndLeft.exchange(0);
  if (action == 0 || !TakeTheEnd()) return;
  SetEntryWait(EmberNowMs() - gEndDecidedAt);
  RunBeforeProcessEnd();
  EndApplication(action == 2);
}

void LeaveEndToEntry(uint8_t action) {
  gEndDecidedAt = EmberNowMs();
  gEndLeft = action;
  PutOffEndUntilEntryEnds(&EndLeftToEntry);
}

// --- An exception processed inside a send

// An exception raised on the thread of a background send under way (a handler of the send's
// events hands over what it caught) is processed as its own while that send waits half done.
// Everything the send works from is put aside for the run and put back after it: the record,
// the options in force and the copy published in the shared area, the report's texts, the log's,
// the dialogs' and the facts' state, the run's decisions with the call stack, the send's lists,
// stage and progress, the library's last error, the report's variables, the step counter and the
// send's companion folder (the run makes one of its own, ProcessException). Its own send is done
// at once, and an end of the program it asks for is acted on by the send once that is done.
// Putting aside either completes or leaves the send as it was: every copy (which may fail for
// want of memory) is made before the first piece is taken from the send, by swaps, which cannot.
class TSendPutAside {
 public:
  TSendPutAside()
      : options_(EmberLibrary().CurrentOptions->ModuleName(), EmberLibrary().CurrentOptions->ModuleHandle()),
        published_(options_.ModuleName(), options_.ModuleHandle()) {
    TEmberLibraryGlobals& library = EmberLibrary();
    record_ = library.CurrentException;
    options_.Assign(library.CurrentOptions.get());
    try {
      publishedHeld_ = LoadOptionsFromSharedMemory(published_);
    } catch (...) {
      publishedHeld_ = false;
    }
    pieces_ = ReportPieces();
    log_ = LogReportState();
    dialog_ = EmberDialogState();
    facts_ = ReportFacts();
    progress_ = DeliveryProgress();
    errorCode_ = GetLastLibraryErrorCode();
    errorMessage_ = GetLastLibraryErrorMessage();
    variables_ = GetReportVariables();
    step_ = GetEmberStep();
    folder_ = GetCompanionFolder();
    std::swap(run_, Globals().Run);
    ExchangeSendWork(send_);
    Globals().Run.InsideSend = true;
  }

  ~TSendPutAside() { PutBack(); }
  TSendPutAside(const TSendPutAside&) = delete;
  TSendPutAside& operator=(const TSendPutAside&) = delete;

 private:
  // The record first, each piece on its own: one that cannot be put back leaves the others the
  // send's.
  void PutBack() noexcept {
    TEmberLibraryGlobals& library = EmberLibrary();
    TProcessingGlobals& globals = Globals();
    Step([&] { library.CurrentException = record_; });
    Step([&] {
      const uint8_t endAsked = globals.Run.TerminateAsked ? library.CurrentOptions->TerminateAction() : 0;
      if (globals.EndAskedInsideSend == 0) globals.EndAskedInsideSend = endAsked;
    });
    std::swap(run_, globals.Run);
    SetEmberStep(step_);
    Step([&] { SetCompanionFolder(folder_); });
    Step([&] { SetReportVariables(variables_); });
    Step([&] { RestoreLastError(errorCode_, errorMessage_); });
    Step([&] { DeliveryProgress() = progress_; });
    ExchangeSendWork(send_);
    Step([&] { ReportFacts() = facts_; });
    Step([&] {
      const int32_t count = EmberDialogState().ExceptionCount;  // the module's count goes on
      EmberDialogState() = dialog_;
      EmberDialogState().ExceptionCount = count;
    });
    Step([&] { LogReportState() = log_; });
    Step([&] { ReportPieces() = pieces_; });
    Step([&] {
      // Put back without being published: the area gets what it held before the run.
      TEmberModuleOptionsEx& current = *library.CurrentOptions;
      current.BeginUpdate();
      current.Assign(&options_);
      current.SetModule(options_.ModuleName(), options_.ModuleHandle());
      current.EndUpdate();
      if (publishedHeld_) SaveOptionsToSharedMemory(published_);
    });
  }
  template <typename TPiece>
  static void Step(TPiece piece) noexcept {
    try {
      piece();
    } catch (...) {
      // this piece stays as the run left it
    }
  }

  TEmberExceptionRecord record_;
  TEmberModuleOptions options_, published_;
  bool publishedHeld_ = false;
  TEmberReportPieces pieces_;
  TLogReportState log_;
  TEmberDialogState dialog_;
  TEmberReportFacts facts_;
  TRunDecisions run_;
  TEmberSendWork send_;
  TEmberSendProgressState progress_;
  TEmberLogErrorCode errorCode_ = eeNone;
  std::string errorMessage_;
  TEmberReportVariables variables_;
  int32_t step_ = 0;
  std::string folder_;
};

// The CONTEXT fields the report shows (i386 layout: the registers from offset 156 on).
bool ReadRegisters(const void* context, TEmberRegisters& registers) {
  if (context == nullptr) return false;
  const auto* bytes = static_cast<const uint8_t*>(context);
  auto at = [&](size_t offset) {
    uint32_t value;
    std::memcpy(&value, bytes + offset, 4);
    return value;
  };
  registers.Edi = at(156);
  registers.Esi = at(160);
  registers.Ebx = at(164);
  registers.Edx = at(168);
  registers.Ecx = at(172);
  registers.Eax = at(176);
  registers.Eip = at(184);
  registers.Esp = at(196);
  return true;
}

bool HasDebugData(const TEmberModuleInfo* module) {
  return module != nullptr && ((module->DebugData && module->DebugData->GetSize() > 0) ||
                               (module->DebugInfo && module->DebugInfo->IsValid()));
}

// The module whose options apply: the one holding the address, else the given one, else the
// other one of this module and the main module; the first with debug data wins.
TEmberModuleInfo* ChooseModule(uintptr_t address, uintptr_t module) {
  TEmberLibraryGlobals& library = EmberLibrary();
  TEmberModuleInfo* chosen = ModuleInfoOfAddress(address);
  SetEmberStep(0x66);
  if (!HasDebugData(chosen)) {
    TEmberModuleInfo* given = ModuleInfoOfHandle(module);
    if (given != nullptr) chosen = given;
  }
  SetEmberStep(0x67);
  if (!HasDebugData(chosen)) {
    uintptr_t other = module == library.Module ? library.MainModule : library.Module;
    TEmberModuleInfo* found = ModuleInfoOfHandle(other);
    if (HasDebugData(found) || chosen == nullptr) chosen = found;
  }
  return chosen;
}

void ApplyOptions(TEmberModuleInfo* chosen) {
  TEmberLibraryGlobals& library = EmberLibrary();
  TEmberModuleOptionsEx& options = *library.CurrentOptions;
  if (chosen != nullptr && chosen->Options) {
    options.Assign(chosen->Options.get());
    if ((options.BehaviourOptions() & 0x08) != 0) {
      uintptr_t other = chosen->Handle == library.Module ? library.MainModule : library.Module;
      TEmberModuleInfo* otherInfo = ModuleInfoOfHandle(other);
      if (otherInfo != nullptr && otherInfo != chosen && otherInfo->Options && HasDebugData(otherInfo)) {
        options.Assign(otherInfo->Options.get());
      }
    }
  }
  if (chosen != nullptr) options.SetModule(chosen->FileName, chosen->Handle);
  options.SetReproduceText(std::string());
}

// The exception filters (raise kind 2 skips them).
void ApplyFilters(const TEmberNotifyArgs& args) {
  TProcessingGlobals& globals = Globals();
  TEmberDialogState& dialog = EmberDialogState();
  const TEmberModuleOptions& options = *EmberLibrary().CurrentOptions;
  dialog.DialogMessage.clear();
  globals.Run.FilterHandler = 2;
  globals.Run.FilterAction = 0;
  dialog.DialogType = options.ExceptionDialogType();
  globals.Run.FilterDialogSet = false;
  if (args.RaiseKind == 2 || options.FiltersActive() == 0) return;
  int32_t index = FindExceptionFilter(options, args.Object, args.Params.Handled != 0);
  if (index < 0) return;
  SetEmberStep(0xC9);
  const TEmberExceptionFilter& filter = options.ExceptionsFilters().GetItem(index);
  globals.Run.FilterAction = filter.ActionType;
  globals.Run.FilterHandler = filter.HandlerType;
  static const uint8_t kDialogTypes[] = {0, 0, 1, 2, 3};
  if (filter.DialogType <= 4) {
    dialog.DialogType = filter.DialogType == 1 ? options.ExceptionDialogType() : kDialogTypes[filter.DialogType];
  }
  globals.Run.FilterDialogSet = true;
  std::string message = ExpandVariables(filter.ExceptionMessage);
  if (!message.empty()) SetDialogMessage(message);
}

bool WantThreadStack(const TEmberThreadInfo& thread, uint8_t callStackOptions, uint32_t mainThread) {
  const bool mainOrClassThread = thread.ThreadID == mainThread || !thread.ThreadClass.empty();
  return ((callStackOptions & 0x08) != 0 && !mainOrClassThread) || ((callStackOptions & 0x04) != 0 && mainOrClassThread);
}

bool WantThreadFrozen(const TEmberThreadInfo& thread, uint16_t behaviour, uint32_t mainThread) {
  const bool isMain = thread.ThreadID == mainThread;
  const bool mainOrClassThread = isMain || !thread.ThreadClass.empty();
  if ((behaviour & 0x04) != 0 && !mainOrClassThread) return true;
  return (behaviour & 0x01) != 0 && mainOrClassThread && ((behaviour & 0x02) == 0 || !isMain);
}

// The stacks of the other threads the options want, each followed by the stack its creator or
// last resumer had then.
void AddOtherThreadStacks(TEmberStackList& stack, TEmberThreadsList& threads, uint32_t faulting,
                          const TEmberModuleOptions& options) {
  const uint32_t mainThread = EmberLibrary().MainThreadID;
  const uint32_t self = EmberCurrentThreadID();
  for (int32_t i = 0; i < threads.Count(); ++i) {
    const TEmberThreadInfo& thread = *threads.GetItem(i);
    if (thread.ThreadID == faulting || thread.ThreadID == self || thread.Handle == 0) continue;
    if (!WantThreadStack(thread, options.CallStackOptions(), mainThread)) continue;
    BuildThreadCallStack(stack, thread.Handle, thread.ThreadID, AllStackKinds, true, 1);
    if (thread.CallerStack != nullptr && thread.CallerStackSize >= 8) {
      // The saved words are laid out in a range no code lives in; only their values count.
      constexpr uint32_t kSavedStackBase = 0x00010000;
      const auto* bytes = static_cast<const uint8_t*>(thread.CallerStack);
      TEmberMemoryOverlay memory(EmberMemory(), kSavedStackBase,
                                 std::vector<uint8_t>(bytes, bytes + thread.CallerStackSize));
      BuildCallStackIn(memory, stack, 0, kSavedStackBase, AllStackKinds, -1, -1, true, false, 0,
                       thread.CallerThreadID, kSavedStackBase + thread.CallerStackSize - 4);
    }
  }
}

std::vector<uint32_t> FreezeThreads(TEmberThreadsList& threads, uint32_t faulting, const TEmberModuleOptions& options) {
  std::vector<uint32_t> frozen;
  const uint32_t mainThread = EmberLibrary().MainThreadID;
  const uint32_t self = EmberCurrentThreadID();
  TEmberThreadsList* global = EmberLibrary().ThreadsList.get();
  for (int32_t i = 0; i < threads.Count(); ++i) {
    const TEmberThreadInfo& thread = *threads.GetItem(i);
    if (thread.ThreadID == faulting || thread.ThreadID == self || thread.Handle == 0) continue;
    if (!WantThreadFrozen(thread, options.BehaviourOptions(), mainThread)) continue;
    if (global != nullptr) global->BeginWrite();
    if (SuspendThreadHandle(thread.Handle)) frozen.push_back(thread.Handle);
    if (global != nullptr) global->EndWrite();
  }
  return frozen;
}

// While an exception dialog shows, the faulting main thread handles its messages.
struct TDialogShowing {
  TDialogShowing() { SetExceptionDialogShowing(true); }
  ~TDialogShowing() { SetExceptionDialogShowing(false); }
};

// Which output the display mode asks for.
enum class TOutputKind { Dialog, Console, WebPage };

TOutputKind GetOutputKind(uint8_t displayMode, bool web, bool console) {
  if (displayMode == 2) return TOutputKind::WebPage;
  if (displayMode == 1) return console ? TOutputKind::Console : TOutputKind::Dialog;
  if (web) return TOutputKind::WebPage;
  return console ? TOutputKind::Console : TOutputKind::Dialog;
}

bool MayShowDialogs(const TEmberReportOutput& output) {
  return !(output.IsWebApplication && output.IsWebApplication()) && !IsConsoleProgram();
}

bool ShouldRestoreMainWindow(uint8_t displayMode, const TEmberReportOutput& output) {
  const TEmberModuleOptions& options = *EmberLibrary().CurrentOptions;
  if (!(displayMode == 1 || (displayMode == 0 && MayShowDialogs(output)))) return false;
  return (ShouldSend() && (options.SendOptions() & 0x11) != 0) || options.ExceptionDialogType() != 0;
}

// The dialog, the console text or the web page, between the action events 0 and 1.
void ShowOutput(uint8_t displayMode, const TEmberReportOutput& output, uint8_t& result) {
  TEmberDialogState& dialog = EmberDialogState();
  const TEmberModuleOptions& options = *EmberLibrary().CurrentOptions;
  const bool web = output.IsWebApplication && output.IsWebApplication();
  if (dialog.DialogType == 0) {
    dialog.SendAsked = options.EMailSendMode() != 0 || options.WebSendMode() != 0;
    dialog.ScreenshotAsked = (options.SendOptions() & 0x10) != 0;
    if (web && output.WriteWebErrorPage) output.WriteWebErrorPage(GetDialogMessage());
    return;
  }
  SetEmberStep(0x0C);
  uint8_t allowed = 1;
  ClearLastError();
  SynchronizeExceptionCall([&] { RaiseExceptionActionNotifyEvent(0, allowed); });
  dialog.SendAsked = options.EMailSendMode() != 0 || options.WebSendMode() != 0;
  dialog.ScreenshotAsked = (options.SendOptions() & 0x10) != 0;
  dialog.CopyToClipboard = false;
  if (allowed != 0) {
    SetEmberStep(0x0D);
    switch (GetOutputKind(displayMode, web, IsConsoleProgram())) {
      case TOutputKind::Dialog:
        dialog.RequestStep = dialog.DialogType == 3;
        dialog.Reshown = false;
        try {
          if (output.ShowExceptionDialog) {
            TDialogShowing showing;
            output.ShowExceptionDialog(true);
            while (dialog.DialogType != 0) {
              dialog.Reshown = true;
              output.ShowExceptionDialog(false);
            }
          } else {
            // No dialogs in this module: the report goes to the log only.
            dialog.DialogType = 0;
            dialog.SendAsked = false;
          }
          allowed = 1;
        } catch (...) {
          allowed = 0;
          dialog.DialogType = 0;
          dialog.DialogFailed = true;
          ShowLibraryError(eeShowError, "GUI");
        }
        break;
      case TOutputKind::Console:
        try {
          WriteStandardOutput(ReportPieces().DialogHeadText + ReportPieces().ReportText + "\r\n");
          allowed = 1;
        } catch (...) {
          allowed = 0;
          ShowLibraryError(eeShowError, "Console");
        }
        dialog.DialogType = 0;
        break;
      case TOutputKind::WebPage:
        if (output.IsWebFrameworkHandling && output.IsWebFrameworkHandling()) {
          result = 1;
        } else if (output.WriteWebErrorPage) {
          output.WriteWebErrorPage(ReportPieces().ReportText);
        }
        dialog.DialogType = 0;
        break;
    }
  }
  SetEmberStep(0x0E);
  SynchronizeExceptionCall([&] { RaiseExceptionActionNotifyEvent(1, allowed); });
}

void StoreReportTexts(const TLogReportTexts& texts) {
  TEmberReportPieces& pieces = ReportPieces();
  pieces.ReportText = texts.ReportText;
  pieces.LastReportText = texts.SendText;
  LogReportState().ReportText = texts.ReportText;
  LogReportState().SendText = texts.SendText;
  EmberLibrary().CurrentException.LogText = texts.ReportText;
}

TLogReportTexts CurrentReportTexts() {
  TLogReportTexts texts;
  texts.ReportText = ReportPieces().ReportText;
  texts.DialogReportText = ReportPieces().ReportText;
  texts.HeadLength = static_cast<int32_t>(ReportPieces().ReportHeadText.size());
  texts.SendText = ReportPieces().LastReportText;
  return texts;
}

void AddCustomData() {
  TStringList lines;
  SynchronizeExceptionCall([&] { RaiseCustomDataRequestEvent(lines); });
  const TEmberModuleOptions& options = *EmberLibrary().CurrentOptions;
  if (lines.Count() == 0 || (options.ReportItems() & (uint64_t(1) << 47)) == 0) return;
  std::vector<std::string> values;
  for (int32_t i = 0; i < lines.Count(); ++i) values.push_back(lines.Get(i));
  TLogReportTexts texts = CurrentReportTexts();
  InsertReportValuesSection(texts, 7, options.GetCustomizedExpandedText(91), values);
  StoreReportTexts(texts);
}

// With LogOptions 0x04 a log written by another version of the application is deleted.
void DeleteLogOfOtherVersion(const std::string& applicationVersion) {
  const TEmberModuleOptions& options = *EmberLibrary().CurrentOptions;
  if ((options.LogOptions() & 0x04) == 0) return;
  std::string stored, fileName;
  if (TLogFile* log = OpenLogFileObject()) {
    fileName = log->FileName();
    if (log->GetCount() > 0) stored = log->GetItemField("1.3", log->GetCount() - 1);
  }
  CloseLogFile();
  if (!stored.empty() && stored != applicationVersion) DeleteFileByName(fileName);
}

void SetExceptionEnvironmentOf(const TEmberNotifyArgs& args, TEmberModuleInfo* module) {
  TEmberExceptionEnvironment facts;
  TEmberModuleInfo* main = ModuleInfoOfHandle(EmberLibrary().MainModule);
  auto withoutFolder = [](const std::string& name) { return name.substr(name.find_last_of("\\/") + 1); };
  if (main != nullptr) {
    facts.FoundMainModule = true;
    facts.MainModuleName = withoutFolder(main->FileName);
    facts.MainModuleDesc = main->Description;
    facts.MainModuleVer = main->Version;
  }
  if (module != nullptr) {
    facts.FoundExceptModule = true;
    facts.ExceptModuleName = withoutFolder(module->FileName);
    facts.ExceptModuleDesc = module->Description;
    facts.ExceptModuleVer = module->Version;
  }
  facts.ExceptMsg = GetExceptionMessage(args.Object);
  facts.BugReport = ReportPieces().ReportText;
  SetExceptionEnvironment(facts);
}

// Steps 5 to 22 of one run; `result` and the frozen threads are the caller's.
void RunSteps(const TEmberNotifyArgs& args, uintptr_t address, TEmberThreadsList& threads, uint8_t& result,
              std::vector<uint32_t>& frozen) {
  TEmberLibraryGlobals& library = EmberLibrary();
  TProcessingGlobals& globals = Globals();
  TEmberDialogState& dialog = EmberDialogState();
  TEmberModuleOptionsEx& options = *library.CurrentOptions;
  const TEmberReportOutput output = EmberReportOutput();

  SetEmberStep(0x65);
  TEmberModuleInfo* module = ChooseModule(address, args.Module);
  ApplyOptions(module);
  SetEmberStep(0x68);
  if (IsRunningInIDE()) {
    options.SetDialogFlags(static_cast<uint16_t>(options.DialogFlags() & ~0x40));
    options.SetCustomizedText(26, "The IDE has raised an exception.\r\n ");
    options.SetCustomizedText(27, "Restart the IDE");
  }

  SetEmberStep(2);
  ApplyFilters(args);
  ShouldSend();
  SetEmberStep(3);
  if (globals.Run.FilterHandler != 2) {
    if (globals.Run.FilterHandler == 1) result = 1;
    return;
  }

  // The faulting thread's call stack.
  const TExceptNotifyParams& params = args.Params;
  void* context =
      params.Context != nullptr && ember_detail::PlatformIsReadable(params.Context, 204) ? params.Context : nullptr;
  void* record = params.ExceptionRecord != nullptr && ember_detail::PlatformIsReadable(params.ExceptionRecord, 80)
                     ? params.ExceptionRecord
                     : nullptr;
  SetEmberStep(4);
  globals.Run.CallStack.reset();
  if (params.CallStack != nullptr) {
    globals.Run.CallStack = std::make_unique<TEmberStackList>();
    for (int32_t i = 0; i < params.CallStack->Count(); ++i)
      *globals.Run.CallStack->NewItem() = *params.CallStack->GetItem(i);
  } else {
    globals.Run.CallStack = std::make_unique<TEmberStackList>();
    // The stack as it was at the raise: the unwinding since may have overwritten it.
    std::vector<uint8_t> saved;
    if (CopyRaiseStack(params.ThreadID, params.StackPointer, saved) && saved.size() >= 4) {
      const uint32_t end = params.StackPointer + static_cast<uint32_t>(saved.size()) - 4;
      TEmberMemoryOverlay memory(EmberMemory(), params.StackPointer, std::move(saved));
      BuildCallStackIn(memory, *globals.Run.CallStack, static_cast<uint32_t>(address), params.StackPointer,
                       AllStackKinds, -1, -1, true, false, 0, params.ThreadID, end);
    } else {
      BuildCallStack(*globals.Run.CallStack, static_cast<uint32_t>(address), params.StackPointer, AllStackKinds, -1, -1,
                     true, false, 0, params.ThreadID, params.StackTop >= 4 ? params.StackTop - 4 : 0);
    }
  }
  const std::string applicationVersion = ApplicationVersionText();
  const std::string reportID = ComputeExceptionID(applicationVersion, ModuleVersionText(),
                                                  GetExceptionTypeName(args.Object), globals.Run.CallStack.get());
  AddOtherThreadStacks(*globals.Run.CallStack, threads, params.ThreadID, options);

  SetEmberStep(5);
  if (args.RaiseKind == 2) return;
  frozen = FreezeThreads(threads, params.ThreadID, options);

  SetEmberStep(6);
  uint8_t continueSteps = 1;
  // The processes list is the library's, so that the detailed dialog's page lists the same.
  if (!library.ProcessesList) library.ProcessesList = std::make_unique<TEmberProcessesList>();
  TEmberProcessesList* processes = library.ProcessesList.get();
  processes->Clear();
  if ((options.LogOptions() & 0x10) != 0) {
    RefreshModules();
    LoadProcesses(*processes);
  }
  SetEmberStep(7);
  TEmberExceptionRecord& current = library.CurrentException;
  current.CallStack = globals.Run.CallStack.get();
  current.CurrentModuleOptions = &options;
  current.ExceptionContext = context;
  current.ExceptionRecord = record;
  SetEmberStep(0x2BE);
  TEmberRegisters registers;
  TEmberBugReportInput input;
  input.Options = &options;
  input.ExceptionObject = args.Object;
  input.ExceptionAddress = static_cast<uint32_t>(address);
  input.Context = ReadRegisters(context, registers) ? &registers : nullptr;
  input.StackPointer = params.StackPointer;
  input.ReportID = reportID;
  input.CallStack = globals.Run.CallStack.get();
  input.Modules = ModulesList();
  input.Processes = processes;
  input.Threads = &threads;
  BugReportText(input);
  SetEmberStep(0x2BF);
  current.LogText = ReportPieces().ReportText;
  current.ModulesList = ModulesList();
  SetEmberStep(0x2C0);
  library.ProcessingRecord = &current;
  TLogReportState& log = LogReportState();
  log.Options = &options;
  log.ReportID = reportID;
  log.ReportText = ReportPieces().ReportText;
  log.ExceptionDate = ReportFacts().ExceptionTime;
  log.SendText = ReportPieces().LastReportText;
  log.DebugPassword = module != nullptr ? module->Password : std::string();
  log.LastHTMLPage = GetLastHTMLPage();
  OpenLogFile(true);
  SetEmberStep(0x2C1);
  ClearLastError();
  SetEmberStep(0x2C2);
  SetExceptionEnvironmentOf(args, module);

  // The events, the screenshot and the custom data.
  if (ShouldRestoreMainWindow(args.DisplayMode, output)) SynchronizeExceptionCall([] { RestoreMainWindow(); });
  SynchronizeExceptionCall([&] {
    if (params.Handled != 0)
      RaiseHandledExceptionNotifyEvent(continueSteps);
    else
      RaiseExceptionNotifyEvent(continueSteps);
  });
  SetEmberStep(8);
  if (continueSteps == 0) {
    result = 1;
    return;
  }
  TakeScreenshot();
  if (options.ErrorRateAction() != 0) {
    globals.RecentErrors.push_back(FloatToStrDot(ember_support::LocalNow()));
    while (static_cast<int32_t>(globals.RecentErrors.size()) > options.ErrorRateCount() && !globals.RecentErrors.empty())
      globals.RecentErrors.erase(globals.RecentErrors.begin());
  }
  AddCustomData();

  SetEmberStep(9);
  ++dialog.ExceptionCount;
  SetEmberStep(0x0A);
  dialog.ExceptionMessage = ReplaceControlChars(GetExceptionMessage(args.Object));
  dialog.RequestStep = false;
  SetEmberStep(0x0B);
  if (!globals.Run.FilterDialogSet) dialog.DialogType = options.ExceptionDialogType();
  ActiveWorkArea(dialog.WorkLeft, dialog.WorkTop, dialog.WorkRight, dialog.WorkBottom);
  dialog.SendCancelled = false;
  dialog.RestartRequested = false;
  dialog.DialogFailed = false;
  // At the process's end nobody is asked anything more, and nothing is left to wait for a send.
  if (args.AtEnd != 0)
    dialog.SendCancelled = true;
  else
    ShowOutput(args.DisplayMode, output, result);

  // The request dialog, the reproduce text, the screenshot file, the log and the send.
  if (dialog.RequestStep && !dialog.DialogFailed && output.ShowRequestDialog) {
    TDialogShowing showing;
    output.ShowRequestDialog();
  }
  if ((options.LogOptions() & 0x02) != 0) {
    TLogReportTexts texts = CurrentReportTexts();
    InsertReportTextSection(texts, 7, options.GetCustomizedExpandedText(123), options.ReproduceText());
    StoreReportTexts(texts);
  }
  log.ScreenshotAsked = dialog.ScreenshotAsked;
  if (ShouldSend()) SaveScreenshotPNG(GetScreenshotFileName());
  FreeScreenshot();
  SetEmberStep(0x0F);
  DeleteLogOfOtherVersion(applicationVersion);
  const bool send = ShouldSend();
  if (options.SaveLogFile() != 0) WriteLogFile();
  if (dialog.CopyToClipboard) CopyText(ReportPieces().ReportText);
  SetEmberStep(0x10);
  // A send asked for in the background is done at once while the library detaches, and for an
  // exception raised inside a send (a thread of its own would have the lock only when that send
  // is done, after the end of the program it may act on), or on a thread that held the lock
  // already (another module's event call): a thread of its own would have it only once that
  // hold ends, after what the thread processes next, which would send this one's report in its
  // stead. The steps after it are then this processing's, as for any send done at once.
  const bool background = send && (options.SendOptions() & 0x80) != 0 && !globals.Run.Inline &&
                          !globals.Run.InsideSend && args.LockHeld == 0;
  globals.Run.SendInBackground = send && output.StartSend && output.StartSend(background);
  if (!globals.Run.SendInBackground) CheckErrorsRate();
  if (dialog.RestartRequested) globals.Run.TerminateAsked = true;
}

}  // namespace

// --- Processing

uint8_t ProcessException(const TEmberNotifyArgs& args) {
  TEmberLibraryGlobals& library = EmberLibrary();
  TProcessingGlobals& globals = Globals();
  TEmberThreadVars& vars = ThreadVars();
  if (!library.CurrentOptions) return 1;
  std::optional<TSendPutAside> aside;
  if (IsSendUnderWayOn(args.Params.ThreadID)) {
    aside.emplace();
  } else {
    globals.EndAskedInsideSend = 0;
  }
  ReleaseReservedMemory();
  uint8_t result = 0;
  std::vector<uint32_t> frozen;
  std::unique_ptr<TEmberThreadsList> threads;
  std::string folder;
  globals.Run.Inline = EmberCurrentThreadID() == args.Params.ThreadID;
  globals.Run.SendInBackground = false;
  globals.Run.TerminateAsked = false;
  // What the run leaves when it ends before its send (a send in the background goes on with the
  // call stack and the companion folder, and frees them).
  const auto leave = [&] {
    for (uint32_t handle : frozen) ResumeThreadHandle(handle);
    frozen.clear();
    if (!globals.Run.SendInBackground) {
      FreeCallStack();
      RemoveCompanionFolder(folder);
      SetCompanionFolder(std::string());
      folder.clear();
    }
  };
  // The runtime ends the code of the thread this runs on (a hook of the processing lets an
  // exception leave a function that may not raise): nothing of the run stays behind.
  const TOnThreadEnd cutShort([&] {
    leave();
    vars.Processing = 0;
    library.ProcessingRecord = nullptr;
    ReserveMemory();
    aside.reset();
  });
  try {
    // A web framework with its own error page answers for the main thread.
    const TEmberReportOutput output = EmberReportOutput();
    if (output.IsWebFrameworkHandling && output.IsWebFrameworkHandling() &&
        args.Params.ThreadID == library.MainThreadID) {
      ReserveMemory();
      return 1;
    }
    // The run's companion files are its own, whatever else sends meanwhile (ELogManager.h).
    folder = MakeCompanionFolder();
    SetCompanionFolder(folder);
    SetEmberStep(1);
    TEmberReportFacts& facts = ReportFacts();
    facts.ExceptionTime = ember_support::LocalNow();
    facts.ExceptionObject = args.Object;
    facts.ControlClass = args.Params.ActiveControlClass;
    facts.ControlText = args.Params.ActiveControlText;
    RecordScreenshotFocus(args.Params.FocusWindow, args.Params.Cursor);
    vars.Processing = 1;
    threads = std::make_unique<TEmberThreadsList>(library.ThreadsList.get());
    uintptr_t address = args.Address;
    if (args.RaisedByRuntime != 0 && address >= 5) address -= 5;
    facts.ExceptionAddress = address;
    library.CurrentException.ExceptionObject = args.Object;
    library.CurrentException.ExceptionAddress = address;
    library.CurrentException.ExceptionThreadID = args.Params.ThreadID;
    DropChangedModules();
    RunSteps(args, address, *threads, result, frozen);

    SetEmberStep(0x11);
    leave();
    if (!globals.Run.TerminateAsked && globals.Run.FilterHandler == 2 && globals.Run.FilterAction != 0) {
      library.CurrentOptions->SetTerminateAction(globals.Run.FilterAction);
      globals.Run.TerminateAsked = true;
    }
    if (args.RaiseKind == 2 && (library.CurrentOptions->BehaviourOptions() & 0x80) != 0) result = 1;
    if (globals.Run.FilterHandler == 1) result = 1;
    SetEmberStep(0x12);
    // Inside a send the end waits for that send (TSendPutAside). With the report going out in the
    // background the end comes as this entry ends, once the send has the lock; the send, when done
    // first, ends the program itself.
    if (args.RaiseKind != 2 && args.AtEnd == 0 && !globals.Run.InsideSend) {
      if (!globals.Run.SendInBackground)
        TerminateApplicationIfAsked();
      else if (globals.Run.TerminateAsked)
        LeaveEndToEntry(library.CurrentOptions->TerminateAction());
    }
  } catch (...) {
    leave();
    vars.Processing = 0;
    library.ProcessingRecord = nullptr;
    ReserveMemory();
    ReportInternalError(std::to_string(GetEmberStep()));
    return result;
  }
  vars.Processing = 0;
  library.ProcessingRecord = nullptr;
  ReserveMemory();
  return result;
}

bool ShouldSend() {
  const TEmberModuleOptions* options = EmberLibrary().CurrentOptions.get();
  const TEmberDialogState& dialog = EmberDialogState();
  if (options == nullptr || (options->EMailSendMode() == 0 && options->WebSendMode() == 0)) return false;
  if (dialog.SendCancelled) return false;
  return dialog.SendAsked || options->ExceptionDialogType() == 0;
}

void CheckErrorsRate() {
  DeleteFileByName(GetScreenshotFileName());
  TEmberModuleOptions* options = EmberLibrary().CurrentOptions.get();
  const std::vector<std::string>& recent = Globals().RecentErrors;
  if (options == nullptr || IsRunningInIDE() || options->ErrorRateAction() == 0) return;
  if (static_cast<int32_t>(recent.size()) != options->ErrorRateCount() || recent.empty()) return;
  try {
    const double span = StrToFloatDot(recent.back()) - StrToFloatDot(recent.front());
    if (span <= options->ErrorRateMinutes() / 1440.0) {
      options->SetTerminateAction(options->ErrorRateAction());
      Globals().Run.TerminateAsked = true;
    }
  } catch (const EConvertError&) {
    // a damaged entry ends the rule for this time
  }
}

void FreeCallStack() {
  Globals().Run.CallStack.reset();
  EmberLibrary().CurrentException.CallStack = nullptr;
}

TEmberStackList* CurrentCallStack() { return Globals().Run.CallStack.get(); }

void TerminateApplicationIfAsked() {
  TProcessingGlobals& globals = Globals();
  const TEmberModuleOptions* options = EmberLibrary().CurrentOptions.get();
  uint8_t action = globals.Run.TerminateAsked && options != nullptr ? options->TerminateAction() : 0;
  // An exception processed inside this send asked: its end comes now that the send is done.
  if (action == 0) action = globals.EndAskedInsideSend;
  globals.Run.TerminateAsked = false;
  globals.EndAskedInsideSend = 0;
  if (action == 0 || !TakeTheEnd()) return;
  // The end cuts short the work that removes this run's companion folder (a send acts on the end
  // before it is done with its folder).
  RemoveCompanionFolder(GetCompanionFolder());
  SetCompanionFolder(std::string());
  // A guard: no report of this module should still wait to go out here. A send in the
  // background has the library lock before the next exception is processed, and one decided on
  // while the thread held the lock already goes out at once (RunSteps). Should one still be
  // going out, it goes out first.
  RunBeforeProcessEnd();
  EndApplication(action == 2);
}

std::vector<std::string>& RecentErrors() { return Globals().RecentErrors; }

std::string ComputeExceptionID(const std::string& applicationVersion, const std::string& moduleVersion,
                               const std::string& typeName, const TEmberStackList* callStack) {
  std::string text = applicationVersion + moduleVersion + typeName;
  if (callStack != nullptr && callStack->Count() > 0) {
    const uint32_t thread = callStack->GetItem(0)->ThreadID;
    for (int32_t i = 0; i < callStack->Count(); ++i) {
      const TEmberStackItem& item = *callStack->GetItem(i);
      if (item.Kind != 4 || item.ThreadID != thread) continue;
      text += item.UnitName.Str() + item.ClassName.Str() + item.ProcedureName.Str() + std::to_string(item.LineOffset);
    }
  }
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(Crc16String(text)));
  return digits;
}

// --- Start-up

namespace {
// The attachment's state in one word, changed by compare-and-swap only: the users holding the
// library (the plug-ins open) in the low bits, the phase above them. No lock guards it, so that a
// thread stopped anywhere (killed, hung) leaves no open or close waiting for a lock of its. The
// work of a phase that takes time (attaching, the last close, detaching) belongs to the thread
// that holds the work lock: a lock of the system's, whose next owner learns that its holder ended
// without giving it back and takes that work over (Repair). Attached with no holder: a close is
// pending (put off, or about to take the work).
enum TAttachPhase : uint32_t { kDetached, kAttaching, kAttached, kClosing, kDetaching };
constexpr uint32_t kHoldsMask = 0x00FFFFFF;
std::atomic<uint32_t> gAttachState{0};

uint32_t PhaseOf(uint32_t state) { return state >> 24; }
uint32_t HoldsOf(uint32_t state) { return state & kHoldsMask; }
uint32_t StateOf(uint32_t phase, uint32_t holds) { return phase << 24 | holds; }

// Moves to `phase`, keeping what was counted meanwhile and adding `holds`; only the thread that
// has the work changes the phase.
void EnterPhase(uint32_t phase, uint32_t holds = 0) {
  uint32_t state = gAttachState.load();
  while (!gAttachState.compare_exchange_weak(state, StateOf(phase, HoldsOf(state) + holds))) {
  }
}

std::atomic<uintptr_t> gWorkLock{0};
thread_local int32_t tWorking = 0;  // the calling thread has the work
// An open waits for another thread's attachment or detachment in slices, as long as a close may
// wait for the sends at most.
constexpr uint32_t kWorkSliceMs = 50;

uintptr_t WorkLock() { return ember_detail::LockObjectIn(gWorkLock); }

// Given back when the module unloads (static objects end at DLL_PROCESS_DETACH), as the library
// lock is: a host that loads and unloads the module again and again pays no handle for each load.
struct TWorkLockAtUnload {
  ~TWorkLockAtUnload() { ember_detail::PlatformDestroyLockObject(gWorkLock.exchange(0)); }
} gWorkLockAtUnload;

enum class TWork { Had, TakenOver, NotNow };
// Takes the work lock within `milliseconds`, answering what is sent to the thread's windows
// meanwhile (the host may open a plug-in there). TakenOver: its holder ended holding it.
TWork TakeWork(uint32_t milliseconds) {
  switch (ember_detail::PlatformWaitLockObject(WorkLock(), milliseconds, ember_detail::PlatformHasMessageQueue())) {
    case ember_detail::TLockWait::Taken:
      ++tWorking;
      return TWork::Had;
    case ember_detail::TLockWait::Abandoned:
      ++tWorking;
      return TWork::TakenOver;
    default:
      return TWork::NotNow;
  }
}

std::atomic<void (*)()> gModuleStart{nullptr}, gModuleStop{nullptr};

bool SettleForHeir();

void AttachReporting() {
  // Never taken out: a detachment cut short may leave the library half attached.
  SetAttachmentHeir(&SettleForHeir);
  ReportFacts().StartTime = ember_support::LocalNow();
  JoinModuleLists(true);
  SetProcessExceptionProc(&ProcessException);
  SetExceptionCopier(&CopyObject, [](const std::exception* copy) { FreeObjectCopy(copy); });
  SetEmberMainWindowFinder(&MainWindowOf);
  ReserveMemory();
  OpenSendThreads();
  InstallSendsBeforeProcessEnd(true);
  StartExceptionLog();
}

// The module's work (its start and its stop) runs as the attachment's own: what it raises on this
// thread is not processed.
struct TModuleWorkRunning {
  TModuleWorkRunning() { ++ThreadVars().LibraryWork; }
  ~TModuleWorkRunning() { --ThreadVars().LibraryWork; }
};

// The module's options are answered on every thread while its start work runs, so that a thread
// the work waits for, or a DLL's or TLS callback run meanwhile, need not wait for the library lock
// the work holds.
struct TOwnOptionsOffered {
  TOwnOptionsOffered() { OfferOwnOptions(true); }
  ~TOwnOptionsOffered() { OfferOwnOptions(false); }
};

// What the detachment ends before its pass through the library lock: the sends (waited for, or
// given up) and the freeze watch (told to end; joined once the lock is given back).
void CloseSendsAndWatch() {
  SafeCallProc(&CloseSendThreads, "ESendReport.Done");
  StopFreezeThread();
}

// The library attached, then the module's work started, the library lock held across both: the
// work finds the library's options (its own module's are made as the library attaches), and no
// exception is processed before what that work installs is there (the report's dialogs and
// send); one raised on another thread meanwhile waits for the lock. `undoFailure`: a failure
// takes both down again before the lock goes, so that what waited for it finds the library
// detached rather than half installed, and raises (the open that attaches fails); otherwise the
// library stays attached as far as it came (plug-ins hold it already).
void TakeDown(bool locked);
void BringUp(bool undoFailure) {
  TEmberLibraryLock& lock = EmberLibrary().LibraryLock;
  lock.lock();
  try {
    AttachReporting();
    // Also across the rethrow of what the work raised: the library is attached there, and would
    // process it as raised anew.
    const TModuleWorkRunning running;
    try {
      if (void (*start)() = gModuleStart.load()) {
        const TOwnOptionsOffered offered;
        start();
      }
    } catch (...) {
      if (undoFailure) throw;
    }
  } catch (...) {
    if (!undoFailure) {
      lock.unlock();
      return;
    }
    CloseSendsAndWatch();
    TakeDown(true);
    throw;
  }
  lock.unlock();
}

// The module's work stopped, then the library detached and what the report side keeps put back
// and freed (the socket library a report started is cleaned up). The library lock is held from
// its one pass to the end of the reset, so that no entry processes meanwhile; one that waited
// finds the library off. Each step may run again (a detachment cut short is done again).
// `locked`: the caller holds the lock already, after the sends (CloseSendsAndWatch); it is given
// back here.
void TakeDown(bool locked) {
  TEmberLibraryGlobals& library = EmberLibrary();
  library.Closing = true;
  if (!locked) {
    // The work of a thread that ended inside it: a freeze watch's report may wait for the lock,
    // handed to this thread by its waiters (SettleForHeir), so the watch is only told to end here
    // and joined once the lock is given back.
    SafeCallProc(&CloseSendThreads, "ESendReport.Done");
    TellFreezeThreadToEnd();
    library.LibraryLock.lock();
  }
  // A start work killed inside left its offer of the options on: the entry it offers goes with the
  // list below, and the list is the library lock's alone again.
  OfferOwnOptions(false);
  try {
    const TModuleWorkRunning running;
    if (void (*stop)() = gModuleStop.load()) stop();
  } catch (...) {
    // the library detaches all the same
  }
  try {
    StopExceptionLog();
    SafeCallProc(&CleanupWinSock, "ESockets.Done");
    SetProcessExceptionProc(nullptr);
    SetEmberMainWindowFinder(nullptr);
    InstallSendsBeforeProcessEnd(false);
    FreeCallStack();
    Globals().RecentErrors.clear();
    CloseLogFile();
    FreeScreenshot();
    ReleaseReservedMemory();
    JoinModuleLists(false);
  } catch (...) {
    // what failed stays as it was; the close ends all the same
  }
  library.LibraryLock.unlock();
  StopFreezeThread();  // joins a watch the detachment could only tell to end
}

// After a detachment: detached, or up again for the users counted meanwhile (an open on the
// detaching thread itself, or one that waited as long as it may).
void Settle() {
  uint32_t state = gAttachState.load();
  while (!gAttachState.compare_exchange_weak(state, StateOf(HoldsOf(state) > 0 ? kAttaching : kDetached,
                                                            HoldsOf(state)))) {
  }
  if (HoldsOf(state) > 0) {
    BringUp(false);
    EnterPhase(kAttached);
  }
  EmberLibrary().Closing = false;
}

// The last close, undone: opened again before it decided.
void Reopen() {
  OpenSendThreads();
  StartFreezeThread();
  EnterPhase(kAttached);
  EmberLibrary().Closing = false;
}

// The last close (phase Closing, this thread has the work). A report still being sent in the
// background ends first, and one that an exception being processed now decides on is sent before
// the processing ends: a send uses the library's state and runs the module's code, and the host
// may unload the module once this returns. The sends are waited for EmberSendWaitLimitMs in all;
// one still going then is given up where it waits (it touches nothing more, and keeps the module
// loaded until its thread ends), and the lock it holds goes to the one pass below, which waits
// for the exception being processed; what comes in meanwhile is answered at once (Closing). An
// open until the close holds the lock (in a message its waits answer, on another thread, in the
// code of the processing it waits for, on that processing's worker) counts itself and goes on:
// the close then leaves the library attached, and exceptions are processed again from that open
// on (nothing will be reset under them).
void RunClose() {
  TEmberLibraryGlobals& library = EmberLibrary();
  library.Closing = true;
  // Opened again before it was set: the open's clearing may have come first.
  if (HoldsOf(gAttachState.load()) > 0) {
    Reopen();
    return;
  }
  CloseSendsAndWatch();
  // Opened again meanwhile: the close is undone without waiting for the lock, which the
  // opened plug-ins' exceptions may now hold as long as their processing takes. Opened and
  // closed again: what comes in is answered at once again (set before the holds are asked, as
  // above), so the close does not wait behind it.
  while (!library.LibraryLock.LockWithin(kWorkSliceMs, ember_detail::PlatformHasMessageQueue(), false)) {
    library.Closing = true;
    if (HoldsOf(gAttachState.load()) > 0) {
      Reopen();
      return;
    }
  }
  uint32_t undecided = StateOf(kClosing, 0);
  if (!gAttachState.compare_exchange_strong(undecided, StateOf(kDetaching, 0))) {
    library.LibraryLock.unlock();
    Reopen();
    return;
  }
  TakeDown(true);
  Settle();
}

// The work a thread left when it ended holding the work lock: an attachment is done again (undone
// when nobody holds the library), a close that had not decided is undone when the library is
// held again and carried on otherwise, a detachment is done again.
void Repair() {
  const uint32_t state = gAttachState.load();
  switch (PhaseOf(state)) {
    case kAttaching:
    case kDetaching:
      EnterPhase(kDetaching);
      TakeDown(false);
      Settle();
      break;
    case kClosing:
      if (HoldsOf(state) > 0)
        Reopen();
      else
        RunClose();
      break;
    default:
      break;
  }
}

void CarryOnWorkOfGoneThread();

// The work lock had for the calling thread's work: what a thread that ended holding it left is
// finished or undone first. Should this thread end inside too, the next entry of another thread
// carries it on (MarkAttachmentWork).
class TWorkHad {
 public:
  explicit TWorkHad(TWork how) {
    MarkAttachmentWork(&CarryOnWorkOfGoneThread);
    if (how != TWork::TakenOver) return;
    try {
      Repair();
    } catch (...) {
      // what could not be done again is left as it came
    }
  }
  ~TWorkHad() {
    MarkAttachmentWork(nullptr);
    --tWorking;
    ember_detail::PlatformReleaseLockObject(WorkLock());
  }
  TWorkHad(const TWorkHad&) = delete;
  TWorkHad& operator=(const TWorkHad&) = delete;
};

// The last close, unless the library was held again meanwhile.
void CloseIfNotHeld(uint32_t waitMs) {
  if (tWorking > 0) return;
  const TWork how = TakeWork(waitMs);
  if (how == TWork::NotNow) return;  // a live thread has the work, and sees it through
  const TWorkHad work(how);
  uint32_t pending = StateOf(kAttached, 0);
  if (gAttachState.compare_exchange_strong(pending, StateOf(kClosing, 0))) RunClose();
}

void ClosePutOff() { CloseIfNotHeld(~0u); }
// Left by a thread that ended inside the attachment's work, for the next entry of another thread
// or a send that is done: nothing when a live thread has the work.
void CarryOnWorkOfGoneThread() { CloseIfNotHeld(0); }

// The heir of the library lock (SetAttachmentHeir): an attachment or detachment whose thread ended
// holding the lock is undone or finished before anything is processed with what it left. False:
// a live thread has that work (it took it over, or goes on to its next phase) and needs the lock
// for it, while the library is on.
bool SettleForHeir() {
  if (tWorking > 0) return true;  // the work is this thread's own
  const uint32_t phase = PhaseOf(gAttachState.load());
  if (phase != kAttaching && phase != kDetaching) return true;
  const TWork how = TakeWork(0);
  if (how == TWork::NotNow) return EmberLibrary().LibraryOn == 0;
  const TWorkHad work(how);
  return true;
}

// An open or close counted while another thread's work was under way: a thread that ended inside
// it (killed) is not waited for; its work is finished or undone here.
void JudgeWork() {
  if (tWorking > 0) return;
  const TWork how = TakeWork(0);
  if (how != TWork::NotNow) {
    const TWorkHad work(how);
  }
}
}  // namespace

void SetReportingModuleWork(void (*start)(), void (*stop)()) {
  gModuleStart = start;
  gModuleStop = stop;
}

void StartExceptionReporting() {
  const int64_t began = EmberNowMs();
  for (;;) {
    uint32_t state = gAttachState.load();
    const uint32_t phase = PhaseOf(state);
    // Attached, or a last close that has not decided yet: counted, and the close leaves the
    // library attached. On the thread doing the attachment's work (a message it answers), or past
    // the bound of another thread's work: counted, and the library is up at that work's end.
    if (phase == kAttached || phase == kClosing || tWorking > 0 ||
        (phase != kDetached && EmberNowMs() - began >= EmberSendWaitLimitMs)) {
      if (!gAttachState.compare_exchange_weak(state, state + 1)) continue;
      if (phase == kAttached && HoldsOf(state) == 0) CancelPutOffClose();
      if (phase == kClosing) {
        // The close this open undoes no longer answers exceptions unprocessed: this plug-in's
        // are processed (waiting for the lock as at any time). No later close can begin before
        // this open's hold is given back, so the store undoes no other close's.
        EmberLibrary().Closing = false;
        JudgeWork();
      }
      return;
    }
    // Detached: this open attaches. Attaching or detaching: another thread's work, waited for
    // (answering what is sent to this thread's windows), and taken over if its thread ended.
    const TWork how = TakeWork(kWorkSliceMs);
    if (how == TWork::NotNow) continue;
    const TWorkHad work(how);
    state = gAttachState.load();
    if (PhaseOf(state) != kDetached || !gAttachState.compare_exchange_strong(state, StateOf(kAttaching, HoldsOf(state))))
      continue;
    try {
      BringUp(true);
    } catch (...) {
      EmberLibrary().Closing = false;
      EnterPhase(kDetached);
      throw;
    }
    EnterPhase(kAttached, 1);
    return;
  }
}

void StopExceptionReporting() {
  for (;;) {
    uint32_t state = gAttachState.load();
    const uint32_t holds = HoldsOf(state);
    if (holds == 0) return;
    // Not the last, or inside another phase's work, which finds the holds when it ends (unless
    // its thread ended inside it).
    if (holds > 1 || PhaseOf(state) != kAttached) {
      if (!gAttachState.compare_exchange_weak(state, state - 1)) continue;
      if (PhaseOf(state) != kAttached) JudgeWork();
      return;
    }
    if (gAttachState.compare_exchange_weak(state, StateOf(kAttached, 0))) break;
  }
  // Inside an exception's processing on this thread (its dialog answers the host's messages):
  // the detachment waits for that processing's end, which uses the library's state.
  if (PutOffUntilEntryEnds(&ClosePutOff)) return;
  ClosePutOff();
}
