// Client sockets, the SMTP greeting and commands, and the mail-exchanger lookup against real
// servers on 127.0.0.1.
#include "exceptions/report/ESockets.h"

#include <gtest/gtest.h>

#include <random>

#include "DeliveryServers.h"
#include "Emulation.h"

namespace {

const char* const kLocal = "127.0.0.1";

std::string Be16(uint16_t value) {
  return std::string{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

std::string Labels(const std::string& dotted) {
  std::string out;
  size_t start = 0;
  while (start < dotted.size()) {
    size_t end = dotted.find('.', start);
    if (end == std::string::npos) end = dotted.size();
    out += static_cast<char>(end - start);
    out += dotted.substr(start, end - start);
    start = end + 1;
  }
  return out + std::string(1, '\0');
}

// A reply to `query` with the given answer records appended (each already encoded).
std::string Reply(const std::string& query, const std::vector<std::string>& answers) {
  std::string reply = query.substr(0, 2) + Be16(0x8180) + Be16(1) +
                      Be16(static_cast<uint16_t>(answers.size())) + Be16(0) + Be16(0);
  reply += query.substr(12);
  for (const std::string& answer : answers) reply += answer;
  return reply;
}

// An MX answer whose owner name points at the question (offset 12).
std::string MxAnswer(uint16_t preference, const std::string& exchangeEncoded) {
  std::string rdata = Be16(preference) + exchangeEncoded;
  return std::string("\xC0\x0C", 2) + Be16(15) + Be16(1) + std::string("\0\0\x0E\x10", 4) +
         Be16(static_cast<uint16_t>(rdata.size())) + rdata;
}

}  // namespace

// --- Replies and error texts

TEST(SocketReplies, CodeIsTheLeadingDigits) {
  EXPECT_EQ(TEmberClientSocket::ReplyCode("250-mail.local greets you\r\n250 OK\r\n"), 250);
  EXPECT_EQ(TEmberClientSocket::ReplyCode("354 go ahead"), 354);
  EXPECT_EQ(TEmberClientSocket::ReplyCode("hello"), -1);
  EXPECT_EQ(TEmberClientSocket::ReplyCode(""), -1);
}

TEST(SocketReplies, ErrorTextPutsLogsAroundTheMessage) {
  std::string c = "Connected to 1.2.3.4 port 25\r\n";
  std::string r = "554 no\r\n";
  // A message unrelated to the log: log first, then the replies, then the message.
  std::string text = TEmberClientSocket::ComposeErrorText("Socket timeout.", c, r);
  EXPECT_EQ(text.find(c), 0u);
  EXPECT_LT(text.find("Socket log:\r\n" + r), text.find("Error log:\r\nSocket timeout."));
  // The log as message (refused command): it is not repeated.
  text = TEmberClientSocket::ComposeErrorText(c + "RCPT TO:<x>\r\n", c, r);
  EXPECT_EQ(text.find(c), 0u);
  EXPECT_EQ(text.find(c, 1), std::string::npos);
  EXPECT_NE(text.find("Socket log:\r\n" + r), std::string::npos);
}

// --- Connections

TEST(ClientSocket, ConnectsSendsInPiecesAndLogs) {
  std::string received;
  testnet::Listener server([&](testnet::Connection& c) { received = c.ReadCount(3000); });
  TEmberClientSocket socket(kLocal, static_cast<int32_t>(MachineBound(2000)), true, server.Port());
  socket.Connect();
  EXPECT_TRUE(socket.Connected());
  EXPECT_EQ(socket.ConnectionLog(), "Connected to 127.0.0.1 port " + std::to_string(server.Port()) + "\r\n");
  std::vector<std::pair<int32_t, int32_t>> progress;
  socket.OnProgress = [&](int32_t position, int32_t total) { progress.emplace_back(position, total); };
  std::string text(3000, 'x');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  EXPECT_EQ(socket.SendText(text), 3000);
  ASSERT_EQ(progress.size(), 3u);
  EXPECT_EQ(progress[0], std::make_pair(1024, 3000));
  EXPECT_EQ(progress[1], std::make_pair(2048, 3000));
  EXPECT_EQ(progress[2], std::make_pair(3000, 3000));
  socket.Close();
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(socket.Handle(), -1);
  EXPECT_TRUE(socket.ConnectionLog().empty());
  // The server thread has the bytes once the listener is gone.
  server.Stop();
  EXPECT_EQ(received, text);
}

TEST(ClientSocket, RepliesSplitAcrossPacketsArriveAsOne) {
  testnet::Listener server([](testnet::Connection& c) {
    c.Write("250-first line\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    c.Write("250 second line\r\n");
    c.ReadLine();
  });
  TEmberClientSocket socket(kLocal, static_cast<int32_t>(MachineBound(3000)), true, server.Port());
  socket.Connect();
  std::string reply = socket.ReadReplyOrFail();
  EXPECT_EQ(reply, "250-first line\r\n250 second line\r\n");
  EXPECT_EQ(socket.ReplyLog(), reply);
  EXPECT_NE(socket.ConnectionLog().find(reply), std::string::npos);
  socket.SendText("bye\r\n");
  EXPECT_TRUE(socket.ReplyLog().empty());
}

TEST(ClientSocket, SilenceWithinTheTimeoutRaisesSocketTimeout) {
  testnet::Listener server([](testnet::Connection& c) { c.ReadLine(); });
  TEmberClientSocket socket(kLocal, 300, true, server.Port());
  socket.Connect();
  try {
    socket.ReadReplyOrFail();
    FAIL() << "no time-out";
  } catch (const EEmberSocketError& e) {
    EXPECT_NE(e.Message().find("Error log:\r\nSocket timeout."), std::string::npos) << e.Message();
    EXPECT_EQ(e.Message().find("Connected to 127.0.0.1"), 0u);
  }
  socket.SendText("x\r\n");
}

TEST(ClientSocket, RefusedConnectionRaisesAndLeavesNoHandle) {
  TEmberClientSocket socket(kLocal, 300, true, testnet::UnusedPort(true));
  try {
    socket.Connect();
    FAIL() << "connected to a closed port";
  } catch (const EEmberSocketError& e) {
    EXPECT_NE(e.Message().find("Connection error: \""), std::string::npos) << e.Message();
  }
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(socket.Handle(), -1);
}

TEST(ClientSocket, LogHandlerSeesACutTextAndSilentModeAborts) {
  testnet::Listener server([](testnet::Connection& c) { c.ReadLine(); });
  TEmberClientSocket socket(kLocal, 200, true, server.Port());
  socket.Connect();
  std::string logged;
  int32_t code = 0;
  socket.OnLog = [&](const std::string& text, int32_t c) {
    logged = text;
    code = c;
  };
  socket.SetSilent(true);
  EXPECT_THROW(socket.RaiseSocketError(std::string(3000, 'e')), EAbort);
  EXPECT_EQ(code, -1);
  EXPECT_EQ(logged.size(), 1027u);
  EXPECT_EQ(logged.substr(1024), "...");
  socket.SendText("x\r\n");
}

// --- SMTP commands

TEST(ClientSMTP, GreetingMustBe220) {
  testnet::Listener server([](testnet::Connection& c) {
    c.Write("554 go away\r\n");
    c.ReadLine();
  });
  TEmberClientSMTP smtp(kLocal, 2000, true, server.Port());
  try {
    smtp.Connect();
    FAIL() << "554 greeting accepted";
  } catch (const EEmberSocketError& e) {
    EXPECT_NE(e.Message().find("554 go away"), std::string::npos) << e.Message();
  }
}

TEST(ClientSMTP, CommandsAreCheckedAgainstTheirCodes) {
  std::vector<std::string> lines;
  testnet::Listener server([&](testnet::Connection& c) {
    c.Write("220 ready\r\n");
    lines.push_back(c.ReadLine());
    c.Write("250-local\r\n250 AUTH LOGIN\r\n");
    lines.push_back(c.ReadLine());
    c.Write("550 no such user\r\n");
    c.ReadLine();
  });
  TEmberClientSMTP smtp(kLocal, 3000, true, server.Port());
  smtp.Connect();
  EXPECT_FALSE(smtp.SendCommand("", {250}));
  EXPECT_TRUE(smtp.SendCommand("EHLO me", {250}));
  try {
    smtp.SendCommand("RCPT TO:<a@b>\r\n", {250, 251});
    FAIL() << "550 accepted";
  } catch (const EEmberSocketError& e) {
    // The message is the connection log: the commands and the replies in their order.
    const std::string& text = e.Message();
    size_t ehlo = text.find("EHLO me\r\n");
    size_t rcpt = text.find("RCPT TO:<a@b>\r\n");
    size_t refusal = text.find("550 no such user");
    ASSERT_NE(ehlo, std::string::npos) << text;
    ASSERT_NE(rcpt, std::string::npos) << text;
    ASSERT_NE(refusal, std::string::npos) << text;
    EXPECT_LT(ehlo, rcpt);
    EXPECT_LT(rcpt, refusal);
    EXPECT_EQ(text.find("RCPT TO:<a@b>\r\n\r\n"), std::string::npos) << "CRLF appended twice";
  }
  smtp.Close();
  server.Stop();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "EHLO me\r\n");
  EXPECT_EQ(lines[1], "RCPT TO:<a@b>\r\n");
}

// --- DNS

TEST(MxQuery, QuestionIsLengthPrefixedLabels) {
  std::string query = BuildMxQuery("mail.example.org");
  std::string expected = std::string("AA", 2) + Be16(0x0100) + Be16(1) + Be16(0) + Be16(0) + Be16(0) +
                         Labels("mail.example.org") + Be16(15) + Be16(1);
  EXPECT_EQ(query, expected);
  EXPECT_EQ(BuildMxQuery("example.org."), BuildMxQuery("example.org"));
  EXPECT_TRUE(BuildMxQuery("").empty());
  EXPECT_TRUE(BuildMxQuery(std::string(64, 'a') + ".org").empty());
}

TEST(MxReply, ExchangeWithPointerIntoTheQuestion) {
  std::string query = BuildMxQuery("example.org");
  // "mx1" followed by a pointer to "example.org" in the question (offset 12).
  std::string exchange = std::string("\x03mx1\xC0\x0C", 6);
  EXPECT_EQ(ParseMxReply(Reply(query, {MxAnswer(10, exchange)})), "mx1.example.org");
  EXPECT_EQ(ParseMxReply(Reply(query, {MxAnswer(10, Labels("smtp.other.net"))})), "smtp.other.net");
}

TEST(MxReply, OtherRecordsBeforeTheMxArePassedOver) {
  std::string query = BuildMxQuery("example.org");
  std::string cname = Labels("alias.example.org");
  std::string cnameRecord = std::string("\xC0\x0C", 2) + Be16(5) + Be16(1) + std::string("\0\0\0\x10", 4) +
                            Be16(static_cast<uint16_t>(cname.size())) + cname;
  EXPECT_EQ(ParseMxReply(Reply(query, {cnameRecord, MxAnswer(5, Labels("mx.example.org"))})),
            "mx.example.org");
}

TEST(MxReply, DamagedRepliesGiveNoHost) {
  std::string query = BuildMxQuery("example.org");
  std::string good = Reply(query, {MxAnswer(10, Labels("mx.example.org"))});
  EXPECT_EQ(ParseMxReply(Reply(query, {})), "");
  EXPECT_EQ(ParseMxReply(good.substr(0, 11)), "");
  for (size_t cut = 12; cut < good.size(); ++cut) EXPECT_EQ(ParseMxReply(good.substr(0, cut)), "") << cut;
  // A pointer that points at itself must not loop.
  std::string loop = Reply(query, {MxAnswer(10, std::string("\xC0\x00", 2))});
  size_t self = loop.size() - 2;
  loop[self] = static_cast<char>(0xC0 | (self >> 8));
  loop[self + 1] = static_cast<char>(self & 0xFF);
  EXPECT_EQ(ParseMxReply(loop), "");
}

TEST(MxReply, MutatedRepliesNeverReadOutside) {
  std::string query = BuildMxQuery("example.org");
  std::string good = Reply(query, {MxAnswer(10, std::string("\x03mx1\xC0\x0C", 6)),
                                   MxAnswer(20, Labels("mx2.example.org"))});
  std::mt19937 random(12345);
  for (int round = 0; round < 20000; ++round) {
    std::string data = good;
    int edits = 1 + static_cast<int>(random() % 6);
    for (int e = 0; e < edits; ++e) {
      switch (random() % 3) {
        case 0: data[random() % data.size()] = static_cast<char>(random()); break;
        case 1: data.resize(random() % (data.size() + 1)); break;
        default: data.insert(random() % (data.size() + 1), 1, static_cast<char>(0xC0)); break;
      }
      if (data.empty()) data = "A";
    }
    std::string host = ParseMxReply(data);
    EXPECT_LE(host.size(), 300u);
  }
}

TEST(MxLookup, AnswerFromALocalServer) {
  testnet::UdpResponder dns([](const std::string& request) {
    return Reply(request, {MxAnswer(10, std::string("\x04mail\xC0\x0C", 7))});
  });
  EXPECT_EQ(ResolveMxRecordWith("someone@example.org", 2000, {kLocal}, dns.Port()), "mail.example.org");
  std::vector<std::string> requests = dns.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], BuildMxQuery("example.org"));
}

