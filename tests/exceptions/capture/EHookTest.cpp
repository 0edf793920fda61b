// Tests of the instruction-length decoder and the trampoline builder (portable half of EHook).
#include "exceptions/capture/EHook.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

struct TEncoding {
  std::vector<uint8_t> Bytes;  // exactly one instruction
  const char* What;
};

// Hand-assembled instructions; each vector is exactly one instruction long.
const TEncoding kEncodings[] = {
    {{0x55}, "push ebp"},
    {{0x8B, 0xEC}, "mov ebp, esp"},
    {{0x83, 0xEC, 0x10}, "sub esp, 16"},
    {{0x81, 0xEC, 0x00, 0x01, 0x00, 0x00}, "sub esp, 256"},
    {{0x66, 0x81, 0xEC, 0x00, 0x01}, "sub sp, 256"},
    {{0x05, 0x01, 0x02, 0x03, 0x04}, "add eax, imm32"},
    {{0x66, 0x05, 0x01, 0x02}, "add ax, imm16"},
    {{0xC7, 0x45, 0xF8, 0x01, 0x00, 0x00, 0x00}, "mov dword [ebp-8], 1"},
    {{0xC7, 0x84, 0x24, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}, "mov dword [esp+256], 1"},
    {{0x66, 0xC7, 0x00, 0x34, 0x12}, "mov word [eax], imm16"},
    {{0xC6, 0x00, 0x01}, "mov byte [eax], 1"},
    {{0x8B, 0x04, 0x85, 0x00, 0x10, 0x40, 0x00}, "mov eax, [eax*4+disp32]"},
    {{0x8B, 0x44, 0x24, 0x04}, "mov eax, [esp+4]"},
    {{0x8B, 0x04, 0x24}, "mov eax, [esp]"},
    {{0x8B, 0x05, 0x00, 0x10, 0x40, 0x00}, "mov eax, [disp32]"},
    {{0x8B, 0x80, 0x00, 0x10, 0x00, 0x00}, "mov eax, [eax+disp32]"},
    {{0x8B, 0x84, 0x88, 0x00, 0x10, 0x00, 0x00}, "mov eax, [eax+ecx*4+disp32]"},
    {{0xA1, 0x00, 0x10, 0x40, 0x00}, "mov eax, moffs32"},
    {{0x67, 0xA1, 0x00, 0x10}, "mov eax, moffs16"},
    {{0x67, 0xA2, 0x00, 0x10}, "mov moffs16, al"},
    {{0x66, 0xA1, 0x00, 0x10, 0x40, 0x00}, "mov ax, moffs32"},
    {{0x64, 0xA1, 0x00, 0x00, 0x00, 0x00}, "mov eax, fs:[0]"},
    {{0x67, 0x8B, 0x46, 0x02}, "mov eax, [bp+2]"},
    {{0x67, 0x8B, 0x06, 0x34, 0x12}, "mov eax, [disp16]"},
    {{0x67, 0x8B, 0x86, 0x34, 0x12}, "mov eax, [bp+disp16]"},
    {{0xE8, 0x00, 0x00, 0x00, 0x00}, "call rel32"},
    {{0x66, 0xE8, 0x00, 0x00}, "call rel16"},
    {{0xE9, 0x00, 0x00, 0x00, 0x00}, "jmp rel32"},
    {{0xEB, 0x05}, "jmp short"},
    {{0x74, 0xFE}, "je short"},
    {{0xE3, 0x02}, "jecxz"},
    {{0x0F, 0x84, 0x00, 0x01, 0x00, 0x00}, "je near"},
    {{0x9A, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00}, "call far ptr16:32"},
    {{0x66, 0xEA, 0x00, 0x00, 0x08, 0x00}, "jmp far ptr16:16"},
    {{0xC2, 0x08, 0x00}, "ret 8"},
    {{0xCA, 0x08, 0x00}, "retf 8"},
    {{0xC8, 0x10, 0x00, 0x00}, "enter 16, 0"},
    {{0xCD, 0x2E}, "int 0x2e"},
    {{0xF6, 0xC1, 0x01}, "test cl, 1"},
    {{0xF6, 0xD1}, "not cl"},
    {{0xF7, 0xC1, 0x01, 0x00, 0x00, 0x00}, "test ecx, imm32"},
    {{0x66, 0xF7, 0xC1, 0x01, 0x00}, "test cx, imm16"},
    {{0xF7, 0xD9}, "neg ecx"},
    {{0xF7, 0x64, 0x24, 0x08}, "mul dword [esp+8]"},
    {{0x69, 0xC0, 0x10, 0x27, 0x00, 0x00}, "imul eax, eax, 10000"},
    {{0x6B, 0xC0, 0x05}, "imul eax, eax, 5"},
    {{0x68, 0x00, 0x10, 0x40, 0x00}, "push imm32"},
    {{0x6A, 0xFF}, "push -1"},
    {{0xB8, 0x01, 0x00, 0x00, 0x00}, "mov eax, 1"},
    {{0x66, 0xB8, 0x01, 0x00}, "mov ax, 1"},
    {{0xB0, 0x01}, "mov al, 1"},
    {{0xC1, 0xE0, 0x04}, "shl eax, 4"},
    {{0xD1, 0xE8}, "shr eax, 1"},
    {{0x0F, 0xB6, 0xC0}, "movzx eax, al"},
    {{0x0F, 0xBA, 0xE0, 0x03}, "bt eax, 3"},
    {{0x0F, 0xA4, 0xC2, 0x04}, "shld edx, eax, 4"},
    {{0x0F, 0xA5, 0xC2}, "shld edx, eax, cl"},
    {{0x0F, 0xA2}, "cpuid"},
    {{0x0F, 0x31}, "rdtsc"},
    {{0x0F, 0xC8}, "bswap eax"},
    {{0x0F, 0x1F, 0x44, 0x00, 0x00}, "nop dword [eax+eax]"},
    {{0x66, 0x0F, 0x1F, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00}, "nop word [eax+eax+0]"},
    {{0x8D, 0xB4, 0x26, 0x00, 0x00, 0x00, 0x00}, "lea esi, [esi+0]"},
    {{0x0F, 0x20, 0xC0}, "mov eax, cr0"},
    {{0x0F, 0x22, 0x00}, "mov cr0, eax (mod bits ignored)"},
    {{0x0F, 0x70, 0xC1, 0x1B}, "pshufw mm0, mm1, 0x1b"},
    {{0x66, 0x0F, 0x70, 0xC1, 0x1B}, "pshufd xmm0, xmm1, 0x1b"},
    {{0x66, 0x0F, 0x73, 0xD8, 0x08}, "psrldq xmm0, 8"},
    {{0x0F, 0xC2, 0xC1, 0x01}, "cmpltps xmm0, xmm1"},
    {{0xF2, 0x0F, 0x10, 0x45, 0x08}, "movsd xmm0, [ebp+8]"},
    {{0x66, 0x0F, 0x6F, 0x04, 0x24}, "movdqa xmm0, [esp]"},
    {{0xF3, 0x0F, 0xB8, 0xC1}, "popcnt eax, ecx"},
    {{0x66, 0x0F, 0x38, 0x00, 0xC1}, "pshufb xmm0, xmm1"},
    {{0x66, 0x0F, 0x3A, 0x0F, 0xC1, 0x08}, "palignr xmm0, xmm1, 8"},
    {{0x66, 0x0F, 0x3A, 0x63, 0x44, 0x24, 0x10, 0x0C}, "pcmpistri xmm0, [esp+16], 12"},
    {{0xF2, 0x0F, 0x38, 0xF1, 0xC1}, "crc32 eax, ecx"},
    {{0xF3, 0xA5}, "rep movsd"},
    {{0xF0, 0x0F, 0xB1, 0x0A}, "lock cmpxchg [edx], ecx"},
    {{0xF0, 0x0F, 0xC7, 0x0E}, "lock cmpxchg8b [esi]"},
    {{0xD9, 0x7D, 0xFE}, "fnstcw [ebp-2]"},
    {{0xDD, 0x1C, 0x24}, "fstp qword [esp]"},
    {{0xD8, 0xC1}, "fadd st, st(1)"},
    {{0xDF, 0xE0}, "fnstsw ax"},
    {{0xC5, 0xF8, 0x77}, "vzeroupper"},
    {{0xC5, 0xFA, 0x6F, 0x04, 0x24}, "vmovdqu xmm0, [esp]"},
    {{0xC4, 0xE3, 0x79, 0x0F, 0xC1, 0x08}, "vpalignr xmm0, xmm0, xmm1, 8"},
    {{0xC4, 0x00}, "les eax, [eax]"},
    {{0x0F, 0x0B}, "ud2"},
};

