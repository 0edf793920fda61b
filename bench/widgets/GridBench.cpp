// The grid and the property inspector beside Wine's own controls, each operation timed on both
// in the same run with its repaint: a grid of 1,000,000 rows (three columns: text, check box,
// progress bar) scrolled by a page and jumped to its end and back, beside a virtual list view
// (report style, values asked for as its rows show) of as many rows, with the grid's own share
// (without painting), what painting the whole window once costs and a repaint of a 10 x 10
// area; the same grid of 1,000 rows to show that the row count costs nothing; the inspector
// filled for a button with all its published properties, beside the scene's tree view and
// Wine's tree view filled with as many rows, and a repaint of a 10 x 10 area of it. Windows
// only; run under Xvfb. Prints, asserts nothing.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "scene/controls/vg_controls.h"
#include "scene/core/vg_resources.h"
#include "scene/core/win32/vg_gdiplus.h"
#include "scene/core/win32/vg_scene.h"
#include "scene/design/vg_design.h"
#include "scene/design/vg_inspector.h"
#include "scene/widgets/vg_grid.h"
#include "WidgetsBenchSupport.h"

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr int32_t kRows = 1000000;

void Row(const char* what, double ours, const char* reference, double theirs) {
  std::printf("%-46s scene %9.3f ms   %-12s %9.3f ms\n", what, ours, reference, theirs);
}

struct TRowValues {
  void Get(TObject*, int32_t col, int32_t row, Variant& value) {
    if (col == 0) value = Variant(std::string("row ") + std::to_string(row));
    else if (col == 1) value = Variant(row % 3 == 0);
    else value = Variant(static_cast<double>(row % 101));
  }
};

// The list view's parent answers its requests for the texts of the rows it shows.
LRESULT CALLBACK ListParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY) {
    auto* info = reinterpret_cast<NMLVDISPINFOW*>(lParam);
    if (info->hdr.code == LVN_GETDISPINFOW && (info->item.mask & LVIF_TEXT) != 0) {
      static wchar_t text[64];
      if (info->item.iSubItem == 0) swprintf(text, 64, L"row %d", info->item.iItem);
      else if (info->item.iSubItem == 1) wcscpy(text, info->item.iItem % 3 == 0 ? L"yes" : L"no");
      else swprintf(text, 64, L"%d", info->item.iItem % 101);
      info->item.pszText = text;
      return 0;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeListView(HWND parent, int rows) {
  HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA, 0, 0, kWidth,
                              kHeight, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  const wchar_t* titles[] = {L"Name", L"Done", L"Progress"};
  for (int c = 0; c < 3; ++c) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = c == 0 ? 200 : 120;
    column.pszText = const_cast<wchar_t*>(titles[c]);
    SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
  }
  SendMessageW(list, LVM_SETITEMCOUNT, rows, 0);
  SetFocus(list);
  LVITEMW state{};
  state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
  UpdateWindow(list);
  return list;
}

void Press(HWND window, WPARAM key) {
  SendMessageW(window, WM_KEYDOWN, key, 0);
  SendMessageW(window, WM_KEYUP, key, 0);
}

}  // namespace

