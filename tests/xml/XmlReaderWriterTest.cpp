// Tests of the XML reader and writer: content rules, error texts, the three formats, files and
// encodings, events, the nesting limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "TestFiles.h"
#include "classlib/SysUtils.h"
#include "xml/XmlDocument.h"
#include "xml/XmlPlatform_p.h"
#include "xml/XmlStreams.h"
#include "xml/XmlText.h"

namespace {

std::string ParseErrorOf(const std::string& text, bool strict = false) {
  TXmlDocument doc;
  doc.StrictStructure = strict;
  try {
    doc.ReadFromString(text);
  } catch (const EFilerError& e) {
    return e.Message();
  }
  return "(no error)";
}

}  // namespace

// --- Content

TEST(XmlReader, ElementTextAndMixedContent) {
  TXmlDocument doc;
  doc.ReadFromString("<r><a>  text &amp; more  </a><b>one <c/> two </b></r>");
  TXmlNode* a = doc.Root()->NodeByName("a");
  EXPECT_EQ(a->Value(), "  text &amp; more  ");
  EXPECT_EQ(a->GetNodeCount(), 0);
  TXmlNode* b = doc.Root()->NodeByName("b");
  EXPECT_EQ(b->Value(), "one");
  ASSERT_EQ(b->GetNodeCount(), 2);
  EXPECT_EQ(b->GetNodes(0)->Name(), "c");
  EXPECT_EQ(b->GetNodes(1)->ElementType(), xeCharData);
  EXPECT_EQ(b->GetNodes(1)->Value(), "two");
}

TEST(XmlReader, AttributesWithBlanksAndQuotes) {
  TXmlDocument doc;
  doc.ReadFromString("<r a = \"1\" b= '2' c =\"x > y\" d='say \"hi\"' e=\"&lt;&#65;\"/>");
  TXmlNode* r = doc.Root();
  EXPECT_EQ(r->AttributeCount(), 5);
  EXPECT_EQ(r->AttributeText(0), "a=\"1\"");
  EXPECT_EQ(r->AttributeByName("b"), "2");
  EXPECT_EQ(r->AttributeByName("c"), "x > y");
  EXPECT_EQ(r->AttributeByName("d"), "say \"hi\"");
  EXPECT_EQ(r->AttributeByName("e"), "<A");
  EXPECT_EQ(r->GetNodeCount(), 0);
}

TEST(XmlReader, TopLevelItemsAndSpecialNodes) {
  TXmlDocument doc;
  doc.ReadFromString(
      "<?xml version=\"1.0\"?>\n<?xml-stylesheet type=\"text/xsl\" href=\"s.xsl\"?>\n"
      "<!-- top -->\n<!DOCTYPE note SYSTEM \"note.dtd\">\n"
      "<note><![CDATA[a <b> & c]]><?target do this?><!-- in --><!weird thing></note>");
  TXmlNode* top = doc.RootNodeList();
  ASSERT_EQ(top->GetNodeCount(), 5);
  EXPECT_EQ(top->GetNodes(0)->ElementType(), xeDeclaration);
  EXPECT_EQ(top->GetNodes(0)->AttributeByName("version"), "1.0");
  EXPECT_EQ(top->GetNodes(1)->ElementType(), xeStylesheet);
  EXPECT_EQ(top->GetNodes(1)->Value(), "type=\"text/xsl\" href=\"s.xsl\"");
  EXPECT_EQ(top->GetNodes(1)->AttributeByName("href"), "s.xsl");
  EXPECT_EQ(top->GetNodes(2)->Name(), "Comment");
  EXPECT_EQ(top->GetNodes(2)->Value(), " top ");
  EXPECT_EQ(top->GetNodes(3)->ElementType(), xeDoctype);
  EXPECT_EQ(top->GetNodes(3)->Name(), "note");
  EXPECT_EQ(top->GetNodes(3)->Value(), "SYSTEM \"note.dtd\"");
  TXmlNode* note = doc.Root();
  ASSERT_EQ(note->GetNodeCount(), 4);
  EXPECT_EQ(note->GetNodes(0)->ElementType(), xeCData);
  EXPECT_EQ(note->GetNodes(0)->Value(), "a <b> & c");
  EXPECT_EQ(note->GetNodes(1)->ElementType(), xeQuestion);
  EXPECT_EQ(note->GetNodes(1)->Value(), "target do this");
  EXPECT_EQ(note->GetNodes(1)->Name(), "Special");
  EXPECT_EQ(note->GetNodes(2)->ElementType(), xeComment);
  EXPECT_EQ(note->GetNodes(3)->ElementType(), xeExclam);
  EXPECT_EQ(note->GetNodes(3)->Value(), "weird thing");
}

