// URL helpers and multipart bodies everywhere; requests, redirects and the HTTP and FTP uploads
// through WinInet against local servers under Wine.
#include "exceptions/report/EHttp.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "DeliveryHttpServer.h"
#include "TestFiles.h"
#include "exceptions/EmberCodecs.h"
#include "exceptions/report/EDeliverySupport.h"

namespace {

void WriteFile(const std::string& name, const std::string& data) {
  std::ofstream(name, std::ios::binary) << data;
}

struct Parts {
  std::string scheme, user, path, host, password;
  uint16_t port = 0;
};
Parts Split(const std::string& url) {
  Parts p;
  SplitURL(url, p.scheme, p.user, p.port, p.path, p.host, p.password);
  return p;
}

std::string Local(uint16_t port, const std::string& path = "") {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

}  // namespace

// --- URLs

TEST(WebUrls, SplitIntoTheirParts) {
  Parts p = Split("https://ann:pw@bugs.example.org/mantis/");
  EXPECT_EQ(p.scheme, "https");
  EXPECT_EQ(p.user, "ann");
  EXPECT_EQ(p.password, "pw");
  EXPECT_EQ(p.host, "bugs.example.org");
  EXPECT_EQ(p.path, "/mantis");
  EXPECT_EQ(p.port, 0);
  // The port as AddURLCredentials writes it, at the end...
  p = Split(AddURLCredentials("http://host/x", "u", "p", 8081));
  EXPECT_EQ(p.host, "host");
  EXPECT_EQ(p.port, 8081);
  EXPECT_EQ(p.path, "/x");
  EXPECT_EQ(p.user, "u");
  EXPECT_EQ(p.password, "p");
  // ...and after the host.
  p = Split("http://host:8081/x");
  EXPECT_EQ(p.host, "host");
  EXPECT_EQ(p.port, 8081);
  EXPECT_EQ(p.path, "/x");
  p = Split("  ftp.example.org/upload/reports  ");
  EXPECT_EQ(p.scheme, "");
  EXPECT_EQ(p.host, "ftp.example.org");
  EXPECT_EQ(p.path, "/upload/reports");
  EXPECT_FALSE(SplitURL("", p.scheme, p.user, p.port, p.path, p.host, p.password));
}

TEST(WebUrls, CredentialsAndDocuments) {
  EXPECT_EQ(AddURLCredentials("http://h/p", "", "", 0), "http://h/p");
  EXPECT_EQ(AddURLCredentials("h/p", "a", "b", 21), "a:b@h/p:21");
  std::string path, document, query;
  SplitDocumentURL("/bugs/view_all_set.php?f=3", path, document, query);
  EXPECT_EQ(path, "/bugs/");
  EXPECT_EQ(document, "view_all_set.php");
  EXPECT_EQ(query, "f=3");
  SplitDocumentURL("/", path, document, query);
  EXPECT_EQ(path, "/");
  EXPECT_EQ(document, "");
  EXPECT_EQ(URLEncode("a b&c=d/\xE9"), "a%20b%26c%3Dd%2F%E9");
}

TEST(WebBodies, MultipartFieldsAndFiles) {
  TempDir dir;
  WriteFile(dir.File("BugReport.zip"), std::string("PK\0\x03zip", 7));
  std::string b = "---------------------------0001000200AB";
  std::string body = BuildMultipartBody(b, {{"summary", "Crash"}}, {{"file", dir.File("BugReport.zip")},
                                                                    {"other", dir.File("missing")}});
  EXPECT_EQ(body, "--" + b + "\r\nContent-Disposition: form-data; name=\"summary\";\r\n\r\nCrash\r\n" +
                      "--" + b + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"BugReport.zip\";\r\n" +
                      "Content-Type: application/octet-stream\r\n\r\n" + std::string("PK\0\x03zip", 7) + "\r\n" +
                      "--" + b + "\r\nContent-Disposition: form-data; name=\"other\"; filename=\"\";\r\n" +
                      "Content-Type: application/octet-stream\r\n\r\n\r\n" + "--" + b + "--\r\n");
  std::string upload = BuildUploadBody(b, {"app=Tarvik", "note=a=b"}, {dir.File("missing"), dir.File("BugReport.zip")});
  EXPECT_NE(upload.find("name=\"note\";\r\n\r\na=b\r\n"), std::string::npos);
  EXPECT_NE(upload.find("name=\"el_upload_file_1\"; filename=\"BugReport.zip\""), std::string::npos);
  EXPECT_EQ(upload.find("el_upload_file_0"), std::string::npos);
  std::string boundary = MakeMultipartBoundary();
  ASSERT_EQ(boundary.size(), 39u);
  EXPECT_EQ(boundary.find_first_not_of("0123456789ABCDEF", 27), std::string::npos);
}

TEST(WebResponses, AssignCopiesAndRefusesNull) {
  THTTPResponse a, b;
  a.StatusCode = 404;
  a.Body = "gone";
  a.Document = "x.php";
  b.Assign(&a);
  EXPECT_EQ(b.StatusCode, 404);
  EXPECT_EQ(b.Body, "gone");
  EXPECT_EQ(b.Document, "x.php");
  EXPECT_THROW(b.Assign(nullptr), EConvertError);
  b.Clear();
  EXPECT_EQ(b.StatusCode, 0);
  EXPECT_TRUE(b.Body.empty());
}

// --- Error texts

TEST(WebErrors, EveryListedWinInetCodeHasItsEnglishText) {
  const std::vector<std::pair<uint32_t, uint32_t>> listed = {{12001, 12033}, {12036, 12045}, {12052, 12052},
                                                             {12055, 12055}, {12110, 12112}, {12130, 12138},
                                                             {12150, 12156}, {12160, 12171}};
  int32_t described = 0;
  for (uint32_t code = 11990; code <= 12200; ++code) {
    bool inList = false;
    for (const auto& range : listed) inList = inList || (code >= range.first && code <= range.second);
    EXPECT_EQ(!WinInetErrorDescription(code).empty(), inList) << code;
    described += inList ? 1 : 0;
  }
  EXPECT_EQ(described, 76);
  EXPECT_EQ(WinInetErrorDescription(12001), "No more handles could be generated at this time.");
  EXPECT_EQ(WinInetErrorDescription(12171), "The function failed due to a security check.");
  // A thread without a server response: the table's text, else the system's.
  std::string listedText, otherText;
  std::thread([&] {
    listedText = GetWinInetErrorText(12029);
    otherText = GetWinInetErrorText(5);
  }).join();
  EXPECT_EQ(listedText, "The attempt to connect to the server failed.");
  EXPECT_FALSE(otherText.empty());
  EXPECT_TRUE(WinInetErrorDescription(5).empty());
}

TEST(WebUploads, EmptyAttachmentListSendsNothingAndSucceeds) {
  TEmberWebSendSettings settings;
  settings.URL = Local(testnet::UnusedPort(true), "/upload.php");
  ClearDeliveryLastError();
  EXPECT_TRUE(SendHTTPReport(1, settings));
  EXPECT_TRUE(SendFTPReport(settings));
  EXPECT_EQ(DeliveryLastErrorCode(), eeNone);
}

#ifndef _WIN32

TEST(WebUploads, WithoutWinInetTheLibraryIsNamed) {
  TempDir dir;
  WriteFile(dir.File("BugReport.zip"), "zip");
  TEmberWebSendSettings settings;
  settings.URL = "http://127.0.0.1/upload.php";
  settings.Attachments = {dir.File("BugReport.zip")};
  EXPECT_FALSE(SendHTTPReport(2, settings));
  EXPECT_EQ(DeliveryLastErrorCode(), eeWebHTTPSError);
  EXPECT_EQ(DeliveryLastErrorMessage(), "HTTPS error code: -1 - Cannot find the \"wininet.dll\" library.");
}

#else

// --- Requests through WinInet

TEST(WebRequests, GetPostAndAuthorization) {
  testnet::HttpServer server([](const testnet::HttpRequest& r) {
    return testnet::HttpAnswer("200 OK", "<html>line1\r\nline2 " + r.method + "</html>");
  });
  THTTPConnection connection(AddURLCredentials(Local(server.Port(), "/bugs/"), "ann", "pw", 0), "");
  EXPECT_EQ(connection.Port(), server.Port());
  EXPECT_EQ(connection.RequestPath(), "/bugs/");
  THTTPResponse response;
  connection.NextURL = "/bugs/search.php";
  connection.Method = THTTPConnectionBase::kGet;
  connection.Fields = {{"q", "a b"}, {"n", "1"}};
  ASSERT_TRUE(connection.Request(false, response)) << response.ErrorText;
  EXPECT_EQ(response.StatusCode, 200);
  EXPECT_EQ(response.Document, "search.php");
  EXPECT_EQ(response.BasePath, "/bugs/");
  // Control characters of the body became blanks.
  EXPECT_EQ(response.Body, "<html>line1  line2 GET</html>");
  connection.NextURL = "/bugs/login.php";
  connection.Method = THTTPConnectionBase::kPost;
  connection.Fields = {{"user name", "x&y"}, {"p", "1"}};
  ASSERT_TRUE(connection.Request(true, response)) << response.ErrorText;
  EXPECT_EQ(connection.Response().Body, "<html>line1  line2 POST</html>");
  server.Stop();
  std::vector<testnet::HttpRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/bugs/search.php?q=a%20b&n=1");
  EXPECT_EQ(requests[0].Header("Authorization"), "Basic " + EncodeBase64String("ann:pw"));
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].target, "/bugs/login.php");
  EXPECT_EQ(requests[1].Header("Content-Type"), "application/x-www-form-urlencoded");
  // Names go as they are, values encoded.
  EXPECT_EQ(requests[1].body, "user name=x%26y&p=1");
}

