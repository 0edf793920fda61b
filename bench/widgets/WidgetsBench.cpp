// The scene widgets beside Wine's own controls, each operation timed on both in the same run:
// setting 1 MB of text into a memo (EDIT and rich edit), a keystroke and its repaint in 100 KB
// and 1 MB of text (word wrap on), 10,000 lines added one by one (rich edit: appended at its end),
// adding 10,000 list items (LISTBOX) and 10,000 tree nodes
// (tree view), the last two also at a quarter of the size to show the growth is linear, and 300
// and 3,000 lines added one by one to the Items of a string combo box and a combo text box
// (COMBOBOX), the drop-down closed and (300) open; lines of a string list box and of the combos,
// shown and hidden, added (also sorted), inserted at the front and deleted from the front, 3,000
// and 30,000 times (LISTBOX, COMBOBOX); a shown string list box of 3,000, 30,000 and 100,000
// lines painted after each change to it and after each mouse move over it, and the same filled
// in one update and left so, pointed at and focused, as in the states a user leaves it in
// (scrolled through page by page, a log view, rows of a height that does not add up), and a row
// the program made appended to a shown list (LISTBOX).
// Items are made without a component owner (the list's tree frees them), as the lists do
// themselves.
// Beside each keystroke: the edit alone; beside each widget: a repaint of a 10 x 10 area of it.
// Windows only; run under Xvfb. Prints, asserts nothing. With the argument "lists" only the
// lines changed in the lists are timed, with "painted" only the shown list painted after each
// change, with "pointed" only the shown list pointed at and focused.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "scene/core/vg_resources.h"
#include "scene/core/win32/vg_gdiplus.h"
#include "scene/core/win32/vg_scene.h"
#include "scene/widgets/vg_listbox.h"
#include "scene/widgets/vg_memo.h"
#include "scene/widgets/vg_textbox.h"
#include "scene/widgets/vg_treeview.h"
#include "WidgetsBenchSupport.h"

namespace {

constexpr int kWidth = 640, kHeight = 480;

std::u16string Text(size_t bytes) {
  std::u16string text;
  const std::u16string line = u"The quick brown fox jumps over the lazy dog, again and again, line ";
  for (int i = 0; text.size() * 2 < bytes; ++i) text += line + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) + u"\r\n";
  return text;
}

HWND Child(HWND parent, const wchar_t* cls, DWORD style) {
  return CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, kWidth, kHeight, parent, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

// A window of the system's that paints nothing: its WM_PAINT only validates.
LRESULT CALLBACK BlankProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_PAINT) return DefWindowProcW(wnd, msg, wParam, lParam);
  PAINTSTRUCT ps;
  BeginPaint(wnd, &ps);
  EndPaint(wnd, &ps);
  return 0;
}

// Milliseconds a repaint of a 10 x 10 area of such a window takes: the window system's share of
// any repaint.
double BlankRepaintMs(HWND host, int runs = 200) {
  WNDCLASSW wc{};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = BlankProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KblBenchBlank";
  RegisterClassW(&wc);
  HWND blank = Child(host, wc.lpszClassName, WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
  const RECT r{100, 100, 110, 110};
  const auto paint = [&] {
    InvalidateRect(blank, &r, FALSE);
    UpdateWindow(blank);
  };
  paint();
  Settle();
  const double ms = Seconds([&] {
                      for (int i = 0; i < runs; ++i) paint();
                    }) * 1000 / runs;
  DestroyWindow(blank);
  return ms;
}

void Row(const char* what, double ours, const char* reference, double theirs) {
  std::printf("%-44s scene %9.2f ms   %-10s %9.2f ms\n", what, ours, reference, theirs);
  std::fflush(stdout);  // long runs show their progress
}

void BenchOwnedRows(HWND host, TvgBackground* root);

}  // namespace

