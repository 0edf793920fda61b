// The XML document model: a document (TXmlDocument) owning a tree of nodes (TXmlNode) with
// names, escaped values, attributes and children, read from and written to streams, files and
// strings, with typed accessors for values. Names compare without regard to ASCII letter case.
// Parse errors raise EFilerError, stream and encoding errors EStreamError. Not thread-safe: one
// thread at a time per document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "classlib/DateUtils.h"
#include "classlib/Methods.h"
#include "classlib/Streams.h"

class TXmlDocument;
class TXmlNode;
class TXmlNodePool;
class TsdCodecStream;
// The class library's drawing values (classlib/Graphics.h), stored as small subtrees.
class TFont;
class TPen;
class TBrush;
using TColor = int32_t;

// --- Element types

enum : uint8_t {
  xeElement = 0,
  xeComment = 1,
  xeCData = 2,
  xeDeclaration = 3,
  xeStylesheet = 4,
  xeDoctype = 5,
  xeDtdElement = 6,
  xeDtdAttList = 7,
  xeDtdEntity = 8,
  xeDtdNotation = 9,
  xeExclam = 10,    // any other "<!" construct
  xeQuestion = 11,  // processing instruction
  xeCharData = 12,  // text between tags
  xeUnknown = 13,   // any other tag
};

// Elements nested deeper than this raise EFilerError while parsing, so that a crafted document
// cannot exhaust the stack of the thread that loads it.
constexpr int32_t kXmlMaxNestingDepth = 256;

// --- Memory of the tree

// Blocks from a document's node pool (private to the library), or from the heap without one.
void* XmlPoolAllocate(TXmlNodePool* pool, size_t bytes);
void XmlPoolFree(TXmlNodePool* pool, void* block, size_t bytes) noexcept;

// The allocator of the lists a node keeps: the pool of the node's document, or the heap.
template <typename T>
class TXmlAllocator {
 public:
  using value_type = T;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;
  using is_always_equal = std::false_type;

  TXmlAllocator(TXmlNodePool* pool = nullptr) noexcept : pool_(pool) {}
  template <typename U>
  TXmlAllocator(const TXmlAllocator<U>& other) noexcept : pool_(other.Pool()) {}

  T* allocate(size_t count) { return static_cast<T*>(XmlPoolAllocate(pool_, count * sizeof(T))); }
  void deallocate(T* block, size_t count) noexcept { XmlPoolFree(pool_, block, count * sizeof(T)); }
  TXmlNodePool* Pool() const { return pool_; }

  template <typename U>
  bool operator==(const TXmlAllocator<U>& other) const {
    return pool_ == other.Pool();
  }

 private:
  TXmlNodePool* pool_;
};

// --- TsdUTF8StringList

// A growable list of byte strings (attribute entries "name=quoted value"), held one after
// another in a single buffer, each after its length: one allocation for all the entries of a
// node, and none while they are few and short. Indexes outside 0 .. Count() - 1 are the caller's
// fault.
class TsdUTF8StringList {
 public:
  // The entries' buffer comes from `pool` (a document's node pool, for the attributes of its
  // nodes), from the heap without one. A copy uses the same pool.
  explicit TsdUTF8StringList(TXmlNodePool* pool = nullptr) : text_(TXmlAllocator<char>(pool)) {}

  int32_t Count() const { return count_; }
  int32_t Add(std::string_view s);
  // Room for `bytes` more bytes of entries.
  void Reserve(size_t bytes) { text_.reserve(text_.size() + bytes); }
  std::string_view Get(int32_t i) const;
  // Walks the entries in order: `at` starts at 0 and is moved on; false after the last.
  bool Next(size_t& at, std::string_view& entry) const;
  void Set(int32_t i, std::string_view s);
  void Delete(int32_t i);
  void Clear() {
    text_.clear();
    count_ = 0;
  }
  // The entries as a tag writes them, each after a blank: their length, and the text written to
  // `out` (which has room for it), answering where it ends.
  size_t TagTextSize() const { return text_.size() - 3 * static_cast<size_t>(count_); }
  char* PutTagText(char* out) const;
  TXmlNodePool* Pool() const { return text_.get_allocator().Pool(); }
  // Whether the entries take a block of memory of their own, and whether that may be a large
  // one (not carved from the pool's chunks).
  bool HasBlock() const { return text_.capacity() > TText().capacity(); }
  bool MayHaveLargeBlock() const { return text_.capacity() >= 256; }

 private:
  friend class TXmlParser;

