// Both decoders against i686-w64-mingw32-objdump on real code: the i386 DLLs of the Wine
// installation, or the files named in KBL_DISASM_FILES (the plug-in's own DLL). objdump runs as a black
// box; its instruction boundaries are taken as they are and both texts are normalised first.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "exceptions/capture/EDisAsm.h"
#include "exceptions/capture/EHook.h"

namespace {

namespace fs = std::filesystem;

const char* const kObjdump = "i686-w64-mingw32-objdump";

// --- objdump's listing

struct TListedInstruction {
  size_t Offset;  // within its chunk
  size_t Length;
  uint32_t Address;
  std::string Text;
};

// A run of contiguous code bytes rebuilt from the listing.
struct TChunk {
  std::vector<uint8_t> Bytes;
  std::vector<TListedInstruction> Instructions;
};

bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// Parses "addr:\tbytes\ttext" lines of `objdump -d -z -w`; everything else is skipped.
std::vector<TChunk> ReadListing(const std::string& file) {
  std::vector<TChunk> chunks;
  std::string command = std::string(kObjdump) + " -d -z -w -M intel '" + file + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return chunks;
  char buffer[4096];
  uint32_t expected = 0;
  // The linker puts the constructor and destructor lists and the exception tables into the code
  // section after the code: from the constructor list's symbol on, the section holds data.
  bool tables = false;
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.rfind("Disassembly of section", 0) == 0) {
      expected = 0;  // sections are not contiguous
      tables = false;
    }
    if (line.find("CTOR_LIST__>:") != std::string::npos) tables = true;
    if (tables) continue;
    size_t colon = line.find(":\t");
    if (colon == std::string::npos || colon == 0) continue;
    size_t start = line.find_first_not_of(' ');
    bool addressOk = start < colon;
    for (size_t i = start; addressOk && i < colon; ++i) addressOk = IsHexDigit(line[i]);
    if (!addressOk) continue;
    uint32_t address = static_cast<uint32_t>(std::stoul(line.substr(start, colon - start), nullptr, 16));
    size_t bytesStart = colon + 2;
    size_t tab = line.find('\t', bytesStart);
    std::string bytesText = line.substr(bytesStart, tab == std::string::npos ? std::string::npos : tab - bytesStart);
    std::string text = tab == std::string::npos ? "" : line.substr(tab + 1);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < bytesText.size(); i += 3) {
      if (!IsHexDigit(bytesText[i])) break;
      bytes.push_back(static_cast<uint8_t>(std::stoul(bytesText.substr(i, 2), nullptr, 16)));
    }
    if (bytes.empty()) continue;
    if (chunks.empty() || address != expected) chunks.emplace_back();
    TChunk& chunk = chunks.back();
    chunk.Instructions.push_back({chunk.Bytes.size(), bytes.size(), address, text});
    chunk.Bytes.insert(chunk.Bytes.end(), bytes.begin(), bytes.end());
    expected = address + static_cast<uint32_t>(bytes.size());
  }
  pclose(pipe);
  return chunks;
}

// --- Normalisation: one spelling for both texts
//
// Lower case; single blanks, none after commas; numbers as "0x" and lower-case hexadecimal
// without leading zeros; objdump's symbol annotations, "ds:", "*1" and the "eiz" pseudo index
// dropped; its bare jump targets given "0x"; its string instructions with operands written as
// the sized mnemonics (movs dword ptr es:[edi],... -> movsd); "st,st(i)" as "st(i)"; repz/repnz
// as rep/repne; our "fwait" before an x87 instruction dropped; our negative immediates as objdump's two's complement, our negative 32-bit
// displacements as objdump's "-0x..."; pushad/popad/pushfd/popfd/iretd as objdump names them.
// Size keywords are compared only when both texts have one.

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string CollapseBlanks(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\t') c = ' ';
    if (c == ' ' && (out.empty() || out.back() == ' ' || out.back() == ',')) continue;
    if (c == ',' && !out.empty() && out.back() == ' ') out.pop_back();
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string HexText(uint64_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
  return buffer;
}

// "$00FF" and "0x00ff" both become "0xff".
std::string CanonicalNumbers(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t digits = std::string::npos;
    if (text[i] == '$' && i + 1 < text.size() && IsHexDigit(text[i + 1])) digits = i + 1;
    if (text.compare(i, 2, "0x") == 0 && (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]))) &&
        i + 2 < text.size() && IsHexDigit(text[i + 2])) {
      digits = i + 2;
    }
    if (digits == std::string::npos) {
      out += text[i++];
      continue;
    }
    size_t end = digits;
    while (end < text.size() && IsHexDigit(text[end])) ++end;
    out += HexText(std::stoull(text.substr(digits, end - digits), nullptr, 16));
    i = end;
  }
  return out;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// Splits "prefixes mnemonic operands" at the first blank after the last prefix.
