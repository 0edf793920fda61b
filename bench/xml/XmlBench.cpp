// Parse and write throughput (MB/s) of the XML document library on a large generated document
// and, when installed, on the shared MIME database's freedesktop.org.xml. Prints, asserts nothing.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "classlib/Streams.h"
#include "xml/XmlDocument.h"
#include "xml/XmlStreams.h"

namespace {

// Best of a few runs, in MB/s of `bytes`.
double Throughput(size_t bytes, const std::function<void()>& work) {
  double best = 1e30;
  for (int run = 0; run < 3; ++run) {
    auto start = std::chrono::steady_clock::now();
    work();
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed.count() < best) best = elapsed.count();
  }
  return bytes / 1e6 / best;
}

std::string GeneratedDocument() {
  TXmlDocument doc("catalog");
  doc.XmlFormat = 0;
  for (int i = 0; i < 60000; ++i) {
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

void Measure(const char* label, const std::string& text) {
  TXmlDocument doc;
  double parse = Throughput(text.size(), [&] { doc.ReadFromString(text); });
  double load = Throughput(text.size(), [&] {
    TStringStream stream(text);
    doc.LoadFromStream(stream);
  });
  doc.StreamEncoding = seUTF8;
  double write = Throughput(text.size(), [&] { doc.WriteToString(); });
  double save = Throughput(text.size(), [&] {
    TMemoryStream out;
    doc.SaveToStream(out);
  });
  doc.StreamEncoding = seUTF16LE;
  double saveWide = Throughput(text.size(), [&] {
    TMemoryStream out;
    doc.SaveToStream(out);
  });
  std::printf("%-22s %7.1f MB  parse %6.1f MB/s  load(codec) %6.1f MB/s  write %6.1f MB/s  "
              "save UTF-8 %6.1f MB/s  save UTF-16 %6.1f MB/s\n",
              label, text.size() / 1e6, parse, load, write, save, saveWide);
}

}  // namespace

int main() {
  try {
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
