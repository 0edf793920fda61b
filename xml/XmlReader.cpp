// The XML reader: a single pass over the characters of a stream in which each node parses itself
// and an element parses its children recursively. No DTD is interpreted and no entity resolved.
//
// The text is decoded into one buffer as parsing asks for it and scanned there with pointers:
// runs of ordinary characters are passed over in tight loops over character tables, and names,
// values and attributes are copied once, straight from the buffer into the nodes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "XmlDocument.h"
#include "XmlNodePool_p.h"
#include "XmlStreams.h"
#include "XmlText.h"
#include "classlib/SysUtils.h"

namespace {

// --- Tags

// The openings recognised after "<", with the text that closes them, in the order tried.
struct TagEntry {
  std::string_view opening;
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
const TagEntry& kElementTag = kTags[11];
const TagEntry& kInstructionTag = kTags[10];
// The longest opening, and the character after it that tells "<?xml" from "<?xmlfoo".
constexpr size_t kOpeningLookAhead = 17;

[[noreturn]] void ParseError(const char* format, const std::string& name) {
  std::string message(format);
  size_t at = message.find("%s");
  if (at != std::string::npos) message.replace(at, 2, name);
  throw EFilerError(message);
}

// --- Character classes

// How the scanners see each byte. A byte 0 only ever stands at the end of the decoded text.
enum : uint8_t { ccOrdinary = 0, ccBlank, ccQuote, ccClose, ccEnd };

struct TCharClasses {
  bool Blank[256] = {};
  // Characters of a name in a tag of the plain form: no blank, quote, "=", "/", ">" or 0.
  bool Plain[256] = {};
  uint8_t Tag[256] = {};  // inside a tag: blanks split, quotes group, ">" may close
  bool QuotedCloseStop[256] = {};  // up to a closing text: ">", the quote characters and the end
  TCharClasses() {
    for (char c : {' ', '\t', '\r', '\n'}) {
      Blank[static_cast<uint8_t>(c)] = true;
      Tag[static_cast<uint8_t>(c)] = ccBlank;
    }
    Tag['"'] = Tag['\''] = ccQuote;
    Tag['>'] = ccClose;
    Tag[0] = ccEnd;
    QuotedCloseStop['>'] = QuotedCloseStop[0] = QuotedCloseStop['"'] = QuotedCloseStop['\''] = true;
    for (int c = 0; c < 256; ++c) Plain[c] = !Blank[c];
    for (char c : {'"', '\'', '=', '/', '>', '\0'}) Plain[static_cast<uint8_t>(c)] = false;
  }
};
const TCharClasses kClasses;

// Texts up to this length are held inside the string; longer ones on the heap.
constexpr size_t kLocalTextCapacity = std::string().capacity();

[[maybe_unused]] uint8_t ClassOf(char c) { return kClasses.Tag[static_cast<uint8_t>(c)]; }
bool IsBlank(char c) { return kClasses.Blank[static_cast<uint8_t>(c)]; }
bool IsPlain(char c) { return kClasses.Plain[static_cast<uint8_t>(c)]; }

// --- Scanning

// Each finder answers the first character at or after `p` that it stops at, or the byte 0 that
// ends the decoded text. The text is followed by padding, so that whole blocks of 16 bytes may be
// read beyond the 0: a block is only read while no earlier one held the 0.
#if defined(__SSE2__)
using TBlock = __m128i;
TBlock Load(const char* p) { return _mm_loadu_si128(reinterpret_cast<const TBlock*>(p)); }
TBlock Bytes(char c) { return _mm_set1_epi8(c); }
TBlock Equal(TBlock v, TBlock c) { return _mm_cmpeq_epi8(v, c); }
TBlock Either(TBlock a, TBlock b) { return _mm_or_si128(a, b); }
int MaskOf(TBlock v) { return _mm_movemask_epi8(v); }
int FirstOf(int mask) { return __builtin_ctz(static_cast<unsigned>(mask)); }
#endif

const char* FindNonBlank(const char* p) {
#if defined(__SSE2__)
  const TBlock space = Bytes(' '), tab = Bytes('\t'), cr = Bytes('\r'), lf = Bytes('\n');
  for (;; p += 16) {
    const TBlock v = Load(p);
    const int blanks = MaskOf(Either(Either(Equal(v, space), Equal(v, tab)), Either(Equal(v, cr), Equal(v, lf))));
    if (blanks != 0xFFFF) return p + FirstOf(~blanks);
  }
#else
  while (IsBlank(*p)) ++p;
  return p;
#endif
}

// One character (and the 0).
const char* FindChar(const char* p, char c) {
#if defined(__SSE2__)
  const TBlock wanted = Bytes(c), zero = _mm_setzero_si128();
  for (;; p += 16) {
    const TBlock v = Load(p);
    if (const int mask = MaskOf(Either(Equal(v, wanted), Equal(v, zero)))) return p + FirstOf(mask);
  }
#else
  while (*p != c && *p != 0) ++p;
  return p;
#endif
}

// ">" and the quote characters (and the 0).
const char* FindCloseOrQuote(const char* p) {
#if defined(__SSE2__)
  const TBlock close = Bytes('>'), quote = Bytes('"'), apostrophe = Bytes('\''), zero = _mm_setzero_si128();
  for (;; p += 16) {
    const TBlock v = Load(p);
    const int mask = MaskOf(Either(Either(Equal(v, close), Equal(v, zero)), Either(Equal(v, quote), Equal(v, apostrophe))));
    if (mask) return p + FirstOf(mask);
  }
#else
  while (!kClasses.QuotedCloseStop[static_cast<uint8_t>(*p)]) ++p;
  return p;
#endif
}

// The end of a run of ordinary characters of a tag: a blank, a quote character, ">" or the 0.
const char* FindTagStop(const char* p) {
#if defined(__SSE2__)
  const TBlock space = Bytes(' '), tab = Bytes('\t'), cr = Bytes('\r'), lf = Bytes('\n');
  const TBlock close = Bytes('>'), quote = Bytes('"'), apostrophe = Bytes('\''), zero = _mm_setzero_si128();
  for (;; p += 16) {
    const TBlock v = Load(p);
    const TBlock blank = Either(Either(Equal(v, space), Equal(v, tab)), Either(Equal(v, cr), Equal(v, lf)));
    const TBlock other = Either(Either(Equal(v, close), Equal(v, zero)), Either(Equal(v, quote), Equal(v, apostrophe)));
    if (const int mask = MaskOf(Either(blank, other))) return p + FirstOf(mask);
  }
#else
  while (ClassOf(*p) == ccOrdinary) ++p;
  return p;
#endif
}

// Whether `length` bytes at `a` and `b` are the same. Names are short: they are compared here a
// few bytes at a time (the first and the last four or eight overlapping) rather than by a call.
bool SameShortText(const char* a, const char* b, size_t length) {
  auto word = [](const char* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
  };
  auto longWord = [](const char* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
  };
  if (length >= 8) {
    for (size_t i = 0; i + 8 < length; i += 8) {
      if (longWord(a + i) != longWord(b + i)) return false;
    }
    return longWord(a + length - 8) == longWord(b + length - 8);
  }
  if (length >= 4) return word(a) == word(b) && word(a + length - 4) == word(b + length - 4);
  for (size_t i = 0; i < length; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

std::string_view TrimmedEnd(std::string_view text) {
  size_t last = text.size();
  while (last > 0 && IsBlank(text[last - 1])) --last;
  return text.substr(0, last);
}

std::string_view TrimmedView(std::string_view text) {
  size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) ++first;
  return TrimmedEnd(text.substr(first));
}

// --- Input

// The decoded text of a stream from where parsing began, held whole in one buffer that ends in
// a byte 0 and some padding, so that a scan stops at the end without checking bounds. Text is
// decoded in chunks as the parser asks for more; an encoding switched after the declaration
// applies to all that has not been parsed. When parsing is over the stream is moved to just
// after the text that was parsed, as if it had been read character by character.
class TXmlInput {
 public:
  explicit TXmlInput(TStream& stream)
      : stream_(stream), codec_(dynamic_cast<TsdCodecStream*>(&stream)) {}

  const char* Data() const { return data_.get(); }
  size_t Size() const { return size_; }
  TsdCodecStream* Codec() const { return codec_; }

  // Starts reading (the codec detects the encoding) and makes the buffer for the text.
  void Prepare() {
    if (!started_) Start();
  }
  // Decodes more text; false at the end of the text. A failed call counts as reading past the
  // end (the stream then stands after the mark that ended the text) unless it is a peek.
  bool Fill(bool peek);
  // The stream position after the first `offset` bytes of text.
  int64_t PositionAt(size_t offset);
  // Moves the stream to PositionAt(offset).
  void Sync(size_t offset);
  // Decodes the text after `offset` afresh in `encoding` (the codec's own text only).
  void SwitchEncoding(size_t offset, uint8_t encoding);

 private:
  // How a stretch of text maps to positions in the stream: a byte a byte, one byte for each
  // character (8-bit text) or two bytes for each character and four for those beyond U+FFFF
  // (16-bit text).
  enum TMapping : uint8_t { mpBytes, mpCharacters, mpUnits };
  struct TSegment {
    size_t Offset;     // in the text
    int64_t Position;  // in the stream
    TMapping Mapping;
  };

  void Start();
  void Reserve(size_t more);
  int32_t ReadRaw(char* out, int32_t room, bool& ended);
  static TMapping MappingOf(uint8_t encoding);

  static constexpr size_t kPadding = 64;
  static constexpr size_t kSmallestRead = 4096;
  static constexpr size_t kFirstChunk = 65536;
  static constexpr size_t kLargestChunk = 4 << 20;
  // 8-bit text is decoded a little at a time: the declaration may still switch it to UTF-8.
  static constexpr size_t kEightBitChunk = 4096;

  TStream& stream_;
  TsdCodecStream* codec_;
  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;  // without the padding
  size_t chunk_ = kFirstChunk;
  bool started_ = false;
  bool ended_ = false;       // the decoding has met the end of the text
  bool lookedPast_ = false;  // the parser has asked for more after the end
  int64_t endPosition_ = 0;  // where the stream stands after the mark that ended the text
  std::vector<TSegment> segments_;
  // The last position worked out by counting characters, to go on from.
  size_t countedOffset_ = 0;
  int64_t countedPosition_ = -1;
};

TXmlInput::TMapping TXmlInput::MappingOf(uint8_t encoding) {
  switch (encoding) {
    case seAnsi: return mpCharacters;
    case se16BitBE:
    case se16BitLE:
    case seUTF16BE:
    case seUTF16LE: return mpUnits;
    default: return mpBytes;
  }
}

void TXmlInput::Start() {
  int64_t position, size;
  if (codec_) {
    position = codec_->ReadPosition();
    size = codec_->Seek(0, soEnd);
    segments_.push_back({0, position, MappingOf(codec_->Encoding())});
  } else {
    position = stream_.GetPosition();
    size = stream_.GetSize();
    segments_.push_back({0, position, mpBytes});
  }
  // Room for the whole text at once when its size is known (decoded text is about as long as
  // its bytes), and a little more so that the last read finds the end, without copying the
  // buffer as it grows.
  const int64_t remaining = size - position;
  Reserve((remaining > 0 ? static_cast<size_t>(remaining) : 0) + kSmallestRead);
  started_ = true;
}

void TXmlInput::Reserve(size_t more) {
  if (data_ && size_ + more <= capacity_) return;
  size_t capacity = std::max({size_ + more, capacity_ + capacity_ / 2, kFirstChunk});
  std::unique_ptr<char[]> data(new char[capacity + kPadding]);
  if (size_ > 0) std::memcpy(data.get(), data_.get(), size_);
  std::memset(data.get() + size_, 0, kPadding);
  data_ = std::move(data);
  capacity_ = capacity;
}

int32_t TXmlInput::ReadRaw(char* out, int32_t room, bool& ended) {
  int32_t got = 0;
  while (got < room) {
    int32_t n = stream_.Read(out + got, room - got);
    if (n <= 0) break;
    got += n;
  }
  ended = got < room;
  if (const void* zero = std::memchr(out, 0, static_cast<size_t>(got))) {
    const int32_t length = static_cast<int32_t>(static_cast<const char*>(zero) - out);
    // A byte 0 ends the text; it is consumed, what follows it is not.
    stream_.Seek(length + 1 - got, soCurrent);
    ended = true;
    return length;
  }
  return got;
}

bool TXmlInput::Fill(bool peek) {
  if (!started_) Start();
  if (!ended_) {
    const bool eightBit = codec_ && codec_->Encoding() == seAnsi;
    size_t want = eightBit ? kEightBitChunk : chunk_;
    if (!eightBit && chunk_ < kLargestChunk) chunk_ *= 2;
    // What is reserved is used up before the buffer grows.
    if (capacity_ - size_ >= kSmallestRead) want = std::min(want, capacity_ - size_);
    Reserve(want);
    size_t got = 0;
    while (got + 4 <= want && !ended_) {
      bool ended = false;
      char* out = data_.get() + size_ + got;
      const int32_t room = static_cast<int32_t>(want - got);
      const int32_t n = codec_ ? codec_->ReadText(out, room, ended) : ReadRaw(out, room, ended);
      got += static_cast<size_t>(n);
      if (ended) {
        ended_ = true;
        endPosition_ = codec_ ? codec_->ReadPosition() : stream_.GetPosition();
      } else if (n == 0) {
        break;
      }
    }
    size_ += got;
    std::memset(data_.get() + size_, 0, kPadding);
    if (got > 0) return true;
  }
  if (!peek) lookedPast_ = true;
  return false;
}

int64_t TXmlInput::PositionAt(size_t offset) {
  if (!started_) return codec_ ? codec_->ReadPosition() : stream_.GetPosition();
  if (offset >= size_ && ended_ && lookedPast_) return endPosition_;
  size_t s = segments_.size() - 1;
  while (s > 0 && segments_[s].Offset > offset) --s;
  const TSegment& segment = segments_[s];
  if (segment.Mapping == mpBytes) return segment.Position + static_cast<int64_t>(offset - segment.Offset);
  // Counted from the segment's start, or from the last count when that lies before.
  size_t at = segment.Offset;
  int64_t position = segment.Position;
  if (countedPosition_ >= 0 && countedOffset_ >= segment.Offset && countedOffset_ <= offset &&
      (s + 1 == segments_.size() || countedOffset_ < segments_[s + 1].Offset)) {
    at = countedOffset_;
    position = countedPosition_;
  }
  const auto* text = reinterpret_cast<const uint8_t*>(data_.get());
  for (; at < offset; ++at) {
    const uint8_t b = text[at];
    if ((b & 0xC0) == 0x80) continue;  // the rest of a character
    position += segment.Mapping == mpCharacters ? 1 : (b >= 0xF0 ? 4 : 2);
  }
  countedOffset_ = offset;
  countedPosition_ = position;
  return position;
}

void TXmlInput::Sync(size_t offset) {
  if (!started_) return;
  const int64_t position = PositionAt(offset);
  if (codec_) codec_->ResumeAt(position);
  else stream_.Seek(position, soBeginning);
}

void TXmlInput::SwitchEncoding(size_t offset, uint8_t encoding) {
  if (!codec_) return;
  if (!started_) Start();
  const int64_t position = PositionAt(std::min(offset, size_));
  codec_->ResumeAt(position);
  codec_->SetEncoding(encoding);
  size_ = std::min(offset, size_);
  std::memset(data_.get() + size_, 0, kPadding);
  ended_ = lookedPast_ = false;
  while (!segments_.empty() && segments_.back().Offset >= size_) segments_.pop_back();
  segments_.push_back({size_, position, MappingOf(encoding)});
  countedPosition_ = -1;
}

}  // namespace

// --- Parser

// The state of one parse: the document (may be nullptr), the decoded text and the position in
// it, shared by all nodes so that each goes on where the one before stopped.
class TXmlParser {
 public:
  TXmlParser(TXmlDocument* document, TStream& stream)
      : document_(document),
        // Handlers can only be set by handlers while parsing: without any, none is ever called.
        reports_(document && (document->OnNodeNew || document->OnNodeLoaded || document->OnProgress)),
        input_(stream) {}
  // Leaves the stream just after what was parsed.
  ~TXmlParser() {
    try {
      input_.Sync(Offset(p_));
    } catch (...) {
    }
  }
  TXmlParser(const TXmlParser&) = delete;
  TXmlParser& operator=(const TXmlParser&) = delete;

