// The platform half of MAPI and mailto sending (win32/; the native builds have neither).
#pragma once

#include <string>
#include <vector>

struct TMapiAttachment {
  std::string Path;  // fully expanded
  std::string Name;  // the name it travels under
};

namespace email {

// Sends one message through Simple MAPI; false with `failure` set to the message to record.
bool MapiSend(const std::vector<std::string>& recipients, const std::string& subject,
              const std::string& body, const std::vector<TMapiAttachment>& attachments, bool showDialog,
              std::string& failure);
// The registered mailto: command with its %VARIABLES% expanded; empty when none.
std::string MailtoCommand();
// Starts the command line and waits for it as the mail client; false with the system's text.
bool RunMailClient(const std::string& commandLine, std::string& failure);

}  // namespace email
