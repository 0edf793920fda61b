// What buttons ask of the form that owns their scene (modal result, closing). The Windows build
// installs handlers for the class library's forms; without them nothing happens.
#pragma once

#include <cstdint>
#include <functional>

#include "classlib/Classes.h"

using TvgModalResult = int32_t;

struct TvgFormHooks {
  std::function<void(TComponent* form, TvgModalResult result)> SetModalResult;
  std::function<void(TComponent* form)> Close;
};
TvgFormHooks& vgFormHooks();
