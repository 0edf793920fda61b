// WinInet requests, URL helpers and the HTTP and FTP uploads of the bug reports.
#include "EHttp.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "EDeliverySupport.h"
#include "EZipWriter.h"
#include "detail/EWinInetApi_p.h"
#include "exceptions/EmberCodecs.h"
#include "exceptions/EmberTexts.h"

namespace {

const char* const kAgent = "EmberLog";
constexpr uint32_t kConnectFlags = 0x04400000;   // NO_CACHE_WRITE | KEEP_CONNECTION
constexpr uint32_t kRequestFlags = 0x8460C200;   // RELOAD ... NO_AUTO_REDIRECT ... NO_UI
constexpr uint32_t kNoCookies = 0x00080000;
constexpr uint32_t kHttpsFlags = 0x00800000 | 0x00001000 | 0x00002000;
constexpr uint32_t kPassive = 0x08000000;
constexpr uint32_t kQueryContentLength = 5;
constexpr uint32_t kQueryStatusCode = 19;
constexpr uint32_t kQueryStatusText = 20;
constexpr uint32_t kQueryRawHeaders = 22;
constexpr uint32_t kQueryLocation = 33;
constexpr uint32_t kQueryRefresh = 46;
constexpr uint32_t kRequestPiece = 4096;
constexpr uint32_t kUploadPiece = 1024;

std::string gProxy, gProxyUser, gProxyPassword;

// The English descriptions of the WinInet error codes, each entry the 5-digit code, a blank and
// the text, in code order.
const char* const kWinInetErrors[] = {
    "12001 No more handles could be generated at this time.",
    "12002 The request has timed out.",
    "12003 An extended error was returned from the server. This is typically a string or buffer "
    "containing a verbose error message. Call InternetGetLastResponseInfo to retrieve the error text.",
    "12004 An internal error has occurred.",
    "12005 The URL is invalid.",
    "12006 The URL scheme could not be recognized, or is not supported.",
    "12007 The server name could not be resolved.",
    "12008 The requested protocol could not be located.",
    "12009 A request to InternetQueryOption or InternetSetOption specified an invalid option value.",
    "12010 The length of an option supplied to InternetQueryOption or InternetSetOption is incorrect "
    "for the type of option specified.",
    "12011 The request option cannot be set, only queried.",
    "12012 The Win32 Internet function support is being shut down or unloaded.",
    "12013 The request to connect and log on to an FTP server could not be completed because the "
    "supplied user name is incorrect.",
    "12014 The request to connect and log on to an FTP server could not be completed because the "
    "supplied password is incorrect.",
    "12015 The request to connect to and log on to an FTP server failed.",
    "12016 The requested operation is invalid.",
    "12017 The operation was canceled, usually because the handle on which the request was operating "
    "was closed before the operation completed.",
    "12018 The type of handle supplied is incorrect for this operation.",
    "12019 The requested operation cannot be carried out because the handle supplied is not in the "
    "correct state.",
    "12020 The request cannot be made via a proxy.",
    "12021 A required registry value could not be located.",
    "12022 A required registry value was located but is an incorrect type or has an invalid value.",
    "12023 Direct network access cannot be made at this time.",
    "12024 An asynchronous request could not be made because a zero context value was supplied.",
    "12025 An asynchronous request could not be made because a callback function has not been set.",
    "12026 The required operation could not be completed because one or more requests are pending.",
    "12027 The format of the request is invalid.",
    "12028 The requested item could not be located.",
    "12029 The attempt to connect to the server failed.",
    "12030 The connection with the server has been terminated.",
    "12031 The connection with the server has been reset.",
    "12032 Calls for the Win32 Internet function to redo the request.",
    "12033 The request to the proxy was invalid.",
    "12036 The request failed because the handle already exists.",
    "12037 SSL certificate date that was received from the server is bad. The certificate is expired.",
    "12038 SSL certificate common name (host name field) is incorrect. For example, if you entered "
    "www.server.com and the common name on the certificate says www.different.com.",
    "12039 The application is moving from a non-SSL to an SSL connection because of a redirect.",
    "12040 The application is moving from an SSL to an non-SSL connection because of a redirect.",
    "12041 Indicates that the content is not entirely secure. Some of the content being viewed may "
    "have come from unsecured servers.",
    "12042 The application is posting and attempting to change multiple lines of text on a server "
    "that is not secure.",
    "12043 The application is posting data to a server that is not secure.",
    "12044 The server is requesting client authentication.",
    "12045 The function is unfamiliar with the Certificate Authority that generated the server's "
    "certificate.",
    "12052 The data being submitted to an SSL connection is being redirected to a non-SSL connection.",
    "12055 The SSL certificate contains errors.",
    "12110 The requested operation cannot be made on the FTP session handle because an operation is "
    "already in progress.",
    "12111 The FTP operation was not completed because the session was aborted.",
    "12112 Passive mode is not available on the server.",
    "12130 An error was detected while parsing data returned from the Gopher server.",
    "12131 The request must be made for a file locator.",
    "12132 An error was detected while receiving data from the Gopher server.",
    "12133 The end of the data has been reached.",
    "12134 The supplied locator is not valid.",
    "12135 The type of the locator is not correct for this operation.",
    "12136 The requested operation can be made only against a Gopher+ server, or with a locator that "
    "specifies a Gopher+ operation.",
    "12137 The requested attribute could not be located.",
    "12138 The locator type is unknown.",
    "12150 The requested header could not be located.",
    "12151 The server did not return any headers.",
    "12152 The server response could not be parsed.",
    "12153 The supplied header is invalid.",
    "12154 The request made to HttpQueryInfo is invalid.",
    "12155 The header could not be added because it already exists.",
    "12156 The redirection failed because either the scheme changed (for example, HTTP to FTP) or all "
    "attempts made to redirect failed (default is five attempts).",
    "12160 The HTTP request was not redirected.",
    "12161 The HTTP cookie requires confirmation.",
    "12162 The HTTP cookie was declined by the server.",
    "12163 The Internet connection has been lost.",
    "12164 The Web site or server indicated is unreachable.",
    "12165 The designated proxy server cannot be reached.",
    "12166 There was an error in the automatic proxy configuration script.",
    "12167 The automatic proxy configuration script could not be downloaded. The "
    "INTERNET_FLAG_MUST_CACHE_REQUEST flag was set.",
    "12168 The redirection requires user confirmation.",
    "12169 SSL certificate is invalid.",
    "12170 SSL certificate was revoked.",
    "12171 The function failed due to a security check.",
};

bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool AllDigits(const std::string& text) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string Hex4(uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value & 0xFFFF);
  return text;
}

