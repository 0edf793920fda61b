// Table-driven 32-bit x86 disassembler: expands the opcode templates into one line of text.
//
// The line is written once, front to back, into one buffer of the decoder: literal template
// text, register names and numbers go straight in, without a string per operand. Only what can
// only be known at the end is put in afterwards: the size keywords (a later register operand
// drops them), the prefixes that no operand used and the wait of an x87 instruction, which go
// into room kept free before the line's start. A hook sees its operand's text as a string and
// its answer replaces that stretch of the line.
#include "EDisAsm.h"

#include <algorithm>
#include <cstring>

#include "EDisAsmTables_p.h"

namespace {

using namespace disasm_tables;

// Register names in cells of four characters, copied whole (the length says how many count).
const char kRegisters8[8][4] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
const char kRegisters16[8][4] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
const char kRegisters32[8][4] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
const char* const kSegments[8] = {"es", "cs", "ss", "ds", "fs", "gs", "???", "???"};
const char* const kAddress16[8] = {"bx+si", "bx+di", "bp+si", "bp+di", "si", "di", "bp", "bx"};
const char* const kPredicates[8] = {"eq", "lt", "le", "unord", "neq", "nlt", "nle", "ord"};
const char kHexDigits[] = "0123456789ABCDEF";

// `farPointer`: the operand is a far pointer (offset and selector), 6 bytes with 32-bit offsets.
const char* SizeKeyword(int size, bool farPointer) {
  if (farPointer && size == 6) return "fword ptr ";
  switch (size) {
    case 0: case 6: return "";
    case 2: return "word ptr ";
    case 4: return "dword ptr ";
    case 8: return "qword ptr ";
    case 10: return "tbyte ptr ";
    case 16: return "xmmword ptr ";
    default: return "byte ptr ";
  }
}

// --- The line being written

// Template pieces, names and numbers are short: two overlapping loads and stores move them
// without a call (the library's copy costs more than the copy itself at these sizes).
inline void CopyShort(char* to, const char* from, size_t n) {
  if (n >= 8 && n <= 16) {
    uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + n - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
  } else if (n >= 4 && n < 8) {
    uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + n - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + n - 4, &tail, 4);
  } else if (n < 4) {
    for (size_t i = 0; i < n; ++i) to[i] = from[i];
  } else {
    std::memcpy(to, from, n);
  }
}

// Characters that end a run of literal template text.
constexpr bool IsTemplateMarker(char c) { return c == '\0' || c == '#' || c == '@' || c == '^' || c == '%'; }

// One line of text in a fixed buffer, with room kept before its start for what is put in
// front at the end. A hook that answers a text too long for the buffer moves the line to the
// heap; without hooks no instruction comes near the buffer's size.
class TLine {
 public:
  TLine() = default;
  TLine(const TLine&) = delete;
  TLine& operator=(const TLine&) = delete;

  // Positions are offsets into the buffer; the line runs from Begin() to End().
  size_t Begin() const { return begin_; }
  size_t End() const { return end_; }
  const char* At(size_t at) const { return data_ + at; }
  bool StartsWith(const char* text, size_t n) const {
    return end_ - begin_ >= n && std::memcmp(data_ + begin_, text, n) == 0;
  }

  void Put(char c) {
    Reserve(1);
    data_[end_++] = c;
  }
  void Put(const char* text, size_t n) {
    Reserve(n);
    CopyShort(data_ + end_, text, n);
    end_ += n;
  }
  void Put(const char* text) { Put(text, std::strlen(text)); }
  // A name of up to four characters from a cell of four.
  void PutCell(const char (&cell)[4], size_t n) {
    Reserve(4);
    std::memcpy(data_ + end_, cell, 4);
    end_ += n;
  }
  // `value` in upper-case hexadecimal, at least `digits` digits.
  void PutHex(uint32_t value, int digits) {
    int n = 1;
    for (uint32_t rest = value >> 4; rest != 0; rest >>= 4) ++n;
    n = std::max(n, digits);
    Reserve(static_cast<size_t>(n));
    end_ += static_cast<size_t>(n);
    char* digit = data_ + end_;
    for (int i = 0; i < n; ++i, value >>= 4) *--digit = kHexDigits[value & 15];
  }
  void PutDigit(int value) { Put(static_cast<char>('0' + value)); }

