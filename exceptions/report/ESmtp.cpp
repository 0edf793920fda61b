// SMTP sender and MIME message of the bug reports.
#include "ESmtp.h"

#include "EDeliverySupport.h"
#include "EObjectHelpers.h"
#include "ESockets.h"
#include "classlib/SysUtils.h"
#include "detail/EDeliveryPlatform_p.h"
#include "detail/ESupportPlatform_p.h"
#include "exceptions/EmberCodecs.h"
#include "exceptions/EmberTexts.h"

const char* const EmberMimeBoundary = "=_xcjvnxkbhvfkxzhfdbvzldjhfv";

namespace {

// The host name after the at sign of the Message-ID.
const char* const kMessageIdHost = "emberlog.local";
constexpr size_t kBase64LineLength = 80;

TEmberMxResolver gMxResolver = nullptr;
uint16_t gServerModePort = 25;

// "Message 1/2: " before each progress text of a message.
std::string ProgressPrefix() {
  const TEmberSendProgressState& state = DeliveryProgress();
  return DeliveryText(111) + " " + std::to_string(state.Recipient) + "/" +
         std::to_string(state.RecipientCount) + ": ";
}

void ShowSmtpProgress(int32_t textIndex) { DeliveryProgressText(ProgressPrefix() + DeliveryText(textIndex)); }

// A line that begins with "." gets a second one, so that no line of the text ends the data.
std::string DotStuff(const std::string& text) {
  std::string result;
  result.reserve(text.size() + 16);
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && c == '.') result += '.';
    result += c;
    lineStart = c == '\n';
  }
  return result;
}

bool SMTPCommand(TEmberClientSMTP& smtp, const std::string& command,
                 const std::vector<int32_t>& acceptedCodes) {
  return smtp.SendCommand(command, acceptedCodes);
}

bool SMTPHello(TEmberClientSMTP& smtp, const std::string& verb) {
  return SMTPCommand(smtp, verb + " " + GetLocalHostName(), {250});
}

}  // namespace

void SetMxResolver(TEmberMxResolver resolver) { gMxResolver = resolver; }
void SetSmtpServerModePort(uint16_t port) { gServerModePort = port; }

// --- The message

std::string EncodeFileBase64Lines(const std::string& fileName) {
  std::string data;
  if (Trim(fileName).empty() || !ReadWholeFile(fileName, data)) return std::string();
  std::string encoded = EncodeBase64Buffer(data.data(), static_cast<int32_t>(data.size()));
  std::string result;
  result.reserve(encoded.size() + encoded.size() / kBase64LineLength * 2 + 2);
  for (size_t pos = 0; pos < encoded.size(); pos += kBase64LineLength) {
    size_t length = std::min(kBase64LineLength, encoded.size() - pos);
    result.append(encoded, pos, length);
    if (length == kBase64LineLength) result += "\r\n";
  }
  return result;
}

std::string BuildAttachmentPart(const std::string& fileName) {
  if (Trim(fileName).empty() || !FileExistsText(fileName)) return std::string();
  std::string name = AttachedFileName(fileName);
  size_t dot = fileName.find_last_of(".\\/");
  std::string extension = dot != std::string::npos && fileName[dot] == '.' ? fileName.substr(dot) : "";
  std::string type = UpperCase(extension) == ".PNG" ? "image/png" : "application/octet-stream";
  std::string part;
  part += "\r\n--";
  part += EmberMimeBoundary;
  part += "\r\nContent-Type: " + type + ";\r\n        name=\"" + name + "\"\r\n";
  part += "Content-Transfer-Encoding: base64\r\n";
  part += "Content-Disposition: attachment;\r\n        filename=\"" + name + "\"\r\n\r\n";
  part += EncodeFileBase64Lines(fileName);
  part += "\r\n";
  return part;
}

std::string BuildAttachmentParts(const std::vector<std::string>& attachments) {
  std::string parts;
  for (const std::string& file : attachments) parts += BuildAttachmentPart(file);
  return parts;
}

std::string ComposeFromValue(const std::string& from, const std::string& displayName) {
  if (from.find('"') == std::string::npos && from.find('<') == std::string::npos)
    return CollapseControlText("\"" + displayName + "\" <" + from + ">");
  return CollapseControlText(from);
}

std::string EnvelopeSender(const std::string& fromValue) {
  // The address between the last "<" and the ">" after it; a name written without quotes
  // ("Name <a@b>") must not end up in MAIL FROM.
  size_t open = fromValue.rfind('<');
  if (open != std::string::npos) {
    size_t close = fromValue.find('>', open);
    if (close != std::string::npos) return fromValue.substr(open + 1, close - open - 1);
  }
  return fromValue;
}

