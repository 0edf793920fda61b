// Mantis, Bugzilla and FogBugz senders driving the trackers' HTML forms.
#include "EBugTrackers.h"

#include <cstdio>
#include <memory>

#include "EDeliverySupport.h"
#include "EHtmlForms.h"
#include "detail/EDeliveryPlatform_p.h"

namespace {

// The four standard fields the pipeline appends after the custom ones.
constexpr size_t kStandardFieldCount = 4;

std::string FieldValue(const std::vector<std::string>& fields, const std::string& name) {
  for (const std::string& line : fields)
    if (line.size() > name.size() && line.compare(0, name.size(), name) == 0 && line[name.size()] == '=')
      return line.substr(name.size() + 1);
  return std::string();
}

// The form helpers over one connection: each reads the body of the last response.
class FormSession {
 public:
  FormSession(THTTPConnection& connection, THTTPResponse& response)
      : connection_(connection), response_(response) {}

  void PrepareRequest(const std::string& page, uint8_t method) {
    connection_.NextURL = connection_.RequestPath() + page;
    connection_.Method = method;
    connection_.Fields.clear();
    connection_.Files.clear();
  }
  bool Request(bool showProgress = false) { return connection_.Request(showProgress, response_); }
  const std::string& Body() const { return response_.Body; }

  void AddField(const std::string& name, const std::string& value) { connection_.Fields.emplace_back(name, value); }
  void AddFile(const std::string& name, const std::string& path) { connection_.Files.emplace_back(name, path); }
  void AddInputField(const std::string& name) {
    std::string value;
    if (FindInputValue(Body(), name, value)) AddField(name, value);
  }
  void AddTextAreaField(const std::string& name) {
    std::string text;
    if (FindTextAreaText(Body(), name, text)) AddField(name, text);
  }
  std::string SelectedValue(const std::string& name, bool& found) const {
    std::vector<THtmlOption> options;
    found = false;
    if (!FindSelectOptions(Body(), name, options)) return std::string();
    for (const THtmlOption& option : options)
      if (option.Selected) {
        found = true;
        return option.Value;
      }
    return std::string();
  }
  void AddSelectedField(const std::string& name) {
    bool found;
    std::string value = SelectedValue(name, found);
    if (found)
      AddField(name, value);
    else
      AddInputField(name);
  }
  void AddSelectedFieldIfAny(const std::string& name) {
    bool found;
    std::string value = SelectedValue(name, found);
    if (found) AddField(name, value);
  }
  void AddOptionField(const std::string& name, const std::string& text) {
    std::vector<THtmlOption> options;
    if (FindSelectOptions(Body(), name, options))
      for (const THtmlOption& option : options)
        if (option.Text == text) {
          AddField(name, option.Value);
          return;
        }
    AddSelectedFieldIfAny(name);
  }
  bool AddCounterField(const std::string& name) {
    std::string value, raised;
    FindInputValue(Body(), name, value);
    if (!RaiseSummaryCounter(value, raised)) return false;
    AddField(name, raised);
    return true;
  }
  void CopyCustomFields(const std::vector<std::string>& list) {
    size_t count = list.size() > kStandardFieldCount ? list.size() - kStandardFieldCount : 0;
    for (size_t i = 0; i < count; ++i) {
      size_t equals = list[i].find('=');
      std::string name = list[i].substr(0, equals);
      std::string value = equals == std::string::npos ? std::string() : list[i].substr(equals + 1);
      bool replaced = false;
      for (auto& field : connection_.Fields)
        if (field.first == name) {
          field.second = value;
          replaced = true;
        }
      if (!replaced) AddField(name, value);
    }
  }
  bool PageIs(const std::string& page, const std::string& contains = std::string(),
              const std::string& lacks = std::string()) const {
    if (!page.empty() && LowerCase(response_.Document) != LowerCase(page)) return false;
    if (!contains.empty() && !ContainsNoCase(Body(), contains)) return false;
    if (!lacks.empty() && ContainsNoCase(Body(), lacks)) return false;
    return true;
  }
  bool Contains(const std::string& text) const { return ContainsNoCase(Body(), text); }
  void SetStatus(int32_t stage) { connection_.SetStatus(stage); }

