// Tests of the library's records and lists: fixed-size strings, owning lists (the sanitizers'
// leak check catches an entry that is not freed), exports read from a generated image, and the
// threads list with its copies and its lock.
#include "exceptions/capture/EmberRecords.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

#include "DebugDataBuilders.h"
#include "TestFiles.h"

using namespace testdata;

namespace {

TEST(StackItem, ShortStringsCutLongTexts) {
  TEmberStackItem item{};
  item.UnitName.Assign(std::string(300, 'u'));
  item.LeakType.Assign(std::string(70, 't'));
  EXPECT_EQ(item.UnitName.Length, 255);
  EXPECT_EQ(item.UnitName.Str(), std::string(255, 'u'));
  EXPECT_EQ(item.LeakType.Str(), std::string(64, 't'));
  item.ProcedureName.Assign("Click");
  EXPECT_EQ(item.ProcedureName.Str(), "Click");
  ClearStackItem(item);
  EXPECT_TRUE(item.UnitName.Empty());
  EXPECT_EQ(item.Kind, 0);
}

TEST(StackItem, FieldOffsetsFollowTheSharedLayout) {
  // Offsets as they are in the 32-bit module; a pointer wider than 4 bytes shifts the rest.
  const size_t wide = sizeof(void*) - 4;
  EXPECT_EQ(offsetof(TEmberStackItem, ThreadID), 5 + wide);
  EXPECT_EQ(offsetof(TEmberStackItem, LeakType), 12 + wide);
  EXPECT_EQ(offsetof(TEmberStackItem, Address), 85 + wide);
  EXPECT_EQ(offsetof(TEmberStackItem, UnitName), 89 + wide);
  EXPECT_EQ(offsetof(TEmberStackItem, Line), 857 + wide);
  EXPECT_EQ(offsetof(TEmberStackItem, Extra), 865 + wide);
  EXPECT_EQ(sizeof(TEmberStackItem), 1121 + wide);
}

TEST(Lists, OwnedEntriesAreFreedOnDeleteClearAndDestruction) {
  TEmberStackList stack;
  EXPECT_EQ(stack.NewItem()->Kind, 0);
  stack.NewItem()->Address = 5;
  stack.Delete(0);
  uint32_t address = stack.GetItem(0)->Address;  // a packed field: copied, never bound
  EXPECT_EQ(address, 5u);
  stack.NewItem();

  TEmberModulesList modules;
  auto* module = new TEmberModuleInfo;
  module->Handle = 0x400000;
  module->Options = std::make_unique<TEmberModuleOptionsEx>("other.dll", 0x400000);
  module->DebugData = std::make_unique<TMemoryStream>();
  module->DebugData->Write("abc", 3);
  module->Functions->AddFunction({"Foo", 0x401000, 0});
  modules.Add(module);
  auto* second = new TEmberModuleInfo;
  second->Handle = 0x500000;
  modules.Add(second);
  EXPECT_EQ(modules.IndexOfHandle(0x500000), 1);
  EXPECT_EQ(modules.IndexOfHandle(0x600000), -1);
  modules.Delete(0);
  EXPECT_EQ(modules.IndexOfHandle(0x500000), 0);

  TEmberProcessesList processes;
  processes.Add(new TEmberProcessInfo{7, "C:\\a.exe", "A", "1.0", 1, 2, 3});
  processes.Clear();
  EXPECT_EQ(processes.Count(), 0);
}

TEST(FunctionsList, KeptInAddressOrder) {
  TEmberFunctionsList list;
  EXPECT_EQ(list.IndexOfAddress(100), -1);
  list.AddFunction({"c", 300, 0});
  list.AddFunction({"a", 100, 0});
  list.AddFunction({"b", 200, 0});
  list.AddFunction({"b2", 200, 0});
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list.GetItem(0)->Name, "a");
  EXPECT_EQ(list.GetItem(1)->Name, "b");
  EXPECT_EQ(list.GetItem(2)->Name, "b2");
  EXPECT_EQ(list.GetItem(3)->Name, "c");
  EXPECT_EQ(list.IndexOfAddress(99), -1);
  EXPECT_EQ(list.IndexOfAddress(100), 0);
  EXPECT_EQ(list.IndexOfAddress(250), 2);
  EXPECT_EQ(list.IndexOfAddress(0xFFFFFFFF), 3);
}

TEST(FunctionsList, ReadFromTheExportDirectory) {
  constexpr uintptr_t kModule = 0x10000000;
  ImageBuilder image;
  image.AddSection(".text", std::vector<uint8_t>(0x2000, 0xC3));
  image.AddSection(".data", std::vector<uint8_t>(0x100, 0));
  uint32_t exportRva = image.NextRva();
  uint32_t size = 0;
  std::vector<uint8_t> exports = ImageBuilder::Exports(
      exportRva, {{"Zeta", 0x1010}, {"Alpha", 0x1800}, {"DataItem", 0x3004}, {"Moved", 0}}, size);
  image.AddSection(".edata", exports);
  image.SetDirectory(0, exportRva, size);
  FakeModules modules;
  modules.Add(kModule, "Lib.dll", image.Build());

  TEmberFunctionsList list;
  list.AddFunction({"stale", 1, 1});
  ASSERT_TRUE(LoadModuleFunctions(kModule, list));
  // The forwarder cannot be resolved outside Windows and is left out.
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.GetItem(0)->Name, "Zeta");
  EXPECT_EQ(list.GetItem(0)->Address, kModule + 0x1010);
  EXPECT_EQ(list.GetItem(0)->Size, 0u);
  EXPECT_EQ(list.GetItem(1)->Name, "Alpha");
  EXPECT_EQ(list.GetItem(2)->Name, "DataItem");
  EXPECT_EQ(list.GetItem(2)->Size, 1u);  // outside the code

  EXPECT_FALSE(LoadModuleFunctions(0x20000000, list));
  EXPECT_EQ(list.Count(), 0);
}

