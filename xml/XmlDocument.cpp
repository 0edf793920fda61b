// The XML document model: nodes, attributes, children and the document's settings and tree.
#include "XmlDocument.h"

#include <cstring>
#include <memory>
#include <typeinfo>
#include <utility>

#include "XmlNodePool_p.h"
#include "XmlText.h"
#include "classlib/SysUtils.h"

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && SameText(a, b);
}

// Whether an attribute entry "name=..." carries `name` (letters compared without case).
bool EntryHasName(std::string_view entry, const std::string& name) {
  return entry.size() > name.size() && entry[name.size()] == '=' &&
         SameText(std::string(entry.substr(0, name.size())), name);
}

std::string EntryValue(std::string_view entry) {
  size_t equals = entry.find('=');
  if (equals == std::string_view::npos) return std::string();
  return UnescapeText(UnquoteText(std::string(entry.substr(equals + 1))));
}

std::string MakeEntry(const std::string& name, const std::string& value) {
  return name + "=" + QuoteText(EscapeText(value));
}

}  // namespace

// --- TsdUTF8StringList

namespace {

uint32_t LengthAt(std::string_view text, size_t at) {
  uint32_t length;
  std::memcpy(&length, text.data() + at, sizeof length);
  return length;
}

std::string LengthField(size_t length) {
  const uint32_t value = static_cast<uint32_t>(length);
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace

size_t TsdUTF8StringList::Find(int32_t i) const {
  size_t at = 0;
  for (; i > 0; --i) at += sizeof(uint32_t) + LengthAt(text_, at);
  return at;
}

int32_t TsdUTF8StringList::Add(std::string_view s) {
  const uint32_t length = static_cast<uint32_t>(s.size());
  text_.append(reinterpret_cast<const char*>(&length), sizeof length);
  text_.append(s);
  return count_++;
}

std::string_view TsdUTF8StringList::Get(int32_t i) const {
  const size_t at = Find(i);
  return std::string_view(text_).substr(at + sizeof(uint32_t), LengthAt(text_, at));
}

bool TsdUTF8StringList::Next(size_t& at, std::string_view& entry) const {
  if (at >= text_.size()) return false;
  const uint32_t length = LengthAt(text_, at);
  entry = std::string_view(text_).substr(at + sizeof(uint32_t), length);
  at += sizeof(uint32_t) + length;
  return true;
}

void TsdUTF8StringList::Set(int32_t i, std::string_view s) {
  const size_t at = Find(i);
  text_.replace(at, sizeof(uint32_t) + LengthAt(text_, at), LengthField(s.size()) + std::string(s));
}

char* TsdUTF8StringList::PutTagText(char* out) const {
  const char* at = text_.data();
  const char* const end = at + text_.size();
  while (at != end) {
    uint32_t length;
    std::memcpy(&length, at, sizeof length);
    at += sizeof length;
    *out++ = ' ';
    std::memcpy(out, at, length);
    out += length;
    at += length;
  }
  return out;
}

void TsdUTF8StringList::Delete(int32_t i) {
  const size_t at = Find(i);
  text_.erase(at, sizeof(uint32_t) + LengthAt(text_, at));
  --count_;
}

// --- TXmlNode: allocation

namespace {

using TNodeHeader = TXmlNodeHeader;
constexpr size_t kNodeHeader = kXmlNodeHeader;

TNodeHeader& HeaderOf(void* block) { return *static_cast<TNodeHeader*>(block); }

void* NodeOfBlock(void* block) { return static_cast<char*>(block) + kNodeHeader; }

// Makes an object of type T in memory from `pool` (the heap without one), and frees it there.
template <typename T, typename... TArgs>
T* MakeIn(TXmlNodePool* pool, TArgs&&... args) {
  void* memory = XmlPoolAllocate(pool, sizeof(T));
  try {
    return new (memory) T(std::forward<TArgs>(args)...);
  } catch (...) {
    XmlPoolFree(pool, memory, sizeof(T));
    throw;
  }
}

template <typename T>
void FreeIn(T* object, TXmlNodePool* pool) {
  object->~T();
  XmlPoolFree(pool, object, sizeof(T));
}

}  // namespace

void* TXmlNode::operator new(std::size_t size) {
  void* block = TObject::operator new(size + kNodeHeader);
  HeaderOf(block) = {nullptr, size + kNodeHeader};
  return NodeOfBlock(block);
}

void* TXmlNode::operator new(std::size_t size, TXmlDocument* document) {
  if (!document) return operator new(size);
  return XmlAllocateNode(document->pool_, size);
}

void TXmlNode::operator delete(void* node) noexcept {
  if (!node) return;
  void* block = static_cast<char*>(node) - kNodeHeader;
  const TNodeHeader header = HeaderOf(block);
  if (header.Pool) {
    header.Pool->Free(block, header.Size);
  } else {
    TObject::operator delete(block);
  }
}

void TXmlNode::operator delete(void* node, TXmlDocument*) noexcept { operator delete(node); }

// --- TXmlNode: construction

TXmlNode::TXmlNode(TXmlDocument* document, const std::string& name) : TXmlNode(document) {
  SetName(name);
}

TXmlNode::TXmlNode(TXmlDocument* document, const std::string& name, const std::string& value)
    : TXmlNode(document) {
  SetName(name);
  value_ = EscapeText(value);
}

TXmlNode* TXmlNode::CreateType(TXmlDocument* document, uint8_t elementType) {
  auto* node = new (document) TXmlNode(document);
  node->elementType_ = elementType;
  return node;
}

TXmlNode::~TXmlNode() {
  FreeChildren();
  FreeAttributes();
}

void TXmlNode::Changed() {
  if (document_) document_->treeAsParsed_ = false;
}

TXmlNodePool* TXmlNode::Pool() const { return document_ ? document_->pool_ : nullptr; }

TsdUTF8StringList& TXmlNode::Attributes() {
  if (!attributes_) {
    TXmlNodePool* pool = Pool();
    attributes_ = MakeIn<TsdUTF8StringList>(pool, pool);
  }
  return *attributes_;
}

TXmlNode::TChildList& TXmlNode::Children() {
  if (!nodes_) {
    TXmlNodePool* pool = Pool();
    nodes_ = MakeIn<TChildList>(pool, TXmlAllocator<std::unique_ptr<TXmlNode>>(pool));
  }
  return *nodes_;
}

void TXmlNode::Assign(const TXmlNode& source) {
  if (&source == this) return;
  // Copy first: the source may be a descendant of this node.
  std::unique_ptr<TXmlNode> copy(new (document_) TXmlNode(document_));
  copy->elementType_ = source.elementType_;
  copy->name_ = source.name_;
  copy->tag_ = source.tag_;
  copy->value_ = source.value_;
  if (source.attributes_) copy->Attributes() = *source.attributes_;
  for (int32_t i = 0; i < source.GetNodeCount(); ++i) {
    auto* twin = new (document_) TXmlNode(document_);
    twin->Assign(*source.GetNodes(i));
    copy->NodeAdd(twin);
  }
  Clear();
  elementType_ = copy->elementType_;
  name_ = std::move(copy->name_);
  tag_ = copy->tag_;
  value_ = std::move(copy->value_);
  // The lists change hands whole; each is freed later into the memory it came from.
  std::swap(attributes_, copy->attributes_);
  std::swap(nodes_, copy->nodes_);
  for (int32_t i = 0; i < GetNodeCount(); ++i) GetNodes(i)->parent_ = this;
}

void TXmlNode::Assign(const TXmlDocument& source) { Assign(*source.RootNodeList()); }

// --- TXmlNode: properties

void TXmlNode::SetName(const std::string& name) {
  if (name == name_) return;
  for (char c : name) {
    if (IsXmlBlank(c)) throw Exception("Illegal character in node name \"" + name + "\"");
  }
  Changed();
  name_ = name;
}

void TXmlNode::SetValue(const std::string& value) {
  Changed();
  value_ = value;
}

std::string TXmlNode::ValueAsString() const {
  return UnescapeText(elementType_ == xeElement ? TrimBlanks(value_) : value_);
}

void TXmlNode::SetValueAsString(const std::string& text) {
  Changed();
  value_ = EscapeText(text);
}

WideString TXmlNode::ValueAsWidestring() const { return sdUtf8ToWide(ValueAsString()); }

void TXmlNode::SetValueAsWidestring(const WideString& text) { SetValueAsString(sdWideToUtf8(text)); }

int32_t TXmlNode::Level() const {
  int32_t level = -1;
  for (const TXmlNode* p = parent_; p; p = p->parent_) ++level;
  return level;
}

std::string TXmlNode::FullPath() const {
  std::string path = "/" + name_;
  if (Level() > 0 && parent_) path = parent_->FullPath() + path;
  return path;
}

// --- TXmlNode: children

TXmlNode* TXmlNode::GetNodes(int32_t i) const {
  return i >= 0 && i < GetNodeCount() ? (*nodes_)[static_cast<size_t>(i)].get() : nullptr;
}

void TXmlNode::SetDocumentOfSubtree(TXmlDocument* document) {
  // The document the subtree leaves is not told: it has let go of the subtree already, and may be
  // gone.
  document_ = document;
  for (int32_t i = 0; i < GetNodeCount(); ++i) GetNodes(i)->SetDocumentOfSubtree(document);
}

int32_t TXmlNode::NodeAdd(TXmlNode* node) {
  if (!node) return -1;
  Changed();
  node->parent_ = this;
  node->SetDocumentOfSubtree(document_);
  // Most elements have a few children: room for four at once saves the first regrowths.
  TChildList& children = Children();
  if (children.capacity() == 0) children.reserve(4);
  children.emplace_back(node);
  return GetNodeCount() - 1;
}

void TXmlNode::NodeInsert(int32_t index, TXmlNode* node) {
  if (!node || index < 0 || index > GetNodeCount()) return;
  Changed();
  node->parent_ = this;
  node->SetDocumentOfSubtree(document_);
  Children().emplace(Children().begin() + index, node);
}

TXmlNode* TXmlNode::NodeNew(const std::string& name) {
  auto* node = new (document_) TXmlNode(document_, name);
  NodeAdd(node);
  return node;
}

TXmlNode* TXmlNode::NodeNewAtIndex(int32_t index, const std::string& name) {
  if (index < 0 || index > GetNodeCount()) return nullptr;
  auto* node = new (document_) TXmlNode(document_, name);
  NodeInsert(index, node);
  return node;
}

TXmlNode* TXmlNode::NodeByName(const std::string& name) const {
  return GetNodes(NodeIndexByName(name));
}

int32_t TXmlNode::NodeIndexByName(const std::string& name) const {
  return NodeIndexByNameFrom(name, 0);
}

int32_t TXmlNode::NodeIndexByNameFrom(const std::string& name, int32_t from) const {
  for (int32_t i = from < 0 ? 0 : from; i < GetNodeCount(); ++i) {
    if (SameName(GetNodes(i)->name_, name)) return i;
  }
  return -1;
}

TXmlNode* TXmlNode::NodeFindOrCreate(const std::string& name) {
  TXmlNode* node = NodeByName(name);
  return node ? node : NodeNew(name);
}

TXmlNode* TXmlNode::NodeByElementType(uint8_t elementType) const {
  for (int32_t i = 0; i < GetNodeCount(); ++i) {
    if (GetNodes(i)->elementType_ == elementType) return GetNodes(i);
  }
  return nullptr;
}

void TXmlNode::NodeDelete(int32_t index) {
  if (index < 0 || index >= GetNodeCount()) return;
  Changed();
  nodes_->erase(nodes_->begin() + index);
}

TXmlNode* TXmlNode::NodeExtract(TXmlNode* node) {
  for (int32_t i = 0; i < GetNodeCount(); ++i) {
    if (GetNodes(i) != node) continue;
    Changed();
    TXmlNode* extracted = (*nodes_)[static_cast<size_t>(i)].release();
    nodes_->erase(nodes_->begin() + i);
    extracted->parent_ = nullptr;
    return extracted;
  }
  return nullptr;
}

int32_t TXmlNode::NodeRemove(TXmlNode* node) {
  for (int32_t i = 0; i < GetNodeCount(); ++i) {
    if (GetNodes(i) != node) continue;
    Changed();
    nodes_->erase(nodes_->begin() + i);
    return i;
  }
  return -1;
}

void TXmlNode::Delete() {
  if (parent_) parent_->NodeRemove(this);
}

void TXmlNode::NodesClear() {
  Changed();
  FreeChildren();
}

void TXmlNode::FreeChildren() {
  if (!nodes_) return;
  // The list goes first: a child's destructor must not see it half emptied.
  TChildList* children = std::exchange(nodes_, nullptr);
  FreeIn(children, children->get_allocator().Pool());
}

void TXmlNode::CollectByName(const std::string& name, bool byPath, TXmlNodeList& list) const {
  for (int32_t i = 0; i < GetNodeCount(); ++i) {
    TXmlNode* child = GetNodes(i);
    if (SameName(byPath ? child->FullPath() : child->name_, name)) list.Add(child);
    child->CollectByName(name, byPath, list);
  }
}

void TXmlNode::NodesByName(const std::string& name, TXmlNodeList& list) const {
  list.Clear();
  CollectByName(name, !name.empty() && name[0] == '/', list);
}

// --- TXmlNode: attributes

void TXmlNode::AttributeAdd(const std::string& name, const std::string& value) {
  Changed();
  Attributes().Add(MakeEntry(name, value));
}

int32_t TXmlNode::AttributeIndexByName(const std::string& name) const {
  for (int32_t i = 0; i < AttributeCount(); ++i) {
    if (EntryHasName(attributes_->Get(i), name)) return i;
  }
  return -1;
}

std::string TXmlNode::AttributeByName(const std::string& name) const {
  return AttributeValue(AttributeIndexByName(name));
}

std::string TXmlNode::AttributeName(int32_t i) const {
  if (i < 0 || i >= AttributeCount()) return std::string();
  const std::string_view entry = attributes_->Get(i);
  return std::string(entry.substr(0, entry.find('=')));
}

std::string TXmlNode::AttributeValue(int32_t i) const {
  if (i < 0 || i >= AttributeCount()) return std::string();
  return EntryValue(attributes_->Get(i));
}

std::string TXmlNode::AttributeText(int32_t i) const {
  if (i < 0 || i >= AttributeCount()) return std::string();
  return std::string(attributes_->Get(i));
}

void TXmlNode::SetAttributeValue(int32_t i, const std::string& value) {
  if (i < 0 || i >= AttributeCount()) return;
  Changed();
  attributes_->Set(i, MakeEntry(AttributeName(i), value));
}

void TXmlNode::SetAttributeByName(const std::string& name, const std::string& value) {
  int32_t i = AttributeIndexByName(name);
  if (i >= 0) {
    SetAttributeValue(i, value);
  } else {
    AttributeAdd(name, value);
  }
}

void TXmlNode::AttributesClear() {
  Changed();
  FreeAttributes();
}

void TXmlNode::FreeAttributes() {
  if (!attributes_) return;
  TsdUTF8StringList* list = std::exchange(attributes_, nullptr);
  FreeIn(list, list->Pool());
}

void TXmlNode::DeleteEmptyAttributes() {
  for (int32_t i = AttributeCount() - 1; i >= 0; --i) {
    if (AttributeValue(i).empty()) {
      Changed();
      attributes_->Delete(i);
    }
  }
}

// --- TXmlNode: state

void TXmlNode::Clear() {
  Changed();
  name_.clear();
  value_.clear();
  AttributesClear();
  NodesClear();
}

// --- TXmlDocument

TXmlDocument::TXmlDocument() : pool_(TXmlNodePool::Create()), rootNodes_(std::make_unique<TXmlNode>(this)) {
  Clear();
}

TXmlDocument::TXmlDocument(const std::string& rootName) : TXmlDocument() {
  Root()->SetName(rootName);
}

TXmlDocument::~TXmlDocument() {
  ClearRootNodes();
  rootNodes_.reset();
  pool_->Release();
}

void TXmlDocument::SetDefaults() {
  BinaryCoding = 1;
  DropComments = false;
  StreamEncoding = 7;
  FloatAllowExponent = true;
  FloatDigits = 6;
  IndentString = "  ";
  WriteEmptyInFull = false;
  LocalTimeBias = false;
  WriteDefaults = true;
  XmlFormat = 1;
}

void TXmlDocument::ClearRootNodes(bool reuseTexts) {
  if (treeAsParsed_ && pool_->BlocksOut() == treeBlocks_) return GiveUpParsedTree(reuseTexts);
  ForgetParsedTree();
  TXmlNode* container = rootNodes_.get();
  const bool wholeTree = !poolHasGarbage_ && container->nodes_;
  if (!wholeTree) {
    container->Clear();
  } else {
    // The tree is given up whole: the blocks it has in the pool are not given back one by one,
    // as the pool is carved again from its start right after.
    container->name_.clear();
    container->value_.clear();
    container->AttributesClear();
    pool_->Abandon(AbandonChildren(std::exchange(container->nodes_, nullptr)));
  }
  // Without a node left the pool is carved again from its start, so that a new tree lies in
  // memory in the order it is built. Nodes still out (taken from the tree) prevent that.
  if (pool_->ResetIfUnused()) poolHasGarbage_ = false;
  else if (wholeTree) poolHasGarbage_ = true;
}

void TXmlDocument::ForgetParsedTree() {
  treeAsParsed_ = false;
  heapTexts_.clear();
  largeAttributes_.clear();
  largeChildLists_.clear();
}

void TXmlDocument::GiveUpParsedTree(bool reuseTexts) {
  // Every block the pool has out belongs to the tree, and nothing of the tree lies on the heap but
  // what the parser noted: that is freed, the rest goes with the pool's reset. Before a parse the
  // long texts are kept instead, in the order they were parsed: a document loaded again parses
  // the same texts in the same order into them, without a heap call each.
  if (reuseTexts) {
    spareTexts_.reserve(heapTexts_.size());
    for (std::string* text : heapTexts_) spareTexts_.push_back(std::move(*text));
  } else {
    for (std::string* text : heapTexts_) std::destroy_at(text);
  }
  for (TsdUTF8StringList* attributes : largeAttributes_) std::destroy_at(attributes);
  for (const auto& [block, bytes] : largeChildLists_) XmlPoolFree(pool_, block, bytes);
  TXmlNode* container = rootNodes_.get();
  container->name_.clear();
  container->value_.clear();
  container->FreeAttributes();
  if (TXmlNode::TChildList* children = std::exchange(container->nodes_, nullptr)) {
    const size_t bytes = children->capacity() * sizeof(children->front());
    if (bytes > TXmlNodePool::kLargestPooled) XmlPoolFree(pool_, children->data(), bytes);
  }
  ForgetParsedTree();
  pool_->AbandonAll();
  pool_->ResetIfUnused();
  poolHasGarbage_ = false;
}

size_t TXmlDocument::AbandonChildren(TXmlNode::TChildList* list) {
  size_t count = 0;
  // Nothing is written into what is given up (so that none of its memory needs writing back):
  // only a list that is freed as usual has its children taken out of it first.
  const bool abandoned = list->get_allocator().Pool() == pool_;
  for (auto& owned : *list) {
    TXmlNode* child = abandoned ? owned.get() : owned.release();
    // Nodes from the heap or from another pool, and of classes derived from the node, are freed
    // as usual.
    if (HeaderOf(static_cast<char*>(static_cast<void*>(child)) - kNodeHeader).Pool == pool_ &&
        typeid(*child) == typeid(TXmlNode))
      count += AbandonNode(child);
    else
      delete child;
  }
  if (!abandoned) {
    FreeIn(list, list->get_allocator().Pool());
    return count;
  }
  // Large arrays go back to the pool's keeping; small ones and the list itself stay in the chunks.
  const size_t bytes = list->capacity() * sizeof(list->front());
  if (bytes > TXmlNodePool::kLargestPooled) XmlPoolFree(pool_, list->data(), bytes);
  else if (bytes > 0) ++count;
  return count + 1;
}

size_t TXmlDocument::AbandonNode(TXmlNode* node) {
  size_t count = 1;
  if (TXmlNode::TChildList* children = node->nodes_) count += AbandonChildren(children);
  if (TsdUTF8StringList* attributes = node->attributes_) {
    // Large blocks go back to the pool's keeping, so a list holding one is freed as usual.
    if (attributes->Pool() == pool_ && !attributes->MayHaveLargeBlock()) count += attributes->HasBlock() ? 2 : 1;
    else FreeIn(attributes, attributes->Pool());
  }
  // The node ends here without its destructor: what remains of it are its texts, which may hold
  // memory of the heap.
  std::destroy_at(&node->value_);
  std::destroy_at(&node->name_);
  return count;
}

void TXmlDocument::Clear() {
  SetDefaults();
  ClearRootNodes();
  TXmlNode* declaration = TXmlNode::CreateType(this, xeDeclaration);
  declaration->SetName("xml");
  declaration->AttributeAdd("version", "1.0");
  declaration->AttributeAdd("encoding", "UTF-8");
  rootNodes_->NodeAdd(declaration);
  rootNodes_->NodeAdd(TXmlNode::CreateType(this, xeElement));
}

bool TXmlDocument::IsEmpty() const {
  TXmlNode* root = Root();
  return !root || root->IsClear();
}

TXmlNode* TXmlDocument::Root() const { return rootNodes_->NodeByElementType(xeElement); }

void TXmlDocument::Assign(const TXmlDocument& source) {
  if (&source == this) return;
  BinaryCoding = source.BinaryCoding;
  DropComments = source.DropComments;
  StreamEncoding = source.StreamEncoding;
  StrictStructure = source.StrictStructure;
  IndentString = source.IndentString;
  WriteEmptyInFull = source.WriteEmptyInFull;
  LocalTimeBias = source.LocalTimeBias;
  WriteDefaults = source.WriteDefaults;
  XmlFormat = source.XmlFormat;
  rootNodes_->Assign(*source.rootNodes_);
  rootNodes_->SetDocumentOfSubtree(this);
}

void TXmlDocument::Assign(const TXmlNode& source) {
  rootNodes_->Assign(source);
  rootNodes_->SetDocumentOfSubtree(this);
}
