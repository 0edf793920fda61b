// Buffered streams, the encoding codec and the parser helpers of the XML library.
#include "XmlStreams.h"

#include <algorithm>
#include <cstring>

#include "XmlPlatform_p.h"
#include "XmlText.h"

namespace {

[[noreturn]] void StreamError(const char* message) { throw EStreamError(message); }

const char* const kWriteWhileReading = "Cannot write to an UTF stream opened for reading";
const char* const kReadWhileWriting = "Cannot read from a conversion stream opened for writing";
const char* const kCannotSeek = "Cannot perform seek on codec stream";
const char* const kUnsupported = "Unsupported string encoding";
const char* const kCannotWrite = "Cannot write to output stream";

// The encodings recognised from the first four bytes, tried in order.
struct EncodingSignature {
  uint8_t bytes[4];
  int length;
  uint8_t encoding;
  bool isMark;
};

const EncodingSignature kSignatures[] = {
    {{0x00, 0x00, 0xFE, 0xFF}, 4, seUCS4BE, true},
    {{0xFF, 0xFE, 0x00, 0x00}, 4, seUCS4LE, true},
    {{0x00, 0x00, 0xFF, 0xFE}, 4, seUCS4_2143, true},
    {{0xFE, 0xFF, 0x00, 0x00}, 4, seUCS4_3412, true},
    {{0xFE, 0xFF}, 2, seUTF16BE, true},
    {{0xFF, 0xFE}, 2, seUTF16LE, true},
    {{0xEF, 0xBB, 0xBF}, 3, seUTF8, true},
    {{0x00, 0x00, 0x00, 0x3C}, 4, seUCS4BE, false},
    {{0x3C, 0x00, 0x00, 0x00}, 4, seUCS4LE, false},
    {{0x00, 0x00, 0x3C, 0x00}, 4, seUCS4_2143, false},
    {{0x00, 0x3C, 0x00, 0x00}, 4, seUCS4_3412, false},
    {{0x00, 0x3C, 0x00, 0x3F}, 4, seUTF16BE, false},
    {{0x3C, 0x00, 0x3F, 0x00}, 4, seUTF16LE, false},
    {{0x3C, 0x3F, 0x78, 0x6D}, 4, seAnsi, false},
    {{0x4C, 0x6F, 0xA7, 0x94}, 4, seEBCDIC, false},
};

bool IsSupported(uint8_t encoding) {
  return encoding == seAnsi || encoding == se16BitBE || encoding == se16BitLE ||
         encoding == seUTF8 || encoding == seUTF16BE || encoding == seUTF16LE;
}

bool IsSixteenBit(uint8_t encoding) {
  return encoding == se16BitBE || encoding == se16BitLE || encoding == seUTF16BE ||
         encoding == seUTF16LE;
}

}  // namespace

// --- TsdBufferedReadStream

TsdBufferedReadStream::TsdBufferedReadStream(TStream* source, bool ownsSource)
    : source_(source), ownsSource_(ownsSource), buffer_(kXmlStreamBufferSize) {}

TsdBufferedReadStream::~TsdBufferedReadStream() {
  if (ownsSource_) delete source_;
}

// Makes the page of the logical position current; false when nothing is left to read there.
bool TsdBufferedReadStream::LoadPosition() {
  int64_t page = position_ / kXmlStreamBufferSize;
  if (page != page_) {
    page_ = page;
    valid_ = 0;
    source_->Seek(page * kXmlStreamBufferSize, soBeginning);
    while (valid_ < kXmlStreamBufferSize) {
      int32_t n = source_->Read(buffer_.data() + valid_, kXmlStreamBufferSize - valid_);
      if (n <= 0) break;
      valid_ += n;
    }
  }
  offset_ = static_cast<int32_t>(position_ % kXmlStreamBufferSize);
  mustSync_ = false;
  return offset_ < valid_;
}

bool TsdBufferedReadStream::Window(const uint8_t*& first, const uint8_t*& last) {
  if ((mustSync_ || offset_ >= valid_) && !LoadPosition()) return false;
  first = buffer_.data() + offset_;
  last = buffer_.data() + valid_;
  return true;
}

