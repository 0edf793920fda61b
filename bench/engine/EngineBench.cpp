// Stereo frames per second of T1973::Process for each rate, with recording and slave mode on and
// off and with a crossfade running all the time, at block sizes from 32 to 4096 frames. Prints
// each figure and its multiple of real time at 44.1 kHz; asserts nothing.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/engine/T1973.h"

namespace {

struct Scenario {
  std::string name;
  float rate;
  bool recording;
  bool slave;
  bool crossfading;  // start = end outside slave mode: a wrap crossfade nearly every sample
};

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> list;
  for (float rate : {1.0f, 0.5f, 0.0f})
    for (bool recording : {false, true})
      for (bool slave : {false, true}) {
        char name[96];
        std::snprintf(name, sizeof name, "rate %.1f, record %s, slave %s", rate,
                      recording ? "on " : "off", slave ? "on " : "off");
        list.push_back({name, rate, recording, slave, false});
      }
  list.push_back({"rate 1.0, record on , constant crossfade", 1.0f, true, false, true});
  return list;
}

void Configure(T1973& engine, const Scenario& s) {
  engine.SetSlave(s.slave);
  engine.SetRate(s.rate);
  engine.SetFeedBack(0.7f);
  engine.SetMix(0.5f);
  if (s.crossfading) {
    engine.SetPlayStart(0.5f);
    engine.SetPlayEnd(0.5f);
  } else {
    engine.SetPlayStart(0.1f);
    engine.SetPlayEnd(0.6f);
  }
  engine.SetRecordStart(0.0f);
  engine.SetRecordEnd(1.0f);
  engine.SetPlay(false);
  engine.SetPlay(true);
  engine.SetRecord(s.recording);
}

// Frames per second over at least `seconds` of wall time.
double Measure(const Scenario& s, int32_t blockSize, double seconds) {
  T1973 engine;
  Configure(engine, s);
  std::vector<float> inL(blockSize), inR(blockSize), outL(blockSize), outR(blockSize);
  for (int32_t i = 0; i < blockSize; ++i) {
    inL[i] = 0.5f * static_cast<float>((i * 7919) % 2001 - 1000) / 1000.0f;
    inR[i] = -inL[i];
  }
  using Clock = std::chrono::steady_clock;
  int64_t frames = 0;
  const auto start = Clock::now();
  double elapsed = 0.0;
  float sink = 0.0f;
  do {
    for (int rep = 0; rep < 64; ++rep) {
      engine.Process(inL.data(), inR.data(), outL.data(), outR.data(), blockSize);
      sink += outL[blockSize - 1];
      frames += blockSize;
    }
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds);
  if (sink == 12345.678f) std::puts("");  // keeps the work observable
  return static_cast<double>(frames) / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 0.1;
  if (argc > 1 && std::strcmp(argv[1], "--quick") == 0) seconds = 0.02;
  std::printf("T1973::Process, stereo frames per second (x real time at 44.1 kHz)\n");
  std::printf("%-42s", "scenario \\ block size");
  const int32_t blockSizes[] = {32, 64, 128, 256, 512, 1024, 2048, 4096};
  for (int32_t b : blockSizes) std::printf(" %17d", b);
  std::printf("\n");
  for (const Scenario& s : Scenarios()) {
    std::printf("%-42s", s.name.c_str());
    for (int32_t b : blockSizes) {
      const double fps = Measure(s, b, seconds);
      std::printf(" %9.3g (%5.0fx)", fps, fps / 44100.0);
      std::fflush(stdout);
    }
    std::printf("\n");
  }
  return 0;
}
