// The XML writer: each node writes its text form with the indentation and line breaks of the
// document's XmlFormat. Values and attributes are held escaped and written as they are.
//
// The text is collected in a block that goes to the stream when it is full, before each progress
// report and at the end, so that the stream sees a few large writes instead of one per piece.
#include <cstring>
#include <memory>
#include <string_view>

#include "XmlDocument.h"
#include "XmlPlatform_p.h"
#include "XmlStreams.h"
#include "classlib/SysUtils.h"

namespace {

// The name a declaration gives the encoding the codec writes.
std::string EncodingName(uint8_t encoding) {
  switch (encoding) {
    case seAnsi: return XmlAnsiEncodingName();
    case se16BitBE:
    case se16BitLE:
    case seUTF16BE:
    case seUTF16LE: return "UTF-16";
    default: return "UTF-8";
  }
}

// Encodings a reader can only tell from the declaration: 8-bit text, and UTF-16 without a mark.
bool NeedsDeclaredEncoding(uint8_t encoding) {
  return encoding == seAnsi || encoding == se16BitBE || encoding == se16BitLE;
}

// The line break a node writes after its parts: none without a document.
std::string_view LineBreakOf(const TXmlDocument* document) {
  if (!document) return {};
  switch (document->XmlFormat) {
    case 0: return "\r\n";
    case 2: return "\n";
    default: return {};
  }
}

}  // namespace

// Writes nodes into a block of text that is handed to the stream when full. Whoever made it calls
// Flush at the end; a write error raises there or at the next full block.
class TXmlWriter {
 public:
  explicit TXmlWriter(TStream& stream) : stream_(stream), block_(new char[kBlockSize]) {}

  void Put(std::string_view text) {
    if (text.empty()) return;
    if (text.size() > kBlockSize - used_) {
      Drain();
      if (text.size() > kBlockSize - used_) {
        Flush();
        stream_.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
        return;
      }
    }
    std::memcpy(block_.get() + used_, text.data(), text.size());
    used_ += text.size();
  }
  void Put(char c) {
    if (used_ == kBlockSize) Drain();
    block_[used_++] = c;
  }
  // Hands on everything collected.
  void Flush() {
    if (used_ == 0) return;
    const size_t count = used_;
    used_ = 0;
    stream_.WriteBuffer(block_.get(), static_cast<int32_t>(count));
  }
  // The stream's position after everything written so far.
  int64_t Position() {
    Flush();
    return stream_.GetPosition();
  }

  // Writes `node` and its subtree; `level` as TXmlNode::Level gives it.
  void WriteNode(TXmlNode& node, int32_t level);

 private:
  // Twice a buffered stream's buffer.
  static constexpr size_t kBlockSize = 2 * kXmlStreamBufferSize;

  // Hands on whole buffers' worth of what is collected and keeps the rest: a buffered stream
  // passes them to its target without copying them.
  void Drain() {
    const size_t count = used_ / kXmlStreamBufferSize * kXmlStreamBufferSize;
    if (count == 0) return Flush();
    stream_.WriteBuffer(block_.get(), static_cast<int32_t>(count));
    used_ -= count;
    std::memmove(block_.get(), block_.get() + count, used_);
  }

  // The indentation of a node at `level`, valid until the next call.
  std::string_view IndentOf(const TXmlDocument* document, int32_t level);
  void PutIndent(const TXmlDocument* document, int32_t level);
  void PutAttributes(const TXmlNode& node, bool short_);
  void PutStartTag(const TXmlNode& node, std::string_view indent, bool short_);
  void PutEndTag(const TXmlNode& node, std::string_view indent);

  TStream& stream_;
  std::unique_ptr<char[]> block_;
  size_t used_ = 0;
  std::string indentUnit_;  // the indentation string
  std::string indent_;      // and that repeated, as deep as needed so far
};

std::string_view TXmlWriter::IndentOf(const TXmlDocument* document, int32_t level) {
  if (!document || document->XmlFormat != 0 || level <= 0) return {};
  const std::string& unit = document->IndentString;
  const size_t length = unit.size() * static_cast<size_t>(level);
  if (indent_.size() < length || indentUnit_ != unit) {
    indentUnit_ = unit;
    indent_.clear();
    for (int32_t i = 0; i < level; ++i) indent_ += unit;
  }
  return std::string_view(indent_).substr(0, length);
}

void TXmlWriter::PutIndent(const TXmlDocument* document, int32_t level) { Put(IndentOf(document, level)); }