// Closes WinInet handles in reverse order of opening when the scope ends.
class HandleGuard {
 public:
  ~HandleGuard() {
    for (auto it = handles_.rbegin(); it != handles_.rend(); ++it)
      if (*it) einet::Close(*it);
  }
  einet::Handle Keep(einet::Handle handle) {
    handles_.push_back(handle);
    return handle;
  }

 private:
  std::vector<einet::Handle> handles_;
};

// The path part of a redirect target: an absolute URL loses its scheme and host, a relative
// one is taken from `basePath`.
std::string RedirectTarget(const std::string& location, const std::string& basePath) {
  std::string target = Trim(location);
  size_t scheme = target.find("://");
  if (scheme != std::string::npos) {
    size_t slash = target.find('/', scheme + 3);
    target = slash == std::string::npos ? "/" : target.substr(slash);
  }
  if (target.empty() || target[0] != '/') target = basePath + target;
  return target;
}

}  // namespace

// --- Binding

bool LoadWinInet() { return einet::Load(); }
void FreeWinInet() { einet::Free(); }

void SetWebProxy(const std::string& hostAndPort, const std::string& user, const std::string& password) {
  gProxy = hostAndPort;
  gProxyUser = user;
  gProxyPassword = password;
}

// --- URLs

bool SplitURL(const std::string& url, std::string& scheme, std::string& user, uint16_t& port,
              std::string& fullPath, std::string& host, std::string& password) {
  scheme.clear();
  user.clear();
  password.clear();
  host.clear();
  fullPath.clear();
  port = 0;
  std::string rest = Trim(url);
  if (rest.empty()) return false;
  if (rest.back() != '/') rest += '/';
  // A port written at the very end ("...:8081/"), the way AddURLCredentials puts it.
  std::string body = rest.substr(0, rest.size() - 1);
  size_t colon = body.find_last_of(':');
  if (colon != std::string::npos && AllDigits(body.substr(colon + 1)) &&
      body.compare(colon, 3, "://") != 0) {
    port = static_cast<uint16_t>(std::stoi(body.substr(colon + 1)));
    rest = body.substr(0, colon) + "/";
  }
  size_t separator = rest.find("://");
  if (separator != std::string::npos) {
    bool plain = separator > 0;
    for (size_t i = 0; i < separator; ++i) plain = plain && IsHostChar(rest[i]);
    if (plain) {
      scheme = rest.substr(0, separator);
      rest = rest.substr(separator + 3);
    }
  }
  size_t firstSlash = rest.find('/');
  size_t at = rest.find('@');
  if (at != std::string::npos && at < firstSlash) {
    std::string credentials = rest.substr(0, at);
    size_t split = credentials.find(':');
    user = credentials.substr(0, split);
    if (split != std::string::npos) password = credentials.substr(split + 1);
    rest = rest.substr(at + 1);
    firstSlash = rest.find('/');
  }
  std::string hostPart = rest.substr(0, firstSlash);
  size_t portColon = hostPart.find(':');
  if (portColon != std::string::npos && AllDigits(hostPart.substr(portColon + 1))) {
    if (port == 0) port = static_cast<uint16_t>(std::stoi(hostPart.substr(portColon + 1)));
    hostPart.resize(portColon);
  }
  bool plainHost = !hostPart.empty();
  for (char c : hostPart) plainHost = plainHost && IsHostChar(c);
  if (plainHost) {
    host = hostPart;
    rest = rest.substr(firstSlash);
  }
  fullPath = rest.substr(0, rest.size() - 1);
  return true;
}

