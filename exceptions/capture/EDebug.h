// Debug-information sources of the exception library: the linker's text map file, TD32 debug
// data (in the image or a ".tds" file) and JCL binary debug data (a "JCLDEBUG" section or a
// ".jdbg" file), each answering which unit, procedure, source file and line a code address is.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/SysUtils.h"

class TELDebugInfoSource;

// Raised by the readers' internal consistency checks ("Assertion failure (EDebug)"); never by a
// malformed file, which only leaves its source not valid.
KBL_DECLARE_EXCEPTION(EAssertionFailed, Exception);

// Where a code address lies.
struct TELLocationInfo {
  uintptr_t Address = 0;
  std::string UnitName;
  std::string ProcedureName;
  int32_t LineNumberOffset = 0;  // lines between the procedure's first line and this line
  int32_t LineNumber = 0;        // 0 when unknown
  std::string SourceName;
  TELDebugInfoSource* DebugInfo = nullptr;  // the source that answered (not owned)
};

// --- How the sources see a loaded module

// The bytes of a module as the loader mapped them (an RVA is an offset into them).
struct TELImageView {
  const uint8_t* Data = nullptr;
  uint32_t Size = 0;
};

// The two things the sources ask of the platform. Windows answers from GetModuleFileNameA and
// the mapped image; elsewhere no module is known unless a test installs its own answers.
struct TELModuleAccess {
  std::string (*FileName)(uintptr_t module) = nullptr;           // "" when unknown
  bool (*Image)(uintptr_t module, TELImageView& view) = nullptr;  // false when unknown
  // The bytes of the module's RCDATA resource `name`; false when it has none.
  bool (*Resource)(uintptr_t module, const char* name, TELImageView& data) = nullptr;
};
// Replaces the platform's answers (nullptr restores them). Not thread-safe: set it before any
// source is created.
void SetELModuleAccess(const TELModuleAccess* access);
std::string GetELModuleFileName(uintptr_t module);
bool GetELModuleImage(uintptr_t module, TELImageView& view);
bool GetELModuleResource(uintptr_t module, const char* name, TELImageView& data);

// `fileName` with its extension (after the last "." of the last path part) replaced by `ext`,
// or `ext` appended when it has none.
std::string ChangeFileExtension(const std::string& fileName, const std::string& ext);

// --- Readers shared by the sources

// What every reader tells about one offset into the module's code.
class TELDebugReader {
 public:
  virtual ~TELDebugReader() = default;
  virtual std::string ModuleNameFromOffset(uint32_t offset) = 0;
  // Start of the unit that holds the offset; -1 when none does.
  virtual int64_t ModuleStartFromOffset(uint32_t offset) = 0;
  // The procedure's name and the distance from its start (0 with an empty name).
  virtual std::string ProcNameFromOffset(uint32_t offset, uint32_t& distance) = 0;
  // 0 when unknown.
  virtual int32_t LineNumberFromOffset(uint32_t offset) = 0;
  virtual std::string SourceNameFromOffset(uint32_t offset) = 0;
};

// --- Linker map files

// A segment:offset pair of a map file.
struct TELMapAddress {
  uint32_t Segment = 0;
  uint32_t Offset = 0;
};

// Walks a map file's sections (class table, detailed segments, publics by name and by value,
// line numbers) and offers each entry line to a handler. Names are passed as positions into
// the file's bytes (see NameAt). Malformed lines are skipped up to their line end.
class TELAbstractMapParser : public TObject {
 public:
  // Reads nothing yet; call Parse from the most derived constructor.
  explicit TELAbstractMapParser(std::string bytes);
  ~TELAbstractMapParser() override = default;
  // The whole file's bytes (EFOpenError when it cannot be read).
  static std::string ReadMapFile(const std::string& fileName);

  // The name stored at `position`: one starting with "(" runs to ")" or the line end (without
  // the parentheses); any other ends at a line break, a blank or "(". Empty for -1.
  std::string NameAt(int64_t position) const;

 protected:
  virtual void ClassTableLine(TELMapAddress address, uint32_t length, int64_t name, int64_t className) {}
  virtual void SegmentItem(TELMapAddress address, uint32_t length, int64_t className, int64_t moduleName) {}
  virtual void PublicsByNameItem(TELMapAddress address, int64_t name) {}
  virtual void PublicsByValueItem(TELMapAddress address, int64_t name) {}
  virtual void LineNumberUnitItem(int64_t unitName, int64_t sourceName) {}
  virtual void LineNumbersItem(int32_t lineNumber, TELMapAddress address) {}
  void Parse();

