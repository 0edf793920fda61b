// Outside Windows there is no 32-bit process to walk: nothing is readable and no module is
// known unless a test installs its own memory and module lookup.
#include "../ECallStack.h"
#include "../detail/ECallStackPlatform_p.h"

namespace ember_detail {

namespace {
class TNoMemory : public TEmberMemory {
 public:
  bool IsReadable(uint32_t, uint32_t) const override { return false; }
  bool Read(uint32_t, void*, uint32_t) const override { return false; }
};
}  // namespace

const TEmberMemory& PlatformProcessMemory() {
  static const TNoMemory memory;
  return memory;
}

TEmberModuleInfo* PlatformModuleOfAddress(uint32_t) { return nullptr; }

}  // namespace ember_detail

uint32_t GetStackTopOf(uint32_t) { return 0; }

void BuildCurrentCallStack(TEmberStackList&, uint8_t, bool, uint8_t) {}

bool SnapshotThread(uintptr_t, void*, uint32_t&, uint32_t&, std::vector<uint8_t>&) { return false; }

bool BuildThreadCallStack(TEmberStackList&, uintptr_t, uint32_t, uint8_t, bool, uint8_t) {
  return false;
}
