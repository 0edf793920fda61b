// The SMTP sender against an SMTP server on 127.0.0.1: dialogue, per-recipient messages, MIME
// parts read back, transparency, authentication fallbacks, failures and progress.
#include "exceptions/report/ESmtp.h"

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>

#include "DeliverySmtpServer.h"
#include "TestFiles.h"
#include "exceptions/EmberCodecs.h"
#include "exceptions/report/EDeliverySupport.h"
#include "exceptions/report/EObjectHelpers.h"
#include "exceptions/report/ESockets.h"

namespace {

std::string Header(const std::string& headers, const std::string& name) {
  size_t at = headers.find("\r\n" + name + ": ");
  if (headers.compare(0, name.size() + 2, name + ": ") == 0) at = 0;
  else if (at != std::string::npos) at += 2;
  else return "<missing>";
  size_t start = at + name.size() + 2;
  return headers.substr(start, headers.find("\r\n", start) - start);
}

std::string Base64Lines(const std::string& data) {
  std::string encoded = EncodeBase64String(data), out;
  for (size_t i = 0; i < encoded.size(); i += 80) {
    out += encoded.substr(i, 80);
    if (i + 80 <= encoded.size()) out += "\r\n";
  }
  return out;
}

class RecordingView : public TEmberSendProgressView {
 public:
  void ShowMessage(const std::string& text) override { texts.push_back(text); }
  void SetPosition(int32_t position) override { positions.push_back(position); }
  void CloseView() override { ++closed; }
  std::vector<std::string> texts;
  std::vector<int32_t> positions;
  int closed = 0;
};

void WriteFile(const std::string& name, const std::string& data) {
  std::ofstream(name, std::ios::binary) << data;
}

}  // namespace

// --- Message pieces

TEST(SmtpMessage, FromValueAndEnvelopeSender) {
  EXPECT_EQ(ComposeFromValue("bugs@example.org", "Ann Tester"), "\"Ann Tester\" <bugs@example.org>");
  EXPECT_EQ(ComposeFromValue("\"Support\" <help@example.org>", "x"), "\"Support\" <help@example.org>");
  EXPECT_EQ(EnvelopeSender("\"Support\" <help@example.org>"), "help@example.org");
  EXPECT_EQ(EnvelopeSender("Support <help@example.org>"), "help@example.org");
  EXPECT_EQ(EnvelopeSender("plain@example.org"), "plain@example.org");
  EXPECT_EQ(ComposeFromValue("a@b\r\nBcc: x@y", "n"), "\"n\" <a@b Bcc: x@y>");
}

TEST(SmtpMessage, FileLinesOfEightyCharacters) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 300; ++i) data += static_cast<char>(i * 7);
  WriteFile(dir.File("a.bin"), data);
  std::string lines = EncodeFileBase64Lines(dir.File("a.bin"));
  EXPECT_EQ(lines, Base64Lines(data));
  // 300 bytes are 400 characters: five full lines, each with its break.
  EXPECT_EQ(lines.size(), 400u + 5 * 2);
  data.resize(301);
  WriteFile(dir.File("b.bin"), data);
  lines = EncodeFileBase64Lines(dir.File("b.bin"));
  // 404 characters: the short last line has no break.
  EXPECT_EQ(lines.size(), 404u + 5 * 2);
  EXPECT_NE(lines.substr(lines.size() - 2), "\r\n");
  EXPECT_EQ(EncodeFileBase64Lines(dir.File("missing.bin")), "");
  EXPECT_EQ(EncodeFileBase64Lines(""), "");
}

TEST(SmtpMessage, AttachmentTypesByExtension) {
  TempDir dir;
  WriteFile(dir.File("Screenshot.png"), "png-bytes");
  WriteFile(dir.File("BugReport.zip"), "zip-bytes");
  std::string png = BuildAttachmentPart(dir.File("Screenshot.png"));
  std::string zip = BuildAttachmentPart(dir.File("BugReport.zip"));
  EXPECT_NE(png.find("Content-Type: image/png;\r\n        name=\"Screenshot.png\"\r\n"), std::string::npos) << png;
  EXPECT_NE(zip.find("Content-Type: application/octet-stream;\r\n        name=\"BugReport.zip\"\r\n"), std::string::npos);
  EXPECT_NE(zip.find("filename=\"BugReport.zip\"\r\n\r\n" + EncodeBase64String("zip-bytes") + "\r\n"),
            std::string::npos);
  EXPECT_EQ(BuildAttachmentPart(dir.File("none.zip")), "");
  EXPECT_EQ(BuildAttachmentPart("   "), "");
  EXPECT_EQ(BuildAttachmentParts({dir.File("none.zip"), dir.File("Screenshot.png")}), png);
}

