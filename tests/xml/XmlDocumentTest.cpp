// Tests of the XML document model: nodes, attributes, lookups, paths, Assign, defaults.
#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

#include "classlib/SysUtils.h"

TEST(XmlDocumentModel, NewDocumentHasDeclarationAndEmptyRoot) {
  TXmlDocument doc;
  EXPECT_EQ(doc.WriteToString(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<></>\n");
  EXPECT_TRUE(doc.IsEmpty());
  TXmlDocument named("root");
  EXPECT_EQ(named.Root()->Name(), "root");
  EXPECT_FALSE(named.IsEmpty());
  EXPECT_EQ(named.WriteToString(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root></root>\n");
  EXPECT_EQ(named.Root()->Level(), 0);
  EXPECT_EQ(named.RootNodeList()->Level(), -1);
}

TEST(XmlDocumentModel, NamesRejectBlanks) {
  TXmlDocument doc("root");
  TXmlNode* node = doc.Root()->NodeNew("a");
  for (const char* bad : {"a b", "a\tb", "a\rb", "a\nb"}) {
    try {
      node->SetName(bad);
      FAIL() << bad;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), std::string("Illegal character in node name \"") + bad + "\"");
    }
    EXPECT_EQ(node->Name(), "a");
  }
}

TEST(XmlDocumentModel, ValuesAreHeldEscaped) {
  TXmlDocument doc("root");
  TXmlNode* node = doc.Root()->NodeNew("a");
  node->SetValueAsString("1 < 2 & \"q\"");
  EXPECT_EQ(node->Value(), "1 &lt; 2 &amp; &quot;q&quot;");
  EXPECT_EQ(node->ValueAsString(), "1 < 2 & \"q\"");
  node->SetValue("  x &amp; y \r\n");
  EXPECT_EQ(node->ValueAsString(), "x & y");  // elements trim first
  TXmlNode comment(&doc, "c", " a<b ");
  comment.SetElementType(xeComment);
  EXPECT_EQ(comment.Value(), " a&lt;b ");
  EXPECT_EQ(comment.ValueAsString(), " a<b ");
  node->SetValueAsWidestring(u"\u00E9\U0001F600");
  EXPECT_EQ(node->ValueAsWidestring(), u"\u00E9\U0001F600");
}

TEST(XmlDocumentModel, Attributes) {
  TXmlNode node(nullptr, "n");
  node.AttributeAdd("Key", "1");
  node.AttributeAdd("key", "2");
  EXPECT_EQ(node.AttributeCount(), 2);
  EXPECT_EQ(node.AttributeByName("KEY"), "1");
  EXPECT_EQ(node.AttributeIndexByName("keY"), 0);
  EXPECT_EQ(node.AttributeByName("ke"), "");
  EXPECT_FALSE(node.AttributeExists("ke"));
  node.AttributeAdd("lt", "a<b\"c");
  EXPECT_EQ(node.AttributeText(2), "lt=\"a&lt;b&quot;c\"");
  EXPECT_EQ(node.AttributeByName("lt"), "a<b\"c");
  EXPECT_EQ(node.AttributeName(2), "lt");
  node.SetAttributeValue(1, "x&y");
  EXPECT_EQ(node.AttributeText(1), "key=\"x&amp;y\"");
  node.SetAttributeByName("new", "v");
  node.SetAttributeByName("KEY", "first");
  EXPECT_EQ(node.AttributeText(0), "Key=\"first\"");
  EXPECT_EQ(node.AttributeCount(), 4);
  node.SetAttributeValue(9, "ignored");
  EXPECT_EQ(node.AttributeValue(9), "");
  node.AttributeAdd("empty", "");
  node.DeleteEmptyAttributes();
  EXPECT_FALSE(node.AttributeExists("empty"));
  EXPECT_EQ(node.AttributeCount(), 4);
  EXPECT_EQ(node.GetAttributesText(), " Key=\"first\" key=\"x&amp;y\" lt=\"a&lt;b&quot;c\" new=\"v\"");
  node.AttributesClear();
  EXPECT_EQ(node.AttributeCount(), 0);
}

TEST(XmlDocumentModel, ChildrenByNameAndIndex) {
  TXmlDocument doc("root");
  TXmlNode* root = doc.Root();
  TXmlNode* a = root->NodeNew("alpha");
  TXmlNode* b = root->NodeNew("beta");
  TXmlNode* a2 = root->NodeNew("Alpha");
  EXPECT_EQ(root->NodeByName("ALPHA"), a);
  EXPECT_EQ(root->NodeIndexByNameFrom("alpha", 1), 2);
  EXPECT_EQ(root->NodeIndexByName("gamma"), -1);
  EXPECT_EQ(root->NodeFindOrCreate("beta"), b);
  TXmlNode* g = root->NodeFindOrCreate("gamma");
  EXPECT_EQ(root->GetNodeCount(), 4);
  EXPECT_EQ(root->GetNodes(3), g);
  EXPECT_EQ(root->GetNodes(4), nullptr);
  EXPECT_EQ(root->GetNodes(-1), nullptr);
  EXPECT_EQ(root->NodeNewAtIndex(5, "x"), nullptr);
  TXmlNode* first = root->NodeNewAtIndex(0, "first");
  EXPECT_EQ(root->GetNodes(0), first);
  EXPECT_EQ(first->Document(), &doc);
  EXPECT_EQ(first->Parent(), root);

  EXPECT_EQ(root->NodeRemove(a2), 3);
  EXPECT_EQ(root->NodeRemove(root), -1);
  TXmlNode* extracted = root->NodeExtract(b);
  ASSERT_EQ(extracted, b);
  EXPECT_EQ(root->NodeIndexByName("beta"), -1);
  EXPECT_EQ(root->NodeExtract(b), nullptr);
  root->NodeInsert(1, extracted);
  EXPECT_EQ(root->GetNodes(1), b);
  root->NodeInsert(99, nullptr);
  g->Delete();
  EXPECT_EQ(root->NodeByName("gamma"), nullptr);
  root->NodeDelete(0);
  EXPECT_EQ(root->GetNodes(0), b);
  EXPECT_EQ(root->NodeAdd(nullptr), -1);
  root->NodesClear();
  EXPECT_EQ(root->GetNodeCount(), 0);
}

TEST(XmlDocumentModel, AddingASubtreeAdoptsIt) {
  TXmlDocument doc("root");
  auto* branch = new TXmlNode(nullptr, "branch");
  TXmlNode* leaf = branch->NodeNew("leaf");
  EXPECT_EQ(leaf->Document(), nullptr);
  doc.Root()->NodeAdd(branch);
  EXPECT_EQ(branch->Document(), &doc);
  EXPECT_EQ(leaf->Document(), &doc);
  EXPECT_EQ(leaf->FullPath(), "/root/branch/leaf");
  EXPECT_EQ(leaf->Level(), 2);
}

TEST(XmlDocumentModel, NodesByNameWalksDepthFirstInDocumentOrder) {
  TXmlDocument doc;
  doc.ReadFromString("<root><a id='1'><a id='2'/><b><a id='3'/></b></a><A id='4'/></root>");
  TXmlNodeList list;
  list.Add(doc.Root());  // cleared first
  doc.Root()->NodesByName("a", list);
  ASSERT_EQ(list.Count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(list.GetItems(i)->AttributeByName("id"), std::to_string(i + 1));
  EXPECT_EQ(list.GetItems(4), nullptr);
  doc.Root()->NodesByName("/root/a", list);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetItems(0)->AttributeByName("id"), "1");
  EXPECT_EQ(list.GetItems(1)->AttributeByName("id"), "4");
  doc.Root()->NodesByName("/ROOT/a/b/a", list);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetItems(0)->AttributeByName("id"), "3");
}

TEST(XmlDocumentModel, ClearEmptyAndAssign) {
  TXmlDocument doc("root");
  TXmlNode* root = doc.Root();
  root->AttributeAdd("k", "v");
  TXmlNode* child = root->NodeNew("child");
  child->SetValueAsString("text");
  child->SetTag(7);
  child->NodeNew("grand")->AttributeAdd("g", "1");

  TXmlNode copy(nullptr);
  copy.Assign(*root);
  EXPECT_EQ(copy.Name(), "root");
  EXPECT_EQ(copy.AttributeByName("k"), "v");
  ASSERT_EQ(copy.GetNodeCount(), 1);
  EXPECT_EQ(copy.GetNodes(0)->Tag(), 7);
  EXPECT_EQ(copy.GetNodes(0)->GetNodes(0)->AttributeByName("g"), "1");
  EXPECT_NE(copy.GetNodes(0), child);

  // Assigning a node its own descendant must not read freed memory.
  child->Assign(*child->GetNodes(0));
  EXPECT_EQ(child->Name(), "grand");
  EXPECT_EQ(child->GetNodeCount(), 0);

  TXmlDocument other;
  other.XmlFormat = 0;
  other.WriteDefaults = false;
  other.IndentString = "\t";
  doc.Assign(other);
  EXPECT_EQ(doc.XmlFormat, 0);
  EXPECT_FALSE(doc.WriteDefaults);
  EXPECT_EQ(doc.IndentString, "\t");
  EXPECT_TRUE(doc.IsEmpty());
  EXPECT_EQ(doc.RootNodeList()->GetNodes(0)->Document(), &doc);

  TXmlDocument third;
  third.Assign(copy);
  EXPECT_EQ(third.RootNodeList()->Name(), "root");
  third.AssignIfSet(nullptr);
  child = copy.GetNodes(0);
  EXPECT_FALSE(child->IsEmpty());
  child->Clear();
  EXPECT_TRUE(child->IsClear());
  doc.Clear();
  EXPECT_EQ(doc.XmlFormat, 1);
  EXPECT_TRUE(doc.WriteDefaults);
}
