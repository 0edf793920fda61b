// Nanoseconds per small block made and freed by the class library's memory manager, beside the C
// heap (malloc and free) measured in the same run: one block at a time (the lock taken and given
// back with nothing else in the way, the path every allocation of the module starts on), a batch
// of blocks of mixed sizes made and then freed, and four and sixteen threads doing the first at
// once. Beside the threads' figures, the looks at the lock's holder that its waiters made (each
// keeps the holder suspended for a moment), per million blocks of the memory manager's. Prints,
// asserts nothing.
//
// The machine may be shared: the best of several runs counts, and the contenders take turns run
// by run, so that a slow spell falls on both alike.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "classlib/MemoryManager.h"

namespace {

constexpr int kRuns = 9;
constexpr int kPairs = 2000000;
constexpr int kBatch = 1000;
constexpr int kBatches = 400;

struct THeap {
  const char* Name;
  void* (*Allocate)(std::size_t);
  void (*Free)(void*);
};

void* ManagerAllocate(std::size_t size) { return GetMem(size); }
void ManagerFree(void* block) { FreeMem(block); }
void* HeapAllocate(std::size_t size) { return std::malloc(size); }
void HeapFree(void* block) { std::free(block); }

const THeap kHeaps[] = {{"memory manager", &ManagerAllocate, &ManagerFree}, {"C heap", &HeapAllocate, &HeapFree}};

// Keeps the compiler from leaving out a block that is made and freed at once.
void Use(void* block) { asm volatile("" : : "g"(block) : "memory"); }

void Pairs(const THeap& heap, int count) {
  for (int i = 0; i < count; ++i) {
    void* block = heap.Allocate(32 + (i & 7) * 16);
    Use(block);
    heap.Free(block);
  }
}

void Batches(const THeap& heap) {
  std::vector<void*> blocks(kBatch);
  for (int round = 0; round < kBatches; ++round) {
    for (int i = 0; i < kBatch; ++i) blocks[i] = heap.Allocate(16 + (i * 37) % 240);
    for (void* block : blocks) heap.Free(block);
  }
}

void Threads(const THeap& heap, int count) {
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) threads.emplace_back([&heap, count] { Pairs(heap, kPairs / count); });
  for (std::thread& thread : threads) thread.join();
}

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main() {
  struct TCase {
    const char* Name;
    void (*Work)(const THeap&);
    double Blocks;
    bool Looks;  // the looks at the lock's holder are printed
  };
  const TCase cases[] = {{"one block at a time", [](const THeap& heap) { Pairs(heap, kPairs); }, kPairs, false},
                         {"batches of 1000, mixed sizes", &Batches, double(kBatch) * kBatches, false},
                         {"4 threads, one block at a time", [](const THeap& heap) { Threads(heap, 4); }, kPairs, true},
                         {"16 threads, one block at a time", [](const THeap& heap) { Threads(heap, 16); }, kPairs,
                          true}};
  std::printf("nanoseconds per block made and freed (best of %d runs, taking turns)\n", kRuns);
  for (const TCase& c : cases) {
    double best[2] = {1e9, 1e9};
    uint32_t looks = 0;
    for (int run = 0; run < kRuns; ++run) {
      for (int h = 0; h < 2; ++h) {
        const uint32_t looksBefore = kbl_detail::LooksAtLockHolders();
        const double start = Seconds();
        c.Work(kHeaps[h]);
        best[h] = std::min(best[h], Seconds() - start);
        if (h == 0) looks += kbl_detail::LooksAtLockHolders() - looksBefore;
      }
    }
    std::printf("  %-32s %s %7.1f ns   %s %7.1f ns   ratio %.2f", c.Name, kHeaps[0].Name,
                best[0] / c.Blocks * 1e9, kHeaps[1].Name, best[1] / c.Blocks * 1e9, best[0] / best[1]);
    if (c.Looks) std::printf("   looks %.2f per million blocks", looks / (c.Blocks * kRuns) * 1e6);
    std::printf("\n");
  }
  return 0;
}
