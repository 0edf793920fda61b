// The reference-counted free guard.
#include "uAutoFree.h"

void AutoFree(TObject* object, IAutoFree& guard) { guard = std::make_shared<TAutoFree>(object); }
