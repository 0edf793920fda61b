// A bounded mutation fuzz loop over the XML reader (run under AddressSanitizer and UBSan): no
// crash, no hang, and no exception but the library's own.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "classlib/SysUtils.h"
#include "xml/XmlDocument.h"

namespace {

using namespace std::string_literals;

// Seeds keep their embedded NUL bytes (UTF-16 text).
const std::string kSeeds[] = {
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root a=\"1\" b='2'><x>t &amp; &#x1F600;</x><y/></root>"s,
    "<!DOCTYPE r [<!ELEMENT r ANY><!ATTLIST r a CDATA \"x\"><!ENTITY e \"v\">]><r><![CDATA[<>]]></r>"s,
    "<r><!-- c --><?pi data?><a>one<b/>two</a><!odd></r>"s,
    "<?xml-stylesheet href=\"s\"?><r x = \"1\" y= '&lt;'>  text  </r>"s,
    "\xEF\xBB\xBF<r>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</r>"s,
    "\xFF\xFE<\0r\0>\0x\0<\0/\0r\0>\0"s,
    "\xFE\xFF\0<\0r\0/\0>"s,
    "<?xml version=\"1.0\"?><r>\xE9</r>"s,
};

const char* const kTokens[] = {"<", ">", "/", "\"", "'", "=", "&", ";", "<!--", "-->", "<![CDATA[", "]]>",
                               "<!DOCTYPE x [", "]", "[", "<?", "?>", "<?xml", "&#", "&#x", "<a>", "</a>",
                               "\0", "\xF0", "\xC3", "\xFF\xFE", " ", "\r\n"};

std::string Mutate(std::string text, std::mt19937& random) {
  int steps = 1 + static_cast<int>(random() % 6);
  for (int s = 0; s < steps; ++s) {
    size_t at = text.empty() ? 0 : random() % (text.size() + 1);
    switch (random() % 6) {
      case 0:
        if (!text.empty() && at < text.size()) text[at] = static_cast<char>(random());
        break;
      case 1: {
        const char* token = kTokens[random() % (sizeof kTokens / sizeof kTokens[0])];
        text.insert(at, token[0] ? std::string(token) : std::string(1, '\0'));
        break;
      }
      case 2:
        if (at < text.size()) text.erase(at, 1 + random() % 8);
        break;
      case 3:
        if (at < text.size()) text.insert(at, text.substr(at, 1 + random() % 32));
        break;
      case 4:
        text = text.substr(0, at);
        break;
      default:
        if (!text.empty()) text += text.substr(random() % text.size());
        break;
    }
    if (text.size() > 4096) text.resize(4096);
  }
  return text;
}

// Parses from a string and, with encoding detection, from a stream; writes what was read.
void Exercise(const std::string& input) {
  TXmlDocument doc;
  try {
    doc.ReadFromString(input);
    doc.WriteToString();
  } catch (const Exception&) {
  }
  try {
    TStringStream stream(input);
    doc.LoadFromStream(stream);
    TStringStream out;
    doc.XmlFormat = static_cast<uint8_t>(input.size() % 3);
    doc.SaveToStream(out);
    TXmlDocument again;
    again.LoadFromStream(out);
  } catch (const Exception&) {
  }
}

}  // namespace

TEST(XmlFuzz, MutatedDocumentsRaiseOnlyLibraryErrors) {
  std::mt19937 random(20240229);
  std::vector<std::string> corpus;
  for (const std::string& seed : kSeeds) corpus.push_back(seed);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int runs = 0;
  while (runs < 200000 && std::chrono::steady_clock::now() < deadline) {
    const std::string& parent = corpus[random() % corpus.size()];
    std::string child = Mutate(parent, random);
    ASSERT_NO_THROW(Exercise(child)) << "input #" << runs;
    if (corpus.size() < 512 && random() % 16 == 0) corpus.push_back(child);
    ++runs;
  }
  EXPECT_GT(runs, 1000);
}

TEST(XmlFuzz, PathologicalInputsFinish) {
  std::string attributes = "<r";
  for (int i = 0; i < 20000; ++i) attributes += " a" + std::to_string(i) + "='v'";
  EXPECT_NO_THROW(Exercise(std::string(200000, '<')));
  EXPECT_NO_THROW(Exercise("<!DOCTYPE x [" + std::string(100000, ' ')));
  EXPECT_NO_THROW(Exercise("<r>" + std::string(300000, 'x') + "</r>"));
  EXPECT_NO_THROW(Exercise(attributes + "/>"));
}