  void Insert(size_t at, const char* text, size_t n) {
    Reserve(n);
    std::memmove(data_ + at + n, data_ + at, end_ - at);
    std::memcpy(data_ + at, text, n);
    end_ += n;
  }
  void Erase(size_t at, size_t n) {
    std::memmove(data_ + at, data_ + at + n, end_ - at - n);
    end_ -= n;
  }
  // Puts `text` before the line's start, into the room kept there while it lasts.
  void Prepend(const char* text, size_t n) {
    if (begin_ >= n) {
      begin_ -= n;
      std::memcpy(data_ + begin_, text, n);
    } else {
      Insert(begin_, text, n);
    }
  }
  void TrimTrailingBlanks() {
    while (end_ > begin_ && data_[end_ - 1] == ' ') --end_;
  }
  // Gives the stretch from `at` to the end to `hook` and puts its answer in the stretch's place.
  void Replace(size_t at, TDisAsmHook hook, uintptr_t userData, uint32_t address, uint32_t value) {
    std::string text(data_ + at, end_ - at);
    hook(userData, address, value, text);
    end_ = at;
    Put(text.data(), text.size());
  }

 private:
  void Reserve(size_t n) {
    if (end_ + n > capacity_) Grow(n);
  }
  void Grow(size_t n);

  // Room for "lock ", "repne ", a segment and "fwait " before the line.
  static constexpr size_t kFrontRoom = 24;
  char inline_[256];
  char* data_ = inline_;
  size_t capacity_ = sizeof inline_;
  size_t begin_ = kFrontRoom, end_ = kFrontRoom;
  std::string heap_;
};

void TLine::Grow(size_t n) {
  size_t capacity = std::max(capacity_ * 2, end_ + n);
  heap_.resize(capacity);
  if (data_ == inline_) std::memcpy(heap_.data(), inline_, end_);
  data_ = heap_.data();
  capacity_ = capacity;
}

// Decodes one instruction: state of the template expansion and the bytes read so far.
class TDecoder {
 public:
  TDecoder(const TDisAsm& disasm, const uint8_t* code, size_t available, uint32_t address)
      : disasm_(disasm), code_(code), limit_(std::min<size_t>(available, 15)), address_(address) {}

  bool Run(int32_t& length, std::string& text);

 private:
  // --- Bytes: every read goes through Fetch, which stops at the end of what may be read
  bool Fetch(uint8_t& byte) {
    if (overrun_ || pos_ >= limit_) {
      overrun_ = stop_ = true;
      byte = 0;
      return false;
    }
    byte = code_[pos_++];
    return true;
  }
  uint32_t FetchValue(int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
      uint8_t b;
      Fetch(b);
      if (i < 4) value |= static_cast<uint32_t>(b) << (8 * i);
    }
    return value;
  }
  bool ReadModRM() {
    if (!haveModRM_) {
      modrmAt_ = pos_;
      haveModRM_ = Fetch(modrm_);
    }
    return haveModRM_;
  }
  int Mod() const { return modrm_ >> 6; }
  int Reg() const { return (modrm_ >> 3) & 7; }
  int RM() const { return modrm_ & 7; }
  void ParseAddress();
  // Immediates follow the SIB byte and displacement, whatever order the template names them in.
  void BeforeImmediate() {
    if (haveModRM_ && Mod() != 3 && !registerOnly_) ParseAddress();
  }

  // --- Expansion
  void Expand(const char* text);
  void ExpandCode(char a, char b);
  void NextOneByte();
  void NextInMap(TOpcodeMap map);
  void Vex(char which);
  void Operand(char letter, char sizeLetter, char mode);
  int SizeOf(char sizeLetter) const;
  void PutRegister(int size, int number);
  void PutNumbered(const char* prefix, size_t n, int number) {
    line_.Put(prefix, n);
    line_.PutDigit(number);
  }
  // "+$08" / "-$08": a signed value with two digits per byte of its size.
  void PutSigned(int32_t value, int bytes) {
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    line_.Put(value < 0 ? "-$" : "+$", 2);
    line_.PutHex(magnitude, bytes * 2);
  }
  void Memory(int size);
  void DirectAddress(int size);
  // Marks a memory operand of `size` bytes at the line's end and writes the segment override
  // when one was given.
  void BeginMemoryOperand(int size);
  // Offers the operand text written since `at` to `hook` when it is set.
  void Hook(TDisAsmHook hook, size_t at, uint32_t address, uint32_t value) {
    if (hook != nullptr) line_.Replace(at, hook, disasm_.UserData, address, value);
  }
  void PutDbLine(size_t bytes, std::string& text) const;

  const TDisAsm& disasm_;
  const uint8_t* code_;
  size_t limit_;
  uint32_t address_;
  size_t pos_ = 0;
  bool overrun_ = false, stop_ = false, undefined_ = false;
  const char* undefinedRest_ = "";

  int operandSize_ = 4, addressSize_ = 4;
  bool has66_ = false, lock_ = false, wait_ = false;
  uint8_t lastRep_ = 0;
  bool repUsed_ = false;
  int segment_ = -1;
  bool segmentUsed_ = false;
  bool keyword_ = true;

  bool haveModRM_ = false, addressParsed_ = false, registerOnly_ = false;
  uint8_t modrm_ = 0, sib_ = 0;
  size_t modrmAt_ = 0, displacementAt_ = 0;
  bool haveSib_ = false;
  int displacementSize_ = 0;
  uint32_t displacement_ = 0;
  int predicate_ = -1;  // a comparison predicate without a name, shown after the operands

  TLine line_;
  // Where a size keyword may go, the operand's size and whether it is a far pointer.
  struct TPlaceholder {
    size_t At;
    int Size;
    bool Far;
  };
  // An instruction has one ModRM memory operand or one direct address; the room is generous.
  static constexpr int kMaxPlaceholders = 4;
  TPlaceholder placeholders_[kMaxPlaceholders];
  int placeholderCount_ = 0;
  bool farOperand_ = false;  // the operand being formatted is a far pointer ("p" size letter)
  size_t waitEnd_ = 0;        // the length up to a wait prefix of an x87 instruction
};

