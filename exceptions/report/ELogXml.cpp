// The XML companion of the bug-report log: the small element writer and the report conversion.
#include "ELogXml.h"

#include <algorithm>
#include <memory>

#include "ELogFile.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberCodecs.h"

namespace {

const std::string kCrLf = "\r\n";

// --- Lines of a report

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    size_t end = text.find(kCrLf, start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

bool EndsWithDash(const std::string& line) { return !line.empty() && line.back() == '-'; }
bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}
bool IsSectionTitleAt(const std::vector<std::string>& lines, size_t i) {
  return i + 1 < lines.size() && !lines[i].empty() && lines[i].back() == ':' && StartsWith(lines[i + 1], "-");
}
// A framed table starts at a dash line directly followed by a line beginning with "|".
bool IsTableStartAt(const std::vector<std::string>& lines, size_t i) {
  return i + 1 < lines.size() && EndsWithDash(lines[i]) && StartsWith(lines[i + 1], "|");
}
// Index of the dash line that closes the table starting at `start` ("-" and an empty line or the
// end); the last line when there is none.
size_t TableEnd(const std::vector<std::string>& lines, size_t start) {
  for (size_t i = start + 1; i < lines.size(); ++i)
    if (EndsWithDash(lines[i]) && (i + 1 >= lines.size() || lines[i + 1].empty())) return i;
  return lines.empty() ? 0 : lines.size() - 1;
}
size_t FindTableStart(const std::vector<std::string>& lines, size_t from) {
  for (size_t i = from; i < lines.size(); ++i)
    if (IsTableStartAt(lines, i)) return i;
  return std::string::npos;
}
// The n-th (1-based) section title at or after `from`.
size_t FindSectionTitle(const std::vector<std::string>& lines, size_t from, int n) {
  for (size_t i = from; i < lines.size(); ++i)
    if (IsSectionTitleAt(lines, i) && --n == 0) return i;
  return std::string::npos;
}
std::vector<std::string> Slice(const std::vector<std::string>& lines, size_t first, size_t last) {
  if (first >= lines.size() || last < first) return {};
  last = std::min(last, lines.size() - 1);
  return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(first),
                                  lines.begin() + static_cast<std::ptrdiff_t>(last) + 1);
}
// Lines from `first` up to the next empty line (exclusive) or the end.
std::vector<std::string> UntilEmpty(const std::vector<std::string>& lines, size_t first) {
  std::vector<std::string> out;
  for (size_t i = first; i < lines.size() && !lines[i].empty(); ++i) out.push_back(lines[i]);
  return out;
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) text += kCrLf;
    text += lines[i];
  }
  return text;
}

// Puts two blanks before every line between the first and the last of an element's text.
std::string IndentInnerLines(const std::string& text) {
  std::vector<std::string> lines = SplitCrLf(text);
  for (size_t i = 1; i + 1 < lines.size(); ++i) lines[i].insert(0, "  ");
  return JoinCrLf(lines);
}

std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  ExtractFields("|", line, cells);
  return cells;
}

std::string Cell(const std::vector<std::string>& cells, size_t i) { return i < cells.size() ? cells[i] : std::string(); }

std::string AfterEquals(const std::string& part) {
  size_t equals = part.find('=');
  return equals == std::string::npos ? part : part.substr(equals + 1);
}

// --- The located parts of one report

// The library version in the banner line: the text after the name and its blank ("EmberLog
// 6.0.24" gives "6.0.24"). Counting a fixed ten characters would cut the version of a shorter
// library name and make a new report look like one of an old layout.
std::string ReportVersion(const std::string& banner) {
  size_t blank = banner.find(' ');
  if (blank != std::string::npos) return Trim(banner.substr(blank + 1));
  return banner.size() > 10 ? banner.substr(10) : std::string();
}

struct TReportParts {
  std::string Version;
  std::vector<std::string> Head;
  std::vector<std::string> CallStack;
  std::vector<std::string> Modules;
  std::vector<std::string> Processes;
  std::vector<std::string> Assembler;
  std::vector<std::string> Cpu;
  std::string Reproduce;
};

