// The scene's property animations: colour, gradient, float, rect, bitmap, key-frame colour and
// float, path following and the path switcher. Each is a child of the object whose property (a
// published property named by PropertyName, dotted paths through object properties allowed) it
// drives. GUI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "classlib/Classes.h"
#include "scene/core/vg_animation.h"
#include "scene/core/vg_bitmap.h"
#include "scene/core/vg_brush.h"
#include "scene/core/vg_geometry.h"
#include "scene/core/vg_pathdata.h"

class TvgVisualObject;

// Registers the nine animation classes under "Animations" (once per process).
void vgInitAnimationsUnit();

// The property an animation drives: the object that holds it and its name. Resolved once, at the
// first start with a parent and a name.
struct TvgAnimatedProperty {
  TObject* Object = nullptr;
  std::string Name;
  // Walks "A.B.C" from `root` through published object properties; a step naming no object
  // property keeps the object reached so far.
  void Resolve(TObject* root, const std::string& path);
  // The published property on the resolved object, or nullptr.
  const TPropInfo* Info() const;
};

class TvgColorAnimation : public TvgAnimation {
  KBL_DECLARE_CLASS(TvgColorAnimation, TvgAnimation)
 public:
  explicit TvgColorAnimation(TComponent* owner) : TvgAnimation(owner) {}
  void Start() override;
  // Colour text into a string property, the number into an integer property.
  void ProcessAnimation() override;
  std::string GetStartValue() const { return vgColorToStr(start_); }
  void SetStartValue(const std::string& value) { start_ = vgStrToColor(value); }
  std::string GetStopValue() const { return vgColorToStr(stop_); }
  void SetStopValue(const std::string& value) { stop_ = vgStrToColor(value); }
  bool GetStartFromCurrent() const { return startFromCurrent_; }
  void SetStartFromCurrent(bool value) { startFromCurrent_ = value; }
  const std::string& GetPropertyName() const { return propertyName_; }
  void SetPropertyName(const std::string& value) { propertyName_ = value; }

 private:
  TvgColor start_ = 0xFFFFFFFFu;
  bool startFromCurrent_ = false;
  TvgColor stop_ = 0xFFFFFFFFu;
  std::string propertyName_;
  TvgAnimatedProperty target_;
};

// Blends the colours of the target gradient's points (offsets untouched).
class TvgGradientAnimation : public TvgAnimation {
  KBL_DECLARE_CLASS(TvgGradientAnimation, TvgAnimation)
 public:
  explicit TvgGradientAnimation(TComponent* owner);
  ~TvgGradientAnimation() override;
  void Start() override;
  void ProcessAnimation() override;
  TvgGradient* GetStartValue() const { return start_; }
  void SetStartValue(TvgGradient* value) { start_->Assign(value); }
  TvgGradient* GetStopValue() const { return stop_; }
  void SetStopValue(TvgGradient* value) { stop_->Assign(value); }
  bool GetStartFromCurrent() const { return startFromCurrent_; }
  void SetStartFromCurrent(bool value) { startFromCurrent_ = value; }
  const std::string& GetPropertyName() const { return propertyName_; }
  void SetPropertyName(const std::string& value) { propertyName_ = value; }

 private:
  TvgGradient* start_;
  bool startFromCurrent_ = false;
  TvgGradient* stop_;
  std::string propertyName_;
  TvgAnimatedProperty target_;
};

class TvgFloatAnimation : public TvgAnimation {
  KBL_DECLARE_CLASS(TvgFloatAnimation, TvgAnimation)
 public:
  explicit TvgFloatAnimation(TComponent* owner) : TvgAnimation(owner) {}
  void Start() override;
  void Stop() override { inherited::Stop(); }
  void ProcessAnimation() override;
  float GetStartValue() const { return start_; }
  void SetStartValue(float value) { start_ = value; }
  float GetStopValue() const { return stop_; }
  void SetStopValue(float value) { stop_ = value; }
  bool GetStartFromCurrent() const { return startFromCurrent_; }
  void SetStartFromCurrent(bool value) { startFromCurrent_ = value; }
  const std::string& GetPropertyName() const { return propertyName_; }
  void SetPropertyName(const std::string& value) { propertyName_ = value; }

