# The abstract canvas against a recording canvas (both configurations).
kbl_add_test(scene_canvas_tests SOURCES VgCanvasTest.cpp DEPS scene_core)
