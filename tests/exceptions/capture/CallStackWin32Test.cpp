// Call stacks of live threads under Wine: the calling thread's own stack through a chain of
// exported procedures, another thread's stack while it waits, and the live memory probe.
#include "exceptions/capture/ECallStack.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Emulation.h"

// --- Procedures whose names the test program's own export table gives

// They share one code section, which the linker places as a whole, so that the end marker in the
// section sorted right after it closes the last of them.
#define CS_PROC                                                                                 \
  extern "C" __declspec(dllexport)                                                               \
  __attribute__((noinline, optimize("no-optimize-sibling-calls"), section(".text$kblcs")))

CS_PROC int CsOwnLevel3(TEmberStackList* list) {
  BuildCurrentCallStack(*list, AllStackKinds, true, 0);
  asm volatile("" ::: "memory");
  return list->Count() + 3;
}
CS_PROC int CsOwnLevel2(TEmberStackList* list) {
  int result = CsOwnLevel3(list);
  asm volatile("" ::: "memory");
  return result + 2;
}
CS_PROC int CsOwnLevel1(TEmberStackList* list) {
  int result = CsOwnLevel2(list);
  asm volatile("" ::: "memory");
  return result + 1;
}

struct WaitingThread {
  HANDLE Ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE Release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

CS_PROC int CsThreadLevel2(WaitingThread* state) {
  SetEvent(state->Ready);
  int result = static_cast<int>(WaitForSingleObject(state->Release, MachineBound(20000)));
  asm volatile("" ::: "memory");
  return result + 2;
}
CS_PROC int CsThreadLevel1(WaitingThread* state) {
  int result = CsThreadLevel2(state);
  asm volatile("" ::: "memory");
  return result + 1;
}

// Marks where the known procedures end: the code after it belongs to other routines.
extern "C" __declspec(dllexport) __attribute__((noinline, section(".text$kblcsz"))) int CsEndOfProcs(int value) {
  asm volatile("" ::: "memory");
  return value * 3 + 1;
}

namespace {

DWORD WINAPI WaitingThreadStart(void* parameter) {
  return static_cast<DWORD>(CsThreadLevel1(static_cast<WaitingThread*>(parameter)));
}

struct KnownProc {
  std::string Name;
  uint32_t Address;
};

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

std::vector<KnownProc> KnownProcs() {
  std::vector<KnownProc> procs = {
      {"CsOwnLevel1", AddressOf(reinterpret_cast<const void*>(&CsOwnLevel1))},
      {"CsOwnLevel2", AddressOf(reinterpret_cast<const void*>(&CsOwnLevel2))},
      {"CsOwnLevel3", AddressOf(reinterpret_cast<const void*>(&CsOwnLevel3))},
      {"CsThreadLevel1", AddressOf(reinterpret_cast<const void*>(&CsThreadLevel1))},
      {"CsThreadLevel2", AddressOf(reinterpret_cast<const void*>(&CsThreadLevel2))},
  };
  std::sort(procs.begin(), procs.end(), [](const KnownProc& a, const KnownProc& b) { return a.Address < b.Address; });
  procs.push_back({std::string(), AddressOf(reinterpret_cast<const void*>(&CsEndOfProcs))});
  return procs;
}

// The known procedure whose code holds `address`: the last one starting at or below it, before
// the next one (the end marker closes the last).
std::string ProcOfAddress(uint32_t address) {
  std::vector<KnownProc> procs = KnownProcs();
  for (size_t i = 0; i + 1 < procs.size(); ++i) {
    if (address >= procs[i].Address && address < procs[i + 1].Address) return procs[i].Name;
  }
  return std::string();
}

TEST(CallStackWin32, TheKnownProceduresLieBeforeTheirEndMarker) {
  std::vector<KnownProc> procs = KnownProcs();
  for (size_t i = 0; i + 1 < procs.size(); ++i) EXPECT_LT(procs[i].Address, procs.back().Address);
}

// The names of the visible entries that fall into the known procedures, in list order, as the
// export table names them, with the name the addresses give alongside.
struct Found {
  std::vector<std::string> ByExport;
  std::vector<std::string> ByAddress;
};

Found KnownEntries(const TEmberStackList& list) {
  Found found;
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TEmberStackItem* item = list.GetItem(i);
    std::string byAddress = ProcOfAddress(item->Address);
    if (item->Kind == 0 || byAddress.empty()) continue;
    found.ByAddress.push_back(byAddress);
    found.ByExport.push_back(item->ProcedureName.Str());
  }
  return found;
}

TEST(CallStackWin32, OwnStackListsTheCallChainInOrder) {
  TEmberStackList list;
  ASSERT_GT(CsOwnLevel1(&list), 6);
  Found found = KnownEntries(list);
  EXPECT_EQ(found.ByAddress, (std::vector<std::string>{"CsOwnLevel3", "CsOwnLevel2", "CsOwnLevel1"}));
  EXPECT_EQ(found.ByExport, found.ByAddress) << "names from the program's export table";
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TEmberStackItem* item = list.GetItem(i);
    EXPECT_EQ(uint32_t{item->ThreadID}, static_cast<uint32_t>(GetCurrentThreadId()));
    EXPECT_EQ(item->IsFirst, 0);
  }
  // The chain's entries name this program's module.
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TEmberStackItem* item = list.GetItem(i);
    if (ProcOfAddress(item->Address).empty() || item->Kind == 0) continue;
    TEmberModuleInfo* module = item->ModuleInfo;
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->Handle, reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)));
  }
}

