// Win32 half of the detailed dialog: the dialog with its compact and expanded forms, its pages,
// the settings file and the mailslot message.
#include "EDetailedDialog.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <memory>

#include "EBugReport.h"
#include "EDialogMachinery_p.h"
#include "EExceptionDialog.h"
#include "EListViewItems.h"
#include "ERichText.h"
#include "ESupport.h"
#include "ESysUtils.h"
#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/ECallStack.h"
#include "exceptions/capture/EmberRecords.h"
#include "exceptions/capture/ExceptionLog.h"

// --- Settings file

namespace {

const char* const kSection = "Coordinates";

int32_t ReadInt(const std::string& key, int32_t fallback) {
  return StrToIntDef(Trim(ReadIniString(EmberDialogIniFile, kSection, key)), fallback);
}

void WriteInt(const std::string& key, int32_t value) {
  ember_dialogs::WriteDialogSetting(kSection, key, std::to_string(value));
}

}  // namespace

TEmberDialogCoordinates LoadDialogCoordinates() {
  TEmberDialogCoordinates c;
  c.Width = ReadInt("Width", c.Width);
  c.Height = ReadInt("Height", c.Height);
  int32_t value = 0;
  c.HasLeft = TryStrToInt(Trim(ReadIniString(EmberDialogIniFile, kSection, "Left")), value);
  if (c.HasLeft) c.Left = value;
  c.HasTop = TryStrToInt(Trim(ReadIniString(EmberDialogIniFile, kSection, "Top")), value);
  if (c.HasTop) c.Top = value;
  c.WindowsState = ReadInt("WindowsState", c.WindowsState);
  for (size_t i = 0; i < c.Col.size(); ++i) c.Col[i] = ReadInt("Col" + std::to_string(i), c.Col[i]);
  for (size_t i = 0; i < c.ColMod.size(); ++i) c.ColMod[i] = ReadInt("ColMod" + std::to_string(i), c.ColMod[i]);
  for (size_t i = 0; i < c.ColPro.size(); ++i) c.ColPro[i] = ReadInt("ColPro" + std::to_string(i), c.ColPro[i]);
  return c;
}

void SaveDialogCoordinates(const TEmberDialogCoordinates& coordinates, bool normal) {
  if (normal) {
    WriteInt("Width", coordinates.Width);
    WriteInt("Height", coordinates.Height);
    WriteInt("Left", coordinates.Left);
    WriteInt("Top", coordinates.Top);
  }
  WriteInt("WindowsState", coordinates.WindowsState);
}

void SaveColumnWidths(int32_t page, const std::vector<int32_t>& widths) {
  for (size_t i = 0; i < widths.size(); ++i) {
    int32_t column = static_cast<int32_t>(i);
    if (page == EmberPageCallStack)
      WriteInt("Col" + std::to_string(column), widths[i]);
    else if (page == EmberPageModules)
      WriteInt("ColMod" + std::to_string(ModuleColumnKey(column)), widths[i]);
    else if (page == EmberPageProcesses)
      WriteInt("ColPro" + std::to_string(column), widths[i]);
  }
}

// --- Mailslot

namespace {

uint32_t ParentProcessId() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  uint32_t parent = 0;
  DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ProcessID == self) {
      parent = entry.th32ParentProcessID;
      break;
    }
  CloseHandle(snapshot);
  return parent;
}

}  // namespace

