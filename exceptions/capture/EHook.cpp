// Portable half of the code hooks: the instruction-length decoder and trampoline building.
#include "EHook.h"

#include <algorithm>
#include <cstring>

const char* const sProcNull = "Cannot hook a null procedure (\"%s\").";
const char* const sHookingError = "Cannot hook the procedure \"%s\".";
const char* const sSharedArea = "Cannot hook the module \"%s\" located into the shared-area.";

std::string FormatHookMessage(const char* text, const std::string& name) {
  std::string message = text;
  size_t at = message.find("%s");
  if (at != std::string::npos) message.replace(at, 2, name);
  return message;
}

namespace {

// --- Length tables

// Operand-byte codes: 0-4 that many bytes; B four bytes, two after 0x66; D six bytes, four after
// 0x66; E a ModRM byte follows; F not an instruction. Prefix and escape bytes are handled
// before the table is consulted. One row per high nibble of the opcode.
constexpr char kOneByteCodes[] =
    "EEEE1B00EEEE1B00"  // 0x00 add, or, push/pop es/cs
    "EEEE1B00EEEE1B00"  // 0x10 adc, sbb
    "EEEE1B00EEEE1B00"  // 0x20 and, sub, daa, das
    "EEEE1B00EEEE1B00"  // 0x30 xor, cmp, aaa, aas
    "0000000000000000"  // 0x40 inc, dec
    "0000000000000000"  // 0x50 push, pop
    "00EE0000BE1E0000"  // 0x60 pusha, bound, arpl, push imm, imul, ins/outs
    "1111111111111111"  // 0x70 jcc short
    "EEEEEEEEEEEEEEEE"  // 0x80 groups, test, xchg, mov, lea, pop
    "0000000000D00000"  // 0x90 xchg, cwde, call far, fwait, pushf, sahf
    "444400001B000000"  // 0xA0 mov moffs, string instructions, test
    "11111111BBBBBBBB"  // 0xB0 mov reg, imm
    "EE20EEEE30200100"  // 0xC0 shifts, ret, les/lds, mov, enter, leave, retf, int
    "EEEE11F0EEEEEEEE"  // 0xD0 shifts, aam/aad, xlat, x87
    "11111111BBD10000"  // 0xE0 loop, in/out, call, jmp
    "000000EE000000EE"; // 0xF0 hlt, cmc, groups, flags
constexpr char kTwoByteCodes[] =
    "EEEEF00000F0FE0E"  // 0x00 groups, lar, lsl, syscall, clts, ud2, prefetch, 3DNow!
    "EEEEEEEEEEEEEEEE"  // 0x10 SSE moves, prefetch, hint nops
    "1111FFFFEEEEEEEE"  // 0x20 mov control/debug registers (always register form), SSE
    "000000F0EFEFFFFF"  // 0x30 wrmsr .. sysexit, getsec, three-byte escapes
    "EEEEEEEEEEEEEEEE"  // 0x40 cmovcc
    "EEEEEEEEEEEEEEEE"  // 0x50 SSE arithmetic
    "EEEEEEEEEEEEEEEE"  // 0x60 MMX/SSE2 unpack and pack
    "EEEEEEE0EEFFEEEE"  // 0x70 shuffles, shift groups, emms, vmread/vmwrite, movd/movq
    "BBBBBBBBBBBBBBBB"  // 0x80 jcc near
    "EEEEEEEEEEEEEEEE"  // 0x90 setcc
    "000EEEFF000EEEEE"  // 0xA0 push/pop fs/gs, cpuid, bt, shld/shrd, group, imul
    "EEEEEEEEEEEEEEEE"  // 0xB0 cmpxchg, lss, btr, movzx, popcnt, group, bsf, movsx
    "EEEEEEEE00000000"  // 0xC0 xadd, cmpps, movnti, pinsrw, shufps, group, bswap
    "EEEEEEEEEEEEEEEE"  // 0xD0 MMX/SSE2
    "EEEEEEEEEEEEEEEE"  // 0xE0 MMX/SSE2
    "EEEEEEEEEEEEEEEE"; // 0xF0 MMX/SSE2, ud0

constexpr uint8_t NibbleOf(char c) { return static_cast<uint8_t>(c <= '9' ? c - '0' : c - 'A' + 10); }

// The 256-entry table of 4-bit codes: low nibble one-byte map, high nibble 0x0F map.
struct TLengthTable {
  uint8_t Codes[256];
  constexpr TLengthTable() : Codes() {
    for (int i = 0; i < 256; ++i) {
      Codes[i] = static_cast<uint8_t>(NibbleOf(kOneByteCodes[i]) | (NibbleOf(kTwoByteCodes[i]) << 4));
    }
  }
};
constexpr TLengthTable kLengthTable;

enum : uint8_t { kFullImmediate = 11, kFarPointer = 13, kModRM = 14, kInvalid = 15 };

bool IsPrefix(uint8_t b) {
  switch (b) {
    case 0x26: case 0x2E: case 0x36: case 0x3E: case 0x64: case 0x65:
    case 0x66: case 0x67: case 0xF0: case 0xF2: case 0xF3:
      return true;
    default:
      return false;
  }
}

bool IsShortJump(uint8_t op) { return (op >= 0x70 && op <= 0x7F) || (op >= 0xE0 && op <= 0xE3) || op == 0xEB; }
bool IsReturnOpcode(uint8_t op) { return op == 0xC2 || op == 0xC3 || op == 0xCA || op == 0xCB; }

// Bytes after the ModRM byte taken by the SIB byte and the displacement.
bool ModRMExtra(const uint8_t* p, size_t limit, size_t modrmAt, bool address16, int32_t& extra) {
  uint8_t modrm = p[modrmAt];
  int mod = modrm >> 6, rm = modrm & 7;
  extra = 0;
  if (mod == 3) return true;
  if (address16) {
    if (mod == 0) extra = rm == 6 ? 2 : 0;
    else extra = mod == 1 ? 1 : 2;
    return true;
  }
  if (rm == 4) {
    if (modrmAt + 1 >= limit) return false;
    uint8_t sib = p[modrmAt + 1];
    extra = 1;
    if (mod == 0 && (sib & 7) == 5) extra += 4;
  } else if (mod == 0 && rm == 5) {
    extra = 4;
  }
  if (mod == 1) extra += 1;
  if (mod == 2) extra += 4;
  return true;
}

// Immediate bytes after the ModRM operand of one-byte opcodes.
int32_t OneByteImmediate(uint8_t op, uint8_t modrm, int32_t operandSize) {
  int reg = (modrm >> 3) & 7;
  switch (op) {
    case 0x6B: case 0x80: case 0x82: case 0x83: case 0xC0: case 0xC1: case 0xC6:
      return 1;
    case 0x69: case 0x81: case 0xC7:
      return operandSize;
    case 0xF6:
      return reg <= 1 ? 1 : 0;  // test r/m8, imm8 (reg 1 is its undocumented twin)
    case 0xF7:
      return reg <= 1 ? operandSize : 0;
    default:
      return 0;
  }
}

int32_t TwoByteImmediate(uint8_t op) {
  switch (op) {
    case 0x70: case 0x71: case 0x72: case 0x73: case 0xA4: case 0xAC: case 0xBA:
    case 0xC2: case 0xC4: case 0xC5: case 0xC6:
      return 1;
    default:
      return 0;
  }
}

}  // namespace