TReportParts LocateParts(const std::string& report) {
  TReportParts parts;
  std::vector<std::string> lines = SplitCrLf(report);
  if (!lines.empty()) parts.Version = ReportVersion(lines[0]);
  bool v6 = parts.Version >= "6.0";

  size_t first = FindTableStart(lines, 0);
  if (first == std::string::npos) {
    parts.Head = lines;
  } else {
    parts.Head = Slice(lines, 0, first >= 2 ? first - 2 : 0);
    if (first < 2) parts.Head.clear();
  }
  while (!parts.Head.empty() && Trim(parts.Head.back()).empty()) parts.Head.pop_back();
  if (!parts.Head.empty()) parts.Head.back() = TrimRight(parts.Head.back());
  if (first == std::string::npos) return parts;

  size_t firstEnd = TableEnd(lines, first);
  parts.CallStack = Slice(lines, first, firstEnd);

  auto tableAfterTitle = [&](size_t title) {
    if (title == std::string::npos || title + 2 >= lines.size() || !StartsWith(lines[title + 2], "|"))
      return std::vector<std::string>();
    return Slice(lines, title + 1, TableEnd(lines, title + 1));
  };
  parts.Modules = tableAfterTitle(FindSectionTitle(lines, firstEnd + 1, 1));
  if (v6) {
    parts.Processes = tableAfterTitle(FindSectionTitle(lines, firstEnd + 1, 2));
    size_t third = FindSectionTitle(lines, firstEnd + 1, 3);
    if (third != std::string::npos) parts.Assembler = UntilEmpty(lines, third + 2);
  }

  // The CPU block follows the fourth (older reports: second) empty line after the first table
  // and runs to the second empty line after its start.
  int wanted = v6 ? 4 : 2;
  size_t start = std::string::npos;
  for (size_t i = first; i < lines.size(); ++i) {
    if (lines[i].empty() && --wanted == 0) {
      start = i + 1;
      break;
    }
  }
  if (start != std::string::npos && start < lines.size()) {
    size_t end = lines.size();
    int empties = 0;
    for (size_t i = start; i < lines.size(); ++i) {
      if (lines[i].empty() && ++empties == 2) {
        end = i;
        break;
      }
    }
    std::vector<std::string> cpu(lines.begin() + static_cast<std::ptrdiff_t>(start),
                                 lines.begin() + static_cast<std::ptrdiff_t>(end));
    if (JoinCrLf(cpu).find("EAX") != std::string::npos) parts.Cpu = cpu;
  }

  // Reproduce text: after the third section title that follows the third framed table.
  size_t table = first, tableEnd = firstEnd;
  for (int n = 2; n <= 3 && table != std::string::npos; ++n) {
    table = FindTableStart(lines, tableEnd + 1);
    if (table != std::string::npos) tableEnd = TableEnd(lines, table);
  }
  if (table != std::string::npos) {
    size_t title = FindSectionTitle(lines, tableEnd + 1, 3);
    if (title != std::string::npos) {
      std::vector<std::string> text = UntilEmpty(lines, title + 1);
      if (!text.empty() && StartsWith(text[0], "-")) text.erase(text.begin());
      parts.Reproduce = JoinCrLf(text);
    }
  }
  return parts;
}

// --- General

// Finishes a field value: the "." placeholders of empty lines and the ":_" escape undone.
std::string FinishValue(std::string value) {
  if (StartsWith(value, "." + kCrLf)) value.erase(0, 3);
  if (value.size() >= 3 && value.compare(value.size() - 3, 3, kCrLf + ".") == 0) value.resize(value.size() - 3);
  value = ReplaceAllText(value, ":_", ": ");
  std::vector<std::string> lines = SplitCrLf(value);
  for (std::string& line : lines)
    if (line == ".") line.clear();
  return JoinCrLf(lines);
}

bool IsFieldLine(const std::string& line) {
  return line.size() > 3 && StartsWith(line, "  ") && line[2] != ' ';
}