// --- Delivery through a server

TEST(SmtpSend, TwoRecipientsTwoConnectionsWithAttachmentsAndTransparency) {
  TempDir dir;
  std::string zipData(5000, '\0');
  for (size_t i = 0; i < zipData.size(); ++i) zipData[i] = static_cast<char>(i * 31 + 7);
  WriteFile(dir.File("BugReport.zip"), zipData);
  WriteFile(dir.File("Screenshot.png"), "\x89PNG\r\n");
  testnet::SmtpServer server;
  RecordingView view;
  SetDeliveryProgressView(&view);
  std::string body = "Report follows\r\n.\r\n..two dots\r\nend";
  std::string text;
  ClearDeliveryLastError();
  EXPECT_TRUE(SendSMTPMail(false, "\"Support\" <help@example.org>", "127.0.0.1", server.Port(), "", "",
                           "one@example.org; two@example.net", "Bug\treport", body, text, 0,
                           {dir.File("BugReport.zip"), dir.File("Screenshot.png")}));
  SetDeliveryProgressView(nullptr);
  EXPECT_EQ(DeliveryLastErrorCode(), eeNone);
  std::vector<testnet::SmtpSession> sessions = server.Sessions();
  ASSERT_EQ(sessions.size(), 2u);
  const char* recipients[] = {"one@example.org", "two@example.net"};
  for (size_t i = 0; i < 2; ++i) {
    const testnet::SmtpSession& s = sessions[i];
    ASSERT_EQ(s.commands.size(), 5u);
    EXPECT_EQ(s.commands[0].substr(0, 5), "HELO ");
    EXPECT_EQ(s.commands[1], "RSET");
    EXPECT_EQ(s.commands[2], "MAIL FROM:<help@example.org>");
    EXPECT_EQ(s.commands[3], std::string("RCPT TO:<") + recipients[i] + ">");
    EXPECT_EQ(s.commands[4], "DATA");
    testnet::Received mail = testnet::Unstuff(s.data);
    EXPECT_EQ(Header(mail.headers, "To"), std::string("<") + recipients[i] + ">");
    EXPECT_EQ(Header(mail.headers, "From"), "\"Support\" <help@example.org>");
    EXPECT_EQ(Header(mail.headers, "Subject"), "Bug report");
    EXPECT_EQ(Header(mail.headers, "MIME-Version"), "1.0");
    EXPECT_EQ(Header(mail.headers, "Content-Type"),
              std::string("multipart/mixed; boundary=\"") + EmberMimeBoundary + "\";");
    EXPECT_EQ(mail.headers.find("To: ", mail.headers.find("To: ") + 1), std::string::npos);
    // The "." line went over the wire as "..", and came back whole.
    EXPECT_NE(s.data.find("\r\n..\r\n...two dots\r\n"), std::string::npos);
    std::string boundary = std::string("--") + EmberMimeBoundary;
    std::string textPart = boundary + "\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" +
                           body + "\r\n";
    EXPECT_EQ(mail.body.find("This is a multi-part message in MIME format\r\n\r\n" + textPart), 0u);
    EXPECT_NE(mail.body.find("name=\"BugReport.zip\"\r\nContent-Transfer-Encoding: base64\r\n"
                             "Content-Disposition: attachment;\r\n        filename=\"BugReport.zip\"\r\n\r\n" +
                             Base64Lines(zipData) + "\r\n"),
              std::string::npos);
    EXPECT_NE(mail.body.find("Content-Type: image/png;"), std::string::npos);
    EXPECT_EQ(mail.body.substr(mail.body.size() - boundary.size() - 4), boundary + "--\r\n");
  }
  // Progress names the message and the recipient count, then the bar runs to 100 per message.
  ASSERT_FALSE(view.texts.empty());
  EXPECT_EQ(view.texts.front(), "Message 1/2: Connecting with server...");
  EXPECT_NE(std::find(view.texts.begin(), view.texts.end(), "Message 2/2: Sending message..."), view.texts.end());
  EXPECT_EQ(std::count(view.positions.begin(), view.positions.end(), 0), 2);
  EXPECT_EQ(view.closed, 1);
}

