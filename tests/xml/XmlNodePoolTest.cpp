// Tests of the memory a document's tree is made of: the pool's blocks and their reuse, and nodes
// that leave the tree or come into it from elsewhere while the document loads again and again.
#include "xml/XmlNodePool_p.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "xml/XmlDocument.h"

namespace {

struct TBlock {
  char* Memory;
  size_t Size;
};

// Fills a block with a pattern of its own, so that overlapping blocks show.
void Stamp(const TBlock& block, int seed) { std::memset(block.Memory, seed & 0xFF, block.Size); }

bool HasStamp(const TBlock& block, int seed) {
  for (size_t i = 0; i < block.Size; ++i) {
    if (block.Memory[i] != static_cast<char>(seed & 0xFF)) return false;
  }
  return true;
}

const char* const kText = R"(<?xml version="1.0"?>
<catalog kind="test">
  <item id="1" name="one &amp; only"><title>First title, long enough for the heap</title><n>1</n></item>
  <item id="2"><title>Second</title><!-- a comment --><n>2</n></item>
  <item id="3"><title>Third title that is also rather long</title><n>3</n></item>
</catalog>)";

// Attributes and children that take large blocks of the pool.
std::string LargeText() {
  std::string text = "<big a=\"" + std::string(2000, 'a') + "\">";
  for (int i = 0; i < 100; ++i) text += "<c/>";
  return text + "</big>";
}

}  // namespace

TEST(XmlNodePool, BlocksOfEverySizeStayApartAndComeBack) {
  TXmlNodePool* pool = TXmlNodePool::Create();
  std::mt19937 random(7);
  std::vector<TBlock> blocks;
  // Small blocks of several size classes and large ones kept for reuse; one too large to keep.
  const size_t sizes[] = {1, 8, 16, 17, 100, 128, 144, 500, 512, 513, 1024, 5000, 70000};
  TBlock huge = {static_cast<char*>(pool->Allocate(9 << 20)), 9 << 20};
  Stamp(huge, 99);
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 400; ++i) {
      const size_t size = sizes[random() % (sizeof sizes / sizeof sizes[0])];
      blocks.push_back({static_cast<char*>(pool->Allocate(size)), size});
      EXPECT_EQ(reinterpret_cast<uintptr_t>(blocks.back().Memory) % 16, 0u) << size;
      Stamp(blocks.back(), static_cast<int>(blocks.size()));
    }
    EXPECT_FALSE(pool->ResetIfUnused());
    // Every other block goes back before the next round takes new ones.
    for (size_t i = 0; i < blocks.size(); ++i) {
      ASSERT_TRUE(HasStamp(blocks[i], static_cast<int>(i + 1))) << i;
    }
    for (size_t i = blocks.size(); i-- > 0;) {
      if (i % 2 == 0) continue;
      pool->Free(blocks[i].Memory, blocks[i].Size);
      blocks[i].Memory = nullptr;
    }
    std::vector<TBlock> kept;
    for (const TBlock& block : blocks) {
      if (block.Memory) kept.push_back(block);
    }
    blocks = kept;
    for (size_t i = 0; i < blocks.size(); ++i) Stamp(blocks[i], static_cast<int>(i + 1));
  }
  for (const TBlock& block : blocks) pool->Free(block.Memory, block.Size);
  EXPECT_TRUE(HasStamp(huge, 99));
  pool->Free(huge.Memory, huge.Size);
  // With every block back, the pool starts over from its first chunk: blocks taken one after
  // another lie one after another.
  EXPECT_TRUE(pool->ResetIfUnused());
  char* first = static_cast<char*>(pool->Allocate(64));
  char* second = static_cast<char*>(pool->Allocate(64));
  EXPECT_EQ(second, first + 64);
  pool->Free(first, 64);
  pool->Free(second, 64);
  pool->Release();
}

