# The object tree of the scene core: scene objects, visual objects, styled controls, background,
# content and style container, animations with their ticker, and the effect base.
target_sources(scene_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/vg_object.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vg_visualobject.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vg_control.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vg_resources.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vg_animation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vg_effect.cpp)
if(WIN32)
  target_sources(scene_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/win32/vg_anitimer_win32.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/vg_hostpath_win32.cpp)
else()
  target_sources(scene_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/posix/vg_hostpath_posix.cpp)
endif()