  const std::string& Bytes() const { return bytes_; }

 private:
  bool FindHeader(const char* const words[4]);
  void SkipBlanks();
  void SkipLine();
  bool ReadHex(uint32_t& value);
  bool ReadDecimal(int32_t& value);
  bool ReadAddress(TELMapAddress& address);
  bool LineHasText(const char* text, size_t lineEnd, size_t& after);
  size_t LineEnd() const;
  bool NextIsDigit() const;

  std::string bytes_;
  size_t pos_ = 0;
};

// Parses a map file once into sorted tables and answers lookups by binary search.
class TELMapScanner : public TELAbstractMapParser, public TELDebugReader {
 public:
  explicit TELMapScanner(std::string bytes);
  // nullptr when the file cannot be read.
  static std::unique_ptr<TELMapScanner> FromFile(const std::string& fileName);

  std::string ModuleNameFromOffset(uint32_t offset) override;
  int64_t ModuleStartFromOffset(uint32_t offset) override;
  std::string ProcNameFromOffset(uint32_t offset, uint32_t& distance) override;
  int32_t LineNumberFromOffset(uint32_t offset) override;
  std::string SourceNameFromOffset(uint32_t offset) override;

  // Line entries that went backwards, left their segment or lay outside every segment.
  int32_t RejectedLines() const { return rejected_; }
  int32_t SegmentCount() const { return static_cast<int32_t>(segments_.size()); }
  int32_t ProcedureCount() const { return static_cast<int32_t>(procedures_.size()); }
  int32_t LineCount() const { return static_cast<int32_t>(lines_.size()); }

 protected:
  void SegmentItem(TELMapAddress address, uint32_t length, int64_t className, int64_t moduleName) override;
  void PublicsByValueItem(TELMapAddress address, int64_t name) override;
  void LineNumberUnitItem(int64_t unitName, int64_t sourceName) override;
  void LineNumbersItem(int32_t lineNumber, TELMapAddress address) override;

 private:
  struct Segment { uint32_t Start, End; int64_t Name; };
  struct Named { uint32_t Offset; int64_t Name; };
  struct Line { uint32_t Offset; int32_t Number; };
  const Segment* SegmentOf(uint32_t offset) const;

  std::vector<Segment> segments_;
  std::vector<Named> procedures_;
  std::vector<Line> lines_;
  std::vector<Named> sources_;
  uint32_t highestEnd_ = 0;
  int32_t rejected_ = 0;
  bool anyLine_ = false;
  uint32_t lastSegment_ = 0;
  uint32_t lastOffset_ = 0;
  int64_t pendingSource_ = -1;
};

// --- JCL binary debug data

// Reads the "JDBG" block: a 34-byte header, then delta-coded streams of units, source names,
// procedures and line numbers over a stream of packed names. Every read is bounded by the data.
class TELBinDebugScanner : public TObject, public TELDebugReader {
 public:
  static constexpr uint32_t Signature = 0x4742444A;  // "JDBG"
  static constexpr uint32_t HeaderSize = 34;

  // Keeps its own copy of the bytes; decodes procedures and lines once when `cacheData`.
  TELBinDebugScanner(std::vector<uint8_t> data, bool cacheData = true);

  bool ValidFormat() const { return valid_; }
  std::string ModuleName() const;  // the module name the header names

  std::string ModuleNameFromOffset(uint32_t offset) override;
  int64_t ModuleStartFromOffset(uint32_t offset) override;
  std::string ProcNameFromOffset(uint32_t offset, uint32_t& distance) override;
  int32_t LineNumberFromOffset(uint32_t offset) override;
  std::string SourceNameFromOffset(uint32_t offset) override;

  // A name of the words stream by its 1-based value; empty for 0 or a value outside the data.
  std::string DataToStr(uint32_t value) const;

 private:
  struct Pair { uint32_t Address; uint32_t Value; };
  struct Proc { uint32_t Address; uint32_t First; uint32_t Second; };
  bool CheckFormat() const;
  uint32_t HeaderValue(uint32_t offset) const;
  std::vector<Pair> ReadPairs(uint32_t streamOffset) const;
  std::vector<Proc> ReadProcs() const;
  bool ReadValue(uint64_t& at, uint32_t& value) const;
  const std::vector<Pair>& Units();