bool WriteMailslotMessage(const std::string& name, const TEmberSourceMessage& message) {
  uint32_t id = 0;
  uint32_t parent = ParentProcessId();
  if (parent != 0 && IsDevelopmentEnvironmentProcess(parent)) {
    id = parent;
    using AllowProc = BOOL(WINAPI*)(DWORD);
    auto allow = reinterpret_cast<AllowProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "AllowSetForegroundWindow")));
    if (allow) allow(id);
  }
  std::string path = "\\\\.\\mailslot\\" + name + std::to_string(id);
  HANDLE slot = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (slot == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(slot, message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
  CloseHandle(slot);
  return ok && written == message.size();
}

void SendSourceLocation(int32_t line, const std::string& unitName, const std::string& className,
                        const std::string& procedureName, int32_t lineOffset, double buildDate) {
  WriteMailslotMessage("EmberLog", BuildSourceLocationMessage(line, unitName, className, procedureName, lineOffset,
                                                              buildDate));
}

std::string GetListItemText(uintptr_t listView, int32_t item, int32_t column) {
  char buffer[257] = {};
  LVITEMA query{};
  query.iSubItem = column;
  query.pszText = buffer;
  query.cchTextMax = 256;
  SendMessageA(reinterpret_cast<HWND>(listView), LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
               reinterpret_cast<LPARAM>(&query));
  return buffer;
}

// --- The dialog

namespace {

using namespace ember_dialogs;

enum : int {
  kText = 101,
  kOk = 102,
  kTerminate = 103,
  kDetails = 104,
  kHelp = 105,
  kTabs = 1000,
  kSeparator = 2000,
  kSendBox = 3000,
  kShotBox = 4000,
  kCopyBox = 5000,
  kPageCaption = 102,
  kPageContent = 103
};


struct TDetailedDialog {
  TDialogCommon Common;
  bool Expanded = false;
  int ShowState = 1;
  RECT Normal{};           // the last size and position of the expanded dialog in its normal state
  bool SizeRecorded = false;
  int ExtraHeight = 0;
  bool ShotBox = false, CopyBox = false, SupportLink = false;
  std::vector<int32_t> Pages;
  HWND Page = nullptr;
  HBRUSH White = nullptr;
  HBITMAP Error = nullptr;
  RECT LinkRect{};
  bool OverLink = false;
  bool Ready = false;      // WM_SIZE lays out only after the start
};

struct TPageStart {
  int32_t Page;
  TDetailedDialog* Owner;
};

struct TPage {
  int32_t Page = EmberPageGeneral;
  TDetailedDialog* Owner = nullptr;
  std::unique_ptr<TListViewItems> List;
};


HWND ListOf(HWND page) { return GetDlgItem(page, kPageContent); }

// --- Pages

void FillRichPage(HWND page, TPage& data) {
  TDialogFonts& fonts = data.Owner->Common.Fonts;
  HWND content = GetDlgItem(page, kPageContent);
  SendMessageA(content, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.Fixed), FALSE);
  SetRichEditBackground(reinterpret_cast<uintptr_t>(content), 0xFFFFFF);
  TEmberRTFFont font{DialogCharset(), DialogFixedFace(), DialogFontSize()};
  const TEmberReportPieces& pieces = ReportPieces();
  std::string rtf;
  if (data.Page == EmberPageGeneral) {
    rtf = RenderReportHeadRTF(pieces.ReportHeadText, font);
  } else if (data.Page == EmberPageAssembler) {
    rtf = RenderAssemblerRTF(pieces.ReportAssemblerText, font);
  } else {
    // Twips per pixel at the screen's 96 dots per inch.
    int tabStop = 15 * MeasureTextWidth(page, fonts.Fixed, std::string(21, '-'));
    rtf = RenderCPURTF(pieces.ReportCPUText, font, tabStop);
  }
  StreamRTFIntoRichEdit(reinterpret_cast<uintptr_t>(content), rtf);
}

void AddColumns(HWND list, int32_t firstText, const std::vector<int32_t>& widths, const std::vector<int>& rightAligned) {
  for (size_t i = 0; i < widths.size(); ++i) {
    bool right = false;
    for (int column : rightAligned)
      if (column == static_cast<int>(i)) right = true;
    AddListColumn(reinterpret_cast<uintptr_t>(list), DialogText(firstText + static_cast<int32_t>(i)), widths[i], right,
                  static_cast<int32_t>(i));
  }
}

int32_t ImageOfEntry(const TEmberStackItem& item, const std::string& moduleName) {
  return item.Kind >= 3 ? EmberImageSource : ModuleKind(moduleName);
}

void FillListPage(HWND page, TPage& data) {
  HWND list = ListOf(page);
  SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(data.Owner->Common.Fonts.Fixed2), FALSE);
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  SendMessageA(list, LVM_SETBKCOLOR, 0, 0xFFFFFF);
  SendMessageA(list, LVM_SETTEXTBKCOLOR, 0, 0xFFFFFF);
  SendMessageA(list, LVM_SETTEXTCOLOR, 0, 0);
  TEmberDialogCoordinates c = LoadDialogCoordinates();
  const TEmberLibraryGlobals& library = EmberLibrary();
  const TEmberModulesList* modules = library.CurrentException.ModulesList;
  const TEmberProcessesList* processes = library.ProcessesList.get();
  if (data.Page == EmberPageCallStack) {
    AddColumns(list, 92, std::vector<int32_t>(c.Col.begin(), c.Col.end()), {5});
  } else if (data.Page == EmberPageModules) {
    std::vector<int32_t> widths;
    for (int32_t column = 0; column < 7; ++column) widths.push_back(c.ColMod[static_cast<size_t>(ModuleColumnKey(column))]);
    AddColumns(list, 126, widths, {3, 4});
  } else {
    AddColumns(list, 133, std::vector<int32_t>(c.ColPro.begin(), c.ColPro.end()), {});
  }
  data.List = std::make_unique<TListViewItems>(reinterpret_cast<uintptr_t>(list));
  TListViewItems& rows = *data.List;
  if (data.Page == EmberPageCallStack) {
    uint8_t detail = GetCallStackDetailFlags(DialogOptions() ? DialogOptions()->CallStackOptions() : 0xFF);
    for (const TEmberListedEntry& entry : ListCallStack(library.CurrentException.CallStack, detail)) {
      const TEmberStackItem& item = *entry.Item;
      if (entry.OpensBlock) {
        if (!entry.FirstBlock) rows.AddRow(std::vector<std::string>(6), -1, EmberRowGrey, false, std::string());
        int32_t colour = item.IsLeak                                      ? EmberRowGrey
                         : entry.Kind == TEmberBlockKind::ExceptionThread ? EmberRowRed
                         : entry.Kind == TEmberBlockKind::RunningThread   ? EmberRowBlue
                                                                          : EmberRowGrey;
        rows.AddRow({}, -1, colour, true, BlockCaption(item, entry.Kind, false, DialogOptions(), library.ThreadsList.get()));
      }
      std::vector<std::string> cells = CallStackEntryCells(item);
      rows.AddRow(cells, ImageOfEntry(item, cells[1]), EmberRowGrey, false, std::string());
    }
  } else if (data.Page == EmberPageModules && modules) {
    for (int32_t i = 0; i < modules->Count(); ++i) {
      const TEmberModuleInfo* module = modules->GetItem(i);
      if (!module) continue;
      std::vector<std::string> cells = ModuleRowCells(*module);
      rows.AddRow(cells, ModuleKind(cells[1]), EmberRowGrey, false, std::string());
    }
  } else if (data.Page == EmberPageProcesses && processes) {
    for (int32_t i = 0; i < processes->Count(); ++i) {
      const TEmberProcessInfo* process = processes->GetItem(i);
      if (!process) continue;
      std::vector<std::string> cells = ProcessRowCells(*process);
      rows.AddRow(cells, ModuleKind(cells[1]), EmberRowGrey, false, std::string());
    }
  }
}