void SplitDocumentURL(const std::string& url, std::string& path, std::string& document, std::string& query) {
  std::string rest = url;
  size_t question = rest.find('?');
  query = question == std::string::npos ? std::string() : rest.substr(question + 1);
  if (question != std::string::npos) rest.resize(question);
  size_t slash = rest.find_last_of('/');
  path = slash == std::string::npos ? std::string("/") : rest.substr(0, slash + 1);
  document = slash == std::string::npos ? rest : rest.substr(slash + 1);
  if (path.empty() || path[0] != '/') path = "/" + path;
}

std::string AddURLCredentials(const std::string& url, const std::string& user, const std::string& password,
                              uint16_t port) {
  std::string result = url;
  if (port != 0) result += ":" + std::to_string(port);
  if (!user.empty() || !password.empty()) {
    std::string credentials = user + ":" + password + "@";
    size_t separator = result.find("://");
    if (separator == std::string::npos)
      result = credentials + result;
    else
      result.insert(separator + 3, credentials);
  }
  return result;
}

std::string URLEncode(const std::string& text) {
  std::string result;
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9')) {
      result += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", b);
      result += hex;
    }
  }
  return result;
}

std::string WinInetErrorDescription(uint32_t code) {
  const std::string key = std::to_string(code) + ' ';
  for (const char* entry : kWinInetErrors)
    if (std::strncmp(entry, key.c_str(), key.size()) == 0) return entry + key.size();
  return std::string();
}

