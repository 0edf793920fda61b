// Outside Windows a module carries no resources.
#include "../ResourceStream.h"

TResourceStream::TResourceStream(const std::string& name) {
  throw EResNotFound("Resource " + name + " not found");
}

bool TResourceStream::Exists(const std::string&) { return false; }
