// The writer of a module's library data ("ELDATA" resource): the header, the symbol table, the
// module's options compressed, and the module's debug information compressed. The debug
// information is made from the linked module itself: its line table as objdump decodes it
// (--dwarf=decodedline) and its function symbols from the image's COFF symbol table, converted
// into units and line programs that the exception library's reader walks.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

class TEmberModuleOptions;

// --- Input: the linked image

// One section of an image file.
struct TELImageSection {
  std::string Name;
  uint32_t VirtualAddress = 0, VirtualSize = 0;
  uint32_t RawOffset = 0, RawSize = 0;
  uint32_t Characteristics = 0;
};

// A function symbol: its address relative to the module and its demangled name.
struct TELFunctionSymbol {
  uint32_t Rva = 0;
  std::string Name;
};

// What the writer reads of a PE image file.
struct TELImageFile {
  uint32_t ImageBase = 0;
  std::vector<TELImageSection> Sections;
  std::vector<TELFunctionSymbol> Functions;  // sorted by address
  std::vector<uint8_t> Bytes;
};

// Reads the headers, sections and the code symbols of the COFF symbol table (names demangled).
// False, with `error` set, for a file that is not a 32-bit PE image.
bool ReadImageFile(const std::string& fileName, TELImageFile& image, std::string& error);

// True when the allocated sections of both images lie at the same addresses with the same
// sizes and the code sections hold the same bytes, apart from the resource section that the
// second image adds or grows. `error` says what differs.
bool SameCodeLayout(const TELImageFile& first, const TELImageFile& second, std::string& error);

// --- Input: the line table

// One row of a line table: an absolute address, the base name of the source file and its line
// (0 ends a sequence).
struct TELLineRow {
  uint32_t Address = 0;
  std::string File;
  int32_t Line = 0;
};

// Parses objdump's decoded line listing. File names come from the heading lines before the rows
// (the rows' own column may be cut); headings, titles and blank lines are skipped.
std::vector<TELLineRow> ParseDecodedLines(std::istream& listing);

// --- Names

// Splits a demangled function name into class and procedure: the parameters and qualifiers are
// dropped, the last "::" part is the procedure and what comes before it the class; clone
// suffixes go; dots become "_" (a dot separates class and procedure in the stored names); each
// part is cut to 127 characters.
void SplitFunctionName(const std::string& demangled, std::string& className, std::string& procedure);

// --- Output

// The debug-information block: units (runs of rows of one source file, in address order) with
// their line programs; every unit and every function start carries the name of its function.
// `codeBase` is the RVA the stored offsets count from (one page into the image).
std::vector<uint8_t> BuildDebugBlock(std::vector<TELLineRow> rows, const std::vector<TELFunctionSymbol>& functions,
                                     uint32_t imageBase, uint32_t codeBase = 0x1000);

// Leak-tracking flags stored in the header's two flag bytes.
struct TELDataFlags {
  uint8_t LeakOptions = 0;    // bit 0 tracking on; 1 fold into objects; 2 hide known; 3 free; 4 check frees
  uint8_t LeakFromMain = 0;   // take the main executable's flags instead
};

// The whole resource: header (current version, `buildDate` in days since 1899-12-30, flags),
// an empty symbol table, the options compressed, the plain password test value and the debug
// block compressed.
std::vector<uint8_t> BuildLibraryDataResource(const TEmberModuleOptions& options, const TELDataFlags& flags,
                                              const std::vector<uint8_t>& debugBlock, double buildDate);

// Applies "Name=Value" lines (blank lines and lines starting with "#" or ";" skipped) to the
// options and flags. Numbers may be decimal or "0x" hexadecimal. Raises EConvertError naming
// the line for an unknown name or a bad number.
void ApplyOptionsText(const std::string& text, TEmberModuleOptions& options, TELDataFlags& flags);
