// The MIDI controller map file: what is read, what is skipped, what is written back, and how
// the shared map lives across plug-in instances.
#include "plugin/framework/rkMidiAutomation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "TestFiles.h"
#include "classlib/Streams.h"

namespace {
const char kHeader[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

std::string LoadError(const std::string& fileName) {
  TMidiMap map;
  try {
    map.LoadFromXmlFile(fileName);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}
}  // namespace

TEST(MidiMap, ReadsBindingsAndNormalisesOddValues) {
  TempDir dir;
  WriteFileBytes(dir.File("in.xml"),
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root FileType=\"MidiMap\">\n"
                 "<MidiBinding ParameterName=\"Rate &amp; Pitch \xC3\xA4\" ParameterID=\"6\" MidiCC=\"300\" AutomationType=\"2\"/>\n"
                 "<MidiBinding ParameterName=\"Mix\" ParameterID=\"x\" MidiCC=\"y\" AutomationType=\"1\"/>\n"
                 "<MidiBinding ParameterName=\"NoType\" ParameterID=\"1\" MidiCC=\"5\"/>\n"
                 "<Other ParameterName=\"a\" ParameterID=\"1\" MidiCC=\"5\" AutomationType=\"1\"/>\n"
                 "</root>\n");
  TMidiMap map;
  map.LoadFromXmlFile(dir.File("in.xml"));
  ASSERT_EQ(map.Count(), 2);
  EXPECT_EQ(map.GetBinding(0).ParameterName, "Rate & Pitch \xC3\xA4");
  EXPECT_EQ(map.GetBinding(0).ParameterID, 6);
  EXPECT_EQ(map.GetBinding(0).MidiCC, 44);  // 300 kept in one byte
  EXPECT_EQ(map.GetBinding(0).AutomationType, 0);
  EXPECT_EQ(map.GetBinding(1).ParameterID, -1);
  EXPECT_EQ(map.GetBinding(1).MidiCC, 255);
  EXPECT_EQ(map.GetBinding(1).AutomationType, 1);

  map.SaveToXmlFile(dir.File("out.xml"));
  EXPECT_EQ(ReadFileBytes(dir.File("out.xml")),
            std::string(kHeader) + "<root FileType=\"MidiMap\">\r\n"
            "  <MidiBinding ParameterName=\"Rate &amp; Pitch \xC3\xA4\" ParameterID=\"6\" MidiCC=\"44\" AutomationType=\"0\"/>\r\n"
            "  <MidiBinding ParameterName=\"Mix\" ParameterID=\"-1\" MidiCC=\"255\" AutomationType=\"1\"/>\r\n"
            "</root>\r\n");
  EXPECT_FALSE(FileExists(dir.File("out.xml.tmp")));
  // Kept in the working folder for the test that has an independent parser read it (xmllint,
  // on both builds' output).
  map.SaveToXmlFile("MidiMapWritten.xml");
}

TEST(MidiMap, SavingOverAFileThatHoldsTheSameMapLeavesItAlone) {
  TempDir dir;
  const std::string file = dir.File("map.xml");
  TMidiMap map;
  map.Add(7, 9, 0, "Mix");
  map.SaveToXmlFile(file);
  const std::string written = ReadFileBytes(file);
  // Dated back, so that a write now would show.
  const auto old = std::filesystem::last_write_time(file) - std::chrono::hours(48);
  std::filesystem::last_write_time(file, old);
  map.SaveToXmlFile(file);
  EXPECT_EQ(std::filesystem::last_write_time(file), old);
  EXPECT_EQ(ReadFileBytes(file), written);
  // A different map, or a file that differs in a single byte, is written.
  WriteFileBytes(file, written.substr(0, written.size() - 1) + " ");
  map.SaveToXmlFile(file);
  EXPECT_EQ(ReadFileBytes(file), written);
  std::filesystem::last_write_time(file, old);
  map.Add(8, 10, 0, "Rate");
  map.SaveToXmlFile(file);
  EXPECT_NE(std::filesystem::last_write_time(file), old);
  EXPECT_NE(ReadFileBytes(file).find("MidiCC=\"8\""), std::string::npos);
  EXPECT_FALSE(FileExists(file + ".tmp"));
}

TEST(MidiMap, RefusesFilesThatAreNoMap) {
  TempDir dir;
  WriteFileBytes(dir.File("a.xml"), "<root FileType=\"midimap\"/>");
  EXPECT_EQ(LoadError(dir.File("a.xml")), "File can not be loaded. (File is not correct format.)");
  WriteFileBytes(dir.File("b.xml"), "<root/>");
  EXPECT_EQ(LoadError(dir.File("b.xml")), "File can not be loaded. (No file type attribute exists.)");
  WriteFileBytes(dir.File("c.xml"), "");
  EXPECT_NE(LoadError(dir.File("c.xml")), "");
  WriteFileBytes(dir.File("d.xml"), "<root FileType=\"MidiMap\"><MidiBinding");
  EXPECT_NE(LoadError(dir.File("d.xml")), "");
}

TEST(MidiMap, FindDeleteAndUnlearn) {
  TMidiMap map;
  map.Add(1, 3, 0, "a");
  map.Add(2, 3, 1, "b");
  map.Add(3, 4, 1, "c");
  EXPECT_EQ(map.FindBinding(3, 1), 1);
  EXPECT_EQ(map.FindBinding(9, 0), -1);
  map.Delete(1);
  EXPECT_EQ(map.FindBinding(3, 1), -1);
  EXPECT_EQ(map.GetBinding(1).ParameterName, "c");
  EXPECT_THROW(map.Delete(2), EListError);
  map.Clear();
  EXPECT_EQ(map.Count(), 0);
}

TEST(MidiAutomation, InstancesShareOneMapAndUnlearnOnlyWhatIsBound) {
  TMidiAutomation first(nullptr, {});
  TMidiAutomation second(nullptr, {});
  EXPECT_EQ(&first.Map(), &second.Map());
  first.Map().Add(10, 2, 1, "Play Str");
  int before = second.Map().Count();
  second.Unlearn(7, 1);
  EXPECT_EQ(second.Map().Count(), before);
  second.Unlearn(2, 1);
  EXPECT_EQ(first.Map().Count(), before - 1);
}
