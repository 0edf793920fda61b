// Parameter information for the host: one record per parameter with its unit label.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/System.h"

// One parameter's information.
class TVstParameter : public TObject {
 public:
  explicit TVstParameter(std::string label = std::string()) : Label(std::move(label)) {}
  std::string Label;  // unit label shown after the value ("dB", "%"), may be empty
};

// An owning list of TVstParameter. The plug-in builds it on the GUI thread while it is created;
// afterwards it is only read, from any thread.
class TVstParameterList : public TObject {
 public:
  // Appends a record with that label; answers its index.
  int32_t Add(const std::string& label);
  void Clear() { items_.clear(); }
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // The record of an index, or nullptr outside 0 .. Count − 1.
  TVstParameter* Get(int32_t index) const;
  // The label of an index; empty outside 0 .. Count − 1.
  std::string GetLabel(int32_t index) const;

 private:
  std::vector<std::unique_ptr<TVstParameter>> items_;
};
