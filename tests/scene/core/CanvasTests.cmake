# The abstract canvas against a recording canvas (both configurations).
kbl_add_test(scene_canvas_tests SOURCES VgCanvasTest.cpp DEPS scene_core)
# Whole-pixel drawing on canvas buffers and the cache of painted operations (both configurations).
kbl_add_test(scene_pixelops_tests SOURCES VgPixelOpsTest.cpp DEPS scene_core)
# GDI+ through Wine: the IStream adapter, the canvas read back pixel by pixel, the codec.
kbl_add_test(scene_canvas_stream_tests SOURCES VgStreamAdapterTest.cpp DEPS scene_core WIN32_ONLY)
kbl_add_test(scene_canvas_gdiplus_tests SOURCES VgCanvasGdiPlusTest.cpp DEPS scene_core WIN32_ONLY GUI)
# The window canvas's own paths (clip, whole pixels, kept paintings) against GDI+ alone.
kbl_add_test(scene_canvas_pixels_tests SOURCES VgCanvasPixelPathsTest.cpp DEPS scene_core WIN32_ONLY GUI)
kbl_add_test(scene_canvas_codec_tests SOURCES VgFilterGdiPlusTest.cpp DEPS scene_core WIN32_ONLY GUI)