void SaveListColumns(HWND page, const TPage& data) {
  HWND list = ListOf(page);
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  int count = header ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
  std::vector<int32_t> widths;
  for (int i = 0; i < count; ++i)
    widths.push_back(static_cast<int32_t>(SendMessageA(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(i), 0)));
  SaveColumnWidths(data.Page, widths);
}

// A call-stack line activated: its source location goes to the development environment; a row
// without a line toggles its group.
void ActivateCallStackRow(HWND page, TPage& data, int32_t item) {
  uintptr_t list = reinterpret_cast<uintptr_t>(ListOf(page));
  std::string lineCell = GetListItemText(list, item, 5);
  int32_t line = 0, offset = -1;
  if (Trim(lineCell).empty() || !ParseLineCell(lineCell, line, offset)) {
    data.List->ToggleGroup(item, 0, 0, false);
    return;
  }
  uint32_t address = static_cast<uint32_t>(std::strtoul(Trim(GetListItemText(list, item, 0)).c_str(), nullptr, 16));
  double buildDate = 0;
  if (const TEmberModuleInfo* module = GetModuleInfoByAddr(address)) buildDate = module->BuildDate;
  SendSourceLocation(line, GetListItemText(list, item, 2), GetListItemText(list, item, 3),
                     GetListItemText(list, item, 4), offset, buildDate);
}

