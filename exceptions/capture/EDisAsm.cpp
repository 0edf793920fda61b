// Table-driven 32-bit x86 disassembler: expands the opcode templates into one line of text.
#include "EDisAsm.h"

#include <algorithm>
#include <vector>

#include "EDisAsmTables_p.h"
#include "classlib/SysUtils.h"

namespace {

using namespace disasm_tables;

const char* const kRegisters8[8] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
const char* const kRegisters16[8] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
const char* const kSegments[8] = {"es", "cs", "ss", "ds", "fs", "gs", "???", "???"};
const char* const kAddress16[8] = {"bx+si", "bx+di", "bp+si", "bp+di", "si", "di", "bp", "bx"};
const char* const kPredicates[8] = {"eq", "lt", "le", "unord", "neq", "nlt", "nle", "ord"};

// `prefix` followed by the value in hexadecimal.
std::string Hex(const char* prefix, uint32_t value, int digits) {
  std::string text = prefix;
  text += IntToHex(value, digits);
  return text;
}

std::string Numbered(const char* prefix, int number) {
  std::string text = prefix;
  text += std::to_string(number);
  return text;
}

// "+$08" / "-$08": a signed value with two digits per byte of its size.
std::string SignedHex(int32_t value, int bytes) {
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  return Hex(value < 0 ? "-$" : "+$", magnitude, bytes * 2);
}

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
      value |= static_cast<uint32_t>(b) << (8 * i);
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
  std::string Register(int size, int number) const;
  void Memory(int size);
  void DirectAddress(int size);
  // Marks a memory operand of `size` bytes at the output's end; its text so far: the segment
  // override when one was given.
  std::string BeginMemoryOperand(int size);
  void Call(TDisAsmHook hook, uint32_t address, uint32_t value, std::string& text) const {
    if (hook != nullptr) hook(disasm_.UserData, address, value, text);
  }
  std::string DbLine(size_t bytes) const;

  const TDisAsm& disasm_;
  const uint8_t* code_;
  size_t limit_;
  uint32_t address_;
  size_t pos_ = 0;
  bool overrun_ = false, stop_ = false, undefined_ = false;
  std::string undefinedRest_;

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

