// Helpers shared by the scene engine's source files.
#pragma once

#include "classlib/InputTypes.h"
#include "vg_object.h"
#include "vg_visualobject.h"

inline TvgVisualObject* AsVisual(TvgObject* obj) { return obj != nullptr ? obj->Visual() : nullptr; }

inline TShiftState ToShift(uint32_t bits) { return TShiftState::FromBits(bits); }
