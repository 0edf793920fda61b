// The stack of pointers.
#include "Contnrs.h"

KBL_PUBLISHED(TStack) {}

void* TStack::Push(void* item) {
  items_.push_back(item);
  return item;
}

void* TStack::Pop() {
  if (items_.empty()) return nullptr;
  void* item = items_.back();
  items_.pop_back();
  return item;
}

void* TStack::Peek() const { return items_.empty() ? nullptr : items_.back(); }
