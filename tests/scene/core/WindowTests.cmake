# The scene window's engine against a recording host and canvas (both configurations).
kbl_add_test(scene_window_engine_tests SOURCES VgSceneEngineTest.cpp DEPS scene_core)
# The scene window under Wine: painting read back from the window, update areas, input routing.
kbl_add_test(scene_window_tests SOURCES VgSceneWindowTest.cpp SceneWindowTestObjects.cpp
  DEPS scene_core WIN32_ONLY GUI)
