// Native half of the exception processing: one thread, no modules list, no windows; output
// goes to the standard output.
#include "../detail/EProcessingPlatform_p.h"

#include <cstdio>
#include <cstdlib>

#include "classlib/SysUtils.h"

namespace ember_processing {


void WriteStandardOutput(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    throw EWriteError("Cannot write to the standard output.");
}

void RestoreMainWindow() {}
uintptr_t MainWindowOf(uint32_t) { return 0; }

void ActiveWorkArea(int32_t& left, int32_t& top, int32_t& right, int32_t& bottom) {
  left = top = right = bottom = 0;
}

bool SuspendThreadHandle(uint32_t) { return false; }
void ResumeThreadHandle(uint32_t) {}

TEmberModulesList* ModulesList() { return nullptr; }
TEmberModuleInfo* ModuleInfoOfAddress(uintptr_t) { return nullptr; }
TEmberModuleInfo* ModuleInfoOfHandle(uintptr_t) { return nullptr; }
void DropChangedModules() {}
void RefreshModules() {}
void LoadProcesses(TEmberProcessesList&) {}
void OfferOwnOptions(bool) {}
void JoinModuleLists(bool) {}

std::string ApplicationVersionText() { return std::string(); }
std::string ModuleVersionText() { return std::string(); }

bool CopyText(const std::string&) { return false; }
void DeleteFileByName(const std::string& fileName) {
  if (!fileName.empty()) std::remove(fileName.c_str());
}
void EndApplication(bool) { std::exit(1); }

}  // namespace ember_processing
