// Tests of the table-driven disassembler: texts, lengths, hooks and the bounds of its reading.
#include "exceptions/capture/EDisAsm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "exceptions/capture/EDisAsmTables_p.h"
#include "exceptions/capture/EHook.h"

namespace {

struct TResult {
  bool Ok = false;
  int32_t Length = 0;
  std::string Text;
};

// Disassembles from a heap copy of exactly the given bytes (the sanitizers see any overread).
TResult Disassemble(const std::vector<uint8_t>& bytes, uint32_t address = 0x00401000,
                    const TDisAsm& disasm = TDisAsm()) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.empty() ? 1 : bytes.size()]);
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  TResult result;
  result.Ok = DisassembleInstruction(disasm, copy.get(), bytes.size(), address, result.Length, result.Text);
  return result;
}

struct TCase {
  std::vector<uint8_t> Bytes;  // exactly one instruction
  const char* Text;
};

}  // namespace

// --- Texts of hand-assembled instructions

TEST(DisAsm, GeneralInstructions) {
  const TCase cases[] = {
      // A load shows no size keyword (the register says it) and a short displacement as "+$08".
      {{0x8B, 0x45, 0x08}, "mov     eax, [ebp+$08]"},
      {{0x8B, 0x45, 0xF8}, "mov     eax, [ebp-$08]"},
      // A store of an immediate carries "dword ptr" and the immediate in eight digits.
      {{0xC7, 0x45, 0xF8, 0x78, 0x56, 0x34, 0x12}, "mov     dword ptr [ebp-$08], $12345678"},
      // movzx keeps its "byte ptr" although a register is named.
      {{0x0F, 0xB6, 0x01}, "movzx   eax, byte ptr [ecx]"},
      {{0x0F, 0xBF, 0xC1}, "movsx   eax, cx"},
      {{0x2B, 0x45, 0x08}, "sub     eax, dword ptr [ebp+$08]"},
      {{0x03, 0x45, 0x08}, "add     eax, [ebp+$08]"},
      {{0x00, 0x08}, "add     [eax], cl"},
      {{0x55}, "push    ebp"},
      {{0x8B, 0xEC}, "mov     ebp, esp"},
      {{0x83, 0xEC, 0x10}, "sub     esp, +$10"},
      {{0x83, 0xC4, 0xF0}, "add     esp, -$10"},
      {{0x81, 0xEC, 0x00, 0x01, 0x00, 0x00}, "sub     esp, $00000100"},
      {{0x80, 0x38, 0x2F}, "cmp     byte ptr [eax], $2F"},
      {{0x6A, 0xFF}, "push    -$01"},
      {{0x68, 0x00, 0x10, 0x40, 0x00}, "push    $00401000"},
      {{0x8B, 0x44, 0x24, 0x04}, "mov     eax, [esp+$04]"},
      {{0x8B, 0x04, 0x8D, 0x00, 0x10, 0x40, 0x00}, "mov     eax, [ecx*4+$00401000]"},
      {{0x8B, 0x84, 0x88, 0x00, 0x01, 0x00, 0x00}, "mov     eax, [eax+ecx*4+$0100]"},
      {{0x8B, 0x05, 0x00, 0x10, 0x40, 0x00}, "mov     eax, [$00401000]"},
      {{0x8D, 0x74, 0x26, 0x00}, "lea     esi, [esi+$00]"},
      {{0xF6, 0xC1, 0x01}, "test    cl, $01"},
      {{0xF7, 0xD9}, "neg     ecx"},
      {{0xF7, 0x64, 0x24, 0x08}, "mul     dword ptr [esp+$08]"},
      {{0xD1, 0xE8}, "shr     eax, 1"},
      {{0xD3, 0xF8}, "sar     eax, cl"},
      {{0xC1, 0xE0, 0x04}, "shl     eax, $04"},
      {{0x69, 0xC0, 0x10, 0x27, 0x00, 0x00}, "imul    eax, eax, $00002710"},
      {{0xFF, 0x15, 0x00, 0x20, 0x40, 0x00}, "call    dword ptr [$00402000]"},
      {{0xFF, 0xE0}, "jmp     eax"},
      {{0x8F, 0x00}, "pop     dword ptr [eax]"},
      {{0x87, 0xD1}, "xchg    ecx, edx"},
      {{0x92}, "xchg    edx, eax"},
      {{0x98}, "cwde"},
      {{0x66, 0x98}, "cbw"},
      {{0x99}, "cdq"},
      {{0x66, 0x99}, "cwd"},
      {{0xA5}, "movsd"},
      {{0x66, 0xA5}, "movsw"},
      {{0xAA}, "stosb"},
      {{0xF3, 0xAB}, "rep stosd"},
      {{0xF2, 0xAE}, "repne scasb"},
      {{0xF0, 0x0F, 0xB1, 0x0A}, "lock cmpxchg [edx], ecx"},
      {{0xF0, 0xFF, 0x00}, "lock inc     dword ptr [eax]"},
      {{0x0F, 0x94, 0xC0}, "sete    al"},
      {{0x0F, 0x44, 0xC1}, "cmove   eax, ecx"},
      {{0x0F, 0xA2}, "cpuid"},
      {{0x0F, 0xC8}, "bswap   eax"},
      {{0x0F, 0xBA, 0xE0, 0x03}, "bt      eax, $03"},
      {{0x0F, 0xAC, 0xD0, 0x04}, "shrd    eax, edx, $04"},
      {{0x90}, "nop"},
      {{0xF3, 0x90}, "pause"},
      {{0xC3}, "ret"},
      {{0xCC}, "int3"},
      {{0xCD, 0x2E}, "int     $2E"},
      {{0x0F, 0x1F, 0x44, 0x00, 0x00}, "nop     dword ptr [eax+eax+$00]"},
      {{0x8C, 0xD8}, "mov     ax, ds"},
      {{0x0F, 0x20, 0xC0}, "mov     eax, C0"},
  };
  for (const TCase& c : cases) {
    TResult r = Disassemble(c.Bytes);
    EXPECT_TRUE(r.Ok) << c.Text;
    EXPECT_EQ(c.Text, r.Text);
    EXPECT_EQ(static_cast<int32_t>(c.Bytes.size()), r.Length) << c.Text;
  }
}

