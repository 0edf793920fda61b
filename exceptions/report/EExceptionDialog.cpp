// Portable half of the dialog machinery: the shared dialog state, the dialogs' texts and choices,
// the report fields the dialogs rewrite and the text-wrapping measure.
#include "EExceptionDialog.h"

#include "EBugReport.h"
#include "ELogManager.h"
#include "classlib/SysUtils.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/EmberTexts.h"
#include "exceptions/capture/EmberLogEvents.h"
#include "exceptions/capture/ExceptionLog.h"

const char* const EmberDialogIniFile = "EmberLog.ini";

namespace {

bool IsWordEnd(unsigned char c) {
  switch (c) {
    case ' ': case '!': case '%': case '(': case ')': case '-': case '?':
    case '[': case ']': case '{': case '}': case 0xA7: case 0xB0:
      return true;
    default:
      return false;
  }
}

}  // namespace

TEmberModuleOptions* DialogOptions() { return EmberLibrary().CurrentOptions.get(); }

std::string DialogText(int32_t index) {
  if (const TEmberModuleOptions* options = DialogOptions()) return options->GetCustomizedExpandedText(index);
  return ExpandVariables(GetDefaultText(index));
}

bool CanSendReport() {
  const TEmberModuleOptions* options = DialogOptions();
  if (!options) return false;
  bool method = options->EMailSendMode() != 0 || options->WebSendMode() != 0;
  return method && !LogReportState().RepeatedReport && (options->DialogFlags() & 0x80) != 0;
}

bool ShouldOfferTerminate() {
  const TEmberModuleOptions* options = DialogOptions();
  return options && options->TerminateAction() != 0 &&
         EmberDialogState().ExceptionCount > options->TerminateOfferCount();
}

// --- Report texts

bool IsValidEmail(const std::string& text) {
  return text.find('@') != std::string::npos && text.find('.') != std::string::npos;
}

void ReplaceReportField(std::string& reportText, const std::string& field, const std::string& value) {
  size_t line = reportText.find("\r\n  " + field + " ");
  if (line == std::string::npos) return;
  size_t end = reportText.find("\r\n", line + 2);
  if (end == std::string::npos) end = reportText.size();
  size_t colon = reportText.find(": ", line);
  if (colon == std::string::npos || colon >= end) return;
  reportText.replace(colon + 2, end - colon - 2, value);
}

void ReplaceReportEmail(std::string& reportText, const std::string& email) {
  ReplaceReportField(reportText, "3.3", email);
}

namespace {

// Every copy of the report the dialogs, the log writer and the senders use.
template <typename Change>
void ChangeReportCopies(Change change) {
  TEmberReportPieces& pieces = ReportPieces();
  change(pieces.ReportHeadText);
  change(pieces.ReportText);
  change(pieces.LastReportText);
  change(LogReportState().ReportText);
}

}  // namespace

void ApplyUserEmail(const std::string& email) {
  if (TEmberModuleOptions* options = DialogOptions()) options->SetUserEMail(email);
  ChangeReportCopies([&](std::string& text) { ReplaceReportEmail(text, email); });
  LogReportState().SendText = ReportPieces().ReportText;
}

void NoteInReport(const std::string& note) {
  // A note line holds one line: the value must not start a new field.
  std::string value = note;
  for (char& c : value)
    if (c == '\r' || c == '\n') c = ' ';
  ChangeReportCopies([&](std::string& text) { ReplaceReportField(text, "2.10", value); });
  TLogReportState& log = LogReportState();
  if (!log.SendText.empty()) ReplaceReportField(log.SendText, "2.10", value);
}

// --- Start-up

void InstallReportEvents() {
  TLogEvents events;
  events.ActionNotify = [](int32_t action, bool& execute) {
    uint8_t flag = execute ? 1 : 0;
    SynchronizeExceptionCall([&] { RaiseExceptionActionNotifyEvent(action, flag); });
    execute = flag != 0;
  };
  events.ErrorNotify = [](int32_t error, bool& retry) {
    uint8_t flag = retry ? 1 : 0;
    SynchronizeExceptionCall([&] { RaiseExceptionErrorNotifyEvent(error, flag); });
    retry = flag != 0;
  };
  SetLogEvents(events);
}

// --- Text measuring

int32_t WrappedTextHeight(const std::string& text, int32_t width, int32_t lineHeight, TEmberWordWidth wordWidth,
                          void* data) {
  int32_t usable = width - 6;
  if (usable < 1) usable = 1;
  int32_t height = 0;
  size_t start = 0;
  for (;;) {
    size_t end = text.find("\r\n", start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (line.empty()) line.assign(1, ' ');
    height += lineHeight;
    int32_t running = 0;
    std::string word;
    auto addWord = [&]() {
      if (word.empty()) return;
      int32_t w = wordWidth(word, data);
      running += w;
      int32_t lines = running / usable;
      if (lines > 0) {
        height += lines * lineHeight;
        running = w;
      }
      word.clear();
    };
    for (unsigned char c : line) {
      word += static_cast<char>(c);
      if (IsWordEnd(c)) addWord();
    }
    addWord();
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return height;
}
