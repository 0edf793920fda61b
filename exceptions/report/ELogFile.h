// The bug-report log file: the text layout of one report (numbered sections of aligned
// "name: value" lines), the writer of a report's sections (TLogItem) and the reader/editor of a
// whole log (TLogFile), which splits the file into reports, finds a report by a numbered field,
// edits single fields, appends reports under a cap and writes the file back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/DateUtils.h"
#include "classlib/Streams.h"
#include "classlib/System.h"

// Four line breaks: the end of one report and the gap before the next.
constexpr const char* kLogReportSeparator = "\r\n\r\n\r\n\r\n";
// Every stored report text ends with these three line breaks.
constexpr const char* kLogReportEnd = "\r\n\r\n\r\n";

// --- Text helpers

// Lone CR and lone LF become CR LF; CR LF pairs stay.
std::string NormalizeLineBreaks(const std::string& text);

// "yyyy-mm-dd hh:nn:ss" (24-hour clock), independent of the locale.
std::string FormatReportDate(TDateTime date);
// "yyyymmddhhnnss", for file names.
std::string FormatCompactDate(TDateTime date);

// The stored form of a field value whose value column is `indent` characters from the line start,
// as the writer lays it out: with several lines, ": " is kept as ":_", an empty or all-blank
// line is kept as "." and every line after the first starts with `indent` blanks. A one-line value
// is stored as it is. The result ends with CR LF.
std::string FormatItemValue(const std::string& value, int32_t indent);

// --- TLogItem

// Writer of one report text (or one inserted section). Sections are numbered from the first
// section number + 1; every offered field consumes a number, shown or not.
class TLogItem : public TObject {
 public:
  explicit TLogItem(int32_t firstSection = 0);

  void Clear();
  // Starts a new section; its title must hold no colon.
  void AddSection(const std::string& title);
  // Offers the next field of the current section; only a visible field is written. Line breaks
  // of any kind in `value` become CR LF; several lines make a multi-line value.
  void AddItem(const std::string& name, const std::string& value, bool visible = true);
  // The finished text: empty sections dropped, colons aligned, titles underlined; every line
  // ends with CR LF.
  void BuildText(std::string& text) const;
  std::string BuildText() const;

  const std::string& RawText() const { return text_; }
  int32_t SectionNumber() const { return sectionNumber_; }
  int32_t ItemNumber() const { return itemNumber_; }

 private:
  std::string text_;
  int32_t sectionNumber_ = 0;
  int32_t itemNumber_ = 0;
  int32_t firstSection_ = 0;
};

// The three layout passes of TLogItem::BuildText over a list of lines, exposed for the report
// builder that lays out its own texts the same way. A title line is a non-empty line that does
// not begin with a blank and whose first ":" is its last character.
bool IsLogTitleLine(const std::string& line);
void DeleteEmptySections(std::vector<std::string>& lines);
void AlignItemColons(std::vector<std::string>& lines);
void UnderlineSections(std::vector<std::string>& lines);

// --- Report sections inserted after the head

// The texts of the report being built that an inserted section changes. Offsets count bytes.
struct TLogReportTexts {
  std::string ReportText;        // the whole report
  std::string DialogReportText;  // the dialog's copy of it
  int32_t HeadLength = 0;        // length of the report's head part
  std::string SendText;          // the text offered for sending
};

// A one-section report piece numbered after `firstSection`, with one visible unnamed field that
// holds `text`, followed by CR LF; empty for an empty `text`.
std::string BuildReportTextSection(int32_t firstSection, const std::string& title,
                                   const std::string& text);
// The same with one field per "name=value" line (name and value trimmed); empty for no lines.
std::string BuildReportValuesSection(int32_t firstSection, const std::string& title,
                                     const std::vector<std::string>& values);
// Inserts a piece into the report and the dialog's copy two characters after the head part (past
// its line break), grows the head by the piece and offers the new report for sending. An empty
// piece changes nothing; an offset beyond a text inserts at its end.
void InsertReportPiece(TLogReportTexts& texts, const std::string& piece);
void InsertReportTextSection(TLogReportTexts& texts, int32_t firstSection,
                             const std::string& title, const std::string& text);
void InsertReportValuesSection(TLogReportTexts& texts, int32_t firstSection,
                               const std::string& title, const std::vector<std::string>& values);

// --- TLogFile

// The reports of one log file. Edits change only the list until SaveToFile. File-system errors
// (opening, creating, writing) raise the stream exceptions (EFOpenError, EFCreateError,
// EWriteError). Not thread-safe; the library uses it under its lock.
class TLogFile : public TObject {
 public:
  // An empty `fileName` gives a log without a file (SaveToFile then raises EFCreateError). A
  // name is expanded (%NAME% variables) and, on Windows, moved to the library's folder when it
  // cannot be used where it is. An existing file is opened (for reading only with `readOnly`,
  // sharing allowed) and loaded; a missing one is an empty log.
  TLogFile(const std::string& fileName, bool readOnly);
  ~TLogFile() override;

  const std::string& FileName() const { return fileName_; }
  int32_t GetCount() const { return static_cast<int32_t>(reports_.size()); }
  // Report `index` (ending with CR LF CR LF CR LF); empty outside the list.
  std::string GetReport(int32_t index) const;
  // All reports, each followed by CR LF.
  void GetText(std::string& text) const;
  std::string GetText() const;

  // Appends `text` (without its own final line breaks) + CR LF CR LF CR LF. With `maxCount` of 1 or more, the oldest reports are
  // dropped first so that at most maxCount reports remain; -1 (or any value below 1) is no cap.
  void AddReport(const std::string& text, int32_t maxCount);

  // The newest report in which one of the pairs fields[i]/values[i] (i = 0..high) matches; -1
  // when none does.
  int32_t FindItemByField(const std::vector<std::string>& fields, int32_t high,
                          const std::vector<std::string>& values) const;
  // The value of field `field` (such as "2.8") of report `report`; empty when either is absent.
  void GetItemField(const std::string& field, int32_t report, std::string& value) const;
  std::string GetItemField(const std::string& field, int32_t report) const;
  // Replaces the value of field `field`, or adds the field under `name` after the last field of
  // its section (fields x.1 .. x.19 looked for). Nothing happens outside the list or when the
  // section has no field.
  void SetItemField(const std::string& field, const std::string& value, int32_t report,
                    const std::string& name);

  // Reads the stream from its position to its end and replaces the reports.
  void LoadFromStream(TStream& stream);
  // Writes the reports back (creating the file when it did not exist) and truncates it there.
  void SaveToFile();

  // Used only by the XML conversion for enciphered names.
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& password) { password_ = password; }

 private:
  void SplitReports(std::string text);

  std::string fileName_;
  std::unique_ptr<TFileStream> stream_;
  std::vector<std::string> reports_;
  std::string password_;
};

// True when `reportText` holds field `field` (a line CR LF, two blanks, the field number and a
// blank) whose stored value is `value`.
bool ItemFieldEquals(const std::string& field, const std::string& value,
                     const std::string& reportText);
