// TAutoFree and AutoFree: an object freed when the last reference to its guard goes away.
#pragma once

#include <memory>

#include "classlib/System.h"

// Holds one object and frees it in its destructor.
class TAutoFree {
 public:
  explicit TAutoFree(TObject* object) : object_(object) {}
  ~TAutoFree() { delete object_; }
  TAutoFree(const TAutoFree&) = delete;
  TAutoFree& operator=(const TAutoFree&) = delete;
  TObject* Object() const { return object_; }

 private:
  TObject* object_;
};

// The reference-counted guard; the object lives as long as some copy of it does.
using IAutoFree = std::shared_ptr<TAutoFree>;

// Creates a guard for `object` (may be nullptr) and stores it in `guard`, releasing whatever the
// guard held before.
void AutoFree(TObject* object, IAutoFree& guard);