int32_t TsdBufferedReadStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  // The parser reads one byte at a time: serve that straight from the page.
  if (count == 1 && !mustSync_ && offset_ < valid_) {
    *out = buffer_[static_cast<size_t>(offset_++)];
    ++position_;
    return 1;
  }
  int32_t copied = 0;
  while (copied < count) {
    if ((mustSync_ || offset_ >= valid_) && !LoadPosition()) break;
    int32_t n = std::min(count - copied, valid_ - offset_);
    std::memcpy(out + copied, buffer_.data() + offset_, static_cast<size_t>(n));
    offset_ += n;
    position_ += n;
    copied += n;
  }
  return copied;
}

int32_t TsdBufferedReadStream::Write(const void*, int32_t) { StreamError(kWriteWhileReading); }

int64_t TsdBufferedReadStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t target = origin == soBeginning ? offset
                   : origin == soCurrent ? position_ + offset
                                         : source_->GetSize() + offset;
  if (target < 0) target = 0;
  if (target != position_) {
    position_ = target;
    mustSync_ = true;
  }
  return position_;
}

int64_t TsdBufferedReadStream::GetSize() { return source_->GetSize(); }

// --- TsdBufferedWriteStream

TsdBufferedWriteStream::TsdBufferedWriteStream(TStream* target, bool ownsTarget)
    : target_(target), ownsTarget_(ownsTarget), buffer_(kXmlStreamBufferSize) {}

TsdBufferedWriteStream::~TsdBufferedWriteStream() {
  try {
    Flush();
  } catch (...) {
  }
  if (ownsTarget_) delete target_;
}

void TsdBufferedWriteStream::Flush() {
  if (held_ == 0) return;
  int32_t count = held_;
  held_ = 0;
  if (target_->Write(buffer_.data(), count) != count) StreamError(kCannotWrite);
}

int32_t TsdBufferedWriteStream::Read(void*, int32_t) { StreamError(kReadWhileWriting); }

int32_t TsdBufferedWriteStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const auto* in = static_cast<const uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    int32_t n = std::min(count - done, kXmlStreamBufferSize - held_);
    std::memcpy(buffer_.data() + held_, in + done, static_cast<size_t>(n));
    held_ += n;
    done += n;
    position_ += n;
    if (held_ == kXmlStreamBufferSize) Flush();
  }
  return count;
}

int64_t TsdBufferedWriteStream::Seek(int64_t offset, TSeekOrigin origin) {
  bool isQuery = (offset == 0 && (origin == soCurrent || origin == soEnd)) ||
                 (origin == soBeginning && offset == position_);
  if (!isQuery) StreamError(kCannotSeek);
  return position_;
}

// --- TsdCodecStream

TsdCodecStream::TsdCodecStream(TStream* source) : source_(source) {}

void TsdCodecStream::SetEncoding(uint8_t encoding) {
  encoding_ = encoding;
  bigEndian_ = encoding == se16BitBE || encoding == seUTF16BE;
}

void TsdCodecStream::StorePrevPosition() {
  previousPosition_ = currentPosition_;
  currentPosition_ = source_->GetPosition();
}

bool TsdCodecStream::ReadSourceByte(uint8_t& value) { return source_->Read(&value, 1) == 1; }

void TsdCodecStream::WriteSource(const void* buffer, int32_t count) {
  if (source_->Write(buffer, count) != count) StreamError(kCannotWrite);
}

void TsdCodecStream::StartReading() {
  if (!source_) StreamError("Encoding stream unassigned");
  int64_t start = source_->GetPosition();
  uint8_t head[4] = {0, 0, 0, 0};
  int32_t got = 0;
  while (got < 4) {
    int32_t n = source_->Read(head + got, 4 - got);
    if (n <= 0) break;
    got += n;
  }
  // A signature counts only when all its bytes are there: a file shorter than four bytes is no
  // UCS-4 text. Text without any signature is UTF-8, as XML defines it.
  uint8_t encoding = seUTF8;
  int markLength = 0;
  for (const EncodingSignature& s : kSignatures) {
    if (got >= s.length && std::memcmp(head, s.bytes, static_cast<size_t>(s.length)) == 0) {
      encoding = s.encoding;
      markLength = s.isMark ? s.length : 0;
      break;
    }
  }
  if (!IsSupported(encoding)) StreamError(kUnsupported);
  buffered_ = dynamic_cast<TsdBufferedReadStream*>(source_);
  byteOrderMark_ = markLength > 0;
  source_->Seek(start + markLength, soBeginning);
  currentPosition_ = previousPosition_ = start + markLength;
  SetEncoding(encoding);
  mode_ = 1;
}