  // Offset of entry i's length field.
  size_t Find(int32_t i) const;

  using TText = std::basic_string<char, std::char_traits<char>, TXmlAllocator<char>>;
  TText text_;
  int32_t count_ = 0;
};

// --- TXmlNodeList

// A list of borrowed node references (it does not own them).
class TXmlNodeList : public TObject {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Node i, nullptr out of range.
  TXmlNode* GetItems(int32_t i) const {
    return i >= 0 && i < Count() ? items_[static_cast<size_t>(i)] : nullptr;
  }
  void Add(TXmlNode* node) { items_.push_back(node); }
  void Clear() { items_.clear(); }

 private:
  std::vector<TXmlNode*> items_;
};

// --- TXmlNode

using TXmlNodeEvent = TMethod<void(TXmlDocument*, TXmlNode*)>;
using TXmlProgressEvent = TMethod<void(TXmlDocument*, int64_t)>;

// One item of a document: element, comment, CDATA, declaration, text, ... (see the element types).
// A node owns its children and attributes; `document` may be nullptr for a free-standing node.
// Values are held escaped, as in the file; the *AsString accessors escape and unescape.
class TXmlNode : public TObject {
 public:
  explicit TXmlNode(TXmlDocument* document) : document_(document) {}
  TXmlNode(TXmlDocument* document, const std::string& name);
  // `value` is plain text, stored escaped.
  TXmlNode(TXmlDocument* document, const std::string& name, const std::string& value);
  static TXmlNode* CreateType(TXmlDocument* document, uint8_t elementType);
  ~TXmlNode() override;

  // Nodes made with a document come from that document's node pool (plain `new TXmlNode(...)`
  // from the heap); either kind is freed with `delete`, also after the document is gone (a node
  // that outlives its document may then only be read and freed: it still points to it).
  static void* operator new(std::size_t size);
  static void* operator new(std::size_t size, TXmlDocument* document);
  static void operator delete(void* block) noexcept;
  static void operator delete(void* block, TXmlDocument* document) noexcept;

  // Copies type, name, tag, value, attributes and a copy of each child (the document stays).
  void Assign(const TXmlNode& source);
  // Assigns the document's root container.
  void Assign(const TXmlDocument& source);

  // --- Properties
  const std::string& Name() const { return name_; }
  // Raises Exception "Illegal character in node name "<name>"" for a blank, tab, CR or LF.
  void SetName(const std::string& name);
  // The value as held: escaped.
  const std::string& Value() const { return value_; }
  void SetValue(const std::string& value);
  // The unescaped value; for an element trimmed of blanks first.
  std::string ValueAsString() const;
  void SetValueAsString(const std::string& text);
  WideString ValueAsWidestring() const;
  void SetValueAsWidestring(const WideString& text);
  uint8_t ElementType() const { return elementType_; }
  void SetElementType(uint8_t type) { elementType_ = type; }
  int32_t Tag() const { return tag_; }
  void SetTag(int32_t tag) { tag_ = tag; }
  TXmlNode* Parent() const { return parent_; }
  TXmlDocument* Document() const { return document_; }
  // -1 for a document's root container (and any node without a parent), 0 for top-level nodes,
  // one more a level down.
  int32_t Level() const;
  // "/" and the names down from the top level, e.g. "/root/a".
  std::string FullPath() const;

  // --- Children
  int32_t GetNodeCount() const { return nodes_ ? static_cast<int32_t>(nodes_->size()) : 0; }
  // Child i, nullptr out of range.
  TXmlNode* GetNodes(int32_t i) const;
  // Appends and takes ownership; sets the parent and the document of the whole subtree. -1 for
  // nullptr.
  int32_t NodeAdd(TXmlNode* node);
  // Inserts at 0 .. count and takes ownership; other indexes and nullptr are ignored (and the
  // node is then not taken).
  void NodeInsert(int32_t index, TXmlNode* node);
  TXmlNode* NodeNew(const std::string& name);
  // nullptr when the index is outside 0 .. count.
  TXmlNode* NodeNewAtIndex(int32_t index, const std::string& name);
  TXmlNode* NodeByName(const std::string& name) const;
  int32_t NodeIndexByName(const std::string& name) const;
  int32_t NodeIndexByNameFrom(const std::string& name, int32_t from) const;
  TXmlNode* NodeFindOrCreate(const std::string& name);
  TXmlNode* NodeByElementType(uint8_t elementType) const;
  void NodeDelete(int32_t index);
  // Removes without freeing; the caller owns the result. nullptr when not a child.
  TXmlNode* NodeExtract(TXmlNode* node);
  // Frees the child; its former index or -1.
  int32_t NodeRemove(TXmlNode* node);
  // Removes and frees this node through its parent (nothing without a parent). Do not use the
  // node afterwards.
  void Delete();
  void NodesClear();
  // Fills `list` with the subtree's nodes (depth-first, document order, excluding this node) named
  // `name`; a name beginning with "/" is compared with each node's full path.
  void NodesByName(const std::string& name, TXmlNodeList& list) const;

