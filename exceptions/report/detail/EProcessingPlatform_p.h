// Platform half of the exception processing (win32/, posix/): the program's kind and its
// windows, threads, the process's modules and processes, and ending the program. Outside
// Windows there are no other threads, modules or windows to ask.
#pragma once

#include <cstdint>
#include <string>

class TEmberModulesList;
class TEmberProcessesList;
struct TEmberModuleInfo;

namespace ember_processing {

// Writes to the standard output; raises EWriteError when it cannot.
void WriteStandardOutput(const std::string& text);
// Restores the process's main window when it is minimised.
void RestoreMainWindow();
// The main window of a process (0 when none).
uintptr_t MainWindowOf(uint32_t processId);
// The work area of the monitor that holds the foreground window.
void ActiveWorkArea(int32_t& left, int32_t& top, int32_t& right, int32_t& bottom);

// Suspends / resumes a thread by the handle the threads list keeps; false when it cannot.
bool SuspendThreadHandle(uint32_t handle);
void ResumeThreadHandle(uint32_t handle);

// The report side's modules list, entries by address or handle (nullptr when none), and the
// list's upkeep: entries whose module file changed are dropped; a refresh adds what was loaded.
TEmberModulesList* ModulesList();
TEmberModuleInfo* ModuleInfoOfAddress(uintptr_t address);
TEmberModuleInfo* ModuleInfoOfHandle(uintptr_t module);
void DropChangedModules();
void RefreshModules();
void LoadProcesses(TEmberProcessesList& list);
// Offers this module's options (its entry, made at the first call) to CurrentEmberLogOptions on
// every thread without the library lock, until called with false. Called under the library lock,
// around the module's start work: nothing else changes the list meanwhile; ended again (false) by
// the detachment, after a start work killed inside.
void OfferOwnOptions(bool offer);
// Joins the capture side's look-ups to the report side's modules list (and back with false).
void JoinModuleLists(bool join);

std::string ApplicationVersionText();
std::string ModuleVersionText();

bool CopyText(const std::string& text);
void DeleteFileByName(const std::string& fileName);
// Ends the process with exit code 1, after starting it again with `restart`.
void EndApplication(bool restart);

}  // namespace ember_processing