void TsdCodecStream::StartWriting() {
  if (!source_) StreamError("Encoding stream unassigned");
  if (!IsSupported(encoding_)) StreamError(kUnsupported);
  if (encoding_ != seUTF8) {
    for (const EncodingSignature& s : kSignatures) {
      if (s.encoding != encoding_) continue;
      if (s.isMark) WriteSource(s.bytes, s.length);
      break;
    }
  }
  SetEncoding(encoding_);
  mode_ = 2;
}

int32_t TsdCodecStream::Read(void* buffer, int32_t count) {
  if (count != 1) StreamError("Cannot read multiple chars from conversion stream at once");
  if (mode_ == 2) StreamError(kReadWhileWriting);
  if (mode_ == 0) StartReading();
  uint8_t value = ReadByte();
  if (value == 0) return 0;
  *static_cast<uint8_t*>(buffer) = value;
  return 1;
}

bool TsdCodecStream::ReadWindow(const char*& first, const char*& last) {
  if (mode_ == 2) return false;
  if (mode_ == 0) StartReading();
  if (!buffered_ || pendingIndex_ < pending_.size() || (encoding_ != seUTF8 && encoding_ != seAnsi)) return false;
  const uint8_t *begin, *end;
  if (!buffered_->Window(begin, end)) return false;
  const int32_t from = buffered_->Offset();
  const uint8_t* page = begin - from;
  // Bytes that are not passed through as they are: 0 ends the text in any encoding, and in
  // 8-bit text every byte above 127 is converted.
  if (scan_.Page != buffered_->Page() || scan_.Encoding != encoding_ || from < scan_.From || from > scan_.Stop) {
    const uint8_t* stop = begin;
    if (encoding_ == seUTF8) {
      stop = static_cast<const uint8_t*>(std::memchr(begin, 0, static_cast<size_t>(end - begin)));
      if (!stop) stop = end;
    } else {
      while (stop < end && *stop != 0 && *stop < 0x80) ++stop;
    }
    scan_ = {buffered_->Page(), encoding_, from, static_cast<int32_t>(stop - page)};
  }
  first = reinterpret_cast<const char*>(begin);
  last = reinterpret_cast<const char*>(page + scan_.Stop);
  return first != last;
}

void TsdCodecStream::ConsumeWindow(size_t count) {
  if (count == 0 || !buffered_) return;
  buffered_->Advance(static_cast<int32_t>(count));
  // Every byte of a window is a character of its own or part of one passed through unchanged.
  currentPosition_ = buffered_->GetPosition() - 1;
  previousPosition_ = count > 1 ? currentPosition_ - 1 : currentPosition_;
}

int32_t TsdCodecStream::Write(const void* buffer, int32_t count) {
  if (mode_ == 1) StreamError(kWriteWhileReading);
  if (mode_ == 0) StartWriting();
  if (count <= 0) return 0;
  WriteBuf(static_cast<const uint8_t*>(buffer), count);
  return count;
}

int64_t TsdCodecStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (mode_ == 0) StreamError("Cannot seek before reading or writing in conversion stream");
  if (origin == soCurrent && offset == 0) return source_->GetPosition();
  if (origin == soCurrent && mode_ == 1 && (offset == -1 || offset == -2)) {
    int64_t target = offset == -2 ? previousPosition_ : currentPosition_;
    pending_.clear();
    pendingIndex_ = 0;
    currentPosition_ = previousPosition_ = target;
    return source_->Seek(target, soBeginning);
  }
  if (origin == soEnd && offset == 0) return source_->GetSize();
  if (origin == soBeginning) return 0;
  StreamError(kCannotSeek);
}

// --- TsdUtf8Stream: reading

uint8_t TsdUtf8Stream::ReadByte() {
  if (pendingIndex_ >= pending_.size()) {
    StorePrevPosition();
    pending_.clear();
    pendingIndex_ = 0;
    DecodeCharacter();
    if (pending_.empty()) return 0;
  }
  return static_cast<uint8_t>(pending_[pendingIndex_++]);
}

void TsdUtf8Stream::DecodeCharacter() {
  switch (encoding_) {
    case seUTF8:
      DecodeUtf8();
      return;
    case seAnsi: {
      uint8_t b;
      if (!ReadSourceByte(b) || b == 0) return;
      if (b < 0x80) {
        pending_ += static_cast<char>(b);
      } else {
        pending_ = sdWideToUtf8(XmlAnsiToWide(std::string(1, static_cast<char>(b))));
      }
      return;
    }
    case se16BitBE:
    case se16BitLE:
    case seUTF16BE:
    case seUTF16LE:
      DecodeUtf16();
      return;
    default:
      StreamError(kUnsupported);
  }
}

