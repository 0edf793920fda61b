// Lists, string lists, collections and components: ownership, names and free notification.
#include "classlib/Classes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "TestClasses.h"

TEST(List, IndexErrorsNameTheIndexAndOrderOperationsWork) {
  TList list;
  int a = 1, b = 2, c = 3;
  list.Add(&a);
  list.Add(&b);
  list.Insert(0, &c);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list[0], &c);
  list.Move(0, 2);
  EXPECT_EQ(list.Last(), &c);
  list.Exchange(0, 1);
  EXPECT_EQ(list.First(), &b);
  EXPECT_EQ(list.Remove(&a), 1);
  EXPECT_EQ(list.Remove(&a), -1);
  try {
    list.Get(5);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (5)");
  }
  list.SetCount(4);
  EXPECT_EQ(list[3], nullptr);
  list.Pack();
  EXPECT_EQ(list.Count(), 2);
  list.Sort([](void* x, void* y) { return *static_cast<int*>(x) - *static_cast<int*>(y); });
  EXPECT_EQ(list[0], &b);
  EXPECT_EQ(list[1], &c);
}

TEST(List, ObjectListFreesWhatItOwns) {
  TObjectList list;
  auto* kept = new TStringList;
  list.Add(new TStringList);
  list.Add(kept);
  EXPECT_EQ(list.Extract(kept), kept);  // extracted items are not freed
  delete kept;
  list.Delete(0);  // freed; the sanitizer would report a leak otherwise
  EXPECT_EQ(list.Count(), 0);
}

TEST(StringList, SortedDuplicatesAndFind) {
  TStringList list;
  list.SetSorted(true);
  list.Add("pear");
  list.Add("Apple");
  list.Add("banana");
  EXPECT_EQ(list.GetCommaText(), "Apple,banana,pear");
  EXPECT_EQ(list.Add("APPLE"), 0);  // ignored duplicate (case-insensitive)
  EXPECT_EQ(list.Count(), 3);
  list.SetDuplicates(dupError);
  EXPECT_THROW(list.Add("pear"), EStringListError);
  int32_t index = -1;
  EXPECT_FALSE(list.Find("cherry", index));
  EXPECT_EQ(index, 2);
  EXPECT_THROW(list.Insert(0, "x"), EStringListError);
  list.SetCaseSensitive(true);
  list.SetDuplicates(dupAccept);
  list.Add("apple");
  EXPECT_EQ(list.IndexOf("apple"), 1);
  EXPECT_EQ(list.IndexOf("APPLE"), -1);
}

TEST(StringList, TextCommaTextAndValues) {
  TStringList list;
  list.SetText("a=1\r\nb=two words\nc");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Values("B"), "two words");
  EXPECT_EQ(list.Names(0), "a");
  EXPECT_EQ(list.Values("c"), "");
  list.SetValue("a", "");
  EXPECT_EQ(list.Count(), 2);
  list.SetValue("d", "4");
  EXPECT_EQ(list.GetText(), "b=two words\r\nc\r\nd=4\r\n");
  EXPECT_EQ(list.GetCommaText(), "\"b=two words\",c,d=4");
  list.SetCommaText("x, \"y \"\"z\"\"\",,w");
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list[1], "y \"z\"");
  EXPECT_EQ(list[2], "");
  EXPECT_EQ(list[3], "w");
}

TEST(StringList, ChangeEventsFireOnceAroundAnUpdate) {
  struct Counter {
    int changes = 0;
    void Changed(TObject*) { ++changes; }
  } counter;
  TStringList list;
  list.OnChange = TNotifyEvent::Of<&Counter::Changed>(&counter);
  list.Add("a");
  EXPECT_EQ(counter.changes, 1);
  list.BeginUpdate();
  list.Add("b");
  list.Add("c");
  list.Delete(0);
  list.EndUpdate();
  EXPECT_EQ(counter.changes, 2);
  TStringList copy;
  copy.Assign(&list);
  EXPECT_TRUE(copy.Equals(list));
  TTestPoint point;
  try {
    copy.Assign(&point);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TTestPoint to a TStringList");
  }
  EXPECT_THROW(point.Assign(nullptr), EConvertError);
}

