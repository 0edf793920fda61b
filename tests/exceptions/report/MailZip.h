// The bug-report zip attached to a mail the test SMTP server received, unpacked.
#pragma once

#include <map>
#include <string>

#include "DeliverySmtpServer.h"
#include "ZipReader.h"
#include "exceptions/EmberCodecs.h"

namespace testnet {

// The entries of the attachment "BugReport.zip" by name; empty when the mail carries none.
inline std::map<std::string, std::string> MailZip(const std::string& data) {
  Received mail = Unstuff(data);
  size_t part = mail.body.find("filename=\"BugReport.zip\"\r\n\r\n");
  if (part == std::string::npos) return {};
  size_t start = part + 28, end = mail.body.find("\r\n\r\n--", start);
  std::string encoded;
  for (char c : mail.body.substr(start, end - start))
    if (c != '\r' && c != '\n') encoded += c;
  return testzip::ReadEntries(DecodeBase64String(encoded));
}

}  // namespace testnet
