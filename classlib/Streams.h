// Byte streams: the abstract TStream, memory, string and file streams.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SysUtils.h"

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// Abstract stream of bytes with a position. Read and Write move as far as they can and answer the
// count moved; ReadBuffer and WriteBuffer move all or raise (EReadError "Stream read error",
// EWriteError "Stream write error").
class TStream : public TObject {
 public:
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t GetPosition() { return Seek(0, soCurrent); }
  void SetPosition(int64_t position) { Seek(position, soBeginning); }
  virtual int64_t GetSize();
  // Raises EStreamError for streams that cannot change size.
  virtual void SetSize(int64_t size);

  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);

  // Copies `count` bytes from `source` (its whole content from the start when count is 0) and
  // answers the count copied; raises when the source ends early.
  int64_t CopyFrom(TStream& source, int64_t count);

  // Bytes left between the position and the end.
  int64_t Remaining() { return GetSize() - GetPosition(); }
};

// A stream over a growable block of memory it owns.
class TMemoryStream : public TStream {
 public:
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(size_); }
  void SetSize(int64_t size) override;

  // The bytes; valid until the next write or size change.
  uint8_t* Memory() { return data_.data(); }
  const uint8_t* Memory() const { return data_.data(); }
  void Clear();

  // Replaces the content with the whole of `source` (from its start) and rewinds.
  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& target) const;
  // Raise EFOpenError/EFCreateError when the file cannot be opened or created.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

 private:
  void Reserve(size_t capacity);
  std::vector<uint8_t> data_;
  size_t size_ = 0;
  size_t position_ = 0;
};

// A memory stream initialised from, and readable as, a byte string.
class TStringStream : public TMemoryStream {
 public:
  explicit TStringStream(const std::string& text = std::string());
  std::string DataString() const;
};

// File open modes: one access mode or'ed with one share mode; fmCreate creates or truncates.
enum : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

// Platform handle of an open file; see win32/ and posix/ for the two implementations.
class TFileHandle;

// A stream over a file opened with a mode and share mode. Raises EFOpenError
// ("Cannot open file \"<name>\". <reason>") or EFCreateError ("Cannot create file ...").
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& fileName, uint16_t mode);
  ~TFileStream() override;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;

  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
  std::unique_ptr<TFileHandle> handle_;
};

// Whole-file helpers over TFileStream.
std::string ReadFileBytes(const std::string& fileName);
void WriteFileBytes(const std::string& fileName, const std::string& bytes);
bool FileExists(const std::string& fileName);
bool RemoveFile(const std::string& fileName);
// Renames `source` to `target` in one step, replacing a target that exists; false on failure.
bool RenameFileReplacing(const std::string& source, const std::string& target);