TEST(DisAsm, OperandSizePrefix) {
  // 0x66 turns "@eax" into "ax" and a full immediate into two bytes.
  TResult r = Disassemble({0x66, 0xB8, 0x34, 0x12});
  EXPECT_EQ("mov     ax, $1234", r.Text);
  EXPECT_EQ(4, r.Length);
  EXPECT_EQ("add     ax, $1234", Disassemble({0x66, 0x05, 0x34, 0x12}).Text);
  EXPECT_EQ("inc     ax", Disassemble({0x66, 0x40}).Text);
  EXPECT_EQ("inc     eax", Disassemble({0x40}).Text);
  EXPECT_EQ("push    esp", Disassemble({0x54}).Text);
  EXPECT_EQ("mov     word ptr [eax], $1234", Disassemble({0x66, 0xC7, 0x00, 0x34, 0x12}).Text);
  EXPECT_EQ("xchg    ax, ax", Disassemble({0x66, 0x90}).Text);
  EXPECT_EQ("nop     word ptr [eax+eax+$0000]",
            Disassemble({0x66, 0x0F, 0x1F, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00}).Text);
}

TEST(DisAsm, AddressSizePrefix) {
  EXPECT_EQ("mov     eax, [bp+$02]", Disassemble({0x67, 0x8B, 0x46, 0x02}).Text);
  EXPECT_EQ("mov     eax, [$1234]", Disassemble({0x67, 0x8B, 0x06, 0x34, 0x12}).Text);
  EXPECT_EQ("mov     eax, [bx+si]", Disassemble({0x67, 0x8B, 0x00}).Text);
  TResult r = Disassemble({0x67, 0xA1, 0x34, 0x12});
  EXPECT_EQ("mov     eax, dword ptr [$1234]", r.Text);
  EXPECT_EQ(4, r.Length);
}

