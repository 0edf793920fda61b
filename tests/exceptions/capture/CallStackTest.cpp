// Call-stack building over synthetic stacks and code: the call-instruction test, the scan and
// its limits, resolution of call sites, the frame limits and the post-pass.
#include "exceptions/capture/ECallStack.h"

#include <gtest/gtest.h>

#include <random>

#include "exceptions/ECore.h"
#include "exceptions/capture/CallStackFixtures.h"
#include "exceptions/capture/EmberLibraryData.h"

using namespace callstack_test;

namespace {

// --- Call-instruction test

struct CallCase {
  std::vector<uint8_t> Bytes;  // the bytes that end right before the return address
  int32_t Length;
};

TEST(CallInstruction, RecognisesEveryCallEncodingBeforeTheReturnAddress) {
  const uint32_t ret = 0x00401040;
  const std::vector<CallCase> cases = {
      {{0xE8, 0x10, 0x20, 0x30, 0x40}, 5},              // call rel32
      {{0xFF, 0xD3}, 2},                                // call ebx
      {{0xFF, 0xD7}, 2},                                // call edi
      {{0xFF, 0x10}, 2},                                // call [eax]
      {{0xFF, 0x17}, 2},                                // call [edi]
      {{0x8B, 0x40, 0x08, 0xFF, 0x50, 0x10}, 3},        // mov eax,[eax+8]; call [eax+$10]
      {{0x8B, 0x46, 0xFF, 0x57, 0x04}, 3},              // mov eax,[esi-1]; call [edi+4]
      {{0xFF, 0x92, 0x00, 0x01, 0x00, 0x00}, 6},        // call [edx+$100]
      {{0xFF, 0x14, 0x24}, 3},                          // call [esp]
      {{0xFF, 0x54, 0x24, 0x08}, 4},                    // call [esp+8]
      {{0xFF, 0x94, 0x24, 0x00, 0x02, 0x00, 0x00}, 7},  // call [esp+$200]
      {Cat({{0xFF, 0x15}, Le32(0x00402000)}), 6},       // call [$00402000]
  };
  for (const CallCase& c : cases) {
    TPageMemory memory;
    memory.Map(0x00401000, 0x2000);
    memory.Write(ret - static_cast<uint32_t>(c.Bytes.size()), c.Bytes);
    EXPECT_EQ(CallInstructionBefore(memory, ret), c.Length) << "case of length " << c.Length;
  }
}

TEST(CallInstruction, RejectsLookalikes) {
  const uint32_t ret = 0x00401040;
  auto lengthAfter = [&](const std::vector<uint8_t>& bytes) {
    TPageMemory memory;
    memory.Map(0x00401000, 0x1000);  // 0x00402000 stays unmapped
    memory.Write(ret - static_cast<uint32_t>(bytes.size()), bytes);
    return CallInstructionBefore(memory, ret);
  };
  EXPECT_EQ(lengthAfter({0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90}), 0);
  EXPECT_EQ(lengthAfter({0x90, 0x90, 0x90, 0x90, 0xFF, 0x50, 0x10}), 0);  // no register load before
  EXPECT_EQ(lengthAfter({0x90, 0x90, 0x90, 0x90, 0xFF, 0x54, 0x10}), 0);  // not [esp+disp8]
  EXPECT_EQ(lengthAfter({0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0xC8}), 0);  // dec eax, not a call
  EXPECT_EQ(lengthAfter({0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0x14}), 0);  // FF 14 needs a SIB
  EXPECT_EQ(lengthAfter(Cat({{0x90, 0xFF, 0x15}, Le32(0x00402000)})), 0);  // pointer unreadable

  TPageMemory empty;
  EXPECT_EQ(CallInstructionBefore(empty, ret), 0);
  TPageMemory low;
  low.Map(0, 0x1000);
  low.Write(0, {0xE8, 0, 0, 0, 0});
  EXPECT_EQ(CallInstructionBefore(low, 5), 0);  // fewer than 7 bytes before it
  // The bytes right before the return address straddle into an unmapped page.
  TPageMemory edge;
  edge.Map(0x00401000, 0x1000);
  edge.Write(0x00401000, {0xE8, 0x00, 0x00});
  EXPECT_EQ(CallInstructionBefore(edge, 0x00401005), 0);
}

TEST(CallInstruction, DetailFlagsFollowTheOptions) {
  EXPECT_EQ(GetCallStackDetailFlags(0), 16);
  EXPECT_EQ(GetCallStackDetailFlags(0x01), 20);
  EXPECT_EQ(GetCallStackDetailFlags(0x02), 24);
  EXPECT_EQ(GetCallStackDetailFlags(0x0F), 28);
}

// --- A synthetic process: one module with four procedures, a stack and a data page

constexpr uint32_t Base = 0x00400000;
constexpr uint32_t ProcA = 0x00401000;  // calls ProcB (E8) at +0x10
constexpr uint32_t ProcB = 0x00401100;  // calls [eax] at +0x10
constexpr uint32_t ProcC = 0x00401200;  // mov eax,[ebp+8]; call [eax+$10]
constexpr uint32_t ProcD = 0x00401300;  // call [$00402000] at +0x08
constexpr uint32_t Slot = 0x00402000;
constexpr uint32_t StackLow = 0x00120000;
constexpr uint32_t StackSize = 0x00030000;

class CallStackBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    TEmberModuleInfo& module = process.AddModule(Base, 0x10000, "C:\\App\\app.exe");
    moduleInfo = &module;
    process.Memory.Map(0x00401000, 0x2000);
    process.Memory.Write(ProcA, {0x55, 0x8B, 0xEC});
    process.Memory.Write(ProcA + 0x10, CallRel(ProcA + 0x10, ProcB));
    process.Memory.Write(ProcA + 0x15, {0x5D, 0xC3});
    process.Memory.Write(ProcB + 0x10, {0xFF, 0x10, 0xC3});
    process.Memory.Write(ProcC, {0x8B, 0x45, 0x08, 0xFF, 0x50, 0x10, 0xC3});
    process.Memory.Write(ProcD + 0x08, Cat({{0xFF, 0x15}, Le32(Slot), {0xC3}}));
    process.Memory.WriteWord(Slot, ProcA);
    TTestProcess::AddFunction(module, "ProcA", ProcA, 0x20);
    TTestProcess::AddFunction(module, "ProcB", ProcB, 0x20);
    TTestProcess::AddFunction(module, "ProcC", ProcC, 0x20);
    TTestProcess::AddFunction(module, "ProcD", ProcD, 0x20);
    process.Memory.Map(StackLow, StackSize);
  }

  // Writes the words from the stack pointer upward.
  void Stack(uint32_t stackPointer, const std::vector<uint32_t>& words) {
    for (size_t i = 0; i < words.size(); ++i) process.Memory.WriteWord(stackPointer + 4 * static_cast<uint32_t>(i), words[i]);
  }

  static std::vector<uint32_t> Addresses(const TEmberStackList& list, bool visibleOnly = true) {
    std::vector<uint32_t> out;
    for (int32_t i = 0; i < list.Count(); ++i)
      if (!visibleOnly || list.GetItem(i)->Kind != 0) out.push_back(uint32_t{list.GetItem(i)->Address});
    return out;
  }

  TTestProcess process;
  TEmberModuleInfo* moduleInfo = nullptr;
};