TEST(XmlNodePool, TheLastBlockOutFreesThePool) {
  TXmlNodePool* pool = TXmlNodePool::Create();
  void* block = pool->Allocate(32);
  pool->Release();  // the owner goes, the block keeps the pool
  std::memset(block, 1, 32);
  pool->Free(block, 32);  // and frees it (the sanitizers see a leak or a use after free otherwise)
}

TEST(XmlNodePool, NodesTakenOutOutliveTheirDocument) {
  TXmlNode* item;
  {
    TXmlDocument doc;
    doc.ReadFromString(kText);
    item = doc.Root()->NodeExtract(doc.Root()->GetNodes(0));
    ASSERT_NE(item, nullptr);
  }
  EXPECT_EQ(item->Name(), "item");
  EXPECT_EQ(item->AttributeByName("name"), "one & only");
  ASSERT_EQ(item->GetNodeCount(), 2);
  EXPECT_EQ(item->GetNodes(0)->Value(), "First title, long enough for the heap");
  delete item;
}

TEST(XmlNodePool, LoadingAgainWhileNodesAreTakenOut) {
  TXmlDocument doc;
  doc.ReadFromString(LargeText());
  doc.ReadFromString(kText);
  std::unique_ptr<TXmlNode> taken(doc.Root()->NodeExtract(doc.Root()->GetNodes(2)));
  // A tree with large blocks is given up whole, and once more block by block.
  doc.ReadFromString(LargeText());
  ASSERT_EQ(doc.Root()->AttributeByName("a").size(), 2000u);
  doc.ReadFromString(LargeText());
  EXPECT_EQ(doc.Root()->GetNodeCount(), 100);
  // The old trees cannot be given back to the pool whole while a node of it is out: each load
  // must still leave both the new tree and the node taken out intact.
  for (int round = 0; round < 4; ++round) {
    doc.ReadFromString(kText);
    ASSERT_EQ(doc.Root()->GetNodeCount(), 3) << round;
    EXPECT_EQ(doc.Root()->GetNodes(2)->NodeByName("title")->Value(), "Third title that is also rather long");
    EXPECT_EQ(taken->NodeByName("title")->Value(), "Third title that is also rather long");
  }
  taken.reset();
  doc.ReadFromString(kText);
  EXPECT_EQ(doc.Root()->GetNodes(1)->AttributeByName("id"), "2");
}

namespace {

int gCountedNodes = 0;

// A node of a class of its own: it must be freed through its own destructor.
class TCountedNode : public TXmlNode {
 public:
  explicit TCountedNode(TXmlDocument* document) : TXmlNode(document) { ++gCountedNodes; }
  ~TCountedNode() override { --gCountedNodes; }
};

}  // namespace

TEST(XmlNodePool, NodesFromElsewhereInTheTreeAreFreedWithIt) {
  TXmlDocument doc;
  doc.ReadFromString(kText);
  // A node from the heap with children and attributes, one from another document's pool and
  // one of a derived class from this document's pool.
  auto* loose = new TXmlNode(nullptr, "loose", "a value long enough to live on the heap");
  loose->AttributeAdd("a", "1");
  loose->NodeAdd(new TXmlNode(nullptr, "inner"));
  doc.Root()->NodeAdd(loose);
  {
    TXmlDocument other;
    other.ReadFromString(kText);
    doc.Root()->NodeAdd(other.Root()->NodeExtract(other.Root()->GetNodes(0)));
  }
  doc.Root()->NodeAdd(new (&doc) TCountedNode(&doc));
  EXPECT_EQ(gCountedNodes, 1);
  EXPECT_EQ(doc.Root()->GetNodeCount(), 6);
  doc.ReadFromString(kText);
  EXPECT_EQ(gCountedNodes, 0);
  EXPECT_EQ(doc.Root()->GetNodeCount(), 3);
  // The same once more with the document going away instead of loading again.
  auto* document = new TXmlDocument();
  document->ReadFromString(kText);
  document->Root()->NodeAdd(new (document) TCountedNode(document));
  document->Root()->NodeAdd(new TXmlNode(nullptr, "loose", "a value long enough to live on the heap"));
  delete document;
  EXPECT_EQ(gCountedNodes, 0);
}

