// Mouse buttons and shift states, shared by the window layer and the vector scene.
#pragma once

#include "TypInfo.h"

KBL_ENUM(TMouseButton, mbLeft, mbRight, mbMiddle)
KBL_ENUM(TShiftStateFlag, ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble)
using TShiftState = TEnumSet<TShiftStateFlag>;