int main(int argc, char** argv) {
  // "lists": only the lines changed in the lists.
  const bool listsOnly = argc > 1 && std::string(argv[1]) == "lists";
  try {
    StartGdiPlus();
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    LoadLibraryW(L"msftedit.dll");
    HWND host = CreateWindowExW(0, L"STATIC", L"bench", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    TvgBackground* root = nullptr;
    TvgScene* scene = MakeBenchScene(host, kWidth, kHeight, root);
    // The scene paints what its objects invalidated when the window is told to.
    const auto repaint = [&] { UpdateWindow(scene->GetHandle()); };
    if (argc > 1 && std::string(argv[1]) == "owned") {
      BenchOwnedRows(host, root);
      delete scene;
      DestroyWindow(host);
      StopGdiPlus();
      return 0;
    }
    // A memo filling the scene, in the default style.
    const auto newMemo = [&](bool wrap) {
      auto* memo = new TvgMemo(nullptr);
      memo->SetBounds(0, 0, kWidth, kHeight);
      memo->SetParent(root);
      memo->ApplyResource();
      memo->SetWordWrap(wrap);
      return memo;
    };
    // --- Lines changed one by one in the Items of a string list box and of the combos (closed),
    // each shown and hidden (timed alone with "lists"): added, added to a sorted list (also lines
    // of ten texts only, many alike) or to sorted lines, inserted at the front and deleted from the
    // front, beside the system's list box and combo box doing the same. The changes whose cost must
    // follow what they change also 30,000 times, with the growth from 3,000 printed.
    const auto benchLines = [&] {
      enum TLinesOp { kAdd, kSortedList, kSortedFew, kSortedLines, kInsertFront, kDeleteFront };
      // "line 00000" .. in a scattered order, no two alike (sorted lines drop a duplicate); of ten
      // texts only for kSortedFew.
      const auto lineText = [](TLinesOp op, int i) {
        char digits[6];
        std::snprintf(digits, sizeof digits, "%05d", op == kSortedFew ? i * 7 % 10 : i * 7919 % 100000);
        return std::u16string(u"line ") + std::u16string(digits, digits + 5);
      };
      const auto changeLines = [&lineText](TvgWideStrings* items, TLinesOp op, int count) {
        for (int i = 0; i < count; ++i) {
          if (op == kInsertFront) items->Insert(0, lineText(op, i));
          else if (op == kDeleteFront) items->Delete(0);
          else items->Add(lineText(op, i));
        }
      };
      // The best of the runs on a list made afresh for each; `make` answers the list and its Items.
      const auto linesMs = [&](TLinesOp op, int count, const std::function<std::pair<TvgListBox*, TvgWideStrings*>()>& make,
                               const std::function<void()>& free) {
        TvgWideStrings* items = nullptr;
        const double ms = BestMs(3, [&] {
          free();
          auto [list, lines] = make();
          items = lines;
          if (op == kSortedList || op == kSortedFew) list->SetSorted(true);
          if (op == kSortedLines) static_cast<TvgWideStringList*>(items)->SetSorted(true);
          if (op == kDeleteFront) {
            items->BeginUpdate();
            for (int i = 0; i < count; ++i) items->Add(lineText(op, i));
            items->EndUpdate();
          }
          repaint();
        }, [&] {
          changeLines(items, op, count);
          repaint();
        });
        free();
        return ms;
      };
      // The system's control of `cls`, sorting when asked, doing the same.
      const auto systemMs = [&](const wchar_t* cls, TLinesOp op, int count) {
        const bool list = cls[0] == L'L';
        const bool sorted = op == kSortedList || op == kSortedFew || op == kSortedLines;
        const DWORD sort = sorted ? (list ? LBS_SORT : CBS_SORT) : 0;
        HWND box = Child(host, cls, WS_VSCROLL | sort | (list ? 0 : CBS_DROPDOWNLIST));
        const UINT reset = list ? LB_RESETCONTENT : CB_RESETCONTENT, add = list ? LB_ADDSTRING : CB_ADDSTRING,
                   insert = list ? LB_INSERTSTRING : CB_INSERTSTRING, remove = list ? LB_DELETESTRING : CB_DELETESTRING;
        const auto send = [&](UINT msg, WPARAM at, int i) {
          const std::u16string text = lineText(op, i);
          const std::wstring textW(text.begin(), text.end());
          SendMessageW(box, msg, at, reinterpret_cast<LPARAM>(textW.c_str()));
        };
        const double ms = BestMs(3, [&] {
          SendMessageW(box, reset, 0, 0);
          if (op == kDeleteFront)
            for (int i = 0; i < count; ++i) send(add, 0, i);
          UpdateWindow(box);
        }, [&] {
          // A shown list box of the system paints its scroll bar at each change (seconds for
          // 3,000 under Wine): it is told to wait, as a program filling one does.
          if (list) SendMessageW(box, WM_SETREDRAW, FALSE, 0);
          for (int i = 0; i < count; ++i) {
            if (op == kInsertFront) send(insert, 0, i);
            else if (op == kDeleteFront) SendMessageW(box, remove, 0, 0);
            else send(add, 0, i);
          }
          if (list) SendMessageW(box, WM_SETREDRAW, TRUE, 0);
          UpdateWindow(box);
        });
        DestroyWindow(box);
        return ms;
      };
      // Our three lists, each shown and hidden: the string list box filling the scene's height, the
      // combos closed, their lists styled by a drop-down before. Shown, each change asks for its
      // repaint, which the scene paints at the end; hidden, the list's own work alone.
      const auto stringListMs = [&](TLinesOp op, int count, bool shown) {
        TvgStringListBox* list = nullptr;
        return linesMs(op, count, [&] {
          list = new TvgStringListBox(nullptr);
          list->SetBounds(0, 0, 300, kHeight);
          list->SetParent(root);
          list->ApplyResource();
          list->SetVisible(shown);
          return std::pair<TvgListBox*, TvgWideStrings*>(list, list->GetItems());
        }, [&] { delete std::exchange(list, nullptr); });
      };
      const auto comboMs = [&]<typename TCombo>(TCombo*, TLinesOp op, int count, bool shown) {
        TCombo* combo = nullptr;
        return linesMs(op, count, [&] {
          combo = new TCombo(nullptr);
          combo->SetBounds(10, 10, 200, 22);
          combo->SetParent(root);
          combo->ApplyResource();
          combo->DropDown();
          combo->DropDown();
          combo->SetVisible(shown);
          return std::pair<TvgListBox*, TvgWideStrings*>(combo->GetListBox(), combo->GetItems());
        }, [&] { delete std::exchange(combo, nullptr); });
      };
      struct TLinesKind {
        const char* name;
        const wchar_t* reference;
        std::function<double(TLinesOp, int, bool)> ms;
      };
      const std::vector<TLinesKind> linesKinds = {
          {"string list box", L"LISTBOX", stringListMs},
          {"string combo box", L"COMBOBOX",
           [&](TLinesOp op, int count, bool shown) { return comboMs(static_cast<TvgStringComboBox*>(nullptr), op, count, shown); }},
          {"combo text box", L"COMBOBOX",
           [&](TLinesOp op, int count, bool shown) { return comboMs(static_cast<TvgComboTextBox*>(nullptr), op, count, shown); }}};
      const std::vector<std::tuple<TLinesOp, const char*, std::vector<int>>> lineCases = {
          {kAdd, "Items.Add", {3000}},
          {kSortedLines, "Items.Add, Items.Sorted", {3000}},
          {kSortedList, "Items.Add, list Sorted", {3000, 30000}},
          {kSortedFew, "Items.Add of ten texts, list Sorted", {3000, 30000}},
          {kInsertFront, "Items.Insert(0)", {3000, 30000}},
          {kDeleteFront, "Items.Delete(0)", {3000, 30000}}};
      for (const auto& [op, name, counts] : lineCases) {
        // Per kind and shown/hidden (and the reference), the figure of the last count.
        std::vector<double> before(linesKinds.size() * 3, 0);
        for (const int count : counts) {
          std::printf("%d %s\n", count, name);
          for (size_t k = 0; k < linesKinds.size(); ++k) {
            const TLinesKind& kind = linesKinds[k];
            const bool list = kind.reference[0] == L'L';
            const double theirs = systemMs(kind.reference, op, count);
            const char* reference = list ? "LISTBOX" : "COMBOBOX";
            const double shown = kind.ms(op, count, true), hidden = kind.ms(op, count, false);
            Row((std::string("  ") + kind.name).c_str(), shown, reference, theirs);
            Row((std::string("  ") + kind.name + ", hidden").c_str(), hidden, reference, theirs);
            double* last = &before[k * 3];
            if (last[0] > 0) {
              std::printf("    %d / %d: shown %.1f x, hidden %.1f x   %-10s %.1f x\n", count, counts.front(), shown / last[0],
                          hidden / last[1], reference, theirs / last[2]);
            }
            last[0] = shown;
            last[1] = hidden;
            last[2] = theirs;
          }
        }
      }
    };
    // What the two benches below share: line i's text; a shown string list box (280 x 400) and
    // beside it a shown LISTBOX, both filled with `count` lines in one update and painted (the
    // LISTBOX also alone); a step timed per run of `steps` (the best of three, a few untimed ones
    // first: the first paints of a kind pay for what the window system sets up once).
    constexpr int kListWidth = 280, kListHeight = 400;
    const auto lineText = [](int i) {
      char text[16];
      std::snprintf(text, sizeof text, "line %06d", i);
      return std::u16string(text, text + std::strlen(text));
    };
    const auto systemList = [&](int count) {
      HWND box = CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY, 330, 0, kListWidth,
                                 kListHeight, host, nullptr, GetModuleHandleW(nullptr), nullptr);
      SendMessageW(box, WM_SETREDRAW, FALSE, 0);
      for (int i = 0; i < count; ++i) {
        const std::u16string text = lineText(i);
        const std::wstring textW(text.begin(), text.end());
        SendMessageW(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(textW.c_str()));
      }
      SendMessageW(box, WM_SETREDRAW, TRUE, 0);
      InvalidateRect(box, nullptr, TRUE);
      UpdateWindow(box);
      Settle();
      return box;
    };
    // `itemHeight` 0 leaves the string list's own.
    const auto filledLists = [&](int count, float itemHeight = 0) {
      auto* list = new TvgStringListBox(nullptr);
      list->SetBounds(0, 0, kListWidth, kListHeight);
      list->SetParent(root);
      list->ApplyResource();
      if (itemHeight > 0) list->SetItemHeight(itemHeight);
      TvgWideStrings* items = list->GetItems();
      items->BeginUpdate();
      for (int i = 0; i < count; ++i) items->Add(lineText(i));
      items->EndUpdate();
      repaint();
      Settle();
      return std::make_pair(list, systemList(count));
    };
    const auto perStepMs = [&](int steps, const std::function<void(int)>& step) {
      for (int i = 0; i < 5; ++i) step(i);
      Settle();
      const double ms = BestMs(3, [] {}, [&] {
        for (int i = 0; i < steps; ++i) step(i);
      });
      Settle();
      return ms / steps;
    };
    // A row of ours beside the LISTBOX's; past the first length, each one's growth from its figure
    // at the first length `base` (kept in `atBase`).
    const auto rowBesideFrom = [&](const char* what, const char* op, double ours, double theirs, int count, int base,
                                   std::pair<double, double>& atBase) {
      Row((std::string("  ") + what + ": " + op).c_str(), ours, "LISTBOX", theirs);
      if (atBase.first > 0)
        std::printf("    %d / %d: %.1f x   LISTBOX %.1f x\n", count, base, ours / atBase.first, theirs / atBase.second);
      else
        atBase = {ours, theirs};
    };
    const auto rowBeside = [&](const char* op, double ours, double theirs, int count, std::pair<double, double>& at3k) {
      rowBesideFrom("string list box", op, ours, theirs, count, 3000, at3k);
    };
    // --- A shown string list box (280 x 400) filled with N lines in one update, then one change
    // and the scene window's paint, again and again, as a program that adds lines as they come
    // and paints between them does: a line inserted at the front, deleted from the front, added,
    // and the selection moved among the rows shown; and a mouse move over the list. Beside it a
    // shown LISTBOX with redraw on does the same. Figures are per change with its paint.
    const auto benchPainted = [&] {
      constexpr int kChanges = 100;
      enum TPaintedOp { kInsert, kDelete, kAdd, kIndex, kMouse };
      static const char* const opNames[] = {"Insert(0)", "Delete(0)", "Add", "ItemIndex", "mouse move"};
      // Points over the list, one row after another and back.
      const auto mouseAt = [](int i) { return MAKELPARAM(100, 10 + (i % 18) * 21); };
      // Per kind of change, ours and the reference at 3,000 lines: the growth is printed beside.
      std::vector<std::pair<double, double>> first(5, {0, 0});
      for (const int count : {3000, 30000, 100000}) {
        std::printf("%d lines, one change then the paint\n", count);
        const auto [list, box] = filledLists(count);
        TvgWideStrings* items = list->GetItems();
        for (const TPaintedOp op : {kInsert, kDelete, kAdd, kIndex, kMouse}) {
          const double ours = perStepMs(kChanges, [&](int i) {
            switch (op) {
              case kInsert: items->Insert(0, lineText(i)); break;
              case kDelete: items->Delete(0); break;
              case kAdd: items->Add(lineText(i)); break;
              case kIndex: list->SetItemIndex(i % 18); break;
              case kMouse: SendMessageW(scene->GetHandle(), WM_MOUSEMOVE, 0, mouseAt(i)); break;
            }
            repaint();
          });
          const double theirs = perStepMs(kChanges, [&](int i) {
            const std::u16string text = lineText(i);
            const std::wstring textW(text.begin(), text.end());
            const auto line = reinterpret_cast<LPARAM>(textW.c_str());
            switch (op) {
              case kInsert: SendMessageW(box, LB_INSERTSTRING, 0, line); break;
              case kDelete: SendMessageW(box, LB_DELETESTRING, 0, 0); break;
              case kAdd: SendMessageW(box, LB_ADDSTRING, 0, line); break;
              case kIndex: SendMessageW(box, LB_SETCURSEL, i % 18, 0); break;
              case kMouse: SendMessageW(box, WM_MOUSEMOVE, 0, mouseAt(i)); break;
            }
            UpdateWindow(box);
          });
          rowBeside(opNames[op], ours, theirs, count, first[op]);
        }
        DestroyWindow(box);
        delete list;
        repaint();
      }
    };
    // --- A shown list box (280 x 400) pointed at, in the states a user leaves it in: the mouse moved
    // from one row to the next, into the list and out beside it, and beside it only, and the focus
    // given to the list and taken away, each move or focus followed by the scene window's paint.
    // Beside it a shown LISTBOX does the same (the moves out and beside and the focus away go to the
    // window beside it). Figures are per step (a move between rows; in and out; focus in and out; a
    // move beside). The states: N string lines filled in one update and left so (3,000, 30,000 and
    // 100,000); the same with an ItemHeight of 19.3 (whose row tops do not add up exactly); filled
    // and then scrolled through page by page with a paint after each page (its figure per page);
    // a log view, each line added, selected and painted (1,000 and 10,000; its figure per line); and
    // rows the program made, a shown list of 3,000 and 30,000 given one more at a time (no owner),
    // each with its paint.
    const auto benchPointed = [&] {
      constexpr int kSteps = 100, kStateSteps = 20;
      enum TPointedOp { kBetweenRows, kInAndOut, kFocus, kBeside };
      static const char* const opNames[] = {"move between rows", "move in and out", "focus in and out",
                                            "move beside the list"};
      // Over the second or the third row; beside the list (and beside the LISTBOX).
      const auto rowAt = [](int i) { return MAKELPARAM(100, 30 + (i % 2) * 19); };
      const auto besideAt = [](int i) { return MAKELPARAM(300, 200 + (i % 2) * 19); };
      const LPARAM beside = besideAt(0);
      HWND sceneWnd = scene->GetHandle();
      // Each of `ops` on our list and on the LISTBOX, `steps` a run, printed beside each other.
      const auto pointedRows = [&](const char* what, TvgListBox* list, HWND box, const std::vector<TPointedOp>& ops,
                                   int steps, int count, int base, std::vector<std::pair<double, double>>& first) {
        for (const TPointedOp op : ops) {
          const double ours = perStepMs(steps, [&](int i) {
            switch (op) {
              case kBetweenRows: SendMessageW(sceneWnd, WM_MOUSEMOVE, 0, rowAt(i)); break;
              case kInAndOut:
                SendMessageW(sceneWnd, WM_MOUSEMOVE, 0, rowAt(i));
                repaint();
                SendMessageW(sceneWnd, WM_MOUSEMOVE, 0, beside);
                break;
              case kFocus:
                scene->SetFocused(list);
                repaint();
                scene->SetFocused(nullptr);
                break;
              case kBeside: SendMessageW(sceneWnd, WM_MOUSEMOVE, 0, besideAt(i)); break;
            }
            repaint();
          });
          const double theirs = perStepMs(steps, [&](int i) {
            switch (op) {
              case kBetweenRows: SendMessageW(box, WM_MOUSEMOVE, 0, rowAt(i)); break;
              case kInAndOut:
                SendMessageW(box, WM_MOUSEMOVE, 0, rowAt(i));
                UpdateWindow(box);
                SendMessageW(host, WM_MOUSEMOVE, 0, beside);
                break;
              case kFocus:
                SetFocus(box);
                UpdateWindow(box);
                SetFocus(host);
                break;
              case kBeside: SendMessageW(host, WM_MOUSEMOVE, 0, besideAt(i)); break;
            }
            UpdateWindow(box);
          });
          rowBesideFrom(what, opNames[op], ours, theirs, count, base, first[op]);
        }
      };
      const auto dispose = [&](TvgListBox* list, HWND box) {
        DestroyWindow(box);
        delete list;
        repaint();
        Settle();
      };
      {
        std::vector<std::pair<double, double>> first(4, {0, 0});
        for (const int count : {3000, 30000, 100000}) {
          std::printf("%d lines filled in one update, pointed at, then the paint\n", count);
          const auto [list, box] = filledLists(count);
          pointedRows("string list box", list, box, {kBetweenRows, kInAndOut, kFocus}, kSteps, count, 3000, first);
          dispose(list, box);
        }
      }
      {
        std::vector<std::pair<double, double>> first(4, {0, 0});
        for (const int count : {3000, 100000}) {
          std::printf("%d lines of ItemHeight 19.3 filled in one update, pointed at, then the paint\n", count);
          const auto [list, box] = filledLists(count, 19.3f);
          pointedRows("ItemHeight 19.3", list, box, {kBetweenRows, kInAndOut, kFocus}, kSteps, count, 3000, first);
          dispose(list, box);
        }
      }
      {
        // One pass from the top to the bottom, a page (the viewport's height; the LISTBOX's rows
        // that fill it) at a time, each page painted.
        std::vector<std::pair<double, double>> first(5, {0, 0});
        for (const int count : {3000, 30000, 100000}) {
          std::printf("%d lines filled in one update, scrolled through page by page, pointed at, then the paint\n", count);
          const auto [list, box] = filledLists(count);
          TvgScrollBar* bar = list->GetVScrollBar();
          const float page = list->GetViewportHeight();
          const int pages = static_cast<int>((bar->GetMax() - bar->GetViewportSize()) / page) + 1;
          const double ours = Seconds([&] {
                                for (int p = 1; p <= pages; ++p) {
                                  bar->SetValue(static_cast<float>(p) * page);
                                  repaint();
                                }
                              }) * 1000 / pages;
          Settle();
          const auto rows = static_cast<int>(kListHeight / std::max<LRESULT>(1, SendMessageW(box, LB_GETITEMHEIGHT, 0, 0)));
          const int boxPages = (count + rows - 1) / rows;
          const double theirs = Seconds([&] {
                                  for (int p = 1; p <= boxPages; ++p) {
                                    SendMessageW(box, LB_SETTOPINDEX, static_cast<WPARAM>(p * rows), 0);
                                    UpdateWindow(box);
                                  }
                                }) * 1000 / boxPages;
          Settle();
          rowBesideFrom("scrolled through", "a page of a scroll", ours, theirs, count, 3000, first[4]);
          pointedRows("scrolled through", list, box, {kInAndOut, kFocus, kBeside}, kStateSteps, count, 3000, first);
          dispose(list, box);
        }
      }
      {
        std::vector<std::pair<double, double>> first(5, {0, 0});
        for (const int count : {1000, 10000}) {
          std::printf("a log view of %d lines (each added, selected and painted), pointed at, then the paint\n", count);
          auto* list = new TvgStringListBox(nullptr);
          list->SetBounds(0, 0, kListWidth, kListHeight);
          list->SetParent(root);
          list->ApplyResource();
          repaint();
          TvgWideStrings* items = list->GetItems();
          const double ours = Seconds([&] {
                                for (int i = 0; i < count; ++i) {
                                  items->Add(lineText(i));
                                  list->SetItemIndex(i);
                                  repaint();
                                }
                              }) * 1000 / count;
          Settle();
          HWND box = systemList(0);
          const double theirs = Seconds([&] {
                                  for (int i = 0; i < count; ++i) {
                                    const std::u16string text = lineText(i);
                                    const std::wstring textW(text.begin(), text.end());
                                    SendMessageW(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(textW.c_str()));
                                    SendMessageW(box, LB_SETCURSEL, static_cast<WPARAM>(i), 0);
                                    UpdateWindow(box);
                                  }
                                }) * 1000 / count;
          Settle();
          rowBesideFrom("log view", "add, select and paint a line", ours, theirs, count, 1000, first[4]);
          pointedRows("log view", list, box, {kInAndOut, kFocus, kBeside}, kStateSteps, count, 1000, first);
          dispose(list, box);
        }
      }
      {
        std::pair<double, double> first{0, 0};
        for (const int count : {3000, 30000}) {
          std::printf("%d rows the program made, one more appended outside an update, then the paint\n", count);
          auto* list = new TvgListBox(nullptr);
          list->SetBounds(0, 0, kListWidth, kListHeight);
          list->SetParent(root);
          list->ApplyResource();
          const auto add = [&](int i) {
            auto* item = new TvgListBoxItem(nullptr);  // freed with the list
            item->SetText(lineText(i));
            item->SetParent(list);
          };
          list->BeginUpdate();
          for (int i = 0; i < count; ++i) add(i);
          list->EndUpdate();
          repaint();
          Settle();
          HWND box = systemList(count);
          int next = count;
          const double ours = perStepMs(kSteps, [&](int) {
            add(next++);
            repaint();
          });
          int nextLine = count;
          const double theirs = perStepMs(kSteps, [&](int) {
            const std::u16string text = lineText(nextLine++);
            const std::wstring textW(text.begin(), text.end());
            SendMessageW(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(textW.c_str()));
            UpdateWindow(box);
          });
          rowBesideFrom("list box", "a row appended", ours, theirs, count, 3000, first);
          dispose(list, box);
        }
      }
    };
    if (argc > 1 && std::string(argv[1]) == "pointed") {
      benchPointed();
      delete scene;
      DestroyWindow(host);
      StopGdiPlus();
      return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "painted") {
      benchPainted();
      delete scene;
      DestroyWindow(host);
      StopGdiPlus();
      return 0;
    }
    if (listsOnly) {
      benchLines();
      delete scene;
      DestroyWindow(host);
      StopGdiPlus();
      return 0;
    }

    // The floor of every repaint: the window system's share, the scene holding nothing.
    const double floor = SmallRepaintMs(scene, 100, 100);
    ShowWindow(scene->GetHandle(), SW_HIDE);
    Row("repaint of a 10 x 10 area, empty window", floor, "window", BlankRepaintMs(host));
    ShowWindow(scene->GetHandle(), SW_SHOWNA);

    // --- Memo: 1 MB of text set at once.
    const std::u16string mega = Text(1024 * 1024);
    const std::wstring megaW(mega.begin(), mega.end());
    for (bool wrap : {false, true}) {
      TvgMemo* memo = nullptr;
      const double ours = BestMs(3, [&] {
        delete memo;
        memo = newMemo(wrap);
        repaint();
      }, [&] {
        memo->SetText(mega);
        repaint();
      });
      delete memo;
      const DWORD style = ES_MULTILINE | WS_VSCROLL | (wrap ? 0 : ES_AUTOHSCROLL | WS_HSCROLL);
      HWND edit = Child(host, L"EDIT", style);
      SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
      const double theirs = BestMs(3, [&] { SetWindowTextW(edit, L""); }, [&] {
        SetWindowTextW(edit, megaW.c_str());
        UpdateWindow(edit);
      });
      DestroyWindow(edit);
      HWND rich = Child(host, L"RICHEDIT50W", style);
      SendMessageW(rich, EM_EXLIMITTEXT, 0, 64 * 1024 * 1024);
      const double richMs = BestMs(3, [&] { SetWindowTextW(rich, L""); }, [&] {
        SetWindowTextW(rich, megaW.c_str());
        UpdateWindow(rich);
      });
      DestroyWindow(rich);
      Row(wrap ? "memo SetText 1 MB, word wrap" : "memo SetText 1 MB", ours, "EDIT", theirs);
      Row("", ours, "rich edit", richMs);
    }

    // --- A keystroke and its repaint in the middle of 100 KB and 1 MB, word wrap on.
    for (size_t bytes : {size_t{100 * 1024}, size_t{1024 * 1024}}) {
      const std::u16string text = Text(bytes);
      const std::wstring textW(text.begin(), text.end());
      constexpr int kKeys = 200;
      auto* memo = newMemo(true);
      memo->SetText(text);
      memo->SetFocus();
      memo->SetCaretPosition(memo->PosToCaretPos(static_cast<int32_t>(text.size() / 2)));
      memo->SetSelectionActive(false);
      repaint();
      double model = 0;
      const double ours = Seconds([&] {
        for (int i = 0; i < kKeys; ++i) {
          uint16_t key = 0;
          WideChar ch = u'x';
          model += Seconds([&] { memo->KeyDown(key, ch, TShiftState()); });
          repaint();
        }
      }) * 1000 / kKeys;
      model = model * 1000 / kKeys;
      // A repaint of a small area over the text.
      const double baseline = SmallRepaintMs(scene, 100, 100, kKeys);
      delete memo;
      auto keystrokes = [&](HWND control) {
        SetWindowTextW(control, textW.c_str());
        SetFocus(control);
        SendMessageW(control, EM_SETSEL, text.size() / 2, text.size() / 2);
        SendMessageW(control, EM_SCROLLCARET, 0, 0);
        UpdateWindow(control);
        return Seconds([&] {
          for (int i = 0; i < kKeys; ++i) {
            SendMessageW(control, WM_CHAR, L'x', 0);
            UpdateWindow(control);
          }
        }) * 1000 / kKeys;
      };
      HWND edit = Child(host, L"EDIT", ES_MULTILINE | WS_VSCROLL);
      SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
      const double editMs = keystrokes(edit);
      DestroyWindow(edit);
      HWND rich = Child(host, L"RICHEDIT50W", ES_MULTILINE | WS_VSCROLL);
      SendMessageW(rich, EM_EXLIMITTEXT, 0, 64 * 1024 * 1024);
      const double richMs = keystrokes(rich);
      DestroyWindow(rich);
      const std::string what = "keystroke + repaint, " + std::to_string(bytes / 1024) + " KB, word wrap";
      Row(what.c_str(), ours, "EDIT", editMs);
      Row("", ours, "rich edit", richMs);
      std::printf("%-44s scene %9.2f ms   (the edit alone, without painting)\n", "", model);
      std::printf("%-44s scene %9.2f ms   (a repaint of a 10 x 10 area, goal 0.5 ms at most)\n", "", baseline);
    }

    // --- 10,000 lines added one by one through Lines (and 2,500), as a log view fills.
    for (int count : {2500, 10000}) {
      const std::u16string line = u"The quick brown fox jumps over the lazy dog, again and again";
      TvgMemo* memo = nullptr;
      const double ours = BestMs(3, [&] {
        delete memo;
        memo = newMemo(false);
        repaint();
      }, [&] {
        memo->GetLines()->BeginUpdate();
        for (int i = 0; i < count; ++i) memo->GetLines()->Add(line);
        memo->GetLines()->EndUpdate();
        repaint();
      });
      delete memo;
      // The rich edit stands in for EDIT here: Wine's EDIT lays its whole text out again for each
      // line appended, minutes for 10,000.
      HWND edit = Child(host, L"RICHEDIT50W", ES_MULTILINE | WS_VSCROLL | ES_AUTOHSCROLL | WS_HSCROLL);
      SendMessageW(edit, EM_EXLIMITTEXT, 0, 64 * 1024 * 1024);
      const std::wstring lineW = std::wstring(line.begin(), line.end()) + L"\r\n";
      const double theirs = BestMs(3, [&] { SetWindowTextW(edit, L""); }, [&] {
        SendMessageW(edit, WM_SETREDRAW, FALSE, 0);
        for (int i = 0; i < count; ++i) {
          SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(-1), -1);
          SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(lineW.c_str()));
        }
        SendMessageW(edit, WM_SETREDRAW, TRUE, 0);
        UpdateWindow(edit);
      });
      DestroyWindow(edit);
      const std::string what = "memo: add " + std::to_string(count) + " lines";
      Row(what.c_str(), ours, "rich edit", theirs);
    }

    // --- 10,000 list items (and 2,500).
    for (int count : {2500, 10000}) {
      TvgListBox* list = nullptr;
      const double ours = BestMs(3, [&] {
        delete list;
        list = new TvgListBox(nullptr);
        list->SetBounds(0, 0, 300, kHeight);
        list->SetParent(root);
        list->ApplyResource();
      }, [&] {
        list->BeginUpdate();
        for (int i = 0; i < count; ++i) {
          auto* item = new TvgListBoxItem(nullptr);  // freed with the list
          item->SetText(u"list item " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)));
          item->SetParent(list);
        }
        list->EndUpdate();
        repaint();
      });
      const double small = SmallRepaintMs(scene, 100, 100);
      delete list;
      HWND box = Child(host, L"LISTBOX", WS_VSCROLL);
      const double theirs = BestMs(3, [&] { SendMessageW(box, LB_RESETCONTENT, 0, 0); }, [&] {
        SendMessageW(box, WM_SETREDRAW, FALSE, 0);
        for (int i = 0; i < count; ++i) {
          const wchar_t text[] = {L'l', L'i', L's', L't', L' ', static_cast<wchar_t>(L'a' + i % 26), 0};
          SendMessageW(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        }
        SendMessageW(box, WM_SETREDRAW, TRUE, 0);
        UpdateWindow(box);
      });
      DestroyWindow(box);
      const std::string what = "add " + std::to_string(count) + " list items";
      Row(what.c_str(), ours, "LISTBOX", theirs);
      std::printf("%-44s scene %9.2f ms   (a repaint of a 10 x 10 area, goal 0.5 ms at most)\n", "", small);
    }

    // --- Lines added one by one to a combo's Items (300 and 3,000), its list styled by a drop-down
    // before; then 300 with the drop-down open.
    for (const auto& [count, open] : {std::pair{300, false}, std::pair{3000, false}, std::pair{300, true}}) {
      const auto addLines = [count = count](TvgWideStrings* items) {
        for (int i = 0; i < count; ++i) items->Add(u"combo line " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)));
      };
      // A box of the scene, made afresh for each run; answers the Items to fill.
      const auto comboMs = [&](const std::function<TvgControl*()>& make, const std::function<void(TvgControl*)>& dropDown,
                               const std::function<TvgWideStrings*(TvgControl*)>& items) {
        TvgControl* box = nullptr;
        const double ms = BestMs(3, [&] {
          delete box;
          box = make();
          box->SetBounds(10, 10, 200, 22);
          box->SetParent(root);
          box->ApplyResource();
          dropDown(box);
          if (!open) dropDown(box);
        }, [&] { addLines(items(box)); });
        delete box;
        return ms;
      };
      const double stringMs = comboMs([] { return new TvgStringComboBox(nullptr); },
                                      [](TvgControl* box) { static_cast<TvgStringComboBox*>(box)->DropDown(); },
                                      [](TvgControl* box) { return static_cast<TvgStringComboBox*>(box)->GetItems(); });
      const double textMs = comboMs([] { return new TvgComboTextBox(nullptr); },
                                    [](TvgControl* box) { static_cast<TvgComboTextBox*>(box)->DropDown(); },
                                    [](TvgControl* box) { return static_cast<TvgComboTextBox*>(box)->GetItems(); });
      HWND box = Child(host, L"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL);
      if (open) SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
      const double theirs = BestMs(3, [&] { SendMessageW(box, CB_RESETCONTENT, 0, 0); }, [&] {
        for (int i = 0; i < count; ++i) {
          const wchar_t line[] = {L'c', L'o', L'm', L'b', L'o', L' ', static_cast<wchar_t>(L'a' + i % 26), 0};
          SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
        }
      });
      DestroyWindow(box);
      const std::string what = std::to_string(count) + " Items.Add" + (open ? ", open" : "");
      Row(("string combo box: " + what).c_str(), stringMs, "COMBOBOX", theirs);
      Row(("combo text box: " + what).c_str(), textMs, "COMBOBOX", theirs);
    }

    benchLines();
    benchPainted();
    benchPointed();

    // --- 10,000 tree nodes, 100 parents of 99 children (and a quarter of it).
    for (int parents : {25, 100}) {
      TvgTreeView* tree = nullptr;
      const double ours = BestMs(3, [&] {
        delete tree;
        tree = new TvgTreeView(nullptr);
        tree->SetBounds(0, 0, 300, kHeight);
        tree->SetParent(root);
        tree->ApplyResource();
      }, [&] {
        tree->BeginUpdate();
        for (int p = 0; p < parents; ++p) {
          auto* parent = new TvgTreeViewItem(nullptr);
          parent->SetText(u"parent");
          parent->SetParent(tree);
          parent->SetIsExpanded(true);
          for (int c = 0; c < 99; ++c) {
            auto* child = new TvgTreeViewItem(nullptr);
            child->SetText(u"child node");
            child->SetParent(parent);
          }
        }
        tree->EndUpdate();
        repaint();
      });
      const double small = SmallRepaintMs(scene, 100, 100);
      delete tree;
      HWND view = Child(host, WC_TREEVIEWW, TVS_HASLINES | TVS_HASBUTTONS | WS_VSCROLL);
      const double theirs = BestMs(3, [&] { SendMessageW(view, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT)); }, [&] {
        SendMessageW(view, WM_SETREDRAW, FALSE, 0);
        for (int p = 0; p < parents; ++p) {
          TVINSERTSTRUCTW ins{};
          ins.hParent = TVI_ROOT;
          ins.hInsertAfter = TVI_LAST;
          ins.item.mask = TVIF_TEXT;
          ins.item.pszText = const_cast<wchar_t*>(L"parent");
          auto parentItem = reinterpret_cast<HTREEITEM>(SendMessageW(view, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
          ins.hParent = parentItem;
          ins.item.pszText = const_cast<wchar_t*>(L"child node");
          for (int c = 0; c < 99; ++c) SendMessageW(view, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins));
          SendMessageW(view, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parentItem));
        }
        SendMessageW(view, WM_SETREDRAW, TRUE, 0);
        UpdateWindow(view);
      });
      DestroyWindow(view);
      const std::string what = "add " + std::to_string(parents * 100) + " tree nodes (expanded)";
      Row(what.c_str(), ours, "tree view", theirs);
      std::printf("%-44s scene %9.2f ms   (a repaint of a 10 x 10 area, goal 0.5 ms at most)\n", "", small);
    }
    BenchOwnedRows(host, root);
    delete scene;
    DestroyWindow(host);
    StopGdiPlus();
  } catch (const std::exception& e) {
    std::printf("error: %s\n", e.what());
    return 1;
  }
  return 0;
}

