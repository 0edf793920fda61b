// Code hooking of the exception library: the x86 instruction-length decoder, trampolines for
// redirected procedures, method-slot hooks and import-table hooks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "classlib/SysUtils.h"

// --- Errors

KBL_DECLARE_EXCEPTION(EHookError, Exception);
KBL_DECLARE_EXCEPTION(EProcNull, EHookError);
KBL_DECLARE_EXCEPTION(EHookingError, EHookError);
KBL_DECLARE_EXCEPTION(ESharedArea, EHookError);

// Message texts of the hook errors; "%s" stands for the name given by the caller.
extern const char* const sProcNull;     // "Cannot hook a null procedure ("%s")."
extern const char* const sHookingError; // "Cannot hook the procedure "%s"."
extern const char* const sSharedArea;   // "Cannot hook the module "%s" located into the shared-area."

// Replaces the first "%s" of a message text by `name`.
std::string FormatHookMessage(const char* text, const std::string& name);

// --- Instruction lengths

// No x86 instruction is longer than this; the decoders never read further.
constexpr int32_t MaxInstructionLength = 15;

// How an instruction refers to code relative to its own end.
enum class TRelativeKind : uint8_t {
  None,
  Short,  // 8-bit displacement: jcc, jmp short, loop, jecxz
  Near,   // 32-bit displacement: call, jmp, jcc near
};

struct TInstructionInfo {
  int32_t Length = 0;            // prefixes included
  int32_t PrefixCount = 0;
  TRelativeKind Relative = TRelativeKind::None;
  int32_t RelativeOffset = 0;    // where the displacement starts within the instruction
  bool IsReturn = false;         // ret, ret n, retf, retf n
  bool IsUnconditionalJump = false;
};

// Decodes the length of the 32-bit instruction at `code`, reading at most `available` bytes
// (and never more than MaxInstructionLength). False when the bytes are not a known
// instruction or the instruction does not fit into what is available; `length` is then 0.
bool DecodeInstruction(const void* code, size_t available, int32_t& length);

// As DecodeInstruction, with what the trampoline builder needs to relocate the instruction.
bool DecodeInstructionInfo(const void* code, size_t available, TInstructionInfo& info);

// --- Trampolines (portable planning; the Win32 half places them in executable memory)

// The procedure's first whole instructions that cover at least 5 bytes (the jump to the hook).
struct TTrampolinePlan {
  int32_t CopiedBytes = 0;  // n: bytes moved into the trampoline
  int32_t Size = 0;         // n + 5, plus 5 per short jump that leaves the copied bytes
};

// Plans the trampoline for the code at `code` (at most `available` bytes readable). False when
// an instruction among the first 5 bytes cannot be decoded, or when the procedure returns or
// jumps away unconditionally before 5 bytes are covered (overwriting them would clobber
// whatever follows the procedure).
bool PlanTrampoline(const uint8_t* code, size_t available, TTrampolinePlan& plan);

// Builds the trampoline's bytes: the copied instructions relocated from `procedureAddress` to
// `trampolineAddress`, a jump back to procedure + n, and one 5-byte jump stub per short jump
// that leaves the copied bytes. `code` must hold plan.CopiedBytes bytes.
std::vector<uint8_t> BuildTrampoline(const uint8_t* code, const TTrampolinePlan& plan,
                                     uint32_t procedureAddress, uint32_t trampolineAddress);

// The 5 bytes of "jmp target" placed at `at`.
void EncodeJump(uint8_t* bytes, uint32_t at, uint32_t target);

#ifdef _WIN32
// --- Hooks (Win32; implemented in win32/EHook.cpp)

// Follows jump thunks ("jmp [pointer]") to the code they lead to; nullptr stays nullptr.
void* FollowJumpThunks(void* procedure);

// Makes `destination` writable, copies, restores the protection found and flushes the
// instruction cache. Raises EHookingError when the protection cannot be changed.
void WriteCode(void* destination, const void* source, size_t size);

// Writes "jmp target" at `at` through WriteCode.
void WriteJump(void* at, const void* target);

// Redirects `procedure` to `hook`; answers the trampoline that still runs the procedure's own
// code. Hooking a procedure already hooked answers its first trampoline and changes nothing.
// Raises EProcNull for a null procedure and EHookingError when the start of the procedure
// cannot be relocated. `name` only serves messages. Called while the module loads.
void* HookProcedure(void* procedure, void* hook, const std::string& name);

// Undoes a procedure hook, given the procedure or its trampoline; false when none was found.
bool UnhookProcedure(void* address);

// Replaces slot `index` of a method table; answers the slot's previous value (the first one
// recorded when the slot already holds `value`). Safe from any thread.
void* HookMethodSlot(void* table, int32_t index, void* value);

// Restores a slot hooked by HookMethodSlot; false when that slot was not hooked.
bool UnhookMethodSlot(void* table, int32_t index);

// Replaces every import-table entry of `module` that points at `exportAddress` of `dllName`
// by `newAddress`. Answers the export address when an entry was replaced, else nullptr (or
// raises EHookingError unless `mayFail`). Raises EProcNull for a null export address.
void* HookImportInModule(void* module, const std::string& dllName, void* exportAddress,
                         bool doNotRecord, bool mayFail, const std::string& name,
                         void* newAddress);

// Looks up `exportName` of `dllName` and hooks it in the imports of each loaded module named
// in `moduleNames`; `realAddress` receives the export's address. True when any was hooked.
bool HookDllExport(const std::vector<std::string>& moduleNames, const std::string& dllName,
                   const std::string& exportName, bool mayFail, void*& realAddress,
                   const std::string& name, void* newAddress);

// Undoes every hook made above: imports, method slots, then procedures from the last to the
// first. Called when the module unloads; safe to call more than once.
void UnhookAll();
#endif
