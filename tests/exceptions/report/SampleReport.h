// Report texts laid out the way the report builder writes them, for the log and XML tests.
#pragma once

#include <string>
#include <vector>

#include "exceptions/report/ELogFile.h"

namespace sample_report {

inline std::string Dashes(size_t n) { return std::string(n, '-'); }

// One framed table: title, separator, title row, separator, rows, separator, empty line.
inline std::string Table(const std::string& title, const std::vector<std::string>& header,
                         const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& h : header) widths.push_back(h.size());
  for (const auto& r : rows)
    for (size_t i = 0; i < r.size() && i < widths.size(); ++i) widths[i] = std::max(widths[i], r[i].size());
  auto row = [&](const std::vector<std::string>& cells) {
    std::string line = "|";
    for (size_t i = 0; i < widths.size(); ++i) {
      std::string cell = i < cells.size() ? cells[i] : std::string();
      line += cell + std::string(widths[i] - cell.size(), ' ') + "|";
    }
    return line + "\r\n";
  };
  size_t total = 1;
  for (size_t w : widths) total += w + 1;
  std::string s = Dashes(total) + "\r\n";
  std::string text = title + ":\r\n" + s + row(header) + s;
  for (const auto& r : rows) text += row(r);
  return text + s + "\r\n";
}

struct Thread {
  std::string Caption;       // "*Exception Thread: ID=..."; empty rows are blank rows
  bool BlankBefore = false;  // a running thread's block starts with a row of blanks
  std::vector<std::vector<std::string>> Rows;
};

inline std::string CallStackTable(const std::vector<Thread>& threads) {
  std::vector<std::string> header = {"Address", "Module", "Unit", "Class", "Procedure/Method", "Line"};
  std::vector<size_t> widths;
  for (const auto& h : header) widths.push_back(h.size());
  widths[0] = std::max<size_t>(widths[0], 8);
  for (const auto& t : threads)
    for (const auto& r : t.Rows)
      for (size_t i = 0; i < r.size(); ++i) widths[i] = std::max(widths[i], r[i].size());
  size_t sum = 0;
  for (size_t w : widths) sum += w;
  std::string s = Dashes(sum + 7) + "\r\n";
  size_t inner = sum + 5;
  auto pad = [](const std::string& t, size_t w) { return t + std::string(w > t.size() ? w - t.size() : 0, ' '); };
  auto row = [&](const std::vector<std::string>& cells) {
    std::string line = "|";
    for (size_t i = 0; i < widths.size(); ++i) line += pad(cells[i], widths[i]) + "|";
    return line + "\r\n";
  };
  auto one = [&](const std::string& t) {
    std::string line(1, '|');
    line += pad(t, inner);
    return line += "|\r\n";
  };
  std::string text = "Call Stack Information:\r\n" + s + row(header) + s;
  for (size_t k = 0; k < threads.size(); ++k) {
    if (k > 0) {
      text += one(Dashes(inner));
      if (threads[k].BlankBefore) text += one("");
    }
    text += one(threads[k].Caption) + one(Dashes(inner));
    for (const auto& r : threads[k].Rows) text += row(r);
  }
  return text + s + "\r\n";
}

// The head: banner and the sections of one report, fields 2.7 (ID) and 2.8 (Count) included.
inline std::string Head(const std::string& version, const std::string& id, const std::string& message) {
  TLogItem item(0);
  item.AddSection("Application");
  item.AddItem("Start Date", "Sat, 1 Jun 2024 10:00:00 +0200");
  item.AddItem("Name/Description", "host.exe - (Audio host)");
  item.AddItem("Version Number", "", false);
  item.AddItem("Parameters", "");
  item.AddSection("Exception");
  item.AddItem("Date", "Sat, 1 Jun 2024 10:05:00 +0200");
  item.AddItem("Address", "0040A1B2");
  item.AddItem("Module Name", "KBLDelay.dll");
  item.AddItem("Module Version", "1.0.0.0");
  item.AddItem("Type", "EAccessViolation");
  item.AddItem("Message", message);
  item.AddItem("ID", id);
  item.AddItem("Count", "1");
  item.AddItem("Status", "New");
  item.AddItem("Note", "");
  item.AddSection("User");
  item.AddItem("ID", "alice");
  item.AddItem("Privileges", "SeShutdownPrivilege\nSeChangeNotifyPrivilege");
  return "EmberLog " + version + "\r\n\r\n" + item.BuildText();
}

// A whole report in the layout of library version 6: head, call stack, modules, processes,
// assembler and CPU sections.
inline std::string Report(const std::string& id, const std::string& message = "Access violation.",
                          const std::string& version = "6.0.24") {
  std::vector<Thread> threads = {
      {"*Exception Thread: ID=1234; Priority=0; Class=; [Main]", false,
       {{"0040A1B2", "KBLDelay.dll", "rkPlugin.cpp", "TrkPlugin", "Process", "35[2]"},
        {"0040B000", "KBLDelay.dll", "rkVstAdapter.cpp", "", "ProcessReplacing", "120"}}},
      {"Calling Thread: ID=77; Priority=2; Class=TWorker", false,
       {{"7C800000", "kernel32.dll", "", "", "", ""}}},
      {"Running Thread: ID=88; Priority=-1; Class=TFreezeThread", true,
       {{"7C900000", "ntdll.dll", "", "", "@Sleep", ""}}},
  };
  std::string text = Head(version, id, message) + "\r\n" + CallStackTable(threads);
  text += Table("Modules Information", {"Handle", "Name", "Description", "Version", "Size", "Modified", "Path"},
                {{"00400000", "host.exe", "Audio host", "2.1.0.7", "123456", "2024-05-01 12:00:00", "C:\\Host"},
                 {"10000000", "KBLDelay.dll", "Delay", "1.0.0.0", "654321", "2024-05-02 13:00:00", "C:\\Plugins"}});
  text += Table("Processes Information",
                {"ID", "Name", "Description", "Version", "Memory", "Priority", "Threads", "Path"},
                {{"1000", "host.exe", "Audio host", "2.1.0.7", "5000000", "Normal", "12", "C:\\Host"}});
  text += "Assembler Information:\r\n" + Dashes(60) + "\r\n";
  text += "; rkPlugin.TrkPlugin.Process (Line=35)\r\n";
  text += "; -------------------------------------\r\n";
  text += "0040A1B0  mov eax, [ebx+$04]\r\n";
  text += "0040A1B2  mov [eax], edx      ; <-- EXCEPTION\r\n";
  text += "\r\n";
  text += "Registers:\r\n" + Dashes(29) + "\r\n";
  text += "EAX: 00000000   EDI: 0012FF00\r\nEBX: 00A00010   ESI: 00000001\r\n";
  text += "ECX: 00000002   ESP: 0012FE00\r\nEDX: 0000002A   EIP: 0040A1B2\r\n\r\n";
  text += "Stack:               Memory Dump:\r\n" + Dashes(18) + "   " + Dashes(75) + "\r\n";
  text += "0012FE00: 00000005   0040A1B2: 89 10 C3 90 41 42 43 44 45 46 47 48 49 4A 4B 4C  ...ABCDEFGHIJKL\r\n";
  text += "0012FE04: 00401000   0040A1C2: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  ................\r\n";
  return text;
}

}  // namespace sample_report
