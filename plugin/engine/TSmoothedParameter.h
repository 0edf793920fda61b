// One-pole smoother: a value that glides toward its target by a fixed fraction per sample.
#pragma once

#include <atomic>

#include "classlib/System.h"

// The smoother behind the engine's two mix gains. Setters may be called from any thread; Advance
// belongs to the audio thread. Each field is a relaxed atomic, so a new target takes effect at the
// next sample that reads it.
class TSmoothedParameter : public TObject {
 public:
  // Fraction of the remaining distance covered per sample at 44.1 kHz.
  static constexpr float kDefaultCoefficient = 20.0f / 44100.0f;

  TSmoothedParameter() = default;

  // Any thread. value and target := v; without glide the current value jumps there as well.
  void SetValue(bool glide, float v);

  // Any thread. The fraction covered per sample (20 / sample rate for the engine's gains).
  void SetCoefficient(float coefficient) { coefficient_.store(coefficient, std::memory_order_relaxed); }

  // Audio thread. current := current + (target − current) × coefficient; answers the new current.
  float Advance() {
    float current = current_.load(std::memory_order_relaxed);
    current += (target_.load(std::memory_order_relaxed) - current) *
               coefficient_.load(std::memory_order_relaxed);
    current_.store(current, std::memory_order_relaxed);
    return current;
  }

  // Any thread: the value in use, the last value set, the glide fraction and the glide target.
  float Current() const { return current_.load(std::memory_order_relaxed); }
  float Value() const { return value_.load(std::memory_order_relaxed); }
  float Coefficient() const { return coefficient_.load(std::memory_order_relaxed); }
  float Target() const { return target_.load(std::memory_order_relaxed); }

 private:
  std::atomic<float> current_{0.0f};
  std::atomic<float> value_{0.0f};
  std::atomic<float> coefficient_{kDefaultCoefficient};
  std::atomic<float> target_{0.0f};
};
