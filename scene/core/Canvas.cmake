# The drawing back end of the scene core: the abstract canvas (portable) and, on Windows, the
# GDI+ binding, the IStream adapter, the GDI+ image codec and the GDI+ canvas.
target_sources(scene_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/vg_canvas.cpp)
