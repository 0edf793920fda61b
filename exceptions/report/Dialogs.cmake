# What the user sees and what is sent: the dialog launcher and its shared machinery, the classic
# and the detailed dialog with its pages, the request and send-progress dialogs, the rich-text
# rendering, the collapsible list view, the report sending pipeline and the web error page. The
# templates and bitmaps are linked into the module that shows them
# (resources/dialogs/DialogResources.cmake).
list(APPEND report_sources EExceptionDialog.cpp EDetailedDialog.cpp ERichText.cpp EWebApplication.cpp
     ESendReport.cpp)
list(APPEND report_win32_sources win32/EExceptionDialog.cpp win32/EDetailedDialog.cpp win32/EListViewItems.cpp
     win32/ERequestDialog.cpp win32/ERichText.cpp win32/EWebApplication.cpp win32/ESendReportPlatform.cpp)
list(APPEND report_native_sources posix/EExceptionDialog.cpp posix/ERequestDialog.cpp posix/ESendReportPlatform.cpp)
list(APPEND report_win32_libs comctl32 gdi32 shell32 user32)