TEST(FunctionsList, DamagedExportDirectoriesGiveWhatFits) {
  constexpr uintptr_t kModule = 0x10000000;
  ImageBuilder image;
  image.AddSection(".text", std::vector<uint8_t>(0x100, 0xC3));
  uint32_t exportRva = image.NextRva();
  uint32_t size = 0;
  std::vector<uint8_t> exports = ImageBuilder::Exports(exportRva, {{"One", 0x1000}, {"Two", 0x1001}}, size);
  SetU32(exports, 24, 0x7FFFFFFF);  // a name count far beyond the image
  image.AddSection(".edata", exports);
  image.SetDirectory(0, exportRva, size);
  FakeModules modules;
  modules.Add(kModule, "Lib.dll", image.Build());
  TEmberFunctionsList list;
  EXPECT_TRUE(LoadModuleFunctions(kModule, list));
  EXPECT_EQ(list.Count(), 0);
}

// --- Threads

TEST(ThreadsList, EntriesAndSearches) {
  TEmberThreadsList threads;
  EXPECT_EQ(threads.IndexOfThreadID(1), -1);
  EXPECT_EQ(threads.IndexOfHandle(1), -1);
  EXPECT_EQ(threads.IndexOfThreadObject(nullptr), -1);
  TEmberThreadInfo* loose = threads.NewItem(false);
  EXPECT_EQ(loose->Reserved, 0x80000000u);
  EXPECT_EQ(threads.Count(), 0);
  delete loose;
  int object = 0;
  for (uint32_t id : {10u, 20u, 10u}) {
    TEmberThreadInfo* info = threads.NewItem(true);
    info->ThreadID = id;
    info->Handle = id + 1;
    info->ThreadObject = id == 20 ? &object : nullptr;
  }
  EXPECT_EQ(threads.IndexOfThreadID(10), 2);  // from the last entry
  EXPECT_EQ(threads.IndexOfHandle(21), 1);
  EXPECT_EQ(threads.IndexOfThreadObject(&object), 1);

  TEmberThreadInfo* mine = threads.NewItem(true);
  mine->ThreadID = EmberCurrentThreadID();
  threads.RemoveCurrentThread();
  EXPECT_EQ(threads.IndexOfThreadID(EmberCurrentThreadID()), -1);
  EXPECT_EQ(threads.Count(), 3);
}

TEST(ThreadsList, CopiesShareSavedStacksAndNeverFreeThem) {
  auto threads = std::make_unique<TEmberThreadsList>();
  TEmberThreadInfo* owner = threads->NewItem(true);
  owner->ThreadID = 1;
  owner->ThreadClass = "TWorker";
  owner->CallerStackSize = 64;
  owner->CallerStack = AllocateCallerStack(64);
  static_cast<uint8_t*>(owner->CallerStack)[63] = 0x5A;
  TEmberThreadInfo* borrower = threads->NewItem(true);
  borrower->ThreadID = 2;
  borrower->CallerStack = owner->CallerStack;
  borrower->Borrowed = 1;

  {
    TEmberThreadsList copy(threads.get());
    EXPECT_TRUE(copy.IsCopy());
    ASSERT_EQ(copy.Count(), 2);
    EXPECT_EQ(copy.GetItem(0)->ThreadClass, "TWorker");
    EXPECT_EQ(copy.GetItem(0)->CallerStack, owner->CallerStack);
    copy.Delete(0);
    copy.BeginWrite();  // a copy has no lock; these do nothing
    copy.EndWrite();
  }
  // Still readable: the copy freed nothing (the sanitizers would report a use after free).
  EXPECT_EQ(static_cast<uint8_t*>(owner->CallerStack)[63], 0x5A);
  threads->Delete(1);  // borrowed: the stack stays
  EXPECT_EQ(static_cast<uint8_t*>(owner->CallerStack)[63], 0x5A);
  threads.reset();  // frees the owner's stack once (a double free would be reported)
}

TEST(ThreadsList, WritersExcludeReadersAndCopies) {
  TEmberThreadsList threads;
  std::atomic<bool> stop{false};
  std::atomic<int> copies{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r)
    readers.emplace_back([&] {
      while (!stop) {
        TEmberThreadsList copy(&threads);
        // The writer always adds and removes in pairs under one write lock.
        EXPECT_EQ(copy.Count() % 2, 0);
        ++copies;
      }
    });
  // Goes on until the readers have had their turns too (they may start late).
  for (int i = 0; i < 2000 || copies < 20; ++i) {
    threads.BeginWrite();
    threads.NewItem(true)->ThreadID = 1;
    threads.BeginWrite();  // the writer may take the lock again
    threads.NewItem(true)->ThreadID = 2;
    threads.BeginRead();   // and read while writing
    EXPECT_EQ(threads.IndexOfThreadID(2), threads.Count() - 1);
    threads.EndRead();
    threads.EndWrite();
    if (i % 3 == 0) {
      threads.Delete(threads.Count() - 1);
      threads.Delete(threads.Count() - 1);
    }
    threads.EndWrite();
    std::this_thread::yield();
  }
  stop = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_GT(copies.load(), 0);
}

}  // namespace