void SplitMnemonic(const std::string& text, std::string& head, std::string& operands) {
  static const char* const kPrefixes[] = {"lock ", "rep ", "repne ", "repz ", "repnz ", "cs ", "ds ",
                                          "es ", "ss ", "fs ", "gs "};
  size_t at = 0;
  for (bool found = true; found;) {
    found = false;
    for (const char* prefix : kPrefixes) {
      size_t n = std::strlen(prefix);
      if (text.compare(at, n, prefix) == 0) {
        at += n;
        found = true;
      }
    }
  }
  size_t blank = text.find(' ', at);
  head = text.substr(0, blank);
  operands = blank == std::string::npos ? "" : text.substr(blank + 1);
}

std::string Join(const std::string& head, const std::string& operands) {
  return operands.empty() ? head : head + " " + operands;
}

bool IsWordRegister(const std::string& operand) {
  static const char* const kWords[] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
  for (const char* word : kWords) {
    if (operand == word) return true;
  }
  return false;
}

std::vector<std::string> SplitOperands(const std::string& operands) {
  std::vector<std::string> list;
  size_t start = 0;
  for (size_t i = 0; i <= operands.size(); ++i) {
    if (i == operands.size() || operands[i] == ',') {
      list.push_back(operands.substr(start, i - start));
      start = i + 1;
    }
  }
  return list;
}

std::string NormaliseOurs(const std::string& ours) {
  std::string text = CanonicalNumbers(CollapseBlanks(Lower(ours)));
  if (text.rfind("fwait f", 0) == 0) text.erase(0, 6);
  std::string head, operands;
  SplitMnemonic(text, head, operands);
  static const std::map<std::string, std::string> kNames = {
      {"pushad", "pusha"}, {"popad", "popa"}, {"pushfd", "pushf"}, {"popfd", "popf"}, {"iretd", "iret"}};
  for (const auto& [from, to] : kNames) {
    if (head.size() >= from.size() && head.compare(head.size() - from.size(), from.size(), from) == 0) {
      head.replace(head.size() - from.size(), from.size(), to);
    }
  }
  if (!operands.empty()) {
    std::vector<std::string> list = SplitOperands(operands);
    bool word = false;
    for (const std::string& operand : list) word = word || IsWordRegister(operand) || operand.rfind("word ptr", 0) == 0;
    for (std::string& operand : list) {
      // Control, debug and test registers: our "C0", "D0", "T0" are objdump's "cr0", "dr0", "tr0".
      if (operand.size() == 2 && (operand[0] == 'c' || operand[0] == 'd' || operand[0] == 't') &&
          operand[1] >= '0' && operand[1] <= '7')
        operand.insert(1, 1, 'r');
      if (operand.rfind("+0x", 0) == 0) operand.erase(0, 1);
      if (operand.rfind("-0x", 0) == 0) {
        uint64_t value = std::stoull(operand.substr(3), nullptr, 16);
        operand = HexText((word ? 0x10000ull : 0x100000000ull) - value);
      }
      // A 32-bit displacement past 2 GB after a register reads as a negative one.
      size_t plus = operand.find("+0x");
      if (plus != std::string::npos && operand.back() == ']' && operand[plus - 1] != '[') {
        uint64_t value = std::stoull(operand.substr(plus + 3), nullptr, 16);
        if (value >= 0x80000000ull && value <= 0xFFFFFFFFull) {
          operand = operand.substr(0, plus) + "-" + HexText(0x100000000ull - value) + "]";
        }
      }
    }
    operands.clear();
    for (size_t i = 0; i < list.size(); ++i) operands += (i ? "," : "") + list[i];
  }
  text = Join(head, operands);
  ReplaceAll(text, "ds:", "");
  return text;
}

