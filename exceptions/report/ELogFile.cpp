// The bug-report log file: report text layout, the section writer and the log reader/editor.
#include "ELogFile.h"

#include <algorithm>
#include <cstdio>

#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"
#include "detail/EReportPlatform_p.h"

namespace {

const std::string kCrLf = "\r\n";
const std::string kSeparator = kLogReportSeparator;
const std::string kReportEnd = kLogReportEnd;
// A report block without a framed table ("-", CR LF, "|") is not a report.
const std::string kTableMark = "-\r\n|";

bool IsBlankText(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

// Splits at CR LF, lone CR or lone LF; a final line break starts no further line.
std::vector<std::string> SplitReportLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines, bool finalBreak) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    if (finalBreak || i + 1 < lines.size()) text += kCrLf;
  }
  return text;
}

// One past the last line of the section whose title is at `title`: the next empty line or the end.
size_t SectionEnd(const std::vector<std::string>& lines, size_t title) {
  size_t i = title + 2;
  while (i < lines.size() && !lines[i].empty()) ++i;
  return std::max(i, std::min(title + 2, lines.size()));
}

// Runs `pass(title, end)` over each section: its title line's index and SectionEnd.
template <typename Pass>
void ForEachSection(std::vector<std::string>& lines, Pass pass) {
  size_t i = 0;
  while (i < lines.size()) {
    if (!IsLogTitleLine(lines[i])) {
      ++i;
      continue;
    }
    const size_t end = SectionEnd(lines, i);
    pass(i, end);
    i = end;
  }
}

// The multi-line form the writer stores: ": " kept as ":_", empty lines as ".", every line after
// the first with `indent` blanks in front.
std::string StoreMultiLine(const std::string& value, const std::string& indent) {
  std::vector<std::string> lines = SplitReportLines(ReplaceAllText(value, ": ", ":_"));
  if (value.size() >= 2 && value.compare(value.size() - 2, 2, kCrLf) == 0) lines.push_back(std::string());
  for (size_t i = 0; i < lines.size(); ++i) {
    if (IsBlankText(lines[i])) lines[i].assign(1, '.');
    if (i > 0) lines[i].insert(0, indent);
  }
  return JoinLines(lines, false);
}

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// Where the line that holds field `field` starts (at its CR LF), or npos.
size_t FindFieldLine(const std::string& field, const std::string& report) {
  return report.find(kCrLf + "  " + field + " ");
}

// Start of the value (after the first ": " of the line at `lineStart`), or npos.
size_t ValueStart(const std::string& report, size_t lineStart) {
  size_t lineEnd = report.find(kCrLf, lineStart + 2);
  size_t colon = report.find(": ", lineStart + 2);
  if (colon == std::string::npos || (lineEnd != std::string::npos && colon > lineEnd)) return std::string::npos;
  return colon + 2;
}

// End of a value starting at `start`: before the line break followed by an empty line, by the
// next field line (two blanks and a non-blank fourth column), or the end of the text.
size_t ValueEnd(const std::string& report, size_t start) {
  size_t pos = start;
  while (true) {
    size_t lineBreak = report.find(kCrLf, pos);
    if (lineBreak == std::string::npos) return report.size();
    size_t next = lineBreak + 2;
    if (next >= report.size()) return lineBreak;
    if (report.compare(next, 2, kCrLf) == 0) return lineBreak;
    if (report.compare(next, 2, "  ") == 0 && next + 3 < report.size() && report[next + 3] != ' ' &&
        report[next + 3] != '\r')
      return lineBreak;
    pos = next;
  }
}

}  // namespace

// --- Text helpers

std::string NormalizeLineBreaks(const std::string& text) {
  if (!HasLineBreak(text)) return text;
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      out += kCrLf;
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += kCrLf;
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

std::string FormatDateFields(TDateTime date, bool compact) {
  int year, month, day, hour, minute, second, msec;
  DecodeDate(date, year, month, day);
  DecodeTime(date, hour, minute, second, msec);
  char text[32];
  std::snprintf(text, sizeof text, compact ? "%04d%02d%02d%02d%02d%02d" : "%04d-%02d-%02d %02d:%02d:%02d", year,
                month, day, hour, minute, second);
  return text;
}

}  // namespace

std::string FormatReportDate(TDateTime date) { return FormatDateFields(date, false); }

std::string FormatCompactDate(TDateTime date) { return FormatDateFields(date, true); }