constexpr uint32_t Sp = StackLow + 0x1000;

TEST_F(CallStackBuild, FindsCallSitesAndPassesOverWordsThatAreNoReturnAddresses) {
  Stack(Sp, {
                0x00000010,       // a small number
                ProcA + 0x03,     // a code address not preceded by a call
                ProcB + 0x12,     // return from call [eax]
                Slot,             // a data pointer
                ProcC + 0x06,     // return from call [eax+$10]
                ProcD + 0x0E,     // return from call [$00402000]
                ProcA + 0x15,     // return from call ProcB
            });
  TEmberStackList list;
  BuildCallStack(list, ProcD + 0x08, Sp, AllStackKinds, -1, -1, true, false, 0, 77, Sp + 6 * 4);
  EXPECT_EQ(Addresses(list, false),
            (std::vector<uint32_t>{ProcD + 0x08, ProcB + 0x10, ProcC + 0x03, ProcD + 0x08, ProcA + 0x10}));
  ASSERT_EQ(list.Count(), 5);
  EXPECT_EQ(list.GetItem(0)->IsFirst, 1);
  EXPECT_EQ(list.GetItem(1)->IsFirst, 0);
  EXPECT_EQ(list.GetItem(2)->ProcedureName.Str(), "ProcC");
  EXPECT_EQ(list.GetItem(4)->ProcedureName.Str(), "ProcA");
  EXPECT_EQ(list.GetItem(4)->Kind, 2);
  EXPECT_EQ(uint32_t{list.GetItem(4)->ThreadID}, 77u);
  EXPECT_EQ(static_cast<TEmberModuleInfo*>(list.GetItem(4)->ModuleInfo), moduleInfo);
}

