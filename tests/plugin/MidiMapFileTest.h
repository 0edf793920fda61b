// Tests of the shared MIDI map file: none before each test, none left after it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "HostFiles.h"
#include "classlib/Streams.h"

class MidiMapFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = UserDataFolder() + "Midi Map.xml";
    RemoveFile(path);
  }
  void TearDown() override { RemoveFile(path); }
  std::string path;
};
