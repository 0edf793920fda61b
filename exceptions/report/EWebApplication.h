// Web-application detection and the HTML error page: a program that runs as a CGI or WinCGI
// program, an ISAPI extension or under a web framework cannot show dialogs, so the exception is
// answered with an error page written as the HTTP response. Inside a plug-in host none of these
// holds: the host is no web application, and it may show dialogs unless it is a console
// program.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/Module.h"

class TEmberModuleOptions;

// --- The page (portable)

// Where the report goes in the template.
extern const char* const EmberHtmlTag;  // "<%HTML_TAG%>"
// The button the page carries to go back.
extern const char* const EmberWebOkButton;

// The options' HTML template (control characters collapsed, trimmed; the default template when
// empty) with its report tag spelt exactly, a title (text 3, HTML-encoded) when it has none, the
// tag replaced by `body` and an ID comment "<!-- EmberLog ID: XXXXXXXX -->" with a random
// number, which becomes the last page ID. `options` may be null (the defaults).
std::string BuildWebErrorPage(const TEmberModuleOptions* options, const std::string& body);
// BuildWebErrorPage of the HTML-encoded `text`, with the back button when asked.
std::string BuildWebErrorBody(const TEmberModuleOptions* options, const std::string& text, bool withButton);
// The headers before the page: the CGI status line "Status: 200 Error" for a CGI or WinCGI
// program, then the content type, its length and "Content:" with the empty line.
std::string WebErrorHeaders(bool cgiStatus, size_t pageLength);

// The last page's ID and text (kept for the report and the attachments).
std::string LastWebPageID();
std::string LastWebPageText();
void SetLastWebPageText(const std::string& text);

// --- Web frameworks

// A web framework whose objects the capture side found: its application and server controller
// (a component with a published "TemplateDir"), and the routine that shows a page template.
// Null members: the framework was found but its objects are missing.
class TObject;
struct TEmberWebFramework {
  void* Application = nullptr;
  TObject* ServerController = nullptr;
  void (*ShowMessage)(const std::string& templateName) = nullptr;
};
// Null: no framework (the web flag is off).
void SetWebFramework(const TEmberWebFramework* framework);
bool WebFrameworkFound();

// --- Win32 only (win32/EWebApplication.cpp); IsConsoleProgram is the class library's
// (classlib/Module.h)

// A console program with the environment variable REQUEST_METHOD.
bool IsCGIApplication();
// Not a console program whose first parameter names a readable INI file below 102,401 bytes
// with "Request Method" in section "CGI" and whose output file (third parameter, else "Output
// File" of section "System") exists.
bool IsWinCGIApplication();
// This module is a DLL that exports "HttpExtensionProc".
bool IsISAPIModule();
bool IsWebApplication();
// Neither a web application nor a console program.
bool IsGuiAllowed();

// Writes the error page for `text` (the dialog head text in front) as the answer of the web
// application; answers whether the page was sent. Failures become library warnings.
bool WriteWebErrorPage(const std::string& text);
// Sends a finished page the way the application answers; false with a warning when it cannot.
// An ISAPI extension answers the request the exception came from (CurrentISAPIControlBlock of
// exceptions/capture/ExceptionLog.h, kept by the library's wrapper of HttpExtensionProc).
bool SendWebErrorPage(const std::string& page);
// The ISAPI answer: status 200, the status text "200 Error" with the headers, then the page.
// What is written here is the library's own answer, not kept as the request's last page.
bool SendISAPIPage(void* controlBlock, const std::string& page);
// The WinCGI answer into `outputFile` (opened shared when it exists, else created).
bool WriteWinCGIPage(const std::string& outputFile, const std::string& page);
