// Bounded fuzzing of both decoders and the trampoline builder over random and mutated bytes.
// Every buffer is a heap block of exactly its length, so the sanitizers report any overread;
// each input is decoded once more with hooks that answer texts of every length.
// KBL_FUZZ_ITERATIONS raises the count for longer local runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "exceptions/capture/EDisAsm.h"
#include "exceptions/capture/EHook.h"

namespace {

size_t Iterations() {
  const char* text = std::getenv("KBL_FUZZ_ITERATIONS");
  return text != nullptr ? static_cast<size_t>(std::strtoull(text, nullptr, 10)) : 1000000;
}

// Typical instruction starts, mutated below.
const std::vector<std::vector<uint8_t>> kSeeds = {
    {0x8B, 0x44, 0x24, 0x04}, {0xC7, 0x84, 0x24, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00},
    {0x66, 0x0F, 0x3A, 0x0F, 0xC1, 0x08}, {0xF2, 0x0F, 0x10, 0x45, 0x08}, {0x0F, 0x84, 0, 1, 0, 0},
    {0x9B, 0xDF, 0xE0}, {0x67, 0xA1, 0x34, 0x12}, {0x64, 0xA1, 0, 0, 0, 0}, {0xC5, 0xFA, 0x6F, 0x04, 0x24},
    {0xF0, 0x0F, 0xC7, 0x0E}, {0xD9, 0x7D, 0xFE}, {0x9A, 1, 2, 3, 4, 5, 6}, {0xC8, 0x10, 0x00, 0x01},
};

// Hooks that answer texts of every length, from nothing to far more than a line holds; the
// hooked text must not change what is decoded.
size_t gHookLength = 0;
void LongText(uintptr_t, uint32_t, uint32_t, std::string& text) { text.assign(gHookLength, '#'); }

struct THookedDisAsm : TDisAsm {
  THookedDisAsm() {
    OnJumpTarget = OnCallTarget = OnAddress = LongText;
    OnMemoryOperand = OnImmediate = LongText;
  }
};

void CheckOne(const std::vector<uint8_t>& bytes, size_t hookLength) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.empty() ? 1 : bytes.size()]);
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  const size_t limit = std::min<size_t>(bytes.size(), 15);

  int32_t decoded = -1;
  bool known = DecodeInstruction(copy.get(), bytes.size(), decoded);
  ASSERT_TRUE(known ? decoded >= 1 && static_cast<size_t>(decoded) <= limit : decoded == 0);

  TDisAsm disasm;
  int32_t length = -1;
  std::string text;
  bool ok = DisassembleInstruction(disasm, copy.get(), bytes.size(), 0x00401000, length, text);
  ASSERT_LE(static_cast<size_t>(length), limit);
  if (bytes.empty()) {
    ASSERT_EQ(0, length);
    return;
  }
  ASSERT_GE(length, 1);
  ASSERT_FALSE(text.empty());
  // The length decoder keeps a wait with the x87 form after it; the disassembler shows the wait
  // as an instruction of its own when that form has none.
  const bool loneWait = text == "fwait" && length < decoded;
  if (ok && known && text.rfind("DB", 0) != 0 && !loneWait) {
    ASSERT_EQ(decoded, length) << text;
  }
  gHookLength = hookLength;
  static const THookedDisAsm hooked;
  int32_t hookedLength = -1;
  std::string hookedText = "left over";
  ASSERT_EQ(ok, DisassembleInstruction(hooked, copy.get(), bytes.size(), 0x00401000, hookedLength, hookedText));
  ASSERT_EQ(length, hookedLength);
  ASSERT_FALSE(hookedText.empty());
  ASSERT_EQ(text.rfind("DB", 0) == 0, hookedText.rfind("DB", 0) == 0) << text << " | " << hookedText;

  TTrampolinePlan plan;
  if (PlanTrampoline(copy.get(), bytes.size(), plan)) {
    ASSERT_GE(plan.CopiedBytes, 5);
    ASSERT_LE(static_cast<size_t>(plan.CopiedBytes), bytes.size());
    std::vector<uint8_t> trampoline = BuildTrampoline(copy.get(), plan, 0x00401000, 0x10000000);
    ASSERT_EQ(static_cast<size_t>(plan.Size), trampoline.size());
    ASSERT_EQ(0xE9, trampoline[plan.CopiedBytes]);
  }
}

}  // namespace

TEST(DecoderFuzz, RandomAndMutatedBytes) {
  std::mt19937 random(20240607);
  const size_t iterations = Iterations();
  for (size_t i = 0; i < iterations; ++i) {
    std::vector<uint8_t> bytes;
    if (i % 2 == 0) {
      bytes.resize(random() % 21);
      for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    } else {
      bytes = kSeeds[random() % kSeeds.size()];
      for (int flips = static_cast<int>(random() % 3); flips >= 0 && !bytes.empty(); --flips) {
        bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
      }
      if (random() % 4 == 0) {
        static const uint8_t kPrefixes[] = {0x66, 0x67, 0xF2, 0xF3, 0xF0, 0x2E, 0x64, 0x0F, 0x9B};
        bytes.insert(bytes.begin(), kPrefixes[random() % sizeof kPrefixes]);
      }
      bytes.resize(random() % (bytes.size() + 4));  // cut short or padded with zeros
    }
    // Mostly short hook answers, now and then one longer than the line's own buffer.
    CheckOne(bytes, random() % 8 == 0 ? 200 + random() % 400 : random() % 12);
    if (::testing::Test::HasFatalFailure()) {
      std::string hex;
      for (uint8_t b : bytes) hex += IntToHex(b, 2) + " ";
      FAIL() << "bytes: " << hex;
    }
  }
}
