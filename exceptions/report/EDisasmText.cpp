// The assembler section of a bug report: synchronisation on the exception address, the listing
// with block headers, the cut to the faulting procedure's block and the comment alignment.
#include "EDisasmText.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "EObjectHelpers.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/EmberTexts.h"
#include "exceptions/capture/ECallStack.h"
#include "exceptions/capture/EDisAsm.h"
#include "exceptions/capture/EHook.h"

namespace {

constexpr uint32_t WindowBytes = 70;
constexpr int32_t MaxInstructionsBefore = 10;
constexpr int32_t MaxInstructionsAfter = 10;
constexpr int32_t TextAssemblerInformation = 14;

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

std::string TrimBlanksRight(const std::string& text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string TrimBlanks(const std::string& text) {
  size_t start = text.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : TrimBlanksRight(text.substr(start));
}

// Up to 15 readable bytes from `address`, never past `last`.
uint32_t FetchCode(const TEmberMemory& memory, uint32_t address, uint32_t last, uint8_t* code) {
  if (address > last) return 0;
  uint64_t wanted = static_cast<uint64_t>(last) - address + 1;
  uint32_t available = wanted < static_cast<uint64_t>(MaxInstructionLength) ? static_cast<uint32_t>(wanted)
                                                                            : MaxInstructionLength;
  while (available > 0 && !memory.Read(address, code, available)) --available;
  return available;
}

// The length the decoder gives the instruction at `address`; a byte that does not decode is 1.
uint32_t StepAt(const TEmberMemory& memory, uint32_t address, uint32_t last) {
  uint8_t code[MaxInstructionLength];
  uint32_t available = FetchCode(memory, address, last, code);
  int32_t length = 0;
  if (available == 0 || !DecodeInstruction(code, available, length) || length <= 0) return 1;
  return static_cast<uint32_t>(length);
}

bool IsLocated(const TEmberStackItem& item) { return item.Kind >= 2 && item.Kind <= 4; }

// The location of a code address; a module whose debug-information source was not made yet
// gets it now, and the lookup is repeated.
void LocateAddress(uint32_t address, TEmberStackItem& item) {
  GetAddressInfo(address, 0, item, false, 0);
  TEmberModuleInfo* module = item.ModuleInfo;
  if (IsLocated(item) || !module || module->DebugInfo) return;
  if (CreateDebugInfoSource(module->Handle, module->DebugInfo)) GetAddressInfo(address, 0, item, false, 0);
}

std::string LocationName(const TEmberStackItem& item) {
  std::string unit = item.UnitName.Str();
  std::string name = unit.empty() ? unit : ChangeFileExtension(unit, "");
  for (const std::string& part : {item.ClassName.Str(), item.ProcedureName.Str()}) {
    if (part.empty()) continue;
    if (!name.empty()) name += '.';
    name += part;
  }
  return name;
}

void SymbolHook(uintptr_t, uint32_t address, uint32_t, std::string& text) {
  text = DisasmSymbolName(address, text);
}
void AddressHook(uintptr_t, uint32_t, uint32_t value, std::string& text) {
  text = DisasmSymbolName(value, text);
}
void NoMemoryOperandHook(uintptr_t, uint32_t, uint32_t, std::string&) {}
void ImmediateHook(uintptr_t, uint32_t, uint32_t, std::string& text) { text = DisasmStringComment(text); }

bool ParseHex32(const std::string& text, uint32_t& value) {
  if (text.size() != 9 || text[0] != '$') return false;
  value = 0;
  for (size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else {
      return false;
    }
    value = value * 16 + digit;
  }
  return true;
}

}  // namespace

// --- Callbacks of the disassembler

std::string DisasmSymbolName(uint32_t address, const std::string& text) {
  try {
    const TEmberMemory& memory = EmberMemory();
    address = FollowImportJump(memory, address);
    TEmberStackItem item;
    LocateAddress(address, item);
    if (IsLocated(item)) {
      std::string name = LocationName(item);
      if (item.LineOffset > 1) name += " (Line=" + std::to_string(item.Line) + ")";
      return name;
    }
    // Objects can only be looked at in this process's own memory.
    if (&memory == &EmberProcessMemory() && memory.IsReadable(address, 4)) {
      std::string className = GetObjectClassName(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)));
      if (!className.empty()) return className;
    }
  } catch (...) {
    // A name that cannot be found leaves the operand as the disassembler wrote it.
  }
  return text;
}

std::string DisasmStringComment(const std::string& text) {
  uint32_t address;
  if (!ParseHex32(text, address)) return text;
  const TEmberMemory& memory = EmberMemory();
  std::string shown;
  bool ended = false;
  for (uint32_t i = 0; i < 32; ++i) {
    uint8_t byte;
    if (address + i < address || !memory.Read(address + i, &byte, 1)) break;
    if (byte == 0) {
      ended = true;
      break;
    }
    shown += byte < 32 ? '.' : static_cast<char>(byte);
    if (i == 31) break;
  }
  if (!ended && shown.empty()) return text;  // nothing readable there
  return text + "  ; '" + shown + "'" + (ended ? "" : "...");
}

