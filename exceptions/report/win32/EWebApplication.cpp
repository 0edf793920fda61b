// Win32 half of the web error page: what kind of program runs, and how its answer is written
// (ISAPI control block, CGI standard output, WinCGI output file, a framework's page template).
#include "EWebApplication.h"

#include <windows.h>
#include <httpext.h>

#include <fstream>
#include <vector>

#include "EBugReport.h"
#include "EExceptionDialog.h"
#include "ESupport.h"
#include "ESysUtils.h"
#include "classlib/SysUtils.h"
#include "classlib/TypInfo.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/ExceptionLog.h"

namespace ember_report {
TEmberWebFramework CurrentWebFramework();
}

namespace {

const TEmberModuleOptions* CurrentOptions() { return DialogOptions(); }

// The command line's parameter `index` (0 the program), quotes removed.
std::string ParamStr(int index) {
  std::string line = GetCommandLineA();
  size_t i = 0;
  for (int current = 0;; ++current) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) return std::string();
    std::string param;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      if (line[i] == '"')
        quoted = !quoted;
      else
        param += line[i];
      ++i;
    }
    if (current == index) return param;
  }
}

std::string ApplicationFolder() { return IncludeTrailingBackslash(GetModulePathText(GetApplicationFileName())); }

bool WriteTextFile(const std::string& fileName, const std::string& text) {
  size_t slash = fileName.find_last_of('\\');
  if (slash != std::string::npos && !ForceFolders(fileName.substr(0, slash))) return false;
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(file);
}