void BuildGeneral(TXMLItem& general, const std::vector<std::string>& head) {
  TXMLItem* group = nullptr;
  TXMLItem* line = nullptr;
  std::string value;
  bool groupNamed = false;
  std::string title;
  auto finishLine = [&]() {
    if (line) line->AddAttribute("Value", FinishValue(value));
    line = nullptr;
    value.clear();
  };
  for (size_t i = 2; i < head.size(); ++i) {
    const std::string& text = head[i];
    if (text.empty()) {
      finishLine();
      group = nullptr;
      continue;
    }
    if (!group) {
      if (Trim(text).empty()) continue;
      title = Trim(text);
      if (!title.empty() && title.back() == ':') title.pop_back();
      group = general.AddChild("Group");
      groupNamed = false;
      if (i + 1 < head.size() && StartsWith(head[i + 1], "-")) ++i;
      continue;
    }
    if (IsFieldLine(text)) {
      finishLine();
      std::string trimmed = Trim(text);
      size_t blank = trimmed.find(' ');
      std::string id = trimmed.substr(0, blank);
      std::string rest = blank == std::string::npos ? std::string() : trimmed.substr(blank + 1);
      std::string label;
      size_t separator = rest.find(": ");
      if (separator != std::string::npos) {
        label = Trim(rest.substr(0, separator));
        value = Trim(rest.substr(separator + 2));
      } else {
        label = Trim(!rest.empty() && rest.back() == ':' ? rest.substr(0, rest.size() - 1) : rest);
        value.clear();
      }
      if (!groupNamed) {
        size_t dot = id.find('.');
        group->AddAttribute("ID", id.substr(0, dot));
        group->AddAttribute("Label", title);
        groupNamed = true;
      }
      line = group->AddChild("Line");
      line->AddAttribute("ID", id);
      line->AddAttribute("Label", label);
      continue;
    }
    if (line) value += kCrLf + Trim(text);
  }
  finishLine();
}

// --- Call stack

bool IsPlainName(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return c == '.' || c == '@' || c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
           (c >= 'A' && c <= 'Z');
  });
}

std::string Decipher(const std::string& base64) {
  std::string data = DecodeBase64String(base64);
  if (!data.empty()) TeaDecryptBuffer(data.data(), data.data(), static_cast<int32_t>(data.size()));
  // Names are zero-terminated texts: a padding zero ends them.
  size_t zero = data.find('\0');
  if (zero != std::string::npos) data.resize(zero);
  return data;
}

void DecipherNames(std::string& unit, std::string& klass, std::string& procedure) {
  std::string newUnit, newClass = klass, newProcedure;
  char marker = unit.size() > 1 ? unit[1] : '\0';
  newUnit = Decipher(unit.size() > 2 ? unit.substr(2) : std::string());
  std::string file = newUnit.substr(newUnit.find_last_of("\\/") == std::string::npos ? 0 : newUnit.find_last_of("\\/") + 1);
  if (!newUnit.empty() && file.find('.') == std::string::npos) newUnit += marker == 'p' ? ".pas" : ".cpp";
  newProcedure = Decipher(procedure.size() > 1 ? procedure.substr(1) : std::string());
  size_t dot = newProcedure.find('.');
  if (dot != std::string::npos) {
    newClass = newProcedure.substr(0, dot);
    newProcedure = newProcedure.substr(dot + 1);
  } else if (!klass.empty()) {
    newClass = Decipher(klass.size() > 1 ? klass.substr(1) : std::string());
  }
  if (!IsPlainName(newUnit) || !IsPlainName(newClass) || !IsPlainName(newProcedure)) return;
  unit = newUnit;
  klass = newClass;
  procedure = newProcedure;
}