// Groups the bytes of one UTF-8 sequence so that stepping back lands on a character's start.
// The bytes pass unchanged; a byte that cannot continue the sequence starts the next character.
void TsdUtf8Stream::DecodeUtf8() {
  uint8_t lead;
  if (!ReadSourceByte(lead) || lead == 0) return;
  pending_ += static_cast<char>(lead);
  int extra = (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : 0;
  for (int i = 0; i < extra; ++i) {
    uint8_t next;
    if (!ReadSourceByte(next)) return;
    if ((next & 0xC0) != 0x80) {
      source_->Seek(-1, soCurrent);
      return;
    }
    pending_ += static_cast<char>(next);
  }
}

void TsdUtf8Stream::DecodeUtf16() {
  auto readUnit = [this](uint32_t& unit) {
    uint8_t pair[2];
    if (!ReadSourceByte(pair[0]) || !ReadSourceByte(pair[1])) return false;
    unit = bigEndian_ ? (static_cast<uint32_t>(pair[0]) << 8 | pair[1])
                      : (static_cast<uint32_t>(pair[1]) << 8 | pair[0]);
    return true;
  };
  uint32_t unit;
  if (!readUnit(unit) || unit == 0) return;
  uint32_t code = unit;
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    uint32_t low;
    int64_t before = source_->GetPosition();
    if (readUnit(low) && low >= 0xDC00 && low <= 0xDFFF) {
      code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    } else {
      // An unpaired high surrogate: the unit after it is a character of its own.
      source_->Seek(before, soBeginning);
      code = 0xFFFD;
    }
  } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
    code = 0xFFFD;
  }
  pending_ = CodePointToUtf8(code);
}

// --- TsdUtf8Stream: writing

void TsdUtf8Stream::WriteBuf(const uint8_t* buffer, int32_t count) {
  if (encoding_ == seUTF8) {
    WriteSource(buffer, count);
    return;
  }
  for (int32_t i = 0; i < count; ++i) WriteByte(buffer[i]);
}

void TsdUtf8Stream::WriteByte(uint8_t value) {
  if (needed_ > 0) {
    if ((value & 0xC0) == 0x80) {
      sequence_ += static_cast<char>(value);
      if (--needed_ > 0) return;
      WideString wide = sdUtf8ToWide(sequence_);
      sequence_.clear();
      uint32_t code = 0xFFFD;
      if (wide.size() == 1) code = wide[0];
      if (wide.size() == 2) code = 0x10000 + ((wide[0] - 0xD800u) << 10) + (wide[1] - 0xDC00u);
      if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;
      WriteCodePoint(code);
      return;
    }
    // The sequence was cut short: mark the loss and treat this byte afresh.
    sequence_.clear();
    needed_ = 0;
    WriteCodePoint(0xFFFD);
  }
  if (value < 0x80) {
    WriteCodePoint(value);
    return;
  }
  int extra = (value & 0xE0) == 0xC0 ? 1 : (value & 0xF0) == 0xE0 ? 2 : (value & 0xF8) == 0xF0 ? 3 : 0;
  if (extra == 0) {
    WriteCodePoint(0xFFFD);
    return;
  }
  sequence_.assign(1, static_cast<char>(value));
  needed_ = extra;
}

void TsdUtf8Stream::WriteCodePoint(uint32_t code) {
  char16_t units[2];
  int count = 1;
  if (code >= 0x10000) {
    units[0] = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
    units[1] = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    count = 2;
  } else {
    units[0] = static_cast<char16_t>(code);
  }
  if (encoding_ == seAnsi) {
    if (code < 0x80) {
      uint8_t b = static_cast<uint8_t>(code);
      WriteSource(&b, 1);
      return;
    }
    std::string bytes = XmlWideToAnsi(WideString(units, static_cast<size_t>(count)));
    WriteSource(bytes.data(), static_cast<int32_t>(bytes.size()));
    return;
  }
  if (!IsSixteenBit(encoding_)) StreamError(kUnsupported);
  uint8_t bytes[4];
  for (int i = 0; i < count; ++i) {
    uint8_t high = static_cast<uint8_t>(units[i] >> 8);
    uint8_t low = static_cast<uint8_t>(units[i] & 0xFF);
    bytes[2 * i] = bigEndian_ ? high : low;
    bytes[2 * i + 1] = bigEndian_ ? low : high;
  }
  WriteSource(bytes, 2 * count);
}

