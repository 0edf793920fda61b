# The log file and its forms, the companion files, the zip writer and the screenshot writer.
list(APPEND report_sources ELogFile.cpp ELogXml.cpp ELogManager.cpp EZipWriter.cpp EScreenshot.cpp)
list(APPEND report_win32_sources win32/EReportPlatform.cpp win32/EScreenshot.cpp)
list(APPEND report_native_sources posix/EReportPlatform.cpp posix/EScreenshot.cpp)
list(APPEND report_win32_libs gdi32 user32)

# minizip's zip writer for the zip attachments (cmake/KblDeps.cmake).
list(APPEND report_deps kbl_minizip)
# zlib's CRC-32 for the zip attachments and deflate for the screenshot PNG. On Windows its static archive is
# linked rather than the import library, so that the module needs no zlib DLL beside it.
find_package(ZLIB REQUIRED)
if(NOT TARGET kbl_report_zlib)
  add_library(kbl_report_zlib INTERFACE)
  if(WIN32)
    find_library(KBL_ZLIB_STATIC NAMES libz.a REQUIRED)
    target_link_libraries(kbl_report_zlib INTERFACE ${KBL_ZLIB_STATIC})
    target_include_directories(kbl_report_zlib INTERFACE ${ZLIB_INCLUDE_DIRS})
  else()
    target_link_libraries(kbl_report_zlib INTERFACE ZLIB::ZLIB)
  endif()
endif()
list(APPEND report_deps kbl_report_zlib)