// --- Decoding

bool DecodeInstructionInfo(const void* code, size_t available, TInstructionInfo& info) {
  info = TInstructionInfo();
  if (code == nullptr) return false;
  const uint8_t* p = static_cast<const uint8_t*>(code);
  const size_t limit = std::min<size_t>(available, MaxInstructionLength);
  size_t pos = 0;
  bool operand16 = false, address16 = false;
  // fwait before an x87 instruction belongs to it (fstsw is 0x9B 0xDF 0xE0), as in the
  // processor manuals and in other tools' listings.
  while (pos < limit && (IsPrefix(p[pos]) || (p[pos] == 0x9B && pos + 1 < limit && p[pos + 1] >= 0xD8 &&
                                              p[pos + 1] <= 0xDF))) {
    if (p[pos] == 0x66) operand16 = true;
    if (p[pos] == 0x67) address16 = true;
    ++pos;
  }
  if (pos >= limit) return false;
  const int32_t operandSize = operand16 ? 2 : 4;
  const size_t prefixCount = pos;
  const uint8_t op = p[pos++];
  uint8_t code4;
  int32_t immediate = 0;
  bool twoByte = false;
  uint8_t op2 = 0;

  if (op == 0x0F) {
    if (pos >= limit) return false;
    op2 = p[pos++];
    twoByte = true;
    if (op2 == 0x38 || op2 == 0x3A) {
      // Three-byte maps: every entry takes a ModRM operand; the 0x3A map adds an 8-bit one.
      if (pos >= limit) return false;
      ++pos;
      code4 = kModRM;
      immediate = op2 == 0x3A ? 1 : 0;
    } else if (op2 == 0x0F) {
      code4 = kModRM;  // 3DNow!: ModRM operand, then the opcode suffix byte
      immediate = 1;
    } else {
      code4 = kLengthTable.Codes[op2] >> 4;
    }
  } else if ((op == 0xC4 || op == 0xC5) && pos < limit && (p[pos] & 0xC0) == 0xC0) {
    // VEX: with a register ModRM les/lds cannot exist, so these bytes open a VEX prefix.
    size_t vexBytes = op == 0xC4 ? 2 : 1;
    if (pos + vexBytes >= limit) return false;
    int map = op == 0xC4 ? (p[pos] & 0x1F) : 1;
    pos += vexBytes;
    uint8_t vop = p[pos++];
    if (map < 1 || map > 3) return false;
    if (map == 1 && vop == 0x77) {
      code4 = 0;  // vzeroupper, vzeroall
    } else {
      code4 = kModRM;
      immediate = map == 3 ? 1 : (map == 1 ? TwoByteImmediate(vop) : 0);
      if (immediate == 0) immediate = -1;  // known to have none: skip the one-byte rules
    }
  } else {
    code4 = kLengthTable.Codes[op] & 15;
  }

  int32_t length = static_cast<int32_t>(pos);
  switch (code4) {
    case 0: case 1: case 2: case 3: case 4:
      length += code4;
      if (!twoByte && op >= 0xA0 && op <= 0xA3 && address16) length -= 2;  // 16-bit moffs
      break;
    case kFullImmediate:
    case kFarPointer:
      length += code4 - 7 - (operand16 ? 2 : 0);
      break;
    case kModRM: {
      if (pos >= limit) return false;
      int32_t extra = 0;
      if (!ModRMExtra(p, limit, pos, address16, extra)) return false;
      if (immediate == 0) {
        immediate = twoByte ? TwoByteImmediate(op2) : OneByteImmediate(op, p[pos], operandSize);
      }
      length += 1 + extra + std::max(immediate, 0);
      break;
    }
    default:
      return false;
  }
  if (length > static_cast<int32_t>(limit)) return false;

  info.Length = length;
  info.PrefixCount = static_cast<int32_t>(prefixCount);
  if (!twoByte && IsShortJump(op)) {
    info.Relative = TRelativeKind::Short;
    info.RelativeOffset = length - 1;
  } else if (!operand16 && ((!twoByte && (op == 0xE8 || op == 0xE9)) ||
                            (twoByte && op2 >= 0x80 && op2 <= 0x8F))) {
    info.Relative = TRelativeKind::Near;
    info.RelativeOffset = length - 4;
  }
  info.IsReturn = !twoByte && IsReturnOpcode(op);
  info.IsUnconditionalJump = !twoByte && (op == 0xE9 || op == 0xEB || op == 0xEA ||
                                          (op == 0xFF && pos < limit && ((p[pos] >> 3) & 7) >= 4 &&
                                           ((p[pos] >> 3) & 7) <= 5));
  return true;
}

