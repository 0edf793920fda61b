// Throughput (MB/s of code walked, and instructions per second) of DecodeInstruction (lengths
// only) and DisassembleInstruction (full text, with and without jump-target hooks) over real
// code: the .text section of an i386 DLL (Wine's ntdll.dll, or the file named on the command
// line), else a synthetic mix of common instructions. Beside them, over the same bytes in the
// same run: Zydis (decoder and Intel formatter for the text, minimal mode for the lengths) and
// Capstone (cs_disasm_iter with its Intel text), when their development packages were found at
// build time. Every walk steps one byte over what its decoder rejects; the contenders take turns
// and the best of five rounds of each is shown. Prints, asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "exceptions/capture/EDisAsm.h"
#include "exceptions/capture/EHook.h"

#ifdef KBL_BENCH_ZYDIS
#include <Zydis/Zydis.h>
#endif
#ifdef KBL_BENCH_CAPSTONE
#include <capstone/capstone.h>
#endif

namespace {

uint32_t Read32(const std::vector<uint8_t>& file, size_t at) {
  uint32_t value = 0;
  if (at + 4 <= file.size()) std::memcpy(&value, file.data() + at, 4);
  return value;
}

// The raw bytes of the first section named ".text" of a PE file; empty when there is none.
std::vector<uint8_t> TextSection(const char* path) {
  std::vector<uint8_t> file;
  if (FILE* f = std::fopen(path, "rb")) {
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) file.insert(file.end(), buffer, buffer + n);
    std::fclose(f);
  }
  if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') return {};
  size_t header = Read32(file, 60);
  if (header + 24 > file.size() || std::memcmp(file.data() + header, "PE\0\0", 4) != 0) return {};
  uint16_t sections = static_cast<uint16_t>(file[header + 6] | (file[header + 7] << 8));
  uint16_t optional = static_cast<uint16_t>(file[header + 20] | (file[header + 21] << 8));
  size_t table = header + 24 + optional;
  for (uint16_t i = 0; i < sections; ++i) {
    size_t at = table + 40u * i;
    if (at + 40 > file.size()) break;
    if (std::memcmp(file.data() + at, ".text", 6) != 0) continue;
    size_t size = Read32(file, at + 16), offset = Read32(file, at + 20);
    if (offset + size > file.size()) return {};
    return std::vector<uint8_t>(file.begin() + offset, file.begin() + offset + size);
  }
  return {};
}

std::vector<uint8_t> SyntheticCode() {
  const std::vector<std::vector<uint8_t>> mix = {
      {0x55}, {0x8B, 0xEC}, {0x83, 0xEC, 0x18}, {0x8B, 0x45, 0x08}, {0x89, 0x44, 0x24, 0x04},
      {0xC7, 0x04, 0x24, 0x00, 0x10, 0x40, 0x00}, {0xE8, 0x10, 0x00, 0x00, 0x00}, {0x85, 0xC0},
      {0x74, 0x0C}, {0x0F, 0xB6, 0x01}, {0x8D, 0x74, 0x26, 0x00}, {0xF2, 0x0F, 0x10, 0x45, 0x08},
      {0xDD, 0x1C, 0x24}, {0x0F, 0x84, 0x00, 0x01, 0x00, 0x00}, {0xC9}, {0xC3}};
  std::vector<uint8_t> code;
  for (int i = 0; code.size() < (1u << 20); ++i) {
    const auto& instruction = mix[(i * 7) % mix.size()];
    code.insert(code.end(), instruction.begin(), instruction.end());
  }
  return code;
}

using Clock = std::chrono::steady_clock;

// One contender: walks the code with `Step`, which answers the bytes to advance (0 for a
// rejected byte, which is stepped over).
struct TContender {
  const char* Name;
  std::function<size_t(const uint8_t*, size_t, uint32_t)> Step;
  double BestMBs = 0, BestInstructions = 0;
};

// Walks the code again and again for about `seconds`; keeps the contender's best figures.
void Round(TContender& contender, const std::vector<uint8_t>& code, double seconds) {
  size_t instructions = 0, bytes = 0;
  auto start = Clock::now();
  double elapsed = 0;
  do {
    for (size_t at = 0; at < code.size(); ++instructions) {
      size_t length = contender.Step(code.data() + at, code.size() - at, static_cast<uint32_t>(0x10001000 + at));
      at += length > 0 ? length : 1;
    }
    bytes += code.size();
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds);
  contender.BestMBs = std::max(contender.BestMBs, static_cast<double>(bytes) / 1e6 / elapsed);
  contender.BestInstructions = std::max(contender.BestInstructions, static_cast<double>(instructions) / elapsed);
}

// The contenders take turns, round after round, so that a busy machine slows each of them
// alike; the best round of each is printed. Answers the figures in MB/s, in the given order.
std::vector<double> Compare(std::vector<TContender> contenders, const std::vector<uint8_t>& code) {
  for (int round = 0; round < 5; ++round) {
    for (TContender& contender : contenders) Round(contender, code, 0.3);
  }
  std::vector<double> figures;
  for (const TContender& contender : contenders) {
    std::printf("  %-40s %8.1f MB/s %12.0f instructions/s  (%.1f ns each)\n", contender.Name, contender.BestMBs,
                contender.BestInstructions, 1e9 / contender.BestInstructions);
    figures.push_back(contender.BestMBs);
  }
  return figures;
}