  std::string out_;
  std::string suffix_;
  // Where a size keyword may go, the operand's size and whether it is a far pointer.
  struct TPlaceholder {
    size_t At;
    int Size;
    bool Far;
  };
  std::vector<TPlaceholder> placeholders_;
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

std::string TDecoder::BeginMemoryOperand(int size) {
  placeholders_.push_back({out_.size(), size, farOperand_});
  std::string text;
  if (segment_ >= 0) {
    text += kSegments[segment_];
    text += ':';
    segmentUsed_ = true;
  }
  return text;
}

void TDecoder::Memory(int size) {
  ParseAddress();
  if (stop_) return;
  std::string text = BeginMemoryOperand(size);
  text += '[';
  if (addressSize_ == 2) {
    if (Mod() == 0 && RM() == 6) {
      text += Hex("$", displacement_, 4);
    } else {
      text += kAddress16[RM()];
      if (displacementSize_ == 1) text += SignedHex(static_cast<int8_t>(displacement_), 1);
      if (displacementSize_ == 2) text += SignedHex(static_cast<int16_t>(displacement_), 2);
    }
  } else {
    std::string registers;
    bool baseless = false;
    if (haveSib_) {
      int base = sib_ & 7, index = (sib_ >> 3) & 7, scale = sib_ >> 6;
      baseless = Mod() == 0 && base == 5;
      if (!baseless) registers = Register(4, base);
      if (index != 4) {
        if (!registers.empty()) registers += '+';
        registers += Register(4, index);
        if (scale > 0) registers += scale == 1 ? "*2" : scale == 2 ? "*4" : "*8";
      }
    } else if (Mod() == 0 && RM() == 5) {
      baseless = true;
    } else {
      registers = Register(4, RM());
    }
    text += registers;
    if (displacementSize_ == 1) {
      text += SignedHex(static_cast<int8_t>(displacement_), 1);
    } else if (displacementSize_ == 4) {
      std::string number = Hex("$", displacement_, baseless ? 8 : 4);
      Call(disasm_.OnAddress, address_ + static_cast<uint32_t>(displacementAt_), displacement_, number);
      if (!registers.empty()) text += '+';
      text += number;
    }
  }
  text += ']';
  Call(disasm_.OnMemoryOperand, address_ + static_cast<uint32_t>(modrmAt_), static_cast<uint32_t>(size), text);
  out_ += text;
}

void TDecoder::DirectAddress(int size) {
  size_t at = pos_;
  uint32_t value = FetchValue(addressSize_);
  if (stop_) return;
  std::string text = BeginMemoryOperand(size);
  std::string number = Hex("$", value, addressSize_ == 2 ? 4 : 8);
  if (addressSize_ == 4) Call(disasm_.OnAddress, address_ + static_cast<uint32_t>(at), value, number);
  text += '[';
  text += number;
  text += ']';
  Call(disasm_.OnMemoryOperand, address_ + static_cast<uint32_t>(at), static_cast<uint32_t>(size), text);
  out_ += text;
}

std::string TDecoder::Register(int size, int number) const {
  switch (size) {
    case 1: return kRegisters8[number];
    case 2: return kRegisters16[number];
    case 4: {
      std::string name = "e";
      name += kRegisters16[number];
      return name;
    }
    default: return "???";
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
        out_ += Register(operandSize_, RM());
      } else if (letter == 'M') {
        out_ += "???";
      } else if (letter == 'W') {
        out_ += Numbered("xmm", RM());
      } else if (letter == 'Q') {
        out_ += Numbered("MM", RM());
      } else {
        out_ += Register(size, RM());
      }
      return;
    case 'R':  // the register form whatever the mod bits say (mov to and from control registers)
      if (ReadModRM()) out_ += Register(size, RM());
      registerOnly_ = true;
      return;
    case 'U':
      if (ReadModRM()) out_ += Mod() == 3 ? Numbered("xmm", RM()) : std::string("???");
      return;
    case 'N':
      if (ReadModRM()) out_ += Mod() == 3 ? Numbered("MM", RM()) : std::string("???");
      return;
    case 'G':
      if (ReadModRM()) out_ += Register(size, Reg());
      keyword_ = false;
      return;
    case 'V':
      if (ReadModRM()) out_ += Numbered("xmm", Reg());
      keyword_ = false;
      return;
    case 'P':
      if (ReadModRM()) out_ += Numbered("MM", Reg());
      keyword_ = false;
      return;
    case 'S':
      if (ReadModRM()) out_ += kSegments[Reg()];
      return;
    case 'C': case 'D': case 'T':
      if (ReadModRM()) {
        out_ += letter;
        out_ += std::to_string(Reg());
      }
      keyword_ = false;
      return;
    case 'I': {
      BeforeImmediate();
      size_t at = pos_;
      uint32_t value = FetchValue(size);
      if (stop_) return;
      std::string text = Hex("$", value, size * 2);
      Call(disasm_.OnImmediate, address_ + static_cast<uint32_t>(at), value, text);
      out_ += text;
      return;
    }
    case 'H': {
      BeforeImmediate();
      size_t at = pos_;
      uint32_t raw = FetchValue(size);
      if (stop_) return;
      int32_t value = size == 1 ? static_cast<int8_t>(raw) : size == 2 ? static_cast<int16_t>(raw)
                                                                          : static_cast<int32_t>(raw);
      std::string text = SignedHex(value, size);
      Call(disasm_.OnImmediate, address_ + static_cast<uint32_t>(at), static_cast<uint32_t>(value), text);
      out_ += text;
      return;
    }
    case 'J': {
      uint32_t raw = FetchValue(size);
      if (stop_) return;
      int32_t value = size == 1 ? static_cast<int8_t>(raw) : size == 2 ? static_cast<int16_t>(raw)
                                                                          : static_cast<int32_t>(raw);
      uint32_t target = address_ + static_cast<uint32_t>(pos_) + static_cast<uint32_t>(value);
      if (size == 2) target &= 0xFFFF;  // a 16-bit jump truncates the instruction pointer
      std::string text = SignedHex(value, size);
      if (mode == 'j') Call(disasm_.OnJumpTarget, target, static_cast<uint32_t>(size), text);
      if (mode == 'c') Call(disasm_.OnCallTarget, target, static_cast<uint32_t>(size), text);
      out_ += text;
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
      std::string text = Hex("$", offset, offsetBytes * 2);
      if (offsetBytes == 4) Call(disasm_.OnAddress, address_ + static_cast<uint32_t>(at), offset, text);
      out_ += Hex("$", selector, 4);
      out_ += ':';
      out_ += text;
      return;
    }
    case 'L':
      FetchValue(2);
      return;
    case 'F':
      return;
    default:
      out_ += "???";
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
    case 'p': {
      static const char kSegmentLetters[] = "ecsdfg";
      const char* at = std::char_traits<char>::find(kSegmentLetters, 6, b);
      if (at != nullptr) segment_ = static_cast<int>(at - kSegmentLetters);
      else if (b == 'l') lock_ = true;
      else if (b == 'n') lastRep_ = 0xF2;
      else if (b == 'r') lastRep_ = 0xF3;
      else if (b == 'w') {
        // fwait: on its own, or the waiting form of the x87 instruction that follows
        if (pos_ >= limit_ || code_[pos_] < 0xD8 || code_[pos_] > 0xDF) {
          out_ += "fwait";
          return;
        }
        wait_ = true;
        waitEnd_ = pos_;
      }
      NextOneByte();
      return;
    }
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
      if (b == 'j') out_ += addressSize_ == 4 ? "jecxz   " : "jcxz    ";
      return;
    case 'e':
      // "@eax" reads "eax" with 32-bit operands and "ax" with 16-bit ones.
      if (operandSize_ == 4) out_ += 'e';
      out_ += b;
      return;
    case 'o': {
      const bool word = operandSize_ == 2;
      if (b == '1') out_ += word ? "bw" : "wde";
      else if (b == '2') out_ += word ? "b" : "w";
      else if (b == '4') out_ += word ? "w" : "d";
      else if (b == '8') out_ += word ? "d" : "q";
      return;
    }
    case 'm':
      keyword_ = true;
      return;
    case 'n':  // 0x90: nop, pause after 0xF3, xchg ax, ax after 0x66
      if (lastRep_ == 0xF3) {
        repUsed_ = true;
        out_ += "pause";
      } else if (has66_) {
        out_ += "xchg    ax, ax";
      } else {
        out_ += "nop";
      }
      return;
    case 'i': {  // the comparison predicate of cmpps and its kin, from the trailing 8-bit operand
      if (!ReadModRM()) return;
      ParseAddress();
      uint8_t predicate;
      if (!Fetch(predicate)) return;
      if (predicate < 8) out_ += kPredicates[predicate];
      else suffix_ = Hex(", $", predicate, 2);
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
      for (; count > 0 && text[i] != '\0'; --count) out_ += text[i++];
    } else if (c == '%' && text[i + 1] == 'c') {
      undefined_ = stop_ = true;
      size_t rest = i + 2;
      if (text[rest] != '\0') ++rest;
      undefinedRest_ = text + rest;
    } else {
      out_ += c;
      ++i;
    }
  }
}

