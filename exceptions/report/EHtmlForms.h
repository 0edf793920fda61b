// Reading the forms of a tracker's HTML page the way a browser would: inputs, text areas and
// select lists by name, entities decoded. Tag names are found without regard to case; quotes are
// respected when looking for a tag's end.
#pragma once

#include <string>
#include <vector>

struct THtmlOption {
  std::string Value;  // the value attribute, or the text when there is none
  std::string Text;
  bool Selected = false;
};

// "&amp;", "&quot;", "&lt;", "&gt;", "&nbsp;", "&apos;" and "&#<decimal>;" decoded (numbers
// above 255 are left as they are).
std::string DecodeHtmlEntities(const std::string& text);

// The value of the first <input> named `name`; false when there is none.
bool FindInputValue(const std::string& html, const std::string& name, std::string& value);
// The text of the first <textarea> named `name`.
bool FindTextAreaText(const std::string& html, const std::string& name, std::string& text);
// The options of the first <select> named `name`, read up to "</option>" or the next tag each.
bool FindSelectOptions(const std::string& html, const std::string& name, std::vector<THtmlOption>& options);

// True when `text` contains `part`, compared without regard to ASCII case.
bool ContainsNoCase(const std::string& text, const std::string& part);
// The text after the `occurrence`-th (from 1) `marker` up to the first blank, double quote, "&",
// "'", "<", ">" or backslash; empty when there are fewer occurrences.
std::string TextAfter(const std::string& html, const std::string& marker, int occurrence = 1);
