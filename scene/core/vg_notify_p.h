// A scope that holds a value object's change notification back while it copies several fields,
// so that the copy fires one notification instead of one per field.
#pragma once

#include "classlib/Methods.h"

// Clears `event` for the scope and puts the handler back when the scope ends, by an exception
// too; the caller fires the one notification after the scope.
class TvgNotifyDetach {
 public:
  explicit TvgNotifyDetach(TNotifyEvent& event) : event_(event), saved_(event) { event = nullptr; }
  ~TvgNotifyDetach() { event_ = saved_; }
  TvgNotifyDetach(const TvgNotifyDetach&) = delete;
  TvgNotifyDetach& operator=(const TvgNotifyDetach&) = delete;

 private:
  TNotifyEvent& event_;
  const TNotifyEvent saved_;
};
