// A small SMTP server on 127.0.0.1 for the delivery tests: answers every command with the
// configured codes and records each session; and the undoing of SMTP transparency.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "DeliveryServers.h"

namespace testnet {

// One SMTP session as the server saw it.
struct SmtpSession {
  std::vector<std::string> commands;  // without CRLF
  std::string data;                   // between DATA's 354 and the final ".", as received
};

// A small SMTP server: answers every command with the configured codes and records sessions.
class SmtpServer {
 public:
  int authCode = 334;
  int rcptCode = 250;
  std::string greeting = "220 local ESMTP\r\n";
  // Called on the server's thread with every command before it is answered.
  std::function<void(const std::string& command)> onCommand;

  SmtpServer() : listener_([this](Connection& c) { Serve(c); }) {}
  uint16_t Port() const { return listener_.Port(); }
  std::vector<SmtpSession> Sessions() {
    listener_.Stop();
    std::lock_guard<std::mutex> guard(lock_);
    return sessions_;
  }

 private:
  void Serve(Connection& c) {
    SmtpSession session;
    c.Write(greeting);
    int authStep = 0;
    for (;;) {
      std::string line = c.ReadLine();
      if (line.empty()) break;
      line.resize(line.size() - 2);
      session.commands.push_back(line);
      if (onCommand) onCommand(line);
      std::string verb = line.substr(0, 4);
      if (authStep > 0) {
        // User name, then password (or unknown commands when AUTH was refused).
        c.Write(authCode == 334 ? (authStep == 1 ? "334 UGFzc3dvcmQ6\r\n" : "235 accepted\r\n")
                                : "502 unknown command\r\n");
        authStep = authStep == 1 ? 2 : 0;
      } else if (verb == "EHLO") {
        c.Write("250-local\r\n250 AUTH LOGIN\r\n");
      } else if (verb == "HELO" || verb == "RSET" || verb == "MAIL") {
        c.Write("250 ok\r\n");
      } else if (verb == "AUTH") {
        c.Write(std::to_string(authCode) + (authCode == 334 ? " VXNlcm5hbWU6\r\n" : " not here\r\n"));
        authStep = 1;
      } else if (verb == "RCPT") {
        c.Write(std::to_string(rcptCode) + " recipient\r\n");
      } else if (verb == "DATA") {
        c.Write("354 go ahead\r\n");
        session.data = c.ReadUntil("\r\n.\r\n");
        c.Write("250 queued\r\n");
      } else {
        c.Write("500 what\r\n");
      }
    }
    std::lock_guard<std::mutex> guard(lock_);
    sessions_.push_back(session);
  }

  std::mutex lock_;
  std::vector<SmtpSession> sessions_;
  Listener listener_;
};

// Undoes SMTP transparency and splits headers from the body.
struct Received {
  std::string headers;
  std::string body;
};
inline Received Unstuff(std::string data) {
  if (data.size() >= 5 && data.compare(data.size() - 5, 5, "\r\n.\r\n") == 0) data.resize(data.size() - 3);
  std::string text;
  bool lineStart = true;
  for (size_t i = 0; i < data.size(); ++i) {
    if (lineStart && data[i] == '.' ) {
      ++i;
      if (i >= data.size()) break;
    }
    text += data[i];
    lineStart = data[i] == '\n';
  }
  size_t split = text.find("\r\n\r\n");
  return {text.substr(0, split + 2), text.substr(split + 4)};
}

}  // namespace testnet
