// Processing one exception: the options that apply, the exception filters, the call stacks of
// the faulting and the other threads, the exception's identifier, the report text, the events,
// the dialog or the console or web output (through the hooks of EReportOutput.h), the
// screenshot, the log, the send, the error-rate rule and the decision to end the program; and
// the start-up that joins the report side to the capture side of the library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TEmberNotifyArgs;
class TEmberStackList;

// Processes one exception (installed as the capture side's processing procedure). Runs under
// the library lock on the worker thread or inline; answers 1 when the runtime is to go on with
// its own handling, 0 when the exception was dealt with. An exception escaping a step is
// reported by the library's internal-error report naming the step. An exception raised on the
// thread of a background send under way is processed inside that send: what the send works from
// is put aside meanwhile and put back afterwards, the exception's own report is sent at once,
// and an end of the program it asks for is acted on when the send is done.
uint8_t ProcessException(const TEmberNotifyArgs& args);

// True when a send is to happen: the options name a send method, the user did not cancel it,
// and either the dialog asked for it or no dialog is configured.
bool ShouldSend();

// The error-rate rule: deletes the screenshot file; when ErrorRateAction is set and the recent
// errors fill ErrorRateCount within ErrorRateMinutes, the options' TerminateAction becomes the
// rule's action.
void CheckErrorsRate();
// Frees the call stack of the last report.
void FreeCallStack();
// The call stack of the report being processed (nullptr when none).
TEmberStackList* CurrentCallStack();
// Ends the program (restarting it with TerminateAction 2) when the processing asked for it: a
// filter's action, the error-rate rule or the user's restart choice. Called by a background send
// when it is done, it also ends the program when an exception processed inside that send asked.
void TerminateApplicationIfAsked();

// The times of the recent exceptions (text with "." as decimal separator, oldest first), kept
// at most ErrorRateCount long while the error-rate rule is on.
std::vector<std::string>& RecentErrors();

// The exception's identifier: the CRC-16 of the application's and the module's version texts,
// the exception's type name and, for every entry with a source line on the first entry's
// thread, its unit, class, procedure and line offset, as four upper-case hexadecimal digits.
std::string ComputeExceptionID(const std::string& applicationVersion, const std::string& moduleVersion,
                               const std::string& typeName, const TEmberStackList* callStack);

// Holds the library attached to this module for one user (a plug-in instance). The first
// holder attaches it: the report side's modules list, its reader of module data and this
// processing are joined to the capture side, which then attaches (StartExceptionLog), and the
// module's work starts (SetReportingModuleWork). The last StopExceptionReporting stops that work,
// detaches everything again, puts back what was changed in the process (the socket library a
// report started is cleaned up) and frees what the report side keeps. Safe from any thread, and
// from a thread killed anywhere inside: the locks held across the work (its own, and the library
// lock while the library attaches or detaches) go to their next holder when their thread ends
// holding them, and a thread that ends inside an attachment or a close leaves it to the next open
// or close, or to the next exception's processing, which finish or undo it; the lock's next holder
// does that first when the thread ended holding it, before anything is processed with the library
// half attached or detached. An open during the last close, until that close holds the library
// lock, counts itself at once and the library stays attached; past that point (the detachment) it
// waits for the close's end, at most EmberSendWaitLimitMs, answering what is sent to its thread's
// windows, and then counts itself (the library is up again at the close's end). An open raises
// when the attachment fails (nothing is counted then). Never under the loader lock.
void StartExceptionReporting();
void StopExceptionReporting();
// Work of the module that lives while the library is attached for its users: `start` runs once
// the library is attached (by the first StartExceptionReporting), under the library lock, before
// it processes any exception: the module's options are there to be set (CurrentEmberLogOptions,
// answered at once meanwhile on every thread, also on threads it waits for and in DLL and TLS
// callbacks), every exception the library processes finds what it installed, and one raised on
// another thread meanwhile waits for its end; `stop` runs before the library detaches (by the last
// StopExceptionReporting, under the library lock), each on the thread doing that. What either
// raises on that thread is not processed. Both must be safe to run again: the work of a thread
// killed inside is done again by the one that takes it over (`stop`, then `start` when users hold
// the library). A `start` that raises fails the open that attaches: `stop` runs and the library
// detaches before the lock goes, so that the exceptions that waited for it are not processed
// (nothing is left to process them with). Set before the first StartExceptionReporting.
void SetReportingModuleWork(void (*start)(), void (*stop)());
