// Blocking client sockets with logs, the SMTP greeting, and the DNS mail-exchanger lookup.
#include "ESockets.h"

#include <cstdio>
#include <cstring>

#include "detail/EDeliveryPlatform_p.h"
#include "detail/ESocketApi_p.h"
#include "exceptions/capture/ExceptionLog.h"

const char* const EmberFallbackDnsServer = "8.8.8.8";

namespace {

constexpr int32_t kPieceSize = 1024;
// After data arrived, more of the same reply may follow within this quiet time.
constexpr uint32_t kQuietTimeMs = 1000;
constexpr size_t kLogTextLimit = 1024;

std::string FormatWithText(const char* format, const std::string& text) {
  std::string result;
  const char* marker = std::strstr(format, "%s");
  if (!marker) return format;
  result.assign(format, marker);
  result += text;
  result += marker + 2;
  return result;
}

}  // namespace

// --- Library start-up

void StartWinSock() { esock::Startup(); }
void CleanupWinSock() { esock::Cleanup(); }

std::string GetLocalHostName() {
  try {
    return esock::LocalHostName();
  } catch (const Exception&) {
    return std::string();
  }
}

// --- Client socket

TEmberClientSocket::TEmberClientSocket(const std::string& host, int32_t timeout, bool stream,
                                       uint16_t port)
    : host_(host), port_(port), socketType_(stream ? kStream : kDatagram), timeout_(timeout) {
  address_.Family = 2;
}

TEmberClientSocket::~TEmberClientSocket() {
  try {
    if (connected_ || handle_ != -1) Close();
  } catch (...) {
    // A destructor must not raise; the handle is gone either way.
  }
}

void TEmberClientSocket::Connect() {
  if (connected_) return;
  StartWinSock();
  handle_ = esock::Open(socketType_);
  if (handle_ == -1) RaiseSystemError("Invalid socket: \"%s\".", esock::LastError());

  address_.Family = 2;
  if (!esock::Resolve(host_, address_.Address)) std::memset(address_.Address, 0, 4);
  if (address_.Address[0] == 0 && address_.Address[1] == 0 && address_.Address[2] == 0 &&
      address_.Address[3] == 0) {
    // The handle would leak if the error left it open.
    std::string text = "Unable to resolve host \"" + host_ + "\".";
    esock::Close(handle_);
    handle_ = -1;
    RaiseSocketError(text);
  }
  address_.Port = esock::HostToNet(port_);

  esock::MakeBlocking(handle_);
  bool connected;
  {
    // A background send may be given up while it waits on the network (TEmberPark).
    const TEmberParked parked;
    connected = esock::Connect(handle_, address_);
  }
  if (!connected) {
    int32_t code = esock::LastError();
    std::string text = FormatWithText("Connection error: \"%s\"", esock::ErrorText(code));
    esock::Close(handle_);
    handle_ = -1;
    RaiseSocketError(text);
  }
  connected_ = handle_ != -1;
  char line[80];
  std::snprintf(line, sizeof line, "Connected to %d.%d.%d.%d port %d\r\n", address_.Address[0],
                address_.Address[1], address_.Address[2], address_.Address[3], port_);
  connectionLog_ = line;
  replyLog_.clear();
}

void TEmberClientSocket::Close() {
  if (handle_ != -1) {
    if (!esock::Close(handle_)) {
      int32_t code = esock::LastError();
      handle_ = -1;
      connected_ = false;
      RaiseSocketError(FormatWithText("Cannot close the socket: \"%s\"", esock::ErrorText(code)));
    }
  }
  handle_ = -1;
  address_ = TEmberSockAddr();
  address_.Family = 2;
  connected_ = false;
  connectionLog_.clear();
  replyLog_.clear();
}

void TEmberClientSocket::RaiseSystemError(const char* format, int32_t code) {
  RaiseSocketError(FormatWithText(format, esock::ErrorText(code)));
}

