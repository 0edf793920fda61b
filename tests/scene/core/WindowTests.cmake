# The scene window's engine against a recording host and canvas (both configurations).
kbl_add_test(scene_window_engine_tests SOURCES VgSceneEngineTest.cpp DEPS scene_core)
# The scene unit's end, in a program of its own (it frees the registries every program keeps).
kbl_add_test(scene_unit_end_tests SOURCES VgSceneUnitEndTest.cpp DEPS scene_core)
# The unit's end at a program's exit, its first scene made before the registries.
kbl_add_test(scene_exit_tests SOURCES VgSceneExitTest.cpp DEPS scene_core WIN32_ONLY GUI TIMEOUT 180)
# The scene window under Wine: painting read back from the window, update areas, input routing.
kbl_add_test(scene_window_tests SOURCES VgSceneWindowTest.cpp SceneWindowTestObjects.cpp
  DEPS scene_core WIN32_ONLY GUI)
# Services of the scene window: frames, hints, the input method, transparent and layered painting.
kbl_add_test(scene_window_services_tests SOURCES VgSceneServicesTest.cpp SceneWindowTestObjects.cpp
  DEPS scene_core WIN32_ONLY GUI WIN32_LIBS imm32)
