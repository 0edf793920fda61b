// Round trips against references written elsewhere: documents written here must parse with
// python3's xml.etree (and pass xmllint) to the same tree, and documents written by those tools
// must parse here to the same tree. Both sides print a tree in one canonical line.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "TestFiles.h"
#include "classlib/SysUtils.h"
#include "xml/XmlDocument.h"
#include "xml/XmlStreams.h"
#include "xml/XmlText.h"

namespace {

// The canonical form, printed the same way by the Python script below: elements as
// E(tag|attributes sorted by name|text|children), comments C(text), instructions P(text), with
// text as hexadecimal UTF-8 so that no quoting rules get in the way.
const char* const kPythonDump = R"PY(
import sys, xml.etree.ElementTree as ET
def hx(s): return (s or '').encode('utf-8').hex()
def dump(e):
    if e.tag is ET.Comment: return 'C(' + hx(e.text) + ')'
    if e.tag is ET.PI: return 'P(' + hx(e.text) + ')'
    attrs = ','.join(k + '=' + hx(v) for k, v in sorted(e.attrib.items()))
    return 'E(' + e.tag + '|' + attrs + '|' + hx(e.text) + '|' + ''.join(dump(c) for c in e) + ')'
for name in sys.argv[1:]:
    parser = ET.XMLParser(target=ET.TreeBuilder(insert_comments=True, insert_pis=True))
    with open(name, 'rb') as f:
        parser.feed(f.read())
    print(dump(parser.close()))
)PY";

std::string Hex(const std::string& s) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Dump(const TXmlNode* e) {
  switch (e->ElementType()) {
    case xeComment: return "C(" + Hex(e->Value()) + ")";
    case xeQuestion: return "P(" + Hex(e->Value()) + ")";
    default: break;
  }
  std::vector<std::pair<std::string, std::string>> attrs;
  for (int32_t i = 0; i < e->AttributeCount(); ++i) attrs.emplace_back(e->AttributeName(i), e->AttributeValue(i));
  std::sort(attrs.begin(), attrs.end());
  std::string a;
  for (auto& [k, v] : attrs) a += (a.empty() ? "" : ",") + k + "=" + Hex(v);
  // Character data and CDATA directly inside the element, before the first other child.
  std::string text = UnescapeText(e->Value());
  std::string children;
  for (int32_t i = 0; i < e->GetNodeCount(); ++i) {
    const TXmlNode* c = e->GetNodes(i);
    if (c->ElementType() == xeCData && children.empty()) text += c->Value();
    else if (c->ElementType() == xeCharData && children.empty()) text += UnescapeText(c->Value());
    else children += Dump(c);
  }
  return "E(" + e->Name() + "|" + a + "|" + Hex(text) + "|" + children + ")";
}

std::string RunCommand(const std::string& command) {
  int status = 0;
  std::string out = CommandOutput(command, &status);
  if (status != 0) out += "\n(exit " + std::to_string(status) + ")";
  return out;
}

// Random text from a pool that exercises escaping and every UTF-8 length.
std::string RandomText(std::mt19937& random, bool markupSafe) {
  static const char* const kPieces[] = {"a", "Z", "0", " ", "&", "<", ">", "'", "\"", "\xC3\xA9",
                                        "\xE2\x82\xAC", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBD", "]]", ";", "#"};
  std::string s;
  int length = 1 + static_cast<int>(random() % 12);
  for (int i = 0; i < length; ++i) {
    std::string piece = kPieces[random() % (sizeof kPieces / sizeof kPieces[0])];
    if (markupSafe && (piece == "<" || piece == ">" || piece == "]]" || piece == "&")) piece = "x";
    s += piece;
  }
  return s;
}

void Grow(TXmlNode* node, std::mt19937& random, int depth) {
  int children = depth > 3 ? 0 : static_cast<int>(random() % 5);
  int attributes = static_cast<int>(random() % 4);
  for (int i = 0; i < attributes; ++i) node->AttributeAdd("a" + std::to_string(i), RandomText(random, false));
  if (children == 0) {
    if (random() % 3 == 0) {
      TXmlNode* cdata = TXmlNode::CreateType(node->Document(), xeCData);
      cdata->SetValue(RandomText(random, true));
      node->NodeAdd(cdata);
    } else {
      node->SetValueAsString(RandomText(random, false));
    }
    return;
  }
  for (int i = 0; i < children; ++i) {
    switch (random() % 5) {
      case 0: {
        TXmlNode* c = TXmlNode::CreateType(node->Document(), xeComment);
        c->SetValue(" " + RandomText(random, true) + " ");
        node->NodeAdd(c);
        break;
      }
      case 1: {
        TXmlNode* p = TXmlNode::CreateType(node->Document(), xeQuestion);
        // The instruction's data starts after the blanks that follow its target.
        p->SetValue("pi" + std::to_string(i) + " d" + RandomText(random, true));
        node->NodeAdd(p);
        break;
      }
      default:
        Grow(node->NodeNew("n" + std::to_string(random() % 4)), random, depth + 1);
    }
  }
}

class XmlRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    script_ = dir_.File("dump.py");
    std::ofstream(script_) << kPythonDump;
  }
  std::string PythonDump(const std::vector<std::string>& files) {
    std::string command = "python3 '" + script_ + "'";
    for (const auto& f : files) command += " '" + f + "'";
    return RunCommand(command + " 2>&1");
  }
  TempDir dir_;
  std::string script_;
};

}  // namespace

TEST_F(XmlRoundTrip, WrittenHereReadByPythonAndXmllint) {
  std::mt19937 random(4711);
  std::vector<std::string> files;
  std::string expected;
  const uint8_t encodings[] = {seUTF8, seUTF16LE, seUTF16BE};
  for (int i = 0; i < 60; ++i) {
    TXmlDocument doc("root");
    doc.StreamEncoding = encodings[i % 3];
    doc.XmlFormat = 1;
    if (doc.StreamEncoding != seUTF8) doc.RootNodeList()->GetNodes(0)->SetAttributeByName("encoding", "UTF-16");
    Grow(doc.Root(), random, 0);
    TXmlNode* comment = TXmlNode::CreateType(&doc, xeComment);
    comment->SetValue(" top ");
    doc.RootNodeList()->NodeInsert(1, comment);
    std::string name = dir_.File("out" + std::to_string(i) + ".xml");
    doc.SaveToFile(name);
    files.push_back(name);
    expected += Dump(doc.Root()) + "\n";
  }
  EXPECT_EQ(PythonDump(files), expected);
  std::string lint = "xmllint --noout";
  for (const auto& f : files) lint += " '" + f + "'";
  EXPECT_EQ(RunCommand(lint + " 2>&1"), "");
}

TEST_F(XmlRoundTrip, WrittenByPythonAndXmllintReadHere) {
  const char* const generator = R"PY(
import sys, random, xml.etree.ElementTree as ET
random.seed(99)
pieces = ['a', 'Z', ' ', '&', '<', '>', "'", '"', '\u00e9', '\u20ac', '\u4e2d', '\U0001F600', ']]>', '\t', '\n']
def text(safe):
    s = ''.join(random.choice(pieces) for _ in range(random.randint(1, 10)))
    if safe:
        for bad in '<>&]-?':
            s = s.replace(bad, 'x')
    return s
def grow(e, depth):
    for i in range(random.randint(0, 3)):
        e.set('k%d' % i, text(False))
    n = 0 if depth > 3 else random.randint(0, 4)
    if n == 0:
        e.text = text(False).strip() or 'q'
    for i in range(n):
        r = random.random()
        if r < 0.2: e.append(ET.Comment(' ' + text(True) + ' '))
        elif r < 0.35: e.append(ET.PI('pi%d' % i, text(True).strip() or 'q'))
        else: grow(ET.SubElement(e, 'n%d' % random.randint(0, 3)), depth + 1)
out = sys.argv[1]
for i in range(45):
    root = ET.Element('root')
    grow(root, 0)
    body = ET.tostring(root, encoding='unicode')
    kind = i % 3
    if kind == 0:
        data = ('<?xml version="1.0" encoding="UTF-8"?>\n<!-- top -->\n' + body + '\n').encode('utf-8')
    elif kind == 1:
        data = '\ufeff<?xml version="1.0" encoding="UTF-16"?>\n'.encode('utf-16-le') + (body + '\n').encode('utf-16-le')
    else:
        data = '\ufeff<?xml version="1.0" encoding="UTF-16"?>\n'.encode('utf-16-be') + (body + '\n').encode('utf-16-be')
    with open('%s/py%d.xml' % (out, i), 'wb') as f:
        f.write(data)
with open('%s/cdata.xml' % out, 'wb') as f:
    f.write('<r a="1"><![CDATA[<x> & \u00e9]]></r>'.encode('utf-8'))
)PY";
  std::string gen = dir_.File("gen.py");
  std::ofstream(gen) << generator;
  ASSERT_EQ(RunCommand("python3 '" + gen + "' '" + dir_.Path() + "' 2>&1"), "");
  std::vector<std::string> files;
  for (int i = 0; i < 45; ++i) files.push_back(dir_.File("py" + std::to_string(i) + ".xml"));
  files.push_back(dir_.File("cdata.xml"));
  // xmllint re-encodes some of them; the library must read its output too.
  for (int i = 0; i < 6; ++i) {
    std::string name = dir_.File("lint" + std::to_string(i) + ".xml");
    ASSERT_EQ(RunCommand("xmllint --encode " + std::string(i % 2 ? "UTF-16" : "UTF-8") + " --output '" + name + "' '" +
                  files[static_cast<size_t>(i)] + "' 2>&1"), "");
    files.push_back(name);
  }
  std::string expected = PythonDump(files);
  std::string actual;
  for (const auto& f : files) {
    TXmlDocument doc;
    doc.LoadFromFile(f);
    actual += Dump(doc.Root()) + "\n";
  }
  EXPECT_EQ(actual, expected);
}