std::string TEmberClientSocket::ComposeErrorText(const std::string& message,
                                                 const std::string& connectionLog,
                                                 const std::string& replyLog) {
  if (message.find(connectionLog) == std::string::npos)
    return connectionLog + "\r\n\r\nSocket log:\r\n" + replyLog + "\r\n\r\n" + "Error log:\r\n" +
           message;
  if (message.compare(0, connectionLog.size(), connectionLog) == 0)
    return message + "\r\n\r\nSocket log:\r\n" + replyLog + "Error log:\r\n";
  return replyLog + "\r\n\r\n" + "Error log:\r\n" + message;
}

void TEmberClientSocket::RaiseSocketError(const std::string& message) {
  std::string text = ComposeErrorText(message, connectionLog_, replyLog_);
  if (OnLog) {
    std::string shown = text;
    if (shown.size() > kLogTextLimit) shown = shown.substr(0, kLogTextLimit) + "...";
    try {
      OnLog(shown, -1);
    } catch (...) {
    }
  }
  if (silent_) throw EAbort(text);
  throw EEmberSocketError(text);
}

void TEmberClientSocket::CloseAfterFailure(int32_t code, const char* format) {
  // The logs go into the message before Close empties them.
  std::string text = FormatWithText(format, esock::ErrorText(code));
  std::string connection = connectionLog_, reply = replyLog_;
  try {
    Close();
  } catch (...) {
  }
  if (code == 0) return;
  connectionLog_ = connection;
  replyLog_ = reply;
  RaiseSocketError(text);
}

int32_t TEmberClientSocket::SendBuffer(const void* buffer, int32_t length) {
  int32_t result;
  {
    const TEmberParked parked;
    result = esock::Send(handle_, buffer, length);
  }
  if (result < 0) {
    int32_t code = esock::LastError();
    if (!esock::IsWouldBlock(code)) CloseAfterFailure(code, "Error into \"send\": \"%s\"");
    result = -1;
  }
  replyLog_.clear();
  return result;
}

int32_t TEmberClientSocket::ReceiveBuffer(void* buffer, int32_t length) {
  if (length == -1) return esock::Available(handle_);
  int32_t result = esock::Receive(handle_, buffer, length);
  if (result < 0) {
    int32_t code = esock::LastError();
    if (!esock::IsWouldBlock(code)) CloseAfterFailure(code, "Error into \"recv\": \"%s\"");
    result = -1;
  }
  return result;
}

int32_t TEmberClientSocket::SendText(const std::string& text) {
  int32_t total = static_cast<int32_t>(text.size());
  int32_t position = 0;
  while (position < total) {
    int32_t piece = total - position < kPieceSize ? total - position : kPieceSize;
    int32_t sent = SendBuffer(text.data() + position, piece);
    if (sent <= 0) break;
    position += sent;
    if (OnProgress) OnProgress(position, total);
  }
  return position;
}

bool TEmberClientSocket::WaitForData(uint32_t milliseconds) {
  uint32_t start = DeliveryTickCount();
  for (;;) {
    if (handle_ == -1) return false;
    if (ReceiveBuffer(nullptr, -1) > 0) return true;
    uint32_t elapsed = DeliveryTickCount() - start;
    if (elapsed >= milliseconds) return false;
    // Readable with nothing to read: the peer closed or the socket failed, and no data follows.
    bool readable;
    {
      const TEmberParked parked;
      readable = esock::WaitReadable(handle_, milliseconds - elapsed);
    }
    if (readable && ReceiveBuffer(nullptr, -1) <= 0) return false;
  }
}

bool TEmberClientSocket::ReplyComplete(const std::string&) const {
  // A datagram is the whole message; a stream says nothing of where a reply ends.
  return socketType_ == kDatagram;
}

