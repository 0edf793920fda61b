// Tests of the Win32 hooks: hand-assembled procedures run through their trampolines, an import
// of RaiseException in this program's own import table, and a slot of a real vtable.
#include "exceptions/capture/EHook.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// --- Hand-assembled procedures in executable memory

class TCodeBlock {
 public:
  explicit TCodeBlock(const std::vector<uint8_t>& bytes) {
    memory_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    std::memcpy(memory_, bytes.data(), bytes.size());
    FlushInstructionCache(GetCurrentProcess(), memory_, bytes.size());
  }
  ~TCodeBlock() { VirtualFree(memory_, 0, MEM_RELEASE); }
  TCodeBlock(const TCodeBlock&) = delete;
  TCodeBlock& operator=(const TCodeBlock&) = delete;
  uint8_t* Data() const { return memory_; }

 private:
  uint8_t* memory_;
};

using TFastcall = int(__fastcall*)(int);
using TPlain = int(__cdecl*)();

TFastcall gBranchTrampoline = nullptr;
int __fastcall BranchHook(int x) { return gBranchTrampoline(x) + 100; }
int __fastcall OtherHook(int) { return -1; }

TPlain gPlainTrampoline = nullptr;
int __cdecl PlainHook() { return gPlainTrampoline() + 100; }
int __cdecl Forty() { return 40; }

void AppendRel32(std::vector<uint8_t>& bytes, const uint8_t* at, const void* target) {
  // displacement from the end of the 4 bytes about to be appended
  int32_t displacement = static_cast<int32_t>(reinterpret_cast<uintptr_t>(target) -
                                              (reinterpret_cast<uintptr_t>(at) + bytes.size() + 4));
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&displacement);
  bytes.insert(bytes.end(), p, p + 4);
}

class HookProcedureTest : public ::testing::Test {
 protected:
  void TearDown() override { UnhookAll(); }
};

}  // namespace

TEST_F(HookProcedureTest, ShortConditionalJumpLeavingTheCopiedBytes) {
  // int __fastcall f(int x) { return x == 0 ? 2 : 1; } with the je among the first 5 bytes.
  TCodeBlock code({0x85, 0xC9,                    // 0: test ecx, ecx
                   0x74, 0x0B,                    // 2: je 15
                   0xB8, 0x01, 0x00, 0x00, 0x00,  // 4: mov eax, 1
                   0xC3,                          // 9: ret
                   0xCC, 0xCC, 0xCC, 0xCC, 0xCC,  // 10
                   0xB8, 0x02, 0x00, 0x00, 0x00,  // 15: mov eax, 2
                   0xC3});                        // 20: ret
  auto f = reinterpret_cast<TFastcall>(code.Data());
  ASSERT_EQ(2, f(0));
  ASSERT_EQ(1, f(5));
  std::vector<uint8_t> original(code.Data(), code.Data() + 21);

  gBranchTrampoline = reinterpret_cast<TFastcall>(HookProcedure(code.Data(), reinterpret_cast<void*>(&BranchHook), "f"));
  ASSERT_NE(nullptr, gBranchTrampoline);
  EXPECT_EQ(0xE9, code.Data()[0]);
  EXPECT_EQ(102, f(0));  // through the stub to offset 15
  EXPECT_EQ(101, f(5));
  EXPECT_EQ(2, gBranchTrampoline(0));

  // Hooking again, with any hook, answers the first trampoline and keeps the first hook.
  EXPECT_EQ(reinterpret_cast<void*>(gBranchTrampoline),
            HookProcedure(code.Data(), reinterpret_cast<void*>(&OtherHook), "f"));
  EXPECT_EQ(102, f(0));

  EXPECT_TRUE(UnhookProcedure(code.Data()));
  EXPECT_EQ(0, std::memcmp(original.data(), code.Data(), original.size()));
  EXPECT_EQ(2, f(0));
  EXPECT_EQ(1, f(5));
  EXPECT_FALSE(UnhookProcedure(code.Data()));
}

