// The IStream adapter over the class library's streams.
#include "vg_streamadapter.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

namespace {

constexpr HRESULT kInvalidPointer = static_cast<HRESULT>(0x80030009);  // STG_E_INVALIDPOINTER
constexpr HRESULT kInvalidFunction = static_cast<HRESULT>(0x80030001);  // STG_E_INVALIDFUNCTION
constexpr HRESULT kCannotSave = static_cast<HRESULT>(0x80030103);       // STG_E_CANTSAVE
constexpr HRESULT kReverted = static_cast<HRESULT>(0x80030102);         // STG_E_REVERTED
constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005);             // E_FAIL
constexpr HRESULT kUnexpected = static_cast<HRESULT>(0x8000FFFF);       // E_UNEXPECTED
constexpr HRESULT kNotImplemented = static_cast<HRESULT>(0x80004001);   // E_NOTIMPL

constexpr uint64_t kCopyBufferSize = 1048576;
constexpr uint64_t kCopyRound = 2147483647;

// TStream moves at most a 32-bit signed count at once.
int32_t ClampCount(ULONG count) {
  return static_cast<int32_t>(std::min<ULONG>(count, static_cast<ULONG>(std::numeric_limits<int32_t>::max())));
}

}  // namespace

TMyStreamAdapter::TMyStreamAdapter(TStream* stream, TStreamOwnership ownership)
    : stream_(stream), ownership_(ownership) {}

TMyStreamAdapter::~TMyStreamAdapter() {
  if (ownership_ == soOwned) delete stream_;
}

HRESULT STDMETHODCALLTYPE TMyStreamAdapter::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISequentialStream) || IsEqualIID(iid, IID_IStream)) {
    *object = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TMyStreamAdapter::AddRef() { return ++refCount_; }

ULONG STDMETHODCALLTYPE TMyStreamAdapter::Release() {
  const ULONG count = --refCount_;
  if (count == 0) {
    try {
      delete this;
    } catch (...) {
    }
  }
  return count;
}

HRESULT STDMETHODCALLTYPE TMyStreamAdapter::Read(void* buffer, ULONG count, ULONG* read) {
  if (!buffer) return kInvalidPointer;
  try {
    const int32_t n = stream_->Read(buffer, ClampCount(count));
    if (read) *read = static_cast<ULONG>(std::max(n, 0));
    return S_OK;
  } catch (...) {
    return S_FALSE;
  }
}

HRESULT STDMETHODCALLTYPE TMyStreamAdapter::Write(const void* buffer, ULONG count, ULONG* written) {
  if (!buffer) return kInvalidPointer;
  try {
    const int32_t n = stream_->Write(buffer, ClampCount(count));
    if (written) *written = static_cast<ULONG>(std::max(n, 0));
    return S_OK;
  } catch (...) {
    return kCannotSave;
  }
}

HRESULT STDMETHODCALLTYPE TMyStreamAdapter::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
  if (origin > STREAM_SEEK_END) return kInvalidFunction;
  try {
    const int32_t low = static_cast<int32_t>(static_cast<uint32_t>(move.QuadPart & 0xFFFFFFFF));
    const int64_t position = stream_->Seek(low, static_cast<TSeekOrigin>(origin));
    if (newPosition) newPosition->QuadPart = static_cast<ULONGLONG>(position);
    return S_OK;
  } catch (...) {
    return kInvalidPointer;
  }
}

HRESULT STDMETHODCALLTYPE TMyStreamAdapter::SetSize(ULARGE_INTEGER size) {
  try {
    const int64_t wanted = static_cast<int64_t>(size.QuadPart);
    stream_->SetSize(wanted);
    return stream_->GetSize() == wanted ? S_OK : kFail;
  } catch (...) {
    return kUnexpected;
  }
}

HRESULT STDMETHODCALLTYPE TMyStreamAdapter::CopyTo(IStream* dest, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                                   ULARGE_INTEGER* written) {
  try {
    if (!dest) return kInvalidPointer;
    uint64_t remaining = count.QuadPart;
    const size_t bufferSize = static_cast<size_t>(std::min<uint64_t>(remaining, kCopyBufferSize));
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bufferSize ? bufferSize : 1]);
    if (!buffer) return E_OUTOFMEMORY;
    uint64_t totalRead = 0, totalWritten = 0;
    HRESULT result = S_OK;
    bool ended = false;
    while (remaining > 0 && result == S_OK && !ended) {
      uint64_t round = std::min(remaining, kCopyRound);
      remaining -= round;
      while (round > 0 && result == S_OK) {
        const int32_t chunk = static_cast<int32_t>(std::min<uint64_t>(round, bufferSize));
        const int32_t n = stream_->Read(buffer.get(), chunk);
        if (n <= 0) {
          ended = true;
          break;
        }
        ULONG w = 0;
        result = dest->Write(buffer.get(), static_cast<ULONG>(n), &w);
        if (result == S_OK && w < static_cast<ULONG>(n)) result = kFail;
        totalRead += static_cast<uint64_t>(n);
        totalWritten += w;
        round -= static_cast<uint64_t>(n);
      }
    }
    // The totals are reported also when the source ends early: the caller learns how much came.
    if (read) read->QuadPart = totalRead;
    if (written) written->QuadPart = totalWritten;
    return result;
  } catch (...) {
    return kUnexpected;
  }
}

HRESULT STDMETHODCALLTYPE TMyStreamAdapter::Commit(DWORD) { return S_OK; }

HRESULT STDMETHODCALLTYPE TMyStreamAdapter::Revert() { return kReverted; }

HRESULT STDMETHODCALLTYPE TMyStreamAdapter::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return kInvalidFunction;
}

HRESULT STDMETHODCALLTYPE TMyStreamAdapter::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return kInvalidFunction;
}

HRESULT STDMETHODCALLTYPE TMyStreamAdapter::Stat(STATSTG* stat, DWORD) {
  try {
    if (!stat) return S_OK;
    ZeroMemory(stat, sizeof(*stat));
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = static_cast<ULONGLONG>(stream_->GetSize());
    // The local time as a FILETIME (100 ns since 1 January 1601), as the time stamps of a stream
    // that has none of its own.
    SYSTEMTIME now;
    GetLocalTime(&now);
    FILETIME stamp = {};
    SystemTimeToFileTime(&now, &stamp);
    stat->mtime = stat->ctime = stat->atime = stamp;
    stat->grfLocksSupported = LOCK_WRITE;
    return S_OK;
  } catch (...) {
    return kUnexpected;
  }
}

HRESULT STDMETHODCALLTYPE TMyStreamAdapter::Clone(IStream** stream) {
  if (stream) *stream = nullptr;
  return kNotImplemented;
}