TEST_F(CallStackBuild, TheExceptionAddressRepeatedRightAboveIsHidden) {
  Stack(Sp, {ProcB + 0x12, ProcA + 0x15});
  TEmberStackList list;
  // The exception lies on the call in ProcB; the scan finds that call site again next.
  BuildCallStack(list, ProcB + 0x10, Sp, AllStackKinds, -1, -1, true, false, 0, 1, Sp + 4);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.GetItem(0)->Kind, 0);
  EXPECT_EQ(Addresses(list), (std::vector<uint32_t>{ProcB + 0x10, ProcA + 0x10}));
}

TEST_F(CallStackBuild, ScanStopsAtTheStackEndAndAtMostTheLimitAboveTheStackPointer) {
  process.Memory.WriteWord(Sp + 8, ProcA + 0x15);
  process.Memory.WriteWord(Sp + MaxStackScanBytes, ProcB + 0x12);       // last word looked at
  process.Memory.WriteWord(Sp + MaxStackScanBytes + 4, ProcC + 0x06);   // beyond the limit
  TEmberStackList list;
  BuildCallStack(list, 0, Sp, AllStackKinds, -1, -1, true, false, 0, 1, StackLow + StackSize - 4);
  EXPECT_EQ(Addresses(list), (std::vector<uint32_t>{ProcA + 0x10, ProcB + 0x10}));

  TEmberStackList shortList;
  BuildCallStack(shortList, 0, Sp, AllStackKinds, -1, -1, true, false, 0, 1, Sp + 4);
  EXPECT_EQ(shortList.Count(), 0) << "the word at the stack end + 4 is not looked at";
  BuildCallStack(shortList, 0, Sp, AllStackKinds, -1, -1, true, false, 0, 1, Sp + 8);
  EXPECT_EQ(Addresses(shortList), (std::vector<uint32_t>{ProcA + 0x10}));
}

TEST_F(CallStackBuild, UnreadableStackPagesArePassedOver) {
  Stack(Sp, {ProcA + 0x15});
  process.Memory.WriteWord(Sp + 0x1000 - 4, ProcD + 0x0E);  // the last word before the hole
  process.Memory.WriteWord(Sp + 0x2000, ProcC + 0x06);      // the first word after it
  process.Memory.Unmap(Sp + 0x1000, 0x1000);
  TEmberStackList list;
  // The 400-byte block that reaches into the hole cannot be read whole: its words are read one
  // by one up to the hole.
  BuildCallStack(list, 0, Sp, AllStackKinds, -1, -1, true, false, 0, 1, Sp + 0x3000);
  EXPECT_EQ(Addresses(list), (std::vector<uint32_t>{ProcA + 0x10, ProcD + 0x08, ProcC + 0x03}));
}

TEST_F(CallStackBuild, SkipAndCountLimitTheQualifyingEntries) {
  Stack(Sp, {ProcA + 0x15, ProcB + 0x12, ProcC + 0x06, ProcD + 0x0E, ProcA + 0x15, ProcB + 0x12,
             ProcC + 0x06});
  TEmberStackList list;
  BuildCallStack(list, 0, Sp, AllStackKinds, 2, 3, true, false, 0, 1, Sp + 6 * 4);
  EXPECT_EQ(Addresses(list, false), (std::vector<uint32_t>{ProcC + 0x03, ProcD + 0x08, ProcA + 0x10}));

  // Entries of kinds outside the detail flags neither count nor appear.
  moduleInfo->Functions->Clear();
  TTestProcess::AddFunction(*moduleInfo, "ProcC", ProcC, 0x20);
  TEmberStackList named;
  BuildCallStack(named, 0, Sp, 1 << 2, 1, 5, true, false, 0, 1, Sp + 6 * 4);
  EXPECT_EQ(Addresses(named, false), (std::vector<uint32_t>{ProcC + 0x03}));
}

