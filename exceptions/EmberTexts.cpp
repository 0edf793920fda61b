// The exception library's message texts, their editing table, the log field keys and the
// expansion of %NAME% variables.
#include "EmberTexts.h"

#include <mutex>

#include "classlib/SysUtils.h"

namespace {

// The order is part of the options stream: texts are stored by index.
const char* const kDefaultTexts[EmberTextCount] = {
    /*   0 */ "Information.", "Question.", "Error.", "Error occurred",
    /*   4 */ "An error has occurred during program execution.\r\n"
              "Please read the following information for further details.",
    /*   5 */ "General", "General Information", "Call Stack", "Call Stack Information", "Modules",
    /*  10 */ "Modules Information", "Processes", "Processes Information", "Assembler",
    /*  14 */ "Assembler Information", "CPU", "CPU Information", "&OK", "&Terminate", "&Restart",
    /*  20 */ "&Details", "&Help", "&Send this error via Internet", "&Attach a Screenshot image",
    /*  24 */ "&Copy to Clipboard", "Go to the Support Page",
    /*  26 */ "The application has encountered a problem. We are sorry for the inconvenience.",
    /*  27 */ "Restart application.", "Terminate application.", "Please tell us about this problem.",
    /*  30 */ "We have created an error report that you can send to us. We will treat this report "
              "as confidential and anonymous.",
    /*  31 */ "To see what data the error report contains,", "click here.",
    /*  33 */ "What were you doing when the problem happened (optional)?",
    /*  34 */ "Email address (optional):", "&Send Error Report", "&Don't Send", "Application",
    /*  38 */ "Start Date", "Name/Description", "Version Number", "Parameters", "Compilation Date",
    /*  43 */ "Up Time", "Exception", "Date", "Address", "Module Name", "Module Version", "Type",
    /*  50 */ "Message", "ID", "Count", "Status", "Note", "User", "ID", "Name", "Email", "Company",
    /*  60 */ "Privileges", "Active Controls", "Form Class", "Form Text", "Control Class",
    /*  65 */ "Control Text", "Computer", "Name", "Total Memory", "Free Memory", "Total Disk",
    /*  71 */ "Free Disk", "System Up Time", "Processor", "Display Mode", "Display DPI",
    /*  76 */ "Video Card", "Printer", "Operating System", "Type", "Build #", "Update", "Language",
    /*  83 */ "Charset", "Network", "IP Address", "Submask", "Gateway", "DNS 1", "DNS 2", "DHCP",
    /*  91 */ "Custom Information", "Address", "Module", "Unit", "Class", "Procedure/Method",
    /*  97 */ "Line", "Main", "Exception Thread", "Running Thread", "Calling Thread", "ID",
    /* 103 */ "Priority", "Class", "Memory Leak", "Data", "Type", "Total size", "Count", "Send.",
    /* 111 */ "Message", "Resolving DNS...", "Login...", "Connecting with server...",
    /* 115 */ "Connected with server.", "Sending message...", "Message sent.", "Select project...",
    /* 119 */ "Searching...", "Modifying...", "Disconnecting...", "Disconnected.", "Request",
    /* 124 */ "Please describe the steps to reproduce the error:", "&OK", "Handle", "Name",
    /* 128 */ "Description", "Version", "Size", "Modified", "Path", "ID", "Name", "Description",
    /* 136 */ "Version", "Memory", "Priority", "Threads", "Path", "Registers", "Stack",
    /* 143 */ "Memory Dump", "The message was sent successfully.",
    /* 145 */ "Sorry, sending the message didn't work.",
    /* 146 */ "These BUG is just closed.\r\nContact the program support to obtain an update.",
    /* 147 */ "Unknown error.", "Invalid login request.", "Invalid search request.",
    /* 150 */ "Invalid selection request.", "Invalid insert request.", "Invalid modify request.",
    /* 153 */ "", "Multi Free memory leak.", "Memory Overrun leak.",
    /* 156 */ "The application seems to be frozen.", "Invalid email.",
};

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

std::mutex gReportVariablesLock;
TEmberReportVariables gReportVariables;

int32_t ReportVariableIndex(const std::string& name) {
  for (int32_t i = 0; i < EmberReportVariableCount; ++i)
    if (SameText(name, EmberReportVariableNames[i])) return i;
  return -1;
}

void SetReportVariable(int32_t index, const std::string& value) {
  SetEnvVariable(EmberReportVariableNames[index], value);
  std::lock_guard<std::mutex> guard(gReportVariablesLock);
  gReportVariables.Values[index] = value;
}

std::string LookupEnvironment(const std::string& name, void*) {
  const int32_t index = ReportVariableIndex(name);
  if (index < 0) return GetEnvVariable(name);
  std::lock_guard<std::mutex> guard(gReportVariablesLock);
  return gReportVariables.Values[index];
}

}  // namespace