INT_PTR PageDialog(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const auto* start = reinterpret_cast<const TPageStart*>(lParam);
    auto* data = new TPage;
    data->Page = start->Page;
    data->Owner = start->Owner;
    SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(data));
    static const int32_t kCaptions[] = {6, 8, 10, 12, 14, 16};
    SetDlgItemTextA(page, kPageCaption, DialogText(kCaptions[data->Page]).c_str());
    SetItemFont(page, kPageCaption, data->Owner->Common.Fonts.Normal);
    if (data->Page == EmberPageGeneral || data->Page == EmberPageAssembler || data->Page == EmberPageCPU)
      FillRichPage(page, *data);
    else
      FillListPage(page, *data);
    return FALSE;
  }
  TPage* data = DialogData<TPage>(page);
  if (!data) return FALSE;
  switch (message) {
    case WM_NCDESTROY:
      SetWindowLongPtrA(page, DWLP_USER, 0);
      delete data;
      return FALSE;
    case WM_DESTROY:
      if (data->List) {
        SaveListColumns(page, *data);
        data->List.reset();
      }
      return FALSE;
    case WM_DRAWITEM:
      return data->List && data->List->DrawRow(reinterpret_cast<const void*>(lParam)) ? TRUE : FALSE;
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(data->Owner->White);
    case WM_CTLCOLORSTATIC:
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == kPageCaption) {
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<INT_PTR>(data->Owner->Common.CustomLook ? data->Owner->Common.Background
                                                                         : data->Owner->White);
      }
      return reinterpret_cast<INT_PTR>(data->Owner->White);
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (!data->List || header->idFrom != static_cast<UINT_PTR>(kPageContent) || data->Page != EmberPageCallStack)
        return FALSE;
      const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(lParam);
      if (header->code == NM_CLICK && activate->iItem >= 0) {
        data->List->ToggleGroup(activate->iItem, activate->ptAction.x, activate->ptAction.y, true);
      } else if (header->code == LVN_ITEMACTIVATE && activate->iItem >= 0) {
        ActivateCallStackRow(page, *data, activate->iItem);
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK PageDialogProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  return Guarded(page, false, [&] { return PageDialog(page, message, wParam, lParam); });
}

void FitPage(HWND window, TDetailedDialog& dialog) {
  if (!dialog.Page) return;
  HWND tabs = GetDlgItem(window, kTabs);
  RECT area;
  GetClientRect(tabs, &area);
  SendMessageA(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  int width = area.right - area.left, height = area.bottom - area.top;
  MoveWindow(dialog.Page, area.left - 3, area.top - 1, width, height, TRUE);
  MoveWindow(GetDlgItem(dialog.Page, kPageCaption), 3, 3, width - 8, 16, TRUE);
  MoveWindow(GetDlgItem(dialog.Page, kPageContent), 3, 20, width - 8, height - 24, TRUE);
}

void ShowTabPage(HWND window, TDetailedDialog& dialog, int32_t tab) {
  if (dialog.Page) DestroyWindow(dialog.Page);
  dialog.Page = nullptr;
  if (tab < 0 || tab >= static_cast<int32_t>(dialog.Pages.size())) return;
  TPageStart start{dialog.Pages[static_cast<size_t>(tab)], &dialog};
  // A page that cannot be made leaves the tab empty.
  dialog.Page = CreateDialogParamA(reinterpret_cast<HINSTANCE>(DialogResourceModule()), DetailedPageTemplate(start.Page),
                                   GetDlgItem(window, kTabs), PageDialogProc, reinterpret_cast<LPARAM>(&start));
  FitPage(window, dialog);
  if (dialog.Page) ShowWindow(dialog.Page, SW_SHOW);
}

// --- Layout

bool OfferTerminate() { return ShouldOfferTerminate(); }

void LayOut(HWND window, TDetailedDialog& dialog) {
  RECT client;
  GetClientRect(window, &client);
  int cw = client.right, ch = client.bottom;
  const TDialogFonts& fonts = dialog.Common.Fonts;
  int buttonWidth = 0;
  for (int32_t index = 17; index <= 21; ++index) {
    int width = ButtonWidth(window, fonts.Normal, DialogText(index) + "  ");
    if (width > buttonWidth) buttonWidth = width;
  }
  int y = ch - 32 - dialog.ExtraHeight;
  if (dialog.Expanded) MoveWindow(GetDlgItem(window, kText), 48, 8, cw - 56 > 0 ? cw - 56 : 0, 36, TRUE);
  MoveWindow(GetDlgItem(window, kTabs), 5, 48, cw - 10, y - 6 - 48 > 0 ? y - 6 - 48 : 0, TRUE);
  bool terminate = OfferTerminate();
  bool help = (CurrentDialogFlags() & 0x200) != 0;
  MoveWindow(GetDlgItem(window, kTerminate), 5, y, buttonWidth, 25, TRUE);
  ShowItem(window, kTerminate, terminate);
  int helpLeft = terminate ? buttonWidth + 13 : 5;
  MoveWindow(GetDlgItem(window, kHelp), helpLeft, y, buttonWidth, 25, TRUE);
  ShowItem(window, kHelp, help);
  int okLeft = (cw - buttonWidth) / 2;
  int leftEnd = help ? helpLeft + buttonWidth : terminate ? 5 + buttonWidth : 0;
  if (okLeft < leftEnd + 8 && leftEnd > 0) okLeft = leftEnd + 8;
  MoveWindow(GetDlgItem(window, kOk), okLeft, y, buttonWidth, 25, TRUE);
  MoveWindow(GetDlgItem(window, kDetails), cw - 5 - buttonWidth, y, buttonWidth, 25, TRUE);
  ShowItem(window, kDetails, (CurrentDialogFlags() & 0x08) != 0 && !EmberDialogState().Reshown);
  int half = (cw - 8) / 2;
  MoveWindow(GetDlgItem(window, kSendBox), 4, y + 34, half, 16, TRUE);
  MoveWindow(GetDlgItem(window, kCopyBox), cw - half - 4, y + 34, half, 16, TRUE);
  MoveWindow(GetDlgItem(window, kShotBox), 23, y + 50, cw / 2, 16, TRUE);
  ShowItem(window, kSeparator, false);
  if (dialog.SupportLink) {
    std::string link = DialogText(25);
    int width = MeasureTextWidth(window, fonts.UnderlinedBold, link);
    int top = dialog.CopyBox ? y + 50 : y + 34;
    dialog.LinkRect = RECT{cw - 4 - width, top, cw - 4, top + 13};
  }
  if (dialog.Page) FitPage(window, dialog);
}

void InvalidateAroundPage(HWND window, TDetailedDialog& dialog) {
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  RECT client;
  GetClientRect(window, &client);
  HRGN all = CreateRectRgnIndirect(&client);
  CombineRgn(region, all, nullptr, RGN_COPY);
  if (dialog.Page && IsWindowVisible(dialog.Page)) {
    RECT page;
    GetWindowRect(dialog.Page, &page);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&page), 2);
    HRGN hole = CreateRectRgnIndirect(&page);
    CombineRgn(region, region, hole, RGN_DIFF);
    DeleteObject(hole);
  }
  InvalidateRgn(window, region, TRUE);
  DeleteObject(all);
  DeleteObject(region);
}

