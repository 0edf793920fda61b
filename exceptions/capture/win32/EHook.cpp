// Win32 half of the code hooks: trampolines in executable memory, method slots, import tables.
#include "EHook.h"
