// Filing a report in a Mantis, Bugzilla or FogBugz tracker through its ordinary HTML forms: log
// in, choose the project, search for an earlier report of the same error, then add a new report
// with the zip attached, raise the repeat counter of the earlier one, or stop when it is closed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EHttp.h"

// Results of Send.
enum : int32_t {
  trSent = 0,
  trClosed = 1,
  trUnknownError = 2,
  trLoginFailed = 3,
  trProjectFailed = 4,
  trSearchFailed = 5,
  trInsertFailed = 6,
  trModifyFailed = 7
};
// The repeat counter of a report stops here.
constexpr int32_t EmberTrackerCounterLimit = 9999;

// What a sender is given.
struct TTrackerSendInput {
  std::string Version;           // the application's version text
  std::string ClassName;         // the exception's class
  std::vector<std::string> Fields;  // custom "name=value" fields, then the four standard ones
  std::string Attachment;        // the zip (empty: none)
  std::string AssignedTo, Category, Project;
  std::string User, Password;
  std::string ProxyURL;
  std::string TrackerURL;        // with user, password and port put into it
  std::string Identifier;        // what identifies the same error
  std::string ExceptionMessage;
};

// The sender base: Send answers one of the results above; the response of the last request is
// kept. No exception leaves Send for a rejected page or a failed request.
class THTTPSendReport : public TObject {
 public:
  explicit THTTPSendReport(const TTrackerSendInput& input) : input_(input) {}
  virtual int32_t Send() = 0;
  const THTTPResponse& Response() const { return response_; }

 protected:
  TTrackerSendInput input_;
  THTTPResponse response_;
};

class THTTPMantisSendReport : public THTTPSendReport {
 public:
  using THTTPSendReport::THTTPSendReport;
  int32_t Send() override;
};

class THTTPBugzillaSendReport : public THTTPSendReport {
 public:
  using THTTPSendReport::THTTPSendReport;
  int32_t Send() override;
};

class THTTPFogBugzSendReport : public THTTPSendReport {
 public:
  using THTTPSendReport::THTTPSendReport;
  int32_t Send() override;
};

// --- Form helpers (portable; tested on their own)

// A value in the summary form "[v<version> - <n>]: ..." with n raised by one; false when n has
// reached the limit. A value without the form is returned unchanged.
bool RaiseSummaryCounter(const std::string& value, std::string& raised);
// "[v%s - 1]: %s (%s)".
std::string SummaryText(const std::string& version, const std::string& className, const std::string& identifier);
// a + "\r\n\r\n---\r\n\r\n" + b when b is not empty, else a.
std::string JoinTexts(const std::string& a, const std::string& b);

// --- Pipeline side

struct TEmberTrackerSettings {
  TEmberWebSendSettings Web;     // URL, user, password, port, proxy, custom fields, attachments
  std::string Version, ClassName, Identifier, ExceptionMessage;
  std::string AssignedTo, Category, Project;
  std::string FogBugzTrialID, OSType, OSBuild, ReproduceText;
};

// Web modes 4 (Bugzilla), 5 (FogBugz) and 6 (Mantis). Results 0 and 1 count as success; the
// others become the last error (eeWebTrakerError). `result` receives Send's answer (trClosed:
// the caller tells the user that the report is closed). Closes the progress display.
bool SendTrackerReport(int32_t mode, const TEmberTrackerSettings& settings, int32_t& result);