std::string TDecoder::DbLine(size_t bytes) const {
  std::string text = Hex("DB      $", code_[0], 2);
  for (size_t i = 1; i < bytes; ++i) text += Hex(", $", code_[i], 2);
  return text;
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
    text = DbLine(1);
    return false;
  }
  if (undefined_ && wait_) {
    // A wait before an x87 form without an instruction is an instruction of its own.
    length = static_cast<int32_t>(waitEnd_);
    text = "fwait";
    return true;
  }
  length = static_cast<int32_t>(pos_);
  if (undefined_) {
    text = DbLine(pos_);
    text += "  //";
    text += undefinedRest_;
    return true;
  }
  if (keyword_) {
    for (auto it = placeholders_.rbegin(); it != placeholders_.rend(); ++it) {
      out_.insert(it->At, SizeKeyword(it->Size, it->Far));
    }
  }
  out_ += suffix_;
  while (!out_.empty() && out_.back() == ' ') out_.pop_back();
  if (wait_) {
    // fnstsw, fnstcw, fnstenv, fnsave, fnclex, fninit have a waiting form of their own
    if (out_.rfind("fn", 0) == 0 && out_.rfind("fnop", 0) != 0) {
      out_.erase(1, 1);
      size_t blank = out_.find(' ');
      if (blank != std::string::npos) out_.insert(blank, 1, ' ');  // keep the 8-column field
    } else {
      out_.insert(0, "fwait ");
    }
  }
  std::string prefixes;
  if (lock_) prefixes += "lock ";
  if (lastRep_ != 0 && !repUsed_) prefixes += lastRep_ == 0xF3 ? "rep " : "repne ";
  if (segment_ >= 0 && !segmentUsed_) {
    prefixes += kSegments[segment_];
    prefixes += ' ';
  }
  text = prefixes + out_;
  return true;
}

}  // namespace

bool DisassembleInstruction(const TDisAsm& disasm, const uint8_t* code, size_t available,
                            uint32_t address, int32_t& length, std::string& text) {
  TDecoder decoder(disasm, code, available, address);
  return decoder.Run(length, text);
}