TEST_F(HookProcedureTest, Rel32CallInTheCopiedBytes) {
  // int f() { return Forty() + 2; } beginning with the call.
  std::vector<uint8_t> bytes;
  TCodeBlock code(std::vector<uint8_t>(16, 0xCC));
  bytes.push_back(0xE8);
  AppendRel32(bytes, code.Data(), reinterpret_cast<void*>(&Forty));
  const uint8_t tail[] = {0x83, 0xC0, 0x02, 0xC3};  // add eax, 2; ret
  bytes.insert(bytes.end(), tail, tail + sizeof tail);
  DWORD ignored;
  VirtualProtect(code.Data(), 16, PAGE_EXECUTE_READWRITE, &ignored);
  std::memcpy(code.Data(), bytes.data(), bytes.size());
  auto f = reinterpret_cast<TPlain>(code.Data());
  ASSERT_EQ(42, f());

  gPlainTrampoline = reinterpret_cast<TPlain>(HookProcedure(code.Data(), reinterpret_cast<void*>(&PlainHook), "f"));
  EXPECT_EQ(142, f());
  EXPECT_EQ(42, gPlainTrampoline());
  // The trampoline may also be given to undo the hook.
  EXPECT_TRUE(UnhookProcedure(reinterpret_cast<void*>(gPlainTrampoline)));
  EXPECT_EQ(42, f());
}

TEST_F(HookProcedureTest, InstructionLongerThanTheJump) {
  TCodeBlock code({0xC7, 0xC0, 0x07, 0x00, 0x00, 0x00,  // mov eax, 7 (6 bytes)
                   0x83, 0xC0, 0x01,                    // add eax, 1
                   0xC3});
  auto f = reinterpret_cast<TPlain>(code.Data());
  ASSERT_EQ(8, f());
  gPlainTrampoline = reinterpret_cast<TPlain>(HookProcedure(code.Data(), reinterpret_cast<void*>(&PlainHook), "f"));
  EXPECT_EQ(108, f());
  UnhookAll();
  EXPECT_EQ(8, f());
  EXPECT_EQ(0xC7, code.Data()[0]);
}

TEST_F(HookProcedureTest, FollowsJumpThunks) {
  TCodeBlock code({0xC7, 0xC0, 0x07, 0x00, 0x00, 0x00, 0x83, 0xC0, 0x01, 0xC3});
  static void* pointer = nullptr;
  pointer = code.Data();
  // jmp [pointer]
  std::vector<uint8_t> thunkBytes = {0xFF, 0x25};
  void* const* address = &pointer;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&address);
  thunkBytes.insert(thunkBytes.end(), p, p + 4);
  TCodeBlock thunk(thunkBytes);
  EXPECT_EQ(code.Data(), FollowJumpThunks(thunk.Data()));

  gPlainTrampoline = reinterpret_cast<TPlain>(HookProcedure(thunk.Data(), reinterpret_cast<void*>(&PlainHook), "f"));
  EXPECT_EQ(0xE9, code.Data()[0]);   // the code behind the thunk was hooked
  EXPECT_EQ(0xFF, thunk.Data()[0]);  // the thunk itself is unchanged
  EXPECT_EQ(108, reinterpret_cast<TPlain>(thunk.Data())());
}

TEST_F(HookProcedureTest, RefusalsNameTheProcedure) {
  try {
    HookProcedure(nullptr, reinterpret_cast<void*>(&PlainHook), "Missing");
    FAIL() << "no exception";
  } catch (const EProcNull& e) {
    EXPECT_EQ("Cannot hook a null procedure (\"Missing\").", e.Message());
  }
  TCodeBlock tiny({0x33, 0xC0, 0xC3, 0x55, 0x8B, 0xEC});  // xor eax, eax; ret; then another procedure
  try {
    HookProcedure(tiny.Data(), reinterpret_cast<void*>(&PlainHook), "Tiny");
    FAIL() << "no exception";
  } catch (const EHookingError& e) {
    EXPECT_EQ("Cannot hook the procedure \"Tiny\".", e.Message());
  }
  EXPECT_EQ(0x33, tiny.Data()[0]);  // nothing was changed
}

// --- Imports

