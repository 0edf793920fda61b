// Windows half of the freeze watch: asking the main window and taking the main thread's
// registers and stack.
#include "../EFreezeWatch.h"

#include <windows.h>


namespace ember_detail {

bool FreezeWindowAnswers(uintptr_t window) {
  DWORD_PTR answer = 0;
  return SendMessageTimeoutA(reinterpret_cast<HWND>(window), WM_NULL, 0, 0, SMTO_BLOCK, 50, &answer) != 0;
}

}  // namespace ember_detail