TEST_F(CallStackBuild, WithoutResolutionEntriesNameTheModuleOnly) {
  Stack(Sp, {ProcA + 0x15, 0x00777777 /* no module */});
  process.Memory.Map(0x00777000, 0x1000);
  process.Memory.Write(0x00777777 - 5, {0xE8, 0, 0, 0, 0});
  TEmberStackList list;
  BuildCallStack(list, 0, Sp, AllStackKinds, -1, -1, false, false, 1, 9, Sp + 4);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetItem(0)->Kind, 1);
  EXPECT_EQ(static_cast<TEmberModuleInfo*>(list.GetItem(0)->ModuleInfo), moduleInfo);
  EXPECT_TRUE(list.GetItem(0)->ProcedureName.Empty());
  EXPECT_EQ(list.GetItem(0)->RunningThread, 1);
  EXPECT_EQ(list.GetItem(1)->Kind, 0);
  EXPECT_EQ(static_cast<TEmberModuleInfo*>(list.GetItem(1)->ModuleInfo), nullptr);
}

TEST_F(CallStackBuild, NeverHoldsMoreThan1025Entries) {
  std::vector<uint32_t> words(3000, ProcA + 0x15);
  for (size_t i = 0; i < words.size(); i += 2) words[i] = ProcB + 0x12;
  Stack(Sp, words);
  TEmberStackList list;
  BuildCallStack(list, ProcD + 0x08, Sp, AllStackKinds, -1, -1, true, false, 0, 1, Sp + 4 * 3000);
  EXPECT_EQ(list.Count(), MaxStackEntries + 1);
  BuildCallStack(list, 0, Sp, AllStackKinds, -1, -1, true, false, 0, 1, Sp + 4 * 3000);
  EXPECT_EQ(list.Count(), MaxStackEntries + 1) << "appending to a full list adds nothing";
}

TEST_F(CallStackBuild, AFailingLookupLeavesThatEntryOut) {
  Stack(Sp, {ProcA + 0x15, ProcB + 0x12, ProcC + 0x06});
  process.FailingAddresses.push_back(ProcB + 0x10);
  TEmberStackList list;
  BuildCallStack(list, 0, Sp, AllStackKinds, -1, -1, true, false, 0, 1, Sp + 8);
  EXPECT_EQ(Addresses(list), (std::vector<uint32_t>{ProcA + 0x10, ProcC + 0x03}));
}

TEST_F(CallStackBuild, FollowingCallsAddsTheirTargetsThroughImportJumps) {
  constexpr uint32_t Thunk = 0x00401400;  // jmp [$00402004] -> ProcC
  constexpr uint32_t Caller = 0x00401500;
  process.Memory.Write(Thunk, Cat({{0xFF, 0x25}, Le32(Slot + 4)}));
  process.Memory.WriteWord(Slot + 4, ProcC);
  process.Memory.Write(Caller, CallRel(Caller, Thunk));
  process.Memory.Write(Caller + 0x20, CallRel(Caller + 0x20, ProcA + 0x10));  // target starts with E8
  TTestProcess::AddFunction(*moduleInfo, "Caller", Caller, 0x40);
  Stack(Sp, {Caller + 5, Caller + 0x25});
  TEmberStackList list;
  BuildCallStack(list, 0, Sp, AllStackKinds, -1, -1, true, true, 0, 1, Sp + 4);
  EXPECT_EQ(Addresses(list, false), (std::vector<uint32_t>{ProcC, Caller, Caller + 0x20}));
  TEmberStackList plain;
  BuildCallStack(plain, 0, Sp, AllStackKinds, -1, -1, true, false, 0, 1, Sp + 4);
  EXPECT_EQ(Addresses(plain, false), (std::vector<uint32_t>{Caller, Caller + 0x20}));
}

