// eldata: writes the library data resource of a linked module, or checks that two links of a
// module put its code at the same place.
//
//   eldata write <image> <line listing> <options file or -> <output>
//     the image as linked with debug information, objdump's --dwarf=decodedline listing of it,
//     "Name=Value" option lines; writes the resource's bytes to <output>.
//   eldata compare <first image> <second image>
//     fails when the second link moved or changed any code.
#include <ctime>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "ELDataWriter.h"
#include "exceptions/EmberModuleOptions.h"

namespace {

int Fail(const std::string& message) {
  std::cerr << "eldata: " << message << "\n";
  return 1;
}

// Days since 1899-12-30 (UTC), from SOURCE_DATE_EPOCH when the build sets it.
double BuildDate() {
  std::time_t now = std::time(nullptr);
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) now = static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
  return 25569.0 + static_cast<double>(now) / 86400.0;
}

int Write(const std::string& imageName, const std::string& listingName, const std::string& optionsName,
          const std::string& outputName) {
  TELImageFile image;
  std::string error;
  if (!ReadImageFile(imageName, image, error)) return Fail(error);
  std::ifstream listing(listingName);
  if (!listing) return Fail("cannot open \"" + listingName + "\"");
  std::vector<TELLineRow> rows = ParseDecodedLines(listing);
  TEmberModuleOptions options;
  TELDataFlags flags;
  if (optionsName != "-") {
    std::ifstream file(optionsName);
    if (!file) return Fail("cannot open \"" + optionsName + "\"");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ApplyOptionsText(text, options, flags);
  }
  std::vector<uint8_t> block = BuildDebugBlock(std::move(rows), image.Functions, image.ImageBase);
  std::vector<uint8_t> resource = BuildLibraryDataResource(options, flags, block, BuildDate());
  std::ofstream output(outputName, std::ios::binary);
  output.write(reinterpret_cast<const char*>(resource.data()), static_cast<std::streamsize>(resource.size()));
  if (!output) return Fail("cannot write \"" + outputName + "\"");
  return 0;
}

int Compare(const std::string& firstName, const std::string& secondName) {
  TELImageFile first, second;
  std::string error;
  if (!ReadImageFile(firstName, first, error) || !ReadImageFile(secondName, second, error)) return Fail(error);
  if (!SameCodeLayout(first, second, error)) return Fail(secondName + ": " + error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "write" && argc == 6) return Write(argv[2], argv[3], argv[4], argv[5]);
    if (command == "compare" && argc == 4) return Compare(argv[2], argv[3]);
    std::cerr << "usage: eldata write <image> <line listing> <options|-> <output>\n"
                 "       eldata compare <first image> <second image>\n";
    return 2;
  } catch (const std::exception& error) {
    return Fail(error.what());
  }
}