namespace {

// Long texts in every place the parser puts them, large attribute and child lists, dropped and
// kept comments, a document type with declarations and references.
std::string TreeWithEverything() {
  std::string text = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE a-document-type-with-a-long-name SYSTEM "a system literal long enough" [
  <!ELEMENT an-element-declared-with-a-long-name (#PCDATA)>
  <!-- a comment in the internal subset, long enough for the heap -->
  %a-parameter-entity-reference-with-a-long-name;
]>
<!-- a comment at the top level, long enough for the heap -->
<an-element-with-a-long-name attribute="a value long enough to live on the heap">
  text before the children, long enough for the heap
  <title>The text of a title long enough for the heap</title>
  <!-- a comment between the children, long enough for the heap -->
  text between the children, long enough for the heap
  <![CDATA[character data long enough for the heap]]>
  <?instruction with a text long enough for the heap?>
  <empty/>
  <big a=")" + std::string(600, 'a') + "\">";
  for (int i = 0; i < 80; ++i) text += "<c n=\"" + std::to_string(i) + "\">child text number " + std::to_string(i) + " of many</c>";
  return text + "</big>\n  text after the children, long enough for the heap\n</an-element-with-a-long-name>\n";
}

TXmlNode* Big(TXmlDocument& doc) { return doc.Root()->NodeByName("big"); }

// A change made to a loaded tree, or to the document, before it loads again.
struct TChange {
  const char* Name;
  std::function<void(TXmlDocument&)> Make;
};

}  // namespace

TEST(XmlNodePool, EveryChangeBetweenLoadsLeavesTheNextLoadIntact) {
  const std::string text = TreeWithEverything();
  std::string expected;
  {
    TXmlDocument fresh;
    fresh.ReadFromString(text);
    expected = fresh.WriteToString();
  }
  const std::string longText(40, 'x');
  // Nodes kept out of the tree across the next load, freed after it.
  std::vector<std::unique_ptr<TXmlNode>> keptOut;
  const TChange changes[] = {
      {"nothing", [](TXmlDocument&) {}},
      {"SetName", [&](TXmlDocument& d) { Big(d)->GetNodes(3)->SetName(longText); }},
      {"SetValue long", [&](TXmlDocument& d) { Big(d)->GetNodes(5)->SetValue(longText); }},
      {"SetValue long on a short one", [&](TXmlDocument& d) { d.Root()->NodeByName("empty")->SetValue(longText); }},
      {"SetValue short", [](TXmlDocument& d) { d.Root()->NodeByName("title")->SetValue("x"); }},
      {"SetValueAsString", [&](TXmlDocument& d) { d.Root()->SetValueAsString(longText); }},
      {"SetValueAsWidestring", [](TXmlDocument& d) { d.Root()->SetValueAsWidestring(WideString(30, L'w')); }},
      {"NodeAdd", [&](TXmlDocument& d) { Big(d)->NodeAdd(new TXmlNode(nullptr, longText, longText)); }},
      {"NodeAdd from the pool", [&](TXmlDocument& d) { Big(d)->NodeAdd(new (&d) TXmlNode(&d, longText, longText)); }},
      {"NodeInsert", [&](TXmlDocument& d) { d.Root()->NodeInsert(0, new (&d) TXmlNode(&d, "i", longText)); }},
      {"NodeNew", [&](TXmlDocument& d) { d.Root()->NodeNew(longText)->SetValue(longText); }},
      {"NodeNewAtIndex", [&](TXmlDocument& d) { d.Root()->NodeNewAtIndex(1, "n"); }},
      {"NodeFindOrCreate", [&](TXmlDocument& d) { d.Root()->NodeFindOrCreate(longText); }},
      {"NodeDelete", [](TXmlDocument& d) { Big(d)->NodeDelete(0); }},
      {"NodeRemove", [](TXmlDocument& d) { d.Root()->NodeRemove(d.Root()->NodeByName("title")); }},
      {"Delete", [](TXmlDocument& d) { d.Root()->NodeByName("title")->Delete(); }},
      {"NodeExtract", [&](TXmlDocument& d) { keptOut.emplace_back(d.Root()->NodeExtract(d.Root()->NodeByName("title"))); }},
      {"NodeExtract of a large list", [&](TXmlDocument& d) { keptOut.emplace_back(d.Root()->NodeExtract(Big(d))); }},
      {"node made but not added", [&](TXmlDocument& d) { keptOut.emplace_back(new (&d) TXmlNode(&d, "kept", longText)); }},
      {"NodesClear", [](TXmlDocument& d) { Big(d)->NodesClear(); }},
      {"AttributeAdd", [&](TXmlDocument& d) { d.Root()->AttributeAdd("b", std::string(700, 'b')); }},
      {"SetAttributeValue", [&](TXmlDocument& d) { Big(d)->SetAttributeValue(0, "short"); }},
      {"SetAttributeByName", [&](TXmlDocument& d) { d.Root()->SetAttributeByName("attribute", longText); }},
      {"AttributesClear", [](TXmlDocument& d) { Big(d)->AttributesClear(); }},
      {"DeleteEmptyAttributes", [](TXmlDocument& d) {
         Big(d)->SetAttributeValue(0, "");
         Big(d)->DeleteEmptyAttributes();
       }},
      {"Clear", [](TXmlDocument& d) { d.Root()->Clear(); }},
      {"Assign", [](TXmlDocument& d) { d.Root()->GetNodes(0)->Assign(*Big(d)); }},
      {"ReadFromString of a node", [&](TXmlDocument& d) { Big(d)->ReadFromString("<x y=\"" + longText + "\">" + longText + "</x>"); }},
      {"BinaryEncode", [](TXmlDocument& d) { d.Root()->NodeByName("title")->BinaryEncode("0123456789abcdefghij", 20); }},
      {"WriteString", [&](TXmlDocument& d) { d.Root()->WriteString("written", longText); }},
      {"ParseDocType", [&](TXmlDocument& d) {
         TStringStream stream(" other [ <!ENTITY an-entity-with-a-long-name \"" + longText + "\"> ]>");
         d.ParseDocType(d.RootNodeList()->NodeByElementType(xeDoctype), stream);
       }},
      {"document Assign", [&](TXmlDocument& d) {
         TXmlDocument other;
         other.ReadFromString("<r><s>" + longText + "</s></r>");
         d.Assign(other);
       }},
      {"document Clear", [](TXmlDocument& d) { d.Clear(); }},
      {"SaveToStream", [](TXmlDocument& d) {
         TMemoryStream out;
         d.SaveToStream(out);
       }},
  };
  for (const TChange& change : changes) {
    for (bool dropComments : {false, true}) {
      TXmlDocument doc;
      doc.DropComments = dropComments;
      doc.ReadFromString(text);
      change.Make(doc);
      doc.DropComments = false;
      doc.ReadFromString(text);
      EXPECT_EQ(doc.WriteToString(), expected) << change.Name;
      // And once more with a change on the tree that was given up as parsed.
      change.Make(doc);
      doc.ReadFromString(text);
      EXPECT_EQ(doc.WriteToString(), expected) << change.Name;
      change.Make(doc);
    }
    keptOut.clear();
  }
}

TEST(XmlNodePool, HandlersThatChangeTheTreeWhileItLoads) {
  const std::string text = TreeWithEverything();
  TXmlDocument doc;
  std::vector<std::unique_ptr<TXmlNode>> taken;
  // Takes every third child text node out of its element while the element is being loaded.
  struct THandler {
    std::vector<std::unique_ptr<TXmlNode>>* Taken;
    int Count = 0;
    void Loaded(TXmlDocument*, TXmlNode* node) {
      if (node->Name() == "c" && ++Count % 3 == 0 && node->Parent())
        Taken->emplace_back(node->Parent()->NodeExtract(node));
    }
  } handler{&taken};
  doc.OnNodeLoaded = TXmlNodeEvent::Of<&THandler::Loaded>(&handler);
  doc.ReadFromString(text);
  EXPECT_EQ(Big(doc)->GetNodeCount(), 80 - 80 / 3);
  handler.Count = 0;
  doc.ReadFromString(text);
  doc.OnNodeLoaded = nullptr;
  doc.ReadFromString(text);
  EXPECT_EQ(Big(doc)->GetNodeCount(), 80);
  doc.ReadFromString(text);
  EXPECT_EQ(taken.size(), 2u * (80 / 3));
  EXPECT_EQ(taken.front()->Value(), "child text number 2 of many");
}

TEST(XmlNodePool, AFailedLoadLeavesWhatItReadToBeFreed) {
  const std::string text = TreeWithEverything();
  TXmlDocument doc;
  doc.ReadFromString(text);
  const std::string broken = text.substr(0, text.find("<c n=\"40\""));
  EXPECT_THROW(doc.ReadFromString(broken), EFilerError);
  EXPECT_EQ(Big(doc)->GetNodeCount(), 40);
  EXPECT_THROW(doc.ReadFromString(broken), EFilerError);
  doc.ReadFromString(text);
  EXPECT_EQ(Big(doc)->GetNodeCount(), 80);
}

// A document loaded after another takes over the long texts of the tree before in the order they
// were parsed, as far as they fit: documents that differ in their texts must read as they would
// into a new document.
TEST(XmlNodePool, DocumentsLoadedInTurnReadAsIntoANewDocument) {
  auto replaced = [](std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
    return text;
  };
  const std::string everything = TreeWithEverything();
  const std::string texts[] = {
      everything,
      replaced(everything, "long enough for the heap", "long enough for the heap, and then some more to be longer still"),
      replaced(everything, "long enough for the heap", "short"),
      replaced(replaced(everything, "child text number", "a child's text, number"), "title", "another-long-element-name"),
      kText,
      LargeText(),
  };
  std::vector<std::string> expected;
  for (const std::string& text : texts) {
    TXmlDocument fresh;
    fresh.ReadFromString(text);
    expected.push_back(fresh.WriteToString());
  }
  const int order[] = {0, 1, 0, 2, 0, 3, 4, 0, 0, 5, 1, 1, 2, 3, 0};
  for (bool dropComments : {false, true}) {
    TXmlDocument doc;
    for (int i : order) {
      doc.DropComments = dropComments;
      TStringStream stream(texts[i]);
      doc.LoadFromStream(stream);
      doc.DropComments = false;
      if (!dropComments) {
        EXPECT_EQ(doc.WriteToString(), expected[static_cast<size_t>(i)]) << i;
      }
    }
  }
}

TEST(XmlNodePool, ANodeWhoseDocumentIsGoneJoinsAnotherTree) {
  const std::string text = TreeWithEverything();
  auto gone = std::make_unique<TXmlDocument>();
  gone->ReadFromString(text);
  TXmlNode* taken = gone->Root()->NodeExtract(Big(*gone));
  gone.reset();
  TXmlDocument doc;
  doc.ReadFromString(text);
  doc.Root()->NodeAdd(taken);
  EXPECT_EQ(taken->Document(), &doc);
  EXPECT_EQ(doc.Root()->GetNodes(doc.Root()->GetNodeCount() - 1)->GetNodeCount(), 80);
  doc.ReadFromString(text);
  EXPECT_EQ(Big(doc)->GetNodeCount(), 80);
}