// --- Addressing

void TDecoder::ParseAddress() {
  if (addressParsed_ || !haveModRM_) return;
  addressParsed_ = true;
  if (Mod() == 3) return;
  if (addressSize_ == 2) {
    if (Mod() == 0 && RM() == 6) displacementSize_ = 2;
    else if (Mod() == 1) displacementSize_ = 1;
    else if (Mod() == 2) displacementSize_ = 2;
  } else {
    if (RM() == 4) {
      haveSib_ = Fetch(sib_);
      if (Mod() == 0 && (sib_ & 7) == 5) displacementSize_ = 4;
    } else if (Mod() == 0 && RM() == 5) {
      displacementSize_ = 4;
    }
    if (Mod() == 1) displacementSize_ = 1;
    if (Mod() == 2) displacementSize_ = 4;
  }
  displacementAt_ = pos_;
  displacement_ = FetchValue(displacementSize_);
}

void TDecoder::BeginMemoryOperand(int size) {
  if (placeholderCount_ < kMaxPlaceholders) placeholders_[placeholderCount_++] = {line_.End(), size, farOperand_};
  if (segment_ >= 0) {
    line_.Put(kSegments[segment_]);
    line_.Put(':');
    segmentUsed_ = true;
  }
}

void TDecoder::Memory(int size) {
  ParseAddress();
  if (stop_) return;
  const size_t start = line_.End();
  BeginMemoryOperand(size);
  line_.Put('[');
  if (addressSize_ == 2) {
    if (Mod() == 0 && RM() == 6) {
      line_.Put('$');
      line_.PutHex(displacement_, 4);
    } else {
      line_.Put(kAddress16[RM()]);
      if (displacementSize_ == 1) PutSigned(static_cast<int8_t>(displacement_), 1);
      if (displacementSize_ == 2) PutSigned(static_cast<int16_t>(displacement_), 2);
    }
  } else {
    bool registers = false, baseless = false;
    if (haveSib_) {
      int base = sib_ & 7, index = (sib_ >> 3) & 7, scale = sib_ >> 6;
      baseless = Mod() == 0 && base == 5;
      if (!baseless) {
        line_.PutCell(kRegisters32[base], 3);
        registers = true;
      }
      if (index != 4) {
        if (registers) line_.Put('+');
        line_.PutCell(kRegisters32[index], 3);
        registers = true;
        if (scale > 0) line_.Put(scale == 1 ? "*2" : scale == 2 ? "*4" : "*8", 2);
      }
    } else if (Mod() == 0 && RM() == 5) {
      baseless = true;
    } else {
      line_.PutCell(kRegisters32[RM()], 3);
      registers = true;
    }
    if (displacementSize_ == 1) {
      PutSigned(static_cast<int8_t>(displacement_), 1);
    } else if (displacementSize_ == 4) {
      if (registers) line_.Put('+');
      const size_t number = line_.End();
      line_.Put('$');
      line_.PutHex(displacement_, baseless ? 8 : 4);
      Hook(disasm_.OnAddress, number, address_ + static_cast<uint32_t>(displacementAt_), displacement_);
    }
  }
  line_.Put(']');
  // The hook sees the operand from its segment on; the size keyword goes in front later.
  Hook(disasm_.OnMemoryOperand, start, address_ + static_cast<uint32_t>(modrmAt_), static_cast<uint32_t>(size));
}