std::string TEmberClientSocket::ReadAvailable() {
  std::string result;
  for (;;) {
    int32_t waiting = ReceiveBuffer(nullptr, -1);
    if (waiting <= 0) break;
    std::string piece(static_cast<size_t>(waiting), '\0');
    int32_t count = ReceiveBuffer(piece.data(), waiting);
    if (count <= 0) break;
    piece.resize(static_cast<size_t>(count));
    result += piece;
    connectionLog_ += piece;
    replyLog_ += piece;
    // More of the same reply may still be on its way unless it is known to be whole.
    if (ReplyComplete(result) || !WaitForData(kQuietTimeMs)) break;
  }
  return result;
}

std::string TEmberClientSocket::ReadReply() {
  const uint32_t timeout = static_cast<uint32_t>(timeout_ < 0 ? 0 : timeout_);
  const uint32_t start = DeliveryTickCount();
  for (;;) {
    uint32_t elapsed = DeliveryTickCount() - start;
    if (!WaitForData(elapsed < timeout ? timeout - elapsed : 0)) return std::string();
    std::string text = ReadAvailable();
    if (!text.empty()) return text;
  }
}

std::string TEmberClientSocket::ReadReplyOrFail() {
  std::string text = ReadReply();
  if (text.empty()) RaiseSocketError("Socket timeout.");
  return text;
}

int32_t TEmberClientSocket::ReplyCode(const std::string& reply) {
  int64_t code = 0;
  size_t i = 0;
  while (i < reply.size() && reply[i] >= '0' && reply[i] <= '9' && i < 9) {
    code = code * 10 + (reply[i] - '0');
    ++i;
  }
  return i == 0 ? -1 : static_cast<int32_t>(code);
}

// --- SMTP

bool TEmberClientSMTP::ReplyComplete(const std::string& text) const {
  // The last line is whole and is not a continuation: three digits, then a space or its end.
  if (text.size() < 5 || text.compare(text.size() - 2, 2, "\r\n") != 0) return false;
  size_t last = text.rfind("\r\n", text.size() - 3);
  size_t begin = last == std::string::npos ? 0 : last + 2;
  if (text.size() - begin < 5) return false;
  for (size_t i = begin; i < begin + 3; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return text[begin + 3] == ' ' || text[begin + 3] == '\r';
}

void TEmberClientSMTP::Connect() {
  TEmberClientSocket::Connect();
  std::string greeting = ReadReplyOrFail();
  if (ReplyCode(greeting) != 220) RaiseSocketError(ConnectionLog());
}

bool TEmberClientSMTP::SendCommand(const std::string& command,
                                   const std::vector<int32_t>& acceptedCodes) {
  if (command.empty()) return false;
  std::string line = command;
  if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) line += "\r\n";
  int32_t sent = SendText(line);
  if (sent != static_cast<int32_t>(line.size())) RaiseSocketError(ConnectionLog());
  AppendToConnectionLog(line);
  ClearReplyLog();
  std::string reply = ReadReplyOrFail();
  int32_t code = ReplyCode(reply);
  for (int32_t accepted : acceptedCodes)
    if (code == accepted) return true;
  RaiseSocketError(ConnectionLog());
}

// --- DNS

std::vector<std::string> GetDnsServers() {
  std::vector<std::string> servers;
  auto add = [&servers](const std::string& text) {
    std::string trimmed = Trim(text);
    if (!trimmed.empty() && trimmed != "0.0.0.0") servers.push_back(trimmed);
  };
  for (const std::string& server : esock::SystemDnsServers()) add(server);
  add(EmberFallbackDnsServer);
  return servers;
}