std::string BuildSmtpMessage(const TEmberMailHeaders& headers, const std::string& bodyText,
                             const std::string& attachmentParts) {
  std::string body = "This is a multi-part message in MIME format\r\n\r\n";
  body += "--";
  body += EmberMimeBoundary;
  body += "\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
  body += bodyText;
  body += "\r\n";
  body += attachmentParts;
  body += "--";
  body += EmberMimeBoundary;
  body += "--\r\n";

  std::string message;
  message += "Date: " + headers.Date + "\r\n";
  message += "From: " + CollapseControlText(headers.From) + "\r\n";
  message += "Subject: " + CollapseControlText(headers.Subject) + "\r\n";
  message += "To: <" + CollapseControlText(headers.Recipient) + ">\r\n";
  message += "Content-Type: multipart/mixed; boundary=\"";
  message += EmberMimeBoundary;
  message += "\";\r\n";
  message += "MIME-Version: 1.0\r\n";
  message += "Message-ID: <" + std::to_string(headers.Tick) + "@" + kMessageIdHost + ">\r\n";
  message += "\r\n";
  message += DotStuff(body);
  message += ".";
  return message;
}

// --- Sending

bool SendSMTPMessage(bool serverMode, const std::string& from, const std::string& host,
                     uint16_t port, const std::string& user, const std::string& password,
                     const std::string& recipient, const std::string& subject,
                     const std::string& body, std::string& text, int32_t reserved,
                     const std::vector<std::string>& attachments) {
  ShowSmtpProgress(114);
  TEmberClientSMTP smtp(host, EmberSmtpTimeout, true, port);
  try {
    smtp.Connect();

    std::string displayName = DeliveryRegisteredOwner();
    if (displayName.empty()) displayName = DeliveryUserName();
    TEmberMailHeaders headers;
    headers.Date = FormatRFC822Date(ember_support::LocalNow());
    headers.From = ComposeFromValue(from, displayName);
    headers.Subject = subject;
    headers.Recipient = CollapseControlText(recipient);
    headers.Tick = DeliveryTickCount();
    std::string message = BuildSmtpMessage(headers, body, BuildAttachmentParts(attachments));
    std::string envelope = EnvelopeSender(headers.From);

    bool ok;
    ShowSmtpProgress(115);
    if (user.empty() && password.empty()) {
      ok = SMTPHello(smtp, "HELO") && SMTPCommand(smtp, "RSET", {250}) &&
           SMTPCommand(smtp, "MAIL FROM:<" + envelope + ">", {250});
    } else {
      // Servers that do not know AUTH LOGIN (500, 502) still take the mail.
      ok = SMTPHello(smtp, "EHLO") && SMTPCommand(smtp, "RSET", {250}) &&
           SMTPCommand(smtp, "AUTH LOGIN", {334, 500, 502}) &&
           SMTPCommand(smtp, EncodeBase64String(user), {334, 500, 502}) &&
           SMTPCommand(smtp, EncodeBase64String(password), {235, 500, 502}) &&
           SMTPCommand(smtp, "MAIL FROM:<" + envelope + ">", {250});
    }
    if (ok) {
      ShowSmtpProgress(116);
      ok = SMTPCommand(smtp, "RCPT TO:<" + headers.Recipient + ">", {250, 251}) &&
           SMTPCommand(smtp, "DATA", {354});
      if (ok) {
        int32_t length = static_cast<int32_t>(message.size()) + 2;
        smtp.OnProgress = [length](int32_t position, int32_t) {
          if (DeliveryProgress().View) DeliveryProgressBar(static_cast<int32_t>(int64_t(position) * 100 / length));
        };
        ok = SMTPCommand(smtp, message, {250});
        smtp.OnProgress = nullptr;
      }
    }
    text = smtp.ConnectionLog();
    return ok;
  } catch (...) {
    text = smtp.ConnectionLog();
    throw;
  }
}

bool SendSMTPMail(bool serverMode, const std::string& from, const std::string& host, uint16_t port,
                  const std::string& user, const std::string& password,
                  const std::string& recipients, const std::string& subject,
                  const std::string& body, std::string& text, int32_t reserved,
                  const std::vector<std::string>& attachments) {
  bool result = false;
  try {
    if (serverMode) port = gServerModePort;
    std::string expandedSubject = ExpandVariables(subject);
    std::string expandedBody = ExpandVariables(body);
    std::vector<std::string> list = SplitAddressList(recipients);
    DeliveryProgress().RecipientCount = static_cast<int32_t>(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
      DeliveryProgressReset();
      DeliveryProgress().Recipient = static_cast<int32_t>(i + 1);
      std::string messageHost = host, messageUser = user, messagePassword = password;
      if (serverMode) {
        ShowSmtpProgress(112);
        messageHost = (gMxResolver ? gMxResolver : ResolveMxRecord)(list[i], EmberSmtpTimeout);
        messageUser.clear();
        messagePassword.clear();
      }
      if (SendSMTPMessage(serverMode, from, messageHost, port, messageUser, messagePassword, list[i],
                          expandedSubject, expandedBody, text, reserved, attachments))
        result = true;
    }
  } catch (...) {
    result = false;
    RecordDeliveryError(eeEmailSMTPError, "SMTP");
  }
  DeliveryProgressClose();
  return result;
}
