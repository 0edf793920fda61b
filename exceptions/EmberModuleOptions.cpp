// Module options: defaults, filters, Assign, the stream form and the readers of older versions.
#include "EmberModuleOptions.h"

#include <atomic>

#include "ECore.h"
#include "EmberSharedMemory.h"

const char* const EmberDefaultHTMLTemplate =
    "<html>\r\n  <head>\r\n  </head>\r\n  <body TopMargin=10 LeftMargin=10>\r\n"
    "    <table width=\"100%\" border=\"0\">\r\n      <tr>\r\n        <td nowrap>\r\n"
    "          <font face=\"Lucida Console, Courier\" size=\"2\">\r\n            <%HTML_TAG%>\r\n"
    "          </font>\r\n        </td>\r\n      </tr>\r\n    </table>\r\n  </body>\r\n</html>";

const char* const EmberDefaultUserEMail = "your.name@example.com";

namespace {

std::atomic<TEmberFreezeWatchControl> gFreezeWatchControl{nullptr};
std::atomic<TEmberOwnOptionsFinder> gOwnOptionsFinder{nullptr};

// --- Stream primitives (little-endian)

uint8_t ReadByte(TStream& s) {
  uint8_t v;
  s.ReadBuffer(&v, 1);
  return v;
}

uint16_t ReadWord(TStream& s) {
  uint8_t b[2];
  s.ReadBuffer(b, 2);
  return static_cast<uint16_t>(b[0] | b[1] << 8);
}

int32_t ReadInt(TStream& s) {
  uint8_t b[4];
  s.ReadBuffer(b, 4);
  return static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                              uint32_t(b[3]) << 24);
}

std::string ReadString(TStream& s) {
  int32_t length = ReadInt(s);
  // The length comes from the stream: check it against what the stream holds before allocating.
  if (length < 0 || length > s.Remaining())
    throw EReadError("Invalid string length " + IntToStr(length) + " in options stream at offset " +
                     IntToStr(s.GetPosition() - 4));
  std::string text(static_cast<size_t>(length), '\0');
  if (length) s.ReadBuffer(text.data(), length);
  for (auto& c : text) c = static_cast<char>(c ^ EmberStreamMask);
  return text;
}

void WriteByte(TStream& s, uint8_t v) { s.WriteBuffer(&v, 1); }

void WriteWord(TStream& s, uint16_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  s.WriteBuffer(b, 2);
}

void WriteInt(TStream& s, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                  static_cast<uint8_t>(v >> 24)};
  s.WriteBuffer(b, 4);
}

// A text whose only line break is a trailing CR LF is stored without it (the editing tools add
// one to single-line texts).
void WriteString(TStream& s, const std::string& value) {
  std::string text = value;
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0 &&
      text.find_first_of("\r\n") == text.size() - 2)
    text.resize(text.size() - 2);
  WriteInt(s, static_cast<int32_t>(text.size()));
  for (auto& c : text) c = static_cast<char>(c ^ EmberStreamMask);
  if (!text.empty()) s.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

uint64_t ReadBytesLE(TStream& s, int count) {
  uint8_t b[8] = {};
  s.ReadBuffer(b, count);
  uint64_t v = 0;
  for (int i = count - 1; i >= 0; --i) v = (v << 8) | b[i];
  return v;
}

// Older versions knew fewer report items; the items added since are switched on by inserting
// "1" at their places in the bit text, each insertion into the text the previous ones left.
uint64_t WidenReportItems(uint64_t stored, bool from500) {
  std::string bits;
  for (int i = 0; i < 48; ++i) bits += (stored >> i) & 1 ? '1' : '0';
  struct Insertion { const char* ones; size_t position; };
  static const Insertion k500[] = {{"1", 6}, {"1", 10}, {"1111", 13}, {"1111", 23},
                                   {"111", 34}, {"1", 41}, {"1", 48}};
  static const Insertion kOlder[] = {{"11", 5}, {"1", 10}, {"1111", 13}, {"1111", 23},
                                     {"111111", 31}, {"1111111", 42}};
  auto apply = [&bits](const Insertion& insertion) {
    size_t at = std::min(insertion.position - 1, bits.size());
    bits.insert(at, insertion.ones);
  };
  if (from500) for (const auto& i : k500) apply(i);
  else for (const auto& i : kOlder) apply(i);
  uint64_t result = 0;
  for (int i = 0; i < 48; ++i)
    if (bits[static_cast<size_t>(i)] == '1') result |= uint64_t(1) << i;
  return result;
}

