// Windows half of the freeze watch: asking the main window and taking the main thread's
// registers and stack.
#include "../EFreezeWatch.h"

#include <windows.h>

#include <cstring>

#include "../ECallStack.h"

namespace ember_detail {

bool FreezeWindowAnswers(uintptr_t window) {
  DWORD_PTR answer = 0;
  return SendMessageTimeoutA(reinterpret_cast<HWND>(window), WM_NULL, 0, 0, SMTO_BLOCK, 50, &answer) != 0;
}

bool SnapshotThread(uint32_t handle, void* context, uint32_t& eip, uint32_t& esp, std::vector<uint8_t>& stack) {
  HANDLE thread = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle));
  // Everything the suspended time needs is allocated before: the thread may hold the heap's lock.
  std::vector<uint8_t> copy(MaxStackScanBytes + 4);
  if (SuspendThread(thread) == static_cast<DWORD>(-1)) return false;
  CONTEXT registers;
  std::memset(&registers, 0, sizeof registers);
  registers.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
  const bool read = GetThreadContext(thread, &registers) != 0;
  uint32_t copied = 0;
  if (read && registers.Esp != 0) {
    const uint32_t top = GetStackTopOf(registers.Esp);
    if (top >= registers.Esp) {
      uint64_t wanted = static_cast<uint64_t>(top) + 4 - registers.Esp;
      if (wanted > copy.size()) wanted = copy.size();
      if (EmberProcessMemory().Read(registers.Esp, copy.data(), static_cast<uint32_t>(wanted)))
        copied = static_cast<uint32_t>(wanted);
    }
  }
  ResumeThread(thread);
  if (!read) return false;
  registers.ContextFlags = 0x10003;
  std::memcpy(context, &registers, sizeof registers < 716 ? sizeof registers : 716);
  eip = registers.Eip;
  esp = registers.Esp;
  copy.resize(copied);
  stack = std::move(copy);
  return true;
}

}  // namespace ember_detail
