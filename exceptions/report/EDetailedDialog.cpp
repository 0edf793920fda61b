// Portable half of the detailed dialog: its pages and tabs, the check-box rows, the module
// images, the settings' defaults and the jump-to-source message.
#include "EDetailedDialog.h"

#include <cctype>
#include <cstring>

#include "classlib/SysUtils.h"

std::vector<int32_t> DetailedDialogPages(uint8_t logOptions) {
  std::vector<int32_t> pages{EmberPageGeneral, EmberPageCallStack};
  if (logOptions & 0x10) {
    pages.push_back(EmberPageModules);
    pages.push_back(EmberPageProcesses);
  }
  if (logOptions & 0x20) {
    pages.push_back(EmberPageAssembler);
    pages.push_back(EmberPageCPU);
  }
  return pages;
}

int32_t FirstDetailedTab(uint8_t logOptions, uint8_t firstDialogTab) {
  std::vector<int32_t> pages = DetailedDialogPages(logOptions);
  for (size_t tab = 0; tab < pages.size(); ++tab)
    if (pages[tab] == firstDialogTab) return static_cast<int32_t>(tab);
  return 0;
}

const char* DetailedPageTemplate(int32_t page) {
  static const char* const kTemplates[] = {"EL_TAB_GENERAL",       "EL_TAB_CALLSTACK", "EL_TAB_MODULESLIST",
                                           "EL_TAB_PROCESSESLIST", "EL_TAB_ASSEMBLER", "EL_TAB_CPU"};
  return page >= 0 && page < 6 ? kTemplates[page] : nullptr;
}

int32_t CheckBoxRowsHeight(bool sendBox, bool screenshotBox, bool copyBox, bool supportLink) {
  if (!sendBox && !screenshotBox && !copyBox && !supportLink) return 0;
  if ((sendBox && screenshotBox) || (copyBox && supportLink)) return 34;
  return 20;
}

int32_t ModuleKind(const std::string& moduleName) {
  size_t dot = moduleName.find_last_of('.');
  size_t slash = moduleName.find_last_of("\\/");
  std::string extension =
      dot == std::string::npos || (slash != std::string::npos && dot < slash) ? std::string() : UpperCase(moduleName.substr(dot));
  if (extension == ".BPL" || extension == ".DPL") return 1;
  if (extension == ".EXE") return 2;
  return 0;
}

int32_t ModuleColumnKey(int32_t column) {
  if (column == 5) return 6;
  if (column == 6) return 5;
  return column;
}

// --- Jump-to-source message

namespace {

void PutText(TEmberSourceMessage& message, size_t offset, const std::string& text) {
  std::string trimmed = Trim(text);
  size_t length = trimmed.size() < 89 ? trimmed.size() : 89;
  std::memcpy(message.data() + offset, trimmed.data(), length);
}

void PutU32(TEmberSourceMessage& message, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) message[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

TEmberSourceMessage BuildSourceLocationMessage(int32_t line, const std::string& unitName,
                                               const std::string& className, const std::string& procedureName,
                                               int32_t lineOffset, double buildDate) {
  TEmberSourceMessage message{};
  PutText(message, 90, unitName);
  PutText(message, 180, className);
  PutText(message, 270, procedureName);
  PutU32(message, 360, static_cast<uint32_t>(line));
  PutU32(message, 364, static_cast<uint32_t>(lineOffset));
  uint64_t bits = 0;
  std::memcpy(&bits, &buildDate, sizeof bits);
  PutU32(message, 368, static_cast<uint32_t>(bits));
  PutU32(message, 372, static_cast<uint32_t>(bits >> 32));
  return message;
}

bool ParseLineCell(const std::string& cell, int32_t& line, int32_t& lineOffset) {
  std::string text = Trim(cell);
  size_t digits = 0;
  while (digits < text.size() && digits < 9 && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  if (digits == 0) return false;
  line = std::stoi(text.substr(0, digits));
  lineOffset = -1;
  size_t open = text.find('[', digits);
  if (open == std::string::npos) return true;
  size_t start = open + 1, end = start;
  while (end < text.size() && end - start < 9 && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
  if (end > start) lineOffset = std::stoi(text.substr(start, end - start));
  return true;
}