  // Starts reading and makes the buffer for the text, before anything is parsed.
  void Prepare() { input_.Prepare(); }
  // True when no character is left.
  bool AtEnd() { return p_ == end_ && !More(); }
  // `fresh`: the node was just made, there is nothing to clear.
  void ParseNode(TXmlNode* node, int32_t depth, bool fresh);
  void ParseDocType(TXmlNode* node, int32_t depth);
  // Text not yet parsed is decoded in `encoding` from here on.
  void SwitchEncoding(TsdCodecStream* codec, uint8_t encoding);
  // Notes in the document what each node of the tree holds outside the pool's chunks, so that
  // the tree can be given up without visiting it (see TXmlDocument::GiveUpParsedTree).
  // Long texts are parsed into the strings of the tree given up before (the document's spare
  // texts), in their order, while they fit.
  void NoteHeldMemory() {
    noting_ = document_;
    spare_ = document_->spareTexts_.data();
    sparesEnd_ = spare_ + document_->spareTexts_.size();
  }

 private:
  // A piece of a tag's text: offsets in the decoded text.
  struct TPiece {
    size_t Start, End;
  };
  // Pieces First .. Last joined into one token.
  struct TToken {
    size_t First, Last;
  };

  bool Aborted() const { return document_ && document_->ParseAborted; }
  void NodeNew(TXmlNode* node) {
    if (reports_) document_->OnNodeNew(document_, node);
  }

