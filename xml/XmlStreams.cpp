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
    // What is left of a large read goes straight from the source, past the buffer; the page held
    // stays as it is for reads back into it.
    if (count - copied >= kXmlStreamBufferSize && (mustSync_ || offset_ >= valid_)) {
      source_->Seek(position_, soBeginning);
      const int32_t n = source_->Read(out + copied, count - copied);
      if (n <= 0) break;
      copied += n;
      position_ += n;
      mustSync_ = true;
      continue;
    }
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
    // Whole buffers go to the target without being copied when nothing is held.
    if (held_ == 0 && count - done >= kXmlStreamBufferSize) {
      const int32_t n = (count - done) / kXmlStreamBufferSize * kXmlStreamBufferSize;
      if (target_->Write(in + done, n) != n) StreamError(kCannotWrite);
      done += n;
      position_ += n;
      continue;
    }
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

int64_t TsdCodecStream::ReadPosition() {
  if (mode_ == 2) StreamError(kReadWhileWriting);
  if (mode_ == 0) StartReading();
  return source_->GetPosition();
}

void TsdCodecStream::ResumeAt(int64_t position) {
  if (mode_ == 2) StreamError(kReadWhileWriting);
  if (mode_ == 0) StartReading();
  pending_.clear();
  pendingIndex_ = 0;
  source_->Seek(position, soBeginning);
  currentPosition_ = previousPosition_ = position;
}

int32_t TsdCodecStream::ReadText(char* out, int32_t room, bool& ended) {
  if (mode_ == 2) StreamError(kReadWhileWriting);
  if (mode_ == 0) StartReading();
  ended = false;
  int32_t written = 0;
  while (written < room) {
    // A new character may take four bytes: it is decoded only when they fit.
    if (pendingIndex_ >= pending_.size() && room - written < 4) break;
    uint8_t value = ReadByte();
    if (value == 0) {
      ended = true;
      break;
    }
    out[written++] = static_cast<char>(value);
  }
  return written;
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

// --- TsdUtf8Stream: reading in runs

namespace {

// The UTF-8 form of each byte above 127 of the system code page, converted one byte at a time as
// the codec delivers them; an empty form (a byte the code page cannot convert alone) ends the text.
struct TAnsiForms {
  char Bytes[128][4] = {};
  uint8_t Length[128] = {};
  TAnsiForms() {
    for (int b = 0x80; b < 0x100; ++b) {
      std::string form = sdWideToUtf8(XmlAnsiToWide(std::string(1, static_cast<char>(b))));
      if (form.size() > 3) form.clear();
      std::memcpy(Bytes[b - 0x80], form.data(), form.size());
      Length[b - 0x80] = static_cast<uint8_t>(form.size());
    }
  }
};

const TAnsiForms& AnsiForms() {
  static const TAnsiForms forms;
  return forms;
}

// Appends the UTF-8 form of a code point below 110000 hexadecimal that is no surrogate.
char* PutUtf8(char* out, uint32_t code) {
  if (code < 0x80) {
    *out++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code >> 6));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code >> 12));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code >> 18));
    *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

// Reads up to `count` bytes, fewer only at the end of the source.
int32_t ReadFully(TStream& source, uint8_t* buffer, int32_t count) {
  int32_t got = 0;
  while (got < count) {
    int32_t n = source.Read(buffer + got, count - got);
    if (n <= 0) break;
    got += n;
  }
  return got;
}

// Source bytes taken at a time by the decoding of 8-bit and 16-bit text.
constexpr int32_t kDecodeBlock = 4096;

}  // namespace

