// Reading and writing WAV files: 16- and 24-bit PCM and 32-bit float, any channel count and rate.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Raised with a message naming the file and what is wrong with it.
class EWavError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class WavSampleFormat { Pcm16, Pcm24, Float32 };

// Audio as one float array per channel, samples in -1..1 for PCM.
struct WavAudio {
  int32_t sampleRate = 44100;
  WavSampleFormat format = WavSampleFormat::Float32;
  std::vector<std::vector<float>> channels;

  size_t Frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

// Reads a RIFF/WAVE file (format tags 1 and 3, and WAVE_FORMAT_EXTENSIBLE carrying them). Raises
// EWavError for a missing or unreadable file, a truncated chunk or an unsupported format.
WavAudio ReadWav(const std::string& fileName);
// Parses WAV bytes already in memory; `name` appears in error messages.
WavAudio ParseWav(const std::string& bytes, const std::string& name);

// Writes the audio in its format (PCM samples are clipped to the integer range). Raises EWavError.
void WriteWav(const std::string& fileName, const WavAudio& audio);
std::string FormatWav(const WavAudio& audio);
