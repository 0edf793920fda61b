// Published properties and streaming hooks of the test classes.
#include "TestClasses.h"

#include <algorithm>

KBL_PUBLISHED(TTestPoint) {
  KBL_PROP(X).Stored(false);
  KBL_PROP(Y).Stored(false);
}

void TTestPoint::Assign(TPersistent* source) {
  if (TTestPoint* p = dynamic_cast<TTestPoint*>(source)) {
    x_ = p->x_;
    y_ = p->y_;
    ++changes;
    return;
  }
  TPersistent::Assign(source);
}

void TTestPoint::DefineProperties(TFiler& filer) {
  filer.DefineProperty(
      "Point",
      [this](TReader& r) {
        std::string text = r.ReadString();
        size_t comma = text.find(',');
        double x = 0, y = 0;
        if (comma == std::string::npos || !TryStrToFloatDot(text.substr(1, comma - 1), x) ||
            !TryStrToFloatDot(text.substr(comma + 1, text.size() - comma - 2), y))
          throw EConvertError("bad point " + text);
        x_ = static_cast<float>(x);
        y_ = static_cast<float>(y);
      },
      [this](TWriter& w) {
        std::string text(1, '(');
        text += FloatToStrDot(x_);
        text += ',';
        text += FloatToStrDot(y_);
        text += ')';
        w.WriteString(text);
      },
      x_ != 0 || y_ != 0);
}

KBL_PUBLISHED(TTestItem) {
  p.Property("Caption", &TTestItem::Caption, &TTestItem::Caption);
  p.Property("Value", &TTestItem::Value, &TTestItem::Value).Default(0);
  p.Property("Link", &TTestItem::Link, &TTestItem::Link);
}

void TTestItem::Assign(TPersistent* source) {
  if (TTestItem* item = dynamic_cast<TTestItem*>(source)) {
    Caption = item->Caption;
    Value = item->Value;
    Link = item->Link;
    return;
  }
  TCollectionItem::Assign(source);
}

KBL_PUBLISHED(TTestWidget) {
  using W = TTestWidget;
  p.Property("Count", &W::Count, &W::Count).Default(3);
  p.Property("Small", &W::Small, &W::Small).Default(0);
  p.Property("Word", &W::Word, &W::Word).Default(0);
  p.Property("Big", &W::Big, &W::Big);
  p.Property("Enabled", &W::Enabled, &W::Enabled).Default(true);
  p.Property("Letter", &W::Letter, &W::Letter).Default(0);
  p.Property("WideLetter", &W::WideLetter, &W::WideLetter).Default(0);
  p.Property("Color", &W::Color, &W::Color).Default(tcRed);
  p.Property("Colors", &W::Colors, &W::Colors).Default(TTestColors{});
  p.Property("Opacity", &W::Opacity, &W::Opacity).Stored(&W::IsOpacityStored);
  p.Property("Ratio", &W::Ratio, &W::Ratio);
  p.Property("Caption", &W::Caption, &W::Caption);
  p.Property("Title", &W::Title, &W::Title);
  p.Property("Secret", &W::Secret, &W::Secret).Stored(false);
  KBL_PROP(Position);
  KBL_PROP(Lines);
  KBL_PROP(Items);
  KBL_PROP(Buddy);
  p.Property("OnClick", &W::OnClick, &W::OnClick);
  p.Property("OnValue", &W::OnValue, &W::OnValue);
}

KBL_PUBLISHED(TTestForm) {
  KBL_METHOD(ButtonClick);
  KBL_METHOD(ValueChanged);
  KBL_METHOD(OtherClick);
}

void TTestForm::GetChildren(const TGetChildProc& proc, TComponent* root) {
  for (int32_t i = 0; i < ComponentCount(); ++i) {
    TTestWidget* widget = dynamic_cast<TTestWidget*>(GetComponent(i));
    if (widget == nullptr || widget->ParentWidget() == nullptr) proc(GetComponent(i));
  }
}

TTestWidget::TTestWidget(TComponent* owner)
    : TComponent(owner),
      position_(new TTestPoint),
      lines_(new TStringList),
      items_(new TOwnedCollection(this, TTestItem::StaticClassInfo())) {}

TTestWidget::~TTestWidget() {
  Detach();
  for (TTestWidget* child : children_) child->parent_ = nullptr;
  delete position_;
  delete lines_;
  delete items_;
}

void TTestWidget::Detach() {
  if (parent_ == nullptr) return;
  auto& siblings = parent_->children_;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  parent_ = nullptr;
}

void TTestWidget::AddChild(TTestWidget* child) {
  child->Detach();
  child->parent_ = this;
  children_.push_back(child);
}

void TTestWidget::SetParentComponent(TComponent* parent) {
  Detach();
  if (TTestWidget* widget = dynamic_cast<TTestWidget*>(parent)) widget->AddChild(this);
}

void TTestWidget::GetChildren(const TGetChildProc& proc, TComponent* root) {
  for (TTestWidget* child : std::vector<TTestWidget*>(children_)) proc(child);
}

void TTestWidget::SetBuddy(TTestWidget* value) {
  if (buddy_ == value) return;
  if (buddy_ != nullptr) buddy_->RemoveFreeNotification(this);
  buddy_ = value;
  if (buddy_ != nullptr) buddy_->FreeNotification(this);
}

void TTestWidget::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == buddy_) buddy_ = nullptr;
}

void TTestWidget::DefineProperties(TFiler& filer) {
  TComponent::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "Blob",
      [this](TStream& s) {
        Blob.assign(static_cast<size_t>(s.GetSize()), '\0');
        if (!Blob.empty()) s.ReadBuffer(Blob.data(), static_cast<int32_t>(Blob.size()));
      },
      [this](TStream& s) { s.WriteBuffer(Blob.data(), static_cast<int32_t>(Blob.size())); }, !Blob.empty());
}

void TTestWidget::Loaded() {
  TComponent::Loaded();
  ++loadedCalls;
}

void RegisterTestClasses() {
  static bool done = [] {
    RegisterClass<TTestWidget, TTestForm, TTestPoint, TTestItem>();
    return true;
  }();
  (void)done;
}