std::string NormaliseObjdump(const std::string& listed) {
  std::string text = Lower(listed);
  for (size_t open = text.find('<'); open != std::string::npos; open = text.find('<')) {
    size_t close = text.find('>', open);
    text.erase(open, close == std::string::npos ? std::string::npos : close - open + 1);
  }
  text = CanonicalNumbers(CollapseBlanks(text));
  ReplaceAll(text, "repz ", "rep ");
  ReplaceAll(text, "repnz ", "repne ");
  std::string head, operands;
  SplitMnemonic(text, head, operands);
  std::string mnemonic = head.substr(head.rfind(' ') == std::string::npos ? 0 : head.rfind(' ') + 1);

  // Bare jump and call targets.
  bool branch = mnemonic[0] == 'j' || mnemonic == "call" || mnemonic.rfind("loop", 0) == 0;
  if (branch && !operands.empty() && operands.find_first_not_of("0123456789abcdef") == std::string::npos) {
    operands = HexText(std::stoull(operands, nullptr, 16));
  }
  // String instructions with their operands become the sized mnemonics.
  static const char* const kStrings[] = {"movs", "cmps", "stos", "lods", "scas", "ins", "outs"};
  for (const char* name : kStrings) {
    if (mnemonic != name) continue;
    std::string suffix = operands.find("dword ptr") != std::string::npos ? "d"
                         : operands.find("word ptr") != std::string::npos ? "w" : "b";
    head += suffix;
    operands.clear();
  }
  if (mnemonic == "xlat") {
    head += "b";
    operands.clear();
  }
  // Direct addresses: "seg:0x10" is "seg:[0x10]".
  for (const char* segment : {"cs:", "ds:", "es:", "ss:", "fs:", "gs:"}) {
    std::string from = std::string(segment) + "0x";
    for (size_t at = operands.find(from); at != std::string::npos; at = operands.find(from, at + 1)) {
      size_t end = at + from.size();
      while (end < operands.size() && IsHexDigit(operands[end])) ++end;
      operands.insert(end, "]");
      operands.insert(at + 3, "[");
    }
  }
  ReplaceAll(operands, "ds:", "");
  for (const char* scale : {"+eiz*1", "+eiz*2", "+eiz*4", "+eiz*8"}) ReplaceAll(operands, scale, "");
  ReplaceAll(operands, "*1]", "]");
  ReplaceAll(operands, "*1+", "+");
  ReplaceAll(operands, "*1-", "-");
  if (operands.rfind("st,st(", 0) == 0) operands.erase(0, 3);
  return Join(head, operands);
}

std::string StripKeywords(std::string text) {
  for (const char* keyword : {"xmmword ptr ", "qword ptr ", "tbyte ptr ", "fword ptr ", "dword ptr ",
                              "word ptr ", "byte ptr "}) {
    ReplaceAll(text, keyword, "");
  }
  return text;
}

bool SameText(std::string ours, std::string listed) {
  if (ours.find(" ptr ") == std::string::npos || listed.find(" ptr ") == std::string::npos) {
    ours = StripKeywords(ours);
    listed = StripKeywords(listed);
  }
  return ours == listed;
}

// --- The comparison

void ShowTarget(uintptr_t, uint32_t target, uint32_t, std::string& text) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "$%08X", static_cast<unsigned>(target));
  text = buffer;
}

struct TTally {
  size_t Compared = 0, Skipped = 0;
  size_t LengthMismatches = 0, DecoderMismatches = 0, TextMismatches = 0;
  std::map<std::string, std::pair<size_t, std::string>> Classes;  // objdump mnemonic -> count, example
};

void Compare(const std::string& file, TTally& tally) {
  TDisAsm disasm;
  disasm.OnJumpTarget = ShowTarget;
  disasm.OnCallTarget = ShowTarget;
  for (const TChunk& chunk : ReadListing(file)) {
    for (const TListedInstruction& listed : chunk.Instructions) {
      // objdump's own failures and lone prefixes it prints on a line of their own.
      if (listed.Text.find("(bad)") != std::string::npos || listed.Text.rfind(".byte", 0) == 0 || listed.Text.rfind("data16", 0) == 0 ||
          listed.Text.rfind("addr16", 0) == 0 || CollapseBlanks(listed.Text) == "lock") {
        ++tally.Skipped;
        continue;
      }
      ++tally.Compared;
      const uint8_t* code = chunk.Bytes.data() + listed.Offset;
      const size_t available = chunk.Bytes.size() - listed.Offset;
      int32_t length = 0;
      std::string text;
      DisassembleInstruction(disasm, code, available, listed.Address, length, text);
      int32_t decoded = 0;
      DecodeInstruction(code, available, decoded);
      if (static_cast<size_t>(decoded) != listed.Length) ++tally.DecoderMismatches;
      std::string ours = NormaliseOurs(text), theirs = NormaliseObjdump(listed.Text);
      if (static_cast<size_t>(length) != listed.Length) ++tally.LengthMismatches;
      if (std::getenv("KBL_DISASM_SAMPLE") != nullptr && tally.Compared % 20011 == 0) {
        std::printf("  sample: \"%s\" | \"%s\"\n", ours.c_str(), theirs.c_str());
      }
      if (static_cast<size_t>(length) != listed.Length || static_cast<size_t>(decoded) != listed.Length ||
          !SameText(ours, theirs)) {
        if (SameText(ours, theirs) == false) ++tally.TextMismatches;
        std::string head, operands;
        SplitMnemonic(theirs, head, operands);
        auto& entry = tally.Classes[head];
        if (entry.first++ == 0) {
          entry.second = IntToHex(listed.Address, 8) + " [" + std::to_string(listed.Length) + "/" +
                         std::to_string(length) + "/" + std::to_string(decoded) + "] ours \"" + ours +
                         "\" objdump \"" + theirs + "\"";
        }
      }
    }
  }
}

