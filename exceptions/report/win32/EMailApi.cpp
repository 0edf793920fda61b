// Simple MAPI found through the default mail client's registration, and the mailto: handler
// started as a process.
#include <windows.h>
#include <mapi.h>

#include <cstring>

#include "../detail/EMailApi_p.h"
#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberTexts.h"

namespace {

constexpr size_t kNameBuffer = 256;

std::string MailClientDllPath(HKEY root) {
  uintptr_t key = reinterpret_cast<uintptr_t>(root);
  std::string client = ReadRegistryString(key, "SOFTWARE\\Clients\\Mail", "");
  if (client.empty()) return std::string();
  return ReadRegistryString(key, "SOFTWARE\\Clients\\Mail\\" + client, "DLLPath");
}

struct WindowSearch {
  DWORD process;
  DWORD thread;  // 0: any thread of the process
  HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM data) {
  auto* s = reinterpret_cast<WindowSearch*>(data);
  DWORD process = 0;
  DWORD thread = GetWindowThreadProcessId(window, &process);
  if (process == s->process && (s->thread == 0 || thread == s->thread) && IsWindowVisible(window) &&
      !GetWindow(window, GW_OWNER)) {
    s->found = window;
    return FALSE;
  }
  return TRUE;
}

// A top-level window of the calling thread, so that the client's dialog is owned by the
// application's window when the report is sent from its GUI thread; none otherwise.
HWND ParentWindow() {
  WindowSearch search{GetCurrentProcessId(), GetCurrentThreadId(), nullptr};
  EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

namespace email {

bool MapiSend(const std::vector<std::string>& recipients, const std::string& subject, const std::string& body,
              const std::vector<TMapiAttachment>& attachments, bool showDialog, std::string& failure) {
  std::string path = MailClientDllPath(HKEY_CURRENT_USER);
  if (path.empty()) path = MailClientDllPath(HKEY_LOCAL_MACHINE);
  HMODULE library = path.empty() ? nullptr : LoadLibraryA(ExpandVariables(path).c_str());
  if (!library) library = LoadLibraryA("mapi32.dll");
  if (!library) {
    failure = "Cannot open the MAPI dll.";
    return false;
  }
  auto logon = reinterpret_cast<LPMAPILOGON>(reinterpret_cast<void*>(GetProcAddress(library, "MAPILogon")));
  auto logoff = reinterpret_cast<LPMAPILOGOFF>(reinterpret_cast<void*>(GetProcAddress(library, "MAPILogoff")));
  auto sendMail = reinterpret_cast<LPMAPISENDMAIL>(reinterpret_cast<void*>(GetProcAddress(library, "MAPISendMail")));
  if (!logon || !logoff || !sendMail) {
    FreeLibrary(library);
    failure = "Cannot found the MAPI functions.";
    return false;
  }
  HWND parent = ParentWindow();
  LHANDLE session = 0;
  if (logon(reinterpret_cast<ULONG_PTR>(parent), nullptr, nullptr, MAPI_LOGON_UI, 0, &session) != SUCCESS_SUCCESS) {
    FreeLibrary(library);
    failure = "Cannot LogOn into the MAPI service.";
    return false;
  }

  std::vector<std::string> paths, names;
  for (const TMapiAttachment& a : attachments) {
    paths.push_back(a.Path);
    names.push_back(a.Name);
  }
  std::vector<MapiFileDesc> files(attachments.size());
  for (size_t i = 0; i < attachments.size(); ++i) {
    files[i].ulReserved = 0;
    files[i].flFlags = 0;
    files[i].nPosition = 0xFFFFFFFF;
    files[i].lpszPathName = paths[i].data();
    files[i].lpszFileName = names[i].data();
    files[i].lpFileType = nullptr;
  }
  // Name and address each in a buffer of 256 characters, as the clients expect.
  std::vector<std::string> recipientNames, recipientAddresses;
  for (const std::string& r : recipients) {
    std::string name = r.substr(0, kNameBuffer - 1);
    std::string address = ("SMTP:" + r).substr(0, kNameBuffer - 1);
    name.resize(kNameBuffer, '\0');
    address.resize(kNameBuffer, '\0');
    recipientNames.push_back(name);
    recipientAddresses.push_back(address);
  }
  std::vector<MapiRecipDesc> recips(recipients.size());
  for (size_t i = 0; i < recipients.size(); ++i) {
    recips[i] = MapiRecipDesc{};
    recips[i].ulRecipClass = MAPI_TO;
    recips[i].lpszName = recipientNames[i].data();
    recips[i].lpszAddress = recipientAddresses[i].data();
  }
  std::string subjectText = subject, bodyText = body;
  MapiMessage message{};
  message.lpszSubject = subjectText.data();
  message.lpszNoteText = bodyText.data();
  message.nRecipCount = static_cast<ULONG>(recips.size());
  message.lpRecips = recips.empty() ? nullptr : recips.data();
  message.nFileCount = static_cast<ULONG>(files.size());
  message.lpFiles = files.empty() ? nullptr : files.data();

  ULONG flags = MAPI_LOGON_UI | (showDialog ? MAPI_DIALOG : 0);
  ULONG result = sendMail(session, reinterpret_cast<ULONG_PTR>(parent), &message, flags, 0);
  logoff(session, 0, 0, 0);
  FreeLibrary(library);
  if (result == SUCCESS_SUCCESS || result == MAPI_USER_ABORT) return true;
  failure = "Cannot send the MAPI message.";
  return false;
}

std::string MailtoCommand() {
  return ExpandVariables(ReadRegistryString(reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT),
                                            "\\mailto\\shell\\open\\command", ""));
}

bool RunMailClient(const std::string& commandLine, std::string& failure) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWMAXIMIZED;
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  if (line.empty() || !CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE,
                                      CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                                      &startup, &process)) {
    DWORD code = line.empty() ? ERROR_FILE_NOT_FOUND : GetLastError();
    failure = SysErrorMessage(code);
    if (failure.empty()) failure = "Error " + std::to_string(code);
    return false;
  }
  WaitForInputIdle(process.hProcess, 10000);
  Sleep(2000);
  WindowSearch search{process.dwProcessId, 0, nullptr};
  EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&search));
  if (search.found) SetWindowPos(search.found, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  bool ok = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0;
  DWORD exitCode = 0;
  ok = ok && GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return ok;
}

}  // namespace email