 private:
  THTTPConnection& connection_;
  THTTPResponse& response_;
};

// Runs `body` with a connection to the tracker; the connection is freed in every case, and a
// failure to connect or a raise inside counts as `failure`.
template <typename Body>
int32_t WithConnection(const TTrackerSendInput& input, THTTPResponse& response, int32_t failure, Body body) {
  try {
    THTTPConnection connection(input.TrackerURL, input.ProxyURL);
    FormSession form(connection, response);
    return body(form);
  } catch (...) {
    return failure;
  }
}

}  // namespace

// --- Form helpers

bool RaiseSummaryCounter(const std::string& value, std::string& raised) {
  raised = value;
  size_t dash = value.find(" - ");
  if (dash == std::string::npos) return true;
  size_t close = value.find(']', dash);
  if (close == std::string::npos) return true;
  std::string digits = value.substr(dash + 3, close - dash - 3);
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return true;
  int32_t counter = std::stoi(digits);
  if (counter >= EmberTrackerCounterLimit) return false;
  raised = value.substr(0, dash + 3) + std::to_string(counter + 1) + value.substr(close);
  return true;
}

std::string SummaryText(const std::string& version, const std::string& className, const std::string& identifier) {
  return "[v" + version + " - 1]: " + className + " (" + identifier + ")";
}

std::string JoinTexts(const std::string& a, const std::string& b) {
  if (b.empty()) return a;
  return a + "\r\n\r\n---\r\n\r\n" + b;
}

// --- Mantis

int32_t THTTPMantisSendReport::Send() {
  TTrackerSendInput in = input_;
  in.Project = DeliveryAnsiToUtf8(in.Project);
  in.Category = DeliveryAnsiToUtf8(in.Category);
  in.AssignedTo = DeliveryAnsiToUtf8(in.AssignedTo);
  in.ExceptionMessage = DeliveryAnsiToUtf8(in.ExceptionMessage);
  std::string reproduce = DeliveryAnsiToUtf8(FieldValue(in.Fields, "EL_ReproduceText"));
  return WithConnection(in, response_, trUnknownError, [&](FormSession& form) -> int32_t {
    form.SetStatus(2);
    form.PrepareRequest("login.php", THTTPConnectionBase::kPost);
    form.AddField("return", "login_select_proj_page.php");
    form.AddField("username", in.User);
    form.AddField("password", in.Password);
    if (!form.Request() || !(form.PageIs("login_select_proj_page.php", "name=\"project_id\"") ||
                             form.PageIs("my_view_page.php", "bug_report_page.php\">")))
      return trLoginFailed;

    form.SetStatus(3);
    if (!form.PageIs("my_view_page.php", "", "<select name=\"project_id\"")) {
      form.PrepareRequest("set_project.php", THTTPConnectionBase::kPost);
      form.AddOptionField("project_id", in.Project);
      if (!form.Request()) return trProjectFailed;
    }
    if (!(form.Contains(">" + in.Project + "</option>") || form.Contains(" " + in.Project + "</option>") ||
          !form.Contains("<select name=\"project_id\"")))
      return trProjectFailed;

    form.SetStatus(4);
    form.PrepareRequest("view_all_set.php?f=3", THTTPConnectionBase::kPost);
    form.AddField("type", "1");
    form.AddField("page_number", "1");
    form.AddField("view_type", "simple");
    form.AddField("search", in.ClassName + " (" + in.Identifier + ")");
    if (!form.Request() || !(form.PageIs("view_all_bug_page.php", "name=\"reset_query_button\"") ||
                             form.PageIs("view_all_bug_page.php", "name=\"source_query_id\"")))
      return trSearchFailed;

    std::string id = TextAfter(form.Body(), "bug_update_page.php?bug_id=");
    if (id.empty()) id = TextAfter(form.Body(), "bug_update_advanced_page.php?bug_id=");
    if (id.empty()) {
      form.PrepareRequest("bug_report_advanced_page.php", THTTPConnectionBase::kGet);
      if (!form.Request() || !form.Contains("name=\"file\" type=\"file\"")) return trInsertFailed;
      form.PrepareRequest("bug_report.php", THTTPConnectionBase::kMultipart);
      form.AddInputField("m_id");
      form.AddInputField("project_id");
      form.AddOptionField("handler_id", in.AssignedTo);
      form.AddOptionField("category", in.Category);
      form.AddField("reproducibility", "10");
      form.AddSelectedField("severity");
      form.AddSelectedField("priority");
      form.AddInputField("platform");
      form.AddField("os", FieldValue(in.Fields, "EL_OSType"));
      form.AddField("os_build", FieldValue(in.Fields, "EL_OSBuild"));
      form.AddField("build", in.Version);
      form.AddField("summary", SummaryText(in.Version, in.ClassName, in.Identifier));
      form.AddField("description", in.ExceptionMessage);
      form.AddField("steps_to_reproduce", reproduce);
      form.AddField("additional_info", "");
      form.AddField("view_state", "10");
      form.AddInputField("report_stay");
      form.AddInputField("bug_report_token");
      form.AddOptionField("category_id", in.Category);
      form.CopyCustomFields(in.Fields);
      if (!in.Attachment.empty()) form.AddFile("file", in.Attachment);
      if (!form.Request(true) || !form.PageIs("bug_report.php", "href=\"view.php?id=")) return trInsertFailed;
      return trSent;
    }

    form.SetStatus(5);
    form.PrepareRequest("bug_update_page.php", THTTPConnectionBase::kGet);
    form.AddField("bug_id", id);
    if (!form.Request() || !form.Contains("name=\"severity\"")) return trModifyFailed;
    bool found;
    std::string status = form.SelectedValue("status", found);
    form.PrepareRequest("bug_update.php", THTTPConnectionBase::kPost);
    if (!form.AddCounterField("summary")) return trSent;
    if (status == "80" || status == "90") return trClosed;
    form.AddField("bug_id", id);
    form.AddInputField("update_mode");
    for (const char* name : {"category", "severity", "reproducibility", "reporter_id", "view_state", "handler_id",
                             "priority"})
      form.AddSelectedField(name);
    form.AddSelectedFieldIfAny("resolution");
    for (const char* name : {"description", "additional_information", "bugnote_text"}) form.AddTextAreaField(name);
    form.AddField("build", in.Version);
    form.AddInputField("bug_update_token");
    form.AddSelectedField("category_id");
    form.CopyCustomFields(in.Fields);
    if (!form.Request(true) || !(form.PageIs("bug_update.php", "href=\"view.php?id=") ||
                                 form.PageIs("view.php", "href=\"view.php?id=")))
      return trModifyFailed;
    return trSent;
  });
}