// Whether text `index` existed in the layout that library `v` wrote.
bool TextStored(int32_t index, uint16_t v) {
  auto in = [index](std::initializer_list<int32_t> list) {
    for (int32_t i : list) if (i == index) return true;
    return false;
  };
  auto between = [index](int32_t a, int32_t b) { return index >= a && index <= b; };
  if (v < 420 && index == 20) return false;
  if (v < 421 && index == 19) return false;
  if (v < 450 && (in({9, 10, 15, 16, 22, 23, 24, 41, 47, 48, 68, 81}) || index >= 110)) return false;
  if (v < 500 && (in({25, 42, 131, 144, 145}) || between(72, 77) || between(84, 91) || between(98, 104)))
    return false;
  if (v >= 500 && v < 6000 && (index == 17 || index == 18)) return false;
  if (v < 6000 && (in({2, 21, 41, 43, 83, 113}) || between(11, 14) || between(26, 36) ||
                   between(51, 60) || between(105, 109) || between(117, 122) ||
                   between(133, 140) || between(146, 157)))
    return false;
  return true;
}

}  // namespace

void SetEmberFreezeWatchControl(TEmberFreezeWatchControl control) { gFreezeWatchControl.store(control); }

void SetEmberOwnOptionsFinder(TEmberOwnOptionsFinder finder) { gOwnOptionsFinder.store(finder); }

TEmberModuleOptionsEx& CurrentEmberLogOptions() {
  TEmberOwnOptionsFinder finder = gOwnOptionsFinder.load();
  if (TEmberModuleOptionsEx* options = finder ? finder() : nullptr) return *options;
  throw Exception("\r\nCannot use 'CurrentEmberLogOptions' function in module \"" + GetThisModuleFileName() +
                  "\" without activate EmberLog.\r\nTo activate EmberLog use the new IDE \"Project/EmberLog "
                  "Options...\" menu.");
}

std::string GetCustomizedExpandedText(const TEmberModuleOptions* options, int32_t index) {
  return options ? options->GetCustomizedExpandedText(index) : std::string();
}

// --- Filters

void TEmberExceptionsFilters::CheckIndex(int32_t index) const {
  if (index < 0 || index >= Count())
    throw EListError("List index out of bounds (" + IntToStr(index) + ")");
}

