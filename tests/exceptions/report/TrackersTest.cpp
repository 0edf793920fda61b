// HTML form scanning (with a bounded mutation loop) and the tracker senders against a local
// tracker imitation under Wine.
#include "exceptions/report/EBugTrackers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>

#include "DeliveryHttpServer.h"
#include "DeliveryTrackerPages.h"
#include "TestFiles.h"
#include "exceptions/report/EDeliverySupport.h"
#include "exceptions/report/EHtmlForms.h"

namespace {

const char* const kPage =
    "<HTML><form><Input type=\"hidden\" NAME = \"m_id\" value='7'>"
    "<input name=\"token\" value=\"a&amp;b&#65;&quot;\"/>"
    "<input value=\"x > y\" name=\"tricky\">"
    "<textarea name=\"description\" rows=3>line &lt;1&gt;\r\nline 2</textarea>"
    "<select name=\"severity\"><option value=\"10\">minor<option value=\"50\" selected>major</option>"
    "<option>crash</option></select>"
    "<select name=\"empty\"><option value=\"1\">one</option></select></form></HTML>";

}  // namespace

TEST(HtmlForms, InputsTextAreasAndSelects) {
  std::string value;
  ASSERT_TRUE(FindInputValue(kPage, "m_id", value));
  EXPECT_EQ(value, "7");
  ASSERT_TRUE(FindInputValue(kPage, "token", value));
  EXPECT_EQ(value, "a&bA\"");
  ASSERT_TRUE(FindInputValue(kPage, "tricky", value));
  EXPECT_EQ(value, "x > y");
  EXPECT_FALSE(FindInputValue(kPage, "missing", value));
  ASSERT_TRUE(FindTextAreaText(kPage, "description", value));
  EXPECT_EQ(value, "line <1>\r\nline 2");
  std::vector<THtmlOption> options;
  ASSERT_TRUE(FindSelectOptions(kPage, "severity", options));
  ASSERT_EQ(options.size(), 3u);
  EXPECT_EQ(options[0].Value, "10");
  EXPECT_EQ(options[0].Text, "minor");
  EXPECT_FALSE(options[0].Selected);
  EXPECT_TRUE(options[1].Selected);
  EXPECT_EQ(options[2].Value, "crash");
  EXPECT_EQ(TextAfter("a href=\"view.php?id=42\">x view.php?id=43&", "view.php?id=", 1), "42");
  EXPECT_EQ(TextAfter("a href=\"view.php?id=42\">x view.php?id=43&", "view.php?id=", 2), "43");
  EXPECT_EQ(TextAfter("nothing", "view.php?id=", 1), "");
}

TEST(HtmlForms, SummaryCounter) {
  std::string raised;
  EXPECT_TRUE(RaiseSummaryCounter("[v1.0 - 1]: EAccessViolation (abc)", raised));
  EXPECT_EQ(raised, "[v1.0 - 2]: EAccessViolation (abc)");
  EXPECT_TRUE(RaiseSummaryCounter("[v1.0 - 9998]: E (x)", raised));
  EXPECT_EQ(raised, "[v1.0 - 9999]: E (x)");
  EXPECT_FALSE(RaiseSummaryCounter("[v1.0 - 9999]: E (x)", raised));
  EXPECT_TRUE(RaiseSummaryCounter("free text", raised));
  EXPECT_EQ(raised, "free text");
  EXPECT_EQ(SummaryText("1.0", "EZeroDivide", "12AB"), "[v1.0 - 1]: EZeroDivide (12AB)");
  EXPECT_EQ(JoinTexts("a", "b"), "a\r\n\r\n---\r\n\r\nb");
  EXPECT_EQ(JoinTexts("a", ""), "a");
}

TEST(HtmlForms, MutatedPagesNeverReadOutside) {
  std::mt19937 random(777);
  std::string alphabet = "<>\"'= /&#;ainputselectoption";
  for (int round = 0; round < 5000; ++round) {
    std::string page = kPage;
    for (int e = 0; e < 8; ++e) {
      size_t at = random() % (page.size() + 1);
      if (random() % 2)
        page.insert(at, 1, alphabet[random() % alphabet.size()]);
      else if (!page.empty())
        page.erase(random() % page.size(), 1 + random() % 5);
    }
    std::string value;
    std::vector<THtmlOption> options;
    FindInputValue(page, "token", value);
    FindTextAreaText(page, "description", value);
    FindSelectOptions(page, "severity", options);
    EXPECT_LE(options.size(), 10u);
    DecodeHtmlEntities(page);
    TextAfter(page, "&", 3);
  }
}

