// Settings and the module-wide folders.
#include "TrkPluginSettings.h"

#include "detail/ShellFolders_p.h"

#ifdef _WIN32
const char kPathDelimiter = '\\';
#else
const char kPathDelimiter = '/';
#endif

namespace {

void ApplyProductValues(TrkPluginSettings& s) {
  s.name = "Tarvik";
  s.vendor = "Pellwright";
  s.version = "1.0";
  s.parameterCount = 12;
  s.programCount = 12;
  s.category = 0;
  s.uniqueId = "qz37";
  s.midiIn = true;
  s.midiOut = false;
  s.noEditor = false;
  s.programsAreChunks = true;
  s.synth = false;
  s.inputs = 2;
  s.outputs = 2;
  s.processMode = 0;
  s.saveMidiMapOnExit = true;
  s.editorWidth = 450;
  s.editorHeight = 495;
  s.bypassAllowed = false;
}

bool EndsWithDelimiter(const std::string& path) {
  // Windows accepts "/" as well; a root such as "C:\" already ends in one.
  return !path.empty() && (path.back() == kPathDelimiter || path.back() == '/');
}

std::string WithDelimiter(std::string path) {
  if (!EndsWithDelimiter(path)) path += kPathDelimiter;
  return path;
}

struct TDataFolder {
  std::string path;
  std::string error;
};

const TDataFolder& ResolvedDataFolder() {
  // Resolved on first use, never while the module loads; a failure leaves the folder empty.
  static const TDataFolder folder = [] {
    TDataFolder f;
    const TrkPluginSettings& settings = GetSettings();
    try {
      f.path = GetUserDataFolder(settings.vendor, settings.name, settings.version);
    } catch (const Exception& e) {
      f.error = e.Message();
    } catch (...) {
      f.error = "Couldn't create application data folder.";
    }
    return f;
  }();
  return folder;
}

}  // namespace

// --- Settings

namespace {
struct TProductSettings : TrkPluginSettings {
  TProductSettings() { ApplyProductValues(*this); }
};
}  // namespace

TrkPluginSettings& GetSettings() {
  static TProductSettings settings;  // created on first use, thread-safe
  return settings;
}

TrkPluginSettings& GetPluginSettings() { return GetSettings(); }

// --- Folders

std::string GetDllPath() {
  const std::string file = rk::detail::ModuleFileName();
  const size_t last = file.find_last_of(kPathDelimiter == '/' ? "/" : "\\/");
  if (last == std::string::npos) return std::string();
  return file.substr(0, last + 1);
}

std::string BuildDataFolder(const std::string& base, const std::string& vendor,
                            const std::string& product, const std::string& version) {
  std::string path = base;
  for (const std::string* level : {&vendor, &product, &version}) {
    path = WithDelimiter(path) + *level;
    if (!rk::detail::FolderExists(path) && !rk::detail::CreateFolder(path))
      throw EDataFolderError("Couldn't create application data folder.");
  }
  return WithDelimiter(path);
}

std::string GetUserDataFolder(const std::string& vendor, const std::string& product,
                              const std::string& version) {
  std::string base;
  if (!rk::detail::AppDataFolder(base) || base.empty())
    throw EDataFolderError("Couldn't find application data folder.");
  return BuildDataFolder(base, vendor, product, version);
}

const std::string& DllPath() {
  static const std::string path = GetDllPath();
  return path;
}

const std::string& DataFolder() { return ResolvedDataFolder().path; }
const std::string& DataFolderError() { return ResolvedDataFolder().error; }