std::string FormatItemValue(const std::string& value, int32_t indent) {
  std::string normal = NormalizeLineBreaks(value);
  // A one-line value is written as it stands (only multi-line values are escaped by the writer).
  if (!HasLineBreak(normal)) return normal + kCrLf;
  return StoreMultiLine(normal, std::string(static_cast<size_t>(std::max(indent, 0)), ' ')) + kCrLf;
}

// --- TLogItem

TLogItem::TLogItem(int32_t firstSection) : firstSection_(firstSection) { Clear(); }

void TLogItem::Clear() {
  text_.clear();
  sectionNumber_ = firstSection_;
  itemNumber_ = 0;
}

void TLogItem::AddSection(const std::string& title) {
  ++sectionNumber_;
  itemNumber_ = 0;
  if (!text_.empty()) text_ += kCrLf + kCrLf;
  text_ += title + ":" + kCrLf + "-";
}

void TLogItem::AddItem(const std::string& name, const std::string& value, bool visible) {
  ++itemNumber_;
  if (!visible) return;
  std::string prefix = "  " + std::to_string(sectionNumber_) + "." + std::to_string(itemNumber_) + " " + name + ": ";
  std::string normal = NormalizeLineBreaks(value);
  // Later lines get one blank here; AlignItemColons adds the rest of the value column.
  if (normal.find(kCrLf) != std::string::npos) normal = StoreMultiLine(normal, " ");
  text_ += kCrLf + prefix + normal;
}

void TLogItem::BuildText(std::string& text) const {
  std::vector<std::string> lines = SplitReportLines(text_);
  DeleteEmptySections(lines);
  AlignItemColons(lines);
  UnderlineSections(lines);
  text = JoinLines(lines, true);
}

std::string TLogItem::BuildText() const {
  std::string text;
  BuildText(text);
  return text;
}

// --- Layout passes

// A value line that ends in a colon is no title: value lines begin with blanks.
bool IsLogTitleLine(const std::string& line) {
  if (line.empty() || line[0] == ' ') return false;
  return line.find(':') == line.size() - 1;
}

void DeleteEmptySections(std::vector<std::string>& lines) {
  size_t i = 0;
  while (i < lines.size()) {
    if (!IsLogTitleLine(lines[i])) {
      ++i;
      continue;
    }
    if (i + 2 >= lines.size() || lines[i + 2].empty()) {
      size_t last = std::min(i + 3, lines.size());
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i), lines.begin() + static_cast<std::ptrdiff_t>(last));
      continue;
    }
    i += 3;
  }
}

void AlignItemColons(std::vector<std::string>& lines) {
  ForEachSection(lines, [&](size_t i, size_t end) {
    // Columns are 1-based; a line without ": " counts as column 0 and so receives the whole
    // indentation at its start.
    size_t column = 0;
    for (size_t k = i + 2; k < end; ++k) {
      size_t p = lines[k].find(": ");
      if (p != std::string::npos) column = std::max(column, p + 1);
    }
    for (size_t k = i + 2; k < end; ++k) {
      size_t p = lines[k].find(": ");
      size_t at = p == std::string::npos ? 0 : p;
      size_t own = p == std::string::npos ? 0 : p + 1;
      lines[k].insert(at, column - own, ' ');
    }
  });
}

void UnderlineSections(std::vector<std::string>& lines) {
  ForEachSection(lines, [&](size_t i, size_t end) {
    size_t longest = 0;
    for (size_t k = i + 2; k < end; ++k) longest = std::max(longest, lines[k].size());
    if (i + 1 < lines.size() && longest > 1) lines[i + 1].insert(0, longest - 1, '-');
  });
}

// --- Inserted sections

std::string BuildReportTextSection(int32_t firstSection, const std::string& title, const std::string& text) {
  if (text.empty()) return std::string();
  TLogItem item(firstSection);
  item.AddSection(title);
  item.AddItem(std::string(), text, true);
  return item.BuildText() + kCrLf;
}

std::string BuildReportValuesSection(int32_t firstSection, const std::string& title,
                                     const std::vector<std::string>& values) {
  if (values.empty()) return std::string();
  TLogItem item(firstSection);
  item.AddSection(title);
  for (const std::string& line : values) {
    size_t equals = line.find('=');
    std::string name = equals == std::string::npos ? line : line.substr(0, equals);
    std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
    item.AddItem(Trim(name), Trim(value), true);
  }
  return item.BuildText() + kCrLf;
}

