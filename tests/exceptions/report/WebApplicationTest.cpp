// The web error page built from the options' template, and under Wine the program kinds and the
// answers of a CGI program and an ISAPI request.
#include "exceptions/report/EWebApplication.h"

#include <gtest/gtest.h>

#include "classlib/Streams.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/report/EBugReport.h"
#include "exceptions/capture/ExceptionLog.h"

#ifdef _WIN32
#include <windows.h>
#include <httpext.h>

#include "TestFiles.h"
#endif

TEST(WebErrorPage, TemplateTitleBodyAndId) {
  TEmberModuleOptions options;
  options.SetHTMLTemplate("<html>\r\n<body>\t<%html_tag%></body></html>");
  options.SetCustomizedText(3, "Error <occurred>");
  std::string page = BuildWebErrorBody(&options, "a < b & \"c\"\r\nnext", false);
  std::string id = LastWebPageID();
  ASSERT_EQ(id.size(), 8u);
  EXPECT_EQ(page, "<title>Error &lt;occurred&gt;</title><html> <body> a &lt; b &amp; &quot;c&quot;<br>\r\nnext"
                  "</body></html><!-- EmberLog ID: " + id + " -->");

  // A title in capitals is kept; a template without the tag has no body but title and id.
  options.SetHTMLTemplate("<HTML><TITLE>Oops</TITLE></HTML>");
  page = BuildWebErrorPage(&options, "BODY");
  EXPECT_EQ(page, "<HTML><TITLE>Oops</TITLE></HTML><!-- EmberLog ID: " + LastWebPageID() + " -->");
  options.SetHTMLTemplate("  \r\n ");
  page = BuildWebErrorBody(&options, "x", true);
  EXPECT_NE(page.find(std::string("x") + EmberWebOkButton), std::string::npos) << page;
  EXPECT_EQ(page.find("<title>Error &lt;occurred&gt;</title><html>"), 0u);
}

TEST(WebErrorPage, Headers) {
  EXPECT_EQ(WebErrorHeaders(true, 12), "Status: 200 Error\r\nContent-Type: text/html\r\nContent-Length: 12\r\nContent:\r\n\r\n");
  EXPECT_EQ(WebErrorHeaders(false, 0), "Content-Type: text/html\r\nContent-Length: 0\r\nContent:\r\n\r\n");
}

#ifdef _WIN32

TEST(WebApplication, AConsoleHostIsNoWebApplicationAndShowsNoDialogs) {
  SetEnvironmentVariableA("REQUEST_METHOD", nullptr);
  EXPECT_TRUE(IsConsoleProgram());
  EXPECT_FALSE(IsISAPIModule());
  EXPECT_FALSE(IsCGIApplication());
  EXPECT_FALSE(IsWebApplication());
  EXPECT_FALSE(IsGuiAllowed());
}

TEST(WebApplication, CgiProgramAnswersOnStandardOutput) {
  TempDir dir;
  std::string outputName = dir.File("answer.html");
  HANDLE output = CreateFileA(outputName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(output, INVALID_HANDLE_VALUE);
  HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
  SetEnvironmentVariableA("REQUEST_METHOD", "GET");
  EXPECT_TRUE(IsCGIApplication());
  ReportPieces().DialogHeadText = "Head\r\n";
  EmberLibrary().CurrentOptions = std::make_unique<TEmberModuleOptionsEx>("web.exe", 0);
  SetStdHandle(STD_OUTPUT_HANDLE, output);
  bool sent = WriteWebErrorPage("<report>");
  SetStdHandle(STD_OUTPUT_HANDLE, saved);
  SetEnvironmentVariableA("REQUEST_METHOD", nullptr);
  EmberLibrary().CurrentOptions.reset();
  CloseHandle(output);
  EXPECT_TRUE(sent);
  std::string written = ReadFileBytes(outputName);
  std::string page = LastWebPageText();
  EXPECT_EQ(written, WebErrorHeaders(true, page.size()) + page);
  EXPECT_NE(page.find("Head<br>\r\n&lt;report&gt;"), std::string::npos) << page;
  EXPECT_NE(page.find(EmberWebOkButton), std::string::npos);
}

namespace {

std::string gStatus, gHeaders, gClient;

BOOL WINAPI FakeServerSupport(HCONN, DWORD request, LPVOID buffer, LPDWORD size, LPDWORD data) {
  if (request != HSE_REQ_SEND_RESPONSE_HEADER) return FALSE;
  gStatus.assign(static_cast<const char*>(buffer), *size);
  gHeaders = reinterpret_cast<const char*>(data);
  return TRUE;
}

BOOL WINAPI FakeWriteClient(HCONN, LPVOID buffer, LPDWORD length, DWORD) {
  gClient.assign(static_cast<const char*>(buffer), *length);
  return TRUE;
}

}  // namespace

TEST(WebApplication, IsapiAnswersWithStatus200AndTheErrorText) {
  EXTENSION_CONTROL_BLOCK block{};
  block.cbSize = sizeof block;
  block.ServerSupportFunction = FakeServerSupport;
  block.WriteClient = FakeWriteClient;
  EXPECT_TRUE(SendISAPIPage(&block, "<html>page</html>"));
  EXPECT_EQ(block.dwHttpStatusCode, 200u);
  EXPECT_EQ(gStatus, "200 Error");
  EXPECT_EQ(gHeaders, WebErrorHeaders(false, 17));
  EXPECT_EQ(gClient, "<html>page</html>");
  EXPECT_FALSE(SendISAPIPage(nullptr, "x"));
}

TEST(WebApplication, WinCgiPageGoesIntoTheOutputFile) {
  TempDir dir;
  EXPECT_TRUE(WriteWinCGIPage(dir.File("out.htm"), "<p>x</p>"));
  EXPECT_EQ(ReadFileBytes(dir.File("out.htm")), WebErrorHeaders(true, 8) + "<p>x</p>");
  EXPECT_FALSE(WriteWinCGIPage(dir.File("missing\\folder\\out.htm"), "<p>x</p>"));
}

#endif