TEST(XmlReader, DropComments) {
  TXmlDocument doc;
  doc.DropComments = true;
  doc.ReadFromString("<!-- kept --><r><!-- gone --><a/></r>");
  EXPECT_EQ(doc.RootNodeList()->GetNodes(0)->ElementType(), xeComment);
  ASSERT_EQ(doc.Root()->GetNodeCount(), 1);
  EXPECT_EQ(doc.Root()->GetNodes(0)->Name(), "a");
}

TEST(XmlReader, InternalSubset) {
  TXmlDocument doc;
  doc.ReadFromString(
      "<!DOCTYPE r [\n <!ELEMENT r (#PCDATA)>\n <!ATTLIST r a CDATA \"x>y\">\n"
      " <!ENTITY e \"v\">\n %pe;\n <!NOTATION n SYSTEM \"n\">\n <!-- c -->\n]>\n<r/>");
  TXmlNode* dtd = doc.RootNodeList()->GetNodes(0);
  ASSERT_EQ(dtd->ElementType(), xeDoctype);
  EXPECT_EQ(dtd->Name(), "r");
  ASSERT_EQ(dtd->GetNodeCount(), 6);
  // The parameter-entity reference stays, as character data.
  EXPECT_EQ(dtd->GetNodes(3)->ElementType(), xeCharData);
  EXPECT_EQ(dtd->GetNodes(3)->Value(), "%pe;");
  dtd->NodeDelete(3);
  EXPECT_EQ(dtd->GetNodes(0)->ElementType(), xeDtdElement);
  EXPECT_EQ(dtd->GetNodes(0)->Name(), "r");
  EXPECT_EQ(dtd->GetNodes(0)->Value(), "(#PCDATA)");
  EXPECT_EQ(dtd->GetNodes(1)->ElementType(), xeDtdAttList);
  EXPECT_EQ(dtd->GetNodes(1)->Value(), "a\r\nCDATA\r\n\"x>y\"");
  EXPECT_EQ(dtd->GetNodes(2)->ElementType(), xeDtdEntity);
  EXPECT_EQ(dtd->GetNodes(3)->ElementType(), xeDtdNotation);
  EXPECT_EQ(dtd->GetNodes(4)->ElementType(), xeComment);
  EXPECT_EQ(doc.Root()->Name(), "r");
  EXPECT_EQ(ParseErrorOf("<!DOCTYPE r []><r/>"), "(no error)");
}

TEST(XmlReader, UnclosedInternalSubsetEndsWithAnError) {
  EXPECT_EQ(ParseErrorOf("<!DOCTYPE r [ <!ELEMENT r ANY>"),
            "Missing \"]\" in document type declaration r");
  EXPECT_EQ(ParseErrorOf("<!DOCTYPE r [ junk"), "Missing \"]\" in document type declaration r");
}

// --- Errors

TEST(XmlReader, ErrorTexts) {
  EXPECT_EQ(ParseErrorOf("<a>"), "Missing close tag in element a");
  EXPECT_EQ(ParseErrorOf("<a>text"), "Missing close tag in element a");
  EXPECT_EQ(ParseErrorOf("<a><"), "Missing data after \"<\" in element a");
  EXPECT_EQ(ParseErrorOf("<a></a"), "Missing \">\" in close tag of element a");
  EXPECT_EQ(ParseErrorOf("<a></b>"), "Incorrect close tag in element a");
  EXPECT_EQ(ParseErrorOf("<a></A>"), "(no error)");
  EXPECT_EQ(ParseErrorOf("<a></ab>"), "Incorrect close tag in element a");
  EXPECT_EQ(ParseErrorOf("<>"), "Missing element name");
  EXPECT_EQ(ParseErrorOf("<a b='c"), "Missing element name");
  EXPECT_EQ(ParseErrorOf(""), "No root element found in xml");
  EXPECT_EQ(ParseErrorOf("<!-- only -->"), "No root element found in xml");
  EXPECT_EQ(ParseErrorOf("<a/><b/>"), "(no error)");
}

