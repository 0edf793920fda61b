// Platform half of the sending pipeline: facts the trackers receive, the clipboard, the CGI
// test and the file moves of the kept zips (win32/ and posix/).
#pragma once

#include <cstdint>
#include <string>
#include <thread>
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
// The system handle of a running thread (0 where threads have none); it stays valid while the
// thread object is not joined.
uintptr_t ThreadHandleOf(std::thread& thread);
// Creates `folder` (its parent exists); true only when this call made it, false when it was
// there already or cannot be made.
bool CreateNewFolder(const std::string& folder);
// Removes an empty folder; true when it is gone.
bool RemoveEmptyFolder(const std::string& folder);
// Where a kept zip goes when the log's folder takes none (the library's own folder).
std::string FallbackFolder();

}  // namespace ember_report