TEST(Collection, ItemsJoinLeaveMoveAndAssign) {
  TCollection items(TTestItem::StaticClassInfo());
  int updates = 0;
  struct Probe {
    int* updates;
    void Update(TCollection*, TCollectionItem*) { ++*updates; }
  } probe{&updates};
  items.OnUpdate = TMethod<void(TCollection*, TCollectionItem*)>::Of<&Probe::Update>(&probe);
  auto* first = static_cast<TTestItem*>(items.Add());
  auto* second = static_cast<TTestItem*>(items.Add());
  first->Caption = "one";
  second->Caption = "two";
  EXPECT_EQ(items.Count(), 2);
  EXPECT_EQ(second->GetIndex(), 1);
  EXPECT_NE(first->GetID(), second->GetID());
  EXPECT_EQ(updates, 2);
  second->SetIndex(0);
  EXPECT_EQ(items.GetItem(0), second);
  EXPECT_THROW(second->SetIndex(5), EListError);

  TCollection copy(TTestItem::StaticClassInfo());
  copy.Assign(&items);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(static_cast<TTestItem*>(copy.GetItem(0))->Caption, "two");

  delete first;  // an item leaves its collection when freed
  EXPECT_EQ(items.Count(), 1);
  items.Delete(0);
  EXPECT_EQ(items.Count(), 0);
  EXPECT_THROW(items.GetItem(0), EListError);
}

TEST(Component, OwnerFreesOwnedComponentsAndNamesAreUnique) {
  auto* owner = new TComponent(nullptr);
  auto* a = new TTestWidget(owner);
  auto* b = new TTestWidget(owner);
  a->SetName("Alpha");
  EXPECT_THROW(b->SetName("ALPHA"), EComponentError);
  EXPECT_THROW(b->SetName("1x"), EComponentError);
  EXPECT_THROW(b->SetName("a b"), EComponentError);
  b->SetName("Beta");
  EXPECT_EQ(owner->FindComponent("beta"), b);
  EXPECT_EQ(owner->FindComponent(""), nullptr);
  EXPECT_EQ(b->GetComponentIndex(), 1);
  b->SetComponentIndex(0);
  EXPECT_EQ(owner->GetComponent(0), b);
  delete b;
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(owner->FindComponent("Beta"), nullptr);
  // A named component cannot join an owner that already has that name.
  auto* stray = new TTestWidget(nullptr);
  stray->SetName("Alpha");
  EXPECT_THROW(owner->InsertComponent(stray), EComponentError);
  delete stray;
  delete owner;  // frees Alpha; the sanitizer reports a leak otherwise
}

// A frame marks code of its component as running for whatever holds it: its owners, and its
// parents with their owners. A component freed while its frame is up counts no more, and is not
// looked at (the sanitizer would tell).
TEST(Component, FramesMarkTheirComponentForWhatHoldsItUntilItIsFreed) {
  TTestWidget root(nullptr), other(nullptr);
  auto* owned = new TTestWidget(&root);
  auto* deep = new TTestWidget(owned);
  auto* child = new TTestWidget(&other);  // owned elsewhere, parented under `owned`
  owned->AddChild(child);
  {
    const TComponentFrame frame(child);
    EXPECT_TRUE(ComponentCodeRunning(&root));
    EXPECT_TRUE(ComponentCodeRunning(&other));
    EXPECT_FALSE(ComponentCodeRunning(deep));
  }
  const TComponentFrame frame(deep);
  EXPECT_TRUE(ComponentCodeRunning(&root));
  EXPECT_FALSE(ComponentCodeRunning(&other));
  delete deep;
  EXPECT_FALSE(ComponentCodeRunning(&root));
}