TEST(XmlReader, StrictStructureErrorTexts) {
  EXPECT_EQ(ParseErrorOf("<a/><b/>", true), "More than one root element found in xml");
  EXPECT_EQ(ParseErrorOf("<?xml?><?xml?><a/>", true), "More than one xml declaration found in xml");
  EXPECT_EQ(ParseErrorOf("<!-- c --><?xml?><a/>", true), "Xml declaration must be first element");
  EXPECT_EQ(ParseErrorOf("<!DOCTYPE a><!DOCTYPE a><a/>", true), "More than one doctype declaration found in root");
  EXPECT_EQ(ParseErrorOf("<a/><!DOCTYPE a>", true), "Doctype declaration found after root element");
  EXPECT_EQ(ParseErrorOf("<![CDATA[x]]><a/>", true), "No CDATA allowed in root");
  EXPECT_EQ(ParseErrorOf("<?xml?><!DOCTYPE a><a/>", true), "(no error)");
  TXmlDocument doc;
  doc.StrictStructure = true;
  doc.RootNodeList()->NodesClear();
  try {
    doc.WriteToString();
    FAIL();
  } catch (const EFilerError& e) {
    EXPECT_EQ(e.Message(), "XML root element not defined.");
  }
}

TEST(XmlReader, KeepsWhatWasReadBeforeAnError) {
  TXmlDocument doc;
  EXPECT_THROW(doc.ReadFromString("<r><a/><b>"), EFilerError);
  ASSERT_NE(doc.Root(), nullptr);
  EXPECT_EQ(doc.Root()->GetNodeCount(), 2);
}

TEST(XmlReader, UnterminatedSpecialNodesAreNoError) {
  TXmlDocument doc;
  doc.ReadFromString("<r/><!-- open");
  EXPECT_EQ(doc.RootNodeList()->GetNodes(1)->Value(), "");
  EXPECT_EQ(ParseErrorOf("<r/><![CDATA[x"), "(no error)");
  EXPECT_EQ(ParseErrorOf("<r/><?pi"), "(no error)");
}

TEST(XmlReader, DeepNestingIsRefused) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  EXPECT_EQ(ParseErrorOf(deep), "Elements nested too deeply in element a");
  std::string fine;
  for (int i = 0; i < kXmlMaxNestingDepth; ++i) fine += "<a>";
  for (int i = 0; i < kXmlMaxNestingDepth; ++i) fine += "</a>";
  EXPECT_EQ(ParseErrorOf(fine), "(no error)");
  EXPECT_EQ(ParseErrorOf("<a>" + fine + "</a>"), "Elements nested too deeply in element a");
}

// --- Events

namespace {

struct Recorder {
  std::vector<std::string> log;
  int abortAfter = -1;
  void NodeNew(TXmlDocument* doc, TXmlNode* node) {
    log.push_back("new " + node->Name());
    if (static_cast<int>(log.size()) == abortAfter) doc->ParseAborted = true;
  }
  void NodeLoaded(TXmlDocument*, TXmlNode* node) { log.push_back("loaded " + node->Name()); }
  void Progress(TXmlDocument*, int64_t position) { log.push_back("at " + std::to_string(position)); }
};

}  // namespace

TEST(XmlReader, EventsAndAbort) {
  Recorder recorder;
  TXmlDocument doc;
  doc.OnNodeNew = TXmlNodeEvent::Of<&Recorder::NodeNew>(&recorder);
  doc.OnNodeLoaded = TXmlNodeEvent::Of<&Recorder::NodeLoaded>(&recorder);
  doc.OnProgress = TXmlProgressEvent::Of<&Recorder::Progress>(&recorder);
  doc.ReadFromString("<r><a/></r>");
  std::vector<std::string> expected = {"at 0", "new r", "new a", "at 7", "loaded a", "at 11", "loaded r", "at 11"};
  EXPECT_EQ(recorder.log, expected);

  recorder.log.clear();
  recorder.abortAfter = 3;  // "at 0", "new r", then stop at the start of "a"
  doc.ReadFromString("<r><a><b/></a><c/></r>");
  EXPECT_TRUE(doc.ParseAborted);
  EXPECT_EQ(recorder.log.back(), "new a");
}

// --- Writing

