// Object and class-record checks on real, forged, inaccessible and released memory; class tests
// by name; the mail date; versions; the memory reserve and the thread's exception slot.
#include "exceptions/report/EObjectHelpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>

#include "classlib/SysUtils.h"
#include "exceptions/capture/EDebug.h"
#include "exceptions/report/detail/ESupportPlatform_p.h"

namespace other {
// Another module's abort: same name, no relation to the class library's.
class EAbort : public std::exception {};
}  // namespace other

namespace {

class ETestFailure : public EAbort {
 public:
  using EAbort::EAbort;
};

struct TwoBases : std::runtime_error, EConvertError {
  TwoBases() : std::runtime_error("a"), EConvertError("b") {}
};

TEST(ObjectHelpersClasses, RealObjectsAndTheirNames) {
  ETestFailure failure("stop");
  EXPECT_TRUE(IsValidObject(&failure));
  EXPECT_TRUE(IsValidClass(&typeid(failure)));
  EXPECT_TRUE(IsValidClassSlow(&typeid(failure)));
  EXPECT_EQ(GetObjectClass(&failure), &typeid(ETestFailure));
  EXPECT_NE(GetObjectClassName(&failure).find("ETestFailure"), std::string::npos);
  EXPECT_TRUE(IsAbortException(&failure));
  EXPECT_TRUE(IsExceptionClassName(&failure, " exception "));
  EXPECT_TRUE(IsExceptionClassName(&failure, "eabort"));
  EXPECT_FALSE(IsExceptionClassName(&failure, "EConvertError"));
  EXPECT_TRUE(IsExceptionOfClasses(&failure, {"EListError", "Exception"}));
  EXPECT_FALSE(IsExceptionOfClasses(&failure, {"EListError", "EStreamError"}));
  EXPECT_TRUE(IsNotExternalException(&failure));

  std::runtime_error plain("x");
  EXPECT_FALSE(IsAbortException(&plain));
  EXPECT_EQ(GetObjectClassName(&plain), "std::runtime_error");
}

TEST(ObjectHelpersClasses, AnotherModulesAbortCountsAsAbort) {
  other::EAbort foreign;
  EXPECT_TRUE(IsAbortException(&foreign));
  EXPECT_EQ(GetObjectClassName(&foreign), "other::EAbort");
}

TEST(ObjectHelpersClasses, EveryBaseOfMultipleInheritanceIsWalked) {
  TwoBases both;
  const std::exception* second = static_cast<const EConvertError*>(&both);
  EXPECT_TRUE(IsExceptionClassName(second, "EConvertError"));
  EXPECT_TRUE(IsExceptionClassName(second, "runtime_error"));
  EXPECT_FALSE(IsExceptionClassName(second, "EAbort"));
}

// Two words shaped like a class record: the run-time's own table pointer and a name.
struct ForgedRecord {
  const void* Table;
  const char* Name;
};

TEST(ObjectHelpersClasses, ForgedRecordsAreJudgedByTheirParts) {
  ForgedRecord real;
  std::memcpy(&real, &typeid(ETestFailure), sizeof real);
  ForgedRecord good = real;
  EXPECT_TRUE(IsValidClass(reinterpret_cast<const std::type_info*>(&good)));
  static const char kControl[] = "12ETest\x01" "Failure";
  ForgedRecord control{real.Table, kControl};
  EXPECT_FALSE(IsValidClass(reinterpret_cast<const std::type_info*>(&control)));
  EXPECT_FALSE(IsValidClassSlow(reinterpret_cast<const std::type_info*>(&control)));
  // A table pointer that leads to no record kind.
  static const void* const kNoTable[4] = {nullptr, nullptr, nullptr, nullptr};
  ForgedRecord noKind{&kNoTable[2], real.Name};
  EXPECT_FALSE(IsValidClass(reinterpret_cast<const std::type_info*>(&noKind)));
  // Plain data is not an object.
  uint32_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_FALSE(IsValidObject(data));
  EXPECT_FALSE(IsValidObject(nullptr));
  EXPECT_FALSE(IsValidClass(nullptr));
  EXPECT_EQ(GetObjectClassName(data), "");
}

TEST(ObjectHelpersClasses, InaccessibleAndReleasedMemoryIsNoObject) {
  const size_t size = 65536;
  void* range = ember_support::ReserveAddressSpace(size);
  ASSERT_NE(range, nullptr);
  EXPECT_FALSE(IsValidObject(range));
  EXPECT_FALSE(IsValidClass(static_cast<const std::type_info*>(range)));
  ember_support::ReleaseAddressSpace(range, size);
  EXPECT_FALSE(IsValidObject(range));
  EXPECT_FALSE(IsValidObject(reinterpret_cast<const void*>(static_cast<uintptr_t>(8))));
  // An object whose table pointer leads into the released range.
  const void* badTable = static_cast<const char*>(range) + 64;
  EXPECT_FALSE(IsValidObject(&badTable));
}

TEST(ObjectHelpersClasses, CurrentExceptionInsideAHandler) {
  try {
    throw ETestFailure("inner");
  } catch (...) {
    const void* object = CurrentExceptionObject();
    ASSERT_NE(object, nullptr);
    EXPECT_TRUE(IsAbortException(object));
    EXPECT_EQ(CurrentExceptionClass(), &typeid(ETestFailure));
  }
  try {
    throw 42;
  } catch (...) {
    EXPECT_EQ(CurrentExceptionObject(), nullptr);
    EXPECT_EQ(CurrentExceptionClass(), &typeid(int));
  }
  EXPECT_EQ(CurrentExceptionObject(), nullptr);
}

TEST(ObjectHelpersClasses, CopyOutlivesTheOriginalAndKeepsItsClass) {
  const std::exception* copy = nullptr;
  {
    // A message longer than any short-string buffer: a byte copy would point into freed memory.
    auto original = std::make_unique<ETestFailure>(std::string(200, 'm') + " end");
    EXPECT_EQ(GetInstanceSize(original.get()), sizeof(TEmberObjectCopy));
    copy = CopyObject(original.get());
  }
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::string(copy->what()), std::string(200, 'm') + " end");
  EXPECT_EQ(GetObjectClass(copy), &typeid(ETestFailure));
  EXPECT_TRUE(IsAbortException(copy));
  EXPECT_EQ(ReportedClassName(copy), "ETestFailure");
  FreeObjectCopy(copy);
  EXPECT_EQ(copy, nullptr);

