// How the kestrum utility reports a failure on standard error: a first line with the code and its
// text, then, when it says more, a line with the reason (the library's message or the utility's).
#ifndef KESTRUM_REPORT_H
#define KESTRUM_REPORT_H

#include <string>

// The operating system's error number as the result of a failed file or stream operation. A
// failure never becomes 0: without an error number it is reported as a file I/O error.
long OsError(int error);

// The system's text for an error number a file operation of the utility returned.
std::string SystemReason(long code);

// The error report. `fromLibrary`: the code comes from the call into the library just made, so the
// library's last error message belongs to it; `reason` is the utility's own, or what to put before
// the library's ("FILE: "). `first`, when not null, is a line that comes before the reason.
void ReportError(long code, bool fromLibrary, const std::string& reason = std::string(),
                 const char* first = nullptr);

// The store the command works on ("" or null: the current directory), named in the set-up command
// that a report suggests when the library says the store must be set up.
void ReportStore(const char* path);

// A library call's result; a failure gets the error report.
long Check(long result);

#endif