  // --- Attributes
  int32_t AttributeCount() const { return attributes_ ? attributes_->Count() : 0; }
  // Appends (never replaces) name="escaped value".
  void AttributeAdd(const std::string& name, const std::string& value);
  // The plain value of the first attribute of that name, empty when absent.
  std::string AttributeByName(const std::string& name) const;
  bool AttributeExists(const std::string& name) const { return AttributeIndexByName(name) >= 0; }
  int32_t AttributeIndexByName(const std::string& name) const;
  // Out-of-range indexes give an empty text.
  std::string AttributeName(int32_t i) const;
  std::string AttributeValue(int32_t i) const;
  std::string AttributeText(int32_t i) const;
  // Rewrites entry i with the plain value, keeping its name; out of range does nothing.
  void SetAttributeValue(int32_t i, const std::string& value);
  // Replaces the first attribute of that name in place, or appends it.
  void SetAttributeByName(const std::string& name, const std::string& value);
  void AttributesClear();
  void DeleteEmptyAttributes();

  // --- State
  // Empties name and value and frees attributes and children.
  void Clear();
  bool IsEmpty() const { return value_.empty() && GetNodeCount() == 0 && AttributeCount() == 0; }
  bool IsClear() const { return IsEmpty() && name_.empty(); }

  // --- Reading and writing
  // Parses one node and its subtree from the stream's position (see TXmlDocument::ReadFromStream).
  void ParseStream(TStream& stream);
  // Parses the text (UTF-8) as this node.
  void ReadFromString(const std::string& text);
  // The attribute part of the tag as written: each entry after a blank, then "/" for an element
  // written in the short form.
  std::string GetAttributesText() const;
  // Writes the node and its subtree; EFilerError "Illegal element type" for a type above 13.
  void WriteToStream(TStream& stream);
  std::string WriteToString();

  // --- Binary data in the node's value
  // Encodes hexadecimal or Base64 (the document's BinaryCoding) wrapped at 76 characters.
  void BinaryEncode(const void* buffer, size_t count);
  // Decodes exactly `count` bytes (EFilerError when the value holds fewer).
  void BinaryDecode(void* buffer, size_t count) const;
  // Bytes the value decodes to; EFilerError "Error while calculating streamlength" when the
  // length does not fit the coding.
  size_t BinaryDecodedSize() const;