bool WriteAll(HANDLE handle, const std::string& text) {
  DWORD written = 0;
  return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

// The framework's answer: the page becomes a template the framework shows.
bool ShowFrameworkErrorPage() {
  try {
    TEmberWebFramework framework = ember_report::CurrentWebFramework();
    if (!framework.Application || !framework.ServerController) {
      ShowLibraryWarning(eeShowError, "IntraWeb: IntraWebApplication e/o IntraWebServerController are set to nil.");
      return false;
    }
    std::string page = BuildWebErrorPage(CurrentOptions(), HTMLEncode(LastWebPageText()) + "<br>{%butnOk%}");
    if (UpperCase(page).find("{%BUTNOK%}") == std::string::npos) page += "{%butnOk%}";
    const std::string name = "EmberLog_IWShowMessage.html";
    std::string appFolder = ApplicationFolder();
    std::string templates = IncludeTrailingBackslash(GetPropText(framework.ServerController, "TemplateDir"));
    bool written = SameText(templates, appFolder) && WriteTextFile(templates + name, page);
    if (!written) written = WriteTextFile(appFolder + "Temp\\" + name, page);
    if (!written) written = WriteTextFile(appFolder + name, page);
    if (!written) {
      ShowLibraryWarning(eeShowError, "IntraWeb: Cannot create the \"" + name + "\" template.");
      return false;
    }
    try {
      if (framework.ShowMessage) framework.ShowMessage(name);
    } catch (...) {
      ShowLibraryWarning(eeShowError, "IntraWeb: Cannot show the error page.");
      return false;
    }
    return true;
  } catch (...) {
    ShowLibraryError(eeShowError, "IntraWeb");
    return false;
  }
}

// The WinCGI output file when the program is one.
bool FindWinCGIOutput(std::string& outputFile) {
  if (IsConsoleProgram()) return false;
  std::string ini = ParamStr(1);
  if (ini.empty() || ini.find_first_of("*?") != std::string::npos) return false;
  uint32_t size = GetFileSizeByName(ini);
  if (!CanOpenForReading(ini) || size == 0 || size >= 102401) return false;
  if (ReadIniString(ini, "CGI", "Request Method").empty()) return false;
  outputFile = ParamStr(3);
  if (outputFile.empty()) outputFile = ReadIniString(ini, "System", "Output File");
  return !outputFile.empty() && GetFileAttributesA(outputFile.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool IsCGIApplication() { return IsConsoleProgram() && GetEnvironmentVariableA("REQUEST_METHOD", nullptr, 0) > 0; }

bool IsWinCGIApplication() {
  std::string output;
  return FindWinCGIOutput(output);
}

bool IsISAPIModule() {
  HMODULE module = reinterpret_cast<HMODULE>(GetThisModuleHandle());
  return IsModuleDLL(reinterpret_cast<uintptr_t>(module)) && GetProcAddress(module, "HttpExtensionProc") != nullptr;
}

bool IsWebApplication() {
  return IsISAPIModule() || IsCGIApplication() || IsWinCGIApplication() || WebFrameworkFound();
}

bool IsGuiAllowed() { return !IsWebApplication() && !IsConsoleProgram(); }

bool SendISAPIPage(void* controlBlock, const std::string& page) {
  auto* block = static_cast<EXTENSION_CONTROL_BLOCK*>(controlBlock);
  if (!block) {
    ShowLibraryWarning(eeShowError, "ISAPI: ServerECB = nil");
    return false;
  }
  struct TWritingAnswer {
    TWritingAnswer() { SetWritingISAPIAnswer(true); }
    ~TWritingAnswer() { SetWritingISAPIAnswer(false); }
  } writing;
  std::string headers = WebErrorHeaders(false, page.size());
  std::string status = "200 Error";
  block->dwHttpStatusCode = 200;
  DWORD statusSize = static_cast<DWORD>(status.size());
  bool ok = block->ServerSupportFunction(block->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, const_cast<char*>(status.c_str()),
                                         &statusSize, reinterpret_cast<LPDWORD>(const_cast<char*>(headers.c_str())));
  DWORD length = static_cast<DWORD>(page.size());
  ok = block->WriteClient(block->ConnID, const_cast<char*>(page.data()), &length, 0) && ok;
  return ok;
}

bool WriteWinCGIPage(const std::string& outputFile, const std::string& page) {
  try {
    DWORD disposition = GetFileAttributesA(outputFile.c_str()) != INVALID_FILE_ATTRIBUTES ? OPEN_EXISTING : CREATE_NEW;
    HANDLE file = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw EFCreateError("Cannot open the output file \"" + outputFile + "\".");
    bool ok = WriteAll(file, WebErrorHeaders(true, page.size())) && WriteAll(file, page);
    CloseHandle(file);
    if (!ok) throw EWriteError("Cannot write the output file \"" + outputFile + "\".");
    return true;
  } catch (...) {
    ShowLibraryError(eeShowError, "WinCGI");
    return false;
  }
}

bool SendWebErrorPage(const std::string& page) {
  if (IsISAPIModule()) return SendISAPIPage(CurrentISAPIControlBlock(), page);
  if (IsCGIApplication()) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!WriteAll(output, WebErrorHeaders(true, page.size()))) {
      ShowLibraryWarning(eeShowError, "CGI: Cannot write in the ouput file.");
      return false;
    }
    return WriteAll(output, page);
  }
  std::string outputFile;
  if (FindWinCGIOutput(outputFile)) return WriteWinCGIPage(outputFile, page);
  return false;
}

bool WriteWebErrorPage(const std::string& text) {
  try {
    const std::string& head = ReportPieces().DialogHeadText;
    if (WebFrameworkFound()) {
      SetLastWebPageText(head + text);
      bool sent = false;
      SynchronizeExceptionCall([&sent] { sent = ShowFrameworkErrorPage(); });
      return sent;
    }
    if (!IsWebApplication()) return false;
    std::string page = BuildWebErrorBody(CurrentOptions(), head + text, true);
    if (UpperCase(page).find(UpperCase(EmberWebOkButton)) == std::string::npos) page += EmberWebOkButton;
    SetLastWebPageText(page);
    return SendWebErrorPage(page);
  } catch (...) {
    ShowLibraryError(eeShowError, "Web");
    return false;
  }
}