namespace {

int gRaised = 0;
DWORD gRaisedCode = 0;
void WINAPI FakeRaiseException(DWORD code, DWORD, DWORD, const ULONG_PTR*) {
  ++gRaised;
  gRaisedCode = code;
}

std::string OwnFileName() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string name = path;
  size_t slash = name.find_last_of("\\/");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// The import of RaiseException, called the way compiled code calls it.
__attribute__((noinline)) void CallRaiseException(DWORD code) { RaiseException(code, 0, 0, nullptr); }

}  // namespace

TEST(HookImport, RaiseExceptionInOwnImports) {
  HMODULE self = GetModuleHandleA(nullptr);
  void* real = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "RaiseException"));
  ASSERT_NE(nullptr, real);
  gRaised = 0;
  EXPECT_EQ(real, HookImportInModule(self, "KERNEL32.dll", real, false, false, "RaiseException",
                                     reinterpret_cast<void*>(&FakeRaiseException)));
  CallRaiseException(0xE0001234);
  EXPECT_EQ(1, gRaised);
  EXPECT_EQ(0xE0001234u, gRaisedCode);

  UnhookAll();
  // No entry points at the replacement any more.
  EXPECT_EQ(nullptr, HookImportInModule(self, "kernel32.dll", reinterpret_cast<void*>(&FakeRaiseException), true,
                                        true, "RaiseException", real));
}

TEST(HookImport, ByModuleNameAndExportName) {
  void* real = nullptr;
  gRaised = 0;
  EXPECT_TRUE(HookDllExport({OwnFileName(), "no-such-module.dll"}, "kernel32.dll", "RaiseException", false, real,
                            "RaiseException", reinterpret_cast<void*>(&FakeRaiseException)));
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "RaiseException")), real);
  CallRaiseException(7);
  EXPECT_EQ(1, gRaised);
  UnhookAll();
}

TEST(HookImport, ExportTheModuleDoesNotUse) {
  HMODULE self = GetModuleHandleA(nullptr);
  void* unused = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemPowerStatus"));
  ASSERT_NE(nullptr, unused);
  try {
    HookImportInModule(self, "kernel32.dll", unused, false, false, "GetSystemPowerStatus",
                       reinterpret_cast<void*>(&FakeRaiseException));
    FAIL() << "no exception";
  } catch (const EHookingError& e) {
    EXPECT_EQ("Cannot hook the procedure \"GetSystemPowerStatus\".", e.Message());
  }
  EXPECT_EQ(nullptr, HookImportInModule(self, "kernel32.dll", unused, false, true, "GetSystemPowerStatus",
                                        reinterpret_cast<void*>(&FakeRaiseException)));
  EXPECT_THROW(HookImportInModule(self, "kernel32.dll", nullptr, false, true, "Nothing", nullptr), EProcNull);
  void* real = nullptr;
  EXPECT_FALSE(HookDllExport({OwnFileName()}, "kernel32.dll", "NoSuchExport", true, real, "NoSuchExport", nullptr));
  EXPECT_EQ(nullptr, real);
}

// --- Method slots

namespace {

class TCounter {
 public:
  virtual int Value() { return 1; }
  virtual ~TCounter() = default;
};

int __attribute__((thiscall)) HookedValue(TCounter*) { return 2; }

// A real virtual call: the optimiser must not guess the target from the object's class.
__attribute__((noinline, optimize("no-devirtualize", "no-devirtualize-speculatively"))) int CallValue(
    TCounter* counter) {
  return counter->Value();
}

}  // namespace

TEST(HookMethodSlot, VtableSlot) {
  TCounter counter;
  TCounter* volatile object = &counter;
  void* table = *reinterpret_cast<void**>(object);
  void* original = reinterpret_cast<void**>(table)[0];
  ASSERT_EQ(1, CallValue(object));

  EXPECT_EQ(original, HookMethodSlot(table, 0, reinterpret_cast<void*>(&HookedValue)));
  EXPECT_EQ(2, CallValue(object));
  // The same value again: the slot's first value, not the hook.
  EXPECT_EQ(original, HookMethodSlot(table, 0, reinterpret_cast<void*>(&HookedValue)));

  EXPECT_TRUE(UnhookMethodSlot(table, 0));
  EXPECT_EQ(1, CallValue(object));
  EXPECT_EQ(original, reinterpret_cast<void**>(table)[0]);
  EXPECT_FALSE(UnhookMethodSlot(table, 0));
}