namespace {

// --- Rows that their list owns (alone with the argument "owned"): 3,000 and 30,000 made with the
// list as their owner, as a program makes a component that its container frees, added inside
// BeginUpdate to a shown list box and then freed with the list; beside them the same rows made
// without an owner (the list's tree frees them), and the system's list box adding as many strings
// (told not to redraw meanwhile) and then destroyed. The growth from 3,000 is printed: linear is
// 10 x.
void BenchOwnedRows(HWND host, TvgBackground* root) {
  // The best of three runs of `make`, `fill` and `free`, the last two timed apart (ms).
  const auto bestOfThree = [](const std::function<void()>& make, const std::function<void()>& fill,
                              const std::function<void()>& free) {
    std::pair<double, double> best{1e30, 1e30};
    for (int run = 0; run < 3; ++run) {
      make();
      Settle(50);
      best.first = std::min(best.first, Seconds(fill) * 1000);
      best.second = std::min(best.second, Seconds(free) * 1000);
      Settle(50);
    }
    return best;
  };
  static const char* const names[] = {"owned rows: add", "owned rows: free with the list", "rows without owner: add",
                                      "rows without owner: free with the list"};
  std::vector<double> first;  // the figures at 3,000: ours as named, then the LISTBOX's add and free
  for (const int count : {3000, 30000}) {
    std::printf("%d rows added inside BeginUpdate, then freed with the list\n", count);
    std::vector<double> figures;
    for (const bool owned : {true, false}) {
      TvgListBox* list = nullptr;
      const auto [addMs, freeMs] = bestOfThree([&] {
        list = new TvgListBox(nullptr);
        list->SetBounds(0, 0, 280, 400);
        list->SetParent(root);
        list->ApplyResource();
      }, [&] {
        list->BeginUpdate();
        for (int i = 0; i < count; ++i) {
          auto* row = new TvgListBoxItem(owned ? list : nullptr);
          row->SetText(u"row " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)));
          row->SetParent(list);
        }
        list->EndUpdate();
      }, [&] { delete std::exchange(list, nullptr); });
      figures.push_back(addMs);
      figures.push_back(freeMs);
    }
    HWND box = nullptr;
    const auto [addMs, destroyMs] = bestOfThree([&] {
      box = CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL, 330, 0, 280, 400, host, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    }, [&] {
      SendMessageW(box, WM_SETREDRAW, FALSE, 0);
      for (int i = 0; i < count; ++i) {
        const wchar_t text[] = {L'r', L'o', L'w', L' ', static_cast<wchar_t>(L'a' + i % 26), 0};
        SendMessageW(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
      }
      SendMessageW(box, WM_SETREDRAW, TRUE, 0);
    }, [&] { DestroyWindow(box); });
    figures.push_back(addMs);
    figures.push_back(destroyMs);
    for (int k = 0; k < 4; ++k)
      Row((std::string("  list box, ") + names[k]).c_str(), figures[k], "LISTBOX", figures[4 + k % 2]);
    if (first.empty()) {
      first = figures;
      continue;
    }
    std::printf("    %d / 3000:", count);
    for (int k = 0; k < 4; ++k) std::printf(" %s %.1f x;", names[k], figures[k] / first[k]);
    std::printf(" LISTBOX add %.1f x, destroy %.1f x\n", figures[4] / first[4], figures[5] / first[5]);
  }
}

}  // namespace