TEmberExceptionFilter& TEmberExceptionsFilters::GetItem(int32_t index) {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

const TEmberExceptionFilter& TEmberExceptionsFilters::GetItem(int32_t index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

int32_t TEmberExceptionsFilters::Add(const TEmberExceptionFilter& filter) {
  items_.push_back(filter);
  if (owner_) owner_->Changed();
  return Count() - 1;
}

void TEmberExceptionsFilters::Delete(int32_t index) {
  CheckIndex(index);
  items_.erase(items_.begin() + index);
  if (owner_) owner_->Changed();
}

void TEmberExceptionsFilters::Clear() {
  items_.clear();
  if (owner_) owner_->Changed();
}

void TEmberExceptionsFilters::Assign(const TEmberExceptionsFilters& source) {
  if (&source == this) return;
  items_ = source.items_;
  if (owner_) owner_->Changed();
}

// --- Construction

TEmberModuleOptions::TEmberModuleOptions(const std::string& moduleName)
    : TEmberModuleOptions(moduleName, GetModuleHandleOf(moduleName)) {}

TEmberModuleOptions::TEmberModuleOptions(const std::string& moduleName, uintptr_t moduleHandle)
    : moduleName_(moduleName), moduleHandle_(moduleName.empty() && !moduleHandle ? 0 : moduleHandle) {
  // The defaults are set before this object can be published: construction is not a change.
  BeginUpdate();
  SetDefaults();
  updateCount_ = 0;
}

TEmberModuleOptions::~TEmberModuleOptions() { ++updateCount_; }

// --- Change notification

bool TEmberModuleOptions::BelongsToThisModule() const {
  return moduleHandle_ != 0 && moduleHandle_ == GetThisModuleHandle();
}

void TEmberModuleOptions::Changed() {
  if (updateCount_ > 0 || !BelongsToThisModule()) return;
  SaveToSharedMemory();
}

// --- Special setters

void TEmberModuleOptions::SetActivate(uint8_t value) { StoreActivate(value); }

void TEmberModuleOptions::SetFreezeActivate(uint8_t value) { StoreFreezeActivate(value); }

void TEmberModuleOptions::SetLogReportLimit(int32_t value) {
  logReportLimit_ = value == 0 ? 1 : value;
  Changed();
}

void TEmberModuleOptions::SetReportItems(uint64_t value) {
  reportItems_ = value & EmberAllReportItems;
  Changed();
}

void TEmberModuleOptions::SetReproduceText(const std::string& value) {
  ReproduceText_ = value;
  Changed();
}

void TEmberModuleOptions::SetReserved2(uint8_t value) {
  Reserved2_ = value;
  Changed();
}

// --- Texts

const std::string& TEmberModuleOptions::GetCustomizedText(int32_t index) const {
  static const std::string kEmpty;
  if (index < 0 || index >= EmberTextCount) return kEmpty;
  return texts_[static_cast<size_t>(index)];
}

std::string TEmberModuleOptions::GetCustomizedExpandedText(int32_t index) const {
  return ExpandVariables(GetCustomizedText(index));
}

void TEmberModuleOptions::SetCustomizedText(int32_t index, const std::string& text) {
  if (index < 0 || index >= EmberTextCount) return;
  texts_[static_cast<size_t>(index)] = text;
  Changed();
}

// --- Defaults and Assign

void TEmberModuleOptions::SetDefaults() {
  BeginUpdate();
  UserEMail_ = EmberDefaultUserEMail;
  SmtpHost_.clear();
  SmtpUser_.clear();
  SmtpPassword_.clear();
  SmtpPort_ = 25;
  ProxyHost_.clear();
  ProxyUser_.clear();
  ProxyPassword_.clear();
  ProxyPort_ = 8080;
  TrackerUser_.clear();
  TrackerPassword_.clear();
  TrackerAssignedTo_.clear();
  TrackerProject_.clear();
  TrackerCategory_.clear();
  FogBugzTrialID_.clear();
  ZipPassword_.clear();
  ReservedOptions_ = 1;
  TerminateAction_ = 2;
  freezeActivate_ = 0;
  FreezeTimeout_ = 60;
  reportItems_ = EmberAllReportItems;
  ExceptionDialogType_ = 2;
  filters_.Clear();
  for (int32_t i = 0; i < EmberTextCount; ++i) texts_[static_cast<size_t>(i)] = GetDefaultText(i);
  Language_ = "English";
  Reserved1_ = 0;
  FiltersActive_ = 1;
  LogInMailBody_ = 0;
  SaveLogFile_ = 1;
  LogOptions_ = 0x30;
  SendOptions_ = 0x0051;
  FirstDialogTab_ = 0;
  logReportLimit_ = 32;
  TerminateOfferCount_ = 3;
  OutputPath_.clear();
  EMailAddresses_.clear();
  EMailSubject_.clear();
  EMailMessage_.clear();
  EMailSendMode_ = 0;
  WebSendMode_ = 0;
  AttachedFiles_.clear();
  DialogFlags_ = 0x018F;
  AutoCloseTimeout_ = 0;
  SupportURL_.clear();
  HTMLTemplate_ = EmberDefaultHTMLTemplate;
  ErrorRateAction_ = 2;
  ErrorRateCount_ = 10;
  ErrorRateMinutes_ = 1;
  CallStackOptions_ = 15;
  BehaviourOptions_ = 0x0058;
  Reserved2_ = 30;
  WebURL_.clear();
  WebPort_ = 0;
  WebPassword_.clear();
  WebUser_.clear();
  ReproduceText_.clear();
  activate_ = 1;
  EndUpdate();
  Changed();
}

void TEmberModuleOptions::Assign(const TEmberModuleOptions* source) {
  if (!source) throw EConvertError("Impossible to assign nil as TEmberModuleOptions.");
  if (source == this) return;
  BeginUpdate();
  try {
    filters_.Assign(source->filters_);
    texts_ = source->texts_;
    SetLanguage(source->Language_);
    SetUserEMail(source->UserEMail_);
    SetSmtpHost(source->SmtpHost_);
    SetSmtpUser(source->SmtpUser_);
    SetSmtpPassword(source->SmtpPassword_);
    SetSmtpPort(source->SmtpPort_);
    SetProxyHost(source->ProxyHost_);
    SetProxyUser(source->ProxyUser_);
    SetProxyPassword(source->ProxyPassword_);
    SetProxyPort(source->ProxyPort_);
    SetTrackerUser(source->TrackerUser_);
    SetTrackerPassword(source->TrackerPassword_);
    SetTrackerAssignedTo(source->TrackerAssignedTo_);
    SetTrackerProject(source->TrackerProject_);
    SetTrackerCategory(source->TrackerCategory_);
    SetFogBugzTrialID(source->FogBugzTrialID_);
    SetZipPassword(source->ZipPassword_);
    SetReservedOptions(source->ReservedOptions_);
    SetTerminateAction(source->TerminateAction_);
    SetFreezeActivate(source->freezeActivate_);
    SetFreezeTimeout(source->FreezeTimeout_);
    SetReportItems(source->reportItems_);
    SetExceptionDialogType(source->ExceptionDialogType_);
    SetReserved1(source->Reserved1_);
    SetFiltersActive(source->FiltersActive_);
    SetLogInMailBody(source->LogInMailBody_);
    SetSaveLogFile(source->SaveLogFile_);
    SetLogOptions(source->LogOptions_);
    SetSendOptions(source->SendOptions_);
    SetFirstDialogTab(source->FirstDialogTab_);
    SetLogReportLimit(source->logReportLimit_);
    SetTerminateOfferCount(source->TerminateOfferCount_);
    SetOutputPath(source->OutputPath_);
    SetEMailAddresses(source->EMailAddresses_);
    SetEMailSubject(source->EMailSubject_);
    SetEMailMessage(source->EMailMessage_);
    SetEMailSendMode(source->EMailSendMode_);
    SetWebSendMode(source->WebSendMode_);
    SetAttachedFiles(source->AttachedFiles_);
    SetDialogFlags(source->DialogFlags_);
    SetAutoCloseTimeout(source->AutoCloseTimeout_);
    SetSupportURL(source->SupportURL_);
    SetHTMLTemplate(source->HTMLTemplate_);
    SetErrorRateAction(source->ErrorRateAction_);
    SetErrorRateCount(source->ErrorRateCount_);
    SetErrorRateMinutes(source->ErrorRateMinutes_);
    SetCallStackOptions(source->CallStackOptions_);
    SetBehaviourOptions(source->BehaviourOptions_);
    Reserved2_ = source->Reserved2_;
    SetWebURL(source->WebURL_);
    SetWebPort(source->WebPort_);
    SetWebPassword(source->WebPassword_);
    SetWebUser(source->WebUser_);
    ReproduceText_ = source->ReproduceText_;
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  Changed();
}

// --- Stream form

void TEmberModuleOptions::SaveToStream(TStream& s) const {
  WriteByte(s, Reserved1_);
  WriteByte(s, FiltersActive_);
  WriteByte(s, LogOptions_);
  WriteByte(s, LogInMailBody_);
  WriteByte(s, SaveLogFile_);
  WriteByte(s, FirstDialogTab_);
  WriteByte(s, freezeActivate_);
  WriteInt(s, FreezeTimeout_);

  WriteString(s, UserEMail_);
  WriteString(s, SmtpHost_);
  WriteWord(s, SmtpPort_);
  WriteString(s, SmtpUser_);
  WriteString(s, SmtpPassword_);

  WriteByte(s, TerminateAction_);
  WriteInt(s, logReportLimit_);
  WriteInt(s, TerminateOfferCount_);

  WriteString(s, EMailAddresses_);
  WriteString(s, EMailSubject_);
  WriteByte(s, EMailSendMode_);
  for (int i = 0; i < 6; ++i) WriteByte(s, static_cast<uint8_t>(reportItems_ >> (8 * i)));
  WriteString(s, OutputPath_);
  WriteByte(s, WebSendMode_);

  WriteString(s, WebURL_);
  WriteString(s, WebUser_);
  WriteString(s, WebPassword_);
  WriteInt(s, WebPort_);
  WriteString(s, AttachedFiles_);

  WriteWord(s, SendOptions_);
  WriteWord(s, DialogFlags_);
  WriteInt(s, AutoCloseTimeout_);
  WriteString(s, SupportURL_);
  WriteString(s, HTMLTemplate_);

  WriteByte(s, CallStackOptions_);
  WriteWord(s, BehaviourOptions_);
  WriteByte(s, Reserved2_);
  WriteByte(s, ErrorRateAction_);
  WriteInt(s, ErrorRateCount_);
  WriteInt(s, ErrorRateMinutes_);
  WriteByte(s, ReservedOptions_);
  WriteByte(s, ExceptionDialogType_);

  WriteString(s, ProxyHost_);
  WriteString(s, ProxyUser_);
  WriteString(s, ProxyPassword_);
  WriteWord(s, ProxyPort_);
  WriteString(s, TrackerUser_);
  WriteString(s, TrackerPassword_);
  WriteString(s, TrackerAssignedTo_);
  WriteString(s, TrackerProject_);
  WriteString(s, TrackerCategory_);
  WriteString(s, FogBugzTrialID_);
  WriteString(s, ZipPassword_);

  WriteInt(s, filters_.Count());
  for (int32_t i = 0; i < filters_.Count(); ++i) {
    const auto& f = filters_.GetItem(i);
    WriteByte(s, f.Active);
    WriteString(s, f.ExceptionClassName);
    WriteString(s, f.ExceptionMessage);
    WriteByte(s, f.ExceptionType);
    WriteByte(s, f.DialogType);
    WriteByte(s, f.HandlerType);
    WriteByte(s, f.ActionType);
  }

  WriteString(s, EMailMessage_);
  for (const auto& text : texts_) WriteString(s, text);
  WriteString(s, Language_);
}

void TEmberModuleOptions::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

void TEmberModuleOptions::LoadFromStream(TStream& stream, uint16_t version) {
  if (version >= 600 && version <= 602) version = static_cast<uint16_t>(version + 5400);
  BeginUpdate();
  try {
    ReadStream(stream, version);
  } catch (...) {
    EndUpdate();
    Changed();
    throw;
  }
  EndUpdate();
  Changed();
}

void TEmberModuleOptions::ReadStream(TStream& s, uint16_t v) {
  Reserved1_ = ReadByte(s);
  FiltersActive_ = ReadByte(s);
  LogOptions_ = ReadByte(s);
  if (v < 500) {
    uint8_t showDialog = ReadByte(s);
    if (v < 450) showDialog = showDialog ? 0 : 1;
    if (showDialog == 0) ExceptionDialogType_ = 0;
  }
  LogInMailBody_ = ReadByte(s);
  if (v >= 450 && v < 500) {
    for (uint16_t bit : {0x04, 0x10, 0x01}) {
      if (ReadByte(s)) SendOptions_ = static_cast<uint16_t>(SendOptions_ | bit);
      else SendOptions_ = static_cast<uint16_t>(SendOptions_ & ~bit);
    }
  }
  if (v >= 401) {
    SaveLogFile_ = ReadByte(s);
    FirstDialogTab_ = ReadByte(s);
    // The CPU page moved from the fourth to the sixth tab.
    if (v < 6000 && FirstDialogTab_ == 3) FirstDialogTab_ = 5;
  }
  if (v >= 403 && v < 500) {
    if (ReadByte(s)) DialogFlags_ = static_cast<uint16_t>(DialogFlags_ | 0x40);
    else DialogFlags_ = static_cast<uint16_t>(DialogFlags_ & ~0x40);
  }
  std::string freezeMessage;
  if (v >= 420) {
    freezeActivate_ = ReadByte(s);
    FreezeTimeout_ = ReadInt(s);
    if (v < 422) FreezeTimeout_ /= 1000;  // stored in milliseconds then
    if (v < 6000) freezeMessage = ReadString(s);
    if (v >= 450) UserEMail_ = ReadString(s);
  }
  SmtpHost_ = ReadString(s);
  if (v >= 450) SmtpPort_ = ReadWord(s);
  if (v >= 421) {
    SmtpUser_ = ReadString(s);
    SmtpPassword_ = ReadString(s);
    TerminateAction_ = ReadByte(s);
  }
  if (v < 6000 && ReadByte(s) == 0) TerminateAction_ = 0;
  SetLogReportLimit(ReadInt(s));
  TerminateOfferCount_ = ReadInt(s);
  EMailAddresses_ = ReadString(s);
  EMailSubject_ = ReadString(s);
  EMailSendMode_ = ReadByte(s);
  if (v < 450 && EMailSendMode_ != 0) EMailSendMode_ = SmtpHost_.empty() ? 1 : 2;

  reportItems_ = 0;
  if (v >= 6000) reportItems_ = ReadBytesLE(s, 6);
  else if (v >= 500) reportItems_ = WidenReportItems(ReadBytesLE(s, 5), true);
  else reportItems_ = WidenReportItems(ReadBytesLE(s, 4), false);

  if (v < 450) ReadByte(s);
  OutputPath_ = ReadString(s);
  if (v >= 500) {
    WebSendMode_ = ReadByte(s);
    WebURL_ = ReadString(s);
    WebUser_ = ReadString(s);
    WebPassword_ = ReadString(s);
    WebPort_ = ReadInt(s);
    AttachedFiles_ = ReadString(s);
    SendOptions_ = ReadWord(s);
    if (v < 6000) SendOptions_ = static_cast<uint16_t>(SendOptions_ & ~0x200);
    DialogFlags_ = v < 6000 ? ReadByte(s) : ReadWord(s);
    AutoCloseTimeout_ = ReadInt(s);
    SupportURL_ = ReadString(s);
    HTMLTemplate_ = ReadString(s);
    CallStackOptions_ = ReadByte(s);
    if (v < 6000) {
      BehaviourOptions_ = ReadByte(s);
    } else {
      BehaviourOptions_ = ReadWord(s);
      Reserved2_ = ReadByte(s);
    }
    ErrorRateAction_ = ReadByte(s);
    ErrorRateCount_ = ReadInt(s);
    ErrorRateMinutes_ = ReadInt(s);
    if (v >= 6000) {
      ReservedOptions_ = ReadByte(s);
      ExceptionDialogType_ = ReadByte(s);
      ProxyHost_ = ReadString(s);
      ProxyUser_ = ReadString(s);
      ProxyPassword_ = ReadString(s);
      ProxyPort_ = ReadWord(s);
      TrackerUser_ = ReadString(s);
      TrackerPassword_ = ReadString(s);
      TrackerAssignedTo_ = ReadString(s);
      TrackerProject_ = ReadString(s);
      TrackerCategory_ = ReadString(s);
      FogBugzTrialID_ = ReadString(s);
      ZipPassword_ = ReadString(s);
    }
  }

  filters_.Clear();
  int32_t count = ReadInt(s);
  // Each filter takes at least 10 bytes; a count beyond what the stream holds is corrupt.
  if (count < 0 || count > s.Remaining() / 10)
    throw EReadError("Invalid filter count " + IntToStr(count) + " in options stream at offset " +
                     IntToStr(s.GetPosition() - 4));
  for (int32_t i = 0; i < count; ++i) {
    TEmberExceptionFilter f;
    f.Active = v >= 6000 ? ReadByte(s) : 1;
    f.ExceptionClassName = ReadString(s);
    f.ExceptionMessage = ReadString(s);
    if (v >= 6000) {
      f.ExceptionType = ReadByte(s);
      f.DialogType = ReadByte(s);
      f.HandlerType = ReadByte(s);
      f.ActionType = ReadByte(s);
    } else {
      f.ExceptionType = 2;
      f.DialogType = f.ExceptionMessage.empty() ? 0 : 2;
      f.HandlerType = 0;
      f.ActionType = 0;
    }
    filters_.Add(f);
  }

  EMailMessage_ = ReadString(s);
  for (int32_t i = 0; i < EmberTextCount; ++i) {
    if (v < 6000 && i == 68) ReadString(s);  // a text the older versions kept here, now gone
    if (TextStored(i, v)) texts_[static_cast<size_t>(i)] = ReadString(s);
  }
  if (v >= 6000) Language_ = ReadString(s);
  if (!freezeMessage.empty()) texts_[156] = freezeMessage;
}

void TEmberModuleOptions::LoadFromFile(const std::string& fileName, uint16_t version) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file, version);
}

// --- The class the library creates

namespace {

void ApplyFreezeWatch(const TEmberModuleOptions& options) {
  TEmberFreezeWatchControl control = gFreezeWatchControl.load();
  if (control && options.BelongsToThisModule())
    control(options.Activate() != 0 && options.FreezeActivate() != 0);
}

}  // namespace

void TEmberModuleOptionsEx::SetActivate(uint8_t value) {
  bool changed = value != Activate();
  StoreActivate(value);
  if (changed) ApplyFreezeWatch(*this);
}

void TEmberModuleOptionsEx::SetFreezeActivate(uint8_t value) {
  bool changed = value != FreezeActivate();
  StoreFreezeActivate(value);
  if (changed) ApplyFreezeWatch(*this);
}

void TEmberModuleOptionsEx::SaveToSharedMemory() { SaveOptionsToSharedMemory(*this); }

void TEmberModuleOptionsEx::LoadFromSharedMemory() { LoadOptionsFromSharedMemory(*this); }
