// Stream helpers of the shapes tests.
#include "ShapesTestSupport.h"

#include <algorithm>

#include "classlib/Streams.h"

TvgObject* RoundTrip(TvgObject* obj) {
  TMemoryStream stream;
  obj->SaveToBinStream(stream);
  stream.SetPosition(0);
  return dynamic_cast<TvgObject*>(vgCreateObjectFromBinStream(nullptr, stream));
}

std::vector<std::string> StoredNames(TvgObject* obj) {
  std::vector<std::string> names;
  for (const TPropInfo* p : GetPropList(obj->ClassInfo())) {
    if (!IsStoredProp(obj, p)) continue;
    if (p->PropType->Kind == tkClass || p->PropType->Kind == tkMethod) continue;
    if (!IsDefaultPropValue(obj, p)) names.push_back(p->Name);
  }
  return names;
}

bool StreamHas(TvgObject* obj, const std::string& name) {
  TMemoryStream stream;
  obj->SaveToBinStream(stream);
  std::string bytes(static_cast<size_t>(stream.GetSize()), '\0');
  stream.SetPosition(0);
  stream.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  const std::string key = std::string(1, static_cast<char>(name.size())) + name;
  return bytes.find(key) != std::string::npos;
}