// --- Tables

const char* GetDefaultText(int32_t index) {
  if (index < 0 || index >= EmberTextCount) return "";
  return kDefaultTexts[index];
}

const EMsgsRec EmberMsgsItems[EmberMsgsItemCount] = {
    {"Message captions", -1},
    {"Information caption", 0},
    {"Question caption", 1},
    {"Error caption", 2},
    {"Exception Dialog (EmberLog type)", -1},
    {"Dialog caption", 3},
    {"Error message", 4},
    {"General tab", 5},
    {"General header", 6},
    {"Call Stack tab", 7},
    {"Call Stack header", 8},
    {"Modules tab", 9},
    {"Modules header", 10},
    {"Processes tab", 11},
    {"Processes header", 12},
    {"Assembler tab", 13},
    {"Assembler header", 14},
    {"CPU tab", 15},
    {"CPU header", 16},
    {"OK Button", 17},
    {"Terminate Button", 18},
    {"Restart Button", 19},
    {"Details Button", 20},
    {"Help Button", 21},
    {"Send choice", 22},
    {"Screenshot choice", 23},
    {"Copy to Clipboard choice", 24},
    {"Support link", 25},
    {"Exception Dialog (MS Classic type)", -1},
    {"Error message", 26},
    {"Restart choice", 27},
    {"Terminate choice", 28},
    {"Please tell us", 29},
    {"Report description", 30},
    {"Report contents", 31},
    {"Click here", 32},
    {"What were you doing", 33},
    {"Email address", 34},
    {"Send Button", 35},
    {"Don't Send Button", 36},
    {"Send Dialog", -1},
    {"Send caption", 110},
    {"Send message", 111},
    {"Reproduce Dialog", -1},
    {"Request caption", 123},
    {"Request text", 124},
    {"Request OK Button", 125},
    {"General Data", -1},
    {"Application", 37},
    {"    Start Date", 38},
    {"    Name/Description", 39},
    {"    Version Number", 40},
    {"    Parameters", 41},
    {"    Compilation Date", 42},
    {"    Up Time", 43},
    {"Exception", 44},
    {"    Date", 45},
    {"    Address", 46},
    {"    Module Name", 47},
    {"    Module Version", 48},
    {"    Type", 49},
    {"    Message", 50},
    {"    ID", 51},
    {"    Count", 52},
    {"    Status", 53},
    {"    Note", 54},
    {"User", 55},
    {"    ID", 56},
    {"    Name", 57},
    {"    Email", 58},
    {"    Company", 59},
    {"    Privileges", 60},
    {"Active Controls", 61},
    {"    Form Class", 62},
    {"    Form Text", 63},
    {"    Control Class", 64},
    {"    Control Text", 65},
    {"Computer", 66},
    {"    Name", 67},
    {"    Total Memory", 68},
    {"    Free Memory", 69},
    {"    Total Disk", 70},
    {"    Free Disk", 71},
    {"    System Up Time", 72},
    {"    Processor", 73},
    {"    Display Mode", 74},
    {"    Display DPI", 75},
    {"    Video Card", 76},
    {"    Printer", 77},
    {"Operating System", 78},
    {"    Type", 79},
    {"    Build #", 80},
    {"    Update", 81},
    {"    Language", 82},
    {"    Charset", 83},
    {"Network", 84},
    {"    IP Address", 85},
    {"    Submask", 86},
    {"    Gateway", 87},
    {"    DNS 1", 88},
    {"    DNS 2", 89},
    {"    DHCP", 90},
    {"Custom Information", 91},
    {"Call Stack", -1},
    {"Address", 92},
    {"Module", 93},
    {"Unit", 94},
    {"Class", 95},
    {"Procedure/Method", 96},
    {"Line", 97},
    {"Main thread", 98},
    {"Exception Thread", 99},
    {"Running Thread", 100},
    {"Calling Thread", 101},
    {"Threads Data", -1},
    {"ID", 102},
    {"Priority", 103},
    {"Class", 104},
    {"Leaks Data", -1},
    {"Memory Leak", 105},
    {"Data", 106},
    {"Type", 107},
    {"Total size", 108},
    {"Count", 109},
    {"Modules List", -1},
    {"Handle", 126},
    {"Name", 127},
    {"Description", 128},
    {"Version", 129},
    {"Size", 130},
    {"Modified", 131},
    {"Path", 132},
    {"Processes List", -1},
    {"ID", 133},
    {"Name", 134},
    {"Description", 135},
    {"Version", 136},
    {"Memory", 137},
    {"Priority", 138},
    {"Threads", 139},
    {"Path", 140},
    {"CPU", -1},
    {"Registers", 141},
    {"Stack", 142},
    {"Memory Dump", 143},
    {"Send messages", -1},
    {"Resolving DNS", 112},
    {"Login", 113},
    {"Connecting with server", 114},
    {"Connected with server", 115},
    {"Sending message", 116},
    {"Message sent", 117},
    {"Select project", 118},
    {"Searching", 119},
    {"Modifying", 120},
    {"Disconnecting", 121},
    {"Disconnected", 122},
    {"Send successful", 144},
    {"Send failed", 145},
    {"Bug closed", 146},
    {"Unknown error", 147},
    {"Invalid login", 148},
    {"Invalid search", 149},
    {"Invalid selection", 150},
    {"Invalid insert", 151},
    {"Invalid modify", 152},
    {"Other messages", -1},
    {"Not used", 153},
    {"Multi Free memory leak", 154},
    {"Memory Overrun leak", 155},
    {"Anti Freeze exception", 156},
    {"Invalid email", 157},
};