// --- TsdSurplusReader

TsdSurplusReader::TsdSurplusReader(TStream* stream)
    : stream_(stream),
      codec_(dynamic_cast<TsdCodecStream*>(stream)),
      memory_(codec_ ? nullptr : dynamic_cast<TMemoryStream*>(stream)) {}

TsdSurplusReader::~TsdSurplusReader() {
  try {
    Sync();
  } catch (...) {
  }
}

void TsdSurplusReader::Sync() {
  if (windowStart_ && next_ != windowStart_) {
    const size_t taken = static_cast<size_t>(next_ - windowStart_);
    if (codec_) codec_->ConsumeWindow(taken);
    else memory_->Seek(static_cast<int64_t>(taken), soCurrent);
  }
  windowStart_ = next_ = end_ = nullptr;
}

int64_t TsdSurplusReader::Position() {
  Sync();
  return stream_->GetPosition();
}

// Takes the next run of characters straight from the stream's buffer.
bool TsdSurplusReader::Refill() {
  Sync();
  const char *first = nullptr, *last = nullptr;
  if (codec_) {
    if (!codec_->ReadWindow(first, last)) return false;
  } else if (memory_) {
    const int64_t position = memory_->GetPosition(), size = memory_->GetSize();
    if (position >= size) return false;
    const char* base = reinterpret_cast<const char*>(memory_->Memory());
    first = base + position;
    last = base + size;
    // A byte 0 ends the text: the run stops before it.
    if (!(zeroFrom_ && first >= zeroFrom_ && first <= zeroStop_ && zeroStop_ <= last)) {
      const void* zero = std::memchr(first, 0, static_cast<size_t>(last - first));
      zeroFrom_ = first;
      zeroStop_ = zero ? static_cast<const char*>(zero) : last;
    }
    last = zeroStop_;
  } else {
    return false;
  }
  if (first == last) return false;
  windowStart_ = next_ = first;
  end_ = last;
  return true;
}

bool TsdSurplusReader::ReadCharSlow(char& c) {
  if (ended_) return false;
  if (Refill()) {
    c = *next_++;
    return true;
  }
  if (stream_->Read(&c, 1) != 1 || c == 0) {
    ended_ = true;
    return false;
  }
  return true;
}

bool TsdSurplusReader::ReadCharSkipBlanks(char& c) {
  while (ReadChar(c)) {
    if (!IsXmlBlank(c)) return true;
  }
  return false;
}

bool TsdSurplusReader::ReadUntil(char stop, std::string& out) {
  for (;;) {
    while (!surplus_.empty()) {
      char c = surplus_.back();
      surplus_.pop_back();
      if (c == stop) return true;
      out += c;
    }
    if (next_ == end_) {
      char c;
      if (!ReadCharSlow(c)) return false;
      if (c == stop) return true;
      out += c;
      continue;
    }
    const void* hit = std::memchr(next_, stop, static_cast<size_t>(end_ - next_));
    if (hit) {
      const char* at = static_cast<const char*>(hit);
      out.append(next_, at);
      next_ = at + 1;
      return true;
    }
    out.append(next_, end_);
    next_ = end_;
  }
}

bool TsdSurplusReader::ReadUntilAny(const bool (&stops)[256], std::string& out, char& hit) {
  for (;;) {
    while (!surplus_.empty()) {
      char c = surplus_.back();
      surplus_.pop_back();
      if (stops[static_cast<unsigned char>(c)]) {
        hit = c;
        return true;
      }
      out += c;
    }
    if (next_ == end_) {
      char c;
      if (!ReadCharSlow(c)) return false;
      if (stops[static_cast<unsigned char>(c)]) {
        hit = c;
        return true;
      }
      out += c;
      continue;
    }
    const char* p = next_;
    while (p != end_ && !stops[static_cast<unsigned char>(*p)]) ++p;
    out.append(next_, p);
    if (p != end_) {
      hit = *p;
      next_ = p + 1;
      return true;
    }
    next_ = end_;
  }
}

void TsdSurplusReader::PushBack(const std::string& characters) {
  surplus_.append(characters.rbegin(), characters.rend());
}

bool TsdSurplusReader::AtEnd() {
  char c;
  if (!ReadChar(c)) return true;
  surplus_.push_back(c);
  return false;
}
