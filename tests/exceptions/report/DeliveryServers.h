// Small servers on 127.0.0.1 for the delivery tests: a TCP listener whose connections a handler
// serves on a thread, and a UDP responder. Built on WinSock under Wine, BSD sockets natively.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testnet {

#ifdef _WIN32
using Fd = SOCKET;
constexpr Fd kBad = INVALID_SOCKET;
inline void CloseFd(Fd fd) { closesocket(fd); }
struct Init {
  Init() {
    WSADATA data;
    WSAStartup(0x0202, &data);
  }
};
inline void EnsureInit() { static Init init; }
#else
using Fd = int;
constexpr Fd kBad = -1;
inline void CloseFd(Fd fd) { ::close(fd); }
inline void EnsureInit() {}
#endif

// One accepted connection.
class Connection {
 public:
  explicit Connection(Fd fd) : fd_(fd) {}
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      int n = ::send(fd_, text.data() + done, static_cast<int>(text.size() - done), 0);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  // Reads until `marker` has arrived (returned with it); empty when the peer closed first.
  std::string ReadUntil(const std::string& marker) {
    for (;;) {
      size_t at = buffer_.find(marker);
      if (at != std::string::npos) {
        std::string result = buffer_.substr(0, at + marker.size());
        buffer_.erase(0, at + marker.size());
        return result;
      }
      if (!Fill()) return std::string();
    }
  }
  std::string ReadLine() { return ReadUntil("\r\n"); }
  // Reads exactly `count` bytes (fewer when the peer closed).
  std::string ReadCount(size_t count) {
    while (buffer_.size() < count)
      if (!Fill()) break;
    std::string result = buffer_.substr(0, count);
    buffer_.erase(0, result.size());
    return result;
  }
  void Close() {
    if (fd_ != kBad) CloseFd(fd_);
    fd_ = kBad;
  }

 private:
  bool Fill() {
    char chunk[4096];
    int n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }
  Fd fd_;
  std::string buffer_;
};

// Listens on 127.0.0.1 (any free port); each connection is served by `handler` in turn on the
// listener's thread.
class Listener {
 public:
  explicit Listener(std::function<void(Connection&)> handler) : handler_(std::move(handler)) {
    EnsureInit();
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(0x7F000001);
    in.sin_port = 0;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&in), sizeof in);
    ::listen(fd_, 8);
    socklen_t length = sizeof in;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&in), &length);
    port_ = ntohs(in.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~Listener() { Stop(); }
  // Waits for the connection being served to end, then stops listening.
  void Stop() {
    if (stopped_) return;
    stopped_ = true;
    // Wake the accept call with a connection of our own, known by its port: connections made
    // before it are still served.
    Fd wake = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(0x7F000001);
    ::bind(wake, reinterpret_cast<sockaddr*>(&in), sizeof in);
    socklen_t length = sizeof in;
    ::getsockname(wake, reinterpret_cast<sockaddr*>(&in), &length);
    wakePort_ = ntohs(in.sin_port);
    stop_ = true;
    in.sin_port = htons(port_);
    ::connect(wake, reinterpret_cast<sockaddr*>(&in), sizeof in);
    thread_.join();
    CloseFd(wake);
    CloseFd(fd_);
  }
  uint16_t Port() const { return port_; }
  int Accepted() const { return accepted_; }

 private:
  void Run() {
    for (;;) {
      sockaddr_in peer{};
      socklen_t length = sizeof peer;
      Fd client = ::accept(fd_, reinterpret_cast<sockaddr*>(&peer), &length);
      if (client == kBad) {
        if (stop_) return;
        continue;
      }
      if (stop_ && ntohs(peer.sin_port) == wakePort_) {
        CloseFd(client);
        return;
      }
      ++accepted_;
      Connection connection(client);
      try {
        handler_(connection);
      } catch (...) {
      }
    }
  }
  std::function<void(Connection&)> handler_;
  Fd fd_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::atomic<uint16_t> wakePort_{0};
  bool stopped_ = false;
};

// Answers datagrams on 127.0.0.1: `handler` gets each request and returns the reply (empty: no
// reply).
class UdpResponder {
 public:
  explicit UdpResponder(std::function<std::string(const std::string&)> handler)
      : handler_(std::move(handler)) {
    EnsureInit();
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(0x7F000001);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&in), sizeof in);
    socklen_t length = sizeof in;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&in), &length);
    port_ = ntohs(in.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~UdpResponder() {
    stop_ = true;
    Fd wake = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(0x7F000001);
    in.sin_port = htons(port_);
    ::sendto(wake, "x", 1, 0, reinterpret_cast<sockaddr*>(&in), sizeof in);
    thread_.join();
    CloseFd(wake);
    CloseFd(fd_);
  }
  uint16_t Port() const { return port_; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
  }

 private:
  void Run() {
    char buffer[2048];
    for (;;) {
      sockaddr_in from{};
      socklen_t length = sizeof from;
      int n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (stop_) return;
      if (n <= 0) continue;
      std::string request(buffer, static_cast<size_t>(n));
      {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(request);
      }
      std::string reply = handler_(request);
      if (!reply.empty())
        ::sendto(fd_, reply.data(), static_cast<int>(reply.size()), 0,
                 reinterpret_cast<sockaddr*>(&from), length);
    }
  }
  std::function<std::string(const std::string&)> handler_;
  Fd fd_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<std::string> requests_;
};

// A port on 127.0.0.1 where nothing listens (bound briefly, then released).
inline uint16_t UnusedPort(bool stream) {
  EnsureInit();
  Fd fd = ::socket(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, 0);
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_addr.s_addr = htonl(0x7F000001);
  ::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in);
  socklen_t length = sizeof in;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&in), &length);
  CloseFd(fd);
  return ntohs(in.sin_port);
}

}  // namespace testnet