void TDecoder::DirectAddress(int size) {
  size_t at = pos_;
  uint32_t value = FetchValue(addressSize_);
  if (stop_) return;
  const size_t start = line_.End();
  BeginMemoryOperand(size);
  line_.Put('[');
  const size_t number = line_.End();
  line_.Put('$');
  line_.PutHex(value, addressSize_ == 2 ? 4 : 8);
  if (addressSize_ == 4) Hook(disasm_.OnAddress, number, address_ + static_cast<uint32_t>(at), value);
  line_.Put(']');
  Hook(disasm_.OnMemoryOperand, start, address_ + static_cast<uint32_t>(at), static_cast<uint32_t>(size));
}

void TDecoder::PutRegister(int size, int number) {
  switch (size) {
    case 1: line_.PutCell(kRegisters8[number], 2); return;
    case 2: line_.PutCell(kRegisters16[number], 2); return;
    case 4: line_.PutCell(kRegisters32[number], 3); return;
    default: line_.Put("???", 3); return;
  }
}

int TDecoder::SizeOf(char sizeLetter) const {
  switch (sizeLetter) {
    case 'b': return 1;
    case 'w': return 2;
    case 'd': return 4;
    case 'q': return 8;
    case 't': return 10;
    case 's': return 6;
    case 'o': return 16;
    case 'v': return operandSize_;
    case 'p': return operandSize_ + 2;
    case 'r': return 2;  // a word in memory; the register form takes the operand size
    case 'a': return operandSize_ == 2 ? 4 : 8;
    case 'c': return operandSize_ == 2 ? 1 : 2;
    default: return 0;
  }
}

// --- Operands