void SaveCoordinates(TDetailedDialog& dialog) {
  if (!dialog.SizeRecorded) return;
  TEmberDialogCoordinates c;
  c.Width = dialog.Normal.right - dialog.Normal.left;
  c.Height = dialog.Normal.bottom - dialog.Normal.top - dialog.ExtraHeight;
  c.Left = dialog.Normal.left;
  c.Top = dialog.Normal.top;
  c.WindowsState = dialog.ShowState;
  SaveDialogCoordinates(c, dialog.ShowState == 1);
}

bool Inside(const RECT& rect, const TEmberRect& area) {
  return rect.left >= area.Left && rect.top >= area.Top && rect.right <= area.Right && rect.bottom <= area.Bottom;
}

void SetDetailsMode(HWND window, TDetailedDialog& dialog, bool expanded) {
  dialog.Expanded = expanded;
  const TDialogFonts& fonts = dialog.Common.Fonts;
  TEmberRect area = DialogWorkArea();
  HWND tabs = GetDlgItem(window, kTabs);
  if (expanded) {
    SetDlgItemTextA(window, kText, DialogText(4).c_str());
    TEmberDialogCoordinates c = LoadDialogCoordinates();
    int width = c.Width, height = c.Height + dialog.ExtraHeight;
    int centredLeft = area.Left + (area.Right - area.Left - width) / 2;
    int centredTop = area.Top + (area.Bottom - area.Top - height) / 2;
    RECT rect{c.HasLeft ? c.Left : centredLeft, c.HasTop ? c.Top : centredTop, 0, 0};
    rect.right = rect.left + width;
    rect.bottom = rect.top + height;
    if (!Inside(rect, area)) {
      rect = RECT{centredLeft, centredTop, centredLeft + width, centredTop + height};
    }
    // A dialog shown minimised never paints and would count as not shown: it opens normal.
    int state = c.WindowsState == 3 ? 3 : 1;
    ShowWindow(tabs, SW_SHOWNA);
    dialog.Normal = rect;
    dialog.SizeRecorded = true;
    dialog.ShowState = state;
    SetWindowPos(window, nullptr, rect.left, rect.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetNormalPosition(reinterpret_cast<uintptr_t>(window), TEmberRect{rect.left, rect.top, rect.right, rect.bottom});
    if (state == 3) SetWindowShowState(reinterpret_cast<uintptr_t>(window), SW_SHOWMAXIMIZED);
    if (dialog.Page) ShowWindow(dialog.Page, SW_SHOWNA);
  } else {
    if (IsZoomed(window)) ShowWindow(window, SW_RESTORE);
    std::string message = GetDialogMessage();
    SetDlgItemTextA(window, kText, message.c_str());
    int frameX = GetSystemMetrics(SM_CXFRAME), frameY = GetSystemMetrics(SM_CYFRAME);
    int cap = 640 - (2 * (frameX - 1) + 60);
    int widest = MeasureTextWidth(window, fonts.Normal, DialogText(22) + "    " + DialogText(24));
    std::vector<int> widths;
    for (const std::string& line : SplitLines(message)) {
      widths.push_back(MeasureTextWidth(window, fonts.Normal, line));
      if (widths.back() > widest) widest = widths.back();
    }
    if (widths.empty()) widths.push_back(0);
    int textWidth = widest + 16;
    if (textWidth > cap) textWidth = cap;
    int lines = 0;
    for (int w : widths) lines += w > textWidth ? (w + textWidth - 1) / textWidth : 1;
    int textHeight = lines * FontLineHeight(window, fonts.Normal);
    int width = textWidth + 2 * (frameX - 1) + 60;
    if (width < 340) width = 340;
    MoveWindow(GetDlgItem(window, kText), 48, 8, textWidth, textHeight, TRUE);
    int height = 2 * (frameY - 1) + 88 + dialog.Common.CaptionHeight + (textHeight > 39 ? textHeight - 39 : 0) +
                 dialog.ExtraHeight;
    ShowWindow(tabs, SW_HIDE);
    if (dialog.Page) ShowWindow(dialog.Page, SW_HIDE);
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CenterWindowInRect(reinterpret_cast<uintptr_t>(window), area);
  }
  std::string details = expanded ? "<< " + DialogText(20) : DialogText(20) + " >>";
  SetDlgItemTextA(window, kDetails, details.c_str());
  for (int id : {kOk, kTerminate, kDetails, kHelp}) {
    HWND button = GetDlgItem(window, id);
    LONG style = GetWindowLongA(button, GWL_STYLE);
    style = dialog.Common.CustomLook ? (style | BS_FLAT) : (style & ~BS_FLAT);
    SetWindowLongA(button, GWL_STYLE, style);
  }
  LayOut(window, dialog);
}

// --- Messages

void AddTabs(HWND window, TDetailedDialog& dialog) {
  HWND tabs = GetDlgItem(window, kTabs);
  static const int32_t kLabels[] = {5, 7, 9, 11, 13, 15};
  dialog.Pages = DetailedDialogPages(CurrentLogOptions());
  for (size_t tab = 0; tab < dialog.Pages.size(); ++tab) {
    std::string label = DialogText(kLabels[dialog.Pages[tab]]);
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(label.c_str());
    SendMessageA(tabs, TCM_INSERTITEMA, tab, reinterpret_cast<LPARAM>(&item));
  }
  SendMessageA(tabs, WM_SETFONT, reinterpret_cast<WPARAM>(dialog.Common.Fonts.Normal), FALSE);
}

void InitDetailed(HWND window, TDetailedDialog& dialog) {
  TEmberDialogState& state = EmberDialogState();
  const TEmberModuleOptions* options = DialogOptions();
  dialog.Common.Start(window, CustomLookOn(), false);
  bool canSend = CanSendReport();
  dialog.ShotBox = options && (options->SendOptions() & 0x10) && canSend && (CurrentDialogFlags() & 0x100);
  dialog.CopyBox = (CurrentDialogFlags() & 0x04) != 0;
  dialog.SupportLink = options && !Trim(options->SupportURL()).empty();
  dialog.ExtraHeight = CheckBoxRowsHeight(canSend, dialog.ShotBox, dialog.CopyBox, dialog.SupportLink);
  state.SendAsked = true;
  state.CopyToClipboard = true;
  SetForegroundWindow(window);
  bool expanded = (CurrentDialogFlags() & 0x10) != 0 || state.Reshown;

  dialog.Error = LoadDialogBitmap("EL_ERROR");
  if (dialog.Common.CustomLook) {
    dialog.Common.BackgroundColour = 0xC8D0D4;
    dialog.Common.Background = CreateSolidBrush(dialog.Common.BackgroundColour);
    dialog.Common.OwnBackground = true;
  }
  dialog.White = CreateSolidBrush(0xFFFFFF);

  const TDialogFonts& fonts = dialog.Common.Fonts;
  SetDlgItemTextA(window, kTerminate, DialogText(options && options->TerminateAction() == 1 ? 18 : 19).c_str());
  SetDlgItemTextA(window, kHelp, DialogText(21).c_str());
  SetDlgItemTextA(window, kOk, DialogText(17).c_str());
  SetDlgItemTextA(window, kSendBox, DialogText(22).c_str());
  SetDlgItemTextA(window, kShotBox, DialogText(23).c_str());
  SetDlgItemTextA(window, kCopyBox, DialogText(24).c_str());
  for (int id : {kText, kTerminate, kHelp, kOk, kDetails, kSendBox, kShotBox, kCopyBox}) SetItemFont(window, id, fonts.Normal);
  dialog.Common.CaptionText = DialogText(3);
  SetWindowTextA(window, dialog.Common.CaptionText.c_str());

  CheckDlgButton(window, kSendBox, (CurrentDialogFlags() & 0x01) ? BST_CHECKED : BST_UNCHECKED);
  EnableWindow(GetDlgItem(window, kShotBox), IsChecked(window, kSendBox));
  if (!canSend) {
    ShowItem(window, kSendBox, false);
    ShowItem(window, kShotBox, false);
  }
  if (!dialog.ShotBox) ShowItem(window, kShotBox, false);
  CheckDlgButton(window, kShotBox, state.ScreenshotAsked && (CurrentDialogFlags() & 0x02) ? BST_CHECKED : BST_UNCHECKED);
  if (!dialog.CopyBox) {
    CheckDlgButton(window, kCopyBox, BST_UNCHECKED);
    ShowItem(window, kCopyBox, false);
  }

  AddTabs(window, dialog);
  int32_t first = FirstDetailedTab(CurrentLogOptions(), options ? options->FirstDialogTab() : 0);
  SendDlgItemMessageA(window, kTabs, TCM_SETCURSEL, static_cast<WPARAM>(first), 0);
  SetFocus(GetDlgItem(window, kOk));
  dialog.Ready = true;
  ShowTabPage(window, dialog, first);
  SetDetailsMode(window, dialog, expanded);
  StartFirstPaintCheck(dialog.Common);
  StartAutoCloseTimer(dialog.Common);
  StartForegroundKeeper(dialog.Common);
}

void PaintDetailed(HWND window, TDetailedDialog& dialog) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  EmberDialogState().Shown = true;
  if (dialog.Error) {
    SIZE size = BitmapSize(dialog.Error);
    DrawTransparentBitmap(reinterpret_cast<uintptr_t>(dc), reinterpret_cast<uintptr_t>(dialog.Error), 8, 8, size.cx, size.cy);
  }
  if (dialog.SupportLink) {
    HGDIOBJ old = SelectObject(dc, dialog.Common.Fonts.UnderlinedBold);
    SetTextColor(dc, 0x800000);
    SetBkMode(dc, TRANSPARENT);
    std::string link = DialogText(25);
    TextOutA(dc, dialog.LinkRect.left, dialog.LinkRect.top, link.c_str(), static_cast<int>(link.size()));
    SelectObject(dc, old);
  }
  EndPaint(window, &paint);
}

