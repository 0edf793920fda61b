// The XML reader: a single pass over the characters of a stream in which each node parses itself
// and an element parses its children recursively. No DTD is interpreted and no entity resolved.
#include <algorithm>
#include <cstring>
#include <deque>
#include <string_view>

#include "XmlDocument.h"
#include "XmlStreams.h"
#include "XmlText.h"
#include "classlib/SysUtils.h"

namespace {

// The openings recognised after "<", with the text that closes them, in the order tried.
struct TagEntry {
  const char* opening;
  std::string_view closing;
  uint8_t elementType;
};

const TagEntry kTags[] = {
    {"<![CDATA[", "]]>", xeCData},
    {"<!DOCTYPE", ">", xeDoctype},
    {"<!ELEMENT", ">", xeDtdElement},
    {"<!ATTLIST", ">", xeDtdAttList},
    {"<!ENTITY", ">", xeDtdEntity},
    {"<!NOTATION", ">", xeDtdNotation},
    {"<?xml-stylesheet", "?>", xeStylesheet},
    {"<?xml", "?>", xeDeclaration},
    {"<!--", "-->", xeComment},
    {"<!", ">", xeExclam},
    {"<?", "?>", xeQuestion},
    {"<", ">", xeElement},
};

[[noreturn]] void ParseError(const char* format, const std::string& name) {
  std::string message(format);
  size_t at = message.find("%s");
  if (at != std::string::npos) message.replace(at, 2, name);
  throw EFilerError(message);
}

// Splits at blanks outside quotes, then joins the pieces of name = "value" written with blanks:
// a piece that begins with "=" joins the one before it, then a quoted piece joins the one before
// it when that ends in "=". The tokens are views into `text`, or into `joined` for the few that
// needed joining; both must outlive them.
void Tokenize(const std::string& text, std::vector<std::string_view>& pieces, std::vector<std::string_view>& tokens,
              std::deque<std::string>& joined) {
  pieces.clear();
  tokens.clear();
  joined.clear();
  auto join = [&joined](std::string_view& head, std::string_view tail) {
    joined.emplace_back(head);
    joined.back().append(tail);
    head = joined.back();
  };
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end) {
    while (p != end && IsXmlBlank(*p)) ++p;
    if (p == end) break;
    const char* start = p;
    char quote = 0;
    for (; p != end; ++p) {
      const char c = *p;
      if (quote) {
        if (c == quote) quote = 0;
      } else if (IsXmlQuote(c)) {
        quote = c;
      } else if (IsXmlBlank(c)) {
        break;
      }
    }
    const std::string_view piece(start, static_cast<size_t>(p - start));
    if (!pieces.empty() && piece[0] == '=') join(pieces.back(), piece);
    else pieces.push_back(piece);
  }
  for (std::string_view piece : pieces) {
    // A quoted value belongs to the name before it only when that ends in "=": two literals in a
    // row (public and system identifiers) stay apart even when the first holds an "=".
    if (!tokens.empty() && IsXmlQuote(piece[0]) && tokens.back().back() == '=') join(tokens.back(), piece);
    else tokens.push_back(piece);
  }
}

// The tokens after the first joined by `separator`, trimmed.
std::string JoinRest(const std::vector<std::string_view>& tokens, const char* separator) {
  std::string joined;
  for (size_t i = 1; i < tokens.size(); ++i) {
    joined += tokens[i];
    joined += separator;
  }
  return TrimBlanks(joined);
}

}  // namespace

// The state of one parse: the document (may be nullptr) and the reader shared by all nodes, so
// that characters read ahead by one node are seen by the next.
class TXmlParser {
 public:
  TXmlParser(TXmlDocument* document, TsdSurplusReader& reader)
      : document_(document), reader_(reader) {}

  void ParseNode(TXmlNode* node, int32_t depth);
  void ParseDocType(TXmlNode* node, int32_t depth);

