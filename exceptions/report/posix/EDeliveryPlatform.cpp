// System facts for the senders in the native builds.
#include "../detail/EDeliveryPlatform_p.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

std::string DeliveryUserName() {
  const char* name = std::getenv("USER");
  if (name && *name) return name;
  passwd* entry = ::getpwuid(::getuid());
  return entry && entry->pw_name ? entry->pw_name : "";
}

std::string DeliveryRegisteredOwner() { return std::string(); }

uint32_t DeliveryTickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string DeliveryAnsiToUtf8(const std::string& text) { return text; }
