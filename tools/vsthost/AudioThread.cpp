// Audio processed in real time on a thread of its own, as a host's audio thread does.
#include <algorithm>
#include <chrono>
#include <cmath>

#include "EditorWindow.h"

TAudioThread::TAudioThread(TVstHost& host, std::vector<std::vector<float>> source, double sampleRate,
                           VstInt32 blockSize)
    : host_(host), source_(std::move(source)), sampleRate_(sampleRate), blockSize_(std::max<VstInt32>(1, blockSize)) {
  thread_ = std::thread([this] { Run(); });
}

TAudioThread::~TAudioThread() { Stop(); }

void TAudioThread::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void TAudioThread::Run() {
  AEffect* effect = host_.Effect();
  const int numIn = std::max(effect->numInputs, 0);
  const int numOut = std::max(effect->numOutputs, 0);
  std::vector<std::vector<float>> in(numIn, std::vector<float>(blockSize_)), out(numOut, std::vector<float>(blockSize_));
  std::vector<float*> inPtrs(numIn + 1), outPtrs(numOut + 1);
  const size_t length = source_.empty() ? 0 : source_[0].size();
  size_t position = 0;
  int64_t frame = 0;
  const auto blockTime = std::chrono::duration<double>(blockSize_ / sampleRate_);
  auto next = std::chrono::steady_clock::now();
  while (!stop_) {
    for (int c = 0; c < numIn; ++c) {
      for (VstInt32 i = 0; i < blockSize_; ++i)
        in[c][i] = length ? source_[c % source_.size()][(position + i) % length] : 0.0f;
      inPtrs[c] = in[c].data();
    }
    for (int c = 0; c < numOut; ++c) outPtrs[c] = out[c].data();
    if (length) position = (position + blockSize_) % length;
    {
      // The transport runs throughout: a host that stops it makes the plug-in stop playing.
      std::lock_guard<std::mutex> guard(host_.callLock);
      host_.timeInfo.sampleRate = sampleRate_;
      host_.timeInfo.flags = kVstTempoValid | kVstPpqPosValid | kVstBarsValid | kVstTimeSigValid |
                             kVstTransportPlaying | (frame == 0 ? kVstTransportChanged : 0);
      host_.timeInfo.samplePos = static_cast<double>(frame);
      host_.timeInfo.ppqPos = frame / sampleRate_ * host_.timeInfo.tempo / 60.0;
      host_.timeInfo.barStartPos = std::floor(host_.timeInfo.ppqPos / 4.0) * 4.0;
    }
    host_.ProcessReplacing(inPtrs.data(), outPtrs.data(), blockSize_);
    frame += blockSize_;
    blocks_.fetch_add(1);
    next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(blockTime);
    std::this_thread::sleep_until(next);
  }
}
