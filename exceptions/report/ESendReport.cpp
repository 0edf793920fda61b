// The report sending pipeline: attachments and zip, e-mail then web with retries and events,
// the outcome, kept zips, clean-up and the background send thread.
#include "ESendReport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "EBugReport.h"
#include "EBugTrackers.h"
#include "EDeliverySupport.h"
#include "EExceptionDialog.h"
#include "EExceptionProcessing.h"
#include "EHttp.h"
#include "ELogFile.h"
#include "ELogManager.h"
#include "EMail.h"
#include "EObjectHelpers.h"
#include "ERequestDialog.h"
#include "EScreenshot.h"
#include "ESmtp.h"
#include "ESupport.h"
#include "EZipWriter.h"
#include "classlib/Classes.h"
#include "classlib/NeverDestroyed.h"
#include "classlib/SysUtils.h"
#include "detail/EReportPlatform_p.h"
#include "detail/ESendReportPlatform_p.h"
#include "detail/ESupportPlatform_p.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/EmberLogEvents.h"
#include "exceptions/capture/ExceptionLog.h"

namespace {

std::vector<std::string> gAttachments;
std::vector<std::string> gCustomFields;
// The thread whose background send holds the library lock now; 0 when none.
std::atomic<uint32_t> gSendingThread{0};

// How far a background send thread has come: it has taken the library lock (it no longer
// needs it from anyone), and it has left the lock and has nothing more to do; and where it waits
// on others, so that it can be given up there.
struct TSendThreadState {
  std::atomic<bool> LockTaken{false};
  std::atomic<bool> Finished{false};
  std::atomic<uint32_t> ThreadID{0};
  TEmberPark Park;
  std::string Folder;  // its report's companion files; set before the thread starts
};
// The background send threads not released yet.
struct TSendThread {
  uintptr_t Handle = 0;
  std::shared_ptr<TSendThreadState> State;
};
// Held across the list's changes, which allocate: a thread killed there (a closing thread, a
// processing that starts a send) must not keep it from the next close.
TEmberWorkLock gSendThreadsLock;
bool gSendThreadsClosed = false;  // under gSendThreadsLock
// Threads a wait took out of the list and has not released or put back yet (under
// gSendThreadsLock): every other wait lasts until they are, since it cannot see them.
size_t gSendThreadsTakenOut = 0;
// Never destroyed: a program that ends without detaching the library leaves its threads to the
// system. Kept in static storage, so that no block of the library's own is left for the leak
// report.
std::vector<TSendThread>& SendThreads() {
  static TNeverDestroyed<std::vector<TSendThread>> threads;
  return threads.Get();
}

// A send thread is over once it said so, or once its thread ended (killed, or given up where it
// waited).
bool SendThreadOver(const TSendThread& thread) {
  return thread.State->Finished.load() || ember_report::LibraryThreadEnded(thread.Handle);
}

// A tracker already told the user about the report (it is closed): no outcome box follows.
bool gTrackerShownBox = false;
TEmberSendStage gStage;

TEmberModuleOptions* Options() { return DialogOptions(); }

bool Background() { return Options() && (Options()->SendOptions() & 0x80) != 0; }


std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  if (last == '\\' || last == '/') return folder + name;
  bool slashes = folder.find('/') != std::string::npos && folder.find('\\') == std::string::npos;
  return folder + (slashes ? "/" : "\\") + name;
}

