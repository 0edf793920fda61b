// Parameter information for the host.
#include "TVstParameterList.h"

int32_t TVstParameterList::Add(const std::string& label) {
  items_.push_back(std::make_unique<TVstParameter>(label));
  return Count() - 1;
}

TVstParameter* TVstParameterList::Get(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

std::string TVstParameterList::GetLabel(int32_t index) const {
  const TVstParameter* parameter = Get(index);
  return parameter ? parameter->Label : std::string();
}
