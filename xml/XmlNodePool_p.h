// The memory a document's tree is made of: nodes, child lists and attribute texts are carved from
// large chunks and recycled through free lists by size, so that building and freeing a tree of
// many nodes costs no heap call per node. Private to the XML library.
#pragma once

#include <cstddef>
#include <cstdint>

// Blocks of up to kLargestPooled bytes come from the pool's chunks, larger ones from the heap (and
// are kept for reuse up to kLargestKept). Every block is aligned for any object of up to 16
// bytes' alignment. The pool counts its owner and every block handed out, and frees its memory
// when the last of them lets go: a node taken out of a document may outlive the document. Not
// thread-safe: blocks are taken and given back on the thread that uses the document (a node taken
// out of a document belongs to that thread until it is freed).
class TXmlNodePool {
 public:
  static constexpr size_t kGrain = 16;
  static constexpr size_t kLargestPooled = 512;

  // A new pool, held once by the caller (Release lets go).
  static TXmlNodePool* Create();
  TXmlNodePool(const TXmlNodePool&) = delete;
  TXmlNodePool& operator=(const TXmlNodePool&) = delete;

  // A block of `bytes` bytes (at least one); raises std::bad_alloc.
  void* Allocate(size_t bytes) {
    if (bytes - 1 >= kLargestPooled) return AllocateLarge(bytes);
    const size_t index = (bytes - 1) / kGrain;
    const size_t size = (index + 1) * kGrain;
    void* block;
    if (TFreeBlock* free = free_[index]) {
      free_[index] = free->Next;
      block = free;
    } else if (static_cast<size_t>(limit_ - next_) >= size) {
      block = next_;
      next_ += size;
    } else {
      block = Carve(size);
    }
    ++references_;
    return block;
  }
  // Gives back a block of `bytes` bytes.
  void Free(void* block, size_t bytes) {
    if (bytes - 1 >= kLargestPooled) return FreeLarge(block, bytes);
    auto* freed = static_cast<TFreeBlock*>(block);
    const size_t index = (bytes - 1) / kGrain;
    freed->Next = free_[index];
    free_[index] = freed;
    Release();
  }

  // When no block is handed out any longer, forgets the free lists and carves again from the
  // start of the first chunk: a tree built after that lies in memory in the order it is built.
  // False when blocks are still out.
  bool ResetIfUnused();
  // Counts `count` blocks as given back without taking them: they lie unused until the pool is
  // reset. The owner's hold stays.
  void Abandon(size_t count) { references_ -= count < references_ ? count : references_ - 1; }
  // Counts every block handed out as given back (see Abandon).
  void AbandonAll() { references_ = 1; }
  // The blocks handed out and not given back.
  size_t BlocksOut() const { return references_ - 1; }

  void Retain() { ++references_; }
  // Frees the pool when nothing holds it any longer.
  void Release() {
    if (--references_ == 0) Destroy();
  }

 private:
  TXmlNodePool() = default;
  ~TXmlNodePool();

  struct TFreeBlock {
    TFreeBlock* Next;
  };
  // Chunks are kept in the order they were made, each with its size in bytes after the header.
  struct TChunk {
    TChunk* Next;
    size_t Size;
  };

  static constexpr size_t kClasses = kLargestPooled / kGrain;
  // Blocks above kLargestPooled up to this are kept for reuse in powers of two.
  static constexpr size_t kLargeClasses = 14;
  static constexpr size_t kLargestKept = kLargestPooled << kLargeClasses;

  static size_t LargeClassOf(size_t bytes);
  void Destroy();
  void* Carve(size_t size);
  void UseChunk(TChunk* chunk);
  void* AllocateLarge(size_t bytes);
  void FreeLarge(void* block, size_t bytes);

  size_t references_ = 1;
  TFreeBlock* free_[kClasses] = {};            // by size: kGrain, 2 * kGrain, ...
  TFreeBlock* largeFree_[kLargeClasses] = {};  // by size: 2 * kLargestPooled, 4 * kLargestPooled, ...
  char* next_ = nullptr;                       // unused part of the current chunk
  char* limit_ = nullptr;
  TChunk* first_ = nullptr;
  TChunk* current_ = nullptr;  // the chunk being carved; those after it are unused
  size_t chunkSize_ = 16384;   // bytes of the next chunk made; doubles up to a limit
};

// Every node's block begins with the pool it came from (nullptr for the heap) and its size,
// padded so that the node after it is aligned for any object.
struct TXmlNodeHeader {
  TXmlNodePool* Pool;
  size_t Size;
};
constexpr size_t kXmlNodeHeader = TXmlNodePool::kGrain;
static_assert(sizeof(TXmlNodeHeader) <= kXmlNodeHeader);

// The memory for a node of `size` bytes from `pool`, after its header.
inline void* XmlAllocateNode(TXmlNodePool* pool, size_t size) {
  void* block = pool->Allocate(size + kXmlNodeHeader);
  *static_cast<TXmlNodeHeader*>(block) = {pool, size + kXmlNodeHeader};
  return static_cast<char*>(block) + kXmlNodeHeader;
}
