// The zip container under the zip writer: headers, raw deflate, traditional encryption and the
// central directory.
#include "detail/EZipArchive_p.h"

#include <zlib.h>

#include <random>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "exceptions/report/EZipWriter.h"

namespace ember_report {

namespace {

void Put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// The traditional PKWARE stream cipher: three keys updated with every plain byte.
class TZipCipher {
 public:
  explicit TZipCipher(const std::string& password) {
    for (char c : password) Update(static_cast<uint8_t>(c));
  }
  uint8_t Encrypt(uint8_t plain) {
    uint32_t temp = (keys_[2] | 2) & 0xFFFF;
    uint8_t cipher = plain ^ static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
    Update(plain);
    return cipher;
  }

 private:
  static uint32_t Crc32Byte(uint32_t crc, uint8_t byte) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    return crc;
  }
  void Update(uint8_t byte) {
    keys_[0] = Crc32Byte(keys_[0], byte);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    keys_[2] = Crc32Byte(keys_[2], static_cast<uint8_t>(keys_[1] >> 24));
  }
  uint32_t keys_[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};

constexpr uint16_t kVersionNeeded = 20;  // 2.0: deflate and traditional encryption
constexpr uint16_t kMethodDeflate = 8;

}  // namespace

std::string DeflateRaw(const std::string& data, int level) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw EZipError("Zip: cannot start the compressor");
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&stream, Z_FINISH);
  size_t written = out.size() - stream.avail_out;
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw EZipError("Zip: compression failed");
  out.resize(written);
  return out;
}

TZipArchive::TZipArchive(const std::string& fileName)
    : file_(std::make_unique<TFileStream>(fileName, fmCreate)) {}

TZipArchive::~TZipArchive() {
  try {
    Close();
  } catch (...) {
  }
}

void TZipArchive::AddEntry(const std::string& name, const std::string& data, uint32_t dosDateTime,
                           const std::string& password, int level) {
  if (!file_) throw EZipError("Zip: the archive is closed");
  if (data.size() > 0xFFFFFFF0u || name.size() > 0xFFFF) throw EZipError("Zip: entry too large");
  Entry entry{name, 0, dosDateTime, 0, 0, static_cast<uint32_t>(data.size()), 0};
  entry.Crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  std::string body = DeflateRaw(data, level);
  if (!password.empty()) {
    entry.Flags |= 1;
    TZipCipher cipher(password);
    std::random_device seed;
    std::mt19937 random(seed());
    std::string header(12, '\0');
    for (int i = 0; i < 11; ++i) header[static_cast<size_t>(i)] = static_cast<char>(random());
    header[11] = static_cast<char>(entry.Crc >> 24);
    for (char& c : header) c = static_cast<char>(cipher.Encrypt(static_cast<uint8_t>(c)));
    for (char& c : body) c = static_cast<char>(cipher.Encrypt(static_cast<uint8_t>(c)));
    body.insert(0, header);
  }
  entry.CompressedSize = static_cast<uint32_t>(body.size());
  entry.Offset = static_cast<uint32_t>(file_->GetPosition());

  std::string local;
  Put32(local, 0x04034B50);
  Put16(local, kVersionNeeded);
  Put16(local, entry.Flags);
  Put16(local, kMethodDeflate);
  Put32(local, entry.DosDateTime);
  Put32(local, entry.Crc);
  Put32(local, entry.CompressedSize);
  Put32(local, entry.Size);
  Put16(local, static_cast<uint32_t>(name.size()));
  Put16(local, 0);
  local += name;
  file_->WriteBuffer(local.data(), static_cast<int32_t>(local.size()));
  if (!body.empty()) file_->WriteBuffer(body.data(), static_cast<int32_t>(body.size()));
  entries_.push_back(entry);
}

void TZipArchive::Close() {
  if (!file_) return;
  uint32_t start = static_cast<uint32_t>(file_->GetPosition());
  std::string directory;
  for (const Entry& entry : entries_) {
    Put32(directory, 0x02014B50);
    Put16(directory, kVersionNeeded);  // made by: MS-DOS, 2.0
    Put16(directory, kVersionNeeded);
    Put16(directory, entry.Flags);
    Put16(directory, kMethodDeflate);
    Put32(directory, entry.DosDateTime);
    Put32(directory, entry.Crc);
    Put32(directory, entry.CompressedSize);
    Put32(directory, entry.Size);
    Put16(directory, static_cast<uint32_t>(entry.Name.size()));
    Put16(directory, 0);  // extra field
    Put16(directory, 0);  // comment
    Put16(directory, 0);  // disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, 0);  // external attributes
    Put32(directory, entry.Offset);
    directory += entry.Name;
  }
  uint32_t size = static_cast<uint32_t>(directory.size());
  Put32(directory, 0x06054B50);
  Put16(directory, 0);  // this disk
  Put16(directory, 0);  // disk of the directory
  Put16(directory, static_cast<uint32_t>(entries_.size()));
  Put16(directory, static_cast<uint32_t>(entries_.size()));
  Put32(directory, size);
  Put32(directory, start);
  Put16(directory, 0);  // no archive comment
  std::unique_ptr<TFileStream> file = std::move(file_);
  file->WriteBuffer(directory.data(), static_cast<int32_t>(directory.size()));
}

}  // namespace ember_report