// --- The listing

std::string GetAssemblerText(uint32_t exceptionAddress, const TEmberModuleOptions* options,
                             std::string& assemblerHead) {
  try {
    const TEmberMemory& memory = EmberMemory();
    if (!memory.IsReadable(exceptionAddress, 4)) return std::string();

    // The window: readable bytes within 70 of the address on either side.
    uint32_t start = exceptionAddress >= WindowBytes ? exceptionAddress - WindowBytes : 0;
    while (start < exceptionAddress && !memory.IsReadable(start, 1)) ++start;
    uint32_t last = exceptionAddress <= 0xFFFFFFFFu - WindowBytes ? exceptionAddress + WindowBytes : 0xFFFFFFFFu;
    while (last > exceptionAddress && !memory.IsReadable(last, 1)) --last;

    // Synchronise: the first starting point whose instructions land on the address.
    int32_t before = 0;
    for (uint32_t from = start; from <= exceptionAddress; ++from) {
      uint32_t at = from;
      int32_t count = 0;
      while (at < exceptionAddress) {
        at += StepAt(memory, at, last);
        ++count;
      }
      if (at == exceptionAddress) {
        start = from;
        before = count;
        break;
      }
    }
    for (; before > MaxInstructionsBefore; --before) start += StepAt(memory, start, last);

    TDisAsm disasm;
    disasm.OnJumpTarget = SymbolHook;
    disasm.OnCallTarget = SymbolHook;
    disasm.OnAddress = AddressHook;
    disasm.OnMemoryOperand = NoMemoryOperandHook;
    disasm.OnImmediate = ImmediateHook;

    std::vector<std::string> lines;
    size_t cut = 0;
    size_t longestCode = 0;
    std::string previousName, previousLine;
    int32_t after = 0;
    uint64_t at = start;
    while (at <= last) {
      uint32_t address = static_cast<uint32_t>(at);
      uint8_t code[MaxInstructionLength];
      uint32_t available = FetchCode(memory, address, last, code);
      std::string text;
      int32_t shownLength = 0;
      if (available > 0) {
        DisassembleInstruction(disasm, code, available, address, shownLength, text);
      }
      std::string line = Hex8(address) + "  " + text;
      size_t semicolon = line.find(';');
      longestCode = std::max(longestCode, TrimBlanks(semicolon == std::string::npos ? line : line.substr(0, semicolon)).size());
      if (address == exceptionAddress) {
        // A comment the operands already carry gets the mark at its end.
        line += semicolon == std::string::npos ? "  ; <-- EXCEPTION" : " <-- EXCEPTION";
      }

      TEmberStackItem item;
      LocateAddress(address, item);
      if (IsLocated(item)) {
        std::string name = LocationName(item) + " ";
        std::string lineText = "Line=" + std::to_string(item.Line) + " - Offset=" + std::to_string(item.LineOffset);
        std::string header;
        if (name != previousName) {
          previousName = name;
          header = name;
          if (address <= exceptionAddress) cut = lines.size();
        }
        if (lineText != previousLine) {
          previousLine = lineText;
          header = header.empty() ? lineText : header + "(" + lineText + ")";
        }
        if (!header.empty()) {
          if (!lines.empty()) lines.push_back(";");
          lines.push_back("; " + header);
          lines.push_back("; " + std::string(header.size(), '-'));
        }
      }
      lines.push_back(line);

      uint8_t first = available > 0 ? code[0] : 0;
      at += StepAt(memory, address, last);
      if (address > exceptionAddress) {
        if (++after >= MaxInstructionsAfter) break;
        if (available > 0 && first >= 0xC2 && first <= 0xCB) break;  // a return or far return
      }
    }

    // Start with the block of the procedure that holds the exception.
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(cut, lines.size())));
    if (!lines.empty() && lines.front() == ";") lines.erase(lines.begin());

    // Comments of the instruction lines in one column, two blanks after the longest code part.
    size_t column = longestCode + 2;
    size_t longestLine = 0;
    for (std::string& line : lines) {
      size_t semicolon = line.find(';');
      if (semicolon != std::string::npos && semicolon > 0 && semicolon < column) {
        std::string code = TrimBlanksRight(line.substr(0, semicolon));
        code.resize(std::max(code.size(), column), ' ');
        line = code + line.substr(semicolon);
      }
      longestLine = std::max(longestLine, line.size());
    }

    std::string title = options ? GetCustomizedExpandedText(options, TextAssemblerInformation)
                                : std::string(GetDefaultText(TextAssemblerInformation));
    assemblerHead = title + ":\r\n" + std::string(std::max(longestLine, title.size() + 1), '-');
    std::string result;
    for (const std::string& line : lines) result += line + "\r\n";
    return result;
  } catch (...) {
    return std::string();
  }
}