  std::vector<uint8_t> data_;
  bool cacheData_;
  bool valid_ = false;
  bool unitsRead_ = false;
  std::vector<Pair> units_;
  std::vector<Pair> lines_;
  std::vector<Proc> procs_;
};

// --- TD32 debug data

// Symbol records of the aligned-symbols subsection. Only procedures are used by lookups; the
// other kinds keep what the record's first fields say.
struct TELSymbolInfo {
  explicit TELSymbolInfo(uint16_t symbolType) : SymbolType(symbolType) {}
  virtual ~TELSymbolInfo() = default;
  uint16_t SymbolType;
};
struct TELProcSymbolInfo : TELSymbolInfo {
  using TELSymbolInfo::TELSymbolInfo;
  uint32_t NameIndex = 0, Offset = 0, Size = 0;
};
struct TELLocalProcSymbolInfo : TELProcSymbolInfo { TELLocalProcSymbolInfo() : TELProcSymbolInfo(0x204) {} };
struct TELGlobalProcSymbolInfo : TELProcSymbolInfo { TELGlobalProcSymbolInfo() : TELProcSymbolInfo(0x205) {} };
struct TELDataSymbolInfo : TELSymbolInfo {
  using TELSymbolInfo::TELSymbolInfo;
  uint32_t Offset = 0, NameIndex = 0;
};
struct TELLDataSymbolInfo : TELDataSymbolInfo { TELLDataSymbolInfo() : TELDataSymbolInfo(0x201) {} };
struct TELGDataSymbolInfo : TELDataSymbolInfo { TELGDataSymbolInfo() : TELDataSymbolInfo(0x202) {} };
struct TELPublicSymbolInfo : TELDataSymbolInfo { TELPublicSymbolInfo() : TELDataSymbolInfo(0x203) {} };
struct TELWithSymbolInfo : TELSymbolInfo { TELWithSymbolInfo() : TELSymbolInfo(0x208) {} };
struct TELLabelSymbolInfo : TELSymbolInfo { TELLabelSymbolInfo() : TELSymbolInfo(0x209) {} };
struct TELVftPathSymbolInfo : TELSymbolInfo { TELVftPathSymbolInfo() : TELSymbolInfo(0x20B) {} };
struct TELObjNameSymbolInfo : TELSymbolInfo { TELObjNameSymbolInfo() : TELSymbolInfo(0x009) {} };
struct TELConstantSymbolInfo : TELSymbolInfo { TELConstantSymbolInfo() : TELSymbolInfo(0x003) {} };
struct TELUdtSymbolInfo : TELSymbolInfo { TELUdtSymbolInfo() : TELSymbolInfo(0x004) {} };

struct TELModuleSegment {
  uint16_t Segment = 0;
  uint32_t Offset = 0, Size = 0;
};
struct TELModuleInfo {
  uint32_t NameIndex = 0;
  std::vector<TELModuleSegment> Segments;
  // Raises EAssertionFailed for an index outside the segments.
  const TELModuleSegment& GetSegment(int32_t index) const;
};
struct TELLineInfo {
  int32_t LineNumber = 0;
  uint32_t Offset = 0;
};
struct TELSourceModuleInfo {
  uint32_t NameIndex = 0;
  std::vector<std::pair<uint32_t, uint32_t>> Ranges;  // {start, end}
  std::vector<TELLineInfo> Lines;
};

// Reads the subsection directory of a TD32 block (the data starts with "FB09" or "FB0A").
// Offsets and counts that do not fit the data stop the analysis and leave the parser not
// valid; a directory whose entry size is not 12 raises EAssertionFailed.
class TELTD32InfoParser : public TObject {
 public:
  explicit TELTD32InfoParser(std::vector<uint8_t> data);
  ~TELTD32InfoParser() override = default;
  bool ValidData() const { return valid_; }
  // Names by 1-based index; index 0 and indexes outside the list give "".
  std::string Name(uint32_t index) const;
  const std::vector<TELModuleInfo>& Modules() const { return modules_; }
  const std::vector<TELSourceModuleInfo>& SourceModules() const { return sourceModules_; }
  const std::vector<std::unique_ptr<TELSymbolInfo>>& Symbols() const { return symbols_; }

 protected:
  virtual void AnalyseNames(uint32_t offset, uint32_t size);
  virtual void AnalyseAlignSymbols(uint32_t offset, uint32_t size);
  virtual void AnalyseModules(uint32_t offset, uint32_t size);
  virtual void AnalyseSourceModules(uint32_t offset, uint32_t size);
  void Analyse();

