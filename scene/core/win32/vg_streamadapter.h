// TMyStreamAdapter: a class-library stream seen through COM's IStream, so that GDI+ can decode
// from and encode into any TStream. Every method catches everything and answers a COM code.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <cstdint>

#include "classlib/Streams.h"

enum TStreamOwnership : uint8_t { soReference = 0, soOwned = 1 };

// Reference-counted; starts with a count of 0, so the first AddRef (or an owning smart pointer)
// keeps it and the last Release frees it. With soOwned the adapter frees the stream.
class TMyStreamAdapter : public IStream {
 public:
  TMyStreamAdapter(TStream* stream, TStreamOwnership ownership);
  virtual ~TMyStreamAdapter();
  TMyStreamAdapter(const TMyStreamAdapter&) = delete;
  TMyStreamAdapter& operator=(const TMyStreamAdapter&) = delete;

  TStream* Stream() const { return stream_; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // ISequentialStream
  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override;
  HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override;
  // IStream
  // Moves by the low 32 bits of `move` (the streams behind it are 32-bit).
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override;
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* dest, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                   ULARGE_INTEGER* written) override;
  HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Revert() override;
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
  // Type stream, the stream's size, the current local time as every time stamp, write locks; no
  // name.
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override;
  // Never yields a stream.
  HRESULT STDMETHODCALLTYPE Clone(IStream** stream) override;

 private:
  TStream* stream_;
  TStreamOwnership ownership_;
  std::atomic<ULONG> refCount_{0};
};
