// The library's own e-mail sender: one MIME multipart message per recipient (plain-text body and
// base64 attachments) delivered by a minimal SMTP dialogue, through a configured server or
// directly to each recipient's mail exchanger.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TEmberClientSMTP;

// The boundary of every message.
extern const char* const EmberMimeBoundary;
// Time-out of the SMTP connection and of the mail-exchanger lookup.
constexpr int32_t EmberSmtpTimeout = 30000;

// Sends the message to every recipient (`recipients` split at "," and ";"), each over its own
// connection. In server mode the port is 25 and the host is the recipient's mail exchanger
// (without user and password). Subject and body have their %VARIABLES% expanded. True when at
// least one message went out and no failure followed; a failure ends the loop, answers false and
// becomes the last error (eeEmailSMTPError, context "SMTP"). `text` receives the last
// connection's log. Closes the progress display at the end.
bool SendSMTPMail(bool serverMode, const std::string& from, const std::string& host, uint16_t port,
                  const std::string& user, const std::string& password,
                  const std::string& recipients, const std::string& subject,
                  const std::string& body, std::string& text, int32_t reserved,
                  const std::vector<std::string>& attachments);

// One message to one recipient over one connection to `host`; raises the socket errors.
bool SendSMTPMessage(bool serverMode, const std::string& from, const std::string& host,
                     uint16_t port, const std::string& user, const std::string& password,
                     const std::string& recipient, const std::string& subject,
                     const std::string& body, std::string& text, int32_t reserved,
                     const std::vector<std::string>& attachments);

// --- The message

// The MIME parts of the files that exist, in list order.
std::string BuildAttachmentParts(const std::vector<std::string>& attachments);
// One part: "image/png" for ".png" (any case), else "application/octet-stream", under the
// attachment name (AttachedFileName); empty for an empty name or a missing file.
std::string BuildAttachmentPart(const std::string& fileName);
// The file in base64, cut into lines of 80 characters each followed by "\r\n" (a shorter last
// line gets none); empty for an empty name or a missing file.
std::string EncodeFileBase64Lines(const std::string& fileName);

// The From header value: `from` as given when it holds a double quote or "<", else
// "\"<displayName>\" <from>"; control characters collapsed to blanks.
std::string ComposeFromValue(const std::string& from, const std::string& displayName);
// The envelope sender: the address inside the angle brackets, or the whole value.
std::string EnvelopeSender(const std::string& fromValue);

// What the message consists of besides the body text.
struct TEmberMailHeaders {
  std::string Date;       // the "Date:" value
  std::string From;       // the From value (ComposeFromValue)
  std::string Subject;
  std::string Recipient;  // the bare address
  uint32_t Tick = 0;      // for the Message-ID
};

// Headers, the multipart body (text and attachment parts) with SMTP transparency (a line that
// begins with "." gets a second one) and the final line holding ".".
std::string BuildSmtpMessage(const TEmberMailHeaders& headers, const std::string& bodyText,
                             const std::string& attachmentParts);

// --- Seams

// How server mode finds a recipient's mail exchanger (default ResolveMxRecord); tests put a
// local lookup here.
using TEmberMxResolver = std::string (*)(const std::string& address, int32_t timeout);
void SetMxResolver(TEmberMxResolver resolver);
// The port server mode connects to (25; tests choose another).
void SetSmtpServerModePort(uint16_t port);
