// The bug-report text builder: head, framed tables, CPU section and the joined report.
#include "EBugReport.h"

#include <atomic>
#include <cstdio>
#include <vector>

#include "EDisasmText.h"
#include "ELogFile.h"
#include "ESupport.h"
#include "ESysUtils.h"
#include "classlib/SysUtils.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/EmberTexts.h"
#include "exceptions/capture/ECallStack.h"
#include "EReportValues.h"
#include "detail/EBugReportPlatform_p.h"
#include "exceptions/capture/EmberRecords.h"

const char* const EmberReportBanner = "EmberLog 6.0.24";

namespace {

const char* const kCrLf = "\r\n";

TEmberReportPieces gPieces;
std::atomic<int32_t> gStep{0};
TEmberThreadFacts gThreadFacts;
bool gThreadFactsInstalled = false;

int32_t Len(const std::string& text) { return static_cast<int32_t>(text.size()); }

std::string Hex8(uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

std::string FilePart(const std::string& fileName) {
  size_t slash = fileName.find_last_of("\\/");
  return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

// No cell may break the framing of a table.
std::string CellText(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n' || c == '|') c = '?';
  return text;
}

// Cut to `width` or padded with blanks to it.
std::string Fit(const std::string& text, int32_t width) {
  if (width < 0) width = 0;
  if (Len(text) > width) return text.substr(0, static_cast<size_t>(width));
  return PadRight(text, width);
}

// "|a|b|c|" with each cell padded to its column, CR LF at the end.
std::string Row(const std::vector<std::string>& cells, const std::vector<int32_t>& widths) {
  std::string row = "|";
  for (size_t i = 0; i < cells.size(); ++i) row += Fit(cells[i], widths[i]) + "|";
  return row + kCrLf;
}

int32_t Sum(const std::vector<int32_t>& widths) {
  int32_t sum = 0;
  for (int32_t w : widths) sum += w;
  return sum;
}

void Grow(std::vector<int32_t>& widths, const std::vector<std::string>& cells) {
  for (size_t i = 0; i < cells.size(); ++i)
    if (Len(cells[i]) > widths[i]) widths[i] = Len(cells[i]);
}

// A framed table: title, separator, title row, separator, rows, separator, empty line.
std::string FramedTable(const std::string& title, const std::vector<std::string>& titles,
                        const std::vector<std::vector<std::string>>& rows, std::vector<int32_t> widths) {
  for (size_t i = 0; i < titles.size(); ++i)
    if (Len(titles[i]) > widths[i]) widths[i] = Len(titles[i]);
  for (const auto& cells : rows) Grow(widths, cells);
  std::string separator(static_cast<size_t>(Sum(widths)) + widths.size() + 1, '-');
  std::string text = title + ":" + kCrLf + separator + kCrLf;
  text += Row(titles, widths);
  text += separator + kCrLf;
  for (const auto& cells : rows) text += Row(cells, widths);
  text += separator + kCrLf + kCrLf;
  return text;
}

}  // namespace

std::vector<std::string> CallStackEntryCells(const TEmberStackItem& item) {
  std::string module = item.Kind != 0 && item.ModuleInfo ? FilePart(item.ModuleInfo->FileName) : std::string();
  std::string line;
  if (item.Line != 0) line = std::to_string(item.Line) + "[" + std::to_string(item.LineOffset) + "]";
  return {Hex8(item.Address), CellText(module), CellText(item.UnitName.Str()), CellText(item.ClassName.Str()),
          CellText(item.ProcedureName.Str()), line};
}

namespace {

bool Listed(const TEmberStackItem& item, uint8_t detailFlags) {
  return item.Kind <= 7 && (detailFlags & (1u << item.Kind)) != 0;
}

int32_t PlatformPriority(uint32_t handle, uint32_t threadID) {
  return gThreadFactsInstalled && gThreadFacts.Priority ? gThreadFacts.Priority(handle, threadID)
                                                         : ember_report_detail::ThreadPriority(handle, threadID);
}

uint32_t PlatformMainThreadID() {
  return gThreadFactsInstalled && gThreadFacts.MainThreadID ? gThreadFacts.MainThreadID()
                                                             : ember_report_detail::MainThreadID();
}

}  // namespace

TEmberReportPieces& ReportPieces() { return gPieces; }

int32_t GetEmberStep() { return gStep.load(); }
void SetEmberStep(int32_t step) { gStep.store(step); }

void SetEmberThreadFacts(const TEmberThreadFacts* facts) {
  gThreadFactsInstalled = facts != nullptr;
  gThreadFacts = facts ? *facts : TEmberThreadFacts();
}

std::string ReportCaption(const TEmberModuleOptions* options, int32_t index) {
  return options ? options->GetCustomizedExpandedText(index) : std::string(GetDefaultText(index));
}

// --- Head

std::string BuildReportHead(const TEmberModuleOptions* options, const TEmberReportHeadValues& values) {
  struct Field {
    int32_t Text;  // section title when Bit is -1
    int32_t Bit;
  };
  static const Field kFields[] = {
      {37, -1}, {38, 0},  {39, 1},  {40, 2},  {41, 3},  {42, 4},  {43, 5},
      {44, -1}, {45, 6},  {46, 7},  {47, 8},  {48, 9},  {49, 10}, {50, 11}, {51, 12}, {52, 13}, {53, 14}, {54, 15},
      {55, -1}, {56, 16}, {57, 17}, {58, 18}, {59, 20}, {60, 19},
      {61, -1}, {62, 21}, {63, 22}, {64, 23}, {65, 24},
      {66, -1}, {67, 25}, {68, 26}, {69, 27}, {70, 28}, {71, 29}, {72, 30}, {73, 31}, {74, 32}, {75, 33},
      {76, 34}, {77, 35},
      {78, -1}, {79, 36}, {80, 37}, {81, 38}, {82, 39}, {83, 40},
      {84, -1}, {85, 41}, {86, 42}, {87, 43}, {88, 44}, {89, 45}, {90, 46},
  };
  uint64_t items = options ? options->ReportItems() : EmberAllReportItems;
  TLogItem log(0);
  SetEmberStep(702200);
  for (const Field& field : kFields) {
    if (field.Bit < 0) {
      log.AddSection(ReportCaption(options, field.Text));
      continue;
    }
    bool visible = (items >> field.Bit) & 1u;
    if (field.Bit >= 21 && field.Bit <= 24 && values.HideActiveControls) visible = false;
    log.AddItem(ReportCaption(options, field.Text), values.Values[field.Bit], visible);
  }
  SetEmberStep(702233);
  return log.BuildText();
}

// --- Call stack

std::string BlockCaption(const TEmberStackItem& entry, TEmberBlockKind kind, bool forReport,
                         const TEmberModuleOptions* options, TEmberThreadsList* threads) {
  char number[40];
  std::string text;
  if (entry.IsLeak != 0) {
    if (forReport) text += "+";
    std::string type = entry.LeakType.Str();
    if (type == "Data") type = ReportCaption(options, 106);
    std::snprintf(number, sizeof number, "%u", entry.LeakSize);
    std::string size = number;
    std::snprintf(number, sizeof number, "%u", entry.LeakCount);
    text += ReportCaption(options, 105) + ": " + ReportCaption(options, 107) + "=" + type + "; " +
            ReportCaption(options, 108) + "=" + size + "; " + ReportCaption(options, 109) + "=" + number;
    return text;
  }
  switch (kind) {
    case TEmberBlockKind::ExceptionThread:
      if (forReport) text += "*";
      text += ReportCaption(options, 99) + ": ";
      break;
    case TEmberBlockKind::RunningThread:
      text += ReportCaption(options, 100) + ": ";
      break;
    case TEmberBlockKind::CallingThread:
      text += ReportCaption(options, 101) + ": ";
      break;
  }
  // The thread's record, copied under the read lock.
  bool found = false;
  TEmberThreadInfo record;
  if (threads) {
    threads->BeginRead();
    int32_t index = threads->IndexOfThreadID(entry.ThreadID);
    if (index >= 0) {
      const TEmberThreadInfo* info = threads->GetItem(index);
      record.Handle = info->Handle;
      record.Reserved = info->Reserved;
      record.ThreadClass = info->ThreadClass;
      found = true;
    }
    threads->EndRead();
  }
  int32_t priority;
  if (found && record.Reserved != 0x80000000u) {
    priority = static_cast<int32_t>(record.Reserved);
  } else {
    priority = PlatformPriority(found ? record.Handle : 0, entry.ThreadID);
    if (found && threads) {
      threads->BeginWrite();
      int32_t index = threads->IndexOfThreadID(entry.ThreadID);
      if (index >= 0) threads->GetItem(index)->Reserved = static_cast<uint32_t>(priority);
      threads->EndWrite();
    }
  }
  std::string className = found ? record.ThreadClass : std::string();
  if (className.empty()) className = "??";
  std::snprintf(number, sizeof number, "%u", entry.ThreadID);
  text += ReportCaption(options, 102) + "=" + number + "; " + ReportCaption(options, 103) + "=" +
          std::to_string(priority);
  if (forReport || !className.empty()) text += "; " + ReportCaption(options, 104) + "=" + className;
  uint32_t mainThread = PlatformMainThreadID();
  if (mainThread != 0 && mainThread == entry.ThreadID) text += "; [" + ReportCaption(options, 98) + "]";
  if (!entry.Extra.Empty()) text += " (" + entry.Extra.Str() + ")";
  return text;
}

std::vector<TEmberListedEntry> ListCallStack(const TEmberStackList* stack, uint8_t detailFlags) {
  std::vector<TEmberListedEntry> listed;
  if (!stack) return listed;
  const TEmberStackItem* previous = nullptr;
  for (int32_t i = 0; i < stack->Count(); ++i) {
    const TEmberStackItem* item = stack->GetItem(i);
    if (!item || !Listed(*item, detailFlags)) continue;
    TEmberListedEntry entry;
    entry.Item = item;
    entry.OpensBlock = !previous || item->ThreadID != previous->ThreadID ||
                       item->RunningThread != previous->RunningThread || item->IsFirst == 1;
    entry.FirstBlock = !previous;
    entry.Kind = !previous                 ? TEmberBlockKind::ExceptionThread
                 : item->RunningThread != 0 ? TEmberBlockKind::RunningThread
                                            : TEmberBlockKind::CallingThread;
    if (!entry.OpensBlock && !listed.empty()) entry.Kind = listed.back().Kind;
    listed.push_back(entry);
    previous = item;
  }
  return listed;
}

std::string BuildCallStackTable(const TEmberModuleOptions* options, const TEmberStackList* stack,
                                uint8_t detailFlags, TEmberThreadsList* threads) {
  std::vector<std::string> titles;
  for (int32_t index = 92; index <= 97; ++index) titles.push_back(ReportCaption(options, index));
  std::vector<int32_t> widths;
  for (const std::string& title : titles) widths.push_back(Len(title));
  if (widths[0] < 8) widths[0] = 8;
  SetEmberStep(7027);
  std::vector<TEmberListedEntry> listed = ListCallStack(stack, detailFlags);
  for (const TEmberListedEntry& entry : listed) Grow(widths, CallStackEntryCells(*entry.Item));
  SetEmberStep(7028);
  int32_t sum = Sum(widths);
  std::string separator(static_cast<size_t>(sum + 7), '-');
  std::string text = ReportCaption(options, 8) + ":" + kCrLf + separator + kCrLf;
  text += Row(titles, widths) + separator + kCrLf;
  SetEmberStep(7029);
  if (stack) {
    int32_t inner = sum + 9 - 4;
    std::string dashes(static_cast<size_t>(inner), '-');
    // A caption wider than the table is kept whole: its row is then longer than the others.
    auto oneColumn = [&](const std::string& cell) {
      std::string row(1, '|');
      row += PadRight(cell, inner);
      row += "|\r\n";
      return row;
    };
    for (const TEmberListedEntry& entry : listed) {
      if (entry.OpensBlock) {
        if (!entry.FirstBlock) {
          text += oneColumn(dashes);
          if (entry.Item->RunningThread != 0) text += oneColumn(std::string());
        }
        text += oneColumn(CellText(BlockCaption(*entry.Item, entry.Kind, true, options, threads)));
        text += oneColumn(dashes);
      }
      text += Row(CallStackEntryCells(*entry.Item), widths);
    }
  }
  SetEmberStep(7030);
  text += separator + kCrLf + kCrLf;
  return text;
}

// --- Modules and processes

std::string BuildEmptyTableHeading(const std::string& title) {
  return title + ":" + kCrLf + std::string(title.size() + 1, '-') + kCrLf + kCrLf;
}

std::string PriorityClassText(uint32_t priorityClass) {
  switch (priorityClass) {
    case 64: return "Low";
    case 16384: return "Below-Normal";
    case 32: return "Normal";
    case 32768: return "Above-Normal";
    case 128: return "High";
    case 256: return "Real-Time";
    default: return std::string();
  }
}

std::vector<std::string> ModuleRowCells(const TEmberModuleInfo& info) {
  return {Hex8(static_cast<uint32_t>(info.Handle)), CellText(FilePart(info.FileName)), CellText(info.Description),
          CellText(info.Version), std::to_string(info.Size), FormatReportDate(info.FileDate),
          CellText(GetModulePathText(info.FileName))};
}

std::vector<std::string> ProcessRowCells(const TEmberProcessInfo& info) {
  return {std::to_string(info.ID), CellText(FilePart(info.Path)), CellText(info.Description), CellText(info.Version),
          std::to_string(info.Memory), PriorityClassText(info.Priority),
          info.Threads == 0 ? std::string("??") : std::to_string(info.Threads), CellText(GetModulePathText(info.Path))};
}

std::string BuildModulesTable(const TEmberModuleOptions* options, const TEmberModulesList* modules) {
  std::vector<std::string> titles;
  for (int32_t index = 126; index <= 132; ++index) titles.push_back(ReportCaption(options, index));
  std::vector<std::vector<std::string>> rows;
  if (modules) {
    for (int32_t i = 0; i < modules->Count(); ++i) {
      const TEmberModuleInfo* info = modules->GetItem(i);
      if (!info) continue;
      rows.push_back(ModuleRowCells(*info));
    }
  }
  std::vector<int32_t> widths(titles.size(), 0);
  widths[0] = 8;
  return FramedTable(ReportCaption(options, 10), titles, rows, widths);
}

std::string BuildProcessesTable(const TEmberModuleOptions* options, const TEmberProcessesList* processes) {
  std::vector<std::string> titles;
  for (int32_t index = 133; index <= 140; ++index) titles.push_back(ReportCaption(options, index));
  std::vector<std::vector<std::string>> rows;
  if (processes) {
    for (int32_t i = 0; i < processes->Count(); ++i) {
      const TEmberProcessInfo* info = processes->GetItem(i);
      if (!info) continue;
      rows.push_back(ProcessRowCells(*info));
    }
  }
  return FramedTable(ReportCaption(options, 12), titles, rows, std::vector<int32_t>(titles.size(), 0));
}

// --- CPU

std::string BuildMemoryDump(const TEmberMemory& memory, uint32_t stackPointer, uint32_t exceptionAddress) {
  uint8_t stack[64];
  uint8_t code[256];
  if (!memory.Read(stackPointer, stack, sizeof stack) || !memory.Read(exceptionAddress, code, sizeof code))
    return std::string();
  std::string dump;
  for (uint32_t i = 0; i < 16; ++i) {
    uint32_t word = static_cast<uint32_t>(stack[i * 4]) | static_cast<uint32_t>(stack[i * 4 + 1]) << 8 |
                    static_cast<uint32_t>(stack[i * 4 + 2]) << 16 | static_cast<uint32_t>(stack[i * 4 + 3]) << 24;
    dump += Hex8(stackPointer + 4 * i) + ": " + Hex8(word) + "   " + Hex8(exceptionAddress + 16 * i) + ": ";
    std::string chars;
    for (uint32_t j = 0; j < 16; ++j) {
      uint8_t byte = code[i * 16 + j];
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X", byte);
      dump += std::string(hex) + " ";
      chars += byte >= 32 && byte <= 126 ? static_cast<char>(byte) : '.';
    }
    dump += " " + chars + kCrLf;
  }
  return dump;
}

std::string BuildCPUText(const TEmberModuleOptions* options, const TEmberRegisters* context,
                         const std::string& memoryDump) {
  auto reg = [&](uint32_t TEmberRegisters::*field) {
    return context ? Hex8(context->*field) : std::string("????    ");
  };
  std::string text = ReportCaption(options, 141) + ":" + kCrLf + std::string(29, '-') + kCrLf;
  text += "EAX: " + reg(&TEmberRegisters::Eax) + "   EDI: " + reg(&TEmberRegisters::Edi) + kCrLf;
  text += "EBX: " + reg(&TEmberRegisters::Ebx) + "   ESI: " + reg(&TEmberRegisters::Esi) + kCrLf;
  text += "ECX: " + reg(&TEmberRegisters::Ecx) + "   ESP: " + reg(&TEmberRegisters::Esp) + kCrLf;
  text += "EDX: " + reg(&TEmberRegisters::Edx) + "   EIP: " + reg(&TEmberRegisters::Eip) + kCrLf;
  text += kCrLf;
  text += PadRight(ReportCaption(options, 142) + ":", 21) + ReportCaption(options, 143) + ":" + kCrLf;
  text += std::string(18, '-') + "   " + std::string(75, '-') + kCrLf;
  text += memoryDump;
  return text;
}

// --- The whole report

void GatherReportHeadValues(const TEmberBugReportInput& input, TEmberReportHeadValues& values) {
  TEmberReportFacts& facts = ReportFacts();
  facts.ExceptionAddress = input.ExceptionAddress;
  facts.ExceptionObject = input.ExceptionObject;
  // The network values come first: their lookup may take a while and must not shift the dates.
  ember_report_detail::AddSystemHeadValues(values);
  std::string* v = values.Values;
  v[0] = GetStartDate();
  v[5] = GetUpTime();
  v[6] = GetExceptionDate();
  v[7] = input.ExceptionAddress ? Hex8(input.ExceptionAddress) : std::string();
  v[10] = GetExceptionTypeName(input.ExceptionObject);
  v[11] = GetExceptionMessage(input.ExceptionObject);
  v[12] = input.ReportID;
  v[13] = "1";
  v[14] = "New";
  v[15].clear();
  v[18] = GetUserEmail();
  v[23] = GetControlClass();
  v[24] = GetControlText();
}

void BugReportText(const TEmberBugReportInput& input) {
  const TEmberModuleOptions* options = input.Options;
  TEmberReportPieces& pieces = gPieces;
  SetEmberStep(7021);
  pieces.ReportHeadText.clear();
  pieces.ReportTablesText.clear();
  pieces.ReportAssemblerHead.clear();
  pieces.ReportAssemblerText.clear();
  pieces.ReportCPUText.clear();
  pieces.ReportText.clear();
  std::string dialogHead = ReportCaption(options, 4) + kCrLf + kCrLf;
  pieces.DialogHeadText = dialogHead;

  SetEmberStep(7022);
  TEmberReportHeadValues values;
  GatherReportHeadValues(input, values);
  pieces.ReportHeadText = std::string(EmberReportBanner) + kCrLf + kCrLf + BuildReportHead(options, values);

  uint8_t logOptions = options ? options->LogOptions() : 0xFF;
  uint8_t detailFlags = GetCallStackDetailFlags(options ? options->CallStackOptions() : 0xFF);
  pieces.ReportTablesText = BuildCallStackTable(options, input.CallStack, detailFlags, input.Threads);
  SetEmberStep(7035);
  if (logOptions & 0x10) {
    pieces.ReportTablesText += BuildModulesTable(options, input.Modules);
    SetEmberStep(7036);
    pieces.ReportTablesText += BuildProcessesTable(options, input.Processes);
  } else {
    pieces.ReportTablesText += BuildEmptyTableHeading(ReportCaption(options, 10));
    pieces.ReportTablesText += BuildEmptyTableHeading(ReportCaption(options, 12));
  }
  SetEmberStep(7038);
  std::string assemblerTitle = ReportCaption(options, 14);
  // The listing sets its own heading; an unreadable address keeps this one, so that the section
  // never loses its heading.
  pieces.ReportAssemblerHead = assemblerTitle + ":" + kCrLf + std::string(assemblerTitle.size() + 1, '-');
  if (logOptions & 0x20) {
    pieces.ReportAssemblerText = GetAssemblerText(input.ExceptionAddress, options, pieces.ReportAssemblerHead);
    SetEmberStep(7039);
    std::string dump = BuildMemoryDump(EmberMemory(), input.StackPointer, input.ExceptionAddress);
    pieces.ReportCPUText = BuildCPUText(options, input.Context, dump);
  } else {
    std::string registers = ReportCaption(options, 141);
    pieces.ReportCPUText = registers + ":" + kCrLf + std::string(registers.size() + 1, '-') + kCrLf + kCrLf;
  }
  SetEmberStep(7040);
  pieces.DialogHeadText = dialogHead;
  pieces.ReportText = pieces.ReportHeadText + kCrLf + pieces.ReportTablesText + pieces.ReportAssemblerHead + kCrLf +
                      pieces.ReportAssemblerText + kCrLf + pieces.ReportCPUText;
  pieces.LastReportText = pieces.ReportText;
}