TEST(XmlWriter, IndentedFormatByteForByte) {
  TXmlDocument doc("root");
  doc.XmlFormat = 0;
  doc.Root()->AttributeAdd("FileType", "MidiMap");
  doc.Root()->NodeNew("a");
  doc.Root()->NodeNew("b");
  EXPECT_EQ(doc.WriteToString(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root FileType=\"MidiMap\">\r\n"
            "  <a/>\r\n  <b/>\r\n</root>\r\n");
}

TEST(XmlWriter, ThreeFormatsWithNestingTextAndSpecialNodes) {
  TXmlDocument doc("r");
  TXmlNode* a = doc.Root()->NodeNew("a");
  a->NodeNew("b")->SetValueAsString("x<y");
  a->NodeNew("c");
  TXmlNode* comment = TXmlNode::CreateType(&doc, xeComment);
  comment->SetValue(" note ");
  doc.Root()->NodeAdd(comment);
  doc.XmlFormat = 0;
  EXPECT_EQ(doc.WriteToString(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<r>\r\n  <a>\r\n    <b>x&lt;y</b>\r\n"
            "    <c/>\r\n  </a>\r\n  <!-- note -->\r\n</r>\r\n");
  doc.XmlFormat = 1;
  EXPECT_EQ(doc.WriteToString(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r><a><b>x&lt;y</b><c/></a><!-- note --></r>\n");
  doc.XmlFormat = 2;
  EXPECT_EQ(doc.WriteToString(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>\n<a>\n<b>x&lt;y</b>\n<c/>\n</a>\n<!-- note -->\n</r>\n");
  doc.XmlFormat = 1;
  doc.WriteEmptyInFull = true;
  EXPECT_EQ(doc.Root()->NodeByName("a")->WriteToString(), "<a><b>x&lt;y</b><c></c></a>");
}

TEST(XmlWriter, MixedContentHasNoBreaksAroundText) {
  TXmlDocument doc;
  doc.ReadFromString("<r>one <c/> two <d/></r>");
  doc.XmlFormat = 0;
  EXPECT_EQ(doc.Root()->WriteToString(), "<r>one\r\n  <c/>two  <d/>\r\n</r>");
}

TEST(XmlWriter, AllNodeTypes) {
  TXmlDocument doc;
  doc.ReadFromString(
      "<?xml version=\"1.0\" standalone=\"\"?><?xml-stylesheet href=\"a\"?><!DOCTYPE r [<!ELEMENT r ANY>"
      "<!ATTLIST r a CDATA #IMPLIED><!ENTITY e \"x\"><!NOTATION n SYSTEM \"y\">]><r><![CDATA[<&>]]>"
      "<?pi x?><!other></r>");
  TXmlNode* unknown = TXmlNode::CreateType(&doc, xeUnknown);
  unknown->SetValue("odd");
  doc.Root()->NodeAdd(unknown);
  EXPECT_EQ(doc.WriteToString(),
            "<?xml version=\"1.0\"?>\n<?xml-stylesheet href=\"a\"?>\n<!DOCTYPE r  [<!ELEMENT r ANY>"
            "<!ATTLIST r a\r\nCDATA\r\n#IMPLIED><!ENTITY e \"x\"><!NOTATION n SYSTEM\r\n\"y\">]>\n"
            "<r><![CDATA[<&>]]><?pi x?><!other><odd></r>\n");
  unknown->SetElementType(14);
  try {
    doc.WriteToString();
    FAIL();
  } catch (const EFilerError& e) {
    EXPECT_EQ(e.Message(), "Illegal element type");
  }
}

TEST(XmlWriter, ReadWriteIsStable) {
  const std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- c -->\n<r a=\"1\" b=\"&amp;&lt;\"><x>t &amp; u</x>"
      "<y/><![CDATA[z]]><w k=\"v\">p<q/>s</w></r>\n";
  TXmlDocument doc;
  doc.ReadFromString(text);
  EXPECT_EQ(doc.WriteToString(), text);
}

TEST(XmlWriter, WhatIsWrittenReadsBackTheSame) {
  const struct {
    const char* Text;  // read, then written
    const char* Written;
  } cases[] = {
      // Instructions whose targets only begin with "xml" are no declarations.
      {"<?xml-foo bar?>\n<r><?xmlbar x=\"1\"?></r>\n", nullptr},
      {"<?xml-stylesheet-x a?>\n<r></r>\n", nullptr},
      // Public identifiers holding "=" stay apart from the system identifier after them.
      {"<!DOCTYPE html PUBLIC \"-//A=B//EN\" \"r.dtd\">\n<html></html>\n", nullptr},
      {"<!DOCTYPE r [<!ENTITY e PUBLIC \"-//A=B//EN\" \"x.ent\"><!NOTATION n PUBLIC 'a=b' 's'>%p;]>\n<r/>\n",
       "<!DOCTYPE r  [<!ENTITY e PUBLIC\r\n\"-//A=B//EN\"\r\n\"x.ent\"><!NOTATION n PUBLIC\r\n'a=b'\r\n's'>%p;]>\n<r></r>\n"},
  };
  for (const auto& c : cases) {
    TXmlDocument doc;
    doc.ReadFromString(c.Text);
    const std::string written = doc.WriteToString();
    EXPECT_EQ(written, c.Written ? c.Written : c.Text);
    TXmlDocument again;
    again.ReadFromString(written);
    EXPECT_EQ(again.WriteToString(), written);
  }
  TXmlDocument doc;
  doc.ReadFromString("<?xml-foo bar?><?xmlbar?><r/>");
  EXPECT_EQ(doc.RootNodeList()->GetNodes(0)->ElementType(), xeQuestion);
  EXPECT_EQ(doc.RootNodeList()->GetNodes(0)->Value(), "xml-foo bar");
  EXPECT_EQ(doc.RootNodeList()->GetNodes(1)->ElementType(), xeQuestion);
  EXPECT_EQ(doc.RootNodeList()->GetNodes(1)->Value(), "xmlbar");
  doc.ReadFromString("<?xml?><?xml-stylesheet?><r/>");
  EXPECT_EQ(doc.RootNodeList()->GetNodes(0)->ElementType(), xeDeclaration);
  EXPECT_EQ(doc.RootNodeList()->GetNodes(1)->ElementType(), xeStylesheet);
}

// --- Files and encodings

TEST(XmlFiles, TheDeclarationNamesTheEncodingWritten) {
  TempDir dir;
  const std::string name = dir.File("doc.xml");
  const struct {
    uint8_t Encoding;
    std::string Name;
  } cases[] = {{seUTF8, "UTF-8"},       {seUTF16LE, "UTF-16"}, {seUTF16BE, "UTF-16"},
               {se16BitLE, "UTF-16"},   {se16BitBE, "UTF-16"}, {seAnsi, XmlAnsiEncodingName()}};
  for (const auto& c : cases) {
    for (bool declared : {true, false}) {
      // A document read from a file that declared another encoding.
      TXmlDocument doc;
      doc.ReadFromString(std::string(declared ? "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" : "") +
                         "<r a=\"caf\xC3\xA9\"/>");
      doc.StreamEncoding = c.Encoding;
      doc.SaveToFile(name);
      TXmlDocument back;
      back.LoadFromFile(name);
      ASSERT_NE(back.Root(), nullptr) << int(c.Encoding) << declared;
      EXPECT_EQ(back.Root()->AttributeByName("a"), "caf\xC3\xA9") << int(c.Encoding) << declared;
      TXmlNode* declaration = back.RootNodeList()->NodeByElementType(xeDeclaration);
      // Without a declaration only the encodings a reader cannot tell from the bytes get one.
      bool expected = declared || c.Encoding == seAnsi || c.Encoding == se16BitLE || c.Encoding == se16BitBE;
      ASSERT_EQ(declaration != nullptr, expected) << int(c.Encoding) << declared;
      if (declaration) {
        EXPECT_EQ(declaration->AttributeByName("encoding"), c.Name) << int(c.Encoding);
      }
      // The tree saved keeps its own declaration.
      if (declared) {
        EXPECT_EQ(doc.RootNodeList()->GetNodes(0)->AttributeByName("encoding"), "ISO-8859-1");
      }
    }
  }
}

TEST(XmlFiles, SaveAndLoadInEveryEncoding) {
  TempDir dir;
  const std::string name = dir.File("doc.xml");
  for (uint8_t encoding : {seUTF8, seUTF16LE, seUTF16BE, se16BitLE, se16BitBE}) {
    TXmlDocument doc("root");
    doc.StreamEncoding = encoding;
    doc.Root()->WriteString("text", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 <&>");
    doc.Root()->AttributeAdd("attr", "\xC3\xBC");
    doc.SaveToFile(name);
    TXmlDocument back;
    back.LoadFromFile(name);
    uint8_t expected = encoding == se16BitLE ? uint8_t(seUTF16LE) : encoding == se16BitBE ? uint8_t(seUTF16BE) : encoding;
    EXPECT_EQ(back.StreamEncoding, expected);
    EXPECT_EQ(back.Root()->ReadString("text"), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 <&>");
    EXPECT_EQ(back.Root()->AttributeByName("attr"), "\xC3\xBC");
  }
}

TEST(XmlFiles, Utf16FileIsWrittenWithMarkAndUnits) {
  TempDir dir;
  TXmlDocument doc("r");
  doc.StreamEncoding = seUTF16LE;
  doc.RootNodeList()->NodeDelete(0);
  doc.SaveToFile(dir.File("a.xml"));
  std::string bytes = ReadFileBytes(dir.File("a.xml"));
  EXPECT_EQ(bytes, std::string("\xFF\xFE<\0r\0>\0<\0/\0r\0>\0\n\0", 18));
}

TEST(XmlFiles, DeclarationDecidesAnEightBitGuess) {
  TempDir dir;
  // "<?xm" reads as 8-bit until a declaration without another encoding switches to UTF-8.
  WriteFileBytes(dir.File("u.xml"), "<?xml version=\"1.0\"?><r>\xC3\xA9</r>");
  TXmlDocument doc;
  doc.LoadFromFile(dir.File("u.xml"));
  EXPECT_EQ(doc.Root()->ValueAsString(), "\xC3\xA9");
  EXPECT_EQ(doc.StreamEncoding, seUTF8);
  WriteFileBytes(dir.File("a.xml"), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>x</r>");
  doc.LoadFromFile(dir.File("a.xml"));
  EXPECT_EQ(doc.StreamEncoding, seAnsi);
  // A byte-order mark wins over a declaration that names another encoding.
  TXmlDocument wide("r");
  wide.StreamEncoding = seUTF16LE;
  wide.Root()->SetValueAsString("\xC3\xA9");
  wide.SaveToFile(dir.File("w.xml"));
  doc.LoadFromFile(dir.File("w.xml"));
  EXPECT_EQ(doc.StreamEncoding, seUTF16LE);
  EXPECT_EQ(doc.Root()->ValueAsString(), "\xC3\xA9");
  // No mark and no declaration: UTF-8.
  WriteFileBytes(dir.File("n.xml"), "<r>\xC3\xA9</r>");
  doc.LoadFromFile(dir.File("n.xml"));
  EXPECT_EQ(doc.Root()->ValueAsString(), "\xC3\xA9");
  // A byte 0 ends the text.
  WriteFileBytes(dir.File("z.xml"), std::string("<r/>\0<x>", 8));
  doc.LoadFromFile(dir.File("z.xml"));
  EXPECT_EQ(doc.RootNodeList()->GetNodeCount(), 1);
}

TEST(XmlFiles, LoadFromFileQuiet) {
  TempDir dir;
  WriteFileBytes(dir.File("bad.xml"), "<r><a/>");
  TXmlDocument doc;
  doc.StrictStructure = true;
  EXPECT_FALSE(doc.LoadFromFileQuiet(dir.File("bad.xml")));
  EXPECT_FALSE(doc.StrictStructure);
  EXPECT_EQ(doc.Root()->GetNodeCount(), 1);
  WriteFileBytes(dir.File("two.xml"), "<a/><b/>");
  EXPECT_TRUE(doc.LoadFromFileQuiet(dir.File("two.xml")));
  WriteFileBytes(dir.File("empty.xml"), "");
  EXPECT_FALSE(doc.LoadFromFileQuiet(dir.File("empty.xml")));
  WriteFileBytes(dir.File("ucs4.xml"), std::string("\0\0\xFE\xFF\0\0\0<", 8));
  EXPECT_THROW(doc.LoadFromFileQuiet(dir.File("ucs4.xml")), EStreamError);
  EXPECT_THROW(doc.LoadFromFileQuiet(dir.File("missing.xml")), EFOpenError);
}

TEST(XmlFiles, LargeDocumentCrossesBufferPages) {
  TempDir dir;
  TXmlDocument doc("root");
  doc.XmlFormat = 0;
  for (int i = 0; i < 20000; ++i) {
    TXmlNode* n = doc.Root()->NodeNew("item");
    n->AttributeAdd("i", std::to_string(i));
    n->SetValueAsString("value \xC3\xA9 " + std::to_string(i * 7));
  }
  doc.SaveToFile(dir.File("big.xml"));
  TXmlDocument back;
  back.LoadFromFile(dir.File("big.xml"));
  ASSERT_EQ(back.Root()->GetNodeCount(), 20000);
  for (int i = 0; i < 20000; i += 997) {
    EXPECT_EQ(back.Root()->GetNodes(i)->AttributeByName("i"), std::to_string(i));
    EXPECT_EQ(back.Root()->GetNodes(i)->ValueAsString(), "value \xC3\xA9 " + std::to_string(i * 7));
  }
}

// The reader takes the text in blocks (64 KB, and 4 KB of 8-bit text): every kind of markup must
// read the same when a block ends inside it, from a string, through the codec after the 8-bit guess
// that the declaration turns into UTF-8, and as 8-bit text.
TEST(XmlFiles, BlocksMayEndInsideAnyMarkup) {
  auto unitOf = [](const std::string& letters) {
    return "<e a=\"x > y\" b='it''s' c = \"3\">text &amp; " + letters + "</e><!-- c -- d -->"
           "<![CDATA[ <x> ]]><?pi data?><f/><g  h = \"1\" />";
  };
  const std::string utf8Letters = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  const std::string ansiLetter = "\xE9";
  const std::string ansiAsUtf8 = sdWideToUtf8(XmlAnsiToWide(ansiLetter));
  constexpr int kUnits = 80;
  struct TCase {
    const char* Name;
    std::string Declaration;
    std::string Letters, Expected;
    bool ThroughCodec;
  };
  const TCase cases[] = {
      {"string", "", utf8Letters, utf8Letters, false},
      {"guessed", "<?xml version=\"1.0\"?>", utf8Letters, utf8Letters, true},
      {"8-bit", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", ansiLetter, ansiAsUtf8, true},
  };
  for (const TCase& c : cases) {
    const std::string unit = unitOf(c.Letters);
    std::string units;
    for (int i = 0; i < kUnits; ++i) units += unit;
    // The filler moves the units over the end of the first block a byte at a time.
    const size_t first = 65536 - kUnits / 2 * unit.size();
    for (size_t filler = first; filler < first + unit.size(); ++filler) {
      const std::string text = c.Declaration + "<r><!--" + std::string(filler, 'x') + "-->" + units + "</r>";
      TXmlDocument doc;
      if (c.ThroughCodec) {
        TStringStream stream(text);
        doc.LoadFromStream(stream);
      } else {
        doc.ReadFromString(text);
      }
      const std::string where = std::string(c.Name) + " filler " + std::to_string(filler);
      TXmlNode* root = doc.Root();
      ASSERT_NE(root, nullptr) << where;
      ASSERT_EQ(root->GetNodeCount(), 1 + 6 * kUnits) << where;
      EXPECT_EQ(root->GetNodes(0)->Value().size(), filler) << where;
      for (int i = 0; i < kUnits; ++i) {
        const int at = 1 + 6 * i;
        TXmlNode* e = root->GetNodes(at);
        ASSERT_EQ(e->Name(), "e") << where << " unit " << i;
        ASSERT_EQ(e->AttributeByName("a"), "x > y") << where << " unit " << i;
        ASSERT_EQ(e->AttributeByName("b"), "it's") << where << " unit " << i;
        ASSERT_EQ(e->AttributeText(2), "c=\"3\"") << where << " unit " << i;
        ASSERT_EQ(e->Value(), "text &amp; " + c.Expected) << where << " unit " << i;
        ASSERT_EQ(root->GetNodes(at + 1)->Value(), " c -- d ") << where << " unit " << i;
        ASSERT_EQ(root->GetNodes(at + 2)->Value(), " <x> ") << where << " unit " << i;
        ASSERT_EQ(root->GetNodes(at + 3)->Value(), "pi data") << where << " unit " << i;
        ASSERT_EQ(root->GetNodes(at + 4)->Name(), "f") << where << " unit " << i;
        ASSERT_EQ(root->GetNodes(at + 5)->AttributeText(0), "h=\"1\"") << where << " unit " << i;
      }
    }
  }
}

// Start tags of the plain form are read in one go, others (and any that a block ends in) split
// into pieces: both must give the same names, attribute entries and empty elements.
TEST(XmlFiles, StartTagsOfEveryFormReadTheSameAcrossBlocks) {
  const std::string unit =
      "<p a=\"1\" bb='x>y' c=\"&amp;\">t</p><q z=\"2\"/><r  s=\"3\"\t\r\n u='4'  >v</r><t/><w x=\"5\" />"
      "<y1 a = \"1\"/><y2 a=\"1\"b=\"2\"/><y3/ ></y3/><y4 a=1 b/><y5 a=\"1\"/ ></y5><y6 'q'=\"1\"/>"
      "<y7 =\"1\"/><y8 a=\"1\" / ></y8><y9 a=\"\"/><n\xC3\xA9 \xC3\xA9=\"\xC3\xA9\"/>";
  std::string units;
  for (int i = 0; i < 200; ++i) units += unit;
  auto childrenOf = [](const std::string& text, const std::string& where) {
    TXmlDocument doc;
    TStringStream stream(text);
    doc.LoadFromStream(stream);
    std::string written;
    TXmlNode* root = doc.Root();
    EXPECT_EQ(root->GetNodeCount(), 1 + 200 * 15) << where;
    for (int i = 1; i < root->GetNodeCount(); ++i) written += root->GetNodes(i)->WriteToString() + "|";
    return written;
  };
  const std::string expected = childrenOf("<r><!---->" + units + "</r>", "reference");
  EXPECT_NE(expected.find("<q z=\"2\"/>|<r s=\"3\" u='4'>v</r>|"), std::string::npos);
  // The units move over the end of the first block a byte at a time.
  const size_t first = 65536 - 100 * unit.size();
  for (size_t filler = first; filler < first + unit.size(); ++filler) {
    const std::string where = "filler " + std::to_string(filler);
    ASSERT_EQ(childrenOf("<r><!--" + std::string(filler, 'x') + "-->" + units + "</r>", where), expected) << where;
  }
}

// Progress reports the position in the file after each node, whatever the encoding: a byte a
// byte in UTF-8, one byte for each character in 8-bit text, two (or four) bytes in UTF-16.
TEST(XmlReader, ProgressReportsFilePositions) {
  const std::string tail = "<r><a x=\"\xC3\xA9\"/><b>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</b><!--c--><d>x</d></r>";
  const char* const ends[] = {"/>", "</b>", "-->", "</d>", "</r>"};
  struct TCase {
    std::string File;
    std::string Text;  // as the parser sees it
    std::function<int64_t(const std::string&)> Position;  // file position after a prefix of Text
  };
  const std::string ansiText = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><b>\xE9\xE9x</b><d>\xE9</d></r>";
  auto utf16 = [](const std::string& utf8) {
    std::string bytes = "\xFF\xFE";
    for (char16_t u : sdUtf8ToWide(utf8)) {
      bytes += static_cast<char>(u & 0xFF);
      bytes += static_cast<char>(u >> 8);
    }
    return bytes;
  };
  const TCase cases[] = {
      {tail, tail, [](const std::string& prefix) { return static_cast<int64_t>(prefix.size()); }},
      {"\xEF\xBB\xBF" + tail, tail, [](const std::string& prefix) { return static_cast<int64_t>(prefix.size()) + 3; }},
      {utf16(tail), tail,
       [](const std::string& prefix) { return static_cast<int64_t>(2 + 2 * sdUtf8ToWide(prefix).size()); }},
      {ansiText, ansiText, [](const std::string& prefix) { return static_cast<int64_t>(prefix.size()); }},
  };
  for (const TCase& c : cases) {
    Recorder recorder;
    TXmlDocument doc;
    doc.OnProgress = TXmlProgressEvent::Of<&Recorder::Progress>(&recorder);
    TStringStream stream(c.File);
    doc.LoadFromStream(stream);
    // The positions expected: after the declaration, after each node that ends with one of the
    // ends (in the order of the text), and the size at the end.
    std::vector<std::string> expected = {"at 0"};
    if (c.Text.compare(0, 5, "<?xml") == 0) expected.push_back("at " + std::to_string(c.Position(c.Text.substr(0, c.Text.find("?>") + 2))));
    size_t from = c.Text.find("<r>");
    std::vector<std::pair<size_t, size_t>> found;
    for (const char* end : ends) {
      for (size_t at = c.Text.find(end, from); at != std::string::npos; at = c.Text.find(end, at + 1))
        found.push_back({at + std::strlen(end), 0});
    }
    std::sort(found.begin(), found.end());
    for (const auto& f : found) expected.push_back("at " + std::to_string(c.Position(c.Text.substr(0, f.first))));
    expected.push_back("at " + std::to_string(c.File.size()));
    EXPECT_EQ(recorder.log, expected) << c.File;
  }
}

// A node parsed from a stream leaves the stream just after it, for the next one to go on.
TEST(XmlReader, ParseStreamLeavesTheStreamAfterTheNode) {
  const std::string text = "<a x='1'>t</a>  <b/>rest";
  TXmlDocument doc;
  TStringStream stream(text);
  TXmlNode a(&doc), b(&doc);
  a.ParseStream(stream);
  EXPECT_EQ(a.Name(), "a");
  EXPECT_EQ(stream.GetPosition(), static_cast<int64_t>(text.find("  <b/>")));
  b.ParseStream(stream);
  EXPECT_EQ(b.Name(), "b");
  EXPECT_EQ(stream.GetPosition(), static_cast<int64_t>(text.find("rest")));
}

// The MIDI map's use: one root with a file type and one child per binding.
TEST(XmlFiles, MidiMapShape) {
  TempDir dir;
  {
    TXmlDocument doc("root");
    doc.Root()->AttributeAdd("FileType", "MidiMap");
    TXmlNode* b = doc.Root()->NodeNew("MidiBinding");
    b->AttributeAdd("ParameterName", "Mix & \"Dry\"");
    b->AttributeAdd("ParameterID", "3");
    doc.XmlFormat = 0;
    doc.SaveToFile(dir.File("Midi Map.xml"));
  }
  TXmlDocument doc;
  doc.LoadFromFile(dir.File("Midi Map.xml"));
  EXPECT_EQ(doc.Root()->AttributeByName("FileType"), "MidiMap");
  TXmlNodeList list;
  doc.Root()->NodesByName("MidiBinding", list);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetItems(0)->AttributeByName("ParameterName"), "Mix & \"Dry\"");
}
