// E-mail through the user's own mail client: Simple MAPI (the client's library loaded at run
// time), and when that fails the shell command registered for mailto: URLs.
#pragma once

#include <string>
#include <vector>

// Most attachments one MAPI message carries; further entries are left out.
constexpr size_t EmberMapiAttachmentLimit = 32;

// Every character below 128 that is not "-", a digit or an ASCII letter becomes "%" and two
// upper-case hex digits; others stay as they are.
std::string EncodeMailtoText(const std::string& text);
// "mailto:" + recipients + "?Subject=" + subject + "&Body=" + body, "\r\n\r\n\r\n" and the
// report text, all encoded. Blanks, double quotes and control characters of the recipients are
// encoded too, so that they cannot break the command line.
std::string BuildMailtoURL(const std::string& recipients, const std::string& subject,
                           const std::string& body, const std::string& reportText);
// Every "%1" of the registered command replaced by the URL (a command without "%1" stays as it is).
std::string SubstituteMailtoCommand(const std::string& command, const std::string& url);

// Sends through Simple MAPI (the default mail client's DLLPath, else "mapi32.dll"); %VARIABLES%
// of subject and body are expanded. `showDialog` lets the client show its own dialog. A user
// who cancels counts as sent. Failures become the last error (eeEmailMAPIError).
bool SendMAPIMail(const std::string& recipients, const std::string& subject, const std::string& body,
                  const std::vector<std::string>& attachments, bool showDialog);
// The same with the attachments as one text split at "," and ";".
bool SendMAPIMailText(const std::string& recipients, const std::string& subject, const std::string& body,
                      const std::string& attachmentsText, bool showDialog);
// Starts the mailto: handler with the message and waits until it ends; a handler that cannot be
// started becomes the last error (eeEmailShellError).
bool SendMailByShell(const std::string& recipients, const std::string& subject, const std::string& body,
                     const std::string& reportText);