std::string GetWinInetErrorText(uint32_t code) {
  std::string text = Trim(einet::LastResponseInfo());
  if (!text.empty()) return text;
  text = WinInetErrorDescription(code);
  if (!text.empty()) return text;
  text = einet::SystemErrorText(code);
  if (text.empty()) text = "Error " + std::to_string(code);
  return text;
}

// --- Multipart bodies

std::string MakeMultipartBoundary() {
  static std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<uint32_t> below(0, 65534);
  return "---------------------------" + Hex4(below(random)) + Hex4(below(random)) + Hex4(below(random));
}

std::string BuildMultipartBody(const std::string& boundary, const TEmberFormFields& fields,
                               const TEmberFormFields& files) {
  std::string body;
  for (const auto& field : fields)
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + field.first + "\";\r\n\r\n" +
            field.second + "\r\n";
  for (const auto& file : files) {
    std::string data;
    body += "--" + boundary + "\r\n";
    if (FileExistsText(file.second) && ReadWholeFile(file.second, data)) {
      body += "Content-Disposition: form-data; name=\"" + file.first + "\"; filename=\"" +
              FilePartOf(file.second) + "\";\r\nContent-Type: application/octet-stream\r\n\r\n";
      body += data;
      body += "\r\n";
    } else {
      body += "Content-Disposition: form-data; name=\"" + file.first +
              "\"; filename=\"\";\r\nContent-Type: application/octet-stream\r\n\r\n\r\n";
    }
  }
  body += "--" + boundary + "--\r\n";
  return body;
}

std::string BuildUploadBody(const std::string& boundary, const std::vector<std::string>& customFields,
                            const std::vector<std::string>& attachments) {
  std::string body;
  for (const std::string& line : customFields) {
    size_t equals = line.find('=');
    std::string name = line.substr(0, equals);
    std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\";\r\n\r\n" + value +
            "\r\n";
  }
  for (size_t i = 0; i < attachments.size(); ++i) {
    std::string data;
    if (!FileExistsText(attachments[i]) || !ReadWholeFile(attachments[i], data)) continue;
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"el_upload_file_" +
            std::to_string(i) + "\"; filename=\"" + AttachedFileName(attachments[i]) +
            "\";\r\nContent-Type: application/octet-stream\r\n\r\n";
    body += data;
    body += "\r\n";
  }
  body += "--" + boundary + "--\r\n";
  return body;
}

// --- Responses

void THTTPResponse::Assign(const THTTPResponse* source) {
  if (!source) throw EConvertError("Cannot assign a THTTPResponse class to a NIL value.");
  StatusCode = source->StatusCode;
  StatusText = source->StatusText;
  RawHeaders = source->RawHeaders;
  Body = source->Body;
  BasePath = source->BasePath;
  Document = source->Document;
  ErrorCode = source->ErrorCode;
  ErrorText = source->ErrorText;
}

void THTTPResponse::Clear() {
  StatusCode = 0;
  StatusText.clear();
  RawHeaders.clear();
  Body.clear();
  BasePath.clear();
  Document.clear();
  ErrorCode = 0;
  ErrorText.clear();
}

// --- Connections

THTTPConnectionBase::THTTPConnectionBase(const std::string& url, const std::string& proxy) {
  if (!LoadWinInet()) return;
  std::string scheme, fullPath;
  uint16_t port = 0;
  SplitURL(url, scheme, user_, port, fullPath, host_, password_);
  size_t question = fullPath.find('?');
  if (question != std::string::npos) fullPath.resize(question);
  requestPath_ = fullPath;
  if (requestPath_.empty() || requestPath_.back() != '/') requestPath_ += '/';
  if (requestPath_[0] != '/') requestPath_ = "/" + requestPath_;
  https_ = LowerCase(scheme) == "https";
  port_ = port != 0 ? port : (https_ ? 443 : 80);
  if (!proxy.empty() && proxy[0] != ':') {
    std::string proxyScheme, proxyPath;
    uint16_t proxyPort = 0;
    SplitURL(proxy, proxyScheme, proxyUser_, proxyPort, proxyPath, proxyHost_, proxyPassword_);
    proxyPort_ = proxyPort != 0 ? proxyPort : 8080;
    useProxy_ = true;
  }
}