 private:
  float start_ = 0;
  bool startFromCurrent_ = false;
  float stop_ = 0;
  std::string propertyName_;
  TvgAnimatedProperty target_;
};

class TvgRectAnimation : public TvgAnimation {
  KBL_DECLARE_CLASS(TvgRectAnimation, TvgAnimation)
 public:
  explicit TvgRectAnimation(TComponent* owner);
  ~TvgRectAnimation() override;
  void Start() override;
  void ProcessAnimation() override;
  TvgBounds* GetStartValue() const { return start_; }
  void SetStartValue(TvgBounds* value) { start_->Assign(value); }
  TvgBounds* GetStopValue() const { return stop_; }
  void SetStopValue(TvgBounds* value) { stop_->Assign(value); }
  bool GetStartFromCurrent() const { return startFromCurrent_; }
  void SetStartFromCurrent(bool value) { startFromCurrent_ = value; }
  const std::string& GetPropertyName() const { return propertyName_; }
  void SetPropertyName(const std::string& value) { propertyName_ = value; }

 private:
  TvgBounds* start_;
  bool startFromCurrent_ = false;
  TvgBounds* stop_;
  TvgBounds* current_;
  std::string propertyName_;
  TvgAnimatedProperty target_;
};

// StopValue drawn over StartValue at opacity t, assigned to the target bitmap.
class TvgBitmapAnimation : public TvgAnimation {
  KBL_DECLARE_CLASS(TvgBitmapAnimation, TvgAnimation)
 public:
  explicit TvgBitmapAnimation(TComponent* owner);
  ~TvgBitmapAnimation() override;
  void ProcessAnimation() override;
  TvgBitmap* GetStartValue() const { return start_; }
  void SetStartValue(TvgBitmap* value) { start_->Assign(value); }
  TvgBitmap* GetStopValue() const { return stop_; }
  void SetStopValue(TvgBitmap* value) { stop_->Assign(value); }
  const std::string& GetPropertyName() const { return propertyName_; }
  void SetPropertyName(const std::string& value) { propertyName_ = value; }

 private:
  TvgBitmap* start_;
  TvgBitmap* stop_;
  TvgBitmap* work_;
  std::string propertyName_;
  TvgAnimatedProperty target_;
};

// --- Key frames

// A key time 0 .. 1 (clamped).
class TvgKey : public TCollectionItem {
  KBL_DECLARE_CLASS(TvgKey, TCollectionItem)
 public:
  explicit TvgKey(TCollection* collection) : TCollectionItem(collection) {}
  void Assign(TPersistent* source) override;
  float GetKey() const { return key_; }
  void SetKey(float value);

 private:
  float key_ = 0;
};

class TvgColorKey : public TvgKey {
  KBL_DECLARE_CLASS(TvgColorKey, TvgKey)
 public:
  explicit TvgColorKey(TCollection* collection) : TvgKey(collection) {}
  void Assign(TPersistent* source) override;
  std::string GetValue() const { return vgColorToStr(value_); }
  void SetValue(const std::string& value) { value_ = vgStrToColor(value); }
  TvgColor GetIntValue() const { return value_; }

 private:
  TvgColor value_ = 0;
};

class TvgFloatKey : public TvgKey {
  KBL_DECLARE_CLASS(TvgFloatKey, TvgKey)
 public:
  explicit TvgFloatKey(TCollection* collection) : TvgKey(collection) {}
  void Assign(TPersistent* source) override;
  float GetValue() const { return value_; }
  void SetValue(float value) { value_ = value; }

 private:
  float value_ = 0;
};