TEST(DisAsm, SegmentOverride) {
  // Keyword first, then the segment and ":", then the bracketed address.
  EXPECT_EQ("mov     dword ptr fs:[$00000000], $00000001",
            Disassemble({0x64, 0xC7, 0x05, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}).Text);
  EXPECT_EQ("mov     eax, dword ptr fs:[$00000018]", Disassemble({0x64, 0xA1, 0x18, 0x00, 0x00, 0x00}).Text);
  EXPECT_EQ("mov     ecx, fs:[eax]", Disassemble({0x64, 0x8B, 0x08}).Text);
  // A segment prefix without a memory operand is shown as a prefix.
  EXPECT_EQ("cs nop", Disassemble({0x2E, 0x90}).Text);
}

TEST(DisAsm, ReturnsAndEnterShowEveryOperand) {
  TResult r = Disassemble({0xC2, 0x08, 0x00});
  EXPECT_EQ("ret     $0008", r.Text);
  EXPECT_EQ(3, r.Length);
  r = Disassemble({0xCA, 0x08, 0x00});
  EXPECT_EQ("retf    $0008", r.Text);
  EXPECT_EQ(3, r.Length);
  r = Disassemble({0xC8, 0x10, 0x00, 0x01});
  EXPECT_EQ("enter   $0010, $01", r.Text);
  EXPECT_EQ(4, r.Length);
  r = Disassemble({0x9A, 0x78, 0x56, 0x34, 0x12, 0x08, 0x00});
  EXPECT_EQ("call    $0008:$12345678", r.Text);
  EXPECT_EQ(7, r.Length);
}

TEST(DisAsm, OperandsFollowTheSizesInForce) {
  const TCase cases[] = {
      // Far transfers: the selector with the offset, far pointers in memory with their size.
      {{0x9A, 0x5B, 0xA1, 0xFE, 0xFD, 0x35, 0xCB}, "call    $CB35:$FDFEA15B"},
      {{0xEA, 0x5B, 0xA1, 0xFE, 0xFD, 0x35, 0xCB}, "jmp     $CB35:$FDFEA15B"},
      {{0x66, 0x9A, 0x34, 0x12, 0x08, 0x00}, "call    $0008:$1234"},
      {{0xFF, 0x1F}, "call    fword ptr [edi]"},
      {{0xFF, 0x2F}, "jmp     fword ptr [edi]"},
      {{0x66, 0xFF, 0x1F}, "call    dword ptr [edi]"},
      {{0xFF, 0x17}, "call    dword ptr [edi]"},
      // Register forms of the word-sized system operands take the operand size.
      {{0x0F, 0x01, 0xE6}, "smsw    esi"},
      {{0x66, 0x0F, 0x01, 0xE6}, "smsw    si"},
      {{0x0F, 0x01, 0x20}, "smsw    word ptr [eax]"},
      {{0x0F, 0x00, 0xC0}, "sldt    eax"},
      {{0x0F, 0x00, 0xC8}, "str     eax"},
      {{0x0F, 0x00, 0xD0}, "lldt    ax"},
      {{0x0F, 0x02, 0xC1}, "lar     eax, ecx"},
      {{0x66, 0x0F, 0x02, 0xC1}, "lar     ax, cx"},
      {{0x0F, 0x03, 0xC1}, "lsl     eax, ecx"},
      {{0x0F, 0x02, 0x01}, "lar     eax, [ecx]"},
      {{0x66, 0x0F, 0xC8}, "bswap   ax"},
      {{0x0F, 0xCF}, "bswap   edi"},
      // The jump on a zero count register names the register of the address size.
      {{0x67, 0xE3, 0x05}, "jcxz    +$05"},
      {{0xE3, 0x05}, "jecxz   +$05"},
      // A wait before an x87 form without an instruction stays an instruction of its own.
      {{0x9B}, "fwait"},
  };
  for (const TCase& c : cases) {
    TResult r = Disassemble(c.Bytes);
    EXPECT_TRUE(r.Ok) << c.Text;
    EXPECT_EQ(c.Text, r.Text);
    EXPECT_EQ(static_cast<int32_t>(c.Bytes.size()), r.Length) << c.Text;
  }
  TResult r = Disassemble({0x9B, 0xD9, 0xD1, 0x90});
  EXPECT_EQ("fwait", r.Text);
  EXPECT_EQ(1, r.Length);
  r = Disassemble({0xD9, 0xD1});
  EXPECT_EQ("DB      $D9, $D1  //", r.Text);
}

