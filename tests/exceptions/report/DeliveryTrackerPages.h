// A Bugzilla imitation for the tracker tests: the pages the sender reads, by document name.
#pragma once

#include <string>

#include "DeliveryHttpServer.h"

namespace testnet {

// The document name of a request target ("/bz/show_bug.cgi?id=1" -> "show_bug.cgi").
inline std::string DocumentOf(const std::string& target) {
  std::string path = target.substr(0, target.find('?'));
  return path.substr(path.rfind('/') + 1);
}

struct BugzillaState {
  bool earlier = false;  // a report of the same error exists (bug 17)
  bool reopen = false;   // that report is closed
  std::string summary = "[v1.0 - 4]: EBoom (ID1)";
  std::string versions = "<option value=\"0.8\">0.8</option><option value=\"0.9\" selected>0.9</option>";
};

inline std::string BugzillaPage(const HttpRequest& r, const BugzillaState& s) {
  std::string d = DocumentOf(r.target);
  auto page = [](const std::string& body) { return HttpAnswer("200 OK", "<html>" + body + "</html>"); };
  if (d == "enter_bug.cgi" && r.method == "POST") return page("<a href=\"index.cgi?logout=1\">Log out</a>");
  if (d == "buglist.cgi")
    return page(std::string("<a href=\"query.cgi?format=advanced\">Edit</a>") +
                (s.earlier ? "<a href=\"show_bug.cgi?id=17\">17</a>" : ""));
  if (d == "enter_bug.cgi")
    return page("<form action=\"post_bug.cgi\"><input type=\"hidden\" name=\"product\" value=\"Tarvik\">"
                "<select name=\"version\">" + s.versions + "</select>"
                "<script>var components = []; components[0] = \"Engine\";</script>"
                "<select name=\"rep_platform\"><option value=\"PC\" selected>PC</option></select>"
                "<select name=\"op_sys\"><option value=\"Windows\" selected>Windows</option></select>"
                "<select name=\"priority\"><option value=\"P2\" selected>P2</option></select>"
                "<select name=\"bug_severity\"><option value=\"critical\" selected>critical</option></select>"
                "<input name=\"bug_status\" value=\"NEW\"></form>");
  if (d == "post_bug.cgi") return page("Bug <a href=\"show_bug.cgi?id=18\">18</a> filed<input name=\"id\" value=\"18\">");
  if (d == "attachment.cgi") return page("<a href=\"attachment.cgi?id=5&amp;action=edit\">Attachment 5</a> added");
  if (d == "show_bug.cgi")
    return page("<form><input type=\"hidden\" name=\"form_name\" value=\"process_bug\">"
                "<input name=\"short_desc\" value=\"" + s.summary + "\">" +
                (s.reopen ? "<input type=\"radio\" name=\"knob\" value=\"reopen\">" : "") +
                "<input name=\"delta_ts\" value=\"2024-01-01\"><input name=\"token\" value=\"tok17\">"
                "<select name=\"product\"><option value=\"Tarvik\" selected>Tarvik</option></select>"
                "<textarea name=\"comment\"></textarea></form>");
  if (d == "process_bug.cgi") return page("Changes to <a href=\"show_bug.cgi?id=17\">17</a> submitted");
  return HttpAnswer("404 Not Found", "");
}

}  // namespace testnet
