// The IStream adapter over class-library streams: reads, writes, seeks (origin checks and the
// 32-bit move), sizes, chunked copies, the status record and what it refuses to do.
#include "scene/core/win32/vg_streamadapter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Wraps the adapter with reference counting for the test's scope.
struct Adapter {
  explicit Adapter(TStream& s, TStreamOwnership o = soReference) : p(new TMyStreamAdapter(&s, o)) { p->AddRef(); }
  ~Adapter() { p->Release(); }
  TMyStreamAdapter* operator->() const { return p; }
  TMyStreamAdapter* p;
};

// A destination that records the size of every write it receives.
class TCountingStream : public TMyStreamAdapter {
 public:
  explicit TCountingStream(TStream* s) : TMyStreamAdapter(s, soReference) {}
  HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override {
    writes.push_back(count);
    return TMyStreamAdapter::Write(buffer, count, written);
  }
  std::vector<ULONG> writes;
};

// A stream whose every operation fails.
class TBrokenStream : public TStream {
 public:
  int32_t Read(void*, int32_t) override { throw EReadError("Stream read error"); }
  int32_t Write(const void*, int32_t) override { throw EWriteError("Stream write error"); }
  int64_t Seek(int64_t, TSeekOrigin) override { throw EStreamError("no seek"); }
};

LARGE_INTEGER Move(int64_t v) {
  LARGE_INTEGER m;
  m.QuadPart = v;
  return m;
}

}  // namespace

TEST(VgStreamAdapter, ReadsAndWritesThroughTheStream) {
  TMemoryStream s;
  Adapter a(s);
  const char text[] = "hello adapter";
  ULONG written = 0;
  EXPECT_EQ(a->Write(text, 13, &written), S_OK);
  EXPECT_EQ(written, 13u);
  EXPECT_EQ(s.GetSize(), 13);
  ULARGE_INTEGER pos;
  EXPECT_EQ(a->Seek(Move(6), STREAM_SEEK_SET, &pos), S_OK);
  EXPECT_EQ(pos.QuadPart, 6u);
  char buffer[32] = {};
  ULONG read = 0;
  EXPECT_EQ(a->Read(buffer, 32, &read), S_OK);
  EXPECT_EQ(read, 7u);
  EXPECT_EQ(std::string(buffer, read), "adapter");
  EXPECT_EQ(a->Read(nullptr, 4, &read), static_cast<HRESULT>(0x80030009));
  EXPECT_EQ(a->Write(nullptr, 4, &written), static_cast<HRESULT>(0x80030009));
}

TEST(VgStreamAdapter, SeekChecksTheOriginAndUsesTheLow32Bits) {
  TMemoryStream s;
  s.SetSize(100);
  s.SetPosition(10);
  Adapter a(s);
  ULARGE_INTEGER pos = {};
  EXPECT_EQ(a->Seek(Move(5), 3, &pos), static_cast<HRESULT>(0x80030001));
  EXPECT_EQ(s.GetPosition(), 10);
  // 4 GiB + 20: only the 20 counts.
  EXPECT_EQ(a->Seek(Move((int64_t(1) << 32) + 20), STREAM_SEEK_SET, &pos), S_OK);
  EXPECT_EQ(pos.QuadPart, 20u);
  EXPECT_EQ(a->Seek(Move(-5), STREAM_SEEK_END, &pos), S_OK);
  EXPECT_EQ(pos.QuadPart, 95u);
  EXPECT_EQ(a->Seek(Move(-15), STREAM_SEEK_CUR, nullptr), S_OK);
  EXPECT_EQ(s.GetPosition(), 80);
}

TEST(VgStreamAdapter, FailuresOfTheStreamBecomeCodes) {
  TBrokenStream s;
  Adapter a(s);
  char b[4];
  ULONG n = 0;
  EXPECT_EQ(a->Read(b, 4, &n), S_FALSE);
  EXPECT_EQ(a->Write(b, 4, &n), static_cast<HRESULT>(0x80030103));
  EXPECT_EQ(a->Seek(Move(0), STREAM_SEEK_SET, nullptr), static_cast<HRESULT>(0x80030009));
  ULARGE_INTEGER size;
  size.QuadPart = 10;
  EXPECT_EQ(a->SetSize(size), static_cast<HRESULT>(0x8000FFFF));
}