void BuildCallStack(TXMLItem& callStack, const std::vector<std::string>& table, const std::string& version,
                    const std::string& password) {
  if (table.size() < 5) return;
  TXMLItem* thread = nullptr;
  if (version < "5.0") thread = callStack.AddChild("ExceptionThread");
  bool topLevel = true;
  bool firstThread = true;
  for (size_t i = 3; i + 1 < table.size(); ++i) {
    const std::string& line = table[i];
    if (StartsWith(line, "|-")) continue;
    std::vector<std::string> cells = Cells(line);
    if (cells.size() <= 5) {
      if (cells.empty() || cells[0].empty()) {
        topLevel = true;
        continue;
      }
      size_t colon = cells[0].find(':');
      if (colon != std::string::npos && colon + 2 <= cells[0].size())
        ExtractFields(";", cells[0].substr(colon + 2), cells);
      TXMLItem* element;
      if (topLevel) {
        element = callStack.AddChild(firstThread ? "ExceptionThread" : "RunningThread");
        firstThread = false;
        topLevel = false;
      } else if (thread) {
        element = thread->AddChild("CallingThread");
      } else {
        element = callStack.AddChild("CallingThread");
      }
      thread = element;
      if (cells.size() > 1) thread->AddAttribute("ID", AfterEquals(cells[1]));
      if (cells.size() > 2) thread->AddAttribute("Priority", AfterEquals(cells[2]));
      if (cells.size() > 3) thread->AddAttribute("Class", AfterEquals(cells[3]));
      thread->AddAttribute("MainThread", cells.size() > 4 ? "True" : "False");
      continue;
    }
    // A row before any caption has no thread to go into.
    if (!thread) continue;
    std::string unit = cells[2], klass = cells[3], procedure = cells[4];
    if (!password.empty() && StartsWith(unit, "?")) DecipherNames(unit, klass, procedure);
    if (StartsWith(procedure, "@")) procedure[0] = '_';
    TXMLItem* row = thread->AddChild("Line");
    row->AddAttribute("Address", cells[0]);
    row->AddAttribute("Module", cells[1]);
    row->AddAttribute("Unit", unit);
    row->AddAttribute("Class", klass);
    row->AddAttribute("Procedure", procedure);
    const std::string& number = cells[5];
    size_t bracket = number.find('[');
    if (bracket != std::string::npos) {
      row->AddAttribute("Number", number.substr(0, bracket));
      size_t close = number.size() - 1;
      row->AddAttribute("Offset", close > bracket ? number.substr(bracket + 1, close - bracket - 1) : std::string());
    } else {
      row->AddAttribute("Number", number);
      row->AddAttribute("Offset", std::string());
    }
  }
}

// --- Modules, processes, assembler, CPU

void BuildRows(TXMLItem& parent, const std::vector<std::string>& table, const char* element,
               const std::vector<const char*>& names, int32_t optionalColumn) {
  for (size_t i = 3; i + 1 < table.size(); ++i) {
    if (StartsWith(table[i], "|-")) continue;
    std::vector<std::string> cells = Cells(table[i]);
    TXMLItem* row = parent.AddChild(element);
    // Rows written without the optional column are one cell short.
    bool hasOptional = optionalColumn < 0 || cells.size() >= names.size();
    size_t cell = 0;
    for (size_t k = 0; k < names.size(); ++k) {
      if (static_cast<int32_t>(k) == optionalColumn && !hasOptional) continue;
      row->AddAttribute(names[k], Cell(cells, cell++));
    }
  }
}

void BuildAssembler(TXMLItem& assembler, const std::vector<std::string>& lines) {
  for (const std::string& text : lines) {
    TXMLItem* line = assembler.AddChild("Line");
    size_t semicolon = text.find(';');
    std::string code = semicolon == std::string::npos ? text : text.substr(0, semicolon);
    std::string comment = semicolon == std::string::npos ? std::string() : Trim(text.substr(semicolon + 1));
    std::string trimmed = Trim(code);
    size_t blank = trimmed.find(' ');
    line->AddAttribute("Address", blank == std::string::npos ? trimmed : trimmed.substr(0, blank));
    line->AddAttribute("Command", blank == std::string::npos ? std::string() : Trim(trimmed.substr(blank + 1)));
    line->AddAttribute("Comment", comment);
  }
}

bool IsHexText(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  });
}

void BuildCpu(TXMLItem& cpu, const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  std::string all = JoinCrLf(lines);
  TXMLItem* registers = cpu.AddChild("Registers");
  for (const char* name : {"EAX", "EBX", "ECX", "EDX", "EDI", "ESI", "ESP", "EIP"}) {
    size_t at = all.find(std::string(name) + ": ");
    std::string value = at == std::string::npos ? std::string() : Trim(all.substr(at + 5, 8));
    registers->AddAttribute(name, value);
  }
  TXMLItem* stack = cpu.AddChild("Stack");
  TXMLItem* dump = cpu.AddChild("MemoryDump");
  // "ssssssss: vvvvvvvv   aaaaaaaa: bb bb ... bb  chars"
  for (const std::string& line : lines) {
    if (line.size() < 31 || line.compare(8, 2, ": ") != 0 || line.compare(18, 3, "   ") != 0 ||
        line.compare(29, 2, ": ") != 0 || !IsHexText(line.substr(0, 8)) || !IsHexText(line.substr(21, 8)))
      continue;
    TXMLItem* entry = stack->AddChild("Line");
    entry->AddAttribute("Address", line.substr(0, 8));
    entry->AddAttribute("Value", line.substr(10, 8));
    TXMLItem* bytes = dump->AddChild("Line");
    bytes->AddAttribute("Address", line.substr(21, 8));
    bytes->AddAttribute("Bytes", Trim(line.substr(31, 48)));
    bytes->AddAttribute("Chars", line.size() > 80 ? line.substr(80) : std::string());
  }
}

}  // namespace