TEST(MxLookup, ASilentServerIsAskedThreeTimesThenTheNext) {
  testnet::UdpResponder silent([](const std::string&) { return std::string(); });
  testnet::UdpResponder dns([](const std::string& request) {
    return Reply(request, {MxAnswer(1, Labels("mx.example.net"))});
  });
  // Both on 127.0.0.1 but different ports: the lookup takes one port, so two lookups here.
  EXPECT_THROW(ResolveMxRecordWith("a@example.net", 100, {kLocal}, silent.Port()), EEmberSocketError);
  EXPECT_EQ(silent.Requests().size(), 3u);
  EXPECT_EQ(ResolveMxRecordWith("example.net", 500, {kLocal, kLocal}, dns.Port()), "mx.example.net");
  EXPECT_EQ(dns.Requests().size(), 1u);
}

TEST(MxLookup, AServerThatCannotBeResolvedDoesNotStopTheNext) {
  testnet::UdpResponder dns([](const std::string& request) {
    return Reply(request, {MxAnswer(1, Labels("mx.example.net"))});
  });
  // "0.0.0.0" resolves without asking the network, to the address that counts as unresolved.
  EXPECT_EQ(ResolveMxRecordWith("b@example.net", 500, {"0.0.0.0", kLocal}, dns.Port()), "mx.example.net");
}

TEST(MxLookup, NoAnswerRaisesWithTheDomain) {
  testnet::UdpResponder dns([](const std::string& request) { return Reply(request, {}); });
  try {
    ResolveMxRecordWith("x@nothing.example", 200, {kLocal}, dns.Port());
    FAIL() << "resolved";
  } catch (const EEmberSocketError& e) {
    EXPECT_EQ(e.Message(), "Cannot resolve the \"nothing.example\" MX record.");
  }
}

TEST(DnsServers, NeverEmptyAndNoZeroAddresses) {
  std::vector<std::string> servers = GetDnsServers();
  ASSERT_FALSE(servers.empty());
  EXPECT_EQ(servers.back(), EmberFallbackDnsServer);
  for (const std::string& server : servers) EXPECT_NE(server, "0.0.0.0");
}
