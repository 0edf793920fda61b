// Classes with one published property of every kind, shared by the object-model and stream tests.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/Filer.h"

KBL_ENUM(TTestColor, tcRed, tcGreen, tcBlue, tcBlack)
using TTestColors = TEnumSet<TTestColor>;

// A value object in the manner of the scene's positions: notifies, streams one defined text
// property "Point" besides its published X and Y (not stored).
class TTestPoint : public TPersistent {
  KBL_DECLARE_CLASS(TTestPoint, TPersistent)
 public:
  TTestPoint() = default;
  float GetX() const { return x_; }
  void SetX(float x) { x_ = x; ++changes; }
  float GetY() const { return y_; }
  void SetY(float y) { y_ = y; ++changes; }
  void Assign(TPersistent* source) override;
  void DefineProperties(TFiler& filer) override;
  int changes = 0;

 private:
  float x_ = 0, y_ = 0;
};

class TTestItem : public TCollectionItem {
  KBL_DECLARE_CLASS(TTestItem, TCollectionItem)
 public:
  explicit TTestItem(TCollection* collection) : TCollectionItem(collection) {}
  void Assign(TPersistent* source) override;
  std::string Caption;
  int32_t Value = 0;
  TComponent* Link = nullptr;
};

class TTestWidget : public TComponent {
  KBL_DECLARE_CLASS(TTestWidget, TComponent)
 public:
  explicit TTestWidget(TComponent* owner);
  ~TTestWidget() override;

  int32_t Count = 3;
  int8_t Small = 0;
  uint16_t Word = 0;
  int64_t Big = 0;
  bool Enabled = true;
  char Letter = 0;
  char16_t WideLetter = 0;
  TTestColor Color = tcRed;
  TTestColors Colors;
  float Opacity = 1;
  double Ratio = 0;
  std::string Caption;
  WideString Title;
  std::string Secret;  // published, never stored
  std::string Blob;    // streamed as the binary property "Blob"
  TNotifyEvent OnClick;
  TMethod<void(TObject*, int32_t)> OnValue;

  TTestPoint* GetPosition() const { return position_; }
  void SetPosition(TTestPoint* value) { position_->Assign(value); }
  TStringList* GetLines() const { return lines_; }
  void SetLines(TStringList* value) { lines_->Assign(value); }
  TCollection* GetItems() const { return items_; }
  void SetItems(TCollection* value) { items_->Assign(value); }
  TTestWidget* GetBuddy() const { return buddy_; }
  void SetBuddy(TTestWidget* value);
  bool IsOpacityStored() const { return Opacity != 1; }

  // A tree of widgets: children are owned by the root but parented here.
  TTestWidget* ParentWidget() const { return parent_; }
  const std::vector<TTestWidget*>& Children() const { return children_; }
  void AddChild(TTestWidget* child);
  bool HasParent() const override { return true; }
  TComponent* GetParentComponent() const override { return parent_; }
  void SetParentComponent(TComponent* parent) override;
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  void Notification(TComponent* component, TOperation operation) override;
  void DefineProperties(TFiler& filer) override;
  void Loaded() override;
  int loadedCalls = 0;

 private:
  void Detach();
  TTestPoint* position_;
  TStringList* lines_;
  TCollection* items_;
  TTestWidget* buddy_ = nullptr;
  TTestWidget* parent_ = nullptr;
  std::vector<TTestWidget*> children_;
};

// A root with published handlers, as a form.
class TTestForm : public TComponent {
  KBL_DECLARE_CLASS(TTestForm, TComponent)
 public:
  explicit TTestForm(TComponent* owner) : TComponent(owner) {}
  // Reports the owned widgets without a parent widget, then the other owned components.
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  void ButtonClick(TObject* sender) { clicks++, lastSender = sender; }
  void ValueChanged(TObject* sender, int32_t value) { lastValue = value; }
  void OtherClick(TObject* sender) { otherClicks++; }
  int clicks = 0;
  int otherClicks = 0;
  int32_t lastValue = 0;
  TObject* lastSender = nullptr;
};

// Registers the test classes once.
void RegisterTestClasses();

// Builds stream bytes by hand, following the format rather than the writer.
struct Bytes {
  std::string data;
  Bytes& Raw(std::initializer_list<int> bytes) {
    for (int b : bytes) data.push_back(static_cast<char>(b));
    return *this;
  }
  Bytes& Text(const std::string& text) {
    data += text;
    return *this;
  }
  Bytes& Str(const std::string& text) {  // short string: length byte, characters
    data.push_back(static_cast<char>(text.size()));
    data += text;
    return *this;
  }
};