// --- Bugzilla

namespace {

void AddBugzillaVersion(FormSession& form, const std::string& version) {
  if (form.Contains("<option value=\"" + version + "\">"))
    form.AddField("version", version);
  else
    form.AddSelectedField("version");
}

}  // namespace

int32_t THTTPBugzillaSendReport::Send() {
  const TTrackerSendInput& in = input_;
  return WithConnection(in, response_, trUnknownError, [&](FormSession& form) -> int32_t {
    form.SetStatus(2);
    form.PrepareRequest("enter_bug.cgi", THTTPConnectionBase::kPost);
    form.AddField("project", in.Project);
    form.AddField("Bugzilla_login", in.User);
    form.AddField("Bugzilla_password", in.Password);
    if (!form.Request() || !(form.PageIs("enter_bug.cgi", "relogin.cgi") ||
                             form.PageIs("enter_bug.cgi", "index.cgi?logout=1")))
      return trLoginFailed;

    form.SetStatus(4);
    form.PrepareRequest("buglist.cgi", THTTPConnectionBase::kGet);
    form.AddField("query_format", "specific");
    form.AddField("order", "relevance desc");
    form.AddField("bug_status", "__all__");
    form.AddField("product", in.Project);
    form.AddField("content", " (" + in.Identifier + ")");
    if (!form.Request() || !form.PageIs("buglist.cgi", "href=\"query.cgi?")) return trSearchFailed;

    std::string id = TextAfter(form.Body(), "show_bug.cgi?id=");
    if (id.empty()) {
      form.SetStatus(3);
      form.PrepareRequest("enter_bug.cgi", THTTPConnectionBase::kGet);
      form.AddField("product", in.Project);
      if (!form.Request() || !form.Contains("action=\"post_bug.cgi\"")) return trProjectFailed;
      form.PrepareRequest("post_bug.cgi", THTTPConnectionBase::kPost);
      form.AddInputField("product");
      AddBugzillaVersion(form, in.Version);
      bool found;
      std::string component = form.SelectedValue("component", found);
      if (component.empty()) {
        std::string marker = "components[0] = \"";
        size_t at = form.Body().find(marker);
        if (at != std::string::npos) {
          size_t end = form.Body().find('"', at + marker.size());
          component = form.Body().substr(at + marker.size(), end == std::string::npos ? 0 : end - at - marker.size());
        }
      }
      form.AddField("component", component);
      for (const char* name : {"rep_platform", "op_sys", "priority", "bug_severity", "target_milestone"})
        form.AddSelectedField(name);
      form.AddInputField("bug_status");
      form.AddField("assigned_to", in.AssignedTo.empty() ? in.User : in.AssignedTo);
      for (const char* name : {"qa_contact", "cc", "estimated_time", "deadline", "bug_file_loc"}) form.AddInputField(name);
      form.AddField("short_desc", SummaryText(in.Version, in.ClassName, in.Identifier));
      form.AddField("comment", JoinTexts(in.ExceptionMessage, FieldValue(in.Fields, "EL_ReproduceText")));
      for (const char* name : {"keywords", "dependson", "blocked"}) form.AddInputField(name);
      form.AddField("form_name", "enter_bug");
      form.AddSelectedFieldIfAny("bug_status");
      form.CopyCustomFields(in.Fields);
      if (!form.Request() || !form.PageIs("post_bug.cgi", "show_bug.cgi?id=")) return trInsertFailed;

      std::string bugId;
      FindInputValue(form.Body(), "id", bugId);
      form.PrepareRequest("attachment.cgi", THTTPConnectionBase::kMultipart);
      form.AddField("bugid", bugId);
      form.AddField("action", "insert");
      form.AddField("description", "FILE");
      form.AddField("contenttypemethod", "list");
      form.AddField("contenttypeselection", "application/octet-stream");
      form.AddField("contenttypeentry", "");
      for (const char* name : {"flag_type-1", "flag_type-2", "flag_type-3", "flag_type-4"}) form.AddField(name, "X");
      form.AddField("comment", "");
      if (!in.Attachment.empty()) form.AddFile("data", in.Attachment);
      if (!form.Request(true) || !form.PageIs("attachment.cgi", "attachment.cgi")) return trInsertFailed;
      return trSent;
    }

    form.SetStatus(5);
    form.PrepareRequest("show_bug.cgi", THTTPConnectionBase::kGet);
    form.AddField("id", id);
    if (!form.Request() || !(form.Contains("name=\"form_name\"") || form.Contains("type=\"hidden\" id=\"component\"") ||
                             form.Contains("select id=\"component\" name=\"component\"") ||
                             form.Contains("<label for=\"component\" accesskey=\"")))
      return trModifyFailed;
    form.PrepareRequest("process_bug.cgi", THTTPConnectionBase::kPost);
    if (!form.AddCounterField("short_desc")) return trSent;
    if (form.Contains("value=\"reopen\"") || form.Contains("value=\"reopened\"")) return trClosed;
    for (const char* name : {"delta_ts", "longdesclength", "id", "token", "alias"}) form.AddInputField(name);
    std::string location;
    form.AddField("bug_file_loc", FindInputValue(form.Body(), "bug_file_loc", location) ? location : "");
    for (const char* name : {"product", "component", "rep_platform", "op_sys"}) form.AddSelectedField(name);
    AddBugzillaVersion(form, in.Version);
    for (const char* name : {"priority", "bug_severity", "target_milestone"}) form.AddSelectedField(name);
    for (const char* name : {"newcc", "cc", "qa_contact", "status_whiteboard", "keywords"}) form.AddInputField(name);
    form.AddField("flag_type-6", "X");
    for (const char* name : {"requestee_type-6", "dependson", "blocked"}) form.AddInputField(name);
    form.AddTextAreaField("comment");
    form.AddField("knob", "none");
    form.AddSelectedFieldIfAny("resolution");
    for (const char* name : {"dup_id", "assigned_to", "form_name"}) form.AddInputField(name);
    form.CopyCustomFields(in.Fields);
    if (!form.Request(true) || !form.PageIs("process_bug.cgi", "show_bug.cgi?id=")) return trModifyFailed;
    return trSent;
  });
}

