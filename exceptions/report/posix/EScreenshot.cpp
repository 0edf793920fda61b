// Screenshot capture outside Windows: there is no screen to capture, so there is no capture.
#include "EScreenshot.h"

void RecordScreenshotFocus(uintptr_t, uintptr_t) {}
void TakeScreenshot() {}
bool HasScreenshot() { return false; }
void FreeScreenshot() {}
bool GetScreenshotRgb(int32_t&, int32_t&, std::vector<uint8_t>&) { return false; }
void EncodeScreenshotPNG(TStream&) {}
void SaveScreenshotPNG(const std::string&) {}