TEST(CallStackWin32, OnlyKindsInTheDetailFlagsAreKept) {
  TEmberStackList list;
  uint32_t sp = AddressOf(__builtin_frame_address(0));
  BuildCallStack(list, 0, sp, 1 << 1, -1, -1, true, false, 0, GetCurrentThreadId(), GetStackTopOf(sp));
  for (int32_t i = 0; i < list.Count(); ++i) {
    uint8_t kind = list.GetItem(i)->Kind;
    EXPECT_TRUE(kind == 1 || kind == 0) << int{kind};  // 0 only where the post-pass hid one
  }
}

TEST(CallStackWin32, AnotherThreadsStackListsItsChainWhileItWaits) {
  WaitingThread state;
  DWORD threadID = 0;
  HANDLE thread = CreateThread(nullptr, 0, WaitingThreadStart, &state, 0, &threadID);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(state.Ready, MachineBound(10000)), WAIT_OBJECT_0);
  Sleep(50);  // let it enter the wait
  TEmberStackList list;
  bool built = BuildThreadCallStack(list, reinterpret_cast<uintptr_t>(thread), threadID, AllStackKinds, true, 1);
  SetEvent(state.Release);
  ASSERT_EQ(WaitForSingleObject(thread, MachineBound(10000)), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  GetExitCodeThread(thread, &exitCode);
  EXPECT_EQ(exitCode, 3u) << "the thread ran on normally after being walked";
  CloseHandle(thread);
  ASSERT_TRUE(built);
  ASSERT_GT(list.Count(), 0);
  EXPECT_EQ(list.GetItem(0)->IsFirst, 1) << "the thread's instruction pointer comes first";
  for (int32_t i = 0; i < list.Count(); ++i) {
    EXPECT_EQ(uint32_t{list.GetItem(i)->ThreadID}, static_cast<uint32_t>(threadID));
    EXPECT_EQ(list.GetItem(i)->RunningThread, 1);
  }
  Found found = KnownEntries(list);
  EXPECT_EQ(found.ByAddress, (std::vector<std::string>{"CsThreadLevel2", "CsThreadLevel1"}));
  EXPECT_EQ(found.ByExport, found.ByAddress);
}

TEST(CallStackWin32, TheCallingThreadCannotWalkItselfAsAnotherThread) {
  TEmberStackList list;
  EXPECT_FALSE(BuildThreadCallStack(list, reinterpret_cast<uintptr_t>(GetCurrentThread()), GetCurrentThreadId(),
                                    AllStackKinds, true, 0));
  EXPECT_FALSE(BuildThreadCallStack(list, 0, 0, AllStackKinds, true, 0));
  EXPECT_EQ(list.Count(), 0);
}

TEST(CallStackWin32, StackTopAndMemoryProbe) {
  uint32_t sp = AddressOf(__builtin_frame_address(0));
  uint32_t stackBase;  // the thread information block's StackBase
  asm volatile("movl %%fs:4, %0" : "=r"(stackBase));
  EXPECT_EQ(GetStackTopOf(sp), stackBase - 4);
  EXPECT_EQ(GetStackTopOf(0), 0u);

  const TEmberMemory& memory = EmberProcessMemory();
  uint8_t code[4];
  EXPECT_TRUE(memory.Read(AddressOf(reinterpret_cast<const void*>(&CsOwnLevel1)), code, 4));
  EXPECT_FALSE(memory.IsReadable(0, 4));
  EXPECT_FALSE(memory.Read(0x10, code, 4));
  void* reserved = VirtualAlloc(nullptr, 0x2000, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(reserved, nullptr);
  VirtualAlloc(reserved, 0x1000, MEM_COMMIT, PAGE_READWRITE);
  static_cast<uint8_t*>(reserved)[0xFFF] = 0x5A;
  uint32_t at = AddressOf(reserved);
  EXPECT_TRUE(memory.IsReadable(at, 0x1000));
  EXPECT_FALSE(memory.IsReadable(at + 0xFFE, 4)) << "runs into the reserved page";
  uint8_t byte = 0;
  EXPECT_TRUE(memory.Read(at + 0xFFF, &byte, 1));
  EXPECT_EQ(byte, 0x5A);
  VirtualFree(reserved, 0, MEM_RELEASE);
}

TEST(CallStackWin32, ImportJumpsLeadToTheirTargets) {
  // A jump thunk built by hand: jmp [slot] with the slot holding a procedure's address.
  auto* thunk = static_cast<uint8_t*>(VirtualAlloc(nullptr, 0x1000, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(thunk, nullptr);
  uint32_t target = AddressOf(reinterpret_cast<const void*>(&CsOwnLevel2));
  uint32_t slot = AddressOf(thunk + 0x100);
  std::memcpy(thunk + 0x100, &target, 4);
  thunk[0] = 0xFF;
  thunk[1] = 0x25;
  std::memcpy(thunk + 2, &slot, 4);
  EXPECT_EQ(FollowImportJump(EmberProcessMemory(), AddressOf(thunk)), target);
  EXPECT_EQ(FollowImportJump(EmberProcessMemory(), target), target);
  VirtualFree(thunk, 0, MEM_RELEASE);
}

}  // namespace