int main() {
  try {
    StartGdiPlus();
    vgInitDesignUnit();
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSW wc{};
    wc.lpfnWndProc = ListParentProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KblBenchHost";
    RegisterClassW(&wc);
    HWND host = CreateWindowExW(0, L"KblBenchHost", L"bench", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    TvgBackground* root = nullptr;
    TvgScene* scene = MakeBenchScene(host, kWidth, kHeight, root);
    const auto repaint = [&] { UpdateWindow(scene->GetHandle()); };
    std::printf("%-46s scene %9.3f ms   (a repaint of a 10 x 10 area of the empty scene window)\n", "",
                SmallRepaintMs(scene, 100, 100));

    // --- Grid: a page down, the end and back, with the repaint each time.
    TRowValues values;
    for (int32_t rows : {kRows, 1000}) {
      auto* grid = new TvgGrid(nullptr);
      grid->SetBounds(0, 0, kWidth, kHeight);
      grid->SetParent(root);
      grid->ApplyResource();
      grid->OnGetValue = TOnGetValue::Of<&TRowValues::Get>(&values);
      for (int c = 0; c < 3; ++c) {
        TvgColumn* column = c == 0   ? new TvgColumn(nullptr)
                            : c == 1 ? static_cast<TvgColumn*>(new TvgCheckColumn(nullptr))
                                     : static_cast<TvgColumn*>(new TvgProgressColumn(nullptr));
        column->SetWidth(c == 0 ? 200 : 120);
        grid->AddObject(column);
      }
      grid->SetRowCount(rows);
      grid->SetFocus();
      repaint();
      constexpr int kPages = 20;
      auto key = [&](uint16_t code, bool ctrl) {
        WideChar none = 0;
        grid->KeyDown(code, none, ctrl ? TShiftState{ssCtrl} : TShiftState());
        repaint();
      };
      const double page = BestMs(3, [&] { key(36, true); }, [&] {
        for (int i = 0; i < kPages; ++i) key(34, false);
      }) / kPages;
      const double end = BestMs(5, [&] { key(36, true); }, [&] { key(35, true); });
      // The grid's own work, without painting.
      const double model = BestMs(3, [&] { key(36, true); }, [&] {
        for (int i = 0; i < kPages; ++i) {
          WideChar none = 0;
          uint16_t code = 34;
          grid->KeyDown(code, none, TShiftState());
        }
      }) / kPages;
      const double paintOnly = BestMs(3, [] {}, [&] {
        for (int i = 0; i < kPages; ++i) {
          scene->AddUpdateRect(vgRect(0, 0, kWidth, kHeight));
          repaint();
        }
      }) / kPages;
      const double home = BestMs(5, [&] { key(35, true); }, [&] { key(36, true); });
      const double small = SmallRepaintMs(scene, 100, 100);
      delete grid;
      HWND list = MakeListView(host, rows);
      const double listPage = BestMs(3, [&] { Press(list, VK_HOME); UpdateWindow(list); }, [&] {
        for (int i = 0; i < kPages; ++i) {
          Press(list, VK_NEXT);
          UpdateWindow(list);
        }
      }) / kPages;
      const double listEnd = BestMs(5, [&] { Press(list, VK_HOME); UpdateWindow(list); }, [&] {
        Press(list, VK_END);
        UpdateWindow(list);
      });
      const double listHome = BestMs(5, [&] { Press(list, VK_END); UpdateWindow(list); }, [&] {
        Press(list, VK_HOME);
        UpdateWindow(list);
      });
      DestroyWindow(list);
      const std::string n = std::to_string(rows);
      Row(("grid " + n + " rows, page down + repaint").c_str(), page, "list view", listPage);
      std::printf("%-46s scene %9.3f ms   (the page down alone, without painting)\n", "", model);
      std::printf("%-46s scene %9.3f ms   (painting the whole window once, goal 25 ms at most)\n", "", paintOnly);
      std::printf("%-46s scene %9.3f ms   (a repaint of a 10 x 10 area, goal 0.5 ms at most)\n", "", small);
      Row(("grid " + n + " rows, to the end + repaint").c_str(), end, "list view", listEnd);
      Row(("grid " + n + " rows, to the start + repaint").c_str(), home, "list view", listHome);
    }

    // --- Inspector: a button's published properties, beside trees of as many rows.
    auto* button = new TvgButton(nullptr);
    button->SetBounds(400, 20, 100, 24);
    button->SetParent(root);
    auto* inspector = new TvgInspector(nullptr);
    inspector->SetBounds(0, 0, 300, kHeight);
    inspector->SetParent(root);
    inspector->ApplyResource();
    int32_t rowCount = 0;
    const double fill = BestMs(5, [&] {
      inspector->SetSelectedObject(nullptr);
      repaint();
    }, [&] {
      inspector->SetSelectedObject(button);
      repaint();
    });
    std::vector<TvgObject*> all;
    inspector->GetContent()->AddObjectsToList(all);
    for (TvgObject* obj : all) rowCount += dynamic_cast<TvgInspectorItem*>(obj) != nullptr;
    const double inspectorSmall = SmallRepaintMs(scene, 100, 100);
    delete inspector;
    TvgTreeView* tree = nullptr;
    const double treeFill = BestMs(5, [&] {
      delete tree;
      tree = new TvgTreeView(nullptr);
      tree->SetBounds(0, 0, 300, kHeight);
      tree->SetParent(root);
      tree->ApplyResource();
      repaint();
    }, [&] {
      tree->BeginUpdate();
      for (int32_t i = 0; i < rowCount; ++i) {
        auto* item = new TvgTreeViewItem(nullptr);
        item->SetText(u"Property");
        auto* label = new TvgLabel(nullptr);
        label->SetParent(item);
        label->SetText(u"value");
        tree->AddObject(item);
      }
      tree->EndUpdate();
      repaint();
    });
    delete tree;
    HWND wineTree = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES, 0, 0, 300,
                                    kHeight, host, nullptr, GetModuleHandleW(nullptr), nullptr);
    const double wineFill = BestMs(5, [&] {
      SendMessageW(wineTree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
      UpdateWindow(wineTree);
    }, [&] {
      for (int32_t i = 0; i < rowCount; ++i) {
        TVINSERTSTRUCTW insert{};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = const_cast<wchar_t*>(L"Property  value");
        SendMessageW(wineTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert));
      }
      UpdateWindow(wineTree);
    });
    DestroyWindow(wineTree);
    const std::string what = "inspector filled, button (" + std::to_string(rowCount) + " rows)";
    Row(what.c_str(), fill, "scene tree", treeFill);
    Row("", fill, "tree view", wineFill);
    std::printf("%-46s scene %9.3f ms   (a repaint of a 10 x 10 area, goal 0.5 ms at most)\n", "", inspectorSmall);
    delete scene;
    DestroyWindow(host);
    StopGdiPlus();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_grid: %s\n", e.what());
    return 1;
  }
  return 0;
}
