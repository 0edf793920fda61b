// Multicast notification lists.
#include "TEventList.h"

void TEventList::Add(const TNotifyEvent& method) { methods_.push_back(method); }

bool TEventList::Remove(const TNotifyEvent& method) {
  for (size_t i = methods_.size(); i-- > 0;) {
    if (methods_[i] == method) {
      methods_.erase(methods_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

void TEventList::Clear() {
  while (!methods_.empty()) methods_.pop_back();
}

void TEventList::NotifyAll(TObject* sender) const {
  // By index and with a copy of each entry: a listener may change the list under us.
  for (size_t i = 0; i < methods_.size(); ++i) {
    const TNotifyEvent method = methods_[i];
    method(sender);
  }
}
