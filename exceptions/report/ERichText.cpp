// Rich-text rendering of the report's head, assembler and CPU texts.
#include "ERichText.h"

#include <cstdio>
#include <vector>

#include "classlib/SysUtils.h"

namespace {

const char* const kHeader =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1040{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset%d %s;}}\r\n"
    "{\\colortbl ;\\red0\\green100\\blue100;\\red0\\green0\\blue0;\\red40\\green40\\blue40;"
    "\\red0\\green0\\blue160;\\red160\\green0\\blue0;\\red80\\green80\\blue80;\\red0\\green100\\blue0;}\r\n";

// --- Line editing with 1-based positions (an index past the end appends)

void InsertAt(std::string& line, const std::string& text, int32_t position) {
  if (position < 1) position = 1;
  size_t at = static_cast<size_t>(position - 1);
  if (at > line.size()) at = line.size();
  line.insert(at, text);
}

void DeleteAt(std::string& line, int32_t position, int32_t count) {
  if (position < 1 || static_cast<size_t>(position) > line.size() || count <= 0) return;
  line.erase(static_cast<size_t>(position - 1), static_cast<size_t>(count));
}

// 1-based position of `c` at or after `from`; 0 when absent.
int32_t FindFrom(const std::string& line, char c, int32_t from) {
  if (from < 1) from = 1;
  size_t at = line.find(c, static_cast<size_t>(from - 1));
  return at == std::string::npos ? 0 : static_cast<int32_t>(at + 1);
}

// The escaped text cut at CR LF; a final empty piece (after the last line break) is kept apart
// so that it is not dressed like a line.
std::vector<std::string> Lines(const std::string& escaped, bool& trailingEmpty) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t end = escaped.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(escaped.substr(start));
      break;
    }
    lines.push_back(escaped.substr(start, end - start));
    start = end + 2;
  }
  trailingEmpty = lines.size() > 1 && lines.back().empty();
  if (trailingEmpty) lines.pop_back();
  return lines;
}

// Every byte from 128 on and every control character but CR and LF as \'hh: the report's texts
// (module names, messages) come from outside and must stay text in the document.
std::string EncodeBytes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c >= 0x80 || (c < 0x20 && c != '\r' && c != '\n')) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\'%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Document(const std::vector<std::string>& lines, bool trailingEmpty, const TEmberRTFFont& font) {
  char header[640];
  std::snprintf(header, sizeof header, kHeader, static_cast<int>(font.Charset), font.Face.c_str());
  std::string body;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) body += "\r\n";
    body += lines[i];
  }
  if (trailingEmpty) body += "\r\n";
  return std::string(header) + "\\f0\\fs" + std::to_string(font.Size * 2) + "\r\n" + EncodeBytes(body) + "}";
}

}  // namespace

std::string EscapeRTF(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' || c == '{' || c == '}') {
      out += '\\';
      out += c;
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += "\\par\r\n";
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

std::string RenderReportHeadRTF(const std::string& text, const TEmberRTFFont& font) {
  bool trailing = false;
  std::vector<std::string> lines = Lines(EscapeRTF(text), trailing);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string& line = lines[i];
    if (i == 0) {
      line = "\\cf1\\b " + line + "\\b0";
      continue;
    }
    size_t colon = line.find(':');
    // A section title: its only colon stands right before the "\par" that ends the line.
    if (colon != std::string::npos && line.size() - (colon + 1) == 4 && !line.empty() && line[0] != ' ') {
      line = "\\cf3\\b " + line + "\\b0";
    } else if (!line.empty() && line[0] == '-') {
      line = "\\cf3 " + line;
    } else {
      size_t field = line.find(": ");
      if (field == std::string::npos) continue;
      line = "\\cf5 " + line.substr(0, field + 1) + "\\cf4 " + line.substr(field + 1);
      int32_t blank = FindFrom(line, ' ', 3);
      if (blank > 0) InsertAt(line, "\\cf2 ", blank + 7);
    }
  }
  return Document(lines, trailing, font);
}

std::string RenderAssemblerRTF(const std::string& text, const TEmberRTFFont& font) {
  bool trailing = false;
  std::vector<std::string> lines = Lines(EscapeRTF(text), trailing);
  for (std::string& line : lines) {
    if (line.empty() || line[0] != ';') {
      line = "\\cf5 " + line;
      InsertAt(line, "\\cf4\\b ", 15);
      int32_t blank = FindFrom(line, ' ', 23);
      if (blank > 0)
        InsertAt(line, "\\b0\\cf7 ", blank);
      else
        line += "\\b0";
    }
    int32_t comment = FindFrom(line, ';', 1);
    if (comment > 0) InsertAt(line, "\\cf6 ", comment);
  }
  return Document(lines, trailing, font);
}

std::string RenderCPURTF(const std::string& text, const TEmberRTFFont& font, int32_t tabStop) {
  bool trailing = false;
  std::vector<std::string> lines = Lines(EscapeRTF(text), trailing);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string& line = lines[i];
    size_t number = i + 1;
    if (number == 1) {
      line = "\\cf3\\b " + line + "\\cf2\\b0";
    } else if (number == 2) {
      line = "\\cf3 " + line + "\\cf2";
    } else if (number >= 3 && number <= 6) {
      InsertAt(line, "\\cf4 ", 6);
      InsertAt(line, "\\cf2 ", 19);
      InsertAt(line, "\\cf4 ", 32);
      InsertAt(line, "\\cf2 ", 45);
    } else if (number == 8) {
      std::string left = Trim(line.substr(0, line.size() < 21 ? line.size() : 21));
      std::string right = Trim(line.size() > 21 ? line.substr(21) : std::string());
      line = "\\pard\\tx" + std::to_string(tabStop) + "\\cf3\\b " + left + "\\tab " + right + "\\cf2\\b0";
    } else if (number == 9) {
      DeleteAt(line, 19, 3);
      InsertAt(line, "\\tab ", 19);
      line = "\\cf3 " + line + "\\cf2";
    } else if (number >= 10) {
      InsertAt(line, "\\cf4 ", 11);
      InsertAt(line, "\\cf2 ", 24);
      DeleteAt(line, 29, 3);
      InsertAt(line, "\\tab ", 29);
      InsertAt(line, "\\cf4 ", 44);
      InsertAt(line, "\\cf5 ", 96);
      line += "\\cf2 ";
    }
  }
  return Document(lines, trailing, font);
}