// The files named in KBL_DISASM_FILES (separated by ":"; each must exist), else the i386 DLLs
// of the Wine installation. The plug-in's own DLL is compared from the Windows build's tests,
// which name it here once it is built.
std::vector<std::string> FilesToCompare(std::vector<std::string>& missing) {
  std::vector<std::string> files;
  if (const char* named = std::getenv("KBL_DISASM_FILES")) {
    std::string list = named;
    for (size_t start = 0; start <= list.size();) {
      size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      std::string file = list.substr(start, end - start);
      if (!file.empty()) (fs::exists(file) ? files : missing).push_back(file);
      start = end + 1;
    }
    return files;
  }
  const fs::path wine = "/usr/lib/i386-linux-gnu/wine/i386-windows";
  for (const char* name : {"ntdll.dll", "kernelbase.dll", "kernel32.dll", "msvcrt.dll", "user32.dll",
                           "gdiplus.dll", "ucrtbase.dll", "d3dx9_36.dll"}) {
    if (fs::exists(wine / name)) files.push_back((wine / name).string());
  }
  return files;
}

}  // namespace

TEST(DisAsmAgainstObjdump, RealCode) {
  if (std::system((std::string(kObjdump) + " --version >/dev/null 2>&1").c_str()) != 0) {
    GTEST_SKIP() << kObjdump << " is not installed";
  }
  std::vector<std::string> missing;
  std::vector<std::string> files = FilesToCompare(missing);
  for (const std::string& file : missing) ADD_FAILURE() << "no such file to compare: " << file;
  if (!missing.empty()) return;
  if (files.empty()) GTEST_SKIP() << "no i386 DLLs of Wine found";

  TTally total;
  for (const std::string& file : files) {
    TTally tally;
    Compare(file, tally);
    std::printf("%-60s %8zu compared, %4zu skipped, %4zu length, %4zu decoder, %5zu text differences\n",
                file.c_str(), tally.Compared, tally.Skipped, tally.LengthMismatches, tally.DecoderMismatches,
                tally.TextMismatches);
    total.Compared += tally.Compared;
    total.Skipped += tally.Skipped;
    total.LengthMismatches += tally.LengthMismatches;
    total.DecoderMismatches += tally.DecoderMismatches;
    total.TextMismatches += tally.TextMismatches;
    for (const auto& [name, entry] : tally.Classes) {
      auto& sum = total.Classes[name];
      if (sum.first == 0) sum.second = entry.second;
      sum.first += entry.first;
    }
  }
  std::vector<std::pair<size_t, std::string>> classes;
  for (const auto& [name, entry] : total.Classes) classes.emplace_back(entry.first, name + ": " + entry.second);
  std::sort(classes.rbegin(), classes.rend());
  for (size_t i = 0; i < classes.size() && i < 40; ++i) std::printf("%7zu  %s\n", classes[i].first, classes[i].second.c_str());

  ASSERT_GT(total.Compared, 100000u);
  EXPECT_EQ(0u, total.LengthMismatches);
  EXPECT_EQ(0u, total.DecoderMismatches);
  const double agreement = 1.0 - static_cast<double>(total.TextMismatches) / static_cast<double>(total.Compared);
  std::printf("text agreement %.5f over %zu instructions\n", agreement, total.Compared);
  EXPECT_GE(agreement, 0.999);
}
