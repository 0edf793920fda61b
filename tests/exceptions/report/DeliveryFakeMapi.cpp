// A stand-in Simple MAPI mail client: records what it is given into the file named by
// KBL_FAKE_MAPI_OUT and answers MAPISendMail with KBL_FAKE_MAPI_RESULT.
#include <windows.h>
#include <mapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
std::string gLog;
// The test sets these after the process started: read them from the system, not the runtime.
std::string Env(const char* name) {
  char value[1024] = {0};
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}
}

extern "C" {

__declspec(dllexport) ULONG WINAPI MAPILogon(ULONG_PTR, LPSTR, LPSTR, FLAGS, ULONG, LPLHANDLE session) {
  gLog.clear();
  *session = 42;
  return SUCCESS_SUCCESS;
}

__declspec(dllexport) ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR, lpMapiMessage message, FLAGS flags,
                                                ULONG) {
  if (session != 42) return MAPI_E_FAILURE;
  gLog += "flags=" + std::to_string(flags) + "\n";
  gLog += std::string("subject=") + (message->lpszSubject ? message->lpszSubject : "") + "\n";
  gLog += std::string("note=") + (message->lpszNoteText ? message->lpszNoteText : "") + "\n";
  for (ULONG i = 0; i < message->nRecipCount; ++i)
    gLog += std::string("to=") + message->lpRecips[i].lpszName + "|" + message->lpRecips[i].lpszAddress + "|" +
            std::to_string(message->lpRecips[i].ulRecipClass) + "\n";
  for (ULONG i = 0; i < message->nFileCount; ++i)
    gLog += std::string("file=") + message->lpFiles[i].lpszPathName + "|" + message->lpFiles[i].lpszFileName + "|" +
            std::to_string(message->lpFiles[i].nPosition) + "\n";
  std::string result = Env("KBL_FAKE_MAPI_RESULT");
  return result.empty() ? SUCCESS_SUCCESS : static_cast<ULONG>(std::atoi(result.c_str()));
}

__declspec(dllexport) ULONG WINAPI MAPILogoff(LHANDLE session, ULONG_PTR, FLAGS, ULONG) {
  gLog += "logoff\n";
  std::string out = Env("KBL_FAKE_MAPI_OUT");
  if (!out.empty()) {
    if (FILE* file = std::fopen(out.c_str(), "wb")) {
      std::fputs(gLog.c_str(), file);
      std::fclose(file);
    }
  }
  return SUCCESS_SUCCESS;
}
}
