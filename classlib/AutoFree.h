// An automatic-release guard: the object is freed when the guard goes out of scope, also when
// the scope is left by an exception.
#pragma once

#include <memory>

// Takes ownership of `object` (may be null) and frees it when the returned guard is destroyed.
template <typename T>
[[nodiscard]] std::unique_ptr<T> AutoFree(T* object) {
  return std::unique_ptr<T>(object);
}