// A copy on the heap of exactly `size` bytes, so that the sanitizers catch any read beyond.
std::unique_ptr<uint8_t[]> ExactCopy(const std::vector<uint8_t>& bytes, size_t size) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size == 0 ? 1 : size]);
  if (size > 0) std::memcpy(copy.get(), bytes.data(), size);
  return copy;
}

}  // namespace

// --- Lengths

TEST(DecodeInstruction, KnownEncodingsHaveTheirLength) {
  for (const TEncoding& encoding : kEncodings) {
    auto copy = ExactCopy(encoding.Bytes, encoding.Bytes.size());
    int32_t length = -1;
    EXPECT_TRUE(DecodeInstruction(copy.get(), encoding.Bytes.size(), length)) << encoding.What;
    EXPECT_EQ(static_cast<int32_t>(encoding.Bytes.size()), length) << encoding.What;
  }
}

TEST(DecodeInstruction, NeverReadsBeyondTheBufferGiven) {
  // One byte short: the instruction does not fit, the answer is false and nothing beyond the
  // buffer is touched (the copy is exactly that long).
  for (const TEncoding& encoding : kEncodings) {
    size_t shorter = encoding.Bytes.size() - 1;
    auto copy = ExactCopy(encoding.Bytes, shorter);
    int32_t length = -1;
    EXPECT_FALSE(DecodeInstruction(copy.get(), shorter, length)) << encoding.What;
    EXPECT_EQ(0, length) << encoding.What;
  }
}