bool DecodeInstruction(const void* code, size_t available, int32_t& length) {
  TInstructionInfo info;
  bool ok = DecodeInstructionInfo(code, available, info);
  length = ok ? info.Length : 0;
  return ok;
}

// --- Trampolines

void EncodeJump(uint8_t* bytes, uint32_t at, uint32_t target) {
  uint32_t displacement = target - at - 5;
  bytes[0] = 0xE9;
  std::memcpy(bytes + 1, &displacement, 4);  // x86 is little-endian, as are the hosts we build on
}

namespace {

int32_t ReadInt32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, 4);
  return static_cast<int32_t>(value);
}

bool LeavesRange(int64_t target, int32_t copied) { return target < 0 || target >= copied; }

}  // namespace

bool PlanTrampoline(const uint8_t* code, size_t available, TTrampolinePlan& plan) {
  plan = TTrampolinePlan();
  if (code == nullptr) return false;
  int32_t covered = 0, stubs = 0;
  while (covered < 5) {
    TInstructionInfo info;
    if (!DecodeInstructionInfo(code + covered, available - std::min<size_t>(available, covered), info)) {
      return false;
    }
    int32_t end = covered + info.Length;
    if ((info.IsReturn || info.IsUnconditionalJump) && end < 5) return false;
    covered = end;
  }
  // Now that n is known: count the short jumps that leave the copied bytes.
  for (int32_t at = 0; at < covered;) {
    TInstructionInfo info;
    DecodeInstructionInfo(code + at, static_cast<size_t>(covered - at), info);
    int32_t end = at + info.Length;
    if (info.Relative == TRelativeKind::Short) {
      int64_t target = end + static_cast<int8_t>(code[at + info.RelativeOffset]);
      if (LeavesRange(target, covered)) ++stubs;
    }
    at = end;
  }
  plan.CopiedBytes = covered;
  plan.Size = covered + 5 + 5 * stubs;
  return true;
}