const char* const EmberLogFieldKeys[EmberLogFieldKeyCount] = {
    "Application|Start Date", "Application|Name", "Application|Version Number",
    "Application|Parameters", "Application|Compilation Date", "Application|Up Time",
    "Exception|Date", "Exception|Address", "Exception|Module Name", "Exception|Module Version",
    "Exception|Type", "Exception|Message", "Exception|ID", "Exception|Count", "Exception|Status",
    "Exception|Note", "User|ID", "User|Name", "User|Email", "User|Privileges", "User|Company",
    "Active Controls|Form Class", "Active Controls|Form Text", "Active Controls|Control Class",
    "Active Controls|Control Text", "Computer|Name", "Computer|Total Memory",
    "Computer|Free Memory", "Computer|Total Disk", "Computer|Free Disk",
    "Computer|System Up Time", "Computer|Processor", "Computer|Display Mode",
    "Computer|Display DPI", "Computer|Video Card", "Computer|Printer", "Operating System|Type",
    "Operating System|Build #", "Operating System|Update", "Operating System|Language",
    "Operating System|Charset", "Network|IP Address", "Network|Submask", "Network|Gateway",
    "Network|DNS 1", "Network|DNS 2", "Network|DHCP", "Custom Data|All",
};

const char* const EmberVariableDescriptions[EmberVariableCount] = {
    "_BugReport | Full EmberLog bug report",
    "_ExceptModuleDesc | Description of the module that has raised the last exception",
    "_ExceptModuleName | Name of the module that has raised the last exception",
    "_ExceptModuleVer | Version of the module that has raised the last exception",
    "_ExceptMsg | Last exception message",
    "_LineBreak | Line break",
    "_MainModuleDesc | Description of the current running module",
    "_MainModuleName | Name of the current running module",
    "_MainModuleVer | Version of the current running module",
    "AllUsersProfile | \\Documents and Settings\\All Users",
    "AppData | \\Documents and Settings\\{username}\\Application Data",
    "CD | Current directory with its full path",
    "ComputerName | {computername}",
    "Date | Current date in the format determined by OS",
    "HomeDrive | The drive containing the Home directory",
    "HomePath | \\Documents and Settings\\{username}",
    "ProgramFiles | Directory containing program files",
    "SystemDrive | The drive containing the Windows root directory",
    "SystemRoot | The Windows root directory",
    "Temp | Temporary directory",
    "Time | Current time in the format determined by OS",
    "Tmp | Temporary directory",
    "UserDomain | Current user domain name",
    "UserName | {username}",
    "UserProfile | \\Documents and Settings\\{username}",
    "WinDir | Windows directory",
};