void InsertReportPiece(TLogReportTexts& texts, const std::string& piece) {
  if (piece.empty()) return;
  size_t at = static_cast<size_t>(std::max(texts.HeadLength, 0)) + 2;
  texts.ReportText.insert(std::min(at, texts.ReportText.size()), piece);
  texts.DialogReportText.insert(std::min(at, texts.DialogReportText.size()), piece);
  texts.HeadLength += static_cast<int32_t>(piece.size());
  texts.SendText = texts.ReportText;
}

void InsertReportTextSection(TLogReportTexts& texts, int32_t firstSection, const std::string& title,
                             const std::string& text) {
  InsertReportPiece(texts, BuildReportTextSection(firstSection, title, text));
}

void InsertReportValuesSection(TLogReportTexts& texts, int32_t firstSection, const std::string& title,
                               const std::vector<std::string>& values) {
  InsertReportPiece(texts, BuildReportValuesSection(firstSection, title, values));
}

// --- TLogFile

TLogFile::TLogFile(const std::string& fileName, bool readOnly) : fileName_(fileName) {
  if (fileName_.empty()) return;
  ember_report::PrepareReportFile(fileName_, readOnly);
  if (!FileExists(fileName_)) return;
  uint16_t mode = (readOnly ? fmOpenRead : fmOpenReadWrite) | fmShareDenyNone;
  stream_ = std::make_unique<TFileStream>(fileName_, mode);
  LoadFromStream(*stream_);
}

TLogFile::~TLogFile() = default;

std::string TLogFile::GetReport(int32_t index) const {
  if (index < 0 || index >= GetCount()) return std::string();
  return reports_[static_cast<size_t>(index)];
}

void TLogFile::GetText(std::string& text) const {
  text.clear();
  for (const std::string& report : reports_) text += report + kCrLf;
}

std::string TLogFile::GetText() const {
  std::string text;
  GetText(text);
  return text;
}

void TLogFile::AddReport(const std::string& text, int32_t maxCount) {
  if (maxCount >= 1 && GetCount() >= maxCount) {
    size_t drop = reports_.size() - static_cast<size_t>(maxCount - 1);
    reports_.erase(reports_.begin(), reports_.begin() + static_cast<std::ptrdiff_t>(drop));
  }
  // The report's own final line breaks are dropped: a report that ended with one would otherwise
  // lend it to the next report when the log is read back, which then starts with an empty line.
  size_t end = text.find_last_not_of("\r\n");
  reports_.push_back((end == std::string::npos ? std::string() : text.substr(0, end + 1)) + kReportEnd);
}

int32_t TLogFile::FindItemByField(const std::vector<std::string>& fields, int32_t high,
                                  const std::vector<std::string>& values) const {
  int32_t pairs = std::min<int32_t>(high + 1, static_cast<int32_t>(std::min(fields.size(), values.size())));
  for (int32_t r = GetCount() - 1; r >= 0; --r) {
    for (int32_t k = 0; k < pairs; ++k) {
      if (ItemFieldEquals(fields[static_cast<size_t>(k)], values[static_cast<size_t>(k)],
                          reports_[static_cast<size_t>(r)]))
        return r;
    }
  }
  return -1;
}

bool ItemFieldEquals(const std::string& field, const std::string& value, const std::string& reportText) {
  size_t line = FindFieldLine(field, reportText);
  if (line == std::string::npos) return false;
  size_t start = ValueStart(reportText, line);
  if (start == std::string::npos) return false;
  std::string stored = FormatItemValue(value, static_cast<int32_t>(start - (line + 2)));
  return reportText.compare(start, stored.size(), stored) == 0 && start + stored.size() <= reportText.size();
}

void TLogFile::GetItemField(const std::string& field, int32_t report, std::string& value) const {
  value.clear();
  if (report < 0 || report >= GetCount()) return;
  const std::string& text = reports_[static_cast<size_t>(report)];
  size_t line = FindFieldLine(field, text);
  if (line == std::string::npos) return;
  size_t start = ValueStart(text, line);
  if (start == std::string::npos) return;
  size_t end = ValueEnd(text, start);
  size_t indent = start - (line + 2);
  std::string raw;
  for (size_t i = start; i < end; ++i) {
    if (text.compare(i, 2, kCrLf) == 0) {
      raw += kCrLf;
      i += 2;
      // Skip the indentation only; blanks of the value's own stay.
      for (size_t n = 0; n < indent && i < end && text[i] == ' '; ++n) ++i;
      --i;
      continue;
    }
    raw += text[i];
  }
  std::string out = raw;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '_' && i > 0 && raw[i - 1] == ':') out[i] = ' ';
    if (raw[i] == '.' && ((i > 0 && raw[i - 1] == '\n') || (i + 1 < raw.size() && raw[i + 1] == '\r'))) out[i] = ' ';
  }
  value = Trim(out);
}

