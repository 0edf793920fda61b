// Actions, action links and action lists.
#include "ActnList.h"

#include <algorithm>

#include "ImgList.h"

KBL_PUBLISHED(TBasicAction) {
  p.Property("OnExecute", &TBasicAction::GetOnExecute, &TBasicAction::SetOnExecute);
  p.Property("OnUpdate", &TBasicAction::OnUpdate, &TBasicAction::OnUpdate);
}
KBL_PUBLISHED(TBasicActionLink) {}
KBL_PUBLISHED(TContainedAction) { KBL_PROP(Category); }
KBL_PUBLISHED(TCustomAction) {}
KBL_PUBLISHED(TAction) {
  KBL_PROP(Caption);
  KBL_PROP(Checked).Default(false);
  KBL_PROP(Enabled).Default(true);
  KBL_PROP(HelpContext).Default(0);
  KBL_PROP(Hint);
  KBL_PROP(ImageIndex).Default(-1);
  KBL_PROP(Visible).Default(true);
}
KBL_PUBLISHED(TActionLink) {}
KBL_PUBLISHED(TCustomActionList) {}
KBL_PUBLISHED(TActionList) {
  KBL_PROP(Images);
  p.Property("OnUpdate", &TActionList::OnUpdate, &TActionList::OnUpdate);
}

// --- TBasicAction

TBasicAction::TBasicAction(TComponent* owner) : TComponent(owner) {}

TBasicAction::~TBasicAction() {
  // Every link forgets the action; its client keeps what it shows.
  while (!clients_.empty()) clients_.back()->SetAction(nullptr);
}

bool TBasicAction::Execute() {
  if (!onExecute_.Assigned()) return false;
  onExecute_(this);
  return true;
}

bool TBasicAction::Update() {
  if (!OnUpdate.Assigned()) return false;
  OnUpdate(this);
  return true;
}

void TBasicAction::SetOnExecute(TNotifyEvent value) {
  if (value == onExecute_) return;
  for (TBasicActionLink* link : std::vector<TBasicActionLink*>(clients_))
    if (link->IsOnExecuteLinked()) link->SetOnExecute(value);
  onExecute_ = value;
  Change();
}

void TBasicAction::RegisterChanges(TBasicActionLink* link) {
  if (link != nullptr && std::find(clients_.begin(), clients_.end(), link) == clients_.end()) clients_.push_back(link);
}

void TBasicAction::UnRegisterChanges(TBasicActionLink* link) { std::erase(clients_, link); }

void TBasicAction::Change() { OnChange(this); }

// --- TBasicActionLink

TBasicActionLink::TBasicActionLink(TObject*) {}

TBasicActionLink::~TBasicActionLink() { SetAction(nullptr); }

void TBasicActionLink::SetAction(TBasicAction* value) {
  if (value == action_) return;
  if (action_ != nullptr) action_->UnRegisterChanges(this);
  action_ = value;
  if (value != nullptr) value->RegisterChanges(this);
}

bool TBasicActionLink::Execute() { return action_ != nullptr && action_->Execute(); }

bool TBasicActionLink::Update() { return action_ != nullptr && action_->Update(); }

// --- TContainedAction

TContainedAction::TContainedAction(TComponent* owner) : TBasicAction(owner) {}

TContainedAction::~TContainedAction() { SetActionList(nullptr); }

void TContainedAction::SetActionList(TCustomActionList* value) {
  if (value == actionList_) return;
  if (actionList_ != nullptr) std::erase(actionList_->actions_, this);
  actionList_ = value;
  if (value != nullptr) value->actions_.push_back(this);
}

void TContainedAction::SetCategory(const std::string& value) {
  if (value == category_) return;
  category_ = value;
  Change();
}

bool TContainedAction::Update() {
  if (actionList_ != nullptr && actionList_->UpdateAction(this)) return true;
  return TBasicAction::Update();
}

TComponent* TContainedAction::GetParentComponent() const { return actionList_; }

void TContainedAction::SetParentComponent(TComponent* parent) {
  if (auto* list = dynamic_cast<TCustomActionList*>(parent)) SetActionList(list);
}

// --- TCustomAction

TCustomAction::TCustomAction(TComponent* owner) : TContainedAction(owner) {}

template <typename V, typename F>
void TCustomAction::Set(V& field, const V& value, F&& tellLink) {
  if (field == value) return;
  for (TBasicActionLink* client : std::vector<TBasicActionLink*>(Clients()))
    if (auto* link = dynamic_cast<TActionLink*>(client)) tellLink(link);
  field = value;
  Change();
}

void TCustomAction::SetCaption(const std::string& value) {
  Set(caption_, value, [&](TActionLink* l) {
    if (l->IsCaptionLinked()) l->SetCaption(value);
  });
}

void TCustomAction::SetChecked(bool value) {
  Set(checked_, value, [&](TActionLink* l) {
    if (l->IsCheckedLinked()) l->SetChecked(value);
  });
}

void TCustomAction::SetEnabled(bool value) {
  Set(enabled_, value, [&](TActionLink* l) {
    if (l->IsEnabledLinked()) l->SetEnabled(value);
  });
}

void TCustomAction::SetHint(const std::string& value) {
  Set(hint_, value, [&](TActionLink* l) {
    if (l->IsHintLinked()) l->SetHint(value);
  });
}

void TCustomAction::SetImageIndex(int32_t value) {
  Set(imageIndex_, value, [&](TActionLink* l) {
    if (l->IsImageIndexLinked()) l->SetImageIndex(value);
  });
}

void TCustomAction::SetVisible(bool value) {
  Set(visible_, value, [&](TActionLink* l) {
    if (l->IsVisibleLinked()) l->SetVisible(value);
  });
}

void TCustomAction::SetHelpContext(int32_t value) {
  Set(helpContext_, value, [&](TActionLink* l) {
    if (l->IsHelpContextLinked()) l->SetHelpContext(value);
  });
}

// --- TActionLink

bool TActionLink::IsCaptionLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsCheckedLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsEnabledLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsHelpContextLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsHintLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsImageIndexLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsVisibleLinked() { return CustomAction() != nullptr; }

// --- TCustomActionList

TCustomActionList::TCustomActionList(TComponent* owner) : TComponent(owner) {}

TCustomActionList::~TCustomActionList() {
  SetImages(nullptr);
  // The actions stay (their owner frees them); they only leave the list.
  while (!actions_.empty()) actions_.back()->SetActionList(nullptr);
}

TContainedAction* TCustomActionList::GetAction(int32_t index) const {
  if (index < 0 || index >= ActionCount()) return nullptr;
  return actions_[static_cast<size_t>(index)];
}

void TCustomActionList::SetImages(TCustomImageList* value) {
  if (value == images_) return;
  if (images_ != nullptr) images_->RemoveFreeNotification(this);
  images_ = value;
  if (value != nullptr) value->FreeNotification(this);
}

bool TCustomActionList::UpdateAction(TBasicAction* action) {
  if (!OnUpdate.Assigned()) return false;
  bool handled = false;
  OnUpdate(action, handled);
  return handled;
}

void TCustomActionList::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == images_) images_ = nullptr;
}

void TCustomActionList::GetChildren(const TGetChildProc& proc, TComponent* root) {
  for (TContainedAction* action : std::vector<TContainedAction*>(actions_))
    if (action->GetOwner() == root) proc(action);
}

void RegisterActionClasses() {
  static const bool registered = [] {
    RegisterClass<TAction, TActionList, TImageList>();
    return true;
  }();
  (void)registered;
}
