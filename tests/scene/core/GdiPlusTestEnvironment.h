// GDI+ started for the whole test program by a global test environment; a test program that
// draws through GDI+ includes this header (once or in several files: one environment).
#pragma once

#include <gtest/gtest.h>

#include "scene/core/win32/vg_gdiplus.h"

class TGdiPlusTestEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { StartGdiPlus(); }
  void TearDown() override { StopGdiPlus(); }
};

inline ::testing::Environment* const gGdiPlusTestEnvironment =
    ::testing::AddGlobalTestEnvironment(new TGdiPlusTestEnvironment);
