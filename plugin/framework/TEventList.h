// Multicast notification: a list of method pointers called in order with a sender.
#pragma once

#include <cstdint>
#include <vector>

#include "classlib/Methods.h"
#include "classlib/System.h"

// Listeners are added while a plug-in is being built (GUI thread) and called on whichever thread
// makes the change they follow; the list itself is not locked, so it must not change while
// another thread notifies.
class TEventList : public TObject {
 public:
  // Appends a listener; the same one may be added twice and is then called twice.
  void Add(const TNotifyEvent& method);
  // Removes the last entry equal to `method`; answers false when there is none.
  bool Remove(const TNotifyEvent& method);
  // Removes every entry, the last first.
  void Clear();
  // Calls every entry in list order. A listener may add or remove entries while it runs; those
  // it adds are called in the same round.
  void NotifyAll(TObject* sender) const;
  int32_t Count() const { return static_cast<int32_t>(methods_.size()); }

 private:
  std::vector<TNotifyEvent> methods_;
};