void Target(uintptr_t, uint32_t target, uint32_t, std::string& text) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "$%08X", static_cast<unsigned>(target));
  text = buffer;
}

void Ratio(const char* what, double ours, double reference) {
  if (reference > 0) std::printf("  %-40s %8.2f x\n", what, ours / reference);
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "/usr/lib/i386-linux-gnu/wine/i386-windows/ntdll.dll";
  std::vector<uint8_t> code = TextSection(path);
  const char* source = path;
  if (code.empty()) {
    code = SyntheticCode();
    source = "synthetic instruction mix";
  }
  std::printf("code: %s, %zu bytes\n", source, code.size());

  // --- Lengths
  std::printf("lengths (best of 5 rounds each, taking turns)\n");
  std::vector<TContender> lengths;
  lengths.push_back({"ours: length decoder", [](const uint8_t* at, size_t available, uint32_t) {
                       int32_t length = 0;
                       return DecodeInstruction(at, available, length) ? static_cast<size_t>(length) : size_t{0};
                     }});
#ifdef KBL_BENCH_ZYDIS
  ZydisDecoder minimal;
  ZydisDecoderInit(&minimal, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
  ZydisDecoderEnableMode(&minimal, ZYDIS_DECODER_MODE_MINIMAL, ZYAN_TRUE);
  lengths.push_back({"Zydis: decoder, minimal mode", [&](const uint8_t* at, size_t available, uint32_t) {
                       ZydisDecodedInstruction instruction;
                       return ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&minimal, nullptr, at, available, &instruction))
                                  ? size_t{instruction.length}
                                  : size_t{0};
                     }});
#endif
  std::vector<double> lengthFigures = Compare(std::move(lengths), code);
  if (lengthFigures.size() > 1) Ratio("ours / Zydis minimal", lengthFigures[0], lengthFigures[1]);

  // --- Text
  std::printf("text (best of 5 rounds each, taking turns)\n");
  TDisAsm plain;
  TDisAsm hooked;
  hooked.OnJumpTarget = Target;
  hooked.OnCallTarget = Target;
  std::string text;
  std::vector<TContender> texts;
  texts.push_back({"ours: full text", [&](const uint8_t* at, size_t available, uint32_t address) {
                     int32_t length = 0;
                     DisassembleInstruction(plain, at, available, address, length, text);
                     return static_cast<size_t>(length);
                   }});
  texts.push_back({"ours: full text + targets", [&](const uint8_t* at, size_t available, uint32_t address) {
                     int32_t length = 0;
                     DisassembleInstruction(hooked, at, available, address, length, text);
                     return static_cast<size_t>(length);
                   }});
  const char* names[2] = {nullptr, nullptr};
#ifdef KBL_BENCH_ZYDIS
  ZydisDecoder decoder;
  ZydisDecoderInit(&decoder, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
  ZydisFormatter formatter;
  ZydisFormatterInit(&formatter, ZYDIS_FORMATTER_STYLE_INTEL);
  char line[256];
  names[texts.size() - 2] = "ours / Zydis";
  texts.push_back({"Zydis: decoder + Intel formatter", [&](const uint8_t* at, size_t available, uint32_t address) {
                     ZydisDecodedInstruction instruction;
                     ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
                     if (!ZYAN_SUCCESS(ZydisDecoderDecodeFull(&decoder, at, available, &instruction, operands))) {
                       return size_t{0};
                     }
                     ZydisFormatterFormatInstruction(&formatter, &instruction, operands,
                                                     instruction.operand_count_visible, line, sizeof line, address,
                                                     nullptr);
                     return size_t{instruction.length};
                   }});
#endif
#ifdef KBL_BENCH_CAPSTONE
  csh handle = 0;
  cs_insn* instruction = nullptr;
  if (cs_open(CS_ARCH_X86, CS_MODE_32, &handle) == CS_ERR_OK) {
    instruction = cs_malloc(handle);
    names[texts.size() - 2] = "ours / Capstone";
    texts.push_back({"Capstone: cs_disasm_iter, Intel text", [&](const uint8_t* at, size_t available, uint32_t address) {
                       const uint8_t* next = at;
                       size_t left = available;
                       uint64_t where = address;
                       return cs_disasm_iter(handle, &next, &left, &where, instruction) ? size_t{instruction->size}
                                                                                       : size_t{0};
                     }});
  }
#endif
  std::vector<double> textFigures = Compare(std::move(texts), code);
  for (size_t i = 2; i < textFigures.size(); ++i) Ratio(names[i - 2], textFigures[0], textFigures[i]);
#ifdef KBL_BENCH_CAPSTONE
  if (instruction != nullptr) cs_free(instruction, 1);
  if (handle != 0) cs_close(&handle);
#endif
  return 0;
}
