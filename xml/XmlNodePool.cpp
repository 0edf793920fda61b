// The memory pool of a document's tree.
#include "XmlNodePool_p.h"

#include "XmlDocument.h"

#include <new>

namespace {

// Chunks and large blocks are aligned for any object, also where the heap aligns to less.
constexpr std::align_val_t kAlignment{TXmlNodePool::kGrain};

// Chunks start with their link and size, padded so that the blocks after them stay aligned for
// any object.
constexpr size_t kChunkHeader = 16;
// Beyond this a chunk grows no further.
constexpr size_t kLargestChunk = 1 << 20;

}  // namespace

TXmlNodePool* TXmlNodePool::Create() { return new TXmlNodePool(); }

void TXmlNodePool::Destroy() { delete this; }

TXmlNodePool::~TXmlNodePool() {
  for (TFreeBlock* list : largeFree_) {
    while (list) {
      TFreeBlock* next = list->Next;
      ::operator delete(list, kAlignment);
      list = next;
    }
  }
  while (first_) {
    TChunk* next = first_->Next;
    ::operator delete(first_, kAlignment);
    first_ = next;
  }
}

void TXmlNodePool::UseChunk(TChunk* chunk) {
  current_ = chunk;
  next_ = reinterpret_cast<char*>(chunk) + kChunkHeader;
  limit_ = next_ + chunk->Size;
}

bool TXmlNodePool::ResetIfUnused() {
  if (references_ != 1) return false;
  for (TFreeBlock*& list : free_) list = nullptr;
  if (first_) UseChunk(first_);
  return true;
}

// Large blocks (the child lists of elements with many children) are sized in powers of two and
// kept for reuse when given back, so that a tree built again asks the heap for none of them.
size_t TXmlNodePool::LargeClassOf(size_t bytes) {
  size_t index = 0;
  while ((kLargestPooled << (index + 1)) < bytes) ++index;
  return index;
}

void* TXmlNodePool::AllocateLarge(size_t bytes) {
  void* block;
  if (bytes == 0 || bytes > kLargestKept) {
    block = ::operator new(bytes == 0 ? 1 : bytes, kAlignment);
  } else {
    const size_t index = LargeClassOf(bytes);
    if (TFreeBlock* free = largeFree_[index]) {
      largeFree_[index] = free->Next;
      block = free;
    } else {
      block = ::operator new(kLargestPooled << (index + 1), kAlignment);
    }
  }
  ++references_;
  return block;
}

void TXmlNodePool::FreeLarge(void* block, size_t bytes) {
  if (bytes == 0 || bytes > kLargestKept) {
    ::operator delete(block, kAlignment);
  } else {
    auto* freed = static_cast<TFreeBlock*>(block);
    const size_t index = LargeClassOf(bytes);
    freed->Next = largeFree_[index];
    largeFree_[index] = freed;
  }
  Release();
}

void* TXmlNodePool::Carve(size_t size) {
  if (static_cast<size_t>(limit_ - next_) < size) {
    // The rest of the chunk goes to the free lists, largest blocks first.
    for (size_t index = kClasses; index-- > 0;) {
      const size_t blockSize = (index + 1) * kGrain;
      while (static_cast<size_t>(limit_ - next_) >= blockSize) {
        auto* rest = reinterpret_cast<TFreeBlock*>(next_);
        rest->Next = free_[index];
        free_[index] = rest;
        next_ += blockSize;
      }
    }
    if (current_ && current_->Next) {
      UseChunk(current_->Next);
    } else {
      auto* chunk = static_cast<TChunk*>(::operator new(kChunkHeader + chunkSize_, kAlignment));
      chunk->Next = nullptr;
      chunk->Size = chunkSize_;
      (current_ ? current_->Next : first_) = chunk;
      UseChunk(chunk);
      if (chunkSize_ < kLargestChunk) chunkSize_ *= 2;
    }
  }
  void* block = next_;
  next_ += size;
  return block;
}

// --- The allocator of a node's lists

void* XmlPoolAllocate(TXmlNodePool* pool, size_t bytes) {
  return pool ? pool->Allocate(bytes) : ::operator new(bytes);
}

void XmlPoolFree(TXmlNodePool* pool, void* block, size_t bytes) noexcept {
  if (pool) pool->Free(block, bytes);
  else ::operator delete(block);
}
