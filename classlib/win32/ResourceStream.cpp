// RCDATA resources of the module through the Win32 resource functions.
#include <windows.h>

#include "../Module.h"
#include "../ResourceStream.h"

namespace {

HRSRC FindData(const std::string& name) {
  return FindResourceA(static_cast<HMODULE>(ModuleInstance()), name.c_str(), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
}

}  // namespace

TResourceStream::TResourceStream(const std::string& name) {
  HMODULE module = static_cast<HMODULE>(ModuleInstance());
  HRSRC info = FindData(name);
  HGLOBAL handle = info ? LoadResource(module, info) : nullptr;
  const void* data = handle ? LockResource(handle) : nullptr;
  if (data == nullptr) throw EResNotFound("Resource " + name + " not found");
  DWORD size = SizeofResource(module, info);
  if (size > 0) WriteBuffer(data, static_cast<int32_t>(size));
  SetPosition(0);
}

bool TResourceStream::Exists(const std::string& name) { return FindData(name) != nullptr; }
