// The image library's list of file formats: extensions bound to picture classes and descriptions,
// mirrored into the class library's picture registry, and the library's start-up and shut-down.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Graphics.h"
#include "classlib/TypInfo.h"

// Format kinds (bits); stored with each format, read by nothing else.
enum TFormatKind : uint8_t { fkLayered = 2, fkMultiImage = 4, fkRaster = 8, fkVector = 16 };

// Extensions (without the dot, compared without regard to ASCII letter case) bound to picture
// classes. Every change is mirrored into TPicture's registry. Not thread-safe: used at module
// start-up and shut-down.
class TFileFormatList {
 public:
  struct TClassEntry {
    const TClassInfo* GraphicClass = nullptr;
    std::string Description;  // common description of the class's formats; may be empty
    int32_t Count = 0;        // format entries bound to this class
  };
  struct TExtensionEntry {
    std::string Extension;
    std::string Description;  // individual description; may be empty
    uint8_t Kinds = 0;
    TClassEntry* ClassEntry = nullptr;
  };

  TFileFormatList() = default;
  ~TFileFormatList();
  TFileFormatList(const TFileFormatList&) = delete;
  TFileFormatList& operator=(const TFileFormatList&) = delete;

  // Removes every class from the picture registry and empties both lists.
  void Clear();
  // Index of the format entry of an extension; -1 when empty or unknown.
  int32_t FindExtension(const std::string& extension) const;
  // Index of the class entry of exactly this class; -1 when unknown.
  int32_t FindGraphicClass(const TClassInfo* graphicClass) const;
  // Binds an extension to a class. An extension already bound raises EInvalidGraphic ("Attempt to
  // register <ext> twice.") unless `replace` is set, which moves it to the new class. An empty
  // extension does nothing.
  void RegisterFileFormat(const std::string& extension, const std::string& common,
                          const std::string& individual, uint8_t kinds, bool replace,
                          const TClassInfo* graphicClass);
  // With an extension: removes that format (nothing when unknown). With an empty extension:
  // removes every format of the class and the class; raises EListError for a class that was never
  // registered.
  void UnregisterFileFormat(const std::string& extension, const TClassInfo* graphicClass);

  int32_t ClassCount() const { return static_cast<int32_t>(classes_.size()); }
  int32_t FormatCount() const { return static_cast<int32_t>(formats_.size()); }
  const TClassEntry& ClassAt(int32_t index) const { return *classes_.at(static_cast<size_t>(index)); }
  const TExtensionEntry& FormatAt(int32_t index) const {
    return *formats_.at(static_cast<size_t>(index));
  }

 private:
  TClassEntry* Link(TExtensionEntry& entry, const std::string& common,
                    const TClassInfo* graphicClass);
  void RemoveClassEntry(TClassEntry* entry);

  std::vector<std::unique_ptr<TClassEntry>> classes_;
  std::vector<std::unique_ptr<TExtensionEntry>> formats_;
};

// The module's list (nullptr outside RegisterImageFormats .. UnregisterImageFormats).
TFileFormatList* FileFormatList();
// Start-up: creates the list and registers the class library's pictures and the library's
// readers; nothing when the list exists. The plug-in module calls it when its first plug-in
// opens.
void RegisterImageFormats();
// Shut-down: unregisters them all and frees the list; nothing when there is none. The plug-in
// module calls it when its last plug-in closes (a later start-up registers them again).
void UnregisterImageFormats();
