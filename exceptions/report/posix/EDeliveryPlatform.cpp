// System facts for the senders in the native builds.
#include "../detail/EDeliveryPlatform_p.h"

#include <pwd.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>

std::string DeliveryUserName() {
  const char* name = std::getenv("USER");
  if (name && *name) return name;
  passwd* entry = ::getpwuid(::getuid());
  return entry && entry->pw_name ? entry->pw_name : "";
}

std::string DeliveryRegisteredOwner() { return std::string(); }

double DeliveryLocalNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  time_t seconds = now.tv_sec;
  tm local{};
  ::localtime_r(&seconds, &local);
  double localSeconds = static_cast<double>(seconds) + static_cast<double>(local.tm_gmtoff) +
                        now.tv_nsec / 1e9;
  return 25569.0 + localSeconds / 86400.0;
}

int32_t DeliveryUtcOffsetHours() {
  time_t now = ::time(nullptr);
  tm local{};
  ::localtime_r(&now, &local);
  return static_cast<int32_t>(std::lround(local.tm_gmtoff / 3600.0));
}

uint32_t DeliveryTickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string DeliveryAnsiToUtf8(const std::string& text) { return text; }
