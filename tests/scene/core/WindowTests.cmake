# The scene window's engine against a recording host and canvas (both configurations).
kbl_add_test(scene_window_engine_tests SOURCES VgSceneEngineTest.cpp DEPS scene_core)
