// The memory pool of a document's tree.
#include "XmlNodePool_p.h"

#include <new>

namespace {

// Chunks start with their link, padded so that the blocks after it stay aligned for any object.
constexpr size_t kChunkHeader = 16;
// Beyond this a chunk grows no further.
constexpr size_t kLargestChunk = 1 << 20;

}  // namespace

TXmlNodePool* TXmlNodePool::Create() { return new TXmlNodePool(); }

TXmlNodePool::~TXmlNodePool() {
  while (chunks_) {
    TChunk* next = chunks_->Next;
    ::operator delete(chunks_);
    chunks_ = next;
  }
}

void* TXmlNodePool::do_allocate(size_t bytes, size_t alignment) {
  if (bytes == 0 || bytes > kLargestPooled || alignment > kGrain) {
    void* block = ::operator new(bytes, std::align_val_t(alignment));
    ++references_;
    return block;
  }
  return AllocateSmall(bytes);
}

void* TXmlNodePool::Carve(size_t size) {
  if (static_cast<size_t>(limit_ - next_) < size) {
    // The rest of the old chunk goes to the free lists, largest blocks first.
    for (size_t index = kClasses; index-- > 0;) {
      const size_t blockSize = (index + 1) * kGrain;
      while (static_cast<size_t>(limit_ - next_) >= blockSize) {
        auto* rest = reinterpret_cast<TFreeBlock*>(next_);
        rest->Next = free_[index];
        free_[index] = rest;
        next_ += blockSize;
      }
    }
    auto* chunk = static_cast<TChunk*>(::operator new(kChunkHeader + chunkSize_));
    chunk->Next = chunks_;
    chunks_ = chunk;
    next_ = reinterpret_cast<char*>(chunk) + kChunkHeader;
    limit_ = next_ + chunkSize_;
    if (chunkSize_ < kLargestChunk) chunkSize_ *= 2;
  }
  void* block = next_;
  next_ += size;
  return block;
}

void TXmlNodePool::do_deallocate(void* block, size_t bytes, size_t alignment) {
  if (bytes == 0 || bytes > kLargestPooled || alignment > kGrain) {
    ::operator delete(block, std::align_val_t(alignment));
    Release();
    return;
  }
  FreeSmall(block, bytes);
}
