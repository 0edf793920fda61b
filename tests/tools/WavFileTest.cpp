// WAV files: every supported format round-trips, damaged and unsupported files are refused clearly.
#include "tools/vsthost/WavFile.h"

#include <gtest/gtest.h>

#include <cmath>

#include "TestFiles.h"

namespace {
WavAudio Ramp(WavSampleFormat format, int channels, size_t frames) {
  WavAudio audio;
  audio.sampleRate = 48000;
  audio.format = format;
  audio.channels.assign(channels, std::vector<float>(frames));
  for (int c = 0; c < channels; ++c)
    for (size_t i = 0; i < frames; ++i)
      audio.channels[c][i] = static_cast<float>(std::sin(0.01 * static_cast<double>(i) + c) * 0.9);
  return audio;
}
}  // namespace

TEST(WavFile, EveryFormatRoundTripsThroughAFile) {
  TempDir dir;
  struct Case { WavSampleFormat format; double tolerance; } cases[] = {
      {WavSampleFormat::Pcm16, 1.0 / 32768}, {WavSampleFormat::Pcm24, 1.0 / 8388608}, {WavSampleFormat::Float32, 0}};
  for (const Case& c : cases) {
    for (int channels : {1, 2}) {
      WavAudio in = Ramp(c.format, channels, 1001);
      WriteWav(dir.File("a.wav"), in);
      WavAudio out = ReadWav(dir.File("a.wav"));
      ASSERT_EQ(out.channels.size(), static_cast<size_t>(channels));
      ASSERT_EQ(out.Frames(), 1001u);
      EXPECT_EQ(out.sampleRate, 48000);
      EXPECT_EQ(out.format, c.format);
      for (int ch = 0; ch < channels; ++ch)
        for (size_t i = 0; i < 1001; ++i) ASSERT_NEAR(out.channels[ch][i], in.channels[ch][i], c.tolerance);
    }
  }
}

TEST(WavFile, PcmClipsInsteadOfWrapping) {
  WavAudio in;
  in.format = WavSampleFormat::Pcm16;
  in.channels = {{2.0f, -2.0f, 1.0f, NAN}};
  WavAudio out = ParseWav(FormatWav(in), "clip");
  EXPECT_NEAR(out.channels[0][0], 32767 / 32768.0f, 1e-7);
  EXPECT_EQ(out.channels[0][1], -1.0f);
  EXPECT_NEAR(out.channels[0][2], 32767 / 32768.0f, 1e-7);
  EXPECT_EQ(out.channels[0][3], 0.0f);
}

TEST(WavFile, DamagedAndUnsupportedFilesAreRefusedWithTheirName) {
  std::string good = FormatWav(Ramp(WavSampleFormat::Pcm16, 2, 10));
  auto message = [](const std::string& bytes) -> std::string {
    try {
      ParseWav(bytes, "x.wav");
    } catch (const EWavError& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_NE(message("").find("x.wav: not a RIFF/WAVE file"), std::string::npos);
  EXPECT_NE(message(good.substr(0, 30)).find("truncated format chunk"), std::string::npos);
  EXPECT_NE(message(good.substr(0, 36)).find("no data chunk"), std::string::npos);
  std::string eightBit = good;
  eightBit[34] = 8;  // bits per sample
  EXPECT_NE(message(eightBit).find("unsupported sample format"), std::string::npos);
  std::string noChannels = good;
  noChannels[22] = 0;
  EXPECT_NE(message(noChannels).find("unsupported channel count"), std::string::npos);
  // A data chunk that claims more than the file holds is read as far as it goes.
  std::string cut = good.substr(0, good.size() - 6);
  EXPECT_EQ(ParseWav(cut, "cut").Frames(), 8u);
  EXPECT_THROW(ReadWav("/no/such/file.wav"), EWavError);
}
