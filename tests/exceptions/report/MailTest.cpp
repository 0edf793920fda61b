// mailto: text and command building everywhere; under Wine the mailto: handler started for
// real (a probe program registered for the user) and Simple MAPI through a stand-in mail-client
// DLL, a library without MAPI and the fall-through when none is registered.
#include "exceptions/report/EMail.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "TestFiles.h"
#include "exceptions/report/EDeliverySupport.h"

#ifdef _WIN32
#include <windows.h>
#endif

TEST(Mailto, TextEncoding) {
  EXPECT_EQ(EncodeMailtoText("a b\r\nc-9"), "a%20b%0D%0Ac-9");
  EXPECT_EQ(EncodeMailtoText("caf\xE9?&"), "caf\xE9%3F%26");
  std::string url = BuildMailtoURL("a@b.org,c@d.org", "Bug", "Hi", "Report");
  EXPECT_EQ(url, "mailto:a@b.org,c@d.org?Subject=Bug&Body=Hi%0D%0A%0D%0A%0D%0AReport");
  EXPECT_EQ(BuildMailtoURL("x\"@y z", "", "", "").substr(0, 18), "mailto:x%22@y%20z?");
}

TEST(Mailto, CommandSubstitution) {
  EXPECT_EQ(SubstituteMailtoCommand("mail.exe \"%1\" -x %1", "U"), "mail.exe \"U\" -x U");
  EXPECT_EQ(SubstituteMailtoCommand("mail.exe -compose", "U"), "mail.exe -compose");
}

#ifndef _WIN32

TEST(Mapi, NotAvailableNatively) {
  ClearDeliveryLastError();
  EXPECT_FALSE(SendMAPIMail("a@b.org", "s", "b", {}, false));
  EXPECT_EQ(DeliveryLastErrorCode(), eeEmailMAPIError);
  EXPECT_EQ(DeliveryLastErrorMessage(), "Cannot open the MAPI dll.");
}

#else

namespace {

// Sets a registry value for the test (under HKEY_CURRENT_USER unless told otherwise) and puts
// back what was there, removing the keys it created.
class UserKey {
 public:
  UserKey(const std::string& path, const std::string& name, const std::string& value,
          HKEY root = HKEY_CURRENT_USER)
      : root_(root), path_(path) {
    HKEY key;
    DWORD disposition = 0;
    RegCreateKeyExA(root_, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition);
    created_ = disposition == REG_CREATED_NEW_KEY;
    DWORD type, size = sizeof old_;
    hadOld_ = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(old_), &size) == 0;
    name_ = name;
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
  }
  ~UserKey() {
    if (created_) {
      RegDeleteKeyA(root_, path_.c_str());
      return;
    }
    HKEY key;
    if (RegOpenKeyExA(root_, path_.c_str(), 0, KEY_ALL_ACCESS, &key) != 0) return;
    if (hadOld_)
      RegSetValueExA(key, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(old_),
                     static_cast<DWORD>(strlen(old_) + 1));
    else
      RegDeleteValueA(key, name_.c_str());
    RegCloseKey(key);
  }

 private:
  HKEY root_;
  std::string path_, name_;
  bool created_ = false, hadOld_ = false;
  char old_[1024] = {0};
};

// A file built beside the test program.
std::string BuildFile(const char* name) {
  char path[MAX_PATH] = {0};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder = path;
  return folder.substr(0, folder.find_last_of("\\/") + 1) + name;
}

std::string ReadAll(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

TEST(Mailto, TheRegisteredHandlerIsStartedWithTheUrl) {
  TempDir dir;
  std::string out = dir.File("probe.txt");
  SetEnvironmentVariableA("KBL_MAILTO_PROBE_OUT", out.c_str());
  // The handler is read from HKEY_CLASSES_ROOT (the machine's classes under Wine).
  UserKey handler("mailto\\shell\\open\\command", "",
                  "\"" + BuildFile("exceptions_report_delivery_mailto_probe.exe") + "\" \"%1\"", HKEY_CLASSES_ROOT);
  ClearDeliveryLastError();
  EXPECT_TRUE(SendMailByShell("bugs@example.org", "Crash report", "Hello", "REPORT"));
  EXPECT_EQ(ReadAll(out), "mailto:bugs@example.org?Subject=Crash%20report&Body=Hello%0D%0A%0D%0A%0D%0AREPORT");
}

TEST(Mapi, AStandInClientGetsTheMessage) {
  TempDir dir;
  std::ofstream(dir.File("BugReport.zip"), std::ios::binary) << "zip";
  std::string out = dir.File("mapi.txt");
  SetEnvironmentVariableA("KBL_FAKE_MAPI_OUT", out.c_str());
  UserKey client("SOFTWARE\\Clients\\Mail", "", "KblStandIn");
  UserKey dll("SOFTWARE\\Clients\\Mail\\KblStandIn", "DLLPath", BuildFile("exceptions_report_delivery_fakemapi.dll"));
  for (const char* result : {"0", "1"}) {  // sent, and cancelled by the user
    SetEnvironmentVariableA("KBL_FAKE_MAPI_RESULT", result);
    EXPECT_TRUE(SendMAPIMail("a@example.org; b@example.org", "Bug\r\nreport", "Body text",
                             {dir.File("BugReport.zip"), dir.File("missing.zip")}, true));
    EXPECT_EQ(ReadAll(out), "flags=9\nsubject=Bug report\nnote=Body text\nto=a@example.org|SMTP:a@example.org|1\n"
                            "to=b@example.org|SMTP:b@example.org|1\nfile=" + dir.File("BugReport.zip") +
                                "|BugReport.zip|4294967295\nlogoff\n");
  }
  SetEnvironmentVariableA("KBL_FAKE_MAPI_RESULT", "2");
  ClearDeliveryLastError();
  EXPECT_FALSE(SendMAPIMail("a@example.org", "s", "b", {}, false));
  EXPECT_EQ(DeliveryLastErrorMessage(), "Cannot send the MAPI message.");
  EXPECT_EQ(DeliveryLastErrorCode(), eeEmailMAPIError);
}

TEST(Mapi, ALibraryWithoutMapiIsRefused) {
  UserKey client("SOFTWARE\\Clients\\Mail", "", "KblNoMapi");
  UserKey dll("SOFTWARE\\Clients\\Mail\\KblNoMapi", "DLLPath", "kernel32.dll");
  ClearDeliveryLastError();
  EXPECT_FALSE(SendMAPIMail("a@example.org", "s", "b", {}, false));
  EXPECT_EQ(DeliveryLastErrorMessage(), "Cannot found the MAPI functions.");
}

#endif
