// Byte streams under the XML reader and writer: 64 KB buffered read and write streams, the codec
// stream that detects and writes the file's encoding and exchanges UTF-8 with the parser and the
// writer, the surplus reader that lets the parser push characters back, a string builder and an
// in-memory UTF-8 string stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Streams.h"

// --- Encodings

// The encoding codes of a document's StreamEncoding.
enum : uint8_t {
  seAnsi = 0,       // 8-bit text in the system code page
  seUCS4BE = 1,     // unsupported
  seUCS4LE = 2,     // unsupported
  seUCS4_2143 = 3,  // unsupported
  seUCS4_3412 = 4,  // unsupported
  se16BitBE = 5,    // UTF-16 big-endian without byte-order mark
  se16BitLE = 6,    // UTF-16 little-endian without byte-order mark
  seUTF8 = 7,       // UTF-8, never written with a byte-order mark
  seUTF16BE = 8,    // UTF-16 big-endian with the mark FE FF
  seUTF16LE = 9,    // UTF-16 little-endian with the mark FF FE
  seEBCDIC = 10,    // unsupported
};

// Size of the buffers of the buffered streams and of one page of the read stream.
constexpr int32_t kXmlStreamBufferSize = 65536;

// --- Buffered streams

// Reads a source stream through a 64 KB page buffer; Seek only moves the logical position, so
// stepping back inside the page costs nothing. Write raises EStreamError. Positions beyond the
// source's end read nothing.
class TsdBufferedReadStream : public TStream {
 public:
  // Does not take ownership of `source` unless `ownsSource` is set.
  TsdBufferedReadStream(TStream* source, bool ownsSource);
  ~TsdBufferedReadStream() override;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override;

  // The bytes from the logical position to the end of its page, loading the page when needed;
  // false when nothing is left to read there. Valid until the next call on this stream.
  bool Window(const uint8_t*& first, const uint8_t*& last);
  // Moves the logical position on by `count` bytes of the window.
  void Advance(int32_t count) {
    offset_ += count;
    position_ += count;
  }
  // The page the window lies in, and the window's offset in it.
  int64_t Page() const { return page_; }
  int32_t Offset() const { return offset_; }

 private:
  bool LoadPosition();

  TStream* source_;
  bool ownsSource_;
  std::vector<uint8_t> buffer_;
  int64_t page_ = -1;
  int32_t offset_ = 0;
  int32_t valid_ = 0;
  int64_t position_ = 0;
  bool mustSync_ = true;
};

// Collects writes in a 64 KB buffer and hands them to the target when full, on Flush and when
// freed. Only position queries may seek (EStreamError otherwise); Read raises EStreamError.
class TsdBufferedWriteStream : public TStream {
 public:
  TsdBufferedWriteStream(TStream* target, bool ownsTarget);
  // Flushes what is left; a failure there is lost, so callers that care call Flush first.
  ~TsdBufferedWriteStream() override;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override { return position_; }

  // Writes the buffer to the target; raises EStreamError "Cannot write to output stream" when the
  // target takes less.
  void Flush();

 private:
  TStream* target_;
  bool ownsTarget_;
  std::vector<uint8_t> buffer_;
  int32_t held_ = 0;
  int64_t position_ = 0;
};

// --- Codec streams

// Converts between the encoding of a source stream and UTF-8. Reading delivers one byte a call;
// the first read detects the encoding from the first four bytes and skips a byte-order mark. The
// first write writes the mark of the chosen encoding. A stream is either read or written, never
// both. The source is not owned.
class TsdCodecStream : public TStream {
 public:
  explicit TsdCodecStream(TStream* source);

  // One byte only (EStreamError for another count); 0 at the end of the text, which a byte 0
  // (or a character U+0000) also marks.
  int32_t Read(void* buffer, int32_t count) override;
  // The bytes are UTF-8 text, written in the stream's encoding.
  int32_t Write(const void* buffer, int32_t count) override;
  // Position queries from the current position or the end; while reading, -2 and -1 from the
  // current position step back to the start of the previous or the current character; from the
  // beginning nothing happens and 0 is answered. Anything else raises EStreamError.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

  uint8_t Encoding() const { return encoding_; }
  // Sets the encoding to write with, or switches the encoding of the characters still to read.
  void SetEncoding(uint8_t encoding);
  // Whether the text read began with a byte-order mark.
  bool HasByteOrderMark() const { return byteOrderMark_; }

  // A run of the bytes Read would deliver one at a time, taken straight from the buffer of the
  // source when that is a buffered read stream: in UTF-8 up to a byte 0, in 8-bit text up to a
  // byte 0 or one above 127 (which need converting), never with a character half delivered.
  // False when there is none (other encodings, the end of the text); Read then goes on byte by
  // byte. Valid until the next call on this stream.
  bool ReadWindow(const char*& first, const char*& last);
  // Consumes `count` bytes of the last window. A seek back afterwards steps over single bytes.
  void ConsumeWindow(size_t count);

  // Decodes what Read would deliver byte by byte into `out`, at most `room` bytes (at least 4),
  // in runs taken from the source a block at a time, never with a character cut. Answers the
  // bytes written; `ended` tells that the text ended after them (at a byte or character 0, which
  // is consumed, or at the end of the source).
  virtual int32_t ReadText(char* out, int32_t room, bool& ended);
  // Starts reading when that has not happened yet (detecting the encoding and stepping over a
  // byte-order mark) and answers the position in the source of the next character.
  int64_t ReadPosition();
  // Moves reading to `position` of the source and drops what was decoded ahead of it; reading
  // goes on there (with the encoding then set). EStreamError when the stream is being written.
  void ResumeAt(int64_t position);