std::vector<uint8_t> BuildTrampoline(const uint8_t* code, const TTrampolinePlan& plan,
                                     uint32_t procedureAddress, uint32_t trampolineAddress) {
  const int32_t n = plan.CopiedBytes;
  std::vector<uint8_t> bytes(static_cast<size_t>(plan.Size), 0xCC);
  std::memcpy(bytes.data(), code, static_cast<size_t>(n));
  EncodeJump(bytes.data() + n, trampolineAddress + n, procedureAddress + n);
  int32_t stubAt = n + 5;
  for (int32_t at = 0; at < n;) {
    TInstructionInfo info;
    if (!DecodeInstructionInfo(code + at, static_cast<size_t>(n - at), info)) break;
    const int32_t end = at + info.Length;
    if (info.Relative == TRelativeKind::Short) {
      int64_t target = end + static_cast<int8_t>(code[at + info.RelativeOffset]);
      if (LeavesRange(target, n) && stubAt + 5 <= plan.Size) {
        // The short jump now lands on a stub that carries it on to the original target.
        bytes[at + info.RelativeOffset] = static_cast<uint8_t>(stubAt - end);
        EncodeJump(bytes.data() + stubAt, trampolineAddress + stubAt,
                   procedureAddress + static_cast<uint32_t>(target));
        stubAt += 5;
      }
    } else if (info.Relative == TRelativeKind::Near) {
      int64_t target = end + static_cast<int64_t>(ReadInt32(code + at + info.RelativeOffset));
      if (LeavesRange(target, n)) {
        uint32_t moved = static_cast<uint32_t>(ReadInt32(code + at + info.RelativeOffset)) +
                         (procedureAddress - trampolineAddress);
        std::memcpy(bytes.data() + at + info.RelativeOffset, &moved, 4);
      }
    }
    at = end;
  }
  return bytes;
}
