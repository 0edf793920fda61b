// HTML form scanning for the tracker senders.
#include "EHtmlForms.h"

#include <cctype>
#include <cstdint>

#include "classlib/SysUtils.h"

namespace {

struct Tag {
  std::string name;   // lower case, "/x" for a closing tag
  std::string text;   // everything between "<" and ">"
  size_t begin = 0;   // position of "<"
  size_t end = 0;     // position after ">"
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// The next tag at or after `from`; false when there is none.
bool NextTag(const std::string& html, size_t from, Tag& tag) {
  for (size_t lt = html.find('<', from); lt != std::string::npos; lt = html.find('<', lt + 1)) {
    size_t pos = lt + 1;
    size_t nameStart = pos;
    if (pos < html.size() && html[pos] == '/') ++pos;
    while (pos < html.size() && (std::isalnum(static_cast<unsigned char>(html[pos])) || html[pos] == '!'))
      ++pos;
    if (pos == nameStart || (pos == nameStart + 1 && html[nameStart] == '/')) continue;
    char quote = 0;
    size_t at = pos;
    for (; at < html.size(); ++at) {
      char c = html[at];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        break;
      }
    }
    if (at >= html.size()) return false;
    tag.name = LowerCase(html.substr(nameStart, pos - nameStart));
    tag.text = html.substr(lt + 1, at - lt - 1);
    tag.begin = lt;
    tag.end = at + 1;
    return true;
  }
  return false;
}

// The attribute `attribute` (lower-case name) of a tag's text; blanks around "=" are allowed.
bool Attribute(const std::string& tagText, const std::string& attribute, std::string& value) {
  size_t pos = 0;
  while (pos < tagText.size() && !IsSpace(tagText[pos])) ++pos;  // the tag name
  while (pos < tagText.size()) {
    while (pos < tagText.size() && (IsSpace(tagText[pos]) || tagText[pos] == '/')) ++pos;
    size_t nameStart = pos;
    while (pos < tagText.size() && !IsSpace(tagText[pos]) && tagText[pos] != '=' && tagText[pos] != '/') ++pos;
    std::string name = LowerCase(tagText.substr(nameStart, pos - nameStart));
    size_t look = pos;
    while (look < tagText.size() && IsSpace(tagText[look])) ++look;
    std::string text;
    if (look < tagText.size() && tagText[look] == '=') {
      pos = look + 1;
      while (pos < tagText.size() && IsSpace(tagText[pos])) ++pos;
      if (pos < tagText.size() && (tagText[pos] == '"' || tagText[pos] == '\'')) {
        char quote = tagText[pos];
        size_t close = tagText.find(quote, pos + 1);
        if (close == std::string::npos) close = tagText.size();
        text = tagText.substr(pos + 1, close - pos - 1);
        pos = close + 1;
      } else {
        size_t start = pos;
        while (pos < tagText.size() && !IsSpace(tagText[pos])) ++pos;
        text = tagText.substr(start, pos - start);
      }
    } else if (name.empty()) {
      ++pos;
      continue;
    }
    if (name == attribute) {
      value = DecodeHtmlEntities(text);
      return true;
    }
  }
  return false;
}

bool NamedTag(const std::string& html, const std::string& tagName, const std::string& name, Tag& tag) {
  size_t from = 0;
  while (NextTag(html, from, tag)) {
    std::string value;
    if (tag.name == tagName && Attribute(tag.text, "name", value) && value == name) return true;
    from = tag.end;
  }
  return false;
}

}  // namespace

std::string DecodeHtmlEntities(const std::string& text) {
  static const struct {
    const char* entity;
    char c;
  } kEntities[] = {{"&amp;", '&'}, {"&quot;", '"'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&nbsp;", ' '}, {"&apos;", '\''}};
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text[i] != '&') {
      result += text[i++];
      continue;
    }
    bool done = false;
    for (const auto& e : kEntities) {
      size_t length = std::char_traits<char>::length(e.entity);
      if (text.compare(i, length, e.entity) == 0) {
        result += e.c;
        i += length;
        done = true;
        break;
      }
    }
    if (!done && i + 3 < text.size() && text[i + 1] == '#') {
      size_t j = i + 2;
      uint32_t code = 0;
      while (j < text.size() && j < i + 8 && text[j] >= '0' && text[j] <= '9') code = code * 10 + (text[j++] - '0');
      if (j > i + 2 && j < text.size() && text[j] == ';' && code < 256) {
        result += static_cast<char>(code);
        i = j + 1;
        done = true;
      }
    }
    if (!done) result += text[i++];
  }
  return result;
}

bool FindInputValue(const std::string& html, const std::string& name, std::string& value) {
  value.clear();
  Tag tag;
  if (!NamedTag(html, "input", name, tag)) return false;
  Attribute(tag.text, "value", value);
  return true;
}

bool FindTextAreaText(const std::string& html, const std::string& name, std::string& text) {
  text.clear();
  Tag tag;
  if (!NamedTag(html, "textarea", name, tag)) return false;
  size_t close = LowerCase(html).find("</textarea", tag.end);
  text = DecodeHtmlEntities(html.substr(tag.end, close == std::string::npos ? std::string::npos : close - tag.end));
  return true;
}

bool FindSelectOptions(const std::string& html, const std::string& name, std::vector<THtmlOption>& options) {
  options.clear();
  Tag select;
  if (!NamedTag(html, "select", name, select)) return false;
  Tag tag;
  size_t from = select.end;
  while (NextTag(html, from, tag)) {
    if (tag.name == "/select" || tag.name == "select") break;
    from = tag.end;
    if (tag.name != "option") continue;
    THtmlOption option;
    Tag next;
    size_t textEnd = NextTag(html, tag.end, next) ? next.begin : html.size();
    option.Text = Trim(DecodeHtmlEntities(html.substr(tag.end, textEnd - tag.end)));
    if (!Attribute(tag.text, "value", option.Value)) option.Value = option.Text;
    option.Selected = ContainsNoCase(tag.text, "selected");
    options.push_back(option);
  }
  return true;
}

bool ContainsNoCase(const std::string& text, const std::string& part) {
  return LowerCase(text).find(LowerCase(part)) != std::string::npos;
}

std::string TextAfter(const std::string& html, const std::string& marker, int occurrence) {
  if (marker.empty() || occurrence < 1) return std::string();
  size_t at = std::string::npos, from = 0;
  for (int i = 0; i < occurrence; ++i) {
    at = html.find(marker, from);
    if (at == std::string::npos) return std::string();
    from = at + marker.size();
  }
  size_t end = html.find_first_of(" \"&'<>\\", from);
  return html.substr(from, end == std::string::npos ? std::string::npos : end - from);
}
