// The library data a module carries (the "ELDATA" resource or a block appended to the module
// file): header, runtime symbol table, compressed options, the password check of enciphered
// debug information and the lookup of an address in that debug information.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EmberRecords.h"

// --- Header

constexpr uint32_t EmberDataMagic = 0x100FAB10;
constexpr uint32_t EmberDataMagicOld = 0x000FAB10;
// Appended to unit names whose debug names were deciphered and carry no extension.
extern const char* const EmberUnitSourceExtension;  // ".cpp"

bool IsOptionsMagic(uint32_t magic);
// 600, 601 and 602 were written for 6000, 6001 and 6002; other values stand as they are.
uint16_t NormalizeELDataVersion(uint16_t version);

// What a library-data block holds once read.
struct TEmberLibraryData {
  uint16_t Version = 0;  // normalised for a resource, as stored for an appended block
  double BuildDate = 0;
  uint8_t Flags[2] = {0, 0};
  bool Appended = false;
  std::vector<uint8_t> SymbolTable;
  bool HasPasswordTest = false;
  uint8_t PasswordTest[4] = {0, 0, 0, 0};
  std::vector<uint8_t> DebugInfo;  // empty when only the options were asked for
};

// Reads a resource block into `data` and its options into `options`. False for a wrong magic,
// a version above the library's own, data that ends early or a compressed part that does not
// inflate to something; the options keep whatever was read before the failure. With
// `optionsOnly` the debug information is not inflated or kept.
bool ReadLibraryDataResource(const uint8_t* bytes, size_t size, bool optionsOnly,
                             TEmberModuleOptions& options, TEmberLibraryData& data);

// The same for a module file's bytes that end with an appended block (a 32-bit length and the
// magic). False when the file has no such block or the block is damaged.
bool ReadAppendedLibraryData(const std::string& fileName, bool optionsOnly,
                             TEmberModuleOptions& options, TEmberLibraryData& data);
// The stored version of a file's appended block; 0 when there is none.
uint16_t GetAppendedLibraryVersion(const std::string& fileName);

// --- Symbol table

// The module-relative address stored for `number`; false when absent (255 ends the table).
bool FindSymbolInTable(const std::vector<uint8_t>& table, uint8_t number, uint32_t& address);

// --- Per module

bool HasLibraryData(uintptr_t module);
// The resource's version as stored, else the appended block's, else 0.
uint16_t GetLibraryVersion(uintptr_t module);
// Library data of at least this library's version.
bool HasCurrentLibraryData(uintptr_t module);

// Asks for the password of a module's enciphered debug information: `libraryHandlers` false
// asks the module's own exported event, true the handlers registered in this library. Answers
// false when nobody answered. Installed by the events unit; without it no password is known.
using TEmberPasswordRequest = bool (*)(TEmberModuleInfo& module, bool libraryHandlers,
                                       std::string& password);
void SetEmberPasswordRequest(TEmberPasswordRequest request);

// Checks the kept password test value against the key of the password the events give;
// sets the entry's Password and Decipher. `test` is the 4-byte value of the data block.
void CheckDebugPassword(TEmberModuleInfo& module, const uint8_t test[4]);

// Fills the entry from its module's library data (resource, else appended block): version,
// build date, options (created when missing), the password check and the debug information.
// With `refreshing` only the options are read. For a module other than this one the options
// are then taken from that module's shared memory. False when there is no usable data.
bool LoadModuleData(TEmberModuleInfo& module, bool refreshing = false);

// This module's symbol `number` as an absolute address; 0 when absent.
uintptr_t GetSymbolAddress(uint8_t number);
// The symbol table's address, else the export `exportedName` of the loaded module
// `packageName`; with a `replacement` the routine found is hooked and the address of the
// routine that still runs the original code is answered. 0 when nothing is found.
uintptr_t LocateRuntimeSymbol(uint8_t number, const std::string& packageName,
                              const std::string& exportedName, void* replacement = nullptr);

// --- Debug information lookup

// Where an offset into a module's code lies, as the debug-information block tells.
struct TEmberDebugLocation {
  std::string UnitName, ClassName, ProcedureName;
  int32_t Line = 0;
  int32_t ProcedureFirstLine = 0;
  uint32_t ProcedureOffset = 0;  // code offset where the procedure starts
};

// How names of one module's block are stored.
struct TEmberNameCoding {
  uint16_t Version = EmberLibraryVersion;
  bool Deciphered = false;  // names are enciphered and the key of the right password is set
};

// Walks the units and line programs of a debug-information block for `offset` (relative to
// the module's code). Every read is checked; false when the offset is in no unit or the block
// is damaged.
bool FindDebugLocation(const uint8_t* block, size_t size, const TEmberNameCoding& coding,
                       uint32_t offset, TEmberDebugLocation& location);

// Fills `item` (whose ModuleInfo names the module) with the location of `address`: kind 4 with
// unit, class, procedure, line and line offset; kind 1 for the library's own units. False when
// the module has no debug information, its names cannot be deciphered, or the address is in
// none of its units.
bool FindSymbolLocation(uintptr_t address, TEmberStackItem& item);

// Fills unit (with the source extension), class and procedure from "unit.class.procedure" or
// "unit.procedure" and sets kind 3; any other name becomes the procedure alone (kind 2).
void FillItemFromQualifiedName(TEmberStackItem& item, const std::string& name);

// True for the exception library's own units (their entries show the module only).
bool IsLibraryUnit(const std::string& unitName);