  // --- Typed values (defaults are returned when a value is absent or, where noted, unreadable)
  bool ReadAttributeBool(const std::string& name, bool fallback) const;
  TDateTime ReadAttributeDateTime(const std::string& name, TDateTime fallback) const;
  int32_t ReadAttributeInteger(const std::string& name, int32_t fallback) const;
  int64_t ReadAttributeInt64(const std::string& name, int64_t fallback) const;
  double ReadAttributeFloat(const std::string& name, double fallback) const;
  std::string ReadAttributeString(const std::string& name, const std::string& fallback = "") const;
  bool ReadBool(const std::string& name, bool fallback) const;
  // The font, pen and brush readers set every value they store: from the child's elements, or
  // the defaults when the child or an element is missing. A style number outside its
  // enumeration raises EConvertError.
  void ReadBrush(const std::string& name, TBrush& brush) const;
  // Raises EConvertError on a value that is no integer.
  TColor ReadColor(const std::string& name, TColor fallback) const;
  void ReadFont(const std::string& name, TFont& font) const;
  void ReadPen(const std::string& name, TPen& pen) const;
  TDateTime ReadDateTime(const std::string& name, TDateTime fallback) const;
  double ReadFloat(const std::string& name, double fallback) const;
  int64_t ReadInt64(const std::string& name, int64_t fallback) const;
  int32_t ReadInteger(const std::string& name, int32_t fallback) const;
  std::string ReadString(const std::string& name, const std::string& fallback = "") const;
  WideString ReadWidestring(const std::string& name, const WideString& fallback = WideString()) const;
  bool ValueAsBoolDef(bool fallback) const;
  TDateTime ValueAsDateTimeDef(TDateTime fallback) const;
  double ValueAsFloatDef(double fallback) const;
  int64_t ValueAsInt64Def(int64_t fallback) const;
  int32_t ValueAsIntegerDef(int32_t fallback) const;
  void WriteAttributeBool(const std::string& name, bool value, bool fallback = false);
  void WriteAttributeDateTime(const std::string& name, TDateTime value, TDateTime fallback = 0);
  void WriteAttributeInteger(const std::string& name, int32_t value, int32_t fallback = 0);
  void WriteAttributeInt64(const std::string& name, int64_t value, int64_t fallback = 0);
  void WriteAttributeFloat(const std::string& name, double value, double fallback = 0);
  void WriteAttributeString(const std::string& name, const std::string& value,
                            const std::string& fallback = "");
  void WriteBool(const std::string& name, bool value, bool fallback = false);
  void WriteBrush(const std::string& name, const TBrush& brush);
  void WriteColor(const std::string& name, TColor value, TColor fallback = 0);
  void WriteFont(const std::string& name, const TFont& font);
  void WritePen(const std::string& name, const TPen& pen);
  void WriteDateTime(const std::string& name, TDateTime value, TDateTime fallback = 0);
  void WriteFloat(const std::string& name, double value, double fallback = 0);
  void WriteHex(const std::string& name, uint32_t value, int digits, uint32_t fallback = 0);
  void WriteInt64(const std::string& name, int64_t value, int64_t fallback = 0);
  void WriteInteger(const std::string& name, int32_t value, int32_t fallback = 0);
  void WriteString(const std::string& name, const std::string& value,
                   const std::string& fallback = "");
  void WriteWidestring(const std::string& name, const WideString& value,
                       const std::string& fallback = "");

 private:
  friend class TXmlDocument;
  friend class TXmlParser;
  friend class TXmlWriter;

  void SetDocumentOfSubtree(TXmlDocument* document);
  // Tells the document that its tree may no longer be as the parser built it.
  void Changed();
  // Frees the children and the attributes, without telling the document (which may be gone).
  void FreeChildren();
  void FreeAttributes();
  void CollectByName(const std::string& name, bool byPath, TXmlNodeList& list) const;
  bool WritesDefaults() const;
  std::string LineBreak() const;
  std::string Indent() const;
  bool IsWrittenShort(int32_t level) const;
  uint8_t BinaryCoding() const;

  using TChildList = std::vector<std::unique_ptr<TXmlNode>, TXmlAllocator<std::unique_ptr<TXmlNode>>>;

  // NodeAdd for a node made with this node's document and no children yet.
  void AppendChild(TXmlNode* node) {
    std::unique_ptr<TXmlNode> owned(node);
    TChildList& children = Children();
    if (children.capacity() == 0) children.reserve(4);
    children.push_back(std::move(owned));
    node->parent_ = this;
  }
  // The lists, made on first need (from the document's node pool).
  TsdUTF8StringList& Attributes();
  TChildList& Children();
  // The pool of the node's document, nullptr without one.
  TXmlNodePool* Pool() const;

  std::string name_;
  std::string value_;
  // Made on first need and freed when emptied by Clear, each from the memory its entries use.
  TsdUTF8StringList* attributes_ = nullptr;
  TChildList* nodes_ = nullptr;
  TXmlNode* parent_ = nullptr;
  TXmlDocument* document_ = nullptr;
  uint8_t elementType_ = xeElement;
  int32_t tag_ = 0;
};

// --- TXmlDocument

// A whole document: the root container holds the top-level nodes (declaration, comments, DTD,
// root element). The settings below are plain fields; `SetDefaults` restores them.
class TXmlDocument : public TObject {
 public:
  TXmlDocument();
  // Creates the document and names the root element.
  explicit TXmlDocument(const std::string& rootName);
  ~TXmlDocument() override;

  // Copies the settings and the node tree of `source`.
  void Assign(const TXmlDocument& source);
  // Makes the root container a copy of `source`.
  void Assign(const TXmlNode& source);
  void AssignIfSet(const TXmlDocument* source) {
    if (source) Assign(*source);
  }

  // "\r\n" for XmlFormat 0, "\n" otherwise.
  std::string GetLineBreak() const { return XmlFormat == 0 ? "\r\n" : "\n"; }
  void SetDefaults();
  // Defaults, then the declaration (version "1.0", encoding "UTF-8") and an empty root element.
  void Clear();
  bool IsEmpty() const;