 private:
  bool Aborted() const { return document_ && document_->ParseAborted; }
  const TagEntry& MatchOpening();
  // `closing` ends in ">".
  bool ReadUpTo(std::string_view closing, bool honourQuotes, std::string& text);
  void ParseTag(TXmlNode* node, const TagEntry& tag, int32_t depth);
  void ParseContent(TXmlNode* node, int32_t depth);
  void ParseDeclaration(TXmlNode* node);
  void ParseRaw(TXmlNode* node, const TagEntry& tag);
  TXmlNode* ParseChild(TXmlNode* parent, int32_t depth);
  void NodeNew(TXmlNode* node) {
    if (document_) document_->OnNodeNew(document_, node);
  }

  TXmlDocument* document_;
  TsdSurplusReader& reader_;
  // Scratch of the tag being read, kept between tags so that its storage is reused.
  std::string tagText_, closeText_;
  std::vector<std::string_view> pieces_, tokens_;
  std::deque<std::string> joined_;
};

// Reads ahead while some longer opening still fits; the longest opening read in full wins and
// the characters read beyond it are handed back.
const TagEntry& TXmlParser::MatchOpening() {
  // Every opening but "<" goes on with "!" or "?": anything else is an element's.
  char first;
  if (!reader_.ReadChar(first)) return kTags[11];
  reader_.PushBack(first);
  if (first != '!' && first != '?') return kTags[11];
  std::string read = "<";
  auto isCandidate = [&read](const TagEntry& e) {
    size_t length = std::strlen(e.opening);
    return length > read.size() && std::strncmp(e.opening, read.data(), read.size()) == 0;
  };
  for (;;) {
    bool any = false;
    for (const TagEntry& e : kTags) any = any || isCandidate(e);
    char c;
    if (!any || !reader_.ReadChar(c)) break;
    read += c;
  }
  const TagEntry* best = &kTags[11];
  for (const TagEntry& e : kTags) {
    size_t length = std::strlen(e.opening);
    if (length <= read.size() && read.compare(0, length, e.opening) == 0 &&
        length > std::strlen(best->opening))
      best = &e;
  }
  // "xml" and "xml-stylesheet" are those instructions only as whole targets: "<?xml-foo" and
  // "<?xmlbar" are instructions of their own.
  if (best->elementType == xeDeclaration || best->elementType == xeStylesheet) {
    char next;
    if (read.size() == std::strlen(best->opening) && reader_.ReadChar(next)) read += next;
    if (read.size() > std::strlen(best->opening)) {
      char after = read[std::strlen(best->opening)];
      if (!IsXmlBlank(after) && after != '?') best = &kTags[10];
    }
  }
  reader_.PushBack(read.substr(std::strlen(best->opening)));
  return *best;
}

// Where a closing text may end: every closing ends in ">"; with quotes honoured a quote
// character stops the scan as well.
struct TStopTables {
  bool Plain[256] = {};
  bool Quoted[256] = {};
  TStopTables() {
    Plain['>'] = Quoted['>'] = true;
    Quoted['"'] = Quoted['\''] = true;
  }
};
const TStopTables kStops;

// Collects characters up to `closing` (outside quotes when asked); false at the end of the text.
bool TXmlParser::ReadUpTo(std::string_view closing, bool honourQuotes, std::string& text) {
  const size_t length = closing.size();
  const bool (&stops)[256] = honourQuotes ? kStops.Quoted : kStops.Plain;
  text.clear();
  char c;
  while (reader_.ReadUntilAny(stops, text, c)) {
    text += c;
    if (honourQuotes && IsXmlQuote(c)) {
      // A quoted run: up to the same quote, whatever it holds.
      if (!reader_.ReadUntil(c, text)) return false;
      text += c;
      continue;
    }
    if (length == 1 || (text.size() >= length && std::string_view(text).substr(text.size() - length) == closing)) {
      text.resize(text.size() - length);
      return true;
    }
  }
  return false;
}

