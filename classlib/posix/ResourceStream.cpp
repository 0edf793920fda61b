// Outside Windows a module carries no resources.
#include "../ResourceStream.h"
#include "../SysUtils.h"

TResourceStream::TResourceStream(const std::string& name) {
  throw EResNotFound("Resource " + name + " not found");
}

TResourceStream::TResourceStream(int32_t id, int32_t) {
  throw EResNotFound("Resource #" + IntToStr(id) + " not found");
}

bool TResourceStream::Exists(const std::string&) { return false; }