void DestroyDetailed(HWND window, TDetailedDialog& dialog) {
  TEmberDialogState& state = EmberDialogState();
  dialog.Common.Finish();
  bool send = IsChecked(window, kSendBox), shot = IsChecked(window, kShotBox), copy = IsChecked(window, kCopyBox);
  state.SendAsked = state.SendAsked && send;
  state.ScreenshotAsked = shot;
  state.CopyToClipboard = state.CopyToClipboard && copy;
  if (TEmberModuleOptions* options = DialogOptions()) {
    uint16_t flags = options->DialogFlags();
    flags = static_cast<uint16_t>(send ? flags | 0x01 : flags & ~0x01);
    flags = static_cast<uint16_t>(shot ? flags | 0x02 : flags & ~0x02);
    options->SetDialogFlags(flags);
  }
  if (dialog.Page) DestroyWindow(dialog.Page);
  dialog.Page = nullptr;
  if (dialog.Expanded) SaveCoordinates(dialog);
  if (dialog.White) DeleteObject(dialog.White);
  if (dialog.Error) DeleteObject(dialog.Error);
  dialog.White = nullptr;
  dialog.Error = nullptr;
}

INT_PTR DetailedDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TEmberDialogState& state = EmberDialogState();
  TDetailedDialog* dialog = nullptr;
  INT_PTR result = FALSE;
  if (DialogPrologue(window, message, wParam, lParam, dialog, result)) return result;
  if (message == WM_INITDIALOG) {
    InitDetailed(window, *dialog);
    return FALSE;
  }
  switch (message) {
    case WM_SIZE:
      if (!dialog->Ready) return FALSE;
      if (dialog->Expanded) {
        dialog->ShowState = wParam == SIZE_MAXIMIZED ? 3 : wParam == SIZE_MINIMIZED ? 6 : 1;
        if (dialog->ShowState == 1) {
          RECT rect;
          GetWindowRect(window, &rect);
          dialog->Normal.right = dialog->Normal.left + (rect.right - rect.left);
          dialog->Normal.bottom = dialog->Normal.top + (rect.bottom - rect.top);
          dialog->SizeRecorded = true;
        }
      }
      if (wParam != SIZE_MINIMIZED) {
        LayOut(window, *dialog);
        InvalidateAroundPage(window, *dialog);
      }
      return TRUE;
    case WM_MOVE:
      if (dialog->Ready && dialog->Expanded && !IsZoomed(window) && !IsIconic(window)) {
        RECT rect;
        GetWindowRect(window, &rect);
        OffsetRect(&dialog->Normal, rect.left - dialog->Normal.left, rect.top - dialog->Normal.top);
      }
      return TRUE;
    case WM_PAINT:
      PaintDetailed(window, *dialog);
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == static_cast<UINT_PTR>(kTabs) && header->code == TCN_SELCHANGE)
        ShowTabPage(window, *dialog, static_cast<int32_t>(SendDlgItemMessageA(window, kTabs, TCM_GETCURSEL, 0, 0)));
      return FALSE;
    }
    case WM_MOUSEMOVE:
      dialog->OverLink = TrackLinkHover(window, lParam, dialog->SupportLink, dialog->LinkRect);
      return TRUE;
    case WM_SETCURSOR:
      return SetLinkCursor(window, wParam, dialog->OverLink) ? TRUE : FALSE;
    case WM_LBUTTONUP:
      if (dialog->SupportLink && PtInRect(&dialog->LinkRect, MessagePoint(lParam)) && DialogOptions()) {
        SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        ShellExecuteA(nullptr, "open", Trim(DialogOptions()->SupportURL()).c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
      }
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kDetails:
          if (dialog->Expanded) SaveCoordinates(*dialog);
          InvalidateRect(window, nullptr, TRUE);
          SetDetailsMode(window, *dialog, !dialog->Expanded);
          return TRUE;
        case kOk:
          state.DialogType = EmberDialogNone;
          EndChosenDialog(window);
          return TRUE;
        case kTerminate:
          state.DialogType = EmberDialogNone;
          state.RestartRequested = true;
          EndChosenDialog(window);
          return TRUE;
        case kHelp:
          if (CustomButtonClosesDialog()) {
            state.DialogType = EmberDialogNone;
            EndChosenDialog(window);
          }
          return TRUE;
        case kSendBox:
          EnableWindow(GetDlgItem(window, kShotBox), IsChecked(window, kSendBox));
          return TRUE;
        case IDCANCEL:
          state.SendAsked = false;
          state.SendCancelled = true;
          state.CopyToClipboard = false;
          state.DialogType = EmberDialogNone;
          EndChosenDialog(window);
          return TRUE;
        default:
          return FALSE;
      }
    case WM_CLOSE:
      state.DialogType = EmberDialogNone;
      EndChosenDialog(window);
      return TRUE;
    case WM_DESTROY:
      DestroyDetailed(window, *dialog);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

namespace ember_dialogs {

INT_PTR CALLBACK DetailedDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Guarded(window, true, [&] { return DetailedDialog(window, message, wParam, lParam); });
}

}  // namespace ember_dialogs