// --- FogBugz

int32_t THTTPFogBugzSendReport::Send() {
  const TTrackerSendInput& in = input_;
  return WithConnection(in, response_, trUnknownError, [&](FormSession& form) -> int32_t {
    form.SetStatus(2);
    form.PrepareRequest("default.asp", THTTPConnectionBase::kPost);
    form.AddField("pre", "preLogon");
    form.AddField("dest", "");
    form.AddField("sPerson", in.User);
    form.AddField("sPassword", in.Password);
    form.AddField("fRememberPassword", "0");
    std::string trial = FieldValue(in.Fields, "FogBugzTrialID");
    if (!trial.empty()) form.AddField("ID", trial);
    if (!form.Request() || !form.PageIs("default.asp", "pre=preLogOff")) return trLoginFailed;

    form.SetStatus(4);
    form.PrepareRequest("default.asp", THTTPConnectionBase::kGet);
    form.AddField("pre", "preSearch");
    form.AddField("pg", "pgList");
    form.AddField("pgBack", "pgSearch");
    form.AddField("search", "1");
    form.AddField("bAlsoSearchClosedBugs", "ON");
    form.AddField("searchFor", in.ClassName + " (" + in.Identifier + ")");
    if (!form.Request() || !form.Contains("searchFor=")) return trSearchFailed;

    bool earlier = form.Contains("default.asp?pg=pgeditbug") || form.Contains("default.asp?pgx=EV&amp;ixBug=");
    auto submitAddress = [&form]() {
      std::string marker = "sActionToken=";
      size_t at = form.Body().find(marker);
      if (at == std::string::npos) return std::string("default.asp?pre=preSubmitBug");
      size_t end = form.Body().find('"', at + marker.size());
      std::string token = form.Body().substr(at + marker.size(),
                                             end == std::string::npos ? std::string::npos : end - at - marker.size());
      return "default.asp?pre=preSubmitBug&sActionToken=" + token;
    };
    if (!earlier) {
      form.SetStatus(3);
      form.PrepareRequest("default.asp", THTTPConnectionBase::kGet);
      form.AddField("command", "new");
      form.AddField("pg", "pgEditBug");
      if (!form.Request() || !form.PageIs("default.asp")) return trInsertFailed;
      form.PrepareRequest(submitAddress(), THTTPConnectionBase::kMultipart);
      for (const char* name : {"command", "dtTimeStamp", "ixBug", "ixBugEventLatest", "ixPersonLastOwner",
                               "ixDiscussTopic", "ixScreenshot", "sOriginalTitle"})
        form.AddInputField(name);
      form.AddField("sTitle", SummaryText(in.Version, in.ClassName, in.Identifier));
      form.AddField("sEvent", JoinTexts(in.ExceptionMessage, FieldValue(in.Fields, "EL_ReproduceText")));
      form.AddOptionField("ixProject", in.Project);
      form.AddOptionField("ixArea", in.Project + ": " + in.Category);
      if (in.AssignedTo.empty())
        form.AddSelectedField("ixPersonAssignedTo");
      else
        form.AddOptionField("ixPersonAssignedTo", in.AssignedTo);
      form.AddSelectedField("ixCategory");
      form.AddSelectedField("ixFixFor");
      form.AddField("ixPriority", "1");
      form.AddInputField("sDueDate");
      form.AddInputField("sDueTime");
      form.AddField("hrsCurrEstNew", "");
      for (const char* name : {"hrsElapsedNew", "omitAtt", "fIEFileBrowse"}) form.AddInputField(name);
      form.AddField("sVersion", in.Version);
      form.AddInputField("sComputer");
      form.AddInputField("dblTimeStamp");
      form.CopyCustomFields(in.Fields);
      if (!in.Attachment.empty()) {
        form.AddField("nFileCount", "1");
        form.AddFile("File1", in.Attachment);
      } else {
        form.AddField("nFileCount", "0");
      }
      if (!form.Request(true) || !form.PageIs("default.asp", "command=resolve")) return trInsertFailed;
      return trSent;
    }

    form.SetStatus(5);
    std::string id = TextAfter(form.Body(), "ixBug=");
    form.PrepareRequest("default.asp", THTTPConnectionBase::kGet);
    form.AddField("pg", "pgEditBug");
    form.AddField("command", "edit");
    form.AddField("ixBug", id);
    if (!form.Request() || !form.Contains("name=\"OK\"")) return trModifyFailed;
    form.PrepareRequest(submitAddress(), THTTPConnectionBase::kMultipart);
    if (!form.AddCounterField("sTitle")) return trSent;
    if (form.Contains("default.asp?pg=pgEditReleaseNotes")) return trClosed;
    form.AddInputField("command");
    form.AddInputField("dtTimeStamp");
    form.AddField("ixBug", id);
    for (const char* name : {"ixBugEventLatest", "ixPersonLastOwner", "ixDiscussTopic", "ixScreenshot",
                             "sOriginalTitle", "sEvent"})
      form.AddInputField(name);
    for (const char* name : {"ixProject", "ixArea", "ixPersonAssignedTo", "ixCategory", "ixFixFor", "ixPriority"})
      form.AddSelectedField(name);
    for (const char* name : {"sDueDate", "sDueTime", "hrsCurrEstNew", "hrsElapsedNew", "dblTimeStamp",
                             "fIEFileBrowse", "fIEFileBrowse", "hrsCurrEstNew", "idSubscriptionState",
                             "ixDiscussTopic", "ixPersonLastOwner", "nFileCount", "omitAtt", "sComputer"})
      form.AddInputField(name);
    form.AddTextAreaField("sEvent");
    form.AddInputField("sOriginalTitle");
    form.AddField("sVersion", in.Version);
    form.CopyCustomFields(in.Fields);
    if (!form.Request(true) || !form.PageIs("default.asp", "command=resolve")) return trModifyFailed;
    return trSent;
  });
}