TEST(WebRequests, A302AfterAPostIsFollowedAsAGetWithoutFields) {
  testnet::HttpServer server([](const testnet::HttpRequest& r) {
    if (r.target == "/t/post.php") return testnet::HttpAnswer("302 Found", "", "Location: /t/next.php\r\n");
    if (r.target == "/t/moved.php") return testnet::HttpAnswer("301 Moved Permanently", "", "Location: other.php\r\n");
    return testnet::HttpAnswer("200 OK", "at " + r.target);
  });
  THTTPConnection connection(Local(server.Port(), "/t"), "");
  THTTPResponse response;
  connection.NextURL = "/t/post.php";
  connection.Method = THTTPConnectionBase::kPost;
  connection.Fields = {{"a", "1"}};
  ASSERT_TRUE(connection.Request(false, response)) << response.ErrorText;
  EXPECT_EQ(response.StatusCode, 200);
  EXPECT_EQ(response.Body, "at /t/next.php");
  EXPECT_EQ(response.Document, "next.php");
  // 301 ends the call; the connection is set for a GET of the new place.
  connection.NextURL = "/t/moved.php";
  connection.Method = THTTPConnectionBase::kPost;
  connection.Fields = {{"b", "2"}};
  ASSERT_TRUE(connection.Request(false, response));
  EXPECT_EQ(response.StatusCode, 301);
  EXPECT_EQ(connection.NextURL, "/t/other.php");
  EXPECT_EQ(connection.Method, THTTPConnectionBase::kGet);
  EXPECT_TRUE(connection.Fields.empty());
  server.Stop();
  std::vector<testnet::HttpRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].target, "/t/next.php");
  EXPECT_TRUE(requests[1].body.empty());
}