std::string FolderOf(const std::string& fileName) {
  size_t slash = fileName.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

// The exception's date and time as yyyymmddhhnnss (the clock's when the date is unknown).
std::string CompactStamp() {
  const TDateTime date = LogReportState().ExceptionDate;
  return FormatCompactDate(date != 0 ? date : ember_support::LocalNow());
}

// A list event of the library (attached files, custom web fields) on the faulting thread.
void RaiseListEvent(void (*raise)(TStrings&), std::vector<std::string>& list) {
  TStringList strings;
  for (const std::string& line : list) strings.Add(line);
  SynchronizeExceptionCall([&] {
    try {
      raise(strings);
    } catch (...) {
      // a failing handler leaves the list as it was
    }
  });
  list.clear();
  for (int32_t i = 0; i < strings.Count(); ++i) list.push_back(strings[i]);
}

bool RaiseErrorEvent(int32_t error) { return RaiseReportError(error); }

void WriteTemporaryLog() {
  std::string name = GetTempLogFileName();
  if (name.empty()) return;
  std::string text = ReportPieces().LastReportText;
  if (text.size() < 6 || text.compare(text.size() - 6, 6, "\r\n\r\n\r\n") != 0) text += "\r\n\r\n\r\n";
  std::ofstream file(name, std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!file) throw EWriteError("Cannot write the file \"" + name + "\".");
}

TEmberLogErrorCode EmailErrorCode(int32_t mode) { return mode == 1 ? eeEmailMAPIError : eeEmailSMTPError; }

TEmberLogErrorCode WebErrorCode(int32_t mode) {
  switch (mode) {
    case 2: return eeWebHTTPSError;
    case 3: return eeWebFTPError;
    case 4: case 5: case 6: return eeWebTrakerError;
    default: return eeWebHTTPError;
  }
}

void ShowOutcome(bool success) {
  // The user sees why a send failed: the reason recorded by the failing method follows the text.
  const std::string reason = success ? std::string() : GetLastLibraryErrorMessage();
  const std::string text = success ? DialogText(144) : DialogText(145) + (reason.empty() ? "" : "\r\n\r\n" + reason);
  const std::string caption = DialogText(0);
  // A background send waits for the user here: a wait it may be given up in.
  const TEmberParked parked;
  ShowLibraryMessageBox(!success, text, caption);
}

void KeepFailedZip() {
  std::string zip = GetZipFileName();
  if (!FileExistsText(zip)) return;
  std::string name = GetAttachedLogFileName(FilePartOf(zip));
  std::string logName = ember_report::LogFileName(*Options());
  std::string folder = FolderOf(logName);
  if (!folder.empty() && !KeepZipFile(zip, folder, name, CompactStamp(), EmberKeptZipLimit).empty()) return;
  // The log's folder took nothing: the library's own folder keeps it rather than losing it.
  if (KeepZipFile(zip, ember_report::FallbackFolder(), name, CompactStamp(), EmberKeptZipLimit).empty())
    ShowLibraryWarning(eeLogError, "Cannot keep the report file \"" + zip + "\".");
}

void DeleteTemporaryFiles() {
  for (const std::string& name : {GetZipFileName(), GetXMLLogFileName(), GetTempLogFileName()})
    if (!name.empty()) ember_report::DeleteReportFile(name);
  std::string page = GetLastHTMLPageFileName();
  if (!page.empty() && !ember_report::RunsAsCGI()) ember_report::DeleteReportFile(page);
}

TEmberTrackerSettings TrackerSettings(const TEmberWebSendSettings& web) {
  const TEmberModuleOptions& options = *Options();
  TEmberTrackerSettings settings;
  settings.Web = web;
  settings.Version = ember_report::ApplicationVersionNumber();
  settings.ClassName = ReportedClassName(EmberLibrary().CurrentException.ExceptionObject);
  settings.Identifier = LogReportState().ReportID;
  settings.ExceptionMessage = EmberDialogState().ExceptionMessage;
  settings.AssignedTo = options.TrackerAssignedTo();
  settings.Category = options.TrackerCategory();
  settings.Project = options.TrackerProject();
  settings.FogBugzTrialID = options.FogBugzTrialID();
  settings.OSType = ember_report::SystemTypeText();
  settings.OSBuild = ember_report::SystemBuildText();
  settings.ReproduceText = options.ReproduceText();
  return settings;
}

bool ContinueSendBugReport();

// The send and what follows it when it runs apart from the processing: the steps after the send
// are this exception's, whether the send succeeded or not, so they run in any case. `goOn`: the
// send goes on from where it was cut short.
void SendAndFinish(bool goOn) {
  try {
    if (goOn)
      ContinueSendBugReport();
    else
      SendBugReport();
  } catch (...) {
    ShowLibraryError(eeLogError, "Send");
  }
  try {
    CheckErrorsRate();
  } catch (...) {
    ShowLibraryError(eeLogError, "Send");
  }
  FreeCallStack();
  TerminateApplicationIfAsked();
}

// What one background send works from besides the library's state: a copy of its exception
// object, which outlives the handler, and copies of the system's exception record and the
// context, which lie in the faulting thread's own fields (its next raise reuses them) or on its
// stack; and its place among the lock's heirs.
struct TSendJob {
  const std::exception* Copy = nullptr;
  alignas(16) uint8_t Context[716] = {};
  uint8_t Record[80] = {};
  int32_t Heir = 0;
  std::shared_ptr<TSendThreadState> State;
  std::string Folder;  // the run's companion files (ELogManager.h), removed when the send ends
};

// The library's own work on this thread: a failure it raises or catches is not processed.
struct TLibraryWork {
  TLibraryWork() { ++ThreadVars().LibraryWork; }
  ~TLibraryWork() { --ThreadVars().LibraryWork; }
};

// The thread is an heir of the library lock (ExceptionLog.h): it has the lock before the next
// exception is processed, so the record and the decisions it finds are still its exception's.
void RunSendThread(TSendJob& job) {
  try {
    TEmberLibraryGlobals& library = EmberLibrary();
    std::unique_lock<TEmberLibraryLock> guard(library.LibraryLock, std::defer_lock);
    try {
      guard.lock();
    } catch (...) {
      RemoveLockHeir(job.Heir);
      throw;
    }
    RemoveLockHeir(job.Heir);
    job.State->LockTaken = true;
    gSendingThread = EmberCurrentThreadID();
    SetCompanionFolder(job.Folder);
    const auto finish = [&] {
      gSendingThread = 0;
      RemoveCompanionFolder(job.Folder);
      SetCompanionFolder(std::string());
      TEmberExceptionRecord& current = library.CurrentException;
      if (current.ExceptionObject == job.Copy) current.ExceptionObject = nullptr;
      if (current.ExceptionContext == job.Context) current.ExceptionContext = nullptr;
      if (current.ExceptionRecord == job.Record) current.ExceptionRecord = nullptr;
      FreeObjectCopy(job.Copy);
      job.Copy = nullptr;
    };
    {
      // The runtime ends the program's code in a handler of this send (its exception left a
      // function that may not raise): the report still goes out, without the program's
      // handlers, and the send is over and the lock given back before the thread ends.
      const TOnThreadEnd cutShort([&] {
        ThreadVars().LibraryWork = 1;
        SendAndFinish(true);
        finish();
        library.LibraryLock.UnlockAll();
      });
      TLibraryWork work;
      SendAndFinish(false);
    }
    finish();
  } catch (...) {
    // nothing may leave the thread
    gSendingThread = 0;
  }
}

void SendThreadMain(void* argument) {
  TSendJob* job = static_cast<TSendJob*>(argument);
  // The highest-but-one of the seven priorities: above the application, below time-critical.
  ember_report::RaiseThreadPriority();
  const std::shared_ptr<TSendThreadState> state = job->State;
  state->ThreadID = EmberCurrentThreadID();
  ThreadVars().Park = &state->Park;
  const auto leave = [&] {
    delete job;
    ThreadVars().Park = nullptr;
    state->Finished = true;
  };
  {
    const TOnThreadEnd cutShort(leave);
    RunSendThread(*job);
  }
  leave();
  // A last close whose thread ended inside while it waited for this send is carried on here, when
  // no one else comes.
  RunPutOffWork();
}

// Releases the threads of sends that are over (they no longer need the library lock, which the
// caller may hold).
void ReleaseFinishedSendThreads() {
  std::vector<TSendThread> finished;
  {
    std::lock_guard<TEmberWorkLock> guard(gSendThreadsLock);
    for (size_t i = 0; i < SendThreads().size();) {
      if (SendThreadOver(SendThreads()[i])) {
        finished.push_back(std::move(SendThreads()[i]));
        SendThreads().erase(SendThreads().begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
  }
  for (TSendThread& thread : finished) ember_report::ReleaseLibraryThread(thread.Handle);
}

}  // namespace

const std::vector<std::string>& SendAttachments() { return gAttachments; }
const std::vector<std::string>& SendCustomWebFields() { return gCustomFields; }
bool IsSendThreadRunning() {
  std::lock_guard<TEmberWorkLock> guard(gSendThreadsLock);
  if (gSendThreadsTakenOut > 0) return true;
  for (const TSendThread& thread : SendThreads())
    if (!SendThreadOver(thread)) return true;
  return false;
}
bool IsSendUnderWayOn(uint32_t threadID) { return threadID != 0 && gSendingThread.load() == threadID; }

void ExchangeSendWork(TEmberSendWork& work) {
  gAttachments.swap(work.Attachments);
  gCustomFields.swap(work.CustomFields);
  std::swap(gTrackerShownBox, work.TrackerShownBox);
  std::swap(gStage, work.Stage);
}

// --- Attachments

void PrepareAttachments(bool forEmail) {
  std::vector<std::string> files;
  BuildAttachmentList(forEmail, files);
  RaiseListEvent(RaiseAttachedFilesRequestEvent, files);
  files.erase(std::remove_if(files.begin(), files.end(), [](const std::string& f) { return !FileExistsText(f); }),
              files.end());
  std::string zip = GetZipFileName();
  {
    TZipWriter writer(zip, Options() ? Options()->ZipPassword() : std::string());
    for (const std::string& file : files)
      if (!writer.AddFile(file, FilePartOf(file)))
        ShowLibraryWarning(eeLogError, "Cannot add the file \"" + file + "\" to the report.");
  }
  gAttachments.assign(1, zip);
}

// --- Methods

bool SendEmailReport() {
  TEmberModuleOptions& options = *Options();
  bool success = true;
  RaiseReportAction(4, success);
  if (!success) return false;
  bool retry;
  do {
    success = false;
    std::string report = ReportPieces().LastReportText;
    std::string body = options.EMailMessage();
    if (options.LogInMailBody()) body += "\r\n\r\n\r\n" + report;
    int32_t mode = options.EMailSendMode();
    if (mode == 2 || mode == 3) {
      StartSendDialog(!Background());
      std::string log;
      success = SendSMTPMail(mode == 3, options.UserEMail(), options.SmtpHost(), options.SmtpPort(), options.SmtpUser(),
                             options.SmtpPassword(), options.EMailAddresses(), options.EMailSubject(), body, log, 0,
                             gAttachments);
      CloseSendDialog();
    } else if (mode == 1) {
      const std::string addresses = options.EMailAddresses(), subject = options.EMailSubject();
      const std::string message = options.EMailMessage();
      const bool dialog = (options.SendOptions() & 0x01) != 0;
      const std::vector<std::string> attachments = gAttachments;
      // The mail client has it until the user is done with it.
      const TEmberParked parked;
      success = SendMAPIMail(addresses, subject, body, attachments, dialog);
      if (!success) success = SendMailByShell(addresses, subject, message, report);
    } else {
      success = true;
    }
    gStage.Email = success ? 1 : 0;
    retry = !success && RaiseErrorEvent(5);
  } while (retry);
  RaiseReportAction(5, success);
  return success;
}

bool SendWebReport() {
  TEmberModuleOptions& options = *Options();
  bool success = true;
  RaiseReportAction(6, success);
  if (!success) return false;
  gCustomFields.clear();
  RaiseListEvent(RaiseCustomWebFieldsRequestEvent, gCustomFields);
  bool retry;
  do {
    success = false;
    int32_t mode = options.WebSendMode();
    StartSendDialog(!Background());
    TEmberWebSendSettings web;
    web.URL = options.WebURL();
    web.User = options.WebUser();
    web.Password = options.WebPassword();
    web.Port = options.WebPort();
    web.ProxyHost = options.ProxyHost();
    web.ProxyUser = options.ProxyUser();
    web.ProxyPassword = options.ProxyPassword();
    web.ProxyPort = options.ProxyPort();
    web.CustomFields = gCustomFields;
    web.Attachments = gAttachments;
    if (mode == 1 || mode == 2) {
      success = SendHTTPReport(mode, web);
    } else if (mode == 3) {
      success = SendFTPReport(web);
    } else if (mode >= 4 && mode <= 6) {
      int32_t result = trSent;
      success = SendTrackerReport(mode, TrackerSettings(web), result);
      if (result == trClosed && (options.SendOptions() & 0x01)) {
        const std::string text = DialogText(146), caption = DialogText(0);
        const TEmberParked parked;
        ShowLibraryMessageBox(false, text, caption);
        gTrackerShownBox = true;
      }
    } else {
      success = true;
    }
    CloseSendDialog();
    gStage.Web = success ? 1 : 0;
    retry = !success && RaiseErrorEvent(7);
  } while (retry);
  RaiseReportAction(7, success);
  return success;
}

bool SendBugReport() {
  gAttachments.clear();
  gCustomFields.clear();
  gTrackerShownBox = false;
  gStage = TEmberSendStage();
  ClearLastError();
  return ContinueSendBugReport();
}

namespace {

// The send from where it stands (all of it after SendBugReport's reset): a method tried already
// is not sent again.
bool ContinueSendBugReport() {
  TEmberModuleOptions* options = Options();
  if (!options) return false;
  if (gStage.Ended) return gStage.Result;
  if (!gStage.FilesWritten) {
    try {
      WriteTemporaryLog();
      SetLastHTMLPage(LogReportState().LastHTMLPage);
      WriteXMLLogFile();
    } catch (...) {
      ShowLibraryError(eeLogError, "Send");
    }
    gStage.FilesWritten = true;
  }
  int32_t emailMode = options->EMailSendMode();
  if (emailMode != 0 && !gStage.EmailEnded) {
    try {
      bool sent = gStage.Email > 0;
      if (gStage.Email < 0) {
        PrepareAttachments(true);
        sent = options->EMailSendMode() == 0 || SendEmailReport();
      }
      gStage.Result = sent && gStage.Result;
    } catch (...) {
      ShowLibraryError(EmailErrorCode(emailMode), "E-mail");
      gStage.Result = false;
    }
    gStage.EmailEnded = true;
  }
  int32_t webMode = options->WebSendMode();
  if (webMode != 0 && !gStage.WebEnded) {
    try {
      bool sent = gStage.Web > 0;
      if (gStage.Web < 0) {
        // The e-mail's zip already holds the log copy unless the log went into the mail's body.
        if (!(emailMode != 0 && !options->LogInMailBody() && !gAttachments.empty())) PrepareAttachments(false);
        sent = SendWebReport();
      }
      gStage.Result = sent && gStage.Result;
    } catch (...) {
      ShowLibraryError(WebErrorCode(webMode), "Web");
      gStage.Result = false;
    }
    gStage.WebEnded = true;
  }
  gStage.Ended = true;
  const bool result = gStage.Result;
  try {
    CloseSendDialog();
    if (!result && (options->BehaviourOptions() & 0x10)) ember_report::PutReportOnClipboard(ReportPieces().LastReportText);
    if ((options->SendOptions() & 0x02) && !gTrackerShownBox) ShowOutcome(result);
    if (!result && (options->BehaviourOptions() & 0x20)) KeepFailedZip();
  } catch (...) {
    ShowLibraryError(eeLogError, "Send");
  }
  try {
    DeleteTemporaryFiles();
  } catch (...) {
    // what cannot be deleted stays in the temporary folder
  }
  return result;
}

}  // namespace

// --- Background send

bool StartSendThread(bool background) {
  try {
    if (!background) {
      SendBugReport();
      return false;
    }
    ReleaseFinishedSendThreads();
    std::unique_lock<TEmberWorkLock> guard(gSendThreadsLock);
    if (gSendThreadsClosed) {
      // The library is detaching: no thread may outlive it. The processing ends the application
      // when asked, which it may only decide after this returns.
      guard.unlock();
      SendBugReport();
      return false;
    }
    TEmberExceptionRecord& record = EmberLibrary().CurrentException;
    const TEmberExceptionRecord original = record;
    auto job = std::make_unique<TSendJob>();
    job->Folder = GetCompanionFolder();
    job->Copy = CopyObject(original.ExceptionObject);
    record.ExceptionObject = job->Copy;
    if (original.ExceptionContext != nullptr && ember_detail::PlatformIsReadable(original.ExceptionContext, 204)) {
      std::memcpy(job->Context, original.ExceptionContext, 204);
      record.ExceptionContext = job->Context;
    }
    if (original.ExceptionRecord != nullptr && ember_detail::PlatformIsReadable(original.ExceptionRecord, 80)) {
      std::memcpy(job->Record, original.ExceptionRecord, 80);
      record.ExceptionRecord = job->Record;
    }
    const std::shared_ptr<TSendThreadState> state = job->State = std::make_shared<TSendThreadState>();
    state->Park.Leave = &ember_report::LeaveLibraryThread;
    state->Folder = job->Folder;
    const int32_t heir = job->Heir = AddLockHeir();
    uintptr_t handle = 0;
    bool started = false;
    try {
      // Kept until it is over: the module must not detach while it runs. The room is made first,
      // so that a started thread is always kept.
      SendThreads().reserve(SendThreads().size() + 1);
      started = ember_report::StartLibraryThread(&SendThreadMain, job.get(), handle);
    } catch (...) {
      started = false;
    }
    if (!started) {
      // No thread to be had: the report is sent here rather than lost.
      RemoveLockHeir(heir);
      record.ExceptionObject = original.ExceptionObject;
      record.ExceptionContext = original.ExceptionContext;
      record.ExceptionRecord = original.ExceptionRecord;
      FreeObjectCopy(job->Copy);
      guard.unlock();
      SendBugReport();
      return false;
    }
    job.release();  // the thread's now; nothing below raises, the room is made
    SendThreads().push_back(TSendThread{handle, state});
    // The thread cannot take the lock before this processing gives it back, so it is named
    // while it still waits.
    SetLockHeirThread(heir, handle);
    return true;
  } catch (...) {
    ShowLibraryError(eeLogError, "Send");
  }
  return false;
}

namespace {

// The main thread answers only what is sent to its windows meanwhile: the library's wait, not a
// freeze.
struct TMainThreadWaits {
  const bool Main = EmberCurrentThreadID() == EmberLibrary().MainThreadID;
  TMainThreadWaits() {
    if (Main) ++EmberLibrary().MainThreadInside;
  }
  ~TMainThreadWaits() {
    if (Main) --EmberLibrary().MainThreadInside;
  }
  TMainThreadWaits(const TMainThreadWaits&) = delete;
  TMainThreadWaits& operator=(const TMainThreadWaits&) = delete;
};

// One wait of a thread that waits for sends: a thread with windows answers what other threads
// send to them meanwhile (the send's handlers may ask one of them, its progress shown in the
// program, and would otherwise wait for it for ever).
void WaitAWhile() {
  if (ember_detail::PlatformHasMessageQueue())
    ember_detail::PlatformWaitAnsweringSent(10);
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// No time limit for a wait.
constexpr int64_t kNoDeadline = INT64_MAX;

bool Passed(int64_t deadline) { return deadline != kNoDeadline && EmberNowMs() >= deadline; }

// Waits until the send of `thread` is over, or `deadline` has passed; true when it is over.
bool WaitForSendThread(const TSendThread& thread, int64_t deadline) {
  while (!SendThreadOver(thread)) {
    if (Passed(deadline)) return false;
    WaitAWhile();
  }
  return true;
}

// The send threads of the list, taken out for the calling wait (counted while it has them).
std::vector<TSendThread> TakeSendThreads(bool close) {
  std::vector<TSendThread> threads;
  std::lock_guard<TEmberWorkLock> guard(gSendThreadsLock);
  if (close) gSendThreadsClosed = true;
  threads.swap(SendThreads());
  gSendThreadsTakenOut += threads.size();
  return threads;
}

// The threads a wait took out: those over are released, the others go back to the list.
void GiveBackSendThreads(std::vector<TSendThread>& threads) {
  std::lock_guard<TEmberWorkLock> guard(gSendThreadsLock);
  gSendThreadsTakenOut -= threads.size();
  for (TSendThread& thread : threads) {
    if (SendThreadOver(thread))
      ember_report::ReleaseLibraryThread(thread.Handle);
    else
      SendThreads().push_back(std::move(thread));
  }
  threads.clear();
}

// Waits until the threads that other waits took out are released or back in the list (two waits
// at once, as a close and a fault's filter: the second must not return while the first's sends
// still go out), or until `deadline`.
void WaitForOtherWaits(int64_t deadline) {
  for (;;) {
    {
      std::lock_guard<TEmberWorkLock> guard(gSendThreadsLock);
      if (gSendThreadsTakenOut == 0) return;
    }
    if (Passed(deadline)) return;
    WaitAWhile();
  }
}

// Run by every path of the library that ends the process, on the ending thread, which may hold
// the library lock (a processing or a send that acts on an end asked), be the worker of a
// processing, or be a send thread itself. No send thread starts from here on (what is processed
// meanwhile sends at once), and every other one ends first, waited for EmberSendWaitLimitMs in
// all: the end cuts short one that does not end by then (its report is in the log file). One that
// still waits for the library lock gets it: the ending thread gives back what it holds, since none
// of its work runs after the end; only on the worker, whose faulting thread holds the lock and
// waits for it, such a send cannot come before the end.
void FinishSendsBeforeProcessEnd(bool closing) {
  const TMainThreadWaits waits;
  // The entry of the exception that ends the process may have waited for a send already.
  const int64_t deadline = EmberNowMs() + EmberSendWaitLimitMs - std::min<int64_t>(EntryWaitedMs(), EmberSendWaitLimitMs);
  std::vector<TSendThread> threads = TakeSendThreads(closing);
  TEmberLibraryLock& lock = EmberLibrary().LibraryLock;
  const uint32_t self = EmberCurrentThreadID();
  for (TSendThread& thread : threads) {
    const bool own = thread.State->ThreadID.load() == self;
    if (!own && !thread.State->LockTaken.load() && !SendThreadOver(thread)) {
      // A process that may go on keeps its lock where it is: a send that needs it waits.
      if (closing && lock.HeldByThisThread())
        lock.UnlockAll();
      else if (lock.HeldByThisThread() || IsInsideLibraryWork())
        continue;
    }
    if (!own) WaitForSendThread(thread, deadline);
  }
  // The calling thread's own, and one that could not come first, end with the process. One
  // given up where it waits touches nothing more, so its companion files go here: no end of the
  // program leaves them behind.
  for (TSendThread& thread : threads)
    if (closing && thread.State->ThreadID.load() != self && !SendThreadOver(thread) &&
        GiveUpParked(thread.State->Park))
      RemoveCompanionFolder(thread.State->Folder);
  GiveBackSendThreads(threads);
  // Those another wait has: they may need the lock only where this thread could give it.
  if (closing && lock.HeldByThisThread()) lock.UnlockAll();
  if (!lock.HeldByThisThread() && !IsInsideLibraryWork()) WaitForOtherWaits(deadline);
}

// The send that holds the library lock, when an entry has waited EmberSendWaitLimitMs for it:
// given up where it waits now (or at its next wait, when it is between two). Answers true when
// the lock was taken from it.
bool JudgeLockHolder(uint32_t waitedMs) {
  if (waitedMs < EmberSendWaitLimitMs) return false;
  TEmberLibraryLock& lock = EmberLibrary().LibraryLock;
  const uint32_t holder = lock.Holder();
  if (holder == 0 || holder != gSendingThread.load()) return false;
  std::shared_ptr<TSendThreadState> state;
  {
    std::lock_guard<TEmberWorkLock> guard(gSendThreadsLock);
    for (const TSendThread& thread : SendThreads())
      if (thread.State->ThreadID.load() == holder) state = thread.State;
  }
  // Between two waits it leaves at the next one, and the lock is then the system's to hand on.
  return state && GiveUpParked(state->Park) && lock.GiveUpHolder(holder);
}

// The library lock is taken over: a send that held it is gone (killed, or given up where it
// waited). What it left of the send's own state goes, so that the next one starts clean: its
// progress dialog (whose thread keeps no hold on the module) and its companion files.
void TakeOverSend() {
  if (gSendingThread.exchange(0) == 0) return;
  CloseSendDialog();
  RemoveCompanionFolder(GetCompanionFolder());
  SetCompanionFolder(std::string());
}

}  // namespace

void JoinSendThreads() {
  const TMainThreadWaits waits;
  std::vector<TSendThread> threads = TakeSendThreads(false);
  for (TSendThread& thread : threads) WaitForSendThread(thread, kNoDeadline);
  GiveBackSendThreads(threads);
  WaitForOtherWaits(kNoDeadline);
}

void InstallSendsBeforeProcessEnd(bool install) {
  SetBeforeProcessEnd(install ? &FinishSendsBeforeProcessEnd : nullptr);
  SetLibraryLockTakeOver(install ? &TakeOverSend : nullptr);
  SetLockHolderJudge(install ? &JudgeLockHolder : nullptr);
}

void CloseSendThreads() {
  const TMainThreadWaits waits;
  const int64_t deadline = EmberNowMs() + EmberSendWaitLimitMs;
  // Looked at where they are listed, never taken out: a closing thread killed while it waits
  // leaves them to the close that carries its work on.
  const auto going = [](auto visit) {
    std::lock_guard<TEmberWorkLock> guard(gSendThreadsLock);
    gSendThreadsClosed = true;
    bool any = false;
    for (const TSendThread& thread : SendThreads())
      if (!SendThreadOver(thread)) any |= visit(thread);
    return any;
  };
  while (going([](const TSendThread&) { return true; }) && !Passed(deadline)) WaitAWhile();
  // Those still going are given up: each goes on to its next wait (its code between two waits is
  // short) or to its end, and touches nothing more after.
  going([](const TSendThread& thread) { return GiveUpParked(thread.State->Park); });
  while (going([](const TSendThread& thread) { return !IsParked(thread.State->Park); })) WaitAWhile();
  // The lock one of them holds is taken over by the detachment's pass through it. The threads go
  // on alone, each keeping the module loaded until it ends.
  std::vector<TSendThread> released;  // freed outside the list's lock
  {
    std::lock_guard<TEmberWorkLock> guard(gSendThreadsLock);
    for (TSendThread& thread : SendThreads()) {
      if (!SendThreadOver(thread)) EmberLibrary().LibraryLock.GiveUpHolder(thread.State->ThreadID.load());
      ember_report::ReleaseLibraryThread(std::exchange(thread.Handle, 0));
    }
    released.swap(SendThreads());
  }
  WaitForOtherWaits(deadline);
}

void OpenSendThreads() {
  std::lock_guard<TEmberWorkLock> guard(gSendThreadsLock);
  gSendThreadsClosed = false;
}

// --- Kept zips

std::string KeepZipFile(const std::string& zipFile, const std::string& folder, const std::string& name,
                        const std::string& stamp, int32_t limit) {
  ember_report::EnsureFolder(folder);
  size_t dot = name.rfind('.');
  std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
  std::string target = JoinPath(folder, name);
  for (int32_t n = 1; FileExistsText(target); ++n) {
    std::string unique = stem + "__" + stamp;
    if (n > 1) unique.append(1, '_').append(std::to_string(n));
    target = JoinPath(folder, unique + extension);
  }
  if (!ember_report::MoveReportFile(zipFile, target)) return std::string();
  size_t decoration = stem.find("__");
  std::string prefix = UpperCase(decoration == std::string::npos ? stem : stem.substr(0, decoration));
  std::vector<std::string> kept;
  for (const std::string& file : ember_report::FolderFileNames(folder)) {
    std::string upper = UpperCase(file);
    if (upper.size() > 4 && upper.compare(0, prefix.size(), prefix) == 0 && upper.compare(upper.size() - 4, 4, ".ZIP") == 0)
      kept.push_back(file);
  }
  std::sort(kept.begin(), kept.end());
  for (size_t i = 0; limit >= 0 && kept.size() > static_cast<size_t>(limit) + i; ++i) ember_report::DeleteReportFile(JoinPath(folder, kept[i]));
  return target;
}