TEST_F(CallStackBuild, NewCallStackOwnsAFreshList) {
  Stack(Sp, {ProcA + 0x15});
  std::unique_ptr<TEmberStackList> list(
      NewCallStack(ProcD + 0x08, Sp, Sp, AllStackKinds, -1, -1, true, 0, 5));
  EXPECT_EQ(Addresses(*list), (std::vector<uint32_t>{ProcD + 0x08, ProcA + 0x10}));
}

TEST_F(CallStackBuild, AStackCopyOverlaysTheProcessMemory) {
  std::vector<uint8_t> copy = Cat({Le32(ProcB + 0x12), Le32(ProcA + 0x15)});
  constexpr uint32_t CopyAt = 0x00900000;  // not mapped in the process
  TEmberMemoryOverlay overlay(EmberMemory(), CopyAt, copy);
  EXPECT_TRUE(overlay.IsReadable(CopyAt, 8));
  EXPECT_FALSE(overlay.IsReadable(CopyAt + 4, 8));
  EXPECT_TRUE(overlay.IsReadable(ProcA, 4)) << "outside the copy the process memory answers";
  TEmberStackList list;
  BuildCallStackIn(overlay, list, 0, CopyAt, AllStackKinds, -1, -1, true, false, 1, 3, CopyAt + 4);
  EXPECT_EQ(Addresses(list), (std::vector<uint32_t>{ProcB + 0x10, ProcA + 0x10}));
}

// --- Resolution of one address

TEST_F(CallStackBuild, DebugSourceNamesSplitIntoUnitClassAndProcedure) {
  TTableDebugSource& source = process.AddDebugSource(*moduleInfo);
  source.Add(ProcA, ProcA + 0x20, "C:\\src\\Main.pas", "Main.TForm1.Click", 40, 2);
  source.Add(ProcB, ProcB + 0x20, "/src/Other.cpp", "TThing.Run", 0, 0);
  source.Add(ProcC, ProcC + 0x20, "", "@Start", 0, 0);
  TEmberStackItem item;
  GetAddressInfo(ProcA + 0x10, 4, item, true, 1);
  EXPECT_EQ(item.Kind, 4);
  EXPECT_EQ(item.UnitName.Str(), "Main");
  EXPECT_EQ(item.ClassName.Str(), "TForm1");
  EXPECT_EQ(item.ProcedureName.Str(), "Click");
  EXPECT_EQ(uint32_t{item.Line}, 40u);
  EXPECT_EQ(uint32_t{item.LineOffset}, 2u);
  EXPECT_EQ(uint32_t{item.Address}, ProcA + 0x10);
  EXPECT_EQ(item.IsFirst, 1);
  EXPECT_EQ(item.RunningThread, 1);
  EXPECT_EQ(uint32_t{item.ThreadID}, 4u);

  GetAddressInfo(ProcB + 0x10, 4, item, false, 0);
  EXPECT_EQ(item.Kind, 3);
  EXPECT_EQ(item.UnitName.Str(), "Other.cpp");
  EXPECT_EQ(item.ClassName.Str(), "TThing");
  EXPECT_EQ(item.ProcedureName.Str(), "Run");

  GetAddressInfo(ProcC + 0x03, 4, item, false, 0);
  EXPECT_EQ(item.Kind, 2);
  EXPECT_EQ(item.ProcedureName.Str(), "_Start");

  // Outside the source's ranges the exports answer.
  GetAddressInfo(ProcD + 0x08, 4, item, false, 0);
  EXPECT_EQ(item.Kind, 2);
  EXPECT_EQ(item.ProcedureName.Str(), "ProcD");
}