// --- Variables

std::string ExpandVariablesWith(const std::string& text, TEmberVariableLookup lookup, void* data) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    size_t end = i + 1;
    while (end < text.size() && IsNameChar(text[end])) ++end;
    bool closed = end > i + 1 && end < text.size() && text[end] == '%';
    if (!closed) {
      // Only this percent sign is literal; the next one may open a reference.
      out += text[i++];
      continue;
    }
    // The value goes straight to the output, so it is never scanned again.
    out += lookup ? lookup(text.substr(i + 1, end - i - 1), data) : std::string();
    i = end + 1;
  }
  return out;
}

std::string ExpandVariables(const std::string& text) {
  return ExpandVariablesWith(text, &LookupEnvironment, nullptr);
}

const char* const EmberReportVariableNames[EmberReportVariableCount] = {
    "_MainModuleName",  "_MainModuleDesc",   "_MainModuleVer", "_ExceptModuleName", "_ExceptModuleDesc",
    "_ExceptModuleVer", "_ExceptMsg",        "_BugReport",     "_LineBreak"};

void SetExceptionEnvironment(const TEmberExceptionEnvironment& facts) {
  if (facts.FoundMainModule) {
    SetReportVariable(0, facts.MainModuleName);
    SetReportVariable(1, facts.MainModuleDesc);
    SetReportVariable(2, facts.MainModuleVer);
  }
  if (facts.FoundExceptModule) {
    SetReportVariable(3, facts.ExceptModuleName);
    SetReportVariable(4, facts.ExceptModuleDesc);
    SetReportVariable(5, facts.ExceptModuleVer);
  }
  SetReportVariable(6, facts.ExceptMsg);
  SetReportVariable(7, facts.BugReport);
  SetReportVariable(8, "\r\n");
}

TEmberReportVariables GetReportVariables() {
  std::lock_guard<std::mutex> guard(gReportVariablesLock);
  return gReportVariables;
}

void SetReportVariables(const TEmberReportVariables& variables) {
  for (int32_t i = 0; i < EmberReportVariableCount; ++i) SetReportVariable(i, variables.Values[i]);
}

// --- Send progress

TEmberSendProgress GetSendProgress(int32_t code, int32_t percentSent) {
  TEmberSendProgress step;
  switch (code) {
    case 0:
      step.TextIndex = 114;
      step.Restart = true;
      step.Position = 5;
      break;
    case 1: case 2: case 3: case 4: case 5: {
      static const int32_t kTexts[] = {115, 113, 118, 119, 120};
      step.TextIndex = kTexts[code - 1];
      step.Advance = true;
      step.Position = 5;
      break;
    }
    case 6: {
      int32_t percent = percentSent < 0 ? 0 : percentSent > 100 ? 100 : percentSent;
      step.TextIndex = 116;
      step.Position = 35 + static_cast<int32_t>(Round(65.0 * percent / 100.0));
      break;
    }
    case 7: case 8: case 9: {
      static const int32_t kTexts[] = {117, 121, 122};
      step.TextIndex = kTexts[code - 7];
      step.Position = 100;
      break;
    }
    default:
      return step;
  }
  step.Valid = true;
  return step;
}
