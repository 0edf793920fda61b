// BSD sockets behind the client socket for the native builds.
#include "../detail/ESocketApi_p.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "../ESockets.h"

namespace esock {

void Startup() {}
void Cleanup() {}

intptr_t Open(int32_t type) {
  int fd = ::socket(AF_INET, type == 1 ? SOCK_STREAM : SOCK_DGRAM, 0);
  return fd < 0 ? -1 : fd;
}

bool Close(intptr_t handle) { return ::close(static_cast<int>(handle)) == 0; }

bool Resolve(const std::string& host, uint8_t address[4]) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* list = nullptr;
  if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list) return false;
  const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
  std::memcpy(address, &in->sin_addr, 4);
  ::freeaddrinfo(list);
  return true;
}

uint16_t HostToNet(uint16_t value) { return htons(value); }

void MakeBlocking(intptr_t handle) {
  int off = 0;
  ::ioctl(static_cast<int>(handle), FIONBIO, &off);
}

bool Connect(intptr_t handle, const TEmberSockAddr& address) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = address.Port;
  std::memcpy(&in.sin_addr, address.Address, 4);
  return ::connect(static_cast<int>(handle), reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0;
}

int32_t Send(intptr_t handle, const void* buffer, int32_t length) {
  ssize_t result = ::send(static_cast<int>(handle), buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
  return result < 0 ? -1 : static_cast<int32_t>(result);
}

int32_t Receive(intptr_t handle, void* buffer, int32_t length) {
  ssize_t result = ::recv(static_cast<int>(handle), buffer, static_cast<size_t>(length), 0);
  return result < 0 ? -1 : static_cast<int32_t>(result);
}

int32_t Available(intptr_t handle) {
  int count = 0;
  if (::ioctl(static_cast<int>(handle), FIONREAD, &count) != 0) return -1;
  // A datagram socket reports a pending ICMP error only on the next recv.
  if (count == 0) {
    char probe;
    ssize_t peek = ::recv(static_cast<int>(handle), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peek < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
  }
  return count;
}

bool WaitReadable(intptr_t handle, uint32_t milliseconds) {
  pollfd entry{};
  entry.fd = static_cast<int>(handle);
  entry.events = POLLIN;
  return ::poll(&entry, 1, static_cast<int>(milliseconds)) > 0;
}

int32_t LastError() { return errno; }
bool IsWouldBlock(int32_t code) { return code == EAGAIN || code == EWOULDBLOCK; }
std::string ErrorText(int32_t code) { return std::strerror(code); }

std::string LocalHostName() {
  char name[250] = {0};
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

std::vector<std::string> SystemDnsServers() {
  std::vector<std::string> servers;
  std::ifstream file("/etc/resolv.conf");
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string key, value;
    if (words >> key >> value && key == "nameserver" && value.find(':') == std::string::npos)
      servers.push_back(value);
  }
  return servers;
}

}  // namespace esock