TEST_F(CallStackBuild, ExportedNamesAreDecoded) {
  moduleInfo->Functions->Clear();
  TTestProcess::AddFunction(*moduleInfo, "@Forms@TForm@Show$qqrv", ProcA, 0x20);
  TTestProcess::AddFunction(*moduleInfo, "@System@@Halt$qqrv", ProcB, 0x20);
  TTestProcess::AddFunction(*moduleInfo, "Unit2.DoIt@8", ProcC, 0x20);
  TTestProcess::AddFunction(*moduleInfo, "DoStdCall@4", ProcD, 0x10);
  TEmberStackItem item;
  GetAddressInfo(ProcA + 1, 0, item, false, 0);
  EXPECT_EQ(item.Kind, 3);
  EXPECT_EQ(item.UnitName.Str(), std::string("Forms") + EmberUnitSourceExtension);
  EXPECT_EQ(item.ClassName.Str(), "TForm");
  EXPECT_EQ(item.ProcedureName.Str(), "Show");
  GetAddressInfo(ProcB + 1, 0, item, false, 0);
  EXPECT_EQ(item.Kind, 3);
  EXPECT_EQ(item.ClassName.Str(), "");
  EXPECT_EQ(item.ProcedureName.Str(), "_Halt");
  GetAddressInfo(ProcC + 1, 0, item, false, 0);
  EXPECT_EQ(item.Kind, 3);
  EXPECT_EQ(item.UnitName.Str(), std::string("Unit2") + EmberUnitSourceExtension);
  EXPECT_EQ(item.ProcedureName.Str(), "DoIt");
  GetAddressInfo(ProcD + 0x0F, 0, item, false, 0);
  EXPECT_EQ(item.Kind, 2);
  EXPECT_EQ(item.ProcedureName.Str(), "DoStdCall@4");
  GetAddressInfo(ProcD + 0x10, 0, item, false, 0);
  EXPECT_EQ(item.Kind, 1) << "past the function's end only the module is known";
  EXPECT_TRUE(item.ProcedureName.Empty());
  GetAddressInfo(0x00900000, 0, item, false, 0);
  EXPECT_EQ(item.Kind, 0);
  EXPECT_EQ(static_cast<TEmberModuleInfo*>(item.ModuleInfo), nullptr);
}

TEST_F(CallStackBuild, AnExportOfUnknownSizeIsMeasuredFromItsCode) {
  constexpr uint32_t Proc = 0x00401600;
  // test eax,eax; jz +3; ret; nop; nop; ... the ret after the jump target ends the procedure.
  process.Memory.Write(Proc, {0x85, 0xC0, 0x74, 0x03, 0xC3, 0x90, 0x90, 0x90, 0x40, 0xC3, 0xCC, 0xCC});
  moduleInfo->Functions->Clear();
  TTestProcess::AddFunction(*moduleInfo, "Measured", Proc, 0);
  TTestProcess::AddFunction(*moduleInfo, "Next", Proc + 0x40, 0x10);
  TEmberStackItem item;
  GetAddressInfo(Proc + 9, 0, item, false, 0);
  EXPECT_EQ(item.ProcedureName.Str(), "Measured");
  EXPECT_EQ(moduleInfo->Functions->GetItem(0)->Size, 10u);
  GetAddressInfo(Proc + 10, 0, item, false, 0);
  EXPECT_EQ(item.Kind, 1);
  EXPECT_EQ(MeasureProcedureSize(process.Memory, 0x00900000, 100), 0u);
  // A procedure that runs into unreadable memory ends there.
  process.Memory.Write(0x00402FFE, {0x90, 0x90});
  EXPECT_EQ(MeasureProcedureSize(process.Memory, 0x00402FFE, 100), 2u);
}

// --- Post-pass

TEmberStackItem* Entry(TEmberStackList& list, uint8_t kind, uint32_t address, uintptr_t module,
                       TEmberModuleInfo* modules[], const char* procedure = "P", uint32_t lineOffset = 1,
                       uint32_t thread = 1, uint8_t running = 0) {
  TEmberStackItem* item = list.NewItem();
  item->Kind = kind;
  item->Address = address;
  item->ModuleInfo = modules[module];
  item->ProcedureName.Assign(procedure);
  item->UnitName.Assign("U");
  item->LineOffset = lineOffset;
  item->Line = kind == 4 ? 10 + lineOffset : 0;
  item->ThreadID = thread;
  item->RunningThread = running;
  return item;
}

std::vector<uint8_t> Kinds(const TEmberStackList& list) {
  std::vector<uint8_t> out;
  for (int32_t i = 0; i < list.Count(); ++i) out.push_back(list.GetItem(i)->Kind);
  return out;
}

class PostPass : public ::testing::Test {
 protected:
  void SetUp() override {
    a.Handle = 0x400000;
    b.Handle = 0x500000;
  }
  TEmberModuleInfo a, b;
  TEmberModuleInfo* modules[2] = {&a, &b};
};