THTTPConnectionBase::~THTTPConnectionBase() {
  if (connection_) einet::Close(connection_);
  if (session_) einet::Close(session_);
}

THTTPConnection::THTTPConnection(const std::string& url, const std::string& proxy)
    : THTTPConnectionBase(url, proxy) {
  Open();
}

THTTPConnection::~THTTPConnection() {
  try {
    Close();
  } catch (...) {
  }
}

void THTTPConnectionBase::Open() {
  SetStatus(0);
  if (!LoadWinInet()) return;
  session_ = einet::Open(kAgent, useProxy_ ? proxyHost_ + ":" + std::to_string(proxyPort_) : std::string());
  if (session_)
    connection_ = einet::Connect(session_, host_, port_, user_, password_, false, kConnectFlags);
  if (!session_ || !connection_) {
    if (session_) einet::Close(session_);
    session_ = 0;
    throw Exception("Cannot create an HTTP connection with the host: " + host_);
  }
  SetStatus(1);
}

void THTTPConnectionBase::Close() {
  if (!session_ && !connection_) return;
  SetStatus(8);
  bool closed = einet::Close(connection_);
  closed = einet::Close(session_) && closed;
  connection_ = 0;
  session_ = 0;
  if (!closed) throw Exception("Cannot close the HTTP connection with the host: " + host_);
  SetStatus(9);
}

bool THTTPConnectionBase::Request(bool showProgress, THTTPResponse& response) {
  for (int32_t round = 0; round <= kMaxRedirects; ++round) {
    bool again = false;
    if (!RequestOnce(showProgress, response, again)) return false;
    if (!again) break;
  }
  if (showProgress) SetStatus(7);
  for (char& c : response.Body)
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  response_.Assign(&response);
  return true;
}