TEST(DecodeInstruction, FifteenBytesAtMost) {
  std::vector<uint8_t> bytes(14, 0x66);
  bytes.push_back(0x90);
  int32_t length = 0;
  EXPECT_TRUE(DecodeInstruction(bytes.data(), bytes.size(), length));
  EXPECT_EQ(15, length);

  bytes.insert(bytes.begin(), 0x66);  // 16 bytes: longer than any instruction may be
  bytes.resize(32, 0x90);
  EXPECT_FALSE(DecodeInstruction(bytes.data(), bytes.size(), length));

  // An immediate that would end at byte 16.
  std::vector<uint8_t> longImmediate(10, 0x2E);
  const uint8_t tail[] = {0xC7, 0x00, 0x01, 0x00, 0x00, 0x00};
  longImmediate.insert(longImmediate.end(), tail, tail + sizeof tail);
  ASSERT_EQ(16u, longImmediate.size());
  EXPECT_FALSE(DecodeInstruction(longImmediate.data(), longImmediate.size(), length));
}

TEST(DecodeInstruction, RejectsWhatIsNoInstruction) {
  const std::vector<std::vector<uint8_t>> invalid = {
      {0xD6, 0x90, 0x90}, {0x0F, 0x04, 0x90}, {0x0F, 0x0A, 0x90}, {0x0F, 0x3B, 0x90, 0x90}};
  for (const auto& bytes : invalid) {
    int32_t length = -1;
    EXPECT_FALSE(DecodeInstruction(bytes.data(), bytes.size(), length)) << int(bytes[1]);
  }
  int32_t length = -1;
  EXPECT_FALSE(DecodeInstruction(nullptr, 10, length));
  uint8_t onlyPrefixes[] = {0x66, 0x67, 0xF3};
  EXPECT_FALSE(DecodeInstruction(onlyPrefixes, sizeof onlyPrefixes, length));
}

