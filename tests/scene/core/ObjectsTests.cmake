# The object tree: scene objects, visual objects, styled controls, resources, animations stepped
# by a manual ticker and effects, against a recording scene and canvas.
kbl_add_test(scene_objects_tests
  SOURCES ObjectsTestSupport.cpp VgObjectTest.cpp VgVisualObjectTest.cpp VgControlTest.cpp VgAnimationTest.cpp
  DEPS scene_core)
# Bounded mutation loop over streamed trees under the sanitizers: native only.
kbl_add_test(scene_objects_fuzz_tests
  SOURCES ObjectsTestSupport.cpp VgObjectFuzzTest.cpp
  DEPS scene_core NATIVE_ONLY TIMEOUT 300)
