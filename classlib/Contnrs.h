// Ordered containers of untyped pointers: the stack (last in, first out). The items are not
// owned; descendants that own them free them when popped or when the stack goes.
#pragma once

#include <cstdint>
#include <vector>

#include "TypInfo.h"

class TStack : public TObject {
  KBL_DECLARE_CLASS(TStack, TObject)
 public:
  TStack() = default;

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // True when the stack holds at least `count` items.
  bool AtLeast(int32_t count) const { return Count() >= count; }
  // Answers the item pushed.
  void* Push(void* item);
  // The top item, removed; nullptr on an empty stack.
  void* Pop();
  // The top item, kept; nullptr on an empty stack.
  void* Peek() const;

 private:
  std::vector<void*> items_;
};