  std::vector<uint8_t> data_;
  std::vector<std::string> names_{std::string()};
  std::vector<TELModuleInfo> modules_;
  std::vector<TELSourceModuleInfo> sourceModules_;
  std::vector<std::unique_ptr<TELSymbolInfo>> symbols_;
  bool valid_ = false;
};

class TELTD32InfoScanner : public TELTD32InfoParser, public TELDebugReader {
 public:
  explicit TELTD32InfoScanner(std::vector<uint8_t> data);
  std::string ModuleNameFromOffset(uint32_t offset) override;
  int64_t ModuleStartFromOffset(uint32_t offset) override;
  std::string ProcNameFromOffset(uint32_t offset, uint32_t& distance) override;
  int32_t LineNumberFromOffset(uint32_t offset) override;
  std::string SourceNameFromOffset(uint32_t offset) override;

 private:
  const TELModuleInfo* ModuleOf(uint32_t offset, uint32_t* start) const;
  const TELSourceModuleInfo* SourceModuleOf(uint32_t offset) const;
};

// A procedure name as TD32 stores it ("@Unit@Class@Method$qqrv"), cleaned for display
// ("Class.Method" for unit "Unit"); names without a leading "@" are kept.
std::string CleanTD32ProcName(const std::string& name, const std::string& unitName);

// True when `block` ends with a TD32 trailer whose distance points back at a second signature;
// `start` then gives where the TD32 data begins.
bool IsTD32Block(const uint8_t* block, uint64_t size, uint64_t& start);

// TD32 data of one module: from the image's debug directory, else from the ".tds" file.
class TELPeBorTD32Image : public TObject {
 public:
  explicit TELPeBorTD32Image(uintptr_t module);
  ~TELPeBorTD32Image() override = default;
  bool IsTD32DebugPresent() const { return scanner_ != nullptr; }
  TELTD32InfoScanner* Scanner() const { return scanner_.get(); }

 private:
  void UseBlock(const uint8_t* block, uint64_t size);
  uintptr_t module_;
  std::unique_ptr<TELTD32InfoScanner> scanner_;
};

// --- Sources

// One source per module. A source that finds nothing is not valid; none raises to its caller.
class TELDebugInfoSource : public TObject {
 public:
  explicit TELDebugInfoSource(uintptr_t module) : module_(module) {}
  ~TELDebugInfoSource() override = default;

  virtual void Load() = 0;
  // address − module − 4096: the code section is taken to start one page into the image.
  virtual uint32_t VAToOffset(uintptr_t address) const;
  virtual bool IsValid() const = 0;
  // True when a unit name was found; `info` is then filled (else left as it was).
  virtual bool GetLocationInfo(uintptr_t address, TELLocationInfo& info) = 0;
  uintptr_t Module() const { return module_; }

 protected:
  bool FillLocationInfo(TELDebugReader& reader, uintptr_t address, TELLocationInfo& info);

 private:
  uintptr_t module_;
};

class TELDebugInfoMap : public TELDebugInfoSource {
 public:
  explicit TELDebugInfoMap(uintptr_t module);
  void Load() override;
  bool IsValid() const override { return scanner_ != nullptr; }
  bool GetLocationInfo(uintptr_t address, TELLocationInfo& info) override;
  TELMapScanner* Scanner() const { return scanner_.get(); }

 private:
  std::unique_ptr<TELMapScanner> scanner_;
};

class TELDebugInfoJedy : public TELDebugInfoSource {
 public:
  explicit TELDebugInfoJedy(uintptr_t module);
  void Load() override;
  bool IsValid() const override { return scanner_ && scanner_->ValidFormat(); }
  bool GetLocationInfo(uintptr_t address, TELLocationInfo& info) override;

 private:
  std::unique_ptr<TELBinDebugScanner> scanner_;
};

class TELDebugInfoTD32 : public TELDebugInfoSource {
 public:
  explicit TELDebugInfoTD32(uintptr_t module);
  void Load() override;
  bool IsValid() const override;
  bool GetLocationInfo(uintptr_t address, TELLocationInfo& info) override;

 private:
  std::unique_ptr<TELPeBorTD32Image> image_;
};

// Makes the source of `module` when `source` is still empty: the map file, then TD32, then JCL
// data; the first valid one is kept and the result is true. An already set source is left alone
// (false); when none is valid `source` stays empty (false).
bool CreateDebugInfoSource(uintptr_t module, std::unique_ptr<TELDebugInfoSource>& source);
