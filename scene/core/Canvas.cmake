# The drawing back end of the scene core: the abstract canvas, the whole-pixel operations on
# canvas buffers and the cache of painted operations (portable) and, on Windows, the GDI+
# binding (gdiplus.dll is loaded by name at run time, not linked), the IStream adapter, the GDI+
# image codec and the GDI+ canvas.
target_sources(scene_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/vg_canvas.cpp ${CMAKE_CURRENT_LIST_DIR}/vg_pixelops.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/vg_paintcache.cpp)
if(WIN32)
  target_sources(scene_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/win32/vg_gdiplus.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/vg_streamadapter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/vg_filter_gdiplus.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/vg_canvas_gdiplus.cpp)
  target_include_directories(scene_core PUBLIC ${CMAKE_CURRENT_LIST_DIR}/win32)
  target_link_libraries(scene_core PUBLIC gdi32 ole32 uuid)
endif()
