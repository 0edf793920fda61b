// The exception's identifier: the same versions, type and source places give the same four
// hexadecimal digits; entries without a source line or of other threads do not count.
#include "exceptions/report/EExceptionProcessing.h"

#include <gtest/gtest.h>

#include "exceptions/capture/EmberRecords.h"

namespace {

void Add(TEmberStackList& stack, uint8_t kind, uint32_t thread, const char* procedure, uint32_t lineOffset) {
  TEmberStackItem& item = *stack.NewItem();
  item.Kind = kind;
  item.ThreadID = thread;
  item.UnitName.Assign("plugin.cpp");
  item.ProcedureName.Assign(procedure);
  item.LineOffset = lineOffset;
}

TEST(ExceptionID, SameSourcePlacesGiveTheSameIdentifier) {
  TEmberStackList base;
  Add(base, 4, 7, "Process", 3);
  Add(base, 4, 7, "Run", 1);
  const std::string id = ComputeExceptionID("1.0", "2.0", "EConvertError", &base);
  ASSERT_EQ(id.size(), 4u);
  EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(ComputeExceptionID("1.0", "2.0", "EConvertError", &base), id);

  TEmberStackList noise;  // entries of other kinds and threads
  Add(noise, 4, 7, "Process", 3);
  Add(noise, 2, 7, "Elsewhere", 0);
  Add(noise, 4, 7, "Run", 1);
  Add(noise, 4, 9, "OtherThread", 5);
  EXPECT_EQ(ComputeExceptionID("1.0", "2.0", "EConvertError", &noise), id);

  TEmberStackList moved;
  Add(moved, 4, 7, "Process", 4);
  Add(moved, 4, 7, "Run", 1);
  EXPECT_NE(ComputeExceptionID("1.0", "2.0", "EConvertError", &moved), id);
  EXPECT_NE(ComputeExceptionID("1.1", "2.0", "EConvertError", &base), id);
  EXPECT_NE(ComputeExceptionID("1.0", "2.0", "EReadError", &base), id);
}

}  // namespace