void TDecoder::Operand(char letter, char sizeLetter, char mode) {
  const int size = SizeOf(sizeLetter);
  farOperand_ = sizeLetter == 'p';
  switch (letter) {
    case 'E': case 'M': case 'W': case 'Q':
      if (!ReadModRM()) return;
      if (Mod() != 3) {
        Memory(size);
      } else if (sizeLetter == 'r') {
        PutRegister(operandSize_, RM());
      } else if (letter == 'M') {
        line_.Put("???", 3);
      } else if (letter == 'W') {
        PutNumbered("xmm", 3, RM());
      } else if (letter == 'Q') {
        PutNumbered("MM", 2, RM());
      } else {
        PutRegister(size, RM());
      }
      return;
    case 'R':  // the register form whatever the mod bits say (mov to and from control registers)
      if (ReadModRM()) PutRegister(size, RM());
      registerOnly_ = true;
      return;
    case 'U':
      if (ReadModRM()) {
        if (Mod() == 3) PutNumbered("xmm", 3, RM());
        else line_.Put("???", 3);
      }
      return;
    case 'N':
      if (ReadModRM()) {
        if (Mod() == 3) PutNumbered("MM", 2, RM());
        else line_.Put("???", 3);
      }
      return;
    case 'G':
      if (ReadModRM()) PutRegister(size, Reg());
      keyword_ = false;
      return;
    case 'V':
      if (ReadModRM()) PutNumbered("xmm", 3, Reg());
      keyword_ = false;
      return;
    case 'P':
      if (ReadModRM()) PutNumbered("MM", 2, Reg());
      keyword_ = false;
      return;
    case 'S':
      if (ReadModRM()) line_.Put(kSegments[Reg()]);
      return;
    case 'C': case 'D': case 'T':
      if (ReadModRM()) {
        line_.Put(letter);
        line_.PutDigit(Reg());
      }
      keyword_ = false;
      return;
    case 'I': {
      BeforeImmediate();
      size_t at = pos_;
      uint32_t value = FetchValue(size);
      if (stop_) return;
      const size_t start = line_.End();
      line_.Put('$');
      line_.PutHex(value, size * 2);
      Hook(disasm_.OnImmediate, start, address_ + static_cast<uint32_t>(at), value);
      return;
    }
    case 'H': {
      BeforeImmediate();
      size_t at = pos_;
      uint32_t raw = FetchValue(size);
      if (stop_) return;
      int32_t value = size == 1 ? static_cast<int8_t>(raw) : size == 2 ? static_cast<int16_t>(raw)
                                                                          : static_cast<int32_t>(raw);
      const size_t start = line_.End();
      PutSigned(value, size);
      Hook(disasm_.OnImmediate, start, address_ + static_cast<uint32_t>(at), static_cast<uint32_t>(value));
      return;
    }
    case 'J': {
      uint32_t raw = FetchValue(size);
      if (stop_) return;
      int32_t value = size == 1 ? static_cast<int8_t>(raw) : size == 2 ? static_cast<int16_t>(raw)
                                                                          : static_cast<int32_t>(raw);
      uint32_t target = address_ + static_cast<uint32_t>(pos_) + static_cast<uint32_t>(value);
      if (size == 2) target &= 0xFFFF;  // a 16-bit jump truncates the instruction pointer
      const size_t start = line_.End();
      PutSigned(value, size);
      if (mode == 'j') Hook(disasm_.OnJumpTarget, start, target, static_cast<uint32_t>(size));
      if (mode == 'c') Hook(disasm_.OnCallTarget, start, target, static_cast<uint32_t>(size));
      return;
    }
    case 'O':
      DirectAddress(size);
      return;
    case 'A': {
      // Far pointer: the offset (its width follows the operand size, as the processor reads
      // it), then the selector; shown as "selector:offset".
      size_t at = pos_;
      int offsetBytes = operandSize_ == 2 ? 2 : 4;
      uint32_t offset = FetchValue(offsetBytes);
      uint32_t selector = FetchValue(2);
      if (stop_) return;
      line_.Put('$');
      line_.PutHex(selector, 4);
      line_.Put(':');
      const size_t start = line_.End();
      line_.Put('$');
      line_.PutHex(offset, offsetBytes * 2);
      if (offsetBytes == 4) Hook(disasm_.OnAddress, start, address_ + static_cast<uint32_t>(at), offset);
      return;
    }
    case 'L':
      FetchValue(2);
      return;
    case 'F':
      return;
    default:
      line_.Put("???", 3);
      return;
  }
}

// --- Templates

void TDecoder::NextOneByte() {
  uint8_t b;
  if (Fetch(b)) Expand(kOneByte[b]);
}

void TDecoder::NextInMap(TOpcodeMap map) {
  uint8_t b;
  if (!Fetch(b)) return;
  const char* text = nullptr;
  // A mandatory prefix selects its own template; 0xF2/0xF3 take precedence over 0x66.
  if (lastRep_ != 0) {
    text = PrefixedTemplate(map, lastRep_ == 0xF3 ? kPrefixF3 : kPrefixF2, b);
    if (text != nullptr) repUsed_ = true;
  }
  if (text == nullptr && has66_) {
    text = PrefixedTemplate(map, kPrefix66, b);
    if (text != nullptr) operandSize_ = 4;
  }
  if (text == nullptr) text = map == kMap0F ? kTwoByte[b] : PrefixedTemplate(map, 0, b);
  Expand(text != nullptr ? text : "%c ");
}

// 0xC4/0xC5: les/lds with a memory operand; with a register ModRM they open a VEX prefix.
// VEX instructions are not spelled out: they become a "DB" line of their bytes.
void TDecoder::Vex(char which) {
  if (!ReadModRM()) return;
  if (Mod() != 3) {
    Expand(which == '4' ? "les     #Gv , #Mp " : "lds     #Gv , #Mp ");
    return;
  }
  int map = 1;
  uint8_t skipped, opcode;
  if (which == '4') {
    map = modrm_ & 0x1F;
    Fetch(skipped);
  }
  if (!Fetch(opcode)) return;
  if (map >= 1 && map <= 3 && !(map == 1 && opcode == 0x77)) {
    haveModRM_ = addressParsed_ = false;  // the instruction's own ModRM follows the opcode
    if (!ReadModRM()) return;
    ParseAddress();
    bool immediate = map == 3 || (map == 1 && ((opcode >= 0x70 && opcode <= 0x73) || opcode == 0xC2 ||
                                               (opcode >= 0xC4 && opcode <= 0xC6)));
    if (immediate) Fetch(skipped);
  }
  if (stop_) return;
  undefined_ = stop_ = true;
  undefinedRest_ = map >= 1 && map <= 3 ? "VEX" : "";
}

