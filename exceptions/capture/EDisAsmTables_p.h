// Template tables of the disassembler (private): the opcode maps written in its template language.
//
// A template is the mnemonic, padded with blanks to 8 columns, then its operands:
//   "#" operand letter, size letter, mode letter (4 characters): an operand, e.g. "#Eb ", "#Jbj";
//   "@" and two characters: a code (next-byte tables, groups, prefixes, size-dependent letters);
//   "^" and a length character ('0' + n): the next n characters are copied unchanged;
//   "%c ": the opcode has no instruction (a "DB" line).
#pragma once

#include <cstdint>

namespace disasm_tables {

// One-byte opcode map.
extern const char* const kOneByte[256];
// Two-byte map (0x0F xx) without a mandatory prefix.
extern const char* const kTwoByte[256];

// Templates that a mandatory prefix selects instead of the plain one.
enum TMandatoryPrefix : uint8_t { kPrefix66 = 1, kPrefixF3 = 2, kPrefixF2 = 3 };

// A map of its own: 0x0F (two-byte), 0x0F 0x38 or 0x0F 0x3A.
enum TOpcodeMap : uint8_t { kMap0F = 0, kMap0F38 = 1, kMap0F3A = 2 };

// The template for `opcode` in `map` under `prefix` (0 for none); nullptr when there is none.
const char* PrefixedTemplate(TOpcodeMap map, uint8_t prefix, uint8_t opcode);

// Group templates by letter ('a'..'z') and the reg field; register forms (mod 3) may differ.
// nullptr when the letter names no group.
const char* GroupTemplate(char group, int reg, bool registerForm);

// Operand tails "1".."4" by the reg field.
const char* TailTemplate(char tail, int reg);

// x87 escape 0xD8 + escape: 8 memory forms by the reg field, then 64 register forms.
const char* FloatTemplate(int escape, uint8_t modrm);

// Register forms of 0x0F 0x01 chosen by the whole ModRM byte; nullptr when undefined.
const char* SystemTemplate(uint8_t modrm);

}  // namespace disasm_tables