 protected:
  // Decodes the next character into the pending bytes when they are used up; answers the next
  // pending byte, 0 at the end.
  virtual uint8_t ReadByte() = 0;
  // Remembers where the source stood before the character about to be decoded.
  virtual void StorePrevPosition();
  virtual void WriteByte(uint8_t value) = 0;
  virtual void WriteBuf(const uint8_t* buffer, int32_t count) = 0;

  bool ReadSourceByte(uint8_t& value);
  void WriteSource(const void* buffer, int32_t count);

  std::string pending_;
  size_t pendingIndex_ = 0;
  uint8_t encoding_ = seUTF8;
  int mode_ = 0;  // 0 not started, 1 reading, 2 writing
  int64_t currentPosition_ = 0;
  int64_t previousPosition_ = 0;
  TStream* source_;
  bool bigEndian_ = false;
  bool byteOrderMark_ = false;

 private:
  // Where the last window scan stopped, so that each byte of a page is looked at once.
  struct TWindowScan {
    int64_t Page = -1;
    uint8_t Encoding = 0;
    int32_t From = 0, Stop = 0;  // offsets in the page
  };
  TsdBufferedReadStream* buffered_ = nullptr;
  TWindowScan scan_;

  void StartWriting();

 protected:
  // Detects the encoding from the first bytes and steps over a byte-order mark (mode 1).
  void StartReading();
};

// The codec between UTF-8 and the encodings of the code table.
class TsdUtf8Stream : public TsdCodecStream {
 public:
  using TsdCodecStream::TsdCodecStream;

 protected:
  uint8_t ReadByte() override;
  void WriteByte(uint8_t value) override;
  void WriteBuf(const uint8_t* buffer, int32_t count) override;

 public:
  int32_t ReadText(char* out, int32_t room, bool& ended) override;

 private:
  int32_t ReadUtf8Text(char* out, int32_t room, bool& ended);
  int32_t ReadAnsiText(char* out, int32_t room, bool& ended);
  int32_t ReadUtf16Text(char* out, int32_t room, bool& ended);
  void DecodeCharacter();
  void DecodeUtf8();
  void DecodeUtf16();
  void WriteCodePoint(uint32_t code);

  std::string sequence_;  // bytes of the UTF-8 sequence being written
  int needed_ = 0;        // continuation bytes still missing from it
};

// --- Parser helpers

// Reads characters (bytes) from a stream with characters handed back served first. A byte 0 or
// the end of the stream ends the text for good. Over a codec stream or a memory stream the
// characters are taken in runs straight from the stream's buffer; the stream is moved on by what
// was taken at Sync, and at the latest when the reader goes.
class TsdSurplusReader {
 public:
  explicit TsdSurplusReader(TStream* stream);
  ~TsdSurplusReader();
  TsdSurplusReader(const TsdSurplusReader&) = delete;
  TsdSurplusReader& operator=(const TsdSurplusReader&) = delete;

  // The next character; false at the end of the text.
  bool ReadChar(char& c) {
    if (!surplus_.empty()) {
      c = surplus_.back();
      surplus_.pop_back();
      return true;
    }
    if (next_ != end_) {
      c = *next_++;
      return true;
    }
    return ReadCharSlow(c);
  }
  // The next character that is not an XML blank; false at the end of the text.
  bool ReadCharSkipBlanks(char& c);
  // Appends the characters before the next `stop` to `out` and consumes the stop; false at the
  // end of the text (everything read is then in `out`).
  bool ReadUntil(char stop, std::string& out);
  // As ReadUntil, stopping at any character marked in `stops`; the stop is given in `hit`.
  bool ReadUntilAny(const bool (&stops)[256], std::string& out, char& hit);
  // Hands characters back: they are read again before anything else, in their order.
  void PushBack(const std::string& characters);
  void PushBack(char c) { surplus_.push_back(c); }
  // True when no character is left (reads one ahead when needed).
  bool AtEnd();
  // The stream's position after the characters read so far (those handed back count as read).
  int64_t Position();
  // Moves the stream on by the characters taken from its buffer; needed before anything else
  // reads the stream or changes its encoding.
  void Sync();

  TStream* Stream() const { return stream_; }

 private:
  bool ReadCharSlow(char& c);
  bool Refill();

  TStream* stream_;
  TsdCodecStream* codec_;     // window source, or nullptr
  TMemoryStream* memory_;     // window source, or nullptr
  std::string surplus_;  // characters handed back, the next one last
  bool ended_ = false;
  const char* windowStart_ = nullptr;  // the window taken from the stream, not yet consumed there
  const char* next_ = nullptr;
  const char* end_ = nullptr;
  const char* zeroFrom_ = nullptr;  // memory streams: where the scan for a byte 0 began and stopped
  const char* zeroStop_ = nullptr;
};

// A growing text buffer (its capacity doubles when full).
class TsdStringBuilder {
 public:
  void AddChar(char c) { text_ += c; }
  void AddString(const std::string& s) { text_ += s; }
  size_t Length() const { return text_.size(); }
  char operator[](size_t index) const { return text_[index]; }
  std::string Copy(size_t start, size_t length) const { return text_.substr(start, length); }
  const std::string& Value() const { return text_; }
  void Clear() { text_.clear(); }

 private:
  std::string text_;
};

// A memory stream holding the bytes of a string, used to parse from and write to strings.
class TsdUTF8StringStream : public TStringStream {
 public:
  using TStringStream::TStringStream;
};