#ifdef _WIN32

namespace {

// A tracker imitation: pages by document name; records every request.
std::string Doc(const std::string& target) {
  std::string path = target.substr(0, target.find('?'));
  return path.substr(path.rfind('/') + 1);
}

struct MantisState {
  std::string status = "50";
  std::string summary = "[v1.0 - 4]: EBoom (ID1)";
  bool earlier = false;
};

std::string MantisPage(const testnet::HttpRequest& r, const MantisState& s) {
  std::string d = Doc(r.target);
  auto page = [](const std::string& body) { return testnet::HttpAnswer("200 OK", body); };
  if (d == "login.php")
    return testnet::HttpAnswer("302 Found", "", "Location: /mantis/login_select_proj_page.php\r\n");
  if (d == "login_select_proj_page.php")
    return page("<select name=\"project_id\"><option value=\"3\">Tarvik</option></select>");
  if (d == "set_project.php") return testnet::HttpAnswer("302 Found", "", "Location: my_view_page.php\r\n");
  if (d == "my_view_page.php")
    return page("<select name=\"project_id\"><option value=\"3\" selected>Tarvik</option></select>");
  if (d == "view_all_set.php") return testnet::HttpAnswer("302 Found", "", "Location: view_all_bug_page.php\r\n");
  if (d == "view_all_bug_page.php")
    return page(std::string("<input name=\"reset_query_button\">") +
                (s.earlier ? "<a href=\"bug_update_page.php?bug_id=17\">" : ""));
  if (d == "bug_report_advanced_page.php")
    return page("<input type=\"hidden\" name=\"m_id\" value=\"0\"><input name=\"project_id\" value=\"3\">"
                "<select name=\"handler_id\"><option value=\"0\" selected></option><option value=\"5\">dev</option></select>"
                "<select name=\"category\"><option value=\"1\">General</option></select>"
                "<select name=\"severity\"><option value=\"70\" selected>crash</option></select>"
                "<input name=\"bug_report_token\" value=\"tok\"><input name=\"file\" type=\"file\">");
  if (d == "bug_report.php") return page("<a href=\"view.php?id=18\">View</a>");
  if (d == "bug_update_page.php")
    return page("<select name=\"severity\"><option value=\"70\" selected>crash</option></select>"
                "<select name=\"status\"><option value=\"" + s.status + "\" selected>x</option></select>"
                "<input name=\"summary\" value=\"" + s.summary + "\"><input name=\"bug_update_token\" value=\"u\">");
  if (d == "bug_update.php") return page("<a href=\"view.php?id=17\">");
  return testnet::HttpAnswer("404 Not Found", "");
}

TTrackerSendInput MantisInput(uint16_t port, const std::string& zip) {
  TTrackerSendInput in;
  in.Version = "1.0";
  in.ClassName = "EBoom";
  in.Identifier = "ID1";
  in.ExceptionMessage = "It broke";
  in.Project = "Tarvik";
  in.Category = "General";
  in.AssignedTo = "dev";
  in.User = "ann";
  in.Password = "pw";
  in.Attachment = zip;
  in.TrackerURL = "http://127.0.0.1:" + std::to_string(port) + "/mantis/";
  in.Fields = {"custom_field=42", "FogBugzTrialID=", "EL_OSType=Windows", "EL_OSBuild=7601", "EL_ReproduceText=Click"};
  return in;
}

std::map<std::string, std::string> FormOf(const testnet::HttpRequest& r) {
  std::map<std::string, std::string> fields;
  std::string body = r.body;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    std::string pair = body.substr(start, end - start);
    size_t eq = pair.find('=');
    fields[pair.substr(0, eq)] = eq == std::string::npos ? "" : pair.substr(eq + 1);
    start = end + 1;
  }
  return fields;
}

}  // namespace

