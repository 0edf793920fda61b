// Portable half of the web error page: building the page from the options' template, its
// headers, and the last page kept for the report.
#include "EWebApplication.h"

#include <cstdio>
#include <mutex>
#include <random>

#include "ESysUtils.h"
#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/EmberTexts.h"

const char* const EmberHtmlTag = "<%HTML_TAG%>";
const char* const EmberWebOkButton =
    "<br><input type=button value=\"Ok\" OnClick=\"history.go(-1)\" "
    "style=\"width:75;height:25;z-index:100;font-style:normal;font-size:10pt;text-decoration:none;\">";

namespace {

std::mutex gLock;
std::string gLastPageID;
std::string gLastPageText;
bool gFrameworkFound = false;
TEmberWebFramework gFramework;

uint32_t RandomNumber() {
  static std::mt19937 generator{std::random_device{}()};
  std::lock_guard<std::mutex> guard(gLock);
  return static_cast<uint32_t>(generator());
}

}  // namespace

std::string BuildWebErrorPage(const TEmberModuleOptions* options, const std::string& body) {
  std::string page = Trim(CollapseControlChars(options ? options->HTMLTemplate() : std::string()));
  if (page.empty()) page = EmberDefaultHTMLTemplate;
  std::string tag = EmberHtmlTag;
  size_t at = UpperCase(page).find(UpperCase(tag));
  if (at != std::string::npos) page.replace(at, tag.size(), tag);
  std::string upper = UpperCase(page);
  size_t open = upper.find("<TITLE>");
  if (open == std::string::npos || upper.find("</TITLE>", open + 7) == std::string::npos) {
    std::string title = options ? options->GetCustomizedExpandedText(3) : ExpandVariables(GetDefaultText(3));
    page = "<title>" + HTMLEncode(title) + "</title>" + page;
  }
  char id[40];
  std::snprintf(id, sizeof id, "<!-- EmberLog ID: %08X -->", RandomNumber());
  {
    std::lock_guard<std::mutex> guard(gLock);
    gLastPageID = std::string(id).substr(18, 8);
  }
  return ReplaceAllText(page, tag, body) + id;
}

std::string BuildWebErrorBody(const TEmberModuleOptions* options, const std::string& text, bool withButton) {
  std::string body = HTMLEncode(text);
  if (withButton) body += EmberWebOkButton;
  return BuildWebErrorPage(options, body);
}

std::string WebErrorHeaders(bool cgiStatus, size_t pageLength) {
  std::string headers = cgiStatus ? "Status: 200 Error\r\n" : "";
  headers += "Content-Type: text/html\r\n";
  headers += "Content-Length: " + std::to_string(pageLength) + "\r\n";
  headers += "Content:\r\n\r\n";
  return headers;
}

std::string LastWebPageID() {
  std::lock_guard<std::mutex> guard(gLock);
  return gLastPageID;
}

std::string LastWebPageText() {
  std::lock_guard<std::mutex> guard(gLock);
  return gLastPageText;
}

void SetLastWebPageText(const std::string& text) {
  std::lock_guard<std::mutex> guard(gLock);
  gLastPageText = text;
}

void SetWebFramework(const TEmberWebFramework* framework) {
  std::lock_guard<std::mutex> guard(gLock);
  gFrameworkFound = framework != nullptr;
  gFramework = framework ? *framework : TEmberWebFramework();
}

bool WebFrameworkFound() {
  std::lock_guard<std::mutex> guard(gLock);
  return gFrameworkFound;
}

namespace ember_report {

// The framework's objects, for the Win32 half.
TEmberWebFramework CurrentWebFramework() {
  std::lock_guard<std::mutex> guard(gLock);
  return gFramework;
}

}  // namespace ember_report
