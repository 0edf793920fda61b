// The XML companion of the log: the element writer, the conversion of every part of a report,
// enciphered call-stack names, and well-formed output for damaged reports (read back with the
// project's XML reader).
#include "exceptions/report/ELogXml.h"

#include <gtest/gtest.h>

#include <random>

#include "SampleReport.h"
#include "TestFiles.h"
#include "classlib/Streams.h"
#include "exceptions/EmberCodecs.h"
#include "exceptions/report/ELogFile.h"
#include "xml/XmlDocument.h"

namespace {

using sample_report::Report;

std::unique_ptr<TXmlDocument> Parse(const std::string& text) {
  auto document = std::make_unique<TXmlDocument>();
  document->ReadFromString(text);
  return document;
}

TXmlNode* Child(TXmlNode* node, const std::string& name, int32_t which = 0) {
  if (!node) return nullptr;
  for (int32_t i = 0; i < node->GetNodeCount(); ++i) {
    TXmlNode* child = node->GetNodes(i);
    if (child->ElementType() == xeElement && child->Name() == name && which-- == 0) return child;
  }
  return nullptr;
}

int32_t CountChildren(TXmlNode* node, const std::string& name) {
  int32_t n = 0;
  while (Child(node, name, n)) ++n;
  return n;
}

// --- Writer

TEST(XmlItem, AttributesEscapeEveryMarkupAndControlByte) {
  EXPECT_EQ(EscapeXMLAttribute("a \"b\"\r\n&<>'"), "a &#034;b&#034;&#013;&#010;&#038;&#060;&#062;&#039;");
  EXPECT_EQ(EscapeXMLAttribute(std::string("\x7F\xE9\x01 z", 5)), "&#127;&#233;&#001; z");
  TXMLItem item("Line");
  item.AddAttribute("Value", "say \"hi\"\r\nbye");
  EXPECT_EQ(item.ToText(), "<Line Value=\"say &#034;hi&#034;&#013;&#010;bye\"/>\r\n");
}

TEST(XmlItem, ElementsNestWithTwoBlanksPerLevel) {
  TXMLItem root("Root");
  root.SetIndentation("  ");
  EXPECT_EQ(root.ToText(), "  <Root/>\r\n");
  TXMLItem* group = root.AddChild("Group");
  EXPECT_EQ(group->Parent(), &root);
  group->AddAttribute("ID", "1");
  group->AddChild("Line")->SetValue("text");
  root.AddChild("Empty");
  EXPECT_EQ(root.ToText(),
            "  <Root>\r\n"
            "    <Group ID=\"1\">\r\n"
            "      <Line>text</Line>\r\n"
            "    </Group>\r\n"
            "    <Empty/>\r\n"
            "  </Root>\r\n");
  TXMLItem value("V");
  value.SetValue("x");
  EXPECT_EQ(value.ToText(), "<V>x</V>\r\n");
}

// --- Conversion of one report

class LogXmlReport : public ::testing::Test {
 protected:
  void SetUp() override {
    text = LogReportToXML(Report("id-1", "Access violation."));
    document = Parse(text);
    log = document->Root();
    ASSERT_NE(log, nullptr);
  }
  std::string text;
  std::unique_ptr<TXmlDocument> document;
  TXmlNode* log = nullptr;
};

TEST_F(LogXmlReport, LogElementCarriesTheVersionAndSevenParts) {
  EXPECT_EQ(log->Name(), "Log");
  EXPECT_EQ(log->AttributeByName("Version"), "6.0.24");
  EXPECT_EQ(text.substr(0, 26), "<Log Version=\"6.0.24\">\r\n  ");
  EXPECT_EQ(text.substr(text.size() - 8), "\r\n</Log>");
  const char* parts[] = {"General", "CallStack", "Modules", "Processes", "Assembler", "CPU", "HoToReproduce"};
  int32_t index = 0;
  for (int32_t i = 0; i < log->GetNodeCount(); ++i) {
    if (log->GetNodes(i)->ElementType() != xeElement) continue;
    ASSERT_LT(index, 7);
    EXPECT_EQ(log->GetNodes(i)->Name(), parts[index++]);
  }
  EXPECT_EQ(index, 7);
  EXPECT_NE(text.find("  <HoToReproduce/>\r\n"), std::string::npos);
}

TEST_F(LogXmlReport, GeneralSectionsBecomeGroupsOfLines) {
  TXmlNode* general = Child(log, "General");
  ASSERT_EQ(CountChildren(general, "Group"), 3);
  TXmlNode* application = Child(general, "Group", 0);
  EXPECT_EQ(application->AttributeByName("ID"), "1");
  EXPECT_EQ(application->AttributeByName("Label"), "Application");
  ASSERT_EQ(CountChildren(application, "Line"), 3);
  EXPECT_EQ(Child(application, "Line", 0)->AttributeByName("ID"), "1.1");
  EXPECT_EQ(Child(application, "Line", 0)->AttributeByName("Label"), "Start Date");
  EXPECT_EQ(Child(application, "Line", 0)->AttributeByName("Value"), "Sat, 1 Jun 2024 10:00:00 +0200");
  EXPECT_EQ(Child(application, "Line", 2)->AttributeByName("ID"), "1.4");
  EXPECT_EQ(Child(application, "Line", 2)->AttributeByName("Value"), "");
  TXmlNode* exception = Child(general, "Group", 1);
  EXPECT_EQ(exception->AttributeByName("ID"), "2");
  EXPECT_EQ(Child(exception, "Line", 6)->AttributeByName("Label"), "ID");
  EXPECT_EQ(Child(exception, "Line", 6)->AttributeByName("Value"), "id-1");
  EXPECT_EQ(Child(exception, "Line", 9)->AttributeByName("ID"), "2.10");
  // A multi-line value is joined with CR LF.
  EXPECT_NE(text.find("Label=\"Privileges\" Value=\"SeShutdownPrivilege&#013;&#010;SeChangeNotifyPrivilege\""),
            std::string::npos);
}

TEST_F(LogXmlReport, MultiLineValuesLoseTheirStoredEscapes) {
  std::string xml = LogReportToXML(Report("id", "one: two\n\nthree"));
  EXPECT_NE(xml.find("Value=\"one: two&#013;&#010;&#013;&#010;three\""), std::string::npos) << xml;
}

TEST_F(LogXmlReport, CallStackNestsCallingThreadsAndSplitsLineCells) {
  TXmlNode* stack = Child(log, "CallStack");
  TXmlNode* exception = Child(stack, "ExceptionThread");
  ASSERT_NE(exception, nullptr);
  EXPECT_EQ(exception->AttributeByName("ID"), "1234");
  EXPECT_EQ(exception->AttributeByName("Priority"), "0");
  EXPECT_TRUE(exception->AttributeExists("Class"));
  EXPECT_EQ(exception->AttributeByName("Class"), "");
  EXPECT_EQ(exception->AttributeByName("MainThread"), "True");
  ASSERT_EQ(CountChildren(exception, "Line"), 2);
  TXmlNode* first = Child(exception, "Line", 0);
  EXPECT_EQ(first->AttributeByName("Address"), "0040A1B2");
  EXPECT_EQ(first->AttributeByName("Module"), "KBLDelay.dll");
  EXPECT_EQ(first->AttributeByName("Unit"), "rkPlugin.cpp");
  EXPECT_EQ(first->AttributeByName("Class"), "TrkPlugin");
  EXPECT_EQ(first->AttributeByName("Procedure"), "Process");
  EXPECT_EQ(first->AttributeByName("Number"), "35");
  EXPECT_EQ(first->AttributeByName("Offset"), "2");
  EXPECT_EQ(Child(exception, "Line", 1)->AttributeByName("Number"), "120");
  EXPECT_EQ(Child(exception, "Line", 1)->AttributeByName("Offset"), "");
  TXmlNode* calling = Child(exception, "CallingThread");
  ASSERT_NE(calling, nullptr);
  EXPECT_EQ(calling->AttributeByName("ID"), "77");
  EXPECT_EQ(calling->AttributeByName("Class"), "TWorker");
  EXPECT_EQ(calling->AttributeByName("MainThread"), "False");
  EXPECT_EQ(Child(calling, "Line")->AttributeByName("Module"), "kernel32.dll");
  TXmlNode* running = Child(stack, "RunningThread");
  ASSERT_NE(running, nullptr);
  EXPECT_EQ(running->AttributeByName("ID"), "88");
  EXPECT_EQ(running->AttributeByName("Priority"), "-1");
  EXPECT_EQ(Child(running, "Line")->AttributeByName("Procedure"), "_Sleep");
  // Attribute order as written.
  EXPECT_NE(text.find("<Line Address=\"0040A1B2\" Module=\"KBLDelay.dll\" Unit=\"rkPlugin.cpp\" "
                      "Class=\"TrkPlugin\" Procedure=\"Process\" Number=\"35\" Offset=\"2\"/>"),
            std::string::npos);
}

TEST_F(LogXmlReport, ModulesProcessesAssemblerAndCpu) {
  TXmlNode* modules = Child(log, "Modules");
  ASSERT_EQ(CountChildren(modules, "Module"), 2);
  TXmlNode* module = Child(modules, "Module", 1);
  EXPECT_EQ(module->AttributeByName("Handle"), "10000000");
  EXPECT_EQ(module->AttributeByName("Name"), "KBLDelay.dll");
  EXPECT_EQ(module->AttributeByName("Size"), "654321");
  EXPECT_EQ(module->AttributeByName("Modified"), "2024-05-02 13:00:00");
  EXPECT_EQ(module->AttributeByName("Path"), "C:\\Plugins");
  TXmlNode* process = Child(Child(log, "Processes"), "Process");
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(process->AttributeByName("ID"), "1000");
  EXPECT_EQ(process->AttributeByName("Priority"), "Normal");
  EXPECT_EQ(process->AttributeByName("Threads"), "12");
  EXPECT_EQ(process->AttributeByName("Path"), "C:\\Host");
  TXmlNode* assembler = Child(log, "Assembler");
  ASSERT_EQ(CountChildren(assembler, "Line"), 4);
  TXmlNode* faulting = Child(assembler, "Line", 3);
  EXPECT_EQ(faulting->AttributeByName("Address"), "0040A1B2");
  EXPECT_EQ(faulting->AttributeByName("Command"), "mov [eax], edx");
  EXPECT_EQ(faulting->AttributeByName("Comment"), "<-- EXCEPTION");
  TXmlNode* cpu = Child(log, "CPU");
  TXmlNode* registers = Child(cpu, "Registers");
  ASSERT_NE(registers, nullptr);
  EXPECT_EQ(registers->AttributeByName("EAX"), "00000000");
  EXPECT_EQ(registers->AttributeByName("EDX"), "0000002A");
  EXPECT_EQ(registers->AttributeByName("ESP"), "0012FE00");
  EXPECT_EQ(registers->AttributeByName("EIP"), "0040A1B2");
  TXmlNode* stack = Child(cpu, "Stack");
  ASSERT_EQ(CountChildren(stack, "Line"), 2);
  EXPECT_EQ(Child(stack, "Line", 1)->AttributeByName("Address"), "0012FE04");
  EXPECT_EQ(Child(stack, "Line", 1)->AttributeByName("Value"), "00401000");
  TXmlNode* dump = Child(Child(cpu, "MemoryDump"), "Line");
  ASSERT_NE(dump, nullptr);
  EXPECT_EQ(dump->AttributeByName("Address"), "0040A1B2");
  EXPECT_EQ(dump->AttributeByName("Bytes"), "89 10 C3 90 41 42 43 44 45 46 47 48 49 4A 4B 4C");
  EXPECT_EQ(dump->AttributeByName("Chars"), "...ABCDEFGHIJKL");
}

// A report of the 4.x layout: no processes or assembler sections, the CPU block after the
// second empty line, the reproduce text kept, and rows before the first caption in an
// exception thread of their own.
TEST(LogXmlOldReport, OlderLayoutIsReadByItsOwnRules) {
  std::string head = "EmberLog 4.5.1\r\n\r\n";
  TLogItem item(0);
  item.AddSection("Exception");
  item.AddItem("ID", "x");
  head += item.BuildText() + "\r\n";
  std::string stack = "Call Stack Information:\r\n--------------\r\n|Address |Line|\r\n--------------\r\n"
                      "|00401000|a.exe|u.pas|C|P|10[1]|\r\n--------------\r\n\r\n";
  std::string modules = sample_report::Table("Modules Information",
                                             {"Handle", "Name", "Description", "Version", "Size", "Path"},
                                             {{"00400000", "a.exe", "App", "1.0", "100", "C:\\A"}});
  std::string cpu = "Registers:\r\n-----\r\nEAX: 00000001   EDI: ????    \r\n\r\nStack:\r\n-----\r\n";
  std::string report = head + stack + modules + cpu;
  auto document = Parse(LogReportToXML(report));
  TXmlNode* log = document->Root();
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->AttributeByName("Version"), "4.5.1");
  TXmlNode* thread = Child(Child(log, "CallStack"), "ExceptionThread");
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(Child(thread, "Line")->AttributeByName("Number"), "10");
  TXmlNode* module = Child(Child(log, "Modules"), "Module");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->AttributeByName("Path"), "C:\\A");
  EXPECT_FALSE(module->AttributeExists("Modified"));
  EXPECT_EQ(Child(log, "Processes")->GetNodeCount(), 0);
  EXPECT_EQ(Child(log, "Assembler")->GetNodeCount(), 0);
  TXmlNode* registers = Child(Child(log, "CPU"), "Registers");
  ASSERT_NE(registers, nullptr);
  EXPECT_EQ(registers->AttributeByName("EAX"), "00000001");
  EXPECT_EQ(registers->AttributeByName("EDI"), "????");
  EXPECT_TRUE(Child(log, "HoToReproduce")->AttributeExists("Text"));
}