  // --- The cursor over the decoded text
  size_t Offset(const char* p) const { return static_cast<size_t>(p - base_); }
  // Decodes more text and keeps the cursor where it was; false at the end of the text.
  bool More(bool peek = false);
  void Rebase();
  // A character stands at the cursor.
  bool Available() { return p_ != end_ || More(); }
  // Moves to the next character that is not blank; false at the end.
  bool SkipBlanks();
  bool SkipBlanksSlow();
  // Moves over the text before the next "<": `firstNonBlank` is where its blanks at the start
  // end. False at the end of the text.
  bool ScanText(size_t& firstNonBlank) {
    // Between elements there is mostly nothing but a line break and some indentation. Only the
    // end of the decoded text needs more (a byte 0 stands nowhere else).
    const char* p = p_;
    if (IsBlank(*p)) p = FindNonBlank(p);
    const char* const first = p;
    if (*p != '<') {
      p = FindChar(p, '<');
      if (*p != '<') return ScanTextSlow(firstNonBlank);
    }
    p_ = p;
    firstNonBlank = Offset(first);
    return true;
  }
  bool ScanTextSlow(size_t& firstNonBlank);
  // Moves to what `find` stops at; false at the end of the text (the cursor is then there).
  template <typename TFinder>
  bool ScanWith(TFinder find);
  // Moves to the next `quote` (after an opening one); false at the end.
  bool ScanToQuote(char quote);
  // Reads up to `closing` (which ends in ">"), outside quotes when asked: the text before it is
  // [start, end). False at the end of the text (the text then runs to its end).
  bool ReadUpTo(std::string_view closing, bool honourQuotes, size_t& start, size_t& end);
  // Reads a start tag's text up to its closing, split into pieces at blanks outside quotes; the
  // text is [start, end). False at the end of the text.
  bool ReadTag(bool questionClose, size_t& start, size_t& end);
  // Splits [start, end) into pieces as ReadTag does.
  void SplitPieces(size_t start, size_t end);
  // Joins the pieces of name = "value" written with blanks into tokens.
  void JoinPieces();
  // The tokens: the pieces as they are, or as joined when they needed joining.
  size_t TokenCount() const;
  std::string_view TokenText(size_t i) {
    if (piecesJoin_ && tokens_[i].First != tokens_[i].Last) return JoinedText(i);
    const TPiece& piece = pieces_[piecesJoin_ ? tokens_[i].First : i];
    return std::string_view(base_ + piece.Start, piece.End - piece.Start);
  }
  std::string_view JoinedText(size_t i);
  // An upper bound of the length of token i.
  size_t TokenSpan(size_t i) const;
  // The tokens after the first, each followed by `separator`, trimmed.
  std::string JoinRest(const char* separator);

