# The scene window: the portable scene engine (roots, update rects, painting, input routing,
# design selection), popups, and on Windows the window class that hosts them.
target_sources(scene_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/vg_sceneengine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vg_scenedesign.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vg_popup.cpp)
if(WIN32)
  target_sources(scene_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/win32/vg_scene.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/vg_scene_dragdrop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/vg_scene_design.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/vg_scene_ime.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/vg_scene_paint.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/vg_popupform_win32.cpp)
  target_link_libraries(scene_core PUBLIC shell32 imm32)
endif()
