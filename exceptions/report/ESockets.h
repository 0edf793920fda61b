// A small blocking TCP/UDP client over the system's sockets (WinSock loaded at run time on
// Windows) with a text log of everything exchanged, its SMTP flavour that waits for the server's
// greeting, and the DNS client that finds a mail domain's exchanger.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "classlib/SysUtils.h"

// --- Errors

KBL_DECLARE_EXCEPTION(EEmberWinSockError, Exception);
KBL_DECLARE_EXCEPTION(EEmberSocketError, EEmberWinSockError);
KBL_DECLARE_EXCEPTION(EEmberFuncNotFoundError, EEmberSocketError);

// Starts the socket library once per module (WinSock 1.1); raises EEmberFuncNotFoundError when a
// function of it cannot be found. Module globals without a lock: the first call comes from the
// library's start-up.
void StartWinSock();
// Cleans the socket library up when it was started (one WSACleanup for the start-up) and lets
// go of the libraries loaded for it; the library's detachment calls it. A later use starts again.
void CleanupWinSock();

// The computer's host name (gethostname, 250 bytes); empty when unknown.
std::string GetLocalHostName();

// An IPv4 socket address laid out as sockaddr_in (port and address in network order).
struct TEmberSockAddr {
  uint16_t Family = 0;
  uint16_t Port = 0;
  uint8_t Address[4] = {0, 0, 0, 0};
  uint8_t Zero[8] = {0, 0, 0, 0, 0, 0, 0, 0};
};

// --- Client socket

// One connection; used by one thread at a time. Every failure raises EEmberSocketError whose
// text carries the connection and reply logs (or EAbort when Silent is set).
class TEmberClientSocket : public TObject {
 public:
  static constexpr int32_t kStream = 1;
  static constexpr int32_t kDatagram = 2;

  // Stores the values; nothing is connected yet.
  TEmberClientSocket(const std::string& host, int32_t timeout, bool stream, uint16_t port);
  // Closes a connected socket (errors on the way are swallowed).
  ~TEmberClientSocket() override;

  // Opens, resolves and connects (does nothing when connected). Raises on every failure.
  virtual void Connect();
  // Closes the handle when open; clears the address, the flag and both logs.
  virtual void Close();

  // One send/recv call; the result is the byte count, or -1 when the call failed with an error
  // the caller may retry (the socket stays open) or with code 0. Other failures close the
  // socket and raise. Every send empties the reply log.
  int32_t SendBuffer(const void* buffer, int32_t length);
  // A length of -1 asks how many bytes wait instead of reading.
  int32_t ReceiveBuffer(void* buffer, int32_t length);
  // Sends in pieces of at most 1024 bytes, reporting progress after each; the bytes sent.
  int32_t SendText(const std::string& text);
  // Everything that arrives without a pause of a second, ending early once the text is a whole
  // reply (ReplyComplete); appended to both logs.
  std::string ReadAvailable();
  // Waits on the socket up to the time-out for a reply; empty when none came (or the peer
  // closed without one).
  std::string ReadReply();
  // As ReadReply, but raises "Socket timeout." when nothing came.
  std::string ReadReplyOrFail();

  // Raises the socket error for `message`, combined with the logs.
  [[noreturn]] void RaiseSocketError(const std::string& message);

  // The reply's leading decimal digits as a number; -1 when it has none.
  static int32_t ReplyCode(const std::string& reply);
  // The text of a socket error: message, connection log and reply log combined.
  static std::string ComposeErrorText(const std::string& message, const std::string& connectionLog,
                                      const std::string& replyLog);

  const std::string& Host() const { return host_; }
  uint16_t Port() const { return port_; }
  int32_t SocketType() const { return socketType_; }
  int32_t Timeout() const { return timeout_; }
  bool Connected() const { return connected_; }
  intptr_t Handle() const { return handle_; }
  const TEmberSockAddr& Address() const { return address_; }
  const std::string& ConnectionLog() const { return connectionLog_; }
  const std::string& ReplyLog() const { return replyLog_; }
  void AppendToConnectionLog(const std::string& text) { connectionLog_ += text; }
  void ClearReplyLog() { replyLog_.clear(); }
  bool Silent() const { return silent_; }
  void SetSilent(bool value) { silent_ = value; }

  // Called with the error text and -1 before an error is raised.
  std::function<void(const std::string& text, int32_t code)> OnLog;
  // Called with (bytes sent so far, text length) while SendText runs.
  std::function<void(int32_t position, int32_t total)> OnProgress;

 protected:
  // The text read so far is a whole reply, so no more of it is waited for: a datagram.
  virtual bool ReplyComplete(const std::string& text) const;

 private:
  [[noreturn]] void RaiseSystemError(const char* format, int32_t code);
  // Closes the socket after a failed send or recv and, unless the code is 0, raises the error
  // `format` names, with the logs as they were before the close.
  void CloseAfterFailure(int32_t code, const char* format);
  // Waits on the socket until bytes can be read (true) or the time passed, the socket closed
  // or the peer ended the connection (false).
  bool WaitForData(uint32_t milliseconds);

  TEmberSockAddr address_;
  std::string host_;
  uint16_t port_;
  int32_t socketType_;
  int32_t timeout_;
  bool connected_ = false;
  intptr_t handle_ = -1;
  std::string connectionLog_;
  std::string replyLog_;
  bool silent_ = false;
};

// An SMTP connection: Connect also waits for the server's 220 greeting.
class TEmberClientSMTP : public TEmberClientSocket {
 public:
  using TEmberClientSocket::TEmberClientSocket;
  void Connect() override;
  // Sends one command ("\r\n" appended unless present) and checks the reply's code against
  // `acceptedCodes`; raises with the connection log when the reply is refused or missing. An
  // empty command sends nothing and answers false.
  bool SendCommand(const std::string& command, const std::vector<int32_t>& acceptedCodes);

 protected:
  // A reply is whole once its last line is complete and not a continuation ("250-").
  bool ReplyComplete(const std::string& text) const override;
};

// --- Mail-exchanger lookup

// The fixed DNS server asked last, so that the list is never empty.
extern const char* const EmberFallbackDnsServer;

// The system's DNS servers (entries reading "0.0.0.0" skipped), then the fixed fallback.
std::vector<std::string> GetDnsServers();

// The DNS question for the MX record of `domain` (identifier "AA", recursion desired); empty for
// a domain that cannot be written as labels (an empty name or a label longer than 63 bytes).
std::string BuildMxQuery(const std::string& domain);
// The exchange host of the reply's first answer; empty when the reply holds none or is damaged.
std::string ParseMxReply(const std::string& reply);

// The mail exchanger of the domain of `address` (the text after its first "@", or all of it),
// asking each DNS server in turn (three attempts, time-out `timeout` + 100 ms per retry, port 53).
// Raises EEmberSocketError "Cannot resolve the "<domain>" MX record." when no server answers.
std::string ResolveMxRecord(const std::string& address, int32_t timeout);
// The same against the given servers and port.
std::string ResolveMxRecordWith(const std::string& address, int32_t timeout,
                                const std::vector<std::string>& servers, uint16_t port);