TEST(DisAsm, FloatingPoint) {
  EXPECT_EQ("fadd    st(1)", Disassemble({0xD8, 0xC1}).Text);
  EXPECT_EQ("fadd    dword ptr [esp]", Disassemble({0xD8, 0x04, 0x24}).Text);
  EXPECT_EQ("fstp    qword ptr [esp]", Disassemble({0xDD, 0x1C, 0x24}).Text);
  EXPECT_EQ("fld     tbyte ptr [esp]", Disassemble({0xDB, 0x2C, 0x24}).Text);
  EXPECT_EQ("fild    qword ptr [eax]", Disassemble({0xDF, 0x28}).Text);
  EXPECT_EQ("fnstcw  word ptr [ebp-$02]", Disassemble({0xD9, 0x7D, 0xFE}).Text);
  EXPECT_EQ("fnstsw  ax", Disassemble({0xDF, 0xE0}).Text);
  EXPECT_EQ("fxch    st(1)", Disassemble({0xD9, 0xC9}).Text);
  EXPECT_EQ("fldz", Disassemble({0xD9, 0xEE}).Text);
  EXPECT_EQ("fsubp   st(1), st", Disassemble({0xDE, 0xE9}).Text);
  EXPECT_EQ("fucomip st(1)", Disassemble({0xDF, 0xE9}).Text);
}

TEST(DisAsm, FwaitJoinsTheX87InstructionAfterIt) {
  TResult r = Disassemble({0x9B, 0xDF, 0xE0});
  EXPECT_EQ("fstsw   ax", r.Text);
  EXPECT_EQ(3, r.Length);
  EXPECT_EQ("fstcw   word ptr [ebp-$02]", Disassemble({0x9B, 0xD9, 0x7D, 0xFE}).Text);
  EXPECT_EQ("fwait fld     qword ptr [esp+$18]", Disassemble({0x9B, 0xDD, 0x44, 0x24, 0x18}).Text);
  r = Disassemble({0x9B});
  EXPECT_EQ("fwait", r.Text);
  EXPECT_EQ(1, r.Length);
  r = Disassemble({0x9B, 0x90});
  EXPECT_EQ("fwait", r.Text);
  EXPECT_EQ(1, r.Length);
  int32_t length = 0;
  const uint8_t fstsw[] = {0x9B, 0xDF, 0xE0}, alone[] = {0x9B, 0x90};
  EXPECT_TRUE(DecodeInstruction(fstsw, sizeof fstsw, length));
  EXPECT_EQ(3, length);
  EXPECT_TRUE(DecodeInstruction(alone, sizeof alone, length));
  EXPECT_EQ(1, length);
}