  const TagEntry& MatchOpening();
  void ParseTag(TXmlNode* node, const TagEntry& tag, int32_t depth);
  // An element after its "<": the start tag, and the content unless the tag ends in "/>".
  [[gnu::always_inline]] void ParseElement(TXmlNode* node, int32_t depth);
  // Reads a start tag of the plain form (a name, then name="value" or name='value' each after
  // blanks, then blanks, and ">" or "/>") into the node, moving the cursor past it; false, with
  // nothing read, for any other form and when the decoded text ends first.
  [[gnu::always_inline]] bool ReadPlainStartTag(TXmlNode* node, bool& isEmpty);
  // `plainName`: the element's name holds no quote character.
  void ParseContent(TXmlNode* node, int32_t depth, bool plainName);
  // Text becomes a character-data child, in its escaped form as read.
  void AddText(TXmlNode* node, std::string_view text);
  // Passes "name>" after "</" when it stands there exactly.
  bool PassPlainCloseTag(const std::string& name);
  void ParseDeclaration(TXmlNode* node);
  void ParseRaw(TXmlNode* node, const TagEntry& tag);
  // A new last child of `parent` (at `depth`); EFilerError when that nests too deeply.
  TXmlNode* NewChild(TXmlNode* parent, int32_t depth);
  TXmlNode* ParseChild(TXmlNode* parent, int32_t depth);
  // Reports a node parsed in full.
  void NodeLoaded(TXmlNode* node) {
    if (noting_ && HasLargeLists(node)) NoteLists(node);
    if (reports_) ReportLoaded(node);
  }
  void ReportLoaded(TXmlNode* node);
  // Whether the lists of a node may lie in large blocks, which the parser notes.
  static bool HasLargeLists(const TXmlNode* node) {
    return (node->attributes_ && node->attributes_->MayHaveLargeBlock()) ||
           (node->nodes_ && node->nodes_->capacity() * sizeof(node->nodes_->front()) > TXmlNodePool::kLargestPooled);
  }
  void NoteLists(TXmlNode* node);
  // A node of the document's tree, from its pool (from the heap without a document).
  static TXmlNode* MakeNode(TXmlDocument* document, uint8_t elementType) {
    TXmlNode* node = document ? ::new (XmlAllocateNode(document->pool_, sizeof(TXmlNode))) TXmlNode(document)
                              : new TXmlNode(nullptr);
    node->elementType_ = elementType;
    return node;
  }
  // The node's attribute list, made empty (the node has none yet).
  static TsdUTF8StringList& MakeAttributes(TXmlNode* node) {
    TXmlNodePool* pool = node->Pool();
    if (!pool) return node->Attributes();
    node->attributes_ = ::new (pool->Allocate(sizeof(TsdUTF8StringList))) TsdUTF8StringList(pool);
    return *node->attributes_;
  }
  // Notes a text of the tree made elsewhere when it lies on the heap (it takes the place of a
  // spare text, which is passed over). Texts are noted as they are set, so that the texts of a
  // tree parsed again are set in the order they were noted.
  void NoteText(std::string& text) {
    if (!noting_ || text.capacity() <= kLocalTextCapacity) return;
    noting_->heapTexts_.push_back(&text);
    if (spare_ != sparesEnd_) ++spare_;
  }
  // Sets a text of the tree being built, and notes it.
  void AssignText(std::string& target, std::string_view text) {
    if (text.size() > kLocalTextCapacity && noting_) return AssignLongText(target, text);
    target.assign(text);
  }
  void AssignLongText(std::string& target, std::string_view text);

