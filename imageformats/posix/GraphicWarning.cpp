// The decoders' warnings outside Windows: no user interface to show them in, so callers that want
// them install a handler.
#include "../detail/GraphicWarning_p.h"

void ShowGraphicWarning(const std::string&, const std::string&) {}
