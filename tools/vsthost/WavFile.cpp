// WAV files: RIFF chunks walked with every size checked against what the file holds.
#include "WavFile.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

uint32_t Le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void Put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

[[noreturn]] void Fail(const std::string& name, const std::string& what) { throw EWavError(name + ": " + what); }

}  // namespace

WavAudio ParseWav(const std::string& bytes, const std::string& name) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t size = bytes.size();
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0)
    Fail(name, "not a RIFF/WAVE file");

  bool haveFormat = false;
  uint16_t formatTag = 0, channels = 0, bits = 0;
  uint32_t rate = 0;
  const unsigned char* samples = nullptr;
  size_t sampleBytes = 0;

  size_t pos = 12;
  while (pos + 8 <= size) {
    uint32_t chunkSize = Le32(data + pos + 4);
    const unsigned char* body = data + pos + 8;
    size_t available = size - pos - 8;
    if (std::memcmp(data + pos, "fmt ", 4) == 0) {
      if (chunkSize < 16 || chunkSize > available) Fail(name, "truncated format chunk");
      formatTag = Le16(body);
      channels = Le16(body + 2);
      rate = Le32(body + 4);
      bits = Le16(body + 14);
      if (formatTag == 0xFFFE) {
        if (chunkSize < 40) Fail(name, "truncated extensible format chunk");
        formatTag = Le16(body + 24);  // first two bytes of the sub-format GUID
      }
      haveFormat = true;
    } else if (std::memcmp(data + pos, "data", 4) == 0) {
      // Some writers leave the data size at 0 or too large for streamed files: take what is there.
      sampleBytes = chunkSize <= available && chunkSize != 0 ? chunkSize : available;
      samples = body;
    }
    if (chunkSize > available) break;
    pos += 8 + chunkSize + (chunkSize & 1);
  }
  if (!haveFormat) Fail(name, "no format chunk");
  if (!samples) Fail(name, "no data chunk");
  if (channels == 0 || channels > 64) Fail(name, "unsupported channel count " + std::to_string(channels));
  if (rate == 0 || rate > 1000000) Fail(name, "unsupported sample rate " + std::to_string(rate));

  WavAudio audio;
  audio.sampleRate = static_cast<int32_t>(rate);
  if (formatTag == 1 && bits == 16)
    audio.format = WavSampleFormat::Pcm16;
  else if (formatTag == 1 && bits == 24)
    audio.format = WavSampleFormat::Pcm24;
  else if (formatTag == 3 && bits == 32)
    audio.format = WavSampleFormat::Float32;
  else
    Fail(name, "unsupported sample format (tag " + std::to_string(formatTag) + ", " + std::to_string(bits) +
                   " bits); 16/24-bit PCM and 32-bit float are supported");

  size_t bytesPerSample = bits / 8;
  size_t frames = sampleBytes / (bytesPerSample * channels);
  audio.channels.assign(channels, std::vector<float>(frames));
  const unsigned char* p = samples;
  for (size_t f = 0; f < frames; ++f) {
    for (uint16_t c = 0; c < channels; ++c, p += bytesPerSample) {
      float value;
      switch (audio.format) {
        case WavSampleFormat::Pcm16: value = static_cast<int16_t>(Le16(p)) / 32768.0f; break;
        case WavSampleFormat::Pcm24: {
          int32_t v = static_cast<int32_t>((p[0] << 8) | (p[1] << 16) | (uint32_t(p[2]) << 24)) >> 8;
          value = v / 8388608.0f;
          break;
        }
        default: {
          uint32_t bitsValue = Le32(p);
          std::memcpy(&value, &bitsValue, 4);
        }
      }
      audio.channels[c][f] = value;
    }
  }
  return audio;
}

WavAudio ReadWav(const std::string& fileName) {
  std::ifstream file(fileName, std::ios::binary);
  if (!file) Fail(fileName, "cannot open file");
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) Fail(fileName, "cannot read file");
  return ParseWav(bytes, fileName);
}

std::string FormatWav(const WavAudio& audio) {
  uint16_t channels = static_cast<uint16_t>(audio.channels.size());
  uint16_t bits = audio.format == WavSampleFormat::Pcm16 ? 16 : audio.format == WavSampleFormat::Pcm24 ? 24 : 32;
  uint16_t tag = audio.format == WavSampleFormat::Float32 ? 3 : 1;
  size_t frames = audio.Frames();
  uint32_t dataBytes = static_cast<uint32_t>(frames * channels * (bits / 8));

  std::string out;
  out.reserve(44 + dataBytes);
  out += "RIFF";
  Put32(out, 36 + dataBytes);
  out += "WAVEfmt ";
  Put32(out, 16);
  Put16(out, tag);
  Put16(out, channels);
  Put32(out, static_cast<uint32_t>(audio.sampleRate));
  Put32(out, static_cast<uint32_t>(audio.sampleRate) * channels * (bits / 8));
  Put16(out, static_cast<uint16_t>(channels * (bits / 8)));
  Put16(out, bits);
  out += "data";
  Put32(out, dataBytes);
  for (size_t f = 0; f < frames; ++f) {
    for (uint16_t c = 0; c < channels; ++c) {
      float v = audio.channels[c][f];
      if (audio.format == WavSampleFormat::Float32) {
        uint32_t bitsValue;
        std::memcpy(&bitsValue, &v, 4);
        Put32(out, bitsValue);
        continue;
      }
      if (std::isnan(v)) v = 0;
      double scale = audio.format == WavSampleFormat::Pcm16 ? 32768.0 : 8388608.0;
      double scaled = std::nearbyint(static_cast<double>(v) * scale);
      if (scaled > scale - 1) scaled = scale - 1;
      if (scaled < -scale) scaled = -scale;
      int32_t s = static_cast<int32_t>(scaled);
      out += static_cast<char>(s & 0xFF);
      out += static_cast<char>((s >> 8) & 0xFF);
      if (audio.format == WavSampleFormat::Pcm24) out += static_cast<char>((s >> 16) & 0xFF);
    }
  }
  return out;
}

void WriteWav(const std::string& fileName, const WavAudio& audio) {
  std::string bytes = FormatWav(audio);
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  if (!file) Fail(fileName, "cannot create file");
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) Fail(fileName, "cannot write file");
}