TEST(DisAsm, MmxAndSse) {
  const TCase cases[] = {
      {{0x0F, 0x6F, 0xC1}, "movq    MM0, MM1"},
      {{0x0F, 0x77}, "emms"},
      {{0x0F, 0x28, 0xC1}, "movaps  xmm0, xmm1"},
      {{0x0F, 0x29, 0x04, 0x24}, "movaps  [esp], xmm0"},
      {{0x66, 0x0F, 0x6F, 0xC1}, "movdqa  xmm0, xmm1"},
      {{0xF3, 0x0F, 0x6F, 0x00}, "movdqu  xmm0, [eax]"},
      {{0xF2, 0x0F, 0x10, 0x45, 0x08}, "movsd   xmm0, [ebp+$08]"},
      {{0xF3, 0x0F, 0x10, 0x45, 0x08}, "movss   xmm0, [ebp+$08]"},
      {{0x66, 0x0F, 0x7E, 0xC0}, "movd    eax, xmm0"},
      {{0x66, 0x0F, 0xD6, 0x45, 0xF8}, "movq    [ebp-$08], xmm0"},
      {{0xF2, 0x0F, 0x2C, 0xC1}, "cvttsd2si eax, xmm1"},
      {{0xF2, 0x0F, 0x2A, 0xC1}, "cvtsi2sd xmm0, ecx"},
      {{0x66, 0x0F, 0xEF, 0xC0}, "pxor    xmm0, xmm0"},
      {{0x66, 0x0F, 0x70, 0xC1, 0x1B}, "pshufd  xmm0, xmm1, $1B"},
      {{0x66, 0x0F, 0x73, 0xD8, 0x08}, "psrldq  xmm0, $08"},
      {{0x0F, 0x72, 0xD0, 0x04}, "psrld   MM0, $04"},
      {{0x0F, 0xC2, 0xC1, 0x01}, "cmpltps xmm0, xmm1"},
      {{0xF2, 0x0F, 0xC2, 0x45, 0x08, 0x04}, "cmpneqsd xmm0, [ebp+$08]"},
      {{0xF3, 0x0F, 0xB8, 0xC1}, "popcnt  eax, ecx"},
      {{0x0F, 0xAE, 0xF8}, "sfence"},
      {{0x0F, 0xAE, 0x5D, 0xFC}, "stmxcsr dword ptr [ebp-$04]"},
      {{0x66, 0x0F, 0x38, 0x00, 0xC1}, "pshufb  xmm0, xmm1"},
      {{0x0F, 0x38, 0x00, 0xC1}, "pshufb  MM0, MM1"},
      {{0x66, 0x0F, 0x3A, 0x0F, 0xC1, 0x08}, "palignr xmm0, xmm1, $08"},
      {{0x66, 0x0F, 0x3A, 0x16, 0xC0, 0x01}, "pextrd  eax, xmm0, $01"},
      {{0x66, 0x0F, 0x38, 0x17, 0xC1}, "ptest   xmm0, xmm1"},
      {{0xF2, 0x0F, 0x38, 0xF1, 0xC1}, "crc32   eax, ecx"},
      {{0x66, 0x0F, 0x3A, 0x63, 0x44, 0x24, 0x10, 0x0C}, "pcmpistri xmm0, [esp+$10], $0C"},
      {{0x0F, 0x01, 0xD0}, "xgetbv"},
      {{0x0F, 0xC7, 0x0E}, "cmpxchg8b qword ptr [esi]"},
  };
  for (const TCase& c : cases) {
    TResult r = Disassemble(c.Bytes);
    EXPECT_TRUE(r.Ok) << c.Text;
    EXPECT_EQ(c.Text, r.Text);
    EXPECT_EQ(static_cast<int32_t>(c.Bytes.size()), r.Length) << c.Text;
  }
}

// --- Undefined opcodes and the bounds of reading

TEST(DisAsm, UndefinedOpcodeGivesADbLine) {
  TResult r = Disassemble({0x0F, 0x04});
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(2, r.Length);
  EXPECT_EQ("DB      $0F, $04  //", r.Text);
  r = Disassemble({0xD6});
  EXPECT_EQ("DB      $D6  //", r.Text);
  EXPECT_EQ(1, r.Length);
  r = Disassemble({0xFF, 0xF8});  // group of 0xFF, reg 7
  EXPECT_EQ("DB      $FF, $F8  //", r.Text);
}

TEST(DisAsm, TruncatedInstructionIsOneDbByte) {
  TResult r = Disassemble({0xE8, 0x00, 0x00});
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(1, r.Length);
  EXPECT_EQ("DB      $E8", r.Text);
  r = Disassemble({0x8B, 0x84, 0x24, 0x00, 0x01, 0x00});
  EXPECT_FALSE(r.Ok);
  r = Disassemble({});
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(0, r.Length);
  EXPECT_EQ("", r.Text);
}

