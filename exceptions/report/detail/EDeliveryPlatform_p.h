// Facts of the running system the senders need, implemented per platform (win32/, posix/).
#pragma once

#include <cstdint>
#include <string>

// The logged-on user's name; empty when unknown.
std::string DeliveryUserName();
// The registered owner of the system (Windows); empty elsewhere or when none is set.
std::string DeliveryRegisteredOwner();
// Milliseconds since the system started (wraps).
uint32_t DeliveryTickCount();
// Text of the system's ANSI code page as UTF-8 (unchanged where the system is UTF-8 already).
std::string DeliveryAnsiToUtf8(const std::string& text);
