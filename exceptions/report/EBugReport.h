// The bug-report text builder: the head of the report (banner and numbered sections), the framed
// call-stack, modules and processes tables, the CPU section with its memory dump, and the whole
// report joined from these pieces, kept for the dialogs, the log writer and the senders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TEmberModuleOptions;
class TEmberStackList;
class TEmberModulesList;
class TEmberProcessesList;
class TEmberThreadsList;
class TEmberMemory;
struct TEmberStackItem;
struct TEmberModuleInfo;
struct TEmberProcessInfo;

// The banner on the first line of every report.
extern const char* const EmberReportBanner;  // "EmberLog 6.0.24"

// --- Report pieces (written only by BugReportText, under the library's processing lock)

struct TEmberReportPieces {
  std::string ReportHeadText;       // banner, CR LF CR LF, the numbered sections
  std::string ReportTablesText;     // call stack, modules and processes tables
  std::string ReportAssemblerHead;  // heading of the assembler section
  std::string ReportAssemblerText;  // listing around the exception address (or empty)
  std::string ReportCPUText;        // registers and memory dump
  std::string ReportText;           // all of the above joined
  std::string LastReportText;       // what is sent; the log writer may replace it by the whole log
  std::string DialogHeadText;       // shown by the dialogs above the report
};
TEmberReportPieces& ReportPieces();

// The step the builder (and the rest of the processing) is at; the processing passes its decimal
// text as the section of an internal-error report when something escapes.
int32_t GetEmberStep();
void SetEmberStep(int32_t step);

// --- Inputs

// The registers of the faulting thread that the CPU section shows.
struct TEmberRegisters {
  uint32_t Eax = 0, Edi = 0, Ebx = 0, Esi = 0, Ecx = 0, Esp = 0, Edx = 0, Eip = 0;
};

// The values of the head's fields, by their ReportItems bit (0..46; bit 19 is "Privileges" and
// bit 20 "Company").
constexpr int32_t EmberHeadFieldCount = 47;
struct TEmberReportHeadValues {
  std::string Values[EmberHeadFieldCount];
  // A web application or a console program has no active controls to show.
  bool HideActiveControls = false;
};

// What one report is built from; nothing is owned. Every pointer may be null.
struct TEmberBugReportInput {
  const TEmberModuleOptions* Options = nullptr;
  const void* ExceptionObject = nullptr;
  uint32_t ExceptionAddress = 0;
  const TEmberRegisters* Context = nullptr;  // absent for a software exception without context
  uint32_t StackPointer = 0;
  std::string ReportID;
  const TEmberStackList* CallStack = nullptr;
  const TEmberModulesList* Modules = nullptr;
  const TEmberProcessesList* Processes = nullptr;
  TEmberThreadsList* Threads = nullptr;  // for the block captions (priority, class, main mark)
};

// --- Pieces (portable; `options` null means the default English texts and every item shown)

// The options' text `index`, %NAME% variables expanded; the default text without options.
std::string ReportCaption(const TEmberModuleOptions* options, int32_t index);

// The numbered sections of the head (without the banner), with the field visibility of the
// options' ReportItems.
std::string BuildReportHead(const TEmberModuleOptions* options, const TEmberReportHeadValues& values);

// The kind of a call-stack block: the first one is the faulting thread's, a block of another
// running thread has RunningThread set, anything else is a saved stack of a calling thread.
enum class TEmberBlockKind { ExceptionThread, RunningThread, CallingThread };

// The caption of the block that `entry` opens (see TEmberBlockKind); `forReport` adds the "*" and
// "+" marks and always writes the class. The threads list (may be null) gives the priority,
// the class and, for an entry without a priority yet, keeps the one read from the thread.
std::string BlockCaption(const TEmberStackItem& entry, TEmberBlockKind kind, bool forReport,
                         const TEmberModuleOptions* options, TEmberThreadsList* threads);

// One listed call-stack entry (its kind is in the detail flags) and the block it belongs to: a
// new block begins at the first entry, at a change of thread or of RunningThread, and at an
// entry marked IsFirst.
struct TEmberListedEntry {
  const TEmberStackItem* Item = nullptr;
  bool OpensBlock = false;
  bool FirstBlock = false;  // the entry opens the first block
  TEmberBlockKind Kind = TEmberBlockKind::ExceptionThread;
};
std::vector<TEmberListedEntry> ListCallStack(const TEmberStackList* stack, uint8_t detailFlags);

// The cells of one row as the tables write them, in column order: a call-stack entry (address,
// module, unit, class, procedure, line with its offset in brackets), a module (handle, name,
// description, version, size, modified, folder) and a process (id, name, description, version,
// memory, priority, threads, folder). Line breaks and bars in the texts become "?".
std::vector<std::string> CallStackEntryCells(const TEmberStackItem& item);
std::vector<std::string> ModuleRowCells(const TEmberModuleInfo& info);
std::vector<std::string> ProcessRowCells(const TEmberProcessInfo& info);

// The framed call-stack table; entries whose kind is not in `detailFlags` (bit n for kind n;
// kinds above 7 never) are skipped. A null stack gives the table without rows.
std::string BuildCallStackTable(const TEmberModuleOptions* options, const TEmberStackList* stack,
                                uint8_t detailFlags, TEmberThreadsList* threads);
// The framed modules and processes tables; null lists give tables without rows.
std::string BuildModulesTable(const TEmberModuleOptions* options, const TEmberModulesList* modules);
std::string BuildProcessesTable(const TEmberModuleOptions* options, const TEmberProcessesList* processes);
// Title, ":", CR LF, dashes as long as the title and colon, CR LF CR LF.
std::string BuildEmptyTableHeading(const std::string& title);

// "Low", "Below-Normal", "Normal", "Above-Normal", "High", "Real-Time"; empty for other values.
std::string PriorityClassText(uint32_t priorityClass);

// 16 lines of stack words beside code bytes; empty unless the 64 bytes at `stackPointer` and the
// 256 bytes at `exceptionAddress` can be read from `memory`.
std::string BuildMemoryDump(const TEmberMemory& memory, uint32_t stackPointer, uint32_t exceptionAddress);
// The CPU section with the registers ("????    " for each without a context) and the dump.
std::string BuildCPUText(const TEmberModuleOptions* options, const TEmberRegisters* context,
                         const std::string& memoryDump);

// Builds every piece of ReportPieces() for the exception and joins ReportText (copied to
// LastReportText). The head's values come from the platform (GatherReportHeadValues). Exceptions
// raised inside propagate; the step register tells where.
void BugReportText(const TEmberBugReportInput& input);

// The head's values for the exception: Windows asks the system; elsewhere only the values kept
// by the library (dates, up time, address, type, message, identifier, e-mail, control) are set.
void GatherReportHeadValues(const TEmberBugReportInput& input, TEmberReportHeadValues& values);

// --- Thread facts (platform; tests install their own)

struct TEmberThreadFacts {
  // The priority of a thread (a handle from the threads list, else 0 and its id); 0 when unknown.
  int32_t (*Priority)(uint32_t handle, uint32_t threadID) = nullptr;
  // The id of the process's main thread; 0 when unknown.
  uint32_t (*MainThreadID)() = nullptr;
};
// nullptr restores the platform's.
void SetEmberThreadFacts(const TEmberThreadFacts* facts);
