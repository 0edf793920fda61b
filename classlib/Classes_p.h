// Private link between the component constructor and the reader.
#pragma once

namespace kbl_detail {
// Set by the reader around a virtual constructor call, so that the new component sees csLoading
// while it is being constructed; the TComponent constructor consumes it.
extern thread_local bool constructingForReader;
}  // namespace kbl_detail
