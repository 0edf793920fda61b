// What the report senders share: the library's last delivery error, the send-progress display
// they drive, the attachment-name decoration and the small text and date helpers of the mail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ESupport.h"

class TEmberModuleOptions;

// --- Last error
//
// The senders record failures as the library's last error (ESupport.h): a recorded failure is a
// library warning, shown further only while the show-warnings switch is on.

inline void RecordDeliveryWarning(TEmberLogErrorCode code, const std::string& message) {
  ShowLibraryWarning(code, message);
}
// To be called inside a catch block: "[context] message" for an exception, else
// "General 'context' error.".
inline void RecordDeliveryError(TEmberLogErrorCode code, const std::string& context) {
  ShowLibraryError(code, context);
}
inline void ClearDeliveryLastError() { ClearLastError(); }
inline TEmberLogErrorCode DeliveryLastErrorCode() { return GetLastLibraryErrorCode(); }
inline std::string DeliveryLastErrorMessage() { return GetLastLibraryErrorMessage(); }

// --- Send progress

// The send-progress display (the progress dialog implements it). Calls come from the sending
// thread; an implementation marshals them to its window.
class TEmberSendProgressView {
 public:
  virtual ~TEmberSendProgressView() = default;
  virtual void ShowMessage(const std::string& text) = 0;
  // 0..100.
  virtual void SetPosition(int32_t position) = 0;
  // The send is over: the display goes away.
  virtual void CloseView() {}
};

// The progress state of the current send: the display (null: progress is not shown), the
// recipient the SMTP sender is at and how many there are, and the bar's last position.
struct TEmberSendProgressState {
  TEmberSendProgressView* View = nullptr;
  // Whose texts the display shows (null: the library's defaults).
  const TEmberModuleOptions* Options = nullptr;
  int32_t Recipient = 0;
  int32_t RecipientCount = 0;
  int32_t LastPosition = 0;
};
TEmberSendProgressState& DeliveryProgress();
// Installs the display (null removes it) and the options whose texts it shows, and clears the
// rest of the state.
void SetDeliveryProgressView(TEmberSendProgressView* view,
                             const TEmberModuleOptions* options = nullptr);
// The text `index` of the progress options (expanded), else the library's default.
std::string DeliveryText(int32_t index);
// Shows a text on the display, when there is one.
void DeliveryProgressText(const std::string& text);
// Moves the bar; a position below the last one is ignored unless `allowBackwards`.
void DeliveryProgressBar(int32_t position, bool allowBackwards = false);
// Bar and its last position back to 0.
void DeliveryProgressReset();
// Tells the display the send is over.
void DeliveryProgressClose();

// --- Attachment names

// The name an attachment travels under (the log's decorated name: computer name, date). The
// report pipeline installs the log files' decoration; the default is the file part of the path.
using TEmberAttachedNameFunction = std::string (*)(const std::string& fileName);
void SetAttachedNameFunction(TEmberAttachedNameFunction function);
std::string AttachedFileName(const std::string& fileName);

// --- Text helpers

// The part after the last "\\" or "/".
std::string FilePartOf(const std::string& path);
// Every run of characters below 32 becomes one blank.
std::string CollapseControlText(const std::string& text);
// Splits at "," and ";", trims every entry and drops the empty ones.
std::vector<std::string> SplitAddressList(const std::string& text);
// The whole file as bytes; false when it cannot be read.
bool ReadWholeFile(const std::string& fileName, std::string& data);
bool FileExistsText(const std::string& fileName);
