// Simple MAPI and mailto sending of the bug reports.
#include "EMail.h"

#include <cstdio>

#include "EDeliverySupport.h"
#include "classlib/SysUtils.h"
#include "detail/EMailApi_p.h"
#include "exceptions/EmberTexts.h"

namespace {

std::string PercentByte(unsigned char c) {
  char text[4];
  std::snprintf(text, sizeof text, "%%%02X", c);
  return text;
}

}  // namespace

std::string EncodeMailtoText(const std::string& text) {
  std::string result;
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    bool keep = b >= 128 || c == '-' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    result += keep ? std::string(1, c) : PercentByte(b);
  }
  return result;
}

std::string BuildMailtoURL(const std::string& recipients, const std::string& subject, const std::string& body,
                           const std::string& reportText) {
  std::string to;
  for (char c : recipients) {
    unsigned char b = static_cast<unsigned char>(c);
    to += b <= 32 || c == '"' ? PercentByte(b) : std::string(1, c);
  }
  return "mailto:" + to + "?Subject=" + EncodeMailtoText(subject) + "&Body=" +
         EncodeMailtoText(body + "\r\n\r\n\r\n" + reportText);
}

std::string SubstituteMailtoCommand(const std::string& command, const std::string& url) {
  std::string result;
  for (size_t i = 0; i < command.size(); ++i) {
    if (command[i] == '%' && i + 1 < command.size() && command[i + 1] == '1') {
      result += url;
      ++i;
    } else {
      result += command[i];
    }
  }
  return result;
}

bool SendMAPIMail(const std::string& recipients, const std::string& subject, const std::string& body,
                  const std::vector<std::string>& attachments, bool showDialog) {
  std::vector<TMapiAttachment> files;
  for (const std::string& entry : attachments) {
    if (files.size() >= EmberMapiAttachmentLimit) break;
    if (Trim(entry).empty() || !FileExistsText(entry)) continue;
    files.push_back({ExpandVariables(entry), AttachedFileName(entry)});
  }
  std::string failure;
  try {
    if (email::MapiSend(SplitAddressList(recipients), CollapseControlText(ExpandVariables(subject)),
                        ExpandVariables(body), files, showDialog, failure))
      return true;
  } catch (...) {
    failure = "Cannot send the MAPI message.";
  }
  RecordDeliveryWarning(eeEmailMAPIError, failure);
  return false;
}

bool SendMAPIMailText(const std::string& recipients, const std::string& subject, const std::string& body,
                      const std::string& attachmentsText, bool showDialog) {
  return SendMAPIMail(recipients, subject, body, SplitAddressList(attachmentsText), showDialog);
}

bool SendMailByShell(const std::string& recipients, const std::string& subject, const std::string& body,
                     const std::string& reportText) {
  std::string url = BuildMailtoURL(recipients, ExpandVariables(subject), ExpandVariables(body), reportText);
  std::string command = SubstituteMailtoCommand(email::MailtoCommand(), url);
  std::string failure;
  if (email::RunMailClient(command, failure)) return true;
  RecordDeliveryWarning(eeEmailShellError, failure);
  return false;
}