// The start tag: indentation, "<", name, the attributes each after a blank, then "/" when written
// short, and ">". In one piece when it fits the block.
void TXmlWriter::PutStartTag(const TXmlNode& node, std::string_view indent, bool short_) {
  const std::string& name = node.name_;
  const TsdUTF8StringList* attributes = node.attributes_;
  const size_t length = indent.size() + name.size() + (attributes ? attributes->TagTextSize() : 0) + 3;
  if (length > kBlockSize - used_) Drain();
  if (length > kBlockSize - used_) {
    Put(indent);
    Put('<');
    Put(name);
    PutAttributes(node, short_);
    Put('>');
    return;
  }
  char* out = block_.get() + used_;
  if (!indent.empty()) std::memcpy(out, indent.data(), indent.size());
  out += indent.size();
  *out++ = '<';
  std::memcpy(out, name.data(), name.size());
  out += name.size();
  if (attributes) out = attributes->PutTagText(out);
  if (short_) *out++ = '/';
  *out++ = '>';
  used_ = static_cast<size_t>(out - block_.get());
}

// The end tag: indentation, "</", name and ">".
void TXmlWriter::PutEndTag(const TXmlNode& node, std::string_view indent) {
  const std::string& name = node.name_;
  const size_t length = indent.size() + name.size() + 3;
  if (length > kBlockSize - used_) Drain();
  if (length > kBlockSize - used_) {
    Put(indent);
    Put("</");
    Put(name);
    Put('>');
    return;
  }
  char* out = block_.get() + used_;
  if (!indent.empty()) std::memcpy(out, indent.data(), indent.size());
  out += indent.size();
  *out++ = '<';
  *out++ = '/';
  std::memcpy(out, name.data(), name.size());
  out += name.size();
  *out++ = '>';
  used_ = static_cast<size_t>(out - block_.get());
}

void TXmlWriter::PutAttributes(const TXmlNode& node, bool short_) {
  size_t at = 0;
  std::string_view entry;
  while (node.attributes_ && node.attributes_->Next(at, entry)) {
    Put(' ');
    Put(entry);
  }
  if (short_) Put('/');
}

void TXmlWriter::WriteNode(TXmlNode& node, int32_t level) {
  const TXmlDocument* document = node.document_;
  const std::string_view lineBreak = LineBreakOf(document);
  switch (node.elementType_) {
    case xeElement: {
      const bool short_ = node.IsWrittenShort(level);
      PutStartTag(node, IndentOf(document, level), short_);
      if (short_) break;
      Put(node.value_);
      const int32_t count = node.GetNodeCount();
      if (count > 0) Put(lineBreak);
      for (int32_t i = 0; i < count; ++i) {
        TXmlNode& child = *node.GetNodes(i);
        WriteNode(child, level + 1);
        const bool nextIsText = i + 1 < count && node.GetNodes(i + 1)->elementType_ == xeCharData;
        if (child.elementType_ != xeCharData && !nextIsText) Put(lineBreak);
      }
      PutEndTag(node, count == 0 ? std::string_view() : IndentOf(document, level));
      break;
    }
    case xeComment:
      PutIndent(document, level);
      Put("<!--");
      Put(node.value_);
      Put("-->");
      break;
    case xeCData:
      PutIndent(document, level);
      Put("<![CDATA[");
      Put(node.value_);
      Put("]]>");
      break;
    case xeDeclaration:
      node.DeleteEmptyAttributes();
      PutIndent(document, level);
      Put("<?xml");
      PutAttributes(node, false);
      Put("?>");
      break;
    case xeStylesheet:
      PutIndent(document, level);
      Put("<?xml-stylesheet");
      PutAttributes(node, false);
      Put("?>");
      break;
    case xeDoctype:
      PutIndent(document, level);
      Put("<!DOCTYPE ");
      Put(node.name_);
      Put(' ');
      Put(node.value_);
      if (node.GetNodeCount() == 0) {
        Put('>');
        break;
      }
      Put(" [");
      Put(lineBreak);
      for (int32_t i = 0; i < node.GetNodeCount(); ++i) {
        WriteNode(*node.GetNodes(i), level + 1);
        Put(lineBreak);
      }
      Put("]>");
      break;
    case xeDtdElement:
    case xeDtdAttList:
    case xeDtdEntity:
    case xeDtdNotation: {
      static const std::string_view kOpenings[] = {"<!ELEMENT ", "<!ATTLIST ", "<!ENTITY ", "<!NOTATION "};
      PutIndent(document, level);
      Put(kOpenings[node.elementType_ - xeDtdElement]);
      Put(node.name_);
      Put(' ');
      Put(node.value_);
      Put('>');
      break;
    }
    case xeExclam:
      PutIndent(document, level);
      Put("<!");
      Put(node.value_);
      Put('>');
      break;
    case xeQuestion:
      PutIndent(document, level);
      Put("<?");
      Put(node.value_);
      Put("?>");
      break;
    case xeCharData: Put(node.value_); break;
    case xeUnknown:
      PutIndent(document, level);
      Put('<');
      Put(node.value_);
      Put('>');
      break;
    default:
      // What was written before the bad node reaches the stream, as it would piece by piece.
      Flush();
      throw EFilerError("Illegal element type");
  }
  if (document && document->OnProgress) document->OnProgress(const_cast<TXmlDocument*>(document), Position());
}