// Two frames of one function may stand on the stack in either order (members stand in the order
// declared, so the later made stands higher): neither hides the other nor its callers' frames.
TEST(Component, FramesStandingOutOfOrderHideNoneOfTheirCallers) {
  TTestWidget outer(nullptr), first(nullptr), second(nullptr);
  const TComponentFrame frame(&outer);
  struct TPair {
    TComponentFrame low, high;
  };
  const TPair pair{TComponentFrame(&first), TComponentFrame(&second)};
  EXPECT_TRUE(ComponentCodeRunning(&second));
  EXPECT_TRUE(ComponentCodeRunning(&first));
  EXPECT_TRUE(ComponentCodeRunning(&outer));
}

TEST(Component, FreeNotificationClearsReferencesAcrossOwners) {
  TComponent ownerA(nullptr), ownerB(nullptr);
  auto* holder = new TTestWidget(&ownerA);
  auto* target = new TTestWidget(&ownerB);
  holder->SetBuddy(target);
  EXPECT_TRUE(target->HasState(csFreeNotification));
  delete target;
  EXPECT_EQ(holder->GetBuddy(), nullptr);

  // The holder going first must not leave the target with a stale partner.
  auto* target2 = new TTestWidget(&ownerB);
  auto* holder2 = new TTestWidget(&ownerA);
  holder2->SetBuddy(target2);
  delete holder2;
  delete target2;  // would touch freed memory if the partner list kept holder2
}

TEST(Component, SiblingsHearOfRemovalThroughTheirOwner) {
  TComponent owner(nullptr);
  auto* holder = new TTestWidget(&owner);
  auto* target = new TTestWidget(&owner);
  holder->SetBuddy(target);
  EXPECT_EQ(holder->GetBuddy(), target);
  delete target;
  EXPECT_EQ(holder->GetBuddy(), nullptr);
}

namespace {

// A component that logs what it hears (its id and the Tag of the one it hears of) and when it
// goes (its id and -1); a quiet one hears its owner's other components only as it asks.
class THearingComponent : public TComponent {
 public:
  THearingComponent(TComponent* owner, bool quiet, std::vector<std::pair<int, int>>* log, int id)
      : TComponent(owner), log_(log) {
    SetTag(id);
    if (quiet) HearEverySibling(false);
  }
  ~THearingComponent() override { log_->push_back({GetTag(), -1}); }
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == opRemove && component == watched) watched = nullptr;
    log_->push_back({GetTag(), component->GetTag()});
  }
  TComponent* watched = nullptr;

 private:
  std::vector<std::pair<int, int>>* log_;
};

}  // namespace

