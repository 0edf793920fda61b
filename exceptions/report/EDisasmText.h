// The assembler section of a bug report: the instructions around the exception address with
// symbol and string comments, block headers where the procedure or line changes and the mark
// on the faulting instruction.
#pragma once

#include <cstdint>
#include <string>

class TEmberModuleOptions;

// The listing from the start of the procedure block that holds `exceptionAddress` (at most ten
// instructions before it) to at most ten instructions after it, every line ending in CR LF.
// Sets `assemblerHead` to the section's title (text 14 of `options`, the default without
// options), ":" and a dashed underline as long as the longest line. When the 4 bytes at the
// address cannot be read the answer is empty and `assemblerHead` is left as it was. Reads code
// through the call-stack memory probe only; never raises.
std::string GetAssemblerText(uint32_t exceptionAddress, const TEmberModuleOptions* options,
                             std::string& assemblerHead);

// The name the listing gives a code address: its location name ("Unit.Class.Procedure"), with
// " (Line=n)" when the address lies more than one line into its procedure, after following a
// jump through an import slot; else the class name of an object at the address; else `text`.
std::string DisasmSymbolName(uint32_t address, const std::string& text);

// `text` (an immediate operand) followed by "  ; '<string>'" when it is a 4-byte number whose
// address holds readable bytes: up to 32 of them up to a zero byte, bytes below 32 as ".",
// and "..." after the quote when no zero byte came within 32 bytes.
std::string DisasmStringComment(const std::string& text);