void TXmlParser::ParseNode(TXmlNode* node, int32_t depth) {
  if (Aborted()) return;
  node->Clear();
  char c;
  if (!reader_.ReadCharSkipBlanks(c) || c != '<') return;
  const TagEntry& tag = MatchOpening();
  node->elementType_ = tag.elementType;
  switch (tag.elementType) {
    case xeElement:
    case xeDeclaration:
    case xeStylesheet:
      ParseTag(node, tag, depth);
      break;
    case xeDoctype:
      node->name_ = "DTD";
      NodeNew(node);
      if (Aborted()) return;
      ParseDocType(node, depth);
      break;
    case xeDtdElement:
    case xeDtdAttList:
    case xeDtdEntity:
    case xeDtdNotation:
      ParseDeclaration(node);
      break;
    default:
      ParseRaw(node, tag);
      break;
  }
  if (document_ && !Aborted()) {
    if (document_->OnProgress) document_->OnProgress(document_, reader_.Position());
    document_->OnNodeLoaded(document_, node);
  }
}

void TXmlParser::ParseTag(TXmlNode* node, const TagEntry& tag, int32_t depth) {
  std::string& text = tagText_;
  if (!ReadUpTo(tag.closing, true, text)) text.clear();
  bool isEmpty = false;
  if (tag.elementType == xeElement && !text.empty() && text.back() == '/') {
    isEmpty = true;
    text.pop_back();
  }
  std::vector<std::string_view>& tokens = tokens_;
  Tokenize(text, pieces_, tokens, joined_);
  size_t firstAttribute = 0;
  if (tag.elementType == xeDeclaration) {
    node->name_ = "xml";
  } else if (tag.elementType == xeStylesheet) {
    node->name_ = "xml-stylesheet";
    node->value_ = TrimBlanks(text);
  } else {
    if (tokens.empty()) throw EFilerError("Missing element name");
    node->name_.assign(tokens[0]);
    firstAttribute = 1;
  }
  if (tokens.size() > firstAttribute) {
    size_t bytes = 0;
    for (size_t i = firstAttribute; i < tokens.size(); ++i) bytes += sizeof(uint32_t) + tokens[i].size();
    node->attributes_.Reserve(bytes);
    for (size_t i = firstAttribute; i < tokens.size(); ++i) node->attributes_.Add(tokens[i]);
  }
  NodeNew(node);
  if (Aborted() || isEmpty || tag.elementType != xeElement) return;
  ParseContent(node, depth);
}

void TXmlParser::ParseContent(TXmlNode* node, int32_t depth) {
  std::string text;
  bool childSeen = false;
  // Turns collected text into a character-data child, in its escaped form as read.
  auto flush = [&](bool trim) {
    if (text.empty()) return;
    // Blanks only (the indentation between elements) trim to nothing.
    if (trim && std::all_of(text.begin(), text.end(), IsXmlBlank)) {
      text.clear();
      return;
    }
    std::string value = trim ? TrimBlanks(text) : std::move(text);
    text.clear();
    if (value.empty()) return;
    TXmlNode* data = TXmlNode::CreateType(document_, xeCharData);
    data->value_ = std::move(value);
    node->NodeAdd(data);
  };
  while (!Aborted()) {
    if (!reader_.ReadUntil('<', text)) ParseError("Missing close tag in element %s", node->name_);
    char next;
    if (!reader_.ReadChar(next)) ParseError("Missing data after \"<\" in element %s", node->name_);
    if (next == '/') {
      std::string& close = closeText_;
      if (!ReadUpTo(">", true, close))
        ParseError("Missing \">\" in close tag of element %s", node->name_);
      // The name between blanks, compared exactly first and then without regard to case.
      size_t first = 0, last = close.size();
      while (first < last && IsXmlBlank(close[first])) ++first;
      while (last > first && IsXmlBlank(close[last - 1])) --last;
      const size_t length = last - first;
      if (length != node->name_.size() ||
          (close.compare(first, length, node->name_) != 0 && !SameText(close.substr(first, length), node->name_)))
        ParseError("Incorrect close tag in element %s", node->name_);
      break;
    }
    flush(true);
    childSeen = true;
    // The child reads "<" and the character after it again.
    reader_.PushBack(next);
    reader_.PushBack('<');
    TXmlNode* child = ParseChild(node, depth);
    if (child->elementType_ == xeComment && document_ && document_->DropComments)
      node->NodeRemove(child);
  }
  if (node->nodes_.empty()) {
    // The text alone would become the first child and at once the value: it goes there directly.
    std::string value = childSeen ? TrimBlanks(text) : std::move(text);
    if (!value.empty()) node->value_ = std::move(value);
    return;
  }
  flush(childSeen);
  TXmlNode* first = node->GetNodes(0);
  if (first && first->elementType_ == xeCharData) {
    node->value_ = std::move(first->value_);
    node->NodeDelete(0);
  }
}

