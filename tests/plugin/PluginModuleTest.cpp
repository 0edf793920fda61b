// The plug-in module's start-up and shut-down through a host: a module built from the product's
// module entry is loaded, its plug-ins opened and closed, and the module freed. While a plug-in is
// open the image readers are registered, CurrentEmberLogOptions answers the module's options and
// a report can start the socket library; closing the last plug-in undoes all of it, and the
// process's socket library is left as it was. This program never starts sockets itself.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "HostFiles.h"
#include "tools/vsthost/VstHost.h"

namespace {

// Whether the process's socket library is started (by anyone): a socket can be made.
bool SocketsStarted() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return WSAGetLastError() != WSANOTINITIALISED;
  closesocket(s);
  return true;
}

struct TProbe {
  explicit TProbe(HMODULE module)
      : Formats(reinterpret_cast<int32_t (*)()>(GetProcAddress(module, "ProbeRegisteredFormats"))),
        StartSockets(reinterpret_cast<int32_t (*)()>(GetProcAddress(module, "ProbeStartSockets"))),
        Options(reinterpret_cast<int32_t (*)(char*, int32_t)>(GetProcAddress(module, "ProbeCurrentOptions"))) {}
  // The module name of the current options, or the error's text.
  std::string CurrentOptions(bool& found) {
    char text[1024] = {};
    found = Options(text, sizeof text) == 1;
    return text;
  }
  int32_t (*Formats)();
  int32_t (*StartSockets)();
  int32_t (*Options)(char*, int32_t);
};

}  // namespace

TEST(PluginModule, StartUpAndShutDownFollowTheOpenPlugIns) {
  const std::string path = TestDllPath("moduleprobe.dll");
  ASSERT_FALSE(SocketsStarted());
  HMODULE module = LoadLibraryA(path.c_str());  // kept loaded between the hosts
  ASSERT_NE(module, nullptr);
  TProbe probe(module);
  ASSERT_TRUE(probe.Formats && probe.StartSockets && probe.Options);
  bool found = true;

  // Loading starts nothing.
  EXPECT_EQ(probe.Formats(), 0);
  std::string error = probe.CurrentOptions(found);
  EXPECT_FALSE(found);
  EXPECT_EQ(error, "\r\nCannot use 'CurrentEmberLogOptions' function in module \"" + path +
                       "\" without activate EmberLog.\r\nTo activate EmberLog use the new IDE \"Project/EmberLog "
                       "Options...\" menu.");

  {
    TVstHost first(path);
    TVstHost second(path);
    EXPECT_EQ(probe.Formats(), 39);
    EXPECT_EQ(probe.CurrentOptions(found), path);
    EXPECT_TRUE(found);
    EXPECT_EQ(probe.StartSockets(), 1);
    EXPECT_TRUE(SocketsStarted());
    first.Close();
    EXPECT_EQ(probe.Formats(), 39);  // the second plug-in still holds the module
    EXPECT_TRUE(SocketsStarted());
  }
  EXPECT_EQ(probe.Formats(), 0);
  EXPECT_FALSE(SocketsStarted());
  probe.CurrentOptions(found);
  EXPECT_FALSE(found);

  {
    TVstHost again(path);  // a new first plug-in starts the module again
    EXPECT_EQ(probe.Formats(), 39);
    EXPECT_TRUE(probe.CurrentOptions(found) == path && found);
  }
  EXPECT_EQ(probe.Formats(), 0);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(GetModuleHandleA(path.c_str()), nullptr);
  EXPECT_FALSE(SocketsStarted());
}