TEST_F(PostPass, RepeatedCallSitesOfOneModuleKeepTheLaterEntry) {
  TEmberStackList list;
  Entry(list, 2, 0x100, 0, modules);  // 0: repeated two named entries of module a later
  Entry(list, 2, 0x200, 0, modules);  // 1
  Entry(list, 2, 0x300, 1, modules);  // 2: module b does not count as between
  Entry(list, 1, 0x400, 0, modules);  // 3: unnamed does not count
  Entry(list, 2, 0x100, 0, modules);  // 4
  Entry(list, 2, 0x500, 0, modules);  // 5: three entries of a before the repeat
  Entry(list, 2, 0x600, 0, modules);  // 6
  Entry(list, 2, 0x700, 0, modules);  // 7
  Entry(list, 2, 0x500, 0, modules);  // 8
  PostProcessCallStack(list, 0, true);
  EXPECT_EQ(Kinds(list), (std::vector<uint8_t>{0, 2, 2, 1, 2, 2, 2, 2, 2}));
}

TEST_F(PostPass, HiddenEntriesAreNoLongerMatches) {
  TEmberStackList list;
  Entry(list, 2, 0x100, 0, modules);  // 0
  Entry(list, 2, 0x100, 0, modules);  // 1: hidden first, 3 repeats it two entries on
  Entry(list, 2, 0x200, 0, modules);  // 2
  Entry(list, 2, 0x100, 0, modules);  // 3
  PostProcessCallStack(list, 0, true);
  // Entry 0 then sees 2 and 3 as its next and second match: 3 repeats it.
  EXPECT_EQ(Kinds(list), (std::vector<uint8_t>{0, 0, 2, 2}));
}

TEST_F(PostPass, OnlyTheNewEntriesAreComparedForRepeats) {
  TEmberStackList list;
  Entry(list, 2, 0x100, 0, modules);
  Entry(list, 2, 0x100, 0, modules);
  Entry(list, 2, 0x100, 0, modules);
  PostProcessCallStack(list, 1, true);
  EXPECT_EQ(Kinds(list), (std::vector<uint8_t>{2, 0, 2}));
}

TEST_F(PostPass, AFirstLineEntryHidesTheStaleEntriesBackToItsProcedure) {
  TEmberStackList list;
  Entry(list, 4, 0x100, 0, modules, "Other", 3);  // 0
  Entry(list, 4, 0x180, 0, modules, "Work", 5);   // 1: partner (same procedure, later line)
  Entry(list, 2, 0x200, 1, modules, "X");         // 2
  Entry(list, 4, 0x300, 0, modules, "Y", 2);      // 3
  Entry(list, 4, 0x110, 0, modules, "Work", 0);   // 4: on Work's first line
  Entry(list, 4, 0x400, 0, modules, "Z", 1);      // 5
  PostProcessCallStack(list, 0, true);
  EXPECT_EQ(Kinds(list), (std::vector<uint8_t>{4, 4, 0, 0, 4, 4}));
}

TEST_F(PostPass, FirstLineEntryWithoutPartnerHidesNothing) {
  TEmberStackList list;
  Entry(list, 4, 0x100, 0, modules, "A", 3);
  Entry(list, 4, 0x200, 0, modules, "B", 3);
  Entry(list, 4, 0x300, 0, modules, "Work", 0);
  PostProcessCallStack(list, 0, true);
  EXPECT_EQ(Kinds(list), (std::vector<uint8_t>{4, 4, 4}));

  // The procedure's entry at index 0 is a partner too.
  TEmberStackList fromStart;
  Entry(fromStart, 4, 0x100, 0, modules, "Work", 2);
  Entry(fromStart, 4, 0x200, 0, modules, "B", 3);
  Entry(fromStart, 4, 0x300, 0, modules, "Work", 0);
  PostProcessCallStack(fromStart, 0, true);
  EXPECT_EQ(Kinds(fromStart), (std::vector<uint8_t>{4, 0, 4}));
}

