// The exception library's 158 message texts, their editing table, the log field keys, the
// %NAME% variables with their expansion, and the send-progress steps.
#pragma once

#include <cstdint>
#include <string>

// --- Tables

constexpr int32_t EmberTextCount = 158;
constexpr int32_t EmberMsgsItemCount = 172;
constexpr int32_t EmberLogFieldKeyCount = 48;
constexpr int32_t EmberVariableCount = 26;

// The English default of text `index`; an index outside 0..157 gives an empty text.
const char* GetDefaultText(int32_t index);

// One row of the table that groups the texts for editing; Index is -1 for a group heading.
struct EMsgsRec {
  const char* Name;
  int32_t Index;
};
extern const EMsgsRec EmberMsgsItems[EmberMsgsItemCount];

// "Section|Field" names of the report fields, in report order.
extern const char* const EmberLogFieldKeys[EmberLogFieldKeyCount];

// "Name | Description" of each variable a user may write between percent signs.
extern const char* const EmberVariableDescriptions[EmberVariableCount];

// --- Variables

// The process environment variable `name`; when it is missing or empty the built-in names
// "date" (short date), "time" (long time) and "cd" (current directory), compared without regard
// to case; any other name gives an empty text. Safe from any thread.
std::string GetEnvVariable(const std::string& name);

// Sets (or, with an empty value, removes) a process environment variable; false on failure.
bool SetEnvVariable(const std::string& name, const std::string& value);

// Replaces each %NAME% (letters, digits, "_") by GetEnvVariable(NAME). Inserted values are not
// scanned again; a "%" without a name and a closing "%" stays as it is.
std::string ExpandVariables(const std::string& text);

// As ExpandVariables with a caller-supplied lookup (tests and the report preview use it).
using TEmberVariableLookup = std::string (*)(const std::string& name, void* data);
std::string ExpandVariablesWith(const std::string& text, TEmberVariableLookup lookup, void* data);

// Facts of the current exception that external tools started later inherit. A module that
// could not be found leaves its three variables as they were (Found... = false).
struct TEmberExceptionEnvironment {
  bool FoundMainModule = false;
  std::string MainModuleName;  // file name without folder
  std::string MainModuleDesc;
  std::string MainModuleVer;
  bool FoundExceptModule = false;
  std::string ExceptModuleName;
  std::string ExceptModuleDesc;
  std::string ExceptModuleVer;
  std::string ExceptMsg;
  std::string BugReport;
};

// Publishes the facts as _MainModule*, _ExceptModule*, _ExceptMsg, _BugReport and
// _LineBreak ("\r\n"), for external tools, and keeps them as this module's report variables.
void SetExceptionEnvironment(const TEmberExceptionEnvironment& facts);

// The report variables above, as this module keeps them. The process's environment is shared by
// every module of the process that carries the library (another plug-in of the host sets its own
// report's there at any time), so ExpandVariables answers these names from this module's own
// values, set by its SetExceptionEnvironment: a mail's subject or body names this module's
// report, whatever another module reports meanwhile. A name this module has not set yet expands
// to an empty text. Safe from any thread.
constexpr int32_t EmberReportVariableCount = 9;
extern const char* const EmberReportVariableNames[EmberReportVariableCount];
struct TEmberReportVariables {
  std::string Values[EmberReportVariableCount];
};
TEmberReportVariables GetReportVariables();
void SetReportVariables(const TEmberReportVariables& variables);

// --- Send progress

// What one step code of the web send shows: the text, and either an absolute bar position or a
// step to advance it by. Codes outside 0..9 are not Valid and show nothing.
struct TEmberSendProgress {
  bool Valid = false;
  int32_t TextIndex = -1;
  bool Advance = false;    // Position is a step added to the bar
  bool Restart = false;    // the progress starts again
  int32_t Position = 0;
};

// `percentSent` (used by code 6) is clamped to 0..100.
TEmberSendProgress GetSendProgress(int32_t code, int32_t percentSent);