TXmlNode* TXmlParser::ParseChild(TXmlNode* parent, int32_t depth) {
  if (depth + 1 >= kXmlMaxNestingDepth)
    ParseError("Elements nested too deeply in element %s", parent->name_);
  auto* child = new TXmlNode(document_);
  parent->NodeAdd(child);
  ParseNode(child, depth + 1);
  return child;
}

void TXmlParser::ParseDocType(TXmlNode* node, int32_t depth) {
  std::string text;
  char c = 0;
  char quote = 0;
  bool subset = false;
  while (reader_.ReadChar(c)) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (IsXmlQuote(c)) {
      quote = c;
    } else if (c == '>' || c == '[') {
      subset = c == '[';
      break;
    }
    text += c;
  }
  std::vector<std::string_view>& tokens = tokens_;
  Tokenize(text, pieces_, tokens, joined_);
  if (!tokens.empty()) node->name_.assign(tokens[0]);
  node->value_ = JoinRest(tokens, " ");
  if (!subset) return;
  // The internal subset: declarations, comments and parameter-entity references ("%name;",
  // kept as character data) up to "]". Other text that is no markup leaves an empty node, which
  // is dropped. The subset must be closed: running into the end of the text is an error.
  for (;;) {
    if (!reader_.ReadCharSkipBlanks(c))
      ParseError("Missing \"]\" in document type declaration %s", node->name_);
    if (c == ']') break;
    if (c == '%') {
      std::string reference = "%";
      char d = 0;
      bool more;
      while ((more = reader_.ReadChar(d)) && d != ';' && !IsXmlBlank(d) && d != '<' && d != ']') reference += d;
      if (more && d == ';') {
        TXmlNode* data = TXmlNode::CreateType(document_, xeCharData);
        data->value_ = reference + ';';
        node->NodeAdd(data);
      } else if (more && (d == '<' || d == ']')) {
        reader_.PushBack(d);
      }
      continue;
    }
    reader_.PushBack(c);
    TXmlNode* child = ParseChild(node, depth);
    if (Aborted()) return;
    if (child->IsClear()) node->NodeRemove(child);
  }
  while (reader_.ReadChar(c) && c != '>') {
  }
}

void TXmlParser::ParseDeclaration(TXmlNode* node) {
  std::string text;
  ReadUpTo(">", true, text);
  std::vector<std::string_view>& tokens = tokens_;
  Tokenize(text, pieces_, tokens, joined_);
  if (!tokens.empty()) node->name_.assign(tokens[0]);
  node->value_ = JoinRest(tokens, "\r\n");
  NodeNew(node);
}

void TXmlParser::ParseRaw(TXmlNode* node, const TagEntry& tag) {
  switch (tag.elementType) {
    case xeComment: node->name_ = "Comment"; break;
    case xeCData: node->name_ = "CData"; break;
    case xeExclam:
    case xeQuestion: node->name_ = "Special"; break;
    default: node->name_ = "Unknown"; break;
  }
  NodeNew(node);
  if (Aborted()) return;
  std::string text;
  if (ReadUpTo(tag.closing, false, text)) node->value_ = std::move(text);
}