  // Nothing that is not a valid object is copied, and only copies are freed.
  EXPECT_EQ(CopyObject(nullptr), nullptr);
  EXPECT_EQ(GetInstanceSize(nullptr), 0u);
  EConvertError kept("kept");
  const std::exception* notACopy = &kept;
  FreeObjectCopy(notACopy);
  EXPECT_EQ(notACopy, nullptr);
  EXPECT_STREQ(kept.what(), "kept");
}

TEST(ObjectHelpersClasses, ThreadSlotKeepsAtMost64Characters) {
  EConvertError e("x");
  StoreExceptionInTLS(&e, 0x401234);
  std::string name;
  uintptr_t address = 0;
  LoadExceptionFromTLS(name, address);
  EXPECT_EQ(name, "EConvertError");
  EXPECT_EQ(address, 0x401234u);
  StoreExceptionInTLS(nullptr, 0);
  LoadExceptionFromTLS(name, address);
  EXPECT_EQ(name, "");
}

TEST(ObjectHelpersTexts, RFC822Dates) {
  TDateTime date, clock;
  ASSERT_TRUE(TryEncodeDate(2025, 1, 5, date));
  ASSERT_TRUE(TryEncodeTime(9, 4, 3, 0, clock));
  // The zone in hours and minutes: zones of half and quarter hours keep their minutes.
  const struct {
    int32_t Minutes;
    const char* Zone;
  } zones[] = {{60, "+0100"}, {-300, "-0500"}, {0, "+0000"}, {330, "+0530"},
               {-210, "-0330"}, {345, "+0545"}, {-570, "-0930"}, {840, "+1400"}};
  for (const auto& zone : zones)
    EXPECT_EQ(FormatRFC822Date(date + clock, zone.Minutes), std::string("Sun, 5 Jan 2025 09:04:03 ") + zone.Zone);
  ASSERT_TRUE(TryEncodeDate(2000, 2, 29, date));
  EXPECT_EQ(FormatRFC822Date(date, 660), "Tue, 29 Feb 2000 00:00:00 +1100");
  ASSERT_TRUE(TryEncodeDate(1899, 12, 30, date));
  EXPECT_EQ(FormatRFC822Date(date, 0).substr(0, 5), "Sat, ");
}

// Run with the zone set to a half-hour one (TZ and KBL_ZONE_MINUTES, a test of its own): the
// mail date of "now" names the instant of the system's clock.
TEST(ObjectHelpersZone, MailDateOfNowNamesTheClocksInstant) {
  const char* expected = std::getenv("KBL_ZONE_MINUTES");
  if (expected == nullptr) GTEST_SKIP() << "run by the test entry that sets the zone";
  const int32_t minutes = std::atoi(expected);
  ASSERT_EQ(ember_support::UTCOffsetMinutes(), minutes);
  const double local = ember_support::LocalNow();
  const double utc = static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0;
  EXPECT_NEAR((local - minutes / 1440.0 - utc) * 86400.0, 0.0, 5.0);
  char zone[8];
  std::snprintf(zone, sizeof zone, "%c%02d%02d", minutes < 0 ? '-' : '+', std::abs(minutes) / 60,
                std::abs(minutes) % 60);
  const std::string text = FormatRFC822Date(local);
  EXPECT_EQ(text.substr(text.size() - 5), zone) << text;
}

TEST(ObjectHelpersTexts, CompatibleVersionsAndLocationNames) {
  EXPECT_TRUE(IsCompatibleLibVersion(6000, 6024));
  EXPECT_TRUE(IsCompatibleLibVersion(6100, 6024));
  EXPECT_FALSE(IsCompatibleLibVersion(6101, 6024));
  EXPECT_FALSE(IsCompatibleLibVersion(5999, 6024));
  EXPECT_TRUE(IsCompatibleLibVersion(6024));
  TELLocationInfo info;
  info.UnitName = "rkPlugin.cpp";
  info.ProcedureName = "TrkPlugin.Process";
  EXPECT_EQ(FormatLocationName(info), "rkPlugin.TrkPlugin.Process");
  info.UnitName.clear();
  EXPECT_EQ(FormatLocationName(info), "TrkPlugin.Process");
  info.ProcedureName.clear();
  EXPECT_EQ(FormatLocationName(info), "");
}

TEST(ObjectHelpersMemory, ReserveAndRelease) {
  ASSERT_TRUE(ReserveMemory());
  EXPECT_TRUE(IsMemoryReserved());
  EXPECT_TRUE(ReserveMemory());
  ReleaseReservedMemory();
  EXPECT_FALSE(IsMemoryReserved());
  ReleaseReservedMemory();
}

TEST(ObjectHelpersMemory, StackTopLiesAboveTheStackPointer) {
  uintptr_t top = GetStackTop();
  uintptr_t sp = GetStackPointer();
  ASSERT_NE(top, 0u);
  EXPECT_GT(top, sp);
  EXPECT_LT(top - sp, 64u * 1024 * 1024);
}

}  // namespace