TEST(WebRequests, ARedirectLoopEnds) {
  testnet::HttpServer server([](const testnet::HttpRequest& r) {
    return testnet::HttpAnswer("302 Found", "", "Location: /loop.php\r\n");
  });
  THTTPConnection connection(Local(server.Port()), "");
  THTTPResponse response;
  connection.NextURL = "/loop.php";
  EXPECT_TRUE(connection.Request(false, response));
  EXPECT_EQ(response.StatusCode, 302);
  server.Stop();
  EXPECT_EQ(server.Requests().size(), static_cast<size_t>(THTTPConnectionBase::kMaxRedirects + 1));
}

TEST(WebRequests, NoServerGivesTheErrorFields) {
  THTTPResponse response;
  // A thread of its own: the last server answer WinInet keeps per thread would come first.
  std::thread([&] {
    THTTPConnection connection(Local(testnet::UnusedPort(true)), "");
    connection.NextURL = "/x.php";
    EXPECT_FALSE(connection.Request(false, response));
  }).join();
  EXPECT_NE(response.ErrorCode, 0);
  EXPECT_EQ(response.ErrorText, WinInetErrorDescription(static_cast<uint32_t>(response.ErrorCode)));
  EXPECT_FALSE(response.ErrorText.empty());
}

// --- Uploads

