// A design environment for tests: names are the base and a fixed number, and event handlers
// the one the test hands over; it records what it was asked.
#pragma once

#include <string>
#include <vector>

#include "scene/core/vg_designer.h"

struct TFakeDesigner : IvgDesigner {
  void SceneCreated(TComponent*) override {}
  void SceneDestroyed(TComponent*) override {}
  void SelectionChanged(TComponent*, TvgObject*, int32_t) override {}
  void Modified(TComponent*) override {}
  std::string UniqueName(const std::string& baseName) override {
    names.push_back(baseName);
    return baseName + "42";
  }
  void EditStyle(TvgResources*, const std::string&) override {}
  TMethodValue CreateMethod(TComponent* form, const std::string& name, const TTypeInfo*) override {
    methodForm = form;
    methods.push_back(name);
    return handler;
  }
  std::vector<std::string> names, methods;
  TComponent* methodForm = nullptr;
  TMethodValue handler;  // what CreateMethod gives
};
