// Table-driven 32-bit x86 disassembler: one instruction in, one line of assembler text out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "classlib/System.h"

// A hook of the disassembler's owner. `address` is where the operand's bytes sit in the code
// (for jump and call targets: the target itself), `value` the operand's value or size; `text`
// is the operand's text as formatted, which the hook may replace (a symbol name, a string).
using TDisAsmHook = void (*)(uintptr_t userData, uint32_t address, uint32_t value, std::string& text);

// The disassembler's settings; the owner sets them before use. Unset hooks are skipped.
class TDisAsm : public TObject {
 public:
  TDisAsmHook OnJumpTarget = nullptr;     // target of a relative jump
  TDisAsmHook OnCallTarget = nullptr;     // target of a relative call
  TDisAsmHook OnAddress = nullptr;        // 32-bit displacement or direct memory address
  TDisAsmHook OnMemoryOperand = nullptr;  // a whole memory operand, once formatted
  TDisAsmHook OnImmediate = nullptr;      // an immediate operand, once formatted
  uintptr_t UserData = 0;                 // passed first to every hook
};

// Decodes the instruction at `code`, which sits at `address` in the code being shown, reading
// at most `available` bytes and never more than 15. `length` receives the bytes consumed and
// `text` the line ("mov     eax, [ebp+$08]"). An opcode without an instruction gives a "DB"
// line of its bytes and answers true. When the instruction does not fit into the bytes
// available (or into 15 bytes) the text is a "DB" line of the first byte, `length` is 1 and the
// answer false; with nothing available `length` is 0. Hooks are called on the caller's thread.
// `text` is replaced, not appended to: a string the caller keeps from call to call is refilled
// without allocating when no hook is set: the line is built in the decoder's own buffer first.
bool DisassembleInstruction(const TDisAsm& disasm, const uint8_t* code, size_t available,
                            uint32_t address, int32_t& length, std::string& text);
