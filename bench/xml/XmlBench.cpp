// Load and save throughput (MB/s) of the XML document library on a generated 32 MB document and,
// when installed, on the shared MIME database's freedesktop.org.xml, beside libxml2 and pugixml
// loading and pugixml saving the same bytes in the same run (when their development packages were
// found at build time). Prints, asserts nothing.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "classlib/Streams.h"
#include "xml/XmlDocument.h"
#include "xml/XmlStreams.h"

#ifdef KBL_BENCH_LIBXML2
#include <libxml/parser.h>
#endif
#ifdef KBL_BENCH_PUGIXML
#include <pugixml.hpp>
#endif

namespace {

// Runs of each measurement; the best counts, so that a run slowed by other work on the machine
// does not.
constexpr int kRuns = 15;

// Best of kRuns, in MB/s of `bytes`.
double Throughput(size_t bytes, const std::function<void()>& work) {
  double best = 1e30;
  for (int run = 0; run < kRuns; ++run) {
    auto start = std::chrono::steady_clock::now();
    work();
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed.count() < best) best = elapsed.count();
  }
  return bytes / 1e6 / best;
}

// About 32 MB of items with attributes, escaped text, non-ASCII characters, comments and
// nested typed values, written indented.
std::string GeneratedDocument() {
  TXmlDocument doc("catalog");
  doc.XmlFormat = 0;
  for (int i = 0; i < 180000; ++i) {
    TXmlNode* item = doc.Root()->NodeNew("item");
    item->AttributeAdd("id", std::to_string(i));
    item->AttributeAdd("name", "Item & \"" + std::to_string(i * 7) + "\"");
    item->WriteString("title", "Caf\xC3\xA9 number " + std::to_string(i) + " <special>");
    item->WriteInteger("count", i % 977);
    item->WriteFloat("price", i * 0.25);
    if (i % 10 == 0) {
      TXmlNode* comment = TXmlNode::CreateType(&doc, xeComment);
      comment->SetValue(" checkpoint " + std::to_string(i) + " ");
      item->NodeAdd(comment);
    }
  }
  return doc.WriteToString();
}

[[maybe_unused]] void PrintRatio(const char* peer, const char* what, double peerRate, double ours) {
  std::printf("%-20s %6s     %s: %s %7.1f MB/s   ours / %s = %.2f\n", "", "", peer, what, peerRate, peer,
              ours / peerRate);
}

void Measure(const char* label, const std::string& text) {
  double load = 0, parse = 0, save = 0;
  {
    // Each load replaces the tree of the one before, as each reference frees its own. Saves go
    // to memory that is already there, as pugixml's do below.
    TXmlDocument doc;
    TStringStream stream(text);
    load = Throughput(text.size(), [&] {
      stream.SetPosition(0);
      doc.LoadFromStream(stream);
    });
    parse = Throughput(text.size(), [&] { doc.ReadFromString(text); });
    doc.StreamEncoding = seUTF8;
    TMemoryStream out;
    out.SetSize(static_cast<int64_t>(text.size()) * 2);
    save = Throughput(text.size(), [&] {
      out.SetPosition(0);
      doc.SaveToStream(out);
    });
  }
  std::printf("%-20s %6.1f MB  ours: load %7.1f MB/s  parse string %7.1f MB/s  save %7.1f MB/s\n", label,
              text.size() / 1e6, load, parse, save);
  bool peers = false;
#ifdef KBL_BENCH_LIBXML2
  peers = true;
  PrintRatio("libxml2", "load", Throughput(text.size(), [&] {
               xmlDocPtr d = xmlReadMemory(text.data(), static_cast<int>(text.size()), "bench.xml", nullptr,
                                           XML_PARSE_HUGE);
               xmlFreeDoc(d);
             }), load);
#endif
#ifdef KBL_BENCH_PUGIXML
  peers = true;
  PrintRatio("pugixml", "load", Throughput(text.size(), [&] {
               pugi::xml_document d;
               d.load_buffer(text.data(), text.size());
             }), load);
  {
    // Compact, as our document writes what it loaded.
    struct TSink : pugi::xml_writer {
      std::string Text;
      void write(const void* data, size_t size) override { Text.append(static_cast<const char*>(data), size); }
    } sink;
    sink.Text.reserve(text.size() * 2);
    pugi::xml_document d;
    d.load_buffer(text.data(), text.size());
    PrintRatio("pugixml", "save", Throughput(text.size(), [&] {
                 sink.Text.clear();
                 d.save(sink, "", pugi::format_raw);
               }), save);
  }
#endif
  if (!peers)
    std::printf("%-20s %6s     (no reference in this build: libxml2 and pugixml are measured natively when\n"
                "%-20s %6s      libxml2-dev and libpugixml-dev are installed)\n", "", "", "", "");
}

}  // namespace

int main() {
  try {
#ifdef KBL_BENCH_LIBXML2
    xmlInitParser();
#endif
    Measure("generated", GeneratedDocument());
    const char* mime = "/usr/share/mime/packages/freedesktop.org.xml";
    if (FileExists(mime)) {
      Measure("freedesktop.org.xml", ReadFileBytes(mime));
    } else {
      std::printf("freedesktop.org.xml not installed, skipped\n");
    }
  } catch (const std::exception& e) {
    std::printf("error: %s\n", e.what());
    return 1;
  }
  return 0;
}