TEST(WebUploads, MultipartUploadWithCustomFields) {
  TempDir dir;
  std::string zip(3000, '\0');
  for (size_t i = 0; i < zip.size(); ++i) zip[i] = static_cast<char>(i * 13);
  WriteFile(dir.File("BugReport.zip"), zip);
  testnet::HttpServer server([](const testnet::HttpRequest&) { return testnet::HttpAnswer("200 OK", "thanks"); });
  TEmberWebSendSettings settings;
  settings.URL = "http://127.0.0.1/reports/upload.php";
  settings.Port = server.Port();
  settings.User = "up";
  settings.Password = "load";
  settings.CustomFields = {"product=Tarvik"};
  settings.Attachments = {dir.File("BugReport.zip")};
  ClearDeliveryLastError();
  EXPECT_TRUE(SendHTTPReport(1, settings)) << DeliveryLastErrorMessage();
  server.Stop();
  std::vector<testnet::HttpRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const testnet::HttpRequest& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/reports/upload.php");
  EXPECT_EQ(r.Header("Authorization"), "Basic " + EncodeBase64String("up:load"));
  std::string type = r.Header("Content-Type");
  ASSERT_EQ(type.find("multipart/form-data; boundary="), 0u);
  std::string boundary = type.substr(30);
  EXPECT_EQ(r.body, BuildUploadBody(boundary, settings.CustomFields, settings.Attachments));
}

TEST(WebUploads, AnFtpServersOwnAnswerComesBeforeTheTableText) {
  TempDir dir;
  WriteFile(dir.File("BugReport.zip"), "zip");
  testnet::Listener server([](testnet::Connection& c) {
    c.Write("220 Reports here\r\n");
    c.ReadLine();
    c.Write("530 Uploads are closed for today.\r\n");
    c.ReadLine();
  });
  std::string text;
  int32_t result = FTPUpload("127.0.0.1", server.Port(), "ann", "pw", "in", {"BugReport.zip"},
                             {dir.File("BugReport.zip")}, nullptr, text);
  server.Stop();
  EXPECT_GT(result, 12000);
  EXPECT_NE(text.find("530 Uploads are closed for today."), std::string::npos) << text;
}

TEST(WebUploads, A404IsRecordedWithTheStatusText) {
  TempDir dir;
  WriteFile(dir.File("BugReport.zip"), "zip");
  testnet::HttpServer server([](const testnet::HttpRequest&) { return testnet::HttpAnswer("404 Not Found", "no"); });
  TEmberWebSendSettings settings;
  settings.URL = Local(server.Port(), "/none.php");
  settings.Attachments = {dir.File("BugReport.zip")};
  EXPECT_FALSE(SendHTTPReport(1, settings));
  EXPECT_EQ(DeliveryLastErrorCode(), eeWebHTTPError);
  EXPECT_EQ(DeliveryLastErrorMessage(), "HTTP error code: 404 (Not Found)");
}

#endif
