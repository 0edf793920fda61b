// A small HTTP server on 127.0.0.1 for the web-delivery tests: one request per connection, the
// answer from a handler, every request recorded.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "DeliveryServers.h"

namespace testnet {

struct HttpRequest {
  std::string method;
  std::string target;   // path and query as sent
  std::string headers;  // raw header lines
  std::string body;
  std::string Header(const std::string& name) const {
    std::string lower = Lower(headers), key = "\r\n" + Lower(name) + ":";
    size_t at = ("\r\n" + lower).find(key);
    if (at == std::string::npos) return std::string();
    size_t start = at + key.size() - 2;
    size_t end = headers.find("\r\n", start);
    std::string value = headers.substr(start, end == std::string::npos ? std::string::npos : end - start);
    while (!value.empty() && value[0] == ' ') value.erase(0, 1);
    return value;
  }
  static std::string Lower(std::string text) {
    for (char& c : text)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
  }
};

// "HTTP/1.1 <status>" with the headers given and the body; the connection closes afterwards.
inline std::string HttpAnswer(const std::string& status, const std::string& body,
                              const std::string& extraHeaders = std::string()) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
}

class HttpServer {
 public:
  explicit HttpServer(std::function<std::string(const HttpRequest&)> handler)
      : handler_(std::move(handler)), listener_([this](Connection& c) { Serve(c); }) {}
  uint16_t Port() const { return listener_.Port(); }
  std::vector<HttpRequest> Requests() {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
  }
  void Stop() { listener_.Stop(); }

 private:
  void Serve(Connection& c) {
    std::string head = c.ReadUntil("\r\n\r\n");
    if (head.empty()) return;
    HttpRequest request;
    size_t lineEnd = head.find("\r\n");
    std::string line = head.substr(0, lineEnd);
    size_t space1 = line.find(' '), space2 = line.rfind(' ');
    request.method = line.substr(0, space1);
    request.target = line.substr(space1 + 1, space2 - space1 - 1);
    request.headers = head.substr(lineEnd + 2);
    std::string length = request.Header("Content-Length");
    if (!length.empty()) request.body = c.ReadCount(static_cast<size_t>(std::stoul(length)));
    {
      std::lock_guard<std::mutex> guard(lock_);
      requests_.push_back(request);
    }
    c.Write(handler_(request));
  }

  std::function<std::string(const HttpRequest&)> handler_;
  std::mutex lock_;
  std::vector<HttpRequest> requests_;
  Listener listener_;
};

}  // namespace testnet