  // Before the first text is decoded the cursor stands in an empty text of its own.
  static constexpr char kNoText[16] = {};

  TXmlDocument* document_;
  const bool reports_;  // the document has handlers to call
  TXmlDocument* noting_ = nullptr;
  std::string* spare_ = nullptr;
  std::string* sparesEnd_ = nullptr;
  TXmlInput input_;
  const char* base_ = kNoText;
  const char* p_ = kNoText;
  const char* end_ = kNoText;
  // Scratch kept between tags so that its storage is reused.
  std::vector<TPiece> pieces_;
  std::vector<TToken> groups_, tokens_;
  bool piecesJoin_ = false;  // tokens_ holds the pieces joined
  bool nameQuoted_ = false;  // the first piece holds a quoted run
  std::string joined_;
};

// --- TXmlParser: the cursor

void TXmlParser::Rebase() {
  const size_t at = Offset(p_);
  base_ = input_.Data();
  end_ = base_ + input_.Size();
  p_ = base_ + at;
}

bool TXmlParser::More(bool peek) {
  if (!input_.Fill(peek)) return false;
  Rebase();
  return true;
}

template <typename TFinder>
bool TXmlParser::ScanWith(TFinder find) {
  for (;;) {
    p_ = find(p_);
    if (p_ != end_) return true;
    if (!More()) return false;
  }
}

bool TXmlParser::SkipBlanks() {
  // Mostly there is no blank, or a line break and some indentation.
  if (!IsBlank(*p_)) {
    if (p_ != end_) return true;
    if (!More()) return false;
  }
  return SkipBlanksSlow();
}

bool TXmlParser::SkipBlanksSlow() {
  return ScanWith([](const char* p) { return FindNonBlank(p); });
}

bool TXmlParser::ScanTextSlow(size_t& firstNonBlank) {
  const bool atEnd = !SkipBlanks();
  firstNonBlank = Offset(p_);
  if (*p_ == '<') return true;
  return !atEnd && ScanWith([](const char* p) { return FindChar(p, '<'); });
}

bool TXmlParser::ScanToQuote(char quote) {
  return ScanWith([quote](const char* p) { return FindChar(p, quote); });
}

void TXmlParser::SwitchEncoding(TsdCodecStream* codec, uint8_t encoding) {
  if (codec != input_.Codec()) {
    codec->SetEncoding(encoding);
    return;
  }
  input_.SwitchEncoding(Offset(p_), encoding);
  Rebase();
}

// --- TXmlParser: tag texts

bool TXmlParser::ReadUpTo(std::string_view closing, bool honourQuotes, size_t& start, size_t& end) {
  start = Offset(p_);
  for (;;) {
    const bool found = honourQuotes ? ScanWith([](const char* p) { return FindCloseOrQuote(p); })
                                    : ScanWith([](const char* p) { return FindChar(p, '>'); });
    if (!found) {
      end = Offset(p_);
      return false;
    }
    const char c = *p_++;
    if (c != '>') {
      // A quoted run: up to the same quote, whatever it holds.
      if (!ScanToQuote(c)) {
        end = Offset(p_);
        return false;
      }
      ++p_;
      continue;
    }
    const size_t read = Offset(p_) - start;  // the text read, ">" included
    if (closing.size() == 1 ||
        (read >= closing.size() &&
         std::memcmp(p_ - closing.size(), closing.data(), closing.size()) == 0)) {
      end = Offset(p_) - closing.size();
      return true;
    }
  }
}

bool TXmlParser::ReadTag(bool questionClose, size_t& start, size_t& end) {
  pieces_.clear();
  piecesJoin_ = false;
  nameQuoted_ = false;
  start = Offset(p_);
  // The cursor is kept in a local while the tag is read; More() needs it in p_.
  const char* p = p_;
  auto more = [this, &p] {
    p_ = p;
    const bool more = More();
    p = p_;
    return more;
  };
  // "?>" closes only after a "?" of the text: a ">" after a blank never does.
  auto closes = [&] { return !questionClose || (Offset(p) > start && p[-1] == '?'); };
  for (;;) {
    // Pieces are mostly apart by one blank.
    while (IsBlank(*p)) ++p;
    char c = *p;
    if (c == 0) {
      if (!more()) return false;
      continue;
    }
    if (c == '>' && closes()) {
      end = Offset(p);
      p_ = p + 1;
      return true;
    }
    // A piece: ordinary characters and quoted runs up to a blank or the closing.
    const size_t piece = Offset(p);
    if (!pieces_.empty() && (c == '=' || IsXmlQuote(c))) piecesJoin_ = true;
    for (;;) {
      p = FindTagStop(p);
      c = *p;
      if (IsXmlQuote(c)) {
        if (pieces_.empty()) nameQuoted_ = true;
        ++p;
        for (;;) {
          p = FindChar(p, c);
          if (*p != 0) break;
          if (!more()) return false;
        }
        ++p;
      } else if (c == '>') {
        if (closes()) {
          end = Offset(p) - (questionClose ? 1 : 0);
          if (end > piece) pieces_.push_back({piece, end});
          p_ = p + 1;
          return true;
        }
        ++p;
      } else if (c == 0) {
        if (!more()) return false;
      } else {
        pieces_.push_back({piece, Offset(p)});
        break;
      }
    }
  }
}

void TXmlParser::SplitPieces(size_t start, size_t end) {
  pieces_.clear();
  const char* p = base_ + start;
  const char* const last = base_ + end;
  while (p != last) {
    while (p != last && IsXmlBlank(*p)) ++p;
    if (p == last) break;
    const char* first = p;
    char quote = 0;
    for (; p != last; ++p) {
      const char c = *p;
      if (quote) {
        if (c == quote) quote = 0;
      } else if (IsXmlQuote(c)) {
        quote = c;
      } else if (IsXmlBlank(c)) {
        break;
      }
    }
    pieces_.push_back({Offset(first), Offset(p)});
  }
}

// A piece that begins with "=" joins the one before it; then a quoted piece joins the token
// before it when that ends in "=". Two literals in a row (public and system identifiers) stay
// apart even when the first holds an "=".
void TXmlParser::JoinPieces() {
  groups_.clear();
  tokens_.clear();
  for (size_t i = 0; i < pieces_.size(); ++i) {
    if (!groups_.empty() && base_[pieces_[i].Start] == '=') groups_.back().Last = i;
    else groups_.push_back({i, i});
  }
  for (const TToken& group : groups_) {
    if (!tokens_.empty() && IsXmlQuote(base_[pieces_[group.First].Start]) &&
        base_[pieces_[tokens_.back().Last].End - 1] == '=')
      tokens_.back().Last = group.Last;
    else
      tokens_.push_back(group);
  }
  piecesJoin_ = true;
}

size_t TXmlParser::TokenCount() const { return piecesJoin_ ? tokens_.size() : pieces_.size(); }

std::string_view TXmlParser::JoinedText(size_t i) {
  const TToken token = tokens_[i];
  joined_.clear();
  for (size_t k = token.First; k <= token.Last; ++k)
    joined_.append(base_ + pieces_[k].Start, pieces_[k].End - pieces_[k].Start);
  return joined_;
}

size_t TXmlParser::TokenSpan(size_t i) const {
  const TToken token = piecesJoin_ ? tokens_[i] : TToken{i, i};
  return pieces_[token.Last].End - pieces_[token.First].Start;
}

std::string TXmlParser::JoinRest(const char* separator) {
  std::string joined;
  for (size_t i = 1; i < TokenCount(); ++i) {
    joined += TokenText(i);
    joined += separator;
  }
  return std::string(TrimmedView(joined));
}

// --- TXmlParser: nodes

// The longest opening that the text at "<" begins with; what the character-by-character reader
// would have read ahead to find it decides whether the end of the text was looked past.
const TagEntry& TXmlParser::MatchOpening() {
  // Every opening but "<" goes on with "!" or "?": anything else is an element's.
  if (!Available()) return kElementTag;
  if (*p_ != '!' && *p_ != '?') return kElementTag;
  const size_t at = Offset(p_) - 1;  // the "<"
  while (input_.Size() - at < kOpeningLookAhead && More(true)) {
  }
  const char* s = base_ + at;
  const size_t available = Offset(end_) - at;
  auto startsWith = [s](std::string_view opening, size_t length) {
    return std::memcmp(s, opening.data(), length) == 0;
  };
  size_t read = 1;
  bool past = false;
  for (;;) {
    bool candidate = false;
    for (const TagEntry& e : kTags) candidate = candidate || (e.opening.size() > read && startsWith(e.opening, read));
    if (!candidate) break;
    if (read == available) {
      past = true;
      break;
    }
    ++read;
  }
  const TagEntry* best = &kElementTag;
  for (const TagEntry& e : kTags) {
    if (e.opening.size() <= read && e.opening.size() > best->opening.size() && startsWith(e.opening, e.opening.size()))
      best = &e;
  }
  // "xml" and "xml-stylesheet" are those instructions only as whole targets: "<?xml-foo" and
  // "<?xmlbar" are instructions of their own.
  if (best->elementType == xeDeclaration || best->elementType == xeStylesheet) {
    const size_t length = best->opening.size();
    if (read == length) {
      if (read < available) ++read;
      else past = true;
    }
    if (read > length && !IsXmlBlank(s[length]) && s[length] != '?') best = &kInstructionTag;
  }
  if (past) More();  // fails: marks the end as read past
  p_ = base_ + at + best->opening.size();
  return *best;
}

void TXmlParser::ParseNode(TXmlNode* node, int32_t depth, bool fresh) {
  if (Aborted()) return;
  if (!fresh) node->Clear();
  if (!SkipBlanks()) return;
  if (*p_++ != '<') return;
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
  NodeLoaded(node);
}

void TXmlParser::AssignLongText(std::string& target, std::string_view text) {
  if (spare_ != sparesEnd_) {
    std::string& spare = *spare_++;
    // Not one much larger than needed: the memory would lie unused.
    if (spare.capacity() >= text.size() && spare.capacity() <= 2 * text.size()) target = std::move(spare);
  }
  target.assign(text);
  noting_->heapTexts_.push_back(&target);
}

void TXmlParser::NoteLists(TXmlNode* node) {
  if (node->attributes_ && node->attributes_->MayHaveLargeBlock()) noting_->largeAttributes_.push_back(node->attributes_);
  if (node->nodes_) {
    const size_t bytes = node->nodes_->capacity() * sizeof(node->nodes_->front());
    if (bytes > TXmlNodePool::kLargestPooled) noting_->largeChildLists_.emplace_back(node->nodes_->data(), bytes);
  }
}

void TXmlParser::ReportLoaded(TXmlNode* node) {
  if (!Aborted()) {
    if (document_->OnProgress) document_->OnProgress(document_, input_.PositionAt(Offset(p_)));
    document_->OnNodeLoaded(document_, node);
  }
}

void TXmlParser::ParseTag(TXmlNode* node, const TagEntry& tag, int32_t depth) {
  size_t start = 0, end = 0;
  if (!ReadTag(tag.closing.size() == 2, start, end)) {
    // Without its closing the tag text counts as empty.
    pieces_.clear();
    end = start;
  }
  bool isEmpty = false;
  if (tag.elementType == xeElement && end > start && base_[end - 1] == '/') {
    // The "/" ends the last piece (it is no blank and stands outside quotes).
    isEmpty = true;
    --end;
    if (--pieces_.back().End == pieces_.back().Start) pieces_.pop_back();
  }
  if (piecesJoin_) JoinPieces();
  const size_t tokens = TokenCount();
  size_t firstAttribute = 0;
  // A close tag can be matched byte for byte against a name without quotes.
  bool plainName = false;
  if (tag.elementType == xeDeclaration) {
    node->name_ = "xml";
  } else if (tag.elementType == xeStylesheet) {
    node->name_ = "xml-stylesheet";
    AssignText(node->value_, TrimmedView(std::string_view(base_ + start, end - start)));
  } else {
    if (tokens == 0) throw EFilerError("Missing element name");
    AssignText(node->name_, TokenText(0));
    firstAttribute = 1;
    plainName = !nameQuoted_ && !(piecesJoin_ && tokens_[0].Last > 0);
  }
  if (tokens > firstAttribute) {
    size_t bytes = 0;
    for (size_t i = firstAttribute; i < tokens; ++i) bytes += sizeof(uint32_t) + TokenSpan(i);
    TsdUTF8StringList& attributes = node->Attributes();
    attributes.Reserve(bytes);
    for (size_t i = firstAttribute; i < tokens; ++i) attributes.Add(TokenText(i));
  }
  NodeNew(node);
  if (Aborted() || isEmpty || tag.elementType != xeElement) return;
  ParseContent(node, depth, plainName);
}

inline void TXmlParser::ParseElement(TXmlNode* node, int32_t depth) {
  bool isEmpty;
  if (!ReadPlainStartTag(node, isEmpty)) return ParseTag(node, kElementTag, depth);
  NodeNew(node);
  if (isEmpty || Aborted()) return;
  ParseContent(node, depth, true);
}

// Most start tags have this form. Read here they give the same name and attribute entries as
// when ReadTag splits them into pieces, with one look at each character.
inline bool TXmlParser::ReadPlainStartTag(TXmlNode* node, bool& isEmpty) {
  const char* p = p_;
  const char* const name = p;
  while (IsPlain(*p)) ++p;
  const char* const nameEnd = p;
  if (p == name) return false;
  pieces_.clear();
  size_t bytes = 0;
  for (;;) {
    char c = *p;
    if (c == '>') {
      isEmpty = false;
      ++p;
      break;
    }
    if (c == '/') {
      if (p[1] != '>') return false;
      isEmpty = true;
      p += 2;
      break;
    }
    // Anything but a blank after a name or a value makes a piece of another form.
    if (!IsBlank(c)) return false;
    do {
      ++p;
    } while (IsBlank(*p));
    c = *p;
    if (c == '>' || c == '/') continue;
    const char* const attribute = p;
    while (IsPlain(*p)) ++p;
    if (p == attribute || *p != '=' || !IsXmlQuote(p[1])) return false;
    p = FindChar(p + 2, p[1]);
    if (*p == 0) return false;  // the end of the decoded text, or a byte 0 in it
    ++p;
    pieces_.push_back({Offset(attribute), Offset(p)});
    bytes += sizeof(uint32_t) + static_cast<size_t>(p - attribute);
  }
  AssignText(node->name_, std::string_view(name, static_cast<size_t>(nameEnd - name)));
  if (!pieces_.empty()) {
    // The entries are written straight into the list's text, each after its length.
    TsdUTF8StringList& attributes = MakeAttributes(node);
    attributes.text_.resize(bytes);
    char* out = attributes.text_.data();
    for (const TPiece& piece : pieces_) {
      const uint32_t length = static_cast<uint32_t>(piece.End - piece.Start);
      std::memcpy(out, &length, sizeof length);
      std::memcpy(out + sizeof length, base_ + piece.Start, length);
      out += sizeof length + length;
    }
    attributes.count_ = static_cast<int32_t>(pieces_.size());
  }
  p_ = p;
  return true;
}

void TXmlParser::AddText(TXmlNode* node, std::string_view text) {
  if (text.empty()) return;
  TXmlNode* data = MakeNode(node->document_, xeCharData);
  AssignText(data->value_, text);
  node->AppendChild(data);
}

void TXmlParser::ParseContent(TXmlNode* node, int32_t depth, bool plainName) {
  bool childSeen = false;
  // The text before the close tag, and where its blanks at the start end.
  size_t textStart = 0, textFirst = 0, textEnd = 0;
  // Where a first child of text is noted (children dropped again leave no note).
  const size_t firstNote = noting_ ? noting_->heapTexts_.size() : 0;
  while (!Aborted()) {
    textStart = Offset(p_);
    if (!ScanText(textFirst)) ParseError("Missing close tag in element %s", node->name_);
    textEnd = Offset(p_);
    ++p_;
    if (!Available()) ParseError("Missing data after \"<\" in element %s", node->name_);
    if (*p_ == '/') {
      ++p_;
      if (plainName && PassPlainCloseTag(node->name_)) break;
      size_t closeStart, closeEnd;
      if (!ReadUpTo(">", true, closeStart, closeEnd))
        ParseError("Missing \">\" in close tag of element %s", node->name_);
      // The name between blanks, compared exactly first and then without regard to case.
      const std::string_view close = TrimmedView(std::string_view(base_ + closeStart, closeEnd - closeStart));
      if (close != node->name_ && !SameText(std::string(close), node->name_))
        ParseError("Incorrect close tag in element %s", node->name_);
      break;
    }
    AddText(node, TrimmedEnd(std::string_view(base_ + textFirst, textEnd - textFirst)));
    textStart = textFirst = textEnd = 0;
    childSeen = true;
    TXmlNode* child = NewChild(node, depth);
    if (*p_ != '!' && *p_ != '?') {
      // An element, as ParseNode would find after the "<".
      ParseElement(child, depth + 1);
      NodeLoaded(child);
      continue;
    }
    // The child reads the "<" again.
    --p_;
    ParseNode(child, depth + 1, true);
    if (child->elementType_ == xeComment && document_ && document_->DropComments) {
      if (noting_ && !noting_->heapTexts_.empty() && noting_->heapTexts_.back() == &child->value_)
        noting_->heapTexts_.pop_back();
      node->nodes_->pop_back();
    }
  }
  const std::string_view text = childSeen ? TrimmedEnd(std::string_view(base_ + textFirst, textEnd - textFirst))
                                          : std::string_view(base_ + textStart, textEnd - textStart);
  if (node->GetNodeCount() == 0) {
    // The text alone would become the first child and at once the value: it goes there directly.
    if (!text.empty()) AssignText(node->value_, text);
    return;
  }
  AddText(node, text);
  TXmlNode* first = node->GetNodes(0);
  if (first && first->elementType_ == xeCharData) {
    if (noting_ && firstNote < noting_->heapTexts_.size() && noting_->heapTexts_[firstNote] == &first->value_)
      noting_->heapTexts_[firstNote] = &node->value_;
    node->value_ = std::move(first->value_);
    node->NodeDelete(0);
  }
}

// Most close tags repeat the name exactly ("</name>"): then there are no blanks to trim, and the
// close tag is passed at once.
bool TXmlParser::PassPlainCloseTag(const std::string& name) {
  const size_t length = name.size();
  if (static_cast<size_t>(end_ - p_) <= length || p_[length] != '>') return false;
  if (!SameShortText(p_, name.data(), length)) return false;
  p_ += length + 1;
  return true;
}

TXmlNode* TXmlParser::NewChild(TXmlNode* parent, int32_t depth) {
  if (depth + 1 >= kXmlMaxNestingDepth)
    ParseError("Elements nested too deeply in element %s", parent->name_);
  TXmlNode* child = MakeNode(parent->document_, xeElement);
  parent->AppendChild(child);
  return child;
}

TXmlNode* TXmlParser::ParseChild(TXmlNode* parent, int32_t depth) {
  TXmlNode* child = NewChild(parent, depth);
  ParseNode(child, depth + 1, true);
  return child;
}

void TXmlParser::ParseDocType(TXmlNode* node, int32_t depth) {
  const size_t start = Offset(p_);
  size_t end = start;
  char quote = 0;
  bool subset = false;
  for (;;) {
    if (!Available()) {
      end = Offset(p_);
      break;
    }
    const char c = *p_++;
    if (quote) {
      if (c == quote) quote = 0;
    } else if (IsXmlQuote(c)) {
      quote = c;
    } else if (c == '>' || c == '[') {
      subset = c == '[';
      end = Offset(p_) - 1;
      break;
    }
  }
  SplitPieces(start, end);
  JoinPieces();
  if (TokenCount() > 0) AssignText(node->name_, TokenText(0));
  node->value_ = JoinRest(" ");
  NoteText(node->value_);
  if (!subset) return;
  // The internal subset: declarations, comments and parameter-entity references ("%name;",
  // kept as character data) up to "]". Other text that is no markup leaves an empty node, which
  // is dropped. The subset must be closed: running into the end of the text is an error.
  for (;;) {
    if (!SkipBlanks()) ParseError("Missing \"]\" in document type declaration %s", node->name_);
    const char c = *p_++;
    if (c == ']') break;
    if (c == '%') {
      const size_t reference = Offset(p_) - 1;
      for (;;) {
        if (!Available()) break;
        const char d = *p_++;
        if (d == ';') {
          TXmlNode* data = TXmlNode::CreateType(node->document_, xeCharData);
          AssignText(data->value_, std::string_view(base_ + reference, Offset(p_) - reference));
          node->NodeAdd(data);
          break;
        }
        if (d == '<' || d == ']') {
          --p_;
          break;
        }
        if (IsXmlBlank(d)) break;
      }
      continue;
    }
    --p_;
    TXmlNode* child = ParseChild(node, depth);
    if (Aborted()) return;
    if (child->IsClear()) node->nodes_->pop_back();
  }
  while (Available()) {
    if (*p_++ == '>') break;
  }
}

void TXmlParser::ParseDeclaration(TXmlNode* node) {
  size_t start, end;
  ReadUpTo(">", true, start, end);
  SplitPieces(start, end);
  JoinPieces();
  if (TokenCount() > 0) AssignText(node->name_, TokenText(0));
  node->value_ = JoinRest("\r\n");
  NoteText(node->value_);
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
  size_t start, end;
  if (ReadUpTo(tag.closing, false, start, end)) AssignText(node->value_, std::string_view(base_ + start, end - start));
}

// --- TXmlNode

void TXmlNode::ParseStream(TStream& stream) {
  TXmlParser(document_, stream).ParseNode(this, 0, false);
}

void TXmlNode::ReadFromString(const std::string& text) {
  TsdUTF8StringStream stream(text);
  ParseStream(stream);
}

// --- TXmlDocument

void TXmlDocument::ReadFromStream(TStream& stream) {
  ParseAborted = false;
  TXmlParser parser(this, stream);
  // The text's buffer is made while the old tree still stands: a large block asked for just after
  // freeing many small ones costs the heap much more.
  try {
    parser.Prepare();
  } catch (...) {
    ClearRootNodes();
    OnProgress(this, 0);
    throw;
  }
  ClearRootNodes(true);
  // What the parse leaves of the old tree's texts is freed when it ends, also by an error.
  struct TSpares {
    std::vector<std::string>& Texts;
    ~TSpares() { Texts.clear(); }
  } spares{spareTexts_};
  OnProgress(this, 0);
  // Without handlers, which might change the tree while it is built, and with no block of the
  // pool out, the tree can be given up later by what the parser notes.
  const bool noting = !OnNodeNew && !OnNodeLoaded && !OnProgress && pool_->BlocksOut() == 0;
  if (noting) parser.NoteHeldMemory();
  while (!parser.AtEnd()) {
    auto* node = new (this) TXmlNode(this);
    rootNodes_->NodeAdd(node);
    parser.ParseNode(node, 0, true);
    if (ParseAborted) return;
    if (node->elementType_ == xeDeclaration && codec_ && codec_->Encoding() == seAnsi) {
      // Text guessed to be 8-bit from "<?xm" is UTF-8 unless its declaration names another
      // encoding. An encoding known from a byte-order mark or from UTF-16 bytes stays. What is
      // not yet parsed is decoded the new way.
      if (!node->AttributeExists("encoding") || UpperCase(node->AttributeByName("encoding")) == "UTF-8")
        parser.SwitchEncoding(codec_, seUTF8);
    }
    if (node->IsClear()) rootNodes_->NodeRemove(node);
  }
  if (OnProgress) OnProgress(this, stream.GetSize());
  CheckStructure();
  if (noting) {
    treeAsParsed_ = true;
    treeBlocks_ = pool_->BlocksOut();
  }
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
  TXmlParser(this, stream).ParseDocType(node, 0);
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