TEST(MantisSender, NewReportWithTheZipAndTheFormsValues) {
  TempDir dir;
  std::ofstream(dir.File("BugReport.zip"), std::ios::binary) << "ZIPDATA";
  MantisState state;
  testnet::HttpServer server([&](const testnet::HttpRequest& r) { return MantisPage(r, state); });
  THTTPMantisSendReport sender(MantisInput(server.Port(), dir.File("BugReport.zip")));
  EXPECT_EQ(sender.Send(), trSent);
  server.Stop();
  std::vector<testnet::HttpRequest> requests = server.Requests();
  const testnet::HttpRequest* report = nullptr;
  for (const auto& r : requests)
    if (Doc(r.target) == "bug_report.php") report = &r;
  ASSERT_NE(report, nullptr);
  const std::string& b = report->body;
  auto has = [&b](const std::string& name, const std::string& value) {
    return b.find("name=\"" + name + "\";\r\n\r\n" + value + "\r\n") != std::string::npos;
  };
  EXPECT_TRUE(has("handler_id", "5"));
  EXPECT_TRUE(has("category", "1"));
  EXPECT_TRUE(has("severity", "70"));
  EXPECT_TRUE(has("summary", "[v1.0 - 1]: EBoom (ID1)"));
  EXPECT_TRUE(has("os", "Windows"));
  EXPECT_TRUE(has("steps_to_reproduce", "Click"));
  EXPECT_TRUE(has("bug_report_token", "tok"));
  EXPECT_TRUE(has("custom_field", "42"));
  EXPECT_FALSE(has("EL_OSType", "Windows"));
  EXPECT_NE(b.find("name=\"file\"; filename=\"BugReport.zip\";\r\nContent-Type: application/octet-stream\r\n\r\nZIPDATA"),
            std::string::npos);
  // The login went as a url-encoded post.
  EXPECT_EQ(FormOf(requests[0])["username"], "ann");
}

TEST(MantisSender, EarlierReportRaisesTheCounterOrStops) {
  MantisState state;
  state.earlier = true;
  testnet::HttpServer server([&](const testnet::HttpRequest& r) { return MantisPage(r, state); });
  EXPECT_EQ(THTTPMantisSendReport(MantisInput(server.Port(), "")).Send(), trSent);
  state.status = "80";
  EXPECT_EQ(THTTPMantisSendReport(MantisInput(server.Port(), "")).Send(), trClosed);
  state.status = "50";
  state.summary = "[v1.0 - 9999]: EBoom (ID1)";
  EXPECT_EQ(THTTPMantisSendReport(MantisInput(server.Port(), "")).Send(), trSent);
  server.Stop();
  std::vector<testnet::HttpRequest> updates;
  for (const auto& r : server.Requests())
    if (Doc(r.target) == "bug_update.php") updates.push_back(r);
  // Only the first run updated the report, with the counter raised.
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(FormOf(updates[0])["summary"], URLEncode("[v1.0 - 5]: EBoom (ID1)"));
  EXPECT_EQ(FormOf(updates[0])["bug_id"], "17");
}

TEST(BugzillaSender, NewReportWithTheSelectedVersionAndTheZip) {
  TempDir dir;
  std::ofstream(dir.File("BugReport.zip"), std::ios::binary) << "ZIPDATA";
  testnet::BugzillaState state;
  testnet::HttpServer server([&](const testnet::HttpRequest& r) { return testnet::BugzillaPage(r, state); });
  TTrackerSendInput in = MantisInput(server.Port(), dir.File("BugReport.zip"));
  in.TrackerURL = "http://127.0.0.1:" + std::to_string(server.Port()) + "/bz/";
  in.AssignedTo.clear();
  EXPECT_EQ(THTTPBugzillaSendReport(in).Send(), trSent);
  server.Stop();
  std::map<std::string, testnet::HttpRequest> byDocument;
  for (const auto& r : server.Requests()) byDocument[r.method + " " + Doc(r.target)] = r;
  ASSERT_EQ(byDocument.count("POST post_bug.cgi"), 1u);
  std::map<std::string, std::string> post = FormOf(byDocument["POST post_bug.cgi"]);
  EXPECT_EQ(post["product"], "Tarvik");
  EXPECT_EQ(post["version"], URLEncode("0.9"));  // the product has no version 1.0: the selected one
  EXPECT_EQ(post["component"], "Engine");
  EXPECT_EQ(post["assigned_to"], "ann");
  EXPECT_EQ(post["short_desc"], URLEncode("[v1.0 - 1]: EBoom (ID1)"));
  EXPECT_EQ(post["comment"], URLEncode("It broke\r\n\r\n---\r\n\r\nClick"));
  EXPECT_EQ(post["custom_field"], "42");
  EXPECT_EQ(post.count("EL_OSType"), 0u);
  // The login went first, with the project; the search named the identifier.
  EXPECT_EQ(FormOf(byDocument["POST enter_bug.cgi"])["Bugzilla_login"], "ann");
  EXPECT_NE(byDocument["GET buglist.cgi"].target.find("content=" + URLEncode(" (ID1)")), std::string::npos);
  const std::string& attachment = byDocument["POST attachment.cgi"].body;
  EXPECT_NE(attachment.find("name=\"bugid\";\r\n\r\n18\r\n"), std::string::npos);
  EXPECT_NE(attachment.find("name=\"data\"; filename=\"BugReport.zip\";\r\nContent-Type: application/octet-stream\r\n\r\nZIPDATA"),
            std::string::npos);
}