TEST(DecodeInstruction, ReportsRelativeOperands) {
  TInstructionInfo info;
  const uint8_t jcc[] = {0x66, 0x74, 0x10};
  ASSERT_TRUE(DecodeInstructionInfo(jcc, sizeof jcc, info));
  EXPECT_EQ(TRelativeKind::Short, info.Relative);
  EXPECT_EQ(2, info.RelativeOffset);
  EXPECT_EQ(1, info.PrefixCount);

  const uint8_t nearJcc[] = {0x0F, 0x85, 1, 2, 3, 4};
  ASSERT_TRUE(DecodeInstructionInfo(nearJcc, sizeof nearJcc, info));
  EXPECT_EQ(TRelativeKind::Near, info.Relative);
  EXPECT_EQ(2, info.RelativeOffset);

  const uint8_t call16[] = {0x66, 0xE8, 1, 2};  // not a 32-bit displacement: left alone
  ASSERT_TRUE(DecodeInstructionInfo(call16, sizeof call16, info));
  EXPECT_EQ(TRelativeKind::None, info.Relative);

  const uint8_t ret[] = {0xC2, 4, 0};
  ASSERT_TRUE(DecodeInstructionInfo(ret, sizeof ret, info));
  EXPECT_TRUE(info.IsReturn);
}

// --- Trampolines