// --- TXmlNode

void TXmlNode::ParseStream(TStream& stream) {
  TsdSurplusReader reader(&stream);
  TXmlParser(document_, reader).ParseNode(this, 0);
}

void TXmlNode::ReadFromString(const std::string& text) {
  TsdUTF8StringStream stream(text);
  ParseStream(stream);
}

// --- TXmlDocument

void TXmlDocument::ReadFromStream(TStream& stream) {
  ParseAborted = false;
  rootNodes_->Clear();
  OnProgress(this, 0);
  TsdSurplusReader reader(&stream);
  TXmlParser parser(this, reader);
  while (!reader.AtEnd()) {
    auto* node = new TXmlNode(this);
    rootNodes_->NodeAdd(node);
    parser.ParseNode(node, 0);
    if (ParseAborted) return;
    if (node->elementType_ == xeDeclaration && codec_ && codec_->Encoding() == seAnsi) {
      // Text guessed to be 8-bit from "<?xm" is UTF-8 unless its declaration names another
      // encoding. An encoding known from a byte-order mark or from UTF-16 bytes stays. What is
      // not yet read is decoded the new way.
      if (!node->AttributeExists("encoding") || UpperCase(node->AttributeByName("encoding")) == "UTF-8") {
        reader.Sync();
        codec_->SetEncoding(seUTF8);
      }
    }
    if (node->IsClear()) rootNodes_->NodeRemove(node);
  }
  if (OnProgress) OnProgress(this, stream.GetSize());
  CheckStructure();
}

void TXmlDocument::CheckStructure() {
  int32_t elements = 0, declarations = 0, doctypes = 0, cdatas = 0;
  int32_t declarationIndex = -1, doctypeIndex = -1, lastElementIndex = -1;
  for (int32_t i = 0; i < rootNodes_->GetNodeCount(); ++i) {
    switch (rootNodes_->GetNodes(i)->ElementType()) {
      case xeElement: ++elements; lastElementIndex = i; break;
      case xeDeclaration: ++declarations; declarationIndex = i; break;
      case xeDoctype: ++doctypes; doctypeIndex = i; break;
      case xeCData: ++cdatas; break;
      default: break;
    }
  }
  if (elements == 0) throw EFilerError("No root element found in xml");
  if (!StrictStructure) return;
  if (elements > 1) throw EFilerError("More than one root element found in xml");
  if (declarations > 1) throw EFilerError("More than one xml declaration found in xml");
  if (declarations == 1 && declarationIndex != 0)
    throw EFilerError("Xml declaration must be first element");
  if (doctypes > 1) throw EFilerError("More than one doctype declaration found in root");
  if (doctypes == 1 && doctypeIndex > lastElementIndex)
    throw EFilerError("Doctype declaration found after root element");
  if (cdatas > 0) throw EFilerError("No CDATA allowed in root");
}

void TXmlDocument::ParseDocType(TXmlNode* node, TStream& stream) {
  TsdSurplusReader reader(&stream);
  TXmlParser(this, reader).ParseDocType(node, 0);
}

void TXmlDocument::LoadFromStream(TStream& stream) {
  TsdBufferedReadStream buffered(&stream, false);
  TsdUtf8Stream codec(&buffered);
  codec_ = &codec;
  try {
    ReadFromStream(codec);
  } catch (...) {
    codec_ = nullptr;
    StreamEncoding = codec.Encoding();
    throw;
  }
  codec_ = nullptr;
  StreamEncoding = codec.Encoding();
}

void TXmlDocument::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

bool TXmlDocument::LoadFromFileQuiet(const std::string& fileName) {
  StrictStructure = false;
  try {
    LoadFromFile(fileName);
  } catch (const EFilerError&) {
    return false;
  }
  return true;
}

void TXmlDocument::ReadFromString(const std::string& text) {
  TsdUTF8StringStream stream(text);
  ReadFromStream(stream);
}
