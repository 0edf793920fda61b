// Rounding helpers that do not depend on the FPU's rounding mode.
#include "System.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <new>

namespace {

int64_t Saturate(double value) {
  constexpr double kMax = 9223372036854775807.0;
  if (std::isnan(value)) return 0;
  if (value >= kMax) return std::numeric_limits<int64_t>::max();
  if (value <= -kMax) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

}  // namespace

int64_t Round(double value) {
  if (std::isnan(value)) return 0;
  double floor = std::floor(value);
  double diff = value - floor;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(floor, 2.0) != 0.0)) floor += 1.0;
  return Saturate(floor);
}

int64_t Trunc(double value) { return Saturate(std::trunc(value)); }

// --- Object allocation

bool ReportMemoryLeaksOnShutdown = false;

namespace {
std::atomic<TObjectAllocator> gObjectAllocate{nullptr};
std::atomic<TObjectDeallocator> gObjectDeallocate{nullptr};
}  // namespace

void SetObjectAllocator(TObjectAllocator allocate, TObjectDeallocator deallocate) {
  gObjectDeallocate = deallocate;
  gObjectAllocate = allocate;
}

void* TObject::operator new(std::size_t size) {
  TObjectAllocator allocate = gObjectAllocate.load();
  if (allocate == nullptr) return ::operator new(size);
  void* block = allocate(size, __builtin_return_address(0), static_cast<char*>(__builtin_frame_address(0)) + 8);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void TObject::operator delete(void* block) noexcept {
  TObjectDeallocator deallocate = gObjectDeallocate.load();
  if (deallocate == nullptr)
    ::operator delete(block);
  else
    deallocate(block);
}