TEST(DisAsm, FifteenBytesAtMost) {
  std::vector<uint8_t> bytes(14, 0x3E);
  bytes.push_back(0x90);
  TResult r = Disassemble(bytes);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(15, r.Length);
  bytes.insert(bytes.begin(), 0x3E);
  r = Disassemble(bytes);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(1, r.Length);
}

// --- Hooks

namespace {

struct TSeen {
  std::vector<std::string> Calls;
};

void Record(const char* kind, uintptr_t user, uint32_t address, uint32_t value, std::string& text) {
  auto* seen = reinterpret_cast<TSeen*>(user);
  seen->Calls.push_back(std::string(kind) + " " + IntToHex(address, 8) + " " + IntToHex(value, 1) + " " + text);
}

}  // namespace

TEST(DisAsm, HooksSeeTargetsAddressesAndOperands) {
  TSeen seen;
  TDisAsm disasm;
  disasm.UserData = reinterpret_cast<uintptr_t>(&seen);
  disasm.OnCallTarget = [](uintptr_t u, uint32_t a, uint32_t v, std::string& t) {
    Record("call", u, a, v, t);
    t = "Target";
  };
  disasm.OnJumpTarget = [](uintptr_t u, uint32_t a, uint32_t v, std::string& t) { Record("jump", u, a, v, t); };
  disasm.OnAddress = [](uintptr_t u, uint32_t a, uint32_t v, std::string& t) {
    Record("address", u, a, v, t);
    t = "gCounter";
  };
  disasm.OnImmediate = [](uintptr_t u, uint32_t a, uint32_t v, std::string& t) { Record("imm", u, a, v, t); };
  disasm.OnMemoryOperand = [](uintptr_t u, uint32_t a, uint32_t v, std::string& t) { Record("mem", u, a, v, t); };

  TResult r = Disassemble({0xE8, 0x10, 0x00, 0x00, 0x00}, 0x1000, disasm);
  EXPECT_EQ("call    Target", r.Text);
  r = Disassemble({0xEB, 0xFE}, 0x2000, disasm);
  EXPECT_EQ("jmp     -$02", r.Text);
  r = Disassemble({0xC7, 0x05, 0x00, 0x30, 0x40, 0x00, 0x07, 0x00, 0x00, 0x00}, 0x3000, disasm);
  EXPECT_EQ("mov     dword ptr [gCounter], $00000007", r.Text);

  const std::vector<std::string> expected = {
      "call 00001015 4 +$00000010",
      "jump 00002000 1 -$02",
      "address 00003002 403000 $00403000",
      "mem 00003001 4 [gCounter]",
      "imm 00003006 7 $00000007",
  };
  EXPECT_EQ(expected, seen.Calls);
}

TEST(DisAsm, HookTextIsNotExpandedAgain) {
  TDisAsm disasm;
  disasm.OnCallTarget = [](uintptr_t, uint32_t, uint32_t, std::string& t) { t = "@eax#Eb %c ^9"; };
  TResult r = Disassemble({0xE8, 0x00, 0x00, 0x00, 0x00}, 0x1000, disasm);
  EXPECT_EQ("call    @eax#Eb %c ^9", r.Text);
  EXPECT_EQ(5, r.Length);
}

TEST(DisAsm, LongHookTextsKeepKeywordsAndPrefixesInPlace) {
  // Hook answers far longer than any instruction's own text: the size keyword still goes in
  // front of the operand, the unused prefixes in front of the line, the rest after it.
  TDisAsm disasm;
  disasm.OnAddress = [](uintptr_t, uint32_t, uint32_t, std::string& t) { t = std::string(700, 'a') + t; };
  disasm.OnImmediate = [](uintptr_t, uint32_t, uint32_t, std::string& t) { t += std::string(300, 'i'); };
  // lock add dword ptr fs:[eax+$1234], +$05 (0x64 before 0xF0: both prefixes are read)
  TResult r = Disassemble({0x64, 0xF0, 0x83, 0x80, 0x34, 0x12, 0x00, 0x00, 0x05}, 0x1000, disasm);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(9, r.Length);
  EXPECT_EQ("lock add     dword ptr fs:[eax+" + std::string(700, 'a') + "$1234], +$05" + std::string(300, 'i'), r.Text);
  // A rep and a segment that no operand uses stay in front of a long line.
  disasm.OnMemoryOperand = [](uintptr_t, uint32_t, uint32_t, std::string& t) { t = "[" + std::string(500, 'm') + "]"; };
  r = Disassemble({0xF3, 0x2E, 0xA5}, 0x1000, disasm);
  EXPECT_EQ("rep cs movsd", r.Text);
  r = Disassemble({0x9B, 0xD9, 0x3D, 0x00, 0x20, 0x40, 0x00}, 0x1000, disasm);
  EXPECT_EQ("fstcw   word ptr [" + std::string(500, 'm') + "]", r.Text);
}

