// The senders' shared state: last error, progress display, attachment names and mail helpers.
#include "EDeliverySupport.h"

#include <fstream>

#include "exceptions/EmberModuleOptions.h"
#include "exceptions/EmberTexts.h"
#include "classlib/SysUtils.h"

namespace {

TEmberAttachedNameFunction gAttachedName = nullptr;
TEmberSendProgressState gProgress;

}  // namespace

// --- Send progress

TEmberSendProgressState& DeliveryProgress() { return gProgress; }

void SetDeliveryProgressView(TEmberSendProgressView* view, const TEmberModuleOptions* options) {
  gProgress = TEmberSendProgressState();
  gProgress.View = view;
  gProgress.Options = options;
}

std::string DeliveryText(int32_t index) {
  if (gProgress.Options) return GetCustomizedExpandedText(gProgress.Options, index);
  return ExpandVariables(GetDefaultText(index));
}

void DeliveryProgressText(const std::string& text) {
  if (gProgress.View) gProgress.View->ShowMessage(text);
}

void DeliveryProgressBar(int32_t position, bool allowBackwards) {
  if (position < 0) position = 0;
  if (position > 100) position = 100;
  if (!allowBackwards && position < gProgress.LastPosition) return;
  gProgress.LastPosition = position;
  if (gProgress.View) gProgress.View->SetPosition(position);
}

void DeliveryProgressReset() { DeliveryProgressBar(0, true); }

void DeliveryProgressClose() {
  if (gProgress.View) gProgress.View->CloseView();
}

// --- Attachment names

void SetAttachedNameFunction(TEmberAttachedNameFunction function) { gAttachedName = function; }

std::string AttachedFileName(const std::string& fileName) {
  if (gAttachedName) return gAttachedName(fileName);
  return FilePartOf(fileName);
}

// --- Text helpers

std::string FilePartOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string CollapseControlText(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  bool inRun = false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 32) {
      if (!inRun) result += ' ';
      inRun = true;
    } else {
      result += c;
      inRun = false;
    }
  }
  return result;
}

std::vector<std::string> SplitAddressList(const std::string& text) {
  std::vector<std::string> list;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(",;", start);
    if (end == std::string::npos) end = text.size();
    std::string entry = Trim(text.substr(start, end - start));
    if (!entry.empty()) list.push_back(entry);
    start = end + 1;
  }
  return list;
}

bool ReadWholeFile(const std::string& fileName, std::string& data) {
  data.clear();
  if (fileName.empty()) return false;
  std::ifstream file(fileName, std::ios::binary);
  if (!file) return false;
  data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

bool FileExistsText(const std::string& fileName) {
  if (Trim(fileName).empty()) return false;
  std::ifstream file(fileName, std::ios::binary);
  return static_cast<bool>(file);
}

