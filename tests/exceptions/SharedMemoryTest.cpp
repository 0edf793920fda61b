// Options published by one module (a DLL) are read by another (this program) through the
// process's named shared memory, under Wine.
#include "exceptions/EmberSharedMemory.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"
#include "classlib/SysUtils.h"

namespace {

class OptionsModule : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA("exceptions_options_module.dll");
    ASSERT_NE(module_, nullptr);
    create_ = reinterpret_cast<int (*)()>(GetProcAddress(module_, "CreateModuleOptions"));
    setHost_ = reinterpret_cast<int (*)(const char*)>(GetProcAddress(module_, "SetSmtpHostOption"));
    begin_ = reinterpret_cast<void (*)()>(GetProcAddress(module_, "BeginOptionsUpdate"));
    end_ = reinterpret_cast<void (*)()>(GetProcAddress(module_, "EndOptionsUpdate"));
    setLongText_ = reinterpret_cast<int (*)(int, int, char)>(GetProcAddress(module_, "SetLongText"));
    free_ = reinterpret_cast<void (*)()>(GetProcAddress(module_, "FreeModuleOptions"));
    ASSERT_TRUE(create_ && setHost_ && begin_ && end_ && setLongText_ && free_);
    ASSERT_EQ(create_(), 1) << "the DLL's options must belong to the DLL";
  }
  void TearDown() override {
    if (free_) free_();
    if (module_) FreeLibrary(module_);
  }

  HMODULE module_ = nullptr;
  int (*create_)() = nullptr;
  int (*setHost_)(const char*) = nullptr;
  void (*begin_)() = nullptr;
  void (*end_)() = nullptr;
  int (*setLongText_)(int, int, char) = nullptr;
  void (*free_)() = nullptr;
};

}  // namespace

TEST(SharedMemoryArea, NamedByProcessAndModuleAndReadingLeavesNothingBehind) {
  EXPECT_EQ(SharedMemoryName(0x10000000), IntToHex(GetCurrentProcessId(), 8) + "10000000");
  uintptr_t unused = 0x7A000000;
  TEmberSharedArea area = OpenSharedMemory(unused, 0);
  EXPECT_FALSE(area.Open());
  HANDLE left = OpenFileMappingA(FILE_MAP_READ, FALSE, SharedMemoryName(unused).c_str());
  EXPECT_EQ(left, nullptr);
  if (left) CloseHandle(left);
}

TEST(SharedMemoryArea, ResetKeepsTheSizeWordAndClearsTheFirstDataByte) {
  uintptr_t self = GetThisModuleHandle();
  TEmberModuleOptionsEx mine("", 0);
  TEmberModuleOptionsEx published("self", self);
  published.SetSmtpHost("published");  // belongs to this program: publishes
  TEmberModuleOptionsEx reader("reader", self);
  EXPECT_TRUE(LoadOptionsFromSharedMemory(reader));
  EXPECT_EQ(reader.SmtpHost(), "published");

  ASSERT_TRUE(ResetModuleSharedMemory(self));
  TEmberSharedArea area = OpenSharedMemory(self, 0);
  ASSERT_TRUE(area.Open());
  uint32_t sizeWord;
  std::memcpy(&sizeWord, area.Data - 4, 4);
  EXPECT_EQ(sizeWord, area.DataCapacity + 4) << "the first word is the whole area's size";
  EXPECT_EQ(area.Data[0], 0);
  CloseSharedMemory(area);
  TEmberModuleOptionsEx fresh("fresh", self);
  EXPECT_FALSE(LoadOptionsFromSharedMemory(fresh)) << "a reset area holds no options";
  EXPECT_EQ(fresh.SmtpHost(), "");
  CloseModuleSharedMemory();
}

TEST_F(OptionsModule, OptionsPublishedByTheDllAreReadHere) {
  TEmberModuleOptionsEx reader("exceptions_options_module.dll");
  ASSERT_EQ(reader.ModuleHandle(), reinterpret_cast<uintptr_t>(module_));
  EXPECT_FALSE(LoadOptionsFromSharedMemory(reader)) << "nothing published yet";

  ASSERT_EQ(setHost_("smtp.one"), 1);
  reader.LoadFromSharedMemory();
  EXPECT_EQ(reader.SmtpHost(), "smtp.one");

  // Held back: the area keeps the previous options until a change after EndUpdate.
  begin_();
  setHost_("smtp.two");
  reader.LoadFromSharedMemory();
  EXPECT_EQ(reader.SmtpHost(), "smtp.one");
  end_();
  setHost_("smtp.three");
  reader.LoadFromSharedMemory();
  EXPECT_EQ(reader.SmtpHost(), "smtp.three");
}

TEST_F(OptionsModule, AnAreaHeldOpenElsewhereIsNeverOverrun) {
  TEmberModuleOptionsEx reader("exceptions_options_module.dll");
  ASSERT_EQ(setHost_("small"), 1);
  // This program keeps the small area open, so the DLL's next publication finds it existing.
  TEmberSharedArea held = OpenSharedMemory(reader.ModuleHandle(), 0);
  ASSERT_TRUE(held.Open());
  uint32_t capacity = held.DataCapacity;
  ASSERT_EQ(setLongText_(3, static_cast<int>(capacity) + 1000, 'x'), 1);
  EXPECT_EQ(held.Data[0], 0) << "too small: marked empty instead of cut off";
  reader.SetSmtpHost("before");
  EXPECT_FALSE(LoadOptionsFromSharedMemory(reader));
  EXPECT_EQ(reader.SmtpHost(), "before");
  CloseSharedMemory(held);

  // Once nobody holds the old area, the next publication makes one large enough.
  ASSERT_EQ(setHost_("large"), 1);
  EXPECT_TRUE(LoadOptionsFromSharedMemory(reader));
  EXPECT_EQ(reader.SmtpHost(), "large");
  EXPECT_EQ(reader.GetCustomizedText(3).size(), capacity + 1000);
}