// --- TXmlNode

std::string TXmlNode::LineBreak() const { return std::string(LineBreakOf(document_)); }

std::string TXmlNode::Indent() const {
  if (!document_ || document_->XmlFormat != 0) return std::string();
  std::string indent;
  for (int32_t i = Level(); i > 0; --i) indent += document_->IndentString;
  return indent;
}

// Empty elements below the top level close their start tag with "/>" unless asked otherwise.
bool TXmlNode::IsWrittenShort(int32_t level) const {
  bool inFull = document_ && document_->WriteEmptyInFull;
  return elementType_ == xeElement && value_.empty() && GetNodeCount() == 0 && !inFull && level >= 1;
}

std::string TXmlNode::GetAttributesText() const {
  std::string text;
  size_t at = 0;
  std::string_view entry;
  while (attributes_ && attributes_->Next(at, entry)) {
    text += ' ';
    text += entry;
  }
  if (IsWrittenShort(Level())) text += '/';
  return text;
}

void TXmlNode::WriteToStream(TStream& stream) {
  TXmlWriter writer(stream);
  writer.WriteNode(*this, Level());
  writer.Flush();
}

std::string TXmlNode::WriteToString() {
  TsdUTF8StringStream stream;
  WriteToStream(stream);
  return stream.DataString();
}

// --- TXmlDocument

void TXmlDocument::WriteToStream(TStream& stream) {
  if (!Root() && StrictStructure) throw EFilerError("XML root element not defined.");
  OnProgress(this, 0);
  TXmlWriter writer(stream);
  const std::string lineBreak = GetLineBreak();
  // Through a codec the declaration names the encoding of the bytes written (the tree keeps its
  // own); a file a reader cannot decode without one gets one.
  const bool declareEncoding = codec_ != nullptr;
  const uint8_t encoding = codec_ ? codec_->Encoding() : uint8_t{seUTF8};
  TXmlNode* declaration = declareEncoding ? rootNodes_->NodeByElementType(xeDeclaration) : nullptr;
  if (declareEncoding && !declaration && NeedsDeclaredEncoding(encoding)) {
    writer.Put("<?xml version=\"1.0\" encoding=\"" + EncodingName(encoding) + "\"?>" + lineBreak);
  }
  for (int32_t i = 0; i < rootNodes_->GetNodeCount(); ++i) {
    TXmlNode* node = rootNodes_->GetNodes(i);
    if (node == declaration && (node->AttributeExists("encoding") || NeedsDeclaredEncoding(encoding))) {
      // The copy lies outside the tree and gives its blocks back before the tree is given up.
      const bool asParsed = treeAsParsed_;
      {
        TXmlNode copy(this);
        copy.Assign(*node);
        copy.SetAttributeByName("encoding", EncodingName(encoding));
        writer.WriteNode(copy, copy.Level());
      }
      treeAsParsed_ = asParsed;
    } else {
      writer.WriteNode(*node, 0);
    }
    writer.Put(lineBreak);
  }
  writer.Flush();
  if (OnProgress) OnProgress(this, stream.GetSize());
}

void TXmlDocument::SaveToStream(TStream& stream) {
  TsdBufferedWriteStream buffered(&stream, false);
  TsdUtf8Stream codec(&buffered);
  codec.SetEncoding(StreamEncoding);
  codec_ = &codec;
  try {
    WriteToStream(codec);
  } catch (...) {
    codec_ = nullptr;
    throw;
  }
  codec_ = nullptr;
  buffered.Flush();
}

void TXmlDocument::SaveToFile(const std::string& fileName) {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

std::string TXmlDocument::WriteToString() {
  TsdUTF8StringStream stream;
  WriteToStream(stream);
  return stream.DataString();
}