TEST(VgStreamAdapter, SetSizeAnswersWhetherTheSizeTookEffect) {
  TMemoryStream s;
  Adapter a(s);
  ULARGE_INTEGER size;
  size.QuadPart = 4096;
  EXPECT_EQ(a->SetSize(size), S_OK);
  EXPECT_EQ(s.GetSize(), 4096);
}

TEST(VgStreamAdapter, CopyToMovesThreeMebibytesInOneMebibyteChunks) {
  TMemoryStream src, dst;
  const int32_t total = 3 * 1048576;
  std::vector<uint8_t> bytes(static_cast<size_t>(total));
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
  src.WriteBuffer(bytes.data(), total);
  src.SetPosition(0);
  Adapter a(src);
  auto* counting = new TCountingStream(&dst);
  counting->AddRef();
  ULARGE_INTEGER count, read, written;
  count.QuadPart = total;
  EXPECT_EQ(a->CopyTo(counting, count, &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, uint64_t(total));
  EXPECT_EQ(written.QuadPart, uint64_t(total));
  EXPECT_EQ(counting->writes, (std::vector<ULONG>{1048576, 1048576, 1048576}));
  counting->Release();
  ASSERT_EQ(dst.GetSize(), total);
  EXPECT_EQ(std::memcmp(dst.Memory(), bytes.data(), bytes.size()), 0);
}

TEST(VgStreamAdapter, CopyToReportsWhatCameWhenTheSourceEndsEarly) {
  TMemoryStream src, dst;
  src.WriteBuffer("abcdef", 6);
  src.SetPosition(0);
  Adapter a(src), d(dst);
  ULARGE_INTEGER count, read, written;
  count.QuadPart = 100;
  EXPECT_EQ(a->CopyTo(d.p, count, &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, 6u);
  EXPECT_EQ(written.QuadPart, 6u);
  EXPECT_EQ(dst.GetSize(), 6);
}

TEST(VgStreamAdapter, StatDescribesAStreamOfTheStreamsSize) {
  TMemoryStream s;
  s.SetSize(1234);
  Adapter a(s);
  STATSTG st;
  std::memset(&st, 0xCC, sizeof(st));
  EXPECT_EQ(a->Stat(&st, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(st.type, DWORD(STGTY_STREAM));
  EXPECT_EQ(st.cbSize.QuadPart, 1234u);
  EXPECT_EQ(st.grfLocksSupported, DWORD(LOCK_WRITE));
  EXPECT_EQ(st.pwcsName, nullptr);
  // Today's local time, as a FILETIME: after 2020-01-01.
  const uint64_t stamp = uint64_t(st.mtime.dwHighDateTime) << 32 | st.mtime.dwLowDateTime;
  EXPECT_GT(stamp, 132223104000000000ull);
  EXPECT_EQ(a->Stat(nullptr, 0), S_OK);
}

TEST(VgStreamAdapter, RefusesCloneRevertAndLocks) {
  TMemoryStream s;
  Adapter a(s);
  IStream* clone = reinterpret_cast<IStream*>(1);
  EXPECT_EQ(a->Clone(&clone), static_cast<HRESULT>(0x80004001));
  EXPECT_EQ(clone, nullptr);
  EXPECT_EQ(a->Revert(), static_cast<HRESULT>(0x80030102));
  EXPECT_EQ(a->Commit(0), S_OK);
  ULARGE_INTEGER z = {};
  EXPECT_EQ(a->LockRegion(z, z, 0), static_cast<HRESULT>(0x80030001));
  EXPECT_EQ(a->UnlockRegion(z, z, 0), static_cast<HRESULT>(0x80030001));
}

TEST(VgStreamAdapter, OwnedStreamGoesWithTheLastReference) {
  // A stream that reports its destruction.
  struct TWatched : TMemoryStream {
    explicit TWatched(bool& flag) : flag_(flag) {}
    ~TWatched() override { flag_ = true; }
    bool& flag_;
  };
  bool gone = false;
  auto* adapter = new TMyStreamAdapter(new TWatched(gone), soOwned);
  adapter->AddRef();
  IUnknown* unknown = nullptr;
  ASSERT_EQ(adapter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  adapter->Release();
  EXPECT_FALSE(gone);
  unknown->Release();
  EXPECT_TRUE(gone);
}
