// RCDATA resources of the module through the Win32 resource functions.
#include <windows.h>

#include "../Module.h"
#include "../ResourceStream.h"
#include "../SysUtils.h"

namespace {

HRSRC FindData(const std::string& name) {
  return FindResourceA(static_cast<HMODULE>(ModuleInstance()), name.c_str(), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
}

// Copies the found resource into the stream; false when it cannot be had.
bool CopyResource(TMemoryStream& stream, HRSRC info) {
  HMODULE module = static_cast<HMODULE>(ModuleInstance());
  HGLOBAL handle = info ? LoadResource(module, info) : nullptr;
  const void* data = handle ? LockResource(handle) : nullptr;
  if (data == nullptr) return false;
  DWORD size = SizeofResource(module, info);
  if (size > 0) stream.WriteBuffer(data, static_cast<int32_t>(size));
  stream.SetPosition(0);
  return true;
}

}  // namespace

TResourceStream::TResourceStream(const std::string& name) {
  if (!CopyResource(*this, FindData(name))) throw EResNotFound("Resource " + name + " not found");
}

TResourceStream::TResourceStream(int32_t id, int32_t type) {
  HRSRC info = FindResourceA(static_cast<HMODULE>(ModuleInstance()), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(type));
  if (!CopyResource(*this, info)) throw EResNotFound("Resource #" + IntToStr(id) + " not found");
}

bool TResourceStream::Exists(const std::string& name) { return FindData(name) != nullptr; }