std::string TLogFile::GetItemField(const std::string& field, int32_t report) const {
  std::string value;
  GetItemField(field, report, value);
  return value;
}

void TLogFile::SetItemField(const std::string& field, const std::string& value, int32_t report,
                            const std::string& name) {
  if (report < 0 || report >= GetCount()) return;
  std::string& text = reports_[static_cast<size_t>(report)];
  size_t line = FindFieldLine(field, text);
  if (line != std::string::npos) {
    size_t start = ValueStart(text, line);
    if (start == std::string::npos) return;
    size_t end = ValueEnd(text, start);
    std::string stored = FormatItemValue(value, static_cast<int32_t>(start - (line + 2)));
    stored.resize(stored.size() - 2);
    text.replace(start, end - start, stored);
    if (text.size() < kReportEnd.size() || text.compare(text.size() - kReportEnd.size(), kReportEnd.size(), kReportEnd) != 0)
      text += kCrLf;
    return;
  }
  size_t dot = field.find('.');
  if (dot == std::string::npos) return;
  std::string section = field.substr(0, dot + 1);
  size_t anchor = std::string::npos;
  for (int k = 1; k <= 19; ++k) {
    size_t found = FindFieldLine(section + std::to_string(k), text);
    if (found != std::string::npos) anchor = found;
  }
  if (anchor == std::string::npos) return;
  size_t colon = text.find(": ", anchor + 2);
  size_t lineEnd = text.find(kCrLf, anchor + 2);
  if (colon == std::string::npos || (lineEnd != std::string::npos && colon > lineEnd)) return;
  size_t width = colon - (anchor + 4);
  size_t sectionEnd = text.find(kCrLf + kCrLf, anchor + 2);
  if (sectionEnd == std::string::npos) return;
  std::string head = field + " " + name;
  if (head.size() < width) head.append(width - head.size(), ' ');
  std::string stored = FormatItemValue(value, static_cast<int32_t>(colon + 2 - (anchor + 2)));
  text.insert(sectionEnd + 2, "  " + head + ": " + stored);
}

void TLogFile::LoadFromStream(TStream& stream) {
  reports_.clear();
  int64_t remaining = stream.Remaining();
  if (remaining < static_cast<int64_t>(kSeparator.size())) return;
  std::string data(static_cast<size_t>(remaining), '\0');
  stream.ReadBuffer(data.data(), static_cast<int32_t>(remaining));
  if (data.compare(data.size() - kSeparator.size(), kSeparator.size(), kSeparator) != 0) data += kSeparator;
  SplitReports(std::move(data));
}

void TLogFile::SplitReports(std::string text) {
  text = NormalizeLineBreaks(text);
  size_t start = 0;
  if (text.compare(0, kSeparator.size(), kSeparator) == 0) start = kSeparator.size();
  while (true) {
    size_t found = text.find(kSeparator, start);
    if (found == std::string::npos) break;
    // More than four line breaks between reports belong to the gap, not to the next report.
    size_t first = text.find_first_not_of("\r\n", start);
    if (first == std::string::npos || first > found) first = found;
    std::string block = text.substr(first, found - first) + kReportEnd;
    if (block.find(kTableMark) != std::string::npos) reports_.push_back(std::move(block));
    start = found + kSeparator.size();
  }
}

void TLogFile::SaveToFile() {
  if (!stream_) {
    if (fileName_.empty()) throw EFCreateError("Cannot create file \"\". No file name");
    { TFileStream create(fileName_, fmCreate); }
    stream_ = std::make_unique<TFileStream>(fileName_, fmOpenReadWrite | fmShareDenyNone);
  }
  std::string text = GetText();
  // The final CR LF is left out so that the file ends with the report's own three line breaks,
  // unless the text ends with more line breaks than that anyway.
  if (text.size() >= 10 && text.compare(text.size() - 10, 2, kCrLf) != 0) text.resize(text.size() - 2);
  stream_->SetPosition(0);
  if (!text.empty()) stream_->WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  stream_->SetSize(stream_->GetPosition());
}
