// Platform half of the sending pipeline: facts the trackers receive, the clipboard, the CGI
// test and the file moves of the kept zips (win32/ and posix/).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ember_report {

// The host program's version number ("1.2.3.4"); empty when it has none.
std::string ApplicationVersionNumber();
// The system's name and build number as the report writes them.
std::string SystemTypeText();
std::string SystemBuildText();
// Puts the report on the clipboard; false when it cannot be had.
bool PutReportOnClipboard(const std::string& text);
// The program answers as a CGI program (its last page file is its output and stays).
bool RunsAsCGI();
// The names (without folder) of the files in `folder`.
std::vector<std::string> FolderFileNames(const std::string& folder);
// Moves a file, also across drives; false when the target cannot be written.
bool MoveReportFile(const std::string& from, const std::string& to);
// Deletes a file (clearing its read-only flag first); true when it is gone.
bool DeleteReportFile(const std::string& fileName);
// Creates the folder and its parents; true when it exists afterwards.
bool EnsureFolder(const std::string& folder);
// The calling thread runs at the highest-but-one of the seven thread priorities.
void RaiseThreadPriority();
// Starts a thread of the library's own that runs `body(argument)` and keeps the module loaded
// while it runs: it takes a hold on the module before it starts and ends with the hold's release
// (the system's release-and-exit), so that it never runs the module's code once the module is
// unloaded. `handle` receives the thread's system handle (0 where threads have none; release it
// with ReleaseLibraryThread); false when no thread could be started.
bool StartLibraryThread(void (*body)(void*), void* argument, uintptr_t& handle);
// True once the thread of `handle` has ended (never where threads have no handle).
bool LibraryThreadEnded(uintptr_t handle);
void ReleaseLibraryThread(uintptr_t handle);
// Ends the calling thread, started by StartLibraryThread, where it stands: nothing of its frames
// runs any more, and its hold on the module is released. Never returns.
[[noreturn]] void LeaveLibraryThread();
// Creates `folder` (its parent exists); true only when this call made it, false when it was
// there already or cannot be made.
bool CreateNewFolder(const std::string& folder);
// Removes an empty folder; true when it is gone.
bool RemoveEmptyFolder(const std::string& folder);
// Where a kept zip goes when the log's folder takes none (the library's own folder).
std::string FallbackFolder();

}  // namespace ember_report