// --- Pipeline side

bool SendTrackerReport(int32_t mode, const TEmberTrackerSettings& settings, int32_t& result) {
  TTrackerSendInput input;
  input.Version = settings.Version;
  input.ClassName = settings.ClassName;
  input.Identifier = settings.Identifier;
  input.ExceptionMessage = settings.ExceptionMessage;
  input.AssignedTo = settings.AssignedTo;
  input.Category = settings.Category;
  input.Project = settings.Project;
  input.User = settings.Web.User;
  input.Password = settings.Web.Password;
  input.Attachment = settings.Web.Attachments.empty() ? std::string() : settings.Web.Attachments.front();
  input.Fields = settings.Web.CustomFields;
  input.Fields.push_back("FogBugzTrialID=" + settings.FogBugzTrialID);
  input.Fields.push_back("EL_OSType=" + settings.OSType);
  input.Fields.push_back("EL_OSBuild=" + settings.OSBuild);
  input.Fields.push_back("EL_ReproduceText=" + settings.ReproduceText);
  uint16_t port = settings.Web.Port > 0 && settings.Web.Port < 65536 ? static_cast<uint16_t>(settings.Web.Port) : 0;
  input.TrackerURL = AddURLCredentials(settings.Web.URL, settings.Web.User, settings.Web.Password, port);
  if (!Trim(settings.Web.ProxyHost).empty())
    input.ProxyURL = AddURLCredentials(Trim(settings.Web.ProxyHost), settings.Web.ProxyUser,
                                       settings.Web.ProxyPassword, settings.Web.ProxyPort);

  std::unique_ptr<THTTPSendReport> sender;
  switch (mode) {
    case 4: sender = std::make_unique<THTTPBugzillaSendReport>(input); break;
    case 5: sender = std::make_unique<THTTPFogBugzSendReport>(input); break;
    case 6: sender = std::make_unique<THTTPMantisSendReport>(input); break;
    default: result = trSent; return true;
  }
  result = sender->Send();
  DeliveryProgressClose();
  if (result == trSent || result == trClosed) return true;
  static const int32_t kTexts[] = {147, 147, 147, 148, 150, 149, 151, 152};
  int32_t index = result >= 0 && result <= trModifyFailed ? kTexts[result] : 147;
  char detail[64];
  std::snprintf(detail, sizeof detail, "Error Code: %d\r\nError Message: \"", sender->Response().ErrorCode);
  RecordDeliveryWarning(eeWebTrakerError,
                        DeliveryText(index) + "\r\n\r\n" + detail + sender->Response().ErrorText + "\"");
  return false;
}