// Keys in collection order (expected ascending by Key).
class TvgKeys : public TCollection {
  KBL_DECLARE_CLASS(TvgKeys, TCollection)
 public:
  explicit TvgKeys(const TClassInfo* itemClass) : TCollection(itemClass) {}
  TvgKey* Key(int32_t index) const { return static_cast<TvgKey*>(GetItem(index)); }
  // Index of the first key at or before t whose successor is at or after t; -1 when none.
  int32_t FindSegment(float t) const;
};

class TvgColorKeyAnimation : public TvgAnimation {
  KBL_DECLARE_CLASS(TvgColorKeyAnimation, TvgAnimation)
 public:
  explicit TvgColorKeyAnimation(TComponent* owner);
  ~TvgColorKeyAnimation() override;
  void Start() override;
  void ProcessAnimation() override;
  const std::string& GetPropertyName() const { return propertyName_; }
  void SetPropertyName(const std::string& value) { propertyName_ = value; }
  TvgKeys* GetKeys() const { return keys_; }
  void SetKeys(TvgKeys* value) { keys_->Assign(value); }
  bool GetStartFromCurrent() const { return startFromCurrent_; }
  void SetStartFromCurrent(bool value) { startFromCurrent_ = value; }
  TvgColorKey* AddKey(float key, TvgColor value);

 private:
  std::string propertyName_;
  TvgKeys* keys_;
  bool startFromCurrent_ = false;
  TvgAnimatedProperty target_;
};

class TvgFloatKeyAnimation : public TvgAnimation {
  KBL_DECLARE_CLASS(TvgFloatKeyAnimation, TvgAnimation)
 public:
  explicit TvgFloatKeyAnimation(TComponent* owner);
  ~TvgFloatKeyAnimation() override;
  void Start() override;
  void ProcessAnimation() override;
  const std::string& GetPropertyName() const { return propertyName_; }
  void SetPropertyName(const std::string& value) { propertyName_ = value; }
  TvgKeys* GetKeys() const { return keys_; }
  void SetKeys(TvgKeys* value) { keys_->Assign(value); }
  bool GetStartFromCurrent() const { return startFromCurrent_; }
  void SetStartFromCurrent(bool value) { startFromCurrent_ = value; }
  TvgFloatKey* AddKey(float key, float value);

 private:
  std::string propertyName_;
  TvgKeys* keys_;
  bool startFromCurrent_ = false;
  TvgAnimatedProperty target_;
};

// --- Paths

// Moves its visual parent along Path (relative to where it stood at the start), optionally
// turning it with the movement.
class TvgPathAnimation : public TvgAnimation {
  KBL_DECLARE_CLASS(TvgPathAnimation, TvgAnimation)
 public:
  explicit TvgPathAnimation(TComponent* owner);
  ~TvgPathAnimation() override;
  void Start() override;
  void ProcessAnimation() override;
  TvgPathData* GetPath() const { return path_; }
  void SetPath(TvgPathData* value) { path_->Assign(value); }
  bool GetRotate() const { return rotate_; }
  void SetRotate(bool value) { rotate_ = value; }

 private:
  TvgPathData* path_;
  bool rotate_ = false;
  TvgPolygon polygon_;
  std::unique_ptr<TvgSpline> spline_;
  TvgVisualObject* target_ = nullptr;
  TvgPoint startPosition_;
};

// Stores two path texts; its step does nothing.
class TvgPathSwitcher : public TvgAnimation {
  KBL_DECLARE_CLASS(TvgPathSwitcher, TvgAnimation)
 public:
  explicit TvgPathSwitcher(TComponent* owner);
  const std::string& GetPathTrue() const { return pathTrue_; }
  void SetPathTrue(const std::string& value) { pathTrue_ = value; }
  const std::string& GetPathFalse() const { return pathFalse_; }
  void SetPathFalse(const std::string& value) { pathFalse_ = value; }
  const std::string& GetPropertyName() const { return propertyName_; }
  void SetPropertyName(const std::string& value) { propertyName_ = value; }

 private:
  std::string pathTrue_;
  std::string pathFalse_;
  std::string propertyName_;
};
