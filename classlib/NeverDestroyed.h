// A static object that is never destroyed, held in static storage rather than made with new.
#pragma once

#include <new>
#include <utility>

// Made on first use (as a function-local static: `static TNeverDestroyed<T> x;`) and never
// destroyed, so that finalisers of other units that run after this unit's may still use it. Its
// room is part of the module's image, not a heap block: an unloaded module leaves nothing of it
// behind, and no block of it stands in a leak report.
template <typename T>
class TNeverDestroyed {
 public:
  template <typename... TArgs>
  explicit TNeverDestroyed(TArgs&&... args) {
    ::new (static_cast<void*>(storage_)) T(std::forward<TArgs>(args)...);
  }
  TNeverDestroyed(const TNeverDestroyed&) = delete;
  TNeverDestroyed& operator=(const TNeverDestroyed&) = delete;

  T& Get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};