namespace {

uint32_t Rel32At(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t value;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

}  // namespace

TEST(Trampoline, CopiesWholeInstructionsCoveringFiveBytes) {
  const uint8_t prologue[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10, 0x90};
  TTrampolinePlan plan;
  ASSERT_TRUE(PlanTrampoline(prologue, sizeof prologue, plan));
  EXPECT_EQ(6, plan.CopiedBytes);
  EXPECT_EQ(11, plan.Size);

  const uint32_t procedure = 0x10001000, trampoline = 0x20002000;
  std::vector<uint8_t> bytes = BuildTrampoline(prologue, plan, procedure, trampoline);
  ASSERT_EQ(11u, bytes.size());
  EXPECT_EQ(0, std::memcmp(bytes.data(), prologue, 6));
  EXPECT_EQ(0xE9, bytes[6]);
  // The jump back lands on procedure + 6.
  EXPECT_EQ(procedure + 6, trampoline + 6 + 5 + Rel32At(bytes, 7));
}

TEST(Trampoline, InstructionLongerThanTheJumpIsCopiedWhole) {
  const uint8_t code[] = {0xC7, 0x45, 0xF8, 0x01, 0x00, 0x00, 0x00, 0xC3};
  TTrampolinePlan plan;
  ASSERT_TRUE(PlanTrampoline(code, sizeof code, plan));
  EXPECT_EQ(7, plan.CopiedBytes);
  EXPECT_EQ(12, plan.Size);
}

TEST(Trampoline, ShortJumpLeavingTheCopiedBytesGoesThroughAStub) {
  // test eax, eax; je +0x10; nop — the je targets procedure + 20, outside the 5 copied bytes.
  const uint8_t code[] = {0x85, 0xC0, 0x74, 0x10, 0x90, 0x90};
  TTrampolinePlan plan;
  ASSERT_TRUE(PlanTrampoline(code, sizeof code, plan));
  EXPECT_EQ(5, plan.CopiedBytes);
  EXPECT_EQ(15, plan.Size);

  const uint32_t procedure = 0x00401000, trampoline = 0x00900000;
  std::vector<uint8_t> bytes = BuildTrampoline(code, plan, procedure, trampoline);
  ASSERT_EQ(15u, bytes.size());
  EXPECT_EQ(0x74, bytes[2]);
  const uint32_t stub = 4 + static_cast<int8_t>(bytes[3]);
  EXPECT_EQ(10u, stub);  // after the copied bytes and the jump back
  ASSERT_EQ(0xE9, bytes[stub]);
  EXPECT_EQ(procedure + 20, trampoline + stub + 5 + Rel32At(bytes, stub + 1));
}

TEST(Trampoline, ShortJumpInsideTheCopiedBytesStaysAsItIs) {
  const uint8_t code[] = {0x74, 0x01, 0x90, 0x8B, 0xEC, 0x5D};
  TTrampolinePlan plan;
  ASSERT_TRUE(PlanTrampoline(code, sizeof code, plan));
  EXPECT_EQ(5, plan.CopiedBytes);
  EXPECT_EQ(10, plan.Size);
  std::vector<uint8_t> bytes = BuildTrampoline(code, plan, 0x1000, 0x5000);
  EXPECT_EQ(0, std::memcmp(bytes.data(), code, 5));
}

TEST(Trampoline, Rel32CallAndJumpKeepTheirTargets) {
  // call +0x100; jne near +0x20 (both leave the copied bytes)
  const uint8_t code[] = {0xE8, 0x00, 0x01, 0x00, 0x00, 0x0F, 0x85, 0x20, 0x00, 0x00, 0x00};
  TTrampolinePlan plan;
  ASSERT_TRUE(PlanTrampoline(code, sizeof code, plan));
  EXPECT_EQ(5, plan.CopiedBytes);

  const uint32_t procedure = 0x7C801000, trampoline = 0x00A30000;
  std::vector<uint8_t> bytes = BuildTrampoline(code, plan, procedure, trampoline);
  EXPECT_EQ(procedure + 5 + 0x100, trampoline + 5 + Rel32At(bytes, 1));

  // A plan that covers the jcc as well: start one instruction earlier with a 2-byte nop.
  const uint8_t code2[] = {0x66, 0x90, 0x0F, 0x85, 0x20, 0x00, 0x00, 0x00};
  ASSERT_TRUE(PlanTrampoline(code2, sizeof code2, plan));
  EXPECT_EQ(8, plan.CopiedBytes);
  bytes = BuildTrampoline(code2, plan, procedure, trampoline);
  EXPECT_EQ(procedure + 8 + 0x20, trampoline + 8 + Rel32At(bytes, 4));
}

TEST(Trampoline, RefusesProceduresThatEndBeforeFiveBytes) {
  TTrampolinePlan plan;
  const uint8_t shortProcedure[] = {0x33, 0xC0, 0xC3, 0x90, 0x90, 0x90};
  EXPECT_FALSE(PlanTrampoline(shortProcedure, sizeof shortProcedure, plan));
  const uint8_t jumpAway[] = {0xEB, 0x10, 0x90, 0x90, 0x90, 0x90};
  EXPECT_FALSE(PlanTrampoline(jumpAway, sizeof jumpAway, plan));
  const uint8_t undecodable[] = {0x90, 0xD6, 0x90, 0x90, 0x90, 0x90};
  EXPECT_FALSE(PlanTrampoline(undecodable, sizeof undecodable, plan));
  const uint8_t tooShort[] = {0x90, 0x90};
  EXPECT_FALSE(PlanTrampoline(tooShort, sizeof tooShort, plan));
  EXPECT_FALSE(PlanTrampoline(nullptr, 16, plan));
}

TEST(HookMessages, NameTheProcedure) {
  EXPECT_EQ("Cannot hook a null procedure (\"RaiseException\").", FormatHookMessage(sProcNull, "RaiseException"));
  EXPECT_EQ("Cannot hook the procedure \"Foo\".", FormatHookMessage(sHookingError, "Foo"));
  EXPECT_EQ("Cannot hook the module \"x.dll\" located into the shared-area.",
            FormatHookMessage(sSharedArea, "x.dll"));
}
