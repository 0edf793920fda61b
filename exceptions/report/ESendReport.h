// The report sending pipeline: the attachments packed into "BugReport.zip", the report sent by
// e-mail and then by web with retries, the action and error events around each method, the
// outcome shown to the user, and the zip of a failed send kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exceptions/capture/ExceptionLog.h"


// The most zips of failed sends kept beside the log.
constexpr int32_t EmberKeptZipLimit = 10;

// Entry from the processing (the StartSend hook of EReportOutput.h): without `background` sends
// at once; with it replaces the current record's exception object, system exception record and
// context by copies of the send's own (CopyObject for the object) and sends on a thread of its
// own, at the highest-but-one priority, an heir of the library lock (ExceptionLog.h) that takes
// the lock and afterwards applies the error-rate rule, frees the report's call stack, ends the
// application when that was asked (EExceptionProcessing.h) and frees the copies. The thread keeps
// the module loaded while it runs (StartLibraryThread), and may be given up where it waits
// (TEmberPark). What the send's own code raises or catches is the library's own failure
// (LibraryWork), never processed into a send of its own. Threads of earlier sends that have ended
// are released here. While the library
// detaches (CloseSendThreads), or when no thread can be started, a background send is done at
// once instead. Answers true when the send goes on on its thread; false when it was done here,
// and the processing then takes those steps itself, after it has recorded the user's and the
// filters' choice to end the application. Nothing raises out of it.
bool StartSendThread(bool background);
// True while a background send has not finished.
bool IsSendThreadRunning();
// True while the background send of the thread `threadID` holds the library lock: an exception
// raised on that thread (a handler of the send's events hands over what it caught) is then
// processed inside the send, and its own report is sent at once, not by another thread.
bool IsSendUnderWayOn(uint32_t threadID);
// The working state of the send under way: its attachment list, custom web fields and whether a
// tracker has shown its own box. Swapped with `work`: the processing of an exception raised
// inside the send takes it out, with an empty one, and puts it back when it is done.
// How far a send has come: the runtime may end its thread in a handler of the program, and the
// send then goes on from there (without the program's handlers), never sending a method twice.
struct TEmberSendStage {
  bool FilesWritten = false;
  int8_t Email = -1, Web = -1;  // the last attempt's success (0, 1); -1: not tried yet
  bool EmailEnded = false, WebEnded = false;
  bool Ended = false;           // the outcome was shown and the files deleted
  bool Result = true;
};
struct TEmberSendWork {
  std::vector<std::string> Attachments, CustomFields;
  bool TrackerShownBox = false;
  TEmberSendStage Stage;
};
void ExchangeSendWork(TEmberSendWork& work);
// Waits until every background send thread has ended (also one killed). The wait is bounded
// by the sends' own time-outs (30 s for each SMTP reply and for the mail-exchanger lookup, the
// connection time-outs of the web methods), not by their handlers. Never under the library lock
// (the send takes it) nor the loader lock.
void JoinSendThreads();
// Installs (false: removes) what every path of the library that ends the process runs first
// (SetBeforeProcessEnd, ExceptionLog.h): no send thread starts any more, and every other one ends
// before the process does, also when the ending thread holds the library lock or is a send
// thread itself, waited for EmberSendWaitLimitMs in all. Also installs the send's part of the
// library lock's take-over and the judge that lets an entry give up a send it waited
// EmberSendWaitLimitMs for. A thread with windows answers what is sent to them while it waits
// here and in JoinSendThreads.
void InstallSendsBeforeProcessEnd(bool install);
// Before the library detaches: no send thread is started any more (an exception processed
// meanwhile sends at once, under the library lock that the detachment waits for), and those
// running are waited for EmberSendWaitLimitMs in all; those still going then are given up where
// they wait (and the lock one of them holds is taken over), so no send runs against freed state,
// and none runs the module's code once it is unloaded. The sends stay listed while it waits: a
// closing thread killed there leaves them to the next close. `OpenSendThreads` allows them again
// when the library attaches.
void CloseSendThreads();
void OpenSendThreads();

// Sends the report by the configured methods (options in force: DialogOptions(); report:
// ReportPieces().LastReportText). A failure of one method does not stop the other; each failure
// is the library's last error; with SendOptions bit 0x02 the outcome is shown (the failure with
// its reason), with BehaviourOptions bit 0x10 a failed report goes to the clipboard and with
// bit 0x20 its zip is kept beside the log (at most 10 such zips). The temporary files are
// deleted in every case. Answers whether every method succeeded.
bool SendBugReport();
// One method each, run again while an error handler asks for it.
bool SendEmailReport();
bool SendWebReport();
// Builds the attachment list for e-mail or web, lets the handlers change it, drops missing
// files and packs the rest into the zip, which becomes the list's only entry. Raises when the
// zip cannot be written.
void PrepareAttachments(bool forEmail);
// The current attachment list (the zip after PrepareAttachments) and custom web fields.
const std::vector<std::string>& SendAttachments();
const std::vector<std::string>& SendCustomWebFields();

// --- Kept zips (portable; tested on their own)

// Moves `zipFile` into `folder` under `name`, or, when a file of that name is there, under the
// name with "__" and `stamp` (then "_2", "_3"...) before ".zip"; then keeps at most `limit`
// files of the folder whose names start with the base of `name` and end in ".zip", deleting the
// first by name. Answers the kept file's name (empty when it could not be moved).
std::string KeepZipFile(const std::string& zipFile, const std::string& folder, const std::string& name,
                        const std::string& stamp, int32_t limit);