TEST(SmtpSend, AuthenticatedDialogueAndARefusedAuthLogin) {
  for (int authCode : {334, 502}) {
    testnet::SmtpServer server;
    server.authCode = authCode;
    std::string text;
    EXPECT_TRUE(SendSMTPMail(false, "me@example.org", "127.0.0.1", server.Port(), "user", "secret",
                             "you@example.org", "s", "b", text, 0, {}));
    std::vector<testnet::SmtpSession> sessions = server.Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    const std::vector<std::string>& c = sessions[0].commands;
    ASSERT_EQ(c.size(), 8u) << authCode;
    EXPECT_EQ(c[0].substr(0, 5), "EHLO ");
    EXPECT_EQ(c[2], "AUTH LOGIN");
    EXPECT_EQ(c[3], EncodeBase64String("user"));
    EXPECT_EQ(c[4], EncodeBase64String("secret"));
    EXPECT_EQ(c[5], "MAIL FROM:<me@example.org>");
    EXPECT_FALSE(sessions[0].data.empty());
  }
}

TEST(SmtpSend, ARefusedRecipientFailsWithTheServersReply) {
  testnet::SmtpServer server;
  server.rcptCode = 550;
  std::string text;
  ClearDeliveryLastError();
  EXPECT_FALSE(SendSMTPMail(false, "me@example.org", "127.0.0.1", server.Port(), "", "",
                            "nobody@example.org", "s", "b", text, 0, {}));
  EXPECT_EQ(DeliveryLastErrorCode(), eeEmailSMTPError);
  std::string message = DeliveryLastErrorMessage();
  EXPECT_EQ(message.find("[SMTP] "), 0u) << message;
  EXPECT_NE(message.find("RCPT TO:<nobody@example.org>"), std::string::npos);
  EXPECT_NE(message.find("550 recipient"), std::string::npos);
  std::vector<testnet::SmtpSession> sessions = server.Sessions();
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_TRUE(sessions[0].data.empty());
}

TEST(SmtpSend, NoServerIsAFailureNotACrash) {
  std::string text;
  EXPECT_FALSE(SendSMTPMail(false, "me@example.org", "127.0.0.1", testnet::UnusedPort(true), "", "",
                            "a@example.org", "s", "b", text, 0, {}));
  EXPECT_EQ(DeliveryLastErrorCode(), eeEmailSMTPError);
  EXPECT_NE(DeliveryLastErrorMessage().find("Connection error"), std::string::npos);
}

namespace {
std::string gAskedFor;
std::string LocalMx(const std::string& address, int32_t) {
  gAskedFor = address;
  if (address.find("unknown") != std::string::npos)
    throw EEmberSocketError("Cannot resolve the \"unknown.example\" MX record.");
  return "127.0.0.1";
}
}  // namespace

TEST(SmtpSend, ServerModeAsksForTheExchangerAndDropsCredentials) {
  testnet::SmtpServer server;
  SetMxResolver(LocalMx);
  SetSmtpServerModePort(server.Port());
  std::string text;
  // The configured host and port are not used in server mode.
  EXPECT_TRUE(SendSMTPMail(true, "me@example.org", "192.0.2.1", 1, "user", "pw", "x@example.com", "s", "b",
                           text, 0, {}));
  EXPECT_EQ(gAskedFor, "x@example.com");
  ClearDeliveryLastError();
  EXPECT_FALSE(SendSMTPMail(true, "me@example.org", "", 0, "", "", "y@unknown.example", "s", "b", text, 0, {}));
  EXPECT_EQ(DeliveryLastErrorMessage(), "[SMTP] Cannot resolve the \"unknown.example\" MX record.");
  SetMxResolver(nullptr);
  SetSmtpServerModePort(25);
  std::vector<testnet::SmtpSession> sessions = server.Sessions();
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].commands[0].substr(0, 5), "HELO ");
}

TEST(SmtpMessage, DateHeaderFormat) {
  // 2024-03-03 09:05:07 was a Sunday; 45354 is that day as days since 1899-12-30.
  double when = 45354.0 + (9 * 3600 + 5 * 60 + 7) / 86400.0;
  EXPECT_EQ(FormatRFC822Date(when, 60), "Sun, 3 Mar 2024 09:05:07 +0100");
  EXPECT_EQ(FormatRFC822Date(when, -300), "Sun, 3 Mar 2024 09:05:07 -0500");
  EXPECT_EQ(FormatRFC822Date(when + 6, 0), "Sat, 9 Mar 2024 09:05:07 +0000");
}
