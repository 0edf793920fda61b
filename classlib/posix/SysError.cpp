// The system's error texts from the C library.
#include <cstring>

#include "../SysUtils.h"

std::string SysErrorMessage(uint32_t code) { return std::strerror(static_cast<int>(code)); }