  // The first top-level element, nullptr when none.
  TXmlNode* Root() const;
  // The invisible container of the top-level nodes.
  TXmlNode* RootNodeList() const { return rootNodes_.get(); }

  // --- Reading (EFilerError on malformed text, EStreamError on unsupported encodings)
  // Parses a whole document from the stream's position into the root container.
  void ReadFromStream(TStream& stream);
  // Detects the encoding, parses, and keeps the encoding found in StreamEncoding.
  void LoadFromStream(TStream& stream);
  // EFOpenError when the file cannot be opened.
  void LoadFromFile(const std::string& fileName);
  // As LoadFromFile with StrictStructure off; false on a parse error (the document then holds
  // what was read before it). Other errors pass through.
  bool LoadFromFileQuiet(const std::string& fileName);
  // Parses UTF-8 text without encoding detection.
  void ReadFromString(const std::string& text);
  // Parses the rest of a document type declaration (after "<!DOCTYPE") into `node`.
  void ParseDocType(TXmlNode* node, TStream& stream);

  // --- Writing
  void WriteToStream(TStream& stream);
  // Writes in StreamEncoding (with its byte-order mark, none for UTF-8).
  void SaveToStream(TStream& stream);
  // EFCreateError when the file cannot be created.
  void SaveToFile(const std::string& fileName);
  // The document as UTF-8 text, without encoding conversion.
  std::string WriteToString();

  // The codec in use while loading or saving, nullptr otherwise.
  TsdCodecStream* CodecStream() const { return codec_; }

  // --- Settings
  bool ParseAborted = false;     // set from an event handler to stop parsing quietly
  uint8_t BinaryCoding = 1;      // 0 hexadecimal, 1 Base64
  bool DropComments = false;     // discard comments inside elements while parsing
  uint8_t StreamEncoding = 7;    // encoding code (XmlStreams.h); set by loading
  bool FloatAllowExponent = true;
  int32_t FloatDigits = 6;       // significant digits of written floats, 1..9
  bool StrictStructure = false;  // check the top level after loading and before saving
  std::string IndentString = "  ";
  bool WriteEmptyInFull = false;  // write empty elements with an end tag
  bool LocalTimeBias = false;     // write and read dates with the time-zone offset
  bool WriteDefaults = true;      // false: typed writers leave out values equal to the default
  uint8_t XmlFormat = 1;          // 0 indented with CR LF, 1 compact, 2 LF without indentation

  TXmlNodeEvent OnNodeNew;       // a tag has been read, before its content
  TXmlNodeEvent OnNodeLoaded;    // a node is complete
  TXmlProgressEvent OnProgress;  // stream position: 0 at the start, after each node, size at the end

 private:
  friend class TXmlNode;
  friend class TXmlParser;
  friend class TXmlWriter;

  void CheckStructure();
  // Frees the top-level nodes. `reuseTexts`: a parse follows, which may take over the long texts
  // of a tree given up as parsed (they are kept in spareTexts_ until the parse ends).
  void ClearRootNodes(bool reuseTexts = false);
  // Frees a list of child nodes when the pool is to be reset afterwards: blocks of the pool are
  // left where they are (counted), only what lies elsewhere is freed. Answers the count.
  size_t AbandonChildren(TXmlNode::TChildList* list);
  size_t AbandonNode(TXmlNode* node);

  // Gives up a tree as the parser built it: frees what it noted and resets the pool.
  void GiveUpParsedTree(bool reuseTexts);
  void ForgetParsedTree();

  // The pool of this document's nodes; it lives on while nodes taken out of it do.
  TXmlNodePool* pool_;
  // Blocks of the pool were abandoned while others were still out: the tree is freed block by
  // block until the pool has been reset.
  bool poolHasGarbage_ = false;
  // A tree that the parser built into a pool with no block out, and that has not changed since,
  // holds outside the pool's chunks only what the parser noted: texts on the heap, and the large
  // blocks of attribute and child lists. It is given up by freeing just these, without visiting
  // its nodes, as long as the pool still counts the blocks it counted when the parse ended (no
  // node made since lives outside the tree).
  bool treeAsParsed_ = false;
  size_t treeBlocks_ = 0;
  std::vector<std::string*> heapTexts_;
  std::vector<TsdUTF8StringList*> largeAttributes_;
  std::vector<std::pair<void*, size_t>> largeChildLists_;
  // The long texts of the tree given up for a parse, taken over by the parse in their order.
  std::vector<std::string> spareTexts_;
  std::unique_ptr<TXmlNode> rootNodes_;
  TsdCodecStream* codec_ = nullptr;
};