bool THTTPConnectionBase::RequestOnce(bool showProgress, THTTPResponse& response, bool& again) {
  again = false;
  response.Clear();
  auto fail = [&response]() {
    response.ErrorCode = static_cast<int32_t>(einet::LastError());
    response.ErrorText = GetWinInetErrorText(static_cast<uint32_t>(response.ErrorCode));
    return false;
  };
  if (!LoadWinInet() || !connection_) {
    response.ErrorCode = -1;
    response.ErrorText = "Cannot find the \"wininet.dll\" library.";
    return false;
  }
  std::string path, document, query;
  SplitDocumentURL(NextURL, path, document, query);
  response.BasePath = path;
  response.Document = document;

  uint32_t flags = kRequestFlags | (https_ ? kHttpsFlags : 0);
  std::string body, contentType;
  if (Method == kGet) {
    for (const auto& field : Fields) {
      query += query.empty() ? "" : "&";
      query += URLEncode(field.first) + "=" + URLEncode(field.second);
    }
  } else if (Method == kPost) {
    for (const auto& field : Fields) {
      if (!body.empty()) body += "&";
      body += field.first + "=" + URLEncode(field.second);
    }
    contentType = "Content-Type: application/x-www-form-urlencoded";
  } else {
    std::string boundary = MakeMultipartBoundary();
    body = BuildMultipartBody(boundary, Fields, Files);
    contentType = "Content-Type: multipart/form-data; boundary=" + boundary;
  }
  std::string object = path + document + (query.empty() ? "" : "?" + query);

  HandleGuard guard;
  einet::Handle request = guard.Keep(einet::OpenRequest(connection_, Method == kGet ? "GET" : "POST", object, flags));
  if (!request) return fail();
  if (https_) einet::IgnoreUnknownCA(request);
  if (!contentType.empty() && !einet::AddHeader(request, contentType)) return fail();
  if (!user_.empty() || !password_.empty())
    einet::AddHeader(request, "Authorization: Basic " + EncodeBase64String(user_ + ":" + password_));
  if (useProxy_) einet::SetProxyCredentials(request, proxyUser_, proxyPassword_);

  uint32_t total = static_cast<uint32_t>(body.size());
  if (!einet::SendRequestEx(request, total)) return fail();
  uint32_t done = 0;
  while (done < total) {
    uint32_t piece = total - done < kRequestPiece ? total - done : kRequestPiece;
    uint32_t written = 0;
    if (!einet::Write(request, body.data() + done, piece, written) || written == 0) return fail();
    done += written;
    if (showProgress) {
      int32_t percent = static_cast<int32_t>(Round(100.0 * done / total));
      SetStatus(6, percent > 50 ? 50 : percent);
    }
  }
  if (!einet::EndRequest(request)) return fail();
  if (showProgress) SetStatus(6, 50);

  std::string text;
  if (einet::QueryInfo(request, kQueryStatusCode, text)) response.StatusCode = StrToIntDef(Trim(text), 0);
  einet::QueryInfo(request, kQueryStatusText, response.StatusText);
  einet::QueryInfo(request, kQueryRawHeaders, response.RawHeaders);
  int64_t length = 0;
  if (einet::QueryInfo(request, kQueryContentLength, text)) length = StrToInt64Def(Trim(text), 0);
  if (length <= 0) length = 1;

  std::string chunk(kRequestPiece, '\0');
  for (;;) {
    uint32_t read = 0;
    if (!einet::Read(request, chunk.data(), kRequestPiece, read)) return fail();
    if (read == 0) break;
    response.Body.append(chunk, 0, read);
    if (showProgress) {
      double share = static_cast<double>(response.Body.size()) / static_cast<double>(length);
      SetStatus(6, 50 + static_cast<int32_t>(Round(std::min(1.0, share) * 50.0)));
    }
  }

  int32_t status = response.StatusCode;
  std::string location;
  if (status == 301 || status == 302 || status == 303) {
    einet::QueryInfo(request, kQueryLocation, location);
  } else if (status == 200 && einet::QueryInfo(request, kQueryRefresh, text)) {
    size_t url = LowerCase(text).find("url=");
    if (url != std::string::npos) location = Trim(text.substr(url + 4));
    if (!location.empty()) response.StatusCode = status = 302;
  }
  if (!location.empty()) {
    NextURL = RedirectTarget(location, path);
    Method = kGet;
    Fields.clear();
    Files.clear();
    // 302 is followed at once; after 301 and 303 the caller asks for the new place.
    again = status == 302;
  }
  return true;
}

void THTTPConnection::SetStatus(int32_t stage, int32_t value) {
  TEmberSendProgress step = GetSendProgress(stage, value);
  if (!step.Valid) return;
  DeliveryProgressText(DeliveryText(step.TextIndex));
  TEmberSendProgressState& state = DeliveryProgress();
  if (step.Restart) DeliveryProgressReset();
  if (step.Advance || step.Restart)
    DeliveryProgressBar(state.LastPosition + step.Position);
  else
    DeliveryProgressBar(step.Position);
}

// --- Uploads

void SetWebSendProgress(int32_t stage, int64_t written, int64_t total) {
  switch (stage) {
    case 0:
      DeliveryProgressText(DeliveryText(114));
      DeliveryProgressBar(0, true);
      break;
    case 1:
      DeliveryProgressText(DeliveryText(115));
      break;
    case 2:
      DeliveryProgressText(DeliveryText(116));
      if (total > 0) DeliveryProgressBar(static_cast<int32_t>(Round(100.0 * written / total)));
      break;
    default:
      break;
  }
}

