// System facts for the senders on Windows.
#include <windows.h>

#include "../detail/EDeliveryPlatform_p.h"
#include "exceptions/ECore.h"

std::string DeliveryUserName() {
  char name[257] = {0};
  DWORD size = sizeof name - 1;
  if (!GetUserNameA(name, &size)) return std::string();
  return name;
}

std::string DeliveryRegisteredOwner() {
  const uintptr_t machine = reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE);
  std::string owner = ReadRegistryString(machine, "\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION",
                                         "RegisteredOwner");
  if (owner.empty())
    owner = ReadRegistryString(machine, "\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION", "RegisteredOwner");
  if (owner.empty())
    owner = ReadRegistryString(machine, "\\SOFTWARE\\MICROSOFT\\MS SETUP (ACME)\\USER INFO", "DefName");
  // Vista and later put this placeholder there when the user gave no name.
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(&version) && version.dwMajorVersion >= 6 && owner == "Microsoft") owner.clear();
  return owner;
}

uint32_t DeliveryTickCount() { return GetTickCount(); }

std::string DeliveryAnsiToUtf8(const std::string& text) {
  if (text.empty()) return text;
  int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (wideLength <= 0) return text;
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), wideLength);
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return text;
  std::string result(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, result.data(), length, nullptr, nullptr);
  return result;
}