void TDecoder::ExpandCode(char a, char b) {
  switch (a) {
    case 'c':
      if (b == '2') NextInMap(kMap0F);
      else if (b == '3') NextInMap(kMap0F38);
      else if (b == '4') NextInMap(kMap0F3A);
      else if (b >= 'a' && b <= 'h' && ReadModRM()) Expand(FloatTemplate(b - 'a', modrm_));
      return;
    case 'g':
      if (ReadModRM()) {
        const char* text = GroupTemplate(b, Reg(), Mod() == 3);
        Expand(text != nullptr ? text : "%c ");
      }
      return;
    case 'h':
      if (ReadModRM()) {
        const char* text = TailTemplate(b, Reg());
        if (text != nullptr) Expand(text);
      }
      return;
    case 'p':
      switch (b) {
        case 'e': segment_ = 0; break;
        case 'c': segment_ = 1; break;
        case 's': segment_ = 2; break;
        case 'd': segment_ = 3; break;
        case 'f': segment_ = 4; break;
        case 'g': segment_ = 5; break;
        case 'l': lock_ = true; break;
        case 'n': lastRep_ = 0xF2; break;
        case 'r': lastRep_ = 0xF3; break;
        case 'w':
          // fwait: on its own, or the waiting form of the x87 instruction that follows
          if (pos_ >= limit_ || code_[pos_] < 0xD8 || code_[pos_] > 0xDF) {
            line_.Put("fwait", 5);
            return;
          }
          wait_ = true;
          waitEnd_ = pos_;
          break;
        default: break;
      }
      NextOneByte();
      return;
    case 's':
      if (b == 'o') {
        operandSize_ = 2;
        has66_ = true;
      } else if (b == 'a') {
        addressSize_ = 2;
      }
      NextOneByte();
      return;
    case 'a':
      // "@aj": the jump on a zero count register names the register of the address size.
      if (b == 'j') line_.Put(addressSize_ == 4 ? "jecxz   " : "jcxz    ", 8);
      return;
    case 'e':
      // "@eax" reads "eax" with 32-bit operands and "ax" with 16-bit ones.
      if (operandSize_ == 4) line_.Put('e');
      line_.Put(b);
      return;
    case 'o': {
      const bool word = operandSize_ == 2;
      if (b == '1') line_.Put(word ? "bw" : "wde");
      else if (b == '2') line_.Put(word ? 'b' : 'w');
      else if (b == '4') line_.Put(word ? 'w' : 'd');
      else if (b == '8') line_.Put(word ? 'd' : 'q');
      return;
    }
    case 'm':
      keyword_ = true;
      return;
    case 'n':  // 0x90: nop, pause after 0xF3, xchg ax, ax after 0x66
      if (lastRep_ == 0xF3) {
        repUsed_ = true;
        line_.Put("pause", 5);
      } else if (has66_) {
        line_.Put("xchg    ax, ax");
      } else {
        line_.Put("nop", 3);
      }
      return;
    case 'i': {  // the comparison predicate of cmpps and its kin, from the trailing 8-bit operand
      if (!ReadModRM()) return;
      ParseAddress();
      uint8_t predicate;
      if (!Fetch(predicate)) return;
      if (predicate < 8) line_.Put(kPredicates[predicate]);
      else predicate_ = predicate;
      return;
    }
    case 'v':
      Vex(b);
      return;
    case 'x':
      if (!ReadModRM()) return;
      if (b == 'e') {
        Expand(modrm_ == 0xFB ? "endbr32" : "nop     #Ev ");
      } else if (b == 's') {
        const char* text = SystemTemplate(modrm_);
        Expand(text != nullptr ? text : "%c ");
      }
      return;
    default:
      return;
  }
}

