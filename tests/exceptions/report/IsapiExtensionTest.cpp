// An ISAPI extension that carries the exception library, called the way a web server calls it:
// the test loads the extension DLL, looks up its entries before the first call, asks for its
// version and serves requests on threads of its own through extension control blocks whose
// callbacks record what the extension sends. A request the extension fails in is answered with
// the library's error page (status 200, "200 Error"), written through WriteClient after what
// the extension had written; a request that succeeds is left as it is.
#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "IsapiTypes.h"

namespace {

const char* const kExtension = "isapiextension.dll";
const char* const kStart = "<html><body>Start of the answer";

// One request as the stand-in server sees it; its address is the connection handle.
struct TRequest {
  explicit TRequest(const char* query) : Query(query) {
    Block.Size = sizeof Block;
    Block.Version = isapi::kVersion;
    Block.ConnID = this;
    Block.Method = const_cast<char*>("GET");
    Block.QueryString = const_cast<char*>(Query.c_str());
    Block.PathInfo = const_cast<char*>("/report");
    Block.PathTranslated = const_cast<char*>("C:\\inetpub\\report");
    Block.ContentType = const_cast<char*>("");
    Block.GetServerVariable = &GetServerVariable;
    Block.WriteClient = &WriteClient;
    Block.ReadClient = &ReadClient;
    Block.ServerSupportFunction = &ServerSupportFunction;
  }

  static TRequest* Of(isapi::HConn connection) { return static_cast<TRequest*>(connection); }

  static BOOL WINAPI GetServerVariable(isapi::HConn, LPSTR, LPVOID, LPDWORD size) {
    if (size != nullptr) *size = 0;
    SetLastError(ERROR_INVALID_INDEX);
    return FALSE;
  }
  static BOOL WINAPI WriteClient(isapi::HConn connection, LPVOID buffer, LPDWORD bytes, DWORD) {
    TRequest* request = Of(connection);
    std::lock_guard<std::mutex> guard(request->Lock);
    request->Written.append(static_cast<const char*>(buffer), *bytes);
    ++request->Writes;
    return TRUE;
  }
  static BOOL WINAPI ReadClient(isapi::HConn, LPVOID, LPDWORD size) {
    *size = 0;
    return TRUE;
  }
  static BOOL WINAPI ServerSupportFunction(isapi::HConn connection, DWORD code, LPVOID buffer, LPDWORD size,
                                           LPDWORD type) {
    if (code != isapi::kSendResponseHeader) return FALSE;
    TRequest* request = Of(connection);
    std::lock_guard<std::mutex> guard(request->Lock);
    request->Status.assign(static_cast<const char*>(buffer), *size);
    request->Headers = reinterpret_cast<const char*>(type);
    request->WrittenBeforeHeaders = request->Written.size();
    return TRUE;
  }

  std::string Query;
  isapi::ExtensionControlBlock Block{};
  std::mutex Lock;
  std::string Written, Status, Headers;
  size_t WrittenBeforeHeaders = 0;
  int32_t Writes = 0;
};

// Serves `request` on a thread of the server, as a web server does.
DWORD Serve(isapi::HttpExtensionProcProc proc, TRequest& request) {
  DWORD status = 0;
  std::thread([&] { status = proc(&request.Block); }).join();
  return status;
}

std::string LastPage(HMODULE module) {
  using TLastPage = void (*)(char*, size_t);
  auto lastPage = reinterpret_cast<TLastPage>(GetProcAddress(module, "IsapiExtensionLastPage"));
  if (lastPage == nullptr) return "(no export)";
  char page[4096];
  lastPage(page, sizeof page);
  return page;
}

}  // namespace

TEST(IsapiExtension, AFailedRequestIsAnsweredWithTheErrorPageThroughWriteClient) {
  std::remove("isapiextension.elf");
  HMODULE module = LoadLibraryA(kExtension);
  ASSERT_NE(module, nullptr);
  // Like a server: every entry is looked up before the extension runs any code of the library.
  auto getVersion = reinterpret_cast<isapi::GetExtensionVersionProc>(GetProcAddress(module, "GetExtensionVersion"));
  auto proc = reinterpret_cast<isapi::HttpExtensionProcProc>(GetProcAddress(module, "HttpExtensionProc"));
  auto terminate = reinterpret_cast<isapi::TerminateExtensionProc>(GetProcAddress(module, "TerminateExtension"));
  ASSERT_NE(getVersion, nullptr);
  ASSERT_NE(proc, nullptr);
  ASSERT_NE(terminate, nullptr);
  isapi::VersionInfo version{};
  ASSERT_TRUE(getVersion(&version));
  EXPECT_EQ(version.ExtensionVersion, isapi::kVersion);

  TRequest failing("fail");
  EXPECT_EQ(Serve(proc, failing), isapi::kStatusError);
  // The block is the server's again, answered with status 200 and the library's status text.
  EXPECT_EQ(failing.Block.WriteClient, &TRequest::WriteClient);
  EXPECT_EQ(failing.Block.HttpStatusCode, 200u);
  EXPECT_EQ(failing.Status, "200 Error");
  // What the extension wrote went out first, then the error page with its length in the headers.
  ASSERT_EQ(failing.WrittenBeforeHeaders, std::string(kStart).size());
  EXPECT_EQ(failing.Written.substr(0, failing.WrittenBeforeHeaders), kStart);
  const std::string page = failing.Written.substr(failing.WrittenBeforeHeaders);
  EXPECT_EQ(failing.Headers, "Content-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
                                 "\r\nContent:\r\n\r\n");
  EXPECT_NE(page.find("<title>"), std::string::npos) << page.substr(0, 400);
  EXPECT_NE(page.find("Extension failure"), std::string::npos) << page.substr(0, 2000);
  EXPECT_NE(page.find("<!-- EmberLog ID: "), std::string::npos);
  EXPECT_NE(page.find("history.go(-1)"), std::string::npos);
  EXPECT_EQ(failing.Writes, 2);
  // The last page kept for the report is the extension's own, not the library's answer.
  EXPECT_EQ(LastPage(module), kStart);

  // A request that succeeds is served as the extension answers it.
  TRequest fine("ok");
  EXPECT_EQ(Serve(proc, fine), isapi::kStatusSuccess);
  EXPECT_EQ(fine.Block.WriteClient, &TRequest::WriteClient);
  EXPECT_EQ(fine.Written, std::string(kStart) + "</body></html>");
  EXPECT_EQ(fine.Status, "");
  EXPECT_EQ(LastPage(module), fine.Written);

  EXPECT_TRUE(terminate(0));
  // Detached: the extension's own code runs again, unwrapped.
  TRequest after("ok");
  EXPECT_EQ(proc(&after.Block), isapi::kStatusSuccess);
  EXPECT_EQ(after.Written, std::string(kStart) + "</body></html>");
  FreeLibrary(module);
}