int32_t HTTPUpload(const std::string& host, const std::string& path, const std::string& user,
                   const std::string& password, TEmberUploadProgress progress,
                   const std::vector<std::string>& customFields, const std::vector<std::string>& names,
                   const std::vector<std::string>& files, bool https, uint16_t port, std::string& errorText) {
  errorText.clear();
  if (!LoadWinInet()) return -1;
  std::string boundary = MakeMultipartBoundary();
  std::string body = BuildUploadBody(boundary, customFields, files);
  int32_t result = 0;
  {
    HandleGuard guard;
    if (progress) progress(0, 0, 0);
    einet::Handle session = guard.Keep(einet::Open(kAgent, gProxy));
    einet::Handle connection =
        session ? guard.Keep(einet::Connect(session, host, port, "", "", false, 0)) : 0;
    if (!connection) {
      result = static_cast<int32_t>(einet::LastError());
    } else {
      if (progress) progress(1, 0, 0);
      std::string object = path.empty() ? "/" : path;
      if (object[0] != '/') object = "/" + object;
      uint32_t flags = kRequestFlags | kNoCookies | (https ? kHttpsFlags : 0);
      einet::Handle request = guard.Keep(einet::OpenRequest(connection, "POST", object, flags));
      bool ok = request != 0;
      if (ok && https) einet::IgnoreUnknownCA(request);
      ok = ok && einet::AddHeader(request, "Content-Type: multipart/form-data; boundary=" + boundary);
      if (ok && (!user.empty() || !password.empty()))
        ok = einet::AddHeader(request, "Authorization: Basic " + EncodeBase64String(user + ":" + password));
      if (ok && !gProxy.empty()) einet::SetProxyCredentials(request, gProxyUser, gProxyPassword);
      uint32_t total = static_cast<uint32_t>(body.size());
      ok = ok && einet::SendRequestEx(request, total);
      uint32_t done = 0;
      while (ok && done < total) {
        uint32_t piece = total - done < kUploadPiece ? total - done : kUploadPiece;
        uint32_t written = 0;
        ok = einet::Write(request, body.data() + done, piece, written) && written > 0;
        done += written;
        if (progress) progress(2, done, total);
      }
      ok = ok && einet::EndRequest(request);
      if (!ok) {
        result = static_cast<int32_t>(einet::LastError());
        if (result == 0) result = 2147483647;
      } else {
        std::string text;
        int32_t status = 0;
        if (einet::QueryInfo(request, kQueryStatusCode, text) && TryStrToInt(Trim(text), status)) {
          if (status != 200) {
            result = status;
            einet::QueryInfo(request, kQueryStatusText, errorText);
            errorText = Trim(errorText);
          }
        } else {
          result = 2147483647;
        }
      }
    }
  }
  if (result != 0 && errorText.empty()) errorText = GetWinInetErrorText(static_cast<uint32_t>(result));
  return result;
}

int32_t FTPUpload(const std::string& host, uint16_t port, const std::string& user, const std::string& password,
                  const std::string& folder, const std::vector<std::string>& names,
                  const std::vector<std::string>& files, TEmberUploadProgress progress, std::string& errorText) {
  errorText.clear();
  int64_t total = 0;
  for (const std::string& file : files)
    if (FileExistsText(file)) total += std::max<int64_t>(0, FileSizeOf(file));
  if (!LoadWinInet()) return -1;
  int32_t result = 0;
  {
    HandleGuard guard;
    if (progress) progress(0, 0, total);
    einet::Handle session = guard.Keep(einet::Open(kAgent, gProxy));
    einet::Handle connection =
        session ? guard.Keep(einet::Connect(session, host, port, user, password, true, kPassive)) : 0;
    if (!connection) {
      result = static_cast<int32_t>(einet::LastError());
    } else {
      if (progress) progress(1, 0, total);
      std::string prefix = folder;
      if (!prefix.empty() && prefix.back() != '/') prefix += '/';
      int64_t done = 0;
      for (size_t i = 0; i < files.size() && result == 0; ++i) {
        std::string data;
        if (!FileExistsText(files[i]) || !ReadWholeFile(files[i], data)) continue;
        std::string name = i < names.size() ? names[i] : AttachedFileName(files[i]);
        einet::Handle remote = einet::OpenFtpFile(connection, prefix + name);
        if (!remote) {
          result = static_cast<int32_t>(einet::LastError());
          break;
        }
        size_t position = 0;
        while (position < data.size()) {
          uint32_t piece = static_cast<uint32_t>(std::min<size_t>(kUploadPiece, data.size() - position));
          uint32_t written = 0;
          if (!einet::Write(remote, data.data() + position, piece, written) || written == 0) {
            result = static_cast<int32_t>(einet::LastError());
            if (result == 0) result = 2147483647;
            break;
          }
          position += written;
          done += written;
          if (progress) progress(2, done, total);
        }
        if (!einet::Close(remote) && result == 0) {
          result = static_cast<int32_t>(einet::LastError());
          if (result == 0) result = 2147483647;
        }
      }
    }
  }
  if (result != 0 && errorText.empty()) errorText = GetWinInetErrorText(static_cast<uint32_t>(result));
  return result;
}

