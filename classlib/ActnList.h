// Actions: commands with a caption, enabled and visible state, hint and image that their clients
// (buttons, menu items) show and run, linked through action links, and the action list that
// holds them with their image list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Classes.h"

class TBasicActionLink;
class TCustomActionList;
class TCustomImageList;

// A command that clients run through their links. Freeing it tells every link, whose action
// becomes nullptr.
class TBasicAction : public TComponent {
  KBL_DECLARE_CLASS(TBasicAction, TComponent)
 public:
  explicit TBasicAction(TComponent* owner);
  ~TBasicAction() override;

  // Runs OnExecute; answers whether there was one.
  virtual bool Execute();
  // Lets OnUpdate set the action's state; answers whether there was one.
  virtual bool Update();
  TNotifyEvent GetOnExecute() const { return onExecute_; }
  // Links whose client runs the old handler take the new one.
  void SetOnExecute(TNotifyEvent value);
  TNotifyEvent OnUpdate;
  // Raised after any property of the action changed.
  TNotifyEvent OnChange;

  void RegisterChanges(TBasicActionLink* link);
  void UnRegisterChanges(TBasicActionLink* link);
  const std::vector<TBasicActionLink*>& Clients() const { return clients_; }

 protected:
  virtual void Change();

 private:
  std::vector<TBasicActionLink*> clients_;
  TNotifyEvent onExecute_;
};

// The link between a client and its action: it answers which of the client's properties follow
// the action and writes the linked ones when the action changes them. Descendants bind their
// client (and check its class) in their constructor.
class TBasicActionLink : public TObject {
  KBL_DECLARE_CLASS(TBasicActionLink, TObject)
 public:
  explicit TBasicActionLink(TObject* client);
  ~TBasicActionLink() override;

  TBasicAction* GetAction() const { return action_; }
  // Unregisters from the old action and registers with the new one (nullptr: none).
  void SetAction(TBasicAction* value);
  // Runs the action; false without one.
  virtual bool Execute();
  // Lets the action update itself; false without one.
  virtual bool Update();
  virtual bool IsOnExecuteLinked() { return true; }
  virtual void SetOnExecute(TNotifyEvent value) {}

 private:
  friend class TBasicAction;
  TBasicAction* action_ = nullptr;
};

// An action that belongs to an action list.
class TContainedAction : public TBasicAction {
  KBL_DECLARE_CLASS(TContainedAction, TBasicAction)
 public:
  explicit TContainedAction(TComponent* owner);
  ~TContainedAction() override;

  TCustomActionList* GetActionList() const { return actionList_; }
  // Leaves the old list and joins the new one (nullptr: none).
  void SetActionList(TCustomActionList* value);
  const std::string& GetCategory() const { return category_; }
  void SetCategory(const std::string& value);
  // The list's OnUpdate first, then the action's own.
  bool Update() override;
  // In streams an action is a child of its list.
  bool HasParent() const override { return actionList_ != nullptr; }
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* parent) override;

 private:
  friend class TCustomActionList;
  TCustomActionList* actionList_ = nullptr;
  std::string category_;
};

// An action with the state its clients show. Each setter passes the new value to the links that
// follow that property (before storing it, so that they compare with the old one), stores it
// and raises OnChange.
class TCustomAction : public TContainedAction {
  KBL_DECLARE_CLASS(TCustomAction, TContainedAction)
 public:
  explicit TCustomAction(TComponent* owner);

  const std::string& GetCaption() const { return caption_; }
  void SetCaption(const std::string& value);
  bool GetChecked() const { return checked_; }
  void SetChecked(bool value);
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  const std::string& GetHint() const { return hint_; }
  void SetHint(const std::string& value);
  int32_t GetImageIndex() const { return imageIndex_; }
  void SetImageIndex(int32_t value);
  bool GetVisible() const { return visible_; }
  void SetVisible(bool value);
  int32_t GetHelpContext() const { return helpContext_; }
  void SetHelpContext(int32_t value);

 private:
  template <typename V, typename F>
  void Set(V& field, const V& value, F&& tellLink);
  std::string caption_;
  bool checked_ = false;
  bool enabled_ = true;
  std::string hint_;
  int32_t imageIndex_ = -1;
  bool visible_ = true;
  int32_t helpContext_ = 0;
};

// The published action.
class TAction : public TCustomAction {
  KBL_DECLARE_CLASS(TAction, TCustomAction)
 public:
  explicit TAction(TComponent* owner) : TCustomAction(owner) {}
};

// The link of clients that show a TCustomAction's state: each IsXLinked answers whether the
// action is a TCustomAction (descendants also compare the client's value); each SetX writes the
// client's property (descendants do it when the property is linked).
class TActionLink : public TBasicActionLink {
  KBL_DECLARE_CLASS(TActionLink, TBasicActionLink)
 public:
  explicit TActionLink(TObject* client) : TBasicActionLink(client) {}

  virtual bool IsCaptionLinked();
  virtual bool IsCheckedLinked();
  virtual bool IsEnabledLinked();
  virtual bool IsHelpContextLinked();
  virtual bool IsHintLinked();
  virtual bool IsImageIndexLinked();
  virtual bool IsVisibleLinked();
  virtual void SetCaption(const std::string& value) {}
  virtual void SetChecked(bool value) {}
  virtual void SetEnabled(bool value) {}
  virtual void SetHelpContext(int32_t value) {}
  virtual void SetHint(const std::string& value) {}
  virtual void SetImageIndex(int32_t value) {}
  virtual void SetVisible(bool value) {}

 protected:
  TCustomAction* CustomAction() const { return dynamic_cast<TCustomAction*>(GetAction()); }
};

// Holds actions and the image list their ImageIndex refers to.
class TCustomActionList : public TComponent {
  KBL_DECLARE_CLASS(TCustomActionList, TComponent)
 public:
  explicit TCustomActionList(TComponent* owner);
  ~TCustomActionList() override;

  int32_t ActionCount() const { return static_cast<int32_t>(actions_.size()); }
  // nullptr for a bad index.
  TContainedAction* GetAction(int32_t index) const;
  TCustomImageList* GetImages() const { return images_; }
  void SetImages(TCustomImageList* value);
  // Raises OnUpdate for the action; answers whether there was a handler.
  virtual bool UpdateAction(TBasicAction* action);
  void Notification(TComponent* component, TOperation operation) override;
  // The action list's own actions stream as its children.
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;

  TMethod<void(TBasicAction* action, bool& handled)> OnUpdate;

 private:
  friend class TContainedAction;
  std::vector<TContainedAction*> actions_;
  TCustomImageList* images_ = nullptr;
};

class TActionList : public TCustomActionList {
  KBL_DECLARE_CLASS(TActionList, TCustomActionList)
 public:
  explicit TActionList(TComponent* owner) : TCustomActionList(owner) {}
};

// Registers the action classes with the class registry (once).
void RegisterActionClasses();