int32_t TsdUtf8Stream::ReadText(char* out, int32_t room, bool& ended) {
  if (mode_ == 2) StreamError(kReadWhileWriting);
  if (mode_ == 0) StartReading();
  ended = false;
  // The rest of a character that Read delivered in part comes first.
  int32_t written = 0;
  while (pendingIndex_ < pending_.size() && written < room) out[written++] = pending_[pendingIndex_++];
  if (pendingIndex_ < pending_.size() || room - written < 4) return written;
  pending_.clear();
  pendingIndex_ = 0;
  int32_t more = 0;
  switch (encoding_) {
    case seUTF8: more = ReadUtf8Text(out + written, room - written, ended); break;
    case seAnsi: more = ReadAnsiText(out + written, room - written, ended); break;
    case se16BitBE:
    case se16BitLE:
    case seUTF16BE:
    case seUTF16LE: more = ReadUtf16Text(out + written, room - written, ended); break;
    default: StreamError(kUnsupported);
  }
  currentPosition_ = previousPosition_ = source_->GetPosition();
  return written + more;
}

// UTF-8 passes through as it is, up to a byte 0.
int32_t TsdUtf8Stream::ReadUtf8Text(char* out, int32_t room, bool& ended) {
  const int32_t got = ReadFully(*source_, reinterpret_cast<uint8_t*>(out), room);
  const void* zero = std::memchr(out, 0, static_cast<size_t>(got));
  if (!zero) {
    ended = got < room;
    return got;
  }
  const int32_t length = static_cast<int32_t>(static_cast<const char*>(zero) - out);
  // The 0 is consumed; what follows it is not.
  source_->Seek(length + 1 - got, soCurrent);
  ended = true;
  return length;
}

int32_t TsdUtf8Stream::ReadAnsiText(char* out, int32_t room, bool& ended) {
  const TAnsiForms& forms = AnsiForms();
  uint8_t block[kDecodeBlock];
  const int32_t got = ReadFully(*source_, block, std::min(room, kDecodeBlock));
  int32_t written = 0, used = 0;
  while (used < got && written + 3 <= room) {
    const uint8_t b = block[used++];
    if (b == 0) {
      ended = true;
      break;
    }
    if (b < 0x80) {
      out[written++] = static_cast<char>(b);
      continue;
    }
    const uint8_t length = forms.Length[b - 0x80];
    if (length == 0) {
      ended = true;
      break;
    }
    std::memcpy(out + written, forms.Bytes[b - 0x80], length);
    written += length;
  }
  if (used < got) source_->Seek(used - got, soCurrent);
  if (got < std::min(room, kDecodeBlock) && used == got) ended = true;
  return written;
}

// Units swapped when big-endian; a surrogate pair gives one character, an unpaired surrogate
// U+FFFD, a unit 0 or an odd byte at the end of the source ends the text.
int32_t TsdUtf8Stream::ReadUtf16Text(char* out, int32_t room, bool& ended) {
  uint8_t block[kDecodeBlock];
  const int32_t want = std::min(std::max(room, 4), kDecodeBlock) & ~1;
  const int32_t got = ReadFully(*source_, block, want);
  const bool sourceEnds = got < want;
  auto unitAt = [&](int32_t i) -> uint32_t {
    return bigEndian_ ? (static_cast<uint32_t>(block[i]) << 8 | block[i + 1])
                      : (static_cast<uint32_t>(block[i + 1]) << 8 | block[i]);
  };
  char* const start = out;
  char* const limit = out + room;
  int32_t used = 0;
  while (used + 1 < got && limit - out >= 4) {
    const uint32_t unit = unitAt(used);
    if (unit == 0) {
      used += 2;
      ended = true;
      break;
    }
    uint32_t code = unit;
    int32_t step = 2;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (used + 3 < got) {
        const uint32_t low = unitAt(used + 2);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          step = 4;
        } else {
          code = 0xFFFD;
        }
      } else if (sourceEnds) {
        code = 0xFFFD;
      } else {
        break;  // the pair goes on in the next block
      }
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      code = 0xFFFD;
    }
    out = PutUtf8(out, code);
    used += step;
  }
  if (!ended && sourceEnds && got - used < 2) {
    // Nothing but an odd byte (or nothing) is left: the source has ended.
    used = got;
    ended = true;
  }
  if (used < got) source_->Seek(used - got, soCurrent);
  return static_cast<int32_t>(out - start);
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
