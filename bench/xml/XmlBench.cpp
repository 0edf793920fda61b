// Load and save throughput (MB/s) of the XML document library on a generated 32 MB document and,
// when installed, on the shared MIME database's freedesktop.org.xml, beside libxml2 and pugixml
// loading and pugixml saving the same bytes in the same run (when their development packages were
// found at build time). Prints, asserts nothing.
//
// The machine may be shared: each contender is timed by the CPU time of this thread as well as by
// the clock on the wall, the best of several runs counts, and the contenders take turns run by
// run, so that a slow spell on the machine falls on all of them alike. Ratios are of CPU time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <vector>

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

// Runs of each measurement; the best counts.
constexpr int kRuns = 15;

// Seconds of CPU time this thread has used.
double ThreadSeconds() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
#else
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

// The step of the thread's CPU clock.
double CpuClockTick() {
  const double start = ThreadSeconds();
  double now = start;
  while (now == start) now = ThreadSeconds();
  return now - start;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One thing measured: its best times over the runs.
struct TContender {
  std::string Name;
  std::function<void()> Work;
  double BestCpu = 1e30;
  double BestWall = 1e30;
  double TotalCpu = 0;
};

// Runs every contender once a run, kRuns times, in an order shuffled for each run (the same in
// every build), so that none always comes after the same other one, which may leave it a heap
// to tidy up.
void RunInTurns(std::vector<TContender>& contenders) {
  std::vector<size_t> order(contenders.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::mt19937 random(1);
  for (int run = 0; run < kRuns; ++run) {
    std::shuffle(order.begin(), order.end(), random);
    for (size_t turn : order) {
      TContender& c = contenders[turn];
      const double cpu = ThreadSeconds(), wall = WallSeconds();
      c.Work();
      const double cpuUsed = ThreadSeconds() - cpu, wallUsed = WallSeconds() - wall;
      if (cpuUsed < c.BestCpu) c.BestCpu = cpuUsed;
      if (wallUsed < c.BestWall) c.BestWall = wallUsed;
      c.TotalCpu += cpuUsed;
    }
  }
  // Where the thread's CPU time is counted in clock ticks (Windows: about 16 ms) a short run can
  // show none: for runs within a few ticks the mean over the runs stands in for the best.
  const double tick = CpuClockTick();
  for (TContender& c : contenders)
    if (c.BestCpu < 20 * tick) c.BestCpu = c.TotalCpu / kRuns;
}

// MB/s of `bytes` in `seconds`.
double Rate(size_t bytes, double seconds) { return bytes / 1e6 / seconds; }

// The contenders' rates, each reference with the ratio of `ours` (the first) to it.
void PrintGroup(const char* label, size_t bytes, const std::vector<TContender>& group) {
  const TContender& ours = group.front();
  for (const TContender& c : group) {
    std::printf("%-20s %-22s cpu %7.1f MB/s  wall %7.1f MB/s", label, c.Name.c_str(), Rate(bytes, c.BestCpu),
                Rate(bytes, c.BestWall));
    if (&c != &ours && c.Name.rfind("ours", 0) != 0)
      std::printf("   ours / %s = %.2f (wall %.2f)", c.Name.c_str(), c.BestCpu / ours.BestCpu,
                  c.BestWall / ours.BestWall);
    std::printf("\n");
    label = "";
  }
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

void Measure(const char* label, const std::string& text) {
  char title[64];
  std::snprintf(title, sizeof title, "%s", label);
  std::printf("%-20s %.1f MB\n", title, text.size() / 1e6);

  // Each load replaces the tree of the one before, as each reference frees its own.
  TXmlDocument doc;
  TStringStream stream(text);
  TXmlDocument fromString;
  std::vector<TContender> loads;
  loads.push_back({"ours load", [&] {
                     stream.SetPosition(0);
                     doc.LoadFromStream(stream);
                   }});
  loads.push_back({"ours parse string", [&] { fromString.ReadFromString(text); }});
#ifdef KBL_BENCH_PUGIXML
  loads.push_back({"pugixml", [&] {
                     pugi::xml_document d;
                     d.load_buffer(text.data(), text.size());
                   }});
#endif
#ifdef KBL_BENCH_LIBXML2
  loads.push_back({"libxml2", [&] {
                     xmlDocPtr d = xmlReadMemory(text.data(), static_cast<int>(text.size()), "bench.xml", nullptr,
                                                 XML_PARSE_HUGE);
                     xmlFreeDoc(d);
                   }});
#endif
  RunInTurns(loads);
  PrintGroup("  load", text.size(), loads);

  // Saves go to memory that is already there, as pugixml's do; both write compact text.
  doc.StreamEncoding = seUTF8;
  TMemoryStream out;
  out.SetSize(static_cast<int64_t>(text.size()) * 2);
  std::vector<TContender> saves;
  saves.push_back({"ours save", [&] {
                     out.SetPosition(0);
                     doc.SaveToStream(out);
                   }});
#ifdef KBL_BENCH_PUGIXML
  struct TSink : pugi::xml_writer {
    std::string Text;
    void write(const void* data, size_t size) override { Text.append(static_cast<const char*>(data), size); }
  } sink;
  sink.Text.reserve(text.size() * 2);
  pugi::xml_document saved;
  saved.load_buffer(text.data(), text.size());
  saves.push_back({"pugixml", [&] {
                     sink.Text.clear();
                     saved.save(sink, "", pugi::format_raw);
                   }});
#endif
  RunInTurns(saves);
  PrintGroup("  save", text.size(), saves);
  if (loads.size() == 2)
    std::printf("%-20s (no reference in this build: libxml2 and pugixml are measured natively when\n"
                "%-20s  libxml2-dev and libpugixml-dev are installed)\n", "", "");
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