std::string BuildMxQuery(const std::string& domain) {
  std::string query("AA\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12);
  bool anyLabel = false;
  size_t start = 0;
  while (start <= domain.size()) {
    size_t end = domain.find('.', start);
    if (end == std::string::npos) end = domain.size();
    size_t length = end - start;
    if (length > 63) return std::string();
    if (length > 0) {
      query += static_cast<char>(length);
      query.append(domain, start, length);
      anyLabel = true;
    }
    start = end + 1;
  }
  if (!anyLabel) return std::string();
  query += '\0';
  query.append("\x00\x0F\x00\x01", 4);
  return query;
}

namespace {

uint16_t ReadBE16(const std::string& data, size_t pos) {
  return static_cast<uint16_t>((static_cast<uint8_t>(data[pos]) << 8) |
                               static_cast<uint8_t>(data[pos + 1]));
}

// Reads a name at `pos`, following compression pointers; `pos` moves past the name as it is
// written at that place. Empty when a label runs past the data or pointers loop.
std::string ReadDnsName(const std::string& data, size_t& pos, bool& ok) {
  std::string name;
  size_t at = pos;
  bool jumped = false;
  int32_t jumps = 0;
  ok = true;
  for (;;) {
    if (at >= data.size()) {
      ok = false;
      break;
    }
    uint8_t length = static_cast<uint8_t>(data[at]);
    if (length == 0) {
      if (!jumped) pos = at + 1;
      break;
    }
    if ((length & 0xC0) == 0xC0) {
      if (at + 1 >= data.size() || ++jumps > 32) {
        ok = false;
        break;
      }
      size_t target = static_cast<size_t>(length & 0x3F) * 256 + static_cast<uint8_t>(data[at + 1]);
      if (!jumped) pos = at + 2;
      jumped = true;
      at = target;
      continue;
    }
    if (at + 1 + length > data.size() || name.size() > 255) {
      ok = false;
      break;
    }
    if (!name.empty()) name += '.';
    name.append(data, at + 1, length);
    at += 1 + length;
  }
  if (!ok) {
    pos = data.size();
    return std::string();
  }
  while (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

}  // namespace

std::string ParseMxReply(const std::string& reply) {
  if (reply.size() < 12) return std::string();
  uint16_t questions = ReadBE16(reply, 4);
  uint16_t answers = ReadBE16(reply, 6);
  size_t pos = 12;
  bool ok = true;
  for (uint16_t i = 0; i < questions; ++i) {
    ReadDnsName(reply, pos, ok);
    if (!ok || pos + 4 > reply.size()) return std::string();
    pos += 4;
  }
  // The first MX answer; a CNAME or other record in front of it is passed over.
  for (uint16_t i = 0; i < answers; ++i) {
    ReadDnsName(reply, pos, ok);
    if (!ok || pos + 10 > reply.size()) return std::string();
    uint16_t type = ReadBE16(reply, pos);
    uint16_t dataLength = ReadBE16(reply, pos + 8);
    pos += 10;
    if (pos + dataLength > reply.size()) return std::string();
    size_t next = pos + dataLength;
    if (type == 15 && dataLength >= 3) {
      size_t preference = pos;
      size_t exchangeAt = pos + 2;
      std::string host = ReadDnsName(reply, exchangeAt, ok);
      if (host.empty()) {
        size_t again = preference;
        host = ReadDnsName(reply, again, ok);
      }
      return host;
    }
    pos = next;
  }
  return std::string();
}

std::string ResolveMxRecordWith(const std::string& address, int32_t timeout,
                                const std::vector<std::string>& servers, uint16_t port) {
  size_t at = address.find('@');
  std::string domain = at == std::string::npos ? address : address.substr(at + 1);
  std::string query = BuildMxQuery(domain);
  std::string host;
  for (size_t server = 0; server < servers.size() && host.empty() && !query.empty(); ++server) {
    for (int32_t attempt = 0; attempt < 3 && host.empty(); ++attempt) {
      // A server that cannot be reached or refuses must not keep the next ones from being asked.
      try {
        TEmberClientSocket socket(servers[server], timeout + 100 * attempt, false, port);
        socket.Connect();
        if (socket.SendText(query) == static_cast<int32_t>(query.size())) {
          std::string reply = socket.ReadReply();
          if (!reply.empty()) host = ParseMxReply(reply);
        }
      } catch (const Exception&) {
        break;
      }
    }
  }
  if (host.empty()) throw EEmberSocketError("Cannot resolve the \"" + domain + "\" MX record.");
  return host;
}

std::string ResolveMxRecord(const std::string& address, int32_t timeout) {
  return ResolveMxRecordWith(address, timeout, GetDnsServers(), 53);
}