// Literal text runs are copied whole up to the next marker character.
void TDecoder::Expand(const char* text) {
  if (text == nullptr) return;
  for (size_t i = 0; text[i] != '\0' && !stop_;) {
    const char c = text[i];
    if (c == '#') {
      if (text[i + 1] == '\0' || text[i + 2] == '\0' || text[i + 3] == '\0') break;
      Operand(text[i + 1], text[i + 2], text[i + 3]);
      i += 4;
    } else if (c == '@') {
      if (text[i + 1] == '\0' || text[i + 2] == '\0') break;
      ExpandCode(text[i + 1], text[i + 2]);
      i += 3;
    } else if (c == '^') {
      if (text[i + 1] == '\0') break;
      size_t count = static_cast<size_t>(std::max(0, text[i + 1] - '0'));
      i += 2;
      for (; count > 0 && text[i] != '\0'; --count) line_.Put(text[i++]);
    } else if (c == '%' && text[i + 1] == 'c') {
      undefined_ = stop_ = true;
      size_t rest = i + 2;
      if (text[rest] != '\0') ++rest;
      undefinedRest_ = text + rest;
    } else {
      size_t end = i + 1;
      while (!IsTemplateMarker(text[end])) ++end;
      line_.Put(text + i, end - i);
      i = end;
    }
  }
}

void TDecoder::PutDbLine(size_t bytes, std::string& text) const {
  char buffer[9 + 15 * 5];  // "DB      $", then two digits and ", $" per byte
  char* out = buffer;
  std::memcpy(out, "DB      $", 9);
  out += 9;
  for (size_t i = 0; i < bytes; ++i) {
    if (i > 0) {
      std::memcpy(out, ", $", 3);
      out += 3;
    }
    *out++ = kHexDigits[code_[i] >> 4];
    *out++ = kHexDigits[code_[i] & 15];
  }
  text.assign(buffer, static_cast<size_t>(out - buffer));
}

bool TDecoder::Run(int32_t& length, std::string& text) {
  if (code_ == nullptr || limit_ == 0) {
    length = 0;
    text.clear();
    return false;
  }
  NextOneByte();
  if (!overrun_ && !undefined_ && haveModRM_ && !registerOnly_) ParseAddress();  // operands the text leaves out
  if (overrun_) {
    length = 1;
    PutDbLine(1, text);
    return false;
  }
  if (undefined_ && wait_) {
    // A wait before an x87 form without an instruction is an instruction of its own.
    length = static_cast<int32_t>(waitEnd_);
    text.assign("fwait", 5);
    return true;
  }
  length = static_cast<int32_t>(pos_);
  if (undefined_) {
    PutDbLine(pos_, text);
    text += "  //";
    text += undefinedRest_;
    return true;
  }
  if (keyword_) {
    for (int i = placeholderCount_ - 1; i >= 0; --i) {
      const char* keyword = SizeKeyword(placeholders_[i].Size, placeholders_[i].Far);
      line_.Insert(placeholders_[i].At, keyword, std::strlen(keyword));
    }
  }
  if (predicate_ >= 0) {
    line_.Put(", $", 3);
    line_.PutHex(static_cast<uint32_t>(predicate_), 2);
  }
  line_.TrimTrailingBlanks();
  if (wait_) {
    // fnstsw, fnstcw, fnstenv, fnsave, fnclex, fninit have a waiting form of their own
    if (line_.StartsWith("fn", 2) && !line_.StartsWith("fnop", 4)) {
      line_.Erase(line_.Begin() + 1, 1);
      const char* start = line_.At(line_.Begin());
      const void* blank = std::memchr(start, ' ', line_.End() - line_.Begin());
      if (blank != nullptr) {  // keep the 8-column field
        line_.Insert(line_.Begin() + static_cast<size_t>(static_cast<const char*>(blank) - start), " ", 1);
      }
    } else {
      line_.Prepend("fwait ", 6);
    }
  }
  if (segment_ >= 0 && !segmentUsed_) {
    line_.Prepend(" ", 1);
    line_.Prepend(kSegments[segment_], std::strlen(kSegments[segment_]));
  }
  if (lastRep_ != 0 && !repUsed_) {
    if (lastRep_ == 0xF3) line_.Prepend("rep ", 4);
    else line_.Prepend("repne ", 6);
  }
  if (lock_) line_.Prepend("lock ", 5);
  text.assign(line_.At(line_.Begin()), line_.End() - line_.Begin());
  return true;
}

}  // namespace

bool DisassembleInstruction(const TDisAsm& disasm, const uint8_t* code, size_t available,
                            uint32_t address, int32_t& length, std::string& text) {
  TDecoder decoder(disasm, code, available, address);
  return decoder.Run(length, text);
}