// --- TXMLItems

TXMLItems::~TXMLItems() {
  for (size_t i = items_.size(); i-- > 0;) delete items_[i];
}

TXMLItem* TXMLItems::Get(int32_t index) const {
  return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)] : nullptr;
}

TXMLItem* TXMLItems::Add(TXMLItem* item) {
  std::unique_ptr<TXMLItem> owned(item);
  items_.push_back(item);
  return owned.release();
}

// --- TXMLItem

TXMLItem::TXMLItem(const std::string& name) : name_(name) {}

std::string EscapeXMLAttribute(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char ch : value) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 32 || c >= 127 || c == '"' || c == '&' || c == '\'' || c == '<' || c == '>') {
      char code[8] = {'&', '#', static_cast<char>('0' + c / 100), static_cast<char>('0' + c / 10 % 10),
                      static_cast<char>('0' + c % 10), ';', 0};
      out += code;
    } else {
      out += ch;
    }
  }
  return out;
}

void TXMLItem::AddAttribute(const std::string& name, const std::string& value) {
  attributes_ += " " + name + "=\"" + EscapeXMLAttribute(value) + "\"";
}

TXMLItem* TXMLItem::AddChild(const std::string& name) {
  TXMLItem* child = children_.Add(new TXMLItem(name));
  child->parent_ = this;
  return child;
}

void TXMLItem::Write(std::string& text, const std::string& indentation) const {
  text += indentation + "<" + name_ + attributes_;
  if (value_.empty() && children_.Count() == 0) {
    text += "/>" + kCrLf;
    return;
  }
  text += ">" + value_;
  if (children_.Count() > 0) {
    text += kCrLf;
    for (int32_t i = 0; i < children_.Count(); ++i) children_.Get(i)->Write(text, indentation + "  ");
    text += indentation;
  }
  text += "</" + name_ + ">" + kCrLf;
}

void TXMLItem::ToText(std::string& text) const {
  text.clear();
  Write(text, indentation_);
}

std::string TXMLItem::ToText() const {
  std::string text;
  ToText(text);
  return text;
}

// --- Conversion

std::string LogReportToXML(const std::string& report, const std::string& password) {
  TReportParts parts = LocateParts(report);
  if (!password.empty()) TeaSetKeyFromPassword(password);

  TXMLItem general("General");
  BuildGeneral(general, parts.Head);
  TXMLItem callStack("CallStack");
  BuildCallStack(callStack, parts.CallStack, parts.Version, password);
  TXMLItem modules("Modules");
  BuildRows(modules, parts.Modules, "Module", {"Handle", "Name", "Description", "Version", "Size", "Modified", "Path"}, 5);
  TXMLItem processes("Processes");
  BuildRows(processes, parts.Processes, "Process",
            {"ID", "Name", "Description", "Version", "Memory", "Priority", "Threads", "Path"}, -1);
  TXMLItem assembler("Assembler");
  BuildAssembler(assembler, parts.Assembler);
  TXMLItem cpu("CPU");
  BuildCpu(cpu, parts.Cpu);
  TXMLItem reproduce("HoToReproduce");
  if (parts.Version < "5.0") reproduce.AddAttribute("Text", parts.Reproduce);

  std::string text = "<Log Version=\"" + EscapeXMLAttribute(parts.Version) + "\">" + kCrLf;
  for (const TXMLItem* item : {&general, &callStack, &modules, &processes, &assembler, &cpu, &reproduce})
    text += item->ToText();
  text += "</Log>";
  return IndentInnerLines(text);
}

std::string LogToXML(const TLogFile& log) {
  std::string text = "<Doc>" + kCrLf;
  for (int32_t i = 0; i < log.GetCount(); ++i) text += LogReportToXML(log.GetReport(i), log.Password()) + kCrLf;
  text += "</Doc>";
  return IndentInnerLines(text);
}

void ExportLogAsXML(const TLogFile& log, const std::string& fileName) {
  std::string text = LogToXML(log);
  TFileStream file(fileName, fmCreate);
  if (!text.empty()) file.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}