TEST(DisAsm, TextIsReplacedNotAppended) {
  TDisAsm disasm;
  std::string text(400, 'x');
  int32_t length = 0;
  const uint8_t push[] = {0x55};
  ASSERT_TRUE(DisassembleInstruction(disasm, push, sizeof push, 0x1000, length, text));
  EXPECT_EQ("push    ebp", text);
  const uint8_t undefined[] = {0x0F, 0x04};
  ASSERT_TRUE(DisassembleInstruction(disasm, undefined, sizeof undefined, 0x1000, length, text));
  EXPECT_EQ("DB      $0F, $04  //", text);
}

// --- Tables against the length decoder

TEST(DisAsmTables, EveryEntryIsFilled) {
  using namespace disasm_tables;
  for (int i = 0; i < 256; ++i) {
    EXPECT_NE(nullptr, kOneByte[i]) << i;
    EXPECT_NE(nullptr, kTwoByte[i]) << i;
  }
  for (int escape = 0; escape < 8; ++escape) {
    for (int modrm = 0; modrm < 256; ++modrm) {
      EXPECT_NE(nullptr, FloatTemplate(escape, static_cast<uint8_t>(modrm))) << escape << " " << modrm;
    }
  }
  for (char group = 'a'; group <= 'z'; ++group) {
    for (int reg = 0; reg < 8; ++reg) EXPECT_NE(nullptr, GroupTemplate(group, reg, false)) << group << reg;
  }
}

TEST(DisAsmTables, LengthsAgreeWithTheLengthDecoderOverTheOpcodeMaps) {
  // Every opcode of the one-byte, 0x0F, 0x0F 0x38 and 0x0F 0x3A maps, under each mandatory
  // prefix and with a few ModRM bytes: both decoders must agree wherever both know the bytes.
  const uint8_t modrms[] = {0x00, 0x05, 0x04, 0x44, 0x84, 0xC1, 0x0C, 0x4D, 0xD8, 0xF8};
  const std::vector<std::vector<uint8_t>> leads = {
      {}, {0x66}, {0xF3}, {0xF2}, {0x0F}, {0x66, 0x0F}, {0xF3, 0x0F}, {0xF2, 0x0F},
      {0x0F, 0x38}, {0x66, 0x0F, 0x38}, {0x0F, 0x3A}, {0x66, 0x0F, 0x3A}, {0x67}};
  int compared = 0;
  for (const auto& lead : leads) {
    for (int op = 0; op < 256; ++op) {
      for (uint8_t modrm : modrms) {
        std::vector<uint8_t> bytes = lead;
        bytes.push_back(static_cast<uint8_t>(op));
        bytes.push_back(modrm);
        bytes.push_back(0x25);  // SIB (no base), then displacement and immediate bytes
        for (int i = 0; i < 10; ++i) bytes.push_back(static_cast<uint8_t>(0x11 * (i + 1)));
        int32_t length = 0;
        bool known = DecodeInstruction(bytes.data(), bytes.size(), length);
        TResult r = Disassemble(bytes);
        if (!known || !r.Ok || r.Text.rfind("DB", 0) == 0) continue;
        ++compared;
        EXPECT_EQ(length, r.Length) << r.Text << " lead " << lead.size() << " op " << op << " modrm " << int(modrm);
      }
    }
  }
  EXPECT_GT(compared, 20000);
}