TEST_F(PostPass, AnotherThreadsStackEndsTheRunWithoutHidingIt) {
  TEmberStackList list;
  Entry(list, 4, 0x100, 0, modules, "Work", 2, 1, 0);  // the exception's thread
  Entry(list, 4, 0x200, 0, modules, "A", 3, 2, 1);     // another thread's stack
  Entry(list, 4, 0x300, 0, modules, "B", 3, 2, 1);
  Entry(list, 4, 0x400, 0, modules, "Work", 0, 2, 1);
  PostProcessCallStack(list, 1, true);
  EXPECT_EQ(Kinds(list), (std::vector<uint8_t>{4, 4, 4, 4}));
  // A partner of the same thread but another running marker does not count either.
  TEmberStackList marked;
  Entry(marked, 4, 0x100, 0, modules, "Q", 2, 2, 1);
  Entry(marked, 4, 0x180, 0, modules, "Work", 2, 2, 0);
  Entry(marked, 4, 0x200, 0, modules, "A", 3, 2, 1);
  Entry(marked, 4, 0x400, 0, modules, "Work", 0, 2, 1);
  PostProcessCallStack(marked, 0, true);
  EXPECT_EQ(Kinds(marked), (std::vector<uint8_t>{4, 4, 4, 4}));
}

TEST_F(PostPass, InsideTheDevelopmentEnvironmentUnnamedAndHandlerEntriesGo) {
  TEmberStackList list;
  Entry(list, 1, 0x050, 0, modules);                           // before the new entries: stays
  Entry(list, 1, 0x100, 0, modules);
  Entry(list, 3, 0x200, 0, modules, "TApplication.HandleException");
  Entry(list, 3, 0x300, 0, modules, "Run");
  Entry(list, 0, 0x400, 0, modules);
  SetRunningInIDE(true);
  PostProcessCallStack(list, 1, true);
  SetRunningInIDE(false);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(uint32_t{list.GetItem(0)->Address}, 0x050u);
  EXPECT_EQ(uint32_t{list.GetItem(1)->Address}, 0x300u);

  TEmberStackList outside;
  Entry(outside, 1, 0x100, 0, modules);
  PostProcessCallStack(outside, 0, true);
  EXPECT_EQ(outside.Count(), 1);
}

// --- Random stacks and code

TEST(CallStackFuzz, RandomMemoryNeverFaultsAndKeepsTheLimits) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 40; ++round) {
    TTestProcess process;
    TEmberModuleInfo& module = process.AddModule(0x00400000, 0x10000, "fuzz.exe");
    std::vector<uint8_t> code(0x3000);
    for (auto& byte : code) {
      uint32_t pick = random() % 8;
      byte = pick == 0 ? 0xE8 : pick == 1 ? 0xFF : static_cast<uint8_t>(random());
    }
    process.Memory.Write(0x00401000, code);
    for (uint32_t f = 0; f < 20; ++f)
    {
      std::string name = std::to_string(f);
      name.insert(0, 1, 'F');
      TTestProcess::AddFunction(module, name, 0x00401000 + f * 0x200, f % 3 ? 0 : 0x80);
    }
    if (round % 2) {
      TTableDebugSource& source = process.AddDebugSource(module);
      source.Add(0x00401000, 0x00402000, "a\\b.pas", "u.c.p", static_cast<int32_t>(round), round % 3);
    }
    std::vector<uint32_t> stack(4000);
    for (auto& word : stack) word = random() % 2 ? 0x00401000 + random() % 0x3000 : static_cast<uint32_t>(random());
    constexpr uint32_t StackAt = 0x00200000;
    for (size_t i = 0; i < stack.size(); ++i) process.Memory.WriteWord(StackAt + 4 * static_cast<uint32_t>(i), stack[i]);
    if (round % 3 == 0) process.Memory.Unmap(StackAt + 0x2000, 0x1000);
    TEmberStackList list;
    uint32_t end = StackAt + static_cast<uint32_t>(random() % (stack.size() * 4 + 0x1000));
    BuildCallStack(list, round % 2 ? 0x00401010 : 0, StackAt, static_cast<uint8_t>(random() % 32),
                   round % 4 ? -1 : 3, round % 4 ? -1 : 50, round % 5 != 0, round % 2 == 0, 0, 1, end);
    EXPECT_LE(list.Count(), MaxStackEntries + 1);
    for (int32_t i = 0; i < list.Count(); ++i) EXPECT_LE(list.GetItem(i)->Kind, 4);
  }
}

}  // namespace
