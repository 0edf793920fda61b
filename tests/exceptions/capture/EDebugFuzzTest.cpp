// Bounded fuzzing of the map, JCL and TD32 readers over mutated valid data and random bytes.
// Every input is a heap block of exactly its size so that the sanitizers report any overread.
// KBL_FUZZ_ITERATIONS changes the count for longer local runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "DebugDataBuilders.h"
#include "exceptions/capture/EDebug.h"
#include "exceptions/capture/EmberLibraryData.h"

using namespace testdata;

namespace {

size_t Iterations() {
  const char* text = std::getenv("KBL_FUZZ_ITERATIONS");
  return text != nullptr ? static_cast<size_t>(std::strtoull(text, nullptr, 10)) : 100000;
}

std::vector<uint8_t> Mutate(std::vector<uint8_t> data, std::mt19937& random) {
  std::uniform_int_distribution<int> kind(0, 5);
  int edits = 1 + static_cast<int>(random() % 8);
  for (int i = 0; i < edits; ++i) {
    size_t at = data.empty() ? 0 : random() % data.size();
    switch (kind(random)) {
      case 0: if (!data.empty()) data[at] = static_cast<uint8_t>(random()); break;
      case 1: if (!data.empty()) data[at] ^= static_cast<uint8_t>(1u << (random() % 8)); break;
      case 2: data.insert(data.begin() + static_cast<long>(at), static_cast<uint8_t>(random())); break;
      case 3: if (!data.empty()) data.erase(data.begin() + static_cast<long>(at)); break;
      case 4: data.resize(at); break;
      default:  // a 32-bit value with a large or boundary meaning
        if (data.size() >= 4) {
          uint32_t values[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF, static_cast<uint32_t>(data.size()),
                               static_cast<uint32_t>(random())};
          SetU32(data, random() % (data.size() - 3), values[random() % 6]);
        }
    }
  }
  return data;
}

// A heap block of exactly the input's size: the readers taking a pointer and a size see nothing
// behind the input that a vector's spare capacity would give them.
struct TExactBlock {
  explicit TExactBlock(const std::vector<uint8_t>& data)
      : Bytes(new uint8_t[data.empty() ? 1 : data.size()]), Size(data.size()) {
    if (!data.empty()) std::memcpy(Bytes.get(), data.data(), data.size());
  }
  std::unique_ptr<uint8_t[]> Bytes;
  size_t Size;
};

// A vector allocated for exactly the input's size (a copy has no spare capacity), for the
// readers that keep their data in a vector.
std::vector<uint8_t> Exactly(const std::vector<uint8_t>& data) { return std::vector<uint8_t>(data.begin(), data.end()); }

uint32_t Probe(std::mt19937& random) {
  return random() % 4 == 0 ? static_cast<uint32_t>(random()) : static_cast<uint32_t>(random() % 0x1000);
}

void Exercise(TELDebugReader& reader, std::mt19937& random) {
  for (int i = 0; i < 4; ++i) {
    uint32_t offset = Probe(random), distance = 0;
    reader.ModuleNameFromOffset(offset);
    reader.ModuleStartFromOffset(offset);
    std::string name = reader.ProcNameFromOffset(offset, distance);
    EXPECT_LE(distance, offset);
    reader.LineNumberFromOffset(offset);
    reader.SourceNameFromOffset(offset);
  }
}

Td32Builder SeedTd32() {
  Td32Builder td;
  uint32_t unit = td.Name("Unit1");
  td.Modules = {{unit, {{0x0, 0x7FF}}}};
  td.Procs = {{0x205, td.Name("@Unit1@Foo$qqrv"), 0x10, 0x40}};
  td.Sources = {{td.Name("Unit1.pas"), {{0x0, 0x800, {{0x10, 3}, {0x20, 4}}}}}};
  return td;
}

JclBuilder SeedJcl() {
  JclBuilder jcl;
  uint32_t unit = jcl.PackedName("Unit1");
  jcl.Units = {{0, unit}};
  jcl.Sources = {{0, jcl.PlainName("Unit1.pas")}};
  jcl.Procs = {{0x10, jcl.PackedName("@Foo"), jcl.PackedName("Bar")}};
  jcl.Lines = {{0x10, 3}, {0x20, 4}};
  return jcl;
}

TEST(DebugInfoFuzz, MapFiles) {
  std::mt19937 random(1);
  std::string seed = SampleMapFile();
  std::vector<uint8_t> base(seed.begin(), seed.end());
  for (size_t i = 0; i < Iterations() / 4; ++i) {
    std::vector<uint8_t> data = Mutate(base, random);
    TELMapScanner scanner(std::string(data.begin(), data.end()));
    Exercise(scanner, random);
  }
}

TEST(DebugInfoFuzz, JclBlocks) {
  std::mt19937 random(2);
  std::vector<uint8_t> base = SeedJcl().Build(false);
  for (size_t i = 0; i < Iterations(); ++i) {
    std::vector<uint8_t> data = Mutate(base, random);
    // Keep the header mostly intact so that the streams behind it get exercised.
    if (data.size() >= 8 && random() % 2) {
      SetU32(data, 0, TELBinDebugScanner::Signature);
      data[4] = 1;
      if (data.size() > 33) data[33] = 0;
      data.resize(data.size() & ~size_t{3});
    }
    TELBinDebugScanner scanner(Exactly(data), random() % 2 == 0);
    Exercise(scanner, random);
    scanner.DataToStr(Probe(random));
  }
}

TEST(DebugInfoFuzz, Td32Blocks) {
  std::mt19937 random(3);
  std::vector<uint8_t> base = SeedTd32().Build();
  for (size_t i = 0; i < Iterations(); ++i) {
    std::vector<uint8_t> data = Mutate(base, random);
    uint64_t start = 0;
    TExactBlock block(data);
    if (IsTD32Block(block.Bytes.get(), block.Size, start)) {
      EXPECT_LE(start, data.size());
    }
    try {
      TELTD32InfoScanner scanner(Exactly(data));
      Exercise(scanner, random);
    } catch (const EAssertionFailed&) {
      // A directory entry size other than 12 is the format's own assertion.
    }
  }
}

TEST(DebugInfoFuzz, RandomBytes) {
  std::mt19937 random(4);
  for (size_t i = 0; i < Iterations() / 4; ++i) {
    std::vector<uint8_t> data(random() % 200);
    for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
    TELMapScanner map(std::string(data.begin(), data.end()));
    Exercise(map, random);
    TELBinDebugScanner jcl(Exactly(data));
    Exercise(jcl, random);
    try {
      TELTD32InfoScanner td(Exactly(data));
      Exercise(td, random);
    } catch (const EAssertionFailed&) {
    }
  }
}

// A debug-information block of two units whose line programs use every record form.
std::vector<uint8_t> SeedDebugBlock() {
  std::vector<uint8_t> out;
  PutU32(out, 2);
  for (uint32_t unit = 0; unit < 2; ++unit) {
    out.push_back(5);
    for (char c : std::string("Unit") + static_cast<char>('0' + unit)) out.push_back(static_cast<uint8_t>(c));
    std::vector<uint8_t> program = {0x05, 3, 'F', 'o', 'o', 0x22};
    PutU16(program, 0x2F37);
    program.insert(program.end(), {1, 'B'});
    PutU32(program, (0x0FFEFFFEu << 4) | 0xB);
    PutU16(program, 4);
    PutU16(program, 7);
    PutU32(program, 1); PutU32(program, unit * 0x100); PutU32(program, 0x100);
    PutU32(out, static_cast<uint32_t>(program.size()));
    out.insert(out.end(), program.begin(), program.end());
  }
  return out;
}

TEST(DebugInfoFuzz, LibraryDebugBlocks) {
  std::mt19937 random(5);
  std::vector<uint8_t> base = SeedDebugBlock();
  for (size_t i = 0; i < Iterations(); ++i) {
    std::vector<uint8_t> data = Mutate(base, random);
    TEmberNameCoding coding;
    coding.Version = static_cast<uint16_t>(random() % 2 ? 6024 : 400 + random() % 200);
    TEmberDebugLocation location;
    TExactBlock block(data);
    FindDebugLocation(block.Bytes.get(), block.Size, coding, Probe(random) % 0x300, location);
  }
}

TEST(DebugInfoFuzz, LibraryDataResources) {
  std::mt19937 random(6);
  // Header, a symbol table, options that do not inflate: the reader must stop at every step.
  std::vector<uint8_t> base;
  PutU32(base, 0x100FAB10);
  PutU16(base, 6024);
  for (int i = 0; i < 10; ++i) base.push_back(0);
  PutU32(base, 9);
  base.push_back(4); PutU32(base, 0x10); PutU32(base, 0);
  PutU32(base, 8);
  base.insert(base.end(), {0x78, 0x9C, 0x63, 0x60, 0x00, 0x00, 0x00, 0x02});
  for (size_t i = 0; i < Iterations() / 10; ++i) {
    std::vector<uint8_t> data = Mutate(base, random);
    TEmberModuleOptions options;
    TEmberLibraryData result;
    TExactBlock block(data);
    ReadLibraryDataResource(block.Bytes.get(), block.Size, random() % 2 == 0, options, result);
    uint32_t address = 0;
    FindSymbolInTable(result.SymbolTable, static_cast<uint8_t>(random()), address);
  }
}

}  // namespace