// --- Enciphered names

std::string Encipher(const std::string& name) {
  std::string data = name;
  TeaEncryptBuffer(data.data(), data.data(), static_cast<int32_t>(data.size()));
  return EncodeBase64String(data);
}

TEST(LogXmlCipher, NamesDecipherWithThePasswordAndStayWhenTheyDoNot) {
  TeaSetKeyFromPassword("secret");
  std::string unit = "?p" + Encipher("rkPlugin");
  std::string procedure = "?" + Encipher("TrkPlugin.Process");
  std::string unit2 = "?c" + Encipher("engine.cpp");
  std::string procedure2 = "?" + Encipher("@Render");
  std::string klass2 = "?" + Encipher("T1973");
  std::string table = "Call Stack Information:\r\n-----\r\n|Address|Module|Unit|Class|Procedure|Line|\r\n-----\r\n"
                      "|*Exception Thread: ID=1; Priority=0; Class=|\r\n|-----|\r\n"
                      "|00401000|a.dll|" + unit + "||" + procedure + "|5|\r\n"
                      "|00401010|a.dll|" + unit2 + "|" + klass2 + "|" + procedure2 + "|6|\r\n-----\r\n\r\n";
  std::string report = "EmberLog 6.0.24\r\n\r\n" + table;

  auto read = [&](const std::string& password) {
    auto document = Parse(LogReportToXML(report, password));
    return document;
  };
  auto good = read("secret");
  TXmlNode* thread = Child(Child(good->Root(), "CallStack"), "ExceptionThread");
  ASSERT_NE(thread, nullptr);
  TXmlNode* line = Child(thread, "Line", 0);
  EXPECT_EQ(line->AttributeByName("Unit"), "rkPlugin.pas");
  EXPECT_EQ(line->AttributeByName("Class"), "TrkPlugin");
  EXPECT_EQ(line->AttributeByName("Procedure"), "Process");
  TXmlNode* second = Child(thread, "Line", 1);
  EXPECT_EQ(second->AttributeByName("Unit"), "engine.cpp");
  EXPECT_EQ(second->AttributeByName("Class"), "T1973");
  EXPECT_EQ(second->AttributeByName("Procedure"), "_Render");

  auto wrong = read("not the password");
  line = Child(Child(Child(wrong->Root(), "CallStack"), "ExceptionThread"), "Line", 0);
  EXPECT_EQ(line->AttributeByName("Unit"), unit);
  EXPECT_EQ(line->AttributeByName("Procedure"), procedure);

  auto none = read("");
  line = Child(Child(Child(none->Root(), "CallStack"), "ExceptionThread"), "Line", 0);
  EXPECT_EQ(line->AttributeByName("Unit"), unit);
}