// --- Pipeline side

namespace {

struct WebTarget {
  std::string host, path, user, password;
  uint16_t port = 0;
};

WebTarget TargetOf(const TEmberWebSendSettings& settings, uint16_t defaultPort) {
  WebTarget target;
  std::string scheme;
  SplitURL(settings.URL, scheme, target.user, target.port, target.path, target.host, target.password);
  if (settings.Port > 0 && settings.Port < 65536) target.port = static_cast<uint16_t>(settings.Port);
  if (!settings.User.empty()) target.user = settings.User;
  if (!settings.Password.empty()) target.password = settings.Password;
  if (target.port == 0) target.port = defaultPort;
  return target;
}

void ApplyProxy(const TEmberWebSendSettings& settings) {
  std::string proxy;
  if (!Trim(settings.ProxyHost).empty())
    proxy = Trim(settings.ProxyHost) + ":" + std::to_string(settings.ProxyPort ? settings.ProxyPort : 8080);
  SetWebProxy(proxy, settings.ProxyUser, settings.ProxyPassword);
}

bool RecordUpload(int32_t code, const std::string& errorText, const char* protocol, TEmberLogErrorCode errorCode) {
  if (code == 0) return true;
  char head[64];
  std::snprintf(head, sizeof head, "%s error code: %d", protocol, code);
  std::string message = head;
  if (code == -1)
    message += " - Cannot find the \"wininet.dll\" library.";
  else if (!errorText.empty())
    message += " (" + errorText + ")";
  RecordDeliveryWarning(errorCode, message);
  return false;
}

}  // namespace

bool SendHTTPReport(int32_t mode, const TEmberWebSendSettings& settings) {
  bool https = mode == 2;
  ApplyProxy(settings);
  WebTarget target = TargetOf(settings, https ? 443 : 80);
  std::vector<std::string> names;
  for (const std::string& file : settings.Attachments) names.push_back(AttachedFileName(file));
  int32_t code = 0;
  std::string errorText;
  if (!settings.Attachments.empty())
    code = HTTPUpload(target.host, target.path, target.user, target.password, SetWebSendProgress,
                      settings.CustomFields, names, settings.Attachments, https, target.port, errorText);
  DeliveryProgressClose();
  return RecordUpload(code, errorText, https ? "HTTPS" : "HTTP", https ? eeWebHTTPSError : eeWebHTTPError);
}

bool SendFTPReport(const TEmberWebSendSettings& settings) {
  ApplyProxy(settings);
  WebTarget target = TargetOf(settings, 21);
  std::vector<std::string> names;
  for (const std::string& file : settings.Attachments) names.push_back(AttachedFileName(file));
  int32_t code = 0;
  std::string errorText;
  if (!settings.Attachments.empty())
    code = FTPUpload(target.host, target.port, target.user, target.password, target.path, names,
                     settings.Attachments, SetWebSendProgress, errorText);
  DeliveryProgressClose();
  return RecordUpload(code, errorText, "FTP", eeWebFTPError);
}
