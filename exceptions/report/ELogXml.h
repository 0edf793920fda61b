// The XML companion of the bug-report log: a tiny XML writer (TXMLItem, TXMLItems) and the
// conversion of each text report into a "Log" element of general sections, call stack, modules,
// processes, assembler, CPU and reproduce text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/System.h"

class TLogFile;
class TXMLItem;

// --- Writer

// Owning list of items; frees them from the last to the first.
class TXMLItems : public TObject {
 public:
  TXMLItems() = default;
  ~TXMLItems() override;
  TXMLItems(const TXMLItems&) = delete;
  TXMLItems& operator=(const TXMLItems&) = delete;

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // nullptr outside the list.
  TXMLItem* Get(int32_t index) const;
  // Takes ownership.
  TXMLItem* Add(TXMLItem* item);

 private:
  std::vector<TXMLItem*> items_;
};

// One element: its name, content written as it stands, serialised attributes and children.
class TXMLItem : public TObject {
 public:
  explicit TXMLItem(const std::string& name);
  ~TXMLItem() override = default;

  const std::string& Name() const { return name_; }
  const std::string& Value() const { return value_; }
  // The content is written without escaping: callers pass text that is already XML.
  void SetValue(const std::string& value) { value_ = value; }
  const std::string& Attributes() const { return attributes_; }
  const std::string& Indentation() const { return indentation_; }
  void SetIndentation(const std::string& indentation) { indentation_ = indentation; }
  TXMLItems& Children() { return children_; }
  TXMLItem* Parent() const { return parent_; }

  // Appends ` Name="escaped value"`.
  void AddAttribute(const std::string& name, const std::string& value);
  // A new child owned by this item.
  TXMLItem* AddChild(const std::string& name);
  // The element as text, every line ending with CR LF; children are indented two more blanks.
  void ToText(std::string& text) const;
  std::string ToText() const;

 private:
  void Write(std::string& text, const std::string& indentation) const;

  std::string name_;
  std::string value_;
  std::string attributes_;
  std::string indentation_;
  TXMLItems children_;
  TXMLItem* parent_ = nullptr;
};

// Attribute escaping: bytes 0-31, '"', '&', '\'', '<', '>' and 127-255 as "&#nnn;" (three
// decimal digits); other bytes stay.
std::string EscapeXMLAttribute(const std::string& value);

// --- Conversion

// The "Log" element of one report text (as stored in the log). Enciphered call-stack names are
// deciphered when `password` is not empty; names that do not decipher to plain identifiers are
// kept as they stand.
std::string LogReportToXML(const std::string& report, const std::string& password = std::string());
// The whole document: "<Doc>", one "Log" element per report, "</Doc>".
std::string LogToXML(const TLogFile& log);
// Writes LogToXML into `fileName` (replaced). File errors raise EFCreateError / EWriteError.
void ExportLogAsXML(const TLogFile& log, const std::string& fileName);