// --- Whole log

TEST(LogXmlDocument, EveryReportBecomesALogElementOfTheDoc) {
  TempDir dir;
  TLogFile log(dir.File("demo.elf"), false);
  log.AddReport(Report("first"), -1);
  log.AddReport(Report("second"), -1);
  log.SaveToFile();
  TLogFile reread(dir.File("demo.elf"), true);
  std::string xml = LogToXML(reread);
  EXPECT_EQ(xml.substr(0, 7), "<Doc>\r\n");
  EXPECT_EQ(xml.substr(7, 24), "  <Log Version=\"6.0.24\">");
  EXPECT_EQ(xml.substr(xml.size() - 6), "</Doc>");
  ExportLogAsXML(reread, dir.File("demo.xml"));
  EXPECT_EQ(ReadFileBytes(dir.File("demo.xml")), xml);
  auto document = Parse(xml);
  TXmlNode* doc = document->Root();
  ASSERT_EQ(CountChildren(doc, "Log"), 2);
  TXmlNode* id = Child(Child(Child(Child(doc, "Log", 1), "General"), "Group", 1), "Line", 6);
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->AttributeByName("Value"), "second");
  TLogFile empty("", false);
  EXPECT_EQ(LogToXML(empty), "<Doc>\r\n</Doc>");
}

TEST(LogXmlDocument, DamagedReportsStillGiveWellFormedXml) {
  std::mt19937 random(7);
  std::string base = Report("id", "a\nb: c\n\nd.");
  const char alphabet[] = "\r\n-|:;=[]<>&\"._ ?2";
  for (int round = 0; round < 300; ++round) {
    std::string data = base;
    int edits = 1 + static_cast<int>(random() % 10);
    for (int e = 0; e < edits && !data.empty(); ++e) {
      size_t at = random() % data.size();
      switch (random() % 3) {
        case 0: data[at] = alphabet[random() % (sizeof alphabet - 1)]; break;
        case 1: data.erase(at, 1 + random() % 60); break;
        default: data.insert(at, std::string(1 + random() % 3, alphabet[random() % (sizeof alphabet - 1)]));
      }
    }
    if (round % 40 == 0) data = data.substr(0, random() % (data.size() + 1));
    std::string xml = LogReportToXML(data, round % 2 ? "pw" : "");
    EXPECT_NO_THROW(Parse(xml)) << xml;
  }
}

}  // namespace
