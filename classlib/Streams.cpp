// Streams over memory and files.
#include "Streams.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "FileHandle_p.h"

// --- TStream

int64_t TStream::GetSize() {
  int64_t position = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream cannot change size"); }

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count < 0 || Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count < 0 || Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  uint8_t chunk[61440];
  int64_t left = count;
  while (left > 0) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(left, sizeof chunk));
    source.ReadBuffer(chunk, n);
    WriteBuffer(chunk, n);
    left -= n;
  }
  return count;
}

// --- TMemoryStream

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  size_t n = std::min<size_t>(static_cast<size_t>(count), size_ - position_);
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += n;
  return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  size_t end = position_ + static_cast<size_t>(count);
  if (end > size_) {
    Reserve(end);
    // A write past the end leaves the gap zero-filled.
    if (position_ > size_) std::memset(data_.data() + size_, 0, position_ - size_);
    size_ = end;
  }
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? static_cast<int64_t>(position_)
                                                                  : static_cast<int64_t>(size_);
  int64_t target = base + offset;
  if (target < 0) target = 0;
  position_ = static_cast<size_t>(target);
  return target;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0 || static_cast<uint64_t>(size) > std::numeric_limits<int32_t>::max())
    throw EOutOfMemory("Out of memory");
  Reserve(static_cast<size_t>(size));
  if (static_cast<size_t>(size) > size_) std::memset(data_.data() + size_, 0, static_cast<size_t>(size) - size_);
  size_ = static_cast<size_t>(size);
  if (position_ > size_) position_ = size_;
}

void TMemoryStream::Reserve(size_t capacity) {
  // Geometric growth keeps long sequences of small writes linear.
  if (capacity <= data_.size()) return;
  data_.resize(std::max(capacity, data_.size() + data_.size() / 2 + 64));
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  size_ = position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  int64_t size = source.GetSize();
  SetSize(size);
  position_ = 0;
  if (size > 0) source.ReadBuffer(data_.data(), static_cast<int32_t>(size));
}

void TMemoryStream::SaveToStream(TStream& target) const {
  if (size_ > 0) target.WriteBuffer(data_.data(), static_cast<int32_t>(size_));
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

// --- TStringStream

TStringStream::TStringStream(const std::string& text) {
  if (!text.empty()) WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  SetPosition(0);
}

std::string TStringStream::DataString() const {
  return std::string(reinterpret_cast<const char*>(Memory()), static_cast<size_t>(
      const_cast<TStringStream*>(this)->GetSize()));
}

// --- TFileStream

TFileStream::TFileStream(const std::string& fileName, uint16_t mode)
    : fileName_(fileName), handle_(std::make_unique<TFileHandle>(fileName, mode)) {}

TFileStream::~TFileStream() = default;

int32_t TFileStream::Read(void* buffer, int32_t count) { return count <= 0 ? 0 : handle_->Read(buffer, count); }

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  return count <= 0 ? 0 : handle_->Write(buffer, count);
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) { return handle_->Seek(offset, origin); }

void TFileStream::SetSize(int64_t size) {
  SetPosition(size);
  handle_->Truncate();
}

// --- Whole files

std::string ReadFileBytes(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  int64_t size = file.GetSize();
  if (size > std::numeric_limits<int32_t>::max()) throw EReadError("File too large: " + fileName);
  std::string bytes(static_cast<size_t>(size), '\0');
  if (size > 0) file.ReadBuffer(bytes.data(), static_cast<int32_t>(size));
  return bytes;
}

void WriteFileBytes(const std::string& fileName, const std::string& bytes) {
  TFileStream file(fileName, fmCreate);
  if (!bytes.empty()) file.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

bool FileExists(const std::string& fileName) { return filesystem_p::Exists(fileName); }
bool RemoveFile(const std::string& fileName) { return filesystem_p::Delete(fileName); }
bool RenameFileReplacing(const std::string& source, const std::string& target) {
  return filesystem_p::Replace(source, target);
}
