// The XML writer: each node writes its text form with the indentation and line breaks of the
// document's XmlFormat. Values and attributes are held escaped and written as they are.
#include "XmlDocument.h"
#include "XmlPlatform_p.h"
#include "XmlStreams.h"
#include "classlib/SysUtils.h"

namespace {

void Put(TStream& stream, const std::string& text) {
  if (!text.empty()) stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

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

}  // namespace

// --- TXmlNode

std::string TXmlNode::LineBreak() const {
  if (!document_) return std::string();
  switch (document_->XmlFormat) {
    case 0: return "\r\n";
    case 2: return "\n";
    default: return std::string();
  }
}

std::string TXmlNode::Indent() const {
  if (!document_ || document_->XmlFormat != 0) return std::string();
  std::string indent;
  for (int32_t i = Level(); i > 0; --i) indent += document_->IndentString;
  return indent;
}

// Empty elements below the top level close their start tag with "/>" unless asked otherwise.
bool TXmlNode::IsWrittenShort() const {
  bool inFull = document_ && document_->WriteEmptyInFull;
  return elementType_ == xeElement && value_.empty() && nodes_.empty() && !inFull && Level() >= 1;
}

std::string TXmlNode::GetAttributesText() const {
  std::string text;
  for (int32_t i = 0; i < AttributeCount(); ++i) {
    text += ' ';
    text += attributes_.Get(i);
  }
  if (IsWrittenShort()) text += '/';
  return text;
}

void TXmlNode::WriteToStream(TStream& stream) {
  const std::string indent = Indent();
  const std::string lineBreak = LineBreak();
  switch (elementType_) {
    case xeElement: {
      Put(stream, indent + "<" + name_ + GetAttributesText() + ">");
      if (IsWrittenShort()) break;
      Put(stream, value_);
      if (!nodes_.empty()) Put(stream, lineBreak);
      for (size_t i = 0; i < nodes_.size(); ++i) {
        nodes_[i]->WriteToStream(stream);
        bool nextIsText = i + 1 < nodes_.size() && nodes_[i + 1]->elementType_ == xeCharData;
        if (nodes_[i]->elementType_ != xeCharData && !nextIsText) Put(stream, lineBreak);
      }
      if (!nodes_.empty()) Put(stream, indent);
      Put(stream, "</" + name_ + ">");
      break;
    }
    case xeComment: Put(stream, indent + "<!--" + value_ + "-->"); break;
    case xeCData: Put(stream, indent + "<![CDATA[" + value_ + "]]>"); break;
    case xeDeclaration:
      DeleteEmptyAttributes();
      Put(stream, indent + "<?xml" + GetAttributesText() + "?>");
      break;
    case xeStylesheet: Put(stream, indent + "<?xml-stylesheet" + GetAttributesText() + "?>"); break;
    case xeDoctype:
      if (nodes_.empty()) {
        Put(stream, indent + "<!DOCTYPE " + name_ + " " + value_ + ">");
        break;
      }
      Put(stream, indent + "<!DOCTYPE " + name_ + " " + value_ + " [" + lineBreak);
      for (auto& child : nodes_) {
        child->WriteToStream(stream);
        Put(stream, lineBreak);
      }
      Put(stream, "]>");
      break;
    case xeDtdElement: Put(stream, indent + "<!ELEMENT " + name_ + " " + value_ + ">"); break;
    case xeDtdAttList: Put(stream, indent + "<!ATTLIST " + name_ + " " + value_ + ">"); break;
    case xeDtdEntity: Put(stream, indent + "<!ENTITY " + name_ + " " + value_ + ">"); break;
    case xeDtdNotation: Put(stream, indent + "<!NOTATION " + name_ + " " + value_ + ">"); break;
    case xeExclam: Put(stream, indent + "<!" + value_ + ">"); break;
    case xeQuestion: Put(stream, indent + "<?" + value_ + "?>"); break;
    case xeCharData: Put(stream, value_); break;
    case xeUnknown: Put(stream, indent + "<" + value_ + ">"); break;
    default: throw EFilerError("Illegal element type");
  }
  if (document_ && document_->OnProgress) document_->OnProgress(document_, stream.GetPosition());
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
  const std::string lineBreak = GetLineBreak();
  // Through a codec the declaration names the encoding of the bytes written (the tree keeps its
  // own); a file a reader cannot decode without one gets one.
  const bool declareEncoding = codec_ != nullptr;
  const uint8_t encoding = codec_ ? codec_->Encoding() : uint8_t{seUTF8};
  TXmlNode* declaration = declareEncoding ? rootNodes_->NodeByElementType(xeDeclaration) : nullptr;
  if (declareEncoding && !declaration && NeedsDeclaredEncoding(encoding)) {
    Put(stream, "<?xml version=\"1.0\" encoding=\"" + EncodingName(encoding) + "\"?>" + lineBreak);
  }
  for (int32_t i = 0; i < rootNodes_->GetNodeCount(); ++i) {
    TXmlNode* node = rootNodes_->GetNodes(i);
    if (node == declaration && (node->AttributeExists("encoding") || NeedsDeclaredEncoding(encoding))) {
      TXmlNode copy(this);
      copy.Assign(*node);
      copy.SetAttributeByName("encoding", EncodingName(encoding));
      copy.WriteToStream(stream);
    } else {
      node->WriteToStream(stream);
    }
    Put(stream, lineBreak);
  }
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
