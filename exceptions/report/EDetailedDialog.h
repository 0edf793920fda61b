// The detailed exception dialog ("EL_DIALOG") with its pages (general, call stack, modules,
// processes, assembler, CPU), the dialog settings file "EmberLog.ini" and the jump-to-source
// message sent through a mailslot when a call-stack line is activated.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// --- Pages (portable)

enum : int32_t {
  EmberPageGeneral = 0,
  EmberPageCallStack = 1,
  EmberPageModules = 2,
  EmberPageProcesses = 3,
  EmberPageAssembler = 4,
  EmberPageCPU = 5
};

// The pages of the tabs in order: general and call stack always, modules and processes with
// LogOptions bit 0x10, assembler and CPU with bit 0x20.
std::vector<int32_t> DetailedDialogPages(uint8_t logOptions);
// The tab the dialog opens on: the tab of page `firstDialogTab` when present, else 0.
int32_t FirstDetailedTab(uint8_t logOptions, uint8_t firstDialogTab);
// The page template's resource name ("EL_TAB_GENERAL" ...); nullptr outside 0..5.
const char* DetailedPageTemplate(int32_t page);

// The height the check-box rows add below the buttons: 0 with none of the send box, the
// screenshot box, the copy box and the support link; 34 with both the send and screenshot boxes
// or both the copy box and the link; 20 otherwise.
int32_t CheckBoxRowsHeight(bool sendBox, bool screenshotBox, bool copyBox, bool supportLink);

// The image of a module in the modules list: 1 for ".BPL" and ".DPL", 2 for ".EXE", else 0
// (compared in upper case).
int32_t ModuleKind(const std::string& moduleName);

// --- Settings file (portable part)

// The "Coordinates" section of "EmberLog.ini". Values that are missing or not numbers keep
// their defaults.
struct TEmberDialogCoordinates {
  int32_t Width = 745;
  int32_t Height = 468;        // without the check-box rows
  bool HasLeft = false, HasTop = false;
  int32_t Left = 0, Top = 0;
  int32_t WindowsState = 1;    // 1 normal, 3 maximised, 6 minimised
  std::array<int32_t, 6> Col{{89, 92, 126, 126, 200, 61}};
  std::array<int32_t, 7> ColMod{{80, 96, 175, 50, 54, 712, 80}};  // by key number
  std::array<int32_t, 8> ColPro{{48, 134, 232, 56, 57, 47, 52, 330}};
};

// The key number of modules column `column` (Handle, Name, Description, Version, Size,
// Modified, Path): Modified is stored under "ColMod6" and Path under "ColMod5".
int32_t ModuleColumnKey(int32_t column);

// --- Jump-to-source message (portable)

constexpr size_t EmberSourceMessageSize = 376;
using TEmberSourceMessage = std::array<uint8_t, EmberSourceMessageSize>;

// The 376 bytes: an empty file name, unit, class and procedure (each in 90 bytes, cut to 89
// characters and ended by a zero; the texts trimmed), the line and the line offset (signed
// 32-bit) and the module's build date (64-bit floating-point days, low half first).
TEmberSourceMessage BuildSourceLocationMessage(int32_t line, const std::string& unitName,
                                               const std::string& className, const std::string& procedureName,
                                               int32_t lineOffset, double buildDate);

// Reads a call-stack Line cell: "123" gives line 123 and offset -1, "123[4]" line 123 and offset
// 4. False for a cell without leading digits.
bool ParseLineCell(const std::string& cell, int32_t& line, int32_t& lineOffset);

// --- Win32 only (win32/EDetailedDialog.cpp)

TEmberDialogCoordinates LoadDialogCoordinates();
// Writes "Width", "Height", "Left" and "Top" only when `normal` (the dialog was in its normal
// state), "WindowsState" always.
void SaveDialogCoordinates(const TEmberDialogCoordinates& coordinates, bool normal);
// Writes the column widths of a list page (call stack "Col0".., modules "ColMod0".. by
// ModuleColumnKey, processes "ColPro0"..); `widths` in column order.
void SaveColumnWidths(int32_t page, const std::vector<int32_t>& widths);

// Sends the message to the development environment that started this process (the mailslot
// "EmberLog" followed by its process id, or 0). Dropped silently when no one reads.
void SendSourceLocation(int32_t line, const std::string& unitName, const std::string& className,
                        const std::string& procedureName, int32_t lineOffset, double buildDate);
// Writes `message` to "\\.\mailslot\<name><id>", id being the parent process when that process
// owns a window of class "TAppBuilder", else 0. False when no mailslot takes it.
bool WriteMailslotMessage(const std::string& name, const TEmberSourceMessage& message);

// The text of a list-view cell (up to 256 characters).
std::string GetListItemText(uintptr_t listView, int32_t item, int32_t column);