// An owner of many quiet components adds and frees each without telling the others: what they
// hear stays nothing while the owner changes. Those that hear every sibling, and a quiet one that
// watches a sibling, hear each change in the owner's order, last first, also after a component
// moved; the owner frees what is left last first, and indices hold across components freed first
// first.
TEST(Component, AnOwnerOfManyQuietComponentsTellsOnlyThoseThatHearThemAndFreesInOrder) {
  constexpr int kQuiet = 1000;
  std::vector<std::pair<int, int>> log;  // (who heard or went, of whom; -1: went)
  auto* owner = new TComponent(nullptr);
  // Ids: 0 hears all, 1 is quiet and watches, 2.. quiet, the last hears all.
  new THearingComponent(owner, false, &log, 0);
  auto* watcher = new THearingComponent(owner, true, &log, 1);
  std::vector<THearingComponent*> quiet;
  for (int i = 0; i < kQuiet; ++i) quiet.push_back(new THearingComponent(owner, true, &log, 2 + i));
  auto* late = new THearingComponent(owner, false, &log, 2 + kQuiet);
  quiet[4]->FreeNotification(watcher);
  watcher->watched = quiet[4];
  const auto heardBy = [&log](int id) {
    return std::count_if(log.begin(), log.end(), [id](const auto& entry) { return entry.first == id && entry.second != -1; });
  };
  // The quiet ones heard nothing of each other (each heard of itself at most as it came).
  for (int i = 0; i < kQuiet; ++i) ASSERT_EQ(heardBy(2 + i), 0) << i;
  EXPECT_EQ(heardBy(0), kQuiet + 2);

  // Every other quiet one freed, first first.
  log.clear();
  for (int i = 0; i < kQuiet; i += 2) delete quiet[i];
  EXPECT_EQ(watcher->watched, nullptr);
  // Each one's going heard by those that hear, last first, and by none of the quiet ones.
  std::vector<std::pair<int, int>> expected;
  for (int i = 0; i < kQuiet; i += 2)
    for (const int hearer : {-1, 2 + kQuiet, 1, 0}) expected.push_back(hearer < 0 ? std::pair{2 + i, -1} : std::pair{hearer, 2 + i});
  EXPECT_EQ(log, expected);
  ASSERT_EQ(owner->ComponentCount(), 3 + kQuiet / 2);
  for (int32_t i = 0; i < owner->ComponentCount(); ++i) {
    const int id = owner->GetComponent(i)->GetTag();
    ASSERT_EQ(id, i < 2 ? i : i == 2 + kQuiet / 2 ? 2 + kQuiet : 2 * i - 1) << i;
    ASSERT_EQ(owner->GetComponent(i)->GetComponentIndex(), i);
  }

  // The last moved first: the hearers are told in the new order.
  late->SetComponentIndex(0);
  log.clear();
  delete quiet[1];
  EXPECT_EQ(log, (std::vector<std::pair<int, int>>{{3, -1}, {1, 3}, {0, 3}, {2 + kQuiet, 3}}));

  // The owner frees the rest last first; unwatched ones go without a word to the others.
  log.clear();
  delete owner;
  expected.clear();
  for (int i = kQuiet - 1; i >= 3; i -= 2) expected.push_back({2 + i, -1});
  for (const int id : {1, 0, 2 + kQuiet}) expected.push_back({id, -1});
  EXPECT_EQ(log, expected);
}

// An owner frees each of its quiet components, first first, at a cost that does not grow with
// those left: the places numbered for ten times as many are about ten times as many (shifting the
// rest at each free would number a hundred times as many).
TEST(Component, AnOwnerFreesEachOwnedComponentFirstFirstAtTheSameCost) {
  const auto placesNumberedFreeing = [](int count) {
    std::vector<std::pair<int, int>> log;
    TComponent owner(nullptr);
    std::vector<THearingComponent*> owned;
    for (int i = 0; i < count; ++i) owned.push_back(new THearingComponent(&owner, true, &log, i));
    const uint64_t before = kbl_detail::ComponentPlacesNumbered();
    for (THearingComponent* component : owned) delete component;
    EXPECT_EQ(owner.ComponentCount(), 0);
    return kbl_detail::ComponentPlacesNumbered() - before;
  };
  const uint64_t few = placesNumberedFreeing(3000);
  const uint64_t many = placesNumberedFreeing(30000);
  EXPECT_LE(many, 15 * few) << few << " places numbered freeing 3,000, " << many << " freeing 30,000";
}

TEST(Component, DestroyingFlagsOwnedComponentsAndDesigningSpreads) {
  TComponent owner(nullptr);
  owner.SetDesigning(true);
  auto* child = new TTestWidget(&owner);
  EXPECT_TRUE(child->HasState(csDesigning));
  owner.Destroying();
  EXPECT_TRUE(child->HasState(csDestroying));
  EXPECT_EQ(child->GetNamePath(), "");
  child->SetName("Kid");
  EXPECT_EQ(child->GetItems()->GetNamePath(), "Kid.Items");
}