TEST(BugzillaSender, EarlierReportRaisesTheCounterOrIsClosed) {
  testnet::BugzillaState state;
  state.earlier = true;
  testnet::HttpServer server([&](const testnet::HttpRequest& r) { return testnet::BugzillaPage(r, state); });
  TTrackerSendInput in = MantisInput(server.Port(), "");
  in.TrackerURL = "http://127.0.0.1:" + std::to_string(server.Port()) + "/bz/";
  EXPECT_EQ(THTTPBugzillaSendReport(in).Send(), trSent);
  state.reopen = true;
  EXPECT_EQ(THTTPBugzillaSendReport(in).Send(), trClosed);
  server.Stop();
  std::vector<testnet::HttpRequest> updates;
  for (const auto& r : server.Requests())
    if (Doc(r.target) == "process_bug.cgi") updates.push_back(r);
  ASSERT_EQ(updates.size(), 1u);
  std::map<std::string, std::string> form = FormOf(updates[0]);
  EXPECT_EQ(form["short_desc"], URLEncode("[v1.0 - 5]: EBoom (ID1)"));
  EXPECT_EQ(form.count("id"), 0u);  // the page has no "id" input: none is invented
  EXPECT_EQ(form["token"], "tok17");
  EXPECT_EQ(form["knob"], "none");
}

TEST(TrackerPipeline, ARejectedLoginIsRecorded) {
  testnet::HttpServer server([](const testnet::HttpRequest&) { return testnet::HttpAnswer("200 OK", "denied"); });
  TEmberTrackerSettings settings;
  settings.Web.URL = "http://127.0.0.1/mantis";
  settings.Web.Port = server.Port();
  int32_t result = -1;
  ClearDeliveryLastError();
  EXPECT_FALSE(SendTrackerReport(6, settings, result));
  EXPECT_EQ(result, trLoginFailed);
  EXPECT_EQ(DeliveryLastErrorCode(), eeWebTrakerError);
  EXPECT_EQ(DeliveryLastErrorMessage().find("Invalid login request.\r\n\r\nError Code: 0"), 0u)
      << DeliveryLastErrorMessage();
}

TEST(FogBugzSender, NoActionTokenPostsToThePlainAddress) {
  testnet::HttpServer server([](const testnet::HttpRequest& r) {
    std::string q = r.target;
    if (r.method == "POST" && q.find("preSubmitBug") != std::string::npos)
      return testnet::HttpAnswer("200 OK", "<a href=\"default.asp?command=resolve\">");
    if (r.method == "POST") return testnet::HttpAnswer("200 OK", "<a href=\"default.asp?pre=preLogOff\">");
    if (q.find("preSearch") != std::string::npos) return testnet::HttpAnswer("200 OK", "searchFor=x");
    return testnet::HttpAnswer("200 OK", "<select name=\"ixProject\"><option value=\"9\">Tarvik</option></select>");
  });
  TTrackerSendInput in = MantisInput(server.Port(), "");
  in.TrackerURL = "http://127.0.0.1:" + std::to_string(server.Port()) + "/fb/";
  EXPECT_EQ(THTTPFogBugzSendReport(in).Send(), trSent);
  server.Stop();
  std::vector<testnet::HttpRequest> requests = server.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().target, "/fb/default.asp?pre=preSubmitBug");
  EXPECT_NE(requests.back().body.find("name=\"ixProject\";\r\n\r\n9\r\n"), std::string::npos);
  EXPECT_NE(requests.back().body.find("name=\"nFileCount\";\r\n\r\n0\r\n"), std::string::npos);
}

#endif
